// Writes the longer benchmark programs that bench/peers.sh times, each with its input and the
// output it must give, that output worked out here the plain way (in C++, not by running it):
//   bench_programs [--small] DIR   -> DIR/NAME.b, DIR/NAME.in, DIR/NAME.out for each program
// The programs use the eight standard commands only, so any interpreter runs them alike; none
// reads past its input or moves left of the first cell, and 8-bit wrapping cells suffice.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace {

using Body = std::function<void()>;

// Writes the commands of a program whose cells are named by number. Structured pieces keep the
// pointer's place known; a walk whose length the data decides (a scan) is followed by rebase().
class Builder {
public:
    const std::string& text() const { return code_; }

    void to(int cell) {
        emit(cell > pos_ ? '>' : '<', cell > pos_ ? cell - pos_ : pos_ - cell);
        pos_ = cell;
    }
    void add(int cell, int amount) {
        to(cell);
        int n = ((amount % 256) + 256) % 256;
        if (n <= 128) emit('+', n);
        else emit('-', 256 - n);
    }
    void clear(int cell) {
        to(cell);
        raw("[-]");
    }
    void set(int cell, int value) {
        clear(cell);
        add(cell, value);
    }
    void put(int cell) {
        to(cell);
        raw(".");
    }
    void get(int cell) {
        to(cell);
        raw(",");
    }
    void loop(int cell, const Body& body) {
        to(cell);
        raw("[");
        body();
        to(cell);
        raw("]");
    }
    // Adds `from` times each factor to its cell; `from` ends at zero.
    void moveTo(int from, std::initializer_list<std::pair<int, int>> targets) {
        loop(from, [&] {
            add(from, -1);
            for (const auto& target : targets) add(target.first, target.second);
        });
    }
    void copy(int from, int into, int spare) {
        moveTo(from, {{into, 1}, {spare, 1}});
        moveTo(spare, {{from, 1}});
    }
    // whenSet() if x is not zero, else whenZero(), in a fixed number of steps: x + 1 and x + 2 must
    // hold zero, and be left so by both; whenSet may change x.
    void ifElse(int x, const Body& whenSet, const Body& whenZero) {
        add(x + 1, 1);
        to(x);
        raw("[");
        whenSet();
        to(x + 1);
        raw("-]>");  // set: at x + 2, a zero; zero: at x + 1, the flag still 1
        pos_ = x + 1;
        raw("[-");
        whenZero();
        to(x + 2);
        raw("]");
    }
    // cases[v]() for the value v of x, or otherwise(): each starts and ends at x + 1 and leaves
    // x and x + 1 alone. x + 1 must hold zero; x and x + 1 end at zero.
    void select(int x, const std::vector<Body>& cases, const Body& otherwise) {
        add(x + 1, 1);
        selectFrom(x, cases, otherwise, 0);
    }

    void raw(const char* commands) {
        for (const char* c = commands; *c; ++c) emit(*c, 1);
    }
    // The pointer is at the cell now called `cell` (after a walk, or to count from a new frame).
    void rebase(int cell) { pos_ = cell; }
    int at() const { return pos_; }

private:
    void emit(char command, int count) {
        for (int i = 0; i < count; ++i) {
            code_ += command;
            if (++column_ == 72) {  // lines of a readable length
                code_ += '\n';
                column_ = 0;
            }
        }
    }
    void selectFrom(int x, const std::vector<Body>& cases, const Body& otherwise, std::size_t value) {
        if (value == cases.size()) {
            clear(x);
            loop(x + 1, [&] {
                otherwise();
                add(x + 1, -1);
            });
            return;
        }
        loop(x, [&] {
            add(x, -1);
            selectFrom(x, cases, otherwise, value + 1);
        });
        loop(x + 1, [&] {
            cases[value]();
            add(x + 1, -1);
        });
    }

    std::string code_;
    int pos_ = 0;
    int column_ = 0;
};

const Body nothing = [] {};

// A decimal counter of `digits` cells three apart, each holding ten less its digit (so that a
// carry is a test for zero), its lowest digit at `first`.
struct Counter {
    int first, digits;
    int cell(int i) const { return first + 3 * i; }
    void start(Builder& b, std::uint64_t value) const {
        for (int i = 0; i < digits; ++i, value /= 10) b.set(cell(i), 10 - static_cast<int>(value % 10));
    }
    void increment(Builder& b, int i = 0) const {
        b.add(cell(i), -1);
        if (i + 1 < digits) b.ifElse(cell(i), nothing, [&] {
            b.add(cell(i), 10);
            increment(b, i + 1);
        });
        else b.ifElse(cell(i), nothing, [&] { b.add(cell(i), 10); });
    }
    // Writes it, highest digit first, with `spare` as the character; the counter ends at zero.
    void print(Builder& b, int spare) const {
        for (int i = digits - 1; i >= 0; --i) {
            b.set(spare, '0' + 10);
            b.moveTo(cell(i), {{spare, -1}});
            b.put(spare);
        }
        b.clear(spare);
    }
};

