// The platform headers the editor uses, in one place.
#ifndef PELLUX_WIN_H
#define PELLUX_WIN_H

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <commdlg.h>
#include <commctrl.h>
#include <richedit.h>
#include <shellapi.h>

#endif
