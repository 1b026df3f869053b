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
    LONG streamed;      // bytes of the earlier pieces
    LONG lineEnds;      // CR LF pairs in the bytes scanned so far
    bool endsWithCr;    // the last piece ended in CR: a LF next completes a pair
    LONG position;      // where the invalid byte is in the control
};

// The text streams out with CR LF line ends, while the control counts a line end as one
// character: every pair before a byte moves its place in the control back by one.
void countLineEnds(CheckRun& run, const unsigned char* piece, std::size_t length) {
    if (length == 0) return;
    if (run.endsWithCr && piece[0] == '\n') ++run.lineEnds;
    for (std::size_t i = 1; i < length; ++i)
        if (piece[i] == '\n' && piece[i - 1] == '\r') ++run.lineEnds;
    run.endsWithCr = piece[length - 1] == '\r';
}

// The text comes out of the control in pieces and is scanned where it lies; the scan's state
// carries a comment or string line over from one piece to the next.
DWORD CALLBACK scanPiece(DWORD_PTR cookie, LPBYTE buffer, LONG count, LONG* done) {
    CheckRun& run = *reinterpret_cast<CheckRun*>(cookie);
    *done = count;
    std::size_t length = count > 0 ? static_cast<std::size_t>(count) : 0;
    std::size_t at = scanSyntax(run.state, buffer, length);
    countLineEnds(run, buffer, at);
    if (at == length) {
        run.streamed += count;
        return 0;
    }
    run.found = true;
    run.invalid = buffer[at];
    run.position = run.streamed + static_cast<LONG>(at) - run.lineEnds;
    return 1;  // the first invalid byte is all we report: stop the stream
}

void showResult(const char* text) {
    Text caption = loadText(IDS_RESULTS_CAPTION);
    platformDialogs.messageBoxEx(nullptr, text, caption.value, 0, 0);
}

// Selects the invalid byte and scrolls to it, so the user sees where it is.
void pointAt(HWND editor, LONG position) {
    SendMessageA(editor, EM_SETSEL, position, position + 1);
    SendMessageA(editor, EM_SCROLLCARET, 0, 0);
}

} // namespace

void checkSyntax(HWND mainWindow) {
    HWND editor = editorOf(mainWindow);
    CheckRun run = {};
    EDITSTREAM stream = {};
    stream.dwCookie = reinterpret_cast<DWORD_PTR>(&run);
    stream.pfnCallback = scanPiece;
    SendMessageA(editor, EM_STREAMOUT, SF_TEXT, reinterpret_cast<LPARAM>(&stream));
    if (!run.found) {
        showResult(loadText(IDS_NO_ERRORS).value);
        return;
    }
    char message[kMessageCapacity];
    formatInvalidCharacter(message, kMessageCapacity, loadText(IDS_INVALID_CHARACTER).value,
                           static_cast<char>(run.invalid));
    showResult(message);
    pointAt(editor, run.position);
}
