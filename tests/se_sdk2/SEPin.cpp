// SEPin: binding by data type, stream status notifications and the pin's host requests.
#include "se_sdk2/SEPin.h"

#include "support/AssertRecorder.h"
#include "support/ProbeModule.h"
#include "support/RecordingCallback.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

// The pin's own storage, if m_variable points into the pin object itself.
bool pointsIntoPin(const SEPin &pin) {
    const auto *begin = reinterpret_cast<const unsigned char *>(&pin);
    const auto *variable = static_cast<const unsigned char *>(pin.getVariable());
    return variable >= begin && variable < begin + sizeof(SEPin);
}

struct StorageCase {
    int32_t datatype;
    size_t width; // bytes of own storage; 0 for none
};

} // namespace

TEST(SEPin, InitWithMemberBindsItWhateverTheTypeAndAsksNothing) {
    RecordingCallback host;
    ProbeModule module;
    for (int32_t datatype : {-1, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9}) {
        SEPin pin;
        float *member = nullptr;
        pin.init(&module, 3, datatype, &member);
        EXPECT_EQ(pin.getVariable(), &member) << "datatype " << datatype;
        EXPECT_EQ(pin.getStatus(), STREAM_STEADY);
        EXPECT_EQ(pin.getIndex(), 3);
    }
    EXPECT_TRUE(host.requests().empty());
}

TEST(SEPin, InitWithoutMemberGivesOwnStorageAtTheTypesWidth) {
    RecordingCallback host;
    ProbeModule module;
    const StorageCase cases[] = {{0, 2}, {4, 1}, {6, 4}, {8, 4},  {1, 0},  {2, 0},
                                 {3, 0}, {7, 0}, {9, 0}, {-1, 0}, {100, 0}};
    for (const StorageCase &c : cases) {
        SEPin pin;
        // A buffer address fills the pin's storage first, so a missing zeroing shows.
        host.answer(HOST_GET_PIN_BUFFER, intptr_t(-1));
        pin.init(&module, 2, DT_FSAMPLE, nullptr);
        host.clear();
        pin.init(&module, 2, c.datatype, nullptr);
        if (c.width == 0) {
            EXPECT_EQ(pin.getVariable(), nullptr) << "datatype " << c.datatype;
        } else {
            ASSERT_TRUE(pointsIntoPin(pin)) << "datatype " << c.datatype;
            const std::vector<unsigned char> zeros(c.width, 0);
            EXPECT_EQ(std::memcmp(pin.getVariable(), zeros.data(), c.width), 0)
                << "datatype " << c.datatype;
        }
        EXPECT_TRUE(host.requests().empty()) << "datatype " << c.datatype;
    }
}

TEST(SEPin, AudioPinWithoutMemberAsksTheHostForItsBufferOnce) {
    RecordingCallback host;
    ProbeModule module;
    float buffer[4] = {};
    host.answer(HOST_GET_PIN_BUFFER, 5, reinterpret_cast<intptr_t>(buffer));
    SEPin pin;
    pin.init(&module, 5, DT_FSAMPLE, nullptr);
    ASSERT_EQ(host.requests().size(), 1u);
    EXPECT_EQ(host.requests()[0].opcode, HOST_GET_PIN_BUFFER);
    EXPECT_EQ(host.requests()[0].index, 5);
    EXPECT_EQ(host.requests()[0].record, module.getRecord());
    ASSERT_TRUE(pointsIntoPin(pin));
    EXPECT_EQ(*static_cast<float **>(pin.getVariable()), buffer);
}

TEST(SEPin, ModuleSeesTheStatusDuringItsNotificationOnly) {
    RecordingCallback host;
    ProbeModule module;
    const int32_t reported[] = {STREAM_SINGLE_CHANGE, STREAM_RUNNING, STREAM_STEADY, 7, -3};
    const int32_t after[] = {STREAM_STEADY, STREAM_RUNNING, STREAM_STEADY, 7, -3};
    for (size_t i = 0; i < 5; ++i) {
        SEPin pin;
        pin.init(&module, 1, DT_FSAMPLE, &module);
        module.plugStates.clear();
        pin.onStatusUpdate(reported[i]);
        ASSERT_EQ(module.plugStates.size(), 1u);
        EXPECT_EQ(module.plugStates[0], std::make_pair(1, reported[i]));
        EXPECT_EQ(pin.getStatus(), after[i]) << "status " << reported[i];
    }
}

