#include "window_search.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

BOOL CALLBACK collect(HWND window, LPARAM data) {
    Found& found = *reinterpret_cast<Found*>(data);
    char title[kTitleCapacity];
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (GetWindowTextA(window, title, sizeof title) > 0 && std::strcmp(title, found.title) == 0 &&
        IsWindowVisible(window) && found.count < kFoundCapacity && (found.pid == 0 || found.pid == pid))
        found.windows[found.count++] = window;
    return TRUE;
}

} // namespace

Found findAll(const char* title) {
    Found found = {};
    std::snprintf(found.title, sizeof found.title, "%s", title);
    if (char* at = std::strrchr(found.title, '@')) {
        found.pid = static_cast<DWORD>(std::strtoul(at + 1, nullptr, 10));
        *at = '\0';
    }
    EnumWindows(collect, reinterpret_cast<LPARAM>(&found));
    return found;
}

HWND waitFor(const char* title, DWORD timeout) {
    DWORD start = GetTickCount();
    for (;;) {
        Found found = findAll(title);
        if (found.count > 0) return found.windows[0];
        if (GetTickCount() - start > timeout) return nullptr;
        Sleep(kPollMs);
    }
}
