#pragma once
// Authentication of machine service calls: every call except GetServerInfo
// carries proof that the caller knows the shared secret of the serving
// machine's domain, in four metadata entries:
//
//   vn-domain  the domain the proof is for (upper case)
//   vn-time    the caller's clock, seconds since 1970 (decimal)
//   vn-nonce   32 hex digits, fresh for each call
//   vn-proof   hex HMAC-SHA256 keyed with the secret over
//              "<method>\n<domain>\n<time>\n<nonce>"
//
// The service accepts a call when the domain is its own, its configuration
// holds that domain's secret, the time is within kProofWindowSeconds of its
// own clock, the nonce has not been seen within the window (a recorded call
// cannot be replayed) and the proof matches (compared in constant time).
// The secret itself never travels. docs/protocol.md has the whole design.
//
// Threads: all functions are safe from any thread; a ReplayGuard is internally
// locked. Failure is a gRPC status: UNAUTHENTICATED when the proof is missing,
// PERMISSION_DENIED when it does not hold.

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

#include <grpcpp/client_context.h>
#include <grpcpp/server_context.h>
#include <grpcpp/support/status.h>

namespace vn {

inline constexpr std::int64_t kProofWindowSeconds = 300;

// The proof for one call, as the metadata carries it.
std::string MakeCallProof(std::string_view secret, std::string_view method, std::string_view domain,
                          std::string_view time, std::string_view nonce);

// Adds the four entries to `context` for a call of `method` (the RPC's short
// name, "OpenKey") to a machine of `domain`.
void SignCall(grpc::ClientContext* context, std::string_view method, std::string_view domain,
              std::string_view secret);

// Remembers the nonces of accepted calls for the proof window, so that each
// is accepted once. Bounded: old entries are dropped as time passes, and at
// most kMaxEntries are kept (beyond that a call is refused until some expire).
class ReplayGuard {
 public:
  static constexpr std::size_t kMaxEntries = 1 << 20;
  // False when `nonce` was already used within the window (or the guard is full).
  bool Accept(const std::string& nonce, std::int64_t now);

 private:
  std::mutex m_mutex;
  std::map<std::string, std::int64_t> m_seen;   // nonce -> time accepted
  std::multimap<std::int64_t, std::string> m_byTime;
};

// Checks the proof of a call of `method` to a machine of `domain` whose secret
// is `secret` (empty: the machine knows no secret for its domain, and every
// call is refused). `now` is seconds since 1970.
grpc::Status CheckCallProof(const grpc::ServerContextBase& context, std::string_view method, std::string_view domain,
                            std::string_view secret, ReplayGuard* guard, std::int64_t now);

std::int64_t UnixNow();

}  // namespace vn
