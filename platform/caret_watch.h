// Wine's rich edit control (8.0) can leave its caret on a paragraph and a run that do not belong
// together after some caret moves; the next key then ends the program or breaks the text apart:
//  - a word move to the right (Ctrl+Right) that reaches the end of a line puts the caret on the
//    next paragraph with this line's end: it reads as the line's length plus one past the line's
//    end, and a Right there reads beyond the run (access violation);
//  - a move by rows (Up, Down, Page Up, Page Down) or a click onto a line whose end lies less
//    than a space's width left of the caret's column puts the caret after that line's end mark:
//    it reads as the next line's start; typed characters there go astray, and Return with a
//    selection starting there splits the paragraph at its own end mark ("Assertion failed:
//    ~para->nFlags & MEPF_REWRAP", exit code 3);
//  - a double click on a line's last word selects it as the first of these, both ends too far.
// After each such key or click the selection is put where the control meant it, from offsets,
// which rebuilds the control's caret. Where the control is not Wine's, nothing is watched.
#ifndef PELLUX_CARET_WATCH_H
#define PELLUX_CARET_WATCH_H

#include "win.h"

// Watches the caret moves of a control made by prepareEditor.
void watchCaretMoves(HWND editor);

// True while a watched key or click is with the control: its selection is looked at once it is
// done.
bool caretMoveInProgress();

// True where the control is Wine's.
bool runsOnWine();

#endif
