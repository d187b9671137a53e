// Heap and lock accounting for the validator. This executable defines malloc, free and their
// kin (and pthread_mutex_lock) itself and exports them, so a plug-in that it loads into the
// same process allocates through them too. Allocations made while a module call is watched are
// counted, and the blocks they return are tracked until freed: what is left is a leak.
// Under AddressSanitizer the counting runs on the sanitizer's allocation hooks instead.
#pragma once

#include <cstddef>
#include <cstdint>

namespace heap_watch {

struct Counters {
    uint64_t allocations;  // allocations while watching
    uint64_t frees;        // frees of any block while watching
    uint64_t locks;        // pthread_mutex_lock / trylock calls while watching
    int64_t live_bytes;    // all heap bytes of the process, allocated less freed
    uint64_t tracked;      // blocks from watched allocations not yet freed
    int64_t tracked_bytes; // their bytes
    uint64_t untracked;    // watched blocks that did not fit the tracking table
};

// While on, allocations and locks are counted and their blocks tracked. Off at start.
void setWatching(bool watching);
bool watching();
Counters counters();
// True when `p` is the start of a tracked block (allocated while watching, not yet freed).
bool isTrackedBlock(const void *p);
// Forgets every tracked block (their memory stays allocated).
void forgetTracked();
// Whether allocations reach these books (the interposed allocator or the sanitizer's hooks);
// false under a tool that replaces malloc itself, such as valgrind.
bool active();

} // namespace heap_watch
