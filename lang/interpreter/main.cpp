// Pellux.Exe (pellux on Linux): runs a program file of the extended syntax.
//   Pellux.Exe /f PATH [/p]
// Exit codes: 0 the program ran, 1 the program is at fault, 2 it could not be started.
#include "command_line.h"
#include "native_code.h"
#include "program.h"
#include "platform/executable_memory.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#ifdef _WIN32
#include <conio.h>
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace {

constexpr long long kMaxProgramBytes = 512LL << 20;

enum Exit { kRan = 0, kProgramError = 1, kCannotStart = 2 };

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
#else
std::string argumentLine(int argc, char** argv) {
    std::string line;
    for (int i = 1; i < argc; ++i) line += (i > 1 ? " " : "") + std::string(argv[i]);
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
#endif

void writeOut(void*, const unsigned char* bytes, std::size_t size) {
    std::fwrite(bytes, 1, size, stdout);
    std::fflush(stdout);
}

int readIn(void*) {
    int c = std::getchar();
    return c == EOF ? -1 : c;
}

bool readProgram(const std::string& path, std::vector<unsigned char>& source) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        std::fprintf(stderr, "pellux: cannot open %s: %s\n", path.c_str(), std::strerror(errno));
        return false;
    }
    bool ok = std::fseek(file, 0, SEEK_END) == 0;
    long long size = ok ? static_cast<long long>(std::ftell(file)) : -1;
    if (size > kMaxProgramBytes) {
        std::fprintf(stderr, "pellux: %s is too large: %lld bytes, at most %lld\n", path.c_str(), size, kMaxProgramBytes);
        std::fclose(file);
        return false;
    }
    ok = size >= 0 && std::fseek(file, 0, SEEK_SET) == 0;
    if (ok) {
        source.resize(static_cast<std::size_t>(size));
        ok = std::fread(source.data(), 1, source.size(), file) == source.size();
    }
    if (!ok) std::fprintf(stderr, "pellux: cannot read %s: %s\n", path.c_str(), std::strerror(errno));
    std::fclose(file);
    return ok;
}

int runFile(const std::string& path) {
    std::vector<unsigned char> source;
    if (!readProgram(path, source)) return kCannotStart;
    std::vector<pellux::BracketError> unmatched = pellux::findUnmatchedBrackets(source.data(), source.size());
    for (const pellux::BracketError& error : unmatched)
        std::fprintf(stderr, "%s:%u:%u: unmatched '%c'\n", path.c_str(), error.position.line, error.position.column,
                     error.bracket);
    if (!unmatched.empty()) return kProgramError;

    pellux::Program program = pellux::compile(source.data(), source.size());
    source.clear();
    source.shrink_to_fit();
    // Machine code where this processor has a translation and the system gives executable
    // pages; the portable machine otherwise, or when PELLUX_PORTABLE is set (to compare them).
    pellux::NativeCode native;
    if (!std::getenv("PELLUX_PORTABLE")) pellux::translate(program, native);
    ExecutableMemory memory(native.bytes.data(), native.bytes.size());
    pellux::LoadedCode loaded{memory.address(), native.entries.data()};
    pellux::RunResult result = pellux::run(program, pellux::RunIo{nullptr, writeOut, readIn}, pellux::kTapeLimitCells,
                                           memory.valid() ? &loaded : nullptr);
    std::fflush(stdout);
    switch (result.status) {
    case pellux::RunStatus::Finished: return kRan;
    case pellux::RunStatus::MovedLeftOfFirstCell:
        std::fprintf(stderr, "\n%s:%u:%u: the pointer moved left of the first cell\n", path.c_str(),
                     result.position.line, result.position.column);
        return kProgramError;
    case pellux::RunStatus::MovedPastLastCell:
        std::fprintf(stderr, "\n%s:%u:%u: the pointer moved past the last cell (%zu cells)\n", path.c_str(),
                     result.position.line, result.position.column, pellux::kTapeLimitCells);
        return kProgramError;
    }
    return kProgramError;
}

} // namespace

int main(int argc, char** argv) {
    binaryStreams();
    pellux::CommandLine line = pellux::parseCommandLine(argumentLine(argc, argv));
    int status;
    if (!line.valid) {
        std::fprintf(stderr, "usage: Pellux.Exe /f PROGRAM [/p]\n");
        status = kCannotStart;
    } else if (line.path.empty()) {
        std::fprintf(stderr, "pellux: no program file was given: save the program first, then run it\n");
        status = kCannotStart;
    } else {
        status = runFile(line.path);
    }
    if (line.pause) waitForKey();
    return status;
}
