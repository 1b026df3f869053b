// What the editor hands the interpreter: "/f ", the program's path (unquoted, spaces and all),
// and " /p" when the console should wait for a key at the end.
#ifndef PELLUX_INTERPRETER_COMMAND_LINE_H
#define PELLUX_INTERPRETER_COMMAND_LINE_H

#include <string>

namespace pellux {

struct CommandLine {
    bool valid = false;   // "/f" was there
    std::string path;     // empty: no program was named (an untitled document)
    bool pause = false;
};

// Reads the arguments as one line, the way the editor wrote them.
CommandLine parseCommandLine(const std::string& arguments);

} // namespace pellux

#endif
