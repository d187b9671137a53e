// Pins by name and the moves that start and play a note.
#include "tools/validate/TarnPins.h"

#include "tools/validate/Scenario.h"

#include <algorithm>
#include <cmath>

namespace {

int32_t findRequired(ScenarioContext &context, const HostedInstance &instance, const char *name,
                     bool &ok) {
    const int32_t pin = instance.findPin(name);
    if (pin < 0) {
        context.checker().fail("pin-missing", "the module has no pin named \"%s\"", name);
        ok = false;
    }
    return pin;
}

} // namespace

TarnPins::TarnPins(ScenarioContext &context, const HostedInstance &instance) : ok(true) {
    fc = findRequired(context, instance, "fc", ok);
    fm1 = findRequired(context, instance, "fm1", ok);
    N = findRequired(context, instance, "N", ok);
    a = findRequired(context, instance, "a", ok);
    gate = findRequired(context, instance, "gate", ok);
    detune = findRequired(context, instance, "detune", ok);
    sync = findRequired(context, instance, "sync", ok);
    mode = findRequired(context, instance, "Mode", ok);
    combfreq = findRequired(context, instance, "combfreq", ok);
    combphase = findRequired(context, instance, "combphase", ok);
    cyclic = findRequired(context, instance, "cyclic", ok);
    hq = findRequired(context, instance, "hq", ok);
    poly = findRequired(context, instance, "poly", ok);
    alternate = findRequired(context, instance, "alternate", ok);
    outputl = findRequired(context, instance, "outputl", ok);
    outputr = findRequired(context, instance, "outputr", ok);
}

std::vector<int32_t> TarnPins::audioInputs() const {
    return {fc, fm1, N, a, gate, detune, sync, combfreq, combphase};
}

std::vector<int32_t> TarnPins::listSettings() const {
    return {mode, cyclic, hq, poly, alternate};
}

void setNominalInputs(HostedInstance &instance, const TarnPins &pins, int32_t index) {
    instance.setInput(pins.fc, index, 0.5f);
    instance.setInput(pins.fm1, index, 0.1f);
    instance.setInput(pins.N, index, 2.0f);
    instance.setInput(pins.a, index, 0.05f);
    instance.setInput(pins.detune, index, 0.0f);
    instance.setInput(pins.combfreq, index, 0.0f);
    instance.setInput(pins.combphase, index, 0.0f);
    instance.setInput(pins.gate, index, 1.0f);
}

void startNote(HostedInstance &instance, const TarnPins &pins, int32_t index) {
    instance.setInput(pins.gate, index, 1.0f);
    instance.setInput(pins.sync, index, 1.0f);
}

void renderCollect(Host &host, const HostedInstance &instance, int32_t pin, int32_t samples,
                   std::vector<float> &out) {
    while (samples > 0) {
        const int32_t position = host.position();
        const int32_t count = std::min(samples, host.blockSize() - position);
        host.process(position, count);
        if (const float *buffer = instance.output(pin)) {
            out.insert(out.end(), buffer + position, buffer + position + count);
        }
        samples -= count;
    }
}

float fcForPitch(double hz) {
    return static_cast<float>((std::log2(hz / 440.0) + 5.0) / 10.0);
}

double meanSquare(const float *x, size_t count) {
    double sum = 0.0;
    for (size_t i = 0; i < count; ++i) {
        sum += double(x[i]) * double(x[i]);
    }
    return count ? sum / double(count) : 0.0;
}
