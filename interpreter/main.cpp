// Pellux.Exe (pellux on Linux): runs, checks or debugs a program file of the extended syntax.
//   Pellux.Exe [/d] [/c] [/i INPUT] [/eof keep|0|255] /f PROGRAM [/p]
// Exit codes: 0 the program ran, 1 the program is at fault, 2 it could not be started (or memory
// ran out), 3 its output could not be written.
#define _FILE_OFFSET_BITS 64  // sizes and reads of files of 2 GiB and more on 32-bit Linux too

#include "check.h"
#include "command_line.h"
#include "debug_console.h"
#include "compiler.h"
#include "machine.h"
#include "native_program.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <sys/types.h>

#ifdef _WIN32
#include <conio.h>
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <csignal>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace {

constexpr std::uint64_t kMaxProgramBytes = std::uint64_t(512) << 20;
constexpr std::size_t kReadChunk = 1 << 16;

enum Exit { kRan = 0, kProgramError = 1, kCannotStart = 2, kOutputFailed = 3 };

#ifdef _WIN32
std::string argumentLine(int, char**) {
    // The editor's line as it was written, spaces and all: skip the program's own name.
    const char* line = GetCommandLineA();
    bool quoted = false;
    for (; *line && (quoted || (*line != ' ' && *line != '\t')); ++line)
        if (*line == '"') quoted = !quoted;
    return line;
}

void waitForKey() {
    std::fputs("\nPress any key to close this window.", stderr);
    _getch();
}

void binaryStreams() {
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stdin), _O_BINARY);
}

void ignoreBrokenPipe() {}  // a closed pipe fails the write; there is no signal to ignore

bool interactive(std::FILE* file) { return _isatty(_fileno(file)) != 0; }

int nextInputByte(std::FILE* file) { return std::getc(file); }

// The system's reason for the first failed write: the C library calls a closed pipe an invalid
// argument, so Windows' own code is kept and described.
struct Output {
    DWORD error = 0;
    char reason[256] = "";
};

void keepWriteError(Output& output) {
    output.error = GetLastError();
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, output.error,
                                  0, output.reason, sizeof output.reason, nullptr);
    while (length > 0 && (output.reason[length - 1] == '\r' || output.reason[length - 1] == '\n' ||
                          output.reason[length - 1] == '.'))
        output.reason[--length] = 0;
    if (length == 0) std::snprintf(output.reason, sizeof output.reason, "error %lu", output.error);
}

const char* writeError(const Output& output) { return output.reason; }

using FileStatus = struct _stat64;
bool statusOfPath(const char* path, FileStatus& status) { return _stat64(path, &status) == 0; }
bool statusOfFile(std::FILE* file, FileStatus& status) { return _fstat64(_fileno(file), &status) == 0; }
bool isDirectory(const FileStatus& status) { return (status.st_mode & _S_IFMT) == _S_IFDIR; }
bool isRegularFile(const FileStatus& status) { return (status.st_mode & _S_IFMT) == _S_IFREG; }
#else
// The arguments as one line, as Windows hands them over: an option's value with a space is
// quoted again; the program's path after /f is taken as it comes, spaces and all.
std::string argumentLine(int argc, char** argv) {
    std::string line;
    bool pathFollows = false;
    for (int i = 1; i < argc; ++i) {
        std::string argument = argv[i];
        bool quote = !pathFollows && argument.find_first_of(" \t") != std::string::npos;
        line += (i > 1 ? " " : "") + (quote ? "\"" + argument + "\"" : argument);
        pathFollows = pathFollows || argument == "/f" || argument == "/F";
    }
    return line;
}

void waitForKey() {
    int tty = open("/dev/tty", O_RDONLY);
    if (tty < 0) return;  // no terminal to wait on
    std::fputs("\nPress any key to close this window.", stderr);
    termios saved;
    bool raw = tcgetattr(tty, &saved) == 0;
    if (raw) {
        termios once = saved;
        once.c_lflag &= ~(ICANON | ECHO);
        tcsetattr(tty, TCSANOW, &once);
    }
    char key;
    if (read(tty, &key, 1) < 0) key = 0;
    if (raw) tcsetattr(tty, TCSANOW, &saved);
    close(tty);
}