TEST(SEPin, TransmitStatusSendsThePinsStatusEvenForAPastClock) {
    RecordingCallback host;
    host.setClock(1000);
    ProbeModule module;
    SEPin pin;
    pin.init(&module, 14, DT_FSAMPLE, &module);
    AssertRecorder breaches;
    pin.transmitStatus(999, STREAM_RUNNING);
    pin.transmitStatus(0xFFFFFFFFu, STREAM_SINGLE_CHANGE);
    const auto sent = host.requests(HOST_SET_PIN_STATUS);
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].index, 14);
    EXPECT_EQ(sent[0].value, STREAM_RUNNING);
    EXPECT_EQ(sent[0].ptr, 999);
    EXPECT_EQ(uintptr_t(sent[1].ptr), uintptr_t(0xFFFFFFFFu));
    EXPECT_EQ(sent[0].opt, 0.0f);
    EXPECT_TRUE(breaches.reports().empty());
}

TEST(SEPin, TransmitDataIntoThePastIsABreach) {
    RecordingCallback host;
    host.setClock(500);
    ProbeModule module;
    SEPin pin;
    pin.init(&module, 2, DT_ENUM, &module);
    AssertRecorder breaches;
    pin.transmitData(500, 42);
    EXPECT_TRUE(breaches.reports().empty());
    pin.transmitData(499, 43);
    ASSERT_EQ(breaches.reports().size(), 1u);
    EXPECT_EQ(breaches.reports()[0].expression, "sampleclock >= m_module->SampleClock()");
    EXPECT_EQ(breaches.reports()[0].source, "se_sdk2/SEPin");
    const auto sent = host.requests(HOST_SEND_PIN_DATA);
    ASSERT_GE(sent.size(), 1u);
    EXPECT_EQ(sent[0].index, 2);
    EXPECT_EQ(sent[0].value, 42);
    EXPECT_EQ(sent[0].ptr, 500);
}

TEST(SEPin, PinQueryIsTrueForAnyNonzeroAnswer) {
    RecordingCallback host;
    ProbeModule module;
    SEPin pin;
    pin.init(&module, 9, DT_ENUM, &module);
    const intptr_t answers[] = {0, 1, -1, 0x10000};
    const bool expected[] = {false, true, true, true};
    for (size_t i = 0; i < 4; ++i) {
        host.answer(HOST_PIN_QUERY, answers[i]);
        EXPECT_EQ(pin.pinQuery(), expected[i]) << "answer " << answers[i];
    }
    EXPECT_EQ(host.requests(HOST_PIN_QUERY).at(0).index, 9);
}

TEST(SEPin, GetSampleReadsTheElementAtClockMinusBlockStart) {
    RecordingCallback host;
    ProbeModule module;
    float buffer[6] = {10.0f, 11.0f, 12.0f, 13.0f, 14.0f, 15.0f};
    float *member = buffer;
    SEPin pin;
    pin.init(&module, 4, DT_FSAMPLE, &member);
    struct {
        uint32_t blockStart, clock;
        float sample;
    } const cases[] = {
        {1000, 1000, 10.0f}, {1000, 1003, 13.0f}, {0xFFFFFFFEu, 3, 15.0f}, {0, 0, 10.0f}};
    for (const auto &c : cases) {
        host.answer(HOST_GET_BLOCK_START, 4, intptr_t(c.blockStart));
        host.setClock(c.clock);
        host.clear();
        EXPECT_EQ(pin.getSample(), c.sample) << "block start " << c.blockStart;
        // The block start is asked, for this pin, before the clock.
        EXPECT_EQ(host.opcodes(),
                  (std::vector<int32_t>{HOST_GET_BLOCK_START, HOST_GET_SAMPLE_CLOCK}));
        EXPECT_EQ(host.requests()[0].index, 4);
    }
}

TEST(SEPin, GetSampleOnAnotherTypeIsABreachAndReadsNothing) {
    RecordingCallback host;
    ProbeModule module;
    int16_t setting = 5;
    SEPin pin;
    pin.init(&module, 7, DT_ENUM, &setting);
    AssertRecorder breaches;
    EXPECT_EQ(pin.getSample(), 0.0f);
    EXPECT_EQ(breaches.expressions(), (std::vector<std::string>{"m_datatype == DT_FSAMPLE"}));
    EXPECT_EQ(breaches.reports()[0].source, "se_sdk2/SEPin");
}

TEST(SEPin, UnboundPinAsksNothingAndNotifiesNobody) {
    RecordingCallback host;
    SEPin pin;
    pin.onStatusUpdate(STREAM_RUNNING);
    pin.transmitStatus(0, STREAM_RUNNING);
    pin.transmitData(0, 1);
    EXPECT_FALSE(pin.pinQuery());
    EXPECT_EQ(pin.getVariable(), nullptr);
    EXPECT_TRUE(host.requests().empty());
}
