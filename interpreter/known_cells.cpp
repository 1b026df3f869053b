#include "known_cells.h"

#include <algorithm>

namespace pellux {

namespace {

// How many instructions the work may go through, for each of the program's and at least: loops
// are gone through again until what holds at their turns no longer changes.
constexpr std::size_t kWorkPerInstruction = 8;
constexpr std::size_t kWorkAtLeast = std::size_t(1) << 12;
// After this many times round a loop, what holds at its turns is only what is known within
// reach, and after twice as many, nothing: a loop that drifts along the tape would otherwise lose
// a cell a time.
constexpr int kTimesRound = 2;
constexpr std::size_t kDeepest = 200;  // loops in loops, gone through by recursion: deeper ones are not

} // namespace

void KnownCells::set(std::int32_t cell, bool zero) {
    if (!reached_) return;
    if (cell < -kReach || cell >= kReach) {
        if (!zero) restZero_ = false;  // a cell out of reach that may not hold zero
        return;
    }
    std::uint64_t bit = std::uint64_t(1) << (cell + kReach);
    zeros_ = zero ? zeros_ | bit : zeros_ & ~bit;
}

void KnownCells::move(std::int32_t by) {
    if (!reached_ || by == 0) return;
    std::int64_t distance = by < 0 ? -std::int64_t(by) : by;
    bool far = distance >= 2 * kReach;
    std::uint64_t all = ~std::uint64_t(0);
    std::uint64_t low = far ? all : (std::uint64_t(1) << distance) - 1;  // the cells at the low end
    std::uint64_t high = far ? all : all << (2 * kReach - distance);     // and those at the high end
    std::uint64_t leaving = by > 0 ? low : high, coming = by > 0 ? high : low;
    std::uint64_t kept = far ? 0 : by > 0 ? zeros_ >> distance : zeros_ << distance;
    bool restZero = restZero_;
    // A cell going out of reach that is not known to hold zero: the rest no longer all do.
    if ((zeros_ & leaving) != leaving) restZero_ = false;
    zeros_ = kept | (restZero ? coming : 0);  // those coming into reach hold zero if the rest did
}

void KnownCells::meet(const KnownCells& other) {
    if (!other.reached_) return;
    if (!reached_) {
        *this = other;
        return;
    }
    restZero_ = restZero_ && other.restZero_;
    zeros_ &= other.zeros_;
}

namespace {

// The compiled form gone through on what is known, loop by loop. What held at a loop's turns the
// last time through it is kept: gone through again, with its outer loop, it holds no more.
class Analysis {
public:
    explicit Analysis(const Program& program)
        : program_(program), code_(program.code), mask_(program.dialect.mask()),
          work_(program.code.size() * kWorkPerInstruction + kWorkAtLeast), slot_(program.code.size(), -1) {}

    KnownCells through(std::size_t from, std::size_t to, KnownCells state);
    bool outOfWork() const { return work_ == 0; }
    std::vector<LoopKnowledge> result() const;

private:
    struct Record {
        LoopKnowledge knowledge;
        bool valid;           // found on the last way through the loops around it
        KnownCells lastTurn;  // what held at its turns the last time
        // The last way through it, from what held where it began: gone through again from the
        // same, it finds the same, since lastTurn is then what it ended on and held all round.
        bool settled = false;  // and nothing around it has been forgotten since
        bool lastFirstTurnOnly = false;
        KnownCells lastBefore = KnownCells::unreached();
        KnownCells lastAfter = KnownCells::unreached();
    };

    KnownCells loop(std::size_t k, const KnownCells& before);
    KnownCells turns(std::size_t k, const KnownCells& before);
    Record& recordOf(std::size_t k) { return records_[static_cast<std::size_t>(slot_[k])]; }
    void multiply(std::size_t k, KnownCells& state) const;
    std::size_t laterTurns(std::size_t k, std::size_t end, std::uint32_t open) const;
    // Whether a multiply loop's term, when the loop turns, may leave a zero cell other than zero.
    bool changes(const Instruction& term) const {
        return term.op == OpCode::MulTerm || (static_cast<std::uint32_t>(term.amount) & mask_) != 0;
    }
    void invalidate(std::size_t from, std::size_t to) {
        for (std::size_t i = from; i < to; ++i)
            if (slot_[i] >= 0) {
                Record& record = records_[static_cast<std::size_t>(slot_[i])];
                record.valid = false;
                record.settled = false;
            }
    }

