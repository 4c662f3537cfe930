#pragma once
// One LAN Manager result buffer, as the Net* calls hand it out: the records,
// then any SIDs they point to, then the strings. The caller adds up what it
// needs, constructs the buffer, fills it, and Release()s it to the caller of
// the Net* call, who frees it with NetApiBufferFree. Internal to the platform.

#include <cstdlib>
#include <cstring>
#include <span>
#include <string>
#include <utility>

#include "platform/core/Win32Types.h"

namespace vn {

class NetBuffer {
 public:
  NetBuffer(std::size_t recordBytes, std::size_t stringUnits, std::size_t sidBytes = 0)
      : m_size(recordBytes + sidBytes + stringUnits * sizeof(WCHAR)),
        m_data(static_cast<LPBYTE>(std::calloc(m_size ? m_size : 1, 1))),
        m_sids(recordBytes),
        m_strings(recordBytes + sidBytes) {}
  ~NetBuffer() { std::free(m_data); }
  NetBuffer(const NetBuffer&) = delete;
  NetBuffer& operator=(const NetBuffer&) = delete;

  bool ok() const { return m_data != nullptr; }
  template <typename Record>
  Record* Records() {
    return reinterpret_cast<Record*>(m_data);
  }
  PSID PutSid(std::span<const BYTE> sid) {
    auto* out = m_data + m_sids;
    std::memcpy(out, sid.data(), sid.size());
    m_sids += sid.size();
    return out;
  }
  LPWSTR Put(const std::u16string& text) {
    auto* out = reinterpret_cast<LPWSTR>(m_data + m_strings);
    std::memcpy(out, text.c_str(), (text.size() + 1) * sizeof(WCHAR));
    m_strings += (text.size() + 1) * sizeof(WCHAR);
    return out;
  }
  LPBYTE Release() { return std::exchange(m_data, nullptr); }

 private:
  std::size_t m_size;
  LPBYTE m_data;
  std::size_t m_sids;
  std::size_t m_strings;
};

}  // namespace vn
