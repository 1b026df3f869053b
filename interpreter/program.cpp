#include "program.h"

#include "machine.h"
#include "native_program.h"

#include <algorithm>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>

namespace pellux {

namespace {

struct Loop {
    std::size_t marker;       // first of the three slots reserved at '['
    std::int32_t base;        // pointer offset of the loop's cell in the block
    bool committed;           // a real loop: its body is its own block
    std::int32_t outerLow, outerHigh;
    SourcePosition outerLeft, outerRight;
    std::size_t outerMarks;   // checkpoints of the block before the loop
    std::size_t start;        // the '[' in the source
};

class Compiler {
public:
    Compiler(Program& program, bool keepOrigins) : program_(program), keepOrigins_(keepOrigins) { startBlock(); }

    // The source offset of the command being compiled.
    void setOrigin(std::size_t offset) { origin_ = static_cast<std::uint32_t>(offset); }

    // A place the debugger starts or stops at: the loop it lies in becomes a real one, and the
    // block ends there with the pointer's moves done.
    void boundary(std::int32_t index, bool stop) {
        if (!loops_.empty() && !loops_.back().committed) commit(loops_.back());
        if (pending_ != 0) emit(OpCode::Move, 0, pending_, 0);
        pending_ = 0;
        finishBlock();
        emit(stop ? OpCode::Stop : OpCode::Boundary, 0, 0, index);
        startBlock();
    }

    void add(std::int32_t value) { emit(OpCode::Add, pending_, value, 0); }
    void move(std::int32_t delta, SourcePosition at) {
        pending_ += delta;
        bool further = pending_ < low_ || pending_ > high_;
        if (pending_ < low_) { low_ = pending_; left_ = at; }
        if (pending_ > high_) { high_ = pending_; right_ = at; }
        if (further) marks_.push_back(Checkpoint{static_cast<std::int32_t>(program_.code.size()), pending_, at});
    }
    void output() { emitOrRepeat(OpCode::Out, OpCode::OutMany); }
    void input() { emitOrRepeat(OpCode::In, OpCode::InMany); }
    void print(std::size_t start, std::size_t length) {
        std::int32_t from = static_cast<std::int32_t>(program_.strings.size());
        program_.strings.append(reinterpret_cast<const char*>(source_) + start, length);
        emit(OpCode::Print, 0, static_cast<std::int32_t>(length), from);
    }
    void setSource(const unsigned char* source) { source_ = source; }

    // Bytes held by the compiled form and the compiler's own lists.
    std::size_t footprint() const {
        return program_.code.size() * sizeof(Instruction) + program_.reach.size() * sizeof(ReachInfo) +
               program_.checkpoints.size() * sizeof(Checkpoint) + program_.strings.size() +
               loops_.size() * sizeof(Loop) + marks_.size() * sizeof(Checkpoint);
    }

    void open() {
        if (!loops_.empty() && !loops_.back().committed) commit(loops_.back());
        Loop loop{program_.code.size(), pending_, false, low_, high_, left_, right_, marks_.size(), origin_};
        loops_.push_back(loop);
        for (int i = 0; i < 3; ++i) emit(OpCode::Nop, 0, 0, 0);
        low_ = high_ = pending_;  // the body's reach is not the block's unless it becomes a real loop
    }

    void close(SourcePosition at) {
        Loop loop = loops_.back();
        loops_.pop_back();
        std::uint32_t closing = origin_;
        // What replaces a simple loop is the loop from its '['; the block after it starts past the ']'.
        origin_ = static_cast<std::uint32_t>(loop.start);
        afterClose_ = closing + 1;
        bool simple = !loop.committed && rewriteSimple(loop, at);
        origin_ = closing;
        if (simple) return;
        if (!loop.committed) commit(loop);
        // A body of one block that ends where it began visits the same cells every time
        // round: its check at the loop's entry holds for every later iteration too.
        std::int32_t invariant = block_ == loop.marker + 2 && pending_ == 0 ? 1 : 0;
        if (invariant) appendRemainingTurns(loop);
        finishBlock();
        // The body's last move is done by the jump; until resolveJumps, link says whether the
        // body's check holds for every turn.
        emit(OpCode::JumpIfNotZero, pending_, 0, invariant);
        origin_ = afterClose_;
        startBlock();
        origin_ = closing;
    }

    void finish() {
        if (pending_ != 0) emit(OpCode::Move, 0, pending_, 0);
        finishBlock();
        emit(OpCode::End, 0, 0, 0);
        if (keepOrigins_) program_.origins.resize(program_.code.size(), origin_);
        compact();
        resolveJumps();
    }

private:
    void emit(OpCode op, std::int32_t cell, std::int32_t amount, std::int32_t link) {
        program_.code.push_back(Instruction{op, cell, amount, link});
        if (!keepOrigins_) return;
        program_.origins.resize(program_.code.size() - 1);  // the code may have been cut back
        program_.origins.push_back(origin_);
    }

    // A run of '.' or ',' on one cell is one operation with a count, unless a move that may
    // leave the tape lies between them (its checkpoint must stay between the two).
    // Under the debugger each ',' stays an operation of its own, so that a Ctrl+C that breaks off
    // a read stops the run at that very ','.
    void emitOrRepeat(OpCode one, OpCode many) {
        std::vector<Instruction>& code = program_.code;
        if (keepOrigins_ && one == OpCode::In) {
            emit(one, pending_, 0, 0);
            return;
        }
        bool markAfterLast = !marks_.empty() && static_cast<std::size_t>(marks_.back().done) == code.size();
        if (!code.empty() && !markAfterLast) {
            Instruction& last = code.back();
            bool same = (last.op == one || last.op == many) && last.cell == pending_ && last.amount < INT32_MAX;
            if (same) {
                last.amount = last.op == one ? 2 : last.amount + 1;
                last.op = many;
                return;
            }
        }
        emit(one, pending_, 0, 0);
    }

