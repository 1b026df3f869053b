// libFuzzer target: any bytes as a program. Brackets are checked, the program is compiled,
// and, when the plain reference finishes it within a step budget, the optimised run must give
// the same output and the same end, with a fault at the same line and column, both on the
// portable machine and in machine code. Under the debugger, a run to a stop at some command
// must leave the same place, pointer, tape and output as stepping there plainly.
#include "interpreter/native_program.h"
#include "interpreter/compiler.h"
#include "interpreter/session.h"
#include "../unit/reference_interpreter.h"

#include <csignal>
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

// Both sessions step `lead` commands plainly; from there one steps `pick` more and the other runs
// to where that ends, on the portable machine or in machine code. Runs that pass the stop before
// they end there are left out.
void stopAtSomeCommand(const std::uint8_t* data, std::size_t size, const std::string& input, std::size_t tape,
                       bool machineCode) {
    Captured plainIo{"", &input, 0}, stoppedIo{"", &input, 0};
    pellux::Session plain(data, size, pellux::RunIo{&plainIo, capture, feed}, tape);
    pellux::Session stopped(data, size, pellux::RunIo{&stoppedIo, capture, feed}, tape);
    stopped.useMachineCode(machineCode);
    std::size_t lead = size ? data[size / 3] % 8 : 0, pick = size ? data[size / 2] % 32 : 0;
    for (std::size_t k = 0; k < lead && !plain.ended(); ++k)
        if (plain.step().status != pellux::RunStatus::Finished || stopped.step().status != pellux::RunStatus::Finished)
            return;
    std::vector<std::size_t> seen;
    for (std::size_t k = 0; k < pick && !plain.ended(); ++k) {
        seen.push_back(plain.at());
        if (plain.step().status != pellux::RunStatus::Finished) return;
    }
    std::size_t stop = plain.at();
    for (std::size_t at : seen)
        if (at == stop) return;  // a stop is where the run first comes to it
    if (plain.ended() || seen.empty()) return;
    if (stopped.runTo({stop}).status != pellux::RunStatus::Stopped) std::abort();
    plain.flush();
    stopped.flush();
    if (stopped.at() != stop || stopped.pointer() != plain.pointer() || !sameCells(stopped.tape(), plain.tape()) ||
        stoppedIo.output != plainIo.output)
        std::abort();
}

// A Ctrl+C before the run: both engines stop at the same loop's end, with the same tape.
void interruptAtOnce(const std::uint8_t* data, std::size_t size, const std::string& input, std::size_t tape) {
    static volatile std::sig_atomic_t raised = 1;
    Captured portableIo{"", &input, 0}, nativeIo{"", &input, 0};
    pellux::Session portable(data, size, pellux::RunIo{&portableIo, capture, feed}, tape);
    pellux::Session native(data, size, pellux::RunIo{&nativeIo, capture, feed}, tape);
    portable.useMachineCode(false);
    portable.interruptWith(&raised);
    native.interruptWith(&raised);
    pellux::RunResult a = portable.runTo({}), b = native.runTo({});
    portable.flush();
    native.flush();
    if (a.status != b.status || portable.at() != native.at() || portable.pointer() != native.pointer() ||
        !sameCells(portable.tape(), native.tape()) || portableIo.output != nativeIo.output)
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
    pellux::SourcePosition place = pellux::positionOf(data, size, expected.at);
    bool samePlace = status == pellux::RunStatus::Finished ||
                     (result.position.line == place.line && result.position.column == place.column);
    if (io.output != expected.output || result.status != status || !samePlace) std::abort();
    stopAtSomeCommand(data, size, input, kTape, false);
    stopAtSomeCommand(data, size, input, kTape, true);
    interruptAtOnce(data, size, input, kTape);

    pellux::NativeProgram native;
    if (!native.load(program)) return 0;
    Captured nativeIo{"", &input, 0};
    pellux::RunResult nativeResult = pellux::run(program, pellux::RunIo{&nativeIo, capture, feed}, kTape, native.code());
    if (nativeIo.output != io.output || nativeResult.status != result.status ||
        nativeResult.position.line != result.position.line || nativeResult.position.column != result.position.column)
        std::abort();
    return 0;
}
