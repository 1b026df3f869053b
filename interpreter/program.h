// The compiled form: what the compiler (compiler.h) makes of a program and the machine
// (machine.h) and its translation (translator.cpp) run. Free of any platform header.
//
// Words used throughout the interpreter's core:
//   compiled form  the list of instructions below, with the lists they point into.
//   block          a straight stretch of instructions, without jumps, that opens with a Guard.
//                  Moves of the pointer inside a block are folded into the cells its
//                  instructions name, counted from the pointer where the block began; the
//                  block's one Move, if any, comes last.
//   span           the cells a block or loop visits, counted from where it begins, and where in
//                  the source it lies (see Span).
//   plain reading  running the source one command at a time, as the language defines it: the
//                  debugger's steps, and the way to the exact place of a fault that a Guard, a
//                  Scan or a MulLoop sees coming before it happens.
//   place          under the debugger, the source offset of a command where a run may start or
//                  must stop; the compiled form keeps an instruction of its own there.
#ifndef PELLUX_INTERPRETER_PROGRAM_H
#define PELLUX_INTERPRETER_PROGRAM_H

#include "source.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace pellux {

// What an operand of an instruction holds.
enum class Operand : std::uint8_t {
    None,
    Offset,    // a cell, counted from the pointer
    Distance,  // a move of the pointer, in cells
    Width,     // how many cells follow the one in `cell`
    Value,     // a value added to a cell, or stored in it
    Count,     // how many times, or how many bytes
    Terms,     // how many MulTerm or SetTerm instructions follow
    Code,      // an instruction's index: where a jump goes
    Span,      // an index into Program::spans
    Source,    // an offset into the source
    Place,     // the index of a debugger's place
};

// How an instruction moves the pointer.
enum class Motion : std::uint8_t {
    Stays,
    ByAmount,  // by `amount`
    ByCell,    // by `cell`, before it jumps
    Drifts,    // by `amount` as many times as it takes: how far is known only when it runs
};

enum class Io : std::uint8_t { None, Reads, Writes };

// Who does the instruction when the program runs in machine code.
enum class Done : std::uint8_t {
    Inline,      // always the machine code
    Checked,     // the machine code, unless a check fails: then the portable machine
                 // (the tape must grow, or the output buffer is full). Under the debugger a
                 // Ctrl+C also hands over the JumpIfZero of the loop whose turn it stops.
    HandedOver,  // always the portable machine
};

// Every operation of the compiled form, once, with its properties: the enum, the names, the
// portable machine's dispatch table and the property table are all made from this list, and
// the code that must treat each operation in its own way switches over every one of them.
//   name            cell      amount    link    motion    io      done          what it does (p is the pointer)
#define PELLUX_OPERATIONS(_)                                                                                             \
    _(Add,           Offset,   Value,    None,   Stays,    None,   Inline)     /* tape[p + cell] += amount */           \
    _(Move,          None,     Distance, None,   ByAmount, None,   Inline)     /* p += amount */                        \
    _(Clear,         Offset,   None,     None,   Stays,    None,   Inline)     /* tape[p + cell] = 0 */                 \
    _(Out,           Offset,   None,     None,   Stays,    Writes, Checked)    /* write tape[p + cell] */               \
    _(OutMany,       Offset,   Count,    None,   Stays,    Writes, Checked)    /* write it amount times: a run of . */  \
    _(In,            Offset,   None,     None,   Stays,    Reads,  HandedOver) /* read into tape[p + cell] */           \
    _(InMany,        Offset,   Count,    None,   Stays,    Reads,  HandedOver) /* read amount bytes there: a run of , */\
    _(Print,         None,     Count,    Source, Stays,    Writes, HandedOver) /* write amount bytes of the source */   \
    _(Guard,         Offset,   Width,    Span,   Stays,    None,   Checked)    /* the block that follows visits */      \
                                                                               /* p + cell .. p + cell + amount */      \
    _(MulLoop,       Offset,   Terms,    Span,   Stays,    None,   Checked)    /* a loop counted by tape[p + cell] */   \
                                                                               /* whose turns all do the same: its */   \
                                                                               /* terms follow; the cell ends at 0 */   \
    _(MulTerm,       Offset,   Value,    None,   Stays,    None,   Inline)     /* tape[p + cell] += turns * amount */   \
    _(SetTerm,       Offset,   Value,    None,   Stays,    None,   Inline)     /* tape[p + cell] = amount, if it turns */\
    _(Scan,          None,     Distance, Span,   Drifts,   None,   Checked)    /* while tape[p]: p += amount */         \
    _(JumpIfZero,    None,     Source,   Code,   Stays,    None,   Inline)     /* a loop's start: if !tape[p] go */     \
                                                                               /* to link; amount: its '[' */           \
    _(JumpIfNotZero, Distance, None,     Code,   ByCell,   None,   Inline)     /* a loop's end: p += cell; if */        \
                                                                               /* tape[p] go to link */                 \
    _(Place,         None,     None,     Place,  Stays,    None,   Inline)     /* a place where a run may start */      \
    _(Stop,          None,     None,     Place,  Stays,    None,   HandedOver) /* a place where a run stops */          \
    _(End,           None,     None,     None,   Stays,    None,   HandedOver)

