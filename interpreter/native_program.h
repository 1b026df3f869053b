// A program's translation in executable pages, ready for run(): the one place where a compiled
// program becomes machine code that runs.
#ifndef PELLUX_INTERPRETER_NATIVE_PROGRAM_H
#define PELLUX_INTERPRETER_NATIVE_PROGRAM_H

#include "native_code.h"
#include "program.h"

#include <csignal>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace pellux {

struct LoadedCode {
    const unsigned char* base;
    const std::uint32_t* entries;  // where instruction k begins, from base
    std::int32_t reach;            // NativeCode::reach
};

// Past this many operations a program is mostly code that runs once: its translation would take
// more memory (some 50 bytes an operation) and time than it saves.
constexpr std::size_t kMostOperationsTranslated = std::size_t(1) << 24;

class NativeProgram {
public:
    NativeProgram() = default;
    NativeProgram(const NativeProgram&) = delete;  // loaded_ points into this one's code
    NativeProgram& operator=(const NativeProgram&) = delete;
    // Translates the program and loads it, in place of what was loaded. False, with nothing
    // loaded, where this processor has no translation, the program is too big to gain from one
    // or does not fit, or memory or executable pages are short: the portable machine runs it
    // then. With `interrupt` (the debugger's), each loop's turn starts by looking at the flag.
    // `vectors`: at most what this processor has (tests try each).
    bool load(const Program& program, const volatile std::sig_atomic_t* interrupt = nullptr,
              Vectors vectors = vectorsOfThisProcessor());
    void clear();
    // What run() takes: null when nothing is loaded.
    const LoadedCode* code() const { return loaded_.base ? &loaded_ : nullptr; }

private:
    CodeBytes code_;  // executable and read-only while loaded: never written
    std::vector<std::uint32_t> entries_;
    LoadedCode loaded_{nullptr, nullptr, 0};
};

} // namespace pellux

#endif
