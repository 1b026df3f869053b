#ifndef PELLUX_DOCUMENT_H
#define PELLUX_DOCUMENT_H

#include "../platform/win.h"

constexpr int kDocumentPathCapacity = 256;
constexpr int kFileTitleCapacity = 256;

struct DocumentState {
    BYTE modified;   // 1: raised by Open; New, closing and Open ask before the text goes
    BYTE hasFile;    // 1: Save writes to documentPath without asking
    BYTE edited;     // 1: the user changed the text since it was last cleared, opened or saved
    char documentPath[kDocumentPathCapacity];
};

const DocumentState& document();
// Whether New, Open and closing must ask before the text goes.
bool documentNeedsSaving();

void newDocument(HWND mainWindow);
void openDocument(HWND mainWindow);
void saveDocument(HWND mainWindow);
void requestClose(HWND mainWindow);

// EN_CHANGE from the editor: counts as an edit unless the program made the change.
void noteEditorChange();

#endif
