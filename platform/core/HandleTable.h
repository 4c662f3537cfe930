#pragma once
// The open handles of the Win32 calls that hand out HANDLE values
// (FindFirstFileA, WNetOpenEnumA, CreateEventA...) and of the registry's HKEYs.
// A handle is a number, never an address, and no number is handed out twice in
// a process by any table, so a closed handle or one of another kind is
// recognised as invalid instead of reaching the wrong object. Tables are
// process-wide and safe from any thread.

#include <cstdint>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <utility>

#include "platform/core/Win32Types.h"

namespace vn {

// The next handle number of the process, for every kind of handle: above zero,
// a multiple of four, never INVALID_HANDLE_VALUE nor a predefined registry key
// (HKEY_LOCAL_MACHINE and the others, 0x80000000 and up).
std::uintptr_t NextHandleValue();

template <typename T>
class HandleTable {
 public:
  HANDLE Add(T item) {
    const std::uintptr_t value = NextHandleValue();
    std::lock_guard lock(m_mutex);
    m_items.emplace(value, std::move(item));
    return reinterpret_cast<HANDLE>(value);
  }

  // Runs fn(T&) with the table locked; false (fn not run) for an unknown handle.
  template <typename Fn>
  bool With(HANDLE handle, Fn&& fn) {
    std::lock_guard lock(m_mutex);
    const auto it = m_items.find(reinterpret_cast<std::uintptr_t>(handle));
    if (it == m_items.end()) return false;
    std::forward<Fn>(fn)(it->second);
    return true;
  }

  // Takes the item out of the table; nullopt for an unknown handle.
  std::optional<T> Remove(HANDLE handle) {
    std::lock_guard lock(m_mutex);
    const auto it = m_items.find(reinterpret_cast<std::uintptr_t>(handle));
    if (it == m_items.end()) return std::nullopt;
    std::optional<T> item(std::move(it->second));
    m_items.erase(it);
    return item;
  }

 private:
  std::mutex m_mutex;
  std::unordered_map<std::uintptr_t, T> m_items;
};

}  // namespace vn
