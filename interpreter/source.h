// Reading the source, the first stage: takes a program's bytes as they lie in its file; gives
// their places (line and column), the bytes that are commands, and the unmatched brackets, which
// must be none before anything compiles or runs. What each byte is comes from lang/syntax.h.
#ifndef PELLUX_INTERPRETER_SOURCE_H
#define PELLUX_INTERPRETER_SOURCE_H

#include "lang/syntax.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace pellux {

struct SourcePosition {
    std::uint32_t line = 1;
    std::uint32_t column = 1;
};

inline bool endsLine(unsigned char c) { return syntax::endsLine(c); }

// Walks the source as the extended syntax reads it: a comment or string line lasts to the end
// of its line; line and column follow every byte. CR LF, a lone CR and a lone LF each end a line.
class SourceWalker {
public:
    SourceWalker(const unsigned char* source, std::size_t size, const syntax::Table& table = syntax::kExtended)
        : source_(source), size_(size), syntax_(&table) {}

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

    // At a '#' or '%': past it and the rest of its line, and true; `text` and `textEnd`, when
    // given, say where the line's text lies.
    bool skipsLine(std::size_t* text = nullptr, std::size_t* textEnd = nullptr) {
        if (at_ >= size_ || !syntax_->startsLineRun(source_[at_])) return false;
        advance();
        if (text) *text = at_;
        while (at_ < size_ && !syntax_->endsLine(source_[at_])) advance();
        if (textEnd) *textEnd = at_;
        return true;
    }

    // On to the next command (see syntax::isCommand), past comments and everything else.
    void toCommand() {
        while (more() && !syntax_->isCommand(peek()))
            if (!skipsLine()) advance();
    }

private:
    const unsigned char* source_;
    std::size_t size_;
    const syntax::Table* syntax_;
    std::size_t at_ = 0;
    SourcePosition position_;
};

// The place of the byte at `offset`.
SourcePosition positionOf(const unsigned char* source, std::size_t size, std::size_t offset);

// The first command at or after `offset`; `size` when there is none. `offset` must not lie
// inside a comment or string line, unless it is the '%' that starts one.
std::size_t nextCommand(const unsigned char* source, std::size_t size, std::size_t offset,
                        const syntax::Table& table = syntax::kExtended);

// The ']' that matches the '[' at `open`, in a source whose brackets match.
std::size_t matchingClose(const unsigned char* source, std::size_t size, std::size_t open,
                          const syntax::Table& table = syntax::kExtended);

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
                                        std::size_t listed = kUnmatchedListed,
                                        const syntax::Table& table = syntax::kExtended);

} // namespace pellux

#endif
