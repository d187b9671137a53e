// The rule for code compiled for one vector unit: TARN_UNIT_TARGET_BEGIN("unit") ...
// TARN_UNIT_TARGET_END around it, TARN_SSE2_DOUBLES_BEGIN/END for the block render path's files.
#pragma once

// Only the functions after TARN_UNIT_TARGET_BEGIN use the unit's instructions. Every header with
// external inline functions (the standard library's and ours) is included before it, so that no
// copy of those (a shared COMDAT copy the linker may pick for every caller) is emitted with wider
// instructions than the rest of the library; the headers after it (the lanes and the maths) have
// internal linkage. The scalar doubles there are SSE2 too (fpmath=sse), which 32-bit builds do
// not use by default, and the code is tuned for today's processors (tune=generic): the 32-bit
// builds' i686 tuning splits every unaligned vector load in two. The block render path's files
// (render/) run only where a vector unit exists, and their scalar steps and per-sample sums must
// round as the lanes do: on 32-bit builds they take SSE2 doubles in place of x87
// (TARN_SSE2_DOUBLES_BEGIN), on x86-64 they have them already. scripts/check-vector-code.sh holds
// the list of files built this way.
#define TARN_PRAGMA(x) _Pragma(#x)
#if defined(__clang__)
#define TARN_UNIT_TARGET_BEGIN(UNIT)                                                               \
    TARN_PRAGMA(clang attribute push(__attribute__((target(UNIT))), apply_to = function))
#define TARN_UNIT_TARGET_END TARN_PRAGMA(clang attribute pop)
#else
#define TARN_UNIT_TARGET_BEGIN(UNIT)                                                               \
    TARN_PRAGMA(GCC push_options) TARN_PRAGMA(GCC target(UNIT, "fpmath=sse", "tune=generic"))
#define TARN_UNIT_TARGET_END TARN_PRAGMA(GCC pop_options)
#endif

#if defined(__i386__)
#define TARN_SSE2_DOUBLES_BEGIN TARN_UNIT_TARGET_BEGIN("sse2")
#define TARN_SSE2_DOUBLES_END TARN_UNIT_TARGET_END
#else
#define TARN_SSE2_DOUBLES_BEGIN
#define TARN_SSE2_DOUBLES_END
#endif