// The program as written would overflow a cell or a counter: its sizes must be changed.
void require(bool holds, const char* what) {
    if (holds) return;
    std::fprintf(stderr, "bench_programs: %s\n", what);
    std::exit(1);
}

std::string printed(std::uint64_t value, int digits) {
    std::string text(static_cast<std::size_t>(digits), '0');
    for (int i = digits - 1; i >= 0; --i, value /= 10) text[static_cast<std::size_t>(i)] = static_cast<char>('0' + value % 10);
    return text;
}

void putText(Builder& b, int cell, const std::string& text) {
    int value = 0;
    for (char c : text) {
        b.add(cell, static_cast<unsigned char>(c) - value);
        value = static_cast<unsigned char>(c);
        b.put(cell);
    }
    b.clear(cell);
}

struct Written {
    std::string program, input, output;
};

// --- Collatz: the steps from every start number up to a limit down to 1, on decimal digits ----

struct CollatzLayout {
    static constexpr int kOuter = 0, kInner = 1, kNotOne = 2, kOdd = 3, kValue = 6, kHalf = 7, kTriple = 10,
                         kLeft = 11, kSpare = 14, kDigits = 9;
    Counter steps{15, 7};
    Counter start{36, kDigits};
    int x(int i) const { return 63 + 3 * i; }
};

void collatzCheckOne(Builder& b, const CollatzLayout& l) {
    b.add(l.x(0), -1);
    b.ifElse(l.x(0), [&] { b.set(CollatzLayout::kNotOne, 1); }, nothing);
    b.add(l.x(0), 1);
    for (int i = 1; i < CollatzLayout::kDigits; ++i) b.ifElse(l.x(i), [&] { b.set(CollatzLayout::kNotOne, 1); }, nothing);
}

void collatzHalve(Builder& b, const CollatzLayout& l) {
    using L = CollatzLayout;
    for (int i = L::kDigits - 1; i >= 0; --i) {
        b.moveTo(l.x(i), {{L::kValue, 1}});
        b.moveTo(L::kHalf, {{L::kValue, 10}});
        b.loop(L::kValue, [&] {
            b.add(L::kValue, -1);
            b.ifElse(L::kHalf, [&] { b.add(L::kHalf, -1); b.add(l.x(i), 1); }, [&] { b.add(L::kHalf, 1); });
        });
    }
    b.clear(L::kHalf);
}

void collatzTriple(Builder& b, const CollatzLayout& l) {
    using L = CollatzLayout;
    b.add(L::kTriple, 1);
    for (int i = 0; i < L::kDigits; ++i) {
        b.moveTo(l.x(i), {{L::kValue, 3}});
        b.moveTo(L::kTriple, {{L::kValue, 1}});
        b.set(L::kLeft, 10);
        b.loop(L::kValue, [&] {
            b.add(L::kValue, -1);
            b.add(L::kLeft, -1);
            b.ifElse(L::kLeft, nothing, [&] { b.add(L::kLeft, 10); b.add(L::kTriple, 1); });
        });
        b.add(l.x(i), 10);
        b.moveTo(L::kLeft, {{l.x(i), -1}});
    }
}

void collatzOne(Builder& b, const CollatzLayout& l) {
    using L = CollatzLayout;
    for (int i = 0; i < L::kDigits; ++i) {
        b.set(l.x(i), 10);
        b.moveTo(l.start.cell(i), {{l.x(i), -1}, {L::kSpare, 1}});
        b.moveTo(L::kSpare, {{l.start.cell(i), 1}});
    }
    collatzCheckOne(b, l);
    b.loop(L::kNotOne, [&] {
        b.clear(L::kNotOne);
        b.copy(l.x(0), L::kValue, L::kSpare);
        b.loop(L::kValue, [&] {
            b.add(L::kValue, -1);
            b.ifElse(L::kOdd, [&] { b.add(L::kOdd, -1); }, [&] { b.add(L::kOdd, 1); });
        });
        b.ifElse(L::kOdd, [&] { b.add(L::kOdd, -1); collatzTriple(b, l); }, [&] { collatzHalve(b, l); });
        l.steps.increment(b);
        collatzCheckOne(b, l);
    });
    l.start.increment(b);
}

