// The header of a fuzz_pin_buffers input, shared by its decoder and the corpus generator:
// a block-size byte (modulo the table), the sample rate as a FuzzBytes value, one list
// setting per list pin in pin order, then raw floats: per block, blockSize samples for each
// audio input in pin order.
#pragma once

#include <cstdint>

constexpr int32_t PIN_BUFFER_BLOCK_SIZES[] = {64, 16, 1, 3, 128, 31, 256};
constexpr uint8_t PIN_BUFFER_BLOCK_SIZE_COUNT =
    sizeof PIN_BUFFER_BLOCK_SIZES / sizeof PIN_BUFFER_BLOCK_SIZES[0];
