// The baseline for the editor's start-up: a dialog with nothing in it.
#include <windows.h>

namespace {
INT_PTR CALLBACK blankProc(HWND dialog, UINT message, WPARAM, LPARAM) {
    if (message == WM_CLOSE) { EndDialog(dialog, 0); return TRUE; }
    return message == WM_INITDIALOG;
}
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    DialogBoxParamA(instance, MAKEINTRESOURCEA(1), nullptr, blankProc, 0);
    return 0;
}
