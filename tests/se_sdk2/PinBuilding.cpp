// SEModule_base::open building the pin array: the host's count, passed-over user-interface
// pins, IO_REPEATING copies, and counts that disagree with the descriptions.
#include "se_sdk2/SEModule_base.h"

#include "support/ProbeModule.h"
#include "support/RecordingCallback.h"
#include "support/record_access.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

// Pin j's bound address, data type and number, to compare arrays in one go.
struct PinView {
    void *variable;
    int32_t datatype;
    int32_t index;
    bool operator==(const PinView &other) const {
        return variable == other.variable && datatype == other.datatype && index == other.index;
    }
};

std::ostream &operator<<(std::ostream &out, const PinView &pin) {
    return out << "{" << pin.variable << ", " << pin.datatype << ", " << pin.index << "}";
}

std::vector<PinView> viewPins(const ProbeModule &module) {
    std::vector<PinView> pins;
    for (int32_t j = 0; j < module.pinCount(); ++j) {
        const SEPin &pin = module.pins()[j];
        pins.push_back({pin.getVariable(), pin.getDatatype(), pin.getIndex()});
    }
    return pins;
}

} // namespace

TEST(PinBuilding, NoPinCountLeavesNoArray) {
    for (intptr_t count : {intptr_t(0), intptr_t(-1), intptr_t(INTPTR_MIN)}) {
        RecordingCallback host;
        host.answer(HOST_GET_PIN_COUNT, count);
        ProbeModule module;
        module.descriptions = {describe(DT_FSAMPLE, nullptr)};
        dispatch(module.getRecord(), MOD_OPEN);
        EXPECT_EQ(module.pins(), nullptr) << "count " << count;
        EXPECT_EQ(host.opcodes(), std::vector<int32_t>{HOST_GET_PIN_COUNT});
    }
    ProbeModule orphan(nullptr);
    orphan.descriptions = {describe(DT_FSAMPLE, nullptr)};
    dispatch(orphan.getRecord(), MOD_OPEN);
    EXPECT_EQ(orphan.pins(), nullptr);
}

TEST(PinBuilding, DescriptionsBecomePinsInOrder) {
    RecordingCallback host;
    host.answer(HOST_GET_PIN_COUNT, 3);
    ProbeModule module;
    float *a = nullptr;
    int16_t b = 0;
    float *c = nullptr;
    module.descriptions = {describe(DT_FSAMPLE, &a), describe(DT_ENUM, &b),
                           describe(DT_FSAMPLE, &c, 0, DR_OUT)};
    dispatch(module.getRecord(), MOD_OPEN);
    EXPECT_EQ(viewPins(module),
              (std::vector<PinView>{{&a, DT_FSAMPLE, 0}, {&b, DT_ENUM, 1}, {&c, DT_FSAMPLE, 2}}));
    // Bound pins ask the host nothing of their own.
    EXPECT_EQ(host.opcodes(), std::vector<int32_t>{HOST_GET_PIN_COUNT});
}

TEST(PinBuilding, UserInterfacePinIsPassedOverUnlessKept) {
    RecordingCallback host;
    host.answer(HOST_GET_PIN_COUNT, 3);
    ProbeModule module;
    int32_t m0 = 0, m1 = 0, m2 = 0, m3 = 0;
    module.descriptions = {describe(6, &m0), describe(6, &m1),
                           describe(6, &m2, IO_UI_COMMUNICATION), describe(6, &m3)};
    dispatch(module.getRecord(), MOD_OPEN);
    EXPECT_EQ(viewPins(module), (std::vector<PinView>{{&m0, 6, 0}, {&m1, 6, 1}, {&m3, 6, 2}}));

    RecordingCallback host2;
    host2.answer(HOST_GET_PIN_COUNT, 4);
    ProbeModule kept;
    kept.descriptions = module.descriptions;
    kept.descriptions[2].flags |= IO_KEEP_PIN;
    dispatch(kept.getRecord(), MOD_OPEN);
    EXPECT_EQ(viewPins(kept),
              (std::vector<PinView>{{&m0, 6, 0}, {&m1, 6, 1}, {&m2, 6, 2}, {&m3, 6, 3}}));
}

