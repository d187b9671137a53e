// msvcrt.dll as a MinGW-built DLL uses it, on top of glibc: allocation (through the process's
// malloc, so a host that interposes on it sees the image's allocations too), strings, the
// start-up helpers, the three standard streams of _iob mapped to ours, _errno and _assert.
// Every function is __cdecl; wchar_t is Windows' 16-bit one.
#include "host/pe/win32_abi.h"
#include "host/pe/windows_imports.h"

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <pthread.h>
#include <unistd.h>

// glibc's assertion facility, declared without noreturn: a host may interpose one that returns.
extern "C" void __assert_fail(const char *expression, const char *file, unsigned int line,
                              const char *function);

namespace {

void platformAssert(const char *message, const char *file, unsigned line) {
    __assert_fail(message, file, line, nullptr);
}

WindowsAssertHandler assertHandler = platformAssert;

// msvcrt's FILE is 32 bytes; the image only passes the addresses of _iob's entries around.
struct WinFile {
    uint32_t words[8];
};
WinFile iob[3];

FILE *streamOf(void *file) {
    if (file == &iob[0]) {
        return stdin;
    }
    if (file == &iob[1]) {
        return stdout;
    }
    if (file == &iob[2]) {
        return stderr;
    }
    return nullptr;
}

int winErrno = 0; // one for the process, as the thread block is

int mbCurMax = 1; // __mb_cur_max: single-byte characters only

// msvcrt's struct lconv: ten text pointers, then eight chars. The "C" locale's values.
struct WinLconv {
    const char *text[10];
    char digits[8];
};
const WinLconv cLocale = {{".", "", "", "", "", "", "", "", "", ""},
                          {CHAR_MAX, CHAR_MAX, CHAR_MAX, CHAR_MAX, CHAR_MAX, CHAR_MAX, CHAR_MAX,
                           CHAR_MAX}};

// _lock's numbered locks (msvcrt has 36), recursive as msvcrt's are.
constexpr int LOCKS = 36;
pthread_mutex_t locks[LOCKS];
pthread_once_t locksMade = PTHREAD_ONCE_INIT;

void makeLocks() {
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
    for (pthread_mutex_t &lock : locks) {
        pthread_mutex_init(&lock, &attributes);
    }
    pthread_mutexattr_destroy(&attributes);
}

long allocationBudget = -1; // negative: no limit
long liveAllocations = 0;

bool allocationAllowed() {
    if (allocationBudget == 0) {
        winErrno = ENOMEM;
        return false;
    }
    if (allocationBudget > 0) {
        --allocationBudget;
    }
    return true;
}

void *noteErrno(void *p) {
    if (p == nullptr) {
        winErrno = ENOMEM; // the same number on both sides
    }
    return p;
}

void *noteAllocation(void *p) {
    liveAllocations += p != nullptr;
    return noteErrno(p);
}

void *TARN_WINCDECL ms_malloc(size_t size) {
    return allocationAllowed() ? noteAllocation(std::malloc(size)) : nullptr;
}
void *TARN_WINCDECL ms_calloc(size_t count, size_t size) {
    return allocationAllowed() ? noteAllocation(std::calloc(count, size)) : nullptr;
}
void *TARN_WINCDECL ms_realloc(void *p, size_t size) {
    if (size != 0 && !allocationAllowed()) {
        return nullptr; // the old block stays as it was
    }
    const bool had = p != nullptr;
    void *q = std::realloc(p, size);
    // glibc frees the block for size 0 and answers null; otherwise a null answer keeps it.
    liveAllocations += (q != nullptr) - (had && (q != nullptr || size == 0));
    return size == 0 ? q : noteErrno(q);
}
void TARN_WINCDECL ms_free(void *p) {
    liveAllocations -= p != nullptr;
    std::free(p);
}

int TARN_WINCDECL ms_memcmp(const void *a, const void *b, size_t n) { return std::memcmp(a, b, n); }
void *TARN_WINCDECL ms_memcpy(void *d, const void *s, size_t n) { return std::memcpy(d, s, n); }
void *TARN_WINCDECL ms_memset(void *d, int c, size_t n) { return std::memset(d, c, n); }
const char *TARN_WINCDECL ms_strchr(const char *s, int c) { return std::strchr(s, c); }
int TARN_WINCDECL ms_strcmp(const char *a, const char *b) { return std::strcmp(a, b); }
size_t TARN_WINCDECL ms_strlen(const char *s) { return std::strlen(s); }
int TARN_WINCDECL ms_strncmp(const char *a, const char *b, size_t n) {
    return std::strncmp(a, b, n);
}
const char *TARN_WINCDECL ms_strerror(int error) { return std::strerror(error); }
int TARN_WINCDECL ms_atoi(const char *s) { return std::atoi(s); }

size_t TARN_WINCDECL ms_wcslen(const WinWchar *s) {
    size_t n = 0;
    while (s[n] != 0) {
        ++n;
    }
    return n;
}

int TARN_WINCDECL ms_fputc(int c, void *file) {
    FILE *stream = streamOf(file);
    return stream ? std::fputc(c, stream) : EOF;
}
int TARN_WINCDECL ms_fputs(const char *s, void *file) {
    FILE *stream = streamOf(file);
    return stream ? std::fputs(s, stream) : EOF;
}
size_t TARN_WINCDECL ms_fwrite(const void *p, size_t size, size_t count, void *file) {
    FILE *stream = streamOf(file);
    return stream ? std::fwrite(p, size, count, stream) : 0;
}
// An i386 va_list is a pointer to the stacked arguments on both sides.
int TARN_WINCDECL ms_vfprintf(void *file, const char *format, va_list arguments) {
    FILE *stream = streamOf(file);
    return stream ? std::vfprintf(stream, format, arguments) : -1;
}

int *TARN_WINCDECL ms_errno() { return &winErrno; }

const WinLconv *TARN_WINCDECL ms_localeconv() { return &cLocale; }

// Only the "C" locale exists.
const char *TARN_WINCDECL ms_setlocale(int /*category*/, const char *locale) {
    return locale == nullptr || locale[0] == 0 || std::strcmp(locale, "C") == 0 ? "C" : nullptr;
}

void TARN_WINCDECL ms_lock(int which) {
    pthread_once(&locksMade, makeLocks);
    if (which >= 0 && which < LOCKS) {
        pthread_mutex_lock(&locks[which]);
    }
}
void TARN_WINCDECL ms_unlock(int which) {
    if (which >= 0 && which < LOCKS) {
        pthread_mutex_unlock(&locks[which]);
    }
}

// The image's constructor tables: each entry a cdecl void(void), null entries skipped.
typedef void (*Initialiser)();
void TARN_WINCDECL ms_initterm(Initialiser *begin, Initialiser *end) {
    for (; begin < end; ++begin) {
        if (*begin != nullptr) {
            (*begin)();
        }
    }
}

void TARN_WINCDECL ms_setusermatherr(void * /*handler*/) {}

// The CRT's fatal errors ("runtime error R6xxx"): message, then exit code 255 as msvcrt does.
void TARN_WINCDECL ms_amsg_exit(int code) {
    std::fprintf(stderr, "runtime error R60%02d\n", code);
    std::fflush(stderr);
    _exit(255);
}

void TARN_WINCDECL ms_abort() { std::abort(); }

void TARN_WINCDECL ms_assert(const char *message, const char *file, unsigned line) {
    assertHandler(message, file, line);
}

} // namespace

