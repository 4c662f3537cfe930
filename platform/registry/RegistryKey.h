#pragma once
// An open registry key, closed with RegCloseKey when it goes or is opened
// anew, on every path out of the code that opened it.

#include "platform/registry/Registry.h"

namespace vn {

class RegistryKey {
 public:
  RegistryKey() = default;
  ~RegistryKey() { Reset(); }
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;

  HKEY get() const { return m_key; }
  // Where a call that opens a key puts it; a key held before is closed.
  HKEY* Out() {
    Reset();
    return &m_key;
  }
  void Reset() {
    if (m_key) (void)RegCloseKey(m_key);  // a failed close leaves nothing to undo
    m_key = nullptr;
  }

 private:
  HKEY m_key = nullptr;
};

}  // namespace vn
