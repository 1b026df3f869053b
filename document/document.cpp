#include "document.h"

#include "../editing/editing.h"
#include "../editing/quick_replace.h"
#include "../platform/dialogs.h"
#include "../platform/editor_control.h"
#include "../platform/handle.h"
#include "../platform/safe_save.h"
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

enum class Answer { Save, Discard, Keep };

// Asks the save question. Only No discards: Esc closes the box under Wine (IDCANCEL), and a
// box that could not be shown returns 0; both leave everything as it is.
Answer askToSave(HWND mainWindow) {
    Text question = loadText(IDS_SAVE_QUESTION);
    Text caption = loadText(IDS_WARNING_CAPTION);
    switch (platformDialogs.messageBoxEx(mainWindow, question.value, caption.value, MB_YESNO, 0)) {
    case IDYES: return Answer::Save;
    case IDNO: return Answer::Discard;
    default: return Answer::Keep;
    }
}

// Unsaved work asks; otherwise there is nothing to lose.
Answer askIfNeeded(HWND mainWindow) {
    return documentNeedsSaving() ? askToSave(mainWindow) : Answer::Discard;
}

void runSave(HWND mainWindow) { SendMessageA(mainWindow, WM_COMMAND, IDM_SAVE, 0); }

HWND freshEditor(HWND mainWindow) { return freshEditorLike(editorOf(mainWindow)); }

void clearDocument(HWND mainWindow) {
    forgetKeptEditor();
    if (HWND fresh = freshEditor(mainWindow)) {
        replaceEditor(editorOf(mainWindow), fresh);
    } else {
        ProgramChange change;
        SetWindowTextA(editorOf(mainWindow), nullptr);
    }
    state.modified = 0;
    state.hasFile = 0;
    state.edited = 0;
    setStatusText(mainWindow, IDS_UNTITLED);
    RtlZeroMemory(state.documentPath, kDocumentPathCapacity);
}

// Streams the whole text into the open file.
bool writeEditorText(HANDLE file, void* mainWindow) {
    FileStream stream(file);
    bool written = streamFileOut(editorOf(static_cast<HWND>(mainWindow)), stream);
    if (!written) SetLastError(stream.error);
    return written;
}

// A file that may not be written lowers hasFile, so that the next Save asks for another.
bool saveTo(HWND mainWindow, SaveTarget target) {
    DWORD error = checkSaveTarget(state.documentPath, target);
    if (error != 0) state.hasFile = 0;
    else error = saveSafely(state.documentPath, writeEditorText, mainWindow);
    if (error == 0) return true;
    setStatusText(mainWindow, IDS_ERROR_SAVING);
    SetLastError(error);
    return false;
}

void reportSaved(HWND mainWindow) {
    state.modified = 0;
    state.edited = 0;
    setStatusText(mainWindow, IDS_SAVED);
    Sleep(kSavedMessageMilliseconds);
    showFileTitle(mainWindow);
}

void saveToKnownFile(HWND mainWindow) {
    if (saveTo(mainWindow, SaveTarget::MustExist)) reportSaved(mainWindow);
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
    if (!saveTo(mainWindow, SaveTarget::MayBeNew)) return;
    state.hasFile = 1;
    reportSaved(mainWindow);
}

// Wine's control runs out of memory on big texts and takes the program down with it. The size
// refuses most at once; the stream counts the lines too.
bool tooBigToOpen(HANDLE file) {
    LARGE_INTEGER size;
    return GetFileSizeEx(file, &size) && size.QuadPart > kMaxOpenCost;
}

// Reads the file into a fresh control that takes the old one's place only when the whole file is
// in: a file that cannot be read, or is too big, leaves the text, the path and the flags as they were.
bool loadInto(HWND mainWindow, HANDLE file) {
    if (tooBigToOpen(file)) return false;
    HWND fresh = freshEditor(mainWindow);
    if (!fresh) return false;
    FileStream stream(file);
    bool loaded;
    {
        ProgramChange change;
        loaded = streamFileIn(fresh, stream);
    }
    if (!loaded) {
        DestroyWindow(fresh);
        return false;
    }
    forgetKeptEditor();
    replaceEditor(editorOf(mainWindow), fresh);
    return true;
}

void loadChosenFile(HWND mainWindow) {
    FileHandle file(CreateFileA(state.documentPath, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid() || !loadInto(mainWindow, file.get())) {
        setStatusText(mainWindow, IDS_ERROR_OPENING);
        restorePath();
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
    Answer answer = askIfNeeded(mainWindow);
    if (answer == Answer::Save) runSave(mainWindow);  // the flags stay as the save left them
    else if (answer == Answer::Discard) clearDocument(mainWindow);
}

void openDocument(HWND mainWindow) {
    Answer answer = askIfNeeded(mainWindow);
    if (answer == Answer::Save) runSave(mainWindow);  // as New does: the user chooses Open again
    if (answer != Answer::Discard) return;
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
    Answer answer = askIfNeeded(mainWindow);
    if (answer == Answer::Save) runSave(mainWindow);  // the window stays open
    else if (answer == Answer::Discard) EndDialog(mainWindow, 0);
}
