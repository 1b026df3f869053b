#include "machine.h"

#include "native_code.h"
#include "native_program.h"

namespace pellux {

namespace {

// A machine whose cells are of type Cell: 8, 16 or 32 bits, wrapping at their width.
template <typename Cell>
class CellMachine final : public Machine {
public:
    CellMachine(const Program& program, RunIo io, std::size_t limit)
        : Machine(program, io), limit_(limit), tape_(std::min(kInitialTapeCells, limit)) {}

    RunResult run(std::size_t ip, std::size_t p) override;
    RunResult runNative(const LoadedCode& native, std::size_t ip, std::size_t p) override;
    RunResult command(std::size_t& at, std::size_t& p, std::size_t partner) override;
    std::uint32_t cell(std::size_t index) const override { return index < tape_.size() ? tape_[index] : 0; }

private:
    template <bool kPolling>
    RunResult dispatch(std::size_t ip, std::size_t p, bool once);
    RunResult handOver(std::size_t ip, std::size_t p);
    // Makes cell `cell` exist; false when it lies past the limit. What the program wrote is
    // written before the machine gives up for want of memory.
    bool grow(std::size_t cell) {
        if (cell < tape_.size()) return true;
        if (cell >= limit_) return false;
        std::size_t size = tape_.size();
        while (size <= cell) size = std::min(size * 2, limit_);
        try {
            tape_.resize(size);
        } catch (const std::bad_alloc&) {
            flush();
            throw;
        }
        return true;
    }
    bool read(Cell& cell, std::int32_t count = 1) {
        std::uint32_t value = cell;
        if (!input(value, count)) return false;
        cell = static_cast<Cell>(value);
        return true;
    }
    bool guard(const Instruction& in, std::size_t p, RunResult& fault);
    // Whether the tape holds, or can grow to hold, `reach` cells past a Guard's block.
    bool reaches(const Instruction& in, std::size_t p, std::int32_t reach) {
        if (in.op != OpCode::Guard) return true;
        std::ptrdiff_t last = static_cast<std::ptrdiff_t>(p) + in.cell + in.amount;
        return last < 0 || grow(static_cast<std::size_t>(last) + static_cast<std::size_t>(reach));
    }
    bool scan(const Instruction& in, std::size_t& p, RunResult& fault);
    bool multiply(const Instruction& loop, const Instruction* terms, std::size_t p, RunResult& fault);
    RunResult faultIn(const Instruction& in, std::size_t p, RunStatus side);

