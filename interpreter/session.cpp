#include "session.h"

#include "native_program.h"

#include <algorithm>

namespace pellux {

Session::Session(const unsigned char* source, std::size_t size, RunIo io, std::size_t tapeLimit,
                 const Dialect& dialect)
    : source_(source), size_(size), native_(new NativeProgram) {
    program_.dialect = dialect;
    program_.source = source;
    program_.size = size;
    machine_ = Machine::make(program_, io, tapeLimit);
    std::vector<std::uint32_t> open;
    const syntax::Table& table = dialect.syntax();
    SourceWalker walker(source, size, table);
    while (walker.more()) {
        if (walker.skipsLine()) continue;
        syntax::Kind kind = table.kind(walker.peek());
        std::uint32_t at = static_cast<std::uint32_t>(walker.at());
        if (kind == syntax::Kind::Open || kind == syntax::Kind::Close) {
            brackets_.push_back(at);
            partners_.push_back(0);
        }
        if (kind == syntax::Kind::Open) open.push_back(static_cast<std::uint32_t>(brackets_.size() - 1));
        if (kind == syntax::Kind::Close) {  // the brackets balance: the run checks them first
            partners_.back() = brackets_[open.back()];
            partners_[open.back()] = at;
            open.pop_back();
        }
        walker.advance();
    }
    at_ = nextCommand(0);
}

Session::~Session() = default;

std::size_t Session::partner(std::size_t offset) const {
    auto it = std::lower_bound(brackets_.begin(), brackets_.end(), static_cast<std::uint32_t>(offset));
    return partners_[static_cast<std::size_t>(it - brackets_.begin())];
}

std::size_t Session::commandAt(std::uint32_t line, std::uint32_t column) const {
    const syntax::Table& table = program_.dialect.syntax();
    SourceWalker walker(source_, size_, table);
    while (walker.more() && walker.position().line <= line) {
        SourcePosition here = walker.position();
        if (here.line == line && here.column >= column && table.isCommand(walker.peek())) return walker.at();
        if (!walker.skipsLine()) walker.advance();
    }
    return size_;
}

RunResult Session::step() {
    if (ended()) return {RunStatus::Finished, {}};
    syntax::Kind kind = program_.dialect.syntax().kind(source_[at_]);
    bool bracket = kind == syntax::Kind::Open || kind == syntax::Kind::Close;
    RunResult result = machine_->command(at_, pointer_, bracket ? partner(at_) : 0);
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

// The stops, and the place the run starts from (`entry`: its index), in source order.
Places Session::placesFor(const std::vector<std::size_t>& stops, std::size_t& entry) const {
    Places places;
    for (std::size_t i = 0, k = 0; i < stops.size() || k < 1;) {
        bool stopFirst = i < stops.size() && (k == 1 || stops[i] <= at_);
        std::size_t offset = stopFirst ? stops[i] : at_;
        if (!stopFirst || stops[i] == at_) {
            entry = places.offsets.size();
            k = 1;
        }
        if (stopFirst) ++i;
        if (!places.offsets.empty() && places.offsets.back() == offset) {
            places.stops.back() = true;
            continue;
        }
        places.offsets.push_back(offset);
        places.stops.push_back(stopFirst);
    }
    return places;
}

void Session::compileFor(const Places& places) {
    if (places.offsets == compiledFor_.offsets && places.stops == compiledFor_.stops) return;
    native_->clear();
    program_ = compile(source_, size_, program_.dialect, kCompiledLimitBytes, &places);
    compiledFor_ = places;
    if (useMachineCode_ && !program_.tooLarge) native_->load(program_, interrupt_);
}

// Where the run stopped becomes where the session stands.
void Session::takeStop(const RunResult& result, const Places& places) {
    if (machine_->stoppedInSource()) {  // the plain reading found a fault, or a read broken off
        at_ = machine_->stopOffset();
    } else if (result.status == RunStatus::Finished) {
        at_ = size_;
    } else if (result.status == RunStatus::Stopped) {
        const Instruction& in = program_.code[machine_->stopIp()];
        bool place = in.op == OpCode::Place || in.op == OpCode::Stop;
        at_ = nextCommand(place ? places.offsets[static_cast<std::size_t>(in.link)] : program_.origins[machine_->stopIp()]);
    } else {
        return;  // a write failed: the session is over
    }
    pointer_ = machine_->stopPointer();
}

RunResult Session::runTo(const std::vector<std::size_t>& stops) {
    if (ended()) return {RunStatus::Finished, {}};
    std::size_t entry = 0;
    Places places = placesFor(stops, entry);
    compileFor(places);
    std::size_t ip = 0;
    const std::vector<Instruction>& code = program_.code;
    while (ip < code.size() && !((code[ip].op == OpCode::Place || code[ip].op == OpCode::Stop) &&
                                 code[ip].link == static_cast<std::int32_t>(entry)))
        ++ip;
    if (program_.tooLarge || ip == code.size()) return stepTo(stops);
    machine_->debug(program_, interrupt_);
    const LoadedCode* native = native_->code();
    RunResult result = native ? machine_->runNative(*native, ip + 1, pointer_) : machine_->run(ip + 1, pointer_);
    takeStop(result, places);
    return result;
}

} // namespace pellux