std::uint64_t collatzSteps(std::uint64_t n) {
    std::uint64_t steps = 0;
    for (; n != 1; ++steps) {
        n = n % 2 ? 3 * n + 1 : n / 2;
        require(n < 1000000000, "a Collatz value needs more than nine digits");
    }
    return steps;
}

Written collatz(int outer, int inner) {
    using L = CollatzLayout;
    L l;
    Builder b;
    l.steps.start(b, 0);
    l.start.start(b, 1);
    b.set(L::kOuter, outer);
    b.loop(L::kOuter, [&] {
        b.add(L::kOuter, -1);
        b.set(L::kInner, inner);
        b.loop(L::kInner, [&] {
            b.add(L::kInner, -1);
            collatzOne(b, l);
        });
    });
    l.steps.print(b, L::kSpare);
    putText(b, L::kSpare, "\n");
    std::uint64_t total = 0;
    for (std::uint64_t n = 1; n <= std::uint64_t(outer) * std::uint64_t(inner); ++n) total += collatzSteps(n);
    require(total < 10000000, "the Collatz steps need more than seven digits");
    return {b.text(), "", printed(total, l.steps.digits) + "\n"};
}

// --- Deep nesting: loops nested `counts.size()` deep, the innermost adding the counter of the
// loop around it, as so many single steps, to a 24-bit sum -------------------------------------

void nestLevel(Builder& b, const std::vector<int>& counts, std::size_t level) {
    constexpr int kSum = 0, kSpare = 9, kCopy = 10, kFirstCounter = 11;
    int counter = kFirstCounter + static_cast<int>(level);
    b.set(counter, counts[level]);
    b.loop(counter, [&] {
        b.add(counter, -1);
        if (level + 1 < counts.size()) {
            nestLevel(b, counts, level + 1);
            return;
        }
        b.copy(counter, kCopy, kSpare);
        b.loop(kCopy, [&] {
            b.add(kCopy, -1);
            b.add(kSum, 1);
            b.ifElse(kSum, nothing, [&] {
                b.add(kSum + 3, 1);
                b.ifElse(kSum + 3, nothing, [&] { b.add(kSum + 6, 1); });
            });
        });
    });
}

// Writes the byte at `cell` as two letters, a to p, its high half first; `cell` ends at zero.
void putHexLetters(Builder& b, int cell, int work) {
    int high = work, left = work + 1;  // left: a countdown, tested with the two cells after it
    b.set(left, 16);
    b.loop(cell, [&] {
        b.add(cell, -1);
        b.add(left, -1);
        b.ifElse(left, nothing, [&] { b.add(left, 16); b.add(high, 1); });
    });
    b.add(high, 'a');
    b.put(high);
    b.clear(high);
    b.add(high, 'a' + 16);
    b.moveTo(left, {{high, -1}});
    b.put(high);
    b.clear(high);
}

Written nest(const std::vector<int>& counts) {
    require(!counts.empty() && counts.size() <= 19, "the nest's counters would reach its work cells");
    Builder b;
    nestLevel(b, counts, 0);
    for (int cell : {6, 3, 0}) putHexLetters(b, cell, 30);
    putText(b, 30, "\n");
    std::uint64_t runs = 1;
    for (std::size_t i = 0; i + 1 < counts.size(); ++i) runs *= std::uint64_t(counts[i]);
    std::uint64_t last = std::uint64_t(counts.back());
    std::uint32_t sum = static_cast<std::uint32_t>(runs * (last * (last - 1) / 2)) & 0xFFFFFF;
    std::string out;
    for (int shift : {16, 8, 0}) {
        out += static_cast<char>('a' + ((sum >> shift) & 0xFF) / 16);
        out += static_cast<char>('a' + ((sum >> shift) & 0xFF) % 16);
    }
    return {b.text(), "", out + "\n"};
}

