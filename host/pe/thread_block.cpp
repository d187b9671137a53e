// The thread block, its LDT entry and the fields the images read. Offsets are those of the
// 32-bit TEB: 0x00 SEH chain, 0x04 stack base, 0x08 stack limit, 0x18 self, 0x20 process id,
// 0x24 thread id, 0x2C TLS pointer, 0x30 PEB, 0x34 last error.
#include "host/pe/thread_block.h"

#include "host/pe/win32_abi.h"

#include <asm/ldt.h>
#include <cstring>
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

constexpr int32_t IMAGE_TLS_SLOTS = 64;
constexpr uint32_t LDT_ENTRY = 0;

struct alignas(4096) ThreadBlock {
    uint32_t words[1024];                  // the TEB's first 4 KiB
    void *tls_slots[IMAGE_TLS_SLOTS];      // what 0x2C points to
    bool tls_taken[IMAGE_TLS_SLOTS];
    uint32_t peb[256];                     // an empty PEB: nothing reads it but its address
};

ThreadBlock block;

uint32_t word(const void *p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); }

uint32_t setUp() {
    block.words[0x00 / 4] = 0xFFFFFFFFu; // end of the SEH chain
    uintptr_t stackLow = reinterpret_cast<uintptr_t>(&block);
    size_t stackSize = 0;
    pthread_attr_t attributes;
    if (pthread_getattr_np(pthread_self(), &attributes) == 0) {
        void *low = nullptr;
        if (pthread_attr_getstack(&attributes, &low, &stackSize) == 0) {
            stackLow = reinterpret_cast<uintptr_t>(low);
        }
        pthread_attr_destroy(&attributes);
    }
    block.words[0x04 / 4] = static_cast<uint32_t>(stackLow + stackSize);
    block.words[0x08 / 4] = static_cast<uint32_t>(stackLow);
    block.words[0x18 / 4] = word(&block);
    block.words[0x20 / 4] = static_cast<uint32_t>(getpid());
    block.words[0x24 / 4] = static_cast<uint32_t>(syscall(SYS_gettid));
    block.words[0x2C / 4] = word(block.tls_slots);
    block.words[0x30 / 4] = word(block.peb);

    user_desc entry;
    std::memset(&entry, 0, sizeof entry);
    entry.entry_number = LDT_ENTRY;
    entry.base_addr = word(&block);
    entry.limit = sizeof block.words - 1;
    entry.seg_32bit = 1;
    entry.useable = 1;
    if (syscall(SYS_modify_ldt, 1, &entry, sizeof entry) != 0) {
        return 0;
    }
    return LDT_ENTRY << 3 | 0x4 | 0x3; // LDT, ring 3
}

} // namespace

uint32_t threadBlockSelector() {
    static const uint32_t selector = setUp();
    return selector;
}

void setWinLastError(WinDword error) { block.words[0x34 / 4] = error; }

WinDword winLastError() { return block.words[0x34 / 4]; }

int32_t allocateImageTlsIndex() {
    for (int32_t i = 0; i < IMAGE_TLS_SLOTS; ++i) {
        if (!block.tls_taken[i]) {
            block.tls_taken[i] = true;
            return i;
        }
    }
    return -1;
}

void setImageTlsBlock(int32_t index, void *tlsBlock) {
    if (index >= 0 && index < IMAGE_TLS_SLOTS) {
        block.tls_slots[index] = tlsBlock;
    }
}

void freeImageTlsIndex(int32_t index) {
    if (index >= 0 && index < IMAGE_TLS_SLOTS) {
        block.tls_slots[index] = nullptr;
        block.tls_taken[index] = false;
    }
}
