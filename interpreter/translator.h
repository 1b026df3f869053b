// The translator's parts, shared by the files that emit each kind of instruction: the way out
// of the code, what is known of the tape, the cells' operations at their width, and the class.
#ifndef PELLUX_INTERPRETER_TRANSLATOR_H
#define PELLUX_INTERPRETER_TRANSLATOR_H

#include "native_code.h"
#include "native_target.h"

#include <algorithm>
#include <climits>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <vector>

#if defined(PELLUX_NATIVE_X86_64) || defined(PELLUX_NATIVE_I686)

namespace pellux::translation {


struct Exit {
    std::uint32_t rel32At;  // the code stays below 1 GiB (see translate)
    std::uint32_t instruction;
};

struct Jump {
    std::size_t rel32At;
    std::int32_t target;
};

// Cells known to lie on the tape, relative to the current cell: checked by an earlier block
// the pointer has not left since. The tape only grows, so what was checked stays true.
struct Known {
    std::int64_t low = 0, high = 0;
};

// Where a loop's turns, or a scan, take the pointer: back where it was, never left of it, never
// right of it, or either way.
enum class Drift : std::uint8_t { None, Right, Left, Unknown };

// The tape has no holes: after a move right by any amount, every cell from the leftmost known
// one up to the current cell is on the tape; likewise to the left.
inline Known afterDrift(Known known, Drift drift) {
    switch (drift) {
    case Drift::None: return known;
    case Drift::Right: return Known{known.low, 0};
    case Drift::Left: return Known{0, known.high};
    case Drift::Unknown: break;
    }
    return Known{};
}

// The operations on the cell at [cell + disp], at the cells' width: encoded the same in both modes,
// with the operand-size prefix for 16 bits. A load zero-extends into a 32-bit register, whose
// low bits are all the arithmetic after it needs.
class CellCode {
public:
    CellCode(Emitter& e, unsigned width) : e_(e), width_(width) {}

    void add(std::int32_t disp, std::int32_t value) { op(0x80, 0x81, 0, disp, width_, value); }  // sets the zero flag for the cell
    void store(std::int32_t disp, std::int32_t value) { op(0xC6, 0xC7, 0, disp, width_, value); }
    void compareWithZero(std::int32_t disp) { op(0x80, 0x83, 7, disp, 1, 0); }
    void load(int reg, std::int32_t disp) {  // movzx reg, byte or word; mov reg, dword
        if (width_ == 4) e_.cellOperand({0x8B}, reg, disp);
        else e_.cellOperand({0x0F, static_cast<unsigned char>(width_ == 1 ? 0xB6 : 0xB7)}, reg, disp);
    }
    void addRegister(int reg, std::int32_t disp) { op(0x00, 0x01, reg, disp); }
    void addToRegister(int reg, std::int32_t value) {  // reg's low bits += value; sets the zero flag for them
        registerOp(0x80, 0x81, static_cast<unsigned char>(0xC0 | reg));
        immediate(value);
    }
    void storeRegister(int reg, std::int32_t disp) { op(0x88, 0x89, reg, disp); }
    void subtractRegister(int reg, std::int32_t disp) { op(0x28, 0x29, reg, disp); }
    // For a register whose low bits hold a cell: what compareWithZero does with the cell.
    void testRegister(int reg) { registerOp(0x84, 0x85, static_cast<unsigned char>(0xC0 | reg << 3 | reg)); }
    void zeroExtend(int reg) {  // movzx reg, its low byte or word: the register as a load leaves it
        if (width_ != 4) e_.raw({0x0F, static_cast<unsigned char>(width_ == 1 ? 0xB6 : 0xB7),
                                 static_cast<unsigned char>(0xC0 | reg << 3 | reg)});
    }

private:
    // With an immediate of `immediateBytes` after the operand.
    void op(unsigned char byteOpcode, unsigned char wideOpcode, int reg, std::int32_t disp, unsigned immediateBytes = 0,
            std::int32_t immediate = 0) {
        e_.cellOperand(width_ == 2, width_ == 1 ? byteOpcode : wideOpcode, reg, disp, immediateBytes, immediate);
    }
    // On a register's low bits, of the cells' width: ModRM `modrm` names it.
    void registerOp(unsigned char byteOpcode, unsigned char wideOpcode, unsigned char modrm) {
        if (width_ == 2) e_.u8(0x66);
        e_.u8(width_ == 1 ? byteOpcode : wideOpcode);
        e_.u8(modrm);
    }
    void immediate(std::int32_t value) {
        if (width_ == 1) e_.u8(value);
        else if (width_ == 2) e_.u16(value);
        else e_.u32(value);
    }

