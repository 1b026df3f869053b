// Runs of instructions whose cells are held in registers while they last.
#include "translator.h"

#if defined(PELLUX_NATIVE_X86_64) || defined(PELLUX_NATIVE_I686)

namespace pellux::translation {

// The cells a run from k uses, each with how often, in held_. Returns where the run ends.
std::size_t Translator::heldRunEnd(std::size_t k, bool& multiplies) {
    const std::vector<Instruction>& code = program_.code;
    held_.clear();
    auto use = [&](std::int64_t cell) {
        for (Held& h : held_)
            if (h.cell == cell) {
                ++h.uses;
                return;
            }
        held_.push_back(Held{cell, 1, false, -1, 0, false});
    };
    std::size_t end = k;
    multiplies = false;
    while (end < code.size() && end - k < kRunLimit && (end == k || (!target(end) && !marked(end, kTurnStart)))) {
        const Instruction& in = code[end];
        if (in.op == OpCode::Add || in.op == OpCode::Clear) {
            use(in.cell);
            ++end;
        } else if (in.op == OpCode::MulLoop && end + 1 + static_cast<std::size_t>(in.amount) - k <= kRunLimit &&
                   !branches(end)) {
            for (std::int32_t i = 0; i <= in.amount; ++i) use(code[end + static_cast<std::size_t>(i)].cell);
            end += 1 + static_cast<std::size_t>(in.amount);
            multiplies = true;
        } else {
            break;
        }
    }
    return end;
}

// Which of the run's cells get registers: those used more than once, as many as there are
// registers, but the cell the next jump tests, which stays in memory so that its last add can set
// the flags. Returns how many are kept.
int Translator::keepHeld(std::size_t end, int registers) {
    const std::vector<Instruction>& code = program_.code;
    std::int64_t moved = 0, tested = kNoCell;
    std::size_t after = end;
    while (after < code.size() && code[after].op == OpCode::Move) moved += code[after++].amount;
    if (after < code.size() && code[after].op == OpCode::JumpIfZero) tested = moved;
    if (after < code.size() && code[after].op == OpCode::JumpIfNotZero) tested = moved + code[after].cell;
    int kept = 0;
    lastAdd_ = Held{kNoCell, 0, false, -1, 0, false};
    for (Held& h : held_) {
        if (h.cell == tested && h.uses == 1) lastAdd_.cell = tested;  // its add, if any, goes last
        if (h.cell == tested || kept == registers) h.uses = 1;
        if (h.uses >= 2) ++kept;
    }
    return kept;
}

// A run of adds, clears and multiply loops that branch nowhere, from k: the cells it uses more
// than once (but the one the jump after it tests) are loaded into registers when first needed,
// computed there, and stored once at its end, so no cell is read back just after it was written.
// Nothing in the run leaves the code, and no jump lands in it. Returns where it ends, or k.
std::size_t Translator::heldRun(std::size_t k, bool entries) {
    const std::vector<Instruction>& code = program_.code;
    int registers = heldRegisters_;  // some: emitFrom asks only then, and from noRunBefore_ on
    bool multiplies = false;
    std::size_t end = heldRunEnd(k, multiplies);
    if (keepHeld(end, registers) == 0 || !multiplies) {
        noRunBefore_ = end;  // a run that starts within this one would hold no more
        return k;
    }
    for (int i = 0; i < kMirrors; ++i) runEntryMirrors_[i] = mirrored_[i];
    dropMirrors();  // its multiply loops use eax and edx
    runMirror_ = kNoCell;
    std::vector<int>& free = freeRegisters_;
    free.clear();
    for (int r = registers - 1; r >= 0; --r) free.push_back(r);
    heldFree_ = &free;
    for (std::size_t i = k; i < end;) {
        if (entries) native_.entries[i] = static_cast<std::uint32_t>(e_.size());  // no jump or return lands here
        const Instruction& in = code[i];
        if (in.op == OpCode::Add) {
            heldAdd(in.cell, static_cast<std::uint32_t>(in.amount));
        } else if (in.op == OpCode::Clear) {
            runChanges(in.cell);
            if (Held* h = heldOf(in.cell)) {
                if (h->reg >= 0) free.push_back(h->reg);
                *h = Held{h->cell, h->uses, true, -1, 0, true};
            } else {
                instruction(i);
            }
        } else {
            heldMultiply(i);
            for (std::int32_t t = 1; t <= in.amount && entries; ++t)
                native_.entries[i + static_cast<std::size_t>(t)] = static_cast<std::uint32_t>(e_.size());
            i += static_cast<std::size_t>(in.amount);
        }
        ++i;
    }
    flushHeld();
    heldFree_ = nullptr;
    if (runMirror_ != kNoCell) {
        if (!runMirrorLoaded_) cells_.zeroExtend(kEax);
        mirrored_[0] = runMirror_;
        noteMirrors();
    }
    return end;
}

// The held cell's value, loaded into a register when it is first needed (a cell known to be zero
// needs no load).
Translator::Held& Translator::value(Held& h) {
    if (h.used) return h;
    h.used = true;
    if (isZero(h.cell)) return h;
    h.reg = heldFree_->back();
    heldFree_->pop_back();
    target::loadHeld(e_, h.reg, width_, bytes(h.cell));
    return h;
}

void Translator::heldAdd(std::int64_t cell, std::uint32_t amount) {
    runChanges(cell);
    Held* h = heldOf(cell);
    if (!h && cell == lastAdd_.cell) {
        lastAdd_.plus += amount;
        lastAdd_.dirty = true;
        return;
    }
    if (!h) {
        if ((amount & mask_) != 0) add(cell, static_cast<std::int32_t>(amount));
        return;
    }
    value(*h).plus += amount;
    h->dirty = true;
}

// A multiply loop within a run: its counter and its terms' cells held or in memory.
void Translator::heldMultiply(std::size_t k) {
    const Instruction& loop = program_.code[k];
    Held* counter = heldOf(loop.cell);
    if (counter && value(*counter).reg < 0) {
        // A counter of known value: the turns are known, and each term is an add.
        std::uint32_t perUnit = this->perUnit(program_.spans[static_cast<std::size_t>(loop.link)].step);
        std::uint32_t turns = counter->plus * perUnit;
        for (std::int32_t i = 1; i <= loop.amount; ++i) {
            const Instruction& term = program_.code[k + static_cast<std::size_t>(i)];
            heldAdd(term.cell, turns * static_cast<std::uint32_t>(term.amount));
        }
    } else {
        int slot = -1;
        for (int i = 0; i < kMirrors; ++i)
            if (runEntryMirrors_[i] == loop.cell) slot = i;
        if (counter) {
            target::eaxFromHeld(e_, counter->reg, static_cast<std::int32_t>(counter->plus));
        } else if (slot < 0) {
            cells_.load(kEax, bytes(loop.cell));
        } else if (kMirrorRegister[slot] == kEdx) {
            e_.raw({0x89, 0xD0});  // mov eax, edx
        }
        for (std::int64_t& m : runEntryMirrors_) m = kNoCell;  // eax and edx are the loop's now
        bool counterInEax = turns(k);
        std::int64_t mirror = kNoCell;
        for (std::int32_t i = 1; i <= loop.amount; ++i) {
            const Instruction& term = program_.code[k + static_cast<std::size_t>(i)];
            if (term.cell == mirror) mirror = kNoCell;
            Held* h = heldOf(term.cell);
            if (!h) {
                if (this->term(term)) mirror = term.cell;
                continue;
            }
            std::uint32_t factor = static_cast<std::uint32_t>(term.amount) & mask_;
            if (value(*h).reg < 0) {
                h->reg = heldFree_->back();
                heldFree_->pop_back();
                target::heldFromEax(e_, h->reg, factor);
            } else {
                target::addEaxToHeld(e_, h->reg, factor);
            }
            h->dirty = true;
        }
        runMirror_ = counterInEax ? mirror : kNoCell;
        runMirrorLoaded_ = counter == nullptr;
    }
    if (counter) {
        if (counter->reg >= 0) heldFree_->push_back(counter->reg);
        *counter = Held{counter->cell, counter->uses, true, -1, 0, true};
    } else {
        cells_.store(bytes(loop.cell), 0);
        zero(loop.cell);
    }
    flagsCell_ = kNoCell;
}

// The end of a run: each held cell that changed is stored.
void Translator::flushHeld() {
    for (Held& h : held_) {
        if (h.uses < 2 || !h.dirty) continue;
        forget(h.cell);
        if (h.reg < 0) {
            cells_.store(bytes(h.cell), static_cast<std::int32_t>(h.plus));
            if ((h.plus & mask_) == 0) zero(h.cell);
        } else {
            if ((h.plus & mask_) != 0) target::addToHeld(e_, h.reg, static_cast<std::int32_t>(h.plus));
            target::storeHeld(e_, h.reg, width_, bytes(h.cell));
        }
    }
    flagsCell_ = kNoCell;
    if (lastAdd_.dirty && (lastAdd_.plus & mask_) != 0) add(lastAdd_.cell, static_cast<std::int32_t>(lastAdd_.plus));
}

// Cells mirrored in registers. Where the same cell is added to again and again along code that
// falls through, with tests in between (a count down that leaves at each step it ends on zero,
// say), each add through memory waits for the store of the one before. So an add to a cell that is
// added to again soon loads it into eax or edx once, and from then on adds there and stores the
// register: memory always holds the cell, so the ways out and the jumps need nothing, and the
// next add does not wait for the memory. A test of a mirrored cell tests the register, and a
// multiply loop counting one down takes it from there (and leaves eax mirroring a cell it moved the
// count to as it is, and edx mirroring its cell if the loop leaves both alone). A jump's target, a
// loop's end, or any other instruction that uses the registers lets the mirrors go; the machine, which may resume the code anywhere, enters code
// where they hold cells through a stub that loads them.

// Whether the multiply loop at k leaves edx alone: its terms add the counter as it is, or set cells.
bool Translator::leavesEdx(std::size_t k) const {
    const Instruction& loop = program_.code[k];
    for (std::int32_t i = 1; i <= loop.amount; ++i) {
        const Instruction& term = program_.code[k + static_cast<std::size_t>(i)];
        if (term.op != OpCode::SetTerm && (static_cast<std::uint32_t>(term.amount) & mask_) != 1) return false;
    }
    return true;
}

// Whether the cell of the add at k is added to again before the mirrors would go, or counted down
// by a multiply loop, which then takes it from the register. Mirrored `inEdx`, it stays so past
// multiply loops that leave edx and the cell alone.
bool Translator::neededAgain(std::size_t k, bool inEdx) const {
    const std::vector<Instruction>& code = program_.code;
    std::int64_t cell = code[k].cell;
    for (std::size_t j = k + 1; j < code.size() && j <= k + kMirrorLookahead && !target(j); ++j) {
        const Instruction& in = code[j];
        if ((in.op == OpCode::Add || in.op == OpCode::MulLoop) && in.cell == cell) return true;
        if (in.op == OpCode::MulLoop && inEdx && leavesEdx(j)) {
            std::size_t last = j + static_cast<std::size_t>(in.amount);
            while (j < last)
                if (code[++j].cell == cell) return false;  // a term changes it
            continue;
        }
        if (in.op == OpCode::Move) cell -= in.amount;
        else if (in.op == OpCode::Clear && in.cell == cell) return false;
        else if (in.op != OpCode::Add && in.op != OpCode::Clear && in.op != OpCode::Guard && in.op != OpCode::JumpIfZero)
            return false;
    }
    return false;
}

void Translator::mirroredAdd(std::size_t k) {
    const Instruction& in = program_.code[k];
    int slot = mirrorOf(in.cell);
    int free = slot < 0 ? mirrorOf(kNoCell) : -1;
    if (free >= 0 && !isZero(in.cell) && neededAgain(k, kMirrorRegister[free] == kEdx)) {
        slot = free;
        cells_.load(kMirrorRegister[slot], bytes(in.cell));
        mirrored_[slot] = in.cell;
        noteMirrors();
    }
    if (slot < 0) {
        add(in.cell, in.amount);
        return;
    }
    cells_.addToRegister(kMirrorRegister[slot], in.amount);
    cells_.storeRegister(kMirrorRegister[slot], bytes(in.cell));
    flagsCell_ = in.cell;
    forget(in.cell);
}

// Before instruction k: the mirrors it keeps (those that leave eax and edx alone), moved with the
// pointer. Without mirrors there is nothing to do, and it is not called.
void Translator::keepMirrors(std::size_t k) {
    const Instruction& in = program_.code[k];
    switch (in.op) {
    case OpCode::Add:
    case OpCode::Guard:
    case OpCode::JumpIfZero:
    case OpCode::MulLoop:  // which reads and then drops them itself
    case OpCode::MulTerm:  // parts of their loop
    case OpCode::SetTerm:
        break;
    case OpCode::Move:
        shiftMirrors(in.amount);
        break;
    case OpCode::Clear:
        dropMirror(in.cell);
        break;
    default:
        dropMirrors();
        break;
    }
}

// The machine's entry at k, where registers mirror cells, goes through a stub that loads them.
void Translator::entryThroughReload(std::size_t k) {
    // Nothing resumes within a multiply loop's terms: the machine does the loop whole.
    OpCode op = program_.code[k].op;
    if (!mirrors() || !marked(k, kMayComeIn) || op == OpCode::MulTerm || op == OpCode::SetTerm) return;
    Reload reload{k, e_.size(), {}};
    for (int i = 0; i < kMirrors; ++i) reload.cells[i] = mirrored_[i];
    reloads_.push_back(reload);
}

// Where a run comes into the code other than by falling through: where it starts, past a place,
// where the machine hands it back after doing an instruction for the code (the next one the
// machine would do), and where the code jumps.
void Translator::markWhereRunsComeIn() {
    const std::vector<Instruction>& code = program_.code;
    auto comesIn = [&](std::size_t k) { marks_[k] |= kComesIn; };
    comesIn(0);
    for (const Exit& exit : exits_) {
        const Instruction& in = code[exit.instruction];
        comesIn(handedBackAt(exit.instruction));
        if (operation(in.op).link == Operand::Code) comesIn(static_cast<std::size_t>(in.link));
    }
    for (std::size_t k = 0; k < code.size(); ++k)
        if (code[k].op == OpCode::Place) comesIn(k + 1);
    for (const Jump& jump : jumps_) comesIn(static_cast<std::size_t>(jump.target));
}

// Stubs only where a run comes in: elsewhere the machine code falls through with its mirrors.
void Translator::emitReloads() {
    markWhereRunsComeIn();
    for (const Reload& reload : reloads_) {
        if (!marked(reload.instruction, kComesIn)) continue;
        native_.entries[reload.instruction] = static_cast<std::uint32_t>(e_.size());
        for (int i = 0; i < kMirrors; ++i)
            if (reload.cells[i] != kNoCell) cells_.load(kMirrorRegister[i], bytes(reload.cells[i]));
        e_.bind(e_.jumpLater(kJmp), reload.code);
    }
}

} // namespace pellux::translation

#endif
