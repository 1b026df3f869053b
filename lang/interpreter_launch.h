#ifndef PELLUX_INTERPRETER_LAUNCH_H
#define PELLUX_INTERPRETER_LAUNCH_H

#include "../platform/win.h"

// Fixes the interpreter's path from the current directory, once, when the window starts.
void buildInterpreterPath();
const char* interpreterPath();

// Run File: hands the document's file to the interpreter.
void runInterpreter(HWND mainWindow);

#endif
