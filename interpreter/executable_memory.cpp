#include "executable_memory.h"

#include <cstring>

#ifdef _WIN32
#include <windows.h>

ExecutableMemory::ExecutableMemory(const unsigned char* bytes, std::size_t size) {
    if (size == 0) return;
    void* pages = VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (!pages) return;
    std::memcpy(pages, bytes, size);
    DWORD previous;
    if (!VirtualProtect(pages, size, PAGE_EXECUTE_READ, &previous) ||
        !FlushInstructionCache(GetCurrentProcess(), pages, size)) {
        VirtualFree(pages, 0, MEM_RELEASE);
        return;
    }
    address_ = pages;
    size_ = size;
}

ExecutableMemory::~ExecutableMemory() {
    if (address_) VirtualFree(address_, 0, MEM_RELEASE);
}

#else
#include <sys/mman.h>

ExecutableMemory::ExecutableMemory(const unsigned char* bytes, std::size_t size) {
    if (size == 0) return;
    void* pages = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (pages == MAP_FAILED) return;
    std::memcpy(pages, bytes, size);
    if (mprotect(pages, size, PROT_READ | PROT_EXEC) != 0) {
        munmap(pages, size);
        return;
    }
    address_ = pages;
    size_ = size;
}

ExecutableMemory::~ExecutableMemory() {
    if (address_) munmap(address_, size_);
}

#endif
