// pxdriver: finds the editor's windows and reads them back for the end-to-end tests.
// Every wait polls every 10 ms up to a deadline; nothing sleeps blindly.
//
//   pxdriver wait TITLE [MS]          the window exists; prints its handle
//   pxdriver gone TITLE [MS]          no window has that title any more
//   pxdriver xid TITLE                the X11 window under it (for xdotool)
//   pxdriver activate TITLE           brings it to the front; prints the X11 window
//   pxdriver text TITLE [ID]          the window's text, or its control ID's (WM_GETTEXT)
//   pxdriver boxtext TITLE            the message text of a message box
//   pxdriver press TITLE ID           clicks a button of the window
//   pxdriver post TITLE COMMAND       posts WM_COMMAND with COMMAND (menu choice)
//   pxdriver postmsg TITLE MSG [W L]  posts any message
//   pxdriver menu EXE                 prints the menu resource of the program file, one line an item
//   pxdriver layout TITLE             client size and the editor's and status bar's rectangles
//   pxdriver resize TITLE W H         sets the outer size
//   pxdriver focus TITLE              class of the control that has the focus
//   pxdriver enabled TITLE            1 or 0
//   pxdriver children TITLE           the window's child windows: class, id, text
//   pxdriver state TITLE              normal, minimized or maximized
//   pxdriver pid TITLE                process id of the window
//   pxdriver count TITLE              how many top-level windows have the title
//   pxdriver pids TITLE               the process ids of those windows, one a line
//   pxdriver active                   title@pid of the foreground window
//   pxdriver settext TITLE ID FILE    sets a control's text from a file (WM_SETTEXT)
//   pxdriver console EXE              the screen of the console of the running program EXE (a file
//                                     name, as Pellux.Exe) as it is now; trailing blanks cut
//   pxdriver conkey EXE               types Enter into that console
//   pxdriver running EXE              1 while a program of that file name runs, else 0
#include "window_search.h"

#include <windows.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

HWND need(const char* title) {
    HWND window = waitFor(title, kDefaultTimeout);
    if (!window) { std::fprintf(stderr, "pxdriver: no window \"%s\"\n", title); std::exit(1); }
    return window;
}

unsigned long xWindowOf(HWND window) {
    return static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(GetPropA(window, "__wine_x11_whole_window")));
}

int printText(HWND window) {
    static char text[1 << 16];
    LRESULT length = SendMessageA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
    if (length < 0) length = 0;
    text[length < static_cast<LRESULT>(sizeof text) ? length : sizeof text - 1] = '\0';
    std::printf("%s\n", text);
    return 0;
}

void printMenu(HMENU menu, int depth) {
    int count = GetMenuItemCount(menu);
    for (int i = 0; i < count; ++i) {
        char caption[256] = "";
        MENUITEMINFOA info = {};
        info.cbSize = sizeof info;
        info.fMask = MIIM_ID | MIIM_FTYPE | MIIM_STATE | MIIM_SUBMENU | MIIM_STRING;
        info.dwTypeData = caption;
        info.cch = sizeof caption;
        if (!GetMenuItemInfoA(menu, i, TRUE, &info)) { std::printf("?\n"); continue; }
        for (char* c = caption; *c; ++c)
            if (*c == '\t') *c = '|';
        std::printf("%*s%s %u %s%s%s\n", depth * 2, "", info.hSubMenu ? "popup" : "item", info.wID,
                    (info.fType & MFT_SEPARATOR) ? "separator" : caption,
                    (info.fState & MFS_DISABLED) ? " disabled" : "", (info.fState & MFS_CHECKED) ? " checked" : "");
        if (info.hSubMenu) printMenu(info.hSubMenu, depth + 1);
    }
}

void printRect(const char* name, HWND parent, HWND child) {
    RECT rect;
    GetWindowRect(child, &rect);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
    std::printf("%s %ld %ld %ld %ld\n", name, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top);
}

