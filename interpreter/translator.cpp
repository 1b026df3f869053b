// The translation of a compiled program into machine code for this processor: it takes the
// compiled form and gives each instruction its place in the code, with a way out to the portable
// machine wherever the code hands over. Loops, jumps and what is known of the tape are here; the
// idioms and the runs held in registers have files of their own.
#include "translator.h"

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

namespace translation {

// Whether the cell a loop's JumpIfNotZero at k tests is zero however the code gets there: it was
// last made zero (by an inner loop that ended on it, a clear of it or a multiply loop it counted)
// along code that leaves it alone and moves the pointer only by known amounts, through inner loops
// whose turns come back where they began, and that no jump lands in. Its jump back is never taken,
// so the loop's start is no jump's target.
bool Translator::neverBack(std::size_t k) const {
    const std::vector<Instruction>& code = program_.code;
    std::int64_t cell = code[k].cell;  // the tested cell, from the pointer before the jump's move
    for (std::size_t before = k; before-- > 0;) {
        const Instruction& last = code[before];
        switch (last.op) {
        case OpCode::Clear:
        case OpCode::MulLoop:
            if (last.cell == cell) return true;
            break;
        case OpCode::Add:
        case OpCode::MulTerm:
        case OpCode::SetTerm:
            if (last.cell == cell) return false;
            break;
        case OpCode::Move:
            cell += last.amount;
            break;
        case OpCode::JumpIfNotZero:  // an inner loop, which ends on its cell at zero
            if (cell == 0) return true;
            before = passedOver(before, cell);
            if (before == 0) return false;
            break;
        case OpCode::Guard:
        case OpCode::Out:
        case OpCode::OutMany:
            break;
        default: return false;
        }
    }
    return false;
}

// For an inner loop that ends at `end` and holds no loop, whose turns come back to where they
// began and leave `cell` alone: its JumpIfZero, where the pointer is what it is past the loop.
// Otherwise 0, as for a loop at the very start, which is only passed up.
std::size_t Translator::passedOver(std::size_t end, std::int64_t cell) const {
    const std::vector<Instruction>& code = program_.code;
    std::size_t start = end;
    while (start > 0 && code[start - 1].op != OpCode::JumpIfZero && code[start - 1].op != OpCode::JumpIfNotZero) --start;
    if (start == 0 || code[start - 1].op != OpCode::JumpIfZero) return 0;
    std::int64_t at = 0;  // the pointer within the turn, from where it starts
    for (std::size_t i = start; i < end; ++i) {
        const Instruction& in = code[i];
        switch (in.op) {
        case OpCode::Move: at += in.amount; break;
        case OpCode::Guard:
        case OpCode::Out:
        case OpCode::OutMany: break;
        case OpCode::Add:
        case OpCode::Clear:
        case OpCode::MulLoop:
        case OpCode::MulTerm:
        case OpCode::SetTerm:
            if (in.cell + at == cell) return 0;
            break;
        default: return 0;
        }
    }
    return at + code[end].cell == 0 ? start - 1 : 0;
}

// Whether a place comes right before the JumpIfZero at k, with only its block's Guard and move
// between.
bool Translator::placeRightBefore(std::size_t k) const {
    const std::vector<Instruction>& code = program_.code;
    while (k > 0 && (code[k - 1].op == OpCode::Guard || code[k - 1].op == OpCode::Move)) --k;
    return k > 0 && (code[k - 1].op == OpCode::Place || code[k - 1].op == OpCode::Stop);
}

// Finds which way each loop's turns take the pointer, the jumps' landing places, and where runs
// may come in.
void Translator::findLoopsAndTargets() {
    const std::vector<Instruction>& code = program_.code;
    struct Open {
        std::size_t start;
        std::int64_t net;              // the turn's fixed moves
        bool right, left, unknown;     // what its inner loops and scans add to them
        bool straight;                 // a Guard, then only operations that stay on their cells
    };
    std::vector<Open> open;
    Open* turn = nullptr;  // the innermost open loop: open's last
    drift_.assign(code.size(), Drift::Unknown);
    marks_.assign(code.size() + 1, 0);
    if (interrupt_) turnOf_.assign(code.size() + 1, -1);
    // Where a run may come in other than past a way out emitted before it (which exitIf marks):
    // where runs start, where jumps land, and past a way out of a straight loop's copy, emitted only
    // at the loop's end. Under the debugger, anywhere.
    if (interrupt_) std::fill(marks_.begin(), marks_.end(), static_cast<unsigned char>(kMayComeIn));
    marks_[0] |= kMayComeIn;
    for (std::size_t k = 0; k < code.size(); ++k) {
        const Instruction& in = code[k];
        if (in.op == OpCode::Place) marks_[k + 1] |= kMayComeIn;
        if (operation(in.op).link == Operand::Code) marks_[static_cast<std::size_t>(in.link)] |= kMayComeIn;
        if (in.op == OpCode::JumpIfZero) {
            marks_[static_cast<std::size_t>(in.link)] |= kTarget;
            if (turn) turn->straight = false;
            open.push_back(Open{k, 0, false, false, false, true});
            turn = &open.back();
            continue;
        }
        if (in.op != OpCode::JumpIfNotZero) {
            if (!turn) continue;
            if (turn->straight) turn->straight = (in.op == OpCode::Guard) == (k == turn->start + 1) && staysInTurn(in.op);
            constexpr std::uint32_t kByAmount = opsWhere(&Operation::motion, Motion::ByAmount);
            constexpr std::uint32_t kDrifts = opsWhere(&Operation::motion, Motion::Drifts);
            if ((opBit(in.op) & (kByAmount | kDrifts)) == 0) continue;
            if (opBit(in.op) & kByAmount) turn->net += in.amount;
            else (in.amount > 0 ? turn->right : turn->left) = true;
            continue;
        }
        // A jump that is never taken lands nowhere. Runs start at the program's start, or past a
        // place (the debugger's), or where the machine hands a run back (through entries of their
        // own): none in the middle of a loop's turn, unless a place lies there, and neverBack()
        // looks no further back than one.
        if (neverBack(k)) marks_[k] |= kNeverBack;
        else marks_[static_cast<std::size_t>(in.link)] |= kTarget;
        if (!turn) continue;
        turn->net += in.cell;
        Open loop = *turn;
        open.pop_back();
        turn = open.empty() ? nullptr : &open.back();
        // Where the first turn starts, and where the later ones do (past the Guard when it holds
        // for every turn).
        marks_[loop.start + 1] |= kTurnStart;
        marks_[static_cast<std::size_t>(in.link)] |= kTurnStart;
        if (interrupt_)
            turnOf_[loop.start + 1] = turnOf_[static_cast<std::size_t>(in.link)] = static_cast<std::int32_t>(loop.start);
        Drift drift = Drift::Unknown;
        if (loop.unknown || (loop.right && loop.left)) drift = Drift::Unknown;
        else if (loop.right) drift = loop.net >= 0 ? Drift::Right : Drift::Unknown;
        else if (loop.left) drift = loop.net <= 0 ? Drift::Left : Drift::Unknown;
        else drift = loop.net == 0 ? Drift::None : loop.net > 0 ? Drift::Right : Drift::Left;
        drift_[loop.start] = drift;
        bool straight = loop.straight && loop.start + 1 < k && drift != Drift::None && drift != Drift::Unknown;
        if (straight) {
            marks_[k] |= kStraight;
            constexpr std::uint32_t kInline = opsWhere(&Operation::done, Done::Inline);
            for (std::size_t i = loop.start + 1; i < k; ++i)
                if ((opBit(code[i].op) & kInline) == 0) marks_[handedBackAt(i)] |= kMayComeIn;
        }
        // The later turns of a straight loop run in a copy (laterTurns): only the code before it
        // falls into where its turns start, and the machine enters there through a stub that loads
        // the registers that mirror cells (entryThroughReload). The mirrors go on into the first
        // turn, where an add to the same cell may come again. Not where a run may start right
        // before the loop (a place at its '['), in a later turn, which the first turn's code
        // knows nothing of.
        if (straight && !placeRightBefore(loop.start)) {
            marks_[static_cast<std::size_t>(in.link)] &= static_cast<unsigned char>(~kTarget);
            marks_[static_cast<std::size_t>(in.link)] |= kFallenInto;
        }
        if (!turn) continue;
        if (drift == Drift::Right) turn->right = true;
        if (drift == Drift::Left) turn->left = true;
        if (drift == Drift::Unknown) turn->unknown = true;
    }
}

// An add whose cell the next jump tests goes last before the jump, so the jump can use the
// flags the add sets: past the adds, clears and moves between them. Returns the instruction to go
// on from: the jump, or k + 1.
std::size_t Translator::deferAdd(std::size_t k, bool entries) {
    const std::vector<Instruction>& code = program_.code;
    std::int64_t cell = code[k].cell;  // from the pointer where instruction j is
    std::size_t j = k + 1, last = std::min(code.size(), k + kDeferLimit);
    while (j < last && !target(j) &&
           (((code[j].op == OpCode::Add || code[j].op == OpCode::Clear) && code[j].cell != cell) ||
            code[j].op == OpCode::Move)) {
        if (code[j].op == OpCode::Move) cell -= code[j].amount;
        ++j;
    }
    bool tested = j < code.size() && !target(j) &&
                  ((code[j].op == OpCode::JumpIfZero && cell == 0) ||
                   (code[j].op == OpCode::JumpIfNotZero && cell == code[j].cell));
    bool moved = cell != code[k].cell;
    // A mirrored cell keeps its add where it is: its register moves with the pointer only as far
    // as the mirrors are kept.
    for (std::int64_t m : mirrored_) tested = tested && !(moved && m == code[k].cell);
    if (!tested || j == k + 1) return k + 1;
    for (std::size_t i = k + 1; i < j; ++i) {
        if (entries) native_.entries[i] = static_cast<std::uint32_t>(e_.size());  // no jump or return lands here
        instruction(i);
    }
    if (moved) add(cell, code[k].amount);
    else instruction(k);
    return j;
}

// What holds where a jump lands is what holds on every way there.
void Translator::arriveAt(std::size_t k) {
    if (marked(k, kFallenInto)) {  // what holds for the first turn alone goes; the mirrors stay
        flagsCell_ = kNoCell;
        zeros_.clear();
        outer_.back().atTurn = known_;
        return;
    }
    if (!target(k)) return;
    flagsCell_ = kNoCell;
    dropMirrors();
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
    std::int64_t low = in.cell, high = guardHigh(in);
    if (limit_.active && limit_.guard == k) (limit_.below ? low : high) = limit_.cell;
    checkRange(low, high, k);
    known_.low = std::min(known_.low, low);
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
    outer_.push_back(OpenLoop{known_, drift_[k], branches_, Known{}, zeros_, Known{}});
    known_ = afterDrift(known_, drift_[k]);  // at each turn's start
    flagsCell_ = kNoCell;
}

void Translator::loopEnd(std::size_t k) {
    const Instruction& in = program_.code[k];
    if (in.cell != 0) move(in.cell);
    // Past the loop lies what every way out knows: the start's, where it does not turn, and the end
    // of each copy's turn; also, the tape has no holes. Not under the debugger, whose runs may
    // start at a loop's JumpIfZero in a later turn.
    Known left = known_;
    bool once = isZero(0) || marked(k, kNeverBack);  // a turn that always ends on a zero never goes round again
    if (!once) {
        testCell(0);
        jumps_.push_back(Jump{e_.jumpLater(kJne), in.link});
        if (marked(k, kStraight) && laterTurns(k)) left = outer_.back().leaving;
    }
    const OpenLoop& loop = outer_.back();
    Known drifted = afterDrift(loop.atStart, loop.drift);
    Known every{std::max({loop.atStart.low, known_.low, left.low}), std::min({loop.atStart.high, known_.high, left.high})};
    known_ = reach_ == 0 ? drifted : Known{std::min(drifted.low, every.low), std::max(drifted.high, every.high)};
    // A loop that turns at most once is left either way with what both its start and the end of
    // its turn know of the cells round the pointer (not under the debugger, whose runs may start
    // within the turn).
    std::int64_t both[kZerosKept];
    std::size_t count = 0;
    if (once && reach_ != 0)
        for (std::int64_t cell : loop.zeros)
            if (isZero(cell)) both[count++] = cell;
    zeros_.clear();
    zeros_.add(0);
    for (std::size_t i = 0; i < count; ++i) zeros_.add(both[i]);
    outer_.pop_back();
    flagsCell_ = kNoCell;
    dropMirrors();  // the ways out of the loop's copies meet here
}

// A straight loop that drifts runs its turns after the first in a copy of its body, which starts
// knowing what the turn before checked (the tape has no holes: what lies between two cells on it
// is on it too), so each turn checks only the cells it newly reaches, and a multiply loop within
// those needs no test. A way out of the copy goes to the machine, which resumes in the first copy:
// what that one assumes holds for any turn. Where a turn newly reaches one end of the tape, that
// end's limit for the current cell waits in a register, loaded on the way in (see setLimit). The
// copy stays only where it branches less, or as often with the check against that register;
// otherwise, where the first turn keeps registers from the code before the loop, a plain copy
// takes the later turns.
bool Translator::laterTurns(std::size_t end) {
    const Instruction& in = program_.code[end];
    OpenLoop& loop = outer_.back();
    Known afterTurn = known_, atTurnStart = afterDrift(loop.atStart, loop.drift);
    Known start{std::min(afterTurn.low, atTurnStart.low), std::max(afterTurn.high, atTurnStart.high)};
    std::size_t bytesBefore = e_.size(), exitsBefore = exits_.size(), branchesBefore = branches_;
    std::size_t firstTurn = branches_ - loop.branches;
    Jump back = jumps_.back();
    jumps_.pop_back();
    // The first turn's jump back turns round: it leaves the loop, and the copy follows it.
    std::size_t over = back.rel32At;
    e_.patch8(over - 1, kJe.begin()[1]);
    known_ = start;
    limit_ = setLimit(static_cast<std::size_t>(in.link), in.cell);
    std::size_t top = turnCopy(end);
    bool limited = limit_.used;
    limit_ = Limit{};
    bool repeats = !isZero(0);
    testCell(0);
    e_.bind(e_.jumpLater(kJne), top);
    // It must also hold where the copy's own turns go round.
    bool holds = known_.low <= start.low && known_.high >= start.high;
    std::size_t branches = branches_ - branchesBefore;
    bool kept = repeats && holds && (branches < firstTurn || (limited && branches == firstTurn));
    if (!kept) {
        e_.truncate(bytesBefore);
        exits_.resize(exitsBefore);
        branches_ = branchesBefore;
    }
    if (!kept && marked(static_cast<std::size_t>(in.link), kFallenInto)) {
        // The first turn's code counts on the registers that the code before the loop left: the
        // later turns run in a copy that knows only what every turn knows where it starts.
        known_ = loop.atTurn;
        top = turnCopy(end);
        testCell(0);
        e_.bind(e_.jumpLater(kJne), top);
        kept = true;
    }
    if (kept) {
        e_.bind(over, e_.size());
        loop.leaving = known_;
        known_ = afterTurn;
        return true;
    }
    e_.patch8(over - 1, kJne.begin()[1]);
    jumps_.push_back(back);
    known_ = afterTurn;
    return false;
}

// A copy of a loop's turn from where its turns start, up to the test of its jump back, knowing
// what known_ holds there and nothing of the cells. Returns where it starts.
std::size_t Translator::turnCopy(std::size_t end) {
    const Instruction& in = program_.code[end];
    std::size_t top = e_.size();
    // Under the debugger each of its turns, as each of the first copy's, starts by looking at the
    // Ctrl+C flag.
    std::size_t start = static_cast<std::size_t>(in.link);
    if (interrupt_ && turnOf_[start] >= 0)
        exitIf(target::interrupted(e_, interrupt_), static_cast<std::size_t>(turnOf_[start]));
    zeros_.clear();
    flagsCell_ = kNoCell;
    dropMirrors();
    std::size_t noRunBefore = noRunBefore_;
    noRunBefore_ = 0;  // the copy knows more: its runs may differ
    for (std::size_t i = start; i < end;) i = emitFrom(i, false);
    noRunBefore_ = noRunBefore;
    if (in.cell != 0) {
        move(in.cell);
        shiftMirrors(in.cell);  // for the test of the jump back
    }
    return top;
}

// Loads the limit register for the side of the tape the turn's Guard at k newly reaches, when it
// reaches only one. With the register the Guard checks as far as the next turn starts knowing, so
// that a turn which moves `net` cells leaves what the copy starts from known (its block may lie
// well within what the first turn's check covered).
Translator::Limit Translator::setLimit(std::size_t k, std::int64_t net) {
    const Instruction& in = program_.code[k];
    if (!target::hasLimitRegister() || in.op != OpCode::Guard) return Limit{};
    std::int64_t low = in.cell, high = guardHigh(in);
    if (net < 0) low = std::min(low, known_.low + net);
    if (net > 0) high = std::max(high, known_.high + net);
    bool below = low < known_.low, above = high > known_.high;
    if (below == above) return Limit{};
    std::int64_t cell = below ? low : high;
    target::setLimit(e_, below, bytes(cell));
    return Limit{true, below, false, k, cell};
}

// The code from instruction k on: a run with cells held in registers, an add moved to the jump
// that tests it, or the instruction alone. Returns where to go on from; with `entries`, records
// where the instructions it passes begin.
std::size_t Translator::emitFrom(std::size_t k, bool entries) {
    // Only these start a run (see heldRunEnd): for the others there is nothing to look for.
    constexpr std::uint32_t kRunStarts = opBit(OpCode::Add) | opBit(OpCode::Clear) | opBit(OpCode::MulLoop);
    bool run = heldRegisters_ != 0 && k >= noRunBefore_ && (opBit(program_.code[k].op) & kRunStarts) != 0;
    std::size_t next = run ? heldRun(k, entries) : k;
    if (next != k) return next;
    next = program_.code[k].op == OpCode::Add ? deferAdd(k, entries) : k + 1;
    if (next == k + 1) instruction(k);
    return next;
}

bool Translator::instruction(std::size_t k) {
    const Instruction& in = program_.code[k];
    if (mirrors()) keepMirrors(k);
    switch (in.op) {
    case OpCode::Add:
        mirroredAdd(k);
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

bool Translator::translate() {
    const std::vector<Instruction>& code = program_.code;
    // Big programs: room for all of it up front, so the bytes are never copied as they grow.
    // Writes and tape checks take more, with their ways out.
    std::size_t expected = kPrologueBytes;
    bool places = false;
    constexpr std::uint32_t kInline = opsWhere(&Operation::done, Done::Inline);
    for (const Instruction& in : code) {
        expected += (opBit(in.op) & kInline) != 0 ? kTypicalBytes : kWithExitBytes;
        places = places || in.op == OpCode::Place || in.op == OpCode::Stop;
    }
    e_.start(expected);
    native_.entries.assign(code.size() + 1, 0);
    findLoopsAndTargets();
    reach_ = interrupt_ || places ? 0 : kReachCells;
    native_.reach = static_cast<std::int32_t>(reach_);
    target::prologue(e_, interrupt_);
    exitCommon_ = e_.size();
    target::epilogue(e_, interrupt_);
    for (std::size_t k = 0; k < code.size();) {
        native_.entries[k] = static_cast<std::uint32_t>(e_.size());
        if (marks_[k] & (kTarget | kFallenInto)) arriveAt(k);
        if (mirrors()) entryThroughReload(k);
        // Under the debugger each turn of a loop, the first included, starts by looking at the Ctrl+C
        // flag; a set flag stops the run at the loop's JumpIfZero. The look sets the flags.
        if (interrupt_ && turnOf_[k] >= 0) {
            exitIf(target::interrupted(e_, interrupt_), static_cast<std::size_t>(turnOf_[k]));
            flagsCell_ = kNoCell;
        }
        k = emitFrom(k, true);
        if (e_.size() > INT32_MAX / 2) return false;
    }
    if (tooFar_) return false;
    native_.entries[code.size()] = static_cast<std::uint32_t>(e_.size());
    emitReloads();
    for (const Jump& jump : jumps_) e_.bind(jump.rel32At, native_.entries[static_cast<std::size_t>(jump.target)]);
    // Each way out sets eax to its instruction; the stubs lie after the code, off the hot path.
    for (const Exit& exit : exits_) {
        e_.bind(exit.rel32At, e_.size());
        e_.raw({0xB8});  // mov eax, k
        e_.u32(static_cast<std::int32_t>(exit.instruction));
        e_.bind(e_.jumpLater(kJmp), exitCommon_);
    }
    e_.finish();
    return true;
}

} // namespace translation


bool translate(const Program& program, NativeCode& native, const volatile std::sig_atomic_t* interrupt,
               Vectors vectors) {
    translation::Translator translator(program, native, interrupt, vectors);
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
