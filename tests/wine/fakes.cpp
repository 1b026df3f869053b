#include "fakes.h"

#include <cstring>

Fakes fakes;

namespace {

int WINAPI fakeMessageBox(HWND owner, LPCSTR text, LPCSTR caption, UINT style, WORD language) {
    fakes.boxes.push_back({owner, text ? text : "", caption ? caption : "", style, language});
    return fakes.boxAnswer;
}

FileDialogCall record(const OPENFILENAMEA& dialog) {
    FileDialogCall call{dialog, "", dialog.lpstrFile ? dialog.lpstrFile : ""};
    for (const char* p = dialog.lpstrFilter; p && *p; p += std::strlen(p) + 1) call.filter += std::string(p) + "|";
    return call;
}

BOOL answerFileDialog(LPOPENFILENAMEA dialog) {
    if (fakes.duringFileDialog) fakes.duringFileDialog();
    if (fakes.chosenPath.empty()) return FALSE;
    if (fakes.chosenPath.size() >= dialog->nMaxFile) return FALSE;
    std::strcpy(dialog->lpstrFile, fakes.chosenPath.c_str());
    return TRUE;
}

BOOL WINAPI fakeOpen(LPOPENFILENAMEA dialog) {
    fakes.openCalls.push_back(record(*dialog));
    return answerFileDialog(dialog);
}

BOOL WINAPI fakeSave(LPOPENFILENAMEA dialog) {
    fakes.saveCalls.push_back(record(*dialog));
    return answerFileDialog(dialog);
}

BOOL WINAPI fakeChooseColor(LPCHOOSECOLORA dialog) {
    fakes.colourCalls.push_back(*dialog);
    fakes.customColoursSeen.assign(dialog->lpCustColors, dialog->lpCustColors + 16);
    if (!fakes.colourChosen) return FALSE;
    dialog->rgbResult = fakes.colour;
    return TRUE;
}

} // namespace

void Fakes::install() {
    *this = Fakes();
    platformDialogs = {fakeMessageBox, fakeOpen, fakeSave, fakeChooseColor};
}
