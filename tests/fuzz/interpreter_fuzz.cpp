// libFuzzer target: any bytes as a program, in a dialect its length picks (cells of 8, 16 or
// 32 bits, the extended or the classic reading, each end-of-input choice). Brackets are checked,
// the program is compiled, and, when the plain reference finishes it within a step budget, the
// optimised run must give the same output and the same end, with a fault at the same line and
// column, both on the portable machine and in machine code. Under the debugger, a run to a stop at some command
// must leave the same place, pointer, tape and output as stepping there plainly.
#include "interpreter/native_program.h"
#include "interpreter/compiler.h"
#include "interpreter/session.h"
#include "../unit/reference_interpreter.h"

#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <memory>
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

bool sameCells(const pellux::Session& x, const pellux::Session& y, std::size_t cells) {
    for (std::size_t i = 0; i < cells; ++i)
        if (x.cell(i) != y.cell(i)) return false;
    return true;
}

// The length picks the dialect, and the vectors the machine code's scans use (at most what this
// processor has), so that a program and its neighbours in size try them all.
struct Chosen {
    pellux::Dialect dialect;
    std::int64_t endOfInput;
    pellux::Vectors vectors;
};

Chosen chosenFor(std::size_t size) {
    const std::int64_t ends[] = {-1, 0, 255, 0xFFFFFFFF};
    const pellux::Vectors vectors[] = {pellux::Vectors::Avx2, pellux::Vectors::Sse2, pellux::Vectors::None};
    Chosen chosen;
    chosen.dialect.cellBytes = 1u << (size % 3);
    chosen.dialect.reading = (size / 3) % 2 ? syntax::Reading::Classic : syntax::Reading::Extended;
    chosen.endOfInput = ends[(size / 6) % 4];
    chosen.vectors = vectors[(size / 24) % 3];
    return chosen;
}

pellux::RunIo ioFor(void* context, const Chosen& chosen) {
    return pellux::RunIo{context, capture, feed, true, chosen.endOfInput};
}

// Both sessions step `lead` commands plainly; from there one steps `pick` more and the other runs
// to where that ends, on the portable machine or in machine code, the latter also with a Ctrl+C
// flag that is never raised (as the console debugger runs: its loops then look at the flag each
// turn, and it may start in a later turn of a loop whose first turn keeps registers). Runs that
// pass the stop before they end there are left out.
void stopAtSomeCommand(const std::uint8_t* data, std::size_t size, const std::string& input, std::size_t tape,
                       const Chosen& chosen, bool machineCode, bool watched = false) {
    static volatile std::sig_atomic_t neverRaised = 0;
    Captured plainIo{"", &input, 0}, stoppedIo{"", &input, 0};
    pellux::Session plain(data, size, ioFor(&plainIo, chosen), tape, chosen.dialect);
    pellux::Session stopped(data, size, ioFor(&stoppedIo, chosen), tape, chosen.dialect);
    stopped.useMachineCode(machineCode);
    if (watched) stopped.interruptWith(&neverRaised);
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
    if (stopped.at() != stop || stopped.pointer() != plain.pointer() || !sameCells(stopped, plain, tape) ||
        stoppedIo.output != plainIo.output)
        std::abort();
}

// A Ctrl+C before the run: both engines stop at the same loop's end, with the same tape.
void interruptAtOnce(const std::uint8_t* data, std::size_t size, const std::string& input, std::size_t tape,
                     const Chosen& chosen) {
    static volatile std::sig_atomic_t raised = 1;
    Captured portableIo{"", &input, 0}, nativeIo{"", &input, 0};
    pellux::Session portable(data, size, ioFor(&portableIo, chosen), tape, chosen.dialect);
    pellux::Session native(data, size, ioFor(&nativeIo, chosen), tape, chosen.dialect);
    portable.useMachineCode(false);
    portable.interruptWith(&raised);
    native.interruptWith(&raised);
    pellux::RunResult a = portable.runTo({}), b = native.runTo({});
    portable.flush();
    native.flush();
    if (a.status != b.status || portable.at() != native.at() || portable.pointer() != native.pointer() ||
        !sameCells(portable, native, tape) || portableIo.output != nativeIo.output)
        std::abort();
}

// A run as pellux::run does it, which must leave the cells the reference left, whether it ended or
// stopped at a fault (where the plain reading has done what the program did up to it).
pellux::RunResult runAndCompareTape(const pellux::Program& program, pellux::RunIo io, std::size_t tape,
                                    const pellux::LoadedCode* native, const std::vector<std::uint32_t>& expected) {
    std::unique_ptr<pellux::Machine> machine = pellux::Machine::make(program, io, tape);
    pellux::RunResult result = native ? machine->runNative(*native) : machine->run();
    machine->flush();
    for (std::size_t i = 0; i < tape; ++i)
        if (machine->cell(i) != (i < expected.size() ? expected[i] : 0)) std::abort();
    return result;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Chosen chosen = chosenFor(size);
    const syntax::Table& table = chosen.dialect.syntax();
    if (!pellux::findUnmatchedBrackets(data, size, pellux::kUnmatchedListed, table).empty()) return 0;
    pellux::Program program = pellux::compile(data, size, chosen.dialect);
    const std::string source(reinterpret_cast<const char*>(data), size);
    const std::string input("\x07\x00\x03", 3);  // a NUL and more than one byte to read
    constexpr std::size_t kTape = 4096;
    ReferenceDialect reference{chosen.dialect.mask(), chosen.dialect.reading == syntax::Reading::Classic,
                               chosen.endOfInput};
    ReferenceResult expected = referenceRun(source, input, kTape, 20000, reference);
    if (expected.status == ReferenceResult::OutOfSteps) return 0;
    Captured io{"", &input, 0};
    pellux::RunResult result = runAndCompareTape(program, ioFor(&io, chosen), kTape, nullptr, expected.tape);
    pellux::RunStatus status = expected.status == ReferenceResult::Finished ? pellux::RunStatus::Finished
                               : expected.status == ReferenceResult::Left ? pellux::RunStatus::MovedLeftOfFirstCell
                                                                         : pellux::RunStatus::MovedPastLastCell;
    pellux::SourcePosition place = pellux::positionOf(data, size, expected.at);
    bool samePlace = status == pellux::RunStatus::Finished ||
                     (result.position.line == place.line && result.position.column == place.column);
    if (io.output != expected.output || result.status != status || !samePlace) std::abort();
    stopAtSomeCommand(data, size, input, kTape, chosen, false);
    stopAtSomeCommand(data, size, input, kTape, chosen, true);
    stopAtSomeCommand(data, size, input, kTape, chosen, true, true);
    interruptAtOnce(data, size, input, kTape, chosen);

    pellux::NativeProgram native;
    if (!native.load(program, nullptr, chosen.vectors)) return 0;
    Captured nativeIo{"", &input, 0};
    pellux::RunResult nativeResult =
        runAndCompareTape(program, ioFor(&nativeIo, chosen), kTape, native.code(), expected.tape);
    if (nativeIo.output != io.output || nativeResult.status != result.status ||
        nativeResult.position.line != result.position.line || nativeResult.position.column != result.position.column)
        std::abort();
    return 0;
}
