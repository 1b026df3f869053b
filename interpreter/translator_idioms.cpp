// The machine code of the loop idioms (multiply loops and scans), tape checks and repeated output.
#include "translator.h"

#if defined(PELLUX_NATIVE_X86_64) || defined(PELLUX_NATIVE_I686)

namespace pellux::translation {

// Checks the sides of [low, high] not yet known to be on the tape.
void Translator::checkRange(std::int64_t low, std::int64_t high, std::size_t k) {
    if (low < known_.low) exitIf(limited(true, low) ? target::checkLimit(e_, true) : target::checkBelow(e_, bytes(low)), k);
    if (high > known_.high) exitIf(limited(false, high) ? target::checkLimit(e_, false) : target::checkAbove(e_, bytes(high)), k);
    if (low < known_.low || high > known_.high) flagsCell_ = kNoCell;
}

void Translator::testCell(std::int64_t offset) {
    if (flagsCell_ == offset) return;  // the add that just changed the cell set the zero flag
    int slot = mirrors() ? mirrorOf(offset) : -1;
    if (slot >= 0) cells_.testRegister(kMirrorRegister[slot]);  // no wait for the store just made
    else cells_.compareWithZero(bytes(offset));
}

// Whether a multiply loop tests its counter first. With every cell known to be on the tape and
// only adds to do, a loop that does not turn adds zero everywhere: no branch, which the processor
// could only guess.
bool Translator::branches(std::size_t k) const {
    const Instruction& loop = program_.code[k];
    const Span& info = program_.spans[static_cast<std::size_t>(loop.link)];
    bool sets = false;
    for (std::int32_t i = 1; i <= loop.amount; ++i)
        sets = sets || program_.code[k + static_cast<std::size_t>(i)].op == OpCode::SetTerm;
    return sets || std::int64_t(loop.cell) + info.low < known_.low || std::int64_t(loop.cell) + info.high > known_.high;
}

// eax, the counter's value, becomes the loop's turns. Returns whether eax is left as it was.
bool Translator::turns(std::size_t k) {
    std::uint32_t perUnit = this->perUnit(program_.spans[static_cast<std::size_t>(program_.code[k].link)].step);
    if (perUnit == mask_) {
        e_.raw({0xF7, 0xD8});  // neg eax: the turns, -v
    } else if (perUnit != 1) {
        e_.raw({0x69, 0xC0});  // imul eax, eax, perUnit
        e_.u32(static_cast<std::int32_t>(perUnit));
    }
    return perUnit == 1;
}

// edx = eax * factor. The small factors take a lea, a third of imul's latency: in a loop whose
// turns each add a product to the cell the next turn multiplies, that latency is the turn's.
void Translator::productInEdx(std::uint32_t factor) {
    switch (factor) {
    case 2: e_.raw({0x8D, 0x14, 0x00}); return;  // lea edx, [eax + eax]
    case 3: e_.raw({0x8D, 0x14, 0x40}); return;  // lea edx, [eax + eax * 2]
    case 5: e_.raw({0x8D, 0x14, 0x80}); return;  // lea edx, [eax + eax * 4]
    case 9: e_.raw({0x8D, 0x14, 0xC0}); return;  // lea edx, [eax + eax * 8]
    case 4: e_.raw({0x8D, 0x14, 0x85, 0, 0, 0, 0}); return;  // lea edx, [eax * 4]
    case 8: e_.raw({0x8D, 0x14, 0xC5, 0, 0, 0, 0}); return;  // lea edx, [eax * 8]
    default:
        e_.raw({0x69, 0xD0});  // imul edx, eax, factor
        e_.u32(static_cast<std::int32_t>(factor));
    }
}

// A term's cell in memory gets eax times its factor, or its value. Returns whether the cell then
// holds eax's low bits.
bool Translator::term(const Instruction& term) {
    std::uint32_t factor = static_cast<std::uint32_t>(term.amount) & mask_;
    std::int32_t at = bytes(term.cell);
    // A cell known to hold zero takes the product as it is: no read of what was just stored.
    bool blank = zeros_.take(term.cell);
    if (term.op == OpCode::SetTerm) {
        cells_.store(at, term.amount);
    } else if (factor == 1) {
        if (blank) cells_.storeRegister(kEax, at);
        else cells_.addRegister(kEax, at);
        return blank;
    } else if (factor == mask_ && !blank) {
        cells_.subtractRegister(kEax, at);
    } else {
        productInEdx(factor);
        if (blank) cells_.storeRegister(kEdx, at);
        else cells_.addRegister(kEdx, at);
    }
    return false;
}

// tape[p + offset] turns to zero; each term adds turns * a to its cell, or sets it.
bool Translator::multiply(std::size_t k) {
    const Instruction& loop = program_.code[k];
    const Span& info = program_.spans[static_cast<std::size_t>(loop.link)];
    std::int64_t low = std::int64_t(loop.cell) + info.low, high = std::int64_t(loop.cell) + info.high;
    bool branch = branches(k);
    // A register that mirrors the counter gives it without waiting for the store that wrote it.
    int slot = mirrors() ? mirrorOf(loop.cell) : -1;
    if (slot < 0) cells_.load(kEax, bytes(loop.cell));
    else if (kMirrorRegister[slot] == kEdx) e_.raw({0x89, 0xD0});  // mov eax, edx
    // eax is the loop's now; edx too, unless its terms leave it alone: then it goes on mirroring
    // its cell if the loop neither counts that down nor adds to it.
    std::int64_t inEdx = mirrored_[kEdxMirror] != loop.cell && leavesEdx(k) ? mirrored_[kEdxMirror] : kNoCell;
    dropMirrors();
    std::size_t skip = 0;
    if (branch) {
        e_.raw({0x85, 0xC0});  // test eax, eax
        skip = e_.jumpLater(kJe);
        ++branches_;
        checkRange(low, high, k);  // only when the loop turns: a loop that does not turn visits nothing
    }
    // A cell that took the counter's value as it is holds the same after the loop, turned or not
    // (both are then zero): eax mirrors it, for a test or another loop's counter soon after.
    bool counterInEax = turns(k);
    std::int64_t mirror = kNoCell;
    for (std::int32_t i = 1; i <= loop.amount; ++i) {
        const Instruction& in = program_.code[k + static_cast<std::size_t>(i)];
        if (in.cell == mirror) mirror = kNoCell;
        if (in.cell == inEdx) inEdx = kNoCell;
        if (term(in)) mirror = in.cell;
    }
    cells_.store(bytes(loop.cell), 0);
    if (branch) e_.bind(skip, e_.size());
    flagsCell_ = kNoCell;
    zero(loop.cell);
    if (counterInEax && mirror != kNoCell) mirrored_[0] = mirror;
    mirrored_[kEdxMirror] = inEdx;
    noteMirrors();
    return true;
}

// Moves by the step while the cell is not zero. Before each move that would leave the tape it
// hands the scan, at the cell reached so far, to the machine.
void Translator::scan(std::size_t k) {
    std::int32_t step = bytes(program_.code[k].amount);
    testCell(0);
    std::size_t done = e_.jumpLater(kJe);
    VectorScan vector = vectorScan(step);
    std::size_t loop = e_.size();
    exitIf(target::scanCheck(e_, step), k);
    target::scanStep(e_, step);
    cells_.compareWithZero(0);
    e_.bind(e_.jumpLater(kJne), loop);
    for (int i = 0; i < vector.windows; ++i) {
        std::size_t out = e_.jumpLater(kJmp);
        e_.bind(vector.found[i], e_.size());
        if (step > 0) e_.raw({0x0F, 0xBC, 0xC0});  // bsf eax, eax: the nearest zero going right
        else e_.raw({0x0F, 0xBD, 0xC0});           // bsr eax, eax: going left
        target::moveCellByEax(e_, vector.from + i * vector.advance);
        if (vectors_ == Vectors::Avx2) e_.raw({0xC5, 0xF8, 0x77});  // vzeroupper
        e_.bind(out, e_.size());
    }
    e_.bind(done, e_.size());
    known_ = afterDrift(known_, step > 0 ? Drift::Right : Drift::Left);
    flagsCell_ = kNoCell;
    zeros_.clear();
    zeros_.add(0);  // a scan ends on a zero
}

// From a cell that is not zero, compares windows of cells with zero at once and keeps those the
// scan's steps reach: the whole window when the step is one cell, every sixth cell when it is
// six. While no kept cell is zero the scan moves past them; near the tape's ends the plain loop
// that follows takes over (so growth and faults stay the machine's). Each window has its jump to
// take with the kept cells' bits in eax; none when the step is too long for a window to gain.
Translator::VectorScan Translator::vectorScan(std::int32_t step) {
    VectorScan scan{};
    if (vectors_ == Vectors::None) return scan;
    std::int32_t window = vectors_ == Vectors::Avx2 ? 32 : 16, width = static_cast<std::int32_t>(width_);
    std::int32_t stride = step < 0 ? -step : step;
    if (stride > window / 2) return scan;
    std::int32_t reached = (window - width) / stride + 1;  // steps whose cells lie in a window
    std::uint32_t mask = 0;
    for (std::int32_t i = 0; i < reached; ++i) mask |= 1u << (step > 0 ? i * stride : window - width - i * stride);
    // The first window begins at the first step's cell, or ends with it; the next one follows.
    scan.from = step > 0 ? step : step - (window - width);
    scan.advance = reached * step;
    scan.windows = kWindowsPerTurn;
    std::int32_t span = window + (scan.windows - 1) * reached * stride;
    unsigned char compare = static_cast<unsigned char>(width == 1 ? 0x74 : width == 2 ? 0x75 : 0x76);
    bool avx = vectors_ == Vectors::Avx2;
    if (avx) e_.raw({0xC5, 0xF5, 0xEF, 0xC9});  // vpxor ymm1, ymm1, ymm1
    else e_.raw({0x66, 0x0F, 0xEF, 0xC9});      // pxor xmm1, xmm1
    target::windowLimit(e_, step > 0 ? scan.from : scan.from + (scan.windows - 1) * scan.advance, span, step > 0);
    target::compareWithLimit(e_);
    std::size_t plain = e_.jumpLater(step > 0 ? kJa : kJb);
    std::size_t top = e_.size();
    for (int i = 0; i < scan.windows; ++i) {
        std::int32_t at = scan.from + i * scan.advance;
        if (avx) {
            e_.cellOperand({0xC5, 0xF5, compare}, 0, at);  // vpcmpeq ymm0, ymm1, [cell + at]
            e_.raw({0xC5, 0xFD, 0xD7, 0xC0});              // vpmovmskb eax, ymm0
        } else {
            e_.cellOperand({0xF3, 0x0F, 0x6F}, 0, at);     // movdqu xmm0, [cell + at]
            e_.raw({0x66, 0x0F, compare, 0xC1});           // pcmpeq xmm0, xmm1
            e_.raw({0x66, 0x0F, 0xD7, 0xC0});              // pmovmskb eax, xmm0
        }
        e_.raw({0x25});  // and eax, mask
        e_.u32(static_cast<std::int32_t>(mask));
        scan.found[i] = e_.jumpLater(kJne);
    }
    target::moveCell(e_, scan.windows * scan.advance);
    target::compareWithLimit(e_);
    e_.bind(e_.jumpLater(step > 0 ? kJbe : kJae), top);
    e_.bind(plain, e_.size());
    if (avx) e_.raw({0xC5, 0xF8, 0x77});  // vzeroupper: the machine's own code may use SSE
    return scan;
}

// A short run of '.': the same byte, the cell's lowest, stored n times when the buffer has room
// for all of them.
void Translator::outputRepeated(std::size_t k) {
    const Instruction& in = program_.code[k];
    if (in.amount > kInlineRepeats) {
        exitNow(k);
        return;
    }
    exitIf(target::outputFull(e_, in.amount), k);
    target::output(e_, bytes(in.cell), in.amount);
}

} // namespace pellux::translation

#endif
