#include "main_window.h"

#include "commands.h"
#include "hot_keys.h"
#include "../document/document.h"
#include "../editing/editing.h"
#include "../editing/quick_replace.h"
#include "../lang/interpreter_launch.h"
#include "../platform/caret_watch.h"
#include "../platform/editor_control.h"
#include "../platform/texts.h"
#include "../resources/resource.h"

namespace {

BOOL onInitDialog(HWND mainWindow) {
    setSmallIcon(mainWindow);
    buildInterpreterPath();
    takeHotKeys(mainWindow);
    applyInitialFormat(mainWindow);
    prepareEditor(editorOf(mainWindow));
    return TRUE;  // the platform focuses the editor
}

// Under Wine, while the frame is dragged, the editor keeps its size until the drag ends.
bool frameDragged = false;

// The status bar places itself along the bottom; the editor fills the rest but a band. A
// minimized window keeps its editor's size: Wine's control lays out all of its text again on every
// resize, which takes seconds for long texts, twice over for a minimize and its restore, and for
// each step of a drag of the frame.
BOOL onSize(HWND mainWindow, WPARAM kind) {
    if (kind == SIZE_MINIMIZED || frameDragged) return TRUE;
    HWND editor = GetDlgItem(mainWindow, IDC_EDITOR);
    HWND status = GetDlgItem(mainWindow, IDC_STATUS);
    MoveWindow(status, 0, 0, 0, 0, TRUE);
    RECT client;
    GetClientRect(mainWindow, &client);
    MoveWindow(editor, 0, 0, client.right, client.bottom - kStatusBand, TRUE);
    return TRUE;
}

BOOL onSizeMove(HWND mainWindow, bool starts) {
    frameDragged = starts && runsOnWine();
    if (!starts && !IsIconic(mainWindow)) onSize(mainWindow, SIZE_RESTORED);
    return FALSE;
}

BOOL onCommand(HWND mainWindow, WPARAM wParam) {
    if (HIWORD(wParam) == EN_CHANGE && LOWORD(wParam) == IDC_EDITOR) {
        noteEditorChange();
        noteEditorEdit(mainWindow);
    }
    dispatchCommand(mainWindow, wParam);
    return TRUE;
}

// The dialog manager puts the focus back on the control it saw last, which Open or New may have
// replaced in the meantime: the editor gets it, without its text selected.
BOOL onActivate(HWND mainWindow, WPARAM wParam, LPARAM lParam) {
    onActivateHotKeys(mainWindow, wParam, lParam);
    HWND editor = editorOf(mainWindow);
    if (LOWORD(wParam) != WA_INACTIVE && HIWORD(wParam) == 0 && GetFocus() != editor) SetFocus(editor);
    return FALSE;
}

// The dialog manager hands the focus on to the editor with all of its text selected when the
// window itself gets it, as on a restore from the taskbar; the next key then replaced everything.
// The editor, the only control that takes the focus, gets it with its selection as it was.
BOOL onSetFocus(HWND mainWindow) {
    SetFocus(editorOf(mainWindow));
    return TRUE;
}

BOOL onEditorFilter(HWND mainWindow, const MSGFILTER& filter) {
    bool taken = onEditorKey(mainWindow, filter) || onEditingKey(mainWindow, filter);
    SetWindowLongPtrA(mainWindow, DWLP_MSGRESULT, taken ? 1 : 0);
    return TRUE;
}

// The character of a key that replaced a large selection is already on its way to the control
// that held it, now hidden for Undo: it must not change that text.
BOOL onHiddenEditorFilter(HWND mainWindow) {
    SetWindowLongPtrA(mainWindow, DWLP_MSGRESULT, 1);
    return TRUE;
}

BOOL onNotify(HWND mainWindow, const NMHDR& notice) {
    if (notice.code == EN_MSGFILTER && notice.hwndFrom && notice.hwndFrom == keptEditor())
        return onHiddenEditorFilter(mainWindow);
    if (notice.idFrom != IDC_EDITOR) return FALSE;
    switch (notice.code) {
    case EN_MSGFILTER: return onEditorFilter(mainWindow, reinterpret_cast<const MSGFILTER&>(notice));
    case EN_SELCHANGE: keepSelectionInText(notice.hwndFrom); return TRUE;
    default: return FALSE;
    }
}

BOOL onRegisteredMessage(HWND mainWindow, UINT message) {
    if (!isHotKeyHandOver(message)) return FALSE;
    onHotKeyHandOver(mainWindow);
    return TRUE;
}

} // namespace

INT_PTR CALLBACK mainDialogProc(HWND mainWindow, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG: return onInitDialog(mainWindow);
    case WM_SIZE: return onSize(mainWindow, wParam);
    case WM_ENTERSIZEMOVE: return onSizeMove(mainWindow, true);
    case WM_EXITSIZEMOVE: return onSizeMove(mainWindow, false);
    case WM_COMMAND: return onCommand(mainWindow, wParam);
    case WM_NOTIFY: return onNotify(mainWindow, *reinterpret_cast<const NMHDR*>(lParam));
    case WM_HOTKEY: dispatchHotKey(mainWindow, wParam); return TRUE;
    case WM_SYSCOMMAND: return onMenuKey(mainWindow, wParam, lParam);
    case WM_ACTIVATE: return onActivate(mainWindow, wParam, lParam);
    case WM_SETFOCUS: return onSetFocus(mainWindow);
    case WM_ACTIVATEAPP: onActivateAppHotKeys(mainWindow, wParam); return FALSE;
    case WM_TIMER: return onHotKeyRetryTimer(mainWindow, wParam);
    // Wine's control sends this on Tab; moving the focus onto itself selected all of the text,
    // which the TAB then replaced. The editor is the only control: focus has nowhere to go.
    case WM_NEXTDLGCTL: return TRUE;
    case WM_CLOSE: requestClose(mainWindow); return TRUE;
    case kRetireEditor: retireEditor(mainWindow, wParam, keptEditor()); return TRUE;
    default: return onRegisteredMessage(mainWindow, message);
    }
}
