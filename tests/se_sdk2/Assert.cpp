// The assertion facility: the default handler reaches the platform's (the process ends with
// its message), and a replaced handler sees the expression, fixed source name and line.
#include "se_sdk2/se_assert.h"

#include "se_sdk2/SEModule_base.h"
#include "support/AssertRecorder.h"
#include "support/ProbeModule.h"

#include <gtest/gtest.h>

TEST(Assert, DefaultHandlerEndsTheProcessThroughThePlatformFacility) {
    ProbeModule module(nullptr);
    EXPECT_DEATH(module.getPin(0), "se_sdk2/SEModule_base:[0-9]+: Assertion `m_pins != 0' failed");
    EXPECT_DEATH(module.dispatcher(7, 0, 0, nullptr, 0.0f),
                 "se_sdk2/SEModule_base:[0-9]+: Assertion `false' failed");
}

TEST(Assert, ReportsAreRecordedWhileAHandlerIsInstalled) {
    ProbeModule module(nullptr);
    {
        AssertRecorder breaches;
        EXPECT_EQ(module.getPin(0), nullptr);
        ASSERT_EQ(breaches.reports().size(), 1u);
        EXPECT_EQ(breaches.reports()[0].source, "se_sdk2/SEModule_base");
        EXPECT_GT(breaches.reports()[0].line, 0);
    }
    // The recorder put the default back.
    EXPECT_DEATH(module.getPin(0), "Assertion `m_pins != 0' failed");
}

TEST(Assert, NullHandlerRestoresTheDefault) {
    AssertRecorder breaches;
    setAssertHandler(nullptr);
    EXPECT_DEATH(reportAssertFailure("x < 1", "somewhere", 12), "somewhere:12: Assertion `x < 1'");
}

TEST(Assert, AHeldExpressionReportsNothing) {
    AssertRecorder breaches;
    EXPECT_TRUE(SE_ASSERT(1 + 1 == 2, "here"));
    EXPECT_FALSE(SE_ASSERT(1 + 1 == 3, "here"));
    EXPECT_EQ(breaches.expressions(), std::vector<std::string>{"1 + 1 == 3"});
}
