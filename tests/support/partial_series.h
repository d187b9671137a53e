// The partials that should sound, added one by one in long double: the independent truth for
// the closed form. Phases in half-turns, taken unwrapped (sines do not care).
#pragma once

#include <cstdint>

struct SeriesValue {
    long double first, second;
};

// One-sided: 0.75 sum_{k=0..K} A^k cos|sin(pi (k C + phiQ)) sin(pi (phiC + k phiM)) / sum A^k.
// Two-sided: 0.5 sin(pi phiC) sum_{k=-K..K} A^|k| cos|sin(pi (|k| C + phiQ)) cos(pi k phiM)
// / sum_{k=0..K} A^k. The plug-in's fast path normalises by |A|^(K+1), so there A^(K+1) must
// be positive for the two to agree.
SeriesValue partialSeries(long double phiC, long double phiM, long double phiQ, long double C,
                          long double A, int32_t K, bool oneSided);
