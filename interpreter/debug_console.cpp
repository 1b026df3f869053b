#include "debug_console.h"

#include "session.h"
#include "io_error.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
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

constexpr std::size_t kLineCapacity = 1024;  // bytes of a command line; a longer one is refused whole
constexpr std::size_t kWordShown = 40;       // bytes of a word repeated in a message
constexpr std::size_t kSourceShown = 70;     // bytes of a long line shown either side of the caret
constexpr std::size_t kCellsAround = 4;      // cells shown either side of the pointer at a stop
constexpr std::size_t kMostCellsListed = 4096;
constexpr std::uint64_t kMostSteps = 1000000000;
constexpr std::uint64_t kLastPlace = 0xFFFFFFFFu;  // lines and columns are counted in 32 bits
constexpr std::size_t kMostWords = 4;              // a command and its arguments, and one too many

const char kHelp[] =
    "  s [N]             step N commands (1; N up to 1000000000)\n"
    "  n                 step over: a loop at the current command is one step\n"
    "  c                 continue to the next breakpoint, fault or the end\n"
    "  b LINE[:COLUMN]   set a breakpoint (on a line alone: its first command)\n"
    "  b                 list the breakpoints\n"
    "  d N               delete breakpoint N\n"
    "  t [FROM [TO]]     show the tape (the cells around the pointer; 4096 cells at most)\n"
    "  w                 where the program is\n"
    "  r                 restart from the beginning\n"
    "  q                 quit\n"
    "  h                 this list\n";

bool printable(unsigned char c) { return c >= 0x20 && c < 0x7F; }

struct Word {
    const char* text;
    std::size_t size;
    bool is(const char* name) const { return std::strlen(name) == size && std::memcmp(text, name, size) == 0; }
};

// A word as a message repeats it: on one line, cut when long.
std::string shown(Word word) {
    std::string text;
    for (std::size_t i = 0; i < word.size && i < kWordShown; ++i)
        text += printable(static_cast<unsigned char>(word.text[i])) ? word.text[i] : '?';
    return word.size > kWordShown ? text + "..." : text;
}

// A command line split at spaces and tabs; words past kMostWords are only counted.
struct Words {
    Word word[kMostWords];
    std::size_t count = 0;
};

Words split(const char* line, std::size_t size) {
    Words words;
    for (std::size_t at = 0; at < size;) {
        if (line[at] == ' ' || line[at] == '\t') { ++at; continue; }
        std::size_t start = at;
        while (at < size && line[at] != ' ' && line[at] != '\t') ++at;
        if (words.count < kMostWords) words.word[words.count] = Word{line + start, at - start};
        ++words.count;
    }
    return words;
}

enum class Reading { Number, NotNumber, OutOfRange };

// A whole word of decimal digits from `least` to `most`. Digits after a minus sign make a number
// out of range, not a word that is no number.
Reading readNumber(Word word, std::uint64_t least, std::uint64_t most, std::uint64_t& value) {
    std::size_t first = word.size > 1 && word.text[0] == '-' ? 1 : 0;
    if (word.size == 0) return Reading::NotNumber;
    for (std::size_t i = first; i < word.size; ++i)
        if (word.text[i] < '0' || word.text[i] > '9') return Reading::NotNumber;
    if (first) return Reading::OutOfRange;
    value = 0;
    for (std::size_t i = 0; i < word.size; ++i) {
        unsigned digit = static_cast<unsigned>(word.text[i] - '0');
        if (digit > most || value > (most - digit) / 10) return Reading::OutOfRange;
        value = value * 10 + digit;
    }
    return value < least ? Reading::OutOfRange : Reading::Number;
}

// Word `index` as a number from `least` to `most` (`name` in the command's `form`); false, with
// one line saying why, when it is none.
bool numberFor(const Words& words, std::size_t index, const char* form, const char* name, std::uint64_t least,
               std::uint64_t most, std::uint64_t& value) {
    std::string command = shown(words.word[0]), word = shown(words.word[index]);
    switch (readNumber(words.word[index], least, most, value)) {
    case Reading::Number: return true;
    case Reading::NotNumber:
        std::printf("%s: '%s' is not a number (the command is %s)\n", command.c_str(), word.c_str(), form);
        return false;
    case Reading::OutOfRange:
        std::printf("%s: %s is out of range: %s is from %llu to %llu\n", command.c_str(), word.c_str(), name,
                    static_cast<unsigned long long>(least), static_cast<unsigned long long>(most));
        return false;
    }
    return false;
}