// --- A self-interpreter: reads a program up to '!', then runs it on the rest of its input ------
//
// Each instruction is a record of six cells: its code (1 to 8 for + - > < [ ] . ,; 0 ends the
// program), a mark, and four spare cells. Marks are 1 except at the instruction being run; the
// records of the tape follow the program's, the mark 0 at the tape's current cell. So a scan
// over marks from the one finds the other, both ways.
namespace self {

constexpr int kStride = 6, kCode = 0, kMark = 1, kA = 2, kB = 3, kC = 4, kD = 5;
constexpr int kHead = 1000;  // cells of the tape's current record are counted from here
const char* const kWalkRight = ">>>>>>[>>>>>>]";
const char* const kWalkLeft = "<<<<<<[<<<<<<]";

void toHead(Builder& b) {
    b.to(kMark);
    b.raw(kWalkRight);
    b.rebase(kHead + kMark);
}

void backFromHead(Builder& b) {
    b.to(kHead + kMark);
    b.raw(kWalkLeft);
    b.rebase(kMark);
}

// '[' or ']': the jump's flag at the instruction when the cell is zero (`onZero`) or not.
void jumpTest(Builder& b, int flag, bool onZero) {
    toHead(b);
    b.add(kHead + kB, 1);
    b.copy(kHead + kCode, kHead + kC, kHead + kD);
    b.loop(kHead + kC, [&] {
        b.clear(kHead + kC);
        b.add(kHead + kA, 1);
        b.add(kHead + kB, -1);
    });
    // Not zero: A holds 1; zero: B does. Each way clears its cell, walks back and ends on a
    // cell holding zero at the instruction, A's way one cell before B's.
    b.to(kHead + kA);
    b.raw("[-");
    b.to(kHead + kMark);
    b.raw(kWalkLeft);
    b.rebase(kMark);
    if (!onZero) b.add(flag, 1);
    b.to(kMark);
    b.raw("]>");
    b.rebase(kHead + kB);  // (or kA at the instruction, a zero that skips what follows)
    b.raw("[-");
    b.to(kHead + kMark);
    b.raw(kWalkLeft);
    b.rebase(kMark);
    if (onZero) b.add(flag, 1);
    b.to(kA);
    b.raw("]");
    b.to(kB);
}

void onHeadCell(Builder& b, const char* commands) {
    toHead(b);
    b.to(kHead + kCode);
    b.raw(commands);
    backFromHead(b);
    b.to(kB);
}

void moveHead(Builder& b, int by) {
    toHead(b);
    b.add(kHead + kMark, 1);
    b.clear(kHead + by + kMark);
    b.raw(kWalkLeft);
    b.rebase(kMark);
    b.to(kB);
}

// Moves the instruction being run by one record, taking the jump's depth in `depth` along, and
// counts the brackets it meets.
void seek(Builder& b, int depth, int by) {
    b.loop(depth, [&] {
        b.add(kMark, 1);
        b.moveTo(depth, {{by + depth, 1}});
        b.add(by + kMark, -1);
        b.rebase(b.at() - by);
        b.copy(kCode, kA, kB);
        std::vector<Body> cases(7, nothing);
        int deeper = by > 0 ? 1 : -1;  // a '[' is one deeper going forward, a ']' going back
        cases[5] = [&] { b.add(depth, deeper); };
        cases[6] = [&] { b.add(depth, -deeper); };
        b.select(kA, cases, nothing);
    });
}

void loadProgram(Builder& b) {
    struct Symbol {
        int offset, code;  // the character less 33, and its instruction
    };
    const Symbol symbols[] = {{'+' - 33, 1}, {'-' - 33, 2}, {'>' - 33, 3}, {'<' - 33, 4},
                              {'[' - 33, 5}, {']' - 33, 6}, {'.' - 33, 7}, {',' - 33, 8}};
    b.rebase(-kStride);  // record 0 stays blank: the walk back to the first instruction stops there
    b.add(kD, 1);
    b.loop(kD, [&] {
        b.get(kA);
        b.add(kA, -33);
        std::vector<Body> cases(61, nothing);
        cases[0] = [&] { b.clear(kD); };  // '!'
        for (const Symbol& s : symbols) cases[static_cast<std::size_t>(s.offset)] = [&b, s] {
            b.add(kCode, s.code);
            b.add(kMark, 1);
        };
        b.select(kA, cases, nothing);
        // A record that got an instruction hands the flag on to the next one and the pointer with it.
        b.to(kCode);
        b.raw("[>>>>>[->>>>>>+<<<<<<]>]");
        b.rebase(kCode);
    });
    b.add(kMark, 1);  // the record after the last instruction: code 0 ends the run
    b.raw(kWalkLeft);
    b.rebase(kMark - kStride);
    b.add(kMark, -1);
}

std::string interpreter() {
    Builder b;
    loadProgram(b);
    b.loop(kCode, [&] {
        b.copy(kCode, kA, kB);
        std::vector<Body> cases = {
            nothing,
            [&] { onHeadCell(b, "+"); },
            [&] { onHeadCell(b, "-"); },
            [&] { moveHead(b, kStride); },
            [&] { moveHead(b, -kStride); },
            [&] { jumpTest(b, kC, true); },
            [&] { jumpTest(b, kD, false); },
            [&] { onHeadCell(b, "."); },
            [&] { onHeadCell(b, ","); },
        };
        b.select(kA, cases, nothing);
        seek(b, kC, kStride);
        seek(b, kD, -kStride);
        b.add(kMark, 1);
        b.add(kStride + kMark, -1);
        b.rebase(b.at() - kStride);
    });
    return b.text();
}

} // namespace self

