// Pages that hold generated machine code: the translator writes the code straight into writable
// pages (CodeBytes allocates them), which are made executable and read-only before anything runs
// them, so that loading the code copies nothing.
#ifndef PELLUX_EXECUTABLE_MEMORY_H
#define PELLUX_EXECUTABLE_MEMORY_H

#include <cstddef>

// Writable pages for `size` bytes, or null when the system gives none.
void* allocateCodePages(std::size_t size);
void releaseCodePages(void* pages, std::size_t size);
// The first `size` bytes of pages from allocateCodePages become executable and read-only; false
// when the system refuses (the pages stay writable then).
bool makeCodeExecutable(void* pages, std::size_t size);

#endif
