// The operations of a fuzz_voice_table input, shared by its decoder and the corpus generator:
// each one byte (modulo VT_COUNT) and its arguments. "voice" is one byte, modulo the live
// voices (the operation is skipped when there is none); a limit or mode is a selector byte
// below 0x80 picking from VT_NUMBERS, or from 0x80 on the next two bytes as an int16.
#pragma once

#include <cstdint>

constexpr uint8_t VT_JOIN = 0;      // rate value: acquireVoicePool (an instance constructed)
constexpr uint8_t VT_LEAVE = 1;     // voice: releaseVoicePool (an instance destroyed)
constexpr uint8_t VT_NOTE = 2;      // voice, limit: noteOn
constexpr uint8_t VT_ALTERNATE = 3; // voice, mode: setAlternateMode
constexpr uint8_t VT_STRAY = 4;     // voice, slot number, limit: noteOn on a slot outside 0..23
constexpr uint8_t VT_DECAY = 5;     // voice: blockDecayStep against the model's release flag
constexpr uint8_t VT_COUNT = 6;

// Live voices at most: more than two generations.
constexpr int32_t VT_MAX_LIVE = 64;

constexpr int16_t VT_NUMBERS[] = {1,  2,  3,  4,  5,  6, 7,  8,  9,  10,    11,
                                  12, 13, 14, 15, 16, 0, -1, 24, 25, 32767, -32768};
constexpr uint8_t VT_NUMBER_COUNT = sizeof VT_NUMBERS / sizeof VT_NUMBERS[0];
constexpr uint8_t VT_RAW_NUMBER = 0x80;

// Slot numbers no instance can hold, for VT_STRAY (by the byte modulo their count).
constexpr int16_t VT_STRAY_SLOTS[] = {-1, 24, 25, -32768, 32767, 100};
constexpr uint8_t VT_STRAY_SLOT_COUNT = sizeof VT_STRAY_SLOTS / sizeof VT_STRAY_SLOTS[0];