    void startBlock() {
        block_ = program_.code.size();
        emit(OpCode::Bounds, 0, 0, 0);
        pending_ = low_ = high_ = 0;
        marks_.clear();
    }

    // Checkpoints count instructions from the block's start; the count is made relative to
    // the compacted code once Nops are gone (see compact).
    void finishBlock() {
        Instruction& bounds = program_.code[block_];
        if (low_ == 0 && high_ == 0) { bounds.op = OpCode::Nop; return; }
        bounds.cell = low_;
        bounds.amount = high_ - low_;
        bounds.link = static_cast<std::int32_t>(program_.reach.size());
        std::uint32_t first = static_cast<std::uint32_t>(program_.checkpoints.size());
        for (const Checkpoint& mark : marks_) program_.checkpoints.push_back(mark);
        program_.reach.push_back(ReachInfo{left_, right_, low_, high_, 0, first,
                                           static_cast<std::uint32_t>(marks_.size())});
    }

    // The loop cannot be a clear, copy or scan loop: its body becomes a block of its own.
    void commit(Loop& loop) {
        std::int32_t base = loop.base;
        std::int32_t bodyLow = low_ - base, bodyHigh = high_ - base;
        SourcePosition bodyLeft = left_, bodyRight = right_;
        std::vector<Checkpoint> bodyMarks(marks_.begin() + static_cast<std::ptrdiff_t>(loop.outerMarks), marks_.end());
        marks_.resize(loop.outerMarks);
        low_ = loop.outerLow; high_ = loop.outerHigh; left_ = loop.outerLeft; right_ = loop.outerRight;
        finishBlock();
        marks_.clear();
        for (Checkpoint mark : bodyMarks) {
            mark.offset -= base;
            marks_.push_back(mark);
        }
        for (std::size_t i = loop.marker + 3; i < program_.code.size(); ++i)
            if (program_.code[i].op != OpCode::Print && program_.code[i].op != OpCode::Bounds) program_.code[i].cell -= base;
        // (A body not yet committed holds neither: Print and Bounds are left out to say that their
        // cell is no pointer offset.)
        program_.code[loop.marker] = Instruction{base != 0 ? OpCode::Move : OpCode::Nop, 0, base, 0};
        program_.code[loop.marker + 1] = Instruction{OpCode::JumpIfZero, 0, 0, 0};
        block_ = loop.marker + 2;
        program_.code[block_] = Instruction{OpCode::Bounds, 0, 0, 0};
        if (keepOrigins_) program_.origins[block_] = static_cast<std::uint32_t>(loop.start + 1);  // the body
        pending_ -= base;
        low_ = bodyLow; high_ = bodyHigh; left_ = bodyLeft; right_ = bodyRight;
        loop.committed = true;
    }

    // Clear loops, copy and multiply loops, and scan loops, done without looping over the body.
    bool rewriteSimple(const Loop& loop, SourcePosition at) {
        std::vector<Instruction>& code = program_.code;
        std::size_t body = loop.marker + 3;
        std::int32_t net = pending_ - loop.base;
        if (net != 0) {
            // Only a body that moves straight there ([>], [<<]) is a scan: "[<<>>>]" visits
            // cells left of its start on the way.
            bool straight = low_ - loop.base >= std::min(0, net) && high_ - loop.base <= std::max(0, net);
            if (body != code.size() || !straight) return false;
            return rewriteScan(loop, net, at);
        }
        bool onlyCounter = true;
        std::int32_t counter = 0;
        for (std::size_t i = body; i < code.size(); ++i) {
            if (code[i].op == OpCode::Add && code[i].cell == loop.base) counter += code[i].amount;
            else onlyCounter = false;
        }
        bool stays = low_ == loop.base && high_ == loop.base;  // "[<>-]" visits its left neighbour
        if (onlyCounter && (counter & 1) && stays) {  // [-], [+], [---]: any odd step reaches zero
            code.resize(loop.marker);
            restoreOuter(loop);
            emit(OpCode::Clear, loop.base, 0, 0);
            return true;
        }
        return rewriteAffine(loop);
    }

    // What one turn of a loop body does to a cell: add a constant, or set it to one.
    struct CellEffect {
        std::int32_t offset;
        bool set;
        bool unknown;  // changed by an inner loop whose turns depend on the cell's value
        std::int32_t value;
    };

    static CellEffect& effectOn(std::vector<CellEffect>& effects, std::int32_t offset) {
        for (CellEffect& effect : effects)
            if (effect.offset == offset) return effect;
        effects.push_back(CellEffect{offset, false, false, 0});
        return effects.back();
    }

