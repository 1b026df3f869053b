// libFuzzer target: any bytes as a program. Brackets are checked, the program is compiled,
// and, when the plain reference finishes it within a step budget, the optimised run must give
// the same output and the same end, both on the portable machine and in machine code (where
// the place of a fault must agree too). Under the debugger, a run to a stop at some command
// must leave the same place, pointer, tape and output as stepping there plainly.
#include "interpreter/native_code.h"
#include "interpreter/program.h"
#include "interpreter/executable_memory.h"
#include "../unit/reference_interpreter.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

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

bool sameCells(const std::vector<unsigned char>& x, const std::vector<unsigned char>& y) {
    for (std::size_t i = 0; i < x.size() || i < y.size(); ++i)
        if ((i < x.size() ? x[i] : 0) != (i < y.size() ? y[i] : 0)) return false;
    return true;
}

// The command run `pick`-th (of those first run there) is the stop; runs that start there are left out.
void stopAtSomeCommand(const std::uint8_t* data, std::size_t size, const std::string& input, std::size_t tape) {
    Captured plainIo{"", &input, 0}, stoppedIo{"", &input, 0};
    pellux::Session plain(data, size, pellux::RunIo{&plainIo, capture, feed}, tape);
    pellux::Session stopped(data, size, pellux::RunIo{&stoppedIo, capture, feed}, tape);
    std::size_t first = plain.at();
    std::size_t pick = size ? data[size / 2] % 32 : 0;
    std::vector<std::size_t> seen;
    for (std::size_t k = 0; k < pick && !plain.ended(); ++k) {
        seen.push_back(plain.at());
        if (plain.step().status != pellux::RunStatus::Finished) return;
    }
    std::size_t stop = plain.at();
    for (std::size_t at : seen)
        if (at == stop) return;  // a stop is where the run first comes to it
    if (plain.ended() || stop == first) return;
    if (stopped.runTo({stop}).status != pellux::RunStatus::Stopped) std::abort();
    plain.flush();
    stopped.flush();
    if (stopped.at() != stop || stopped.pointer() != plain.pointer() || !sameCells(stopped.tape(), plain.tape()) ||
        stoppedIo.output != plainIo.output)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (!pellux::findUnmatchedBrackets(data, size).empty()) return 0;
    pellux::Program program = pellux::compile(data, size);
    const std::string source(reinterpret_cast<const char*>(data), size);
    const std::string input("\x07\x00\x03", 3);  // a NUL and more than one byte to read
    constexpr std::size_t kTape = 4096;
    ReferenceResult expected = referenceRun(source, input, kTape, 20000);
    if (expected.status == ReferenceResult::OutOfSteps) return 0;
    Captured io{"", &input, 0};
    pellux::RunResult result = pellux::run(program, pellux::RunIo{&io, capture, feed}, kTape);
    pellux::RunStatus status = expected.status == ReferenceResult::Finished ? pellux::RunStatus::Finished
                               : expected.status == ReferenceResult::Left ? pellux::RunStatus::MovedLeftOfFirstCell
                                                                         : pellux::RunStatus::MovedPastLastCell;
    if (io.output != expected.output || result.status != status) std::abort();
    stopAtSomeCommand(data, size, input, kTape);

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
