// Bounded text building in fixed buffers: nothing is ever written past the capacity.
#ifndef PELLUX_TEXT_H
#define PELLUX_TEXT_H

#include <cstddef>

// Appends source to the NUL-terminated text in buffer. Returns false, leaving the buffer
// unchanged, when the result and its NUL would not fit in capacity bytes.
inline bool appendText(char* buffer, std::size_t capacity, const char* source) {
    std::size_t length = 0;
    while (length < capacity && buffer[length]) ++length;
    std::size_t extra = 0;
    while (source[extra]) ++extra;
    if (length >= capacity || extra >= capacity - length) return false;
    for (std::size_t i = 0; i <= extra; ++i) buffer[length + i] = source[i];
    return true;
}

inline void copyText(char* buffer, std::size_t capacity, const char* source) {
    if (capacity == 0) return;
    buffer[0] = '\0';
    if (!appendText(buffer, capacity, source)) buffer[0] = '\0';
}

#endif
