// The oscillator's pins as the validator finds them, by name, on a hosted instance, and the
// few moves every scenario makes with them: nominal inputs, a note, rendering while keeping
// one output.
#pragma once

#include "host/Host.h"

#include <cstdint>
#include <vector>

class ScenarioContext;

struct TarnPins {
    int32_t fc, fm1, N, a, gate, detune, sync, mode, combfreq, combphase, cyclic, hq, poly,
        alternate, outputl, outputr;

    // Finds every pin by name; a missing one is a failed check and `ok` false.
    TarnPins(ScenarioContext &context, const HostedInstance &instance);
    bool ok;

    // The audio inputs, in pin order.
    std::vector<int32_t> audioInputs() const;
    // The list settings, in pin order.
    std::vector<int32_t> listSettings() const;
};

// A sounding patch: 440 Hz, harmonic spacing, 20 partials, ratio 0.5, no comb, gate open.
// Applied at buffer element `index` of the current block.
void setNominalInputs(HostedInstance &instance, const TarnPins &pins, int32_t index);
// A note at buffer element `index`: gate open there and a "sync" status change above 0.1.
void startNote(HostedInstance &instance, const TarnPins &pins, int32_t index);
// Renders `samples` samples in whole blocks from the host's position on, appending pin
// `pin`'s output to `out`.
void renderCollect(Host &host, const HostedInstance &instance, int32_t pin, int32_t samples,
                   std::vector<float> &out);
// The "fc" value of a pitch in Hz: 440 * 2^(10 fc - 5) = hz.
float fcForPitch(double hz);
// Sum of squares of `count` samples from `x`, over count; 0 for none.
double meanSquare(const float *x, size_t count);
