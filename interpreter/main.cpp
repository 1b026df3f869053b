// Pellux.Exe (pellux on Linux): runs, checks or debugs a program file of the extended syntax.
//   Pellux.Exe [/d] [/c] [/i INPUT] [/eof keep|0|255|-1] [/cells 8|16|32] [/classic] /f PROGRAM [/p]
// Exit codes: 0 the program ran, 1 the program is at fault, 2 it could not be started (or memory
// ran out), 3 its output could not be written.
#define _FILE_OFFSET_BITS 64  // sizes and reads of files of 2 GiB and more on 32-bit Linux too

#include "check.h"
#include "command_line.h"
#include "debug_console.h"
#include "compiler.h"
#include "machine.h"
#include "native_program.h"
#include "io_error.h"

#include <algorithm>
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

// Ends the process once what it wrote is out. The C library's exit first asks for the .NET
// runtime's DLL by name, which Wine looks for on the disk: longer than most programs run.
[[noreturn]] void endProcess(int status) {
    std::fflush(nullptr);
    ExitProcess(static_cast<UINT>(status));
}

void binaryStreams() {
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stdin), _O_BINARY);
}

void ignoreBrokenPipe() {}  // a closed pipe fails the write; there is no signal to ignore

bool interactive(std::FILE* file) { return _isatty(_fileno(file)) != 0; }

// The machine's buffer goes to the handle as it is: the C library treats a console (and NUL) as
// unbuffered and, under Wine, writes what follows its first 16 KiB there a byte at a time.
constexpr DWORD kWriteChunk = 1 << 15;  // older consoles refuse a write of 64 KiB

bool writeStandardOutput(const unsigned char* bytes, std::size_t size) {
    HANDLE out = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stdout)));
    while (size > 0) {
        DWORD part = size < kWriteChunk ? static_cast<DWORD>(size) : kWriteChunk;
        DWORD wrote = 0;
        if (!WriteFile(out, bytes, part, &wrote, nullptr)) return false;
        if (wrote == 0) {  // a device that takes nothing would otherwise be written to forever
            SetLastError(ERROR_WRITE_FAULT);
            return false;
        }
        bytes += wrote;
        size -= wrote;
    }
    return true;
}

int nextInputByte(std::FILE* file) { return std::getc(file); }

using FileStatus = struct _stat64;
bool statusOfPath(const char* path, FileStatus& status) { return _stat64(path, &status) == 0; }
bool statusOfFile(std::FILE* file, FileStatus& status) { return _fstat64(_fileno(file), &status) == 0; }
bool isDirectory(const FileStatus& status) { return (status.st_mode & _S_IFMT) == _S_IFDIR; }
bool isRegularFile(const FileStatus& status) { return (status.st_mode & _S_IFMT) == _S_IFREG; }
#else
bool isSpace(char c) { return c == ' ' || c == '\t'; }

bool isWord(const char* argument, const char* upper, const char* lower) {
    return std::strcmp(argument, upper) == 0 || std::strcmp(argument, lower) == 0;
}

// An argument as one word of the line, in quotes when it holds a space, a tab or a quote, or is
// empty; each quote inside is doubled.
std::string quoted(const std::string& argument) {
    std::string word = "\"";
    for (char c : argument) word += c == '"' ? std::string("\"\"") : std::string(1, c);
    return word + "\"";
}

std::string asWord(const std::string& argument) {
    return argument.empty() || argument.find_first_of(" \t\"") != std::string::npos ? quoted(argument) : argument;
}

// The program's path as it comes, unless the line would read it otherwise: a space at either end
// (trimmed), a quote at its start (taken for quotes round it) or a final " /p" (the key wait).
std::string asPath(const std::string& path) {
    if (path.empty()) return path;
    std::size_t size = path.size();
    bool pauseAtEnd = size >= 3 && isSpace(path[size - 3]) && path[size - 2] == '/' &&
                      (path[size - 1] == 'p' || path[size - 1] == 'P');
    return isSpace(path.front()) || isSpace(path.back()) || path.front() == '"' || pauseAtEnd ? quoted(path) : path;
}

