// libFuzzer target: any bytes as a program. Brackets are checked, the program is compiled,
// and, when the plain reference finishes it within a step budget, the optimised run must give
// the same output and the same end, both on the portable machine and in machine code (where
// the place of a fault must agree too).
#include "lang/interpreter/native_code.h"
#include "lang/interpreter/program.h"
#include "platform/executable_memory.h"
#include "../unit/reference_interpreter.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

struct Captured {
    std::string output;
    const std::string* input;
    std::size_t read;
};

bool capture(void* context, const unsigned char* bytes, std::size_t size) {
    static_cast<Captured*>(context)->output.append(reinterpret_cast<const char*>(bytes), size);
    return true;
}

int feed(void* context) {
    Captured& io = *static_cast<Captured*>(context);
    return io.read < io.input->size() ? static_cast<unsigned char>((*io.input)[io.read++]) : -1;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (!pellux::findUnmatchedBrackets(data, size).empty()) return 0;
    pellux::Program program = pellux::compile(data, size);
    const std::string source(reinterpret_cast<const char*>(data), size);
    const std::string input = "\x07\x00\x03";
    constexpr std::size_t kTape = 4096;
    ReferenceResult expected = referenceRun(source, input, kTape, 20000);
    if (expected.status == ReferenceResult::OutOfSteps) return 0;
    Captured io{"", &input, 0};
    pellux::RunResult result = pellux::run(program, pellux::RunIo{&io, capture, feed}, kTape);
    pellux::RunStatus status = expected.status == ReferenceResult::Finished ? pellux::RunStatus::Finished
                               : expected.status == ReferenceResult::Left ? pellux::RunStatus::MovedLeftOfFirstCell
                                                                         : pellux::RunStatus::MovedPastLastCell;
    if (io.output != expected.output || result.status != status) std::abort();

    pellux::NativeCode native;
    if (!pellux::translate(program, native)) return 0;
    ExecutableMemory memory(native.bytes.data(), native.bytes.size());
    if (!memory.valid()) std::abort();
    pellux::LoadedCode loaded{memory.address(), native.entries.data()};
    Captured nativeIo{"", &input, 0};
    pellux::RunResult nativeResult = pellux::run(program, pellux::RunIo{&nativeIo, capture, feed}, kTape, &loaded);
    if (nativeIo.output != io.output || nativeResult.status != result.status ||
        nativeResult.position.line != result.position.line || nativeResult.position.column != result.position.column)
        std::abort();
    return 0;
}
