#pragma once
// Sealed records: how a data connection carries a file's bytes once its TLS
// handshake and ticket exchange are done (DataConnection.h).
//
// TLS cuts what it carries into records of 16 KiB, each sealed, sent and
// opened on its own, and hands the bytes over through buffers of its own:
// one more copy on each side. A data connection carries frames of up to
// 256 KiB, so after its ticket it seals each frame as one record, straight
// from the sender's buffer and, on the receiving side, in place in the
// buffer the frame is read into.
//
// A record on the wire (integers little-endian):
//   u32 length     the bytes sealed, at most kMaxRecordBytes
//   length bytes   AES-256-GCM ciphertext
//   16 bytes       its tag, which also covers the length
// Each direction has a key and nonce base of its own, exported from the TLS
// session of the connection (RFC 8446's exporter); a record's nonce is the
// base with its sequence number mixed in, as TLS 1.3 does. So a record that
// was changed, dropped, replayed, reordered or taken from another connection
// fails to open, and the connection is then given up.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

namespace vn {

inline constexpr std::size_t kRecordHeaderBytes = 4;
inline constexpr std::size_t kRecordTagBytes = 16;
inline constexpr std::size_t kRecordOverheadBytes = kRecordHeaderBytes + kRecordTagBytes;
inline constexpr std::size_t kMaxRecordBytes = 256 * 1024;
// Key and nonce base of one direction.
inline constexpr std::size_t kRecordKeyBytes = 32;
inline constexpr std::size_t kRecordNonceBytes = 12;

// One direction's sealing or opening, record after record. One thread at a time.
class RecordCipher {
 public:
  // Null when the cipher is not to be had. `key` is kRecordKeyBytes, `nonce`
  // kRecordNonceBytes.
  static std::unique_ptr<RecordCipher> Sealer(std::span<const unsigned char> key, std::span<const unsigned char> nonce);
  static std::unique_ptr<RecordCipher> Opener(std::span<const unsigned char> key, std::span<const unsigned char> nonce);
  ~RecordCipher();
  RecordCipher(const RecordCipher&) = delete;
  RecordCipher& operator=(const RecordCipher&) = delete;

  // Seals `plain` (at most kMaxRecordBytes) as the next record into `out`,
  // which holds plain.size() + kRecordOverheadBytes bytes: header,
  // ciphertext, tag.
  [[nodiscard]] bool Seal(std::span<const unsigned char> plain, unsigned char* out);

  // Opens the next record, whose header said `data.size()` bytes: `data`
  // holds its ciphertext and gets the plain bytes in its place, `tag` is the
  // record's last kRecordTagBytes. False (and `data` is not to be used) when
  // it is not the peer's next record, unchanged.
  [[nodiscard]] bool Open(std::span<unsigned char> data, const unsigned char* tag);

 private:
  struct Impl;
  explicit RecordCipher(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> m_impl;
};

}  // namespace vn
