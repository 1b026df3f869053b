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
    // The icon's own small image, not its 32-pixel one shrunk; shared, so never freed.
    HANDLE icon = LoadImageA(instance, MAKEINTRESOURCEA(IDI_APP), IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                             GetSystemMetrics(SM_CYSMICON), LR_SHARED);
    SendMessageA(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
}
