#include "editor_session.h"

#include "resources/resource.h"

#include <psapi.h>
#include <richedit.h>

#include <cstdio>
#include <cstring>

namespace {

// A key no control acts on: when the editor has taken it, it has taken everything sent before.
// An unassigned key code, one X has no key for: when the focus moves, Wine sets each key X knows
// to the state X gives it, which could undo the marker's state half-way.
constexpr WORD kMarkerKey = 0x88;
constexpr DWORD kMarkerRepressMs = 2000;  // a press not taken by then is pressed again
constexpr DWORD kFrontPollMs = 10;
constexpr int kTextCapacity = 512;
constexpr SIZE_T kRemoteBytes = 4096;
constexpr ULONG kHandleListBytes = 4u << 20;
constexpr ULONG kSystemHandleInformation = 16;
constexpr LONG kStatusMismatch = static_cast<LONG>(0xC0000004);  // STATUS_INFO_LENGTH_MISMATCH

bool extendedKey(WORD key) {
    switch (key) {
    case VK_LEFT: case VK_RIGHT: case VK_UP: case VK_DOWN: case VK_HOME: case VK_END:
    case VK_PRIOR: case VK_NEXT: case VK_INSERT: case VK_DELETE:
        return true;
    default:
        return false;
    }
}

INPUT keyEvent(WORD key, bool up) {
    INPUT input = {};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = key;
    input.ki.wScan = static_cast<WORD>(MapVirtualKeyA(key, MAPVK_VK_TO_VSC));
    input.ki.dwFlags = (up ? KEYEVENTF_KEYUP : 0) | (extendedKey(key) ? KEYEVENTF_EXTENDEDKEY : 0);
    return input;
}

void addStroke(std::vector<INPUT>& inputs, WORD key, unsigned modifiers) {
    const WORD held[] = {VK_CONTROL, VK_SHIFT, VK_MENU};
    const unsigned flags[] = {kCtrl, kShift, kAlt};
    for (int i = 0; i < 3; ++i)
        if (modifiers & flags[i]) inputs.push_back(keyEvent(held[i], false));
    inputs.push_back(keyEvent(key, false));
    inputs.push_back(keyEvent(key, true));
    for (int i = 2; i >= 0; --i)
        if (modifiers & flags[i]) inputs.push_back(keyEvent(held[i], true));
}

void sendAll(std::vector<INPUT>& inputs) {
    if (!inputs.empty()) SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

struct WindowCount {
    DWORD pid;
    int top, visible, children;
    std::vector<HWND>* list;
};

BOOL CALLBACK countChild(HWND, LPARAM data) {
    ++reinterpret_cast<WindowCount*>(data)->children;
    return TRUE;
}

BOOL CALLBACK countTop(HWND window, LPARAM data) {
    WindowCount& count = *reinterpret_cast<WindowCount*>(data);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid != count.pid) return TRUE;
    ++count.top;
    if (IsWindowVisible(window)) {
        ++count.visible;
        if (count.list) count.list->push_back(window);
    }
    EnumChildWindows(window, countChild, data);
    return TRUE;
}

// The system's handle list, as Wine's ntdll gives it (SystemHandleInformation).
struct HandleEntry {
    USHORT pid;
    USHORT creatorBackTrace;
    UCHAR type;
    UCHAR flags;
    USHORT handle;
    PVOID object;
    ULONG access;
};
struct HandleList {
    ULONG count;
    HandleEntry entries[1];
};
using QuerySystem = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);

