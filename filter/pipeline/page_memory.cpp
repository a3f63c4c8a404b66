// Checked page allocations.
#include "pipeline/page_memory.h"

#include <cstdlib>

#include "pipeline/page_check.h"

void FreeDeleter::operator()(unsigned char *p) const {
  std::free(p);
}

bool checkedMul(uint64_t a, uint64_t b, uint64_t &count) {
  return !__builtin_mul_overflow(a, b, &count);
}

DotBuffer allocateDots(uint64_t count) {
  if (count > pageMemoryLimit() || count > SIZE_MAX) return DotBuffer();
  return DotBuffer(static_cast<unsigned char *>(std::malloc(count ? count : 1)));
}
