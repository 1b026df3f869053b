// The character check of the extended syntax, free of any platform header.
// Text arrives in pieces; the state carries an open comment or string-line run from one piece
// to the next, so a text of any length can be checked through a fixed buffer.
#ifndef PELLUX_SYNTAX_SCAN_H
#define PELLUX_SYNTAX_SCAN_H

#include <cstddef>

struct SyntaxScanState {
    bool inRun = false;  // inside a '#' comment or a '%' string line, until CR, LF or NUL
};

// Returns the offset of the first invalid byte in data[0, length), or length when there is none.
std::size_t scanSyntax(SyntaxScanState& state, const unsigned char* data, std::size_t length);

// Builds the error message from a format holding one "%c": at most capacity - 1 bytes and a NUL.
void formatInvalidCharacter(char* out, std::size_t capacity, const char* format, char invalid);

#endif
