#include "lang/interpreter/command_line.h"
#include "lang/interpreter/program.h"
#include "reference_interpreter.h"

#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <sstream>
#include <string>

namespace {

struct Captured {
    std::string output;
    std::string input;
    std::size_t read = 0;
};

void capture(void* context, const unsigned char* bytes, std::size_t size) {
    static_cast<Captured*>(context)->output.append(reinterpret_cast<const char*>(bytes), size);
}

int feed(void* context) {
    Captured& io = *static_cast<Captured*>(context);
    return io.read < io.input.size() ? static_cast<unsigned char>(io.input[io.read++]) : -1;
}

struct Outcome {
    pellux::RunStatus status;
    std::string output;
    pellux::SourcePosition position;
};

Outcome runText(const std::string& source, const std::string& input = "", std::size_t limit = pellux::kTapeLimitCells) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(source.data());
    EXPECT_TRUE(pellux::findUnmatchedBrackets(bytes, source.size()).empty()) << source;
    pellux::Program program = pellux::compile(bytes, source.size());
    Captured io{"", input, 0};
    pellux::RunResult result = pellux::run(program, pellux::RunIo{&io, capture, feed}, limit);
    return {result.status, io.output, result.position};
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

TEST(Interpreter, RunsTheEightCommandsOnWrappingCells) {
    EXPECT_EQ(runText("++++++++[>++++++++<-]>+.").output, "A");
    EXPECT_EQ(runText("-.").output, "\xff");
    EXPECT_EQ(runText("+[+]+.").output, "\x01");  // 255 steps up wrap to zero
    EXPECT_EQ(runText(",.,.,.", "xy").output, "xyy");  // end of input leaves the cell unchanged
    EXPECT_EQ(runText(",[.,]", std::string("echo\0", 5)).output, "echo");
}

TEST(Interpreter, ExtendedSyntaxLinesAndSilentCommands) {
    EXPECT_EQ(runText("%Hello, \"world\"!\r\n+++.").output, "Hello, \"world\"!\x03");
    EXPECT_EQ(runText("# a comment with . and , and [ is skipped\n+.").output, "\x01");
    EXPECT_EQ(runText("@&*$ abc +.").output, "\x01");
    EXPECT_EQ(runText("").output, "");          // an empty file
    EXPECT_EQ(runText("+.%").output, "\x01");   // a string line as the very last byte
    EXPECT_EQ(runText("+.#").output, "\x01");
    EXPECT_EQ(runText("++[>%in a loop\n<-]").output, "in a loopin a loop");
}

TEST(Interpreter, PointerLeavingTheTapeIsNamedWithItsPlace) {
    Outcome left = runText("+\n>><<<");
    EXPECT_EQ(left.status, pellux::RunStatus::MovedLeftOfFirstCell);
    EXPECT_EQ(left.position.line, 2u);
    EXPECT_EQ(left.position.column, 5u);

    EXPECT_EQ(runText("[<]").status, pellux::RunStatus::Finished);       // never entered
    // Loops that look like a scan or a clear but visit cells on the way (found by fuzzing).
    EXPECT_EQ(runText("+>++<[>[<<>>>\n]<<]").status, pellux::RunStatus::MovedLeftOfFirstCell);
    EXPECT_EQ(runText(">+[<+[<>-]]").status, pellux::RunStatus::MovedLeftOfFirstCell);
    EXPECT_EQ(runText("[-<+>]").status, pellux::RunStatus::Finished);    // copy loop skipped at cell 0
    EXPECT_EQ(runText("+[-<+>]").status, pellux::RunStatus::MovedLeftOfFirstCell);
    EXPECT_EQ(runText("+[<]").status, pellux::RunStatus::MovedLeftOfFirstCell);
    EXPECT_EQ(runText("+[>+]", "", 1000).status, pellux::RunStatus::MovedPastLastCell);
    EXPECT_EQ(runText("+[>]", "", 1000).status, pellux::RunStatus::Finished);  // the next cell is zero
    Outcome right = runText(std::string(70000, '>') + "+.", "", 70000);
    EXPECT_EQ(right.status, pellux::RunStatus::MovedPastLastCell);
    EXPECT_EQ(runText(std::string(69999, '>') + "+.", "", 70000).output, "\x01");  // grows to the bound
}

TEST(Interpreter, UnmatchedBracketsAreEachNamedBeforeAnythingRuns) {
    std::string source = "]+\n[[-]\n%[ in a string\n#] in a comment\n]]";
    auto errors = pellux::findUnmatchedBrackets(reinterpret_cast<const unsigned char*>(source.data()), source.size());
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[0].bracket, ']');
    EXPECT_EQ(errors[0].position.line, 1u);
    EXPECT_EQ(errors[0].position.column, 1u);
    EXPECT_EQ(errors[1].bracket, ']');
    EXPECT_EQ(errors[1].position.line, 5u);
    EXPECT_EQ(errors[1].position.column, 2u);

