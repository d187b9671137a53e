// The stepped envelope of the LV2 instrument against tarn-render's envelope of a whole note:
// the same gain at every sample through attack, hold, release and silence, for notes cut
// before their attack ends and for a stolen voice's start level. Bit for bit where floats are
// evaluated in their own precision; on x87 (the i386 tree) GCC keeps the formula's
// intermediates at extended precision where its registers allow, so two call sites of it may
// round apart by one float step.
#include "envelope/note_gain.h"
#include "tools/render/model/envelope.h"

#include <gtest/gtest.h>

#include <cmath>

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
#if __FLT_EVAL_METHOD__ == 0
            ASSERT_EQ(stepped, whole) << "attack " << c.attack << ", sample " << t - e.on;
#else
            ASSERT_LE(std::fabs(stepped - whole), std::nextafter(whole, 2.0f) - whole)
                << "attack " << c.attack << ", sample " << t - e.on;
#endif
        }
        EXPECT_TRUE(gain.finished());
    }
}

} // namespace
