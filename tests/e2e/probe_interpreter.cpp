// Stands in for Pellux.Exe in the tests: notes the command line it got, its own path and its
// current directory in probe.log beside itself, one line each run.
#include <windows.h>

#include <cstdio>
#include <cstring>

int main() {
    const char* line = GetCommandLineA();
    bool quoted = false;
    for (; *line && (quoted || (*line != ' ' && *line != '\t')); ++line)
        if (*line == '"') quoted = !quoted;
    if (*line == ' ') ++line;  // the one separator the launcher puts after the program's name
    char self[MAX_PATH], directory[MAX_PATH], log[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    GetCurrentDirectoryA(MAX_PATH, directory);
    std::strcpy(log, self);
    std::strcpy(std::strrchr(log, '\\') + 1, "probe.log");
    std::FILE* out = std::fopen(log, "ab");
    if (!out) return 1;
    std::fprintf(out, "args=[%s] self=[%s] cwd=[%s]\n", line, self, directory);
    std::fclose(out);
    return 0;
}
