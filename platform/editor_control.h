// The rich edit control that holds the text, and the operations the program drives it with.
#ifndef PELLUX_EDITOR_CONTROL_H
#define PELLUX_EDITOR_CONTROL_H

#include "win.h"

constexpr DWORD kReadChunk = 2048;
constexpr DWORD kWriteChunk = 64 * 1024;  // the control hands out 4 KB at a time: fewer writes

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
    // Writing: bytes taken from the control and not yet written.
    BYTE unwritten[kWriteChunk];
    DWORD held = 0;
};

// What copyWithLineEnds did: bytes taken, bytes handed on, line ends among them.
struct LineEndCopy {
    DWORD used;
    LONG produced;
    LONG lineEnds;
};

// Copies text on its way into the control with every line end (CR LF, a lone CR or a lone LF) as
// one CR LF, whole within the piece: Wine's control makes two line ends of a CR at the end of a
// piece and the LF that starts the next, and a space of CR CR LF. afterCr carries over between
// calls, so that the LF of a CR LF split between two sources is not a line end of its own.
LineEndCopy copyWithLineEnds(const BYTE* from, DWORD available, LPBYTE to, LONG room, bool& afterCr);

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
// Shows fresh in old's place, with its identifier and the focus if old had it; old is hidden and
// has no identifier.
void swapEditors(HWND old, HWND fresh);
// Leaves a hidden control to kRetireEditor, posted to the main window: Wine takes a third of a
// second to destroy a control of 50,000 lines, which can wait until the new text is on the screen.
void retireLater(HWND control);
// swapEditors, then old is retired.
void replaceEditor(HWND old, HWND fresh);
constexpr UINT kRetireEditor = WM_APP;  // wParam: the control to destroy
// Destroys the control unless it is the editor again, or kept (hidden for Undo).
void retireEditor(HWND mainWindow, WPARAM control, HWND kept);

// Writes all text to the file; false when a write failed or was short.
bool streamFileOut(HWND editor, FileStream& stream);

// The number of characters, each line end counting one, as the control's positions count them.
LONG textLength(HWND editor);

// Puts a selection that lies past the end of the text back inside it; the control reports each
// change of the selection (EN_SELCHANGE). Wine's control, moving a word to the right from the last
// word of the text (Ctrl+Right, or a double click there), leaves its caret on the paragraph after
// the last: it then reads the position as the text's length plus one plus the caret's place in
// the last line, and the next Right ends the program. Such a position is mapped back to that
// place; a selection inside the text is never touched. During a key that caret_watch.h watches,
// the watch does this once the key is done.
void keepSelectionInText(HWND editor);

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
