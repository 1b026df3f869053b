// Checking a program without running it: every byte the extended syntax does not know (by the
// editor's own character check) and every unmatched bracket.
#ifndef PELLUX_INTERPRETER_CHECK_H
#define PELLUX_INTERPRETER_CHECK_H

#include "source.h"

#include <cstddef>
#include <cstdint>

namespace pellux {

struct Finding {
    enum Kind { InvalidByte, UnmatchedBracket } kind;
    SourcePosition position;
    unsigned char byte;  // the invalid byte, or the bracket
};

// At most this many unmatched brackets are listed one by one; past it they are only counted.
constexpr std::size_t kCheckListedBrackets = std::size_t(1) << 20;

struct CheckSummary {
    std::uint64_t findings = 0;
    std::uint64_t unlistedBrackets = 0;
};

// Hands every finding to `report`, in source order. In the classic reading every byte is allowed,
// and only brackets are found.
CheckSummary checkProgram(const unsigned char* source, std::size_t size, syntax::Reading reading,
                          void (*report)(void* context, const Finding& finding), void* context);

} // namespace pellux

#endif
