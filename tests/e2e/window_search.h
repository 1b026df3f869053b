// Finding the editor's top-level windows by title, shared by the drivers of the end-to-end tests.
#ifndef PELLUX_E2E_WINDOW_SEARCH_H
#define PELLUX_E2E_WINDOW_SEARCH_H

#include <windows.h>

constexpr DWORD kDefaultTimeout = 10000;
constexpr DWORD kPollMs = 10;
constexpr int kTitleCapacity = 512;
constexpr int kFoundCapacity = 16;

// The visible top-level windows of one title; a title may end in "@PID" to pick one process's.
struct Found {
    char title[kTitleCapacity];
    DWORD pid;
    HWND windows[kFoundCapacity];
    int count;
};

Found findAll(const char* title);
// The first window of the title, polled up to the timeout; nullptr when none came.
HWND waitFor(const char* title, DWORD timeout);

#endif
