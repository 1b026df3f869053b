// Replacing many lines at once. Wine's control takes time that grows with the lines it removes
// times the lines of the text (54 s to delete all of a 500 KB program, and as long again to undo
// it), while a fresh control filled with the result takes about as long as opening it. So a
// selection of many lines is replaced that way; the control that held the text before stays,
// hidden, and Undo shows it again once the shown control has nothing left to undo.
#ifndef PELLUX_QUICK_REPLACE_H
#define PELLUX_QUICK_REPLACE_H

#include "../platform/win.h"

// Below this many line ends in the selection the control itself is quicker than opening the text
// (about 70 ns for each line removed times each line of the text, against 75 us a line to open).
constexpr LONG kQuickReplaceLines = 500;
// The largest text that is read out for a replacement; a larger one is left to the control.
constexpr DWORD kQuickReplaceCapacity = 8u << 20;

// Replaces the selection by text (length bytes, line ends of any kind) through a fresh control
// when it holds kQuickReplaceLines line ends or more; false when the control must do it.
bool replaceLargeSelection(HWND mainWindow, const char* text, DWORD length);
// Cut and Paste of such a selection; false when the control must do them.
bool cutLargeSelection(HWND mainWindow);
bool pasteOverLargeSelection(HWND mainWindow);

// Undo and Redo, stepping across a quick replacement by showing the other control.
void undoLatest(HWND mainWindow);
void redoLatest(HWND mainWindow);

// EN_CHANGE: an edit of the user's own means an undone replacement can no longer be redone.
void noteEditorEdit(HWND mainWindow);
// The hidden control, or nullptr.
HWND keptEditor();
// New and Open: the hidden control goes.
void forgetKeptEditor();

#endif
