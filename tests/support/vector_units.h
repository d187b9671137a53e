// The vector units a test runs the lane passes on: every unit up to the one the module would
// choose on this processor.
#pragma once

#include "kernels/cpu_features.h"

#include <vector>

// "sse2", "avx2" or "avx512".
const char *vectorUnitName(VectorUnit unit);

// Sse2 up to widestVectorUnit(), in order. A unit the feature test chooses but whose passes are
// missing is a test failure, and is left out.
std::vector<VectorUnit> vectorUnitsOfThisProcessor();
