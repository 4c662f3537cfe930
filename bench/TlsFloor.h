// The least an encrypted transfer between two machines can cost on this
// host: a bare TLS 1.3 stream over a loopback TCP connection between two
// threads, with the machines' own certificates (mutual authentication as the
// machine services do it), and no RPC, framing or relay around it. The copy
// benchmark measures the transport against it, and it against a local copy,
// so that a run shows how much of a remote copy's cost is the encryption and
// the socket themselves.
#pragma once

#include <filesystem>

namespace vn::bench {

// `serverIdentity` and `clientIdentity` are machines' identity files
// (identity/<DOMAIN>.pem: certificate, the domain's certificate, private key).
struct TlsFloor {
  std::filesystem::path serverIdentity;
  std::filesystem::path clientIdentity;

  // Sends `source` through the stream in 256 KiB writes; the receiving
  // thread writes it to `target`. The seconds from connecting (handshake
  // included) to the target's close; negative when something failed.
  double CopySeconds(const std::filesystem::path& source, const std::filesystem::path& target) const;

  // `count` round trips of a `bytes`-byte message and its echo over one
  // connection (after the handshake); microseconds per round trip, negative
  // when something failed.
  double RoundTripMicros(int count, int bytes) const;
};

}  // namespace vn::bench
