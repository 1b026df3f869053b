#include "command_line.h"

namespace pellux {

namespace {

bool isSpace(char c) { return c == ' ' || c == '\t'; }

std::string trimmed(const std::string& text) {
    std::size_t from = 0, to = text.size();
    while (from < to && isSpace(text[from])) ++from;
    while (to > from && isSpace(text[to - 1])) --to;
    return text.substr(from, to - from);
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
               (line[line.size() - 1] == 'p' || line[line.size() - 1] == 'P')) {
        result.pause = true;
        line = trimmed(line.substr(0, line.size() - 3));
    }
    if (line.size() < 2 || line[0] != '/' || (line[1] != 'f' && line[1] != 'F') ||
        (line.size() > 2 && !isSpace(line[2])))
        return result;
    result.valid = true;
    // Everything after "/f " is the path: the editor does not quote it, and it may hold spaces.
    std::string path = line.size() > 2 ? line.substr(3) : std::string();
    if (path.size() >= 2 && path.front() == '"' && path.back() == '"') path = path.substr(1, path.size() - 2);
    result.path = trimmed(path);
    return result;
}

} // namespace pellux