    std::string opens = "[[]";
    errors = pellux::findUnmatchedBrackets(reinterpret_cast<const unsigned char*>(opens.data()), opens.size());
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].bracket, '[');
    EXPECT_EQ(errors[0].position.column, 1u);
}

TEST(Interpreter, DeepNestingAndBinaryBytes) {
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

// Random programs, mostly of loops the optimiser rewrites, against the plain reading.
TEST(Interpreter, AgreesWithTheReferenceOnRandomPrograms) {
    std::mt19937 random(2026);
    const char* pieces[] = {"+", "-", ">", "<", ".", ",", "[-]", "[->+<]", "[->>++<<]", "[-<+>]", "[>]", "[<]",
                            "[>>]", "+++", "---", ">>", "<<", "%str\n", "#c\n", "[+>-<]", "[-<<->>]", "[--]",
                            "[->[-]+++<]", "[->++[->+<]<]", "[>+++[->++<]<-]", "[-<[-]>]"};
    int compared = 0;
    for (int round = 0; round < 4000; ++round) {
        std::string source = ">>>>";
        int depth = 0;
        int length = 1 + random() % 40;
        for (int i = 0; i < length; ++i) {
            int pick = random() % 30;
            if (pick < 26) source += pieces[pick];
            else if (pick < 28) { source += "["; ++depth; }
            else if (depth > 0) { source += "]"; --depth; }
        }
        source.append(depth, ']');
        std::string input = "\x05\x10\x01";
        ReferenceResult expected = referenceRun(source, input, 1 << 16, 200000);
        if (expected.status == ReferenceResult::OutOfSteps) continue;
        Outcome got = runText(source, input, 1 << 16);
        ASSERT_EQ(got.output, expected.output) << source;
        pellux::RunStatus status = expected.status == ReferenceResult::Finished ? pellux::RunStatus::Finished
                                   : expected.status == ReferenceResult::Left ? pellux::RunStatus::MovedLeftOfFirstCell
                                                                             : pellux::RunStatus::MovedPastLastCell;
        ASSERT_EQ(got.status, status) << source;
        ++compared;
    }
    EXPECT_GT(compared, 2000);
}

TEST(Interpreter, BenchmarkProgramsGiveTheirExpectedOutput) {
    const std::string dir = PELLUX_BENCH_DIR;
    struct Case { const char* program; const char* input; } cases[] = {
        {"bench.b", nullptr}, {"hanoi.b", nullptr}, {"long.b", nullptr}, {"factor.b", "factor179.in"}};
    for (const Case& c : cases) {
        std::string source = readFile(dir + "/" + c.program);
        if (source.empty()) GTEST_SKIP() << "no benchmark programs at " << dir;
        std::string input = c.input ? readFile(dir + "/" + c.input) : "";
        std::string expected = c.input ? "179424691: 179424691\n" : readFile(dir + "/" + c.program + ".out");
        EXPECT_EQ(runText(source, input).output, expected) << c.program;
    }
}
