// The bytes that differ between the 64-bit (native_target_x86_64.cpp) and the 32-bit
// (native_target_i686.cpp) x86 translations. Everything else the translator (native_code.cpp)
// writes, the operations on [cell + disp], the byte arithmetic and the jumps, is encoded the same
// in both modes: the register that holds the current cell is rbx there and ebx here.
#ifndef PELLUX_INTERPRETER_NATIVE_TARGET_H
#define PELLUX_INTERPRETER_NATIVE_TARGET_H

#include "native_code.h"

#include <algorithm>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <vector>

#if defined(__x86_64__) || defined(_M_X64)
#define PELLUX_NATIVE_X86_64 1
#elif defined(__i386__) || defined(_M_IX86)
#define PELLUX_NATIVE_I686 1
#endif

namespace pellux {

// Writes the code through a cursor into `bytes`, whose size stays at its capacity while the code
// is written (finish cuts it to the code): each byte is a store and a compare, with no call.
class Emitter {
public:
    explicit Emitter(CodeBytes& bytes) : bytes_(bytes) {}

    // Room for `size` bytes from the start, so that a program of that size is never copied as it grows.
    void start(std::size_t size) {
        bytes_.clear();
        bytes_.resize(size);
        data_ = bytes_.data();
        size_ = 0;
        capacity_ = size;
    }
    void finish() { bytes_.resize(size_); }

    std::size_t size() const { return size_; }
    void truncate(std::size_t size) { size_ = size; }
    void raw(std::initializer_list<unsigned char> list) {
        unsigned char* at = room(list.size());
        for (unsigned char b : list) *at++ = b;
        size_ += list.size();
    }
    void u8(std::int32_t value) {
        *room(1) = static_cast<unsigned char>(value);
        ++size_;
    }
    void u16(std::int32_t value) {
        unsigned char* at = room(2);
        at[0] = static_cast<unsigned char>(value);
        at[1] = static_cast<unsigned char>(value >> 8);
        size_ += 2;
    }
    void u32(std::int32_t value) {
        store32(room(4), value);
        size_ += 4;
    }
    void patch8(std::size_t at, unsigned char value) { data_[at] = value; }
    void patch32(std::size_t at, std::int32_t value) { store32(data_ + at, value); }

    // opcode bytes, then ModRM with `reg` and [cell + disp] (rbx or ebx: no SIB byte).
    void cellOperand(std::initializer_list<unsigned char> opcode, int reg, std::int32_t disp) {
        unsigned char* start = room(opcode.size() + 5);
        unsigned char* at = start;
        for (unsigned char b : opcode) *at++ = b;
        at = cellAddress(at, reg, disp);
        size_ += static_cast<std::size_t>(at - start);
    }

    // The same with a one-byte opcode, after the operand-size prefix (0x66) when `wordSized`, and
    // before an immediate of `immediateBytes` (0, 1, 2 or 4): the cells' operations, written with
    // one check of room.
    void cellOperand(bool wordSized, unsigned char opcode, int reg, std::int32_t disp, unsigned immediateBytes = 0,
                     std::int32_t immediate = 0) {
        unsigned char* start = room(11);
        unsigned char* at = start;
        if (wordSized) *at++ = 0x66;
        *at++ = opcode;
        at = cellAddress(at, reg, disp);
        switch (immediateBytes) {
        case 4: store32(at, immediate); break;
        case 2: at[1] = static_cast<unsigned char>(immediate >> 8); [[fallthrough]];
        case 1: at[0] = static_cast<unsigned char>(immediate); break;
        default: break;
        }
        size_ += static_cast<std::size_t>(at - start) + immediateBytes;
    }

    // A relative jump whose target is filled in later; returns where its rel32 lies.
    std::size_t jumpLater(std::initializer_list<unsigned char> opcode) {
        unsigned char* at = room(opcode.size() + 4);
        for (unsigned char b : opcode) *at++ = b;
        store32(at, 0);
        std::size_t rel32At = size_ + opcode.size();
        size_ = rel32At + 4;
        return rel32At;
    }
    void bind(std::size_t rel32At, std::size_t target) {
        patch32(rel32At, static_cast<std::int32_t>(static_cast<std::ptrdiff_t>(target) -
                                                   static_cast<std::ptrdiff_t>(rel32At + 4)));
    }

private:
    // Little-endian, as x86 reads it; written out byte by byte, which the compiler makes one store.
    static void store32(unsigned char* at, std::int32_t value) {
        std::uint32_t v = static_cast<std::uint32_t>(value);
        at[0] = static_cast<unsigned char>(v);
        at[1] = static_cast<unsigned char>(v >> 8);
        at[2] = static_cast<unsigned char>(v >> 16);
        at[3] = static_cast<unsigned char>(v >> 24);
    }
    // ModRM with `reg` and [cell + disp] (rbx or ebx: no SIB byte), the displacement in one byte
    // when it fits; returns what follows.
    static unsigned char* cellAddress(unsigned char* at, int reg, std::int32_t disp) {
        constexpr unsigned char kCellDisp8 = 0x43, kCellDisp32 = 0x83;
        if (disp >= -128 && disp <= 127) {
            at[0] = static_cast<unsigned char>(kCellDisp8 | (reg << 3));
            at[1] = static_cast<unsigned char>(disp);
            return at + 2;
        }
        at[0] = static_cast<unsigned char>(kCellDisp32 | (reg << 3));
        store32(at + 1, disp);
        return at + 5;
    }
    // Where `count` more bytes go, the buffer grown first when they do not fit.
    unsigned char* room(std::size_t count) {
        if (capacity_ - size_ < count) grow(count);
        return data_ + size_;
    }
    void grow(std::size_t count) {
        bytes_.resize(std::max(2 * capacity_, size_ + count + 256));
        data_ = bytes_.data();
        capacity_ = bytes_.size();
    }

