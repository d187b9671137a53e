// Piecewise linear, so the gain is a PinTimeline of at most four segments per note: attack,
// hold, release, silence. Each segment's ends are taken from envelopeLevel, so a note cut
// short (by its length or by a steal) ends its ramp where the cut falls.
#include "tools/render/model/envelope.h"

#include "envelope/note_gain.h"

#include <algorithm>

namespace tarn::render {

float envelopeLevel(const NoteEnvelope &e, int64_t t) {
    const int64_t lastHeld = e.off - 1;
    auto held = [&](int64_t s) { return attackGain(e.startLevel, e.peak, e.attack, s - e.on); };
    if (t <= lastHeld || e.release == 0)
        return held(std::min(t, lastHeld));
    return releaseGain(held(lastHeld), e.release, t - lastHeld);
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
