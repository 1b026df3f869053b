#include "native_code.h"
#include "native_target.h"

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>

#if defined(__GNUC__) && (defined(PELLUX_NATIVE_X86_64) || defined(PELLUX_NATIVE_I686))
#include <cpuid.h>
#elif defined(_MSC_VER) && (defined(PELLUX_NATIVE_X86_64) || defined(PELLUX_NATIVE_I686))
#include <immintrin.h>
#include <intrin.h>
#endif

namespace pellux {

#if defined(PELLUX_NATIVE_X86_64) || defined(PELLUX_NATIVE_I686)

// cpuid's leaves 1 and 7 say what the processor has; xgetbv says whether the system saves the XMM
// and YMM registers on a switch, without which AVX must not be used at all. Asked once.
Vectors vectorsOfThisProcessor() {
    static const Vectors found = [] {
        constexpr unsigned kSse2 = 1u << 26, kOsXsave = 1u << 27, kAvx = 1u << 28, kAvx2 = 1u << 5;
        unsigned leaf1c = 0, leaf1d = 0, leaf7b = 0, highest = 0;
        std::uint64_t saved = 0;
#if defined(__GNUC__)
        unsigned a = 0, b = 0, c = 0, d = 0;
        highest = __get_cpuid_max(0, nullptr);
        if (highest >= 1) __cpuid(1, a, b, leaf1c, leaf1d);
        if (highest >= 7) __cpuid_count(7, 0, a, leaf7b, c, d);
        if (leaf1c & kOsXsave) {
            unsigned low = 0, high = 0;
            __asm__ volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
            saved = (std::uint64_t(high) << 32) | low;
        }
#elif defined(_MSC_VER)
        int r[4] = {0, 0, 0, 0};
        __cpuid(r, 0);
        highest = static_cast<unsigned>(r[0]);
        if (highest >= 1) {
            __cpuid(r, 1);
            leaf1c = static_cast<unsigned>(r[2]);
            leaf1d = static_cast<unsigned>(r[3]);
        }
        if (highest >= 7) {
            __cpuidex(r, 7, 0);
            leaf7b = static_cast<unsigned>(r[1]);
        }
        if (leaf1c & kOsXsave) saved = _xgetbv(0);
#endif
        constexpr std::uint64_t kXmmAndYmm = 6;
        if (!(leaf1d & kSse2)) return Vectors::None;
        if ((leaf1c & kAvx) && (saved & kXmmAndYmm) == kXmmAndYmm && (leaf7b & kAvx2)) return Vectors::Avx2;
        return Vectors::Sse2;
    }();
    return found;
}

namespace {

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
Known afterDrift(Known known, Drift drift) {
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

    void add(std::int32_t disp, std::int32_t value) {  // sets the zero flag for the cell
        op(0x80, 0x81, 0, disp);
        immediate(value);
    }
    void store(std::int32_t disp, std::int32_t value) {
        op(0xC6, 0xC7, 0, disp);
        immediate(value);
    }
    void compareWithZero(std::int32_t disp) {
        op(0x80, 0x83, 7, disp);
        e_.u8(0);
    }
    void load(int reg, std::int32_t disp) {  // movzx reg, byte or word; mov reg, dword
        if (width_ == 4) e_.cellOperand({0x8B}, reg, disp);
        else e_.cellOperand({0x0F, static_cast<unsigned char>(width_ == 1 ? 0xB6 : 0xB7)}, reg, disp);
    }
    void addRegister(int reg, std::int32_t disp) { op(0x00, 0x01, reg, disp); }
    void storeRegister(int reg, std::int32_t disp) { op(0x88, 0x89, reg, disp); }
    void subtractRegister(int reg, std::int32_t disp) { op(0x28, 0x29, reg, disp); }

private:
    void op(unsigned char byteOpcode, unsigned char wideOpcode, int reg, std::int32_t disp) {
        if (width_ == 2) e_.u8(0x66);
        e_.cellOperand({width_ == 1 ? byteOpcode : wideOpcode}, reg, disp);
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
constexpr bool staysInTurn(OpCode op) {
    return op == OpCode::Guard || op == OpCode::Add || op == OpCode::Clear || op == OpCode::MulLoop ||
           op == OpCode::MulTerm || op == OpCode::SetTerm || op == OpCode::Out || op == OpCode::OutMany;
}

constexpr std::int64_t kNoCell = INT64_MIN;  // the flags tell nothing of any cell
constexpr std::size_t kZerosKept = 16;
constexpr std::size_t kPrologueBytes = 64, kTypicalBytes = 8, kWithExitBytes = 32;
constexpr std::size_t kDeferLimit = 16;  // how far an add may move towards its jump: keeps translation linear
constexpr std::int32_t kInlineRepeats = 16;  // longer runs of '.' are written by the machine
constexpr int kWindowsPerTurn = 2;  // a vector scan's windows in each turn of its loop
constexpr std::size_t kRunLimit = 32;  // how far a run with cells in registers may reach: keeps translation linear

class Translator {
public:
    Translator(const Program& program, NativeCode& native, const volatile std::sig_atomic_t* interrupt,
               Vectors vectors)
        : program_(program), native_(native), e_(native.bytes), cells_(e_, program.dialect.cellBytes),
          width_(program.dialect.cellBytes), mask_(program.dialect.mask()), interrupt_(interrupt),
          vectors_(std::min(vectors, vectorsOfThisProcessor())) {}

    bool translate();

private:
    void findLoopsAndTargets();
    std::size_t deferAdd(std::size_t k, bool entries = true);
    void arriveAt(std::size_t k);
    bool instruction(std::size_t k);
    void exitIf(Jcc jcc, std::size_t k) {
        if (jcc.size() == 0) return;
        exits_.push_back(Exit{static_cast<std::uint32_t>(e_.jumpLater(jcc)), static_cast<std::uint32_t>(k)});
        ++branches_;
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
    void add(std::int64_t cell, std::int32_t amount) {  // sets the zero flag for the cell
        cells_.add(bytes(cell), amount);
        flagsCell_ = cell;
        forget(cell);
    }
    void guard(std::size_t k);
    void loopStart(std::size_t k);
    void loopEnd(std::size_t k);
    void laterTurns(std::size_t end);
    bool branches(std::size_t k) const;
    void turns(std::size_t k);
    void term(const Instruction& term);
    bool multiply(std::size_t k);
    std::size_t emitFrom(std::size_t k, bool entries);
    std::size_t heldRun(std::size_t k, bool entries);
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
    std::vector<int>* heldFree_ = nullptr;  // the registers no held cell takes
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
    bool tooFar_ = false;
    std::size_t exitCommon_ = 0;
    std::vector<Exit> exits_;
    std::vector<Jump> jumps_;
    std::vector<Drift> drift_;     // by a loop's JumpIfZero
    std::vector<bool> target_;     // some jump lands here
    std::vector<std::int32_t> turnOf_;  // where a loop's turns start: its JumpIfZero; else -1
    std::vector<bool> straight_;   // by a loop's JumpIfNotZero: it drifts, and holds no loop or scan
    Known known_;
    std::size_t branches_ = 0;     // conditional ways out, and multiply loops' tests, emitted so far
    struct OpenLoop {
        Known atStart;
        Drift drift;
        std::size_t branches;      // branches_ at its JumpIfZero
    };
    std::vector<OpenLoop> outer_;  // each open loop, with known_ at its JumpIfZero
    std::int64_t flagsCell_ = kNoCell;  // the cell whose value set the zero flag last
    std::vector<std::int64_t> zeros_;   // cells known to hold zero, relative to the current cell

    bool isZero(std::int64_t cell) const { return std::find(zeros_.begin(), zeros_.end(), cell) != zeros_.end(); }
    void forget(std::int64_t cell) { zeros_.erase(std::remove(zeros_.begin(), zeros_.end(), cell), zeros_.end()); }
    void zero(std::int64_t cell) {
        if (!isZero(cell) && zeros_.size() < kZerosKept) zeros_.push_back(cell);
    }
    void shiftZeros(std::int64_t by) {
        for (std::int64_t& cell : zeros_) cell -= by;
    }
};

// Checks the sides of [low, high] not yet known to be on the tape.
void Translator::checkRange(std::int64_t low, std::int64_t high, std::size_t k) {
    if (low < known_.low) exitIf(target::checkBelow(e_, bytes(low)), k);
    if (high > known_.high) exitIf(target::checkAbove(e_, bytes(high)), k);
    if (low < known_.low || high > known_.high) flagsCell_ = kNoCell;
}

void Translator::testCell(std::int64_t offset) {
    if (flagsCell_ == offset) return;  // the add that just changed the cell set the zero flag
    cells_.compareWithZero(bytes(offset));
}

// Whether a multiply loop tests its counter first. With every cell known to be on the tape and
// only adds to do, a loop that does not turn adds zero everywhere: no branch, which the processor
// could only guess.
bool Translator::branches(std::size_t k) const {
    const Instruction& loop = program_.code[k];
    const Span& info = program_.spans[static_cast<std::size_t>(loop.link)];
    bool sets = false;
    for (std::int32_t i = 1; i <= loop.amount; ++i)
        sets = sets || program_.code[k + static_cast<std::size_t>(i)].op == OpCode::SetTerm;
    return sets || std::int64_t(loop.cell) + info.low < known_.low || std::int64_t(loop.cell) + info.high > known_.high;
}

// eax, the counter's value, becomes the loop's turns.
void Translator::turns(std::size_t k) {
    std::uint32_t perUnit = turnsPerUnit(program_.spans[static_cast<std::size_t>(program_.code[k].link)].step, mask_);
    if (perUnit == mask_) {
        e_.raw({0xF7, 0xD8});  // neg eax: the turns, -v
    } else if (perUnit != 1) {
        e_.raw({0x69, 0xC0});  // imul eax, eax, perUnit
        e_.u32(static_cast<std::int32_t>(perUnit));
    }
}

// A term's cell in memory gets eax times its factor, or its value.
void Translator::term(const Instruction& term) {
    std::uint32_t factor = static_cast<std::uint32_t>(term.amount) & mask_;
    std::int32_t at = bytes(term.cell);
    // A cell known to hold zero takes the product as it is: no read of what was just stored.
    bool blank = isZero(term.cell);
    forget(term.cell);
    if (term.op == OpCode::SetTerm) {
        cells_.store(at, term.amount);
    } else if (factor == 1) {
        if (blank) cells_.storeRegister(kEax, at);
        else cells_.addRegister(kEax, at);
    } else if (factor == mask_ && !blank) {
        cells_.subtractRegister(kEax, at);
    } else {
        e_.raw({0x69, 0xD0});  // imul edx, eax, factor
        e_.u32(static_cast<std::int32_t>(factor));
        if (blank) cells_.storeRegister(kEdx, at);
        else cells_.addRegister(kEdx, at);
    }
}

// tape[p + offset] turns to zero; each term adds turns * a to its cell, or sets it.
bool Translator::multiply(std::size_t k) {
    const Instruction& loop = program_.code[k];
    const Span& info = program_.spans[static_cast<std::size_t>(loop.link)];
    std::int64_t low = std::int64_t(loop.cell) + info.low, high = std::int64_t(loop.cell) + info.high;
    bool branch = branches(k);
    cells_.load(kEax, bytes(loop.cell));
    std::size_t skip = 0;
    if (branch) {
        e_.raw({0x85, 0xC0});  // test eax, eax
        skip = e_.jumpLater(kJe);
        ++branches_;
        checkRange(low, high, k);  // only when the loop turns: a loop that does not turn visits nothing
    }
    turns(k);
    for (std::int32_t i = 1; i <= loop.amount; ++i) term(program_.code[k + static_cast<std::size_t>(i)]);
    cells_.store(bytes(loop.cell), 0);
    if (branch) e_.bind(skip, e_.size());
    flagsCell_ = kNoCell;
    zero(loop.cell);
    return true;
}

// Moves by the step while the cell is not zero. Before each move that would leave the tape it
// hands the scan, at the cell reached so far, to the machine.
void Translator::scan(std::size_t k) {
    std::int32_t step = bytes(program_.code[k].amount);
    testCell(0);
    std::size_t done = e_.jumpLater(kJe);
    VectorScan vector = vectorScan(step);
    std::size_t loop = e_.size();
    exitIf(target::scanCheck(e_, step), k);
    target::scanStep(e_, step);
    cells_.compareWithZero(0);
    e_.bind(e_.jumpLater(kJne), loop);
    for (int i = 0; i < vector.windows; ++i) {
        std::size_t out = e_.jumpLater(kJmp);
        e_.bind(vector.found[i], e_.size());
        if (step > 0) e_.raw({0x0F, 0xBC, 0xC0});  // bsf eax, eax: the nearest zero going right
        else e_.raw({0x0F, 0xBD, 0xC0});           // bsr eax, eax: going left
        target::moveCellByEax(e_, vector.from + i * vector.advance);
        if (vectors_ == Vectors::Avx2) e_.raw({0xC5, 0xF8, 0x77});  // vzeroupper
        e_.bind(out, e_.size());
    }
    e_.bind(done, e_.size());
    known_ = afterDrift(known_, step > 0 ? Drift::Right : Drift::Left);
    flagsCell_ = kNoCell;
    zeros_.assign(1, 0);  // a scan ends on a zero
}

// From a cell that is not zero, compares windows of cells with zero at once and keeps those the
// scan's steps reach: the whole window when the step is one cell, every sixth cell when it is
// six. While no kept cell is zero the scan moves past them; near the tape's ends the plain loop
// that follows takes over (so growth and faults stay the machine's). Each window has its jump to
// take with the kept cells' bits in eax; none when the step is too long for a window to gain.
Translator::VectorScan Translator::vectorScan(std::int32_t step) {
    VectorScan scan{};
    if (vectors_ == Vectors::None) return scan;
    std::int32_t window = vectors_ == Vectors::Avx2 ? 32 : 16, width = static_cast<std::int32_t>(width_);
    std::int32_t stride = step < 0 ? -step : step;
    if (stride > window / 2) return scan;
    std::int32_t reached = (window - width) / stride + 1;  // steps whose cells lie in a window
    std::uint32_t mask = 0;
    for (std::int32_t i = 0; i < reached; ++i) mask |= 1u << (step > 0 ? i * stride : window - width - i * stride);
    // The first window begins at the first step's cell, or ends with it; the next one follows.
    scan.from = step > 0 ? step : step - (window - width);
    scan.advance = reached * step;
    scan.windows = kWindowsPerTurn;
    std::int32_t span = window + (scan.windows - 1) * reached * stride;
    unsigned char compare = static_cast<unsigned char>(width == 1 ? 0x74 : width == 2 ? 0x75 : 0x76);
    bool avx = vectors_ == Vectors::Avx2;
    if (avx) e_.raw({0xC5, 0xF5, 0xEF, 0xC9});  // vpxor ymm1, ymm1, ymm1
    else e_.raw({0x66, 0x0F, 0xEF, 0xC9});      // pxor xmm1, xmm1
    target::windowLimit(e_, step > 0 ? scan.from : scan.from + (scan.windows - 1) * scan.advance, span, step > 0);
    target::compareWithLimit(e_);
    std::size_t plain = e_.jumpLater(step > 0 ? kJa : kJb);
    std::size_t top = e_.size();
    for (int i = 0; i < scan.windows; ++i) {
        std::int32_t at = scan.from + i * scan.advance;
        if (avx) {
            e_.cellOperand({0xC5, 0xF5, compare}, 0, at);  // vpcmpeq ymm0, ymm1, [cell + at]
            e_.raw({0xC5, 0xFD, 0xD7, 0xC0});              // vpmovmskb eax, ymm0
        } else {
            e_.cellOperand({0xF3, 0x0F, 0x6F}, 0, at);     // movdqu xmm0, [cell + at]
            e_.raw({0x66, 0x0F, compare, 0xC1});           // pcmpeq xmm0, xmm1
            e_.raw({0x66, 0x0F, 0xD7, 0xC0});              // pmovmskb eax, xmm0
        }
        e_.raw({0x25});  // and eax, mask
        e_.u32(static_cast<std::int32_t>(mask));
        scan.found[i] = e_.jumpLater(kJne);
    }
    target::moveCell(e_, scan.windows * scan.advance);
    target::compareWithLimit(e_);
    e_.bind(e_.jumpLater(step > 0 ? kJbe : kJae), top);
    e_.bind(plain, e_.size());
    if (avx) e_.raw({0xC5, 0xF8, 0x77});  // vzeroupper: the machine's own code may use SSE
    return scan;
}

// A short run of '.': the same byte, the cell's lowest, stored n times when the buffer has room
// for all of them.
void Translator::outputRepeated(std::size_t k) {
    const Instruction& in = program_.code[k];
    if (in.amount > kInlineRepeats) {
        exitNow(k);
        return;
    }
    exitIf(target::outputFull(e_, in.amount), k);
    target::output(e_, bytes(in.cell), in.amount);
}

// Finds which way each loop's turns take the pointer, and the jumps' landing places.
void Translator::findLoopsAndTargets() {
    const std::vector<Instruction>& code = program_.code;
    struct Open {
        std::size_t start;
        std::int64_t net;              // the turn's fixed moves
        bool right, left, unknown;     // what its inner loops and scans add to them
        bool straight;                 // a Guard, then only operations that stay on their cells
    };
    std::vector<Open> open;
    drift_.assign(code.size(), Drift::Unknown);
    straight_.assign(code.size(), false);
    target_.assign(code.size() + 1, false);
    turnOf_.assign(code.size() + 1, -1);
    for (std::size_t k = 0; k < code.size(); ++k) {
        const Instruction& in = code[k];
        const Operation& op = operation(in.op);
        if (op.link == Operand::Code) target_[static_cast<std::size_t>(in.link)] = true;
        if (in.op == OpCode::JumpIfZero) {
            if (!open.empty()) open.back().straight = false;
            open.push_back(Open{k, 0, false, false, false, true});
        } else if (!open.empty() && in.op != OpCode::JumpIfNotZero) {
            bool first = k == open.back().start + 1;
            open.back().straight = open.back().straight && (in.op == OpCode::Guard) == first && staysInTurn(in.op);
        }
        if (open.empty()) continue;
        switch (op.motion) {
        case Motion::Stays: break;
        case Motion::ByAmount: open.back().net += in.amount; break;
        case Motion::Drifts: (in.amount > 0 ? open.back().right : open.back().left) = true; break;
        case Motion::ByCell: open.back().net += in.cell; break;
        }
        if (in.op != OpCode::JumpIfNotZero) continue;
        Open loop = open.back();
        open.pop_back();
        // Where the first turn starts, and where the later ones do (past the Guard when it holds
        // for every turn).
        turnOf_[loop.start + 1] = turnOf_[static_cast<std::size_t>(in.link)] = static_cast<std::int32_t>(loop.start);
        Drift drift = Drift::Unknown;
        if (loop.unknown || (loop.right && loop.left)) drift = Drift::Unknown;
        else if (loop.right) drift = loop.net >= 0 ? Drift::Right : Drift::Unknown;
        else if (loop.left) drift = loop.net <= 0 ? Drift::Left : Drift::Unknown;
        else drift = loop.net == 0 ? Drift::None : loop.net > 0 ? Drift::Right : Drift::Left;
        drift_[loop.start] = drift;
        straight_[k] = loop.straight && loop.start + 1 < k && drift != Drift::None && drift != Drift::Unknown;
        if (open.empty()) continue;
        if (drift == Drift::Right) open.back().right = true;
        if (drift == Drift::Left) open.back().left = true;
        if (drift == Drift::Unknown) open.back().unknown = true;
    }
}

// An add whose cell the next jump tests goes last before the jump, so the jump can use the
// flags the add sets. Returns the instruction to go on from: the jump, or k + 1.
std::size_t Translator::deferAdd(std::size_t k, bool entries) {
    const std::vector<Instruction>& code = program_.code;
    std::int64_t cell = code[k].cell;
    std::size_t j = k + 1, last = std::min(code.size(), k + kDeferLimit);
    while (j < last && !target_[j] && (code[j].op == OpCode::Add || code[j].op == OpCode::Clear) &&
           code[j].cell != cell)
        ++j;
    bool tested = j < code.size() && !target_[j] &&
                  ((code[j].op == OpCode::JumpIfZero && cell == 0) ||
                   (code[j].op == OpCode::JumpIfNotZero && cell == code[j].cell));
    if (!tested || j == k + 1) return k + 1;
    for (std::size_t i = k + 1; i < j; ++i) {
        if (entries) native_.entries[i] = static_cast<std::uint32_t>(e_.size());  // no jump or return lands here
        instruction(i);
    }
    instruction(k);
    return j;
}

// What holds where a jump lands is what holds on every way there.
void Translator::arriveAt(std::size_t k) {
    if (!target_[k]) return;
    flagsCell_ = kNoCell;
    // Past a loop both ways in (the skip and the last turn) leave the cell at zero, as its
    // JumpIfNotZero has recorded; a loop's start is also reached from its end.
    if (k == 0 || program_.code[k - 1].op != OpCode::JumpIfNotZero) zeros_.clear();
}

// The pointer moves by `by`; the flags stay.
void Translator::move(std::int32_t by) {
    target::moveCell(e_, bytes(by));
    known_.low -= by;
    known_.high -= by;
    if (flagsCell_ != kNoCell) flagsCell_ -= by;
    shiftZeros(by);
}

void Translator::guard(std::size_t k) {
    const Instruction& in = program_.code[k];
    std::int64_t high = std::int64_t(in.cell) + in.amount;
    checkRange(in.cell, high, k);
    known_.low = std::min<std::int64_t>(known_.low, in.cell);
    known_.high = std::max(known_.high, high);
}

void Translator::loopStart(std::size_t k) {
    const Instruction& in = program_.code[k];
    if (isZero(0)) {
        jumps_.push_back(Jump{e_.jumpLater(kJmp), in.link});  // the loop cannot start
    } else {
        testCell(0);
        jumps_.push_back(Jump{e_.jumpLater(kJe), in.link});
    }
    outer_.push_back(OpenLoop{known_, drift_[k], branches_});
    known_ = afterDrift(known_, drift_[k]);  // at each turn's start
    flagsCell_ = kNoCell;
}

void Translator::loopEnd(std::size_t k) {
    const Instruction& in = program_.code[k];
    if (in.cell != 0) move(in.cell);
    if (!isZero(0)) {  // a turn that always ends on a zero never goes round again
        testCell(0);
        jumps_.push_back(Jump{e_.jumpLater(kJne), in.link});
        if (straight_[k] && !interrupt_) laterTurns(k);
    }
    known_ = afterDrift(outer_.back().atStart, outer_.back().drift);
    outer_.pop_back();
    flagsCell_ = kNoCell;
    zeros_.assign(1, 0);
}

// A straight loop that drifts runs its turns after the first in a copy of its body, which starts
// knowing what the turn before checked (the tape has no holes: what lies between two cells on it
// is on it too), so each turn checks only the cells it newly reaches, and a multiply loop within
// those needs no test. A way out of the copy goes to the machine, which resumes in the first copy:
// what that one assumes holds for any turn. The copy stays only where it branches less; under the
// debugger, whose Ctrl+C is looked at where each turn starts, there is none.
void Translator::laterTurns(std::size_t end) {
    const Instruction& in = program_.code[end];
    const OpenLoop& loop = outer_.back();
    Known afterTurn = known_, atTurnStart = afterDrift(loop.atStart, loop.drift);
    Known start{std::min(afterTurn.low, atTurnStart.low), std::max(afterTurn.high, atTurnStart.high)};
    std::size_t bytesBefore = e_.size(), exitsBefore = exits_.size(), branchesBefore = branches_;
    std::size_t firstTurn = branches_ - loop.branches;
    Jump back = jumps_.back();
    jumps_.pop_back();
    std::size_t over = e_.jumpLater(kJmp);
    std::size_t top = e_.size();
    known_ = start;
    zeros_.clear();
    flagsCell_ = kNoCell;
    std::size_t noRunBefore = noRunBefore_;
    noRunBefore_ = 0;  // the copy knows more: its runs may differ
    for (std::size_t i = static_cast<std::size_t>(in.link); i < end;) i = emitFrom(i, false);
    noRunBefore_ = noRunBefore;
    if (in.cell != 0) move(in.cell);
    bool repeats = !isZero(0);
    testCell(0);
    e_.bind(e_.jumpLater(kJne), top);
    // It must also hold where the copy's own turns go round.
    bool holds = known_.low <= start.low && known_.high >= start.high;
    if (repeats && holds && branches_ - branchesBefore < firstTurn) {
        e_.bind(back.rel32At, top);
        e_.bind(over, e_.size());
        return;
    }
    e_.truncate(bytesBefore);
    exits_.resize(exitsBefore);
    branches_ = branchesBefore;
    jumps_.push_back(back);
}

bool Translator::instruction(std::size_t k) {
    const Instruction& in = program_.code[k];
    switch (in.op) {
    case OpCode::Add:
        add(in.cell, in.amount);
        break;
    case OpCode::Move:
        move(in.amount);
        break;
    case OpCode::Clear:
        cells_.store(bytes(in.cell), 0);
        if (flagsCell_ == in.cell) flagsCell_ = kNoCell;
        zero(in.cell);
        break;
    case OpCode::Out:
        exitIf(target::outputFull(e_, 1), k);
        target::output(e_, bytes(in.cell), 1);
        flagsCell_ = kNoCell;
        break;
    case OpCode::Guard:
        guard(k);
        break;
    case OpCode::MulLoop:
        return multiply(k);
    case OpCode::Scan:
        scan(k);
        break;
    case OpCode::JumpIfZero:
        loopStart(k);
        break;
    case OpCode::JumpIfNotZero:
        loopEnd(k);
        break;
    case OpCode::OutMany:
        outputRepeated(k);
        flagsCell_ = kNoCell;
        break;
    case OpCode::In:
    case OpCode::InMany:
        exitNow(k);
        flagsCell_ = kNoCell;
        forget(in.cell);
        break;
    case OpCode::Print:
    case OpCode::End:
        exitNow(k);
        flagsCell_ = kNoCell;
        break;
    case OpCode::Stop:
        exitNow(k);
        [[fallthrough]];
    case OpCode::Place:
        // A run may start past here, where the plain reading brought the program: what is known of
        // the tape holds (the plain reading visited the same cells), but the flags were not set here.
        flagsCell_ = kNoCell;
        break;
    case OpCode::MulTerm:  // part of its MulLoop
    case OpCode::SetTerm:
        break;
    }
    return true;
}

// The code from instruction k on: a run with cells held in registers, an add moved to the jump
// that tests it, or the instruction alone. Returns where to go on from; with `entries`, records
// where the instructions it passes begin.
std::size_t Translator::emitFrom(std::size_t k, bool entries) {
    std::size_t next = heldRun(k, entries);
    if (next != k) return next;
    next = program_.code[k].op == OpCode::Add ? deferAdd(k, entries) : k + 1;
    if (next == k + 1) instruction(k);
    return next;
}

// A run of adds, clears and multiply loops that branch nowhere, from k: the cells it uses more
// than once (but the one the jump after it tests) are loaded into registers when first needed,
// computed there, and stored once at its end, so no cell is read back just after it was written.
// Nothing in the run leaves the code, and no jump lands in it. Returns where it ends, or k.
std::size_t Translator::heldRun(std::size_t k, bool entries) {
    const std::vector<Instruction>& code = program_.code;
    int registers = target::heldRegisters();
    if (registers == 0 || k < noRunBefore_) return k;
    held_.clear();
    auto use = [&](std::int64_t cell) {
        for (Held& h : held_)
            if (h.cell == cell) {
                ++h.uses;
                return;
            }
        held_.push_back(Held{cell, 1, false, -1, 0, false});
    };
    std::size_t end = k;
    bool multiplies = false;
    while (end < code.size() && end - k < kRunLimit && (end == k || (!target_[end] && turnOf_[end] < 0))) {
        const Instruction& in = code[end];
        if (in.op == OpCode::Add || in.op == OpCode::Clear) {
            use(in.cell);
            ++end;
        } else if (in.op == OpCode::MulLoop && end + 1 + static_cast<std::size_t>(in.amount) - k <= kRunLimit &&
                   !branches(end)) {
            for (std::int32_t i = 0; i <= in.amount; ++i) use(code[end + static_cast<std::size_t>(i)].cell);
            end += 1 + static_cast<std::size_t>(in.amount);
            multiplies = true;
        } else {
            break;
        }
    }
    // The cell the next jump tests stays in memory, so that its last add can set the flags.
    std::int64_t moved = 0, tested = kNoCell;
    std::size_t after = end;
    while (after < code.size() && code[after].op == OpCode::Move) moved += code[after++].amount;
    if (after < code.size() && code[after].op == OpCode::JumpIfZero) tested = moved;
    if (after < code.size() && code[after].op == OpCode::JumpIfNotZero) tested = moved + code[after].cell;
    int kept = 0;
    lastAdd_ = Held{kNoCell, 0, false, -1, 0, false};
    for (Held& h : held_) {
        if (h.cell == tested && h.uses == 1) lastAdd_.cell = tested;  // its add, if any, goes last
        if (h.cell == tested || kept == registers) h.uses = 1;
        if (h.uses >= 2) ++kept;
    }
    if (!multiplies || kept == 0) {
        noRunBefore_ = end;  // a run that starts within this one would hold no more
        return k;
    }
    std::vector<int> free;
    for (int r = registers - 1; r >= 0; --r) free.push_back(r);
    heldFree_ = &free;
    for (std::size_t i = k; i < end;) {
        if (entries) native_.entries[i] = static_cast<std::uint32_t>(e_.size());  // no jump or return lands here
        const Instruction& in = code[i];
        if (in.op == OpCode::Add) {
            heldAdd(in.cell, static_cast<std::uint32_t>(in.amount));
        } else if (in.op == OpCode::Clear) {
            if (Held* h = heldOf(in.cell)) {
                if (h->reg >= 0) free.push_back(h->reg);
                *h = Held{h->cell, h->uses, true, -1, 0, true};
            } else {
                instruction(i);
            }
        } else {
            heldMultiply(i);
            for (std::int32_t t = 1; t <= in.amount && entries; ++t)
                native_.entries[i + static_cast<std::size_t>(t)] = static_cast<std::uint32_t>(e_.size());
            i += static_cast<std::size_t>(in.amount);
        }
        ++i;
    }
    flushHeld();
    heldFree_ = nullptr;
    return end;
}

// The held cell's value, loaded into a register when it is first needed (a cell known to be zero
// needs no load).
Translator::Held& Translator::value(Held& h) {
    if (h.used) return h;
    h.used = true;
    if (isZero(h.cell)) return h;
    h.reg = heldFree_->back();
    heldFree_->pop_back();
    target::loadHeld(e_, h.reg, width_, bytes(h.cell));
    return h;
}

void Translator::heldAdd(std::int64_t cell, std::uint32_t amount) {
    Held* h = heldOf(cell);
    if (!h && cell == lastAdd_.cell) {
        lastAdd_.plus += amount;
        lastAdd_.dirty = true;
        return;
    }
    if (!h) {
        if ((amount & mask_) != 0) add(cell, static_cast<std::int32_t>(amount));
        return;
    }
    value(*h).plus += amount;
    h->dirty = true;
}

// A multiply loop within a run: its counter and its terms' cells held or in memory.
void Translator::heldMultiply(std::size_t k) {
    const Instruction& loop = program_.code[k];
    Held* counter = heldOf(loop.cell);
    if (counter && value(*counter).reg < 0) {
        // A counter of known value: the turns are known, and each term is an add.
        std::uint32_t perUnit = turnsPerUnit(program_.spans[static_cast<std::size_t>(loop.link)].step, mask_);
        std::uint32_t turns = counter->plus * perUnit;
        for (std::int32_t i = 1; i <= loop.amount; ++i) {
            const Instruction& term = program_.code[k + static_cast<std::size_t>(i)];
            heldAdd(term.cell, turns * static_cast<std::uint32_t>(term.amount));
        }
    } else {
        if (counter) {
            target::eaxFromHeld(e_, counter->reg, static_cast<std::int32_t>(counter->plus));
        } else {
            cells_.load(kEax, bytes(loop.cell));
        }
        turns(k);
        for (std::int32_t i = 1; i <= loop.amount; ++i) {
            const Instruction& term = program_.code[k + static_cast<std::size_t>(i)];
            Held* h = heldOf(term.cell);
            if (!h) {
                this->term(term);
                continue;
            }
            std::uint32_t factor = static_cast<std::uint32_t>(term.amount) & mask_;
            if (value(*h).reg < 0) {
                h->reg = heldFree_->back();
                heldFree_->pop_back();
                target::heldFromEax(e_, h->reg, factor);
            } else {
                target::addEaxToHeld(e_, h->reg, factor);
            }
            h->dirty = true;
        }
    }
    if (counter) {
        if (counter->reg >= 0) heldFree_->push_back(counter->reg);
        *counter = Held{counter->cell, counter->uses, true, -1, 0, true};
    } else {
        cells_.store(bytes(loop.cell), 0);
        zero(loop.cell);
    }
    flagsCell_ = kNoCell;
}

// The end of a run: each held cell that changed is stored.
void Translator::flushHeld() {
    for (Held& h : held_) {
        if (h.uses < 2 || !h.dirty) continue;
        forget(h.cell);
        if (h.reg < 0) {
            cells_.store(bytes(h.cell), static_cast<std::int32_t>(h.plus));
            if ((h.plus & mask_) == 0) zero(h.cell);
        } else {
            if ((h.plus & mask_) != 0) target::addToHeld(e_, h.reg, static_cast<std::int32_t>(h.plus));
            target::storeHeld(e_, h.reg, width_, bytes(h.cell));
        }
    }
    flagsCell_ = kNoCell;
    if (lastAdd_.dirty && (lastAdd_.plus & mask_) != 0) add(lastAdd_.cell, static_cast<std::int32_t>(lastAdd_.plus));
}

bool Translator::translate() {
    const std::vector<Instruction>& code = program_.code;
    native_.bytes.clear();
    // Big programs: room for all of it up front, so the bytes are never copied as they grow.
    // Writes and tape checks take more, with their ways out.
    std::size_t expected = kPrologueBytes;
    for (const Instruction& in : code)
        expected += operation(in.op).done == Done::Inline ? kTypicalBytes : kWithExitBytes;
    native_.bytes.reserve(expected);
    native_.entries.assign(code.size() + 1, 0);
    findLoopsAndTargets();
    target::prologue(e_, interrupt_);
    exitCommon_ = e_.size();
    target::epilogue(e_, interrupt_);
    for (std::size_t k = 0; k < code.size();) {
        native_.entries[k] = static_cast<std::uint32_t>(e_.size());
        arriveAt(k);
        // Under the debugger each turn of a loop, the first included, starts by looking at the Ctrl+C
        // flag: the flags hold nothing here, and a set flag stops the run at the loop's JumpIfZero.
        if (interrupt_ && turnOf_[k] >= 0) exitIf(target::interrupted(e_, interrupt_), static_cast<std::size_t>(turnOf_[k]));
        k = emitFrom(k, true);
        if (e_.size() > INT32_MAX / 2) return false;
    }
    if (tooFar_) return false;
    native_.entries[code.size()] = static_cast<std::uint32_t>(e_.size());
    for (const Jump& jump : jumps_) e_.bind(jump.rel32At, native_.entries[static_cast<std::size_t>(jump.target)]);
    // Each way out sets eax to its instruction; the stubs lie after the code, off the hot path.
    for (const Exit& exit : exits_) {
        e_.bind(exit.rel32At, e_.size());
        e_.raw({0xB8});  // mov eax, k
        e_.u32(static_cast<std::int32_t>(exit.instruction));
        e_.bind(e_.jumpLater(kJmp), exitCommon_);
    }
    return true;
}

} // namespace

bool translate(const Program& program, NativeCode& native, const volatile std::sig_atomic_t* interrupt,
               Vectors vectors) {
    Translator translator(program, native, interrupt, vectors);
    if (translator.translate()) return true;
    native = NativeCode{};
    return false;
}

#else

Vectors vectorsOfThisProcessor() { return Vectors::None; }

bool translate(const Program&, NativeCode& native, const volatile std::sig_atomic_t*, Vectors) {
    native = NativeCode{};
    return false;
}

#endif

} // namespace pellux
