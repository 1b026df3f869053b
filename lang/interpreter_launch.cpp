#include "interpreter_launch.h"

#include "../document/document.h"
#include "../platform/dialogs.h"
#include "../platform/text.h"
#include "../platform/texts.h"
#include "../resources/resource.h"

namespace {

constexpr int kInterpreterPathCapacity = 620;
constexpr int kArgumentsCapacity = 620;
constexpr int kReasonCapacity = 256;
constexpr int kReportCapacity = kTextCapacity + kInterpreterPathCapacity + kReasonCapacity + 8;
constexpr char kInterpreterName[] = "Pellux.Exe";

char interpreterPathBuffer[kInterpreterPathCapacity];
char arguments[kArgumentsCapacity];
char report[kReportCapacity];

// The system's words for an error, or nothing when it has none.
void describeError(DWORD error, char* reason, DWORD capacity) {
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                                  reason, capacity, nullptr);
    if (length == 0) reason[0] = '\0';
}

// Tells the user why nothing ran: the interpreter's full path, and the system's reason.
void reportFailure(HWND mainWindow, UINT headline, DWORD error) {
    char reason[kReasonCapacity] = "";
    if (error != 0) describeError(error, reason, kReasonCapacity);
    copyText(report, kReportCapacity, loadText(headline).value);
    if (interpreterPathBuffer[0] != '\0') {
        appendText(report, kReportCapacity, "\r\n");
        appendText(report, kReportCapacity, interpreterPathBuffer);
    }
    if (reason[0] != '\0') {
        appendText(report, kReportCapacity, "\r\n\r\n");
        appendText(report, kReportCapacity, reason);
    }
    platformDialogs.messageBoxEx(mainWindow, report, loadText(IDS_RUN_CAPTION).value, MB_OK | MB_ICONERROR, 0);
}

} // namespace

void buildInterpreterPath() {
    interpreterPathBuffer[0] = '\0';
    DWORD length = GetCurrentDirectoryA(kInterpreterPathCapacity, interpreterPathBuffer);
    // A directory that does not fit leaves the path empty: Run File then says so.
    bool fits = length > 0 && length < kInterpreterPathCapacity &&
                appendText(interpreterPathBuffer, kInterpreterPathCapacity, "\\") &&
                appendText(interpreterPathBuffer, kInterpreterPathCapacity, kInterpreterName);
    if (!fits) interpreterPathBuffer[0] = '\0';
}

const char* interpreterPath() { return interpreterPathBuffer; }

void runInterpreter(HWND mainWindow) {
    if (interpreterPathBuffer[0] == '\0') {
        reportFailure(mainWindow, IDS_PATH_TOO_LONG, 0);
        return;
    }
    RtlZeroMemory(arguments, sizeof arguments);
    // documentPath holds at most 255 bytes, so the whole line always fits.
    appendText(arguments, kArgumentsCapacity, "/f ");
    appendText(arguments, kArgumentsCapacity, document().documentPath);
    appendText(arguments, kArgumentsCapacity, " /p");
    INT_PTR result = reinterpret_cast<INT_PTR>(
        ShellExecuteA(mainWindow, nullptr, interpreterPathBuffer, arguments, nullptr, SW_SHOWDEFAULT));
    if (result > 32) return;
    DWORD error = GetLastError();
    if (error == 0) error = static_cast<DWORD>(result);  // the old codes match the system's
    bool missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    reportFailure(mainWindow, missing ? IDS_INTERPRETER_MISSING : IDS_INTERPRETER_FAILED, missing ? 0 : error);
}
