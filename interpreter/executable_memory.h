// Pages straight from the system, which hold zeros until written: the machine's tape, and the
// generated machine code, which the translator writes straight into writable pages (CodeBytes
// allocates them) that are made executable and read-only before anything runs them, so that
// loading the code copies nothing.
#ifndef PELLUX_EXECUTABLE_MEMORY_H
#define PELLUX_EXECUTABLE_MEMORY_H

#include <cstddef>
#include <new>
#include <type_traits>
#include <utility>

// Writable pages for `size` bytes, zeroed, or null when the system gives none.
void* allocatePages(std::size_t size);
void releasePages(void* pages, std::size_t size);
// The first `size` bytes of pages from allocatePages become executable and read-only; false
// when the system refuses (the pages stay writable then).
bool makeCodeExecutable(void* pages, std::size_t size);

// The allocator of such pages, whose resize leaves the elements it adds unset: zero where nothing
// was written yet, so a container that only grows gets zeros without touching the pages, which
// the system then provides only where they are used.
template <typename T>
struct FreshPages {
    using value_type = T;
    FreshPages() = default;
    template <typename U>
    FreshPages(const FreshPages<U>&) noexcept {}
    T* allocate(std::size_t count) {
        void* pages = allocatePages(count * sizeof(T));
        if (!pages) throw std::bad_alloc();
        return static_cast<T*>(pages);
    }
    void deallocate(T* at, std::size_t count) noexcept { releasePages(at, count * sizeof(T)); }
    template <typename U>
    void construct(U* at) noexcept(std::is_nothrow_default_constructible<U>::value) {
        ::new (static_cast<void*>(at)) U;
    }
    template <typename U, typename... Args>
    void construct(U* at, Args&&... args) {
        ::new (static_cast<void*>(at)) U(std::forward<Args>(args)...);
    }
};
template <typename T, typename U>
bool operator==(const FreshPages<T>&, const FreshPages<U>&) { return true; }
template <typename T, typename U>
bool operator!=(const FreshPages<T>&, const FreshPages<U>&) { return false; }

#endif
