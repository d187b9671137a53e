// A scenario's random stream: reproducible from its printed seed alone, distinct per scenario
// and per seed, and within the bounds each draw promises; run lengths chosen by the option.
#include "tools/validate/Scenario.h"

#include <gtest/gtest.h>

#include <set>
#include <vector>

namespace {

std::vector<int64_t> draws(const char *name, uint64_t seed, int length = LENGTH_CI) {
    RunFigures figures{};
    ScenarioOptions options;
    options.seed = seed;
    options.length = length;
    ScenarioContext context(name, options, figures);
    std::vector<int64_t> out;
    for (int i = 0; i < 64; ++i) {
        out.push_back(context.uniform(INT64_MIN, INT64_MAX));
        out.push_back(static_cast<int64_t>(context.unit() * 1e18));
    }
    return out;
}

TEST(ScenarioContext, TheSameNameAndSeedGiveTheSameStream) {
    EXPECT_EQ(draws("voices", 1), draws("voices", 1));
    EXPECT_EQ(draws("blocks", 0x123456789abcdefull), draws("blocks", 0x123456789abcdefull));
    // The run length scales what a scenario does, not the stream it draws from.
    EXPECT_EQ(draws("voices", 9, LENGTH_QUICK), draws("voices", 9, LENGTH_LONG));
}

TEST(ScenarioContext, ScenariosAndSeedsDrawDifferentStreams) {
    std::set<std::vector<int64_t>> streams;
    for (const char *name : {"voices", "blocks", "cycles", "voice", "sevoic"}) {
        for (uint64_t seed : {0ull, 1ull, 2ull, 1ull << 63}) {
            streams.insert(draws(name, seed));
        }
    }
    EXPECT_EQ(streams.size(), 20u);
}

TEST(ScenarioContext, DrawsStayWithinTheirBoundsAndReachBothEnds) {
    RunFigures figures{};
    ScenarioContext context("bounds", ScenarioOptions{}, figures);
    bool low = false, high = false;
    double smallest = 1.0, largest = 0.0;
    for (int i = 0; i < 4000; ++i) {
        const int64_t n = context.uniform(-3, 2);
        ASSERT_GE(n, -3);
        ASSERT_LE(n, 2);
        low = low || n == -3;
        high = high || n == 2;
        const double u = context.unit();
        ASSERT_GE(u, 0.0);
        ASSERT_LT(u, 1.0);
        smallest = std::min(smallest, u);
        largest = std::max(largest, u);
    }
    EXPECT_TRUE(low && high);
    EXPECT_LT(smallest, 0.01);
    EXPECT_GT(largest, 0.99);
    EXPECT_EQ(context.uniform(7, 7), 7);
}

TEST(ScenarioContext, PicksTheLengthOfTheRun) {
    RunFigures figures{};
    for (int length : {LENGTH_QUICK, LENGTH_CI, LENGTH_LONG}) {
        ScenarioOptions options;
        options.length = length;
        ScenarioContext context("pick", options, figures);
        EXPECT_EQ(context.pick(10, 20, 30), 10 * (length + 1));
    }
}

} // namespace
