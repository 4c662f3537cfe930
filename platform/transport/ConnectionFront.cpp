#include "platform/transport/ConnectionFront.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <string_view>
#include <vector>

namespace vn {

rlim_t DescriptorLimit() {
  rlimit limit{};
  return ::getrlimit(RLIMIT_NOFILE, &limit) == 0 ? limit.rlim_cur : 1024;
}

rlim_t SetDescriptorLimit(rlim_t wanted) {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return 1024;
  limit.rlim_cur = wanted == 0 ? limit.rlim_max : std::min(wanted, limit.rlim_max);
  ::setrlimit(RLIMIT_NOFILE, &limit);
  return DescriptorLimit();
}

FrontLimits LimitsFor(rlim_t descriptors) {
  // Beyond this many, a machine is better off refusing than slowing everyone.
  constexpr rlim_t kMostConnections = 16384;
  constexpr std::size_t kMostPerAddress = 64;
  FrontLimits limits;
  limits.maxConnections = static_cast<std::size_t>(std::clamp<rlim_t>(descriptors / 3, 1, kMostConnections));
  limits.maxPerAddress = std::clamp<std::size_t>(limits.maxConnections / 2, 1, kMostPerAddress);
  return limits;
}

namespace {

constexpr std::size_t kReadBytes = 256 * 1024;
constexpr int kBacklog = 512;

// The caller's address without the port: what the per-address limit counts.
std::string PeerAddress(const sockaddr_storage& address) {
  char text[INET6_ADDRSTRLEN] = {};
  if (address.ss_family == AF_INET)
    ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in&>(address).sin_addr, text, sizeof text);
  else if (address.ss_family == AF_INET6)
    ::inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6&>(address).sin6_addr, text, sizeof text);
  return text;
}

}  // namespace

// The relay thread's state: the connections, each a pair of sockets. Only the
// thread touches it after Start.
class ConnectionFront::Relay {
 public:
  Relay(ConnectionFront& front, UniqueFd epoll, UniqueFd wake, sockaddr_un backend)
      : m_front(front), m_epoll(std::move(epoll)), m_wake(std::move(wake)), m_backend(backend),
        m_buffer(kReadBytes) {
    m_reserve.Reset(::open("/dev/null", O_RDONLY | O_CLOEXEC));
  }

  void Wake() {
    const std::uint64_t one = 1;
    [[maybe_unused]] auto n = ::write(m_wake.Get(), &one, sizeof one);
  }

  void Run();

 private:
  struct Link;
  // One side of a link: its socket, and what is waiting to be written to it.
  struct Side {
    Link* link = nullptr;
    UniqueFd fd;
    std::string pending;   // read from the other side, not yet written here
    bool ended = false;    // the other side will send nothing more
    bool readable = true;  // watched for input
    // The caller's side until its first bytes tell a data connection (the
    // divert's preamble) from an RPC one: what it has sent so far.
    bool classifying = false;
    std::string head;
  };
  struct Link {
    Side caller;
    Side service;
    std::string address;
  };

  void Accept();
  void Admit(UniqueFd caller, const std::string& address);
  void Close(Link* link);
  // Moves what `from` can give to `to`; false when the link is over.
  bool Pump(Side& from, Side& to);
  // Reads the caller's first bytes, no more than the preamble's length; false
  // when the link is over here (diverted, or the caller gone).
  bool Classify(Side& caller, Side& service);
  bool Flush(Side& to, Side& from);
  // Whether a link is over once everything for `to` has been passed on and
  // `to` has ended: when the service ended its side (it closes idle and
  // half-open connections; the caller must not keep one alive alone), or
  // when both sides have ended.
  static bool Finished(const Side& to, const Side& from) {
    return &to == &to.link->caller || (from.ended && from.pending.empty());
  }
  void Watch(Side& side, bool add);
  void PauseListener(bool pause);

