// The platform's dialogs that wait for the user, reached through one table so that the
// in-process tests can answer them. The program itself never changes the table.
#ifndef PELLUX_DIALOGS_H
#define PELLUX_DIALOGS_H

#include "win.h"

struct PlatformDialogs {
    int (WINAPI* messageBoxEx)(HWND, LPCSTR, LPCSTR, UINT, WORD);
    BOOL (WINAPI* getOpenFileName)(LPOPENFILENAMEA);
    BOOL (WINAPI* getSaveFileName)(LPOPENFILENAMEA);
    BOOL (WINAPI* chooseColor)(LPCHOOSECOLORA);
};

extern PlatformDialogs platformDialogs;

#endif
