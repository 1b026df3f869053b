#include "editor_control.h"

#include "caret_watch.h"
#include "../resources/resource.h"

int ProgramChange::depth_ = 0;

namespace {
// Beyond this the control is too slow to be of use anyway; 0xFFFFFFFF would be ignored.
constexpr LPARAM kTextLimit = 0x7FFFFFFE;
constexpr DWORD kShortWrite = ERROR_WRITE_FAULT;
constexpr DWORD kTooBig = ERROR_FILE_TOO_LARGE;

void recordFailure(FileStream& stream, DWORD error) {
    if (!stream.failed) { stream.failed = true; stream.error = error; }
}
} // namespace

namespace {
// False at the file's end or on a failed read.
bool refill(FileStream& stream) {
    if (stream.failed || stream.atEnd) return false;
    DWORD read = 0;
    if (!ReadFile(stream.file, stream.pending, kReadChunk, &read, nullptr)) {
        recordFailure(stream, GetLastError());
        return false;
    }
    stream.next = 0;
    stream.end = read;
    stream.atEnd = read == 0;
    return read > 0;
}
} // namespace

LineEndCopy copyWithLineEnds(const BYTE* from, DWORD available, LPBYTE to, LONG room, bool& afterCr) {
    LineEndCopy copy = {0, 0, 0};
    while (copy.used < available && copy.produced < room) {
        BYTE c = from[copy.used];
        if (c == '\n' && afterCr) {  // the LF of a CR LF already handed on
            ++copy.used;
            afterCr = false;
            continue;
        }
        bool lineEnd = c == '\r' || c == '\n';
        if (lineEnd && room - copy.produced < 2) break;
        ++copy.used;
        afterCr = c == '\r';
        if (lineEnd) {
            to[copy.produced++] = '\r';
            to[copy.produced++] = '\n';
            ++copy.lineEnds;
        } else {
            to[copy.produced++] = c;
        }
    }
    return copy;
}

DWORD CALLBACK streamReadCallback(DWORD_PTR cookie, LPBYTE buffer, LONG count, LONG* done) {
    FileStream& stream = *reinterpret_cast<FileStream*>(cookie);
    LONG produced = 0;
    while (produced < count) {
        if (stream.next == stream.end && !refill(stream)) break;
        LineEndCopy copy = copyWithLineEnds(stream.pending + stream.next, stream.end - stream.next, buffer + produced,
                                            count - produced, stream.afterCr);
        if (copy.used == 0) break;  // no room left for a whole line end
        stream.next += copy.used;
        produced += copy.produced;
        stream.cost += copy.produced + (kLineEndCost - 2) * copy.lineEnds;
    }
    if (stream.cost > kMaxOpenCost) recordFailure(stream, kTooBig);
    *done = produced;
    return stream.failed ? 1 : 0;
}

namespace {
// Writes what the stream holds; a failure is recorded.
bool writeHeld(FileStream& stream) {
    DWORD written = 0;
    if (!WriteFile(stream.file, stream.unwritten, stream.held, &written, nullptr)) {
        recordFailure(stream, GetLastError());
        return false;
    }
    if (written != stream.held) {
        recordFailure(stream, kShortWrite);
        return false;
    }
    stream.held = 0;
    return true;
}
} // namespace

DWORD CALLBACK streamWriteCallback(DWORD_PTR cookie, LPBYTE buffer, LONG count, LONG* done) {
    FileStream& stream = *reinterpret_cast<FileStream*>(cookie);
    *done = 0;
    for (DWORD taken = 0; taken < static_cast<DWORD>(count);) {
        if (stream.held == kWriteChunk && !writeHeld(stream)) return 1;  // the control stops there
        DWORD left = static_cast<DWORD>(count) - taken, room = kWriteChunk - stream.held;
        DWORD piece = left < room ? left : room;
        CopyMemory(stream.unwritten + stream.held, buffer + taken, piece);
        stream.held += piece;
        taken += piece;
    }
    *done = count;
    return 0;
}

HWND editorOf(HWND mainWindow) { return GetDlgItem(mainWindow, IDC_EDITOR); }

void prepareEditor(HWND editor) {
    SendMessageA(editor, EM_EXLIMITTEXT, 0, kTextLimit);
    SendMessageA(editor, EM_SETTARGETDEVICE, 0, 1);  // line width 1: never wrap
    SendMessageA(editor, EM_SETEVENTMASK, 0, ENM_CHANGE | ENM_KEYEVENTS | ENM_SELCHANGE);
    watchCaretMoves(editor);
}

namespace {
bool streamFile(HWND editor, UINT message, EDITSTREAMCALLBACK callback, FileStream& stream) {
    EDITSTREAM editStream = {};
    editStream.dwCookie = reinterpret_cast<DWORD_PTR>(&stream);
    editStream.pfnCallback = callback;
    SendMessageA(editor, message, SF_TEXT, reinterpret_cast<LPARAM>(&editStream));
    if (editStream.dwError != 0) recordFailure(stream, editStream.dwError);
    return !stream.failed;
}
} // namespace

