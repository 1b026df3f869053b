#include "window_fixture.h"

#include "editing/editing.h"
#include "editing/quick_replace.h"
#include "platform/editor_control.h"

#include <cstring>

namespace {

CHARFORMATA formatOfAll(HWND editor) {
    SendMessageA(editor, EM_SETSEL, 0, -1);
    CHARFORMATA format = {};
    format.cbSize = sizeof format;
    SendMessageA(editor, EM_GETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&format));
    return format;
}

// The background is only the control's: read it back by setting it again, which returns the old one.
COLORREF background(HWND editor) {
    COLORREF old = static_cast<COLORREF>(SendMessageA(editor, EM_SETBKGNDCOLOR, 0, RGB(1, 2, 3)));
    SendMessageA(editor, EM_SETBKGNDCOLOR, 0, old);
    return old;
}

void putOnClipboard(const std::string& text) {
    ASSERT_TRUE(OpenClipboard(nullptr));
    EmptyClipboard();
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, text.size() + 1);
    std::memcpy(GlobalLock(block), text.c_str(), text.size() + 1);
    GlobalUnlock(block);
    SetClipboardData(CF_TEXT, block);
    CloseClipboard();
}

std::string clipboardText() {
    if (!OpenClipboard(nullptr)) return "<not opened>";
    std::string text = "<none>";
    if (HANDLE data = GetClipboardData(CF_TEXT)) {
        if (const char* bytes = static_cast<const char*>(GlobalLock(data))) {
            text = bytes;
            GlobalUnlock(data);
        }
    }
    CloseClipboard();
    return text;
}

::testing::AssertionResult selected(const CHARRANGE& range, LONG from, LONG to) {
    if (range.cpMin == from && range.cpMax == to) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "selection " << range.cpMin << "," << range.cpMax << ", expected " << from
                                         << "," << to;
}

// Long texts compared without printing them whole.
::testing::AssertionResult sameText(const std::string& actual, const std::string& expected) {
    if (actual == expected) return ::testing::AssertionSuccess();
    std::string::size_type at = 0;
    while (at < actual.size() && at < expected.size() && actual[at] == expected[at]) ++at;
    return ::testing::AssertionFailure() << "the texts (" << actual.size() << " and " << expected.size()
                                         << " bytes) differ at byte " << at << ": \"" << actual.substr(at, 24)
                                         << "\" where \"" << expected.substr(at, 24) << "\" was expected";
}

// Lines of a program, CR LF after each.
std::string programLines(int count) {
    std::string text;
    for (int i = 0; i < count; ++i) text += "++++[>++<-]>. # line " + std::to_string(i) + "\r\n";
    return text;
}

LONG lineStart(HWND editor, int line) { return static_cast<LONG>(SendMessageA(editor, EM_LINEINDEX, line, 0)); }

// The same text as the control counts it: each CR LF one position.
std::string::size_type byteOf(const std::string& text, LONG position) {
    std::string::size_type at = 0;
    for (LONG i = 0; i < position; ++i) at += text.compare(at, 2, "\r\n") == 0 ? 2 : 1;
    return at;
}


LONG xOf(HWND editor, LONG position) {
    POINTL at = {};
    SendMessageA(editor, EM_POSFROMCHAR, reinterpret_cast<WPARAM>(&at), position);
    return at.x;
}

LONG columnOf(HWND editor, LONG position) {
    LONG line = static_cast<LONG>(SendMessageA(editor, EM_EXLINEFROMCHAR, 0, position));
    return position - lineStart(editor, line);
}

// A line that ends right of where `upper` ends, by less than a space: a move by rows from its
// end onto `upper` lands just past upper's end, the case that Wine's control got wrong.
std::string lineEndingJustPast(MainWindowTest& test, const std::string& upper) {
    LONG end = static_cast<LONG>(upper.size());
    test.setText(upper + " ");
    LONG space = xOf(test.editor(), end + 1) - xOf(test.editor(), end);
    for (const std::string lower : {"$,", "+,", "-,", "..", ",.", "+.", ",,,", "<,"}) {
        test.setText(upper + "\r\n" + lower);
        LONG past = xOf(test.editor(), end + 1 + static_cast<LONG>(lower.size())) - xOf(test.editor(), end);
        if (past > 0 && past < space) return lower;
    }
    return "";
}

} // namespace

using EditingTest = MainWindowTest;

