#include "tools/validate/pitch_estimate.h"

double crossingFrequency(const float *x, size_t count) {
    double first = -1.0, last = -1.0;
    size_t crossings = 0;
    for (size_t i = 1; i < count; ++i) {
        if (x[i - 1] < 0.0f && x[i] >= 0.0f) {
            const double a = x[i - 1], b = x[i];
            const double t = double(i - 1) + a / (a - b);
            if (crossings == 0) {
                first = t;
            }
            last = t;
            ++crossings;
        }
    }
    if (crossings < 2 || last <= first) {
        return 0.0;
    }
    return double(crossings - 1) / (last - first);
}
