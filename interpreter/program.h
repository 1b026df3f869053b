// The interpreter's core: compiles a program of the extended syntax to an internal form and
// runs it. Free of any platform header; the command-line programs wrap it.
#ifndef PELLUX_INTERPRETER_PROGRAM_H
#define PELLUX_INTERPRETER_PROGRAM_H

#include <csignal>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace pellux {

struct SourcePosition {
    std::uint32_t line = 1;
    std::uint32_t column = 1;
};

inline bool endsLine(unsigned char c) { return c == '\r' || c == '\n' || c == 0; }

// Walks the source as the extended syntax reads it: comments and string lines are runs to
// the end of their line; line and column follow every byte.
class SourceWalker {
public:
    SourceWalker(const unsigned char* source, std::size_t size) : source_(source), size_(size) {}

    bool more() const { return at_ < size_; }
    std::size_t at() const { return at_; }
    SourcePosition position() const { return position_; }
    unsigned char peek() const { return source_[at_]; }

    void advance() {
        unsigned char c = source_[at_++];
        if (c == '\n' || (c == '\r' && (at_ >= size_ || source_[at_] != '\n'))) {
            ++position_.line;
            position_.column = 1;
        } else if (c != '\r') {
            ++position_.column;
        }
    }

    // Past a '#' or '%' and the rest of its line; returns where the line's text lies.
    void skipRun(std::size_t& textStart, std::size_t& textEnd) {
        advance();
        textStart = at_;
        while (at_ < size_ && !endsLine(source_[at_])) advance();
        textEnd = at_;
    }
    // At a '#' or '%': past it and the rest of its line, and true.
    bool skipsRun() {
        if (at_ >= size_ || (source_[at_] != '#' && source_[at_] != '%')) return false;
        std::size_t from, to;
        skipRun(from, to);
        return true;
    }

private:
    const unsigned char* source_;
    std::size_t size_;
    std::size_t at_ = 0;
    SourcePosition position_;
};

// Every operation of the compiled form, once: the enum, the portable machine's dispatch table and
// the names are made from this list, so they cannot disagree. Each uses the operands its comment
// names (see Instruction); p is the pointer.
#define PELLUX_OPERATIONS(_)                                                                          \
    _(Add)            /* tape[p + cell] += amount */                                                  \
    _(Move)           /* p += amount */                                                               \
    _(Out)            /* write tape[p + cell] */                                                      \
    _(In)             /* read into tape[p + cell] */                                                  \
    _(Clear)          /* tape[p + cell] = 0 */                                                        \
    _(MulLoop)        /* a loop whose turns all do the same, counted by tape[p + cell]: the next */   \
                      /* amount operations are its terms; reach[link] is where it goes */             \
    _(MulTerm)        /* a term: tape[p + cell] += turns * amount */                                  \
    _(SetTerm)        /* a term: tape[p + cell] = amount */                                           \
    _(Scan)           /* while tape[p]: p += amount; reach[link] holds its source position */        \
    _(Bounds)         /* the block that follows visits the cells p + cell .. p + cell + amount; */    \
                      /* reach[link] holds where it leaves them */                                    \
    _(JumpIfZero)     /* if tape[p] == 0: go to link */                                               \
    _(JumpIfNotZero)  /* p += cell; if tape[p] != 0: go to link */                                    \
    _(Print)          /* write amount bytes of strings from link */                                   \
    _(Nop)                                                                                            \
    _(End)                                                                                            \
    _(OutMany)        /* write tape[p + cell] amount times: a run of '.' */                           \
    _(InMany)         /* read amount bytes into tape[p + cell]: a run of ',' */                       \
    _(Boundary)       /* under the debugger: place number link, where a run may start */             \
    _(Stop)           /* under the debugger: place number link, where a run stops (or starts) */

enum class OpCode : std::uint8_t {
#define PELLUX_OPCODE(name) name,
    PELLUX_OPERATIONS(PELLUX_OPCODE)
#undef PELLUX_OPCODE
};

#define PELLUX_COUNT(name) +1
constexpr int kOperationCount = 0 PELLUX_OPERATIONS(PELLUX_COUNT);
#undef PELLUX_COUNT

// The operation's name as the list spells it, for printing the compiled form.
const char* operationName(OpCode op);

// Every operand keeps one meaning, whichever operation uses it.
struct Instruction {
    OpCode op;
    std::int32_t cell;    // a cell, counted from the pointer
    std::int32_t amount;  // a change, a step, a length or a count
    std::int32_t link;    // an index into another list: the code (a jump's target), reach, strings
                          // or the debugger's places
};

// A point of a block where its pointer first reaches a new furthest cell left or right:
// after `done` of the block's instructions, at `offset` from where the block began.
struct Checkpoint {
    std::int32_t done;
    std::int32_t offset;
    SourcePosition position;
};

// Where a block's or loop's pointer reaches furthest left and right, for the error message.
struct ReachInfo {
    SourcePosition left;
    SourcePosition right;
    std::int32_t low;       // for MulLoop: the terms' span, and the counter's step
    std::int32_t high;
    std::int32_t step;
    std::uint32_t firstCheckpoint;  // a block's checkpoints, in the order the program meets them
    std::uint32_t checkpoints;
};

