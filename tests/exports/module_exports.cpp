// The plug-in boundary as a host meets it: the built shared object opened with dlopen, its two
// exports, the records it hands out read by byte offset, the whole lifecycle through a record,
// and the sixteen pins as the host's binding sees them.
#include "host/Host.h"
#include "host/PluginLibrary.h"
#include "se_sdk2/se_protocol.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace {

constexpr size_t P = sizeof(void *); // 4 on the 32-bit builds, where these are the wire offsets

const PluginLibrary &plugin() {
    static PluginLibrary library(TARN_PLUGIN_PATH);
    return library;
}

uintptr_t wordAt(const void *base, size_t offset) {
    uintptr_t word = 0;
    std::memcpy(&word, static_cast<const unsigned char *>(base) + offset, P);
    return word;
}

int32_t int32At(const void *base, size_t offset) {
    int32_t value;
    std::memcpy(&value, static_cast<const unsigned char *>(base) + offset, 4);
    return value;
}

const char *textAt(const void *base, size_t offset) {
    return reinterpret_cast<const char *>(wordAt(base, offset));
}

int callbackCalls = 0;
intptr_t SE_CALL countingCallback(SEModuleRecord *, int32_t, int32_t, int32_t, void *, float) {
    ++callbackCalls;
    return 0;
}

class ModuleExports : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(plugin().isLoaded()) << plugin().error(); }
};

} // namespace

TEST_F(ModuleExports, PropertiesWriteTheTextsOnlyForIndexZeroAndTheVersionAlways) {
    // Record words: id 0, name P, about 2P, two unnamed words 3P and 4P, sdk_version 5P.
    for (int32_t index : {0, 1, -1, 2, std::numeric_limits<int32_t>::min()}) {
        unsigned char raw[64];
        std::memset(raw, 0xa5, sizeof raw);
        unsigned char before[64];
        std::memcpy(before, raw, sizeof raw);
        const int32_t answer =
            plugin().getModuleProperties(index, reinterpret_cast<SEModuleProperties *>(raw));

        EXPECT_EQ(int32At(raw, 5 * P), 2230) << index;
        const size_t firstUntouched = index == 0 ? 3 * P : 0;
        for (size_t b = firstUntouched; b < sizeof raw; ++b) {
            if (b < 5 * P || b >= 5 * P + 4) {
                EXPECT_EQ(raw[b], before[b]) << "index " << index << " byte " << b;
            }
        }
        if (index == 0) {
            EXPECT_EQ(answer, 1);
            EXPECT_STREQ(textAt(raw, 0), "TARN");
            EXPECT_STREQ(textAt(raw, P), "TARN Oscillator Module");
            EXPECT_STREQ(textAt(raw, 2 * P), "by halvard");
        } else {
            EXPECT_EQ(answer, 0) << index;
        }
    }
}

TEST_F(ModuleExports, MakeModuleRefusesOtherIndexesAndKindsWithoutTouchingTheHost) {
    callbackCalls = 0;
    const int32_t cases[][2] = {{0, 2}, {0, 0}, {0, -1}, {1, 1}, {-1, 1}, {2, 0}, {1, 2}};
    for (const auto &c : cases) {
        EXPECT_EQ(plugin().makeModule(c[0], c[1], &countingCallback, 7), nullptr)
            << c[0] << "," << c[1];
    }
    EXPECT_EQ(callbackCalls, 0);
}

