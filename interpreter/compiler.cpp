#include "compiler.h"

#include "idioms.h"
#include "known_cells.h"

#include <algorithm>
#include <climits>

namespace pellux {

namespace {

constexpr std::size_t kCheckEvery = 4096;  // source bytes between looks at the compiled form's size
// Programs that may compile to more instructions are not gone through for what is known of the
// tape: it would take long.
constexpr std::size_t kKnowingAtMost = std::size_t(1) << 20;

// The block being compiled. Its cells are counted from the pointer where it began.
struct Block {
    std::size_t guard;       // its Guard's index, written when the block ends
    std::int32_t pointer;    // where its moves so far have taken the pointer
    std::int32_t low, high;  // the cells they visited
    std::uint32_t from;      // where it begins in the source
};

struct OpenLoop {
    std::size_t start;   // its first instruction: its Move to the loop's cell, or its JumpIfZero
    std::size_t jump;    // its JumpIfZero
    bool real;           // it runs as a loop: the block around it ended at its '['
    Block outer;         // the block around it, as it was at the '['; outer.pointer is the loop's cell
    std::uint32_t open;  // the '['
    bool outerGuardTaken = false;  // running it as a loop took the Guard of the block around it out
    const LoopKnowledge* known = nullptr;  // what every run knows of the tape there
};

class Compiler {
public:
    // With `known`, what every run knows of the tape where each loop begins (known_cells.h).
    Compiler(Program& program, const Places* places, const std::vector<LoopKnowledge>* known)
        : program_(program), places_(places), known_(known),
          table_(program.dialect.syntax()), mask_(program.dialect.mask()) {
        beginBlock(0);
    }

    // The byte at `at`, and with it a comment or string line, or the rest of a run of '+-' or
    // '<>'; returns where the next byte lies.
    std::size_t read(std::size_t at);
    void place(std::size_t at, std::size_t index, bool stop);
    void finish(std::size_t size);
    std::size_t footprint() const {
        return program_.code.size() * sizeof(Instruction) + program_.spans.size() * sizeof(Span) +
               loops_.capacity() * sizeof(OpenLoop) + program_.origins.size() * sizeof(std::uint32_t);
    }

private:
    bool keepsOrigins() const { return places_ != nullptr; }  // only the debugger asks for them
    void setOrigin(std::size_t offset) { origin_ = static_cast<std::uint32_t>(offset); }
    void flushChange() {
        emitAdd(block_.pointer, change_);
        change_ = 0;
    }
    std::size_t repeats(std::size_t at, std::size_t end) const;
    std::size_t addRun(std::size_t at);
    std::size_t moveRun(std::size_t at);
    void move(std::int32_t delta);
    void output() { emitOrRepeat(OpCode::Out, OpCode::OutMany); }
    void input() { emitOrRepeat(OpCode::In, OpCode::InMany); }
    void print(std::size_t from, std::size_t to);
    bool clearsCell(std::size_t at) const;
    std::size_t clear(std::size_t at);
    void open(std::size_t at);
    void close(std::size_t at);
    void emit(OpCode op, std::int32_t cell, std::int32_t amount, std::int32_t link) {
        program_.code.push_back(Instruction{op, cell, amount, link});
        if (keepsOrigins()) program_.origins.push_back(origin_);
    }
    void emitAdd(std::int32_t cell, std::int32_t amount) {
        if ((static_cast<std::uint32_t>(amount) & mask_) != 0) emit(OpCode::Add, cell, amount, 0);
    }
    void emitOrRepeat(OpCode one, OpCode many);
    void emitMove() {
        if (block_.pointer != 0) emit(OpCode::Move, 0, block_.pointer, 0);
    }
    void truncate(std::size_t size) {
        program_.code.resize(size);
        if (keepsOrigins()) program_.origins.resize(size);
    }
    void beginBlock(std::size_t from);
    bool endBlock(const Block& block, std::size_t to);
    void commit(OpenLoop& loop);
    bool replaceWithIdiom(const OpenLoop& loop, std::size_t at);
    void reopenOuter(const OpenLoop& loop);
    void closeLoop(const OpenLoop& loop, std::size_t at);
    LoopBody body() const {
        const Instruction* first = program_.code.data() + block_.guard + 1;
        return LoopBody{first, program_.code.size() - block_.guard - 1, block_.low, block_.high, block_.pointer,
                        mask_};
    }
    void append(const std::vector<Instruction>& instructions, std::int32_t base, const Span& span);

