// A real main window, made from the program's own template and procedure, for each test.
#ifndef PELLUX_TEST_WINDOW_FIXTURE_H
#define PELLUX_TEST_WINDOW_FIXTURE_H

#include "app/main_window.h"
#include "document/document.h"
#include "fakes.h"
#include "platform/texts.h"
#include "resources/resource.h"

#include <gtest/gtest.h>

#include <string>

class MainWindowTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        setAppInstance(GetModuleHandleA(nullptr));
        InitCommonControls();
        LoadLibraryA("RichEd20.dll");
    }

    void SetUp() override {
        fakes.install();
        window = CreateDialogParamA(appInstance(), MAKEINTRESOURCEA(IDD_MAIN), nullptr, mainDialogProc, 0);
        ASSERT_NE(window, nullptr);
        // Every test starts from a cleared, untitled document.
        fakes.boxAnswer = IDNO;
        command(IDM_NEW);
        fakes.install();
    }

    void TearDown() override { DestroyWindow(window); }

public:
    HWND editor() const { return GetDlgItem(window, IDC_EDITOR); }
    void command(WPARAM id) { SendMessageA(window, WM_COMMAND, id, 0); }

    // Text put in as the program would (no user edit).
    void setText(const std::string& text) {
        SendMessageA(editor(), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
    }

    // Text typed as a person would, key by key at the caret.
    void type(const std::string& text) {
        for (char c : text) SendMessageA(editor(), WM_CHAR, static_cast<unsigned char>(c), 0);
    }

    // A key pressed with modifiers (MOD_CONTROL, MOD_SHIFT) held, and a typed character, as the
    // dialog's own loop delivers them: the dialog manager first, then the control.
    void press(WPARAM key, UINT modifiers = 0) {
        holdModifiers(modifiers);
        deliver(WM_KEYDOWN, key);
        holdModifiers(0);
    }
    void character(char c) { deliver(WM_CHAR, static_cast<unsigned char>(c)); }

    CHARRANGE selection() const {
        CHARRANGE range = {};
        SendMessageA(editor(), EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&range));
        return range;
    }

    std::string text() const {
        GETTEXTLENGTHEX length = {GTL_NUMBYTES | GTL_PRECISE | GTL_USECRLF, CP_ACP};
        LRESULT bytes = SendMessageA(editor(), EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&length), 0);
        std::string result(static_cast<size_t>(bytes) + 1, '\0');
        LRESULT got = SendMessageA(editor(), WM_GETTEXT, result.size(), reinterpret_cast<LPARAM>(&result[0]));
        result.resize(static_cast<size_t>(got));
        return result;
    }

    std::string status() const {
        char buffer[512] = "";
        GetDlgItemTextA(window, IDC_STATUS, buffer, sizeof buffer);
        return buffer;
    }

    const MessageBoxCall& onlyBox() const {
        EXPECT_EQ(fakes.boxes.size(), 1u);
        static MessageBoxCall none{};
        return fakes.boxes.empty() ? none : fakes.boxes.back();
    }

    HWND window = nullptr;

private:
    static void holdModifiers(UINT modifiers) {
        BYTE state[256];
        GetKeyboardState(state);
        BYTE control = (modifiers & MOD_CONTROL) ? 0x80 : 0, shift = (modifiers & MOD_SHIFT) ? 0x80 : 0;
        state[VK_CONTROL] = state[VK_LCONTROL] = control;
        state[VK_SHIFT] = state[VK_LSHIFT] = shift;
        SetKeyboardState(state);
    }

    void deliver(UINT message, WPARAM wParam) {
        MSG delivered = {editor(), message, wParam, 0, 0, {0, 0}};
        if (!IsDialogMessageA(window, &delivered)) DispatchMessageA(&delivered);
    }
};

#endif
