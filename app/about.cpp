#include "about.h"

#include "../platform/text.h"
#include "../platform/texts.h"
#include "../resources/resource.h"
#include "../resources/version.h"

namespace {

constexpr int kCommandLineCapacity = MAX_PATH + 3;

HWND rememberedMainWindow = nullptr;
char commandLine[kCommandLineCapacity];

void closeAbout(HWND about) {
    EnableWindow(rememberedMainWindow, TRUE);
    EndDialog(about, 0);
}

void onAboutCommand(HWND about, WPARAM wParam) {
    if (wParam == IDC_HOMEPAGE) {
        ShellExecuteA(about, nullptr, PELLUX_HOMEPAGE, nullptr, nullptr, SW_SHOWNORMAL);
    } else if (wParam == IDC_ABOUT_CLOSE) {
        EnableWindow(rememberedMainWindow, TRUE);
        SendMessageA(about, WM_CLOSE, 0, 0);
    }
    // Anything else, IDCANCEL from Esc included, is ignored.
}

} // namespace

// The editor's own file by its full path: a program of the same name that a file dialog's
// current directory holds must never be the one that starts.
void startNewWindow(HWND) {
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return;
    commandLine[0] = '\0';
    if (appendText(commandLine, kCommandLineCapacity, "\"") && appendText(commandLine, kCommandLineCapacity, path) &&
        appendText(commandLine, kCommandLineCapacity, "\""))
        WinExec(commandLine, SW_SHOW);
}

void minimizeWindow(HWND mainWindow) { ShowWindow(mainWindow, SW_MINIMIZE); }
void maximizeWindow(HWND mainWindow) { ShowWindow(mainWindow, SW_MAXIMIZE); }
void exitProgram(HWND mainWindow) { SendMessageA(mainWindow, WM_CLOSE, 0, 0); }

void showAbout(HWND mainWindow) {
    EnableWindow(mainWindow, FALSE);
    rememberedMainWindow = mainWindow;
    DialogBoxParamA(appInstance(), MAKEINTRESOURCEA(IDD_ABOUT), nullptr, aboutDialogProc, 0);
}

INT_PTR CALLBACK aboutDialogProc(HWND about, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG: setSmallIcon(about); return TRUE;
    case WM_COMMAND: onAboutCommand(about, wParam); return TRUE;
    case WM_CLOSE: closeAbout(about); return TRUE;
    default: return FALSE;
    }
}