class Debugger {
public:
    Debugger(const char* path, const unsigned char* source, std::size_t size, const pellux::Dialect& dialect,
             pellux::RunIo io, std::FILE* input, bool machineCode)
        : path_(path), source_(source), size_(size), dialect_(dialect), io_(io), input_(input),
          machineCode_(machineCode) {
        restart();
    }
    Debugger(const Debugger&) = delete;
    Debugger& operator=(const Debugger&) = delete;

    int loop();

private:
    void restart() {
        pellux::RunIo watched = io_;
        watched.context = this;
        watched.write = writeThrough;
        watched.read = readThrough;
        session_.reset(new pellux::Session(source_, size_, watched, pellux::kTapeLimitCells, dialect_));
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
    enum class LineRead { Line, TooLong, BrokenOff, End, Failed };
    LineRead readLine();
    bool command(const Words& words);  // false: quit
    bool argumentsFit(const Words& words, std::size_t most, const char* form);
    void deleteBreakpoint(const Words& words);
    void showTape(const Words& words);
    bool restartInput();
    void stepMany(std::uint64_t count);
    void stepOver();
    void runTo(const std::vector<std::size_t>& stops);
    bool finished(const pellux::RunResult& result);
    void setBreakpoint(const Words& words);
    void showStop();
    void showSourceLine(std::size_t at);
    void showCellsAround();
    void showCells(std::size_t from, std::size_t count);
    std::uint32_t cell(std::size_t index) const { return session_->cell(index); }
    std::vector<std::size_t> sortedBreakpoints() const;
    void flushProgram() {
        if (!session_->flush()) std::fputs("(the program's output could not be written)\n", stderr);
        if (midLine_) std::putchar('\n');
        midLine_ = false;
    }

    const char* path_;
    const unsigned char* source_;
    std::size_t size_;
    pellux::Dialect dialect_;
    pellux::RunIo io_;
    std::FILE* input_;
    bool machineCode_;
    std::unique_ptr<pellux::Session> session_;
    std::vector<std::size_t> breakpoints_;  // in the order they were set
    bool faulted_ = false;
    bool outputFailed_ = false;  // the session ends with the exit code of a failed write
    bool midLine_ = false;
    // The command line being read; it survives a Ctrl+C that breaks off its read.
    char line_[kLineCapacity + 1];  // room for a CR before the line end
    std::size_t length_ = 0;
    bool lineTooLong_ = false;
    bool lineStarted_ = false;
};

int Debugger::loop() {
    catchInterrupt();
    showStop();
    for (;;) {
        std::fputs("(pellux) ", stdout);
        // Nothing more can be shown: the session ends at the failed write, as a run does.
        if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
            pellux::IoError error;
            error.keep();
            std::fprintf(stderr, "pellux: cannot write the debugger's output: %s\n", error.reason());
            return 3;
        }
        LineRead read = readLine();
        if (read == LineRead::End) break;
        if (read == LineRead::Failed) {
            int error = errno;
            std::fprintf(stderr, "pellux: cannot read the debugger's commands: %s\n", std::strerror(error));
            flushProgram();
            return 2;
        }
        if (read == LineRead::BrokenOff) {
            interrupted = 0;
            std::clearerr(stdin);
            std::fputs("\n", stdout);
            continue;
        }
        if (read == LineRead::TooLong)
            std::printf("the line is too long: a command line holds at most %zu bytes; nothing was done\n",
                        kLineCapacity);
        else if (!command(split(line_, length_)))
            break;
    }
    flushProgram();
    return outputFailed_ ? 3 : faulted_ ? 1 : 0;
}

// One whole line of standard input, without its line end. A Ctrl+C that breaks off the read keeps
// what was read of the line; a line longer than the buffer is read to its end and refused whole.
Debugger::LineRead Debugger::readLine() {
    if (!lineStarted_) {
        length_ = 0;
        lineTooLong_ = false;
    }
    forgetReadError();
    for (;;) {
        int c = std::getc(stdin);
        if (c == EOF) {
            if (interrupted || readBrokenOff()) return LineRead::BrokenOff;
            if (std::ferror(stdin)) return LineRead::Failed;
            if (!lineStarted_) return LineRead::End;
            break;  // the last line has no line end
        }
        lineStarted_ = true;
        if (c == '\n') break;
        if (length_ < sizeof line_) line_[length_++] = static_cast<char>(c);
        else lineTooLong_ = true;
    }
    lineStarted_ = false;
    if (length_ > 0 && line_[length_ - 1] == '\r') --length_;
    return lineTooLong_ || length_ > kLineCapacity ? LineRead::TooLong : LineRead::Line;
}

