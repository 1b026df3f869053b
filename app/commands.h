#ifndef PELLUX_COMMANDS_H
#define PELLUX_COMMANDS_H

#include "../platform/win.h"

constexpr int kHotKeyCount = 8;

// Runs the handler whose identifier equals the whole wParam; notifications match nothing.
void dispatchCommand(HWND mainWindow, WPARAM wParam);
// Turns a hot key into its command, only while the main window is the active window.
void dispatchHotKey(HWND mainWindow, WPARAM id);

// True when all eight keys are now this window's.
bool registerHotKeys(HWND mainWindow);
void unregisterHotKeys(HWND mainWindow);

#endif
