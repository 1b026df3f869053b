#include "idioms.h"

#include <algorithm>

namespace pellux {

namespace {

CellEffect& effectOn(std::vector<CellEffect>& effects, std::int32_t cell) {
    for (CellEffect& effect : effects)
        if (effect.cell == cell) return effect;
    effects.push_back(CellEffect{cell, false, false, 0});
    return effects.back();
}

// The cells the body names, but its counter, that are known to hold zero where every turn
// begins, into `effects`: a turn worked out from there sets them to what it leaves in them, and
// one that leaves them at zero changes nothing there.
void given(const LoopBody& body, const KnownCells* atTurn, std::vector<CellEffect>& effects) {
    effects.clear();
    effects.reserve(body.size + 1);  // at most a cell for each instruction, and the counter
    if (!atTurn) return;
    for (std::size_t i = 0; i < body.size; ++i) {
        std::int32_t cell = body.code[i].cell;
        if (operation(body.code[i].op).cell != Operand::Offset || cell == 0) continue;
        bool named = false;
        for (const CellEffect& effect : effects) named = named || effect.cell == cell;
        if (!named && atTurn->isZero(cell)) effects.push_back(CellEffect{cell, true, false, 0, true, 0});
    }
}

// The cells a turn visits: those of the body's moves and of the inner loops it knows to turn,
// every time; those of inner loops whose turns it does not know, maybe. A loop done at once checks
// them all before its first turn, so every turn must visit them.
struct Visited {
    std::int32_t low, high;          // surely
    std::int32_t maybeLow, maybeHigh;
    Visited(std::int32_t from, std::int32_t to) : low(from), high(to), maybeLow(from), maybeHigh(to) {}
    void include(std::int32_t from, std::int32_t to, bool surely) {
        std::int32_t& first = surely ? low : maybeLow;
        std::int32_t& last = surely ? high : maybeHigh;
        first = std::min(first, from);
        last = std::max(last, to);
    }
    bool onlySure() const { return maybeLow >= low && maybeHigh <= high; }
};

// Whether the cell is known to hold `value` already: a set that may or may not happen then
// leaves it known.
bool holds(const CellEffect& effect, std::uint32_t value, std::uint32_t mask) {
    return effect.set && !effect.unknown && ((effect.value ^ value) & mask) == 0;
}

// An inner multiply loop at `i`, within a turn worked out on symbols: the cells it changes,
// and those it visits when it turns. When its turns are not known, what it adds is not known
// either, and what it sets is set only if it turns.
void evaluateInnerLoop(const LoopBody& body, std::size_t i, const Span& inner, std::vector<CellEffect>& effects,
                       Visited& visited) {
    const Instruction& loop = body.code[i];
    CellEffect counter = effectOn(effects, loop.cell);
    bool known = counter.set && !counter.unknown;
    std::uint32_t value = counter.value & body.mask;
    std::uint32_t turns = value * turnsPerUnit(inner.step, body.mask);
    if (!known || value != 0) {  // a loop that does not turn does nothing
        for (std::int32_t k = 1; k <= loop.amount; ++k) {
            const Instruction& term = body.code[i + static_cast<std::size_t>(k)];
            CellEffect& target = effectOn(effects, term.cell);
            std::uint32_t amount = static_cast<std::uint32_t>(term.amount);
            if (term.op == OpCode::SetTerm && known) target.setTo(amount);
            else if (term.op == OpCode::SetTerm) target.unknown = target.unknown || !holds(target, amount, body.mask);
            else if (!known) target.unknown = true;
            else target.value += turns * amount;
        }
        visited.include(loop.cell + inner.low, loop.cell + inner.high, known);
    }
    effectOn(effects, loop.cell).setTo(0);
}

// One turn of a body of adds, clears and multiply loops, worked out on symbols. `effects` may
// hold cells known at the turn's start. `visited` grows to the cells the turn's inner loops
// visit. Any other instruction fails the turn: it is no loop done at once.
bool evaluateTurn(const LoopBody& body, const std::vector<Span>& spans, std::vector<CellEffect>& effects,
                  Visited& visited) {
    for (std::size_t i = 0; i < body.size; ++i) {
        const Instruction& in = body.code[i];
        if (in.op == OpCode::Add) {
            effectOn(effects, in.cell).value += static_cast<std::uint32_t>(in.amount);
        } else if (in.op == OpCode::Clear) {
            effectOn(effects, in.cell).setTo(0);
        } else if (in.op == OpCode::MulLoop) {
            evaluateInnerLoop(body, i, spans[static_cast<std::size_t>(in.link)], effects, visited);
            i += static_cast<std::size_t>(in.amount);
        } else {
            return false;
        }
    }
    return true;
}

// The loop's counter changes by the same odd amount each turn, so it reaches zero, and nothing
// else depends on the turn.
bool countsOddly(const CellEffect& counter) { return !counter.set && !counter.unknown && (counter.value & 1) != 0; }

// Every turn does the same to every cell, and visits the same cells: an inner loop whose turns
// are not known stays within the cells the turn surely visits, and what it changes is set again
// after it.
bool sameEveryTurn(std::vector<CellEffect>& effects, const Visited& visited) {
    if (!visited.onlySure()) return false;
    for (const CellEffect& effect : effects)
        if (effect.unknown) return false;
    return countsOddly(effectOn(effects, 0));
}

// A value cut to the cells' width, kept as the instructions keep it.
std::int32_t cut(std::uint32_t value, std::uint32_t mask) { return static_cast<std::int32_t>(value & mask); }

// The MulLoop on cell 0 that does what `effects` say each turn does, and its terms.
void turnsAtOnce(const std::vector<CellEffect>& effects, Visited visited, const LoopBody& body, std::uint32_t step,
                 std::vector<Instruction>& out, Span& span) {
    out.assign(1, Instruction{OpCode::MulLoop, 0, 0, 0});
    for (const CellEffect& effect : effects) {
        if (effect.cell == 0 || (!effect.set && (effect.value & body.mask) == 0)) continue;
        if (effect.given && effect.set && ((effect.value ^ effect.was) & body.mask) == 0) continue;
        out.push_back(Instruction{effect.set ? OpCode::SetTerm : OpCode::MulTerm, effect.cell, cut(effect.value, body.mask), 0});
        visited.include(effect.cell, effect.cell, true);
    }
    out[0].amount = static_cast<std::int32_t>(out.size() - 1);
    span.low = visited.low;
    span.high = visited.high;
    span.step = cut(step, body.mask);
}

} // namespace

bool isClearLoop(const LoopBody& body) {
    if (body.low != 0 || body.high != 0 || body.net != 0) return false;
    std::uint32_t change = 0;
    for (std::size_t i = 0; i < body.size; ++i) {
        if (body.code[i].op != OpCode::Add || body.code[i].cell != 0) return false;
        change += static_cast<std::uint32_t>(body.code[i].amount);
    }
    return (change & 1) != 0;  // any odd step reaches zero
}

bool isScanLoop(const LoopBody& body) {
    return body.size == 0 && body.net != 0 && body.low >= std::min(0, body.net) && body.high <= std::max(0, body.net);
}

bool isMultiplyLoop(const LoopBody& body, const std::vector<Span>& spans, IdiomWork& work, Span& span,
                    const KnownCells* atTurn) {
    if (body.net != 0) return false;
    std::vector<CellEffect>& effects = work.effects;
    given(body, atTurn, effects);
    Visited visited{body.low, body.high};
    if (!evaluateTurn(body, spans, effects, visited) || !sameEveryTurn(effects, visited)) return false;
    turnsAtOnce(effects, visited, body, effectOn(effects, 0).value, work.out, span);
    return true;
}

bool remainingTurns(const LoopBody& body, const std::vector<Span>& spans, IdiomWork& work, Span& span) {
    std::vector<CellEffect>& first = work.effects;
    first.clear();
    first.reserve(body.size + 1);
    Visited firstVisited{body.low, body.high};
    if (body.net != 0 || !evaluateTurn(body, spans, first, firstVisited)) return false;
    std::vector<CellEffect>& later = work.later;
    later.clear();
    later.reserve(body.size + 1);
    for (const CellEffect& effect : first)
        if (effect.set && !effect.unknown) later.push_back(effect);
    std::vector<CellEffect>& start = work.start;
    start.assign(later.begin(), later.end());
    // The later turns' own cells: an inner loop the first turn runs may not run again.
    Visited visited{body.low, body.high};
    if (!evaluateTurn(body, spans, later, visited)) return false;
    for (const CellEffect& known : start)
        if (!holds(effectOn(later, known.cell), known.value, body.mask)) return false;
    if (!sameEveryTurn(later, visited)) return false;
    turnsAtOnce(later, visited, body, effectOn(later, 0).value, work.out, span);
    return true;
}

} // namespace pellux