TEST(PinBuilding, RepeatingLastPinFillsTheCountWithMemberlessCopies) {
    RecordingCallback host;
    host.answer(HOST_GET_PIN_COUNT, 6);
    float buffers[6][2] = {};
    for (int32_t j = 0; j < 6; ++j) {
        host.answer(HOST_GET_PIN_BUFFER, j, reinterpret_cast<intptr_t>(buffers[j]));
    }
    ProbeModule module;
    float *m0 = nullptr;
    float *m1 = nullptr;
    float *m2 = nullptr;
    module.descriptions = {describe(DT_FSAMPLE, &m0), describe(DT_FSAMPLE, &m1),
                           describe(DT_FSAMPLE, &m2, IO_REPEATING)};
    dispatch(module.getRecord(), MOD_OPEN);
    ASSERT_EQ(module.pinCount(), 6);
    EXPECT_EQ(module.pins()[2].getVariable(), &m2);
    for (int32_t j = 3; j < 6; ++j) {
        const SEPin &pin = module.pins()[j];
        EXPECT_EQ(pin.getIndex(), j);
        EXPECT_EQ(pin.getDatatype(), DT_FSAMPLE);
        ASSERT_NE(pin.getVariable(), nullptr);
        EXPECT_EQ(*static_cast<float **>(pin.getVariable()), buffers[j]) << "pin " << j;
    }
    const auto asked = host.requests(HOST_GET_PIN_BUFFER);
    ASSERT_EQ(asked.size(), 3u);
    EXPECT_EQ(asked[0].index, 3);
    EXPECT_EQ(asked[2].index, 5);
}

TEST(PinBuilding, RepeatingOnAPassedOverLastPinMakesNoCopies) {
    RecordingCallback host;
    host.answer(HOST_GET_PIN_COUNT, 4);
    ProbeModule module;
    int16_t m0 = 0;
    module.descriptions = {describe(DT_ENUM, &m0),
                           describe(DT_ENUM, nullptr, IO_UI_COMMUNICATION | IO_REPEATING)};
    dispatch(module.getRecord(), MOD_OPEN);
    ASSERT_EQ(module.pinCount(), 4);
    EXPECT_EQ(module.pins()[0].getVariable(), &m0);
    for (int32_t j = 1; j < 4; ++j) {
        EXPECT_EQ(module.pins()[j].getIndex(), -1) << "pin " << j << " stays unbound";
    }
}

TEST(PinBuilding, CountBelowTheDescriptionsUsesOnlyTheFirst) {
    RecordingCallback host;
    host.answer(HOST_GET_PIN_COUNT, 2);
    ProbeModule module;
    int32_t m[5] = {};
    for (int32_t i = 0; i < 5; ++i) {
        module.descriptions.push_back(describe(6, &m[i], i == 4 ? IO_REPEATING : 0));
    }
    dispatch(module.getRecord(), MOD_OPEN);
    EXPECT_EQ(viewPins(module), (std::vector<PinView>{{&m[0], 6, 0}, {&m[1], 6, 1}}));
}

TEST(PinBuilding, EachDescriptionStartsFromAClearedRecord) {
    // A module that reports what it was handed, so leftovers of the previous answer show.
    class Inspecting : public ProbeModule {
    public:
        bool getPinProperties(int32_t index, SEPinProperties &properties) override {
            const SEPinProperties zero = SEPinProperties();
            handedZeroed.push_back(std::memcmp(&properties, &zero, sizeof zero) == 0);
            properties.flags = IO_REPEATING | IO_PRIVATE;
            properties.datatype_extra = "left over";
            properties.variable_address = &handedZeroed;
            return index < 3;
        }
        std::vector<bool> handedZeroed;
    };
    RecordingCallback host;
    host.answer(HOST_GET_PIN_COUNT, 8);
    Inspecting module;
    dispatch(module.getRecord(), MOD_OPEN);
    // Descriptions 0, 1, 2, the refused 3, and 2 again for its IO_REPEATING flag.
    EXPECT_EQ(module.handedZeroed, (std::vector<bool>{true, true, true, true, true}));
}

TEST(PinBuilding, SecondOpenRebuildsTheArray) {
    RecordingCallback host;
    host.answer(HOST_GET_PIN_COUNT, 2);
    ProbeModule module;
    int32_t m0 = 0, m1 = 0;
    module.descriptions = {describe(6, &m0), describe(6, &m1)};
    dispatch(module.getRecord(), MOD_OPEN);
    host.answer(HOST_GET_PIN_COUNT, 1);
    dispatch(module.getRecord(), MOD_OPEN);
    EXPECT_EQ(viewPins(module), (std::vector<PinView>{{&m0, 6, 0}}));
}
