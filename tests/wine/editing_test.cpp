#include "window_fixture.h"

#include "editing/editing.h"

namespace {

CHARFORMATA formatOfAll(HWND editor) {
    SendMessageA(editor, EM_SETSEL, 0, -1);
    CHARFORMATA format = {};
    format.cbSize = sizeof format;
    SendMessageA(editor, EM_GETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&format));
    return format;
}

CHARRANGE selection(HWND editor) {
    CHARRANGE range = {};
    SendMessageA(editor, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&range));
    return range;
}

// The background is only the control's: read it back by setting it again, which returns the old one.
COLORREF background(HWND editor) {
    COLORREF old = static_cast<COLORREF>(SendMessageA(editor, EM_SETBKGNDCOLOR, 0, RGB(1, 2, 3)));
    SendMessageA(editor, EM_SETBKGNDCOLOR, 0, old);
    return old;
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
    CHARRANGE range = selection(editor());
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