// Programs for the self-interpreter to run. Nested loops around a decimal counter, short code:
std::pair<std::string, std::string> countingProgram(int a, int bCount, int c) {
    require(a > 0 && a < 256 && bCount > 0 && bCount < 256 && c > 0 && c < 256 && a * bCount * c < 100000,
            "the counting program's sizes do not fit its cells");
    Builder b;
    Counter count{6, 5};
    count.start(b, 0);
    b.set(0, a);
    b.loop(0, [&] {
        b.add(0, -1);
        b.set(1, bCount);
        b.loop(1, [&] {
            b.add(1, -1);
            b.set(2, c);
            b.loop(2, [&] {
                b.add(2, -1);
                count.increment(b);
            });
        });
    });
    count.print(b, 3);
    putText(b, 3, "\n");
    return {b.text(), printed(std::uint64_t(a) * std::uint64_t(bCount) * std::uint64_t(c), 5) + "\n"};
}

// The primes below a limit by trial division, longer code.
std::pair<std::string, std::string> primesProgram(int limit) {
    require(limit > 2 && limit <= 256, "the primes' limit does not fit a cell");
    constexpr int kN = 0, kLoop = 1, kDivisor = 2, kPrime = 3, kRest = 4, kLeft = 6, kZero = 9, kSpare = 12,
                  kTurns = 13, kDigit = 14;
    Builder b;
    b.set(kN, 2);
    b.set(kLoop, limit - 2);
    b.loop(kLoop, [&] {
        b.add(kLoop, -1);
        b.set(kPrime, 1);
        // divisors n - 1 down to 2: a zero remainder clears kPrime
        b.copy(kN, kTurns, kSpare);
        b.add(kTurns, -2);
        b.copy(kN, kDivisor, kSpare);
        b.loop(kTurns, [&] {
            b.add(kTurns, -1);
            b.add(kDivisor, -1);
            b.copy(kN, kRest, kSpare);
            b.copy(kDivisor, kLeft, kSpare);
            b.loop(kRest, [&] {
                b.add(kRest, -1);
                b.clear(kZero);
                b.add(kLeft, -1);
                b.ifElse(kLeft, nothing, [&] {
                    b.copy(kDivisor, kLeft, kSpare);
                    b.add(kZero, 1);
                });
            });
            b.clear(kLeft);
            b.loop(kZero, [&] {
                b.add(kZero, -1);
                b.clear(kPrime);
            });
        });
        b.clear(kDivisor);
        b.loop(kPrime, [&] {
            b.add(kPrime, -1);
            // n as three digits: hundreds, tens, ones by counting
            Counter digits{kDigit, 3};
            digits.start(b, 0);
            b.copy(kN, kSpare, kTurns);
            b.loop(kSpare, [&] {
                b.add(kSpare, -1);
                digits.increment(b);
            });
            digits.print(b, kSpare);
            putText(b, kSpare, " ");
        });
        b.add(kN, 1);
    });
    putText(b, kSpare, "\n");
    std::string out;
    for (int n = 2; n < limit; ++n) {
        bool prime = true;
        for (int d = 2; d < n; ++d) prime = prime && n % d != 0;
        if (prime) out += printed(std::uint64_t(n), 3) + " ";
    }
    return {b.text(), out + "\n"};
}

Written selfInterpreting(const std::pair<std::string, std::string>& program) {
    return {self::interpreter(), program.first + "\n!", program.second};
}

