#include "debug_console.h"

#include "session.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

volatile std::sig_atomic_t interrupted = 0;

#ifdef _WIN32
BOOL WINAPI onConsoleBreak(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
    interrupted = 1;
    return TRUE;
}
void catchInterrupt() { SetConsoleCtrlHandler(onConsoleBreak, TRUE); }
#else
void onInterrupt(int) { interrupted = 1; }
// No SA_RESTART: a prompt waiting for a line gives up, and asks again.
void catchInterrupt() {
    struct sigaction action = {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
}
#endif

constexpr std::size_t kLineCapacity = 256;
constexpr std::size_t kSourceShown = 70;   // bytes of a long line shown either side of the caret
constexpr std::size_t kCellsAround = 4;    // cells shown either side of the pointer at a stop
constexpr std::size_t kMostCellsListed = 4096;

const char kHelp[] =
    "  s [N]             step N commands (1)\n"
    "  n                 step over: a loop at the current command is one step\n"
    "  c                 continue to the next breakpoint, fault or the end\n"
    "  b LINE[:COLUMN]   set a breakpoint (on a line alone: its first command)\n"
    "  b                 list the breakpoints\n"
    "  d N               delete breakpoint N\n"
    "  t [FROM [TO]]     show the tape (the cells around the pointer)\n"
    "  w                 where the program is\n"
    "  r                 restart from the beginning\n"
    "  q                 quit\n"
    "  h                 this list\n";

bool printable(unsigned char c) { return c >= 0x20 && c < 0x7F; }

class Debugger {
public:
    Debugger(const char* path, const unsigned char* source, std::size_t size, pellux::RunIo io, std::FILE* input,
             bool machineCode)
        : path_(path), source_(source), size_(size), io_(io), input_(input), machineCode_(machineCode) {
        restart();
    }
    Debugger(const Debugger&) = delete;
    Debugger& operator=(const Debugger&) = delete;

    int loop();

private:
    void restart() {
        if (input_ != stdin) std::rewind(input_);
        pellux::RunIo watched = io_;
        watched.context = this;
        watched.write = writeThrough;
        watched.read = readThrough;
        session_.reset(new pellux::Session(source_, size_, watched));
        interrupted = 0;
        session_->interruptWith(&interrupted);
        session_->useMachineCode(machineCode_);
        faulted_ = false;
    }
    // The program's output passes here, so that the debugger's own lines start on a line of their own.
    static bool writeThrough(void* context, const unsigned char* bytes, std::size_t size) {
        Debugger& debugger = *static_cast<Debugger*>(context);
        if (size > 0) debugger.midLine_ = bytes[size - 1] != '\n';
        return debugger.io_.write(debugger.io_.context, bytes, size);
    }
    static int readThrough(void* context) {
        Debugger& debugger = *static_cast<Debugger*>(context);
        return debugger.io_.read(debugger.io_.context);
    }
    bool command(char* line);  // false: quit
    void stepMany(unsigned long count);
    void stepOver();
    void runTo(const std::vector<std::size_t>& stops);
    bool finished(const pellux::RunResult& result);
    void setBreakpoint(const char* place);
    void showStop();
    void showSourceLine(std::size_t at);
    void showCellsAround();
    void showCells(std::size_t from, std::size_t to);
    unsigned char cell(std::size_t index) const {
        const std::vector<unsigned char>& tape = session_->tape();
        return index < tape.size() ? tape[index] : 0;
    }
    std::vector<std::size_t> sortedBreakpoints() const;
    void flushProgram() {
        if (!session_->flush()) std::fputs("(the program's output could not be written)\n", stderr);
        if (midLine_) std::putchar('\n');
        midLine_ = false;
    }

    const char* path_;
    const unsigned char* source_;
    std::size_t size_;
    pellux::RunIo io_;
    std::FILE* input_;
    bool machineCode_;
    std::unique_ptr<pellux::Session> session_;
    std::vector<std::size_t> breakpoints_;  // in the order they were set
    bool faulted_ = false;
    bool outputFailed_ = false;  // the session ends with the exit code of a failed write
    bool midLine_ = false;
};

int Debugger::loop() {
    catchInterrupt();
    showStop();
    char line[kLineCapacity];
    for (;;) {
        std::fputs("(pellux) ", stdout);
        std::fflush(stdout);
        forgetReadError();
        if (!std::fgets(line, sizeof line, stdin)) {
            if (!interrupted && !readBrokenOff()) break;  // the end of the commands
            interrupted = 0;
            std::clearerr(stdin);
            std::fputs("\n", stdout);
            continue;
        }
        if (!command(line)) break;
    }
    flushProgram();
    return outputFailed_ ? 3 : faulted_ ? 1 : 0;
}

bool Debugger::command(char* line) {
    line[std::strcspn(line, "\r\n")] = 0;
    char* name = std::strtok(line, " \t");
    char* first = std::strtok(nullptr, " \t");
    char* second = std::strtok(nullptr, " \t");
    if (!name) return true;  // an empty line
    auto is = [name](const char* shortName, const char* longName) {
        return std::strcmp(name, shortName) == 0 || std::strcmp(name, longName) == 0;
    };
    if (is("q", "quit")) return false;
    if (is("h", "help")) {
        std::fputs(kHelp, stdout);
    } else if (is("s", "step")) {
        stepMany(first ? std::strtoul(first, nullptr, 10) : 1);
    } else if (is("n", "next")) {
        stepOver();
    } else if (is("c", "continue")) {
        runTo(sortedBreakpoints());
    } else if (is("b", "break")) {
        setBreakpoint(first);
    } else if (is("d", "delete")) {
        unsigned long n = first ? std::strtoul(first, nullptr, 10) : 0;
        if (n == 0 || n > breakpoints_.size()) std::printf("no breakpoint %s\n", first ? first : "given");
        else {
            breakpoints_.erase(breakpoints_.begin() + static_cast<std::ptrdiff_t>(n - 1));
            std::printf("breakpoint %lu deleted\n", n);
        }
    } else if (is("t", "tape")) {
        std::size_t from = first ? std::strtoull(first, nullptr, 10) : session_->pointer() - std::min(session_->pointer(), kCellsAround);
        std::size_t to = second ? std::strtoull(second, nullptr, 10) : first ? from : session_->pointer() + kCellsAround;
        showCells(from, std::min(to, from + kMostCellsListed - 1));
    } else if (is("w", "where")) {
        showStop();
    } else if (is("r", "restart")) {
        flushProgram();
        restart();
        showStop();
    } else {
        std::printf("unknown command '%s'; h lists the commands\n", name);
    }
    return true;
}

// Reports how a run or step ended; false when the program can go on.
bool Debugger::finished(const pellux::RunResult& result) {
    flushProgram();
    switch (result.status) {
    case pellux::RunStatus::Finished:
        if (!session_->ended()) return false;
        std::puts("the program has ended; r restarts it");
        interrupted = 0;  // a Ctrl+C that found no loop's turn to stop at is spent with the run
        return true;
    case pellux::RunStatus::MovedLeftOfFirstCell:
        std::printf("%s:%u:%u: the pointer moved left of the first cell\n", path_, result.position.line,
                    result.position.column);
        break;
    case pellux::RunStatus::MovedPastLastCell:
        std::printf("%s:%u:%u: the pointer moved past the last cell\n", path_, result.position.line,
                    result.position.column);
        break;
    case pellux::RunStatus::OutputFailed:
        outputFailed_ = true;
        std::puts("the program's output could not be written");
        break;
    case pellux::RunStatus::Stopped:
        if (interrupted) std::puts("interrupted");
        interrupted = 0;
        return false;
    }
    interrupted = 0;
    faulted_ = true;
    showStop();
    return true;
}

void Debugger::stepMany(unsigned long count) {
    if (faulted_ || session_->ended()) { std::puts("the program is over; r restarts it"); return; }
    for (unsigned long i = 0; i < count && !interrupted; ++i) {
        pellux::RunResult result = session_->step();
        if (result.status == pellux::RunStatus::Stopped) break;  // a Ctrl+C broke off a read
        if (finished(result)) return;
    }
    if (interrupted) std::puts("interrupted");
    interrupted = 0;
    showStop();
}

void Debugger::stepOver() {
    std::size_t at = session_->at();
    if (session_->ended() || faulted_ || source_[at] != '[') { stepMany(1); return; }
    std::vector<std::size_t> stops = sortedBreakpoints();
    std::size_t after = session_->nextCommand(session_->partner(at) + 1);
    if (after < size_) {
        stops.push_back(after);
        std::sort(stops.begin(), stops.end());
        stops.erase(std::unique(stops.begin(), stops.end()), stops.end());
    }
    runTo(stops);
}

void Debugger::runTo(const std::vector<std::size_t>& stops) {
    // A Ctrl+C that came since the prompt stops this run at once.
    if (faulted_ || session_->ended()) { std::puts("the program is over; r restarts it"); return; }
    if (!finished(session_->runTo(stops))) showStop();
}

std::vector<std::size_t> Debugger::sortedBreakpoints() const {
    std::vector<std::size_t> sorted = breakpoints_;
    std::sort(sorted.begin(), sorted.end());
    sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
    return sorted;
}

void Debugger::setBreakpoint(const char* place) {
    if (!place) {
        if (breakpoints_.empty()) std::puts("no breakpoints");
        for (std::size_t i = 0; i < breakpoints_.size(); ++i) {
            pellux::SourcePosition at = session_->positionOf(breakpoints_[i]);
            std::printf("  %zu: %s:%u:%u\n", i + 1, path_, at.line, at.column);
        }
        return;
    }
    char* end;
    unsigned long line = std::strtoul(place, &end, 10);
    unsigned long column = *end == ':' ? std::strtoul(end + 1, &end, 10) : 1;
    std::size_t at = line && column && !*end ? session_->commandAt(static_cast<std::uint32_t>(line),
                                                                   static_cast<std::uint32_t>(column))
                                             : size_;
    if (at == size_) { std::printf("no command at %s\n", place); return; }
    breakpoints_.push_back(at);
    pellux::SourcePosition position = session_->positionOf(at);
    std::printf("breakpoint %zu at %s:%u:%u\n", breakpoints_.size(), path_, position.line, position.column);
}

void Debugger::showStop() {
    flushProgram();
    std::size_t at = session_->at();
    if (session_->ended()) {
        std::printf("%s: at the end\n", path_);
    } else {
        pellux::SourcePosition position = session_->positionOf(at);
        std::printf("%s:%u:%u\n", path_, position.line, position.column);
        showSourceLine(at);
    }
    showCellsAround();
}

// The line around the command, with a caret under it; a long line is cut round the caret.
void Debugger::showSourceLine(std::size_t at) {
    std::size_t start = at, end = at;
    while (start > 0 && source_[start - 1] != '\n' && source_[start - 1] != '\r' && at - start < kSourceShown) --start;
    while (end < size_ && !pellux::endsLine(source_[end]) && end - at < kSourceShown) ++end;
    std::fputs("  ", stdout);
    for (std::size_t i = start; i < end; ++i) std::putchar(printable(source_[i]) ? source_[i] : '?');
    std::printf("\n  %*s^\n", static_cast<int>(at - start), "");
}

void Debugger::showCellsAround() {
    std::size_t p = session_->pointer();
    std::size_t from = p - std::min(p, kCellsAround);
    std::printf("  cells %zu-%zu:", from, p + kCellsAround);
    for (std::size_t i = from; i <= p + kCellsAround; ++i)
        std::printf(i == p ? " [%u]" : " %u", cell(i));
    std::putchar('\n');
}

void Debugger::showCells(std::size_t from, std::size_t to) {
    for (std::size_t i = from; i <= to; ++i) {
        unsigned char value = cell(i);
        std::printf("  %10zu %3u 0x%02X", i, value, value);
        if (printable(value)) std::printf(" '%c'", value);
        else std::fputs("    ", stdout);
        std::puts(i == session_->pointer() ? "  <- pointer" : "");
    }
}

} // namespace

#ifdef _WIN32
void forgetReadError() { SetLastError(0); }
// The handler's thread may set the flag only after the read returns.
bool readBrokenOff() { return GetLastError() == ERROR_OPERATION_ABORTED; }
#else
void forgetReadError() { errno = 0; }
bool readBrokenOff() { return errno == EINTR; }
#endif

int debugProgram(const char* path, const unsigned char* source, std::size_t size, pellux::RunIo io,
                 std::FILE* input, bool machineCode) {
    Debugger debugger(path, source, size, io, input, machineCode);
    return debugger.loop();
}
