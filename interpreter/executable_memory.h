// Pages that hold generated machine code: written while writable, then made executable and
// read-only before anything runs them. Released once, never copied.
#ifndef PELLUX_EXECUTABLE_MEMORY_H
#define PELLUX_EXECUTABLE_MEMORY_H

#include <cstddef>

class ExecutableMemory {
public:
    // Copies `size` bytes in; valid() tells whether the system gave executable pages.
    ExecutableMemory(const unsigned char* bytes, std::size_t size);
    ~ExecutableMemory();
    ExecutableMemory(const ExecutableMemory&) = delete;
    ExecutableMemory& operator=(const ExecutableMemory&) = delete;

    bool valid() const { return address_ != nullptr; }
    const unsigned char* address() const { return static_cast<const unsigned char*>(address_); }

private:
    void* address_ = nullptr;
    std::size_t size_ = 0;
};

#endif