void setWindowsAllocationBudget(long allocations) { allocationBudget = allocations; }

long windowsLiveAllocations() { return liveAllocations; }

WindowsAssertHandler setWindowsAssertHandler(WindowsAssertHandler handler) {
    const WindowsAssertHandler previous = assertHandler;
    assertHandler = handler != nullptr ? handler : platformAssert;
    return previous;
}

#define TARN_IMPORT(name, f) {name, reinterpret_cast<const void *>(&f)}
const WindowsImport MSVCRT_IMPORTS[] = {
    TARN_IMPORT("__mb_cur_max", mbCurMax),
    TARN_IMPORT("__setusermatherr", ms_setusermatherr),
    TARN_IMPORT("_amsg_exit", ms_amsg_exit),
    TARN_IMPORT("_assert", ms_assert),
    TARN_IMPORT("_errno", ms_errno),
    TARN_IMPORT("_initterm", ms_initterm),
    TARN_IMPORT("_iob", iob),
    TARN_IMPORT("_lock", ms_lock),
    TARN_IMPORT("_unlock", ms_unlock),
    TARN_IMPORT("abort", ms_abort),
    TARN_IMPORT("atoi", ms_atoi),
    TARN_IMPORT("calloc", ms_calloc),
    TARN_IMPORT("fputc", ms_fputc),
    TARN_IMPORT("fputs", ms_fputs),
    TARN_IMPORT("free", ms_free),
    TARN_IMPORT("fwrite", ms_fwrite),
    TARN_IMPORT("localeconv", ms_localeconv),
    TARN_IMPORT("malloc", ms_malloc),
    TARN_IMPORT("memcmp", ms_memcmp),
    TARN_IMPORT("memcpy", ms_memcpy),
    TARN_IMPORT("memset", ms_memset),
    TARN_IMPORT("realloc", ms_realloc),
    TARN_IMPORT("setlocale", ms_setlocale),
    TARN_IMPORT("strchr", ms_strchr),
    TARN_IMPORT("strcmp", ms_strcmp),
    TARN_IMPORT("strerror", ms_strerror),
    TARN_IMPORT("strlen", ms_strlen),
    TARN_IMPORT("strncmp", ms_strncmp),
    TARN_IMPORT("vfprintf", ms_vfprintf),
    TARN_IMPORT("wcslen", ms_wcslen),
    {nullptr, nullptr}};
#undef TARN_IMPORT