    Emitter& e_;
    unsigned width_;
};

// Operations that act on cells and leave the pointer where it is: a loop's body made of these (after
// its Guard) is straight.
constexpr std::uint32_t opBit(OpCode op) { return 1u << static_cast<unsigned>(op); }
constexpr bool staysInTurn(OpCode op) {
    constexpr std::uint32_t kStay = opBit(OpCode::Guard) | opBit(OpCode::Add) | opBit(OpCode::Clear) |
                                    opBit(OpCode::MulLoop) | opBit(OpCode::MulTerm) | opBit(OpCode::SetTerm) |
                                    opBit(OpCode::Out) | opBit(OpCode::OutMany);
    return (kStay & opBit(op)) != 0;
}
static_assert(kOperationCount <= 32, "an operation is a bit of a 32-bit set");
// The operations with a property, as such a set: one test for an instruction, not a table's row.
template <typename Property>
constexpr std::uint32_t opsWhere(Property Operation::*property, Property value) {
    std::uint32_t ops = 0;
    for (int i = 0; i < kOperationCount; ++i)
        if (kOperations[i].*property == value) ops |= 1u << i;
    return ops;
}

constexpr std::int64_t kNoCell = INT64_MIN;  // the flags tell nothing of any cell
constexpr std::size_t kZerosKept = 16;
constexpr std::size_t kPrologueBytes = 64, kTypicalBytes = 8, kWithExitBytes = 32;
constexpr std::size_t kDeferLimit = 16;  // how far an add may move towards its jump: keeps translation linear
constexpr std::int32_t kInlineRepeats = 16;  // longer runs of '.' are written by the machine
constexpr int kWindowsPerTurn = 2;  // a vector scan's windows in each turn of its loop
// How far past a block's last cell a Guard checks the tape's end: the blocks that follow within
// it check nothing there. Not under the debugger, whose runs may start where only the plain
// reading went before.
constexpr std::int32_t kReachCells = 64;
constexpr std::size_t kRunLimit = 32;  // how far a run with cells in registers may reach: keeps translation linear
constexpr std::size_t kMirrorLookahead = 16;  // how far an add looks for the next add to its cell

// Cells known to hold zero, counted from the current cell: a few, each once, kept in place, so
// that each loop's copy of them allocates nothing. Most cells asked about are not among them: a
// bit for each residue modulo 32 that a cell there may have answers those without a search.
class ZeroCells {
public:
    bool has(std::int64_t cell) const { return (residues_ & bit(cell)) != 0 && find(cell) < count_; }
    void add(std::int64_t cell) {
        if (has(cell) || count_ == kZerosKept) return;
        cells_[count_++] = cell;
        residues_ |= bit(cell);
    }
    // Removes the cell, keeping the others in order; whether it was there. Its residue's bit stays
    // (another cell may have it): a question about it then searches.
    bool take(std::int64_t cell) {
        if ((residues_ & bit(cell)) == 0) return false;
        std::size_t at = find(cell);
        if (at == count_) return false;
        for (--count_; at < count_; ++at) cells_[at] = cells_[at + 1];
        return true;
    }
    void clear() {
        count_ = 0;
        residues_ = 0;
    }
    // The pointer moves by `by`: every cell is `by` nearer, and its residue turns with it.
    void shift(std::int64_t by) {
        for (std::size_t i = 0; i < count_; ++i) cells_[i] -= by;
        unsigned turn = static_cast<unsigned>(static_cast<std::uint64_t>(by) & 31);
        residues_ = (residues_ >> turn) | (residues_ << ((32 - turn) & 31));
    }
    const std::int64_t* begin() const { return cells_; }
    const std::int64_t* end() const { return cells_ + count_; }

private:
    static std::uint32_t bit(std::int64_t cell) { return 1u << (static_cast<std::uint64_t>(cell) & 31); }
    // Where the cell lies, or count_. From the last: the cells asked about were mostly added last.
    std::size_t find(std::int64_t cell) const {
        for (std::size_t at = count_; at-- > 0;)
            if (cells_[at] == cell) return at;
        return count_;
    }

