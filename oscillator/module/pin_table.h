// The oscillator's sixteen pins: their numbers and their fixed descriptions (name, direction,
// data type, default and list texts). Which Module member each pin binds is Module's business.
#pragma once

#include <cstdint>

constexpr int32_t PIN_FC = 0;
constexpr int32_t PIN_FM1 = 1;
constexpr int32_t PIN_N = 2;
constexpr int32_t PIN_A = 3;
constexpr int32_t PIN_GATE = 4;
constexpr int32_t PIN_DETUNE = 5;
constexpr int32_t PIN_SYNC = 6;
constexpr int32_t PIN_MODE = 7;
constexpr int32_t PIN_COMBFREQ = 8;
constexpr int32_t PIN_COMBPHASE = 9;
constexpr int32_t PIN_CYCLIC = 10;
constexpr int32_t PIN_HQ = 11;
constexpr int32_t PIN_POLY = 12;
constexpr int32_t PIN_ALTERNATE = 13;
constexpr int32_t PIN_OUTPUTL = 14;
constexpr int32_t PIN_OUTPUTR = 15;
constexpr int32_t PIN_COUNT = 16;

// One row of the table. Null texts are fields that the description leaves as the asker had
// them. The texts are library constants, valid while the library is loaded.
struct PinRow {
    const char *name;
    int32_t direction;          // DR_IN or DR_OUT
    int32_t datatype;           // DT_FSAMPLE or DT_ENUM
    const char *default_value;  // a list value, not a label; null for the outputs
    const char *datatype_extra; // "label=value,..." for DT_ENUM pins, else null
};

// Rows 0 to PIN_COUNT - 1, indexed by pin number.
extern const PinRow PIN_TABLE[PIN_COUNT];