bool streamFileIn(HWND editor, FileStream& stream) {
    bool read = streamFile(editor, EM_STREAMIN, streamReadCallback, stream);
    return read && stream.atEnd && stream.next == stream.end;
}

bool streamFileOut(HWND editor, FileStream& stream) {
    bool streamed = streamFile(editor, EM_STREAMOUT, streamWriteCallback, stream);
    return streamed && (stream.held == 0 || writeHeld(stream));
}

namespace {
// Where a control is in its parent's client area.
RECT placeOf(HWND control) {
    RECT place;
    GetWindowRect(control, &place);
    MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&place), 2);
    return place;
}
} // namespace

HWND createEditorLike(HWND editor) {
    HWND parent = GetParent(editor);
    RECT place = placeOf(editor);
    DWORD style = static_cast<DWORD>(GetWindowLongPtrA(editor, GWL_STYLE)) & ~WS_VISIBLE;
    DWORD exStyle = static_cast<DWORD>(GetWindowLongPtrA(editor, GWL_EXSTYLE));
    char className[32];
    if (GetClassNameA(editor, className, sizeof className) == 0) return nullptr;
    HWND fresh = CreateWindowExA(exStyle, className, nullptr, style, place.left, place.top, place.right - place.left,
                                 place.bottom - place.top, parent, nullptr,
                                 reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(editor, GWLP_HINSTANCE)), nullptr);
    if (!fresh) return nullptr;
    SendMessageA(fresh, WM_SETFONT, SendMessageA(editor, WM_GETFONT, 0, 0), FALSE);
    SetWindowPos(fresh, editor, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);  // same tab order
    prepareEditor(fresh);
    return fresh;
}

void swapEditors(HWND old, HWND fresh) {
    bool focused = GetFocus() == old;
    LONG_PTR id = GetWindowLongPtrA(old, GWLP_ID);
    // A control hidden for Undo misses the window's changes of size meanwhile. Put where it already
    // is, it keeps its layout; a new size makes Wine's control lay out all of its text again.
    RECT place = placeOf(old);
    SetWindowPos(fresh, nullptr, place.left, place.top, place.right - place.left, place.bottom - place.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    ShowWindow(old, SW_HIDE);
    SetWindowLongPtrA(old, GWLP_ID, 0);
    SetWindowLongPtrA(fresh, GWLP_ID, id);
    ShowWindow(fresh, SW_SHOWNA);
    if (focused) SetFocus(fresh);
    // No control takes the focus inside a minimized window, though Wine leaves it on the one that
    // had it and keeps sending it keys: a hidden control must not keep it. The restore gives it on.
    if (GetFocus() == old) SetFocus(nullptr);
}

void retireLater(HWND control) {
    if (!PostMessageA(GetParent(control), kRetireEditor, reinterpret_cast<WPARAM>(control), 0)) DestroyWindow(control);
}

void replaceEditor(HWND old, HWND fresh) {
    swapEditors(old, fresh);
    retireLater(old);
}

void retireEditor(HWND mainWindow, WPARAM control, HWND kept) {
    HWND old = reinterpret_cast<HWND>(control);
    if (IsChild(mainWindow, old) && old != editorOf(mainWindow) && old != kept) DestroyWindow(old);
}

LONG textLength(HWND editor) {
    GETTEXTLENGTHEX how = {GTL_NUMCHARS, CP_ACP};
    return static_cast<LONG>(SendMessageA(editor, EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&how), 0));
}

namespace {
// A position that lies past the end (length + 1 is the final line end's far side, which a
// select-all reaches) counts from after the end: it is the caret's place in the last line. A caret
// alone just past the end (a select-all collapsed by a key, or pasted over) is at the end.
LONG insideText(LONG position, LONG length, LONG lastLineStart) {
    if (position <= length) return position;
    if (position == length + 1) return length;
    LONG place = lastLineStart + (position - (length + 1));
    return place < length ? place : length;
}
} // namespace

void keepSelectionInText(HWND editor) {
    if (caretMoveInProgress()) return;  // looked at once the key is done
    CHARRANGE selection = {};
    SendMessageA(editor, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&selection));
    LONG length = textLength(editor);
    bool selectsToTheEnd = selection.cpMax == length + 1 && selection.cpMin < selection.cpMax;
    if (selection.cpMax <= length || selectsToTheEnd) return;
    LRESULT lastLine = SendMessageA(editor, EM_EXLINEFROMCHAR, 0, length);
    LONG lastLineStart = static_cast<LONG>(SendMessageA(editor, EM_LINEINDEX, static_cast<WPARAM>(lastLine), 0));
    CHARRANGE inside = {insideText(selection.cpMin, length, lastLineStart),
                        insideText(selection.cpMax, length, lastLineStart)};
    SendMessageA(editor, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&inside));
}
