// The extended syntax, byte by byte: the one table that says what each byte of a program is. The
// editor's check (F6), the interpreter's checker (/c), its compiler, its walker and its debugger
// all read it, so they cannot disagree. Free of any platform header.
#ifndef PELLUX_SYNTAX_H
#define PELLUX_SYNTAX_H

namespace syntax {

enum class Kind : unsigned char {
    Invalid,     // not part of the extended syntax
    Quiet,       // accepted and does nothing: space, '@', '&', '*', '$'
    LineEnd,     // CR, LF or NUL: accepted, does nothing, and ends a comment or string line
    Increment,   // +
    Decrement,   // -
    Right,       // >
    Left,        // <
    Output,      // .
    Input,       // ,
    Open,        // [
    Close,       // ]
    StringLine,  // %: the rest of the line is written out
    Comment,     // #: the rest of the line is skipped
};

struct Table {
    Kind of[256] = {};
    constexpr Table() {
        const char quiet[] = " @&*$";
        for (const char* c = quiet; *c; ++c) set(*c, Kind::Quiet);
        set('\r', Kind::LineEnd);
        set('\n', Kind::LineEnd);
        set('\0', Kind::LineEnd);
        set('+', Kind::Increment);
        set('-', Kind::Decrement);
        set('>', Kind::Right);
        set('<', Kind::Left);
        set('.', Kind::Output);
        set(',', Kind::Input);
        set('[', Kind::Open);
        set(']', Kind::Close);
        set('%', Kind::StringLine);
        set('#', Kind::Comment);
    }

private:
    constexpr void set(char c, Kind kind) { of[static_cast<unsigned char>(c)] = kind; }
};

constexpr Table kTable;

constexpr Kind kindOf(unsigned char c) { return kTable.of[c]; }

constexpr bool endsLine(unsigned char c) { return kindOf(c) == Kind::LineEnd; }

// '#' and '%' take the rest of their line with them.
constexpr bool startsLineRun(unsigned char c) { return kindOf(c) == Kind::Comment || kindOf(c) == Kind::StringLine; }

// A byte that does something when the program runs: one of the eight commands, or a string line.
constexpr bool isCommand(unsigned char c) {
    return kindOf(c) >= Kind::Increment && kindOf(c) <= Kind::StringLine;
}

constexpr bool isAccepted(unsigned char c) { return kindOf(c) != Kind::Invalid; }

} // namespace syntax

#endif