TEST_F(EditingTest, DeleteRemovesTheSelectionAndUndoBringsItBack) {
    type("+[->+<]");
    SendMessageA(editor(), EM_SETSEL, 1, 3);
    command(IDM_DELETE);
    EXPECT_EQ(text(), "+>+<]");
    command(IDM_UNDO);
    EXPECT_EQ(text(), "+[->+<]");
    command(IDM_REDO);
    EXPECT_EQ(text(), "+>+<]");

    SendMessageA(editor(), EM_SETSEL, 2, 2);  // no selection: nothing to delete
    command(IDM_DELETE);
    EXPECT_EQ(text(), "+>+<]");
}

TEST_F(EditingTest, CutCopyAndPasteGoThroughTheClipboard) {
    type("abc");
    SendMessageA(editor(), EM_SETSEL, 0, 1);
    command(IDM_CUT);
    EXPECT_EQ(text(), "bc");
    SendMessageA(editor(), EM_SETSEL, 2, 2);
    command(IDM_PASTE);
    EXPECT_EQ(text(), "bca");
    SendMessageA(editor(), EM_SETSEL, 0, 2);
    command(IDM_COPY);
    EXPECT_EQ(text(), "bca");
    SendMessageA(editor(), EM_SETSEL, 3, 3);
    command(IDM_PASTE);
    EXPECT_EQ(text(), "bcabc");
}

TEST_F(EditingTest, SelectAllCoversALongText) {
    setText(std::string(300000, '+'));
    SendMessageA(editor(), EM_SETSEL, 5, 5);
    command(IDM_SELECTALL);
    CHARRANGE range = selection();
    EXPECT_EQ(range.cpMin, 0);
    EXPECT_GE(range.cpMax, 300000);  // the control counts its final paragraph mark too
}

TEST_F(EditingTest, InitialFormatIsBoldBlackWithTheDesignedRecord) {
    const CHARFORMATA& record = currentCharFormat();
    EXPECT_EQ(record.cbSize, sizeof(CHARFORMATA));
    EXPECT_EQ(record.dwMask, 0x60000001u);
    EXPECT_EQ(record.dwEffects, static_cast<DWORD>(CFE_BOLD));
    EXPECT_EQ(record.crTextColor, 0u);
    EXPECT_EQ(record.szFaceName[0], '\0');
    setText("+-");  // new text takes the control's format, which the start set to bold black
    CHARFORMATA format = formatOfAll(editor());
    EXPECT_TRUE(format.dwEffects & CFE_BOLD);
    EXPECT_EQ(format.crTextColor, 0u);
}

TEST_F(EditingTest, ForecolorColoursAllTextAndCancelKeepsIt) {
    setText("+++\r\n---");
    fakes.colourChosen = true;
    fakes.colour = RGB(0, 128, 255);
    command(IDM_FORECOLOR);
    ASSERT_EQ(fakes.colourCalls.size(), 1u);
    const CHOOSECOLORA& asked = fakes.colourCalls[0];
    EXPECT_EQ(asked.lStructSize, sizeof(CHOOSECOLORA));
    EXPECT_EQ(asked.hwndOwner, window);
    EXPECT_EQ(asked.rgbResult, 0u);
    EXPECT_EQ(asked.Flags, 0u);
    EXPECT_EQ(fakes.customColoursSeen, std::vector<COLORREF>(16, RGB(255, 255, 255)));
    CHARFORMATA format = formatOfAll(editor());
    EXPECT_EQ(format.crTextColor, RGB(0, 128, 255));
    EXPECT_TRUE(format.dwEffects & CFE_BOLD);

    fakes.colourChosen = false;  // Cancel
    command(IDM_FORECOLOR);
    EXPECT_EQ(formatOfAll(editor()).crTextColor, RGB(0, 128, 255));
    EXPECT_EQ(currentCharFormat().crTextColor, RGB(0, 128, 255));

    // A later text is coloured by the next Forecolor, whole.
    setText("new text +");
    fakes.colourChosen = true;
    fakes.colour = RGB(200, 0, 0);
    command(IDM_FORECOLOR);
    EXPECT_EQ(formatOfAll(editor()).crTextColor, RGB(200, 0, 0));
}

