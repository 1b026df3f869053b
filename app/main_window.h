#ifndef PELLUX_MAIN_WINDOW_H
#define PELLUX_MAIN_WINDOW_H

#include "../platform/win.h"

constexpr int kStatusBand = 19;  // pixels left under the editor for the status bar

INT_PTR CALLBACK mainDialogProc(HWND mainWindow, UINT message, WPARAM wParam, LPARAM lParam);

#endif
