// Saving a file so that a failed or interrupted save never leaves it half written: the text goes
// to a temporary file beside it, which takes the file's place in one step once it is complete.
#ifndef PELLUX_SAFE_SAVE_H
#define PELLUX_SAFE_SAVE_H

#include "win.h"

// The swap, reached through a table so that the in-process tests can watch it.
struct PlatformFiles {
    BOOL (WINAPI* replaceFile)(LPCSTR replaced, LPCSTR replacement, LPCSTR backup, DWORD flags, LPVOID, LPVOID);
    BOOL (WINAPI* moveFileEx)(LPCSTR from, LPCSTR to, DWORD flags);
};

extern PlatformFiles platformFiles;

// Writes the whole file into the open handle; false on any failure.
using WriteContent = bool (*)(HANDLE file, void* context);

enum class SaveTarget { MustExist, MayBeNew };

// Returns 0 when a save to path may go ahead, or why not: a file the user may not write
// (read-only, locked by another program, or vanished when it must exist).
DWORD checkSaveTarget(const char* path, SaveTarget target);

// Saves to path through a temporary file; returns 0, or the error that stopped it. On failure
// the file at path is as it was and no temporary file is left behind.
DWORD saveSafely(const char* path, WriteContent write, void* context);

#endif
