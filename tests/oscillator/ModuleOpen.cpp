// Module construction and open: the first routine installed before the pins, the rate
// constants from the rate current at open, and the silent renderBlock through process_entry.
#include "oscillator/module/Module.h"

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
        EXPECT_EQ(module.m_two_over_sr, c.twoOverSr) << c.rate;
        EXPECT_EQ(module.m_nyquist, c.nyquist) << c.rate;
        EXPECT_EQ(module.m_pitch, -20.0f);
        EXPECT_EQ(module.m_pitch_fc, -20.0f);
        EXPECT_EQ(module.m_level, 1.0);
        EXPECT_TRUE(module.m_outputs_static);
    }
}

TEST(ModuleOpen, StartsWithPlainOutputsBeforeAnyNote) {
    Module module(nullptr, 0);
    EXPECT_EQ(module.m_sign1, 1.0f);
    EXPECT_EQ(module.m_sign2, 1.0f);
    EXPECT_FALSE(module.m_swap_outputs);
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
    for (float **input :
         {&module.m_fc, &module.m_fm1, &module.m_N, &module.m_a, &module.m_gate, &module.m_detune,
          &module.m_sync, &module.m_combfreq, &module.m_combphase}) {
        *input = inputs;
    }
    module.m_outputl = left;
    module.m_outputr = right;
    SEModuleRecord *record = module.getRecord();
    record->process_entry(record->object, 3, 5);
    for (int i = 0; i < 16; ++i) {
        const bool inside = i >= 3 && i < 8;
        EXPECT_EQ(left[i], inside ? 0.0f : 7.0f) << "sample " << i;
        EXPECT_EQ(right[i], inside ? 0.0f : -7.0f) << "sample " << i;
    }
}
