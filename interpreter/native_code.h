// Translates a compiled program to x86 machine code, 64-bit or 32-bit. Only bytes are made here:
// native_program.h puts them in executable pages and runs them.
#ifndef PELLUX_INTERPRETER_NATIVE_CODE_H
#define PELLUX_INTERPRETER_NATIVE_CODE_H

#include "executable_memory.h"
#include "program.h"

#include <csignal>
#include <cstdint>
#include <vector>

namespace pellux {

// The code's bytes, in pages that loading makes executable where they are. The translator sizes
// its buffer up front and writes every byte it keeps, so zeroing the rest would only touch pages
// for nothing.
using CodeBytes = std::vector<unsigned char, FreshPages<unsigned char>>;

// What the generated code and the machine share. The code keeps these in registers while it
// runs and writes them back when it hands an instruction to the machine: the tape must grow,
// the output buffer is full, input is wanted, or the program ends.
struct NativeState {
    unsigned char* cell;       // the current cell
    unsigned char* tape;       // first cell
    unsigned char* tapeEnd;    // one past the last cell
    const void* resume;        // where to go in the code on entry
    unsigned char* out;        // next free byte of the output buffer
    unsigned char* outEnd;
    std::uint64_t exitAt;      // the instruction to do outside, on return
};

struct NativeCode {
    CodeBytes bytes;                        // entry routine at 0
    std::vector<std::uint32_t> entries;     // where instruction k begins, for each k
    // Cells past its block's last that a Guard's check of the tape's end also covers, so that the
    // blocks after it check less. A Guard the code hands over has the tape grown that far, or the
    // run goes on without the code (see runNative).
    std::int32_t reach = 0;
};

// The vector instructions a scan may use: those of this processor that its system also saves
// (YMM registers only where the system saves their upper halves).
enum class Vectors : std::uint8_t { None, Sse2, Avx2 };
Vectors vectorsOfThisProcessor();

// False where this machine's code is not generated (not x86) or the program does not fit. With
// `interrupt`, each loop's turn starts by looking at the flag and leaves at the loop's JumpIfZero
// when it is set. `vectors` may name fewer than the processor has, never more.
bool translate(const Program& program, NativeCode& native, const volatile std::sig_atomic_t* interrupt = nullptr,
               Vectors vectors = vectorsOfThisProcessor());

// The routine at the start of the code, called with the state. On 32-bit x86 the convention is
// named: a compiler's default there may differ between Windows and Linux, or change with options.
#if defined(__i386__) && defined(__GNUC__)
#define PELLUX_NATIVE_CALL __attribute__((cdecl))
#elif defined(_M_IX86)
#define PELLUX_NATIVE_CALL __cdecl
#else
#define PELLUX_NATIVE_CALL
#endif
using NativeEntry = void(PELLUX_NATIVE_CALL*)(NativeState*);

} // namespace pellux

#endif
