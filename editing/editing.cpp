#include "editing.h"

#include "quick_replace.h"
#include "../platform/dialogs.h"
#include "../platform/editor_control.h"
#include "../platform/texts.h"

namespace {

constexpr int kCustomColours = 16;
constexpr COLORREF kWhite = RGB(255, 255, 255);

CHARFORMATA charFormat = {};
COLORREF customColours[kCustomColours];
bool backColourChosen = false;  // until then the control uses the system's window colour
COLORREF backColour = 0;

LRESULT sendToEditor(HWND mainWindow, UINT message, WPARAM wParam, LPARAM lParam) {
    return SendMessageA(editorOf(mainWindow), message, wParam, lParam);
}

void applyCharFormat(HWND editor) {
    charFormat.cbSize = sizeof charFormat;
    charFormat.dwMask = CFM_BOLD | CFM_FACE | CFM_COLOR;
    charFormat.dwEffects = CFE_BOLD;
    ProgramChange change;  // a new colour is no edit of the text
    SendMessageA(editor, EM_SETCHARFORMAT, SCF_ALL, reinterpret_cast<LPARAM>(&charFormat));
}

void applyBackColour(HWND editor) {
    ProgramChange change;
    SendMessageA(editor, EM_SETBKGNDCOLOR, 0, static_cast<LPARAM>(backColour));
}

// Asks for a colour; false when the user cancelled, and then nothing may change.
bool chooseColor(HWND owner, HINSTANCE instance, DWORD flags, COLORREF& chosen) {
    for (COLORREF& colour : customColours) colour = kWhite;
    CHOOSECOLORA dialog;
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = owner;
    dialog.hInstance = reinterpret_cast<HWND>(instance);  // the record types it so
    dialog.rgbResult = 0;
    dialog.lpCustColors = customColours;
    dialog.Flags = flags;
    dialog.lCustData = 0;
    dialog.lpfnHook = nullptr;
    dialog.lpTemplateName = nullptr;
    if (!platformDialogs.chooseColor(&dialog)) return false;
    chosen = dialog.rgbResult;
    return true;
}

void applyAppearance(HWND editor) {
    ProgramChange change;
    SendMessageA(editor, EM_SETCHARFORMAT, SCF_DEFAULT, reinterpret_cast<LPARAM>(&charFormat));
    applyCharFormat(editor);
    if (backColourChosen) applyBackColour(editor);
}

bool hasSelection(HWND mainWindow) {
    CHARRANGE selection = {};
    sendToEditor(mainWindow, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&selection));
    return selection.cpMin != selection.cpMax;
}

// Wine's control empties the clipboard on a Copy or Cut of nothing; Windows' leaves it.
bool cutKey(HWND mainWindow) { return !hasSelection(mainWindow) || cutLargeSelection(mainWindow); }
bool copyKey(HWND mainWindow) { return !hasSelection(mainWindow); }

bool typedCharacter(HWND mainWindow, WPARAM code) {
    char typed = static_cast<char>(code);
    bool text = (code >= ' ' && code != 0x7F && !IsDBCSLeadByte(static_cast<BYTE>(code))) || code == '\t';
    return code <= 0xFF && text && replaceLargeSelection(mainWindow, &typed, 1);
}

bool deleteKey(HWND mainWindow) { return replaceLargeSelection(mainWindow, "", 0); }

} // namespace

void undoEdit(HWND mainWindow) { undoLatest(mainWindow); }
void redoEdit(HWND mainWindow) { redoLatest(mainWindow); }

void cutSelection(HWND mainWindow) {
    if (hasSelection(mainWindow) && !cutLargeSelection(mainWindow)) sendToEditor(mainWindow, WM_CUT, 0, 0);
}

void copySelection(HWND mainWindow) {
    if (hasSelection(mainWindow)) sendToEditor(mainWindow, WM_COPY, 0, 0);
}

void pasteClipboard(HWND mainWindow) {
    if (!pasteOverLargeSelection(mainWindow)) sendToEditor(mainWindow, WM_PASTE, 0, 0);
}

void deleteSelection(HWND mainWindow) {
    static const char kNoText[] = "";
    if (!replaceLargeSelection(mainWindow, kNoText, 0))
        sendToEditor(mainWindow, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(kNoText));
}

// The keys as Windows' control knows them: Ctrl+C and Ctrl+Insert copy, Ctrl+X and Shift+Delete
// cut, Ctrl+V pastes; Delete, Backspace, Enter and typed characters replace the selection.
bool onEditingKey(HWND mainWindow, const MSGFILTER& key) {
    if (key.msg == WM_CHAR) return typedCharacter(mainWindow, key.wParam);
    if (key.msg != WM_KEYDOWN) return false;
    bool control = GetKeyState(VK_CONTROL) < 0;
    bool shift = GetKeyState(VK_SHIFT) < 0;
    switch (key.wParam) {
    case 'C': return control && copyKey(mainWindow);
    case VK_INSERT: return control && !shift && copyKey(mainWindow);
    case 'X': return control && cutKey(mainWindow);
    case 'V': return control && pasteOverLargeSelection(mainWindow);
    case 'Z':
        if (!control || shift) return false;
        undoLatest(mainWindow);
        return true;
    case VK_DELETE: return shift && !control ? cutKey(mainWindow) : deleteKey(mainWindow);
    case VK_BACK: return deleteKey(mainWindow);
    case VK_RETURN: return replaceLargeSelection(mainWindow, "\r\n", 2);
    default: return false;
    }
}

void selectAll(HWND mainWindow) {
    CHARRANGE all = {0, -1};
    sendToEditor(mainWindow, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&all));
}

void applyInitialFormat(HWND mainWindow) {
    charFormat.crTextColor = 0;
    applyCharFormat(editorOf(mainWindow));
}

HWND freshEditorLike(HWND editor) {
    HWND fresh = createEditorLike(editor);
    if (fresh) applyAppearance(fresh);
    return fresh;
}

void chooseForeColor(HWND mainWindow) {
    COLORREF colour;
    if (!chooseColor(mainWindow, appInstance(), 0, colour)) return;
    charFormat.crTextColor = colour;
    applyCharFormat(editorOf(mainWindow));
    if (HWND hidden = keptEditor()) applyCharFormat(hidden);
}

void chooseBackColor(HWND mainWindow) {
    COLORREF colour;
    if (!chooseColor(mainWindow, appInstance(), 0, colour)) return;
    backColour = colour;
    backColourChosen = true;
    applyBackColour(editorOf(mainWindow));
    if (HWND hidden = keptEditor()) applyBackColour(hidden);
}

const CHARFORMATA& currentCharFormat() { return charFormat; }