int setTextFromFile(HWND control, const char* path) {
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    DWORD size = GetFileSize(file, nullptr);
    char* text = static_cast<char*>(std::malloc(size + 1));
    DWORD read = 0;
    BOOL ok = text && ReadFile(file, text, size, &read, nullptr) && read == size;
    CloseHandle(file);
    if (!ok) return 1;
    text[size] = '\0';
    SendMessageA(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
    std::free(text);
    return 0;
}

BOOL CALLBACK printChild(HWND child, LPARAM) {
    char name[64] = "", text[128] = "";
    GetClassNameA(child, name, sizeof name);
    GetWindowTextA(child, text, sizeof text);
    std::printf("%p %s %d [%s] parent %d\n", static_cast<void*>(child), name, GetDlgCtrlID(child), text,
                GetDlgCtrlID(GetParent(child)));
    return TRUE;
}

// The first running process whose program file has this name, or 0.
DWORD processNamed(const char* name) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return 0;
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    DWORD pid = 0;
    for (BOOL more = Process32First(snapshot, &entry); more && !pid; more = Process32Next(snapshot, &entry))
        if (lstrcmpiA(entry.szExeFile, name) == 0) pid = entry.th32ProcessID;
    CloseHandle(snapshot);
    return pid;
}

// Attaches this program to the console of the named program, waiting for it up to a deadline.
bool attachTo(const char* name, DWORD timeout) {
    DWORD start = GetTickCount();
    FreeConsole();
    for (;;) {
        DWORD pid = processNamed(name);
        if (pid && AttachConsole(pid)) return true;
        if (GetTickCount() - start > timeout) return false;
        Sleep(kPollMs);
    }
}

// The console's screen, a line a row, without trailing blanks or trailing empty rows.
int readConsole(char* out, int capacity) {
    HANDLE screen = CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (screen == INVALID_HANDLE_VALUE || !GetConsoleScreenBufferInfo(screen, &info)) return 0;
    int length = 0, kept = 0;
    for (SHORT row = 0; row <= info.dwCursorPosition.Y && row < 200; ++row) {
        char line[512];
        DWORD got = 0;
        DWORD width = info.dwSize.X < 511 ? static_cast<DWORD>(info.dwSize.X) : 511;
        ReadConsoleOutputCharacterA(screen, line, width, COORD{0, row}, &got);
        while (got > 0 && (line[got - 1] == ' ' || line[got - 1] == '\0')) --got;
        if (length + static_cast<int>(got) + 2 > capacity) break;
        CopyMemory(out + length, line, got);
        length += static_cast<int>(got);
        if (got > 0) kept = length;
        out[length++] = '\n';
    }
    CloseHandle(screen);
    out[kept] = '\0';
    return kept;
}

