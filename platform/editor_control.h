// The rich edit control that holds the text, and the operations the program drives it with.
#ifndef PELLUX_EDITOR_CONTROL_H
#define PELLUX_EDITOR_CONTROL_H

#include "win.h"

// The cookie of a file stream: the open file and the first failure met, if any.
struct FileStream {
    HANDLE file;
    DWORD error;       // GetLastError of the first failed read or write, or a code of ours
    bool failed;
};

DWORD CALLBACK streamReadCallback(DWORD_PTR cookie, LPBYTE buffer, LONG count, LONG* done);
DWORD CALLBACK streamWriteCallback(DWORD_PTR cookie, LPBYTE buffer, LONG count, LONG* done);

HWND editorOf(HWND mainWindow);

// Limit, wrapping and change notification, set once when the window starts.
void prepareEditor(HWND editor);

// Replaces all text by the file's; false when a read failed.
bool streamFileIn(HWND editor, FileStream& stream);
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
