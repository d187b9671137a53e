// Module construction and open: the first routine installed before the pins, the rate
// constants from the rate current at open, and the silent renderBlock through process_entry.
#include "oscillator/module/Module.h"
#include "oscillator/module/ModuleProbe.h"

#include "support/RecordingCallback.h"
#include "support/record_access.h"

#include <gtest/gtest.h>

#include <vector>

TEST(ModuleOpen, InstallsItsRoutineBeforeTheHostCountsPins) {
    RecordingCallback host;
    host.answer(HOST_GET_PIN_COUNT, 16);
    Module module(&RecordingCallback::entry, 0);
    const SEProcessEntry initial = module.getRecord()->process_entry;
    dispatch(module.getRecord(), MOD_OPEN);
    EXPECT_EQ(host.opcodes(), (std::vector<int32_t>{HOST_PROCESS_CHANGED, HOST_GET_PIN_COUNT}));
    EXPECT_NE(module.getRecord()->process_entry, initial);

    // Opening again keeps the same routine, so the host is not told twice.
    host.clear();
    dispatch(module.getRecord(), MOD_OPEN);
    EXPECT_EQ(host.opcodes(), std::vector<int32_t>{HOST_GET_PIN_COUNT});
}

TEST(ModuleOpen, RateConstantsComeFromTheRateCurrentAtOpen) {
    const struct {
        float rate; // 0: left at the initial 44100 Hz
        double twoOverSr, nyquist;
    } cases[] = {{0.0f, 2.0 / 44100.0, 22050.0},
                 {48000.0f, 2.0 / 48000.0, 24000.0},
                 {96000.0f, 2.0 / 96000.0, 48000.0}};
    for (const auto &c : cases) {
        Module module(nullptr, 0);
        if (c.rate != 0.0f) {
            dispatch(module.getRecord(), MOD_SET_SAMPLE_RATE, 0, 0, nullptr, c.rate);
        }
        dispatch(module.getRecord(), MOD_OPEN);
        const ConstModuleProbe probe(module);
        EXPECT_EQ(probe.twoOverSr(), c.twoOverSr) << c.rate;
        EXPECT_EQ(probe.nyquist(), c.nyquist) << c.rate;
        EXPECT_EQ(probe.pitch(), -20.0f);
        EXPECT_EQ(probe.pitchFc(), -20.0f);
        EXPECT_EQ(probe.level(), 1.0);
        EXPECT_TRUE(probe.outputsStatic());
    }
}

TEST(ModuleOpen, StartsWithPlainOutputsBeforeAnyNote) {
    const Module module(nullptr, 0);
    const ConstModuleProbe probe(module);
    EXPECT_EQ(probe.sign1(), 1.0f);
    EXPECT_EQ(probe.sign2(), 1.0f);
    EXPECT_FALSE(probe.swapOutputs());
}

TEST(ModuleOpen, RenderBlockWithTheGateClosedSilencesExactlyItsRange) {
    Module module(nullptr, 0);
    dispatch(module.getRecord(), MOD_OPEN);
    float inputs[16] = {}; // every input at 0, the gate included
    float left[16];
    float right[16];
    for (int i = 0; i < 16; ++i) {
        left[i] = 7.0f;
        right[i] = -7.0f;
    }
    const ModuleProbe probe(module);
    for (float **input : {&probe.fc(), &probe.fm1(), &probe.N(), &probe.a(), &probe.gate(),
                          &probe.detune(), &probe.sync(), &probe.combfreq(), &probe.combphase()}) {
        *input = inputs;
    }
    probe.outputl() = left;
    probe.outputr() = right;
    SEModuleRecord *record = module.getRecord();
    record->process_entry(record->object, 3, 5);
    for (int i = 0; i < 16; ++i) {
        const bool inside = i >= 3 && i < 8;
        EXPECT_EQ(left[i], inside ? 0.0f : 7.0f) << "sample " << i;
        EXPECT_EQ(right[i], inside ? 0.0f : -7.0f) << "sample " << i;
    }
}
