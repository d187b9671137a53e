// The interposed allocator: each entry forwards to glibc's own (__libc_malloc and kin) and keeps
// the books. Nothing here may allocate; the tracking table is a fixed array with linear probing
// and backward-shift deletion. The host drives the module from one thread; only that thread's
// allocations and locks are counted while it watches (a fuzzing engine or a sanitizer runtime
// may allocate on threads of its own at any moment).
#include "tools/validate/shared/heap_watch.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <malloc.h>
#include <pthread.h>
#include <unistd.h>

// GCC says __SANITIZE_ADDRESS__; clang only answers __has_feature.
#if defined(__SANITIZE_ADDRESS__)
#define TARN_HEAP_HOOKS 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TARN_HEAP_HOOKS 1
#endif
#endif

#if defined(TARN_HEAP_HOOKS)
// The sanitizer runtime's allocation hooks (its allocator_interface.h, which GCC does not
// ship).
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*mallocHook)(const volatile void *,
                                                                            size_t),
                                                         void (*freeHook)(const volatile void *));
extern "C" size_t __sanitizer_get_allocated_size(const volatile void *p);
#endif

namespace {

constexpr size_t TABLE_SIZE = size_t{1} << 17; // power of two, 2-3 MB of bss

struct Slot {
    uintptr_t key; // block address; 0 marks an empty slot
    size_t size;
};

Slot table[TABLE_SIZE];
heap_watch::Counters books;
// Volatile: the compiler takes malloc for a function that reads and writes none of our
// globals, and would otherwise move or drop a store to it around a call.
volatile bool watchingNow = false;
// The thread that turned the watch on, read only while watchingNow; volatile for the same
// reason.
volatile pthread_t watcher;

bool watchedThread() {
    return watchingNow && pthread_equal(pthread_self(), watcher) != 0;
}

size_t home(uintptr_t key) {
    return static_cast<size_t>((key >> 4) * 0x9E3779B97F4A7C15ull) & (TABLE_SIZE - 1);
}

void track(const void *p, size_t size) {
    const uintptr_t key = reinterpret_cast<uintptr_t>(p);
    if (books.tracked >= TABLE_SIZE / 2) {
        ++books.untracked;
        return;
    }
    size_t i = home(key);
    while (table[i].key != 0) {
        i = (i + 1) & (TABLE_SIZE - 1);
    }
    table[i] = Slot{key, size};
    ++books.tracked;
    books.tracked_bytes += static_cast<int64_t>(size);
}

size_t find(uintptr_t key) {
    for (size_t i = home(key);; i = (i + 1) & (TABLE_SIZE - 1)) {
        if (table[i].key == key) {
            return i;
        }
        if (table[i].key == 0) {
            return TABLE_SIZE;
        }
    }
}

void untrack(const void *p) {
    size_t i = find(reinterpret_cast<uintptr_t>(p));
    if (i == TABLE_SIZE) {
        return;
    }
    --books.tracked;
    books.tracked_bytes -= static_cast<int64_t>(table[i].size);
    table[i].key = 0;
    // Backward shift: pull later entries of the probe run into the hole.
    for (size_t j = (i + 1) & (TABLE_SIZE - 1); table[j].key != 0; j = (j + 1) & (TABLE_SIZE - 1)) {
        const size_t h = home(table[j].key);
        const bool movable = (j > i) ? (h <= i || h > j) : (h <= i && h > j);
        if (movable) {
            table[i] = table[j];
            table[j].key = 0;
            i = j;
        }
    }
}

void noteAllocation(const void *p, size_t size) {
    if (!p) {
        return;
    }
    books.live_bytes += static_cast<int64_t>(size);
    if (watchedThread()) {
        ++books.allocations;
        track(p, size);
    }
}

void noteFree(const void *p, size_t size) {
    if (!p) {
        return;
    }
    books.live_bytes -= static_cast<int64_t>(size);
    if (watchedThread()) {
        ++books.frees;
    }
    if (books.tracked > 0) {
        untrack(p);
    }
}

} // namespace

namespace heap_watch {

void setWatching(bool on) {
    if (on) {
        watcher = pthread_self();
    }
    watchingNow = on;
}
bool watching() {
    return watchingNow;
}
Counters counters() {
    return books;
}
bool isTrackedBlock(const void *p) {
    return p && find(reinterpret_cast<uintptr_t>(p)) != TABLE_SIZE;
}
void forgetTracked() {
    std::memset(table, 0, sizeof table);
    books.tracked = 0;
    books.tracked_bytes = 0;
}

} // namespace heap_watch

