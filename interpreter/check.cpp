#include "check.h"

#include "lang/syntax_scan.h"

#include <algorithm>

namespace pellux {

namespace {

bool before(SourcePosition x, SourcePosition y) {
    return x.line != y.line ? x.line < y.line : x.column < y.column;
}

// Finds the invalid bytes one after another with the editor's scanner, and their places.
class InvalidBytes {
public:
    InvalidBytes(const unsigned char* source, std::size_t size) : source_(source), size_(size), walker_(source, size) {
        next();
    }
    bool found() const { return at_ < size_; }
    SourcePosition position() const { return walker_.position(); }
    unsigned char byte() const { return source_[at_]; }

    // On to the next invalid byte: the scan goes on just past the last one.
    void next() {
        at_ = from_ + scanSyntax(state_, source_ + from_, size_ - from_);
        from_ = at_ + 1;
        if (found())
            while (walker_.at() < at_) walker_.advance();
    }

private:
    const unsigned char* source_;
    std::size_t size_;
    SourceWalker walker_;
    SyntaxScanState state_;
    std::size_t from_ = 0;
    std::size_t at_ = 0;
};

} // namespace

CheckSummary checkProgram(const unsigned char* source, std::size_t size, syntax::Reading reading,
                          void (*report)(void* context, const Finding& finding), void* context) {
    CheckSummary summary;
    const syntax::Table& table = syntax::tableOf(reading);
    std::uint64_t unmatched = findUnmatchedBrackets(source, size, 0, table).count;
    std::size_t listed = static_cast<std::size_t>(std::min<std::uint64_t>(unmatched, kCheckListedBrackets));
    std::vector<BracketError> brackets = findUnmatchedBrackets(source, size, listed, table).first;
    summary.unlistedBrackets = unmatched - brackets.size();
    // Two lists in source order, merged. In the classic reading no byte is invalid.
    InvalidBytes invalid(source, reading == syntax::Reading::Classic ? 0 : size);
    std::size_t next = 0;
    while (invalid.found() || next < brackets.size()) {
        Finding finding;
        if (next < brackets.size() && (!invalid.found() || before(brackets[next].position, invalid.position()))) {
            finding = Finding{Finding::UnmatchedBracket, brackets[next].position,
                              static_cast<unsigned char>(brackets[next].bracket)};
            ++next;
        } else {
            finding = Finding{Finding::InvalidByte, invalid.position(), invalid.byte()};
            invalid.next();
        }
        report(context, finding);
        ++summary.findings;
    }
    summary.findings += summary.unlistedBrackets;
    return summary;
}

} // namespace pellux
