// Translates a program of the eight commands to C, runs of +-<> folded, for gcc -O2: the
// practical limit an interpreter is measured against. Cells are of 8 bits, or of as many as
// /cells says, as pellux's option.   bf2c [/cells 8|16|32] PROGRAM.b > program.c
#include <cstdio>
#include <cstring>
#include <string>

int main(int argc, char** argv) {
    const char* cell = "unsigned char";
    if (argc == 4 && std::strcmp(argv[1], "/cells") == 0) {
        std::string bits = argv[2];
        cell = bits == "16" ? "unsigned short" : bits == "32" ? "unsigned int" : bits == "8" ? cell : nullptr;
        argv += 2;
        argc -= 2;
    }
    if (argc != 2 || !cell) { std::fprintf(stderr, "usage: bf2c [/cells 8|16|32] PROGRAM.b\n"); return 2; }
    std::FILE* in = std::fopen(argv[1], "rb");
    if (!in) { std::perror(argv[1]); return 2; }
    std::string source;
    for (int c; (c = std::fgetc(in)) != EOF;)
        if (std::string("+-<>.,[]").find(static_cast<char>(c)) != std::string::npos) source += static_cast<char>(c);
    std::fclose(in);
    // Windows streams are text by default: the program's bytes must go out as they are.
    std::printf("#include <stdio.h>\n#ifdef _WIN32\n#include <fcntl.h>\n#include <io.h>\n#endif\n"
                "static %s t[1 << 20];\nint main(void) {\n"
                "%s *p = t + 4096; int c;\n", cell, cell);
    std::printf("#ifdef _WIN32\n_setmode(_fileno(stdin), _O_BINARY); _setmode(_fileno(stdout), _O_BINARY);\n#endif\n");
    for (std::size_t i = 0; i < source.size();) {
        char op = source[i];
        std::size_t run = 1;
        if (op == '+' || op == '-' || op == '<' || op == '>')
            while (i + run < source.size() && source[i + run] == op) ++run;
        switch (op) {
        case '+': std::printf("*p += %zu;\n", run); break;
        case '-': std::printf("*p -= %zu;\n", run); break;
        case '>': std::printf("p += %zu;\n", run); break;
        case '<': std::printf("p -= %zu;\n", run); break;
        case '.': std::printf("putchar(*p);\n"); break;
        case ',': std::printf("if ((c = getchar()) != EOF) *p = (unsigned char)c;\n"); break;  // a byte
        case '[': std::printf("while (*p) {\n"); break;
        case ']': std::printf("}\n"); break;
        }
        i += run;
    }
    std::printf("return 0;\n}\n");
    return 0;
}
