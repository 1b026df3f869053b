#include "native_code.h"
#include "native_target.h"

#ifdef PELLUX_NATIVE_X86_64

namespace pellux {
namespace target {

namespace {

// Registers while the code runs: rbx the current cell, r12 the first cell, r13 one past the
// last, r14 the NativeState, r15 the next free output byte, rsi a drifting loop's limit (see
// setLimit), and under the debugger rbp the Ctrl+C flag; rax, rcx and rdx are scratch. All seven
// are saved by the callee in the Windows calling convention (rsi is not in System V's, where
// saving it costs nothing), and the code calls nothing, so it needs no stack frame or unwind
// data.
constexpr int kStateTapeEnd = 16, kStateResume = 24, kStateOut = 32, kStateOutEnd = 40, kStateExitAt = 48;
static_assert(offsetof(NativeState, cell) == 0 && offsetof(NativeState, tape) == 8 &&
                  offsetof(NativeState, tapeEnd) == kStateTapeEnd && offsetof(NativeState, resume) == kStateResume &&
                  offsetof(NativeState, out) == kStateOut && offsetof(NativeState, outEnd) == kStateOutEnd &&
                  offsetof(NativeState, exitAt) == kStateExitAt,
              "the generated code reads NativeState at these offsets");

// User addresses lie below 2^47, so a cell far left of a tape low in memory (as Windows places
// it) is a negative address, not one wrapped round: the left checks compare signed.
void leaCell(Emitter& e, int reg, std::int64_t disp) {
    e.cellOperand({0x48, 0x8D}, reg, static_cast<std::int32_t>(disp));  // lea reg, [rbx + disp]
}

} // namespace

void prologue(Emitter& e, const volatile std::sig_atomic_t* flag) {
#if defined(_WIN32)
    const unsigned char kStateFromArgument = 0xCE;  // mov r14, rcx
#else
    const unsigned char kStateFromArgument = 0xFE;  // mov r14, rdi
#endif
    e.raw({0x53, 0x56, 0x41, 0x54, 0x41, 0x55, 0x41, 0x56, 0x41, 0x57});  // push rbx, rsi, r12, r13, r14, r15
    if (flag) {
        std::uint64_t address = reinterpret_cast<std::uintptr_t>(flag);
        e.raw({0x55, 0x48, 0xBD});  // push rbp; mov rbp, flag
        e.u32(static_cast<std::int32_t>(address));
        e.u32(static_cast<std::int32_t>(address >> 32));
    }
    e.raw({0x49, 0x89, kStateFromArgument});
    e.raw({0x49, 0x8B, 0x1E});                                      // mov rbx, [r14]
    e.raw({0x4D, 0x8B, 0x66, 0x08});                                // mov r12, [r14 + 8]
    e.raw({0x4D, 0x8B, 0x6E, kStateTapeEnd});                       // mov r13, [r14 + 16]
    e.raw({0x4D, 0x8B, 0x7E, kStateOut});                           // mov r15, [r14 + 32]
    e.raw({0x41, 0xFF, 0x66, kStateResume});                        // jmp [r14 + 24]
}

void epilogue(Emitter& e, const volatile std::sig_atomic_t* flag) {
    e.raw({0x49, 0x89, 0x46, kStateExitAt});                        // mov [r14 + 48], rax
    e.raw({0x49, 0x89, 0x1E});                                      // mov [r14], rbx
    e.raw({0x4D, 0x89, 0x7E, kStateOut});                           // mov [r14 + 32], r15
    if (flag) e.raw({0x5D});                                        // pop rbp
    e.raw({0x41, 0x5F, 0x41, 0x5E, 0x41, 0x5D, 0x41, 0x5C, 0x5E, 0x5B});  // pop r15, r14, r13, r12, rsi, rbx
    e.raw({0xC3});                                                  // ret
}

Jcc checkBelow(Emitter& e, std::int64_t disp) {
    leaCell(e, kEcx, disp);
    e.raw({0x4C, 0x39, 0xE1});  // cmp rcx, r12
    return kJl;
}

Jcc checkAbove(Emitter& e, std::int64_t disp) {
    leaCell(e, kEcx, disp);
    e.raw({0x4C, 0x39, 0xE9});  // cmp rcx, r13
    return kJae;
}

bool hasLimitRegister() { return true; }

// The cell at disp from the current one lies before the first while the current one lies below
// first - disp; it lies past the last while the current one lies at or above end - disp.
void setLimit(Emitter& e, bool below, std::int64_t disp) {
    if (below) e.raw({0x49, 0x8D, 0xB4, 0x24});  // lea rsi, [r12 - disp]
    else e.raw({0x49, 0x8D, 0xB5});              // lea rsi, [r13 - disp]
    e.u32(static_cast<std::int32_t>(-disp));
}

Jcc checkLimit(Emitter& e, bool below) {
    e.raw({0x48, 0x39, 0xF3});  // cmp rbx, rsi
    return below ? kJl : kJae;
}

Jcc scanCheck(Emitter& e, std::int32_t step) {
    leaCell(e, kEax, step);
    e.raw({0x4C, 0x39, static_cast<unsigned char>(step > 0 ? 0xE8 : 0xE0)});  // cmp rax, r13 / r12
    return step > 0 ? kJae : kJl;
}

void scanStep(Emitter& e, std::int32_t) {
    e.raw({0x48, 0x89, 0xC3});  // mov rbx, rax: scanCheck's lea has made the step
}

void moveCell(Emitter& e, std::int32_t by) {
    e.cellOperand({0x48, 0x8D}, kEbx, by);  // lea rbx, [rbx + by]
}

void windowLimit(Emitter& e, std::int32_t from, std::int32_t bytes, bool right) {
    if (right) {
        e.raw({0x49, 0x8D, 0x8D});  // lea rcx, [r13 - (from + bytes)]
        e.u32(-(from + bytes));
    } else {
        e.raw({0x49, 0x8D, 0x8C, 0x24});  // lea rcx, [r12 - from]
        e.u32(-from);
    }
}

void compareWithLimit(Emitter& e) {
    e.raw({0x48, 0x39, 0xCB});  // cmp rbx, rcx
}

void moveCellByEax(Emitter& e, std::int32_t by) {
    e.raw({0x48, 0x8D, 0x9C, 0x03});  // lea rbx, [rbx + rax + by]
    e.u32(by);
}

// r8d-r11d: saved by the caller in both conventions, and used nowhere else in the code.
int heldRegisters() { return 4; }

void loadHeld(Emitter& e, int reg, unsigned width, std::int32_t disp) {
    if (width == 4) e.cellOperand({0x44, 0x8B}, reg, disp);  // mov r8d, [rbx + disp]
    else e.cellOperand({0x44, 0x0F, static_cast<unsigned char>(width == 1 ? 0xB6 : 0xB7)}, reg, disp);  // movzx
}

void storeHeld(Emitter& e, int reg, unsigned width, std::int32_t disp) {
    if (width == 2) e.u8(0x66);
    e.cellOperand({0x44, static_cast<unsigned char>(width == 1 ? 0x88 : 0x89)}, reg, disp);  // mov [rbx + disp], r8b/w/d
}

void addToHeld(Emitter& e, int reg, std::int32_t value) {
    e.raw({0x41, 0x81, static_cast<unsigned char>(0xC0 + reg)});  // add r8d, value
    e.u32(value);
}

void heldFromEax(Emitter& e, int reg, std::uint32_t factor) {
    if (factor == 1) {
        e.raw({0x41, 0x89, static_cast<unsigned char>(0xC0 + reg)});  // mov r8d, eax
        return;
    }
    e.raw({0x44, 0x69, static_cast<unsigned char>(0xC0 + (reg << 3))});  // imul r8d, eax, factor
    e.u32(static_cast<std::int32_t>(factor));
}

void addEaxToHeld(Emitter& e, int reg, std::uint32_t factor) {
    if (factor == 1) {
        e.raw({0x41, 0x01, static_cast<unsigned char>(0xC0 + reg)});  // add r8d, eax
        return;
    }
    e.raw({0x69, 0xD0});  // imul edx, eax, factor
    e.u32(static_cast<std::int32_t>(factor));
    e.raw({0x41, 0x01, static_cast<unsigned char>(0xD0 + reg)});  // add r8d, edx
}

void eaxFromHeld(Emitter& e, int reg, std::int32_t plus) {
    if (plus == 0) {
        e.raw({0x44, 0x89, static_cast<unsigned char>(0xC0 + (reg << 3))});  // mov eax, r8d
        return;
    }
    e.raw({0x41, 0x8D, static_cast<unsigned char>(0x80 + reg)});  // lea eax, [r8 + plus]
    e.u32(plus);
}

Jcc outputFull(Emitter& e, std::int32_t count) {
    if (count == 1) {
        e.raw({0x4D, 0x3B, 0x7E, kStateOutEnd});  // cmp r15, [r14 + 40]
        return kJae;
    }
    e.raw({0x49, 0x8D, 0x47});                // lea rax, [r15 + count]
    e.u8(count);
    e.raw({0x49, 0x3B, 0x46, kStateOutEnd});  // cmp rax, [r14 + 40]
    return kJa;
}

void output(Emitter& e, std::int32_t offset, std::int32_t count) {
    e.cellOperand({0x0F, 0xB6}, kEax, offset);  // movzx eax, byte [rbx + offset]
    if (count == 1) {
        e.raw({0x41, 0x88, 0x07});  // mov [r15], al
        e.raw({0x49, 0xFF, 0xC7});  // inc r15
        return;
    }
    for (std::int32_t i = 0; i < count; ++i) {
        e.raw({0x41, 0x88, 0x47});  // mov [r15 + i], al
        e.u8(i);
    }
    e.raw({0x4D, 0x8D, 0x7F});  // lea r15, [r15 + count]
    e.u8(count);
}

Jcc interrupted(Emitter& e, const volatile std::sig_atomic_t* flag) {
    static_assert(sizeof *flag == 4, "the flag is compared as a dword");
    e.raw({0x83, 0x7D, 0x00, 0x00});  // cmp dword [rbp], 0: the prologue put the flag's address there
    return kJne;
}

} // namespace target
} // namespace pellux

#endif