// --- A small Mandelbrot set on fixed-point numbers of sign and magnitude -----------------------
//
// Each number has a sign cell and a magnitude cell, each followed by the two cells an ifElse
// needs. A pixel's character is a space plus the turns it took to leave the circle of radius 2.
namespace mandel {

struct Number {
    int sign;  // 1: negative
    int size() const { return sign + 3; }
};

constexpr int kTemp = 0;  // twelve scratch cells, three apart: each with the two an ifElse needs
int temp(int i) { return kTemp + 3 * i; }
constexpr Number kZr{40}, kZi{46}, kCr{52}, kCi{58}, kA{64}, kB{70}, kT{76};
constexpr int kGo = 82, kTurnsLeft = 85, kChar = 88, kColumns = 91, kRows = 92, kColumn = 93, kRow = 94;

void clearNumber(Builder& b, Number n) {
    b.clear(n.sign);
    b.clear(n.size());
}

// target = a copy of source
void copyNumber(Builder& b, Number source, Number target) {
    clearNumber(b, target);
    b.copy(source.sign, target.sign, temp(0));
    b.copy(source.size(), target.size(), temp(0));
}

void flip(Builder& b, int flag) {
    b.ifElse(flag, [&] { b.add(flag, -1); }, [&] { b.add(flag, 1); });
}

// target = (|x| * |y|) >> shift, its sign that of the product; x, y kept.
void multiply(Builder& b, Number x, Number y, Number target, int shift) {
    clearNumber(b, target);
    b.copy(x.sign, target.sign, temp(0));
    b.copy(y.sign, temp(1), temp(0));
    b.loop(temp(1), [&] {
        b.add(temp(1), -1);
        flip(b, target.sign);
    });
    int left = temp(2), outer = temp(3), inner = temp(4);
    b.set(left, 1 << shift);
    b.copy(x.size(), outer, temp(0));
    b.loop(outer, [&] {
        b.add(outer, -1);
        b.copy(y.size(), inner, temp(0));
        b.loop(inner, [&] {
            b.add(inner, -1);
            b.add(left, -1);
            b.ifElse(left, nothing, [&] { b.add(left, 1 << shift); b.add(target.size(), 1); });
        });
    });
    b.clear(left);
}

// a += b; b ends at zero.
void addInto(Builder& b, Number a, Number bNumber) {
    int differ = temp(5), both = temp(6);
    b.copy(a.sign, differ, temp(0));
    b.copy(bNumber.sign, temp(1), temp(0));
    b.loop(temp(1), [&] {
        b.add(temp(1), -1);
        flip(b, differ);
    });
    b.ifElse(differ, [&] {
        b.clear(differ);
        // take the smaller magnitude from both; what is left has its number's sign
        auto test = [&] {
            b.ifElse(a.size(), [&] { b.ifElse(bNumber.size(), [&] { b.set(both, 1); }, nothing); }, nothing);
        };
        test();
        b.loop(both, [&] {
            b.clear(both);
            b.add(a.size(), -1);
            b.add(bNumber.size(), -1);
            test();
        });
        b.ifElse(a.size(), nothing, [&] {
            b.clear(a.sign);
            b.moveTo(bNumber.sign, {{a.sign, 1}});
            b.moveTo(bNumber.size(), {{a.size(), 1}});
        });
    }, nothing);
    b.moveTo(bNumber.size(), {{a.size(), 1}});
    b.clear(bNumber.sign);
}

// Sets `flag` when the magnitude at `cell` is more than `limit`; the magnitude is kept.
void flagAbove(Builder& b, int cell, int limit, int flag) {
    int rest = temp(7), count = temp(8);
    b.copy(cell, rest, temp(0));
    b.set(count, limit);
    b.loop(count, [&] {
        b.add(count, -1);
        b.ifElse(rest, [&] { b.add(rest, -1); }, nothing);
    });
    b.ifElse(rest, [&] { b.clear(rest); b.set(flag, 1); }, nothing);
}

// One turn of z = z * z + c, or the end of the pixel's turns when z has left the circle.
void turn(Builder& b, int shift) {
    int escaped = temp(9), sum = temp(10);
    int two = 2 << shift, four = 4 << shift;
    flagAbove(b, kZr.size(), two, escaped);
    flagAbove(b, kZi.size(), two, escaped);
    b.ifElse(escaped, nothing, [&] {
        multiply(b, kZr, kZr, kA, shift);
        multiply(b, kZi, kZi, kB, shift);
        // a + b over four, counted as b over what four leaves of a
        b.set(sum, four);
        b.copy(kA.size(), temp(11), temp(0));
        b.moveTo(temp(11), {{sum, -1}});
        b.copy(kB.size(), temp(11), temp(0));
        int rest = temp(11);
        b.loop(sum, [&] {
            b.add(sum, -1);
            b.ifElse(rest, [&] { b.add(rest, -1); }, nothing);
        });
        b.ifElse(rest, [&] { b.clear(rest); b.set(escaped, 1); }, nothing);
    });
    b.ifElse(escaped, [&] {
        b.clear(escaped);
        b.clear(kGo);
        clearNumber(b, kA);
        clearNumber(b, kB);
    }, [&] {
        multiply(b, kZr, kZi, kT, shift - 1);
        b.set(kB.sign, 1);  // a - b: b made negative, then added
        b.ifElse(kB.size(), nothing, [&] { b.clear(kB.sign); });
        addInto(b, kA, kB);
        copyNumber(b, kCr, kB);
        addInto(b, kA, kB);
        copyNumber(b, kCi, kB);
        addInto(b, kT, kB);
        clearNumber(b, kZr);
        b.moveTo(kA.sign, {{kZr.sign, 1}});
        b.moveTo(kA.size(), {{kZr.size(), 1}});
        clearNumber(b, kZi);
        b.moveTo(kT.sign, {{kZi.sign, 1}});
        b.moveTo(kT.size(), {{kZi.size(), 1}});
        b.add(kChar, 1);
        b.add(kTurnsLeft, -1);
        b.ifElse(kTurnsLeft, nothing, [&] { b.clear(kGo); });
    });
}

// number = from * step - offset (from >= 0 kept)
void coordinate(Builder& b, int from, int step, int offset, Number number) {
    clearNumber(b, number);
    b.set(number.sign, 1);
    b.set(number.size(), offset);
    clearNumber(b, kB);
    b.copy(from, temp(1), temp(0));
    b.moveTo(temp(1), {{kB.size(), step}});
    addInto(b, number, kB);
}

struct Frame {
    int columns, rows, shift, turns, left, top, rowStep;  // left, top: the corner times the scale
};

Written program(const Frame& f) {
    Builder b;
    b.set(kRows, f.rows);
    b.loop(kRows, [&] {
        b.add(kRows, -1);
        coordinate(b, kRow, f.rowStep, f.top, kCi);
        b.set(kColumns, f.columns);
        b.clear(kColumn);
        b.loop(kColumns, [&] {
            b.add(kColumns, -1);
            coordinate(b, kColumn, 1, f.left, kCr);
            clearNumber(b, kZr);
            clearNumber(b, kZi);
            b.set(kChar, ' ');
            b.set(kTurnsLeft, f.turns);
            b.set(kGo, 1);
            b.loop(kGo, [&] { turn(b, f.shift); });
            b.put(kChar);
            b.clear(kChar);
            clearNumber(b, kZr);
            clearNumber(b, kZi);
            b.clear(kTurnsLeft);
            b.add(kColumn, 1);
        });
        putText(b, kChar, "\n");
        b.add(kRow, 1);
    });
    return {b.text(), "", ""};
}

// The same arithmetic on integers.
std::string expected(const Frame& f) {
    auto product = [](int x, int y, int shift) {
        int magnitude = ((x < 0 ? -x : x) * (y < 0 ? -y : y)) >> shift;
        return (x < 0) != (y < 0) ? -magnitude : magnitude;
    };
    std::string out;
    for (int row = 0; row < f.rows; ++row) {
        for (int column = 0; column < f.columns; ++column) {
            int cr = column - f.left, ci = row * f.rowStep - f.top, zr = 0, zi = 0, turns = 0;
            int two = 2 << f.shift, four = 4 << f.shift;
            while (turns < f.turns) {
                if (zr > two || zr < -two || zi > two || zi < -two) break;
                int a = product(zr, zr, f.shift), bb = product(zi, zi, f.shift);
                if (a + bb > four) break;
                int t = product(zr, zi, f.shift - 1);
                zr = a - bb + cr;
                zi = t + ci;
                require(zr >= -255 && zr <= 255 && zi >= -255 && zi <= 255 && a <= 255 && bb <= 255 && t >= -255 && t <= 255,
                        "a Mandelbrot magnitude does not fit a cell");
                ++turns;
            }
            require(' ' + f.turns <= 255, "too many turns for a character");
            out += static_cast<char>(' ' + turns);
        }
        out += '\n';
    }
    return out;
}

} // namespace mandel

