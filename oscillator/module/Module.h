// Module: the oscillator. Its members are in the order the host-facing layout fixes; the
// members bound to pins (see getPinProperties) are written by the host through their
// addresses, so they stay at a fixed place for the instance's whole life. All are private;
// tests and tarn-validate reach them through ModuleProbe.h.
#pragma once

#include "kernels/cpu_features.h"
#include "oscillator/module/VoicePool.h"
#include "oscillator/render/block_io.h"
#include "oscillator/render/held_ratio.h"
#include "oscillator/render/held_rotations.h"
#include "se_sdk2/SEModule_base.h"

#include <cstdint>

struct LoopState;

// A "sync" sample above this float starts a note; equal is not enough.
constexpr float SYNC_THRESHOLD = 0.1f;

class Module : public SEModule_base {
    template <class> friend class BasicModuleProbe;

public:
    // The base keeps the callback and puts hostData in the record. Tests the processor for SSE
    // and takes its seat in `table`: makeModule passes SHARED_VOICE_TABLE, joining the
    // process-wide table (when it could not be allocated, hasVoiceTable is false and makeModule
    // discards the instance); a maker that owns a table passes it with the instance's slot.
    Module(HostCallback callback, intptr_t hostData, const VoiceTable &table = SHARED_VOICE_TABLE);
    // Leaves the process-wide voice table if it joined it; the base destroys the pins.
    ~Module() override;
    // False when the instance has no voice table: the shared one could not be allocated.
    bool hasVoiceTable() const { return m_pool != nullptr; }

    // A pin's stream status changed. Reads the gate first; a "sync" rise above 0.1 starts a
    // note, an "alternate" change resets the shared alternation; a gate above 0 then wakes the
    // module and announces both outputs as running.
    void onPlugStateChange(SEPin &pin) override;

    // MOD_OPEN: installs renderBlock, builds the pins, derives the rate constants from the
    // sample rate current at this moment.
    void open() override;
    // Pin `index` (0..15) of the table, bound to this instance's member; false and nothing
    // written for any other index.
    bool getPinProperties(int32_t index, SEPinProperties &properties) override;

    // Process routine while a note may sound: renders samples [bufferOffset, bufferOffset +
    // sampleCount) of both outputs. Reads "N" and the release flag once, at the block start, and
    // calls enterSilence when the block starts with the gate at 0 or the level at 0. Renders
    // nothing while any pin buffer is unbound; silence while the sample rate is unusable.
    void renderBlock(int32_t bufferOffset, int32_t sampleCount);
    // Process routine while winding down: renderBlock, then counts the samples down from one
    // block size and asks the host to sleep (HOST_SLEEP) after every call from 0 on.
    void renderCountdown(int32_t bufferOffset, int32_t sampleCount);
    // Once per wind-down: installs renderCountdown with the countdown at the block size (a block
    // size below 1 makes the first countdown call ask to sleep) and announces both outputs as
    // STREAM_SINGLE_CHANGE. Does nothing while the outputs are already static.
    void enterSilence();

private:
    float m_pitch = 0.0f;          // oscillator pitch, Hz
    float m_pitch_fc = 0.0f;       // the "fc" value m_pitch was computed from
    float m_sign1 = 1.0f;          // factor of the first output signal, +1 or -1
    float m_sign2 = 1.0f;          // factor of the second output signal, +1 or -1
    int32_t m_sleep_countdown = 0; // samples still to render before asking to sleep
    int16_t m_voice = 0;           // voice slot in m_pool, 0..23
    int16_t m_mode = 0;            // pin 7 "Mode": 1 one-sided, 2 two-sided
    int16_t m_cyclic = 0;          // pin 10 "cyclic": 1 off, 2 on
    int16_t m_hq = 0;              // pin 11 "hq": 0 off, 1 on
    int16_t m_poly = 0;            // pin 12 "poly": voice limit of the generation, 1..16
    int16_t m_alternate = 0;       // pin 13 "alternate": 0..5
    bool m_swap_outputs = false;   // first signal to "outputr", second to "outputl"
    bool m_outputs_static = false; // both outputs announced as static
    bool m_use_sse = false;        // the processor offers SSE
    double m_two_over_sr = 0.0;    // 2 / sample rate: phase step per Hz, half-turns per sample
    double m_carrier_phase = 0.0;  // half-turns, within [-1, 1]
    double m_spacing_phase = 0.0;  // half-turns, within [-1, 1]
    double m_comb_phase = 0.0;     // half-turns, within [-1, 1]
    double m_level = 0.0;          // note level, 0..1
    double m_nyquist = 0.0;        // sample rate * 0.5, Hz
    float *m_fc = nullptr;         // pin 0 buffer: pitch, 1.0 = 10 V
    float *m_fm1 = nullptr;        // pin 1 buffer
    float *m_N = nullptr;          // pin 2 buffer
    float *m_a = nullptr;          // pin 3 buffer
    float *m_gate = nullptr;       // pin 4 buffer
    float *m_detune = nullptr;     // pin 5 buffer
    float *m_sync = nullptr;       // pin 6 buffer
    float *m_combfreq = nullptr;   // pin 8 buffer
    float *m_combphase = nullptr;  // pin 9 buffer
    float *m_outputl = nullptr;    // pin 14 buffer, written by the module
    float *m_outputr = nullptr;    // pin 15 buffer, written by the module
    VoicePool *m_pool = nullptr;   // the generation's voice table, not owned
    // The widest vector unit of the processor, for the block render path; None keeps the
    // per-sample loop. Set at construction; tests lower it to try each narrower unit.
    VectorUnit m_vector_unit = VectorUnit::None;
    // The block render path's ratio and power of the last held sub-block.
    HeldRatio m_held_ratio;
    // Its "hq" rotation tables, kept while a held note lasts.
    HeldRotations m_held_rotations;
    // Joined the process-wide voice table (and leaves it on destruction); false for a table
    // owned by the instance's maker.
    bool m_shares_pool = false;

    void *pinMember(int32_t index);
    void startNote();
    void wake();
    // Both outputs' status at the current clock, "outputl" first.
    void announceOutputs(int32_t status);
    bool buffersBound() const;
    void renderUnusableRate(const BlockIo &io, int32_t sampleCount, double decayStep);
    // The render loop's hot state: prefetched, and copied into locals for one block and back.
    static void prefetchState(const Module &m);
    static LoopState loadLoopState(const Module &m);
    static void storeLoopState(Module &m, const LoopState &st);
};
