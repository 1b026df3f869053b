# Builds the interpreter and its tests as 32-bit x86 Linux programs (gcc -m32 from Debian's
# g++-multilib): the machine code of the 32-bit Pellux.Exe, tested on a Linux machine. Where the
# kernel cannot start 32-bit programs, ctest runs them under qemu-i386; tools/pellux.sh probes
# and passes -DPELLUX_I686_EMULATOR=qemu-i386 there.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT -m32)
set(CMAKE_CXX_FLAGS_INIT -m32)

# The fuzz target (tests/fuzz) is built with clang for the same processor. qemu-user cannot
# give AddressSanitizer its shadow memory, so under qemu it runs without it.
set(PELLUX_FUZZ_FLAGS -m32)
if(PELLUX_I686_EMULATOR)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${PELLUX_I686_EMULATOR})
    set(PELLUX_FUZZ_SANITIZERS fuzzer)
endif()
