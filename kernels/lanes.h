// Vector lanes of one width (double D, int64 I, float F and 2W float F2) in the compilers' vector
// extensions; a unit's lane type adds roundHalfEven and sqrt. Code over lanes is templated on it
// and instantiated in the unit's own file (the rule: oscillator/lanes/unit_target.h).
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
