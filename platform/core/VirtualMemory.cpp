#include "platform/core/VirtualMemory.h"

#include <sys/mman.h>

#include <cerrno>
#include <cstdint>
#include <map>
#include <mutex>

#include "platform/core/CallResult.h"

namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;

// The size of every block handed out, by its address: VirtualFree is given
// the address alone.
class BlockTable {
 public:
  void Add(void* block, std::size_t size) {
    std::lock_guard lock(m_mutex);
    m_blocks.emplace(block, size);
  }
  // The size of `block`, removed from the table; 0 when it is none of ours.
  std::size_t Take(void* block) {
    std::lock_guard lock(m_mutex);
    const auto found = m_blocks.find(block);
    if (found == m_blocks.end()) return 0;
    const std::size_t size = found->second;
    m_blocks.erase(found);
    return size;
  }

 private:
  std::mutex m_mutex;
  std::map<void*, std::size_t> m_blocks;
};

BlockTable& Blocks() {
  static BlockTable table;
  return table;
}

}  // namespace

LPVOID VirtualAlloc(LPVOID lpAddress, std::size_t dwSize, DWORD flAllocationType, DWORD flProtect) {
  if (lpAddress != nullptr || dwSize == 0 || flAllocationType != (MEM_RESERVE | MEM_COMMIT) ||
      flProtect != PAGE_READWRITE) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  // Whole huge pages, so that the kernel can back the block with them.
  const std::size_t size = (dwSize + kHugePage - 1) / kHugePage * kHugePage;
  if (size < dwSize) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  // One huge page more than needed, to start the block on a huge-page
  // boundary; the unaligned ends go back at once.
  void* mapped = ::mmap(nullptr, size + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapped == MAP_FAILED) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  auto* start = static_cast<char*>(mapped);
  auto* aligned = reinterpret_cast<char*>((reinterpret_cast<std::uintptr_t>(start) + kHugePage - 1) &
                                          ~(static_cast<std::uintptr_t>(kHugePage) - 1));
  if (aligned > start) ::munmap(start, static_cast<std::size_t>(aligned - start));
  char* const end = start + size + kHugePage;
  if (end > aligned + size) ::munmap(aligned + size, static_cast<std::size_t>(end - (aligned + size)));
  // Advice only: a kernel without huge pages or without populating simply
  // backs the pages as they are touched.
  ::madvise(aligned, size, MADV_HUGEPAGE);
#ifdef MADV_POPULATE_WRITE
  if (::madvise(aligned, size, MADV_POPULATE_WRITE) != 0 && errno == ENOMEM) {
    ::munmap(aligned, size);
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
#endif
  Blocks().Add(aligned, size);
  return aligned;
}

BOOL VirtualFree(LPVOID lpAddress, std::size_t dwSize, DWORD dwFreeType) {
  if (lpAddress == nullptr || dwSize != 0 || dwFreeType != MEM_RELEASE) return vn::Fail(ERROR_INVALID_PARAMETER);
  const std::size_t size = Blocks().Take(lpAddress);
  if (size == 0) return vn::Fail(ERROR_INVALID_PARAMETER);
  ::munmap(lpAddress, size);
  return TRUE;
}