void binaryStreams() {}

// A reader that went away fails the write with EPIPE, reported like any failed write, instead of
// ending pellux without a word.
void ignoreBrokenPipe() { std::signal(SIGPIPE, SIG_IGN); }

bool interactive(std::FILE* file) { return isatty(fileno(file)) != 0; }

int nextInputByte(std::FILE* file) { return getc_unlocked(file); }

// The system's reason for the first failed write.
struct Output {
    int error = 0;
};

void keepWriteError(Output& output) { output.error = errno; }

const char* writeError(const Output& output) { return std::strerror(output.error); }

using FileStatus = struct stat;
bool statusOfPath(const char* path, FileStatus& status) { return stat(path, &status) == 0; }
bool statusOfFile(std::FILE* file, FileStatus& status) { return fstat(fileno(file), &status) == 0; }
bool isDirectory(const FileStatus& status) { return S_ISDIR(status.st_mode); }
bool isRegularFile(const FileStatus& status) { return S_ISREG(status.st_mode); }
#endif

// Where the program's output goes and its input comes from.
struct Streams {
    Output output;
    std::FILE* input;
};

bool writeOut(void* context, const unsigned char* bytes, std::size_t size) {
    bool ok = std::fwrite(bytes, 1, size, stdout) == size && std::fflush(stdout) == 0;
    if (!ok) keepWriteError(static_cast<Streams*>(context)->output);
    return ok;
}

int readIn(void* context) {
    int c = nextInputByte(static_cast<Streams*>(context)->input);
    return c == EOF ? -1 : c;
}

// Under the debugger the program's input may share the console with the commands: say so. A
// Ctrl+C while the program waits is no end of input: the run stops at the ',' instead.
int readInDebugging(void* context) {
    std::FILE* input = static_cast<Streams*>(context)->input;
    if (input == stdin && interactive(stdin)) {
        std::fputs("(the program waits for input) ", stdout);
        std::fflush(stdout);
    }
    forgetReadError();
    int c = readIn(context);
    if (c >= 0 || !readBrokenOff()) return c;
    std::clearerr(input);
    return pellux::kReadBrokenOff;
}

class InputFile {
public:
    explicit InputFile(const char* path) : file_(std::fopen(path, "rb")) {}
    ~InputFile() {
        if (file_) std::fclose(file_);
    }
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;
    std::FILE* get() const { return file_; }

private:
    std::FILE* file_;
};

bool cannotRead(const char* path, const char* reason) {
    std::fprintf(stderr, "pellux: cannot read %s: %s\n", path, reason);
    return false;
}

bool tooLarge(const char* path, std::uint64_t size) {
    std::fprintf(stderr, "pellux: %s is too large: %s%llu bytes, at most %llu\n", path, size ? "" : "more than ",
                 static_cast<unsigned long long>(size ? size : kMaxProgramBytes),
                 static_cast<unsigned long long>(kMaxProgramBytes));
    return false;
}

// A regular file's size is known first (in 64 bits, so no size wraps) and a file too large is
// refused unread; then the file is read to its end, which works for pipes and FIFOs too.
bool readProgram(const char* path, std::vector<unsigned char>& source) {
    InputFile file(path);
    FileStatus status;
    if (!file.get()) {
        int error = errno;
        // Windows will not open a directory at all: say why.
        if (statusOfPath(path, status) && isDirectory(status)) return cannotRead(path, "it is a directory");
        std::fprintf(stderr, "pellux: cannot open %s: %s\n", path, std::strerror(error));
        return false;
    }
    if (statusOfFile(file.get(), status)) {
        if (isDirectory(status)) return cannotRead(path, "it is a directory");
        std::uint64_t size = static_cast<std::uint64_t>(status.st_size);
        if (isRegularFile(status) && size > kMaxProgramBytes) return tooLarge(path, size);
        if (isRegularFile(status)) source.reserve(static_cast<std::size_t>(size));
    }
    static unsigned char chunk[kReadChunk];
    for (;;) {
        std::size_t got = std::fread(chunk, 1, sizeof chunk, file.get());
        if (source.size() + got > kMaxProgramBytes) return tooLarge(path, 0);
        source.insert(source.end(), chunk, chunk + got);
        if (got < sizeof chunk) break;
    }
    if (std::ferror(file.get())) return cannotRead(path, std::strerror(errno));
    return true;
}

