#include "main_window.h"
#include "../platform/texts.h"
#include "../resources/resource.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    setAppInstance(GetModuleHandleA(nullptr));
    InitCommonControls();
    HMODULE richEdit = LoadLibraryA("RichEd20.dll");
    DialogBoxParamA(appInstance(), MAKEINTRESOURCEA(IDD_MAIN), nullptr, mainDialogProc, 0);
    FreeLibrary(richEdit);
    ExitProcess(0);
}
