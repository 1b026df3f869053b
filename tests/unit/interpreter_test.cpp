#include "interpreter/check.h"
#include "interpreter/command_line.h"
#include "lang/syntax_scan.h"
#include "interpreter/native_code.h"
#include "interpreter/native_program.h"
#include "interpreter/compiler.h"
#include "interpreter/session.h"
#include "reference_interpreter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Captured {
    std::string output;
    std::string input;
    std::size_t read = 0;
    int writes = 0;
    int writesThatWork = -1;  // the writes after these fail; -1: all work
    std::vector<std::size_t> readsAt;  // how much was written when each read came
    int endOfInput = -1;
    int breakOffAfter = -1;  // a Ctrl+C breaks off the read after this many more; -1: none
};

bool capture(void* context, const unsigned char* bytes, std::size_t size) {
    Captured& io = *static_cast<Captured*>(context);
    if (io.writes++ == io.writesThatWork) return false;
    io.output.append(reinterpret_cast<const char*>(bytes), size);
    return true;
}

int feed(void* context) {
    Captured& io = *static_cast<Captured*>(context);
    if (io.breakOffAfter >= 0 && io.breakOffAfter-- == 0) return pellux::kReadBrokenOff;
    io.readsAt.push_back(io.output.size());
    return io.read < io.input.size() ? static_cast<unsigned char>(io.input[io.read++]) : -1;
}

struct Outcome {
    pellux::RunStatus status;
    std::string output;
    pellux::SourcePosition position;
};

// The portable machine, and the machine code where this processor has a translation.
enum class Engine { Portable, Native };

Outcome runCompiled(Engine engine, const pellux::Program& program, Captured& io,
                    std::size_t limit = pellux::kTapeLimitCells, bool flushBeforeRead = true) {
    pellux::NativeProgram native;
    if (engine == Engine::Native) native.load(program);
    pellux::RunResult result = pellux::run(program, pellux::RunIo{&io, capture, feed, flushBeforeRead, io.endOfInput}, limit,
                                           native.code());
    return {result.status, io.output, result.position};
}

pellux::Program compileText(const std::string& source) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(source.data());
    EXPECT_TRUE(pellux::findUnmatchedBrackets(bytes, source.size()).empty()) << source;
    return pellux::compile(bytes, source.size());
}

// Whether this processor has a translation: the machine code's own tests are skipped where not.
bool machineCodeHere() {
    pellux::NativeCode probe;
    return pellux::translate(compileText("+"), probe);
}

Outcome runWith(Engine engine, const std::string& source, Captured& io, std::size_t limit = pellux::kTapeLimitCells,
                bool flushBeforeRead = true) {
    return runCompiled(engine, compileText(source), io, limit, flushBeforeRead);
}

Outcome runOn(Engine engine, const std::string& source, const std::string& input = "",
              std::size_t limit = pellux::kTapeLimitCells) {
    Captured io;
    io.input = input;
    return runWith(engine, source, io, limit);
}

// The program with every distance of one cell, a move's, a scan's step and a span's ends, made
// `far` cells: further than a program file of allowed size could move in one block.
pellux::Program stretched(const std::string& source, std::int32_t far) {
    pellux::Program program = compileText(source);
    auto stretch = [far](std::int32_t& value) { value = value == 1 ? far : value == -1 ? -far : value; };
    for (pellux::Instruction& in : program.code) {
        const pellux::Operation& op = pellux::operation(in.op);
        std::int32_t end = in.cell + in.amount;
        if (op.cell == pellux::Operand::Offset || op.cell == pellux::Operand::Distance) stretch(in.cell);
        if (op.amount == pellux::Operand::Distance) stretch(in.amount);
        if (op.amount == pellux::Operand::Width) {  // the last cell moves, not the width
            stretch(end);
            in.amount = end - in.cell;
        }
    }
    for (pellux::Span& span : program.spans) { stretch(span.low); stretch(span.high); stretch(span.step); }
    return program;
}

class Interpreter : public testing::TestWithParam<Engine> {
protected:
    void SetUp() override {
        pellux::Program empty;
        empty.code.push_back(pellux::Instruction{pellux::OpCode::End, 0, 0, 0});
        pellux::NativeCode native;
        if (GetParam() == Engine::Native && !pellux::translate(empty, native))
            GTEST_SKIP() << "no machine code for this processor";
    }
    Outcome runText(const std::string& source, const std::string& input = "",
                    std::size_t limit = pellux::kTapeLimitCells) {
        return runOn(GetParam(), source, input, limit);
    }
    Outcome runText(const std::string& source, Captured& io, bool flushBeforeRead = true) {
        return runWith(GetParam(), source, io, pellux::kTapeLimitCells, flushBeforeRead);
    }
};

std::string repeat(const std::string& piece, std::size_t count) {
    std::string text;
    for (std::size_t i = 0; i < count; ++i) text += piece;
    return text;
}

std::string readFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

} // namespace

TEST(CommandLine, ReadsWhatTheEditorSends) {
    pellux::CommandLine line = pellux::parseCommandLine("/f C:\\My Programs\\hello world.b /p");
    EXPECT_TRUE(line.valid);
    EXPECT_EQ(line.path, "C:\\My Programs\\hello world.b");
    EXPECT_TRUE(line.pause);

    line = pellux::parseCommandLine("/f  /p");  // an untitled document
    EXPECT_TRUE(line.valid);
    EXPECT_EQ(line.path, "");
    EXPECT_TRUE(line.pause);

    line = pellux::parseCommandLine("/f \"C:\\a b\\c.b\"");
    EXPECT_EQ(line.path, "C:\\a b\\c.b");
    EXPECT_FALSE(line.pause);

    line = pellux::parseCommandLine("/f C:\\\\Pellux.b /p");  // a drive's root: two backslashes
    EXPECT_EQ(line.path, "C:\\\\Pellux.b");

    line = pellux::parseCommandLine("/f /home/me/prog/p.b");
    EXPECT_EQ(line.path, "/home/me/prog/p.b");
    EXPECT_FALSE(pellux::parseCommandLine("").valid);
    EXPECT_FALSE(pellux::parseCommandLine("/x y").valid);
    EXPECT_FALSE(pellux::parseCommandLine("/fpath").valid);
}

// Options before "/f"; the editor's "/f PATH /p" unchanged; every fault named in one line.
TEST(CommandLine, AcceptsOptionsBeforeTheProgramAndNamesWhatItRefuses) {
    using pellux::EndOfInput;
    struct Accepted {
        const char* line;
        bool debug, check;
        const char* input;
        EndOfInput eof;
        const char* path;
        bool pause;
        unsigned cellBits = 8;
        bool classic = false;
    } accepted[] = {
        {"/d /f p.b", true, false, "", EndOfInput::Keep, "p.b", false},
        {"/C /f my prog.b /p", false, true, "", EndOfInput::Keep, "my prog.b", true},
        {"/i \"in put.txt\" /eof 255 /f p.b", false, false, "in put.txt", EndOfInput::Max, "p.b", false},
        {"/eof 0 /i in /d /c /f /i /eof /p", true, true, "in", EndOfInput::Zero, "/i /eof", true},
        {"/eof keep /f C:\\a /d.b", false, false, "", EndOfInput::Keep, "C:\\a /d.b", false},
        // Quotes: a path with a space, a quote doubled inside quotes, spaces kept at a path's ends.
        {"/i \"sp dir/in put.txt\" /eof KEEP /f \" lead.b \"", false, false, "sp dir/in put.txt", EndOfInput::Keep,
         " lead.b ", false},
        {"/i \"q\"\"uote\" /f \"a\"\"b.b\" /p", false, false, "q\"uote", EndOfInput::Keep, "a\"b.b", true},
        {"/i \"\"\"x\"\"\" /f \"\"\"x\"\"\"", false, false, "\"x\"", EndOfInput::Keep, "\"x\"", false},
        // The dialect's options.
        {"/cells 16 /eof -1 /CLASSIC /f p.b", false, false, "", EndOfInput::AllBits, "p.b", false, 16, true},
        {"/cells 32 /cells 8 /f p.b", false, false, "", EndOfInput::Keep, "p.b", false, 8, false},
    };
    for (const Accepted& a : accepted) {
        pellux::CommandLine line = pellux::parseCommandLine(a.line);
        EXPECT_TRUE(line.valid) << a.line << ": " << line.error;
        EXPECT_EQ(line.debug, a.debug) << a.line;
        EXPECT_EQ(line.check, a.check) << a.line;
        EXPECT_EQ(line.input, a.input) << a.line;
        EXPECT_EQ(line.endOfInput, a.eof) << a.line;
        EXPECT_EQ(line.path, a.path) << a.line;
        EXPECT_EQ(line.pause, a.pause) << a.line;
        EXPECT_EQ(line.cellBits, a.cellBits) << a.line;
        EXPECT_EQ(line.classic, a.classic) << a.line;
    }
    struct Refused { const char* line; const char* error; } refused[] = {
        {"/x /f p.b", "unknown option '/x'"},
        {"/f", ""},  // valid, but no path: the untitled document's case, below
        {"/i", "option /i needs a value"},
        {"/i /f p.b", "option /i needs a value"},
        {"/eof 7 /f p.b", "option /eof takes keep, 0, 255 or -1, not '7'"},
        {"/cells 12 /f p.b", "option /cells takes 8, 16 or 32, not '12'"},
        {"/cells /f p.b", "option /cells needs a value"},
        {"/eof /f p.b", "option /eof needs a value"},
        {"/d /c", "no program was given: /f PROGRAM is missing"},
        {"p.b", "/f is missing before the program 'p.b'"},
        {"/i \"\" /f p.b", "option /i needs a value"},
        {"/\x1b[2J /f p.b", "unknown option '/?[2J'"},  // a refused word is shown on one line
    };
    for (const Refused& r : refused) {
        pellux::CommandLine line = pellux::parseCommandLine(r.line);
        EXPECT_EQ(line.valid, *r.error == 0) << r.line;
        EXPECT_EQ(line.error, r.error) << r.line;
    }
    for (const char* help : {"/?", "-h", "--help", "/d /? /f p.b"})
        EXPECT_TRUE(pellux::parseCommandLine(help).help) << help;
}