    std::size_t limit_;
    // Only grows, in fresh pages: the cells it adds are zero without a write, and a page is touched
    // only when the program visits it.
    std::vector<Cell, FreshPages<Cell>> tape_;
};

} // namespace

// Dispatch: with GCC and Clang each handler jumps straight to the next one (threaded code, one
// indirect branch per handler, which predicts far better); elsewhere a plain switch. kPolling
// (the debugger's) looks at the interrupt flag where each loop's turn starts; `once` does one
// instruction and hands the run back to the machine code.
#if defined(__GNUC__)
#define PELLUX_THREADED 1
#define OP(name) op_##name:
#define NEXT()                                          \
    do {                                                \
        in = code + ip++;                               \
        goto* next[static_cast<int>(in->op)];           \
    } while (0)
#else
#define OP(name) case OpCode::name:
#define NEXT() continue
#endif

template <typename Cell>
template <bool kPolling>
RunResult CellMachine<Cell>::dispatch(std::size_t ip, std::size_t p, bool once) {
    const Instruction* code = program_->code.data();
    const Instruction* in;
    Cell* t = tape_.data();
    Cell* c = t + p;  // the current cell
    std::size_t size = tape_.size();
    RunResult fault;
    auto here = [&] { return static_cast<std::size_t>(c - t); };
    auto tapeMoved = [&] {
        t = tape_.data();
        size = tape_.size();
    };
#ifdef PELLUX_THREADED
#define PELLUX_LABEL(name, ...) &&op_##name,
#define PELLUX_HAND_BACK(name, ...) &&handBack,
    static const void* const table[] = {PELLUX_OPERATIONS(PELLUX_LABEL)};
    static const void* const back[] = {PELLUX_OPERATIONS(PELLUX_HAND_BACK)};
#undef PELLUX_LABEL
#undef PELLUX_HAND_BACK
    const void* const* next = once ? back : table;
    in = code + ip++;
    goto* table[static_cast<int>(in->op)];
handBack:
    handedBack_ = true;
    resumeIp_ = ip - 1;
    resumePointer_ = here();
    return {RunStatus::Finished, {}};
#else
    for (bool first = true;; first = false) {
        if (once && !first) {
            handedBack_ = true;
            resumeIp_ = ip;
            resumePointer_ = here();
            return {RunStatus::Finished, {}};
        }
        in = code + ip++;
        switch (in->op) {
#endif
    OP(Add) c[in->cell] = static_cast<Cell>(c[in->cell] + static_cast<Cell>(in->amount)); NEXT();
    OP(Move) c += in->amount; NEXT();
    OP(Clear) c[in->cell] = 0; NEXT();
    OP(Out) if (!put(static_cast<unsigned char>(c[in->cell]))) return outputFailed(); NEXT();
    OP(OutMany) if (!putRepeated(static_cast<unsigned char>(c[in->cell]), in->amount)) return outputFailed(); NEXT();
    OP(In) if (!read(c[in->cell])) return notDone(ip - 1, here()); NEXT();
    OP(InMany) if (!read(c[in->cell], in->amount)) return notDone(ip - 1, here()); NEXT();
    OP(Print) {
        if (!putAll(program_->source + in->link, static_cast<std::size_t>(in->amount))) return outputFailed();
        NEXT();
    }
    OP(Guard) {
        // A cell left of the first wraps round to a huge index.
        std::size_t lowest = static_cast<std::size_t>(static_cast<std::ptrdiff_t>(here()) + in->cell);
        if (lowest >= size || lowest + static_cast<std::size_t>(in->amount) >= size) {
            std::size_t at = here();
            if (!guard(*in, at, fault)) return fault;
            tapeMoved();
            c = t + at;
        }
        NEXT();
    }
    OP(MulLoop) {
        if (c[in->cell] != 0) {
            std::size_t at = here();
            if (!multiply(*in, in + 1, at, fault)) return fault;
            tapeMoved();
            c = t + at;
        }
        ip += static_cast<std::size_t>(in->amount);
        NEXT();
    }
    OP(MulTerm) NEXT();  // done by its MulLoop
    OP(SetTerm) NEXT();
    OP(Scan) {
        std::size_t at = here();
        if (!scan(*in, at, fault)) return fault;
        tapeMoved();
        c = t + at;
        NEXT();
    }
    OP(JumpIfZero) {
        if (!*c) {
            ip = static_cast<std::size_t>(in->link);
            NEXT();
        }
        if (kPolling && *interrupt_) return stopAt(ip - 1, here());
        NEXT();
    }
    OP(JumpIfNotZero) {
        c += in->cell;
        if (*c) {
            ip = static_cast<std::size_t>(in->link);
            if (kPolling && *interrupt_) return stopAt(turnOf(ip), here());
        }
        NEXT();
    }
    OP(Place) NEXT();
    OP(Stop) return stopAt(ip - 1, here());
    OP(End) {
        stopPointer_ = here();  // for the debugger
        return flush() ? RunResult{RunStatus::Finished, {}} : outputFailed();
    }
#ifndef PELLUX_THREADED
        }
    }
#endif
}

#undef OP
#undef NEXT

template <typename Cell>
RunResult CellMachine<Cell>::run(std::size_t ip, std::size_t p) {
    stoppedInSource_ = false;
    return interrupt_ ? dispatch<true>(ip, p, false) : dispatch<false>(ip, p, false);
}

// The one instruction the machine code left to the machine.
template <typename Cell>
RunResult CellMachine<Cell>::handOver(std::size_t ip, std::size_t p) {
    return interrupt_ ? dispatch<true>(ip, p, true) : dispatch<false>(ip, p, true);
}

// The translated code runs until it meets an instruction it leaves to the machine; the portable
// machine does that one and hands the run back.
template <typename Cell>
RunResult CellMachine<Cell>::runNative(const LoadedCode& native, std::size_t ip, std::size_t p) {
    stoppedInSource_ = false;
    NativeEntry enter;
    std::memcpy(&enter, &native.base, sizeof enter);  // the entry routine lies at the start
    NativeState state{nullptr, nullptr, nullptr, nullptr, nullptr, out_ + kOutputBuffer, 0};
    for (;;) {
        state.tape = reinterpret_cast<unsigned char*>(tape_.data());
        state.tapeEnd = state.tape + tape_.size() * sizeof(Cell);
        state.cell = state.tape + p * sizeof(Cell);
        state.resume = native.base + native.entries[ip];
        state.out = out_ + outSize_;
        enter(&state);
        outSize_ = static_cast<std::size_t>(state.out - out_);
        handedBack_ = false;
        std::size_t at = static_cast<std::size_t>(state.cell - state.tape) / sizeof(Cell);
        std::size_t exitAt = static_cast<std::size_t>(state.exitAt);
        // The code past a Guard counts on its reach: without the room for it, the rest is run here.
        if (native.reach > 0 && !reaches(program_->code[exitAt], at, native.reach)) return run(exitAt, at);
        RunResult result = handOver(exitAt, at);
        if (!handedBack_) return result;
        ip = resumeIp_;
        p = resumePointer_;
    }
}

bool Machine::putAll(const unsigned char* bytes, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i)
        if (!put(bytes[i])) return false;
    return true;
}

