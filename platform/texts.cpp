#include "texts.h"

#include "../resources/resource.h"

namespace {
HINSTANCE instance = nullptr;
}

HINSTANCE appInstance() { return instance; }
void setAppInstance(HINSTANCE value) { instance = value; }

Text loadText(UINT id) {
    Text text;
    if (LoadStringA(instance, id, text.value, kTextCapacity) <= 0) text.value[0] = '\0';
    return text;
}

void setStatus(HWND mainWindow, const char* text) { SetDlgItemTextA(mainWindow, IDC_STATUS, text); }

void setStatusText(HWND mainWindow, UINT id) { setStatus(mainWindow, loadText(id).value); }

void setSmallIcon(HWND window) {
    HICON icon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_APP));
    SendMessageA(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
}