    CodeBytes& bytes_;
    unsigned char* data_ = nullptr;
    std::size_t size_ = 0, capacity_ = 0;
};

using Jcc = std::initializer_list<unsigned char>;
const Jcc kJe = {0x0F, 0x84}, kJne = {0x0F, 0x85}, kJb = {0x0F, 0x82}, kJae = {0x0F, 0x83}, kJbe = {0x0F, 0x86},
          kJl = {0x0F, 0x8C}, kJa = {0x0F, 0x87}, kJmp = {0xE9};

constexpr int kEax = 0, kEcx = 1, kEdx = 2, kEbx = 3;

namespace target {

// Saves what the code uses, loads the state passed as the only argument and jumps to its resume.
// `flag` is the debugger's Ctrl+C flag, or null.
void prologue(Emitter& e, const volatile std::sig_atomic_t* flag);
// Reached with the instruction's index in eax: stores the state back and returns.
void epilogue(Emitter& e, const volatile std::sig_atomic_t* flag);
// Compares so that the returned jump leaves when the cell at disp from the current one lies
// before the first cell, or (checkAbove) past the last. An empty jump: it cannot, nothing written.
Jcc checkBelow(Emitter& e, std::int64_t disp);
Jcc checkAbove(Emitter& e, std::int64_t disp);
// A drifting loop's later turns keep the limit of the end they newly reach in a register (rsi
// on x86-64; 32-bit x86 has none to spare), so that each turn's check is one compare: setLimit
// loads it, leaving the flags, for the cell at disp below the first or past the last; checkLimit
// compares the current cell with it.
bool hasLimitRegister();
void setLimit(Emitter& e, bool below, std::int64_t disp);
Jcc checkLimit(Emitter& e, bool below);
// Compares so that the returned jump leaves when a scan's next step leaves the tape; then
// scanStep makes that step.
Jcc scanCheck(Emitter& e, std::int32_t step);
void scanStep(Emitter& e, std::int32_t step);
// cell += by, leaving the flags as they are.
void moveCell(Emitter& e, std::int32_t by);
// A vector scan looks at the bytes from `from` to `from + bytes` past the current cell (`from` may
// be negative). windowLimit loads ecx with the furthest the current cell may go in the scan's
// direction (right: towards the end) while those bytes lie on the tape; then compareWithLimit
// compares the current cell with ecx, unsigned.
void windowLimit(Emitter& e, std::int32_t from, std::int32_t bytes, bool right);
void compareWithLimit(Emitter& e);
// cell += eax + by, eax zero-extended.
void moveCellByEax(Emitter& e, std::int32_t by);
// Registers that hold cells over a run of code that branches nowhere: 0 to count - 1 (r8d-r11d on
// x86-64; 32-bit x86 has none to spare). The cell's value lies in a register's low bits.
int heldRegisters();
// reg = the cell at disp (width bytes: 1, 2 or 4), zero-extended; the cell at disp = reg's low bits.
void loadHeld(Emitter& e, int reg, unsigned width, std::int32_t disp);
void storeHeld(Emitter& e, int reg, unsigned width, std::int32_t disp);
void addToHeld(Emitter& e, int reg, std::int32_t value);
// reg = eax * factor; reg += eax * factor (edx may change); eax = reg + plus.
void heldFromEax(Emitter& e, int reg, std::uint32_t factor);
void addEaxToHeld(Emitter& e, int reg, std::uint32_t factor);
void eaxFromHeld(Emitter& e, int reg, std::int32_t plus);
// Compares so that the returned jump leaves when the output buffer has no room for `count`
// bytes; then output writes the cell at `offset` to it `count` times (a short run: at most 127).
Jcc outputFull(Emitter& e, std::int32_t count);
void output(Emitter& e, std::int32_t offset, std::int32_t count);
// Compares so that the returned jump leaves when the flag is set.
Jcc interrupted(Emitter& e, const volatile std::sig_atomic_t* flag);

} // namespace target

} // namespace pellux

#endif
