#include "executable_memory.h"

#include <cstring>

#ifdef _WIN32
#include <windows.h>

bool ExecutableMemory::load(const unsigned char* bytes, std::size_t size) {
    release();
    if (size == 0) return false;
    void* pages = VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (!pages) return false;
    std::memcpy(pages, bytes, size);
    DWORD previous;
    if (!VirtualProtect(pages, size, PAGE_EXECUTE_READ, &previous) ||
        !FlushInstructionCache(GetCurrentProcess(), pages, size)) {
        VirtualFree(pages, 0, MEM_RELEASE);
        return false;
    }
    address_ = pages;
    size_ = size;
    return true;
}

void ExecutableMemory::release() {
    if (address_) VirtualFree(address_, 0, MEM_RELEASE);
    address_ = nullptr;
    size_ = 0;
}

#else
#include <sys/mman.h>

bool ExecutableMemory::load(const unsigned char* bytes, std::size_t size) {
    release();
    if (size == 0) return false;
    void* pages = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (pages == MAP_FAILED) return false;
    std::memcpy(pages, bytes, size);
    if (mprotect(pages, size, PROT_READ | PROT_EXEC) != 0) {
        munmap(pages, size);
        return false;
    }
    address_ = pages;
    size_ = size;
    return true;
}

void ExecutableMemory::release() {
    if (address_) munmap(address_, size_);
    address_ = nullptr;
    size_ = 0;
}

#endif
