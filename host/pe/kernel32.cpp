// KERNEL32.dll as a MinGW-built DLL uses it: critical sections, TLS slots, semaphores, page
// protection of the image, the image's own module handle and exports, and the code-page
// conversions for 8-bit text (Latin-1, of which ASCII is the part the DLL uses). Every
// function is __stdcall with exactly Windows' parameter list: the callee pops what it declares.
#include "host/pe/PeImage.h"
#include "host/pe/win32_abi.h"
#include "host/pe/windows_imports.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>
#include <pthread.h>
#include <semaphore.h>
#include <string>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

constexpr WinDword WAIT_OBJECT_0 = 0;
constexpr WinDword WAIT_TIMEOUT = 0x102;
constexpr WinDword WAIT_FAILED = 0xFFFFFFFFu;
constexpr WinDword INFINITE_WAIT = 0xFFFFFFFFu;
constexpr WinDword TLS_OUT_OF_INDEXES = 0xFFFFFFFFu;
constexpr int TLS_SLOTS = 64;

// A CRITICAL_SECTION is 24 bytes that belong to the caller: a recursive mutex fits in place.
static_assert(sizeof(pthread_mutex_t) <= 24, "a CRITICAL_SECTION holds a pthread mutex");

pthread_mutex_t *mutexOf(void *section) { return static_cast<pthread_mutex_t *>(section); }

void TARN_WINAPI InitializeCriticalSection(void *section) {
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(mutexOf(section), &attributes);
    pthread_mutexattr_destroy(&attributes);
}

void TARN_WINAPI DeleteCriticalSection(void *section) { pthread_mutex_destroy(mutexOf(section)); }

void TARN_WINAPI EnterCriticalSection(void *section) { pthread_mutex_lock(mutexOf(section)); }

void TARN_WINAPI LeaveCriticalSection(void *section) { pthread_mutex_unlock(mutexOf(section)); }

// TLS slots (TlsAlloc). One set of values serves the process, as one thread block does.
void *tlsValues[TLS_SLOTS];
bool tlsTaken[TLS_SLOTS];

WinDword TARN_WINAPI TlsAlloc() {
    for (int i = 0; i < TLS_SLOTS; ++i) {
        if (!tlsTaken[i]) {
            tlsTaken[i] = true;
            tlsValues[i] = nullptr;
            return static_cast<WinDword>(i);
        }
    }
    setWinLastError(WIN_ERROR_NOT_ENOUGH_MEMORY);
    return TLS_OUT_OF_INDEXES;
}

bool validSlot(WinDword index) {
    if (index < TLS_SLOTS && tlsTaken[index]) {
        return true;
    }
    setWinLastError(WIN_ERROR_INVALID_PARAMETER);
    return false;
}

WinBool TARN_WINAPI TlsFree(WinDword index) {
    if (!validSlot(index)) {
        return 0;
    }
    tlsTaken[index] = false;
    return 1;
}

void *TARN_WINAPI TlsGetValue(WinDword index) {
    if (!validSlot(index)) {
        return nullptr;
    }
    setWinLastError(WIN_ERROR_SUCCESS);
    return tlsValues[index];
}

WinBool TARN_WINAPI TlsSetValue(WinDword index, void *value) {
    if (!validSlot(index)) {
        return 0;
    }
    tlsValues[index] = value;
    return 1;
}

// Semaphores are the only kernel objects: a HANDLE is the address of one of these. The live
// ones form a list, so that those an image never closes can go when the last image does (the
// MinGW runtime makes one for a static mutex at start-up and never closes it).
struct Semaphore {
    uint32_t tag; // SEMAPHORE_TAG while alive
    int32_t maximum;
    sem_t sem;
    Semaphore *previous;
    Semaphore *next;
};
constexpr uint32_t SEMAPHORE_TAG = 0x53454D41; // "SEMA"
Semaphore *liveSemaphores = nullptr;

void destroy(Semaphore *s) {
    (s->previous ? s->previous->next : liveSemaphores) = s->next;
    if (s->next) {
        s->next->previous = s->previous;
    }
    sem_destroy(&s->sem);
    s->tag = 0;
    delete s;
}