  ConnectionFront& m_front;
  UniqueFd m_epoll;
  UniqueFd m_wake;
  UniqueFd m_reserve;
  sockaddr_un m_backend;
  std::vector<char> m_buffer;
  std::map<Link*, std::unique_ptr<Link>> m_links;
  std::map<std::string, std::size_t> m_perAddress;
  bool m_stop = false;
  bool m_listenerPaused = false;

  friend class ConnectionFront;
};

void ConnectionFront::Relay::Watch(Side& side, bool add) {
  epoll_event event{};
  event.events = (side.readable ? EPOLLIN : 0u) | (side.pending.empty() ? 0u : EPOLLOUT);
  event.data.ptr = &side;
  ::epoll_ctl(m_epoll.Get(), add ? EPOLL_CTL_ADD : EPOLL_CTL_MOD, side.fd.Get(), &event);
}

void ConnectionFront::Relay::PauseListener(bool pause) {
  epoll_event event{};
  event.events = pause ? 0u : static_cast<std::uint32_t>(EPOLLIN);
  event.data.ptr = &m_front.m_listener;
  ::epoll_ctl(m_epoll.Get(), EPOLL_CTL_MOD, m_front.m_listener.Get(), &event);
  m_listenerPaused = pause;
  if (!pause && !m_reserve) m_reserve.Reset(::open("/dev/null", O_RDONLY | O_CLOEXEC));
}

void ConnectionFront::Relay::Run() {
  epoll_event events[64];
  while (!m_stop) {
    const int n = ::epoll_wait(m_epoll.Get(), events, 64, m_listenerPaused ? 50 : -1);
    if (n < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (m_listenerPaused) PauseListener(false);
    std::vector<Link*> ended;
    for (int i = 0; i < n; ++i) {
      void* tag = events[i].data.ptr;
      if (tag == &m_wake) {
        m_stop = true;
        break;
      }
      if (tag == &m_front.m_listener) {
        Accept();
        continue;
      }
      Side& side = *static_cast<Side*>(tag);
      Link* link = side.link;
      if (std::find(ended.begin(), ended.end(), link) != ended.end()) continue;
      Side& other = &side == &link->caller ? link->service : link->caller;
      const std::uint32_t what = events[i].events;
      bool alive = (what & EPOLLERR) == 0;
      if (alive && (what & EPOLLOUT)) alive = Flush(side, other);
      if (alive && (what & (EPOLLIN | EPOLLHUP))) alive = Pump(side, other);
      // Hung up both ways: whatever it sent has been passed on.
      if (!alive || (what & EPOLLHUP)) ended.push_back(link);
    }
    for (Link* link : ended) Close(link);
  }
  while (!m_links.empty()) Close(m_links.begin()->first);
}

void ConnectionFront::Relay::Accept() {
  for (;;) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    UniqueFd caller(::accept4(m_front.m_listener.Get(), reinterpret_cast<sockaddr*>(&address), &length,
                              SOCK_NONBLOCK | SOCK_CLOEXEC));
    if (!caller) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      if (errno == EMFILE || errno == ENFILE) {
        if (!m_reserve) {
          // Not even the reserve is back: stop listening for a moment
          // rather than spin on a queue that cannot be emptied.
          PauseListener(true);
          return;
        }
        // Out of descriptors: the reserve makes room to take the waiting
        // connection off the queue and close it, then is taken back.
        m_reserve.Reset();
        const int dropped = ::accept4(m_front.m_listener.Get(), nullptr, nullptr, SOCK_CLOEXEC);
        if (dropped >= 0) {
          ::close(dropped);
          ++m_front.m_refused;
        }
        m_reserve.Reset(::open("/dev/null", O_RDONLY | O_CLOEXEC));
        if (dropped >= 0) continue;
      }
      return;  // EAGAIN: nothing more waiting; anything else is tried again on the next wake-up
    }
    if (!m_reserve) m_reserve.Reset(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    const std::string peer = PeerAddress(address);
    if (m_links.size() >= m_front.m_limits.maxConnections || m_perAddress[peer] >= m_front.m_limits.maxPerAddress) {
      ++m_front.m_refused;
      continue;  // closed at once
    }
    Admit(std::move(caller), peer);
  }
}

