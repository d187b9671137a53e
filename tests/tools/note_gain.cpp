// The stepped envelope of the LV2 instrument against tarn-render's envelope of a whole note:
// the same gain at every sample, bit for bit, through attack, hold, release and silence, for
// notes cut before their attack ends and for a stolen voice's start level.
#include "envelope/note_gain.h"
#include "tools/envelope.h"

#include <gtest/gtest.h>

namespace {

TEST(NoteGain, StepsTheGainsOfTheWholeNoteEnvelope) {
    struct Case {
        int64_t attack, length, release;
        float peak, startLevel;
    };
    const Case cases[] = {
        {240, 4800, 2400, 0.8f, 0.0f}, {0, 100, 50, 1.0f, 0.0f},  {500, 200, 300, 0.5f, 0.25f},
        {1, 1, 1, 1.0f, 0.9f},         {64, 1000, 0, 0.3f, 0.0f},
    };
    for (const Case &c : cases) {
        tarn::render::NoteEnvelope e;
        e.on = 1000;
        e.off = e.on + c.length;
        e.attack = c.attack;
        e.release = c.release;
        e.peak = c.peak;
        e.startLevel = c.startLevel;
        tarn::NoteGain gain;
        gain.start(c.startLevel, c.peak, c.attack);
        for (int64_t t = e.on; t < e.off + c.release + 10; ++t) {
            if (t == e.off)
                gain.release(c.release);
            const float stepped = gain.next();
            // Without a release tarn-render's gain holds, but the gate closes at the note's end.
            const float whole =
                c.release == 0 && t >= e.off ? 0.0f : tarn::render::envelopeLevel(e, t);
            ASSERT_EQ(stepped, whole) << "attack " << c.attack << ", sample " << t - e.on;
        }
        EXPECT_TRUE(gain.finished());
    }
}

} // namespace