bool bracketsMatch(const char* path, const std::vector<unsigned char>& source) {
    pellux::UnmatchedBrackets unmatched = pellux::findUnmatchedBrackets(source.data(), source.size());
    for (const pellux::BracketError& error : unmatched.first)
        std::fprintf(stderr, "%s:%u:%u: unmatched '%c'\n", path, error.position.line, error.position.column,
                     error.bracket);
    if (unmatched.count > unmatched.first.size())
        std::fprintf(stderr, "%s: %llu unmatched brackets in all; the first %zu are listed\n", path,
                     static_cast<unsigned long long>(unmatched.count), unmatched.first.size());
    return unmatched.empty();
}

// Machine code where this processor has a translation; the portable machine when PELLUX_PORTABLE
// is set (to compare them).
bool machineCodeWanted() { return std::getenv("PELLUX_PORTABLE") == nullptr; }

int endOfInputValue(pellux::EndOfInput choice) {
    return choice == pellux::EndOfInput::Zero ? 0 : choice == pellux::EndOfInput::Max ? 255 : -1;
}

int reportRun(const char* path, const pellux::RunResult& result, const Output& output) {
    switch (result.status) {
    case pellux::RunStatus::Finished: return kRan;
    case pellux::RunStatus::MovedLeftOfFirstCell:
        std::fprintf(stderr, "\n%s:%u:%u: the pointer moved left of the first cell\n", path, result.position.line,
                     result.position.column);
        return kProgramError;
    case pellux::RunStatus::MovedPastLastCell:
        std::fprintf(stderr, "\n%s:%u:%u: the pointer moved past the last cell (%zu cells)\n", path,
                     result.position.line, result.position.column, pellux::kTapeLimitCells);
        return kProgramError;
    case pellux::RunStatus::OutputFailed:
        std::fprintf(stderr, "pellux: cannot write the output of %s: %s\n", path, writeError(output));
        return kOutputFailed;
    case pellux::RunStatus::Stopped: break;  // only under the debugger
    }
    return kProgramError;
}

void printFinding(void* context, const pellux::Finding& finding) {
    const char* path = static_cast<const char*>(context);
    std::printf("%s:%u:%u: ", path, finding.position.line, finding.position.column);
    if (finding.kind == pellux::Finding::UnmatchedBracket) std::printf("unmatched '%c'\n", finding.byte);
    else if (finding.byte >= 0x20 && finding.byte < 0x7F) std::printf("'%c' is an invalid character\n", finding.byte);
    else std::printf("byte 0x%02X is an invalid character\n", finding.byte);
}

// /c: nothing runs; every byte outside the extended syntax and every unmatched bracket is listed.
int checkFile(const char* path) {
    std::vector<unsigned char> source;
    if (!readProgram(path, source)) return kCannotStart;
    pellux::CheckSummary summary = pellux::checkProgram(source.data(), source.size(), printFinding,
                                                        const_cast<char*>(path));
    if (summary.unlistedBrackets)
        std::printf("%s: %llu more unmatched brackets\n", path,
                    static_cast<unsigned long long>(summary.unlistedBrackets));
    if (std::fflush(stdout) != 0) return kOutputFailed;
    return summary.findings ? kProgramError : kRan;
}

