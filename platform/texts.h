// The program's resources: its texts live in its string table, and these load them into fixed
// buffers; its icon.
#ifndef PELLUX_TEXTS_H
#define PELLUX_TEXTS_H

#include "win.h"

constexpr int kTextCapacity = 128;

struct Text {
    char value[kTextCapacity];
};

HINSTANCE appInstance();
void setAppInstance(HINSTANCE instance);

Text loadText(UINT id);
void setStatus(HWND mainWindow, const char* text);
void setStatusText(HWND mainWindow, UINT id);

// The program's icon as the window's small icon (no large icon is set).
void setSmallIcon(HWND window);

#endif
