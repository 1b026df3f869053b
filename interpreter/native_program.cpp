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
    if (!memory_.load(native.bytes.data(), native.bytes.size())) return false;
    entries_.swap(native.entries);
    loaded_ = LoadedCode{memory_.address(), entries_.data(), native.reach};
    return true;
}

void NativeProgram::clear() {
    memory_.release();
    entries_ = std::vector<std::uint32_t>();
    loaded_ = LoadedCode{nullptr, nullptr, 0};
}

} // namespace pellux
