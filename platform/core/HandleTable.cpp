#include "platform/core/HandleTable.h"

#include <atomic>

namespace vn {
namespace {

// The predefined registry keys, and room for more of them.
constexpr std::uintptr_t kPredefinedKeysFirst = 0x80000000;
constexpr std::uintptr_t kPredefinedKeysEnd = 0x80000100;

}  // namespace

std::uintptr_t NextHandleValue() {
  // Far from small integers a caller might confuse with handles; 2^62 numbers
  // are not exhausted by a process.
  static std::atomic<std::uintptr_t> next{0x10000};
  for (;;) {
    const std::uintptr_t value = next.fetch_add(4, std::memory_order_relaxed);
    if (value < kPredefinedKeysFirst || value >= kPredefinedKeysEnd) return value;
  }
}

}  // namespace vn