int runFile(const pellux::CommandLine& line, std::FILE* input) {
    const char* path = line.path.c_str();
    std::vector<unsigned char> source;
    if (!readProgram(path, source)) return kCannotStart;
    if (!bracketsMatch(path, source)) return kProgramError;
    pellux::Program program = pellux::compile(source.data(), source.size());
    if (program.tooLarge) {
        std::fprintf(stderr, "pellux: %s is too large to run: compiled, it would take more than %zu MiB\n", path,
                     pellux::kCompiledLimitBytes >> 20);
        return kCannotStart;
    }
    if (std::getenv("PELLUX_LISTING")) std::fputs(pellux::listing(program).c_str(), stderr);
    if (line.debug) {
        Streams streams{Output(), input};
        pellux::RunIo io{&streams, writeOut, readInDebugging, true, endOfInputValue(line.endOfInput)};
        return debugProgram(path, source.data(), source.size(), io, input, machineCodeWanted());
    }
    pellux::NativeProgram native;
    if (machineCodeWanted()) native.load(program);
    Streams streams{Output(), input};
    pellux::RunIo io{&streams, writeOut, readIn, interactive(input), endOfInputValue(line.endOfInput)};
    pellux::RunResult result = pellux::run(program, io, pellux::kTapeLimitCells, native.code());
    return reportRun(path, result, streams.output);
}

int checkOrRun(const pellux::CommandLine& line) {
    if (line.check) return checkFile(line.path.c_str());
    if (line.input.empty()) return runFile(line, stdin);
    InputFile input(line.input.c_str());
    if (!input.get()) {
        std::fprintf(stderr, "pellux: cannot open the input %s: %s\n", line.input.c_str(), std::strerror(errno));
        return kCannotStart;
    }
    return runFile(line, input.get());
}

// Memory may run out anywhere, reading, compiling or growing the tape: one line, never a crash.
int runFileCatchingMemory(const pellux::CommandLine& line) {
    try {
        return checkOrRun(line);
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "\npellux: not enough memory to run %s\n", line.path.c_str());
        return kCannotStart;
    }
}

#define PELLUX_USAGE_LINE "usage: Pellux.Exe [/d] [/c] [/i INPUT] [/eof keep|0|255] /f PROGRAM [/p]\n"
const char kUsage[] =
    PELLUX_USAGE_LINE
    "       Pellux.Exe /?\n"
    "Runs PROGRAM, a file of the extended syntax. Options come before /f; everything after\n"
    "/f up to a final /p is the program's path.\n"
    "  /c            check only: list every invalid byte and unmatched bracket as\n"
    "                PROGRAM:LINE:COLUMN: message; exit 0 when there is none, 1 otherwise\n"
    "  /i INPUT      ',' reads from the file INPUT instead of standard input\n"
    "  /eof keep|0|255  what ',' does at the end of input: leave the cell (the default),\n"
    "                store 0, or store 255\n"
    "  /d            debug: a console debugger (type h at its prompt for its commands)\n"
    "  /p            wait for a key at the end\n"
    "  /?, -h, --help  this text\n"
    "Exit codes: 0 ran (or nothing to report), 1 the program is at fault, 2 it could not\n"
    "start, 3 its output could not be written.\n";

} // namespace

int main(int argc, char** argv) {
    binaryStreams();
    ignoreBrokenPipe();
    pellux::CommandLine line = pellux::parseCommandLine(argumentLine(argc, argv));
    int status;
    if (line.help) {
        std::fputs(kUsage, stdout);
        status = kRan;
    } else if (!line.valid) {
        if (line.error.empty()) std::fputs(PELLUX_USAGE_LINE, stderr);
        else std::fprintf(stderr, "pellux: %s (Pellux.Exe /? lists the options)\n", line.error.c_str());
        status = kCannotStart;
    } else if (line.path.empty()) {
        std::fprintf(stderr, "pellux: no program file was given: save the program first, then run it\n");
        status = kCannotStart;
    } else {
        status = runFileCatchingMemory(line);
    }
    if (line.pause) waitForKey();
    return status;
}
