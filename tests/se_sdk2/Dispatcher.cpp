// SEModule_base's dispatcher, driven through the record's dispatch entry as a host drives it:
// the opcode table, the patch-store rule, process info and MOD_CLOSE.
#include "se_sdk2/SEModule_base.h"

#include "se_sdk2/SEProcessInfo.h"
#include "support/AssertRecorder.h"
#include "support/ProbeModule.h"
#include "support/RecordingCallback.h"
#include "support/record_access.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

using Calls = std::vector<std::string>;

class IgnoredOpcode : public testing::TestWithParam<int32_t> {};

TEST_P(IgnoredOpcode, AnswersZeroAndReachesNothing) {
    RecordingCallback host;
    ProbeModule module;
    AssertRecorder breaches;
    int32_t word = 0;
    EXPECT_EQ(dispatch(module.getRecord(), GetParam(), 3, 4, &word, 5.0f), 0);
    EXPECT_TRUE(module.calls.empty());
    EXPECT_TRUE(host.requests().empty());
    EXPECT_TRUE(breaches.reports().empty());
    EXPECT_EQ(module.getSampleRate(), 44100.0f);
    EXPECT_EQ(module.getBlockSize(), 1024);
}

INSTANTIATE_TEST_SUITE_P(ModuleProtocol, IgnoredOpcode,
                         testing::Values(4, 5, 9, 11, 14, 22, -1, -13, INT32_MIN, INT32_MAX));

TEST(ModuleProtocol, OpcodesOutsideTheProtocolAreReportedAsFalse) {
    RecordingCallback host;
    ProbeModule module;
    for (int32_t opcode : {7, 10}) {
        AssertRecorder breaches;
        dispatch(module.getRecord(), opcode, 1, 1, nullptr, 1.0f);
        ASSERT_EQ(breaches.reports().size(), 1u) << "opcode " << opcode;
        EXPECT_EQ(breaches.reports()[0].expression, "false");
        EXPECT_EQ(breaches.reports()[0].source, "se_sdk2/SEModule_base");
        EXPECT_GT(breaches.reports()[0].line, 0);
    }
    EXPECT_TRUE(module.calls.empty());
}

TEST(ModuleProtocol, SampleRateComesFromOptAndBlockSizeFromValue) {
    RecordingCallback host;
    ProbeModule module;
    EXPECT_EQ(dispatch(module.getRecord(), MOD_SET_SAMPLE_RATE, 22050, 96000, nullptr, 48000.0f),
              0);
    EXPECT_EQ(dispatch(module.getRecord(), MOD_SET_BLOCK_SIZE, 128, 64, nullptr, 32.0f), 0);
    EXPECT_EQ(module.getSampleRate(), 48000.0f);
    EXPECT_EQ(module.getBlockSize(), 64);
}

TEST(ModuleProtocol, NotifyReachesOnNotifyIndexOnlyForAPositiveIndex) {
    RecordingCallback host;
    const struct {
        int32_t index;
        Calls calls;
    } cases[] = {{0, {"onNotify"}},
                 {-5, {"onNotify"}},
                 {INT32_MIN, {"onNotify"}},
                 {3, {"onNotify", "onNotifyIndex 3"}}};
    for (const auto &c : cases) {
        ProbeModule module;
        EXPECT_EQ(dispatch(module.getRecord(), MOD_NOTIFY, c.index), 0);
        EXPECT_EQ(module.calls, c.calls) << "index " << c.index;
    }
}

TEST(ModuleProtocol, MessagePassesValueIndexPointerAndDropsTheAnswer) {
    RecordingCallback host;
    ProbeModule module;
    EXPECT_EQ(dispatch(module.getRecord(), MOD_MESSAGE, 2, 9, reinterpret_cast<void *>(64)), 0);
    EXPECT_EQ(module.calls, Calls{"onMessage 9 2 64"});
}

TEST(ModuleProtocol, CloseRunsCloseThenDestroysAndAnswersOne) {
    RecordingCallback host;
    Calls log;
    ProbeModule *module = new ProbeModule();
    module->log = &log;
    EXPECT_EQ(dispatch(module->getRecord(), MOD_CLOSE), 1);
    EXPECT_EQ(log, (Calls{"close", "destroyed"}));
}

namespace {

// Describes one pin by its name alone, leaving every other field as the asker had it.
class NameOnlyModule : public SEModule_base {
public:
    NameOnlyModule() : SEModule_base(&RecordingCallback::entry, 0) {}
    bool getPinProperties(int32_t index, SEPinProperties &properties) override {
        if (index != 0) {
            return false;
        }
        properties.name = "only";
        return true;
    }
};

} // namespace

