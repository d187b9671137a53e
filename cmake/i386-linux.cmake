# i386 Linux: the wire formats at their real 32-bit widths; binaries run under qemu-i386.
# Plain i686 code generation (x87 doubles), so only the SSE-attributed kernel needs SSE.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
# 64-bit file offsets and inode numbers: readdir and stat fail with EOVERFLOW otherwise on
# large file systems.
set(CMAKE_C_FLAGS_INIT "-m32 -march=i686 -D_FILE_OFFSET_BITS=64")
set(CMAKE_CXX_FLAGS_INIT "-m32 -march=i686 -D_FILE_OFFSET_BITS=64")
set(CMAKE_ASM_FLAGS_INIT "-m32")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-m32")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-i386)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
