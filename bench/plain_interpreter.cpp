// The floor: a plain switch over the eight commands with a precomputed jump table.
//   plain_interpreter PROGRAM.b < input
#include <cstdio>
#include <string>
#include <vector>
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

int main(int argc, char** argv) {
    if (argc != 2) { std::fprintf(stderr, "usage: plain_interpreter PROGRAM.b\n"); return 2; }
#ifdef _WIN32
    _setmode(_fileno(stdin), _O_BINARY);  // the program's bytes, not text
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    std::FILE* in = std::fopen(argv[1], "rb");
    if (!in) { std::perror(argv[1]); return 2; }
    std::string code;
    for (int c; (c = std::fgetc(in)) != EOF;)
        if (std::string("+-<>.,[]").find(static_cast<char>(c)) != std::string::npos) code += static_cast<char>(c);
    std::fclose(in);
    std::vector<std::size_t> jump(code.size()), open;
    for (std::size_t i = 0; i < code.size(); ++i) {
        if (code[i] == '[') open.push_back(i);
        if (code[i] == ']') { jump[i] = open.back(); jump[open.back()] = i; open.pop_back(); }
    }
    std::vector<unsigned char> tape(1 << 20, 0);
    std::size_t p = 4096;
    for (std::size_t i = 0; i < code.size(); ++i) {
        switch (code[i]) {
        case '+': ++tape[p]; break;
        case '-': --tape[p]; break;
        case '>': ++p; break;
        case '<': --p; break;
        case '.': std::putchar(tape[p]); break;
        case ',': { int c = std::getchar(); if (c != EOF) tape[p] = static_cast<unsigned char>(c); break; }
        case '[': if (!tape[p]) i = jump[i]; break;
        case ']': if (tape[p]) i = jump[i]; break;
        }
    }
    return 0;
}
