// The plain reading of the language, byte by byte, kept beside the tests to check the
// optimising interpreter against: at any cell width, in the extended or the classic reading.
// Stops after a step budget, so random programs end.
#ifndef PELLUX_REFERENCE_INTERPRETER_H
#define PELLUX_REFERENCE_INTERPRETER_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct ReferenceResult {
    enum Status { Finished, Left, Right, OutOfSteps } status;
    std::string output;
    std::size_t at;  // Left or Right: the offset of the move that left the tape
    std::vector<std::uint32_t> tape;  // as the run left it
};

struct ReferenceDialect {
    std::uint32_t mask = 0xFF;  // the cells' bits
    bool classic = false;       // '#' and '%' are comments like any other byte
    std::int64_t endOfInput = -1;  // -1 keeps the cell
};

inline ReferenceResult referenceRun(const std::string& source, const std::string& input, std::size_t tapeLimit,
                                    std::size_t steps, const ReferenceDialect& dialect = ReferenceDialect()) {
    std::vector<std::size_t> match(source.size(), 0), open;
    auto endsLine = [](char c) { return c == '\r' || c == '\n' || c == '\0'; };
    auto startsLine = [&](char c) { return !dialect.classic && (c == '#' || c == '%'); };
    for (std::size_t i = 0; i < source.size(); ++i) {
        if (startsLine(source[i])) { while (i + 1 < source.size() && !endsLine(source[i + 1])) ++i; continue; }
        if (source[i] == '[') open.push_back(i);
        if (source[i] == ']') { match[i] = open.back(); match[open.back()] = i; open.pop_back(); }
    }
    ReferenceResult result{ReferenceResult::Finished, "", 0, std::vector<std::uint32_t>(1, 0)};
    std::vector<std::uint32_t>& tape = result.tape;
    std::size_t p = 0, in = 0;
    for (std::size_t i = 0; i < source.size(); ++i) {
        if (steps-- == 0) { result.status = ReferenceResult::OutOfSteps; return result; }
        if (startsLine(source[i])) {
            std::size_t end = i + 1;
            while (end < source.size() && !endsLine(source[end])) ++end;
            if (source[i] == '%') result.output += source.substr(i + 1, end - i - 1);
            i = end - 1;
            continue;
        }
        switch (source[i]) {
        case '+': tape[p] = (tape[p] + 1) & dialect.mask; break;
        case '-': tape[p] = (tape[p] - 1) & dialect.mask; break;
        case '>':
            if (++p >= tapeLimit) { result.status = ReferenceResult::Right; result.at = i; return result; }
            if (p >= tape.size()) tape.push_back(0);
            break;
        case '<':
            if (p == 0) { result.status = ReferenceResult::Left; result.at = i; return result; }
            --p;
            break;
        case '.': result.output += static_cast<char>(tape[p] & 0xFF); break;
        case ',':
            if (in < input.size()) tape[p] = static_cast<unsigned char>(input[in++]);
            else if (dialect.endOfInput != -1) tape[p] = static_cast<std::uint32_t>(dialect.endOfInput) & dialect.mask;
            break;
        case '[': if (!tape[p]) i = match[i]; break;
        case ']': if (tape[p]) i = match[i]; break;
        default: break;
        }
    }
    return result;
}

#endif
