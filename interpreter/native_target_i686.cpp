#include "native_code.h"
#include "native_target.h"

#ifdef PELLUX_NATIVE_I686

namespace pellux {
namespace target {

namespace {

// Registers while the code runs: ebx the current cell, esi the first cell, edi one past the
// last, ebp the NativeState; eax, ecx and edx are scratch. No register is left for the output
// pointer: it stays in the state. The four are saved by the callee in both the System V and the
// Windows cdecl conventions; the argument lies above the return address.
constexpr int kStateTape = 4, kStateTapeEnd = 8, kStateResume = 12, kStateOut = 16, kStateOutEnd = 20,
              kStateExitAt = 24;
static_assert(offsetof(NativeState, cell) == 0 && offsetof(NativeState, tape) == kStateTape &&
                  offsetof(NativeState, tapeEnd) == kStateTapeEnd && offsetof(NativeState, resume) == kStateResume &&
                  offsetof(NativeState, out) == kStateOut && offsetof(NativeState, outEnd) == kStateOutEnd &&
                  offsetof(NativeState, exitAt) == kStateExitAt,
              "the generated code reads NativeState at these offsets");
constexpr unsigned char kArgumentAfterPushes = 20;  // four registers and the return address

// Addresses here are 32 bits and wrap: the cell at a far displacement can land at an address
// that compares as on the tape. So the checks compare distances instead, which cannot wrap:
// the cells left of the current one, or the cells from it to the end, against the displacement.
void immediate(Emitter& e, std::int64_t value) {
    e.u32(static_cast<std::int32_t>(static_cast<std::uint32_t>(value)));
}

} // namespace

void prologue(Emitter& e, const volatile std::sig_atomic_t*) {
    e.raw({0x53, 0x56, 0x57, 0x55});                    // push ebx, esi, edi, ebp
    e.raw({0x8B, 0x6C, 0x24, kArgumentAfterPushes});    // mov ebp, [esp + 20]
    e.raw({0x8B, 0x5D, 0x00});                          // mov ebx, [ebp]
    e.raw({0x8B, 0x75, kStateTape});                    // mov esi, [ebp + 4]
    e.raw({0x8B, 0x7D, kStateTapeEnd});                 // mov edi, [ebp + 8]
    e.raw({0xFF, 0x65, kStateResume});                  // jmp [ebp + 12]
}

void epilogue(Emitter& e, const volatile std::sig_atomic_t*) {
    e.raw({0x89, 0x45, kStateExitAt});                  // mov [ebp + 24], eax
    e.raw({0xC7, 0x45, kStateExitAt + 4});              // mov dword [ebp + 28], 0: exitAt's high half
    e.u32(0);
    e.raw({0x89, 0x5D, 0x00});                          // mov [ebp], ebx
    e.raw({0x5D, 0x5F, 0x5E, 0x5B});                    // pop ebp, edi, esi, ebx
    e.raw({0xC3});                                      // ret
}

// The current cell is on the tape, so no cell right of it lies before the first.
Jcc checkBelow(Emitter& e, std::int64_t disp) {
    if (disp >= 0) return {};
    e.raw({0x89, 0xD9});  // mov ecx, ebx
    e.raw({0x29, 0xF1});  // sub ecx, esi: the cells left of the current one
    e.raw({0x81, 0xF9});  // cmp ecx, -disp
    immediate(e, -disp);
    return kJb;
}

Jcc checkAbove(Emitter& e, std::int64_t disp) {
    if (disp <= 0) return {};
    e.raw({0x89, 0xF9});  // mov ecx, edi
    e.raw({0x29, 0xD9});  // sub ecx, ebx: the cells from the current one to the end
    e.raw({0x81, 0xF9});  // cmp ecx, disp
    immediate(e, disp);
    return kJbe;
}

// No register is left for a limit: the translator never asks for one here.
bool hasLimitRegister() { return false; }
void setLimit(Emitter&, bool, std::int64_t) {}
Jcc checkLimit(Emitter&, bool) { return kJmp; }

Jcc scanCheck(Emitter& e, std::int32_t step) {
    if (step > 0) {
        e.raw({0x89, 0xF8, 0x29, 0xD8});  // mov eax, edi; sub eax, ebx
        e.raw({0x3D});                    // cmp eax, step
        immediate(e, step);
        return kJbe;
    }
    e.raw({0x89, 0xD8, 0x29, 0xF0});  // mov eax, ebx; sub eax, esi
    e.raw({0x3D});                    // cmp eax, -step
    immediate(e, -std::int64_t(step));
    return kJb;
}

void scanStep(Emitter& e, std::int32_t step) {
    e.raw({0x81, 0xC3});  // add ebx, step
    e.u32(step);
}

void moveCell(Emitter& e, std::int32_t by) {
    e.cellOperand({0x8D}, kEbx, by);  // lea ebx, [ebx + by]
}

// The window is a few dozen bytes and the tape a live allocation: its first byte lies that far
// above 0, and an end at 2^32 (edi 0) gives the right limit modulo 2^32, so nothing wraps here.
void windowLimit(Emitter& e, std::int32_t from, std::int32_t bytes, bool right) {
    e.raw({0x8D, static_cast<unsigned char>(right ? 0x8F : 0x8E)});  // lea ecx, [edi - (from + bytes)] / [esi - from]
    e.u32(right ? -(from + bytes) : -from);
}

void compareWithLimit(Emitter& e) {
    e.raw({0x39, 0xCB});  // cmp ebx, ecx
}

void moveCellByEax(Emitter& e, std::int32_t by) {
    e.raw({0x8D, 0x9C, 0x03});  // lea ebx, [ebx + eax + by]
    e.u32(by);
}

// esi and edi hold the tape's ends: no register is left to hold cells.
int heldRegisters() { return 0; }
void loadHeld(Emitter&, int, unsigned, std::int32_t) {}
void storeHeld(Emitter&, int, unsigned, std::int32_t) {}
void addToHeld(Emitter&, int, std::int32_t) {}
void heldFromEax(Emitter&, int, std::uint32_t) {}
void addEaxToHeld(Emitter&, int, std::uint32_t) {}
void eaxFromHeld(Emitter&, int, std::int32_t) {}

Jcc outputFull(Emitter& e, std::int32_t count) {
    e.raw({0x8B, 0x4D, kStateOut});  // mov ecx, [ebp + 16]
    if (count == 1) {
        e.raw({0x3B, 0x4D, kStateOutEnd});  // cmp ecx, [ebp + 20]
        return kJae;
    }
    e.raw({0x8D, 0x41});                // lea eax, [ecx + count]
    e.u8(count);
    e.raw({0x3B, 0x45, kStateOutEnd});  // cmp eax, [ebp + 20]
    return kJa;
}

// With the output pointer in ecx, as outputFull left it.
void output(Emitter& e, std::int32_t offset, std::int32_t count) {
    e.cellOperand({0x0F, 0xB6}, kEax, offset);  // movzx eax, byte [ebx + offset]
    if (count == 1) {
        e.raw({0x88, 0x01});  // mov [ecx], al
        e.raw({0x41});        // inc ecx
    } else {
        for (std::int32_t i = 0; i < count; ++i) {
            e.raw({0x88, 0x41});  // mov [ecx + i], al
            e.u8(i);
        }
        e.raw({0x8D, 0x49});  // lea ecx, [ecx + count]
        e.u8(count);
    }
    e.raw({0x89, 0x4D, kStateOut});  // mov [ebp + 16], ecx
}

Jcc interrupted(Emitter& e, const volatile std::sig_atomic_t* flag) {
    static_assert(sizeof *flag == 4, "the flag is compared as a dword");
    e.raw({0x83, 0x3D});  // cmp dword [flag], 0
    e.u32(static_cast<std::int32_t>(reinterpret_cast<std::uintptr_t>(flag)));
    e.u8(0);
    return kJne;
}

} // namespace target
} // namespace pellux

#endif