int run(int argc, char** argv) {
    const char* verb = argv[1];
    const char* title = argc > 2 ? argv[2] : "";
    auto number = [&](int i, long fallback) { return argc > i ? std::strtol(argv[i], nullptr, 0) : fallback; };

    if (!std::strcmp(verb, "wait")) {
        HWND window = waitFor(title, static_cast<DWORD>(number(3, kDefaultTimeout)));
        if (!window) return 1;
        std::printf("%p\n", static_cast<void*>(window));
        return 0;
    }
    if (!std::strcmp(verb, "gone")) {
        DWORD start = GetTickCount(), timeout = static_cast<DWORD>(number(3, kDefaultTimeout));
        while (findAll(title).count > 0) {
            if (GetTickCount() - start > timeout) return 1;
            Sleep(kPollMs);
        }
        return 0;
    }
    if (!std::strcmp(verb, "count")) { std::printf("%d\n", findAll(title).count); return 0; }
    if (!std::strcmp(verb, "pids")) {
        Found found = findAll(title);
        for (int i = 0; i < found.count; ++i) {
            DWORD pid = 0;
            GetWindowThreadProcessId(found.windows[i], &pid);
            std::printf("%lu\n", pid);
        }
        return 0;
    }
    if (!std::strcmp(verb, "active")) {
        char text[512] = "";
        DWORD pid = 0;
        HWND foreground = GetForegroundWindow();
        GetWindowTextA(foreground, text, sizeof text);
        GetWindowThreadProcessId(foreground, &pid);
        std::printf("%s@%lu\n", text, pid);
        return 0;
    }
    if (!std::strcmp(verb, "menu")) {
        // Menus cannot be read across processes under Wine: read the program file's own.
        HMODULE program = LoadLibraryExA(title, nullptr, LOAD_LIBRARY_AS_DATAFILE);
        HMENU menu = program ? LoadMenuA(program, MAKEINTRESOURCEA(10000)) : nullptr;
        if (!menu) return 1;
        printMenu(menu, 0);
        return 0;
    }
    if (!std::strcmp(verb, "console")) {
        // Printed to the handle kept from before: attaching replaces this program's console.
        HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
        if (!attachTo(title, kDefaultTimeout)) return 1;
        static char screen[64 * 1024];
        DWORD written = 0;
        WriteFile(output, screen, static_cast<DWORD>(readConsole(screen, sizeof screen)), &written, nullptr);
        WriteFile(output, "\n", 1, &written, nullptr);
        return 0;
    }
    if (!std::strcmp(verb, "running")) { std::printf("%d\n", processNamed(title) ? 1 : 0); return 0; }
    if (!std::strcmp(verb, "conkey")) {
        if (!attachTo(title, kDefaultTimeout)) return 1;
        HANDLE input = CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   nullptr, OPEN_EXISTING, 0, nullptr);
        INPUT_RECORD keys[2] = {};
        for (int i = 0; i < 2; ++i) {
            keys[i].EventType = KEY_EVENT;
            keys[i].Event.KeyEvent.bKeyDown = i == 0;
            keys[i].Event.KeyEvent.wRepeatCount = 1;
            keys[i].Event.KeyEvent.wVirtualKeyCode = VK_RETURN;
            keys[i].Event.KeyEvent.uChar.AsciiChar = '\r';
        }
        DWORD written = 0;
        return input != INVALID_HANDLE_VALUE && WriteConsoleInputA(input, keys, 2, &written) && written == 2 ? 0 : 1;
    }
    HWND window = need(title);
    if (!std::strcmp(verb, "xid")) { std::printf("%lu\n", xWindowOf(window)); return 0; }
    if (!std::strcmp(verb, "activate")) {
        SetForegroundWindow(window);
        std::printf("%lu\n", xWindowOf(window));
        return 0;
    }
    if (!std::strcmp(verb, "text")) return printText(argc > 3 ? GetDlgItem(window, number(3, 0)) : window);
    if (!std::strcmp(verb, "boxtext")) return printText(GetDlgItem(window, 0xFFFF));
    if (!std::strcmp(verb, "press")) {
        PostMessageA(window, WM_COMMAND, MAKEWPARAM(number(3, 0), BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(window, number(3, 0))));
        return 0;
    }
    if (!std::strcmp(verb, "post")) { PostMessageA(window, WM_COMMAND, number(3, 0), 0); return 0; }
    if (!std::strcmp(verb, "postmsg")) {
        PostMessageA(window, number(3, 0), number(4, 0), number(5, 0));
        return 0;
    }
    if (!std::strcmp(verb, "layout")) {
        RECT client;
        GetClientRect(window, &client);
        std::printf("client %ld %ld\n", client.right, client.bottom);
        printRect("editor", window, GetDlgItem(window, 1001));
        printRect("status", window, GetDlgItem(window, 1002));
        return 0;
    }
    if (!std::strcmp(verb, "resize")) {
        SetWindowPos(window, nullptr, 0, 0, number(3, 400), number(4, 300), SWP_NOMOVE | SWP_NOZORDER);
        return 0;
    }
    if (!std::strcmp(verb, "focus")) {
        GUITHREADINFO info = {};
        info.cbSize = sizeof info;
        char name[128] = "";
        if (GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info) && info.hwndFocus)
            GetClassNameA(info.hwndFocus, name, sizeof name);
        std::printf("%s %d\n", name, info.hwndFocus ? GetDlgCtrlID(info.hwndFocus) : 0);
        return 0;
    }
    if (!std::strcmp(verb, "children")) {
        EnumChildWindows(window, printChild, 0);
        return 0;
    }
    if (!std::strcmp(verb, "enabled")) { std::printf("%d\n", IsWindowEnabled(window) ? 1 : 0); return 0; }
    if (!std::strcmp(verb, "state")) {
        std::printf("%s\n", IsIconic(window) ? "minimized" : IsZoomed(window) ? "maximized" : "normal");
        return 0;
    }
    if (!std::strcmp(verb, "pid")) {
        DWORD pid = 0;
        GetWindowThreadProcessId(window, &pid);
        std::printf("%lu\n", pid);
        return 0;
    }
    if (!std::strcmp(verb, "settext") && argc > 4) return setTextFromFile(GetDlgItem(window, number(3, 0)), argv[4]);
    std::fprintf(stderr, "pxdriver: unknown command %s\n", verb);
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) { std::fprintf(stderr, "usage: pxdriver COMMAND [TITLE] [ARGS]\n"); return 2; }
    return run(argc, argv);
}