// Counts the process's handles, and of them those of the type a registry key of ours has.
void countHandles(DWORD pid, Figures& figures) {
    auto query = reinterpret_cast<QuerySystem>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
    if (!query) return;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, &key) != ERROR_SUCCESS) return;
    std::vector<BYTE> buffer(kHandleListBytes);
    ULONG needed = 0;
    LONG status = query(kSystemHandleInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
    if (status == kStatusMismatch && needed > buffer.size()) {
        buffer.resize(needed + kHandleListBytes);
        status = query(kSystemHandleInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
    }
    if (status == 0) {
        const HandleList& list = *reinterpret_cast<const HandleList*>(buffer.data());
        int keyType = -1;
        for (ULONG i = 0; i < list.count; ++i)
            if (list.entries[i].pid == GetCurrentProcessId() &&
                list.entries[i].handle == static_cast<USHORT>(reinterpret_cast<ULONG_PTR>(key)))
                keyType = list.entries[i].type;
        figures.handles = 0;
        figures.keyHandles = keyType < 0 ? -1 : 0;
        for (ULONG i = 0; i < list.count; ++i) {
            if (list.entries[i].pid != pid) continue;
            ++figures.handles;
            if (keyType >= 0 && list.entries[i].type == keyType) ++figures.keyHandles;
        }
    }
    RegCloseKey(key);
}

// Wine shows the Linux file system as drive Z:, /proc included.
int countFds(DWORD unixPid) {
    char pattern[64];
    std::snprintf(pattern, sizeof pattern, "Z:\\proc\\%lu\\fd\\*", static_cast<unsigned long>(unixPid));
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA(pattern, &entry);
    if (search == INVALID_HANDLE_VALUE) return -1;
    int count = 0;
    do {
        if (std::strcmp(entry.cFileName, ".") != 0 && std::strcmp(entry.cFileName, "..") != 0) ++count;
    } while (FindNextFileA(search, &entry));
    FindClose(search);
    return count;
}

} // namespace

EditorSession::~EditorSession() {
    if (attached_) AttachThreadInput(GetCurrentThreadId(), thread_, FALSE);
    if (remote_ && alive()) VirtualFreeEx(process_, remote_, 0, MEM_RELEASE);
    if (process_) CloseHandle(process_);
}

bool EditorSession::attach(HWND mainWindow, std::string& why) {
    main_ = mainWindow;
    thread_ = GetWindowThreadProcessId(mainWindow, &pid_);
    process_ = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE |
                               SYNCHRONIZE,
                           FALSE, pid_);
    if (!process_) {
        why = "cannot open the editor's process";
        return false;
    }
    remote_ = VirtualAllocEx(process_, nullptr, kRemoteBytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (!remote_) {
        why = "cannot reserve memory in the editor's process";
        return false;
    }
    MSG message;
    PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);  // this thread needs a queue to share
    attached_ = AttachThreadInput(GetCurrentThreadId(), thread_, TRUE) != FALSE;
    if (!attached_) why = "cannot share the editor's input queue";
    return attached_;
}

// Until the editor has taken a key since this thread joined its input, this thread reads the
// marker's toggle state as off, whatever it is: one press, held down and let go and each seen,
// makes the reading true.
bool EditorSession::calibrate(DWORD timeout, std::string& why) {
    DWORD start = GetTickCount();
    for (bool down : {true, false}) {
        INPUT marker = keyEvent(kMarkerKey, !down);
        SendInput(1, &marker, sizeof marker);
        while (((GetKeyState(kMarkerKey) & 0x8000) != 0) != down) {
            if (!alive() || GetTickCount() - start > timeout) {
                why = alive() ? "the editor took no input" : "the editor has ended";
                return false;
            }
            Sleep(1);
        }
    }
    return true;
}

void EditorSession::press(WORD key, unsigned modifiers) {
    std::vector<INPUT> inputs;
    addStroke(inputs, key, modifiers);
    sendAll(inputs);
}

// Each character as the key that types it on this keyboard layout; others as themselves.
void EditorSession::type(const std::string& text) {
    std::vector<INPUT> inputs;
    for (char c : text) {
        if (c == '\n') {
            addStroke(inputs, VK_RETURN, kNoModifier);
            continue;
        }
        SHORT scan = VkKeyScanA(c);
        if (scan != -1) {
            unsigned shifts = HIBYTE(scan);
            unsigned modifiers = ((shifts & 1) ? kShift : 0) | ((shifts & 2) ? kCtrl : 0) | ((shifts & 4) ? kAlt : 0);
            addStroke(inputs, LOBYTE(scan), modifiers);
            continue;
        }
        INPUT input = {};
        input.type = INPUT_KEYBOARD;
        input.ki.wScan = static_cast<unsigned char>(c);
        input.ki.dwFlags = KEYEVENTF_UNICODE;
        inputs.push_back(input);
        input.ki.dwFlags |= KEYEVENTF_KEYUP;
        inputs.push_back(input);
    }
    sendAll(inputs);
}

void EditorSession::postToMain(UINT message, WPARAM wParam, LPARAM lParam) {
    PostMessageA(main_, message, wParam, lParam);
}

void EditorSession::postTo(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    PostMessageA(window, message, wParam, lParam);
}