TEST_F(EditingTest, BackgroundColourAndCancelKeepsIt) {
    fakes.colourChosen = true;
    fakes.colour = RGB(255, 255, 200);
    command(IDM_BACKCOLOR);
    EXPECT_EQ(background(editor()), RGB(255, 255, 200));
    fakes.colourChosen = false;
    command(IDM_BACKCOLOR);
    EXPECT_EQ(background(editor()), RGB(255, 255, 200));
    EXPECT_EQ(fakes.colourCalls.size(), 2u);
}

TEST_F(EditingTest, MinimizeAndMaximizeTheMainWindow) {
    command(IDM_MAXIMIZE);
    EXPECT_TRUE(IsZoomed(window));
    command(IDM_MINIMIZE);
    EXPECT_TRUE(IsIconic(window));
}

TEST_F(EditingTest, ExitTakesTheCloseRoad) {
    type("+");
    fakes.boxAnswer = IDYES;
    fakes.chosenPath = "";
    command(IDM_EXIT);  // asks; Yes runs the save, cancelled here, and the window stays
    ASSERT_EQ(fakes.boxes.size(), 1u);
    EXPECT_EQ(fakes.boxes[0].caption, "Warning");
    EXPECT_TRUE(IsWindowVisible(window));
    fakes.boxAnswer = IDNO;
    command(IDM_EXIT);
    EXPECT_FALSE(IsWindowVisible(window));
}

