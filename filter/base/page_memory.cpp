// Checked page allocations and the memory ceiling of one page.
#include "base/page_memory.h"

#include <cerrno>

namespace {
constexpr uint64_t kDefaultLimit = uint64_t{1} << 30;
}  // namespace

uint64_t pageMemoryLimit() {
  const char *text = std::getenv("RX5K_PAGE_MEMORY_LIMIT");
  if (!text || *text < '0' || *text > '9') return kDefaultLimit;
  char *end = nullptr;
  errno = 0;
  unsigned long long value = std::strtoull(text, &end, 10);
  if (errno != 0) return kDefaultLimit;
  uint64_t scale = 1;
  switch (*end) {
    case 'k':
    case 'K':
      scale = uint64_t{1} << 10;
      end++;
      break;
    case 'm':
    case 'M':
      scale = uint64_t{1} << 20;
      end++;
      break;
    case 'g':
    case 'G':
      scale = uint64_t{1} << 30;
      end++;
      break;
    default:
      break;
  }
  uint64_t limit;
  if (*end != '\0' || __builtin_mul_overflow(uint64_t{value}, scale, &limit)) return kDefaultLimit;
  return limit;
}

bool checkedMul(uint64_t a, uint64_t b, uint64_t &count) {
  return !__builtin_mul_overflow(a, b, &count);
}

DotBuffer allocateDots(uint64_t count) {
  if (count > pageMemoryLimit() || count > SIZE_MAX) return DotBuffer();
  return DotBuffer(static_cast<unsigned char *>(std::malloc(count ? count : 1)));
}
