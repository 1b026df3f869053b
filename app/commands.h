#ifndef PELLUX_COMMANDS_H
#define PELLUX_COMMANDS_H

#include "../platform/win.h"

// Runs the handler whose identifier equals the whole wParam; notifications match nothing.
void dispatchCommand(HWND mainWindow, WPARAM wParam);

#endif
