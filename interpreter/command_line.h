// The interpreter's command line:
//   [/d] [/c] [/i INPUT] [/eof keep|0|255|-1] [/cells 8|16|32] [/classic] /f PROGRAM [/p]
// The editor sends "/f ", the program's path (unquoted, spaces and all) and " /p" when the console
// should wait for a key at the end: everything after "/f " up to a final " /p" is the path.
#ifndef PELLUX_INTERPRETER_COMMAND_LINE_H
#define PELLUX_INTERPRETER_COMMAND_LINE_H

#include <string>

namespace pellux {

// What ',' does at the end of input: leave the cell, store 0, store 255, or store a cell with every
// bit set (255, 65535 or 4294967295).
enum class EndOfInput { Keep, Zero, Max, AllBits };

struct CommandLine {
    bool valid = false;   // "/f" was there and every option before it was known and complete
    std::string error;    // why not, in one line; empty when there was nothing at all
    bool help = false;    // "/?", "-h" or "--help": print the usage and nothing else
    bool debug = false;
    bool check = false;
    std::string input;    // empty: standard input
    EndOfInput endOfInput = EndOfInput::Keep;
    unsigned cellBits = 8;  // 8, 16 or 32
    bool classic = false;   // the classic reading: every byte but the eight commands is a comment
    std::string path;     // empty: no program was named (an untitled document)
    bool pause = false;
};

// Reads the arguments as one line, the way the editor wrote them.
CommandLine parseCommandLine(const std::string& arguments);

} // namespace pellux

#endif
