// Module: construction, open, the pin bindings, note starts and wake-ups. The render loop is
// in ModuleRender.cpp.
#include "oscillator/module/Module.h"

#include "kernels/cpu_features.h"
#include "oscillator/module/VoicePool.h"
#include "oscillator/module/pin_table.h"
#include "oscillator/signal/pitch.h"
#include "se_sdk2/SEPin.h"
#include "se_sdk2/se_protocol.h"

#include <cmath>
#include <initializer_list>

Module::Module(HostCallback callback, intptr_t hostData, const VoiceTable &table)
    : SEModule_base(callback, hostData), m_use_sse(hasSSE()) {
    m_vector_unit = widestVectorUnit();
    m_shares_pool = table.pool == nullptr;
    if (m_shares_pool) {
        m_pool = acquireVoicePool(getSampleRate(), m_voice);
    } else {
        m_pool = table.pool;
        m_voice = table.slot;
    }
}

Module::~Module() {
    if (m_shares_pool) {
        releaseVoicePool(m_pool, m_voice);
    }
}

void Module::open() {
    // Installed before the pins exist, so the host hears of the routine change first.
    setProcessFunction(processFunction<Module, &Module::renderBlock>());
    SEModule_base::open();
    const float sr = getSampleRate();
    m_pitch = PITCH_CACHE_AT_OPEN;
    m_pitch_fc = PITCH_CACHE_AT_OPEN;
    m_outputs_static = true;
    m_level = 1.0;
    m_carrier_phase = 0.0;
    m_spacing_phase = 0.0;
    m_comb_phase = 0.0;
    // A rate that is not finite and positive has no band to play in: both constants stay 0,
    // which the render loop takes as "every sample silent".
    const bool usable = std::isfinite(sr) && sr > 0.0f;
    m_two_over_sr = usable ? 2.0 / double(sr) : 0.0;
    m_nyquist = usable ? double(sr) * 0.5 : 0.0;
}

void Module::onPlugStateChange(SEPin &pin) {
    // The gate is read first, whichever pin changed. Unbound buffers read as 0.
    SEPin *gatePin = m_gate != nullptr ? getPin(PIN_GATE) : nullptr;
    const float g = gatePin != nullptr ? gatePin->getSample() : 0.0f;
    switch (pin.getIndex()) {
    case PIN_SYNC:
        if (m_sync != nullptr && pin.getSample() > SYNC_THRESHOLD) {
            startNote();
        }
        break;
    case PIN_ALTERNATE:
        setAlternateMode(m_pool, m_alternate);
        break;
    default:
        break;
    }
    if (g > 0.0f) {
        wake();
    }
}

void Module::startNote() {
    noteOn(m_pool, m_voice, m_poly);
    m_swap_outputs = false;
    m_level = 1.0;
    m_sign1 = 1.0f;
    m_sign2 = 1.0f;
    if (m_pool == nullptr || (m_alternate & 1) == 0) {
        return;
    }
    // Bit 0 of "alternate" asks for alternation; the rest picks what alternates.
    switch (m_alternate >> 1) {
    case 0: // "L+R alt": the outputs trade places
        m_swap_outputs = m_pool->m_flip == 1;
        break;
    case 1: // "M+S alt": the second signal is inverted
        m_sign2 = m_pool->m_sign;
        break;
    case 2: // "S+M alt": the first signal is inverted
        m_sign1 = m_pool->m_sign;
        break;
    default:
        break;
    }
}

void Module::wake() {
    setProcessFunction(processFunction<Module, &Module::renderBlock>());
    announceOutputs(STREAM_RUNNING);
    m_outputs_static = false;
}

void Module::announceOutputs(int32_t status) {
    for (int32_t number : {PIN_OUTPUTL, PIN_OUTPUTR}) {
        if (SEPin *pin = getPin(number)) {
            pin->transmitStatus(SampleClock(), status);
        }
    }
}

bool Module::getPinProperties(int32_t index, SEPinProperties &properties) {
    if (index < 0 || index >= PIN_COUNT) {
        return false;
    }
    const PinRow &row = PIN_TABLE[index];
    properties.variable_address = pinMember(index);
    properties.name = row.name;
    properties.direction = row.direction;
    properties.datatype = row.datatype;
    if (row.default_value != nullptr) {
        properties.default_value = row.default_value;
    }
    if (row.datatype_extra != nullptr) {
        properties.datatype_extra = row.datatype_extra;
    }
    return true;
}

void *Module::pinMember(int32_t index) {
    void *const members[PIN_COUNT] = {
        &m_fc,       &m_fm1,       &m_N,      &m_a,  &m_gate, &m_detune,    &m_sync,    &m_mode,
        &m_combfreq, &m_combphase, &m_cyclic, &m_hq, &m_poly, &m_alternate, &m_outputl, &m_outputr,
    };
    return members[index];
}