    // One turn of a body of adds, clears and inner loops, worked out on symbols. `effects` may
    // hold cells known at the turn's start. An inner loop whose counter is not known fails the
    // turn, or, when `lenient`, leaves what it changes unknown. `reach` grows to the cells the
    // turn's inner loops visit, with the moves that get there.
    struct Reach {
        std::int32_t low, high;
        SourcePosition left, right;
    };
    bool evaluateTurn(std::size_t from, std::int32_t base, std::vector<CellEffect>& effects, bool lenient,
                      Reach& reach) {
        const std::vector<Instruction>& code = program_.code;
        for (std::size_t i = from; i < code.size(); ++i) {
            const Instruction& in = code[i];
            if (in.op == OpCode::Add) {
                effectOn(effects, in.cell).value += in.amount;
            } else if (in.op == OpCode::Clear) {
                effectOn(effects, in.cell) = CellEffect{in.cell, true, false, 0};
            } else if (in.op == OpCode::MulLoop) {
                CellEffect source = effectOn(effects, in.cell);
                const ReachInfo& inner = program_.reach[static_cast<std::size_t>(in.link)];
                bool known = source.set && !source.unknown;
                if (!known && !lenient) return false;
                std::int32_t value = source.value & 0xFF;
                std::int32_t turns = inner.step < 0 ? value : (256 - value) & 0xFF;
                if (!known || value != 0) {  // a loop that does not turn does nothing
                    for (std::int32_t k = 1; k <= in.amount; ++k) {
                        const Instruction& term = code[i + static_cast<std::size_t>(k)];
                        CellEffect& target = effectOn(effects, term.cell);
                        if (term.op == OpCode::SetTerm) target = CellEffect{term.cell, true, false, term.amount};
                        else if (!known) target.unknown = true;
                        else target.value += turns * term.amount;
                    }
                    if (in.cell - base + inner.low < reach.low) {
                        reach.low = in.cell - base + inner.low;
                        reach.left = inner.left;
                    }
                    if (in.cell - base + inner.high > reach.high) {
                        reach.high = in.cell - base + inner.high;
                        reach.right = inner.right;
                    }
                }
                effectOn(effects, in.cell) = CellEffect{in.cell, true, false, 0};
                i += static_cast<std::size_t>(in.amount);
            } else {
                return false;
            }
        }
        return true;
    }

    // The loop's counter steps by one each turn and nothing else depends on the turn.
    static bool countsByOne(const CellEffect& counter) {
        std::int32_t step = counter.value & 0xFF;
        return !counter.set && !counter.unknown && (step == 0xFF || step == 0x01);
    }

    void emitTurns(std::int32_t base, const std::vector<CellEffect>& effects, Reach reach, std::int32_t step) {
        std::int32_t low = reach.low, high = reach.high;
        std::vector<Instruction> terms;
        for (const CellEffect& effect : effects) {
            if (effect.offset == base || (!effect.set && (effect.value & 0xFF) == 0)) continue;
            terms.push_back(Instruction{effect.set ? OpCode::SetTerm : OpCode::MulTerm, effect.offset, effect.value & 0xFF, 0});
            low = std::min(low, effect.offset - base);
            high = std::max(high, effect.offset - base);
        }
        std::int32_t index = static_cast<std::int32_t>(program_.reach.size());
        program_.reach.push_back(ReachInfo{reach.left, reach.right, low, high, step, 0, 0});
        emit(OpCode::MulLoop, base, static_cast<std::int32_t>(terms.size()), index);
        for (const Instruction& term : terms) program_.code.push_back(term);
    }

    // A body of adds, clears and inner loops whose counters it has just set, with the loop's
    // counter stepping by one: every turn does the same to every cell, so n turns are done at
    // once ([->+<], [->++>+++<<], [->[-]+++<]).
    bool rewriteAffine(const Loop& loop) {
        std::vector<CellEffect> effects;
        Reach reach{low_ - loop.base, high_ - loop.base, left_, right_};
        if (!evaluateTurn(loop.marker + 3, loop.base, effects, false, reach)) return false;
        CellEffect counter = effectOn(effects, loop.base);
        if (!countsByOne(counter)) return false;
        program_.code.resize(loop.marker);
        restoreOuter(loop);
        emitTurns(loop.base, effects, reach, (counter.value & 0xFF) == 0xFF ? -1 : 1);
        return true;
    }

    // A real loop of one block that ends where it began, whose turns after the first all do the
    // same: the first turn sets the cells the others depend on ("+++[->+++++<]" inside it). The
    // body runs once, then one operation does the turns that are left.
    void appendRemainingTurns(const Loop& loop) {
        std::vector<CellEffect> first;
        Reach firstReach{low_, high_, left_, right_};
        if (!evaluateTurn(loop.marker + 3, 0, first, true, firstReach)) return;
        std::vector<CellEffect> later;
        for (const CellEffect& effect : first)
            if (effect.set && !effect.unknown) later.push_back(effect);
        std::vector<CellEffect> start = later;
        // The later turns' own reach: an inner loop the first turn runs may not run again.
        Reach reach{low_, high_, left_, right_};
        if (!evaluateTurn(loop.marker + 3, 0, later, false, reach)) return;
        for (const CellEffect& known : start) {
            const CellEffect& end = effectOn(later, known.offset);
            if (!end.set || ((end.value ^ known.value) & 0xFF) != 0) return;
        }
        CellEffect counter = effectOn(later, 0);
        if (!countsByOne(counter)) return;
        emitTurns(0, later, reach, (counter.value & 0xFF) == 0xFF ? -1 : 1);
    }

    bool rewriteScan(const Loop& loop, std::int32_t step, SourcePosition at) {
        std::vector<Instruction>& code = program_.code;
        code.resize(loop.marker);
        restoreOuter(loop);
        if (pending_ != 0) emit(OpCode::Move, 0, pending_, 0);
        finishBlock();
        std::int32_t index = static_cast<std::int32_t>(program_.reach.size());
        program_.reach.push_back(ReachInfo{at, at, 0, 0, step, 0, 0});
        emit(OpCode::Scan, 0, step, index);
        std::uint32_t scanAt = origin_;
        origin_ = afterClose_;
        startBlock();
        origin_ = scanAt;
        return true;
    }

    void restoreOuter(const Loop& loop) {
        marks_.resize(loop.outerMarks);
        pending_ = loop.base;
        low_ = loop.outerLow; high_ = loop.outerHigh; left_ = loop.outerLeft; right_ = loop.outerRight;
    }

