#include "document.h"

#include "../platform/dialogs.h"
#include "../platform/editor_control.h"
#include "../platform/handle.h"
#include "../platform/text.h"
#include "../platform/texts.h"
#include "../resources/resource.h"

namespace {

constexpr DWORD kSavedMessageMilliseconds = 300;
constexpr int kFilterCapacity = 128;

DocumentState state = {};
char savedPath[kDocumentPathCapacity];  // documentPath before a dialog wrote into it
char filter[kFilterCapacity];

// The filter pairs live in the string table with '|' for the NULs the dialog wants.
const char* fileFilter() {
    Text text = loadText(IDS_FILE_FILTER);
    RtlZeroMemory(filter, sizeof filter);
    for (int i = 0; i < kFilterCapacity - 2 && text.value[i]; ++i)
        filter[i] = text.value[i] == '|' ? '\0' : text.value[i];
    return filter;
}

void prepareFileDialog(OPENFILENAMEA& dialog, HWND mainWindow) {
    RtlZeroMemory(&dialog, sizeof dialog);
    dialog.lStructSize = OPENFILENAME_SIZE_VERSION_400A;  // the classic record: 76 bytes on 32-bit
    dialog.hwndOwner = mainWindow;
    dialog.hInstance = appInstance();
    dialog.lpstrFilter = fileFilter();
    dialog.lpstrFile = state.documentPath;
    dialog.nMaxFile = kDocumentPathCapacity;
}

void showFileTitle(HWND mainWindow) {
    char title[kFileTitleCapacity];
    if (GetFileTitleA(state.documentPath, title, kFileTitleCapacity) != 0) title[0] = '\0';
    setStatus(mainWindow, title);
}

void rememberPath() { CopyMemory(savedPath, state.documentPath, kDocumentPathCapacity); }
void restorePath() { CopyMemory(state.documentPath, savedPath, kDocumentPathCapacity); }

// Asks the save question; true when the user answered Yes.
bool askToSave(HWND mainWindow) {
    Text question = loadText(IDS_SAVE_QUESTION);
    Text caption = loadText(IDS_WARNING_CAPTION);
    return platformDialogs.messageBoxEx(mainWindow, question.value, caption.value, MB_YESNO, 0) == IDYES;
}

void runSave(HWND mainWindow) { SendMessageA(mainWindow, WM_COMMAND, IDM_SAVE, 0); }

void clearDocument(HWND mainWindow) {
    {
        ProgramChange change;
        SetWindowTextA(editorOf(mainWindow), nullptr);
    }
    state.modified = 0;
    state.hasFile = 0;
    state.edited = 0;
    setStatusText(mainWindow, IDS_UNTITLED);
    RtlZeroMemory(state.documentPath, kDocumentPathCapacity);
}

// Writes the whole text to the open file and cuts the file there.
bool writeText(HWND mainWindow, FileHandle& file) {
    FileStream stream = {file.get(), 0, false};
    bool written = streamFileOut(editorOf(mainWindow), stream) && SetEndOfFile(file.get());
    return file.close() && written;
}

void reportSaved(HWND mainWindow) {
    state.modified = 0;
    state.edited = 0;
    setStatusText(mainWindow, IDS_SAVED);
    Sleep(kSavedMessageMilliseconds);
    showFileTitle(mainWindow);
}

void saveToKnownFile(HWND mainWindow) {
    FileHandle file(CreateFileA(state.documentPath, GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
        state.hasFile = 0;  // the next Save asks for a file
        setStatusText(mainWindow, IDS_ERROR_SAVING);
        return;
    }
    if (!writeText(mainWindow, file)) {
        setStatusText(mainWindow, IDS_ERROR_SAVING);
        return;
    }
    reportSaved(mainWindow);
}

void saveToChosenFile(HWND mainWindow) {
    OPENFILENAMEA dialog;
    prepareFileDialog(dialog, mainWindow);
    dialog.lpstrDefExt = "b";
    dialog.Flags = OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT;
    rememberPath();
    if (!platformDialogs.getSaveFileName(&dialog)) {
        restorePath();
        return;
    }
    FileHandle file(CreateFileA(state.documentPath, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid() || !writeText(mainWindow, file)) {
        setStatusText(mainWindow, IDS_ERROR_SAVING);
        return;
    }
    state.hasFile = 1;
    reportSaved(mainWindow);
}

// Loads the chosen file; a read that fails part-way leaves an empty untitled document,
// never a partial text that a later Save would write over the file.
void loadChosenFile(HWND mainWindow) {
    FileHandle file(CreateFileA(state.documentPath, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
        setStatusText(mainWindow, IDS_ERROR_OPENING);
        restorePath();
        return;
    }
    FileStream stream = {file.get(), 0, false};
    bool loaded;
    {
        ProgramChange change;
        loaded = streamFileIn(editorOf(mainWindow), stream);
    }
    file.close();
    if (!loaded) {
        clearDocument(mainWindow);
        setStatusText(mainWindow, IDS_ERROR_OPENING);
        return;
    }
    state.modified = 1;
    state.hasFile = 1;
    state.edited = 0;
}

} // namespace

const DocumentState& document() { return state; }

bool documentNeedsSaving() { return state.modified == 1 || state.edited == 1; }

void noteEditorChange() {
    if (!ProgramChange::active()) state.edited = 1;
}

void newDocument(HWND mainWindow) {
    if (!documentNeedsSaving()) {
        clearDocument(mainWindow);
        return;
    }
    if (askToSave(mainWindow)) runSave(mainWindow);  // the flags stay as the save left them
    else clearDocument(mainWindow);
}

void openDocument(HWND mainWindow) {
    if (documentNeedsSaving() && askToSave(mainWindow)) {
        runSave(mainWindow);  // as New does: the user chooses Open again
        return;
    }
    OPENFILENAMEA dialog;
    prepareFileDialog(dialog, mainWindow);
    dialog.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_NOVALIDATE | OFN_HIDEREADONLY;
    rememberPath();
    if (!platformDialogs.getOpenFileName(&dialog)) {
        restorePath();
        return;
    }
    showFileTitle(mainWindow);
    loadChosenFile(mainWindow);
}

void saveDocument(HWND mainWindow) {
    if (state.hasFile == 1) saveToKnownFile(mainWindow);
    else if (state.hasFile == 0) saveToChosenFile(mainWindow);
}

void requestClose(HWND mainWindow) {
    if (!documentNeedsSaving() || !askToSave(mainWindow)) {
        EndDialog(mainWindow, 0);
        return;
    }
    runSave(mainWindow);  // the window stays open
}
