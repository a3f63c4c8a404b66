// Page-sized allocations, checked against overflow and the per-page memory ceiling.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>

struct FreeDeleter {
  void operator()(unsigned char *p) const { std::free(p); }
};
// A page-sized buffer from the general allocator (a failed allocation is a value, not an
// exception).
using DotBuffer = std::unique_ptr<unsigned char[], FreeDeleter>;

// Memory ceiling for the buffers of one page: RX5K_PAGE_MEMORY_LIMIT (bytes, or with a K, M or
// G suffix), 1 GiB by default.
uint64_t pageMemoryLimit();

// A buffer of count bytes, uninitialised; empty when count overflows, exceeds the ceiling
// (pageMemoryLimit) or cannot be allocated.
DotBuffer allocateDots(uint64_t count);
// count = a × b with overflow detection; false on overflow.
bool checkedMul(uint64_t a, uint64_t b, uint64_t &count);
