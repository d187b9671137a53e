// Pin timelines: block fills against a sample-by-sample evaluation of the segment list, ramp
// end points, and the stream-status changes a host announces for them.
#include "tools/render/model/pin_timeline.h"

#include <gtest/gtest.h>
#include <random>

using namespace tarn::render;

namespace {

// The value at t straight from the definition: the covering segment, linear between its first
// and last sample.
float reference(const std::vector<PinSegment> &segments, int64_t t) {
    for (const PinSegment &s : segments)
        if (t >= s.start && t < s.start + s.length)
            return s.length == 1
                       ? s.from
                       : static_cast<float>(s.from + (double(s.to) - s.from) * double(t - s.start) /
                                                         double(s.length - 1));
    return 0.0f;
}

TEST(PinTimeline, BlockFillsMatchTheSegmentDefinitionAcrossSegmentBoundaries) {
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> length(1, 40);
    std::uniform_real_distribution<float> value(-1.0f, 1.0f);
    PinTimeline timeline;
    for (int i = 0; i < 60; ++i) {
        float from = value(rng);
        timeline.append(length(rng), from, (i % 3 == 0) ? from : value(rng));
    }
    std::uniform_int_distribution<int64_t> start(-10, timeline.length() + 10);
    std::uniform_int_distribution<int> count(0, 100);
    std::vector<float> block(100);
    for (int trial = 0; trial < 300; ++trial) {
        int64_t t0 = start(rng);
        int n = count(rng);
        timeline.fill(t0, n, block.data());
        for (int i = 0; i < n; ++i) {
            float expected = reference(timeline.segments(), t0 + i);
            ASSERT_EQ(block[i], expected) << "t=" << t0 + i;
            ASSERT_EQ(timeline.valueAt(t0 + i), expected) << "t=" << t0 + i;
        }
    }
}

TEST(PinTimeline, RampsHitBothEndValuesExactly) {
    PinTimeline timeline;
    timeline.append(5, 0.0f, 0.0f);
    timeline.append(11, 0.1f, 0.3f);
    EXPECT_EQ(timeline.valueAt(5), 0.1f);
    EXPECT_EQ(timeline.valueAt(15), 0.3f);
    EXPECT_NEAR(timeline.valueAt(10), 0.2f, 1e-7);
    EXPECT_EQ(timeline.valueAt(16), 0.0f);
    EXPECT_EQ(timeline.valueAt(-1), 0.0f);
}

TEST(PinTimeline, AnnouncesStepsAndRampsButNotRepeatedValues) {
    PinTimeline timeline;
    timeline.append(10, 0.0f, 0.0f); // the default: nothing to announce
    timeline.append(10, 1.0f, 1.0f); // step: single change at 10
    timeline.append(10, 1.0f, 1.0f); // same value: nothing
    timeline.append(10, 1.0f, 0.5f); // ramp: running at 30
    timeline.append(10, 0.5f, 0.5f); // ramp ends: single change at 40
    timeline.append(1, 0.2f, 0.7f);  // one sample is no ramp: a step at 50
    auto changes = timeline.changes();
    ASSERT_EQ(changes.size(), 4u);
    const std::pair<int64_t, bool> expected[] = {{10, false}, {30, true}, {40, false}, {50, false}};
    for (size_t i = 0; i < changes.size(); ++i) {
        EXPECT_EQ(changes[i].sample, expected[i].first) << i;
        EXPECT_EQ(changes[i].running, expected[i].second) << i;
    }
}

} // namespace
