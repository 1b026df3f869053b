#include "quick_replace.h"

#include "editing.h"
#include "../platform/editor_control.h"
#include "../resources/resource.h"

namespace {

constexpr int kPieces = 3;  // the text before the selection, the new text, the text after it

// The text of the editor as it streams out: each line end as CR LF.
char wholeText[kQuickReplaceCapacity];

struct ReadOut {
    DWORD size;
    bool full;
};

struct Piece {
    const BYTE* bytes;
    DWORD size;
};

struct Splice {
    Piece pieces[kPieces];
    int next;
    DWORD at;
    bool afterCr;
};

HWND kept = nullptr;       // hidden: the text before the last quick replacement, or after it once undone
bool keptIsAhead = false;  // kept holds the undone replacement, which Redo shows again
int ownRedos = 0;          // while kept is ahead: redo steps of the shown control that come first
bool stepping = false;     // the editor's own Undo, Redo or swap is changing the text

// The hidden control, if it still belongs to this main window.
HWND keptFor(HWND mainWindow) {
    if (kept && !IsChild(mainWindow, kept)) kept = nullptr;
    return kept;
}

LONG lineEndsIn(HWND editor, const CHARRANGE& range) {
    LRESULT first = SendMessageA(editor, EM_EXLINEFROMCHAR, 0, range.cpMin);
    LRESULT last = SendMessageA(editor, EM_EXLINEFROMCHAR, 0, range.cpMax);
    return static_cast<LONG>(last - first);
}

// The selection, its end cut at the end of the text, when it is large enough for a fresh control.
bool largeSelection(HWND editor, CHARRANGE& selection, LONG& length) {
    SendMessageA(editor, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&selection));
    length = textLength(editor);
    if (selection.cpMax > length) selection.cpMax = length;
    return selection.cpMin < selection.cpMax && lineEndsIn(editor, selection) >= kQuickReplaceLines;
}

DWORD CALLBACK writeToWholeText(DWORD_PTR cookie, LPBYTE buffer, LONG count, LONG* done) {
    ReadOut& out = *reinterpret_cast<ReadOut*>(cookie);
    DWORD bytes = static_cast<DWORD>(count);
    if (bytes > kQuickReplaceCapacity - out.size) {
        out.full = true;
        *done = 0;
        return 1;
    }
    CopyMemory(wholeText + out.size, buffer, bytes);
    out.size += bytes;
    *done = count;
    return 0;
}

// Steps over count characters of the streamed-out text from byte at: a line end is one character
// and two bytes, and so is a character of a double-byte code page.
DWORD skipCharacters(DWORD at, DWORD size, LONG count) {
    for (; count > 0 && at < size; --count) {
        bool pair = at + 1 < size && ((wholeText[at] == '\r' && wholeText[at + 1] == '\n') ||
                                      IsDBCSLeadByte(static_cast<BYTE>(wholeText[at])));
        at += pair ? 2 : 1;
    }
    return at;
}

// The text before and after the selection, as the first and last pieces; false when it could not
// be read out whole.
bool readAround(HWND editor, const CHARRANGE& selection, LONG length, Splice& splice) {
    if (selection.cpMin == 0 && selection.cpMax == length) return true;  // all of it goes
    ReadOut out = {0, false};
    EDITSTREAM stream = {reinterpret_cast<DWORD_PTR>(&out), 0, writeToWholeText};
    SendMessageA(editor, EM_STREAMOUT, SF_TEXT, reinterpret_cast<LPARAM>(&stream));
    if (out.full || stream.dwError != 0) return false;
    DWORD cut = skipCharacters(0, out.size, selection.cpMin);
    DWORD resume = skipCharacters(cut, out.size, selection.cpMax - selection.cpMin);
    const BYTE* bytes = reinterpret_cast<const BYTE*>(wholeText);
    splice.pieces[0] = {bytes, cut};
    splice.pieces[kPieces - 1] = {bytes + resume, out.size - resume};
    return true;
}

DWORD CALLBACK readSplice(DWORD_PTR cookie, LPBYTE buffer, LONG count, LONG* done) {
    Splice& splice = *reinterpret_cast<Splice*>(cookie);
    LONG produced = 0;
    while (produced < count && splice.next < kPieces) {
        const Piece& piece = splice.pieces[splice.next];
        LineEndCopy copy = copyWithLineEnds(piece.bytes + splice.at, piece.size - splice.at, buffer + produced,
                                            count - produced, splice.afterCr);
        splice.at += copy.used;
        produced += copy.produced;
        if (splice.at == piece.size) {
            ++splice.next;
            splice.at = 0;
        } else if (copy.used == 0) {
            break;  // no room left for a whole line end
        }
    }
    *done = produced;
    return 0;
}

