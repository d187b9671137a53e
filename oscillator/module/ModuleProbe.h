// ModuleProbe: reads and sets a Module's private state, for the tests, tarn-validate, the fuzz
// targets and the benchmarks; the library itself never includes it. Each accessor is named
// after its member and returns a reference to it (const through ConstModuleProbe).
#pragma once

#include "oscillator/module/Module.h"

#include <cstddef>
#include <cstdint>

// The members a tool reads in a Module laid out by another compiler (tarn-validate on the
// MinGW DLL through tarn-dll.so), numbered for a table of their byte offsets.
enum class ModuleField : uint32_t {
    CarrierPhase,
    SpacingPhase,
    CombPhase,
    Level,
    TwoOverSr,
    Nyquist,
    Cyclic,
    Voice,
    SwapOutputs,
    Sign1,
    Sign2,
    Pool,
    Count
};

// M is Module or const Module. Holds a reference: valid while the module lives.
template <class M> class BasicModuleProbe {
public:
    explicit BasicModuleProbe(M &module) : m(module) {}

    auto &pitch() const { return m.m_pitch; }
    auto &pitchFc() const { return m.m_pitch_fc; }
    auto &sign1() const { return m.m_sign1; }
    auto &sign2() const { return m.m_sign2; }
    auto &sleepCountdown() const { return m.m_sleep_countdown; }
    auto &voice() const { return m.m_voice; }
    auto &mode() const { return m.m_mode; }
    auto &cyclic() const { return m.m_cyclic; }
    auto &hq() const { return m.m_hq; }
    auto &poly() const { return m.m_poly; }
    auto &alternate() const { return m.m_alternate; }
    auto &swapOutputs() const { return m.m_swap_outputs; }
    auto &outputsStatic() const { return m.m_outputs_static; }
    auto &useSse() const { return m.m_use_sse; }
    auto &twoOverSr() const { return m.m_two_over_sr; }
    auto &carrierPhase() const { return m.m_carrier_phase; }
    auto &spacingPhase() const { return m.m_spacing_phase; }
    auto &combPhase() const { return m.m_comb_phase; }
    auto &level() const { return m.m_level; }
    auto &nyquist() const { return m.m_nyquist; }
    auto &fc() const { return m.m_fc; }
    auto &fm1() const { return m.m_fm1; }
    auto &N() const { return m.m_N; }
    auto &a() const { return m.m_a; }
    auto &gate() const { return m.m_gate; }
    auto &detune() const { return m.m_detune; }
    auto &sync() const { return m.m_sync; }
    auto &combfreq() const { return m.m_combfreq; }
    auto &combphase() const { return m.m_combphase; }
    auto &outputl() const { return m.m_outputl; }
    auto &outputr() const { return m.m_outputr; }
    auto &pool() const { return m.m_pool; }
    auto &vectorUnit() const { return m.m_vector_unit; }
    auto &sharesPool() const { return m.m_shares_pool; }

    // Byte offset of `field` from the start of a Module, as this compiler lays it out; a
    // constant, so that a compiler that cannot run here can still put it in a table.
    // GCC and MinGW both accept offsetof on this non-standard-layout class (no virtual base).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
    static constexpr uint32_t offsetOf(ModuleField field) {
        switch (field) {
        case ModuleField::CarrierPhase:
            return offsetof(Module, m_carrier_phase);
        case ModuleField::SpacingPhase:
            return offsetof(Module, m_spacing_phase);
        case ModuleField::CombPhase:
            return offsetof(Module, m_comb_phase);
        case ModuleField::Level:
            return offsetof(Module, m_level);
        case ModuleField::TwoOverSr:
            return offsetof(Module, m_two_over_sr);
        case ModuleField::Nyquist:
            return offsetof(Module, m_nyquist);
        case ModuleField::Cyclic:
            return offsetof(Module, m_cyclic);
        case ModuleField::Voice:
            return offsetof(Module, m_voice);
        case ModuleField::SwapOutputs:
            return offsetof(Module, m_swap_outputs);
        case ModuleField::Sign1:
            return offsetof(Module, m_sign1);
        case ModuleField::Sign2:
            return offsetof(Module, m_sign2);
        case ModuleField::Pool:
            return offsetof(Module, m_pool);
        case ModuleField::Count:
            break;
        }
        return 0;
    }
#pragma GCC diagnostic pop

private:
    M &m;
};

using ModuleProbe = BasicModuleProbe<Module>;
using ConstModuleProbe = BasicModuleProbe<const Module>;
