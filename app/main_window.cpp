#include "main_window.h"

#include "commands.h"
#include "../document/document.h"
#include "../editing/editing.h"
#include "../lang/interpreter_launch.h"
#include "../platform/editor_control.h"
#include "../platform/texts.h"
#include "../resources/resource.h"

namespace {

// Another editor that was active a moment ago may not have let go of the keys yet when this
// one becomes active (the two activations are not ordered across processes): try again.
constexpr UINT_PTR kHotKeyRetryTimer = 1;
constexpr UINT kHotKeyRetryMilliseconds = 100;
constexpr int kHotKeyRetries = 30;
int hotKeyRetriesLeft = 0;

BOOL onInitDialog(HWND mainWindow) {
    setSmallIcon(mainWindow);
    buildInterpreterPath();
    registerHotKeys(mainWindow);
    applyInitialFormat(mainWindow);
    prepareEditor(editorOf(mainWindow));
    return TRUE;  // the platform focuses the editor
}

// The status bar places itself along the bottom; the editor fills the rest but a band.
BOOL onSize(HWND mainWindow) {
    HWND editor = GetDlgItem(mainWindow, IDC_EDITOR);
    HWND status = GetDlgItem(mainWindow, IDC_STATUS);
    MoveWindow(status, 0, 0, 0, 0, TRUE);
    RECT client;
    GetClientRect(mainWindow, &client);
    MoveWindow(editor, 0, 0, client.right, client.bottom - kStatusBand, TRUE);
    return TRUE;
}

BOOL onCommand(HWND mainWindow, WPARAM wParam) {
    if (HIWORD(wParam) == EN_CHANGE && LOWORD(wParam) == IDC_EDITOR) noteEditorChange();
    dispatchCommand(mainWindow, wParam);
    return TRUE;
}

// The hot keys are the editor's only while it is the active window, so that other
// programs keep their keys.
BOOL onActivate(HWND mainWindow, WPARAM wParam) {
    KillTimer(mainWindow, kHotKeyRetryTimer);
    unregisterHotKeys(mainWindow);
    if (LOWORD(wParam) != WA_INACTIVE && !registerHotKeys(mainWindow)) {
        hotKeyRetriesLeft = kHotKeyRetries;
        SetTimer(mainWindow, kHotKeyRetryTimer, kHotKeyRetryMilliseconds, nullptr);
    }
    return FALSE;
}

BOOL onTimer(HWND mainWindow, WPARAM timer) {
    if (timer != kHotKeyRetryTimer) return FALSE;
    unregisterHotKeys(mainWindow);
    if (registerHotKeys(mainWindow) || --hotKeyRetriesLeft <= 0) KillTimer(mainWindow, kHotKeyRetryTimer);
    return TRUE;
}

} // namespace

INT_PTR CALLBACK mainDialogProc(HWND mainWindow, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG: return onInitDialog(mainWindow);
    case WM_SIZE: return onSize(mainWindow);
    case WM_COMMAND: return onCommand(mainWindow, wParam);
    case WM_HOTKEY: dispatchHotKey(mainWindow, wParam); return TRUE;
    case WM_ACTIVATE: return onActivate(mainWindow, wParam);
    case WM_TIMER: return onTimer(mainWindow, wParam);
    case WM_CLOSE: requestClose(mainWindow); return TRUE;
    default: return FALSE;
    }
}