bool Machine::putRepeated(unsigned char byte, std::int32_t count) {
    for (std::size_t left = static_cast<std::size_t>(count); left > 0;) {
        if (outSize_ == kOutputBuffer && !flush()) return false;
        std::size_t part = std::min(left, kOutputBuffer - outSize_);
        std::memset(out_ + outSize_, byte, part);
        outSize_ += part;
        left -= part;
    }
    return true;
}

bool Machine::input(std::uint32_t& value, std::int32_t count) {
    if (io_.flushBeforeRead && !flush()) return false;
    for (std::int32_t i = 0; i < count; ++i) {
        int byte = io_.read(io_.context);
        if (byte == kReadBrokenOff) {  // only under the debugger, where each ',' reads once
            readBrokenOff_ = true;
            return false;
        }
        if (byte == kReadFailed) {
            readFailed_ = true;
            return false;
        }
        if (byte >= 0) value = static_cast<std::uint32_t>(byte);
        else if (io_.endOfInput != -1) value = static_cast<std::uint32_t>(io_.endOfInput);
    }
    return true;
}

// The block about to run reaches past the tape's end or before its start: grow the tape, or
// find where the program leaves it.
template <typename Cell>
bool CellMachine<Cell>::guard(const Instruction& in, std::size_t p, RunResult& fault) {
    std::ptrdiff_t low = static_cast<std::ptrdiff_t>(p) + in.cell;
    if (low >= 0 && grow(static_cast<std::size_t>(low) + static_cast<std::size_t>(in.amount))) return true;
    fault = faultIn(in, p, low < 0 ? RunStatus::MovedLeftOfFirstCell : RunStatus::MovedPastLastCell);
    return false;
}

// Moves by the step while the cell is not zero; `p` stays on the last cell reached when a step
// would leave the tape.
template <typename Cell>
bool CellMachine<Cell>::scan(const Instruction& in, std::size_t& p, RunResult& fault) {
    std::size_t step = static_cast<std::size_t>(in.amount < 0 ? -std::int64_t(in.amount) : in.amount);
    if (in.amount < 0) {
        const Cell* t = tape_.data();
        while (t[p]) {
            if (p < step) {
                fault = faultIn(in, p, RunStatus::MovedLeftOfFirstCell);
                return false;
            }
            p -= step;
        }
        return true;
    }
    for (;;) {
        const Cell* t = tape_.data();
        std::size_t size = tape_.size();
        if (sizeof(Cell) == 1 && step == 1) {
            const void* zero = std::memchr(t + p, 0, size - p);
            if (zero) {
                p = static_cast<std::size_t>(static_cast<const Cell*>(zero) - t);
                return true;
            }
            p = size - 1;
        } else {
            while (t[p] && p + step < size) p += step;
            if (!t[p]) return true;
        }
        if (!grow(p + step)) {
            fault = faultIn(in, p, RunStatus::MovedPastLastCell);
            return false;
        }
    }
}

// A multiply loop on the cell p + loop.cell, done at once. False, with where the loop leaves the
// tape, when its turns would go past either end.
template <typename Cell>
bool CellMachine<Cell>::multiply(const Instruction& loop, const Instruction* terms, std::size_t p, RunResult& fault) {
    std::size_t cell = p + static_cast<std::size_t>(static_cast<std::ptrdiff_t>(loop.cell));
    Cell v = tape_[cell];
    const Span& span = program_->spans[static_cast<std::size_t>(loop.link)];
    if (static_cast<std::ptrdiff_t>(cell) + span.low < 0) {
        fault = faultIn(loop, cell, RunStatus::MovedLeftOfFirstCell);
        return false;
    }
    if (!grow(cell + static_cast<std::size_t>(span.high))) {
        fault = faultIn(loop, cell, RunStatus::MovedPastLastCell);
        return false;
    }
    Cell* t = tape_.data() + p;
    std::uint32_t turns = v * turnsPerUnit(span.step, program_->dialect.mask());
    for (std::int32_t i = 0; i < loop.amount; ++i) {
        Cell& target = t[terms[i].cell];
        std::uint32_t amount = static_cast<std::uint32_t>(terms[i].amount);
        target = static_cast<Cell>(terms[i].op == OpCode::SetTerm ? amount : target + turns * amount);
    }
    tape_[cell] = 0;
    return true;
}

