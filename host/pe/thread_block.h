// The Windows thread block (TEB) that a Windows image reads through %fs: the MinGW start-up
// code reads its own address at %fs:0x18 and the stack base at %fs:0x4. One block serves the
// process: the module is driven from one thread at a time, and the image holds no thread of
// its own.
#pragma once

#include <cstdint>

// The selector of the thread block for %fs, set up on first use with an LDT entry. 0 when the
// kernel refused the entry (then nothing of a Windows image can run).
uint32_t threadBlockSelector();

// The implicit TLS slots of the images' .tls sections (the thread block's
// ThreadLocalStoragePointer). Returns a free index, or -1 when all are taken.
int32_t allocateImageTlsIndex();
void setImageTlsBlock(int32_t index, void *block);
void freeImageTlsIndex(int32_t index);