// /c finds exactly the bytes the editor's check stops at, however the text is cut into pieces.
TEST(Check, ListsEveryByteTheEditorsCheckRefusesAndEveryUnmatchedBracket) {
    std::mt19937 random(11);
    const char alphabet[] = "+-<>.,[]@&*$ #%\r\nxA\x01\xff\x7f\t";
    for (int round = 0; round < 2000; ++round) {
        std::string text;
        for (int i = random() % 60; i > 0; --i) text += alphabet[random() % (sizeof alphabet - 1)];
        if (round % 7 == 0) text += '\0';
        const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
        // The editor's way: the first invalid byte of what is left, in pieces of any size.
        std::vector<std::size_t> editor;
        SyntaxScanState state;
        for (std::size_t from = 0; from < text.size();) {
            std::size_t piece = std::min<std::size_t>(1 + random() % 8, text.size() - from);
            std::size_t at = scanSyntax(state, bytes + from, piece);
            if (at < piece) editor.push_back(from + at);
            from += at < piece ? at + 1 : piece;
        }
        std::vector<pellux::SourcePosition> expected;
        pellux::SourceWalker walker(bytes, text.size());
        for (std::size_t at : editor) {
            while (walker.at() < at) walker.advance();
            expected.push_back(walker.position());
        }
        std::vector<pellux::Finding> found;
        auto keep = [](void* context, const pellux::Finding& finding) {
            static_cast<std::vector<pellux::Finding>*>(context)->push_back(finding);
        };
        pellux::CheckSummary summary = pellux::checkProgram(bytes, text.size(), syntax::Reading::Extended, keep, &found);
        std::size_t invalid = 0, brackets = 0;
        for (const pellux::Finding& f : found) {
            if (f.kind == pellux::Finding::UnmatchedBracket) { ++brackets; continue; }
            ASSERT_LT(invalid, expected.size()) << text;
            EXPECT_EQ(f.position.line, expected[invalid].line) << text;
            EXPECT_EQ(f.position.column, expected[invalid].column) << text;
            EXPECT_EQ(f.byte, bytes[editor[invalid]]) << text;
            ++invalid;
        }
        EXPECT_EQ(invalid, editor.size()) << text;
        EXPECT_EQ(brackets, pellux::findUnmatchedBrackets(bytes, text.size()).count) << text;
        EXPECT_EQ(summary.findings, found.size());
        for (std::size_t i = 1; i < found.size(); ++i)  // in source order
            EXPECT_TRUE(found[i - 1].position.line < found[i].position.line ||
                        (found[i - 1].position.line == found[i].position.line &&
                         found[i - 1].position.column < found[i].position.column)) << text;
    }
}

TEST_P(Interpreter, RunsTheEightCommandsOnWrappingCells) {
    EXPECT_EQ(runText("++++++++[>++++++++<-]>+.").output, "A");
    EXPECT_EQ(runText("-.").output, "\xff");
    EXPECT_EQ(runText("+[+]+.").output, "\x01");  // 255 steps up wrap to zero
    EXPECT_EQ(runText(",.,.,.", "xy").output, "xyy");  // end of input leaves the cell unchanged
    EXPECT_EQ(runText(",[.,]", std::string("echo\0", 5)).output, "echo");
}

TEST_P(Interpreter, ExtendedSyntaxLinesAndSilentCommands) {
    EXPECT_EQ(runText("%Hello, \"world\"!\r\n+++.").output, "Hello, \"world\"!\x03");
    EXPECT_EQ(runText("# a comment with . and , and [ is skipped\n+.").output, "\x01");
    EXPECT_EQ(runText("@&*$ abc +.").output, "\x01");
    EXPECT_EQ(runText("").output, "");          // an empty file
    EXPECT_EQ(runText("+.%").output, "\x01");   // a string line as the very last byte
    EXPECT_EQ(runText("+.#").output, "\x01");
    EXPECT_EQ(runText("++[>%in a loop\n<-]").output, "in a loopin a loop");
}

TEST_P(Interpreter, PointerLeavingTheTapeIsNamedWithItsPlace) {
    Outcome left = runText("+\n>><<<");
    EXPECT_EQ(left.status, pellux::RunStatus::MovedLeftOfFirstCell);
    EXPECT_EQ(left.position.line, 2u);
    EXPECT_EQ(left.position.column, 5u);

    EXPECT_EQ(runText("[<]").status, pellux::RunStatus::Finished);       // never entered
    // Loops that look like a scan or a clear but visit cells on the way (found by fuzzing).
    EXPECT_EQ(runText("+>++<[>[<<>>>\n]<<]").status, pellux::RunStatus::MovedLeftOfFirstCell);
    EXPECT_EQ(runText(">+[<+[<>-]]").status, pellux::RunStatus::MovedLeftOfFirstCell);
    EXPECT_EQ(runText("[-<+>]").status, pellux::RunStatus::Finished);    // copy loop skipped at cell 0
    // Only the first turn may run the copy loop; the later turns never visit cell -1.
    EXPECT_EQ(runText("+[>[-<<+>>]<+]>[-]").status, pellux::RunStatus::Finished);
    EXPECT_EQ(runText("+[-<+>]").status, pellux::RunStatus::MovedLeftOfFirstCell);
    EXPECT_EQ(runText("+[<]").status, pellux::RunStatus::MovedLeftOfFirstCell);
    EXPECT_EQ(runText("+[>+]", "", 1000).status, pellux::RunStatus::MovedPastLastCell);
    EXPECT_EQ(runText("+[>]", "", 1000).status, pellux::RunStatus::Finished);  // the next cell is zero
    Outcome right = runText(std::string(70000, '>') + "+.", "", 70000);
    EXPECT_EQ(right.status, pellux::RunStatus::MovedPastLastCell);
    EXPECT_EQ(runText(std::string(69999, '>') + "+.", "", 70000).output, "\x01");  // grows to the bound

    // The place is the command that moves off the tape, in every kind of loop; what came before is
    // written. (A tape of 7 cells: 6 moves right reach its last.)
    struct Place { const char* source; pellux::RunStatus status; std::uint32_t column; const char* output; } places[] = {
        {"+[<]", pellux::RunStatus::MovedLeftOfFirstCell, 3, ""},                      // a scan
        {"+>+[<<]", pellux::RunStatus::MovedLeftOfFirstCell, 6, ""},                   // its second step
        {"+>+>+>+>+>+>+<<<<<<[>]", pellux::RunStatus::MovedPastLastCell, 21, ""},      // at the right end
        {"+[-<<<+>>>]", pellux::RunStatus::MovedLeftOfFirstCell, 4, ""},               // a multiply loop
        {">>>>>>+[->>+<<]", pellux::RunStatus::MovedPastLastCell, 10, ""},
        {"+>+<.[.->[-<<+>>]<]", pellux::RunStatus::MovedLeftOfFirstCell, 13, "\x01\x01"},  // a loop inside
        {"+>+.<[>.<<]", pellux::RunStatus::MovedLeftOfFirstCell, 10, "\x01\x01"},      // a block's middle
    };
    for (const Place& place : places) {
        Outcome got = runText(place.source, "", 7);
        EXPECT_EQ(got.status, place.status) << place.source;
        EXPECT_EQ(got.position.column, place.column) << place.source;
        EXPECT_EQ(got.output, place.output) << place.source;
    }
}

// Near 2^31 cells away: a 32-bit address that far from the tape wraps round, on one side or
// the other, to where the tape might lie. The source moves by one cell, so the plain reading
// finds the place only where it too leaves the tape; elsewhere the construct's first command
// is named.
TEST_P(Interpreter, FarMovesLeaveTheTapeWhereverItLies) {
    constexpr std::int32_t kFar = 0x7FFFFFF0;
    struct Case { const char* source; pellux::RunStatus status; std::uint32_t column; } cases[] = {
        {"<", pellux::RunStatus::MovedLeftOfFirstCell, 1}, {">", pellux::RunStatus::MovedPastLastCell, 1},
        {"+[<]", pellux::RunStatus::MovedLeftOfFirstCell, 3}, {"+[>]", pellux::RunStatus::MovedPastLastCell, 2}};
    for (const Case& c : cases) {
        Captured io;
        std::string source = c.source;
        Outcome got = runCompiled(GetParam(), stretched(source, kFar), io);
        EXPECT_EQ(got.status, c.status) << c.source;
        EXPECT_EQ(got.position.column, c.column) << c.source;
    }
}

