// The figures of one scenario run, as its result line reports them. The runner keeps them in
// memory shared with the scenario's child process, so they survive a crash or a watchdog kill.
#pragma once

#include <cstdint>

struct RunFigures {
    uint64_t host_calls;       // calls into the module: make, dispatch, process, event
    uint64_t samples;          // output samples the module was asked to produce, per pin pair
    uint64_t nonfinite;        // NaN or infinite output samples
    uint64_t subnormal;        // subnormal output samples
    uint64_t allocations;      // heap allocations inside process and event calls
    uint64_t locks;            // mutex locks inside process and event calls
    uint64_t failures;         // failed checks of any kind
    uint32_t assertions;       // contract breaches reported by the plug-in
    int64_t leaked_bytes;      // bytes the module allocated and never freed
    double worst_call_seconds; // longest single call into the module
    char first_failure[200];   // "check: detail" of the first failure, or empty
    // The call in progress, for the parent's watchdog: whether one runs, and since when
    // (whole seconds of the monotonic clock, which parent and child share).
    volatile int32_t call_active;
    volatile int64_t call_started;
};
