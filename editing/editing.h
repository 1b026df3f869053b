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

// A key the editor control is about to act on (EN_MSGFILTER); true when the editor did its work
// instead and the control must ignore it.
bool onEditingKey(HWND mainWindow, const MSGFILTER& key);

// Bold black text for all of the editor, when the window starts.
void applyInitialFormat(HWND mainWindow);
// A new, empty and hidden control made like editor, in the chosen colours; nullptr when none
// could be made.
HWND freshEditorLike(HWND editor);
void chooseForeColor(HWND mainWindow);
void chooseBackColor(HWND mainWindow);

const CHARFORMATA& currentCharFormat();

#endif
