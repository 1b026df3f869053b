// The machine that runs the compiled form: the tape, the output buffer and the operations that
// need them. Shared by the portable dispatch loop (program.cpp) and the loop that goes in and
// out of a translation (native_program.cpp); nothing outside the interpreter's core uses it.
#ifndef PELLUX_INTERPRETER_MACHINE_H
#define PELLUX_INTERPRETER_MACHINE_H

#include "program.h"

#include <algorithm>
#include <csignal>
#include <cstring>

namespace pellux {

constexpr std::size_t kOutputBuffer = 1 << 16;

class Machine {
public:
    Machine(const Program& program, RunIo io, std::size_t limit)
        : program_(&program), io_(io), limit_(limit), tape_(std::min(kInitialTapeCells, limit), 0) {}

    // From instruction `ip` with the pointer at `p`, on the portable machine or in the program's
    // translation (native_program.cpp).
    RunResult run(std::size_t ip = 0, std::size_t p = 0);
    RunResult runNative(const LoadedCode& native, std::size_t ip = 0, std::size_t p = 0);

    // Under the debugger: a fault stops the run where the plain reading takes over, instead of
    // being worked out here; the flag, once set, stops it where a loop starts its next turn.
    void debug(const Program& program, const volatile std::sig_atomic_t* interrupt) {
        program_ = &program;
        debugging_ = true;
        interrupt_ = interrupt;
    }
    // Where a stopped run stopped: the instruction, the pointer, and whether a fault stopped it.
    std::size_t stopIp() const { return stopIp_; }
    std::size_t stopPointer() const { return stopPointer_; }
    bool faulted() const { return faulted_; }
    RunResult command(const unsigned char* source, std::size_t size, std::size_t& at, std::size_t& p,
                      std::size_t partner);
    const std::vector<unsigned char>& tape() const { return tape_; }

    // False once a write has failed: nothing is written after that.
    bool flush() {
        if (failed_) return false;
        if (outSize_) failed_ = !io_.write(io_.context, out_, outSize_);
        outSize_ = 0;
        return !failed_;
    }

private:
    // Each of these returns false when the output could not be written.
    bool put(unsigned char byte) {
        if (outSize_ == kOutputBuffer && !flush()) return false;
        out_[outSize_++] = byte;
        return true;
    }
    bool putAll(const char* bytes, std::size_t size) {
        for (std::size_t i = 0; i < size; ++i)
            if (!put(static_cast<unsigned char>(bytes[i]))) return false;
        return true;
    }
    bool putRepeated(unsigned char byte, std::int32_t count) {
        for (std::size_t left = static_cast<std::size_t>(count); left > 0;) {
            if (outSize_ == kOutputBuffer && !flush()) return false;
            std::size_t part = std::min(left, kOutputBuffer - outSize_);
            std::memset(out_ + outSize_, byte, part);
            outSize_ += part;
            left -= part;
        }
        return true;
    }
    // Makes cell `cell` exist; false when it lies past the limit.
    bool reach(std::size_t cell) {
        if (cell < tape_.size()) return true;
        if (cell >= limit_) return false;
        std::size_t size = tape_.size();
        while (size <= cell) size = std::min(size * 2, limit_);
        tape_.resize(size, 0);
        return true;
    }

    RunResult leaveTape(const ReachInfo& block, std::size_t first, std::size_t p);
    bool bounds(const Instruction& in, std::size_t next, std::size_t p, RunResult& left);
    bool scan(const Instruction& in, std::size_t& p, RunResult& left);
    bool scanFrom(const Instruction& in, std::size_t& p, RunResult& left);
    // False when the output failed first, or the read was broken off (see notDone).
    bool input(unsigned char& cell, std::int32_t count = 1) {
        if (io_.flushBeforeRead && !flush()) return false;
        for (std::int32_t i = 0; i < count; ++i) {
            int byte = io_.read(io_.context);
            if (byte == kReadBrokenOff) {  // only under the debugger, where each ',' reads once
                readBrokenOff_ = true;
                return false;
            }
            if (byte < 0) byte = io_.endOfInput;
            if (byte >= 0) cell = static_cast<unsigned char>(byte);
        }
        return true;
    }
    static RunResult outputFailed() { return {RunStatus::OutputFailed, {}}; }
    // Why the input or output instruction `ip`, with the pointer at `p`, was not done: its output
    // failed, or a Ctrl+C broke off its read, which stops the run there, as the plain reading
    // would stand at it (on the cell it reads).
    RunResult notDone(std::size_t ip, std::size_t p) {
        if (!readBrokenOff_) return outputFailed();
        readBrokenOff_ = false;
        return stopAt(ip, p + static_cast<std::size_t>(static_cast<std::ptrdiff_t>(program_->code[ip].cell)), false);
    }
    RunResult stopAt(std::size_t ip, std::size_t p, bool fault) {
        stopIp_ = ip;
        stopPointer_ = p;
        faulted_ = fault;
        return {RunStatus::Stopped, {}};
    }
    // The JumpIfZero of the loop whose turns start at `body`, a JumpIfNotZero's link: right
    // before it, or before the Bounds that the jump back leaves out (see resolveJumps).
    std::size_t turnOf(std::size_t body) const {
        return program_->code[body - 1].op == OpCode::JumpIfZero ? body - 1 : body - 2;
    }
    std::size_t indexOf(const Instruction& in) const { return static_cast<std::size_t>(&in - program_->code.data()); }
    bool multiply(const Instruction& loop, const Instruction* terms, std::size_t p, RunResult& left);
    bool inputOutput(const Instruction& in, std::size_t p);
    RunResult straight(std::size_t from, std::size_t to, std::size_t p);

    const Program* program_;
    RunIo io_;
    std::size_t limit_;
    std::vector<unsigned char> tape_;
    unsigned char out_[kOutputBuffer];
    std::size_t outSize_ = 0;
    bool failed_ = false;
    bool readBrokenOff_ = false;
    bool debugging_ = false;
    const volatile std::sig_atomic_t* interrupt_ = nullptr;
    std::size_t stopIp_ = 0, stopPointer_ = 0;
    bool faulted_ = false;
};

} // namespace pellux

#endif
