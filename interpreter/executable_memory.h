// Pages that hold generated machine code: written while writable, then made executable and
// read-only before anything runs them. Released once, never copied.
#ifndef PELLUX_EXECUTABLE_MEMORY_H
#define PELLUX_EXECUTABLE_MEMORY_H

#include <cstddef>

class ExecutableMemory {
public:
    ExecutableMemory() = default;
    ~ExecutableMemory() { release(); }
    ExecutableMemory(const ExecutableMemory&) = delete;
    ExecutableMemory& operator=(const ExecutableMemory&) = delete;

    // Copies `size` bytes into new pages, in place of any held before; false when the system
    // gave no executable pages (nothing is held then).
    bool load(const unsigned char* bytes, std::size_t size);
    void release();
    const unsigned char* address() const { return static_cast<const unsigned char*>(address_); }

private:
    void* address_ = nullptr;
    std::size_t size_ = 0;
};

#endif
