// The console debugger of /d: commands read line by line from standard input.
#ifndef PELLUX_INTERPRETER_DEBUG_CONSOLE_H
#define PELLUX_INTERPRETER_DEBUG_CONSOLE_H

#include "machine.h"

#include <cstdio>

// `input` is where ',' reads (the /i file, or standard input, shared with the commands); a
// restart reads the file from its start again. Returns the exit code: 3 when the program's output
// could not be written, 1 when the program last stopped at a fault, 0 otherwise. With
// `machineCode`, the runs between stops go through the program's translation.
int debugProgram(const char* path, const unsigned char* source, std::size_t size, const pellux::Dialect& dialect,
                 pellux::RunIo io, std::FILE* input, bool machineCode);

// A read from the console (the commands', or the program's under the debugger) that Ctrl+C
// broke off, whether the C library took it for an error or for an end of file: true when nothing
// else failed since forgetReadError().
void forgetReadError();
bool readBrokenOff();

#endif