// Wine's control put its caret on a paragraph that did not hold it after Ctrl+Right from a
// line's last word (or a double click there), or after its line end mark after Up, Down, a page
// or a click just past a line's end; the next Right or Return ended the program. The dialog
// manager selected all of the text on a restore from the taskbar, and the next key replaced it.
TEST_F(EditingTest, CaretAndSelectionStayInsideTheText) {
    SetFocus(editor());
    for (const std::string typed : {"+", "ab", "ab cd"}) {
        command(IDM_NEW);
        for (char c : typed) character(c);
        press(VK_HOME);
        press(VK_RIGHT, MOD_CONTROL);
        press(VK_RIGHT, MOD_CONTROL);
        LONG end = static_cast<LONG>(typed.size());
        EXPECT_TRUE(selected(selection(), end, end)) << typed;
        press(VK_RIGHT);
        EXPECT_TRUE(selected(selection(), end, end)) << typed;
        press(VK_BACK);
        character('.');
        EXPECT_EQ(text(), typed.substr(0, typed.size() - 1) + ".");
    }

    setText("++\r\n+ -");  // the last word of a later line; Shift keeps the selection's start
    SendMessageA(editor(), EM_SETSEL, 3, 3);
    press(VK_RIGHT, MOD_CONTROL | MOD_SHIFT);
    EXPECT_TRUE(selected(selection(), 3, 5));
    press(VK_RIGHT, MOD_CONTROL | MOD_SHIFT);
    EXPECT_TRUE(selected(selection(), 3, 6));
    press(VK_RIGHT, MOD_CONTROL | MOD_SHIFT);
    EXPECT_TRUE(selected(selection(), 3, 6));

    setText("ab cd");  // a double click selects the last word
    POINTL at = {};
    SendMessageA(editor(), EM_POSFROMCHAR, reinterpret_cast<WPARAM>(&at), 4);
    LPARAM point = MAKELPARAM(at.x + 1, at.y + 3);
    for (UINT message : {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_LBUTTONUP})
        SendMessageA(editor(), message, message == WM_LBUTTONUP ? 0 : MK_LBUTTON, point);
    EXPECT_TRUE(selected(selection(), 3, 5));

    // A word move to the end of a line before the last: Wine's caret read as a place in the next
    // line, and Right there ended the program.
    setText("+\r\na.-a");
    SendMessageA(editor(), EM_SETSEL, 0, 0);
    press(VK_RIGHT, MOD_CONTROL);
    EXPECT_TRUE(selected(selection(), 1, 1));
    press(VK_RIGHT);
    EXPECT_TRUE(selected(selection(), 2, 2));
    SendMessageA(editor(), EM_SETSEL, 0, 0);
    press(VK_RIGHT, MOD_CONTROL | MOD_SHIFT);
    EXPECT_TRUE(selected(selection(), 0, 1));
    character('.');
    EXPECT_EQ(text(), ".\r\na.-a");

    // Up or a page onto a line that ends less than a space's width left of the caret: Wine's
    // caret went past that line's end mark, and Return there ended the program.
    const std::string lower = lineEndingJustPast(*this, "[-");
    ASSERT_FALSE(lower.empty());
    LONG lowerEnd = 3 + static_cast<LONG>(lower.size());
    setText("[-\r\n" + lower);
    SendMessageA(editor(), EM_SETSEL, lowerEnd, lowerEnd);
    press(VK_UP);
    EXPECT_TRUE(selected(selection(), 2, 2));
    SendMessageA(editor(), EM_SETSEL, lowerEnd, lowerEnd);
    press(VK_UP, MOD_SHIFT);
    EXPECT_TRUE(selected(selection(), 2, lowerEnd));
    press(VK_LEFT, MOD_SHIFT);  // the selection still grows at its start
    EXPECT_TRUE(selected(selection(), 1, lowerEnd));
    press(VK_RIGHT, MOD_SHIFT);
    press(VK_RETURN);
    EXPECT_EQ(text(), "[-\r\n");

    std::string pages = lower + "\r\n";
    for (int i = 0; i < 100; ++i) pages += "[-\r\n";
    pages += lower;
    setText(pages);
    SendMessageA(editor(), EM_SETSEL, lower.size(), lower.size());
    press(VK_NEXT);
    CHARRANGE landed = selection();
    EXPECT_TRUE(selected(landed, landed.cpMax, landed.cpMax));
    EXPECT_EQ(columnOf(editor(), landed.cpMax), 2);
    press(VK_RETURN);
    EXPECT_TRUE(sameText(text(), pages.substr(0, byteOf(pages, landed.cpMax)) + "\r\n" +
                                     pages.substr(byteOf(pages, landed.cpMax))));
    setText(pages);
    press(VK_END, MOD_CONTROL);
    LONG last = textLength(editor());
    press(VK_PRIOR, MOD_SHIFT);
    landed = selection();
    EXPECT_EQ(landed.cpMax, last);
    EXPECT_EQ(columnOf(editor(), landed.cpMin), 2);
    press(VK_LEFT, MOD_SHIFT);
    EXPECT_TRUE(selected(selection(), landed.cpMin - 1, last));

    // A click just right of a line's end, and a double click on the last word of a line before
    // the last, as the keys above.
    setText("[-\r\n" + lower);
    SendMessageA(editor(), EM_POSFROMCHAR, reinterpret_cast<WPARAM>(&at), 2);
    point = MAKELPARAM(at.x + 1, at.y + 3);
    SendMessageA(editor(), WM_LBUTTONDOWN, MK_LBUTTON, point);
    SendMessageA(editor(), WM_LBUTTONUP, 0, point);
    EXPECT_TRUE(selected(selection(), 2, 2));
    press(VK_RETURN);
    EXPECT_EQ(text(), "[-\r\n\r\n" + lower);
    setText("ab cd\r\nefghij");
    SendMessageA(editor(), EM_POSFROMCHAR, reinterpret_cast<WPARAM>(&at), 4);
    point = MAKELPARAM(at.x + 1, at.y + 3);
    for (UINT message : {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_LBUTTONUP})
        SendMessageA(editor(), message, message == WM_LBUTTONUP ? 0 : MK_LBUTTON, point);
    EXPECT_TRUE(selected(selection(), 3, 5));
    character('x');
    EXPECT_EQ(text(), "ab x\r\nefghij");

    // Minimize and restore, by the menu and by the window's own buttons; activation elsewhere.
    setText("+++-");
    SendMessageA(editor(), EM_SETSEL, 3, 3);
    command(IDM_MINIMIZE);
    ASSERT_TRUE(IsIconic(window));
    ShowWindow(window, SW_RESTORE);
    EXPECT_TRUE(selected(selection(), 3, 3));
    SendMessageA(window, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    SendMessageA(window, WM_SYSCOMMAND, SC_RESTORE, 0);
    EXPECT_TRUE(selected(selection(), 3, 3));
    EXPECT_EQ(GetFocus(), editor());
    SendMessageA(editor(), EM_SETSEL, 1, 3);
    HWND other = CreateWindowExA(0, "STATIC", "other", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 100, 100, nullptr,
                                 nullptr, GetModuleHandleA(nullptr), nullptr);
    SetActiveWindow(other);
    SetActiveWindow(window);
    DestroyWindow(other);
    EXPECT_TRUE(selected(selection(), 1, 3));
    character('.');
    EXPECT_EQ(text(), "+.-");
}

// Wine's control empties the clipboard on a Copy or Cut with nothing selected.
TEST_F(EditingTest, CopyOrCutOfNothingLeavesTheClipboard) {
    type("+-");
    putOnClipboard("XY");
    command(IDM_COPY);
    command(IDM_CUT);
    press('C', MOD_CONTROL);
    press('X', MOD_CONTROL);
    press(VK_INSERT, MOD_CONTROL);
    press(VK_DELETE, MOD_SHIFT);
    EXPECT_EQ(clipboardText(), "XY");
    EXPECT_EQ(text(), "+-");

    SendMessageA(editor(), EM_SETSEL, 1, 2);  // with a selection the keys still copy and cut
    press('C', MOD_CONTROL);
    EXPECT_EQ(clipboardText(), "-");
    SendMessageA(editor(), EM_SETSEL, 0, 1);
    press('X', MOD_CONTROL);
    EXPECT_EQ(clipboardText(), "+");
    EXPECT_EQ(text(), "-");
}

// Wine's control took 54 s to replace all of a 500 KB program; a selection of many lines is
// replaced through a fresh control instead, with the same result, and Undo and Redo still work.
TEST_F(EditingTest, LargeSelectionIsReplacedAsTheControlWould) {
    const std::string program = programLines(kQuickReplaceLines + 300);
    setText(program);
    HWND original = editor();
    auto selectLines = [&](int first, int last) {  // from the start of first to the start of last
        SendMessageA(editor(), EM_SETSEL, lineStart(editor(), first), lineStart(editor(), last));
    };
    // What the control itself would make of it.
    auto spliced = [&](int first, int last, const std::string& with) {
        return program.substr(0, byteOf(program, lineStart(editor(), first))) + with +
               program.substr(byteOf(program, lineStart(editor(), last)));
    };

    std::string expected = spliced(10, kQuickReplaceLines + 20, "x");
    LONG caret = lineStart(editor(), 10) + 1;
    selectLines(10, kQuickReplaceLines + 20);
    character('x');
    EXPECT_NE(editor(), original);
    EXPECT_TRUE(sameText(text(), expected));
    EXPECT_TRUE(selected(selection(), caret, caret));
    EXPECT_EQ(document().edited, 1);
    EXPECT_EQ(GetFocus(), editor());
    character('y');
    command(IDM_UNDO);  // the typing, then the replacement
    command(IDM_UNDO);
    EXPECT_EQ(editor(), original);
    EXPECT_TRUE(sameText(text(), program));
    command(IDM_REDO);
    command(IDM_REDO);
    EXPECT_TRUE(sameText(text(), expected.substr(0, byteOf(expected, caret)) + "y" + expected.substr(byteOf(expected, caret))));
    press('Z', MOD_CONTROL);
    press('Z', MOD_CONTROL);
    EXPECT_TRUE(sameText(text(), program));
    EXPECT_TRUE(selected(selection(), lineStart(editor(), 10), lineStart(editor(), kQuickReplaceLines + 20)));
    SendMessageA(editor(), EM_SETSEL, 0, 0);
    character('+');  // a new edit: the replacement can no longer be redone
    command(IDM_REDO);
    EXPECT_EQ(editor(), original);
    EXPECT_TRUE(sameText(text(), "+" + program));
    command(IDM_UNDO);
    EXPECT_TRUE(sameText(text(), program));

    // Delete, Backspace, Enter, Paste and Cut, by key and by menu.
    struct Case {
        const char* name;
        void (*act)(EditingTest&);
        std::string with;
        bool cuts;
    } cases[] = {
        {"Delete", [](EditingTest& t) { t.press(VK_DELETE); }, "", false},
        {"Backspace", [](EditingTest& t) { t.press(VK_BACK); }, "", false},
        {"Enter", [](EditingTest& t) { t.press(VK_RETURN); }, "\r\n", false},
        {"menu Delete", [](EditingTest& t) { t.command(IDM_DELETE); }, "", false},
        {"Ctrl+V", [](EditingTest& t) { t.press('V', MOD_CONTROL); }, "P\r\nQ", false},
        {"menu Paste", [](EditingTest& t) { t.command(IDM_PASTE); }, "P\r\nQ", false},
        {"Ctrl+X", [](EditingTest& t) { t.press('X', MOD_CONTROL); }, "", true},
        {"Shift+Delete", [](EditingTest& t) { t.press(VK_DELETE, MOD_SHIFT); }, "", true},
        {"menu Cut", [](EditingTest& t) { t.command(IDM_CUT); }, "", true},
    };
    for (const Case& c : cases) {
        putOnClipboard("P\nQ");
        expected = spliced(3, kQuickReplaceLines + 200, c.with);
        std::string removed = program.substr(byteOf(program, lineStart(editor(), 3)),
                                             byteOf(program, lineStart(editor(), kQuickReplaceLines + 200)) -
                                                 byteOf(program, lineStart(editor(), 3)));
        selectLines(3, kQuickReplaceLines + 200);
        HWND before = editor();
        c.act(*this);
        EXPECT_TRUE(sameText(text(), expected)) << c.name;
        SendMessageA(before, WM_CHAR, 'z', 0);  // a key's character still on its way to the hidden control
        if (c.cuts) {
            EXPECT_TRUE(sameText(clipboardText(), removed)) << c.name;
        }
        command(IDM_UNDO);
        EXPECT_TRUE(sameText(text(), program)) << c.name;
    }

    command(IDM_SELECTALL);  // all of it, and a selection too small to need a fresh control
    press(VK_DELETE);
    EXPECT_EQ(text(), "");
    command(IDM_UNDO);
    EXPECT_TRUE(sameText(text(), program));
    // Minimized, Wine still sends the editor keys, but no control can take the focus: the hidden
    // one must not keep it, and the restore gives it to the one shown.
    SetFocus(editor());
    command(IDM_MINIMIZE);
    HWND hidden = editor();
    command(IDM_SELECTALL);
    press(VK_DELETE);
    EXPECT_NE(GetFocus(), hidden);
    SendMessageA(window, WM_SYSCOMMAND, SC_RESTORE, 0);
    EXPECT_EQ(GetFocus(), editor());
    EXPECT_NE(editor(), hidden);
    command(IDM_UNDO);
    EXPECT_TRUE(sameText(text(), program));

    HWND shown = editor();
    expected = spliced(2, 12, "");
    selectLines(2, 12);
    press(VK_DELETE);
    EXPECT_EQ(editor(), shown);
    EXPECT_TRUE(sameText(text(), expected));
}

// The editor fills the window but the status band after every change of size: also the control
// hidden for Undo of a large replacement, and after a resize by dragging the frame.
TEST_F(EditingTest, EditorFillsTheWindowThroughResizes) {
    auto fillsTheWindow = [&]() -> ::testing::AssertionResult {
        RECT client, place;
        GetClientRect(window, &client);
        GetWindowRect(editor(), &place);
        MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&place), 2);
        if (place.left == 0 && place.top == 0 && place.right == client.right &&
            place.bottom == client.bottom - kStatusBand)
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "the editor is at " << place.left << "," << place.top << " to "
                                             << place.right << "," << place.bottom << " in a client area of "
                                             << client.right << " by " << client.bottom;
    };
    ShowWindow(window, SW_SHOWNORMAL);
    const std::string program = programLines(kQuickReplaceLines + 300);
    setText(program);
    SendMessageA(editor(), EM_SETSEL, lineStart(editor(), 10), lineStart(editor(), kQuickReplaceLines + 20));
    character('x');  // replaced through a fresh control; the one before it is hidden for Undo
    command(IDM_MAXIMIZE);
    EXPECT_TRUE(fillsTheWindow());
    command(IDM_UNDO);  // shows the hidden control again
    EXPECT_TRUE(sameText(text(), program));
    EXPECT_TRUE(selected(selection(), lineStart(editor(), 10), lineStart(editor(), kQuickReplaceLines + 20)));
    EXPECT_TRUE(fillsTheWindow());
    ShowWindow(window, SW_RESTORE);
    EXPECT_TRUE(fillsTheWindow());

    // A drag of the frame: the size loop brackets its changes of size.
    RECT frame;
    GetWindowRect(window, &frame);
    SendMessageA(window, WM_ENTERSIZEMOVE, 0, 0);
    for (int step = 1; step <= 3; ++step)
        SetWindowPos(window, nullptr, 0, 0, frame.right - frame.left + 40 * step, frame.bottom - frame.top + 30 * step,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    SendMessageA(window, WM_EXITSIZEMOVE, 0, 0);
    EXPECT_TRUE(fillsTheWindow());
    EXPECT_TRUE(sameText(text(), program));
}
