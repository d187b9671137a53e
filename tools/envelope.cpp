// Piecewise linear, so the gain is a PinTimeline of at most four segments per note: attack,
// hold, release, silence. Each segment's ends are taken from envelopeLevel, so a note cut
// short (by its length or by a steal) ends its ramp where the cut falls.
#include "tools/envelope.h"

#include <algorithm>

namespace tarn::render {

float envelopeLevel(const NoteEnvelope &e, int64_t t) {
    const int64_t lastHeld = e.off - 1;
    auto held = [&](int64_t s) {
        if (s - e.on < e.attack)
            return e.startLevel + (e.peak - e.startLevel) * static_cast<float>(s - e.on + 1) /
                                      static_cast<float>(e.attack);
        return e.peak;
    };
    if (t <= lastHeld || e.release == 0)
        return held(std::min(t, lastHeld));
    const int64_t into = t - lastHeld;
    if (into >= e.release)
        return 0.0f;
    return held(lastHeld) * static_cast<float>(e.release - into) / static_cast<float>(e.release);
}

void appendEnvelope(PinTimeline &gain, const NoteEnvelope &e, int64_t end) {
    const int64_t cuts[] = {std::min(e.on + e.attack, e.off), e.off, e.off + e.release, end};
    int64_t from = e.on;
    for (int64_t cut : cuts) {
        const int64_t to = std::min(cut, end);
        if (to > from) {
            gain.append(to - from, envelopeLevel(e, from), envelopeLevel(e, to - 1));
            from = to;
        }
    }
}

} // namespace tarn::render
