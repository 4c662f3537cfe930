#include "servercomm/ServerProtocol.h"

#include <algorithm>
#include <cstring>

namespace vn::serverproto {
namespace {

constexpr char kMagic[4] = {'V', 'N', 'S', '1'};

void PutU32(char* at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

std::uint32_t GetU32(const char* at) {
  std::uint32_t value = 0;
  for (int i = 0; i < 4; ++i) value |= static_cast<std::uint32_t>(static_cast<unsigned char>(at[i])) << (8 * i);
  return value;
}

}  // namespace

Writer::Writer(std::uint32_t kind) : m_data(kHeaderSize) {
  std::memcpy(m_data.data(), kMagic, 4);
  PutU32(m_data.data() + 4, kind);
}

Writer& Writer::U32(std::uint32_t value) {
  char bytes[4];
  PutU32(bytes, value);
  m_data.insert(m_data.end(), bytes, bytes + 4);
  return *this;
}

Writer& Writer::U64(std::uint64_t value) {
  U32(static_cast<std::uint32_t>(value & 0xFFFFFFFFu));
  return U32(static_cast<std::uint32_t>(value >> 32));
}

Writer& Writer::Bytes(std::span<const char> bytes) {
  m_data.insert(m_data.end(), bytes.begin(), bytes.end());
  return *this;
}

Writer& Writer::Text(std::string_view text) {
  m_data.insert(m_data.end(), text.begin(), text.end());
  m_data.push_back('\0');
  return *this;
}

const std::vector<char>& Writer::Finish() {
  PutU32(m_data.data() + 8, static_cast<std::uint32_t>(m_data.size() - kHeaderSize));
  return m_data;
}

bool Reader::U32(std::uint32_t* value) {
  if (!m_ok || m_rest.size() < 4) return m_ok = false;
  *value = GetU32(m_rest.data());
  m_rest = m_rest.subspan(4);
  return true;
}

bool Reader::U64(std::uint64_t* value) {
  std::uint32_t low = 0, high = 0;
  if (!U32(&low) || !U32(&high)) return false;
  *value = (static_cast<std::uint64_t>(high) << 32) | low;
  return true;
}

bool Reader::Bytes(std::size_t count, std::span<const char>* bytes) {
  if (!m_ok || m_rest.size() < count) return m_ok = false;
  *bytes = m_rest.first(count);
  m_rest = m_rest.subspan(count);
  return true;
}

bool Reader::Text(std::size_t max, std::string* text) {
  if (!m_ok) return false;
  const std::size_t limit = std::min(m_rest.size(), max + 1);
  const void* nul = std::memchr(m_rest.data(), '\0', limit);
  if (!nul) return m_ok = false;
  const std::size_t length = static_cast<std::size_t>(static_cast<const char*>(nul) - m_rest.data());
  text->assign(m_rest.data(), length);
  m_rest = m_rest.subspan(length + 1);
  return true;
}

void PutReadReplyHeader(char* at, std::uint32_t flags, std::size_t dataSize) {
  std::memcpy(at, kMagic, 4);
  PutU32(at + 4, static_cast<std::uint32_t>(Kind::Read) | kReplyBit);
  PutU32(at + 8, static_cast<std::uint32_t>(8 + dataSize));
  PutU32(at + 12, 0);
  PutU32(at + 16, flags);
}

bool ParseMessage(std::span<const char> message, std::uint32_t* kind, std::span<const char>* payload) {
  if (message.size() < kHeaderSize || std::memcmp(message.data(), kMagic, 4) != 0) return false;
  if (GetU32(message.data() + 8) != message.size() - kHeaderSize) return false;
  *kind = GetU32(message.data() + 4);
  *payload = message.subspan(kHeaderSize);
  return true;
}

}  // namespace vn::serverproto
