// The interpreter's core: compiles a program of the extended syntax to an internal form and
// runs it. Free of any platform header; the command-line programs wrap it.
#ifndef PELLUX_INTERPRETER_PROGRAM_H
#define PELLUX_INTERPRETER_PROGRAM_H

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

    bool done() const { return at_ < size_; }
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

private:
    const unsigned char* source_;
    std::size_t size_;
    std::size_t at_ = 0;
    SourcePosition position_;
};

enum class OpCode : std::uint8_t {
    Add,            // tape[p + offset] += a
    Move,           // p += a
    Out,            // write tape[p + offset]
    In,             // read into tape[p + offset]
    Clear,          // tape[p + offset] = 0
    MulLoop,        // a loop whose turns all do the same, on tape[p + offset]: a terms follow; b indexes its checks
    MulTerm,        // b == 0: tape[p + offset] += turns * a; b == 1: tape[p + offset] = a
    Scan,           // while tape[p]: p += a; b indexes its source position
    Bounds,         // the cells p + a .. p + b are visited by the block that follows; offset indexes positions
    JumpIfZero,     // if tape[p] == 0: go to a
    JumpIfNotZero,  // p += offset; if tape[p] != 0: go to a
    Print,          // write strings[a, a + b)
    Nop,
    End,
    OutMany,        // write tape[p + offset] a times: a run of '.'
    InMany,         // read a bytes into tape[p + offset]: a run of ','
};

struct Instruction {
    OpCode op;
    std::int32_t offset;
    std::int32_t a;
    std::int32_t b;
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
Program compile(const unsigned char* source, std::size_t size, std::size_t limitBytes = kCompiledLimitBytes);

constexpr std::size_t kInitialTapeCells = 65536;
constexpr std::size_t kTapeLimitCells = std::size_t(1) << 28;  // 256 MiB

struct RunIo {
    void* context;
    // Writes bytes out, buffered by the machine; false when they could not be written, which ends
    // the run.
    bool (*write)(void* context, const unsigned char* bytes, std::size_t size);
    // Returns the next input byte, or -1 at the end of input.
    int (*read)(void* context);
    // Someone types the input after reading the output: flush the output before each read.
    bool flushBeforeRead = true;
    // What ',' stores at the end of input: -1 leaves the cell as it is.
    int endOfInput = -1;
};

enum class RunStatus { Finished, MovedLeftOfFirstCell, MovedPastLastCell, OutputFailed };

struct RunResult {
    RunStatus status;
    SourcePosition position;  // of the move that left the tape
};

struct LoadedCode;

// Runs the program; with `native`, its translation (native_code.h) does the work.
RunResult run(const Program& program, RunIo io, std::size_t tapeLimit = kTapeLimitCells,
              const LoadedCode* native = nullptr);

} // namespace pellux

#endif
