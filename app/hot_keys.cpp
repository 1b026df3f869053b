#include "hot_keys.h"

#include "../resources/resource.h"

namespace {

struct HotKey {
    int id;
    UINT modifiers;
    UINT key;
    UINT message;   // WM_COMMAND with command, or WM_CLOSE
    WPARAM command;
};

const HotKey kHotKeys[kHotKeyCount] = {
    {1, MOD_CONTROL, 'N', WM_COMMAND, IDM_NEW},
    {2, MOD_CONTROL, 'O', WM_COMMAND, IDM_OPEN},
    {3, MOD_CONTROL, 'S', WM_COMMAND, IDM_SAVE},
    {4, MOD_ALT, 'X', WM_CLOSE, 0},
    {5, MOD_CONTROL, 'Y', WM_COMMAND, IDM_REDO},
    {6, 0, VK_F5, WM_COMMAND, IDM_RUN},
    {7, 0, VK_F6, WM_COMMAND, IDM_CHECKSYNTAX},
    {8, 0, VK_F8, WM_COMMAND, IDM_NEWWINDOW},
};

// Keys held by another program are tried again for a while.
constexpr UINT_PTR kRetryTimer = 1;
constexpr UINT kRetryMilliseconds = 100;
constexpr int kRetries = 30;
constexpr int kCaptionCapacity = 128;
constexpr char kHandOverName[] = "Pellux.HotKeys.HandOver";

int retriesLeft = 0;
bool held = false;  // all eight are this window's

void releaseAll(HWND mainWindow) {
    for (const HotKey& hotKey : kHotKeys) UnregisterHotKey(mainWindow, hotKey.id);
    held = false;
}

// True when all eight are now this window's; otherwise it holds none.
bool registerAll(HWND mainWindow) {
    for (const HotKey& hotKey : kHotKeys) {
        if (!RegisterHotKey(mainWindow, hotKey.id, hotKey.modifiers, hotKey.key)) {
            releaseAll(mainWindow);
            return false;
        }
    }
    held = true;
    return true;
}

void takeOrRetry(HWND mainWindow) {
    KillTimer(mainWindow, kRetryTimer);
    releaseAll(mainWindow);
    if (registerAll(mainWindow)) return;
    retriesLeft = kRetries;
    SetTimer(mainWindow, kRetryTimer, kRetryMilliseconds, nullptr);
}

UINT handOver = 0;  // registered on first use

UINT handOverMessage() {
    if (handOver == 0) handOver = RegisterWindowMessageA(kHandOverName);
    return handOver;
}

// A window this editor owns (the About box, a file or colour dialog, a message box).
bool ownedBy(HWND window, HWND mainWindow) {
    for (HWND owner = GetWindow(window, GW_OWNER); owner; owner = GetWindow(owner, GW_OWNER))
        if (owner == mainWindow) return true;
    return false;
}

// Another editor: a main window with the same caption in another process.
bool isOtherEditor(HWND window, HWND mainWindow) {
    DWORD process = 0;
    if (!window || !GetWindowThreadProcessId(window, &process) || process == GetCurrentProcessId()) return false;
    char ours[kCaptionCapacity], theirs[kCaptionCapacity];
    if (GetWindowTextA(mainWindow, ours, kCaptionCapacity) == 0) return false;
    if (GetWindowTextA(window, theirs, kCaptionCapacity) == 0) return false;
    return lstrcmpA(ours, theirs) == 0;
}

void letGo(HWND mainWindow, HWND next) {
    KillTimer(mainWindow, kRetryTimer);
    releaseAll(mainWindow);
    // The editor now in front may have tried before this one let go: tell it the keys are free.
    if (!next) next = GetForegroundWindow();
    if (isOtherEditor(next, mainWindow)) PostMessageA(next, handOverMessage(), 0, 0);
}

} // namespace

void takeHotKeys(HWND mainWindow) { registerAll(mainWindow); }

void onActivateHotKeys(HWND mainWindow, WPARAM wParam, LPARAM lParam) {
    HWND other = reinterpret_cast<HWND>(lParam);
    if (LOWORD(wParam) != WA_INACTIVE) {
        if (!held) takeOrRetry(mainWindow);
    } else if (!other || !ownedBy(other, mainWindow)) {
        // Kept while one of its own dialogs is in front: back from it, F5 works at once.
        letGo(mainWindow, other);
    }
}

void onActivateAppHotKeys(HWND mainWindow, WPARAM active) {
    if (!active && held) letGo(mainWindow, nullptr);  // another program, from one of its own dialogs
}

bool onHotKeyRetryTimer(HWND mainWindow, WPARAM timer) {
    if (timer != kRetryTimer) return false;
    if (registerAll(mainWindow) || --retriesLeft <= 0) KillTimer(mainWindow, kRetryTimer);
    return true;
}

bool isHotKeyHandOver(UINT message) { return message == handOverMessage(); }

void onHotKeyHandOver(HWND mainWindow) {
    if (GetActiveWindow() == mainWindow) takeOrRetry(mainWindow);
}

bool onEditorKey(HWND mainWindow, const MSGFILTER& key) {
    if (held || (key.msg != WM_KEYDOWN && key.msg != WM_SYSKEYDOWN)) return false;
    UINT modifiers = (GetKeyState(VK_CONTROL) < 0 ? MOD_CONTROL : 0) | (GetKeyState(VK_MENU) < 0 ? MOD_ALT : 0) |
                     (GetKeyState(VK_SHIFT) < 0 ? MOD_SHIFT : 0);
    for (const HotKey& hotKey : kHotKeys) {
        if (key.wParam == hotKey.key && modifiers == hotKey.modifiers) {
            // Posted: New and Open replace the control whose key this is.
            PostMessageA(mainWindow, WM_HOTKEY, static_cast<WPARAM>(hotKey.id), 0);
            return true;
        }
    }
    return false;
}

bool onMenuKey(HWND mainWindow, WPARAM command, LPARAM key) {
    if (held || (command & 0xFFF0) != SC_KEYMENU) return false;
    for (const HotKey& hotKey : kHotKeys) {
        if (hotKey.modifiers == MOD_ALT && (static_cast<UINT>(key) | 0x20) == (hotKey.key | 0x20)) {
            PostMessageA(mainWindow, WM_HOTKEY, static_cast<WPARAM>(hotKey.id), 0);
            return true;
        }
    }
    return false;
}

void dispatchHotKey(HWND mainWindow, WPARAM id) {
    HWND active = GetActiveWindow();
    for (const HotKey& hotKey : kHotKeys)
        if (id == static_cast<WPARAM>(hotKey.id) && active == mainWindow)
            SendMessageA(mainWindow, hotKey.message, hotKey.command, 0);
}