// A Guard, Scan or MulLoop saw that the pointer would leave the tape: the plain reading runs its
// source from where it begins, with the pointer at `p` there, and stops at the command that
// leaves, or at what stops it first (a failed write, a read broken off).
template <typename Cell>
RunResult CellMachine<Cell>::faultIn(const Instruction& in, std::size_t p, RunStatus side) {
    const Span& span = program_->spans[static_cast<std::size_t>(in.link)];
    const unsigned char* source = program_->source;
    std::size_t size = program_->size;
    const syntax::Table& table = program_->dialect.syntax();
    std::vector<std::size_t> opens;  // the loops entered since
    std::size_t at = nextCommand(source, size, span.from, table);
    RunResult result{side, {}};
    while (at < span.to) {
        syntax::Kind kind = table.kind(source[at]);
        std::size_t partner = 0;
        if (kind == syntax::Kind::Open && tape_[p] == 0) partner = matchingClose(source, size, at, table);
        if (kind == syntax::Kind::Open && tape_[p] != 0) opens.push_back(at);
        if (kind == syntax::Kind::Close) {
            if (opens.empty()) break;
            partner = opens.back();
            if (tape_[p] == 0) opens.pop_back();
        }
        result = command(at, p, partner);
        if (result.status != RunStatus::Finished) break;
        at = nextCommand(source, size, at, table);
    }
    // Past the construct without a fault, the compiled form and its source disagree (a program
    // made by hand): the fault is the construct's own.
    if (result.status == RunStatus::Finished) {
        result.status = side;
        at = nextCommand(source, size, span.from, table);
    }
    return stopInSource(result, at, p);
}

template <typename Cell>
RunResult CellMachine<Cell>::command(std::size_t& at, std::size_t& p, std::size_t partner) {
    const unsigned char* source = program_->source;
    const syntax::Table& table = program_->dialect.syntax();
    switch (table.kind(source[at])) {
    case syntax::Kind::Increment: ++tape_[p]; break;
    case syntax::Kind::Decrement: --tape_[p]; break;
    case syntax::Kind::Right:
        if (!grow(p + 1)) return {RunStatus::MovedPastLastCell, {}};
        ++p;
        break;
    case syntax::Kind::Left:
        if (p == 0) return {RunStatus::MovedLeftOfFirstCell, {}};
        --p;
        break;
    case syntax::Kind::Output:
        if (!put(static_cast<unsigned char>(tape_[p]))) return outputFailed();
        break;
    case syntax::Kind::Input:
        if (!read(tape_[p])) return readNotDone();  // `at` stays on the ','
        break;
    case syntax::Kind::Open:
        if (tape_[p] == 0) at = partner;
        break;
    case syntax::Kind::Close:
        if (tape_[p] != 0) at = partner;
        break;
    case syntax::Kind::StringLine:
    case syntax::Kind::Comment: {
        std::size_t end = at + 1;
        while (end < program_->size && !table.endsLine(source[end])) ++end;
        bool print = table.kind(source[at]) == syntax::Kind::StringLine;
        if (print && !putAll(source + at + 1, end - at - 1)) return outputFailed();
        at = end - 1;
        break;
    }
    case syntax::Kind::Invalid:
    case syntax::Kind::Quiet:
    case syntax::Kind::LineEnd:
        break;
    }
    ++at;
    return {RunStatus::Finished, {}};
}

std::unique_ptr<Machine> Machine::make(const Program& program, RunIo io, std::size_t tapeLimit) {
    std::size_t limit = std::min(tapeLimit, tapeLimitCells(program.dialect));
    switch (program.dialect.cellBytes) {
    case 2: return std::unique_ptr<Machine>(new CellMachine<std::uint16_t>(program, io, limit));
    case 4: return std::unique_ptr<Machine>(new CellMachine<std::uint32_t>(program, io, limit));
    default: return std::unique_ptr<Machine>(new CellMachine<std::uint8_t>(program, io, limit));
    }
}

RunResult run(const Program& program, RunIo io, std::size_t tapeLimit, const LoadedCode* native) {
    std::unique_ptr<Machine> machine = Machine::make(program, io, tapeLimit);
    RunResult result = native ? machine->runNative(*native) : machine->run();
    // What a program that left the tape wrote before is still written.
    return machine->flush() ? result : RunResult{RunStatus::OutputFailed, {}};
}

} // namespace pellux
