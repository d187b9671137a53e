// The block loop of a render. Inputs of a block are written before it is processed (the host
// queues their status events at their samples); a note's "Mode" and "hq" are list members
// that the host writes "now", so the block is processed up to that note's sample first.
#include "tools/render/render_driver.h"

#include "host/Host.h"
#include "se_sdk2/se_protocol.h"
#include "tools/render/errors.h"

#include <algorithm>
#include <array>
#include <string>
#include <vector>

namespace tarn::render {

namespace {

// Inputs in the order their changes are queued at one sample: the note's values first, then
// "gate", then "sync", whose rise starts the note.
constexpr int INPUT_ORDER[SCORE_INPUT_COUNT] = {INPUT_FC,
                                                INPUT_FIRST_CONTROL + CONTROL_FM1,
                                                INPUT_FIRST_CONTROL + CONTROL_N,
                                                INPUT_FIRST_CONTROL + CONTROL_A,
                                                INPUT_FIRST_CONTROL + CONTROL_DETUNE,
                                                INPUT_FIRST_CONTROL + CONTROL_COMBFREQ,
                                                INPUT_FIRST_CONTROL + CONTROL_COMBPHASE,
                                                INPUT_GATE,
                                                INPUT_SYNC};

struct PinNumbers {
    std::array<int32_t, SCORE_INPUT_COUNT> inputs;
    std::array<int32_t, LIST_SETTING_COUNT> settings;
    int32_t outputl;
    int32_t outputr;
};

int32_t requirePin(const HostedInstance &instance, const char *name, int32_t direction,
                   int32_t datatype) {
    int32_t number = instance.findPin(name);
    if (number < 0)
        throw PluginError(std::string("the plug-in has no pin \"") + name + "\"");
    const HostPin *pin = instance.pin(number);
    if (pin->properties.direction != direction || pin->properties.datatype != datatype)
        throw PluginError(std::string("the plug-in's pin \"") + name + "\" is not " +
                          (datatype == DT_ENUM  ? "a list input"
                           : direction == DR_IN ? "an audio input"
                                                : "an audio output"));
    return number;
}

PinNumbers findPins(const HostedInstance &instance, const Patch &patch) {
    PinNumbers pins{};
    for (int i = 0; i < SCORE_INPUT_COUNT; ++i)
        pins.inputs[i] = requirePin(instance, SCORE_INPUT_NAMES[i], DR_IN, DT_FSAMPLE);
    pins.outputl = requirePin(instance, "outputl", DR_OUT, DT_FSAMPLE);
    pins.outputr = requirePin(instance, "outputr", DR_OUT, DT_FSAMPLE);
    for (int s = 0; s < LIST_SETTING_COUNT; ++s) {
        const char *name = LIST_SETTINGS[s].name;
        pins.settings[s] = requirePin(instance, name, DR_IN, DT_ENUM);
        const char *list = instance.pin(pins.settings[s])->properties.datatype_extra;
        // Notes carry their own "Mode" and "hq"; every value played must be in the list.
        std::vector<int16_t> used = {patch.settings[s]};
        for (const PatchNote &note : patch.notes) {
            if (s == SETTING_MODE)
                used.push_back(note.mode);
            if (s == SETTING_HQ)
                used.push_back(note.hq);
        }
        for (int16_t value : used)
            if (!list || !findListValue(list, int64_t{value}))
                throw PluginError(std::string("the plug-in's \"") + name + "\" list (" +
                                  (list ? list : "none") + ") has no value " +
                                  std::to_string(value));
    }
    return pins;
}

// Writes one input's values for block samples blockStart .. blockStart + count - 1, announcing
// each change at its sample: a ramp as running, a new constant as a single change.
void writeInput(HostedInstance &instance, int32_t pin, const PinTimeline &timeline,
                int64_t blockStart, int32_t count, std::vector<float> &scratch) {
    const auto &segments = timeline.segments();
    const int64_t blockEnd = blockStart + count;
    for (size_t i = timeline.segmentAt(blockStart); i < segments.size(); ++i) {
        const PinSegment &s = segments[i];
        if (s.start >= blockEnd)
            break;
        int64_t from = std::max(s.start, blockStart);
        int64_t to = std::min(s.start + s.length, blockEnd);
        int32_t index = static_cast<int32_t>(from - blockStart);
        if (PinTimeline::isRamp(s)) {
            int32_t n = static_cast<int32_t>(to - from);
            scratch.resize(static_cast<size_t>(n));
            timeline.fill(from, n, scratch.data());
            instance.fillInput(pin, index, scratch.data(), n);
        } else if (s.start >= blockStart && timeline.announces(i)) {
            instance.setInput(pin, index, s.from);
        }
    }
}

struct ListChange {
    int64_t sample;
    HostedInstance *instance;
    int32_t pin;
    int16_t value;
};

} // namespace

void renderPatch(const PluginLibrary &library, const Patch &patch, const Schedule &schedule,
                 const BlockSink &sink, const ProgressSink &progress) {
    Host host(library, static_cast<float>(patch.sampleRate), patch.blockSize);
    std::vector<HostedInstance *> instances;
    for (int32_t v = 0; v < patch.voices; ++v) {
        HostedInstance *instance = host.addInstance();
        if (!instance)
            throw PluginError("the plug-in created no module instance (makeModule answered null)");
        instance->setRecording(false);
        instances.push_back(instance);
    }
    const PinNumbers pins = findPins(*instances[0], patch);
    for (HostedInstance *instance : instances)
        for (int s = 0; s < LIST_SETTING_COUNT; ++s)
            instance->setList(pins.settings[s], patch.settings[s]);

    std::vector<float> left(static_cast<size_t>(patch.blockSize));
    std::vector<float> right(static_cast<size_t>(patch.blockSize));
    std::vector<float> gain(static_cast<size_t>(patch.blockSize));
    std::vector<float> scratch;
    std::vector<ListChange> listChanges;
    for (int64_t blockStart = 0; blockStart < schedule.totalSamples;
         blockStart += patch.blockSize) {
        const int32_t count = static_cast<int32_t>(
            std::min<int64_t>(patch.blockSize, schedule.totalSamples - blockStart));
        listChanges.clear();
        for (size_t v = 0; v < instances.size(); ++v) {
            const InstanceSchedule &plan = schedule.instances[v];
            for (int input : INPUT_ORDER)
                writeInput(*instances[v], pins.inputs[input], plan.inputs[input], blockStart, count,
                           scratch);
            for (const ScheduledNote &s : plan.notes) {
                if (s.onSample < blockStart || s.onSample >= blockStart + count)
                    continue;
                const PatchNote &note = patch.notes[s.note];
                listChanges.push_back(
                    {s.onSample, instances[v], pins.settings[SETTING_MODE], note.mode});
                listChanges.push_back(
                    {s.onSample, instances[v], pins.settings[SETTING_HQ], note.hq});
            }
        }
        std::stable_sort(
            listChanges.begin(), listChanges.end(),
            [](const ListChange &x, const ListChange &y) { return x.sample < y.sample; });
        int32_t position = 0;
        for (const ListChange &change : listChanges) {
            int32_t at = static_cast<int32_t>(change.sample - blockStart);
            if (change.instance->pin(change.pin)->list_value == change.value)
                continue;
            host.process(position, at - position);
            position = at;
            change.instance->setList(change.pin, change.value);
        }
        host.process(position, count - position);

        std::fill(left.begin(), left.end(), 0.0f);
        std::fill(right.begin(), right.end(), 0.0f);
        for (size_t v = 0; v < instances.size(); ++v) {
            const float *l = instances[v]->output(pins.outputl);
            const float *r = instances[v]->output(pins.outputr);
            schedule.instances[v].gain.fill(blockStart, count, gain.data());
            for (int32_t i = 0; i < count; ++i) {
                const size_t k = static_cast<size_t>(i);
                left[k] += gain[k] * l[i];
                right[k] += gain[k] * r[i];
            }
        }
        sink(left.data(), right.data(), count);
        if (progress)
            progress(static_cast<double>(blockStart + count) /
                     static_cast<double>(schedule.totalSamples));
    }
}

void renderMix(const PluginLibrary &library, const Patch &patch, const Schedule &schedule,
               float scale, const BlockSink &sink, const ProgressSink &progress) {
    std::vector<float> left;
    std::vector<float> right;
    renderPatch(
        library, patch, schedule,
        [&](const float *l, const float *r, int32_t count) {
            left.assign(l, l + count);
            right.assign(r, r + count);
            for (size_t i = 0; i < left.size(); ++i) {
                left[i] *= scale;
                right[i] *= scale;
            }
            sink(left.data(), right.data(), count);
        },
        progress);
}

} // namespace tarn::render