// Tells the main window the text changed, as the control itself would have.
void reportChange(HWND mainWindow, HWND editor) {
    SendMessageA(mainWindow, WM_COMMAND, MAKEWPARAM(IDC_EDITOR, EN_CHANGE), reinterpret_cast<LPARAM>(editor));
}

void showKept(HWND mainWindow) {
    HWND shown = editorOf(mainWindow);
    swapEditors(shown, kept);
    kept = shown;
    keptIsAhead = !keptIsAhead;
    ownRedos = 0;
    stepping = true;
    reportChange(mainWindow, editorOf(mainWindow));
    stepping = false;
}

void deleteWithControl(HWND editor) {
    static const char kNoText[] = "";
    SendMessageA(editor, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(kNoText));
}

// The length of a NUL-terminated text in a block of at most capacity bytes.
DWORD boundedLength(const char* text, SIZE_T capacity) {
    DWORD length = 0;
    while (length < capacity && text[length] != '\0') ++length;
    return length;
}

} // namespace

bool replaceLargeSelection(HWND mainWindow, const char* text, DWORD length) {
    HWND editor = editorOf(mainWindow);
    CHARRANGE selection;
    LONG end;
    if (!largeSelection(editor, selection, end)) return false;
    Splice splice = {};
    if (!readAround(editor, selection, end, splice)) return false;
    splice.pieces[1] = {reinterpret_cast<const BYTE*>(text), length};
    HWND fresh = freshEditorLike(editor);
    if (!fresh) return false;
    EDITSTREAM stream = {reinterpret_cast<DWORD_PTR>(&splice), 0, readSplice};
    {
        ProgramChange change;
        SendMessageA(fresh, EM_STREAMIN, SF_TEXT, reinterpret_cast<LPARAM>(&stream));
    }
    LONG caret = textLength(fresh) - (end - selection.cpMax);
    if (stream.dwError != 0 || splice.next < kPieces || caret < selection.cpMin) {
        DestroyWindow(fresh);
        return false;
    }
    CHARRANGE at = {caret, caret};
    SendMessageA(fresh, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&at));
    swapEditors(editor, fresh);
    if (HWND older = keptFor(mainWindow)) retireLater(older);
    kept = editor;
    keptIsAhead = false;
    ownRedos = 0;
    SendMessageA(fresh, EM_SCROLLCARET, 0, 0);
    reportChange(mainWindow, fresh);
    return true;
}

bool cutLargeSelection(HWND mainWindow) {
    HWND editor = editorOf(mainWindow);
    CHARRANGE selection;
    LONG end;
    if (!largeSelection(editor, selection, end)) return false;
    SendMessageA(editor, WM_COPY, 0, 0);
    if (!replaceLargeSelection(mainWindow, "", 0)) deleteWithControl(editor);
    return true;
}

bool pasteOverLargeSelection(HWND mainWindow) {
    CHARRANGE selection;
    LONG end;
    if (!largeSelection(editorOf(mainWindow), selection, end)) return false;
    if (!IsClipboardFormatAvailable(CF_TEXT) || !OpenClipboard(mainWindow)) return false;
    bool pasted = false;
    if (HANDLE data = GetClipboardData(CF_TEXT)) {
        if (const char* text = static_cast<const char*>(GlobalLock(data))) {
            pasted = replaceLargeSelection(mainWindow, text, boundedLength(text, GlobalSize(data)));
            GlobalUnlock(data);
        }
    }
    CloseClipboard();
    return pasted;
}

void undoLatest(HWND mainWindow) {
    HWND editor = editorOf(mainWindow);
    bool canUndo = SendMessageA(editor, EM_CANUNDO, 0, 0) != 0;
    if (!canUndo && keptFor(mainWindow) && !keptIsAhead) {
        showKept(mainWindow);
        return;
    }
    stepping = true;
    SendMessageA(editor, EM_UNDO, 0, 0);
    stepping = false;
    if (canUndo && keptFor(mainWindow) && keptIsAhead) ++ownRedos;
}

void redoLatest(HWND mainWindow) {
    if (keptFor(mainWindow) && keptIsAhead && ownRedos == 0) {
        showKept(mainWindow);
        return;
    }
    stepping = true;
    SendMessageA(editorOf(mainWindow), EM_REDO, 0, 0);
    stepping = false;
    if (keptFor(mainWindow) && keptIsAhead) --ownRedos;
}

void noteEditorEdit(HWND mainWindow) {
    if (stepping || ProgramChange::active() || !keptFor(mainWindow) || !keptIsAhead) return;
    retireLater(kept);  // a new edit: the undone replacement is gone for good, as in the control
    kept = nullptr;
}

HWND keptEditor() { return kept; }

void forgetKeptEditor() {
    if (kept && IsWindow(kept)) retireLater(kept);
    kept = nullptr;
}
