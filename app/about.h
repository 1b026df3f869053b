#ifndef PELLUX_ABOUT_H
#define PELLUX_ABOUT_H

#include "../platform/win.h"

void startNewWindow(HWND mainWindow);
void minimizeWindow(HWND mainWindow);
void maximizeWindow(HWND mainWindow);
void exitProgram(HWND mainWindow);
void showAbout(HWND mainWindow);

INT_PTR CALLBACK aboutDialogProc(HWND about, UINT message, WPARAM wParam, LPARAM lParam);

#endif