// The tape grows, and the output buffer fills, in the middle of scans, copy loops and loops.
TEST_P(Interpreter, TapeGrowsAndOutputFlushesWhereverTheyAreNeeded) {
    // 131072 cells that are not zero, so a scan from cell 0 runs off the tape as first grown.
    std::string filled = "-" + repeat(">-", 131071) + std::string(131071, '<');
    EXPECT_EQ(runText(filled + "[>>]+.").output, "\x01");
    EXPECT_EQ(runText(filled + "[>]++.").output, "\x02");
    EXPECT_EQ(runText(filled + "[>>>]+.", "", 131072).status, pellux::RunStatus::MovedPastLastCell);
    Outcome back = runText(filled + ">>[<<<]");
    EXPECT_EQ(back.status, pellux::RunStatus::MovedLeftOfFirstCell);
    EXPECT_EQ(back.position.column, 393220u);  // the third '<' of the scan's turn from cell 2

    std::string far(70000, '>'), home(70000, '<');
    EXPECT_EQ(runText("++[-" + far + "+++" + home + "]" + far + ".").output, "\x06");  // a copy loop's far term
    Outcome past = runText("+[-" + far + "+" + home + "]", "", 70000);
    EXPECT_EQ(past.status, pellux::RunStatus::MovedPastLastCell);
    EXPECT_EQ(past.position.column, 70003u);  // the move that leaves

    std::string pairs = "-[>-[>+.>+.<<-]<-]";  // 130050 bytes: twice the buffer
    ReferenceResult expected = referenceRun(pairs, "", 1 << 16, 10000000);
    Outcome got = runText(pairs);
    EXPECT_EQ(got.output.size(), 130050u);
    EXPECT_EQ(got.output, expected.output);
    EXPECT_EQ(runText("+[>,.<-],.", "ab").output, "ab");
}

// Scans in machine code compare a window of cells with zero at once, with each kind of vector this
// processor has: for every step, at every width, a scan stops at the nearest zero its steps reach,
// passes zeros between its steps and cells whose low bytes are zero, and one that finds none
// leaves the tape where the plain reading says, wherever in a window the tape ends.
TEST(MachineCode, ScansOverWindowsOfCellsStopWhereThePlainScanDoes) {
    if (!machineCodeHere()) GTEST_SKIP() << "no machine code for this processor";
    std::mt19937 random(19);
    int compared = 0;
    for (pellux::Vectors vectors : {pellux::Vectors::None, pellux::Vectors::Sse2, pellux::Vectors::Avx2}) {
        if (vectors > pellux::vectorsOfThisProcessor()) continue;
        for (unsigned width : {1u, 2u, 4u}) {
            pellux::Dialect dialect;
            dialect.cellBytes = width;
            for (int step = -17; step <= 17; ++step) {
                // The zero at each step's cell in turn, over several windows; then none.
                for (int reach = 1; step != 0 && reach <= 41; ++reach) {
                    std::size_t cells = 60 + random() % 100, fromEnd = random() % 16;
                    std::size_t start = step > 0 ? fromEnd : cells - 1 - fromEnd;
                    std::int64_t target = std::int64_t(start) + std::int64_t(reach) * step;
                    bool last = reach == 41;
                    if (!last && (target < 0 || target >= std::int64_t(cells))) continue;
                    std::vector<char> zero(cells, 0);
                    if (!last) zero[static_cast<std::size_t>(target)] = 1;
                    std::int64_t further = target + step * std::int64_t(1 + random() % 4);  // the nearer one counts
                    if (!last && further >= 0 && further < std::int64_t(cells)) zero[static_cast<std::size_t>(further)] = 1;
                    std::size_t between = random() % cells;  // a zero no step reaches
                    if ((std::int64_t(between) - std::int64_t(start)) % step != 0) zero[between] = 1;
                    // 256 and -256 (at 8 bits both 0): a low byte of zero in a cell that is not.
                    std::string low = ">++++++++++++++++[<" + std::string(16, random() % 2 ? '+' : '-') + ">-]<";
                    std::string source;
                    for (std::size_t i = 0; i < cells; ++i) {
                        if (!zero[i]) source += width > 1 && i + 1 < cells && random() % 8 == 0 ? low : "+";
                        if (i + 1 < cells) source += ">";
                    }
                    source += std::string(cells - 1 - start, '<') + "[" + std::string(std::abs(step), step > 0 ? '>' : '<') +
                              "]+.";
                    ReferenceResult expected = referenceRun(source, "", cells, 1000000, ReferenceDialect{dialect.mask()});
                    pellux::Program program =
                        pellux::compile(reinterpret_cast<const unsigned char*>(source.data()), source.size(), dialect);
                    pellux::NativeProgram native;
                    ASSERT_TRUE(native.load(program, nullptr, vectors));
                    Captured io;
                    std::unique_ptr<pellux::Machine> machine =
                        pellux::Machine::make(program, pellux::RunIo{&io, capture, feed}, cells);
                    pellux::RunResult got = machine->runNative(*native.code());
                    machine->flush();
                    std::string what = "step " + std::to_string(step) + " at " + std::to_string(8 * width) +
                                       " bits, vectors " + std::to_string(static_cast<int>(vectors)) + ": " + source;
                    ASSERT_EQ(got.status == pellux::RunStatus::Finished, expected.status == ReferenceResult::Finished)
                        << what;
                    if (expected.status != ReferenceResult::Finished) {
                        ASSERT_EQ(got.position.column, expected.at + 1) << what;
                    }
                    for (std::size_t i = 0; i < expected.tape.size(); ++i) ASSERT_EQ(machine->cell(i), expected.tape[i]) << what;
                    ++compared;
                }
            }
        }
    }
    EXPECT_GE(compared, 34 * 3 * 10);
}

namespace {

// The program run in machine code on a tape of `cells` ends as the reference reading did: the same
// output, the same end at the same column, the same tape.
void expectMachineCodeAgrees(const std::string& source, const pellux::Dialect& dialect, std::size_t cells,
                             const ReferenceResult& expected, const std::string& shown) {
    pellux::Program program =
        pellux::compile(reinterpret_cast<const unsigned char*>(source.data()), source.size(), dialect);
    pellux::NativeProgram native;
    ASSERT_TRUE(native.load(program));
    Captured io;
    std::unique_ptr<pellux::Machine> machine = pellux::Machine::make(program, pellux::RunIo{&io, capture, feed}, cells);
    pellux::RunResult got = machine->runNative(*native.code());
    machine->flush();
    std::string what = shown + " at " + std::to_string(8 * dialect.cellBytes) + " bits";
    ASSERT_EQ(io.output, expected.output) << what;
    ASSERT_EQ(got.status == pellux::RunStatus::Finished, expected.status == ReferenceResult::Finished) << what;
    ASSERT_EQ(got.status == pellux::RunStatus::MovedLeftOfFirstCell, expected.status == ReferenceResult::Left) << what;
    if (expected.status != ReferenceResult::Finished) {
        ASSERT_EQ(got.position.column, expected.at + 1) << what;
    }
    for (std::size_t i = 0; i < expected.tape.size(); ++i) ASSERT_EQ(machine->cell(i), expected.tape[i]) << what;
}

// The same at 8, 16 and 32 bits, where the reference ends within a million steps; counts the runs
// compared and those that ended in a fault.
void expectMachineCodeAgreesAtEveryWidth(const std::string& source, std::size_t cells, int& compared, int& faults) {
    for (unsigned width : {1u, 2u, 4u}) {
        pellux::Dialect dialect;
        dialect.cellBytes = width;
        ReferenceResult expected = referenceRun(source, "", cells, 1000000, ReferenceDialect{dialect.mask()});
        if (expected.status == ReferenceResult::OutOfSteps) continue;
        ASSERT_NO_FATAL_FAILURE(expectMachineCodeAgrees(source, dialect, cells, expected, source));
        faults += expected.status != ReferenceResult::Finished;
        ++compared;
    }
}

} // namespace

// A loop that drifts and holds no loop runs its later turns in a second copy that checks only the
// cells each turn newly reaches: random such loops, at every width, that stop, or leave the tape at
// either end in a later turn, in the middle of a multiply loop or of the turn, give the plain
// reading's output, end, place and cells; one whose writes fill the output buffer, and whose
// tape must grow, more than once in the copy, gives the same output too.
TEST(MachineCode, LaterTurnsOfDriftingLoopsAgreeWithThePlainReading) {
    if (!machineCodeHere()) GTEST_SKIP() << "no machine code for this processor";
    std::mt19937 random(2019);
    const char* pieces[] = {"+", "-", "++", "---", ">", "<", ">>>", "<<", ".", "[-]", "[->+<]", "[->>++<<]",
                            "[-<+>]", "[-<<<->>>]", "[->[-]+++<]", "[--->+<]", "[->>>>>>>>>>+<<<<<<<<<<]"};
    constexpr int kPieces = sizeof pieces / sizeof *pieces;
    int compared = 0, faults = 0;
    for (int round = 0; round < 1500; ++round) {
        std::size_t cells = 20 + random() % 60;
        std::string source;
        for (std::size_t i = 0; i + 1 < cells; ++i) source += std::string(random() % 3, '+') + ">";
        // A scan that does not move leaves the machine code knowing the tape on one side only.
        source += std::string(random() % cells, '<') + (random() % 2 ? "[-][<]+[" : "[-][>]+[");
        int net = 0;
        for (int i = 1 + random() % 6; i > 0; --i) {
            std::string piece = pieces[random() % kPieces];
            net += piece == ">" ? 1 : piece == "<" ? -1 : piece == ">>>" ? 3 : piece == "<<" ? -2 : 0;
            source += piece;
        }
        int drift = 1 + random() % 10;
        if (random() % 2) drift = -drift;
        source += std::string(std::abs(drift - net), drift > net ? '>' : '<');
        source += random() % 3 ? "+]" : "]";  // keeps going to the tape's end, or stops on a zero
        source += ".";
        ASSERT_NO_FATAL_FAILURE(expectMachineCodeAgreesAtEveryWidth(source, cells, compared, faults));
    }
    EXPECT_GT(compared, 3000);
    // 200,000 turns that each write a byte: the buffer fills three times, the tape grows twice, in
    // the copy's turns, and the machine resumes in the first copy each time.
    std::string writes = "+>>+<<[>>]+[.<->[-<<++>>]>+]";
    ReferenceResult expected = referenceRun(writes, "", 200000, 10000000);
    ASSERT_EQ(expected.status, ReferenceResult::Right);
    pellux::Program program = compileText(writes);
    pellux::NativeProgram native;
    ASSERT_TRUE(native.load(program));
    Captured io;
    std::unique_ptr<pellux::Machine> machine = pellux::Machine::make(program, pellux::RunIo{&io, capture, feed}, 200000);
    pellux::RunResult got = machine->runNative(*native.code());
    machine->flush();
    EXPECT_EQ(got.status, pellux::RunStatus::MovedPastLastCell);
    EXPECT_EQ(got.position.column, expected.at + 1);
    EXPECT_TRUE(io.output == expected.output) << io.output.size() << " bytes written, not " << expected.output.size();
    for (std::size_t i = 0; i < expected.tape.size(); ++i) ASSERT_EQ(machine->cell(i), expected.tape[i]) << i;
}

