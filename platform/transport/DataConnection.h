#pragma once
// Data connections: a large file's bytes between two machines on a TLS
// connection of their own, beside the RPC connection that opened the file.
// An RPC stream pays for framing, copies and thread hand-offs on every
// chunk; a data connection carries the bytes and nothing else, at close to
// what the encryption itself costs.
//
// A data connection is made to the machine service's own port. Its first
// bytes are the plain preamble kDataPreamble, by which the service's front
// tells it from an RPC connection and hands it over whole; then both sides
// handshake TLS 1.3 with their machine certificates of the domain, exactly as
// on the RPC connection (docs/protocol.md). What it may do is decided by a
// one-time ticket the caller got on its RPC stream (WriteFile): the ticket
// names the calling machine and the stream, and is good for one connection,
// for a few seconds.
//
// After the handshake, in TLS records (all integers little-endian):
//   caller:  ticket     kTicketBytes bytes
//   service: u32 error  0: go on; else the Win32 code (ERROR_ACCESS_DENIED
//                       for a ticket that is unknown, spent, late or another
//                       machine's) and the service closes
// After a 0 both sides Seal() the stream: from there on, everything either
// sends goes in sealed records (SealedRecords.h), with keys exported from
// this connection's TLS session. Then, for a file being written (WriteFile):
//   caller:  frames     u32 length, then that many bytes (at most
//                       kDataFrameBytes); a length of 0 ends the data
//   service: u32 error  the Win32 code (0: every byte is in the stream's file)
//            u64 bytes  how many bytes it took
// and the service closes. When writing the file fails, the service sends its
// status at once and reads on (discarding) until the end or the caller's
// close: a caller looks for an early status between its frames.
// For a file being read (ReadFile) the frames go the other way, the service
// sends the end and its status (the error that stopped reading, 0 at the
// end of the file; the bytes sent) and closes.
// Each Queue or Write call of a sealed stream is sent as records of its own,
// and a Read that asks for all of the next record gets it read and opened
// straight in its buffer: sending a frame's header and its bytes in two
// calls and reading them the same way costs no copy beyond the encryption.
//
// TlsStream is one end of such a connection, blocking. Every read and write
// must make progress within the stream's time-out, and a handshake finish
// within its own, so a peer that stalls is dropped, not waited for. Nothing
// raises SIGPIPE. Threads: one thread uses a stream; Abort may be called from
// any other to make that thread's read or write fail at once.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/core/UniqueFd.h"
#include "platform/machine/DomainIdentity.h"

namespace vn {

inline constexpr std::string_view kDataPreamble = "VNDATA1\n";
inline constexpr std::size_t kTicketBytes = 32;
inline constexpr std::size_t kDataFrameBytes = 256 * 1024;
inline constexpr std::size_t kDataStatusBytes = 12;
// Files larger than this go on data connections: a connection's handshake
// costs about what this much does on the RPC stream.
inline constexpr std::uint64_t kDataConnectionAfterBytes = 256 * 1024;

// One end's TLS settings for its data connections: this machine's
// certificate and key, and its domain's authority as the only one trusted
// (a server also requires the peer's certificate). Making one costs about a
// millisecond, so each is made once and shared by the connections, from
// any thread.
class TlsContext {
 public:
  // Null with *error when the credentials cannot be used.
  static std::unique_ptr<TlsContext> Server(const DomainCredentials& own, std::string* error);
  static std::unique_ptr<TlsContext> Client(const DomainCredentials& own, std::string* error);
  ~TlsContext();
  TlsContext(const TlsContext&) = delete;
  TlsContext& operator=(const TlsContext&) = delete;

 private:
  friend class TlsStream;
  struct Impl;
  explicit TlsContext(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> m_impl;
};

class TlsStream {
 public:
  ~TlsStream();
  TlsStream(const TlsStream&) = delete;
  TlsStream& operator=(const TlsStream&) = delete;

  // Connects to `target` ("host:port", "[v6]:port"), sends the preamble and
  // handshakes with `context` (a Client one), requiring a certificate of its
  // domain that names `machine`. Null with a Win32 code in *error:
  // ERROR_BAD_NETPATH (not reachable), ERROR_ACCESS_DENIED (either side
  // could not prove itself), ERROR_SEM_TIMEOUT (no answer in time),
  // ERROR_NETNAME_DELETED (closed before the handshake ended: the machine
  // turned the connection away, over a bound).
  static std::unique_ptr<TlsStream> Connect(const std::string& target, const TlsContext& context,
                                            const std::string& machine, std::chrono::milliseconds timeout,
                                            std::uint32_t* error);

  // Handshakes as the server on `socket` (its preamble already read), within
  // `handshake`, with `context` (a Server one). Null when the peer did not
  // complete it with a certificate of the domain. The socket stays the
  // caller's: the stream does not close it.
  static std::unique_ptr<TlsStream> Accept(int socket, const TlsContext& context,
                                           std::chrono::milliseconds handshake);

  // From here on, what either side sends goes in sealed records. Both sides
  // call it at the same point of their exchange, having read everything the
  // other sent before it. False (the stream is then of no use) when keys
  // could not be made or unread bytes remain.
  [[nodiscard]] bool Seal();

  // From now on each read or write must progress within `timeout`.
  void SetTimeout(std::chrono::milliseconds timeout);

  // All of `size` bytes; false when the connection failed, ended or stalled.
  // Write sends them at once; Queue may keep them (and what was queued
  // before) for the next Write, or Read, which sends what is queued first.
  [[nodiscard]] bool Write(const void* data, std::size_t size);
  [[nodiscard]] bool Queue(const void* data, std::size_t size);
  [[nodiscard]] bool Read(void* data, std::size_t size);

  // Whether the peer has sent something not yet read (or closed), without waiting.
  bool Readable() const;

  // The certificate the peer presented (PEM).
  std::string PeerCertificate() const;

  // Makes the owner's pending and later reads and writes fail at once.
  void Abort();

 private:
  struct Impl;
  explicit TlsStream(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> m_impl;
};

// Frame and status helpers (little-endian).
void PutU32(std::uint32_t value, unsigned char* out);
void PutU64(std::uint64_t value, unsigned char* out);
std::uint32_t GetU32(const unsigned char* in);
std::uint64_t GetU64(const unsigned char* in);

}  // namespace vn
