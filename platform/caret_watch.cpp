#include "caret_watch.h"

#include "editor_control.h"

#include <initializer_list>

namespace {

constexpr UINT_PTR kWatchId = 1;

bool inProgress = false;

struct Range {
    LONG min;
    LONG max;
};

Range selectionOf(HWND editor) {
    CHARRANGE range = {};
    SendMessageA(editor, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&range));
    return {range.cpMin, range.cpMax};
}

// The control makes the later end the one that moves on with Shift.
void select(HWND editor, LONG anchor, LONG caret) {
    CHARRANGE range = {anchor < caret ? anchor : caret, anchor < caret ? caret : anchor};
    SendMessageA(editor, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&range));
}

LONG lineOf(HWND editor, LONG position) {
    return static_cast<LONG>(SendMessageA(editor, EM_EXLINEFROMCHAR, 0, position));
}

LONG lineStart(HWND editor, LONG line) {
    return static_cast<LONG>(SendMessageA(editor, EM_LINEINDEX, static_cast<WPARAM>(line), 0));
}

LONG lineLengthAt(HWND editor, LONG position) {
    return static_cast<LONG>(SendMessageA(editor, EM_LINELENGTH, static_cast<WPARAM>(position), 0));
}

bool isLineStart(HWND editor, LONG position) {
    return position > 0 && position <= textLength(editor) && lineStart(editor, lineOf(editor, position)) == position;
}

// A word move from inside a line to its end reads as that end plus the line's length plus one:
// the control's caret has the next paragraph with this line's end. True with the line's end when
// `reached` is such a reading for a move that began on `line`.
bool overranLine(HWND editor, LONG line, LONG reached, LONG& lineEnd) {
    LONG start = lineStart(editor, line);
    LONG length = lineLengthAt(editor, start);
    lineEnd = start + length;
    return length > 0 && reached == lineEnd + length + 1;
}

// Ctrl+Right, with or without Shift: the end that moved was one of the two before the key; with
// Shift, the one that did not stay.
void repairWordMove(HWND editor, Range before, Range after, bool extends) {
    LONG anchor = after.min == before.min || after.min == before.max ? after.min : after.max;
    LONG moved = anchor == after.min ? after.max : after.min;
    for (LONG from : {before.min, before.max}) {
        if (extends && from == anchor && before.min != before.max) continue;
        LONG lineEnd = 0;
        if (overranLine(editor, lineOf(editor, from), moved, lineEnd) && from < lineEnd) {
            select(editor, extends ? anchor : lineEnd, lineEnd);
            return;
        }
    }
}

// A double click on a line's last word moves both ends that way; a start already put back by a
// drag since stays.
void repairWordSelection(HWND editor, Range now, LONG line) {
    LONG lineEnd = 0;
    if (!overranLine(editor, line, now.max, lineEnd)) return;
    LONG past = now.max - lineEnd;
    select(editor, now.min > lineEnd ? now.min - past : now.min, lineEnd);
}

// The control draws its caret where its own caret is: after a line's end mark, on that line,
// above the line that the caret's offset names.
bool caretOnLineAbove(HWND editor, LONG position) {
    POINT caret = {};
    POINTL at = {};
    if (GetFocus() != editor || !GetCaretPos(&caret)) return false;
    SendMessageA(editor, EM_POSFROMCHAR, reinterpret_cast<WPARAM>(&at), position);
    return caret.y < at.y;
}

constexpr LONG kLeadCapacity = 64;  // bytes of a selection written out, to look at its start

struct Lead {
    char bytes[kLeadCapacity];
    LONG count;
};

DWORD CALLBACK keepLead(DWORD_PTR cookie, LPBYTE buffer, LONG count, LONG* done) {
    Lead& lead = *reinterpret_cast<Lead*>(cookie);
    LONG taken = count < kLeadCapacity - lead.count ? count : kLeadCapacity - lead.count;
    CopyMemory(lead.bytes + lead.count, buffer, static_cast<SIZE_T>(taken));
    lead.count += taken;
    *done = count;
    return lead.count == kLeadCapacity ? 1 : 0;  // enough seen: the control stops writing
}

LONG leadingLineEnds(const Lead& lead) {
    LONG pairs = 0;
    while (2 * pairs + 1 < lead.count && lead.bytes[2 * pairs] == '\r' && lead.bytes[2 * pairs + 1] == '\n') ++pairs;
    return pairs;
}