    const Program& program_;
    const std::vector<Instruction>& code_;
    std::uint32_t mask_;
    std::size_t work_;
    std::size_t depth_ = 0;
    std::vector<std::int32_t> slot_;  // by JumpIfZero: its loop's record, or -1
    std::vector<Record> records_;     // in the order of the loops
    // Inside the first turn of a loop whose later turns are done at once: what holds there holds
    // for the first turn only, and is not what holds where the source's loops begin.
    bool firstTurnOnly_ = false;
};

KnownCells Analysis::through(std::size_t from, std::size_t to, KnownCells state) {
    for (std::size_t k = from; k < to;) {
        if (work_ == 0) return KnownCells::nothing();
        --work_;
        const Instruction& in = code_[k];
        switch (in.op) {
        case OpCode::Add:
            if ((static_cast<std::uint32_t>(in.amount) & mask_) != 0) state.forget(in.cell);
            break;
        case OpCode::Move: state.move(in.amount); break;
        case OpCode::Clear: state.setZero(in.cell); break;
        case OpCode::In:
        case OpCode::InMany: state.forget(in.cell); break;
        case OpCode::MulLoop:
            multiply(k, state);
            k += static_cast<std::size_t>(in.amount);
            break;
        case OpCode::Scan:
            if (state.reached()) {
                state = KnownCells::nothing();
                state.setZero(0);  // a scan ends on a zero
            }
            break;
        case OpCode::JumpIfZero:
            state = loop(k, state);
            k = static_cast<std::size_t>(in.link);
            continue;
        case OpCode::Place:
        case OpCode::Stop: state = KnownCells::nothing(); break;  // a run may start here, with any tape
        case OpCode::Out:
        case OpCode::OutMany:
        case OpCode::Print:
        case OpCode::Guard:
        case OpCode::MulTerm:
        case OpCode::SetTerm:
        case OpCode::JumpIfNotZero:  // loops are gone through whole, from their JumpIfZero
        case OpCode::End:
            break;
        }
        ++k;
    }
    return state;
}

// The MulLoop at k and its terms: a cell it sets to zero, or adds to, may hold zero only if it
// did and the loop does not turn.
void Analysis::multiply(std::size_t k, KnownCells& state) const {
    const Instruction& loop = code_[k];
    if (state.isZero(loop.cell)) return;  // it does not turn
    for (std::int32_t i = 1; i <= loop.amount; ++i) {
        const Instruction& term = code_[k + static_cast<std::size_t>(i)];
        if (changes(term)) state.forget(term.cell);
    }
    state.setZero(loop.cell);
}

// The MulLoop that does the turns after the first of the loop at k (see remainingTurns), right
// before its JumpIfNotZero at `end`; `end` when there is none.
std::size_t Analysis::laterTurns(std::size_t k, std::size_t end, std::uint32_t open) const {
    if (code_[end].cell != 0) return end;
    for (std::size_t r = end; r > k + 1;) {
        --r;
        if (code_[r].op == OpCode::MulTerm || code_[r].op == OpCode::SetTerm) continue;
        bool later = code_[r].op == OpCode::MulLoop && code_[r].cell == 0 &&
                     r + static_cast<std::size_t>(code_[r].amount) + 1 == end &&
                     program_.spans[static_cast<std::size_t>(code_[r].link)].from == open;
        return later ? r : end;
    }
    return end;
}

KnownCells Analysis::loop(std::size_t k, const KnownCells& before) {
    if (depth_ == kDeepest) work_ = 0;
    if (work_ == 0) return KnownCells::nothing();
    if (slot_[k] < 0) {  // the first time here: loops get their records in the order they come
        slot_[k] = static_cast<std::int32_t>(records_.size());
        std::uint32_t open = static_cast<std::uint32_t>(program_.code[k].amount);  // the loop's '['
        records_.push_back(Record{LoopKnowledge{open, KnownCells::nothing()}, false, KnownCells::unreached()});
    }
    Record& record = recordOf(k);
    // An outer loop's later rounds come here again, mostly with what held before: without this,
    // the work grew with the depth of the nest.
    if (record.settled && record.lastBefore == before && record.lastFirstTurnOnly == firstTurnOnly_)
        return record.lastAfter;
    ++depth_;
    KnownCells after = turns(k, before);
    --depth_;
    if (outOfWork()) return after;
    Record& done = recordOf(k);  // the records grew inside
    done.settled = true;
    done.lastFirstTurnOnly = firstTurnOnly_;
    done.lastBefore = before;
    done.lastAfter = after;
    return after;
}

// The records of the loops inside grow as they are gone through: this one is found by its slot.
KnownCells Analysis::turns(std::size_t k, const KnownCells& before) {
    std::size_t end = static_cast<std::size_t>(code_[k].link) - 1;  // its JumpIfNotZero
    std::uint32_t open = recordOf(k).knowledge.open;
    recordOf(k).valid = false;
    if (!before.reached() || before.isZero(0)) {  // it cannot start: nothing found inside before holds
        invalidate(k + 1, end);
        Record& record = recordOf(k);
        record.knowledge.atTurn = KnownCells::unreached();
        record.valid = !firstTurnOnly_;
        return before;
    }
    std::size_t rest = laterTurns(k, end, open);
    KnownCells atTurn = before, atEnd = before, firstTurnEnd = before;
    atTurn.meet(recordOf(k).lastTurn);
    for (int round = 1;; ++round) {
        bool outer = firstTurnOnly_;
        firstTurnOnly_ = outer || rest != end;
        atEnd = through(k + 1, rest, atTurn);
        firstTurnOnly_ = outer;
        if (outOfWork()) return KnownCells::nothing();
        firstTurnEnd = atEnd;
        if (rest != end) multiply(rest, atEnd);
        atEnd.move(code_[end].cell);
        if (!atEnd.reached() || atEnd.isZero(0)) break;  // it never goes round again
        KnownCells next = atTurn;
        next.meet(atEnd);
        if (next == atTurn) break;
        if (round >= kTimesRound) next.forgetRest();
        if (round >= 2 * kTimesRound) next = KnownCells::nothing();
        atTurn = next;
    }
    Record& record = recordOf(k);
    record.lastTurn = atTurn;
    // Where the source's turns begin: also where those done at once begin, which change some
    // cells and leave the counter at any value.
    KnownCells sourceTurn = atTurn;
    if (rest != end) {
        KnownCells later = firstTurnEnd;
        later.forget(0);
        for (std::int32_t i = 1; i <= code_[rest].amount; ++i) {
            const Instruction& term = code_[rest + static_cast<std::size_t>(i)];
            if (changes(term)) later.forget(term.cell);
        }
        sourceTurn.meet(later);
    }
    record.knowledge.atTurn = sourceTurn;
    record.valid = !firstTurnOnly_;
    KnownCells after = before;
    after.meet(atEnd);
    after.setZero(0);
    return after;
}

std::vector<LoopKnowledge> Analysis::result() const {
    std::vector<LoopKnowledge> known;
    for (const Record& r : records_) {
        if (!r.valid) continue;
        // Loops come in the order of their '['; any other would be a compiled form this does not
        // understand: nothing known then.
        if (!known.empty() && known.back().open >= r.knowledge.open) return {};
        known.push_back(r.knowledge);
    }
    return known;
}

} // namespace

std::vector<LoopKnowledge> knownAtLoops(const Program& program, std::size_t last) {
    const std::vector<Instruction>& code = program.code;
    if (last >= code.size()) return {};
    std::size_t end = 0;  // past the outermost loop around `last`, or past `last`
    while (end <= last)
        end = code[end].op == OpCode::JumpIfZero ? static_cast<std::size_t>(code[end].link) : end + 1;
    Analysis analysis(program);
    analysis.through(0, end, KnownCells::blank());
    if (analysis.outOfWork()) return {};
    return analysis.result();
}

const LoopKnowledge* knowledgeAt(const std::vector<LoopKnowledge>& known, std::size_t open) {
    auto it = std::lower_bound(known.begin(), known.end(), open,
                               [](const LoopKnowledge& k, std::size_t at) { return k.open < at; });
    return it != known.end() && it->open == open ? &*it : nullptr;
}

} // namespace pellux
