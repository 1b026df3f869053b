#include "window_fixture.h"

#include "lang/interpreter_launch.h"
#include "resources/version.h"

#include <cstring>

namespace {

std::string className(HWND window) {
    char name[64] = "";
    GetClassNameA(window, name, sizeof name);
    return name;
}

LONG_PTR styleOf(HWND window) { return GetWindowLongPtrA(window, GWL_STYLE); }

// A plain window of the test's own, to take the activation away from the editor.
HWND otherWindow() {
    static HWND other = nullptr;
    if (!other) {
        other = CreateWindowExA(0, "STATIC", "other", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 100, 100,
                                nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    }
    return other;
}

void activate(HWND window) {
    SetForegroundWindow(window);
    SetActiveWindow(window);
}

} // namespace

TEST_F(MainWindowTest, TemplateGivesCaptionControlsAndStyles) {
    char caption[128] = "";
    GetWindowTextA(window, caption, sizeof caption);
    EXPECT_STREQ(caption, "Pellux (Extended Syntax) IDE Version 1.0.1");
    LONG_PTR style = styleOf(window);
    for (LONG_PTR bit : {WS_CAPTION, WS_SYSMENU, WS_THICKFRAME, WS_MINIMIZEBOX, WS_MAXIMIZEBOX})
        EXPECT_EQ(style & bit, bit);
    EXPECT_NE(GetMenu(window), nullptr);
    EXPECT_NE(SendMessageA(window, WM_GETICON, ICON_SMALL, 0), 0);  // the program's icon, small only
    EXPECT_EQ(SendMessageA(window, WM_GETICON, ICON_BIG, 0), 0);
    // The icon's own small image, not the large one.
    ICONINFO icon = {};
    ASSERT_TRUE(GetIconInfo(reinterpret_cast<HICON>(SendMessageA(window, WM_GETICON, ICON_SMALL, 0)), &icon));
    BITMAP colours = {};
    GetObjectA(icon.hbmColor, sizeof colours, &colours);
    EXPECT_EQ(colours.bmWidth, GetSystemMetrics(SM_CXSMICON));
    DeleteObject(icon.hbmColor);
    DeleteObject(icon.hbmMask);

    EXPECT_EQ(className(editor()), "RichEdit20A");
    const LONG_PTR editorStyles = WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_HSCROLL | WS_TABSTOP | ES_MULTILINE |
                                  ES_AUTOVSCROLL | ES_AUTOHSCROLL | ES_WANTRETURN | ES_DISABLENOSCROLL;
    EXPECT_EQ(styleOf(editor()) & editorStyles, editorStyles);
    EXPECT_TRUE(GetWindowLongPtrA(editor(), GWL_EXSTYLE) & WS_EX_STATICEDGE);

    HWND status = GetDlgItem(window, IDC_STATUS);
    EXPECT_EQ(className(status), "msctls_statusbar32");
    EXPECT_EQ(styleOf(status) & SBARS_SIZEGRIP, SBARS_SIZEGRIP);
    EXPECT_EQ(this->status(), "Untitled.b");
}

TEST_F(MainWindowTest, EditorTakesLongTextsWithoutWrapping) {
    EXPECT_EQ(SendMessageA(editor(), EM_GETLIMITTEXT, 0, 0), 0x7FFFFFFE);
    setText(std::string(5000, '+'));
    EXPECT_EQ(SendMessageA(editor(), EM_GETLINECOUNT, 0, 0), 1);
}

TEST_F(MainWindowTest, CheckSyntaxReportsNoErrorsInAnUnownedResultsBox) {
    setText("+-<>.,[]@&*$ \r\n%\"any text here\n# comment: letters\n");
    command(IDM_CHECKSYNTAX);
    const MessageBoxCall& box = onlyBox();
    EXPECT_EQ(box.text, "No errors occurred.");
    EXPECT_EQ(box.caption, "Results");
    EXPECT_EQ(box.owner, nullptr);
    EXPECT_EQ(box.style, 0u);
    EXPECT_EQ(box.language, 0);
}

TEST_F(MainWindowTest, CheckSyntaxNamesTheFirstInvalidCharacter) {
    setText("+[->+<]\r\n\tx");
    command(IDM_CHECKSYNTAX);
    EXPECT_EQ(onlyBox().text, "An error occurred, '\t' is an invalid character.");
    fakes.boxes.clear();
    setText("+\xe9");
    command(IDM_CHECKSYNTAX);
    EXPECT_EQ(onlyBox().text, "An error occurred, '\xe9' is an invalid character.");
}

TEST_F(MainWindowTest, CheckSyntaxCoversTheWholeTextOfAnyLength) {
    std::string text(40000, '+');
    text += "q";
    text += std::string(100, '-');
    setText(text);
    command(IDM_CHECKSYNTAX);
    EXPECT_EQ(onlyBox().text, "An error occurred, 'q' is an invalid character.");

    // A megabyte of lines, a comment running across the control's pieces, the fault at the end.
    std::string big;
    while (big.size() < (1u << 20)) big += "+++++[->++<]>. # comment text that is long enough to matter\r\n";
    big += "%ok\r\nZ";
    fakes.boxes.clear();
    setText(big);
    command(IDM_CHECKSYNTAX);
    EXPECT_EQ(onlyBox().text, "An error occurred, 'Z' is an invalid character.");
}

TEST_F(MainWindowTest, CheckSyntaxOfEmptyTextAndOfTrailingRunStart) {
    command(IDM_CHECKSYNTAX);
    EXPECT_EQ(onlyBox().text, "No errors occurred.");
    fakes.boxes.clear();
    setText("+%");
    command(IDM_CHECKSYNTAX);
    EXPECT_EQ(onlyBox().text, "No errors occurred.");
}

TEST_F(MainWindowTest, CommandsMatchTheWholeWParamOnly) {
    setText("x");
    SendMessageA(window, WM_COMMAND, MAKEWPARAM(IDM_CHECKSYNTAX, 1), 0);
    SendMessageA(window, WM_COMMAND, IDCANCEL, 0);
    SendMessageA(window, WM_COMMAND, IDM_POPUP_FILE, 0);
    EXPECT_TRUE(fakes.boxes.empty());
    EXPECT_TRUE(IsWindow(window));
}

TEST_F(MainWindowTest, ProcedureHandlesItsMessagesAndLeavesTheRest) {
    EXPECT_FALSE(mainDialogProc(window, WM_MOUSEMOVE, 0, 0));
    EXPECT_FALSE(mainDialogProc(window, WM_PAINT, 0, 0));
    EXPECT_FALSE(mainDialogProc(window, WM_ACTIVATE, WA_ACTIVE, 0));  // the dialog's own handling goes on
    EXPECT_TRUE(mainDialogProc(window, WM_COMMAND, IDCANCEL, 0));
    EXPECT_TRUE(mainDialogProc(window, WM_HOTKEY, 99, 0));
    EXPECT_TRUE(mainDialogProc(window, WM_SIZE, 0, 0));
}

TEST_F(MainWindowTest, LayoutKeepsTheEditorAboveTheStatusBand) {
    for (SIZE size : {SIZE{640, 480}, SIZE{300, 200}, SIZE{900, 700}}) {
        SetWindowPos(window, nullptr, 0, 0, size.cx, size.cy, SWP_NOMOVE | SWP_NOZORDER);
        RECT client, placed;
        GetClientRect(window, &client);
        GetWindowRect(editor(), &placed);
        MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&placed), 2);
        EXPECT_EQ(placed.left, 0);
        EXPECT_EQ(placed.top, 0);
        EXPECT_EQ(placed.right, client.right);
        EXPECT_EQ(placed.bottom, client.bottom - kStatusBand);
        RECT bar;
        GetWindowRect(GetDlgItem(window, IDC_STATUS), &bar);
        MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&bar), 2);
        EXPECT_EQ(bar.bottom, client.bottom);  // the status bar keeps to the bottom edge
    }
}

