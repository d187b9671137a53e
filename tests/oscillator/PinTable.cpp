// The oscillator's pin descriptions as the host and open ask for them: every row verbatim,
// untouched fields, indexes outside the table, and bindings to the asking instance.
#include "oscillator/module/Module.h"
#include "oscillator/module/ModuleProbe.h"
#include "oscillator/module/pin_table.h"
#include "se_sdk2/SEPin.h"
#include "support/RecordingCallback.h"
#include "support/record_access.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>

namespace {

struct ExpectedRow {
    const char *name;
    int32_t direction;
    int32_t datatype;
    const char *default_value;  // null: left as the asker had it
    const char *datatype_extra; // null: left as the asker had it
};

const ExpectedRow ROWS[16] = {
    {"fc", 0, 5, "0", nullptr},
    {"fm1", 0, 5, "0", nullptr},
    {"N", 0, 5, "0", nullptr},
    {"a", 0, 5, "0", nullptr},
    {"gate", 0, 5, "0", nullptr},
    {"detune", 0, 5, "0", nullptr},
    {"sync", 0, 5, "0", nullptr},
    {"Mode", 0, 0, "1", "1-Sided=1,2-Sided=2"},
    {"combfreq", 0, 5, "0", nullptr},
    {"combphase", 0, 5, "0", nullptr},
    {"cyclic", 0, 0, "1", "off=1,on=2"},
    {"hq", 0, 0, "1", "off=0,on=1"},
    {"poly", 0, 0, "8",
     "1=1,2=2,3=3,4=4,5=5,6=6,7=7,8=8,9=9,10=10,11=11,12=12,13=13,14=14,15=15,16=16"},
    {"alternate", 0, 0, "1", "L+R=0,L+R alt=1,M+S=2,M+S alt=3,S+M=4,S+M alt=5"},
    {"outputl", 1, 5, nullptr, nullptr},
    {"outputr", 1, 5, nullptr, nullptr},
};

void *boundMember(Module &module, int32_t pin) {
    const ModuleProbe m(module);
    void *const members[16] = {&m.fc(),       &m.fm1(),       &m.N(),       &m.a(),
                               &m.gate(),     &m.detune(),    &m.sync(),    &m.mode(),
                               &m.combfreq(), &m.combphase(), &m.cyclic(),  &m.hq(),
                               &m.poly(),     &m.alternate(), &m.outputl(), &m.outputr()};
    return members[pin];
}

const char *const HOST_DEFAULT = "host default";
const char *const HOST_EXTRA = "host extra";

// The record a host might pass: every field the module could leave alone holds a sentinel.
SEPinProperties hostRecord() {
    SEPinProperties record = SEPinProperties();
    record.default_value = HOST_DEFAULT;
    record.datatype_extra = HOST_EXTRA;
    record.flags = 0x40;
    record.reserved = 0x77;
    return record;
}

} // namespace

TEST(PinTable, EveryRowIsDescribedVerbatimThroughTheDispatcher) {
    RecordingCallback host;
    Module module(&RecordingCallback::entry, 0);
    for (int32_t pin = 0; pin < 16; ++pin) {
        const ExpectedRow &row = ROWS[pin];
        SEPinProperties record = hostRecord();
        ASSERT_EQ(dispatch(module.getRecord(), MOD_GET_PIN_PROPERTIES, pin, 0, &record), 1);
        EXPECT_STREQ(record.name, row.name) << "pin " << pin;
        EXPECT_EQ(record.direction, row.direction) << row.name;
        EXPECT_EQ(record.datatype, row.datatype) << row.name;
        EXPECT_STREQ(record.default_value, row.default_value ? row.default_value : HOST_DEFAULT)
            << row.name;
        EXPECT_STREQ(record.datatype_extra, row.datatype_extra ? row.datatype_extra : HOST_EXTRA)
            << row.name;
        EXPECT_EQ(record.flags, 0x40) << row.name << ": flags are never written";
        EXPECT_EQ(record.reserved, 0x77) << row.name;
        EXPECT_EQ(record.variable_address, boundMember(module, pin)) << row.name;
    }
}

TEST(PinTable, NamedPinNumbersMatchTheirRows) {
    EXPECT_STREQ(PIN_TABLE[PIN_GATE].name, "gate");
    EXPECT_STREQ(PIN_TABLE[PIN_SYNC].name, "sync");
    EXPECT_STREQ(PIN_TABLE[PIN_ALTERNATE].name, "alternate");
    EXPECT_STREQ(PIN_TABLE[PIN_OUTPUTL].name, "outputl");
    EXPECT_STREQ(PIN_TABLE[PIN_OUTPUTR].name, "outputr");
    EXPECT_EQ(PIN_COUNT, 16);
}

TEST(PinTable, IndexOutsideTheTableAnswersFalseAndWritesNothing) {
    Module module(nullptr, 0);
    for (int32_t index : {16, 17, -1, INT32_MIN, INT32_MAX}) {
        SEPinProperties record = hostRecord();
        const SEPinProperties before = record;
        EXPECT_FALSE(module.getPinProperties(index, record)) << "index " << index;
        EXPECT_EQ(std::memcmp(&record, &before, sizeof record), 0) << "index " << index;
    }
}

TEST(PinTable, TwoInstancesShareTextsButBindTheirOwnMembers) {
    Module first(nullptr, 0);
    Module second(nullptr, 0);
    for (int32_t pin = 0; pin < 16; ++pin) {
        SEPinProperties a = SEPinProperties();
        SEPinProperties b = SEPinProperties();
        ASSERT_TRUE(first.getPinProperties(pin, a));
        ASSERT_TRUE(second.getPinProperties(pin, b));
        EXPECT_EQ(a.name, b.name) << "pin " << pin;
        EXPECT_NE(a.variable_address, b.variable_address) << "pin " << pin;
        const auto *begin = reinterpret_cast<const unsigned char *>(&second);
        const auto *bound = static_cast<const unsigned char *>(b.variable_address);
        EXPECT_TRUE(bound >= begin && bound < begin + sizeof(Module)) << "pin " << pin;
    }
}

TEST(PinTable, OpenBindsSixteenPinsToTheMembers) {
    RecordingCallback host;
    host.answer(HOST_GET_PIN_COUNT, 16);
    Module module(&RecordingCallback::entry, 0);
    dispatch(module.getRecord(), MOD_OPEN);
    for (int32_t pin = 0; pin < 16; ++pin) {
        const SEPin *bound = module.getPin(pin);
        ASSERT_NE(bound, nullptr);
        EXPECT_EQ(bound->getVariable(), boundMember(module, pin)) << "pin " << pin;
        EXPECT_EQ(bound->getDatatype(), ROWS[pin].datatype) << "pin " << pin;
    }
    // Every pin has a member, so no buffer is asked for.
    EXPECT_TRUE(host.requests(HOST_GET_PIN_BUFFER).empty());
}