// Count downs test their cell after each step; the cells they add to again and again are held in
// registers along the way. Random ones, some with a far move inside that makes the tape grow (the
// machine resumes the code where registers hold cells) or leaves it, agree at every width with the
// plain reading.
TEST(MachineCode, CountDownsHeldInRegistersAgreeWithThePlainReading) {
    if (!machineCodeHere()) GTEST_SKIP() << "no machine code for this processor";
    std::mt19937 random(77);
    int compared = 0, faults = 0;
    for (int round = 0; round < 300; ++round) {
        bool nearGrowth = round % 2 == 0;  // the tape first grows at cell 65536
        std::size_t limit = nearGrowth ? 70000 : 60 + random() % 60;
        std::string source = nearGrowth ? std::string(65450, '>') : "";
        int counters = 1 + random() % 4;
        for (int i = 0; i < counters; ++i) source += std::string(1 + random() % 40, '+') + ">>>";
        source += std::string(3 * counters, '<') + "[";
        std::string close;
        for (int level = 2 + random() % 9; level > 0; --level) {
            source += random() % 2 ? "->+<" : "->-<";
            if (random() % 3 == 0) source += ">>+<<";
            if (random() % 5 == 0) {
                std::size_t far = 30 + random() % 70;
                source += std::string(far, '>') + "+" + std::string(far, '<');
            }
            source += "[";
            close += "]";
        }
        source += random() % 2 ? "[-]" + close : "[->>+<<]" + close;
        source += ">>>]<.<.<.";
        for (unsigned width : {1u, 2u, 4u}) {
            pellux::Dialect dialect;
            dialect.cellBytes = width;
            ReferenceResult expected = referenceRun(source, "", limit, 10000000, ReferenceDialect{dialect.mask()});
            ASSERT_NE(expected.status, ReferenceResult::OutOfSteps);
            ASSERT_NO_FATAL_FAILURE(
                expectMachineCodeAgrees(source, dialect, limit, expected, source.substr(nearGrowth ? 65450 : 0)));
            faults += expected.status != ReferenceResult::Finished;
            ++compared;
        }
    }
    EXPECT_EQ(compared, 900);
    EXPECT_GT(faults, 30);
}

// A straight loop that drifts starts its first turn with the registers that mirror cells for the
// code before it; its later turns run in a copy (one that knows what every turn knows, where the
// usual one does not pay), and the machine resumes its first turn through a stub that loads them
// again. Random such loops, after adds to a cell their turn adds to again, with cells cleared ahead
// of them that only the first turn finds zero, agree at every width with the plain reading, also
// where they leave the tape.
TEST(MachineCode, StraightLoopsEnteredWithMirrorsAgreeWithThePlainReading) {
    if (!machineCodeHere()) GTEST_SKIP() << "no machine code for this processor";
    std::mt19937 random(4242);
    const char* pieces[] = {"+", "-", "++", ">+<", "<-->", ">>-<<", ">[-]<", "<+>", "[-]+"};
    constexpr int kPieces = sizeof pieces / sizeof *pieces;
    const char* moves[] = {">", ">>", "<", "<<<"};
    int compared = 0, faults = 0;
    for (int round = 0; round < 500; ++round) {
        // Past the checks' reach, so that the machine code runs; or where the tape first grows, at
        // cell 65536, in a later turn: the machine resumes the first turn's code there.
        bool growing = round % 4 == 0;
        std::size_t cells = growing ? 65700 : 100 + random() % 50;
        // Values the translation cannot know, then cells it knows to be zero ahead.
        std::string source = std::string(growing ? 65500 : 3, '>') + std::string(1 + random() % 6, '+') +
                             "[>+>++>+++<<<-]>";
        if (random() % 2) source += ">>[-]>[-]<<<";
        source += std::string(1 + random() % 3, '+') + "[";
        for (int i = 1 + random() % 4; i > 0; --i) source += pieces[random() % kPieces];
        source += growing ? (random() % 2 ? ">>+<>" : ">+>+<") : moves[random() % 4];  // a growing one goes on to the tape's end
        source += "]>.<<.";
        ASSERT_NO_FATAL_FAILURE(expectMachineCodeAgreesAtEveryWidth(source, cells, compared, faults));
    }
    EXPECT_GT(compared, 1000);
    EXPECT_GT(faults, 20);
}

// Loops whose cell is zero wherever their turn ends turn at most once: what is known of the tape on
// both ways past them, a jump back left out where the cell was last cleared further back, and an
// add moved past the moves to the loop that tests its cell. Random nests of such loops, with
// adds to the cell after its clear and cells changed between, agree at every width with the plain
// reading, also where they leave the tape.
TEST(MachineCode, LoopsThatTurnAtMostOnceAgreeWithThePlainReading) {
    if (!machineCodeHere()) GTEST_SKIP() << "no machine code for this processor";
    std::mt19937 random(1131);
    const char* pieces[] = {"+", "-", ">", "<", ">>", "<<", "[-]", "[->+<]", "[[-]>+<]", "[>+<[-]]", "[[-]>+<-]",
                            ">[<+>[-]]<", "[-]+", ".", "[[-]+>[<->-]<]", ">[-]<[>+<[-]]>+<", "->>-[<+>[-]]<<",
                            "+>-[<->[-]>+<]<", ">>[-]<<[>[-]]>>+<<", "[-]>[-]>[-]<<[>+<[-]]>[<+>-]>+<<"};
    constexpr int kPieces = sizeof pieces / sizeof *pieces;
    int compared = 0, faults = 0;
    for (int round = 0; round < 600; ++round) {
        std::size_t cells = 100 + random() % 50;  // past the checks' reach: the machine code runs
        std::string source = std::string(random() % 4, '>');
        for (int i = 0; i < 6; ++i) source += std::string(random() % 4, '+') + ">";
        source += "<<<<<<" + std::string(1 + random() % 5, '+') + "[";
        for (int i = 2 + random() % 8; i > 0; --i) source += pieces[random() % kPieces];
        source += random() % 2 ? "-]" : "[-]]";
        source += ">.>.<<.";
        ASSERT_NO_FATAL_FAILURE(expectMachineCodeAgreesAtEveryWidth(source, cells, compared, faults));
    }
    EXPECT_GT(compared, 1000);
    EXPECT_GT(faults, 50);
}

// A multiply loop that moves its counter as it is into a cleared cell leaves eax holding that
// cell: a test of it soon after, or another multiply loop that counts it down, reads eax instead.
// Random runs of such loops, between adds that keep cells in eax and edx, with loops that do them
// at most once and straight loops that drift, agree at every width with the plain reading; also
// where the tape grows between them (the machine resumes the code where eax holds a cell) or
// where they leave it.
TEST(MachineCode, CountersMovedAndTestedSoonAfterAgreeWithThePlainReading) {
    if (!machineCodeHere()) GTEST_SKIP() << "no machine code for this processor";
    std::mt19937 random(2612);
    // Each moves its counter into cells it first clears, then (mostly) goes there.
    const char* pieces[] = {">[-]<[->+<]>", ">>[-]<<[->>+<<]>>", "<[-]>[-<+>]<", ">[-]>[-]<<[->+>+<<]>",
                            ">[-]<[->-<]>", ">[-]<[->++<]>", ">[-]<[+>+<]>", ">[-]<[->+<]>[<+>[-]]<",
                            "[>[-]<[->+<]>]", "-<->-", ">-<-", "+", "-", "<", ">", ".", "["};
    constexpr int kPieces = sizeof pieces / sizeof *pieces;
    int compared = 0, faults = 0;
    for (int round = 0; round < 500; ++round) {
        bool growing = round % 4 == 0;  // the tape first grows at cell 65536
        std::size_t cells = growing ? 65800 : 100 + random() % 50;
        // Values the translation cannot know, then the pieces.
        std::string source = std::string(growing ? 65450 : 3, '>') + std::string(1 + random() % 6, '+') +
                             "[>+>++>+++<<<-]>";
        int open = 0;
        for (int i = 2 + random() % 10; i > 0; --i) {
            int which = static_cast<int>(random() % (kPieces + 1));
            if (which == kPieces) {  // a turn reaching past the checks' reach: its check may grow the tape
                std::size_t far = 30 + random() % 70;
                source += ">[-]<[->+<]>[<+>" + std::string(far, '>') + "+" + std::string(far, '<') + "[-]]";
                continue;
            }
            const char* piece = pieces[which];
            open += piece[0] == '[' && piece[1] == 0;
            source += piece;
            if (open > 0 && random() % 4 == 0) {
                source += "]";
                --open;
            }
        }
        source += std::string(static_cast<std::size_t>(open), ']') + ">.<<.";
        ASSERT_NO_FATAL_FAILURE(expectMachineCodeAgreesAtEveryWidth(source, cells, compared, faults));
    }
    EXPECT_GT(compared, 1000);
    EXPECT_GT(faults, 20);
}

