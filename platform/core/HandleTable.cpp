#include "platform/core/HandleTable.h"

#include <atomic>

namespace vn {

std::uintptr_t NextHandleValue() {
  // Far from the registry's key handles and from small integers a caller might
  // confuse with handles; 2^62 numbers are not exhausted by a process.
  static std::atomic<std::uintptr_t> next{0x10000};
  return next.fetch_add(4, std::memory_order_relaxed);
}

}  // namespace vn
