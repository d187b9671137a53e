// The host-side amplifier after each instance: a linear attack from the level the instance
// had to the note's velocity gain, a hold, and a linear release to silence after the note's
// length, at whose end the gate closes. Without an attack or release the gain is the
// velocity's alone, and a velocity of 1 leaves the module's output exactly as it is.
#pragma once

#include "tools/render/model/pin_timeline.h"

#include <cstdint>

namespace tarn::render {

// One note's envelope, in samples of the render.
struct NoteEnvelope {
    int64_t on = 0;          // first sample
    int64_t off = 0;         // end of the note's length; the release starts here, > on
    int64_t attack = 0;      // samples of the rise, >= 0
    int64_t release = 0;     // samples of the fall, >= 0
    float peak = 1.0f;       // velocity gain, 0 to 1
    float startLevel = 0.0f; // gain at the sample before `on` (a stolen instance's level)
};

// The gain at sample t >= on: the attack reaches `peak` at on + attack - 1, the release
// reaches 0 at off + release - 1 from the level at off - 1, and stays at 0 from then on;
// without a release it holds `peak` (or the attack's level) after off.
float envelopeLevel(const NoteEnvelope &e, int64_t t);

// Appends the gain over samples e.on .. end - 1 to `gain`, which must end at e.on: end is
// where the instance's next note starts, or the end of the render.
void appendEnvelope(PinTimeline &gain, const NoteEnvelope &e, int64_t end);

} // namespace tarn::render
