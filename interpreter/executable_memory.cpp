#include "executable_memory.h"

#ifdef _WIN32
#include <windows.h>

void* allocatePages(std::size_t size) {
    return VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
}

void releasePages(void* pages, std::size_t) { VirtualFree(pages, 0, MEM_RELEASE); }

bool makeCodeExecutable(void* pages, std::size_t size) {
    DWORD previous;
    return VirtualProtect(pages, size, PAGE_EXECUTE_READ, &previous) &&
           FlushInstructionCache(GetCurrentProcess(), pages, size);
}

#else
#include <sys/mman.h>

void* allocatePages(std::size_t size) {
    void* pages = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return pages == MAP_FAILED ? nullptr : pages;
}

void releasePages(void* pages, std::size_t size) { munmap(pages, size); }

bool makeCodeExecutable(void* pages, std::size_t size) { return mprotect(pages, size, PROT_READ | PROT_EXEC) == 0; }

#endif
