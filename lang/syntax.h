// The extended syntax, byte by byte: the one table that says what each byte of a program is. The
// editor's check (F6), the interpreter's checker (/c), its compiler, its walker and its debugger
// all read it, so they cannot disagree; the interpreter's /classic reading is the same table with
// everything but the eight commands made a comment. Free of any platform header.
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

// The two readings of a program: the extended syntax, and the classic language, where every byte
// but the eight commands is a comment and no line is special.
enum class Reading : unsigned char { Extended, Classic };

class Table {
public:
    constexpr explicit Table(Reading reading) {
        const char commands[] = "+-><.,[]";
        const Kind kinds[] = {Kind::Increment, Kind::Decrement, Kind::Right, Kind::Left,
                              Kind::Output,    Kind::Input,     Kind::Open,  Kind::Close};
        if (reading == Reading::Classic)
            for (Kind& kind : of_) kind = Kind::Quiet;
        set('\r', Kind::LineEnd);
        set('\n', Kind::LineEnd);
        set('\0', Kind::LineEnd);
        for (int i = 0; i < 8; ++i) set(commands[i], kinds[i]);
        if (reading == Reading::Classic) return;
        const char quiet[] = " @&*$";
        for (const char* c = quiet; *c; ++c) set(*c, Kind::Quiet);
        set('%', Kind::StringLine);
        set('#', Kind::Comment);
    }

    constexpr Kind kind(unsigned char c) const { return of_[c]; }
    constexpr bool endsLine(unsigned char c) const { return kind(c) == Kind::LineEnd; }
    // '#' and '%' take the rest of their line with them.
    constexpr bool startsLineRun(unsigned char c) const {
        return kind(c) == Kind::Comment || kind(c) == Kind::StringLine;
    }
    // A byte that does something when the program runs: one of the eight commands, or a string line.
    constexpr bool isCommand(unsigned char c) const {
        return kind(c) >= Kind::Increment && kind(c) <= Kind::StringLine;
    }
    constexpr bool isAccepted(unsigned char c) const { return kind(c) != Kind::Invalid; }

private:
    constexpr void set(char c, Kind kind) { of_[static_cast<unsigned char>(c)] = kind; }

    Kind of_[256] = {};
};

constexpr Table kExtended(Reading::Extended);
constexpr Table kClassic(Reading::Classic);

constexpr const Table& tableOf(Reading reading) { return reading == Reading::Classic ? kClassic : kExtended; }

// The extended syntax, which the editor knows.
constexpr Kind kindOf(unsigned char c) { return kExtended.kind(c); }
constexpr bool endsLine(unsigned char c) { return kExtended.endsLine(c); }
constexpr bool startsLineRun(unsigned char c) { return kExtended.startsLineRun(c); }
constexpr bool isCommand(unsigned char c) { return kExtended.isCommand(c); }
constexpr bool isAccepted(unsigned char c) { return kExtended.isAccepted(c); }

} // namespace syntax

#endif
