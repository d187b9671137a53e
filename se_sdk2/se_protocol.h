// Numbers of the host protocol: dispatcher opcodes (host to module), callback requests (module
// to host), pin flags, directions, data types, event types, stream statuses and record tags.
// All are plain int32_t constants; no enum type is ever stored in a wire record.
#pragma once

#include <cstdint>

// Dispatcher opcodes, host to module. Opcodes 4, 5, 9, 11 and above 13 are ignored; 7 and 10
// are outside the protocol and reported as a contract breach.
constexpr int32_t MOD_OPEN = 0;               // build pins, install the first process routine
constexpr int32_t MOD_CLOSE = 1;              // close, then the object deletes itself; answers 1
constexpr int32_t MOD_SET_SAMPLE_RATE = 2;    // opt = sample rate in Hz
constexpr int32_t MOD_SET_BLOCK_SIZE = 3;     // value = samples per block
constexpr int32_t MOD_GET_PIN_PROPERTIES = 6; // index = description, ptr = SEPinProperties*
constexpr int32_t MOD_NOTIFY = 8;             // index > 0 also reaches onNotifyIndex
constexpr int32_t MOD_MESSAGE = 12;           // value, index, ptr passed to onMessage
constexpr int32_t MOD_GET_PROCESS_INFO = 13;  // answers the address of an SEProcessInfo

// Callback requests, module to host. Unused arguments are 0 or null, opt is always 0.0.
constexpr int32_t HOST_SET_PIN_STATUS = 0;   // index pin, value status, ptr = sample clock
constexpr int32_t HOST_PIN_QUERY = 1;        // index pin; nonzero answer means yes
constexpr int32_t HOST_GET_SAMPLE_CLOCK = 3; // answers the current sample clock (uint32)
constexpr int32_t HOST_SEND_PIN_DATA = 4;    // index pin, value data word, ptr = sample clock
constexpr int32_t HOST_GET_PIN_BUFFER = 7;   // index pin; answers the float buffer address
constexpr int32_t HOST_GET_BLOCK_START = 8;  // index pin; answers the clock of buffer element 0
constexpr int32_t HOST_SLEEP = 10;           // the module has nothing more to produce
constexpr int32_t HOST_GET_PIN_COUNT = 14;   // answers the number of pins of the instance
constexpr int32_t HOST_POST_EVENT = 19;      // ptr = SEEvent*, valid only during the call
constexpr int32_t HOST_PROCESS_CHANGED = 22; // re-read the record's process_entry

// Pin flags (SEPinProperties::flags).
constexpr int32_t IO_REPEATING = 0x8;          // last pin repeats to fill the host's pin count
constexpr int32_t IO_PRIVATE = 0x100;          // not shown to the user
constexpr int32_t IO_UI_COMMUNICATION = 0x400; // user-interface pin: no SEPin unless IO_KEEP_PIN
constexpr int32_t IO_KEEP_PIN = 0x8000;        // a user-interface pin that still gets an SEPin
constexpr int32_t IO_PATCH_STORE = 0x10000;    // stored with the patch; see the dispatcher rule

// Pin directions (SEPinProperties::direction).
constexpr int32_t DR_IN = 0;
constexpr int32_t DR_OUT = 1;

// Pin data types (SEPinProperties::datatype). Other codes exist; this library uses these two.
constexpr int32_t DT_ENUM = 0;    // list setting, bound to a 16-bit signed member
constexpr int32_t DT_FSAMPLE = 5; // audio stream, bound to a float* member (the block buffer)

// Event types (SEEvent::type). Any other type is ignored.
constexpr int32_t EV_PIN_STATUS = 0; // value1 = stream status, pointer = pin number
constexpr int32_t EV_PIN_DATA = 2;   // value1 = data word, low 16 bits of value2 = identifier
constexpr int32_t EV_CALL = 21;      // pointer = operation made by scheduleCall

// Stream statuses (pin status requests and EV_PIN_STATUS events). Other values pass unchanged.
constexpr int32_t STREAM_STEADY = 0;        // the value is constant
constexpr int32_t STREAM_SINGLE_CHANGE = 1; // changed once, constant from here on
constexpr int32_t STREAM_RUNNING = 2;       // may change at every sample

// Fixed contents of the records the library fills.
constexpr int32_t SE_RECORD_MAGIC = 0x25824;       // SEModuleRecord::magic
constexpr int32_t SE_RECORD_VERSION = 1;           // SEModuleRecord::version
constexpr int32_t SE_SDK_VERSION = 2230;           // SEModuleProperties::sdk_version
constexpr int32_t SE_PROCESS_INFO_VERSION = 1;     // SEProcessInfo::version
constexpr int32_t SE_PROCESS_INFO_CONSTANT = 1002; // SEProcessInfo::host_constant; the host's