Written mandelbrot(const mandel::Frame& frame) {
    Written w = mandel::program(frame);
    w.output = mandel::expected(frame);
    return w;
}

// --- Towers of Hanoi, recursive, on a stack of frames: every move written out ------------------
//
// A frame holds the call's state (1: about to move the smaller tower away, 2: to move its disk,
// 3: done), its disk count and its three pegs; the frame below the first stays blank, so the
// run ends when the last frame is taken off.
namespace towers {

constexpr int kFrame = 12, kState = 0, kDisks = 1, kFrom = 4, kTo = 5, kVia = 6, kSelect = 7, kPush = 9, kPop = 10;

// The next frame: a call for one disk fewer from `from` to `to` by way of `via` (this frame's cells).
void call(Builder& b, int from, int to, int via) {
    b.set(kFrame + kState, 1);
    b.copy(kDisks, kFrame + kDisks, kFrame + kSelect);
    b.add(kFrame + kDisks, -1);
    b.copy(from, kFrame + kFrom, kFrame + kSelect);
    b.copy(to, kFrame + kTo, kFrame + kSelect);
    b.copy(via, kFrame + kVia, kFrame + kSelect);
    b.add(kPush, 1);
}

// A move as one letter: a to i for the pegs from and to, as 3 * from + to.
void printMove(Builder& b) {
    int letter = kFrame, spare = kFrame + 1;
    b.set(letter, 'a');
    b.copy(kFrom, spare, kFrame + 2);
    b.moveTo(spare, {{letter, 3}});
    b.copy(kTo, letter, spare);
    b.put(letter);
    b.clear(letter);
}

Written program(int disks) {
    Builder b;
    b.rebase(-kFrame);
    b.set(kState, 1);
    b.set(kDisks, disks);
    b.set(kTo, 2);
    b.set(kVia, 1);
    b.loop(kState, [&] {
        b.copy(kState, kSelect, kSelect + 1);
        std::vector<Body> cases(4, nothing);
        cases[1] = [&] {
            b.ifElse(kDisks, [&] { call(b, kFrom, kVia, kTo); b.add(kState, 1); }, [&] { b.add(kPop, 1); });
        };
        cases[2] = [&] {
            printMove(b);
            call(b, kVia, kTo, kFrom);
            b.add(kState, 1);
        };
        cases[3] = [&] { b.add(kPop, 1); };
        b.select(kSelect, cases, nothing);
        b.to(kPush);
        b.raw("[-");
        b.to(kFrame + kPush);
        b.raw("]");
        b.rebase(kPush);
        b.to(kPop);
        b.raw("[-");
        for (int cell : {kState, kDisks, kFrom, kTo, kVia}) b.clear(cell);
        b.to(kPop - kFrame);
        b.raw("]");
        b.rebase(kPop);
    });
    putText(b, kState, "\n");
    return {b.text(), "", ""};
}

void moves(int disks, int from, int to, int via, std::string& out) {
    if (disks == 0) return;
    moves(disks - 1, from, via, to, out);
    out += static_cast<char>('a' + 3 * from + to);
    moves(disks - 1, via, to, from, out);
}

} // namespace towers

