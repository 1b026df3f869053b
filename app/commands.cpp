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

} // namespace

void dispatchCommand(HWND mainWindow, WPARAM wParam) {
    for (const Command& command : kCommands)
        if (wParam == command.id) command.run(mainWindow);
}
