#include "main_window.h"
#include "../platform/texts.h"
#include "../resources/resource.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    setAppInstance(GetModuleHandleA(nullptr));
    // With the manifest's Common Controls 6, the status bar's class is registered only on request.
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);
    HMODULE richEdit = LoadLibraryA("RichEd20.dll");
    DialogBoxParamA(appInstance(), MAKEINTRESOURCEA(IDD_MAIN), nullptr, mainDialogProc, 0);
    FreeLibrary(richEdit);
    ExitProcess(0);
}
