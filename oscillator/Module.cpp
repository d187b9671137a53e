// Module: construction, open, the pin bindings and the silent render routine.
#include "oscillator/Module.h"

#include "oscillator/pin_table.h"

Module::Module(HostCallback callback, intptr_t hostData) : SEModule_base(callback, hostData) {}

Module::~Module() = default;

void Module::open() {
    // Installed before the pins exist, so the host hears of the routine change first.
    setProcessFunction(processFunction<Module, &Module::renderBlock>());
    SEModule_base::open();
    const float sr = getSampleRate();
    m_pitch = -20.0f;
    m_pitch_fc = -20.0f;
    m_outputs_static = true;
    m_two_over_sr = 2.0 / double(sr);
    m_level = 1.0;
    m_carrier_phase = 0.0;
    m_spacing_phase = 0.0;
    m_comb_phase = 0.0;
    m_nyquist = double(sr) * 0.5;
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

void Module::renderBlock(int32_t bufferOffset, int32_t sampleCount) {
    if (m_outputl == nullptr || m_outputr == nullptr) {
        return;
    }
    float *left = m_outputl + bufferOffset;
    float *right = m_outputr + bufferOffset;
    for (int32_t i = 0; i < sampleCount; ++i) {
        left[i] = 0.0f;
        right[i] = 0.0f;
    }
}

void *Module::pinMember(int32_t index) {
    void *const members[PIN_COUNT] = {
        &m_fc,       &m_fm1,       &m_N,      &m_a,  &m_gate, &m_detune,    &m_sync,    &m_mode,
        &m_combfreq, &m_combphase, &m_cyclic, &m_hq, &m_poly, &m_alternate, &m_outputl, &m_outputr,
    };
    return members[index];
}