// Whether the command has at most `most` arguments; one line naming the first extra one if not.
bool Debugger::argumentsFit(const Words& words, std::size_t most, const char* form) {
    if (words.count <= most + 1) return true;
    std::printf("%s: unexpected '%s' (the command is %s)\n", shown(words.word[0]).c_str(),
                shown(words.word[most + 1]).c_str(), form);
    return false;
}

bool Debugger::command(const Words& words) {
    if (words.count == 0) return true;  // an empty line
    const Word& name = words.word[0];
    auto is = [&name](const char* shortName, const char* longName) { return name.is(shortName) || name.is(longName); };
    std::uint64_t count = 1;
    if (is("q", "quit")) {
        return !argumentsFit(words, 0, "q");
    } else if (is("h", "help")) {
        if (argumentsFit(words, 0, "h")) std::fputs(kHelp, stdout);
    } else if (is("s", "step")) {
        if (argumentsFit(words, 1, "s [N]") &&
            (words.count == 1 || numberFor(words, 1, "s [N]", "N", 1, kMostSteps, count)))
            stepMany(count);
    } else if (is("n", "next")) {
        if (argumentsFit(words, 0, "n")) stepOver();
    } else if (is("c", "continue")) {
        if (argumentsFit(words, 0, "c")) runTo(sortedBreakpoints());
    } else if (is("b", "break")) {
        if (argumentsFit(words, 1, "b [LINE[:COLUMN]]")) setBreakpoint(words);
    } else if (is("d", "delete")) {
        if (argumentsFit(words, 1, "d N")) deleteBreakpoint(words);
    } else if (is("t", "tape")) {
        if (argumentsFit(words, 2, "t [FROM [TO]]")) showTape(words);
    } else if (is("w", "where")) {
        if (argumentsFit(words, 0, "w")) showStop();
    } else if (is("r", "restart")) {
        if (!argumentsFit(words, 0, "r")) return true;
        flushProgram();
        if (!restartInput()) std::puts("the input cannot be read from its start again: it goes on where it was");
        restart();
        showStop();
    } else {
        std::printf("unknown command '%s'; h lists the commands\n", shown(name).c_str());
    }
    return true;
}

void Debugger::deleteBreakpoint(const Words& words) {
    std::uint64_t n = 0;
    std::string name = shown(words.word[0]);
    if (words.count == 1) { std::printf("%s: which breakpoint? (the command is d N)\n", name.c_str()); return; }
    Reading reading = readNumber(words.word[1], 1, breakpoints_.size(), n);
    if (reading == Reading::NotNumber) {
        std::printf("%s: '%s' is not a number (the command is d N)\n", name.c_str(), shown(words.word[1]).c_str());
    } else if (reading == Reading::OutOfRange) {
        std::printf("no breakpoint %s\n", shown(words.word[1]).c_str());
    } else {
        breakpoints_.erase(breakpoints_.begin() + static_cast<std::ptrdiff_t>(n - 1));
        std::printf("breakpoint %llu deleted\n", static_cast<unsigned long long>(n));
    }
}

// The cells from FROM to TO, or FROM alone, or those round the pointer; a long listing is cut,
// and says so.
void Debugger::showTape(const Words& words) {
    const char* form = "t [FROM [TO]]";
    std::uint64_t last = pellux::tapeLimitCells(dialect_) - 1, from = 0, to = 0;
    if (words.count > 1 && !numberFor(words, 1, form, "a cell", 0, last, from)) return;
    if (words.count > 2 && !numberFor(words, 2, form, "a cell", 0, last, to)) return;
    std::size_t p = session_->pointer();
    if (words.count == 1) {
        from = p - std::min(p, kCellsAround);
        to = p + kCellsAround;
    } else if (words.count == 2) {
        to = from;
    } else if (to < from) {
        std::printf("%s: %llu is before %llu: TO comes at or after FROM\n", shown(words.word[0]).c_str(),
                    static_cast<unsigned long long>(to), static_cast<unsigned long long>(from));
        return;
    }
    std::uint64_t cells = to - from + 1;
    std::size_t listed = static_cast<std::size_t>(std::min<std::uint64_t>(cells, kMostCellsListed));
    showCells(static_cast<std::size_t>(from), listed);
    if (cells > kMostCellsListed)
        std::printf("  (cut at %zu cells; t %llu %llu lists the rest)\n", kMostCellsListed,
                    static_cast<unsigned long long>(from + kMostCellsListed), static_cast<unsigned long long>(to));
}