// As a window manager does it: the editor's thread carries it out before answering.
void EditorSession::resizeMain(int width, int height) {
    SetWindowPos(main_, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

bool EditorSession::bringToFront(DWORD timeout, std::string& why) {
    DWORD start = GetTickCount();
    for (;;) {
        HWND target = active();
        if (!target) target = main_;
        if (GetForegroundWindow() == target) return true;
        if (!alive()) {
            why = "the editor has ended";
            return false;
        }
        if (GetTickCount() - start > timeout) {
            why = "the editor's window \"" + windowText(target) + "\" could not be brought to the front";
            return false;
        }
        SetForegroundWindow(target);
        Sleep(kFrontPollMs);
    }
}

// Down and up at once, so that no focus change can come between them: each press flips the
// key's toggle state once the editor has taken it. A press that reaches a window as it closes (a
// box just answered) is thrown away with it and never flips anything: pressed again after a while,
// an editor that takes input takes the next one, and one that does not still fails at the deadline.
bool EditorSession::markerTaken(DWORD start, DWORD timeout, std::string& why) {
    SHORT before = GetKeyState(kMarkerKey);
    press(kMarkerKey);
    DWORD pressed = GetTickCount();
    for (;;) {
        SHORT now = GetKeyState(kMarkerKey);
        if ((now & 1) != (before & 1) && !(now & 0x8000)) return true;
        if (GetTickCount() - pressed > kMarkerRepressMs) {
            before = now;
            press(kMarkerKey);
            pressed = GetTickCount();
        }
        if (!alive()) {
            why = "the editor has ended";
            return false;
        }
        if (GetTickCount() - start > timeout) {
            why = "the editor took no input for " + std::to_string(timeout / 1000) + " s (in front: \"" +
                  windowText(GetForegroundWindow()) + "\")";
            return false;
        }
        Sleep(1);
    }
}

EditorSession::Windows EditorSession::windowsNow() const {
    Windows now;
    now.foreground = GetForegroundWindow();
    now.active = active();
    now.focus = focus();
    now.shown = visibleWindows();
    return now;
}

// The editor's windows change as X tells its Wine process of focus changes, a little after the
// change itself: input sent in between can go to a window on its way out. So the action is over
// when the marker has gone through twice with no window changed in between, each time after a
// round trip to the X server (GetCursorPos asks it), which has then sent its news on.
bool EditorSession::settle(DWORD timeout, std::string& why) {
    answerTimeout_ = timeout;
    DWORD start = GetTickCount();
    Windows last;
    for (bool first = true;; first = false) {
        if (!markerTaken(start, timeout, why)) return false;
        POINT ignored;
        GetCursorPos(&ignored);
        Windows now = windowsNow();
        if (!first && now == last) break;
        last = now;
    }
    // Taking input is not yet answering: each of its windows must answer a message too.
    for (HWND window : last.shown) {
        DWORD_PTR result = 0;
        DWORD left = timeout - (GetTickCount() - start);
        if (left > timeout) left = 0;
        if (!SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, left + 1, &result) && IsWindow(window)) {
            why = alive() ? "the window \"" + windowText(window) + "\" did not answer within " +
                                std::to_string(timeout / 1000) + " s"
                          : "the editor has ended";
            return false;
        }
    }
    return true;
}

bool EditorSession::alive() const { return process_ && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT; }

DWORD EditorSession::exitCode() const {
    DWORD code = 0;
    GetExitCodeProcess(process_, &code);
    return code;
}

HWND EditorSession::active() const {
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    return GetGUIThreadInfo(thread_, &info) ? info.hwndActive : nullptr;
}

HWND EditorSession::focus() const {
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    return GetGUIThreadInfo(thread_, &info) ? info.hwndFocus : nullptr;
}

bool EditorSession::inMenu() const {
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    return GetGUIThreadInfo(thread_, &info) && (info.flags & (GUI_INMENUMODE | GUI_POPUPMENUMODE));
}

HWND EditorSession::editor() const { return GetDlgItem(main_, IDC_EDITOR); }

bool EditorSession::send(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    DWORD_PTR answer = 0;
    if (!SendMessageTimeoutA(window, message, wParam, lParam, SMTO_NORMAL, answerTimeout_, &answer)) return false;
    result = static_cast<LRESULT>(answer);
    return true;
}

bool EditorSession::text(std::string& out) {
    HWND control = editor();
    LRESULT length = 0;
    if (!send(control, WM_GETTEXTLENGTH, 0, 0, length)) return false;
    std::string buffer(static_cast<size_t>(length) + 1, '\0');
    LRESULT got = 0;
    if (!send(control, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(&buffer[0]), got)) return false;
    buffer.resize(static_cast<size_t>(got));
    out = buffer;
    return true;
}

bool EditorSession::selection(Selection& out) {
    LRESULT ignored = 0;
    if (!send(editor(), EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(remote_), ignored)) return false;
    CHARRANGE range = {};
    SIZE_T read = 0;
    if (!ReadProcessMemory(process_, remote_, &range, sizeof range, &read) || read != sizeof range) return false;
    out.from = range.cpMin;
    out.to = range.cpMax;
    return true;
}

bool EditorSession::length(LONG& out) {
    GETTEXTLENGTHEX how = {GTL_NUMCHARS | GTL_PRECISE, CP_ACP};
    SIZE_T written = 0;
    if (!WriteProcessMemory(process_, remote_, &how, sizeof how, &written) || written != sizeof how) return false;
    LRESULT result = 0;
    if (!send(editor(), EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(remote_), 0, result)) return false;
    out = static_cast<LONG>(result);
    return true;
}

std::string EditorSession::status() { return windowText(GetDlgItem(main_, IDC_STATUS)); }

std::string EditorSession::windowText(HWND window) {
    char text[kTextCapacity] = "";
    DWORD_PTR got = 0;
    if (!SendMessageTimeoutA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text), SMTO_NORMAL, 5000, &got))
        return "?";
    text[sizeof text - 1] = '\0';
    return text;
}

