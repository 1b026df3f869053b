#ifndef PELLUX_EDITING_H
#define PELLUX_EDITING_H

#include "../platform/win.h"

void undoEdit(HWND mainWindow);
void redoEdit(HWND mainWindow);
void cutSelection(HWND mainWindow);
void copySelection(HWND mainWindow);
void pasteClipboard(HWND mainWindow);
void deleteSelection(HWND mainWindow);
void selectAll(HWND mainWindow);

// Bold black text for all of the editor, when the window starts.
void applyInitialFormat(HWND mainWindow);
// The chosen colours and format on a control made anew.
void applyAppearance(HWND editor);
void chooseForeColor(HWND mainWindow);
void chooseBackColor(HWND mainWindow);

const CHARFORMATA& currentCharFormat();

#endif
