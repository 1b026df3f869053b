// The rich edit control that holds the text, and the operations the program drives it with.
#ifndef PELLUX_EDITOR_CONTROL_H
#define PELLUX_EDITOR_CONTROL_H

#include "win.h"

constexpr DWORD kReadChunk = 2048;

// What a text costs Wine's control: about 35 bytes of memory for each byte and 2.3 KB for each
// line; a 32-bit editor ran out of memory and crashed at about a million short lines. A line
// end counts as this many bytes towards the limit, which keeps a text (and, during Open, the
// one it replaces) well within the address space.
constexpr LONGLONG kLineEndCost = 48;
constexpr LONGLONG kMaxOpenCost = 8LL << 20;

// The cookie of a file stream: the open file and the first failure met, if any.
struct FileStream {
    explicit FileStream(HANDLE handle) : file(handle) {}

    HANDLE file;
    DWORD error = 0;   // GetLastError of the first failed read or write, or a code of ours
    bool failed = false;
    // Reading: bytes read from the file and not yet handed on, whether the last byte handed on
    // was a CR, and whether the file's end was reached.
    BYTE pending[kReadChunk];
    DWORD next = 0;
    DWORD end = 0;
    bool afterCr = false;
    bool atEnd = false;
    LONGLONG cost = 0;   // of what was handed on, as counted against kMaxOpenCost
};

DWORD CALLBACK streamReadCallback(DWORD_PTR cookie, LPBYTE buffer, LONG count, LONG* done);
DWORD CALLBACK streamWriteCallback(DWORD_PTR cookie, LPBYTE buffer, LONG count, LONG* done);

HWND editorOf(HWND mainWindow);

// Limit, wrapping, and notice of changes and keys, set on each control when it is made.
void prepareEditor(HWND editor);

// Replaces all text by the file's, with every line end as CR LF; false when a read failed, the
// text costs more than kMaxOpenCost, or the control stopped before the file's end.
bool streamFileIn(HWND editor, FileStream& stream);
// A new, empty and hidden control made like editor, beside it, with no identifier yet; nullptr
// when it could not be made. Wine's control takes far longer to replace a long text than to be
// destroyed and made anew.
HWND createEditorLike(HWND editor);
// Puts fresh in old's place, with its identifier and the focus if old had it. Old is hidden and
// left to kRetireEditor, posted to the main window: Wine takes a third of a second to destroy a
// control of 50,000 lines, which can wait until the new text is on the screen.
void replaceEditor(HWND old, HWND fresh);
constexpr UINT kRetireEditor = WM_APP;  // wParam: the control to destroy
void retireEditor(HWND mainWindow, WPARAM control);

// Writes all text to the file; false when a write failed or was short.
bool streamFileOut(HWND editor, FileStream& stream);

// While one of these lives, text changes come from the program, not from the user.
class ProgramChange {
public:
    ProgramChange() { ++depth_; }
    ~ProgramChange() { --depth_; }
    ProgramChange(const ProgramChange&) = delete;
    ProgramChange& operator=(const ProgramChange&) = delete;
    static bool active() { return depth_ > 0; }

private:
    static int depth_;
};

#endif