TEST_F(ModuleExports, EachInstanceGetsItsOwnRecordPointingAtItself) {
    // Record words: magic 0, version 4, host_data 8, object 8+P, a zero word, the three
    // entries at 8+3P, 8+4P, 8+5P, four zero words to 8+10P (48 bytes on 32-bit, 88 on 64).
    const intptr_t hostData[2] = {static_cast<intptr_t>(0x5a5a1234), -2};
    SEModuleRecord *records[2];
    uintptr_t objects[2];
    uintptr_t memberOffsets[2];
    for (int i = 0; i < 2; ++i) {
        records[i] = plugin().makeModule(0, 1, &countingCallback, hostData[i]);
        ASSERT_NE(records[i], nullptr);
        const void *r = records[i];
        EXPECT_EQ(int32At(r, 0), 0x25824);
        EXPECT_EQ(int32At(r, 4), 1);
        EXPECT_EQ(static_cast<intptr_t>(wordAt(r, 8)), hostData[i]);
        objects[i] = wordAt(r, 8 + P);
        EXPECT_EQ(wordAt(r, 8 + 2 * P), 0u);
        for (size_t entry = 3; entry <= 5; ++entry) {
            EXPECT_NE(wordAt(r, 8 + entry * P), 0u) << "entry at " << 8 + entry * P;
        }
        for (size_t word = 6; word < 10; ++word) {
            EXPECT_EQ(wordAt(r, 8 + word * P), 0u);
        }
        // The record lives inside its object, and the object's members are its own.
        const uintptr_t recordAddress = reinterpret_cast<uintptr_t>(r);
        EXPECT_GT(recordAddress, objects[i]);
        EXPECT_LT(recordAddress - objects[i], 64u);
        SEPinProperties properties{};
        ASSERT_EQ(
            records[i]->dispatch_entry(records[i], MOD_GET_PIN_PROPERTIES, 0, 0, &properties, 0.0f),
            1);
        memberOffsets[i] = reinterpret_cast<uintptr_t>(properties.variable_address) - objects[i];
    }
    EXPECT_NE(records[0], records[1]);
    EXPECT_NE(objects[0], objects[1]);
    EXPECT_EQ(memberOffsets[0], memberOffsets[1]);
    EXPECT_LT(memberOffsets[0], 4096u);
    for (SEModuleRecord *record : records) {
        EXPECT_EQ(record->dispatch_entry(record, MOD_CLOSE, 0, 0, nullptr, 0.0f), 1);
    }
}

TEST_F(ModuleExports, RunsTheWholeLifecycleThroughTheRecord) {
    Host host(plugin(), 48000.0f, 64);
    HostedInstance *instance = host.makeInstance();
    ASSERT_NE(instance, nullptr);
    const SEProcessEntry constructed = instance->processEntry();
    instance->setSampleRate(48000.0f);
    instance->setBlockSize(64);
    instance->clearRequests();
    instance->open();

    // open installs its routine, and tells the host, before it counts the pins.
    const auto &log = instance->requests();
    size_t changed = log.size(), counted = log.size();
    for (size_t i = 0; i < log.size(); ++i) {
        changed = log[i].opcode == HOST_PROCESS_CHANGED && changed == log.size() ? i : changed;
        counted = log[i].opcode == HOST_GET_PIN_COUNT && counted == log.size() ? i : counted;
    }
    ASSERT_LT(changed, log.size());
    ASSERT_LT(counted, log.size());
    EXPECT_LT(changed, counted);
    for (const HostRequest &r : log) {
        EXPECT_NE(r.opcode, HOST_GET_PIN_BUFFER); // every audio pin has a member
    }

    // The routine writes exactly the samples it is asked for, from the buffer offset on.
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (int32_t pin : {14, 15}) {
        std::fill(instance->buffer(pin), instance->buffer(pin) + 64, nan);
    }
    host.process(7, 20);
    EXPECT_NE(instance->processEntry(), constructed);
    EXPECT_EQ(instance->processEntry(), instance->record()->process_entry);
    for (int32_t pin : {14, 15}) {
        const float *out = instance->output(pin);
        for (int32_t k = 0; k < 64; ++k) {
            EXPECT_EQ(std::isnan(out[k]), k < 7 || k >= 27) << "pin " << pin << " sample " << k;
        }
    }
    instance->scheduleStatus(6, 100, STREAM_SINGLE_CHANGE);
    host.run(200);
    EXPECT_GE(instance->processCallCount(), 4u);
    EXPECT_TRUE(instance->guardsIntact());
    EXPECT_EQ(instance->close(), 1);
}

