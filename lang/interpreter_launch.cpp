#include "interpreter_launch.h"

#include "../document/document.h"
#include "../platform/text.h"

namespace {

constexpr int kInterpreterPathCapacity = 620;
constexpr int kArgumentsCapacity = 620;
constexpr char kInterpreterName[] = "Pellux.Exe";

char interpreterPathBuffer[kInterpreterPathCapacity];
char arguments[kArgumentsCapacity];

} // namespace

void buildInterpreterPath() {
    interpreterPathBuffer[0] = '\0';
    DWORD length = GetCurrentDirectoryA(kInterpreterPathCapacity, interpreterPathBuffer);
    // A directory that does not fit leaves the path empty: Run File then starts nothing.
    bool fits = length > 0 && length < kInterpreterPathCapacity &&
                appendText(interpreterPathBuffer, kInterpreterPathCapacity, "\\") &&
                appendText(interpreterPathBuffer, kInterpreterPathCapacity, kInterpreterName);
    if (!fits) interpreterPathBuffer[0] = '\0';
}

const char* interpreterPath() { return interpreterPathBuffer; }

void runInterpreter(HWND mainWindow) {
    if (interpreterPathBuffer[0] == '\0') return;
    RtlZeroMemory(arguments, sizeof arguments);
    // documentPath holds at most 255 bytes, so the whole line always fits.
    appendText(arguments, kArgumentsCapacity, "/f ");
    appendText(arguments, kArgumentsCapacity, document().documentPath);
    appendText(arguments, kArgumentsCapacity, " /p");
    ShellExecuteA(mainWindow, nullptr, interpreterPathBuffer, arguments, nullptr, SW_SHOWDEFAULT);
}
