// The compiler: takes a program's source, whose brackets match (source.h); gives its compiled
// form (program.h). One pass over the source, in stages that each do one thing:
//   folding     runs of + and - become one Add, moves are folded into the cells that the
//               instructions after them name, and runs of . and , become one instruction;
//   blocks      what lies between loops becomes a block, whose Guard checks at once every cell
//               its moves visit (a block that stays on its first cell needs none);
//   idioms      a loop is replaced, when its ']' comes, by what does all its turns at once
//               (idioms.h), or becomes a loop of its own with a block for its body;
//   places      under the debugger, a place ends the block it lies in and the loop it lies in
//               runs as a loop, so a run can start or stop there.
#ifndef PELLUX_INTERPRETER_COMPILER_H
#define PELLUX_INTERPRETER_COMPILER_H

#include "program.h"

#include <cstddef>
#include <vector>

namespace pellux {

// Under the debugger: the places (source offsets of commands, ascending) where the compiled form
// keeps an instruction of its own, and whether a run stops there or only may start there.
struct Places {
    std::vector<std::size_t> offsets;
    std::vector<bool> stops;
};

// What the compiled form may take, in bytes: it grows with the instructions, not with the source
// (comments and string lines cost nothing), and must fit a 32-bit address space next to the source.
constexpr std::size_t kCompiledLimitBytes = (sizeof(void*) >= 8 ? std::size_t(2048) : std::size_t(256)) << 20;

// Stops with `tooLarge` set past `limitBytes`. With `places`, for the debugger, `origins` is kept
// and every ',' stays an instruction of its own, so a Ctrl+C that breaks off a read stops there.
Program compile(const unsigned char* source, std::size_t size, const Dialect& dialect = Dialect(),
                std::size_t limitBytes = kCompiledLimitBytes, const Places* places = nullptr);

} // namespace pellux

#endif
