// Four-lane sine and cosine of half-turn phases in single-precision SSE: the scalar kernel's
// reduction, constants and operation order, every step rounded to float. Its functions alone are
// built with SSE (the processors without SSE2 have it); call it only when hasSSE() answers true.
#pragma once

// Lane i rounds xi to float, then computes sin(pi xi) and cos(pi xi); the four sines (lane 0
// to 3) are stored before the four cosines. Within 2e-7 of the true values on [-1, 1]
// (measured maximum 1.64e-7), and within 2e-7 of sinCosPi on the same phases (1.51e-7).
// No branch on the data. Pure; any thread; leaves the FP control settings alone. NaN gives NaN.
void sinCosPi4(double x0, double &sinOut0, double &cosOut0, double x1, double &sinOut1,
               double &cosOut1, double x2, double &sinOut2, double &cosOut2, double x3,
               double &sinOut3, double &cosOut3);