    // Drops Nops and empty adds. A checkpoint's `done` holds the absolute index of the first
    // instruction after it; it becomes the number of kept instructions after its block's Bounds.
    void compact() {
        std::vector<Instruction>& code = program_.code;
        std::vector<std::int32_t> newIndex(code.size() + 1);
        std::size_t kept = 0;
        for (std::size_t i = 0; i < code.size(); ++i) {
            newIndex[i] = static_cast<std::int32_t>(kept);
            const Instruction& instruction = code[i];
            if (instruction.op != OpCode::Nop && !(instruction.op == OpCode::Add && (instruction.amount & 0xFF) == 0)) {
                if (keepOrigins_) program_.origins[kept] = program_.origins[i];
                code[kept++] = instruction;
            }
        }
        newIndex[code.size()] = static_cast<std::int32_t>(kept);
        code.resize(kept);
        if (keepOrigins_) program_.origins.resize(kept);
        for (std::size_t i = 0; i < kept; ++i) {
            if (code[i].op != OpCode::Bounds) continue;
            const ReachInfo& info = program_.reach[static_cast<std::size_t>(code[i].link)];
            for (std::uint32_t k = 0; k < info.checkpoints; ++k) {
                Checkpoint& mark = program_.checkpoints[info.firstCheckpoint + k];
                mark.done = newIndex[static_cast<std::size_t>(mark.done)] - static_cast<std::int32_t>(i) - 1;
            }
        }
    }

    void resolveJumps() {
        std::vector<std::int32_t> open;
        std::vector<Instruction>& code = program_.code;
        for (std::size_t i = 0; i < code.size(); ++i) {
            if (code[i].op == OpCode::JumpIfZero) {
                open.push_back(static_cast<std::int32_t>(i));
            } else if (code[i].op == OpCode::JumpIfNotZero) {
                std::int32_t start = open.back();
                open.pop_back();
                code[start].link = static_cast<std::int32_t>(i) + 1;
                bool skipCheck = code[i].link == 1 && code[static_cast<std::size_t>(start) + 1].op == OpCode::Bounds;
                code[i].link = start + (skipCheck ? 2 : 1);
            }
        }
    }

