#include "syntax_check.h"

#include "syntax_scan.h"
#include "../platform/dialogs.h"
#include "../platform/editor_control.h"
#include "../platform/texts.h"
#include "../resources/resource.h"

namespace {

// "An error occurred, 'c' is an invalid character." and its NUL.
constexpr int kMessageCapacity = 48;

struct CheckRun {
    SyntaxScanState state;
    bool found;
    unsigned char invalid;
};

// The text comes out of the control in pieces and is scanned where it lies; the scan's state
// carries a comment or string line over from one piece to the next.
DWORD CALLBACK scanPiece(DWORD_PTR cookie, LPBYTE buffer, LONG count, LONG* done) {
    CheckRun& run = *reinterpret_cast<CheckRun*>(cookie);
    *done = count;
    std::size_t length = count > 0 ? static_cast<std::size_t>(count) : 0;
    std::size_t at = scanSyntax(run.state, buffer, length);
    if (at == length) return 0;
    run.found = true;
    run.invalid = buffer[at];
    return 1;  // the first invalid byte is all we report: stop the stream
}

void showResult(const char* text) {
    Text caption = loadText(IDS_RESULTS_CAPTION);
    platformDialogs.messageBoxEx(nullptr, text, caption.value, 0, 0);
}

} // namespace

void checkSyntax(HWND mainWindow) {
    CheckRun run = {};
    EDITSTREAM stream = {};
    stream.dwCookie = reinterpret_cast<DWORD_PTR>(&run);
    stream.pfnCallback = scanPiece;
    SendMessageA(editorOf(mainWindow), EM_STREAMOUT, SF_TEXT, reinterpret_cast<LPARAM>(&stream));
    if (!run.found) {
        showResult(loadText(IDS_NO_ERRORS).value);
        return;
    }
    char message[kMessageCapacity];
    formatInvalidCharacter(message, kMessageCapacity, loadText(IDS_INVALID_CHARACTER).value,
                           static_cast<char>(run.invalid));
    showResult(message);
}