    std::int64_t cells_[kZerosKept] = {};
    std::size_t count_ = 0;
    std::uint32_t residues_ = 0;  // the bits of the cells' residues
};

class Translator {
public:
    Translator(const Program& program, NativeCode& native, const volatile std::sig_atomic_t* interrupt,
               Vectors vectors)
        : program_(program), native_(native), e_(native.bytes), cells_(e_, program.dialect.cellBytes),
          width_(program.dialect.cellBytes), mask_(program.dialect.mask()), interrupt_(interrupt),
          vectors_(std::min(vectors, vectorsOfThisProcessor())), heldRegisters_(target::heldRegisters()) {}

    bool translate();

private:
    bool neverBack(std::size_t k) const;
    std::size_t passedOver(std::size_t end, std::int64_t cell) const;
    bool placeRightBefore(std::size_t k) const;
    void findLoopsAndTargets();
    std::size_t deferAdd(std::size_t k, bool entries = true);
    void arriveAt(std::size_t k);
    bool instruction(std::size_t k);
    void exitIf(Jcc jcc, std::size_t k) {
        if (jcc.size() == 0) return;
        exits_.push_back(Exit{static_cast<std::uint32_t>(e_.jumpLater(jcc)), static_cast<std::uint32_t>(k)});
        marks_[handedBackAt(k)] |= kMayComeIn;
        ++branches_;
    }
    // Where the machine hands a run back after doing instruction k for the code.
    std::size_t handedBackAt(std::size_t k) const {
        const Instruction& in = program_.code[k];
        return k + 1 + (operation(in.op).amount == Operand::Terms ? static_cast<std::size_t>(in.amount) : 0);
    }
    void exitNow(std::size_t k) { exitIf(kJmp, k); }
    // The bytes from the current cell to the one `cells` away; a translation whose distances do
    // not fit a displacement fails.
    std::int32_t bytes(std::int64_t cells) {
        std::int64_t distance = cells * width_;
        if (distance < INT32_MIN || distance > INT32_MAX) tooFar_ = true;
        return static_cast<std::int32_t>(distance);
    }
    void checkRange(std::int64_t low, std::int64_t high, std::size_t k);
    void testCell(std::int64_t offset);
    void move(std::int32_t by);
    void add(std::int64_t cell, std::int32_t amount) {  // sets the zero flag for the cell, if not known to be zero
        if (isZero(cell)) {  // a store: no read of what was just stored (a test compares instead)
            cells_.store(bytes(cell), amount);
            if (flagsCell_ == cell) flagsCell_ = kNoCell;
            if ((static_cast<std::uint32_t>(amount) & mask_) != 0) forget(cell);
            return;
        }
        cells_.add(bytes(cell), amount);
        flagsCell_ = cell;  // not among the zeros: nothing to forget
    }
    std::int64_t guardHigh(const Instruction& guard) const {
        std::int64_t high = std::int64_t(guard.cell) + guard.amount;
        return high > known_.high ? high + reach_ : high;
    }
    void guard(std::size_t k);
    // The end of the tape a drifting loop's later turns newly reach, whose limit a register holds
    // while they run; `cell` is the one the turn's Guard checks on that side.
    struct Limit {
        bool active = false, below = false, used = false;
        std::size_t guard = 0;
        std::int64_t cell = 0;
    };
    Limit limit_;
    Limit setLimit(std::size_t k, std::int64_t net);
    bool limited(bool below, std::int64_t cell) {
        if (!limit_.active || limit_.below != below || limit_.cell != cell) return false;
        limit_.used = true;
        return true;
    }
    void loopStart(std::size_t k);
    void loopEnd(std::size_t k);
    bool laterTurns(std::size_t end);
    std::size_t turnCopy(std::size_t end);
    bool branches(std::size_t k) const;
    bool turns(std::size_t k);
    // turnsPerUnit for a multiply loop's step, kept for the last step asked about: nearly all are 1 or -1.
    std::uint32_t perUnit(std::int32_t step) {
        if (step != perUnitStep_) {
            perUnitStep_ = step;
            perUnit_ = turnsPerUnit(step, mask_);
        }
        return perUnit_;
    }
    std::int32_t perUnitStep_ = 0;
    std::uint32_t perUnit_ = 0;  // turnsPerUnit(0, mask_)
    void productInEdx(std::uint32_t factor);
    bool term(const Instruction& term);
    bool multiply(std::size_t k);
    std::size_t emitFrom(std::size_t k, bool entries);
    std::size_t heldRun(std::size_t k, bool entries);
    std::size_t heldRunEnd(std::size_t k, bool& multiplies);
    int keepHeld(std::size_t end, int registers);
    // A cell held in a register over a run (see heldRun): its value is the register's plus
    // `plus`, or `plus` alone (reg < 0); `dirty` while memory holds something else.
    struct Held {
        std::int64_t cell;
        int uses;
        bool used;
        int reg;
        std::uint32_t plus;
        bool dirty;
    };
    std::vector<Held> held_;
    std::vector<int>* heldFree_ = nullptr;  // the registers no held cell takes, in a run
    std::vector<int> freeRegisters_;        // what heldFree_ points to: kept from run to run
    Held lastAdd_{};  // the add to the cell the next jump tests, done at the run's end
    std::size_t noRunBefore_ = 0;  // no run worth holding cells starts before this instruction
    Held* heldOf(std::int64_t cell) {
        for (Held& h : held_)
            if (h.cell == cell && h.uses >= 2) return &h;
        return nullptr;
    }
    Held& value(Held& h);
    void heldAdd(std::int64_t cell, std::uint32_t amount);
    void heldMultiply(std::size_t k);
    void flushHeld();
    // Cells whose values eax and edx also hold, zero-extended as a load leaves them, along code the
    // pointer and the control fall through (see mirroredAdd).
    static constexpr int kMirrors = 2;
    static constexpr int kMirrorRegister[kMirrors] = {kEax, kEdx};
    static constexpr int kEdxMirror = 1;  // edx's place in mirrored_
    std::int64_t mirrored_[kMirrors] = {kNoCell, kNoCell};
    // A cell that took a multiply loop's counter in eax as it is, while nothing after in the run
    // changed it or eax: eax mirrors it once the run ends. `runMirrorLoaded_`: eax came from a
    // load, so zero-extended; else from a held register, which only its low bits match.
    std::int64_t runMirror_ = kNoCell;
    bool runMirrorLoaded_ = false;
    // The mirrors as the run began, while their cells and registers stay as they were: its first
    // multiply loop takes its counter from there.
    std::int64_t runEntryMirrors_[kMirrors] = {kNoCell, kNoCell};
    void runChanges(std::int64_t cell) {
        if (cell == runMirror_) runMirror_ = kNoCell;
        for (std::int64_t& m : runEntryMirrors_)
            if (m == cell) m = kNoCell;
    }
    struct Reload {
        std::size_t instruction, code;
        std::int64_t cells[kMirrors];
    };
    std::vector<Reload> reloads_;  // entries from the machine into code where registers mirror cells
    // Whether any register mirrors a cell: asked for each instruction, so kept up to date by each
    // change of mirrored_ (noteMirrors) rather than worked out there.
    bool anyMirror_ = false;
    bool mirrors() const { return anyMirror_; }
    void noteMirrors() {
        static_assert(kMirrors == 2, "both mirrors are looked at");
        anyMirror_ = (mirrored_[0] != kNoCell) | (mirrored_[1] != kNoCell);
    }
    void dropMirrors() {
        for (std::int64_t& cell : mirrored_) cell = kNoCell;
        anyMirror_ = false;
    }
    void shiftMirrors(std::int32_t by) {  // the pointer moves by `by`; the registers stay
        for (std::int64_t& cell : mirrored_)
            if (cell != kNoCell) cell -= by;
    }
    int mirrorOf(std::int64_t cell) const {  // the register's slot, or -1
        for (int i = 0; i < kMirrors; ++i)
            if (mirrored_[i] == cell) return i;
        return -1;
    }
    void dropMirror(std::int64_t cell) {
        for (std::int64_t& m : mirrored_)
            if (m == cell) m = kNoCell;
        noteMirrors();
    }
    bool neededAgain(std::size_t k, bool inEdx) const;
    bool leavesEdx(std::size_t k) const;
    void mirroredAdd(std::size_t k);
    void keepMirrors(std::size_t k);
    void entryThroughReload(std::size_t k);
    void markWhereRunsComeIn();
    void emitReloads();
    void scan(std::size_t k);
    struct VectorScan {
        int windows;            // compared in each turn of the loop; 0: no vector loop
        std::size_t found[kWindowsPerTurn];  // the jump each takes when a kept cell is zero
        std::int32_t from;      // the first window's first byte, from the current cell
        std::int32_t advance;   // from one window to the next
    };
    VectorScan vectorScan(std::int32_t step);
    void outputRepeated(std::size_t k);