// Mirrors kept past multiply loops. Where cells are held in registers over a run of them, the
// run's first loop takes its counter from eax when eax mirrors it as the run begins, and eax
// mirrors a cleared cell a loop moved its counter into once the run ends; elsewhere edx goes on
// mirroring its cell through loops that leave edx alone, so that an add whose cell's next use
// lies past one keeps it in edx (eax holding another). Each source starts with a loop the
// translation cannot see through; at every width they agree with the plain reading where eax was
// taken by an earlier loop of the run, where the mirrored cell was cleared in the run, where the
// counter held in a register went past the cell's width (255 + 1, then tested by a loop that sets
// a cell), where the mirrors are used as they should be; and, in loops that turn once so that no
// jump lands between, where a loop adds to the cell edx mirrors, multiplies in edx, or counts
// that cell down before it is added to.
TEST(MachineCode, MirrorsKeptPastMultiplyLoopsAgreeWithThePlainReading) {
    if (!machineCodeHere()) GTEST_SKIP() << "no machine code for this processor";
    const std::string unseen = "+++++[>+++<-.]>";  // 15 in cell 1, the pointer there
    // The loop on cell 1 moves it into cell 2, which eax then mirrors.
    const std::string mirrored = unseen + ">[-]<[->+>[-]+<<]";
    const std::string twice = ">>>>>>+>+>+>+<<<<<<<<<";  // four cells added to: four registers taken
    const std::string three = "+++++[>+++>++>+<<<-.]>";  // 15, 10 and 5 in cells 1 to 3
    const std::string sources[] = {
        mirrored + ">>>[->+<]<<[->>>>+<<<<]>>>>>+<<<<<>>>>>+<<<<<>>>>.<<<.",
        mirrored + twice + twice + ">[-][->>>>+<<<<]>>>>.",
        mirrored + ">[->>>>+<<<<]>>>>>+<<<<<>>>>>+<<<<<>>>>.<<<<.",
        unseen + "[>+++++++++++++++++<-]>>>>>+>+>+<<<<<<<>>>>>+>+>+<<<<<<<>>[-]<+[->+<]>[->+>[-]+<<]>>.",
        three + "->-<>->>>>+[<<<<<[->+>>>+<<<<]>>>>>[<<<<[->>>+<<<]>>>>[-]]]<.<<<<.",
        three + "->-<>->>>>+[<<<<<[->>++<<]>>>>>[<<<<[->>>+<<<]>>>>[-]]]<.<<<<.",
        three + "->-<->->>>>+[<<<<[->>+<<]>>>>[<<<<+>>>>[-]]]<<<<.",
    };
    int compared = 0, faults = 0;
    for (const std::string& source : sources)
        ASSERT_NO_FATAL_FAILURE(expectMachineCodeAgreesAtEveryWidth(source, 100, compared, faults));
    EXPECT_EQ(compared, 21);
}

// A loop whose turn clears the cell it ends on, then runs an inner loop, does not go round again
// only where that inner loop leaves the cell alone and its turns come back where they began. Random
// such loops, with inner loops that add to the cell, move on each turn, or leave it be, on either
// side of it, and some that clear other cells but not that one, agree at every width with the plain
// reading, also where they leave the tape.
TEST(MachineCode, LoopsEndingOnACellClearedBeforeAnInnerLoopAgreeWithThePlainReading) {
    if (!machineCodeHere()) GTEST_SKIP() << "no machine code for this processor";
    std::mt19937 random(909);
    // From the cell right of the cleared one; each mirrored for the left side.
    const char* inner[] = {"[-<+>.]", "[-.]", "[.>]", "[->+<.]", "[-<+>]", "[[-].]", "[-<<+>>.]", "[<.>-]"};
    constexpr int kInner = sizeof inner / sizeof *inner;
    int compared = 0, faults = 0;
    for (int round = 0; round < 1000; ++round) {
        std::size_t cells = 40 + random() % 40;
        std::string source = ">>" + std::string(1 + random() % 5, '+') + "[>+>++>+++>+<<<<-]" +
                             std::string(random() % 6, '>') + std::string(random() % 3, '+') + "[-";
        // Other cells made zero too, some where a wrong reckoning of the moves would look.
        const char* clears[] = {"", "<[-]>", ">>[-]<<", "<<<<[-]>>>>", "<<<<<<[-]>>>>>>", "<<<<<<<<[-]>>>>>>>>"};
        std::string body = std::string(random() % 3, '>') + (random() % 2 ? ">[-]" : ">") + clears[random() % 6] + ">" +
                           inner[random() % kInner];
        if (random() % 3 == 0) body += std::string(random() % 3, '+') + inner[random() % kInner];
        body += "<";
        if (random() % 2) {  // the other side
            for (char& c : body) c = c == '<' ? '>' : c == '>' ? '<' : c;
        }
        source += body + "]>.<<.";
        ASSERT_NO_FATAL_FAILURE(expectMachineCodeAgreesAtEveryWidth(source, cells, compared, faults));
    }
    EXPECT_GT(compared, 2500);
    EXPECT_GT(faults, 50);
}

// Each '.' was an operation of its own: a big file of them took gigabytes.
TEST_P(Interpreter, RunsOfOutputAndInputAreOneOperationWithTheSameEffect) {
    std::string dots(100000, '.');
    EXPECT_LT(pellux::compile(reinterpret_cast<const unsigned char*>(dots.data()), dots.size()).code.size(), 4u);
    EXPECT_EQ(runText("+" + dots).output, std::string(100000, '\x01'));
    // Short runs meet the buffer's end at every place in it.
    std::string threes = "-[>-[>...>.....<<-]<-]";
    EXPECT_EQ(runText(threes).output, referenceRun(threes, "", 1 << 16, 100000000).output);
    Outcome cut = runText("+.<>.");  // the move between leaves the tape: one byte only
    EXPECT_EQ(cut.output, "\x01");
    EXPECT_EQ(cut.status, pellux::RunStatus::MovedLeftOfFirstCell);
    EXPECT_EQ(runText(",,,.", "ab").output, "b");
    EXPECT_EQ(runText(",, # two\n,.+.", "xyz").output, "z{");
}

// ',' at the end of input: the cell kept, or 0 or 255 stored, also by a run of ','.
TEST_P(Interpreter, EndOfInputKeepsTheCellOrStoresTheChosenValue) {
    for (int value : {-1, 0, 255}) {
        Captured io;
        io.input = "a";
        io.endOfInput = value;
        std::string expected = value < 0 ? "aa" : std::string("a") + static_cast<char>(value);
        EXPECT_EQ(runText(",.,.", io).output, expected) << value;
        Captured many;
        many.endOfInput = value;
        EXPECT_EQ(runText("+++>+++<,,,.>,,.", many).output, value < 0 ? "\x03\x03" : expected.substr(1) + expected[1])
            << value;
    }
    // At every width: keep, 0, 255, and every bit set (-1 on the command line).
    const std::string source = "+++>++++<,>,,";
    for (unsigned width : {1u, 2u, 4u}) {
        pellux::Dialect dialect;
        dialect.cellBytes = width;
        pellux::Program program =
            pellux::compile(reinterpret_cast<const unsigned char*>(source.data()), source.size(), dialect);
        pellux::NativeProgram native;
        if (GetParam() == Engine::Native) native.load(program);
        for (std::int64_t value : {std::int64_t(-1), std::int64_t(0), std::int64_t(255), std::int64_t(0xFFFFFFFF)}) {
            Captured io;
            std::unique_ptr<pellux::Machine> machine =
                pellux::Machine::make(program, pellux::RunIo{&io, capture, feed, true, value}, 16);
            ASSERT_EQ((native.code() ? machine->runNative(*native.code()) : machine->run()).status,
                      pellux::RunStatus::Finished);
            std::uint32_t stored = value == -1 ? 3 : static_cast<std::uint32_t>(value) & dialect.mask();
            EXPECT_EQ(machine->cell(0), stored) << value << " at " << 8 * width << " bits";
            EXPECT_EQ(machine->cell(1), value == -1 ? 4 : stored) << value << " at " << 8 * width << " bits";
        }
    }
}