#if defined(TARN_HEAP_HOOKS)

namespace {
void mallocHook(const volatile void *p, size_t size) {
    noteAllocation(const_cast<const void *>(p), size);
}
void freeHook(const volatile void *p) {
    const void *block = const_cast<const void *>(p);
    noteFree(block, __sanitizer_get_allocated_size(block));
}
const bool hooksInstalled = __sanitizer_install_malloc_and_free_hooks(mallocHook, freeHook) != 0;
} // namespace

#else

extern "C" {
void *__libc_malloc(size_t size);
void *__libc_calloc(size_t count, size_t size);
void *__libc_realloc(void *p, size_t size);
void *__libc_memalign(size_t alignment, size_t size);
void __libc_free(void *p);

void *malloc(size_t size) {
    void *p = __libc_malloc(size);
    noteAllocation(p, p ? malloc_usable_size(p) : 0);
    return p;
}

void *calloc(size_t count, size_t size) {
    void *p = __libc_calloc(count, size);
    noteAllocation(p, p ? malloc_usable_size(p) : 0);
    return p;
}

void *realloc(void *old, size_t size) {
    const size_t oldSize = old ? malloc_usable_size(old) : 0;
    void *p = __libc_realloc(old, size);
    if (p || (old && size == 0)) {
        noteFree(old, oldSize);
    }
    noteAllocation(p, p ? malloc_usable_size(p) : 0);
    return p;
}

void *reallocarray(void *old, size_t count, size_t size) {
    if (size != 0 && count > SIZE_MAX / size) {
        errno = ENOMEM;
        return nullptr;
    }
    return realloc(old, count * size);
}

void free(void *p) {
    noteFree(p, p ? malloc_usable_size(p) : 0);
    __libc_free(p);
}

void *memalign(size_t alignment, size_t size) {
    void *p = __libc_memalign(alignment, size);
    noteAllocation(p, p ? malloc_usable_size(p) : 0);
    return p;
}

void *aligned_alloc(size_t alignment, size_t size) {
    return memalign(alignment, size);
}

int posix_memalign(void **out, size_t alignment, size_t size) {
    if (alignment < sizeof(void *) || (alignment & (alignment - 1)) != 0) {
        return EINVAL;
    }
    void *p = memalign(alignment, size);
    if (!p) {
        return ENOMEM;
    }
    *out = p;
    return 0;
}

void *valloc(size_t size) {
    return memalign(static_cast<size_t>(sysconf(_SC_PAGESIZE)), size);
}

void *pvalloc(size_t size) {
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    return memalign(page, (size + page - 1) & ~(page - 1));
}
}

#endif

// A tool that replaces malloc itself (valgrind) bypasses these books: probed once with one
// watched allocation, kept alive through a volatile pointer so that it is not optimised away.
bool heap_watch::active() {
    static int state = -1;
    if (state < 0) {
        const bool wasWatching = watchingNow;
        const uint64_t before = books.allocations;
        watcher = pthread_self();
        watchingNow = true;
        // Through a volatile pointer: a call the compiler could inline would reach this file's
        // malloc even where a tool has replaced it.
        void *(*volatile allocate)(size_t) = &std::malloc;
        void *volatile probe = allocate(1);
        watchingNow = wasWatching;
        // The books changed behind the compiler's back, inside malloc.
        asm volatile("" ::: "memory");
        state = books.allocations != before ? 1 : 0;
        std::free(probe);
    }
    return state == 1;
}

// Locks: counted while watching, then passed on to the C library's own.
// The next definitions are looked up on first use, without a function-local static, whose
// guard could itself take a lock.
namespace {
typedef int (*MutexFunction)(pthread_mutex_t *);
MutexFunction nextLock = nullptr;
MutexFunction nextTryLock = nullptr;
MutexFunction nextFunction(const char *name) {
    return reinterpret_cast<MutexFunction>(dlsym(RTLD_NEXT, name));
}
} // namespace

extern "C" int pthread_mutex_lock(pthread_mutex_t *mutex) {
    if (!nextLock) {
        nextLock = nextFunction("pthread_mutex_lock");
    }
    if (watchedThread()) {
        ++books.locks;
    }
    return nextLock(mutex);
}

extern "C" int pthread_mutex_trylock(pthread_mutex_t *mutex) {
    if (!nextTryLock) {
        nextTryLock = nextFunction("pthread_mutex_trylock");
    }
    if (watchedThread()) {
        ++books.locks;
    }
    return nextTryLock(mutex);
}
