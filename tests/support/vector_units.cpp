#include "support/vector_units.h"

#include "oscillator/lanes/lane_passes.h"

#include <gtest/gtest.h>

const char *vectorUnitName(VectorUnit unit) {
    return unit == VectorUnit::Sse2 ? "sse2" : unit == VectorUnit::Avx2 ? "avx2" : "avx512";
}

std::vector<VectorUnit> vectorUnitsOfThisProcessor() {
    std::vector<VectorUnit> units;
    for (VectorUnit u : {VectorUnit::Sse2, VectorUnit::Avx2, VectorUnit::Avx512}) {
        if (u > widestVectorUnit()) {
            break;
        }
        if (lanePasses(u) != nullptr) {
            units.push_back(u);
        } else {
            ADD_FAILURE() << vectorUnitName(u) << " chosen by the feature test but has no passes";
        }
    }
    return units;
}