// The classic reading: every byte but the eight commands is a comment, a '%' and a '#' in prose too;
// positions are counted as in the extended reading.
TEST_P(Interpreter, TheClassicReadingTakesEveryOtherByteForAComment) {
    const std::string source = "Prints A: 100% sure, see #3.\n++++++++[>++++++++<-]>+.# [-] clears it <<";
    pellux::Dialect classic;
    classic.reading = syntax::Reading::Classic;
    const auto* bytes = reinterpret_cast<const unsigned char*>(source.data());
    ASSERT_TRUE(pellux::findUnmatchedBrackets(bytes, source.size(), pellux::kUnmatchedListed, classic.syntax()).empty());
    pellux::Program program = pellux::compile(bytes, source.size(), classic);
    pellux::NativeProgram native;
    if (GetParam() == Engine::Native) native.load(program);
    Captured io;
    pellux::RunResult result = pellux::run(program, pellux::RunIo{&io, capture, feed}, pellux::kTapeLimitCells,
                                           native.code());
    EXPECT_EQ(io.output, std::string("\0A", 2));  // the prose's ',' and '.' read nothing and write 0
    EXPECT_EQ(result.status, pellux::RunStatus::MovedLeftOfFirstCell);
    EXPECT_EQ(result.position.line, 2u);
    EXPECT_EQ(result.position.column, 42u);  // the second '<' of the last two
    // Read as the extended syntax, the same text is a string line, then a program with a comment.
    Captured extended;
    EXPECT_EQ(runText(source, extended).output, " sure, see #3.A");
}

// A stop place of the debugger ends a run there on both engines, with what came before written.
TEST_P(Interpreter, AStopPlaceEndsTheRunThereWithWhatCameBeforeWritten) {
    const std::string source = "+.%a\n++[.-]+.";
    pellux::Places places{{source.find('[') + 1}, {true}};
    pellux::Program program =
        pellux::compile(reinterpret_cast<const unsigned char*>(source.data()), source.size(), {}, 1 << 20, &places);
    pellux::NativeProgram native;
    if (GetParam() == Engine::Native) native.load(program);
    Captured io;
    pellux::RunResult result = pellux::run(program, pellux::RunIo{&io, capture, feed}, 1 << 16, native.code());
    EXPECT_EQ(result.status, pellux::RunStatus::Stopped);
    EXPECT_EQ(io.output, "\x01" "a");
}

// The compiled form grows with the operations, not the bytes, and stops at its limit.
TEST(Compile, StopsAtTheLimitOnItsSize) {
    auto compile = [](const std::string& text, std::size_t limit) {
        return pellux::compile(reinterpret_cast<const unsigned char*>(text.data()), text.size(), {}, limit);
    };
    EXPECT_TRUE(compile(repeat("+.", 100000), 1 << 16).tooLarge);
    EXPECT_TRUE(compile(std::string(100000, '[') + std::string(100000, ']'), 1 << 16).tooLarge);
    // A string line's text, like a comment, stays in the source.
    EXPECT_FALSE(compile("%" + std::string(1 << 20, 'x') + "\n#" + std::string(1 << 20, 'x') + "\n" +
                             std::string(1 << 20, '.'), 1 << 16).tooLarge);
    EXPECT_FALSE(compile(repeat("+.", 100), 1 << 16).tooLarge);
}

// Output that could not be written was dropped, and `+[.]` went on forever.
TEST_P(Interpreter, AFailedWriteEndsTheRunAndNothingIsWrittenAfter) {
    for (const char* source : {"+[.]", "+[%again\n]", "+.", "+.>>,", "+.<"}) {
        Captured io;
        io.writesThatWork = 0;
        EXPECT_EQ(runText(source, io).status, pellux::RunStatus::OutputFailed) << source;
        EXPECT_EQ(io.writes, 1) << source;
    }
    Captured io;
    io.writesThatWork = 1;  // the first buffer goes out, the second fails
    Outcome half = runText("+[.]", io);
    EXPECT_EQ(half.status, pellux::RunStatus::OutputFailed);
    EXPECT_EQ(half.output.size(), 65536u);
}

// Copying through a program flushed before every byte read: one write per byte.
TEST_P(Interpreter, OutputIsFlushedBeforeReadsOnlyWhenAsked) {
    std::string input(100000, 'x');
    input += '\0';
    Captured piped;
    piped.input = input;
    EXPECT_EQ(runText(",[.,]", piped, false).output, input.substr(0, 100000));
    EXPECT_EQ(piped.writes, 2);  // a full buffer, then the rest at the end

    Captured typed;
    typed.input = "ab";
    EXPECT_EQ(runText("%name?\n,.,.", typed, true).output, "name?ab");
    EXPECT_EQ(typed.readsAt, (std::vector<std::size_t>{5, 6}));  // the prompt is out before each read
}

TEST(Brackets, UnmatchedOnesAreEachNamedBeforeAnythingRuns) {
    std::string source = "]+\n[[-]\n%[ in a string\n#] in a comment\n]]";
    auto errors = pellux::findUnmatchedBrackets(reinterpret_cast<const unsigned char*>(source.data()), source.size());
    ASSERT_EQ(errors.first.size(), 2u);
    EXPECT_EQ(errors.count, 2u);
    EXPECT_EQ(errors.first[0].bracket, ']');
    EXPECT_EQ(errors.first[0].position.line, 1u);
    EXPECT_EQ(errors.first[0].position.column, 1u);
    EXPECT_EQ(errors.first[1].bracket, ']');
    EXPECT_EQ(errors.first[1].position.line, 5u);
    EXPECT_EQ(errors.first[1].position.column, 2u);

    std::string opens = "[[]";
    errors = pellux::findUnmatchedBrackets(reinterpret_cast<const unsigned char*>(opens.data()), opens.size());
    ASSERT_EQ(errors.first.size(), 1u);
    EXPECT_EQ(errors.first[0].bracket, '[');
    EXPECT_EQ(errors.first[0].position.column, 1u);
}

// A file of brackets once made a list, and a message, for each one.
TEST(Brackets, ManyUnmatchedAreCountedAndOnlyTheFirstListed) {
    auto find = [](const std::string& text, std::size_t listed) {
        return pellux::findUnmatchedBrackets(reinterpret_cast<const unsigned char*>(text.data()), text.size(), listed);
    };
    pellux::UnmatchedBrackets closes = find(std::string(1000000, ']'), 20);
    EXPECT_EQ(closes.count, 1000000u);
    ASSERT_EQ(closes.first.size(), 20u);
    EXPECT_EQ(closes.first[19].position.column, 20u);

    // The unmatched '[' are the last to open each level that never closes again.
    pellux::UnmatchedBrackets opens = find("[[]\n[[[]][\n]", 3);
    EXPECT_EQ(opens.count, 2u);
    ASSERT_EQ(opens.first.size(), 2u);
    EXPECT_EQ(opens.first[0].position.line, 1u);
    EXPECT_EQ(opens.first[0].position.column, 1u);
    EXPECT_EQ(opens.first[1].position.line, 2u);
    EXPECT_EQ(opens.first[1].position.column, 1u);

    pellux::UnmatchedBrackets mixed = find("[]][[][" + std::string(1000000, '['), 3);
    EXPECT_EQ(mixed.count, 1000003u);
    ASSERT_EQ(mixed.first.size(), 3u);
    EXPECT_EQ(mixed.first[0].bracket, ']');
    EXPECT_EQ(mixed.first[0].position.column, 3u);
    EXPECT_EQ(mixed.first[1].position.column, 4u);
    EXPECT_EQ(mixed.first[2].position.column, 7u);
}

TEST_P(Interpreter, DeepNestingAndBinaryBytes) {
    std::string deep = "+" + std::string(100000, '[') + "-" + std::string(100000, ']') + "+.";
    EXPECT_EQ(runText(deep).output, "\x01");
    std::string binary;
    for (int c = 0; c < 256; ++c) binary += static_cast<char>(c);
    binary = "+++." + binary;  // holds '#', '%' and brackets in order: '[' before ']'
    auto bytes = reinterpret_cast<const unsigned char*>(binary.data());
    if (pellux::findUnmatchedBrackets(bytes, binary.size()).empty()) {
        ReferenceResult expected = referenceRun(binary, "", pellux::kTapeLimitCells, 1000000);
        EXPECT_EQ(runText(binary).output, expected.output);
    }
}

// The same output, end, place of a fault and cells as the plain reference, at the width; false
// when the reference runs out of steps and nothing was compared.
bool expectAsReference(Engine engine, const std::string& source, unsigned width, const std::string& input,
                       std::size_t tape) {
    pellux::Dialect dialect;
    dialect.cellBytes = width;
    Captured io;
    io.input = input;
    ReferenceResult expected = referenceRun(source, io.input, tape, 200000, ReferenceDialect{dialect.mask()});
    if (expected.status == ReferenceResult::OutOfSteps) return false;
    const auto* bytes = reinterpret_cast<const unsigned char*>(source.data());
    pellux::Program program = pellux::compile(bytes, source.size(), dialect);
    pellux::NativeProgram native;
    if (engine == Engine::Native) native.load(program);
    std::unique_ptr<pellux::Machine> machine = pellux::Machine::make(program, pellux::RunIo{&io, capture, feed}, tape);
    pellux::RunResult got = native.code() ? machine->runNative(*native.code()) : machine->run();
    machine->flush();
    EXPECT_EQ(io.output, expected.output) << source << " at " << 8 * width << " bits";
    pellux::RunStatus status = expected.status == ReferenceResult::Finished ? pellux::RunStatus::Finished
                               : expected.status == ReferenceResult::Left ? pellux::RunStatus::MovedLeftOfFirstCell
                                                                         : pellux::RunStatus::MovedPastLastCell;
    EXPECT_EQ(got.status, status) << source << " at " << 8 * width << " bits";
    if (status != pellux::RunStatus::Finished && got.status == status) {
        EXPECT_EQ(got.position.column, pellux::positionOf(bytes, source.size(), expected.at).column) << source;
    }
    for (std::size_t i = 0; i < expected.tape.size(); ++i)
        if (machine->cell(i) != expected.tape[i]) {
            ADD_FAILURE() << source << " cell " << i << " at " << 8 * width << " bits";
            break;
        }
    return true;
}

