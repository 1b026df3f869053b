#include "source.h"

#include <algorithm>

namespace pellux {

SourcePosition positionOf(const unsigned char* source, std::size_t size, std::size_t offset) {
    SourceWalker walker(source, size);
    while (walker.at() < offset && walker.more()) walker.advance();
    return walker.position();
}

std::size_t nextCommand(const unsigned char* source, std::size_t size, std::size_t offset,
                        const syntax::Table& table) {
    while (offset < size && !table.isCommand(source[offset])) {
        if (table.startsLineRun(source[offset]))
            while (offset < size && !table.endsLine(source[offset])) ++offset;
        else
            ++offset;
    }
    return offset;
}

std::size_t matchingClose(const unsigned char* source, std::size_t size, std::size_t open,
                          const syntax::Table& table) {
    std::size_t depth = 0;
    for (std::size_t at = open; at < size; at = nextCommand(source, size, at + 1, table)) {
        syntax::Kind kind = table.kind(source[at]);
        if (kind == syntax::Kind::Open) ++depth;
        if (kind == syntax::Kind::Close && --depth == 0) return at;
        if (kind == syntax::Kind::StringLine)
            while (at + 1 < size && !table.endsLine(source[at + 1])) ++at;
    }
    return size;
}

namespace {

// How many brackets are unmatched, without their places: nearly every program has none, and
// following lines and columns through it takes several times as long.
std::uint64_t unmatchedCount(const unsigned char* source, std::size_t size, const syntax::Table& table) {
    signed char step[256];
    bool lineRun[256];
    for (unsigned c = 0; c < 256; ++c) {
        syntax::Kind kind = table.kind(static_cast<unsigned char>(c));
        step[c] = kind == syntax::Kind::Open ? 1 : kind == syntax::Kind::Close ? -1 : 0;
        lineRun[c] = table.startsLineRun(static_cast<unsigned char>(c));
    }
    // Each ']' that would take the depth below nothing is one unmatched: as many as the lowest
    // depth reached lies below it. Without branches: brackets come too often to guess. A source
    // has fewer bytes than half the address space, so the depth fits.
    std::ptrdiff_t depth = 0, lowest = 0;
    for (std::size_t at = 0; at < size; ++at) {
        unsigned char c = source[at];
        depth += step[c];
        lowest = std::min(lowest, depth);
        if (lineRun[c])
            while (at + 1 < size && !table.endsLine(source[at + 1])) ++at;
    }
    return static_cast<std::uint64_t>(depth - lowest) + static_cast<std::uint64_t>(-lowest);
}

} // namespace

// Keeps only the first `listed` of each kind, so a file of brackets needs no list as long as
// itself. An unmatched '[' is the last one to raise the depth to a level the depth never falls
// below again; those are in source order by level, so the first `listed` levels are enough.
UnmatchedBrackets findUnmatchedBrackets(const unsigned char* source, std::size_t size, std::size_t listed,
                                        const syntax::Table& table) {
    UnmatchedBrackets counted;
    counted.count = unmatchedCount(source, size, table);
    if (counted.count == 0 || listed == 0) return counted;
    std::vector<BracketError> closes;
    std::vector<SourcePosition> lastOpenAt(listed);
    std::uint64_t closeCount = 0, depth = 0;
    SourceWalker walker(source, size, table);
    while (walker.more()) {
        if (walker.skipsLine()) continue;
        syntax::Kind kind = table.kind(walker.peek());
        if (kind == syntax::Kind::Open) {
            if (depth < listed) lastOpenAt[depth] = walker.position();
            ++depth;
        } else if (kind == syntax::Kind::Close) {
            if (depth > 0) {
                --depth;
            } else {
                if (closes.size() < listed) closes.push_back(BracketError{walker.position(), ']'});
                ++closeCount;
            }
        }
        walker.advance();
    }
    UnmatchedBrackets result;
    result.count = closeCount + depth;
    std::vector<BracketError>& all = result.first;
    all = closes;
    for (std::uint64_t level = 0; level < depth && level < listed; ++level)
        all.push_back(BracketError{lastOpenAt[level], '['});
    // Source order, so the first message names the first fault.
    std::stable_sort(all.begin(), all.end(), [](const BracketError& x, const BracketError& y) {
        return x.position.line != y.position.line ? x.position.line < y.position.line
                                                  : x.position.column < y.position.column;
    });
    if (all.size() > listed) all.resize(listed);
    return result;
}

} // namespace pellux
