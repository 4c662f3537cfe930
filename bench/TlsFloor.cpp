#include "bench/TlsFloor.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

#include "platform/core/UniqueFd.h"

namespace vn::bench {
namespace {

using Clock = std::chrono::steady_clock;
constexpr std::size_t kChunk = 256 * 1024;

struct CtxFree {
  void operator()(SSL_CTX* ctx) const { SSL_CTX_free(ctx); }
};
struct SslFree {
  void operator()(SSL* ssl) const { SSL_free(ssl); }
};
using Ctx = std::unique_ptr<SSL_CTX, CtxFree>;
using Ssl = std::unique_ptr<SSL, SslFree>;

// A context that presents `identity` and requires the peer to present a
// certificate of the same domain, TLS 1.3 only, as the machine services do.
Ctx Context(const std::filesystem::path& identity, bool server) {
  Ctx ctx(SSL_CTX_new(server ? TLS_server_method() : TLS_client_method()));
  if (!ctx) return {};
  const std::string file = identity.string();
  SSL_CTX_set_min_proto_version(ctx.get(), TLS1_3_VERSION);
  if (SSL_CTX_use_certificate_chain_file(ctx.get(), file.c_str()) != 1 ||
      SSL_CTX_use_PrivateKey_file(ctx.get(), file.c_str(), SSL_FILETYPE_PEM) != 1 ||
      SSL_CTX_load_verify_locations(ctx.get(), file.c_str(), nullptr) != 1) {
    ERR_print_errors_fp(stderr);
    return {};
  }
  SSL_CTX_set_verify(ctx.get(), SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, nullptr);
  // No close_notify: the receiving side ends on the connection closing, and
  // neither side writes to a socket the other may have closed (SIGPIPE).
  SSL_CTX_set_quiet_shutdown(ctx.get(), 1);
  return ctx;
}

// A listening loopback socket on a port of the kernel's choosing.
UniqueFd Listen(sockaddr_in* address) {
  UniqueFd listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  *address = {};
  address->sin_family = AF_INET;
  address->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof *address;
  if (!listener || ::bind(listener.Get(), reinterpret_cast<sockaddr*>(address), sizeof *address) != 0 ||
      ::listen(listener.Get(), 1) != 0 ||
      ::getsockname(listener.Get(), reinterpret_cast<sockaddr*>(address), &length) != 0)
    return {};
  return listener;
}

UniqueFd Connect(const sockaddr_in& address) {
  UniqueFd socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!socket || ::connect(socket.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) return {};
  const int one = 1;
  ::setsockopt(socket.Get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return socket;
}

// One TLS connection between a serving thread, which runs `serve` on its
// end, and the calling thread, which runs `use` on its own; true when both
// handshakes and both sides succeeded.
template <typename Serve, typename Use>
bool Connection(const TlsFloor& floor, Serve serve, Use use) {
  Ctx serverCtx = Context(floor.serverIdentity, true);
  Ctx clientCtx = Context(floor.clientIdentity, false);
  sockaddr_in address{};
  UniqueFd listener = Listen(&address);
  if (!serverCtx || !clientCtx || !listener) return false;
  bool served = false;
  std::thread server([&] {
    UniqueFd socket(::accept4(listener.Get(), nullptr, nullptr, SOCK_CLOEXEC));
    if (!socket) return;
    const int one = 1;
    ::setsockopt(socket.Get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    Ssl ssl(SSL_new(serverCtx.get()));
    if (!ssl || SSL_set_fd(ssl.get(), socket.Get()) != 1 || SSL_accept(ssl.get()) != 1) {
      ERR_print_errors_fp(stderr);
      return;
    }
    served = serve(ssl.get());
  });
  bool used = false;
  {
    UniqueFd socket = Connect(address);
    Ssl ssl(socket ? SSL_new(clientCtx.get()) : nullptr);
    if (ssl && SSL_set_fd(ssl.get(), socket.Get()) == 1 && SSL_connect(ssl.get()) == 1) {
      used = use(ssl.get());
      // Half-close, then wait for the server's close: closing at once with
      // unread bytes (its session tickets) here would reset the connection
      // and lose what the server has not read yet.
      ::shutdown(socket.Get(), SHUT_WR);
      char discard[4096];
      while (::read(socket.Get(), discard, sizeof discard) > 0) {
      }
    } else {
      ERR_print_errors_fp(stderr);
    }
  }
  server.join();
  return served && used;
}

bool WriteAll(SSL* ssl, const char* data, std::size_t size) {
  while (size > 0) {
    const int n = SSL_write(ssl, data, static_cast<int>(size));
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool ReadAll(SSL* ssl, char* data, std::size_t size) {
  while (size > 0) {
    const int n = SSL_read(ssl, data, static_cast<int>(size));
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

double TlsFloor::CopySeconds(const std::filesystem::path& source, const std::filesystem::path& target) const {
  const auto start = Clock::now();
  const bool ok = Connection(
      *this,
      [&](SSL* ssl) {
        UniqueFd out(::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
        if (!out) return false;
        std::vector<char> buffer(kChunk);
        for (;;) {
          const int n = SSL_read(ssl, buffer.data(), static_cast<int>(buffer.size()));
          if (n <= 0) break;  // the sender's close_notify, or its socket closing
          for (int done = 0; done < n;) {
            const ssize_t w = ::write(out.Get(), buffer.data() + done, static_cast<std::size_t>(n - done));
            if (w <= 0) return false;
            done += static_cast<int>(w);
          }
        }
        return out.Close() == 0;
      },
      [&](SSL* ssl) {
        UniqueFd in(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
        if (!in) return false;
        std::vector<char> buffer(kChunk);
        for (;;) {
          const ssize_t n = ::read(in.Get(), buffer.data(), buffer.size());
          if (n < 0) return false;
          if (n == 0) return true;
          if (!WriteAll(ssl, buffer.data(), static_cast<std::size_t>(n))) return false;
        }
      });
  return ok ? std::chrono::duration<double>(Clock::now() - start).count() : -1;
}

double TlsFloor::RoundTripMicros(int count, int bytes) const {
  const std::size_t size = static_cast<std::size_t>(bytes);
  double seconds = 0;
  const bool ok = Connection(
      *this,
      [&](SSL* ssl) {
        std::vector<char> message(size);
        for (int i = 0; i < count; ++i)
          if (!ReadAll(ssl, message.data(), size) || !WriteAll(ssl, message.data(), size)) return false;
        return true;
      },
      [&](SSL* ssl) {
        std::vector<char> message(size, 'x');
        const auto start = Clock::now();
        for (int i = 0; i < count; ++i)
          if (!WriteAll(ssl, message.data(), size) || !ReadAll(ssl, message.data(), size)) return false;
        seconds = std::chrono::duration<double>(Clock::now() - start).count();
        return true;
      });
  return ok && count > 0 ? seconds / count * 1e6 : -1;
}

}  // namespace vn::bench