// Random programs, mostly of loops the optimiser rewrites, against the plain reading.
// Random programs made of the idioms, at every cell width: the same output, end, place of a fault
// and cells as the plain reference.
TEST_P(Interpreter, AgreesWithTheReferenceOnRandomProgramsAtEveryWidth) {
    std::mt19937 random(2026);
    const char* pieces[] = {"+", "-", ">", "<", ".", ",", "[-]", "[->+<]", "[->>++<<]", "[-<+>]", "[>]", "[<]",
                            "[>>]", "+++", "---", ">>", "<<", "%str\n", "#c\n", "[+>-<]", "[-<<->>]", "[--]",
                            "[->[-]+++<]", "[->++[->+<]<]", "[>+++[->++<]<-]", "[-<[-]>]", "[--->+<]", "+++[--->-<]",
                            "[+++>++<]",
                            // loops that hold only idioms: of known turns, of turns not known within the
                            // body's own cells or past them, and a set that happens only if its loop turns
                            "[>[-]+<-]", "[>+++[>++[-]<-]<-]", "[>[->+<]>[-]<<-]", "[>[->>+<<]<-]",
                            "[>[->>+<<]>[-]+++[->[-]<]<<-]", "[>[-<<<<<<<<>>>>>>>>>+<]>[-]<<-]",
                            "[>>[->+<]<[->[-]+++<][-]+<-]", "[<[-]>-]"};
    constexpr int kPieces = sizeof pieces / sizeof *pieces;
    constexpr std::size_t kTape = 1 << 16;
    int compared = 0;
    for (int round = 0; round < 3000; ++round) {
        std::string source = ">>>>";
        int depth = 0;
        int length = 1 + random() % 40;
        for (int i = 0; i < length; ++i) {
            int pick = random() % (kPieces + 4);
            if (pick < kPieces) source += pieces[pick];
            else if (pick < kPieces + 2) { source += "["; ++depth; }
            else if (depth > 0) { source += "]"; --depth; }
        }
        source.append(depth, ']');
        for (unsigned width : {1u, 2u, 4u}) {
            if (!expectAsReference(GetParam(), source, width, "\x05\x10\x01", kTape)) continue;
            ASSERT_FALSE(HasFailure()) << source;
            ++compared;
        }
    }
    EXPECT_GT(compared, 5000);
}

// Loops whose turns are all done at once because the cells they count with are known to hold zero
// where their turns begin: a nest of known counts inside a loop that writes, and one that leaves
// the tape inside; next to loops where such a cell is zero on the first turn only (by an outer
// loop's later turns, or by the loop's own later turns, done at once), was read, or lies past a
// scan. The same as the plain reading at every width.
TEST_P(Interpreter, LoopsDoneAtOnceOnWhatIsKnownAgreeWithThePlainReading) {
    const char* programs[] = {
        "++++[>++++++++++[>++++++++++[>++++++++++[>++++++++++[-]<-]<-]<-]<.-]",
        "++[>++[<<<[-]>>>-]<-]",
        "+++[>+[>[->>+<<]<-]>+<<-]>>>>.",
        ">>,<<+[>++[>[->+<]<-]<-]>>>.",
        "+>+>>>+++++++<<<<[>]+[>>[->+<]<<-]>>>.",
        "+++[>[->+<]>+<<-]>>.",
    };
    for (const char* program : programs)
        for (unsigned width : {1u, 2u, 4u}) EXPECT_TRUE(expectAsReference(GetParam(), program, width, "\x05", 1 << 16));
}

// Whether a nest may be done at once is first asked of what the code right before it leaves: a
// cell set there to other than zero that the nest does not count with, or one it counts with
// cleared there, must not keep it a loop.
TEST(Compile, NestsOfKnownCountsAreDoneAtOnceNextToCellsSetBeforeThem) {
    const char* nests[] = {"++[>++[<<<[-]>>>-]<-]", ">>>>>>>>[-]+<<<<<<<<++[>++[<<<[-]>>>-]<-]",
                           "<<[-]+>>++[>++[<<<[-]>>>-]<-]", "[-]++<[-]->[>++[<<<[-]>>>-]<-]",
                           "+[>+<-]>>[-]<[>++[<<<[-]>>>-]<-]"};
    for (const char* nest : nests) {
        pellux::Program program = compileText(std::string(">>>") + nest);
        bool loops = false;
        for (const pellux::Instruction& in : program.code) loops = loops || in.op == pellux::OpCode::JumpIfZero;
        EXPECT_FALSE(loops) << nest << "\n" << pellux::listing(program);
        EXPECT_TRUE(expectAsReference(Engine::Native, std::string(">>>") + nest, 1, "", 1 << 16)) << nest;
    }
}

TEST_P(Interpreter, BenchmarkProgramsGiveTheirExpectedOutput) {
    const std::string dir = PELLUX_BENCH_DIR;
    struct Case { const char* program; const char* input; } cases[] = {
        {"bench.b", nullptr}, {"hanoi.b", nullptr}, {"long.b", nullptr}, {"factor.b", "factor179.in"}};
    for (const Case& c : cases) {
        std::string source = readFile(dir + "/" + c.program);
        // CI always has them: there, a missing program is a failure, not a skip.
        if (source.empty() && std::getenv("CI")) FAIL() << "no benchmark programs at " << dir;
        if (source.empty()) GTEST_SKIP() << "no benchmark programs at " << dir;
        std::string input = c.input ? readFile(dir + "/" + c.input) : "";
        std::string expected = c.input ? "179424691: 179424691\n" : readFile(dir + "/" + c.program + ".out");
        EXPECT_EQ(runText(source, input).output, expected) << c.program;
    }
}

INSTANTIATE_TEST_SUITE_P(Engines, Interpreter, testing::Values(Engine::Portable, Engine::Native),
                         [](const testing::TestParamInfo<Engine>& info) {
                             return info.param == Engine::Portable ? "Portable" : "Native";
                         });

namespace {

struct DebugRun {
    Captured io;
    pellux::Session session;
    using Write = bool (*)(void* context, const unsigned char* bytes, std::size_t size);
    explicit DebugRun(const std::string& source, const std::string& input = "\x05\x10\x01", Write write = capture)
        : io(withInput(input)),
          session(reinterpret_cast<const unsigned char*>(source.data()), source.size(),
                  pellux::RunIo{&io, write, feed, true, -1}, 1 << 16) {}
    static Captured withInput(const std::string& input) {
        Captured io;
        io.input = input;
        return io;
    }
    std::string tape() const {
        std::string cells(1 << 16, '\0');
        for (std::size_t i = 0; i < cells.size(); ++i) cells[i] = static_cast<char>(session.cell(i));
        return cells;
    }
};

// The debugger's Ctrl+C flag, raised by the program's next write (its output buffer filling up).
volatile std::sig_atomic_t raisedByWrite = 0;
bool raiseOnWrite(void* context, const unsigned char* bytes, std::size_t size) {
    raisedByWrite = 1;
    return capture(context, bytes, size);
}

// A session on either engine whose Ctrl+C flag the next write raises.
struct WriteInterruptedRun : DebugRun {
    WriteInterruptedRun(const std::string& source, bool machineCode) : DebugRun(source, "", raiseOnWrite) {
        raisedByWrite = 0;
        session.useMachineCode(machineCode);
        session.interruptWith(&raisedByWrite);
    }
};

} // namespace

// A read that a Ctrl+C breaks off stops the run at its ',' with nothing read, where stepping
// plainly stands before it, and the next run reads it: in a block, within a run of ',' and in a
// loop's second turn.
TEST(Debugger, ABrokenOffReadStopsAtItsComma) {
    struct Case {
        std::string source;
        int readsBefore;
    };
    for (bool machineCode : {false, true}) {
        for (const Case& c : {Case{"+>>+,.", 0}, Case{"%a\n>,,,<.>.", 2}, Case{"+++[>,.<-]", 1}}) {
            const std::string& source = c.source;
            DebugRun stepped(source), stopped(source);
            stopped.session.useMachineCode(machineCode);
            while (source[stepped.session.at()] != ',' || stepped.io.readsAt.size() < std::size_t(c.readsBefore))
                stepped.session.step();
            std::size_t comma = stepped.session.at();
            stepped.io.breakOffAfter = 0;
            stopped.io.breakOffAfter = c.readsBefore;
            EXPECT_EQ(stepped.session.step().status, pellux::RunStatus::Stopped) << source;
            ASSERT_EQ(stopped.session.runTo({}).status, pellux::RunStatus::Stopped) << source;
            EXPECT_EQ(stopped.session.at(), comma) << source;
            EXPECT_EQ(stopped.session.pointer(), stepped.session.pointer()) << source;
            EXPECT_EQ(stopped.tape(), stepped.tape()) << source;
            EXPECT_EQ(stopped.session.runTo({}).status, pellux::RunStatus::Finished) << source;
            while (!stepped.session.ended()) stepped.session.step();
            stopped.session.flush();
            stepped.session.flush();
            EXPECT_EQ(stopped.io.output, stepped.io.output) << source << (machineCode ? " in machine code" : "");
        }
    }
}

