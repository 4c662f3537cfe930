#pragma once
// The messages KSCli and the reporting server (VNSrv) exchange over the
// server's named pipe "\\MACHINE\pipe\RODuduro" (docs/server.md is the
// reference). Every message is one pipe message: a 12-byte header (the magic
// "VNS1", the kind, the payload's length, all little endian) and the payload.
// A client sends a request and reads its reply before its next request: one
// message, except for Read, answered by as many messages as the window needs
// (each but the last flagged kReadMore). A reply's kind is the request's with
// kReplyBit set and its payload starts with the result code (0 = success,
// else a Win32 code).
//
// Encoding and decoding only: plain functions and two small cursor types,
// safe from any thread. Decoding never reads past what it was given and
// refuses (false) anything malformed. Nothing here keeps state: the shared
// VNCli and the server's static libraries each carry a copy of this code,
// and one process may hold more than one copy.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vn::serverproto {

inline constexpr const char* kPipeName = "RODuduro";  // the pipe's NAME part
// Version 2 adds larger read replies (kMaxReadBlockLarge); a server answers
// Hello with the lower of the two versions, and both keep to it.
inline constexpr std::uint32_t kVersion = 2;

inline constexpr std::size_t kHeaderSize = 12;
// The longest object list a report request may carry.
inline constexpr std::size_t kMaxObjectsText = 32 * 1024;
// The most result data one read reply message carries (kMaxReadBlockLarge
// when both ends speak version 2: fewer messages, each still one socket
// record that an unprivileged process may send), and the most one read
// request asks for (answered by a run of reply messages, so that a fetch pays
// one round trip per window, not per message).
inline constexpr std::uint32_t kMaxReadBlock = 128 * 1024;
inline constexpr std::uint32_t kMaxReadBlockLarge = 256 * 1024;
inline constexpr std::uint32_t kMaxReadWindow = 8 * 1024 * 1024;
// Flags of a read reply.
inline constexpr std::uint32_t kReadEnd = 1;   // the data reach the end of the file
inline constexpr std::uint32_t kReadMore = 2;  // another reply message to this request follows
// What the server reads at most per message, and writes at most.
inline constexpr std::uint32_t kMaxRequest = 64 * 1024;
inline constexpr std::uint32_t kMaxReply = kMaxReadBlockLarge + 1024;
// The message text of a report answer, terminator excluded.
inline constexpr std::size_t kMaxMessageText = 1024;

enum class Kind : std::uint32_t {
  Hello = 1,       // u32 client version -> u32 code, u32 version both speak
  Properties = 2,  // (empty) -> u32 code, nine NUL-terminated texts
  Report = 3,      // u32 record size, record, objects text -> u32 code, u32 number, u32 tag, message text
  Read = 4,        // u32 number, u32 tag, u64 offset, u32 max -> replies: u32 code, u32 flags, data
  Delete = 5,      // u32 number, u32 tag -> u32 code
};
inline constexpr std::uint32_t kReplyBit = 0x80000000u;

// Builds one message.
class Writer {
 public:
  explicit Writer(std::uint32_t kind);
  Writer& U32(std::uint32_t value);
  Writer& U64(std::uint64_t value);
  Writer& Bytes(std::span<const char> bytes);
  Writer& Text(std::string_view text);  // the bytes and a terminating NUL
  // The message with its header filled in.
  const std::vector<char>& Finish();

 private:
  std::vector<char> m_data;
};

// Reads the payload of one message, front to back; every call fails (false,
// and every later call too) instead of reading past the end.
class Reader {
 public:
  explicit Reader(std::span<const char> payload) : m_rest(payload) {}
  [[nodiscard]] bool U32(std::uint32_t* value);
  [[nodiscard]] bool U64(std::uint64_t* value);
  [[nodiscard]] bool Bytes(std::size_t count, std::span<const char>* bytes);
  // A NUL-terminated text of at most `max` bytes before the NUL.
  [[nodiscard]] bool Text(std::size_t max, std::string* text);
  std::span<const char> Rest() const { return m_rest; }
  bool AtEnd() const { return m_ok && m_rest.empty(); }
  bool Ok() const { return m_ok; }

 private:
  std::span<const char> m_rest;
  bool m_ok = true;
};

// A read reply is built in place: its first kReadReplyHeader bytes (the
// message header, the code 0 and the flags) before `dataSize` bytes of the
// file that the caller put after them.
inline constexpr std::size_t kReadReplyHeader = kHeaderSize + 8;
void PutReadReplyHeader(char* at, std::uint32_t flags, std::size_t dataSize);

// Checks the header of a received message: the magic, and a length equal to
// what follows it. On success *kind and *payload describe the message.
[[nodiscard]] bool ParseMessage(std::span<const char> message, std::uint32_t* kind, std::span<const char>* payload);

}  // namespace vn::serverproto
