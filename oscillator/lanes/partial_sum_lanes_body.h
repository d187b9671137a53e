// The lane passes' body, written once for every width: partialSum's arithmetic in W-lane
// vectors, operation for operation (no reassociation, no fused multiply-add), with selects in
// place of branches. Included only by the per-width files, inside their target region, after
// they define W, the vector types VD (double), VI (int64), VF (float), all of W lanes, VF2
// (float, 2W lanes), roundHalfEven(VD) and sqrtLanes(VD). Everything here has internal
// linkage.
#ifndef TARN_PARTIAL_SUM_LANES_BODY
#define TARN_PARTIAL_SUM_LANES_BODY

namespace {

inline VD loadLanes(const double *p) {
    VD v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// x in every lane; x - (+0.0) keeps the sign of a zero x.
inline VD splatLanes(double x) {
    return x - VD{};
}

// The sines and cosines of the passes.
#include "kernels/sin_cos_lanes.h"

// What the sum of W lanes takes besides the carrier and spacing: the ratio and its z, the
// power, the comb's sine and cosine, the count and the gains.
struct SumLanesIn {
    VD A, C, zr, zi, wr, wi, R, sq, cq, K, gain1, gain2;
};

// The loads of sumInputsFrom: lanes [j, j + W), or element 0 in every lane. Function objects,
// not lambdas: GCC does not give a lambda's body the target of the region around it.
struct LanesAt {
    int32_t j;
    VD operator()(const double *p) const { return loadLanes(p + j); }
};

struct LaneZero {
    VD operator()(const double *p) const { return splatLanes(*p); }
};

// The inputs of the sum for the lanes a load gives.
template <bool Precise, class Load> inline SumLanesIn sumInputsFrom(const LaneBlock &b, Load load) {
    SumLanesIn in;
    VD sC, cC;
    in.C = load(b.C);
    sinCosPath<Precise>(in.C, sC, cC);
    sinCosPath<Precise>(load(b.phiQ), in.sq, in.cq);
    in.A = load(b.A);
    in.zr = in.A * cC;
    in.zi = in.A * sC;
    in.wr = load(b.wr);
    in.wi = load(b.wi);
    in.R = load(b.R);
    in.K = load(b.K);
    in.gain1 = load(b.gain1);
    in.gain2 = load(b.gain2);
    return in;
}

template <bool Precise> inline SumLanesIn sumInputsAt(const LaneBlock &b, int32_t j) {
    return sumInputsFrom<Precise>(b, LanesAt{j});
}

// The powers z^(K+1) of W lanes.
#include "oscillator/lanes/complex_power_lanes.h"

// Lanes [j, j + W) of a mask as bits j.. of a word.
inline uint64_t laneBits(VI mask, int32_t j) {
    uint64_t out = 0;
    for (int32_t l = 0; l < W; ++l) {
        out |= static_cast<uint64_t>(mask[l] & 1) << (j + l);
    }
    return out;
}

// The power of the lanes of [j, j + W) that `lanes` names (bit l for lane j + l) into `in`,
// the given powers of the others kept; returns, as bits j.., the named lanes that partialSum
// takes into its dominant branch, and on the precise path those beyond the sine's range.
template <bool Precise> inline uint64_t formPowerAt(SumLanesIn &in, int32_t j, uint64_t lanes) {
    VD wr, wi, R;
    VI kept;
    if (Precise) {
        VI inRange;
        precisePowerLanes(in.A, in.C, in.K, wr, wi, R, inRange);
        kept = inRange & withinLanes(R, DOMINANT_POWER_LIMIT);
    } else {
        fastPowerLanes(in.zr, in.zi, in.K, wr, wi, R);
        kept = withinLanes(R, DOMINANT_POWER_LIMIT);
    }
    if (lanes == (uint64_t{1} << W) - 1) {
        in.wr = wr;
        in.wi = wi;
        in.R = R;
    } else {
        VI named;
        for (int32_t l = 0; l < W; ++l) {
            named[l] = -static_cast<int64_t>((lanes >> l) & 1u);
        }
        in.wr = named ? wr : in.wr;
        in.wi = named ? wi : in.wi;
        in.R = named ? R : in.R;
    }
    return laneBits(~kept, j) & (lanes << j);
}

// audibleSample: in-range magnitudes narrowed, everything else (NaN included) 0.0.
inline VF audibleLanes(VD x) {
    const double lo = static_cast<double>(FLT_MIN), hi = static_cast<double>(FLT_MAX);
    const VI audible = ((x >= lo) & (x <= hi)) | ((x <= -lo) & (x >= -hi));
    return __builtin_convertvector(audible ? x : VD{}, VF);
}

// partialSum for lanes [j, j + W) of the block, away from the dominant branch, times the
// gains: narrowed by audibleSample's rule (Out float), or kept in double (Out double).
// Always inlined: out of line, every constant is loaded again for each W lanes.
template <bool Precise, bool OneSided, class Out>
[[gnu::always_inline]] inline void partialSumLanes(const LaneBlock &b, const SumLanesIn &in,
                                                   int32_t j, Out *first, Out *second) {
    const VD phiM = loadLanes(b.phiM + j);
    VD sc, cc, sm, cm, sK, cK;
    if (Precise) {
        sinCosPath<Precise>(loadLanes(b.phiC + j), sc, cc);
        sinCosPath<Precise>(phiM, sm, cm);
    } else {
        sinCosPiLanesF2(loadLanes(b.phiC + j), phiM, sc, cc, sm, cm);
    }
    sinCosPathOfMultiple<Precise>(in.K, phiM, sK, cK);
    const VD zr = in.zr, zi = in.zi, wr = in.wr, wi = in.wi;

    const VD sd = sc * cm - cc * sm;
    const VD cK1 = cK * cm - sm * sK;
    const VD sK1 = cK * sm + cm * sK;
    const VD sThetaK = cK * sc + sK * cc;
    const VD sThetaK1 = cK1 * sc + cc * sK1;

    VD Nr, Ni;
    if (OneSided) {
        const VD G = sThetaK1 - zr * sThetaK;
        Nr = 1.5 * ((sc - zr * sd) - wr * G - wi * zi * sThetaK);
        Ni = 1.5 * (wr * zi * sThetaK - (zi * sd) - wi * G);
    } else {
        const VD T = 2.0 * (cK1 - zr * cK);
        const VD U = 2.0 * cK * zi;
        Nr = sc * ((1.0 - zr * zr + zi * zi) - wr * T - wi * U);
        Ni = sc * (wr * U - wi * T - (2.0 * zr * zi));
    }
    const VD Dr = zr * zr - 2.0 * cm * zr - zi * zi + 1.0;
    const VD Di = 2.0 * (zr - cm) * zi;
    const VD Qr = in.cq * Nr - in.sq * Ni;
    const VD Qi = in.sq * Nr + in.cq * Ni;
    const VD g = (in.A - 1.0) * (1.0 / ((Dr * Dr + Di * Di) * 2.0 * (in.R - 1.0)));
    const VD f = ((Qr * Dr + Qi * Di) * g) * in.gain1;
    const VD s = ((Qi * Dr - Qr * Di) * g) * in.gain2;
    if constexpr (sizeof(Out) == sizeof(float)) {
        const VF fl = audibleLanes(f), sl = audibleLanes(s);
        std::memcpy(first + j, &fl, sizeof fl);
        std::memcpy(second + j, &sl, sizeof sl);
    } else {
        std::memcpy(first + j, &f, sizeof f);
        std::memcpy(second + j, &s, sizeof s);
    }
}

// A held block (every lane with lane 0's ratio, comb step, count, power and comb phase; only
// lane 0 of those is read) forms their sines and products, and the power where it is left to
// the pass, once: the same operations on the same values, so the same bits. Otherwise the
// power is formed for each W lanes that hold a lane without one.
template <bool Precise, bool OneSided, class Out>
uint64_t partialSumPass(const LaneBlock &b, Out *first, Out *second) {
    constexpr uint64_t GROUP = (uint64_t{1} << W) - 1;
    uint64_t reported = 0;
    if (b.held) {
        SumLanesIn in = sumInputsFrom<Precise>(b, LaneZero{});
        if ((b.powerLanes & 1u) != 0 && (formPowerAt<Precise>(in, 0, GROUP) & 1u) != 0) {
            reported = lanesUpTo(b.count);
        }
        for (int32_t j = 0; j < b.count; j += W) {
            in.gain1 = loadLanes(b.gain1 + j);
            in.gain2 = loadLanes(b.gain2 + j);
            partialSumLanes<Precise, OneSided>(b, in, j, first, second);
        }
        return reported;
    }
    for (int32_t j = 0; j < b.count; j += W) {
        SumLanesIn in = sumInputsAt<Precise>(b, j);
        const uint64_t lanes = (b.powerLanes >> j) & GROUP;
        if (lanes != 0) {
            reported |= formPowerAt<Precise>(in, j, lanes);
        }
        partialSumLanes<Precise, OneSided>(b, in, j, first, second);
    }
    return reported;
}

void sinCosBatch(const double *angle, double *sinOut, double *cosOut, int32_t n) {
    for (int32_t j = 0; j < n; j += W) {
        VD s, c;
        sinCosRadianLanes(loadLanes(angle + j), s, c);
        std::memcpy(sinOut + j, &s, sizeof s);
        std::memcpy(cosOut + j, &c, sizeof c);
    }
}

template <bool Precise> void powerBatch(const LaneBlock &b, double *wr, double *wi, double *R) {
    for (int32_t j = 0; j < b.count; j += W) {
        SumLanesIn in = sumInputsAt<Precise>(b, j);
        formPowerAt<Precise>(in, j, (uint64_t{1} << W) - 1);
        std::memcpy(wr + j, &in.wr, sizeof in.wr);
        std::memcpy(wi + j, &in.wi, sizeof in.wi);
        std::memcpy(R + j, &in.R, sizeof in.R);
    }
}

// The passes of this width, for lanePass.
inline LanePassTable passTable() {
    return {{&partialSumPass<false, false, float>, &partialSumPass<false, true, float>},
            {&partialSumPass<true, false, float>, &partialSumPass<true, true, float>},
            {&partialSumPass<false, false, double>, &partialSumPass<false, true, double>},
            {&partialSumPass<true, false, double>, &partialSumPass<true, true, double>},
            &sinCosBatch,
            {&powerBatch<false>, &powerBatch<true>}};
}

} // namespace

#endif
