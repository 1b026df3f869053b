#include "safe_save.h"

#include "handle.h"
#include "text.h"

PlatformFiles platformFiles = {ReplaceFileA, MoveFileExA};

namespace {

constexpr int kFolderCapacity = MAX_PATH;
constexpr DWORD kWriteFailed = ERROR_WRITE_FAULT;  // a writer that failed without a code

DWORD lastErrorOr(DWORD fallback) {
    DWORD error = GetLastError();
    return error != 0 ? error : fallback;
}

// The folder part of path ("." for a bare name), where the temporary file goes so that the swap
// never crosses volumes.
void folderOf(const char* path, char* folder) {
    copyText(folder, kFolderCapacity, path);
    int cut = -1;
    for (int i = 0; folder[i]; ++i)
        if (folder[i] == '\\' || folder[i] == '/') cut = i;
    if (cut < 0) copyText(folder, kFolderCapacity, ".");
    else folder[cut == 0 || folder[cut - 1] == ':' ? cut + 1 : cut] = '\0';  // keep a root's slash
}

DWORD writeTemporary(const char* temporary, WriteContent write, void* context) {
    FileHandle file(CreateFileA(temporary, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return lastErrorOr(ERROR_ACCESS_DENIED);
    SetLastError(0);
    if (!write(file.get(), context)) return lastErrorOr(kWriteFailed);
    if (!FlushFileBuffers(file.get())) return lastErrorOr(kWriteFailed);
    if (!file.close()) return lastErrorOr(kWriteFailed);
    return 0;
}

// Puts the complete temporary file in the file's place. Replacing keeps the file's attributes
// and security; a new file, or one that replacing already took away, is moved into place.
DWORD swapIn(const char* path, const char* temporary) {
    if (platformFiles.replaceFile(path, temporary, nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr))
        return 0;
    DWORD error = lastErrorOr(ERROR_ACCESS_DENIED);
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_UNABLE_TO_MOVE_REPLACEMENT) return error;
    if (platformFiles.moveFileEx(temporary, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return 0;
    return lastErrorOr(ERROR_ACCESS_DENIED);
}

} // namespace

// Opening the file for writing refuses what writing in place would have refused.
DWORD checkSaveTarget(const char* path, SaveTarget target) {
    FileHandle file(CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.valid()) return 0;
    DWORD error = lastErrorOr(ERROR_ACCESS_DENIED);
    if (target == SaveTarget::MayBeNew && error == ERROR_FILE_NOT_FOUND) return 0;
    return error;
}

DWORD saveSafely(const char* path, WriteContent write, void* context) {
    char folder[kFolderCapacity];
    char temporary[MAX_PATH];
    folderOf(path, folder);
    if (GetTempFileNameA(folder, "plx", 0, temporary) == 0) return lastErrorOr(ERROR_ACCESS_DENIED);
    DWORD error = writeTemporary(temporary, write, context);
    if (error == 0) error = swapIn(path, temporary);
    if (error != 0) DeleteFileA(temporary);
    return error;
}
