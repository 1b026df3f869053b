// The system's reason for a read or write that has just failed, for pellux's one-line messages.
#ifndef PELLUX_INTERPRETER_IO_ERROR_H
#define PELLUX_INTERPRETER_IO_ERROR_H

#ifdef _WIN32
#include <windows.h>

#include <cstdio>
#else
#include <cerrno>
#include <cstring>
#endif

namespace pellux {

// Kept at once, before another call can change it. On Windows the system's own code is described:
// the C library calls a closed pipe an invalid argument.
class IoError {
public:
#ifdef _WIN32
    void keep() {
        DWORD error = GetLastError();
        DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                                      reason_, sizeof reason_, nullptr);
        while (length > 0 && (reason_[length - 1] == '\r' || reason_[length - 1] == '\n' || reason_[length - 1] == '.'))
            reason_[--length] = 0;
        if (length == 0) std::snprintf(reason_, sizeof reason_, "error %lu", error);
    }
    const char* reason() const { return reason_; }

private:
    char reason_[256] = "";
#else
    void keep() { error_ = errno; }
    const char* reason() const { return std::strerror(error_); }

private:
    int error_ = 0;
#endif
};

} // namespace pellux

#endif