TEST_F(ModuleExports, ShowsTheHostSixteenPinsBoundToTheirOwnMembers) {
    struct Row {
        const char *name;
        int32_t direction, datatype;
        const char *default_value, *datatype_extra;
    };
    const char *none = nullptr;
    const Row rows[16] = {
        {"fc", DR_IN, DT_FSAMPLE, "0", none},
        {"fm1", DR_IN, DT_FSAMPLE, "0", none},
        {"N", DR_IN, DT_FSAMPLE, "0", none},
        {"a", DR_IN, DT_FSAMPLE, "0", none},
        {"gate", DR_IN, DT_FSAMPLE, "0", none},
        {"detune", DR_IN, DT_FSAMPLE, "0", none},
        {"sync", DR_IN, DT_FSAMPLE, "0", none},
        {"Mode", DR_IN, DT_ENUM, "1", "1-Sided=1,2-Sided=2"},
        {"combfreq", DR_IN, DT_FSAMPLE, "0", none},
        {"combphase", DR_IN, DT_FSAMPLE, "0", none},
        {"cyclic", DR_IN, DT_ENUM, "1", "off=1,on=2"},
        {"hq", DR_IN, DT_ENUM, "1", "off=0,on=1"},
        {"poly", DR_IN, DT_ENUM, "8",
         "1=1,2=2,3=3,4=4,5=5,6=6,7=7,8=8,9=9,10=10,11=11,12=12,13=13,14=14,15=15,16=16"},
        {"alternate", DR_IN, DT_ENUM, "1", "L+R=0,L+R alt=1,M+S=2,M+S alt=3,S+M=4,S+M alt=5"},
        {"outputl", DR_OUT, DT_FSAMPLE, none, none},
        {"outputr", DR_OUT, DT_FSAMPLE, none, none},
    };
    Host host(plugin(), 44100.0f, 32);
    HostedInstance *a = host.addInstance();
    HostedInstance *b = host.addInstance();
    ASSERT_EQ(a->pinCount(), 16);
    ASSERT_EQ(a->descriptionCount(), 16);
    const uintptr_t object = reinterpret_cast<uintptr_t>(a->record()->object);
    for (int32_t pin = 0; pin < 16; ++pin) {
        const SEPinProperties &p = a->pin(pin)->properties;
        const Row &row = rows[pin];
        EXPECT_STREQ(p.name, row.name);
        EXPECT_EQ(p.direction, row.direction) << row.name;
        EXPECT_EQ(p.datatype, row.datatype) << row.name;
        if (row.default_value) {
            EXPECT_STREQ(p.default_value, row.default_value);
        } else {
            EXPECT_EQ(p.default_value, nullptr) << row.name;
        }
        if (row.datatype_extra) {
            EXPECT_STREQ(p.datatype_extra, row.datatype_extra);
        } else {
            EXPECT_EQ(p.datatype_extra, nullptr) << row.name;
        }
        EXPECT_EQ(p.flags, 0) << row.name;
        EXPECT_EQ(p.reserved, 0) << row.name;
        // The same texts for every instance; members of the instance asked, distinct.
        EXPECT_EQ(p.name, b->pin(pin)->properties.name);
        EXPECT_NE(p.variable_address, b->pin(pin)->properties.variable_address);
        const uintptr_t member = reinterpret_cast<uintptr_t>(p.variable_address);
        EXPECT_GT(member, object);
        EXPECT_LT(member - object, 4096u);
        for (int32_t other = 0; other < pin; ++other) {
            EXPECT_NE(p.variable_address, a->pin(other)->properties.variable_address);
        }
        if (row.datatype == DT_FSAMPLE) {
            EXPECT_EQ(*static_cast<float **>(p.variable_address), a->buffer(pin)) << row.name;
        }
    }
    // The list members are 16-bit: each holds its default, untouched by its neighbours.
    for (int32_t pin : {7, 10, 11, 12, 13}) {
        EXPECT_EQ(*static_cast<int16_t *>(a->pin(pin)->properties.variable_address),
                  std::atoi(rows[pin].default_value));
    }
}

TEST_F(ModuleExports, PinDescriptionsLeaveTheHostsFieldsAlone) {
    SEModuleRecord *record = plugin().makeModule(0, 1, nullptr, 0);
    ASSERT_NE(record, nullptr);
    static const char hostText[] = "host";
    auto ask = [record](int32_t index, SEPinProperties &p) {
        return record->dispatch_entry(record, MOD_GET_PIN_PROPERTIES, index, 0, &p, 0.0f);
    };
    SEPinProperties prepared{};
    prepared.default_value = hostText;
    prepared.datatype_extra = hostText;
    prepared.name = hostText;
    for (int32_t index : {16, -1, 1000}) {
        SEPinProperties p = prepared;
        EXPECT_EQ(ask(index, p), 0) << index;
        EXPECT_EQ(std::memcmp(&p, &prepared, sizeof p), 0) << index;
    }
    SEPinProperties output = prepared;
    EXPECT_EQ(ask(14, output), 1);
    EXPECT_STREQ(output.name, "outputl");
    EXPECT_EQ(output.default_value, hostText);
    EXPECT_EQ(output.datatype_extra, hostText);
    SEPinProperties fc = prepared;
    EXPECT_EQ(ask(0, fc), 1);
    EXPECT_EQ(fc.datatype_extra, hostText);
    SEPinProperties mode = prepared;
    EXPECT_EQ(ask(7, mode), 1);
    EXPECT_STREQ(mode.datatype_extra, "1-Sided=1,2-Sided=2");
    EXPECT_EQ(record->dispatch_entry(record, MOD_CLOSE, 0, 0, nullptr, 0.0f), 1);
}
