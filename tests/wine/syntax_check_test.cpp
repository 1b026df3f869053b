// F6 selects the first invalid byte in the real control and scrolls to it.
#include "window_fixture.h"

namespace {

struct Selection {
    LONG line, column;
    std::string text;
};

} // namespace

class CheckSyntaxSelection : public MainWindowTest {
protected:
    Selection selection() const {
        CHARRANGE range = {};
        SendMessageA(editor(), EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&range));
        char text[64] = "";
        if (range.cpMax - range.cpMin < static_cast<LONG>(sizeof text))
            SendMessageA(editor(), EM_GETSELTEXT, 0, reinterpret_cast<LPARAM>(text));
        LONG line = static_cast<LONG>(SendMessageA(editor(), EM_EXLINEFROMCHAR, 0, range.cpMin));
        LONG start = static_cast<LONG>(SendMessageA(editor(), EM_LINEINDEX, line, 0));
        return {line, range.cpMin - start, text};
    }

    void replaceSelection(const char* text) {
        SendMessageA(editor(), EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text));
    }

    void expectFaultAt(LONG line, LONG column, const std::string& fault) {
        fakes.boxes.clear();
        command(IDM_CHECKSYNTAX);
        EXPECT_EQ(onlyBox().text, "An error occurred, '" + fault + "' is an invalid character.");
        Selection got = selection();
        EXPECT_EQ(got.line, line);
        EXPECT_EQ(got.column, column);
        EXPECT_EQ(got.text, fault);
    }
};

TEST_F(CheckSyntaxSelection, SelectsTheFirstInvalidByteWhereverItIs) {
    setText("%Hello, w\xf6rld! {}\r\n# any text\n+\r\n-?\r\n");
    expectFaultAt(3, 1, "?");

    // Thousands of lines: the text streams out in pieces, and a CR LF pair is split between two.
    std::string text;
    for (int i = 0; i < 8000; ++i) text += i == 4500 ? "+++x[->+<]>.\r\n" : "+++[->+<]>.\r\n";
    setText(text);
    expectFaultAt(4500, 3, "x");
    LONG first = static_cast<LONG>(SendMessageA(editor(), EM_GETFIRSTVISIBLELINE, 0, 0));
    EXPECT_LE(first, 4500);
    EXPECT_GT(first + 100, 4500);  // scrolled to it

    // As a user goes on: mend the fault that F6 selected, add more, check again. (Replacing a
    // long text of many lines takes Wine's control half a minute.)
    replaceSelection("+");
    SendMessageA(editor(), EM_SETSEL, -1, -1);
    replaceSelection("[-]\r\n\r\n>>q");
    expectFaultAt(8002, 2, "q");
}

TEST_F(CheckSyntaxSelection, NoErrorsLeavesTheSelectionAlone) {
    setText("+++\r\n%text\r\n---\r\n");
    SendMessageA(editor(), EM_SETSEL, 2, 7);
    command(IDM_CHECKSYNTAX);
    EXPECT_EQ(onlyBox().text, "No errors occurred.");
    CHARRANGE range = {};
    SendMessageA(editor(), EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&range));
    EXPECT_EQ(range.cpMin, 2);
    EXPECT_EQ(range.cpMax, 7);
}