    Program& program_;
    bool keepOrigins_;
    std::uint32_t origin_ = 0;
    std::uint32_t afterClose_ = 0;
    const unsigned char* source_ = nullptr;
    std::vector<Loop> loops_;
    std::size_t block_ = 0;
    std::int32_t pending_ = 0, low_ = 0, high_ = 0;
    SourcePosition left_, right_;
    std::vector<Checkpoint> marks_;
};

} // namespace

// Keeps only the first `listed` of each kind, so a file of brackets needs no list as long as
// itself. An unmatched '[' is the last one to raise the depth to a level the depth never falls
// below again; those are in source order by level, so the first `listed` levels are enough.
UnmatchedBrackets findUnmatchedBrackets(const unsigned char* source, std::size_t size, std::size_t listed) {
    std::vector<BracketError> closes;
    std::vector<SourcePosition> lastOpenAt(listed);
    std::uint64_t closeCount = 0, depth = 0;
    SourceWalker walker(source, size);
    while (walker.more()) {
        if (walker.skipsRun()) continue;
        unsigned char c = walker.peek();
        if (c == '[') {
            if (depth < listed) lastOpenAt[depth] = walker.position();
            ++depth;
        } else if (c == ']') {
            if (depth > 0) {
                --depth;
            } else {
                if (closes.size() < listed) closes.push_back(BracketError{walker.position(), ']'});
                ++closeCount;
            }
        }
        walker.advance();
    }
    UnmatchedBrackets result;
    result.count = closeCount + depth;
    std::vector<BracketError>& all = result.first;
    all = closes;
    for (std::uint64_t level = 0; level < depth && level < listed; ++level)
        all.push_back(BracketError{lastOpenAt[level], '['});
    // Source order, so the first message names the first fault.
    std::stable_sort(all.begin(), all.end(), [](const BracketError& x, const BracketError& y) {
        return x.position.line != y.position.line ? x.position.line < y.position.line
                                                  : x.position.column < y.position.column;
    });
    if (all.size() > listed) all.resize(listed);
    return result;
}

namespace {

constexpr std::size_t kCheckEvery = 4096;  // source bytes between looks at the compiled form's size
constexpr std::size_t kMostOperationsPerByte = 3;  // a '[' holds three places until its ']'

// At most how many operations the source compiles to, give or take the few a loop adds: one for
// each change from one kind of command to another (a run of '+-', '<>', '.' or ',' is one), and
// one for each bracket. Comments count too; they only make it larger.
std::size_t operationsAtMost(const unsigned char* source, std::size_t size) {
    std::size_t count = 0;
    char kind = 0;
    for (std::size_t i = 0; i < size; ++i) {
        unsigned char c = source[i];
        char now = c == '+' || c == '-' ? '+' : c == '<' || c == '>' ? '<' : c == '.' || c == ',' ? char(c) : 0;
        if (c == '[' || c == ']') count += 2;
        else if (now != 0 && now != kind) ++count;
        if (now != 0 || c == '[' || c == ']') kind = now;
    }
    return count;
}

} // namespace

Program compile(const unsigned char* source, std::size_t size, std::size_t limitBytes,
                const Boundaries* boundaries) {
    Program program;
    // Room for the code up front: a big program's code is then never copied as it grows.
    // Past the limit, only as far as the compiler goes before it looks.
    program.code.reserve(std::min(operationsAtMost(source, size) + 16,
                                  limitBytes / sizeof(Instruction) + kCheckEvery * kMostOperationsPerByte));
    Compiler compiler(program, boundaries != nullptr);
    std::size_t nextBoundary = 0;
    compiler.setSource(source);
    SourceWalker walker(source, size);
    std::int32_t run = 0;  // a run of + and - folded into one add
    auto flushAdd = [&] {
        if (run != 0) compiler.add(run);
        run = 0;
    };
    std::size_t nextCheck = 0;
    while (walker.more()) {
        if (walker.at() >= nextCheck) {
            if (compiler.footprint() > limitBytes) {
                program.tooLarge = true;
                return program;
            }
            nextCheck = walker.at() + kCheckEvery;
        }
        if (boundaries) {
            const std::vector<std::size_t>& places = boundaries->offsets;
            while (nextBoundary < places.size() && places[nextBoundary] < walker.at()) ++nextBoundary;
            if (nextBoundary < places.size() && places[nextBoundary] == walker.at()) {
                flushAdd();
                compiler.setOrigin(walker.at());
                compiler.boundary(static_cast<std::int32_t>(nextBoundary), boundaries->stops[nextBoundary]);
            }
        }
        unsigned char c = walker.peek();
        SourcePosition at = walker.position();
        if (c != '+' && c != '-') compiler.setOrigin(walker.at());
        switch (c) {
        case '+': ++run; walker.advance(); continue;
        case '-': --run; walker.advance(); continue;
        default: break;
        }
        if (c == '>' || c == '<' || c == '.' || c == ',' || c == '[' || c == ']' || c == '%') flushAdd();
        switch (c) {
        case '>': compiler.move(1, at); break;
        case '<': compiler.move(-1, at); break;
        case '.': compiler.output(); break;
        case ',': compiler.input(); break;
        case '[': compiler.open(); break;
        case ']': compiler.close(at); break;
        case '#':
        case '%': {
            std::size_t from, to;
            walker.skipRun(from, to);
            if (c == '%' && to > from) {
                if (to - from > limitBytes - std::min(limitBytes, compiler.footprint())) {
                    program.tooLarge = true;
                    return program;
                }
                compiler.print(from, to - from);
            }
            continue;
        }
        default: break;  // '@', '&', '*', '$' and every other byte do nothing here
        }
        walker.advance();
    }
    flushAdd();
    compiler.finish();
    return program;
}

const char* operationName(OpCode op) {
#define PELLUX_NAME(name) #name,
    static const char* const names[] = {PELLUX_OPERATIONS(PELLUX_NAME)};
#undef PELLUX_NAME
    static_assert(sizeof names / sizeof *names == kOperationCount, "one name for each operation");
    int index = static_cast<int>(op);
    return index >= 0 && index < kOperationCount ? names[index] : "?";
}

std::string listing(const Program& program) {
    std::string text;
    char line[96];
    for (std::size_t i = 0; i < program.code.size(); ++i) {
        const Instruction& in = program.code[i];
        std::snprintf(line, sizeof line, "%6zu  %-14s cell %d  amount %d  link %d\n", i, operationName(in.op), in.cell,
                      in.amount, in.link);
        text += line;
    }
    return text;
}

// Dispatch: with GCC and Clang each handler jumps straight to the next one (threaded code, one
// indirect branch per handler, which predicts far better); elsewhere a plain switch.
#if defined(__GNUC__)
#define PELLUX_THREADED 1
#define OP(name) op_##name:
#define NEXT() do { in = code + ip++; goto *labels[static_cast<int>(in->op)]; } while (0)
#else
#define OP(name) case OpCode::name:
#define NEXT() continue
#endif

RunResult Machine::run(std::size_t ip, std::size_t p) {
    const Instruction* code = program_->code.data();
    const Instruction* in;
    unsigned char* t = tape_.data();
    unsigned char* c = t + p;  // the current cell
    std::size_t size = tape_.size();
#ifdef PELLUX_THREADED
#define PELLUX_LABEL(name) &&op_##name,
    static const void* const plain[] = {PELLUX_OPERATIONS(PELLUX_LABEL)};
#undef PELLUX_LABEL
    // Under the debugger each loop's turn starts by looking at the interrupt flag.
#define PELLUX_POLLING_LABEL(name)                                                                   \
    (OpCode::name == OpCode::JumpIfZero ? &&op_PollEntry : OpCode::name == OpCode::JumpIfNotZero ? &&op_Poll : &&op_##name),
    static const void* const polling[] = {PELLUX_OPERATIONS(PELLUX_POLLING_LABEL)};
#undef PELLUX_POLLING_LABEL
    static_assert(sizeof plain / sizeof *plain == kOperationCount, "one label for each operation");
    const void* const* labels = interrupt_ ? polling : plain;
    NEXT();
op_PollEntry:
    if (!*c) {
        ip = static_cast<std::size_t>(in->link);
        NEXT();
    }
    if (*interrupt_) return stopAt(ip - 1, static_cast<std::size_t>(c - t), false);
    NEXT();
op_Poll:
    c += in->cell;
    if (*c) {
        ip = static_cast<std::size_t>(in->link);
        if (*interrupt_) return stopAt(turnOf(ip), static_cast<std::size_t>(c - t), false);
    }
    NEXT();
#else
    for (;;) {
        in = code + ip++;
        switch (in->op) {
#endif
    OP(Add) c[in->cell] = static_cast<unsigned char>(c[in->cell] + in->amount); NEXT();
    OP(Move) c += in->amount; NEXT();
    OP(Clear) c[in->cell] = 0; NEXT();
    OP(Out) if (!put(c[in->cell])) return outputFailed(); NEXT();
    OP(OutMany) if (!putRepeated(c[in->cell], in->amount)) return outputFailed(); NEXT();
    OP(In) if (!input(c[in->cell])) return notDone(ip - 1, static_cast<std::size_t>(c - t)); NEXT();
    OP(InMany) if (!input(c[in->cell], in->amount)) return notDone(ip - 1, static_cast<std::size_t>(c - t)); NEXT();
    OP(Bounds) {
        std::size_t p = static_cast<std::size_t>(c - t);
        // A cell left of the first wraps round to a huge index.
        std::size_t lowest = static_cast<std::size_t>(static_cast<std::ptrdiff_t>(p) + in->cell);
        if (lowest >= size || lowest + static_cast<std::size_t>(in->amount) >= size) {
            RunResult left;
            if (!bounds(*in, ip, p, left)) return left;
            t = tape_.data();
            size = tape_.size();
            c = t + p;
        }
        NEXT();
    }
    OP(MulLoop) {
        if (c[in->cell] == 0) { ip += in->amount; NEXT(); }
        std::size_t p = static_cast<std::size_t>(c - t);
        RunResult left;
        if (!multiply(*in, code + ip, p, left)) return left;
        t = tape_.data();
        size = tape_.size();
        c = t + p;
        ip += in->amount;
        NEXT();
    }
    OP(Scan) {
        std::size_t p = static_cast<std::size_t>(c - t);
        RunResult left;
        if (!scan(*in, p, left)) return left;
        t = tape_.data();
        size = tape_.size();
        c = t + p;
        NEXT();
    }
    OP(MulTerm) NEXT();  // consumed by its MulLoop
    OP(SetTerm) NEXT();
    OP(JumpIfZero) {
        if (!*c) ip = static_cast<std::size_t>(in->link);
#ifndef PELLUX_THREADED
        else if (interrupt_ && *interrupt_) return stopAt(ip - 1, static_cast<std::size_t>(c - t), false);
#endif
        NEXT();
    }
    OP(JumpIfNotZero) {
#ifndef PELLUX_THREADED
#endif
        c += in->cell;
        if (*c) ip = static_cast<std::size_t>(in->link);
#ifndef PELLUX_THREADED
        if (*c && interrupt_ && *interrupt_) return stopAt(turnOf(ip), static_cast<std::size_t>(c - t), false);
#endif
        NEXT();
    }
    OP(Boundary) NEXT();
    OP(Stop) return stopAt(ip - 1, static_cast<std::size_t>(c - t), false);
    OP(Print) {
        if (!putAll(program_->strings.data() + in->link, static_cast<std::size_t>(in->amount))) return outputFailed();
        NEXT();
    }
    OP(Nop) NEXT();
    OP(End) {
        stopPointer_ = static_cast<std::size_t>(c - t);  // for the debugger
        return flush() ? RunResult{RunStatus::Finished, {}} : outputFailed();
    }
#ifndef PELLUX_THREADED
        }
    }
#endif
}

#undef OP
#undef NEXT

// An instruction that reads or writes, on the cell p + cell; false when the output failed.
bool Machine::inputOutput(const Instruction& in, std::size_t p) {
    unsigned char& cell = tape_[p + static_cast<std::size_t>(static_cast<std::ptrdiff_t>(in.cell))];
    switch (in.op) {
    case OpCode::Out: return put(cell);
    case OpCode::OutMany: return putRepeated(cell, in.amount);
    case OpCode::In: return input(cell);
    case OpCode::InMany: return input(cell, in.amount);
    case OpCode::Print: return putAll(program_->strings.data() + in.link, static_cast<std::size_t>(in.amount));
    default: return true;
    }
}

// The block about to run reaches past the tape's end or before its start: grow the tape, or
// report where the program leaves it. `next` is the block's first instruction.
bool Machine::bounds(const Instruction& in, std::size_t next, std::size_t p, RunResult& left) {
    std::ptrdiff_t low = static_cast<std::ptrdiff_t>(p) + in.cell;
    if (low >= 0 && reach(static_cast<std::size_t>(low) + static_cast<std::size_t>(in.amount))) return true;
    left = debugging_ ? stopAt(indexOf(in), p, true) : leaveTape(program_->reach[static_cast<std::size_t>(in.link)], next, p);
    return false;
}

// Moves by the step while the cell is not zero.
bool Machine::scan(const Instruction& in, std::size_t& p, RunResult& left) {
    std::size_t start = p;
    if (scanFrom(in, p, left)) return true;
    if (debugging_) left = stopAt(indexOf(in), start, true);  // the tape is as it was: scan again plainly
    return false;
}

bool Machine::scanFrom(const Instruction& in, std::size_t& p, RunResult& left) {
    std::int32_t step = in.amount;
    unsigned char* t = tape_.data();
    const ReachInfo& info = program_->reach[static_cast<std::size_t>(in.link)];
    if (step == 1) {
        for (;;) {
            const void* zero = std::memchr(t + p, 0, tape_.size() - p);
            if (zero) { p = static_cast<std::size_t>(static_cast<const unsigned char*>(zero) - t); return true; }
            std::size_t end = tape_.size();
            if (!reach(end)) { left = {RunStatus::MovedPastLastCell, info.right}; return false; }
            t = tape_.data();
            p = end;
        }
    }
    if (step > 0) {
        std::size_t size = tape_.size();
        while (t[p]) {
            p += static_cast<std::size_t>(step);
            if (p >= size) {
                if (!reach(p)) { left = {RunStatus::MovedPastLastCell, info.right}; return false; }
                t = tape_.data();
                size = tape_.size();
            }
        }
        return true;
    }
    std::size_t back = static_cast<std::size_t>(-step);
    while (t[p]) {
        if (p < back) { left = {RunStatus::MovedLeftOfFirstCell, info.left}; return false; }
        p -= back;
    }
    return true;
}

// The block leaves the tape somewhere: run it up to the move that leaves, exactly as the
// program would, and report that move.
RunResult Machine::leaveTape(const ReachInfo& block, std::size_t first, std::size_t p) {
    const Checkpoint* marks = program_->checkpoints.data() + block.firstCheckpoint;
    std::int32_t high = 0;
    for (std::uint32_t k = 0; k < block.checkpoints; ++k) {
        const Checkpoint& mark = marks[k];
        std::ptrdiff_t cell = static_cast<std::ptrdiff_t>(p) + mark.offset;
        bool left = cell < 0, past = !left && static_cast<std::size_t>(cell) >= limit_;
        if (!left && !past) { high = std::max(high, mark.offset); continue; }
        if (!reach(p + static_cast<std::size_t>(high))) break;
        RunResult before = straight(first, first + static_cast<std::size_t>(mark.done), p);
        if (before.status != RunStatus::Finished) return before;
        return {left ? RunStatus::MovedLeftOfFirstCell : RunStatus::MovedPastLastCell, mark.position};
    }
    return {RunStatus::MovedPastLastCell, block.right};
}

// A copy or multiply loop on the cell p + loop.cell, done at once. False, with where the loop
// leaves the tape, when its body would go past either end.
bool Machine::multiply(const Instruction& loop, const Instruction* terms, std::size_t p, RunResult& left) {
    std::size_t cell = p + static_cast<std::size_t>(static_cast<std::ptrdiff_t>(loop.cell));
    unsigned char v = tape_[cell];
    if (v == 0) return true;
    const ReachInfo& info = program_->reach[static_cast<std::size_t>(loop.link)];
    bool leaves = static_cast<std::ptrdiff_t>(cell) + info.low < 0 || cell + static_cast<std::size_t>(info.high) >= limit_;
    if (leaves && debugging_) {  // nothing is done yet: the loop runs plainly from its start
        left = stopAt(indexOf(loop), cell, true);
        return false;
    }
    if (static_cast<std::ptrdiff_t>(cell) + info.low < 0) {
        left = {RunStatus::MovedLeftOfFirstCell, info.left};
        return false;
    }
    if (!reach(cell + static_cast<std::size_t>(info.high))) {
        left = {RunStatus::MovedPastLastCell, info.right};
        return false;
    }
    unsigned char* t = tape_.data() + p;
    unsigned char times = info.step < 0 ? v : static_cast<unsigned char>(256 - v);
    for (std::int32_t i = 0; i < loop.amount; ++i) {
        unsigned char& target = t[terms[i].cell];
        target = terms[i].op == OpCode::SetTerm ? static_cast<unsigned char>(terms[i].amount)
                                                : static_cast<unsigned char>(target + times * terms[i].amount);
    }
    tape_[cell] = 0;
    return true;
}

// A block's instructions have no jumps: run them in order.
RunResult Machine::straight(std::size_t from, std::size_t to, std::size_t p) {
    const Instruction* code = program_->code.data();
    unsigned char* t = tape_.data();
    for (std::size_t ip = from; ip < to; ++ip) {
        const Instruction& in = code[ip];
        switch (in.op) {
        case OpCode::Add: t[p + in.cell] = static_cast<unsigned char>(t[p + in.cell] + in.amount); break;
        case OpCode::Clear: t[p + in.cell] = 0; break;
        case OpCode::Out:
        case OpCode::OutMany:
        case OpCode::In:
        case OpCode::InMany:
        case OpCode::Print:
            if (!inputOutput(in, p)) return notDone(ip, p);
            break;
        case OpCode::MulLoop: {
            RunResult left;
            if (!multiply(in, code + ip + 1, p, left)) return left;
            t = tape_.data();
            ip += static_cast<std::size_t>(in.amount);
            break;
        }
        default: break;
        }
    }
    return {RunStatus::Finished, {}};
}

// One command of the source at `at`, read plainly; `at` moves past it, or past `partner`, the
// matching bracket, when a loop is skipped or repeated. At a fault `at` stays on the command.
RunResult Machine::command(const unsigned char* source, std::size_t size, std::size_t& at, std::size_t& p,
                           std::size_t partner) {
    switch (source[at]) {
    case '+': ++tape_[p]; break;
    case '-': --tape_[p]; break;
    case '>':
        if (!reach(p + 1)) return {RunStatus::MovedPastLastCell, {}};
        ++p;
        break;
    case '<':
        if (p == 0) return {RunStatus::MovedLeftOfFirstCell, {}};
        --p;
        break;
    case '.': if (!put(tape_[p])) return outputFailed(); break;
    case ',':
        if (!input(tape_[p])) {
            if (!readBrokenOff_) return outputFailed();
            readBrokenOff_ = false;
            return {RunStatus::Stopped, {}};  // `at` stays on the ','
        }
        break;
    case '[': if (tape_[p] == 0) at = partner; break;
    case ']': if (tape_[p] != 0) at = partner; break;
    case '%': {
        std::size_t end = at + 1;
        while (end < size && !endsLine(source[end])) ++end;
        if (!putAll(reinterpret_cast<const char*>(source) + at + 1, end - at - 1)) return outputFailed();
        at = end - 1;
        break;
    }
    default: break;
    }
    ++at;
    return {RunStatus::Finished, {}};
}

RunResult run(const Program& program, RunIo io, std::size_t tapeLimit, const LoadedCode* native) {
    Machine machine(program, io, tapeLimit);
    RunResult result = native ? machine.runNative(*native) : machine.run();
    // What a program that left the tape wrote before is still written.
    return machine.flush() ? result : RunResult{RunStatus::OutputFailed, {}};
}

namespace {

bool isPlace(OpCode op) { return op == OpCode::Boundary || op == OpCode::Stop; }

bool isCommand(unsigned char c) {
    return c == '+' || c == '-' || c == '<' || c == '>' || c == '.' || c == ',' || c == '[' || c == ']' || c == '%';
}

} // namespace

Session::Session(const unsigned char* source, std::size_t size, RunIo io, std::size_t tapeLimit)
    : source_(source), size_(size), machine_(new Machine(program_, io, tapeLimit)), native_(new NativeProgram) {
    std::vector<std::uint32_t> open;
    SourceWalker walker(source, size);
    while (walker.more()) {
        if (walker.skipsRun()) continue;
        unsigned char c = walker.peek();
        std::uint32_t at = static_cast<std::uint32_t>(walker.at());
        if (c == '[' || c == ']') {
            brackets_.push_back(at);
            partners_.push_back(0);
        }
        if (c == '[') open.push_back(static_cast<std::uint32_t>(brackets_.size() - 1));
        if (c == ']') {  // the brackets balance: the run checks them first
            partners_.back() = brackets_[open.back()];
            partners_[open.back()] = at;
            open.pop_back();
        }
        walker.advance();
    }
    at_ = nextCommand(0);
}

Session::~Session() {
    delete native_;
    delete machine_;
}

bool Session::flush() { return machine_->flush(); }

const std::vector<unsigned char>& Session::tape() const { return machine_->tape(); }

std::size_t Session::partner(std::size_t offset) const {
    auto it = std::lower_bound(brackets_.begin(), brackets_.end(), static_cast<std::uint32_t>(offset));
    return partners_[static_cast<std::size_t>(it - brackets_.begin())];
}

std::size_t Session::nextCommand(std::size_t offset) const {
    while (offset < size_ && !isCommand(source_[offset])) {
        if (source_[offset] == '#')
            while (offset < size_ && !endsLine(source_[offset])) ++offset;
        else
            ++offset;
    }
    return offset;
}

SourcePosition Session::positionOf(std::size_t offset) const {
    SourceWalker walker(source_, size_);
    while (walker.at() < offset) walker.advance();
    return walker.position();
}

std::size_t Session::commandAt(std::uint32_t line, std::uint32_t column) const {
    SourceWalker walker(source_, size_);
    while (walker.more() && walker.position().line <= line) {
        unsigned char c = walker.peek();
        SourcePosition here = walker.position();
        if (here.line == line && here.column >= column && isCommand(c)) return walker.at();
        if (!walker.skipsRun()) walker.advance();
    }
    return size_;
}

RunResult Session::step() {
    if (ended()) return {RunStatus::Finished, {}};
    unsigned char c = source_[at_];
    RunResult result = machine_->command(source_, size_, at_, pointer_, c == '[' || c == ']' ? partner(at_) : 0);
    if (result.status == RunStatus::Finished) at_ = nextCommand(at_);
    else result.position = positionOf(at_);
    return result;
}

// The places make the compiled form too large: step there plainly.
RunResult Session::stepTo(const std::vector<std::size_t>& stops) {
    for (;;) {
        RunResult result = step();
        if (result.status != RunStatus::Finished || ended()) return result;
        if (std::binary_search(stops.begin(), stops.end(), at_) || (interrupt_ && *interrupt_))
            return {RunStatus::Stopped, {}};
    }
}

RunResult Session::runTo(const std::vector<std::size_t>& stops) {
    if (ended()) return {RunStatus::Finished, {}};
    Boundaries places;
    std::size_t entry = 0;
    for (std::size_t i = 0, k = 0; i < stops.size() || k < 1;) {
        bool stopFirst = i < stops.size() && (k == 1 || stops[i] <= at_);
        std::size_t offset = stopFirst ? stops[i] : at_;
        if (!stopFirst || stops[i] == at_) {
            entry = places.offsets.size();
            k = 1;
        }
        if (stopFirst) ++i;
        if (!places.offsets.empty() && places.offsets.back() == offset) { places.stops.back() = true; continue; }
        places.offsets.push_back(offset);
        places.stops.push_back(stopFirst);
    }
    if (places.offsets != compiledFor_.offsets || places.stops != compiledFor_.stops) {
        native_->clear();
        program_ = compile(source_, size_, kCompiledLimitBytes, &places);
        compiledFor_ = places;
        if (useMachineCode_ && !program_.tooLarge) native_->load(program_, interrupt_);
    }
    std::size_t ip = 0;
    const std::vector<Instruction>& code = program_.code;
    while (ip < code.size() && !(isPlace(code[ip].op) && code[ip].link == static_cast<std::int32_t>(entry))) ++ip;
    if (program_.tooLarge || ip == code.size()) return stepTo(stops);
    machine_->debug(program_, interrupt_);
    const LoadedCode* native = native_->code();
    RunResult result = native ? machine_->runNative(*native, ip + 1, pointer_) : machine_->run(ip + 1, pointer_);
    if (result.status == RunStatus::Finished) {
        at_ = size_;
        pointer_ = machine_->stopPointer();
    }
    if (result.status != RunStatus::Stopped) return result;
    const Instruction& in = program_.code[machine_->stopIp()];
    pointer_ = machine_->stopPointer();
    at_ = nextCommand(isPlace(in.op) ? places.offsets[static_cast<std::size_t>(in.link)]
                                               : program_.origins[machine_->stopIp()]);
    if (!machine_->faulted()) return result;
    // A fault the compiled form found up front: the plain reading runs up to it.
    for (;;) {
        RunResult plain = step();
        if (plain.status != RunStatus::Finished || ended()) return plain;
    }
}

} // namespace pellux
