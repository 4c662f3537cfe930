#pragma once
// An allocator for containers that grow to tens of megabytes at once (the
// line index of a result file): requests of 1 MiB and more are whole blocks
// of committed memory from VirtualAlloc, backed in one go instead of one page
// fault per 4 KiB as the container fills them; smaller ones use the heap.

#include <cstddef>
#include <new>

#include "platform/core/VirtualMemory.h"

namespace vn::console {

template <class T>
class CBlockAllocator {
 public:
  using value_type = T;

  CBlockAllocator() = default;
  template <class U>
  CBlockAllocator(const CBlockAllocator<U>&) noexcept {}  // NOLINT: converting, as allocators are

  T* allocate(std::size_t n) {
    if (n > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_array_new_length();
    const std::size_t bytes = n * sizeof(T);
    if (bytes < kBlockBytes) return static_cast<T*>(::operator new(bytes));
    void* block = VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    if (block == nullptr) throw std::bad_alloc();
    return static_cast<T*>(block);
  }

  void deallocate(T* p, std::size_t n) noexcept {
    if (n * sizeof(T) < kBlockBytes)
      ::operator delete(p);
    else
      VirtualFree(p, 0, MEM_RELEASE);
  }

  template <class U>
  bool operator==(const CBlockAllocator<U>&) const noexcept {
    return true;
  }

 private:
  static constexpr std::size_t kBlockBytes = std::size_t{1} << 20;
};

}  // namespace vn::console