TEST_F(MainWindowTest, HotKeysActOnlyWhileTheMainWindowIsActive) {
    setText("+");
    activate(window);
    ASSERT_EQ(GetActiveWindow(), window);
    SendMessageA(window, WM_HOTKEY, 7, 0);
    EXPECT_EQ(onlyBox().text, "No errors occurred.");

    fakes.boxes.clear();
    activate(otherWindow());
    ASSERT_NE(GetActiveWindow(), window);
    SendMessageA(window, WM_HOTKEY, 7, 0);
    EXPECT_TRUE(fakes.boxes.empty());

    activate(window);
    SendMessageA(window, WM_HOTKEY, 9, 0);  // no such hot key
    EXPECT_TRUE(fakes.boxes.empty());
}

TEST_F(MainWindowTest, AltXHotKeyEndsAnUnmodifiedDocument) {
    activate(window);
    SendMessageA(window, WM_HOTKEY, 4, 0);
    EXPECT_TRUE(fakes.boxes.empty());
    EXPECT_FALSE(IsWindowVisible(window));  // EndDialog on this modeless copy hides it
}

TEST_F(MainWindowTest, HotKeysAreLentToOtherProgramsWhileInactive) {
    HWND other = otherWindow();
    activate(window);
    // While the editor is active, nobody else gets F6.
    EXPECT_FALSE(RegisterHotKey(other, 100, 0, VK_F6));
    activate(other);
    ASSERT_TRUE(RegisterHotKey(other, 100, 0, VK_F6));
    EXPECT_TRUE(RegisterHotKey(other, 101, MOD_CONTROL, 'N'));
    UnregisterHotKey(other, 100);
    UnregisterHotKey(other, 101);
    activate(window);
    EXPECT_FALSE(RegisterHotKey(other, 100, 0, VK_F6));
}

