#include "alloc_counter.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<uint64_t> g_operator_new{0};
std::atomic<uint64_t> g_c_heap{0};

}  // namespace

#if defined(__GLIBC__)
// glibc's own entry points: the counting malloc forwards to them, and
// operator new uses them directly so that one allocation is counted once.
extern "C" {
void *__libc_malloc(std::size_t size);
void *__libc_calloc(std::size_t count, std::size_t size);
void *__libc_realloc(void *pointer, std::size_t size);

void *malloc(std::size_t size) noexcept {
  g_c_heap.fetch_add(1, std::memory_order_relaxed);
  return __libc_malloc(size);
}

void *calloc(std::size_t count, std::size_t size) noexcept {
  g_c_heap.fetch_add(1, std::memory_order_relaxed);
  return __libc_calloc(count, size);
}

void *realloc(void *pointer, std::size_t size) noexcept {
  g_c_heap.fetch_add(1, std::memory_order_relaxed);
  return __libc_realloc(pointer, size);
}
}

namespace {
void *raw_allocate(std::size_t size) { return __libc_malloc(size); }
}  // namespace
#else
namespace {
void *raw_allocate(std::size_t size) { return std::malloc(size); }
}  // namespace
#endif

namespace {

void *counted_new(std::size_t size) noexcept {
  g_operator_new.fetch_add(1, std::memory_order_relaxed);
  return raw_allocate(size == 0 ? 1 : size);
}

void *counted_new_or_throw(std::size_t size) {
  void *pointer = counted_new(size);
  if (!pointer) throw std::bad_alloc();
  return pointer;
}

void *counted_aligned_new(std::size_t size, std::align_val_t alignment) {
  g_operator_new.fetch_add(1, std::memory_order_relaxed);
  const auto align = static_cast<std::size_t>(alignment);
  // aligned_alloc wants a size that is a multiple of the alignment.
  const std::size_t rounded = (size + align - 1) / align * align;
  void *pointer = std::aligned_alloc(align, rounded == 0 ? align : rounded);
  if (!pointer) throw std::bad_alloc();
  return pointer;
}

}  // namespace

// Everything is released with free(), which matches both allocators above.
void *operator new(std::size_t size) { return counted_new_or_throw(size); }
void *operator new[](std::size_t size) { return counted_new_or_throw(size); }
void *operator new(std::size_t size, const std::nothrow_t &) noexcept { return counted_new(size); }
void *operator new[](std::size_t size, const std::nothrow_t &) noexcept {
  return counted_new(size);
}
void *operator new(std::size_t size, std::align_val_t alignment) {
  return counted_aligned_new(size, alignment);
}
void *operator new[](std::size_t size, std::align_val_t alignment) {
  return counted_aligned_new(size, alignment);
}
void operator delete(void *pointer) noexcept { std::free(pointer); }
void operator delete[](void *pointer) noexcept { std::free(pointer); }
void operator delete(void *pointer, std::size_t) noexcept { std::free(pointer); }
void operator delete[](void *pointer, std::size_t) noexcept { std::free(pointer); }
void operator delete(void *pointer, std::align_val_t) noexcept { std::free(pointer); }
void operator delete[](void *pointer, std::align_val_t) noexcept { std::free(pointer); }
void operator delete(void *pointer, std::size_t, std::align_val_t) noexcept { std::free(pointer); }
void operator delete[](void *pointer, std::size_t, std::align_val_t) noexcept {
  std::free(pointer);
}

namespace qvbench {

AllocationCount allocations_so_far() {
  return {g_operator_new.load(std::memory_order_relaxed), g_c_heap.load(std::memory_order_relaxed)};
}

bool counts_c_heap() {
#if defined(__GLIBC__)
  return true;
#else
  return false;
#endif
}

}  // namespace qvbench