TEST(ModuleProtocol, PinPropertiesFillTheHostsRecordWithoutClearingIt) {
    RecordingCallback host;
    NameOnlyModule module;
    int32_t member = 0;
    SEPinProperties record = {&member, DR_OUT, 9, "x", "default", "extra", IO_PRIVATE, 0x1234};
    EXPECT_EQ(dispatch(module.getRecord(), MOD_GET_PIN_PROPERTIES, 0, 0, &record), 1);
    EXPECT_STREQ(record.name, "only");
    EXPECT_EQ(record.variable_address, &member);
    EXPECT_EQ(record.direction, DR_OUT);
    EXPECT_EQ(record.datatype, 9);
    EXPECT_STREQ(record.default_value, "default");
    EXPECT_STREQ(record.datatype_extra, "extra");
    EXPECT_EQ(record.flags, IO_PRIVATE);
    EXPECT_EQ(record.reserved, 0x1234);
    EXPECT_EQ(dispatch(module.getRecord(), MOD_GET_PIN_PROPERTIES, 1, 0, &record), 0);
    EXPECT_EQ(dispatch(module.getRecord(), MOD_GET_PIN_PROPERTIES, -1, 0, &record), 0);
}

TEST(ModuleProtocol, PatchStoreIsAllowedOnlyWhenPrivateOutputOrUserInterface) {
    RecordingCallback host;
    const std::string rule = "(((SEPinProperties*)ptr)->flags & IO_PATCH_STORE) == 0 || "
                             "(((SEPinProperties*)ptr)->flags & IO_PRIVATE) != 0 || "
                             "((SEPinProperties*)ptr)->direction == DR_OUT || "
                             "( ( (SEPinProperties*)ptr)->flags & IO_UI_COMMUNICATION) != 0";
    const struct {
        int32_t flags;
        int32_t direction;
        bool breach;
    } cases[] = {
        {0, DR_IN, false},
        {IO_PRIVATE | IO_REPEATING, DR_IN, false},
        {IO_PATCH_STORE, DR_IN, true},
        {IO_PATCH_STORE | IO_KEEP_PIN | IO_REPEATING, DR_IN, true},
        {IO_PATCH_STORE | IO_PRIVATE, DR_IN, false},
        {IO_PATCH_STORE, DR_OUT, false},
        {IO_PATCH_STORE | IO_UI_COMMUNICATION, DR_IN, false},
    };
    for (const auto &c : cases) {
        ProbeModule module;
        module.descriptions = {describe(DT_FSAMPLE, nullptr, c.flags, c.direction)};
        SEPinProperties record = SEPinProperties();
        AssertRecorder breaches;
        EXPECT_EQ(dispatch(module.getRecord(), MOD_GET_PIN_PROPERTIES, 0, 0, &record), 1);
        if (c.breach) {
            ASSERT_EQ(breaches.reports().size(), 1u) << "flags " << c.flags;
            EXPECT_EQ(breaches.reports()[0].expression, rule);
            EXPECT_EQ(breaches.reports()[0].source, "se_sdk2/SEModule_base");
        } else {
            EXPECT_TRUE(breaches.reports().empty()) << "flags " << c.flags;
        }
    }
}

TEST(ModuleProtocol, PatchStoreRuleAppliesEvenWhenNothingWasDescribed) {
    RecordingCallback host;
    ProbeModule module;
    SEPinProperties record = SEPinProperties();
    AssertRecorder breaches;
    EXPECT_EQ(dispatch(module.getRecord(), MOD_GET_PIN_PROPERTIES, 0, 0, &record), 0);
    EXPECT_TRUE(breaches.reports().empty());
    record.flags = IO_PATCH_STORE;
    EXPECT_EQ(dispatch(module.getRecord(), MOD_GET_PIN_PROPERTIES, 0, 0, &record), 0);
    EXPECT_EQ(breaches.reports().size(), 1u);
}

TEST(ModuleProtocol, PinPropertiesWithoutARecordIsABreachNotACrash) {
    RecordingCallback host;
    ProbeModule module;
    module.descriptions = {describe(DT_FSAMPLE, nullptr)};
    AssertRecorder breaches;
    EXPECT_EQ(dispatch(module.getRecord(), MOD_GET_PIN_PROPERTIES, 0, 0, nullptr), 0);
    EXPECT_EQ(breaches.expressions(), (std::vector<std::string>{"ptr != 0"}));
}

TEST(ModuleProtocol, ProcessInfoIsOneRecordRefilledForTheAskingInstance) {
    RecordingCallback host;
    ProbeModule first;
    ProbeModule second;
    const intptr_t a = dispatch(first.getRecord(), MOD_GET_PROCESS_INFO);
    const void *firstMember = reinterpret_cast<const SEProcessInfo *>(a)->process_function;
    const intptr_t b = dispatch(second.getRecord(), MOD_GET_PROCESS_INFO);
    EXPECT_EQ(a, b);
    EXPECT_EQ(firstMember, first.processFunctionMember());
    EXPECT_EQ(reinterpret_cast<const SEProcessInfo *>(b)->process_function,
              second.processFunctionMember());
    EXPECT_EQ(reinterpret_cast<const SEProcessInfo *>(b)->function_size,
              int32_t(2 * sizeof(void *)));
}

TEST(ModuleProtocol, OpenReachesTheDerivedOpen) {
    RecordingCallback host;
    ProbeModule module;
    EXPECT_EQ(dispatch(module.getRecord(), MOD_OPEN), 0);
    EXPECT_EQ(module.calls, Calls{"open"});
    EXPECT_EQ(host.opcodes(), std::vector<int32_t>{HOST_GET_PIN_COUNT});
}
