#include "editing.h"

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

} // namespace

void undoEdit(HWND mainWindow) { sendToEditor(mainWindow, EM_UNDO, 0, 0); }
void redoEdit(HWND mainWindow) { sendToEditor(mainWindow, EM_REDO, 0, 0); }
void cutSelection(HWND mainWindow) { sendToEditor(mainWindow, WM_CUT, 0, 0); }
void copySelection(HWND mainWindow) { sendToEditor(mainWindow, WM_COPY, 0, 0); }
void pasteClipboard(HWND mainWindow) { sendToEditor(mainWindow, WM_PASTE, 0, 0); }

void deleteSelection(HWND mainWindow) {
    static const char kNoText[] = "";
    sendToEditor(mainWindow, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(kNoText));
}

void selectAll(HWND mainWindow) {
    CHARRANGE all = {0, -1};
    sendToEditor(mainWindow, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&all));
}

void applyInitialFormat(HWND mainWindow) {
    charFormat.crTextColor = 0;
    applyCharFormat(editorOf(mainWindow));
}

void applyAppearance(HWND editor) {
    ProgramChange change;
    SendMessageA(editor, EM_SETCHARFORMAT, SCF_DEFAULT, reinterpret_cast<LPARAM>(&charFormat));
    applyCharFormat(editor);
    if (backColourChosen) applyBackColour(editor);
}

void chooseForeColor(HWND mainWindow) {
    COLORREF colour;
    if (!chooseColor(mainWindow, appInstance(), 0, colour)) return;
    charFormat.crTextColor = colour;
    applyCharFormat(editorOf(mainWindow));
}

void chooseBackColor(HWND mainWindow) {
    COLORREF colour;
    if (!chooseColor(mainWindow, appInstance(), 0, colour)) return;
    backColour = colour;
    backColourChosen = true;
    applyBackColour(editorOf(mainWindow));
}

const CHARFORMATA& currentCharFormat() { return charFormat; }
