#ifndef PELLUX_SYNTAX_CHECK_H
#define PELLUX_SYNTAX_CHECK_H

#include "../platform/win.h"

// Check Syntax: scans the editor's whole text and shows the "Results" box.
void checkSyntax(HWND mainWindow);

#endif