enum class OpCode : std::uint8_t {
#define PELLUX_OPCODE(name, ...) name,
    PELLUX_OPERATIONS(PELLUX_OPCODE)
#undef PELLUX_OPCODE
};

#define PELLUX_COUNT(...) +1
constexpr int kOperationCount = 0 PELLUX_OPERATIONS(PELLUX_COUNT);
#undef PELLUX_COUNT

struct Operation {
    const char* name;
    Operand cell, amount, link;
    Motion motion;
    Io io;
    Done done;
};

constexpr Operation kOperations[] = {
#define PELLUX_PROPERTIES(name, cell, amount, link, motion, io, done) \
    {#name, Operand::cell, Operand::amount, Operand::link, Motion::motion, Io::io, Done::done},
    PELLUX_OPERATIONS(PELLUX_PROPERTIES)
#undef PELLUX_PROPERTIES
};
static_assert(sizeof kOperations / sizeof *kOperations == kOperationCount, "properties for each operation");

constexpr const Operation& operation(OpCode op) { return kOperations[static_cast<int>(op)]; }

// Every operand keeps one meaning, the one its operation's properties name.
struct Instruction {
    OpCode op;
    std::int32_t cell;
    std::int32_t amount;
    std::int32_t link;
};

// Where a Guard's block, a Scan or a MulLoop lies in the source, and the cells one of its turns
// visits, counted from the cell it begins on. When the construct would leave the tape, the
// plain reading runs it from `from` to find the command that does.
struct Span {
    std::uint32_t from;  // its first byte in the source
    std::uint32_t to;    // one past its last
    std::int32_t low;
    std::int32_t high;
    std::int32_t step;   // what a MulLoop's turn adds to its counter (odd), or a Scan's step
};

// The language a program is written in: the width of its cells, and how its source is read.
struct Dialect {
    unsigned cellBytes = 1;  // 1, 2 or 4: cells of 8, 16 or 32 bits, which wrap at their width
    syntax::Reading reading = syntax::Reading::Extended;

    std::uint32_t mask() const { return cellBytes >= 4 ? 0xFFFFFFFFu : (1u << (8 * cellBytes)) - 1; }
    const syntax::Table& syntax() const { return syntax::tableOf(reading); }
};

// How many turns a loop takes, per unit of its counter, when each turn adds `step` (odd) to the
// counter: the counter c reaches zero after c * turnsPerUnit(step) turns, at the cells' width.
inline std::uint32_t turnsPerUnit(std::int32_t step, std::uint32_t mask) {
    std::uint32_t odd = static_cast<std::uint32_t>(step), inverse = odd;
    for (int i = 0; i < 5; ++i) inverse *= 2 - odd * inverse;  // Newton's steps, modulo 2^32
    return (0u - inverse) & mask;
}

struct Program {
    Dialect dialect;
    std::vector<Instruction> code;
    std::vector<Span> spans;
    // The source it was compiled from, which must outlive it: Print writes from it, and the
    // plain reading runs it.
    const unsigned char* source = nullptr;
    std::size_t size = 0;
    bool tooLarge = false;  // compiling stopped at the limit on the compiled form's size
    // Under the debugger, for each instruction, the offset of the command it was compiled from
    // (a loop's '[' for one that stands for a whole loop).
    std::vector<std::uint32_t> origins;
};

// The compiled form, one instruction a line with its index and operands: a debugging aid
// (PELLUX_LISTING=1 makes pellux print it to standard error before it runs).
std::string listing(const Program& program);

} // namespace pellux

#endif
