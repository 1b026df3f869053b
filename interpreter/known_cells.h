// Known values, a stage of the compiler: which cells every run knows to hold zero where the turns
// of each loop begin, worked out on a compiled form. A run starts on a blank tape (every cell
// zero) with the pointer on its first cell; what the instructions then do is followed through
// blocks, into loops and out of them. A loop's turn begins with what holds both where the loop
// begins and where each turn ends (worked out again until it no longer changes); past the loop its
// counter is zero. A place of the debugger, where a run may start with any tape, forgets all; a
// read, the cell it reads. The compiler compiles again with what this finds, when it lets a loop's
// turns all be done at once (compiler.cpp, isMultiplyLoop): a nest of loops whose counts are known.
#ifndef PELLUX_INTERPRETER_KNOWN_CELLS_H
#define PELLUX_INTERPRETER_KNOWN_CELLS_H

#include "program.h"

#include <cstdint>
#include <vector>

namespace pellux {

// What is known of the cells round the pointer at one point of every run that comes there: which
// of them hold zero, for the cells within kReach of the pointer; with `restZero`, all those
// farther away do too. A point no run comes to knows everything.
class KnownCells {
public:
    static constexpr std::int32_t kReach = 32;  // cells -32 to 31, counted from the pointer

    static KnownCells blank() { return KnownCells(true, true, ~std::uint64_t(0)); }
    static KnownCells nothing() { return KnownCells(true, false, 0); }
    static KnownCells unreached() { return KnownCells(false, false, 0); }

    bool reached() const { return reached_; }
    bool isZero(std::int32_t cell) const {
        if (!reached_) return false;
        if (cell < -kReach || cell >= kReach) return restZero_;
        return (zeros_ >> (cell + kReach) & 1) != 0;
    }
    void setZero(std::int32_t cell) { set(cell, true); }
    void forget(std::int32_t cell) { set(cell, false); }
    // The pointer moves by `by`: every cell is `by` nearer.
    void move(std::int32_t by);
    // What both know.
    void meet(const KnownCells& other);
    // Only the cells within reach stay known.
    void forgetRest() { restZero_ = false; }
    bool operator==(const KnownCells& other) const {
        return reached_ == other.reached_ && restZero_ == other.restZero_ && zeros_ == other.zeros_;
    }
    bool operator!=(const KnownCells& other) const { return !(*this == other); }

private:
    KnownCells(bool reached, bool restZero, std::uint64_t zeros)
        : reached_(reached), restZero_(restZero), zeros_(zeros) {}
    void set(std::int32_t cell, bool zero);

    bool reached_;
    bool restZero_;
    std::uint64_t zeros_;  // bit i: cell i - kReach holds zero
};

// What holds at one loop of the source in every run, counted from the loop's cell.
struct LoopKnowledge {
    std::uint32_t open;  // the loop's '['
    KnownCells atTurn;   // where each of its turns begins; unreached when it cannot start
};

// For each loop that runs as a loop in `program`, by its '['
// (ascending): what holds where its turns begin. Empty when working it out would take too long.
// Only the loops up to instruction `last` are asked about: the work ends with the outermost loop
// around it.
std::vector<LoopKnowledge> knownAtLoops(const Program& program, std::size_t last);

// The knowledge of the loop whose '[' is at `open`, or none.
const LoopKnowledge* knowledgeAt(const std::vector<LoopKnowledge>& known, std::size_t open);

} // namespace pellux

#endif
