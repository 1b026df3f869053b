// The program's texts live in its string table; these load them into fixed buffers.
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

#endif