// An /i file is read again from its start; a pipe cannot be.
bool Debugger::restartInput() {
    if (input_ == stdin) return true;
    return std::fseek(input_, 0, SEEK_SET) == 0;
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
    case pellux::RunStatus::InputFailed:
        std::puts("the program's input could not be read");
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

void Debugger::stepMany(std::uint64_t count) {
    if (faulted_ || session_->ended()) { std::puts("the program is over; r restarts it"); return; }
    for (std::uint64_t i = 0; i < count && !interrupted; ++i) {
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
    if (session_->ended() || faulted_ || dialect_.syntax().kind(source_[at]) != syntax::Kind::Open) { stepMany(1); return; }
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

void Debugger::setBreakpoint(const Words& words) {
    if (words.count == 1) {
        if (breakpoints_.empty()) std::puts("no breakpoints");
        for (std::size_t i = 0; i < breakpoints_.size(); ++i) {
            pellux::SourcePosition at = session_->positionOf(breakpoints_[i]);
            std::printf("  %zu: %s:%u:%u\n", i + 1, path_, at.line, at.column);
        }
        return;
    }
    const Word& place = words.word[1];
    const char* colon = static_cast<const char*>(std::memchr(place.text, ':', place.size));
    Word lineWord{place.text, colon ? static_cast<std::size_t>(colon - place.text) : place.size};
    Word columnWord = colon ? Word{colon + 1, place.size - lineWord.size - 1} : Word{"1", 1};
    std::uint64_t line = 0, column = 0;
    Reading lineRead = readNumber(lineWord, 1, kLastPlace, line);
    Reading columnRead = readNumber(columnWord, 1, kLastPlace, column);
    if (lineRead == Reading::NotNumber || columnRead == Reading::NotNumber) {
        std::printf("%s: '%s' is not a place (the command is b [LINE[:COLUMN]])\n", shown(words.word[0]).c_str(),
                    shown(place).c_str());
        return;
    }
    if (lineRead == Reading::OutOfRange || columnRead == Reading::OutOfRange) {
        bool lineWrong = lineRead == Reading::OutOfRange;
        std::printf("%s: %s is out of range: %s is from 1 to %llu\n", shown(words.word[0]).c_str(),
                    shown(lineWrong ? lineWord : columnWord).c_str(), lineWrong ? "LINE" : "COLUMN",
                    static_cast<unsigned long long>(kLastPlace));
        return;
    }
    std::size_t at = session_->commandAt(static_cast<std::uint32_t>(line), static_cast<std::uint32_t>(column));
    if (at == size_) { std::printf("no command at %s\n", shown(place).c_str()); return; }
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
        std::printf(i == p ? " [%lu]" : " %lu", static_cast<unsigned long>(cell(i)));
    std::putchar('\n');
}

// A cell's value, in decimal and in hexadecimal at the cells' width, and as a character when it is
// one that prints.
void Debugger::showCells(std::size_t from, std::size_t count) {
    int decimals = dialect_.cellBytes == 1 ? 3 : dialect_.cellBytes == 2 ? 5 : 10;
    int hexDigits = 2 * static_cast<int>(dialect_.cellBytes);
    for (std::size_t i = from; i - from < count; ++i) {
        std::uint32_t value = cell(i);
        std::printf("  %10zu %*lu 0x%0*lX", i, decimals, static_cast<unsigned long>(value), hexDigits,
                    static_cast<unsigned long>(value));
        if (value < 0x80 && printable(static_cast<unsigned char>(value))) std::printf(" '%c'", static_cast<char>(value));
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

int debugProgram(const char* path, const unsigned char* source, std::size_t size, const pellux::Dialect& dialect,
                 pellux::RunIo io, std::FILE* input, bool machineCode) {
    Debugger debugger(path, source, size, dialect, io, input, machineCode);
    return debugger.loop();
}
