// The operations of a fuzz_operations input, shared by its decoder and the corpus generator.
// An input is a header (host block size, host sample rate) and then operations, each one
// byte (taken modulo OP_COUNT) followed by its arguments, read with FuzzBytes:
//   instance  one byte, modulo the live instances (the operation is skipped when none is)
//   pin       one byte, modulo the instance's pins (audio inputs or lists where it says so)
//   at        inRange(position, block size - 1): a buffer element not yet rendered
//   value     FuzzBytes::value()
#pragma once

#include <cstdint>

// Header: one byte picking the host's block size from BLOCK_SIZES (a byte at or past its end
// gives 1 + the next byte), then the rate makeInstance's instances would get, as a value.
constexpr int32_t BLOCK_SIZES[] = {64, 1, 2, 3, 5, 16, 31, 127, 128, 1000, 4096, 17};
constexpr uint8_t BLOCK_SIZE_COUNT = sizeof BLOCK_SIZES / sizeof BLOCK_SIZES[0];

// Live instances at most, and instances made in one input at most.
constexpr int32_t MAX_LIVE_INSTANCES = 40;
constexpr int32_t MAX_MADE_INSTANCES = 96;

constexpr uint8_t OP_MAKE = 0;         // selector byte; with bit 7 set, index u32 and kind u32
constexpr uint8_t OP_OPEN = 1;         // instance: MOD_OPEN (once; see OP_REOPEN)
constexpr uint8_t OP_CLOSE = 2;        // instance: MOD_CLOSE
constexpr uint8_t OP_SAMPLE_RATE = 3;  // instance, value: MOD_SET_SAMPLE_RATE
constexpr uint8_t OP_BLOCK_SIZE = 4;   // instance, u32: MOD_SET_BLOCK_SIZE
constexpr uint8_t OP_LIST = 5;         // instance, list pin, list setting (list_settings.h)
constexpr uint8_t OP_INPUT = 6;        // instance, audio pin, at, value: a held change
constexpr uint8_t OP_FILL = 7;         // instance, audio pin, at, count byte, count values
constexpr uint8_t OP_STATUS = 8;       // instance, any pin, offset u16, status (below)
constexpr uint8_t OP_PROCESS = 9;      // offset inRange(position, size), count u16 (fitted)
constexpr uint8_t OP_RUN = 10;         // samples u16 (modulo 4 block sizes)
constexpr uint8_t OP_NEXT_BLOCK = 11;  // the rest of the block left unrendered
constexpr uint8_t OP_CLOCK = 12;       // u32: a new block at that clock (wraps at 2^32)
constexpr uint8_t OP_DISPATCH = 13;    // instance, opcode byte (IGNORED_OPCODES...), u32, u32
constexpr uint8_t OP_EVENT = 14;       // instance, type byte, offset u16, u32, u32
constexpr uint8_t OP_RAW_PROCESS = 15; // instance, at, count u16: called outside the host loop
constexpr uint8_t OP_REOPEN = 16;      // instance: MOD_OPEN again on an open instance
constexpr uint8_t OP_PROPERTIES = 17;  // u32 index: getModuleProperties
constexpr uint8_t OP_NOTE = 18;        // instance, at: gate 1 and a "sync" rise there
constexpr uint8_t OP_COUNT = 19;

// Status: a byte below 0x80 picks from STATUS_VALUES; from 0x80 on, the next four bytes.
constexpr int32_t STATUS_VALUES[] = {1, 2, 0, 3, -1};
constexpr uint8_t RAW_STATUS_SELECTOR = 0x80;

// OP_DISPATCH opcodes, by the byte modulo their count: the ignored ones, MOD_NOTIFY,
// MOD_MESSAGE, MOD_GET_PROCESS_INFO and MOD_GET_PIN_PROPERTIES (with a host record whose
// flags are 0). Never 7 or 10 (contract breaches), open or close (operations of their own).
constexpr int32_t DISPATCH_OPCODES[] = {6,  8,  12, 13, 4,  5,  9,  11,        14,
                                        15, 20, 22, 40, -1, -5, 99, 2147483647};
constexpr uint8_t DISPATCH_OPCODE_COUNT = sizeof DISPATCH_OPCODES / sizeof DISPATCH_OPCODES[0];

// OP_EVENT types, by the byte modulo their count: pin data and types the module ignores; never
// EV_CALL (whose pointer only the module makes) or EV_PIN_STATUS (OP_STATUS, existing pins).
constexpr int32_t EVENT_TYPES[] = {2, 1, 6, 22, -1, 3, 100};
constexpr uint8_t EVENT_TYPE_COUNT = sizeof EVENT_TYPES / sizeof EVENT_TYPES[0];
