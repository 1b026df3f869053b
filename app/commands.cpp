#include "commands.h"

#include "about.h"
#include "../document/document.h"
#include "../editing/editing.h"
#include "../lang/interpreter_launch.h"
#include "../lang/syntax_check.h"
#include "../resources/resource.h"

namespace {

struct Command {
    WPARAM id;
    void (*run)(HWND mainWindow);
};

// Tested in this order.
const Command kCommands[] = {
    {IDM_NEW, newDocument},
    {IDM_OPEN, openDocument},
    {IDM_SAVE, saveDocument},
    {IDM_UNDO, undoEdit},
    {IDM_REDO, redoEdit},
    {IDM_CUT, cutSelection},
    {IDM_COPY, copySelection},
    {IDM_PASTE, pasteClipboard},
    {IDM_DELETE, deleteSelection},
    {IDM_SELECTALL, selectAll},
    {IDM_FORECOLOR, chooseForeColor},
    {IDM_BACKCOLOR, chooseBackColor},
    {IDM_RUN, runInterpreter},
    {IDM_CHECKSYNTAX, checkSyntax},
    {IDM_NEWWINDOW, startNewWindow},
    {IDM_MINIMIZE, minimizeWindow},
    {IDM_MAXIMIZE, maximizeWindow},
    {IDM_EXIT, exitProgram},
    {IDM_ABOUT, showAbout},
};

struct HotKey {
    int id;
    UINT modifiers;
    UINT key;
    UINT message;   // WM_COMMAND with command, or WM_CLOSE
    WPARAM command;
};

const HotKey kHotKeys[kHotKeyCount] = {
    {1, MOD_CONTROL, 'N', WM_COMMAND, IDM_NEW},
    {2, MOD_CONTROL, 'O', WM_COMMAND, IDM_OPEN},
    {3, MOD_CONTROL, 'S', WM_COMMAND, IDM_SAVE},
    {4, MOD_ALT, 'X', WM_CLOSE, 0},
    {5, MOD_CONTROL, 'Y', WM_COMMAND, IDM_REDO},
    {6, 0, VK_F5, WM_COMMAND, IDM_RUN},
    {7, 0, VK_F6, WM_COMMAND, IDM_CHECKSYNTAX},
    {8, 0, VK_F8, WM_COMMAND, IDM_NEWWINDOW},
};

} // namespace

void dispatchCommand(HWND mainWindow, WPARAM wParam) {
    for (const Command& command : kCommands)
        if (wParam == command.id) command.run(mainWindow);
}

void dispatchHotKey(HWND mainWindow, WPARAM id) {
    HWND active = GetActiveWindow();
    for (const HotKey& hotKey : kHotKeys)
        if (id == static_cast<WPARAM>(hotKey.id) && active == mainWindow)
            SendMessageA(mainWindow, hotKey.message, hotKey.command, 0);
}

bool registerHotKeys(HWND mainWindow) {
    bool all = true;
    for (const HotKey& hotKey : kHotKeys)
        all = RegisterHotKey(mainWindow, hotKey.id, hotKey.modifiers, hotKey.key) && all;
    return all;
}

void unregisterHotKeys(HWND mainWindow) {
    for (const HotKey& hotKey : kHotKeys) UnregisterHotKey(mainWindow, hotKey.id);
}
