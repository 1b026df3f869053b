// The plain reading of the language, byte by byte, kept beside the tests to check the
// optimising interpreter against. Stops after a step budget, so random programs end.
#ifndef PELLUX_REFERENCE_INTERPRETER_H
#define PELLUX_REFERENCE_INTERPRETER_H

#include <cstddef>
#include <string>
#include <vector>

struct ReferenceResult {
    enum Status { Finished, Left, Right, OutOfSteps } status;
    std::string output;
    std::size_t at;  // Left or Right: the offset of the move that left the tape
};

inline ReferenceResult referenceRun(const std::string& source, const std::string& input, std::size_t tapeLimit,
                                    std::size_t steps) {
    std::vector<std::size_t> match(source.size(), 0), open;
    auto endsLine = [](char c) { return c == '\r' || c == '\n' || c == '\0'; };
    for (std::size_t i = 0; i < source.size(); ++i) {
        if (source[i] == '#' || source[i] == '%') { while (i + 1 < source.size() && !endsLine(source[i + 1])) ++i; continue; }
        if (source[i] == '[') open.push_back(i);
        if (source[i] == ']') { match[i] = open.back(); match[open.back()] = i; open.pop_back(); }
    }
    std::vector<unsigned char> tape(1, 0);
    std::size_t p = 0, in = 0;
    ReferenceResult result{ReferenceResult::Finished, "", 0};
    for (std::size_t i = 0; i < source.size(); ++i) {
        if (steps-- == 0) { result.status = ReferenceResult::OutOfSteps; return result; }
        switch (source[i]) {
        case '+': ++tape[p]; break;
        case '-': --tape[p]; break;
        case '>':
            if (++p >= tapeLimit) { result.status = ReferenceResult::Right; result.at = i; return result; }
            if (p >= tape.size()) tape.push_back(0);
            break;
        case '<':
            if (p == 0) { result.status = ReferenceResult::Left; result.at = i; return result; }
            --p;
            break;
        case '.': result.output += static_cast<char>(tape[p]); break;
        case ',': if (in < input.size()) tape[p] = static_cast<unsigned char>(input[in++]); break;
        case '[': if (!tape[p]) i = match[i]; break;
        case ']': if (tape[p]) i = match[i]; break;
        case '#':
        case '%': {
            std::size_t end = i + 1;
            while (end < source.size() && !endsLine(source[end])) ++end;
            if (source[i] == '%') result.output += source.substr(i + 1, end - i - 1);
            i = end - 1;
            break;
        }
        default: break;
        }
    }
    return result;
}

#endif