    const Program& program_;
    NativeCode& native_;
    Emitter e_;
    CellCode cells_;
    unsigned width_;
    std::uint32_t mask_;
    const volatile std::sig_atomic_t* interrupt_;
    Vectors vectors_;
    int heldRegisters_;  // target::heldRegisters(), asked once
    std::int64_t reach_ = 0;       // see kReachCells
    bool tooFar_ = false;
    std::size_t exitCommon_ = 0;
    std::vector<Exit> exits_;
    std::vector<Jump> jumps_;
    std::vector<Drift> drift_;     // by a loop's JumpIfZero
    // Under the debugger, where a loop's turns start: its JumpIfZero; else -1 (kTurnStart marks those).
    std::vector<std::int32_t> turnOf_;
    // What findLoopsAndTargets marks on each instruction, a byte each: read for every instruction,
    // one load, and little memory to touch.
    enum Mark : unsigned char {
        kTarget = 1,      // some jump lands here
        kStraight = 2,    // by a loop's JumpIfNotZero: it drifts, and holds no loop or scan
        kNeverBack = 4,   // by a loop's JumpIfNotZero: its cell is always zero there
        // Where the turns of a straight loop start, which only the code before it falls into: the
        // mirrors it brings stay there (see findLoopsAndTargets).
        kFallenInto = 8,
        kComesIn = 16,    // a run may come in here from outside: its mirrors need loading (emitReloads)
        // Where a run may come in, as far as is known when the code there is emitted: only there is
        // a Reload kept, and kComesIn picks from those (see findLoopsAndTargets).
        kMayComeIn = 32,
        kTurnStart = 64,  // where a loop's turns start: its first, and its later ones
    };
    std::vector<unsigned char> marks_;
    bool marked(std::size_t k, Mark mark) const { return (marks_[k] & mark) != 0; }
    bool target(std::size_t k) const { return marked(k, kTarget); }
    Known known_;
    std::size_t branches_ = 0;     // conditional ways out, and multiply loops' tests, emitted so far
    struct OpenLoop {
        Known atStart;
        Drift drift;
        std::size_t branches;      // branches_ at its JumpIfZero
        Known leaving;             // where a turn that was not the first ended, when a copy runs those
        ZeroCells zeros;           // zeros_ at its JumpIfZero
        Known atTurn;              // where its turns start, when the code before it falls in there
    };
    std::vector<OpenLoop> outer_;  // each open loop, with known_ at its JumpIfZero
    std::int64_t flagsCell_ = kNoCell;  // the cell whose value set the zero flag last
    ZeroCells zeros_;

    bool isZero(std::int64_t cell) const { return zeros_.has(cell); }
    void forget(std::int64_t cell) { zeros_.take(cell); }
    void zero(std::int64_t cell) { zeros_.add(cell); }
    void shiftZeros(std::int64_t by) { zeros_.shift(by); }
};

} // namespace pellux::translation

#endif

#endif