    Program& program_;
    const Places* places_;
    const std::vector<LoopKnowledge>* known_;
    const syntax::Table& table_;
    std::uint32_t mask_;
    std::int32_t change_ = 0;  // a run of + and - folded into one Add
    std::uint32_t origin_ = 0;
    Block block_{};
    std::vector<OpenLoop> loops_;
    IdiomWork idioms_;
};

std::size_t Compiler::read(std::size_t at) {
    const unsigned char* source = program_.source;
    syntax::Kind kind = table_.kind(source[at]);
    if (kind == syntax::Kind::Increment || kind == syntax::Kind::Decrement) return addRun(at);
    if (table_.isCommand(source[at])) {
        flushChange();
        setOrigin(at);
    }
    switch (kind) {
    case syntax::Kind::Right:
    case syntax::Kind::Left: return moveRun(at);
    case syntax::Kind::Output: output(); break;
    case syntax::Kind::Input: input(); break;
    case syntax::Kind::Open:
        if (clearsCell(at)) return clear(at);
        open(at);
        break;
    case syntax::Kind::Close: close(at); break;
    case syntax::Kind::StringLine:
    case syntax::Kind::Comment: {
        std::size_t text = at + 1, end = text;
        while (end < program_.size && !table_.endsLine(source[end])) ++end;
        if (kind == syntax::Kind::StringLine) print(text, end);
        return end;
    }
    case syntax::Kind::Increment:
    case syntax::Kind::Decrement:
    case syntax::Kind::Invalid:
    case syntax::Kind::Quiet:
    case syntax::Kind::LineEnd:
        break;
    }
    return at + 1;
}

// A run of commands of one kind is read in one go, in a loop of its own: going back through
// read() for each byte took most of the compiler's time. Within it, each stretch of one byte
// (commonest by far) is counted first, then taken as one step: a stretch goes one way, so its
// ends are all a move adds to the block's reach. Under the debugger a place may lie inside a
// run, so there each byte comes by itself.
std::size_t Compiler::repeats(std::size_t at, std::size_t end) const {
    const unsigned char* source = program_.source;
    std::size_t first = at;
    unsigned char byte = source[at];
    do ++at;
    while (at < end && source[at] == byte);
    return at - first;
}

std::size_t Compiler::addRun(std::size_t at) {
    const unsigned char* source = program_.source;
    std::size_t end = places_ ? at + 1 : program_.size;
    do {
        std::size_t count = repeats(at, end);
        std::int32_t steps = static_cast<std::int32_t>(count);  // a source has fewer than 2^31 bytes
        change_ += table_.kind(source[at]) == syntax::Kind::Increment ? steps : -steps;
        at += count;
    } while (at < end && (table_.kind(source[at]) == syntax::Kind::Increment ||
                          table_.kind(source[at]) == syntax::Kind::Decrement));
    return at;
}

std::size_t Compiler::moveRun(std::size_t at) {
    const unsigned char* source = program_.source;
    std::size_t end = places_ ? at + 1 : program_.size;
    do {
        std::size_t count = repeats(at, end);
        std::int32_t cells = static_cast<std::int32_t>(count);
        move(table_.kind(source[at]) == syntax::Kind::Right ? cells : -cells);
        at += count;
    } while (at < end && (table_.kind(source[at]) == syntax::Kind::Right ||
                          table_.kind(source[at]) == syntax::Kind::Left));
    setOrigin(at - 1);  // as if each had come by itself
    return at;
}

void Compiler::move(std::int32_t delta) {
    block_.pointer += delta;
    block_.low = std::min(block_.low, block_.pointer);
    block_.high = std::max(block_.high, block_.pointer);
}

void Compiler::print(std::size_t from, std::size_t to) {
    if (to > from) emit(OpCode::Print, 0, static_cast<std::int32_t>(to - from), static_cast<std::int32_t>(from));
}

// A run of '.' or ',' on one cell is one instruction with a count. If a move between them
// leaves the tape, the block's Guard sees it first, and the plain reading writes what comes
// before it. Under the debugger each ',' stays an instruction of its own, so that a Ctrl+C that
// breaks off a read stops the run at that very ','.
void Compiler::emitOrRepeat(OpCode one, OpCode many) {
    std::vector<Instruction>& code = program_.code;
    bool repeat = !(places_ && one == OpCode::In) && !code.empty() && (code.back().op == one || code.back().op == many) &&
                  code.back().cell == block_.pointer && code.back().amount < INT32_MAX;
    if (!repeat) {
        emit(one, block_.pointer, 0, 0);
        return;
    }
    Instruction& last = code.back();
    last.amount = last.op == one ? 2 : last.amount + 1;
    last.op = many;
}

void Compiler::beginBlock(std::size_t from) {
    block_ = Block{program_.code.size(), 0, 0, 0, static_cast<std::uint32_t>(from)};
    emit(OpCode::Guard, 0, 0, 0);
}

// The block's Guard, now that its cells are known; false when it stays on its first cell, which
// is always on the tape, and its Guard is taken out.
bool Compiler::endBlock(const Block& block, std::size_t to) {
    std::vector<Instruction>& code = program_.code;
    if (block.low == 0 && block.high == 0) {
        code.erase(code.begin() + static_cast<std::ptrdiff_t>(block.guard));
        if (keepsOrigins()) program_.origins.erase(program_.origins.begin() + static_cast<std::ptrdiff_t>(block.guard));
        return false;
    }
    code[block.guard] = Instruction{OpCode::Guard, block.low, block.high - block.low,
                                    static_cast<std::int32_t>(program_.spans.size())};
    program_.spans.push_back(Span{block.from, static_cast<std::uint32_t>(to), block.low, block.high, 0});
    return true;
}

// "[-]" and "[+]" are the commonest loops by far: they are made a Clear at once, without the
// loop's way through the compiler. Under the debugger a place may lie inside.
bool Compiler::clearsCell(std::size_t at) const {
    if (places_ || at + 2 >= program_.size) return false;
    syntax::Kind step = table_.kind(program_.source[at + 1]);
    return (step == syntax::Kind::Increment || step == syntax::Kind::Decrement) &&
           table_.kind(program_.source[at + 2]) == syntax::Kind::Close;
}

std::size_t Compiler::clear(std::size_t at) {
    emit(OpCode::Clear, block_.pointer, 0, 0);
    setOrigin(at + 2);
    return at + 3;
}

// At '[': the loop's cell becomes the pointer, and its body a block of its own, which it stays
// unless the loop turns out to be an idiom. A loop that holds a loop runs as a loop.
void Compiler::open(std::size_t at) {
    if (!loops_.empty() && !loops_.back().real) commit(loops_.back());
    OpenLoop loop{program_.code.size(), 0, false, block_, static_cast<std::uint32_t>(at)};
    if (known_) loop.known = knowledgeAt(*known_, at);
    emitMove();
    loop.jump = program_.code.size();
    emit(OpCode::JumpIfZero, 0, static_cast<std::int32_t>(at), 0);
    loops_.push_back(loop);
    beginBlock(at + 1);
}

// The loop runs as a loop: the block around it ends at its '['.
void Compiler::commit(OpenLoop& loop) {
    loop.real = true;
    if (endBlock(loop.outer, loop.open)) return;
    loop.outerGuardTaken = true;
    --loop.start;  // everything after the Guard taken out moved back by one
    --loop.jump;
    --block_.guard;
}

void Compiler::close(std::size_t at) {
    OpenLoop loop = loops_.back();
    loops_.pop_back();
    if (replaceWithIdiom(loop, at)) return;
    if (!loop.real) commit(loop);
    closeLoop(loop, at);
}

// The loop stands for no code of its own after all: the block around it goes on from its '[',
// with its Guard back in place.
void Compiler::reopenOuter(const OpenLoop& loop) {
    truncate(loop.start);
    if (loop.outerGuardTaken) {
        program_.code.insert(program_.code.begin() + static_cast<std::ptrdiff_t>(loop.outer.guard),
                             Instruction{OpCode::Guard, 0, 0, 0});
        if (keepsOrigins())
            program_.origins.insert(program_.origins.begin() + static_cast<std::ptrdiff_t>(loop.outer.guard),
                                    loop.outer.from);
    }
    block_ = loop.outer;
}

// The instructions of an idiom, made for the loop's cell, placed where that cell lies in the
// block around the loop.
void Compiler::append(const std::vector<Instruction>& instructions, std::int32_t base, const Span& span) {
    for (Instruction in : instructions) {
        if (operation(in.op).cell == Operand::Offset) in.cell += base;
        if (operation(in.op).link == Operand::Span) in.link = static_cast<std::int32_t>(program_.spans.size());
        emit(in.op, in.cell, in.amount, in.link);
    }
    program_.spans.push_back(span);
}

// A loop that held loops runs as a loop only if they did not all turn out to be idioms: its body
// is then one block, and may be an idiom too.
bool Compiler::replaceWithIdiom(const OpenLoop& loop, std::size_t at) {
    if (loop.real && block_.guard != loop.jump + 1) return false;
    LoopBody inside = body();
    Span span{loop.open, static_cast<std::uint32_t>(at + 1), std::min(0, inside.net), std::max(0, inside.net), inside.net};
    bool clear = isClearLoop(inside), scan = !clear && isScanLoop(inside);
    const KnownCells* atTurn = loop.known && loop.known->atTurn.reached() ? &loop.known->atTurn : nullptr;
    if (!clear && !scan && !isMultiplyLoop(inside, program_.spans, idioms_, span, atTurn)) return false;
    setOrigin(loop.open);  // what stands for the loop comes from its '['
    if (scan) {  // where a scan ends is known only when it runs: the block ends with it
        truncate(loop.jump);
        if (!loop.real) endBlock(loop.outer, loop.open);  // a loop that ran as a loop ended it at its '['
        emit(OpCode::Scan, 0, inside.net, static_cast<std::int32_t>(program_.spans.size()));
        program_.spans.push_back(span);
        beginBlock(at + 1);
    } else {
        reopenOuter(loop);
        if (clear) emit(OpCode::Clear, block_.pointer, 0, 0);
        else append(idioms_.out, block_.pointer, span);
    }
    setOrigin(at);
    return true;
}

// The end of a loop that runs as a loop. A body of one block that ends where it began visits
// the same cells every turn: its Guard at the first turn holds for the later ones too, and its
// later turns may be done at once (remainingTurns).
void Compiler::closeLoop(const OpenLoop& loop, std::size_t at) {
    bool sameEveryTurn = block_.guard == loop.jump + 1 && block_.pointer == 0;
    Span span{loop.open, static_cast<std::uint32_t>(at + 1), 0, 0, 0};
    if (sameEveryTurn && remainingTurns(body(), program_.spans, idioms_, span)) append(idioms_.out, 0, span);
    bool guarded = endBlock(block_, at);
    std::size_t back = program_.code.size();
    emit(OpCode::JumpIfNotZero, block_.pointer, 0, 0);  // the body's last move is the jump's
    program_.code[loop.jump].link = static_cast<std::int32_t>(back + 1);
    program_.code[back].link = static_cast<std::int32_t>(loop.jump + (sameEveryTurn && guarded ? 2 : 1));
    beginBlock(at + 1);
}

// A place ends the block it lies in, with the pointer's moves done, and the loop it lies in
// runs as a loop.
void Compiler::place(std::size_t at, std::size_t index, bool stop) {
    flushChange();
    setOrigin(at);
    if (!loops_.empty() && !loops_.back().real) commit(loops_.back());
    emitMove();
    endBlock(block_, at);
    emit(stop ? OpCode::Stop : OpCode::Place, 0, 0, static_cast<std::int32_t>(index));
    beginBlock(at);
}

void Compiler::finish(std::size_t size) {
    flushChange();
    emitMove();
    endBlock(block_, size);
    emit(OpCode::End, 0, 0, 0);
}

// At most how many instructions the source compiles to, give or take the few a loop adds: one
// for each stretch of one kind of command (a run of '+-', '<>', '.' or ',' is one instruction, or
// two when a comment or line end splits it), and three for each bracket.
unsigned char groupOf(syntax::Kind kind) {
    using syntax::Kind;
    switch (kind) {
    case Kind::Increment:
    case Kind::Decrement: return 1;
    case Kind::Right:
    case Kind::Left: return 2;
    case Kind::Output: return 3;
    case Kind::Input: return 4;
    case Kind::Open:
    case Kind::Close: return 5;
    case Kind::Invalid:
    case Kind::Quiet:
    case Kind::LineEnd:
    case Kind::StringLine:
    case Kind::Comment: break;
    }
    return 0;
}

std::size_t instructionsAtMost(const unsigned char* source, std::size_t size, const syntax::Table& table) {
    // What a byte adds, by its group (0 for no command, 5 for a bracket) and the group of the
    // byte before it. Two loads a byte and no branch: the kinds of a program change too often
    // for a branch to guess them, and a count that depended on the last command's group, not the
    // last byte's, kept each byte waiting for the one before.
    constexpr unsigned kGroups = 8, kBracket = 5;
    unsigned char group[256], adds[kGroups * kGroups] = {};
    for (unsigned c = 0; c < 256; ++c) group[c] = groupOf(table.kind(static_cast<unsigned char>(c)));
    for (unsigned before = 0; before < kGroups; ++before) {
        for (unsigned now = 1; now < kBracket; ++now) adds[before * kGroups + now] = now != before;
        adds[before * kGroups + kBracket] = 3;
    }
    std::size_t count = 0;
    unsigned before = 0;
    for (std::size_t i = 0; i < size; ++i) {
        unsigned now = group[source[i]];
        count += adds[before * kGroups + now];
        before = now;
    }
    return count;
}

// One pass over the source, which compiles to at most `expected` instructions and a few; with
// `known`, what every run knows where each loop begins.
Program compileOnce(const unsigned char* source, std::size_t size, const Dialect& dialect, std::size_t limitBytes,
                    const Places* places, std::size_t expected, const std::vector<LoopKnowledge>* known) {
    Program program;
    program.dialect = dialect;
    program.source = source;
    program.size = size;
    // Room for the code up front: a big program's code is then never copied as it grows.
    // Past the limit, only as far as the compiler goes before it looks.
    program.code.reserve(std::min(expected + 16, limitBytes / sizeof(Instruction) + kCheckEvery * 3));
    Compiler compiler(program, places, known);
    std::size_t nextPlace = 0, nextCheck = 0;
    for (std::size_t at = 0; at < size;) {
        if (at >= nextCheck) {
            if (compiler.footprint() > limitBytes) {
                program.tooLarge = true;
                return program;
            }
            nextCheck = at + kCheckEvery;
        }
        if (places) {
            while (nextPlace < places->offsets.size() && places->offsets[nextPlace] < at) ++nextPlace;
            if (nextPlace < places->offsets.size() && places->offsets[nextPlace] == at)
                compiler.place(at, nextPlace, places->stops[nextPlace]);
        }
        at = compiler.read(at);
    }
    compiler.finish(size);
    return program;
}

// A loop that ran as a loop of one block, whose turns were not all done at once: an inner loop's
// counter was not known. With what is known where its turns begin, they may be.
struct Candidate {
    std::size_t jump;  // its JumpIfZero
    LoopBody body;     // its first turn's
};

// Instructions that neither jump, move the pointer nor read, and may stand between a block's
// Guard and the loop after it.
bool straight(OpCode op) {
    return op == OpCode::Add || op == OpCode::Clear || op == OpCode::MulLoop || op == OpCode::MulTerm ||
           op == OpCode::SetTerm || op == OpCode::Out || op == OpCode::OutMany || op == OpCode::Print;
}

// The most any run can know where the loop whose JumpIfZero is at `jump` begins: that every cell
// holds zero, but for those the straight code right before it leaves holding a known value other
// than zero. The knowledge of the whole program (known_cells.h) never knows more there, and costs
// far more to work out.
KnownCells atBest(const Program& program, std::size_t jump) {
    const std::vector<Instruction>& code = program.code;
    std::size_t to = jump;
    std::int32_t loopCell = 0;  // the loop's cell, counted from where the straight code began
    if (to > 0 && code[to - 1].op == OpCode::Move) loopCell = code[--to].amount;
    std::size_t from = to;
    while (from > 0 && straight(code[from - 1].op)) --from;  // a jump lands only after a loop or Guard
    struct Value {
        std::int32_t cell;
        bool known;
        std::uint32_t value;
    };
    std::vector<Value> values;
    auto valueOf = [&values](std::int32_t cell) -> Value& {
        for (Value& value : values)
            if (value.cell == cell) return value;
        values.push_back(Value{cell, false, 0});
        return values.back();
    };
    for (std::size_t i = from; i < to; ++i) {
        const Instruction& in = code[i];
        if (in.op == OpCode::Add) valueOf(in.cell).value += static_cast<std::uint32_t>(in.amount);
        if (in.op == OpCode::Clear) valueOf(in.cell) = Value{in.cell, true, 0};
        if (in.op != OpCode::MulLoop) continue;
        for (std::int32_t t = 1; t <= in.amount; ++t) valueOf(code[i + static_cast<std::size_t>(t)].cell).known = false;
        valueOf(in.cell) = Value{in.cell, true, 0};
        i += static_cast<std::size_t>(in.amount);
    }
    KnownCells best = KnownCells::blank();
    for (const Value& value : values)
        if (value.known && (value.value & program.dialect.mask()) != 0) best.forget(value.cell - loopCell);
    return best;
}

std::vector<Candidate> candidates(const Program& program) {
    const std::vector<Instruction>& code = program.code;
    std::vector<Candidate> found;
    IdiomWork work;
    Span span{};
    const KnownCells blank = KnownCells::blank();
    for (std::size_t k = 0; k < code.size(); ++k) {
        if (code[k].op != OpCode::JumpIfZero) continue;
        std::size_t end = static_cast<std::size_t>(code[k].link) - 1, first = k + 1, last = end;
        std::int32_t low = 0, high = 0;
        if (code[first].op == OpCode::Guard) {
            low = code[first].cell;
            high = low + code[first].amount;
            ++first;
        }
        bool simple = code[end].cell == 0, inner = false;
        for (std::size_t i = first; i < end && simple; ++i) {
            OpCode op = code[i].op;
            simple = op == OpCode::Add || op == OpCode::Clear || op == OpCode::MulLoop || op == OpCode::MulTerm ||
                     op == OpCode::SetTerm;
            // The MulLoop that does the later turns (remainingTurns) comes from the loop's own '['.
            bool later = op == OpCode::MulLoop && program.spans[static_cast<std::size_t>(code[i].link)].from ==
                                                      static_cast<std::uint32_t>(code[k].amount);
            if (later) last = std::min(last, i);
            inner = inner || (op == OpCode::MulLoop && !later);
        }
        LoopBody body{code.data() + first, last - first, low, high, 0, program.dialect.mask()};
        // One whose turns would differ even on a blank tape, or with the most that can be known
        // where it begins, is no candidate: no knowledge helps it.
        if (!simple || !inner || !isMultiplyLoop(body, program.spans, work, span, &blank)) continue;
        KnownCells best = atBest(program, k);
        if (isMultiplyLoop(body, program.spans, work, span, &best)) found.push_back(Candidate{k, body});
    }
    return found;
}

// Whether what is known makes the turns of one of the candidates all the same.
bool foldsWith(const Program& program, const std::vector<Candidate>& loops, const std::vector<LoopKnowledge>& known) {
    IdiomWork work;
    for (const Candidate& loop : loops) {
        const LoopKnowledge* at = knowledgeAt(known, static_cast<std::size_t>(program.code[loop.jump].amount));
        Span span{};
        if (at && at->atTurn.reached() && isMultiplyLoop(loop.body, program.spans, work, span, &at->atTurn)) return true;
    }
    return false;
}

} // namespace

// Compiled once, and when a loop that ran as a loop could be done at once with what every run
// knows of the tape where its turns begin, once again with that knowledge.
Program compile(const unsigned char* source, std::size_t size, const Dialect& dialect, std::size_t limitBytes,
                const Places* places) {
    std::size_t expected = instructionsAtMost(source, size, dialect.syntax());
    // A large program is compiled once, as it comes.
    bool knowing = expected <= kKnowingAtMost;
    Program first = compileOnce(source, size, dialect, limitBytes, places, expected, nullptr);
    if (knowing && !first.tooLarge) {
        std::vector<Candidate> loops = candidates(first);
        std::vector<LoopKnowledge> known;
        if (!loops.empty()) known = knownAtLoops(first, loops.back().jump);
        if (foldsWith(first, loops, known)) {
            Program second = compileOnce(source, size, dialect, limitBytes, places, expected, &known);
            if (!second.tooLarge) return second;
        }
    }
    return first;
}

} // namespace pellux
