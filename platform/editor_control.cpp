#include "editor_control.h"

#include "../resources/resource.h"

int ProgramChange::depth_ = 0;

namespace {
// Beyond this the control is too slow to be of use anyway; 0xFFFFFFFF would be ignored.
constexpr LPARAM kTextLimit = 0x7FFFFFFE;
constexpr DWORD kShortWrite = ERROR_WRITE_FAULT;

void recordFailure(FileStream& stream, DWORD error) {
    if (!stream.failed) { stream.failed = true; stream.error = error; }
}
} // namespace

DWORD CALLBACK streamReadCallback(DWORD_PTR cookie, LPBYTE buffer, LONG count, LONG* done) {
    FileStream& stream = *reinterpret_cast<FileStream*>(cookie);
    DWORD read = 0;
    if (!ReadFile(stream.file, buffer, static_cast<DWORD>(count), &read, nullptr)) {
        recordFailure(stream, GetLastError());
        *done = 0;
        return 1;
    }
    *done = static_cast<LONG>(read);
    return 0;
}

DWORD CALLBACK streamWriteCallback(DWORD_PTR cookie, LPBYTE buffer, LONG count, LONG* done) {
    FileStream& stream = *reinterpret_cast<FileStream*>(cookie);
    DWORD written = 0;
    if (!WriteFile(stream.file, buffer, static_cast<DWORD>(count), &written, nullptr)) {
        recordFailure(stream, GetLastError());
        *done = 0;
        return 1;
    }
    *done = static_cast<LONG>(written);
    if (written != static_cast<DWORD>(count)) {  // the control would stop without a word
        recordFailure(stream, kShortWrite);
        return 1;
    }
    return 0;
}

HWND editorOf(HWND mainWindow) { return GetDlgItem(mainWindow, IDC_EDITOR); }

void prepareEditor(HWND editor) {
    SendMessageA(editor, EM_EXLIMITTEXT, 0, kTextLimit);
    SendMessageA(editor, EM_SETTARGETDEVICE, 0, 1);  // line width 1: never wrap
    SendMessageA(editor, EM_SETEVENTMASK, 0, ENM_CHANGE);
}

namespace {
bool streamFile(HWND editor, UINT message, EDITSTREAMCALLBACK callback, FileStream& stream) {
    EDITSTREAM editStream = {};
    editStream.dwCookie = reinterpret_cast<DWORD_PTR>(&stream);
    editStream.pfnCallback = callback;
    SendMessageA(editor, message, SF_TEXT, reinterpret_cast<LPARAM>(&editStream));
    if (editStream.dwError != 0) recordFailure(stream, editStream.dwError);
    return !stream.failed;
}
} // namespace

bool streamFileIn(HWND editor, FileStream& stream) {
    return streamFile(editor, EM_STREAMIN, streamReadCallback, stream);
}

bool streamFileOut(HWND editor, FileStream& stream) {
    return streamFile(editor, EM_STREAMOUT, streamWriteCallback, stream);
}
