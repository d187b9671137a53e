// Frequency of a sampled sinusoid measured from the signal alone: the number of whole periods
// between its first and last rising zero crossings, over the time between them, each crossing
// placed by linear interpolation between its two samples.
#pragma once

#include <cstddef>

// Cycles per sample of the sinusoid in x[0..count); 0.0 when it has fewer than two rising
// crossings. Exact for a pure sinusoid up to the interpolation error of the two end crossings,
// at most about 0.1 samples each up to 0.45 cycles per sample: a relative error below
// 0.25 / count, under 1e-4 over 8192 samples.
double crossingFrequency(const float *x, size_t count);