Semaphore *semaphoreOf(WinHandle handle) {
    Semaphore *s = static_cast<Semaphore *>(handle);
    if (s == nullptr || s->tag != SEMAPHORE_TAG) {
        setWinLastError(WIN_ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return s;
}

WinHandle TARN_WINAPI CreateSemaphoreW(void * /*attributes*/, int32_t initial, int32_t maximum,
                                       const WinWchar * /*name*/) {
    if (maximum <= 0 || initial < 0 || initial > maximum) {
        setWinLastError(WIN_ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    Semaphore *s = new (std::nothrow) Semaphore;
    if (s == nullptr) {
        setWinLastError(WIN_ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    s->tag = SEMAPHORE_TAG;
    s->maximum = maximum;
    sem_init(&s->sem, 0, static_cast<unsigned>(initial));
    s->previous = nullptr;
    s->next = liveSemaphores;
    if (liveSemaphores) {
        liveSemaphores->previous = s;
    }
    liveSemaphores = s;
    return s;
}

WinBool TARN_WINAPI ReleaseSemaphore(WinHandle handle, int32_t count, int32_t *previous) {
    Semaphore *s = semaphoreOf(handle);
    if (s == nullptr) {
        return 0;
    }
    int value = 0;
    sem_getvalue(&s->sem, &value);
    if (count <= 0 || count > s->maximum - value) {
        setWinLastError(count <= 0 ? WIN_ERROR_INVALID_PARAMETER : WIN_ERROR_TOO_MANY_POSTS);
        return 0;
    }
    if (previous != nullptr) {
        *previous = value;
    }
    for (int32_t i = 0; i < count; ++i) {
        sem_post(&s->sem);
    }
    return 1;
}

WinDword TARN_WINAPI WaitForSingleObject(WinHandle handle, WinDword milliseconds) {
    Semaphore *s = semaphoreOf(handle);
    if (s == nullptr) {
        return WAIT_FAILED;
    }
    int result;
    if (milliseconds == INFINITE_WAIT) {
        while ((result = sem_wait(&s->sem)) != 0 && errno == EINTR) {
        }
    } else {
        timespec until;
        clock_gettime(CLOCK_REALTIME, &until);
        until.tv_sec += milliseconds / 1000;
        until.tv_nsec += static_cast<long>(milliseconds % 1000) * 1000000L;
        if (until.tv_nsec >= 1000000000L) {
            until.tv_sec += 1;
            until.tv_nsec -= 1000000000L;
        }
        while ((result = sem_timedwait(&s->sem, &until)) != 0 && errno == EINTR) {
        }
    }
    if (result == 0) {
        return WAIT_OBJECT_0;
    }
    return errno == ETIMEDOUT ? WAIT_TIMEOUT : WAIT_FAILED;
}

WinBool TARN_WINAPI CloseHandle(WinHandle handle) {
    Semaphore *s = semaphoreOf(handle);
    if (s == nullptr) {
        return 0;
    }
    destroy(s);
    return 1;
}

WinDword TARN_WINAPI GetLastError() { return winLastError(); }

void TARN_WINAPI SetLastError(WinDword error) { setWinLastError(error); }

WinDword TARN_WINAPI GetCurrentThreadId() { return static_cast<WinDword>(syscall(SYS_gettid)); }

void TARN_WINAPI Sleep(WinDword milliseconds) {
    timespec pause{static_cast<time_t>(milliseconds / 1000),
                   static_cast<long>(milliseconds % 1000) * 1000000L};
    nanosleep(&pause, nullptr);
}

// Modules: only the loaded images exist. No other DLL can be loaded.
WinHandle moduleNamed(const std::string &name) {
    PeImage *image = PeImage::named(name);
    if (image == nullptr) {
        setWinLastError(WIN_ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<WinHandle>(image->base());
}

WinHandle TARN_WINAPI GetModuleHandleA(const char *name) {
    if (name == nullptr) {
        PeImage *image = PeImage::first();
        return image ? reinterpret_cast<WinHandle>(image->base()) : nullptr;
    }
    return moduleNamed(name);
}

WinHandle TARN_WINAPI GetModuleHandleW(const WinWchar *name) {
    if (name == nullptr) {
        return GetModuleHandleA(nullptr);
    }
    std::string narrow;
    for (; *name != 0; ++name) {
        narrow += *name < 0x80 ? static_cast<char>(*name) : '?';
    }
    return moduleNamed(narrow);
}

WinHandle TARN_WINAPI LoadLibraryA(const char * /*name*/) {
    setWinLastError(WIN_ERROR_MOD_NOT_FOUND);
    return nullptr;
}

WinBool TARN_WINAPI FreeLibrary(WinHandle module) {
    if (PeImage::atBase(reinterpret_cast<uintptr_t>(module)) == nullptr) {
        setWinLastError(WIN_ERROR_INVALID_HANDLE);
        return 0;
    }
    return 1; // images are unloaded by their owner on this side, never by the image itself
}

const void *TARN_WINAPI GetProcAddress(WinHandle module, const char *name) {
    PeImage *image = PeImage::atBase(reinterpret_cast<uintptr_t>(module));
    const void *address = nullptr;
    if (image != nullptr) {
        const uintptr_t n = reinterpret_cast<uintptr_t>(name);
        address = n <= 0xFFFF ? image->findExport(static_cast<uint16_t>(n)) : image->findExport(name);
    }
    if (address == nullptr) {
        setWinLastError(image ? WIN_ERROR_PROC_NOT_FOUND : WIN_ERROR_MOD_NOT_FOUND);
    }
    return address;
}

size_t TARN_WINAPI VirtualQuery(const void *address, WinMemoryBasicInformation *info,
                                size_t length) {
    PeImage *image = PeImage::containing(reinterpret_cast<uintptr_t>(address));
    if (image == nullptr || info == nullptr || length < sizeof *info) {
        setWinLastError(image ? WIN_ERROR_INSUFFICIENT_BUFFER : WIN_ERROR_INVALID_PARAMETER);
        return 0;
    }
    image->query(reinterpret_cast<uintptr_t>(address), *info);
    return sizeof *info;
}

WinBool TARN_WINAPI VirtualProtect(void *address, size_t size, WinDword protection,
                                   WinDword *previous) {
    PeImage *image = PeImage::containing(reinterpret_cast<uintptr_t>(address));
    WinDword old = 0;
    if (image == nullptr || previous == nullptr ||
        !image->protect(reinterpret_cast<uintptr_t>(address), size, protection, old)) {
        setWinLastError(WIN_ERROR_INVALID_ADDRESS);
        return 0;
    }
    *previous = old;
    return 1;
}

// Code-page conversions, Latin-1 both ways (its first half is ASCII). A negative length means
// zero-terminated, terminator included; a zero output length asks for the size needed.
int32_t TARN_WINAPI MultiByteToWideChar(uint32_t /*codePage*/, WinDword /*flags*/,
                                        const char *text, int32_t length, WinWchar *out,
                                        int32_t outLength) {
    if (text == nullptr || length == 0 || outLength < 0) {
        setWinLastError(WIN_ERROR_INVALID_PARAMETER);
        return 0;
    }
    const int32_t n = length < 0 ? static_cast<int32_t>(std::strlen(text)) + 1 : length;
    if (outLength == 0) {
        return n;
    }
    if (outLength < n) {
        setWinLastError(WIN_ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    for (int32_t i = 0; i < n; ++i) {
        out[i] = static_cast<unsigned char>(text[i]);
    }
    return n;
}

int32_t TARN_WINAPI WideCharToMultiByte(uint32_t /*codePage*/, WinDword /*flags*/,
                                        const WinWchar *text, int32_t length, char *out,
                                        int32_t outLength, const char *fallback,
                                        WinBool *usedFallback) {
    if (text == nullptr || length == 0 || outLength < 0) {
        setWinLastError(WIN_ERROR_INVALID_PARAMETER);
        return 0;
    }
    int32_t n = length;
    if (length < 0) {
        for (n = 0; text[n] != 0; ++n) {
        }
        ++n;
    }
    if (usedFallback != nullptr) {
        *usedFallback = 0;
    }
    if (outLength == 0) {
        return n;
    }
    if (outLength < n) {
        setWinLastError(WIN_ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    for (int32_t i = 0; i < n; ++i) {
        if (text[i] <= 0xFF) {
            out[i] = static_cast<char>(text[i]);
        } else {
            out[i] = fallback ? *fallback : '?';
            if (usedFallback != nullptr) {
                *usedFallback = 1;
            }
        }
    }
    return n;
}

WinBool TARN_WINAPI IsDBCSLeadByteEx(uint32_t /*codePage*/, uint8_t /*byte*/) {
    return 0; // Latin-1 has no double-byte characters
}

} // namespace

void closeWindowsHandles() {
    while (liveSemaphores) {
        destroy(liveSemaphores);
    }
}

#define TARN_IMPORT(f) {#f, reinterpret_cast<const void *>(&f)}
const WindowsImport KERNEL32_IMPORTS[] = {
    TARN_IMPORT(CloseHandle),
    TARN_IMPORT(CreateSemaphoreW),
    TARN_IMPORT(DeleteCriticalSection),
    TARN_IMPORT(EnterCriticalSection),
    TARN_IMPORT(FreeLibrary),
    TARN_IMPORT(GetCurrentThreadId),
    TARN_IMPORT(GetLastError),
    TARN_IMPORT(GetModuleHandleA),
    TARN_IMPORT(GetModuleHandleW),
    TARN_IMPORT(GetProcAddress),
    TARN_IMPORT(InitializeCriticalSection),
    TARN_IMPORT(IsDBCSLeadByteEx),
    TARN_IMPORT(LeaveCriticalSection),
    TARN_IMPORT(LoadLibraryA),
    TARN_IMPORT(MultiByteToWideChar),
    TARN_IMPORT(ReleaseSemaphore),
    TARN_IMPORT(SetLastError),
    TARN_IMPORT(Sleep),
    TARN_IMPORT(TlsAlloc),
    TARN_IMPORT(TlsFree),
    TARN_IMPORT(TlsGetValue),
    TARN_IMPORT(TlsSetValue),
    TARN_IMPORT(VirtualProtect),
    TARN_IMPORT(VirtualQuery),
    TARN_IMPORT(WaitForSingleObject),
    TARN_IMPORT(WideCharToMultiByte),
    {nullptr, nullptr}};
#undef TARN_IMPORT
