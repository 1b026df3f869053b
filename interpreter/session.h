// The debugger's session, the last stage: takes a program's source and runs it one command at a
// time, read plainly, or at full speed up to the next of some places, compiled with those places
// kept (see Places). A place is the source offset of a command; at the end it is the source's size.
#ifndef PELLUX_INTERPRETER_SESSION_H
#define PELLUX_INTERPRETER_SESSION_H

#include "compiler.h"
#include "machine.h"

#include <csignal>
#include <memory>

namespace pellux {

class NativeProgram;

class Session {
public:
    // The source must outlive the session.
    Session(const unsigned char* source, std::size_t size, RunIo io, std::size_t tapeLimit = kTapeLimitCells,
            const Dialect& dialect = Dialect());
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    RunResult step();
    // Runs up to the first of `stops` (ascending), a fault or the end.
    RunResult runTo(const std::vector<std::size_t>& stops);
    // Once `*flag` is set, a run stops where a loop starts its next turn, at the loop's '['. Both
    // take effect from the next run, which compiles (and translates) the program again.
    void interruptWith(const volatile std::sig_atomic_t* flag) {
        interrupt_ = flag;
        compiledFor_ = Places();
    }
    // Runs go through the program's translation where this processor has one (the default).
    void useMachineCode(bool use) {
        useMachineCode_ = use;
        compiledFor_ = Places();
    }
    bool flush() { return machine_->flush(); }

    std::size_t at() const { return at_; }
    bool ended() const { return at_ >= size_; }
    std::size_t pointer() const { return pointer_; }
    std::uint32_t cell(std::size_t index) const { return machine_->cell(index); }
    const Dialect& dialect() const { return program_.dialect; }
    SourcePosition positionOf(std::size_t offset) const { return pellux::positionOf(source_, size_, offset); }
    // The matching bracket of the bracket at `offset`.
    std::size_t partner(std::size_t offset) const;
    // The first command from `offset` on, which is not inside a comment or string line.
    std::size_t nextCommand(std::size_t offset) const {
        return pellux::nextCommand(source_, size_, offset, program_.dialect.syntax());
    }
    // The first command of a line at or after a column; the source's size when there is none.
    std::size_t commandAt(std::uint32_t line, std::uint32_t column) const;

private:
    RunResult stepTo(const std::vector<std::size_t>& stops);
    Places placesFor(const std::vector<std::size_t>& stops, std::size_t& entry) const;
    void compileFor(const Places& places);
    void takeStop(const RunResult& result, const Places& places);

    const unsigned char* source_;
    std::size_t size_;
    std::vector<std::uint32_t> brackets_;  // offsets of every bracket outside comments, ascending
    std::vector<std::uint32_t> partners_;
    Program program_;
    Places compiledFor_;
    std::unique_ptr<Machine> machine_;  // made for the program's dialect, which stays
    std::unique_ptr<NativeProgram> native_;
    bool useMachineCode_ = true;
    std::size_t at_ = 0;
    std::size_t pointer_ = 0;
    const volatile std::sig_atomic_t* interrupt_ = nullptr;
};

} // namespace pellux

#endif
