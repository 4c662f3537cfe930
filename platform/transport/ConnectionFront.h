#pragma once
// The network side of the machine service: it listens on the service's TCP
// address and port, accepts connections within bounds, and relays each one's
// bytes unchanged to the service's private local socket, where the RPC server
// (which speaks TLS with the callers) takes them. Between the two it keeps the
// service reachable whatever a caller does:
//
//   - at most `maxConnections` connections at once, and at most
//     `maxPerAddress` from one address; a connection over either is closed as
//     soon as it is accepted, and the others are served on;
//   - a descriptor is kept in reserve: when the process runs out, the reserve
//     is given up to accept the waiting connection and close it, so the
//     accept loop never stops (it tries again on the next connection);
//   - a connection that ends on either side is ended on the other (a write
//     to a side that has gone fails; it never raises SIGPIPE, whatever the
//     process does with that signal);
//   - a connection whose first bytes are the preamble given to Divert is not
//     relayed: it is taken off the front, preamble read, and handed whole to
//     the divert's owner (the machine service's data connections), which
//     bounds and times such connections itself.
//
// Idle and half-open connections are closed by the RPC server behind it
// (connection idle and handshake time-outs: docs/protocol.md).
//
// One thread relays every connection (epoll); a connection holds no buffer
// while it is idle, and at most one read's worth while its other side is
// slower. Threads: Listen and Start from one thread; Stop and Current from any.

#include <sys/resource.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/core/UniqueFd.h"

namespace vn {

struct FrontLimits {
  std::size_t maxConnections = 1024;
  std::size_t maxPerAddress = 64;
};

// The process's descriptor limit (soft). SetDescriptorLimit raises it to the
// hard limit (0) or sets it to `wanted` (at most the hard limit); returns the
// limit in force afterwards.
rlim_t DescriptorLimit();
rlim_t SetDescriptorLimit(rlim_t wanted = 0);

// Limits that keep the connections' descriptors (three each: the caller's,
// and both ends of the local socket) within `descriptors`.
FrontLimits LimitsFor(rlim_t descriptors);

class ConnectionFront {
 public:
  explicit ConnectionFront(FrontLimits limits);
  ~ConnectionFront();
  ConnectionFront(const ConnectionFront&) = delete;
  ConnectionFront& operator=(const ConnectionFront&) = delete;

  // Binds and listens on `address` (IPv4, IPv6 in brackets, or a host name)
  // and `port` (0: any free one). A port another program holds fails with a
  // message saying so.
  [[nodiscard]] bool Listen(const std::string& address, std::uint16_t port, std::string* error);
  std::uint16_t Port() const { return m_port; }

  // Connections that begin with `preamble` go to `take`, on the front's
  // thread (it must not block), with the caller's address. Before Start.
  using Taker = std::function<void(UniqueFd connection, const std::string& address)>;
  void Divert(std::string preamble, Taker take);

  // Starts relaying accepted connections to the local socket `backend`.
  [[nodiscard]] bool Start(const std::filesystem::path& backend, std::string* error);
  // Stops accepting and closes every connection; waits for the thread.
  void Stop();

  struct Counts {
    std::size_t open = 0;       // connections being relayed
    std::size_t refused = 0;    // accepted and closed at once (over a limit, out of descriptors)
    std::size_t diverted = 0;   // handed to the divert's owner
  };
  Counts Current() const { return {m_open.load(), m_refused.load(), m_diverted.load()}; }

 private:
  class Relay;
  FrontLimits m_limits;
  UniqueFd m_listener;
  std::uint16_t m_port = 0;
  std::unique_ptr<Relay> m_relay;
  std::thread m_thread;
  std::mutex m_stopMutex;
  std::atomic<std::size_t> m_open{0};
  std::atomic<std::size_t> m_refused{0};
  std::atomic<std::size_t> m_diverted{0};
  std::string m_preamble;
  Taker m_take;
};

}  // namespace vn
