#include "native_program.h"

#include <new>

namespace pellux {

bool NativeProgram::load(const Program& program, const volatile std::sig_atomic_t* interrupt, Vectors vectors) {
    clear();
    if (program.code.size() > kMostOperationsTranslated) return false;
    NativeCode native;
    try {
        if (!translate(program, native, interrupt, vectors)) return false;
    } catch (const std::bad_alloc&) {  // the portable machine needs no more memory than it has
        return false;
    }
    // The code runs where it was written.
    if (!makeCodeExecutable(native.bytes.data(), native.bytes.size())) return false;
    code_.swap(native.bytes);
    entries_.swap(native.entries);
    loaded_ = LoadedCode{code_.data(), entries_.data(), native.reach};
    return true;
}

void NativeProgram::clear() {
    code_ = CodeBytes();
    entries_ = std::vector<std::uint32_t>();
    loaded_ = LoadedCode{nullptr, nullptr, 0};
}

} // namespace pellux