// The arguments as one line, as Windows hands them over, to be read the same way: the options'
// values as words, and the words after /f (up to a final /p) joined by spaces as the path.
std::string argumentLine(int argc, char** argv) {
    std::string line;
    int i = 1;
    for (; i < argc && !isWord(argv[i], "/F", "/f"); ++i) line += asWord(argv[i]) + " ";
    if (i == argc) return line;
    line += argv[i++];
    bool pause = i < argc && isWord(argv[argc - 1], "/P", "/p");
    int end = pause ? argc - 1 : argc;
    std::string path;
    for (int first = i; i < end; ++i) path += (i > first ? " " : "") + std::string(argv[i]);
    if (!path.empty()) line += " " + asPath(path);
    return pause ? line + " /p" : line;
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

[[noreturn]] void endProcess(int status) { std::exit(status); }

void binaryStreams() {}

// A reader that went away fails the write with EPIPE, reported like any failed write, instead of
// ending pellux without a word.
void ignoreBrokenPipe() { std::signal(SIGPIPE, SIG_IGN); }

bool interactive(std::FILE* file) { return isatty(fileno(file)) != 0; }

bool writeStandardOutput(const unsigned char* bytes, std::size_t size) {
    return std::fwrite(bytes, 1, size, stdout) == size && std::fflush(stdout) == 0;
}

int nextInputByte(std::FILE* file) { return getc_unlocked(file); }

using FileStatus = struct stat;
bool statusOfPath(const char* path, FileStatus& status) { return stat(path, &status) == 0; }
bool statusOfFile(std::FILE* file, FileStatus& status) { return fstat(fileno(file), &status) == 0; }
bool isDirectory(const FileStatus& status) { return S_ISDIR(status.st_mode); }
bool isRegularFile(const FileStatus& status) { return S_ISREG(status.st_mode); }
#endif

// Where the program's output goes and its input comes from.
struct Streams {
    pellux::IoError output;
    std::FILE* input = stdin;
    pellux::IoError inputError;
    bool midLine = false;  // the output's last byte was not a line end
};

bool writeOut(void* context, const unsigned char* bytes, std::size_t size) {
    Streams& streams = *static_cast<Streams*>(context);
    // What the debugger printed through the C library goes first.
    bool ok = std::fflush(stdout) == 0 && writeStandardOutput(bytes, size);
    if (!ok) streams.output.keep();
    if (size > 0) streams.midLine = bytes[size - 1] != '\n';
    return ok;
}

// A message after the program's output begins on a line of its own at the console.
const char* lineEndBefore(const Streams& streams) {
    return streams.midLine && interactive(stdout) && interactive(stderr) ? "\n" : "";
}

// A read that fails is no end of input: the run ends there, with the system's reason.
int readIn(void* context) {
    Streams& streams = *static_cast<Streams*>(context);
    int c = nextInputByte(streams.input);
    if (c != EOF) return c;
    if (!std::ferror(streams.input)) return -1;
    streams.inputError.keep();
    return pellux::kReadFailed;
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
    InputFile() = default;
    ~InputFile() {
        if (file_) std::fclose(file_);
    }
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;
    std::FILE* get() const { return file_; }
    bool open(const char* path) { return (file_ = std::fopen(path, "rb")) != nullptr; }

private:
    std::FILE* file_ = nullptr;
};

// `what` names the file in messages: "" for the program, "the input " for /i.
bool cannotRead(const char* what, const char* path, const char* reason) {
    std::fprintf(stderr, "pellux: cannot read %s%s: %s\n", what, path, reason);
    return false;
}

// Opens a file to read from its start, refusing a directory, which Linux opens (its reads fail)
// and Windows refuses with a reason that does not say why.
bool openToRead(const char* what, const char* path, InputFile& file) {
    FileStatus status;
    if (!file.open(path)) {
        int error = errno;
        if (statusOfPath(path, status) && isDirectory(status)) return cannotRead(what, path, "it is a directory");
        std::fprintf(stderr, "pellux: cannot open %s%s: %s\n", what, path, std::strerror(error));
        return false;
    }
    if (statusOfFile(file.get(), status) && isDirectory(status)) return cannotRead(what, path, "it is a directory");
    return true;
}

bool tooLarge(const char* path, std::uint64_t size) {
    if (size)
        std::fprintf(stderr, "pellux: %s is too large: %llu bytes; a program may have at most %llu (512 MiB)\n", path,
                     static_cast<unsigned long long>(size), static_cast<unsigned long long>(kMaxProgramBytes));
    else
        std::fprintf(stderr, "pellux: %s is too large: a program may have at most %llu bytes (512 MiB)\n", path,
                     static_cast<unsigned long long>(kMaxProgramBytes));
    return false;
}

// A regular file's size is known first (in 64 bits, so no size wraps) and a file too large is
// refused unread; then the file is read to its end, which works for pipes and FIFOs too. The
// bytes go straight into `source`: a regular file in one read of one byte more than its size,
// which sees its end too; a pipe a chunk at a time.
bool readProgram(const char* path, std::vector<unsigned char>& source) {
    InputFile file;
    FileStatus status;
    if (!openToRead("", path, file)) return false;
    std::size_t ask = kReadChunk;
    if (statusOfFile(file.get(), status) && isRegularFile(status)) {
        std::uint64_t size = static_cast<std::uint64_t>(status.st_size);
        if (size > kMaxProgramBytes) return tooLarge(path, size);
        ask = static_cast<std::size_t>(size) + 1;
    }
    for (;;) {
        std::size_t have = source.size();
        if (have == kMaxProgramBytes) {  // one byte more is too much, and is not kept
            unsigned char more;
            if (std::fread(&more, 1, 1, file.get()) == 1) return tooLarge(path, 0);
            break;
        }
        ask = std::min(ask, static_cast<std::size_t>(kMaxProgramBytes - have));
        source.resize(have + ask);
        std::size_t got = std::fread(source.data() + have, 1, ask, file.get());
        source.resize(have + got);
        if (got < ask) break;
        ask = kReadChunk;
    }
    if (std::ferror(file.get())) return cannotRead("", path, std::strerror(errno));
    return true;
}

bool bracketsMatch(const char* path, const std::vector<unsigned char>& source, const pellux::Dialect& dialect) {
    pellux::UnmatchedBrackets unmatched =
        pellux::findUnmatchedBrackets(source.data(), source.size(), pellux::kUnmatchedListed, dialect.syntax());
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

std::int64_t endOfInputValue(pellux::EndOfInput choice) {
    switch (choice) {
    case pellux::EndOfInput::Keep: break;
    case pellux::EndOfInput::Zero: return 0;
    case pellux::EndOfInput::Max: return 255;
    case pellux::EndOfInput::AllBits: return 0xFFFFFFFF;  // cut to the cell's width when stored
    }
    return -1;
}

pellux::Dialect dialectOf(const pellux::CommandLine& line) {
    pellux::Dialect dialect;
    dialect.cellBytes = line.cellBits / 8;
    dialect.reading = line.classic ? syntax::Reading::Classic : syntax::Reading::Extended;
    return dialect;
}

int reportRun(const char* path, const pellux::RunResult& result, const pellux::Dialect& dialect,
              const Streams& streams) {
    switch (result.status) {
    case pellux::RunStatus::Finished: return kRan;
    case pellux::RunStatus::MovedLeftOfFirstCell:
        std::fprintf(stderr, "%s%s:%u:%u: the pointer moved left of the first cell\n", lineEndBefore(streams), path,
                     result.position.line, result.position.column);
        return kProgramError;
    case pellux::RunStatus::MovedPastLastCell:
        std::fprintf(stderr, "%s%s:%u:%u: the pointer moved past the last cell (%zu cells)\n", lineEndBefore(streams),
                     path, result.position.line, result.position.column, pellux::tapeLimitCells(dialect));
        return kProgramError;
    case pellux::RunStatus::OutputFailed:
        std::fprintf(stderr, "pellux: cannot write the output of %s: %s\n", path, streams.output.reason());
        return kOutputFailed;
    case pellux::RunStatus::InputFailed:
        std::fprintf(stderr, "%spellux: cannot read the input of %s: %s\n", lineEndBefore(streams), path,
                     streams.inputError.reason());
        return kCannotStart;
    case pellux::RunStatus::Stopped: break;  // only under the debugger
    }
    return kProgramError;
}

// /c's list on standard output; after a failed write nothing more is tried.
struct Findings {
    const char* path;
    pellux::IoError output;
    bool failed = false;
};

void printFinding(void* context, const pellux::Finding& finding) {
    Findings& findings = *static_cast<Findings*>(context);
    if (findings.failed) return;
    int written = std::printf("%s:%u:%u: ", findings.path, finding.position.line, finding.position.column);
    if (written >= 0) {
        if (finding.kind == pellux::Finding::UnmatchedBracket) written = std::printf("unmatched '%c'\n", finding.byte);
        else if (finding.byte >= 0x20 && finding.byte < 0x7F)
            written = std::printf("'%c' is an invalid character\n", finding.byte);
        else written = std::printf("byte 0x%02X is an invalid character\n", finding.byte);
    }
    // The C library of Windows may count a line as printed that did not reach the device.
    if (written < 0 || std::ferror(stdout)) {
        findings.output.keep();
        findings.failed = true;
    }
}

// /c: nothing runs; every byte outside the extended syntax and every unmatched bracket is listed
// (in the classic reading, where every byte is allowed, the brackets only).
int checkFile(const char* path, const pellux::Dialect& dialect) {
    std::vector<unsigned char> source;
    if (!readProgram(path, source)) return kCannotStart;
    Findings findings{path, pellux::IoError()};
    pellux::CheckSummary summary =
        pellux::checkProgram(source.data(), source.size(), dialect.reading, printFinding, &findings);
    if (summary.unlistedBrackets && !findings.failed)
        std::printf("%s: %llu more unmatched brackets\n", path,
                    static_cast<unsigned long long>(summary.unlistedBrackets));
    if (!findings.failed && (std::fflush(stdout) != 0 || std::ferror(stdout))) {
        findings.output.keep();
        findings.failed = true;
    }
    if (findings.failed) {
        std::fprintf(stderr, "pellux: cannot write the findings of %s: %s\n", path, findings.output.reason());
        return kOutputFailed;
    }
    return summary.findings ? kProgramError : kRan;
}

// What a run loads: the source, its compiled form and its machine code. They last as long as the
// process, whose end gives their memory back at once: freed one by one, under Wine, they took
// longer than the last steps of many programs.
struct Loaded {
    std::vector<unsigned char> source;
    pellux::Program program;
    pellux::NativeProgram native;
};

// The input is opened only once the program is known to run: a missing program with a FIFO as
// its input does not wait for a writer.
int runFile(const pellux::CommandLine& line, Streams& streams, Loaded& loaded) {
    const char* path = line.path.c_str();
    std::vector<unsigned char>& source = loaded.source;
    if (!readProgram(path, source)) return kCannotStart;
    pellux::Dialect dialect = dialectOf(line);
    if (!bracketsMatch(path, source, dialect)) return kProgramError;
    pellux::Program& program = loaded.program;
    program = pellux::compile(source.data(), source.size(), dialect);
    if (program.tooLarge) {
        std::fprintf(stderr, "pellux: %s is too large to run: compiled, it would take more than %zu MiB\n", path,
                     pellux::kCompiledLimitBytes >> 20);
        return kCannotStart;
    }
    InputFile input;
    if (!line.input.empty()) {
        if (!openToRead("the input ", line.input.c_str(), input)) return kCannotStart;
        streams.input = input.get();
    }
    if (std::getenv("PELLUX_LISTING")) std::fputs(pellux::listing(program).c_str(), stderr);
    if (line.debug) {
        pellux::RunIo io{&streams, writeOut, readInDebugging, true, endOfInputValue(line.endOfInput)};
        return debugProgram(path, source.data(), source.size(), dialect, io, streams.input, machineCodeWanted());
    }
    pellux::NativeProgram& native = loaded.native;
    if (machineCodeWanted()) native.load(program);
    pellux::RunIo io{&streams, writeOut, readIn, interactive(streams.input), endOfInputValue(line.endOfInput)};
    pellux::RunResult result = pellux::run(program, io, pellux::kTapeLimitCells, native.code());
    return reportRun(path, result, dialect, streams);
}

// Memory may run out anywhere, reading, compiling or growing the tape: one line, never a crash.
int runFileCatchingMemory(const pellux::CommandLine& line, Loaded& loaded) {
    Streams streams;
    try {
        return line.check ? checkFile(line.path.c_str(), dialectOf(line)) : runFile(line, streams, loaded);
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "%spellux: not enough memory to run %s\n", lineEndBefore(streams), line.path.c_str());
        return kCannotStart;
    }
}

#define PELLUX_USAGE_LINE \
    "usage: Pellux.Exe [/d] [/c] [/i INPUT] [/eof keep|0|255|-1] [/cells 8|16|32] [/classic] /f PROGRAM [/p]\n"
const char kUsage[] =
    PELLUX_USAGE_LINE
    "       Pellux.Exe /?\n"
    "Runs PROGRAM, a file of the extended syntax. Options come before /f; everything after\n"
    "/f up to a final /p is the program's path.\n"
    "  /c            check only: list every invalid byte and unmatched bracket as\n"
    "                PROGRAM:LINE:COLUMN: message; exit 0 when there is none, 1 otherwise\n"
    "  /i INPUT      ',' reads from the file INPUT instead of standard input\n"
    "  /eof keep|0|255|-1  what ',' does at the end of input: leave the cell (the\n"
    "                default), store 0, store 255, or store -1, a cell with every bit set\n"
    "                (255, 65535 or 4294967295); e.g. /eof 0\n"
    "  /cells 8|16|32  cells of that many bits, which wrap at their width (8, the default);\n"
    "                '.' writes a cell's low 8 bits and ',' stores a byte; e.g. /cells 16\n"
    "  /classic      the classic reading: every byte but the eight commands + - < > . , [ ]\n"
    "                is a comment, '#' and '%' too; with /c only brackets are checked\n"
    "  /d            debug: a console debugger (type h at its prompt for its commands)\n"
    "  /p            wait for a key at the end\n"
    "  /?, -h, --help  this text\n"
    "Exit codes: 0 ran (or nothing to report), 1 the program is at fault, 2 it could not\n"
    "start, 3 its output could not be written.\n";

int printUsage() {
    if (std::fputs(kUsage, stdout) >= 0 && std::fflush(stdout) == 0) return kRan;
    pellux::IoError error;
    error.keep();
    std::fprintf(stderr, "pellux: cannot write the usage: %s\n", error.reason());
    return kOutputFailed;
}

} // namespace

int main(int argc, char** argv) {
    binaryStreams();
    ignoreBrokenPipe();
    pellux::CommandLine line = pellux::parseCommandLine(argumentLine(argc, argv));
    Loaded loaded;  // never destroyed: endProcess ends the process without leaving main
    int status;
    if (line.help) {
        status = printUsage();
    } else if (!line.valid) {
        if (line.error.empty()) std::fputs(PELLUX_USAGE_LINE, stderr);
        else std::fprintf(stderr, "pellux: %s (Pellux.Exe /? lists the options)\n", line.error.c_str());
        status = kCannotStart;
    } else if (line.path.empty()) {
        std::fprintf(stderr, "pellux: no program file was given: save the program first, then run it\n");
        status = kCannotStart;
    } else {
        status = runFileCatchingMemory(line, loaded);
    }
    if (line.pause) waitForKey();
    endProcess(status);
}
