// The machine: takes a compiled program (program.h) and runs it, on its own (the portable
// machine) or through the program's translation (native_program.h), which hands it every
// instruction the machine code leaves to it. It holds the tape and the output buffer, and does
// the plain reading of the source: for the debugger's steps, and to find the command at which a
// program leaves the tape.
#ifndef PELLUX_INTERPRETER_MACHINE_H
#define PELLUX_INTERPRETER_MACHINE_H

#include "program.h"

#include <algorithm>
#include <csignal>
#include <cstring>
#include <memory>
#include <new>

namespace pellux {

constexpr std::size_t kInitialTapeCells = 65536;
// The tape may take 256 MiB: 268,435,456 cells of 8 bits, half as many of 16, a quarter of 32.
constexpr std::size_t kTapeLimitBytes = std::size_t(1) << 28;
constexpr std::size_t kTapeLimitCells = kTapeLimitBytes;  // at most; fewer for wider cells
constexpr std::size_t tapeLimitCells(const Dialect& dialect) { return kTapeLimitBytes / dialect.cellBytes; }

// Under the debugger: a Ctrl+C broke off the wait for input. The run stops at that ',', with
// nothing read; a run from there reads again.
constexpr int kReadBrokenOff = -2;
// The input could not be read (not its end): the run ends there.
constexpr int kReadFailed = -3;

struct RunIo {
    void* context;
    // Writes bytes out, buffered by the machine; false when they could not be written, which ends
    // the run.
    bool (*write)(void* context, const unsigned char* bytes, std::size_t size);
    // Returns the next input byte, -1 at the end of input, kReadBrokenOff or kReadFailed.
    int (*read)(void* context);
    // Someone types the input after reading the output: flush the output before each read.
    bool flushBeforeRead = true;
    // What ',' stores at the end of input, cut to the cell's width: -1 leaves the cell as it is.
    std::int64_t endOfInput = -1;
};

// Stopped: under the debugger, at a place it asked for, when interrupted, or at a read broken off.
enum class RunStatus { Finished, MovedLeftOfFirstCell, MovedPastLastCell, OutputFailed, InputFailed, Stopped };

struct RunResult {
    RunStatus status;
    SourcePosition position;  // of the command that left the tape
};

struct LoadedCode;

// Runs the program, on a tape of at most `tapeLimit` cells; with `native`, its translation does
// the work.
RunResult run(const Program& program, RunIo io, std::size_t tapeLimit = kTapeLimitCells,
              const LoadedCode* native = nullptr);

constexpr std::size_t kOutputBuffer = 1 << 16;

// What every machine has, whatever the width of its cells (machine.cpp makes one for each).
class Machine {
public:
    // A machine for the program's cells, with a tape of at most `tapeLimit` of them.
    static std::unique_ptr<Machine> make(const Program& program, RunIo io, std::size_t tapeLimit);
    virtual ~Machine() = default;
    Machine(const Machine&) = delete;
    Machine& operator=(const Machine&) = delete;

    // From instruction `ip` with the pointer at `p`, on the portable machine or in the program's
    // translation.
    virtual RunResult run(std::size_t ip = 0, std::size_t p = 0) = 0;
    virtual RunResult runNative(const LoadedCode& native, std::size_t ip = 0, std::size_t p = 0) = 0;
    // One command of the source at `at`, read plainly; `at` moves past it, or past `partner`, the
    // matching bracket, when a loop is skipped or repeated. At a fault or a read broken off, `at`
    // stays on the command.
    virtual RunResult command(std::size_t& at, std::size_t& p, std::size_t partner) = 0;
    // The value of a cell; 0 for one the tape has not reached yet.
    virtual std::uint32_t cell(std::size_t index) const = 0;

    // Under the debugger: `program` (of the same dialect) is what runs from now on, and the flag,
    // once set, stops a run where a loop starts its next turn.
    void debug(const Program& program, const volatile std::sig_atomic_t* interrupt) {
        program_ = &program;
        interrupt_ = interrupt;
    }
    // Where a run that did not finish stopped: at an instruction, or, when the plain reading took
    // over, at a command of the source (a fault, or a read broken off there). The pointer too.
    std::size_t stopIp() const { return stopIp_; }
    bool stoppedInSource() const { return stoppedInSource_; }
    std::size_t stopOffset() const { return stopOffset_; }
    std::size_t stopPointer() const { return stopPointer_; }

    // False once a write has failed: nothing is written after that.
    bool flush() {
        if (failed_) return false;
        if (outSize_) failed_ = !io_.write(io_.context, out_, outSize_);
        outSize_ = 0;
        return !failed_;
    }

protected:
    Machine(const Program& program, RunIo io) : program_(&program), io_(io) {}

    // Each of these returns false when the output could not be written.
    bool put(unsigned char byte) {
        if (outSize_ == kOutputBuffer && !flush()) return false;
        out_[outSize_++] = byte;
        return true;
    }
    bool putAll(const unsigned char* bytes, std::size_t size);
    bool putRepeated(unsigned char byte, std::int32_t count);
    // `count` bytes read into `value`, the cell's; false when the output failed first, or the
    // read failed or was broken off (see readNotDone).
    bool input(std::uint32_t& value, std::int32_t count = 1);
    // Why a read was not done: it failed, the output before it failed, or a Ctrl+C broke it off.
    RunResult readNotDone() {
        if (readFailed_) return {RunStatus::InputFailed, {}};
        if (!readBrokenOff_) return outputFailed();
        readBrokenOff_ = false;
        return {RunStatus::Stopped, {}};
    }

    static RunResult outputFailed() { return {RunStatus::OutputFailed, {}}; }
    // Why the input or output instruction `ip`, with the pointer at `p`, was not done: its output
    // failed, or a Ctrl+C broke off its read, which stops the run there, on the cell it reads.
    RunResult notDone(std::size_t ip, std::size_t p) {
        RunResult result = readNotDone();
        if (result.status != RunStatus::Stopped) return result;
        return stopAt(ip, p + static_cast<std::size_t>(static_cast<std::ptrdiff_t>(program_->code[ip].cell)));
    }
    RunResult stopAt(std::size_t ip, std::size_t p) {
        stopIp_ = ip;
        stopPointer_ = p;
        stoppedInSource_ = false;
        return {RunStatus::Stopped, {}};
    }
    RunResult stopInSource(RunResult result, std::size_t at, std::size_t p) {
        result.position = positionOf(program_->source, program_->size, at);
        stoppedInSource_ = true;
        stopOffset_ = at;
        stopPointer_ = p;
        return result;
    }
    // The JumpIfZero of the loop whose turns start at `body`, a JumpIfNotZero's link: right
    // before it, or before the Guard that the jump back leaves out.
    std::size_t turnOf(std::size_t body) const {
        return program_->code[body - 1].op == OpCode::JumpIfZero ? body - 1 : body - 2;
    }

    const Program* program_;
    RunIo io_;
    unsigned char out_[kOutputBuffer];
    std::size_t outSize_ = 0;
    bool failed_ = false;
    bool readBrokenOff_ = false;
    bool readFailed_ = false;
    const volatile std::sig_atomic_t* interrupt_ = nullptr;
    std::size_t stopIp_ = 0, stopPointer_ = 0, stopOffset_ = 0;
    bool stoppedInSource_ = false;
    // Set by the portable machine when it hands a run back to the machine code: from where.
    bool handedBack_ = false;
    std::size_t resumeIp_ = 0, resumePointer_ = 0;
};

} // namespace pellux

#endif
