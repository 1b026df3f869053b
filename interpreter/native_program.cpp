#include "native_program.h"

#include "machine.h"
#include "native_code.h"

#include <new>

namespace pellux {

bool NativeProgram::load(const Program& program, const volatile std::sig_atomic_t* interrupt) {
    clear();
    if (program.code.size() > kMostOperationsTranslated) return false;
    NativeCode native;
    try {
        if (!translate(program, native, interrupt)) return false;
    } catch (const std::bad_alloc&) {  // the portable machine needs no more memory than it has
        return false;
    }
    if (!memory_.load(native.bytes.data(), native.bytes.size())) return false;
    entries_.swap(native.entries);
    loaded_ = LoadedCode{memory_.address(), entries_.data()};
    return true;
}

void NativeProgram::clear() {
    memory_.release();
    entries_ = std::vector<std::uint32_t>();
    loaded_ = LoadedCode{nullptr, nullptr};
}

// The translated code runs until it meets an instruction it leaves to the machine; the machine
// does that one and goes back in after it.
RunResult Machine::runNative(const LoadedCode& native, std::size_t ip, std::size_t p) {
    NativeEntry enter;
    std::memcpy(&enter, &native.base, sizeof enter);  // the entry routine lies at the start
    const Instruction* code = program_->code.data();
    NativeState state{tape_.data() + p, tape_.data(), tape_.data() + tape_.size(), nullptr, out_, out_ + kOutputBuffer, 0};
    for (;;) {
        state.resume = native.base + native.entries[ip];
        state.out = out_ + outSize_;
        enter(&state);
        outSize_ = static_cast<std::size_t>(state.out - out_);
        ip = static_cast<std::size_t>(state.exitAt);
        const Instruction& in = code[ip];
        p = static_cast<std::size_t>(state.cell - state.tape);
        RunResult left;
        switch (in.op) {
        case OpCode::Bounds:
            if (!bounds(in, ip + 1, p, left)) return left;
            break;
        case OpCode::Scan:
            if (!scan(in, p, left)) return left;
            break;
        case OpCode::MulLoop:
            if (!multiply(in, code + ip + 1, p, left)) return left;
            ip += static_cast<std::size_t>(in.amount);
            break;
        case OpCode::Out:
        case OpCode::OutMany:
        case OpCode::In:
        case OpCode::InMany:
        case OpCode::Print:
            if (!inputOutput(in, p)) return notDone(ip, p);
            break;
        case OpCode::Stop:
        case OpCode::JumpIfZero:  // only under the debugger: a Ctrl+C at a turn's start
            return stopAt(ip, p, false);
        case OpCode::End:
            stopPointer_ = p;  // for the debugger
            return flush() ? RunResult{RunStatus::Finished, {}} : outputFailed();
        case OpCode::Add:  // the code does these itself
        case OpCode::Move:
        case OpCode::Clear:
        case OpCode::MulTerm:
        case OpCode::SetTerm:
        case OpCode::JumpIfNotZero:
        case OpCode::Nop:
        case OpCode::Boundary:
            break;
        }
        ++ip;
        state.tape = tape_.data();
        state.tapeEnd = state.tape + tape_.size();
        state.cell = state.tape + p;
    }
}

} // namespace pellux