// A Ctrl+C that comes while a loop drifts along the tape, here with the output that fills the buffer
// halfway along, stops both engines at the same turn's start, in the loop's first copy or in the
// copy of its later turns.
TEST(Debugger, ACtrlCInADriftingLoopStopsBothEnginesAtTheSameTurn) {
    const std::string far = std::string(40000, '>');
    for (const std::string& source : {std::string("+[>+..]"), std::string("+[>+<.>.]"), far + "+[<+..]"}) {
        std::string shown = source.size() > 12 ? "40000 '>' then " + source.substr(40000) : source;
        std::string tapes[2], outputs[2];
        std::size_t places[2] = {}, pointers[2] = {};
        for (bool machineCode : {false, true}) {
            WriteInterruptedRun run(source, machineCode);
            EXPECT_EQ(run.session.runTo({}).status, pellux::RunStatus::Stopped) << shown;
            run.session.flush();
            places[machineCode] = run.session.at();
            pointers[machineCode] = run.session.pointer();
            outputs[machineCode] = run.io.output;
            tapes[machineCode] = run.tape();
        }
        EXPECT_EQ(places[0], places[1]) << shown;
        EXPECT_EQ(pointers[0], pointers[1]) << shown;
        EXPECT_EQ(outputs[0].size(), outputs[1].size()) << shown;
        EXPECT_TRUE(tapes[0] == tapes[1]) << shown;
    }
}

// Stopping at any command, also inside runs that are folded and loops that are rewritten when
// nothing stops there, leaves the same place, pointer, tape and output as stepping there plainly;
// and stepping plainly to the end agrees with the reference.
TEST(Debugger, StopsExactlyWhereSteppingPlainlyArrives) {
    std::mt19937 random(7);
    const char* pieces[] = {"+", "-", ">", "<", ".", ",", "[-]", "[->+<]", "[->>++<<]", "[-<+>]", "[>]", "[<]",
                            "+++", "---", ">>", "<<", "%s\n", "#c\n", "[->[-]+++<]", "[>+++[->++<]<-]", "..", ",,",
                            "[>+++[>++[-]<-]<-]", "[>[->+<]>[-]<<-]"};
    constexpr int kPieces = sizeof pieces / sizeof *pieces;
    int stops = 0;
    for (int round = 0; round < 1500; ++round) {
        std::string source = ">>";
        int depth = 0;
        for (int i = 1 + random() % 30; i > 0; --i) {
            int pick = random() % (kPieces + 4);
            if (pick < kPieces) source += pieces[pick];
            else if (pick < kPieces + 2) { source += "["; ++depth; }
            else if (depth > 0) { source += "]"; --depth; }
        }
        source.append(depth, ']');
        ReferenceResult expected = referenceRun(source, "\x05\x10\x01", 1 << 16, 20000);
        if (expected.status == ReferenceResult::OutOfSteps) continue;
        DebugRun plain(source);
        std::vector<std::size_t> commands;
        pellux::RunResult last{pellux::RunStatus::Finished, {}};
        while (!plain.session.ended() && last.status == pellux::RunStatus::Finished) {
            commands.push_back(plain.session.at());
            last = plain.session.step();
        }
        plain.session.flush();
        ASSERT_EQ(plain.io.output, expected.output) << source;
        ASSERT_EQ(last.status == pellux::RunStatus::Finished, expected.status == ReferenceResult::Finished) << source;
        if (commands.empty()) continue;
        // The k-th command run is at `stop`: the stopped run arrives at its first time there.
        std::size_t k = random() % commands.size();
        std::size_t stop = commands[k];
        std::size_t first = std::find(commands.begin(), commands.end(), stop) - commands.begin();
        if (first == 0) continue;  // a run starts past the place it starts from
        DebugRun stepped(source), stopped(source);
        for (std::size_t i = 0; i < first; ++i) stepped.session.step();
        pellux::RunResult result = stopped.session.runTo({stop});
        ASSERT_EQ(result.status, pellux::RunStatus::Stopped) << source << " at " << stop;
        EXPECT_EQ(stopped.session.at(), stop) << source;
        EXPECT_EQ(stopped.session.pointer(), stepped.session.pointer()) << source << " at " << stop;
        EXPECT_EQ(stopped.tape(), stepped.tape()) << source << " at " << stop;
        stopped.session.flush();
        stepped.session.flush();
        EXPECT_EQ(stopped.io.output, stepped.io.output) << source << " at " << stop;
        // From there on, to the end or the fault, as one run.
        pellux::RunResult rest = stopped.session.runTo({});
        stopped.session.flush();
        EXPECT_EQ(stopped.io.output, expected.output) << source;
        EXPECT_EQ(rest.status == pellux::RunStatus::Finished, expected.status == ReferenceResult::Finished) << source;
        if (rest.status != pellux::RunStatus::Finished) {
            EXPECT_EQ(stopped.session.at(), commands.back()) << source;
        }
        ++stops;
    }
    EXPECT_GT(stops, 800) << "too few programs stopped";
}

// A run that a Ctrl+C stopped at a turn's start goes on from the loop's '[' in a later turn: the
// code of its first turn must not count on what held when the loop began. Here the stop comes with
// the pointer on the first cell (the output fills the buffer there), and the next turn leaves the
// tape: both engines end with that fault, the same output and the same tape.
TEST(Debugger, ARunGoingOnFromALaterTurnOfADriftingLoopEndsAsThePlainReadingDoes) {
    const std::string source = std::string(32769, '>') + "+[<+..]";
    std::string tapes[2], outputs[2];
    pellux::RunResult ends[2];
    for (bool machineCode : {false, true}) {
        WriteInterruptedRun run(source, machineCode);
        ASSERT_EQ(run.session.runTo({}).status, pellux::RunStatus::Stopped);
        EXPECT_EQ(run.session.at(), source.find('['));
        EXPECT_EQ(run.session.pointer(), 0u);
        raisedByWrite = 0;
        ends[machineCode] = run.session.runTo({});
        run.session.flush();
        outputs[machineCode] = run.io.output;
        tapes[machineCode] = run.tape();
    }
    EXPECT_EQ(ends[0].status, pellux::RunStatus::MovedLeftOfFirstCell);
    EXPECT_EQ(ends[1].status, ends[0].status);
    EXPECT_EQ(ends[1].position.column, ends[0].position.column);
    EXPECT_EQ(outputs[1].size(), outputs[0].size());
    EXPECT_TRUE(tapes[0] == tapes[1]);
}

// Stopping at any command of loops done at once on what is known to be zero (a stop there makes
// them run as loops; a run may start there with any tape) leaves the same place, pointer, tape and
// output as stepping there plainly.
TEST(Debugger, StopsInsideLoopsDoneAtOnceOnWhatIsKnown) {
    for (const std::string source : {"++++[>+++[>+++[>+++[-]<-]<-]<.-]", "+++[>+[>[->>+<<]<-]>+<<-]>>>>.",
                                     "++[>++[<<<[-]>>>-]<-]"}) {
        DebugRun plain(source);
        std::vector<std::size_t> arrivals;  // each command where the run first comes to it
        while (!plain.session.ended()) {
            if (std::find(arrivals.begin(), arrivals.end(), plain.session.at()) == arrivals.end())
                arrivals.push_back(plain.session.at());
            if (plain.session.step().status != pellux::RunStatus::Finished) break;
        }
        for (std::size_t k = 1; k < arrivals.size(); ++k) {  // a run starts past the place it starts from
            for (bool machineCode : {false, true}) {
                DebugRun stepped(source), stopped(source);
                stopped.session.useMachineCode(machineCode);
                while (stepped.session.at() != arrivals[k]) stepped.session.step();
                ASSERT_EQ(stopped.session.runTo({arrivals[k]}).status, pellux::RunStatus::Stopped) << source;
                stopped.session.flush();
                stepped.session.flush();
                EXPECT_EQ(stopped.session.at(), arrivals[k]) << source;
                EXPECT_EQ(stopped.session.pointer(), stepped.session.pointer()) << source << " at " << arrivals[k];
                EXPECT_EQ(stopped.tape(), stepped.tape()) << source << " at " << arrivals[k];
                EXPECT_EQ(stopped.io.output, stepped.io.output) << source << " at " << arrivals[k];
            }
        }
    }
}

TEST(CompiledForm, ListingNamesEachOperationOnALineOfItsOwn) {
    const std::string source = "++[->+++<]>.";
    pellux::Program program = pellux::compile(reinterpret_cast<const unsigned char*>(source.data()), source.size());
    std::istringstream lines(pellux::listing(program));
    std::vector<std::string> names;
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        std::size_t index;
        std::string name;
        fields >> index >> name;
        EXPECT_EQ(index, names.size());
        names.push_back(name);
    }
    ASSERT_EQ(names.size(), program.code.size());
    for (std::size_t i = 0; i < names.size(); ++i) EXPECT_EQ(names[i], pellux::operation(program.code[i].op).name);
    EXPECT_NE(std::find(names.begin(), names.end(), "MulLoop"), names.end());  // the copy loop, folded
    EXPECT_EQ(names.back(), "End");
}