TEST(VersionRecord, CarriesTheProgramsNamesAndVersion) {
    char path[MAX_PATH];
    ASSERT_GT(GetModuleFileNameA(nullptr, path, MAX_PATH), 0u);
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeA(path, &handle);
    ASSERT_GT(size, 0u);
    std::string data(size, '\0');
    ASSERT_TRUE(GetFileVersionInfoA(path, 0, size, &data[0]));
    auto value = [&](const char* name) {
        std::string key = std::string("\\StringFileInfo\\040904b0\\") + name;
        char* text = nullptr;
        UINT length = 0;
        if (!VerQueryValueA(&data[0], key.c_str(), reinterpret_cast<void**>(&text), &length) || !text) return std::string();
        return std::string(text);
    };
    EXPECT_EQ(value("FileVersion"), "1.0.1");
    EXPECT_EQ(value("ProductVersion"), "1.0.1");
    EXPECT_EQ(value("ProductName"), "Pellux IDE");
    EXPECT_EQ(value("InternalName"), "Pelluxw.exe");
    EXPECT_EQ(value("OriginalFilename"), "Pelluxw");
    EXPECT_EQ(std::string(PELLUX_CAPTION), "Pellux (Extended Syntax) IDE Version " + value("FileVersion"));
}

TEST_F(MainWindowTest, HotKeysHeldElsewhereAreTakenOnceReleased) {
    HWND other = otherWindow();
    activate(other);
    ASSERT_TRUE(RegisterHotKey(other, 100, 0, VK_F6));
    activate(window);  // F6 is still the other window's
    // Meanwhile the keys reach the control as plain keys, and still act as the hot keys.
    setText("+");
    SendMessageA(editor(), WM_KEYDOWN, VK_F6, 0);
    MSG posted;
    while (PeekMessageA(&posted, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&posted);
    EXPECT_EQ(onlyBox().text, "No errors occurred.");
    UnregisterHotKey(other, 100);
    bool taken = false;
    for (DWORD start = GetTickCount(); !taken && GetTickCount() - start < 3000;) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
        taken = !RegisterHotKey(other, 101, 0, VK_F6);
        if (!taken) {
            UnregisterHotKey(other, 101);
            Sleep(20);
        }
    }
    EXPECT_TRUE(taken);

    // Alt+X, which the control leaves to the menu, likewise.
    activate(other);
    ASSERT_TRUE(RegisterHotKey(other, 102, MOD_ALT, 'X'));
    activate(window);
    SendMessageA(window, WM_SYSCOMMAND, SC_KEYMENU, 'x');
    while (PeekMessageA(&posted, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&posted);
    EXPECT_FALSE(IsWindowVisible(window));  // the document was unmodified: the window ends
    UnregisterHotKey(other, 102);
}

TEST_F(MainWindowTest, RunFileSaysWhyNoInterpreterRan) {
    char saved[MAX_PATH], base[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, saved);
    GetTempPathA(MAX_PATH, base);
    std::string folder = std::string(base) + "pellux-run-" + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(folder.c_str(), nullptr);
    std::string interpreter = folder + "\\Pellux.Exe";
    DeleteFileA(interpreter.c_str());
    SetCurrentDirectoryA(folder.c_str());
    buildInterpreterPath();

    command(IDM_RUN);
    ASSERT_EQ(fakes.boxes.size(), 1u);
    EXPECT_EQ(fakes.boxes[0].owner, window);
    EXPECT_EQ(fakes.boxes[0].caption, "Run File");
    EXPECT_EQ(fakes.boxes[0].text, "The interpreter was not found:\r\n" + interpreter);

    HANDLE file = CreateFileA(interpreter.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written;
    WriteFile(file, "not a program", 13, &written, nullptr);
    CloseHandle(file);
    command(IDM_RUN);
    ASSERT_EQ(fakes.boxes.size(), 2u);
    EXPECT_EQ(fakes.boxes[1].text.rfind("The interpreter could not be started:\r\n" + interpreter + "\r\n\r\n", 0), 0u)
        << fakes.boxes[1].text;
    EXPECT_GT(fakes.boxes[1].text.size(), 60 + interpreter.size());  // with the system's reason

    DeleteFileA(interpreter.c_str());
    SetCurrentDirectoryA(saved);
    RemoveDirectoryA(folder.c_str());
    buildInterpreterPath();
}

TEST_F(MainWindowTest, TabReplacesOnlyTheSelection) {
    // As the dialog's own loop delivers a key: the dialog manager first, then the control.
    auto press = [&](WPARAM key, WPARAM character) {
        MSG down = {editor(), WM_KEYDOWN, key, 0, 0, {0, 0}};
        if (!IsDialogMessageA(window, &down)) DispatchMessageA(&down);
        MSG typed = {editor(), WM_CHAR, character, 0, 0, {0, 0}};
        if (!IsDialogMessageA(window, &typed)) DispatchMessageA(&typed);
    };
    SetFocus(editor());
    setText("+++---");
    SendMessageA(editor(), EM_SETSEL, 3, 3);
    press(VK_TAB, '\t');
    EXPECT_EQ(text(), "+++\t---");
    SendMessageA(editor(), EM_SETSEL, 1, 2);
    press(VK_TAB, '\t');
    EXPECT_EQ(text(), "+\t+\t---");
    EXPECT_EQ(GetFocus(), editor());
}
