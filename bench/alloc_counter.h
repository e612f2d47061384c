// Counts heap allocations of the whole process.  The bench executable
// replaces the global operator new (and, on glibc, malloc, calloc and
// realloc); the shared library resolves those names to the executable's
// definitions, so its allocations are counted too.
#pragma once

#include <cstdint>

namespace qvbench {

struct AllocationCount {
  uint64_t operator_new = 0;  // every form of operator new
  uint64_t c_heap = 0;        // malloc, calloc, realloc called directly

  uint64_t total() const { return operator_new + c_heap; }
  AllocationCount operator-(const AllocationCount &earlier) const {
    return {operator_new - earlier.operator_new, c_heap - earlier.c_heap};
  }
};

AllocationCount allocations_so_far();
// False where only operator new can be counted.
bool counts_c_heap();

}  // namespace qvbench