void ConnectionFront::Relay::Admit(UniqueFd caller, const std::string& address) {
  UniqueFd service(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!service || ::connect(service.Get(), reinterpret_cast<const sockaddr*>(&m_backend), sizeof m_backend) != 0) {
    // A full backlog behind (EAGAIN) refuses this caller like a limit does.
    ++m_front.m_refused;
    return;
  }
  const int one = 1;
  ::setsockopt(caller.Get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  auto link = std::make_unique<Link>();
  link->address = address;
  link->caller.link = link.get();
  link->caller.fd = std::move(caller);
  link->caller.classifying = !m_front.m_preamble.empty();
  link->service.link = link.get();
  link->service.fd = std::move(service);
  Watch(link->caller, true);
  Watch(link->service, true);
  ++m_perAddress[address];
  ++m_front.m_open;
  Link* key = link.get();
  m_links.emplace(key, std::move(link));
}

void ConnectionFront::Relay::Close(Link* link) {
  const auto it = m_links.find(link);
  if (it == m_links.end()) return;
  ::epoll_ctl(m_epoll.Get(), EPOLL_CTL_DEL, link->caller.fd.Get(), nullptr);
  ::epoll_ctl(m_epoll.Get(), EPOLL_CTL_DEL, link->service.fd.Get(), nullptr);
  if (const auto count = m_perAddress.find(link->address); count != m_perAddress.end() && --count->second == 0)
    m_perAddress.erase(count);
  --m_front.m_open;
  m_links.erase(it);
}

bool ConnectionFront::Relay::Classify(Side& caller, Side& service) {
  const std::string& preamble = m_front.m_preamble;
  char bytes[64];
  const std::size_t want = std::min(sizeof bytes, preamble.size() - caller.head.size());
  const ssize_t n = ::read(caller.fd.Get(), bytes, want);
  if (n < 0) return errno == EAGAIN || errno == EINTR;
  caller.head.append(bytes, static_cast<std::size_t>(n));
  if (n > 0 && caller.head.size() < preamble.size() && preamble.starts_with(caller.head)) return true;  // more to come
  if (caller.head == preamble) {
    ::epoll_ctl(m_epoll.Get(), EPOLL_CTL_DEL, caller.fd.Get(), nullptr);
    ++m_front.m_diverted;
    m_front.m_take(std::move(caller.fd), caller.link->address);
    return false;
  }
  // An RPC connection (or one that ended early): what was read goes first.
  caller.classifying = false;
  if (caller.head.empty()) return Pump(caller, service);
  service.pending = std::move(caller.head);
  caller.head = std::string();
  caller.readable = false;
  Watch(caller, false);
  Watch(service, false);
  return true;
}

bool ConnectionFront::Relay::Pump(Side& from, Side& to) {
  if (from.classifying) return Classify(from, to);
  // While `to` still holds bytes from an earlier read, `from` waits: flow
  // control passes through the relay instead of piling up in it.
  if (!to.pending.empty() || !from.readable) return true;
  for (int round = 0; round < 4; ++round) {
    const ssize_t n = ::read(from.fd.Get(), m_buffer.data(), m_buffer.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno == EAGAIN;
    }
    if (n == 0) {
      // The end of one direction: passed on once the last bytes are out.
      from.readable = false;
      to.ended = true;
      Watch(from, false);
      if (!to.pending.empty()) return true;
      ::shutdown(to.fd.Get(), SHUT_WR);
      return !Finished(to, from);
    }
    std::size_t done = 0;
    while (done < static_cast<std::size_t>(n)) {
      const ssize_t w = ::send(to.fd.Get(), m_buffer.data() + done, static_cast<std::size_t>(n) - done, MSG_NOSIGNAL);
      if (w < 0 && errno == EINTR) continue;
      if (w < 0 && errno != EAGAIN) return false;
      if (w <= 0) break;
      done += static_cast<std::size_t>(w);
    }
    if (done < static_cast<std::size_t>(n)) {
      to.pending.assign(m_buffer.data() + done, static_cast<std::size_t>(n) - done);
      from.readable = false;
      Watch(from, false);
      Watch(to, false);
      return true;
    }
    if (static_cast<std::size_t>(n) < m_buffer.size()) return true;
  }
  return true;
}

bool ConnectionFront::Relay::Flush(Side& to, Side& from) {
  while (!to.pending.empty()) {
    const ssize_t w = ::send(to.fd.Get(), to.pending.data(), to.pending.size(), MSG_NOSIGNAL);
    if (w < 0 && errno == EINTR) continue;
    if (w < 0) return errno == EAGAIN;
    to.pending.erase(0, static_cast<std::size_t>(w));
  }
  std::string().swap(to.pending);  // an idle connection holds no buffer
  Watch(to, false);
  if (to.ended) {
    ::shutdown(to.fd.Get(), SHUT_WR);
    return !Finished(to, from);
  }
  from.readable = true;
  Watch(from, false);
  return Pump(from, to);
}

ConnectionFront::ConnectionFront(FrontLimits limits) : m_limits(limits) {}

ConnectionFront::~ConnectionFront() { Stop(); }

bool ConnectionFront::Listen(const std::string& address, std::uint16_t port, std::string* error) {
  std::string host = address;
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  if (const int rc = ::getaddrinfo(host.empty() ? nullptr : host.c_str(), service.c_str(), &hints, &found);
      rc != 0 || !found) {
    *error = "cannot listen on " + address + ":" + service + ": " + ::gai_strerror(rc);
    return false;
  }
  std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> list(found, &::freeaddrinfo);
  UniqueFd fd(::socket(found->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  const int one = 1;
  if (fd) ::setsockopt(fd.Get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (!fd || ::bind(fd.Get(), found->ai_addr, found->ai_addrlen) != 0 || ::listen(fd.Get(), kBacklog) != 0) {
    const int code = errno;
    *error = "cannot listen on " + address + ":" + service + ": " + std::strerror(code);
    if (code == EADDRINUSE) *error += " (another program holds the port)";
    return false;
  }
  sockaddr_storage bound{};
  socklen_t length = sizeof bound;
  ::getsockname(fd.Get(), reinterpret_cast<sockaddr*>(&bound), &length);
  m_port = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6&>(bound).sin6_port
                                              : reinterpret_cast<sockaddr_in&>(bound).sin_port);
  m_listener = std::move(fd);
  return true;
}

void ConnectionFront::Divert(std::string preamble, Taker take) {
  m_preamble = std::move(preamble);
  m_take = std::move(take);
}

bool ConnectionFront::Start(const std::filesystem::path& backend, std::string* error) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string path = backend.string();
  if (path.size() >= sizeof address.sun_path) {
    *error = "the local socket path " + path + " is too long";
    return false;
  }
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  UniqueFd epoll(::epoll_create1(EPOLL_CLOEXEC));
  UniqueFd wake(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
  if (!epoll || !wake || !m_listener) {
    *error = std::string("cannot start the connection relay: ") + std::strerror(errno);
    return false;
  }
  m_relay = std::make_unique<Relay>(*this, std::move(epoll), std::move(wake), address);
  epoll_event event{};
  event.events = EPOLLIN;
  event.data.ptr = &m_relay->m_wake;
  ::epoll_ctl(m_relay->m_epoll.Get(), EPOLL_CTL_ADD, m_relay->m_wake.Get(), &event);
  event.data.ptr = &m_listener;
  ::epoll_ctl(m_relay->m_epoll.Get(), EPOLL_CTL_ADD, m_listener.Get(), &event);
  m_thread = std::thread([relay = m_relay.get()] { relay->Run(); });
  return true;
}

void ConnectionFront::Stop() {
  std::lock_guard lock(m_stopMutex);
  if (m_thread.joinable()) {
    m_relay->Wake();
    m_thread.join();
  }
  m_relay.reset();
  m_listener.Reset();
}

}  // namespace vn