Written towersOfHanoi(int disks) {
    Written w = towers::program(disks);
    towers::moves(disks, 0, 2, 1, w.output);
    w.output += "\n";
    return w;
}

bool writeFile(const std::string& path, const std::string& text) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        std::perror(path.c_str());
        return false;
    }
    bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    ok = std::fclose(f) == 0 && ok;
    if (!ok) std::perror(path.c_str());
    return ok;
}

struct Named {
    const char* name;
    Written written;
};

// Sized to run for about half a second each in pellux; with `small`, for a few milliseconds,
// for the test that checks their outputs.
std::vector<Named> programs(bool small) {
    if (small)
        return {
            {"collatz", collatz(5, 20)},
            {"nest", nest({2, 3, 4, 5})},
            {"towers", towersOfHanoi(6)},
            {"selfcount", selfInterpreting(countingProgram(2, 3, 4))},
            {"selfprimes", selfInterpreting(primesProgram(12))},
            {"mandelsmall", mandelbrot({24, 9, 4, 20, 16, 20, 5})},
        };
    return {
        {"collatz", collatz(200, 100)},
        {"nest", nest({3, 4, 5, 6, 7, 8, 9, 10, 12})},
        {"towers", towersOfHanoi(23)},
        {"selfcount", selfInterpreting(countingProgram(10, 20, 120))},
        {"selfprimes", selfInterpreting(primesProgram(24))},
        {"mandelsmall", mandelbrot({80, 41, 5, 94, 64, 40, 2})},
    };
}

} // namespace

int main(int argc, char** argv) {
    bool small = argc == 3 && std::string(argv[1]) == "--small";
    if (argc != 2 && !small) {
        std::fprintf(stderr, "usage: bench_programs [--small] DIR\n");
        return 2;
    }
    std::string dir = argv[argc - 1];
    for (const Named& p : programs(small)) {
        std::string base = dir + "/" + p.name;
        if (!writeFile(base + ".b", p.written.program + "\n") || !writeFile(base + ".in", p.written.input) ||
            !writeFile(base + ".out", p.written.output))
            return 1;
    }
    return 0;
}
