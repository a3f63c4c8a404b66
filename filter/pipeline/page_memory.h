// Page-sized allocations, checked against overflow and the per-page memory ceiling.
#pragma once

#include <cstdint>

#include "pipeline/pipeline.h"

// A buffer of count bytes, uninitialised; empty when count overflows, exceeds the ceiling
// (pageMemoryLimit) or cannot be allocated.
DotBuffer allocateDots(uint64_t count);
// count = a × b with overflow detection; false on overflow.
bool checkedMul(uint64_t a, uint64_t b, uint64_t &count);