// The control writes a selection out from its own start caret: from after a line's end mark, it
// writes that line end first, one more than the empty lines the selection starts with.
bool startAfterLineEnd(HWND editor, Range now) {
    LONG empty = 0;
    for (LONG at = now.min; at < now.max && lineLengthAt(editor, at) == 0 && 2 * (empty + 2) <= kLeadCapacity; ++at)
        ++empty;
    Lead lead = {};
    EDITSTREAM stream = {};
    stream.dwCookie = reinterpret_cast<DWORD_PTR>(&lead);
    stream.pfnCallback = keepLead;
    SendMessageA(editor, EM_STREAMOUT, SF_TEXT | SFF_SELECTION, reinterpret_cast<LPARAM>(&stream));
    return 2 * (empty + 2) <= kLeadCapacity && leadingLineEnds(lead) == empty + 1;
}

// A move by rows or a click can leave the control's caret after a line's end mark, read as the
// next line's start. Alone, or where a selection starts, the next edit splits the paragraph at its
// own end mark; at a selection's end it is harmless (the control puts it there itself when it
// selects a paragraph). `stepBack`: the control's own Shift+Left may step it back over the mark,
// which keeps the selection's anchor at the other end (no selection message can).
void repairAfterLineEnd(HWND editor, bool stepBack) {
    Range now = selectionOf(editor);
    if (!isLineStart(editor, now.min)) return;
    if (now.min == now.max) {
        // Drawn on the line above, it is where the control meant it, at that line's end; else it
        // is set again where it is, as the control may hold a selection there that reads as none.
        LONG caret = caretOnLineAbove(editor, now.min) ? now.min - 1 : now.min;
        select(editor, caret, caret);
    } else if (startAfterLineEnd(editor, now)) {
        if (stepBack) SendMessageA(editor, WM_KEYDOWN, VK_LEFT, 1);
        else select(editor, now.max, now.min - 1);
    }
}

bool isRowKey(WPARAM key) { return key == VK_UP || key == VK_DOWN || key == VK_PRIOR || key == VK_NEXT; }

LRESULT onKeyDown(HWND editor, WPARAM key, LPARAM flags) {
    bool extends = GetKeyState(VK_SHIFT) < 0, control = GetKeyState(VK_CONTROL) < 0;
    bool wordMove = key == VK_RIGHT && control;
    if (inProgress || !(wordMove || isRowKey(key))) return DefSubclassProc(editor, WM_KEYDOWN, key, flags);
    Range before = selectionOf(editor);
    inProgress = true;
    LRESULT result = DefSubclassProc(editor, WM_KEYDOWN, key, flags);
    Range after = selectionOf(editor);
    bool moved = after.min != before.min || after.max != before.max;
    if (moved && wordMove) repairWordMove(editor, before, after, extends);
    else if (moved) repairAfterLineEnd(editor, extends && !control);
    inProgress = false;
    keepSelectionInText(editor);
    return result;
}

// The line under a point of the client area: the start of the row at its height.
LONG lineAtHeight(HWND editor, LPARAM point) {
    POINTL left = {0, static_cast<short>(HIWORD(point))};
    return lineOf(editor, static_cast<LONG>(SendMessageA(editor, EM_CHARFROMPOS, 0, reinterpret_cast<LPARAM>(&left))));
}

// A click places the caret by its point, a double click selects the word there (and a drag
// after it moves by words), and a drag ends with the button's release.
LRESULT onClick(HWND editor, UINT message, WPARAM keys, LPARAM point) {
    static bool byWords = false;
    if (inProgress) return DefSubclassProc(editor, message, keys, point);
    if (message != WM_LBUTTONUP) byWords = message == WM_LBUTTONDBLCLK;
    inProgress = true;
    LRESULT result = DefSubclassProc(editor, message, keys, point);
    if (byWords) repairWordSelection(editor, selectionOf(editor), lineAtHeight(editor, point));
    repairAfterLineEnd(editor, false);
    inProgress = false;
    keepSelectionInText(editor);
    return result;
}

LRESULT CALLBACK watchProc(HWND editor, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR) {
    switch (message) {
    case WM_KEYDOWN: return onKeyDown(editor, wParam, lParam);
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
    case WM_LBUTTONUP: return onClick(editor, message, wParam, lParam);
    case WM_NCDESTROY:
        RemoveWindowSubclass(editor, watchProc, kWatchId);
        return DefSubclassProc(editor, message, wParam, lParam);
    default: return DefSubclassProc(editor, message, wParam, lParam);
    }
}

} // namespace

// Wine's own export: the faults watched for are those of Wine's control.
bool runsOnWine() {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

void watchCaretMoves(HWND editor) {
    static const bool wine = runsOnWine();
    if (wine) SetWindowSubclass(editor, watchProc, kWatchId, 0);
}

bool caretMoveInProgress() { return inProgress; }