std::string EditorSession::className(HWND window) {
    char name[64] = "";
    GetClassNameA(window, name, sizeof name);
    return name;
}

std::vector<HWND> EditorSession::visibleWindows() const {
    std::vector<HWND> windows;
    WindowCount count = {pid_, 0, 0, 0, &windows};
    EnumWindows(countTop, reinterpret_cast<LPARAM>(&count));
    return windows;
}

Figures EditorSession::figures(DWORD unixPid) const {
    Figures figures;
    PROCESS_MEMORY_COUNTERS memory = {};
    memory.cb = sizeof memory;  // Wine fills the plain record only
    if (GetProcessMemoryInfo(process_, &memory, sizeof memory)) {
        figures.workingSet = memory.WorkingSetSize;
        figures.peakWorkingSet = memory.PeakWorkingSetSize;
        figures.pagefile = memory.PagefileUsage;
    }
    WindowCount count = {pid_, 0, 0, 0, nullptr};
    EnumWindows(countTop, reinterpret_cast<LPARAM>(&count));
    figures.topWindows = count.top;
    figures.visibleWindows = count.visible;
    figures.childWindows = count.children;
    countHandles(pid_, figures);
    GetProcessHandleCount(process_, &figures.handleCount);
    figures.guiObjects = GetGuiResources(process_, GR_GDIOBJECTS);
    figures.userObjects = GetGuiResources(process_, GR_USEROBJECTS);
    if (unixPid != 0) figures.fds = countFds(unixPid);
    return figures;
}

std::string withWindowsLineEnds(const std::string& text) {
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        if (c == '\r' || c == '\n') out += "\r\n";
        else out += c;
    }
    return out;
}

std::string programText(Random& random, size_t bytes, const char* lineEnd) {
    static const char kCommands[] = "+-<>[].,";
    std::string text;
    while (text.size() < bytes) {
        int length = 10 + random.below(40);
        for (int k = 0; k < length; ++k) text += kCommands[random.below(8)];
        text += lineEnd;
    }
    return text;
}

bool writeFile(const std::string& path, const std::string& content) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    bool ok = content.empty() ||
              (WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr) &&
               written == content.size());
    return CloseHandle(file) && ok;
}

bool readFile(const std::string& path, std::string& out) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER size = {};
    bool ok = GetFileSizeEx(file, &size) != FALSE;
    if (ok) {
        out.assign(static_cast<size_t>(size.QuadPart), '\0');
        DWORD read = 0;
        ok = out.empty() || (ReadFile(file, &out[0], static_cast<DWORD>(out.size()), &read, nullptr) && read == out.size());
    }
    CloseHandle(file);
    return ok;
}

std::string fileTitle(const std::string& path) {
    size_t cut = path.find_last_of("\\/");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}
