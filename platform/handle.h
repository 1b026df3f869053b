// An owned file handle: closed exactly once, never copied.
#ifndef PELLUX_HANDLE_H
#define PELLUX_HANDLE_H

#include "win.h"

class FileHandle {
public:
    explicit FileHandle(HANDLE handle) : handle_(handle) {}
    ~FileHandle() { close(); }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;

    bool valid() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
    HANDLE get() const { return handle_; }

    // Closes now and tells whether the platform accepted it (a delayed write can fail here).
    bool close() {
        if (!valid()) return true;
        BOOL closed = CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
        return closed != FALSE;
    }

private:
    HANDLE handle_;
};

#endif
