// Vector lanes of one width, in the compilers' vector extensions: W double lanes (D), int64 lanes
// of the same width for masks and bit patterns (I), W float lanes (F) and 2W float lanes (F2). A
// vector unit's lane type derives from VectorLanes and adds the two operations whose instructions
// differ between units: roundHalfEven and sqrt. Code over lanes is written once, as templates
// over such a lane type (kernels/sin_cos_lanes.h, oscillator/lanes/), and instantiated only in
// the unit's own file, under its target.
#pragma once

#include <cstdint>
#include <cstring>

template <int32_t Width> struct VectorLanes {
    static constexpr int32_t W = Width;
    typedef double D __attribute__((vector_size(8 * Width)));
    typedef int64_t I __attribute__((vector_size(8 * Width)));
    typedef float F __attribute__((vector_size(4 * Width)));
    typedef float F2 __attribute__((vector_size(8 * Width)));
};