struct Program {
    std::vector<Instruction> code;
    std::vector<ReachInfo> reach;
    std::vector<Checkpoint> checkpoints;
    std::string strings;
    bool tooLarge = false;  // compiling stopped at the limit on the compiled form's size
    // Under the debugger: for each instruction, the source offset of the command where the
    // plain reading of the program takes over from it (see Session).
    std::vector<std::uint32_t> origins;
};

// Under the debugger: the places (source offsets of commands, ascending) where the compiled form
// keeps an operation of its own, so that a run starts or stops exactly there.
struct Boundaries {
    std::vector<std::size_t> offsets;
    std::vector<bool> stops;
};

struct BracketError {
    SourcePosition position;
    char bracket;
};

// The first few unmatched brackets in source order, and how many there are in all.
struct UnmatchedBrackets {
    std::vector<BracketError> first;
    std::uint64_t count = 0;
    bool empty() const { return count == 0; }
};

constexpr std::size_t kUnmatchedListed = 20;

UnmatchedBrackets findUnmatchedBrackets(const unsigned char* source, std::size_t size,
                                        std::size_t listed = kUnmatchedListed);

// What the compiled form may take, in bytes: it grows with the operations, not with the source
// (comments and runs cost nothing), and must fit a 32-bit address space next to the source.
constexpr std::size_t kCompiledLimitBytes = (sizeof(void*) >= 8 ? std::size_t(2048) : std::size_t(256)) << 20;

// Compiles a program whose brackets balance; stops with `tooLarge` set past `limitBytes`.
// With `boundaries`, for the debugger: no run of commands or loop is folded across one, and
// `origins` is kept.
Program compile(const unsigned char* source, std::size_t size, std::size_t limitBytes = kCompiledLimitBytes,
                const Boundaries* boundaries = nullptr);

// The compiled form, one operation a line with its index and operands: a debugging aid
// (PELLUX_LISTING=1 makes pellux print it to standard error before it runs).
std::string listing(const Program& program);

constexpr std::size_t kInitialTapeCells = 65536;
constexpr std::size_t kTapeLimitCells = std::size_t(1) << 28;  // 256 MiB

// Under the debugger: a Ctrl+C broke off the wait for input. The run stops at that ',', with
// nothing read; a run from there reads again.
constexpr int kReadBrokenOff = -2;

struct RunIo {
    void* context;
    // Writes bytes out, buffered by the machine; false when they could not be written, which ends
    // the run.
    bool (*write)(void* context, const unsigned char* bytes, std::size_t size);
    // Returns the next input byte, -1 at the end of input, or kReadBrokenOff.
    int (*read)(void* context);
    // Someone types the input after reading the output: flush the output before each read.
    bool flushBeforeRead = true;
    // What ',' stores at the end of input: -1 leaves the cell as it is.
    int endOfInput = -1;
};

// Stopped: under the debugger, at a place it asked for, at a fault it works out itself, or when
// interrupted.
enum class RunStatus { Finished, MovedLeftOfFirstCell, MovedPastLastCell, OutputFailed, Stopped };

struct RunResult {
    RunStatus status;
    SourcePosition position;  // of the move that left the tape
};

struct LoadedCode;

// Runs the program; with `native`, its translation (native_code.h) does the work.
RunResult run(const Program& program, RunIo io, std::size_t tapeLimit = kTapeLimitCells,
              const LoadedCode* native = nullptr);

class Machine;
class NativeProgram;

// A program under the debugger: one command at a time, read plainly, or at full speed up to the
// next of some places, compiled with those places kept (see Boundaries). A place is the source
// offset of a command; at the end it is the source's size. The source must outlive the session.
class Session {
public:
    Session(const unsigned char* source, std::size_t size, RunIo io, std::size_t tapeLimit = kTapeLimitCells);
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
        compiledFor_ = Boundaries();
    }
    // Runs go through the program's translation where this processor has one (the default).
    void useMachineCode(bool use) {
        useMachineCode_ = use;
        compiledFor_ = Boundaries();
    }
    bool flush();

    std::size_t at() const { return at_; }
    bool ended() const { return at_ >= size_; }
    std::size_t pointer() const { return pointer_; }
    const std::vector<unsigned char>& tape() const;
    SourcePosition positionOf(std::size_t offset) const;
    // The matching bracket of the bracket at `offset`.
    std::size_t partner(std::size_t offset) const;
    // The first command from `offset` on, which is not inside a comment or string line.
    std::size_t nextCommand(std::size_t offset) const;
    // The first command of a line at or after a column; the source's size when there is none.
    std::size_t commandAt(std::uint32_t line, std::uint32_t column) const;

private:
    RunResult stepTo(const std::vector<std::size_t>& stops);

    const unsigned char* source_;
    std::size_t size_;
    std::vector<std::uint32_t> brackets_;  // offsets of every bracket outside comments, ascending
    std::vector<std::uint32_t> partners_;
    Program program_;
    Boundaries compiledFor_;
    Machine* machine_;
    NativeProgram* native_;
    bool useMachineCode_ = true;
    std::size_t at_ = 0;
    std::size_t pointer_ = 0;
    const volatile std::sig_atomic_t* interrupt_ = nullptr;
};

} // namespace pellux

#endif
