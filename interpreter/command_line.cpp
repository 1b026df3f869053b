#include "command_line.h"

namespace pellux {

namespace {

constexpr std::size_t kWordShown = 60;  // bytes of a refused word repeated in its message

bool isSpace(char c) { return c == ' ' || c == '\t'; }

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool sameWord(const std::string& word, const char* name) {
    std::size_t i = 0;
    for (; i < word.size() && name[i]; ++i)
        if (lower(word[i]) != name[i]) return false;
    return i == word.size() && !name[i];
}

std::string trimmed(const std::string& text) {
    std::size_t from = 0, to = text.size();
    while (from < to && isSpace(text[from])) ++from;
    while (to > from && isSpace(text[to - 1])) --to;
    return text.substr(from, to - from);
}

// The next word of the line from `at`, without its quotes when it has them; `at` moves past it.
// Inside quotes, "" is one quote: a Linux path may hold one (a Windows path cannot).
std::string nextWord(const std::string& line, std::size_t& at) {
    while (at < line.size() && isSpace(line[at])) ++at;
    std::string word;
    bool quoted = false;
    for (; at < line.size() && (quoted || !isSpace(line[at])); ++at) {
        if (line[at] != '"') word += line[at];
        else if (quoted && at + 1 < line.size() && line[at + 1] == '"') word += line[++at];
        else quoted = !quoted;
    }
    return word;
}

// "/f" followed by a space or by nothing, at `at`.
bool programFollows(const std::string& line, std::size_t at) {
    return at + 1 < line.size() && line[at] == '/' && lower(line[at + 1]) == 'f' &&
           (at + 2 == line.size() || isSpace(line[at + 2]));
}

// The path after "/f ": the editor does not quote it, and it may hold spaces. A quoted path keeps
// the spaces at its ends, and "" inside it is one quote.
std::string programPath(const std::string& line, std::size_t at) {
    std::string path = trimmed(at + 2 < line.size() ? line.substr(at + 3) : std::string());
    if (path.size() < 2 || path.front() != '"' || path.back() != '"') return path;
    std::string unquoted;
    for (std::size_t i = 1; i + 1 < path.size(); ++i) {
        unquoted += path[i];
        if (path[i] == '"' && path[i + 1] == '"' && i + 2 < path.size()) ++i;
    }
    return unquoted;
}

// A refused word as its message repeats it: on one line, control bytes as '?', a long word cut
// (not inside a UTF-8 character).
std::string shown(const std::string& word) {
    std::size_t size = word.size();
    if (size > kWordShown)
        for (size = kWordShown; size > 0 && (static_cast<unsigned char>(word[size]) & 0xC0) == 0x80;) --size;
    std::string text = word.substr(0, size);
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    return size < word.size() ? text + "..." : text;
}

bool refuse(CommandLine& result, const std::string& why) {
    result.error = why;
    return false;
}

bool readEndOfInput(const std::string& value, CommandLine& result) {
    if (sameWord(value, "keep")) result.endOfInput = EndOfInput::Keep;
    else if (value == "0") result.endOfInput = EndOfInput::Zero;
    else if (value == "255") result.endOfInput = EndOfInput::Max;
    else if (value == "-1") result.endOfInput = EndOfInput::AllBits;
    else return refuse(result, "option /eof takes keep, 0, 255 or -1, not '" + shown(value) + "'");
    return true;
}

bool readCellBits(const std::string& value, CommandLine& result) {
    if (value == "8" || value == "16" || value == "32") result.cellBits = value == "8" ? 8 : value == "16" ? 16 : 32;
    else return refuse(result, "option /cells takes 8, 16 or 32, not '" + shown(value) + "'");
    return true;
}

// One option before "/f", with its value; false, with the reason, when it is unknown or incomplete.
bool readOption(const std::string& line, std::size_t& at, CommandLine& result) {
    std::size_t start = at;
    std::string option = nextWord(line, at);
    if (sameWord(option, "/?") || sameWord(option, "-h") || sameWord(option, "--help")) {
        result.help = true;
    } else if (sameWord(option, "/d")) {
        result.debug = true;
    } else if (sameWord(option, "/c")) {
        result.check = true;
    } else if (sameWord(option, "/classic")) {
        result.classic = true;
    } else if (sameWord(option, "/i") || sameWord(option, "/eof") || sameWord(option, "/cells")) {
        std::size_t valueAt = at;
        while (valueAt < line.size() && isSpace(line[valueAt])) ++valueAt;
        std::string value = nextWord(line, at);
        if (valueAt == line.size() || programFollows(line, valueAt) || value.empty())
            return refuse(result, "option " + option + " needs a value");
        if (sameWord(option, "/i")) result.input = value;
        else if (sameWord(option, "/eof")) return readEndOfInput(value, result);
        else return readCellBits(value, result);
    } else if (!option.empty() && option[0] != '/' && option[0] != '-') {
        at = start;
        return refuse(result, "/f is missing before the program '" + shown(option) + "'");
    } else {
        at = start;
        return refuse(result, "unknown option '" + shown(option) + "'");
    }
    return true;
}

} // namespace

CommandLine parseCommandLine(const std::string& arguments) {
    CommandLine result;
    std::string line = trimmed(arguments);
    // "/p" at the end, after a space (or alone when no path came).
    if (line == "/p" || line == "/P") {
        result.pause = true;
        line.clear();
    } else if (line.size() >= 3 && isSpace(line[line.size() - 3]) && line[line.size() - 2] == '/' &&
               lower(line[line.size() - 1]) == 'p') {
        result.pause = true;
        line = trimmed(line.substr(0, line.size() - 3));
    }
    std::size_t at = 0;
    for (;;) {
        while (at < line.size() && isSpace(line[at])) ++at;
        if (at == line.size()) {
            if (!result.help && at > 0) result.error = "no program was given: /f PROGRAM is missing";
            return result;
        }
        if (programFollows(line, at)) break;
        if (!readOption(line, at, result)) return result;
        if (result.help) return result;
    }
    result.valid = true;
    result.path = programPath(line, at);
    return result;
}

} // namespace pellux
