// The loop idioms, a stage of the compiler: loops whose turns can all be done at once. Each
// takes a loop's body as the compiler has it, a list of instructions with their cells counted
// from the loop's cell, and gives what replaces it, or nothing.
#ifndef PELLUX_INTERPRETER_IDIOMS_H
#define PELLUX_INTERPRETER_IDIOMS_H

#include "known_cells.h"
#include "program.h"

#include <vector>

namespace pellux {

struct LoopBody {
    const Instruction* code;
    std::size_t size;
    std::int32_t low, high;  // the cells its moves visit
    std::int32_t net;        // where it leaves the pointer
    std::uint32_t mask;      // a cell's bits: values wrap there
};

// What one turn of a loop body does to a cell: add a constant, or set it to one. Values wrap
// modulo 2^32 here and are cut to the cells' width where they are compared or kept.
struct CellEffect {
    std::int32_t cell;
    bool set;
    bool unknown;  // changed by an inner loop whose turns depend on the cell's value
    std::uint32_t value;
    bool given = false;  // known where every turn begins, as `was`: a set to the same value changes nothing
    std::uint32_t was = 0;

    void setTo(std::uint32_t to) {
        set = true;
        unknown = false;
        value = to;
    }
};

// Room the idioms work in, and what replaces the loop (`out`: a MulLoop and its terms). The
// compiler keeps one from loop to loop, so that a program's many loops allocate nothing each.
struct IdiomWork {
    std::vector<CellEffect> effects, later, start;
    std::vector<Instruction> out;
};

// [-], [+], [---]: adds to the loop's cell alone, by an odd amount, reach zero at any width.
bool isClearLoop(const LoopBody& body);

// [>], [<<]: a body that only moves, straight to where it ends; "[<<>>>]" visits cells left of
// its start on the way and is no scan.
bool isScanLoop(const LoopBody& body);

// A body of adds, clears and multiply loops, with the loop's counter stepping by an odd amount,
// in which every turn does the same to every cell, so all turns are done at once ([->+<],
// [->++>+++<<], [->[-]+++<], [--->+<], [>[->+<]>[-]<<-]). An inner loop whose counter the turn
// has not just set may turn or not: it must stay within the cells the turn surely visits, and
// what it changes must be set again after it. The MulLoop and its terms go to `work.out`, the cells
// its turns visit to `span`. With `atTurn`, what is known of the cells where every turn begins:
// an inner loop whose counter is known there turns a known number of times.
bool isMultiplyLoop(const LoopBody& body, const std::vector<Span>& spans, IdiomWork& work, Span& span,
                    const KnownCells* atTurn = nullptr);

// A loop that runs as a loop, whose body ends where it began, and whose turns after the first all
// do the same: the first turn sets the cells the others depend on ("+++[->+++++<]" inside it).
// What does the turns left after the first goes to `work.out`, as for isMultiplyLoop.
bool remainingTurns(const LoopBody& body, const std::vector<Span>& spans, IdiomWork& work, Span& span);

} // namespace pellux

#endif
