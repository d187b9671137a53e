// One block's pin buffers, the only thing the render loops know of the module's pins.
#pragma once

#include <cstdint>

// Taken from the buffer offset on; first and second are the destinations of the two signals
// after the swap.
struct BlockIo {
    const float *fc, *fm1, *a, *gate, *detune, *combfreq, *combphase;
    float *first, *second;
};

// The same buffers from sample `begin` on.
static inline BlockIo blockIoFrom(const BlockIo &io, int32_t begin) {
    return {io.fc + begin,        io.fm1 + begin,    io.a + begin,
            io.gate + begin,      io.detune + begin, io.combfreq + begin,
            io.combphase + begin, io.first + begin,  io.second + begin};
}
