#include "platform/transport/DataConnection.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <sys/uio.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/core/Win32Types.h"
#include "platform/machine/Pem.h"
#include "platform/transport/SealedRecords.h"

namespace vn {

namespace {

using Clock = std::chrono::steady_clock;

struct CtxFree {
  void operator()(SSL_CTX* ctx) const { SSL_CTX_free(ctx); }
};
struct SslFree {
  void operator()(SSL* ssl) const { SSL_free(ssl); }
};
using Ctx = std::unique_ptr<SSL_CTX, CtxFree>;
using Ssl = std::unique_ptr<SSL, SslFree>;

// How many bytes of records are sent at once: sending small ones one by one
// costs a system call (and on the receiving side a wake-up) each.
constexpr std::size_t kBatchBytes = 256 * 1024;
// The exporter label of a sealed stream's keys (RFC 5705: a label not
// registered begins "EXPERIMENTAL").
constexpr std::string_view kRecordLabel = "EXPERIMENTAL vornal data records";

// The socket under a stream's TLS, as its BIO sees it: every send without
// SIGPIPE, and while a handshake runs, a deadline for the whole of it (the
// socket's own time-outs bound each read and write). TLS carries only the
// handshake, the ticket and the answer, each sent as it comes.
struct Transport {
  int fd = -1;
  Clock::time_point deadline = Clock::time_point::max();
};

int TransportRead(BIO* bio, char* out, int size) {
  auto* transport = static_cast<Transport*>(BIO_get_data(bio));
  BIO_clear_retry_flags(bio);
  for (;;) {
    if (Clock::now() > transport->deadline) {
      errno = ETIMEDOUT;
      return -1;
    }
    const ssize_t n = ::recv(transport->fd, out, static_cast<std::size_t>(size), 0);
    if (n >= 0) return static_cast<int>(n);
    if (errno != EINTR) return -1;
  }
}

int TransportWrite(BIO* bio, const char* in, int size) {
  auto* transport = static_cast<Transport*>(BIO_get_data(bio));
  BIO_clear_retry_flags(bio);
  for (;;) {
    if (Clock::now() > transport->deadline) {
      errno = ETIMEDOUT;
      return -1;
    }
    const ssize_t n = ::send(transport->fd, in, static_cast<std::size_t>(size), MSG_NOSIGNAL);
    if (n >= 0) return static_cast<int>(n);
    if (errno != EINTR) return -1;
  }
}

long TransportControl(BIO*, int command, long, void*) { return command == BIO_CTRL_FLUSH ? 1 : 0; }

int TransportCreate(BIO* bio) {
  BIO_set_init(bio, 1);
  return 1;
}

const BIO_METHOD* TransportMethod() {
  static const BIO_METHOD* method = [] {
    BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "vornal data connection");
    BIO_meth_set_read(m, &TransportRead);
    BIO_meth_set_write(m, &TransportWrite);
    BIO_meth_set_ctrl(m, &TransportControl);
    BIO_meth_set_create(m, &TransportCreate);
    return m;  // lives as long as the process
  }();
  return method;
}

void SetSocketTimeout(int fd, std::chrono::milliseconds timeout) {
  timeval tv{};
  tv.tv_sec = static_cast<time_t>(timeout.count() / 1000);
  tv.tv_usec = static_cast<suseconds_t>(timeout.count() % 1000 * 1000);
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

// A context presenting `own` and trusting only its domain's authority, TLS
// 1.3 only, as the RPC connections are.
Ctx MakeContext(const DomainCredentials& own, bool server) {
  Ctx ctx(SSL_CTX_new(server ? TLS_server_method() : TLS_client_method()));
  if (!ctx) return {};
  const pem::Cert certificate = pem::ReadCert(own.certificatePem);
  const pem::Cert authority = pem::ReadCert(own.authorityPem);
  const pem::Key key = pem::ReadKey(own.keyPem);
  if (!certificate || !authority || !key || SSL_CTX_set_min_proto_version(ctx.get(), TLS1_3_VERSION) != 1 ||
      SSL_CTX_use_certificate(ctx.get(), certificate.get()) != 1 ||
      SSL_CTX_use_PrivateKey(ctx.get(), key.get()) != 1 || SSL_CTX_check_private_key(ctx.get()) != 1 ||
      X509_STORE_add_cert(SSL_CTX_get_cert_store(ctx.get()), authority.get()) != 1) {
    ERR_clear_error();
    return {};
  }
  SSL_CTX_set_verify(ctx.get(), SSL_VERIFY_PEER | (server ? SSL_VERIFY_FAIL_IF_NO_PEER_CERT : 0), nullptr);
  // One connection per ticket: nothing to resume, so no session tickets (they
  // would also be bytes the client never reads).
  SSL_CTX_set_session_cache_mode(ctx.get(), SSL_SESS_CACHE_OFF);
  SSL_CTX_set_num_tickets(ctx.get(), 0);
  // The protocol ends with its own frame and status: no close_notify.
  SSL_CTX_set_quiet_shutdown(ctx.get(), 1);
  return ctx;
}

// Splits "host:port" or "[v6]:port".
bool SplitTarget(const std::string& target, std::string* host, std::string* port) {
  const auto colon = target.rfind(':');
  if (colon == std::string::npos || colon + 1 == target.size()) return false;
  *host = target.substr(0, colon);
  *port = target.substr(colon + 1);
  if (host->size() >= 2 && host->front() == '[' && host->back() == ']') *host = host->substr(1, host->size() - 2);
  return !host->empty();
}

// A connected blocking TCP socket to `target`, or an invalid one with *error.
UniqueFd ConnectTcp(const std::string& target, std::chrono::milliseconds timeout, std::uint32_t* error) {
  std::string host, port;
  *error = ERROR_BAD_NETPATH;
  if (!SplitTarget(target, &host, &port)) return {};
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* found = nullptr;
  if (::getaddrinfo(host.c_str(), port.c_str(), &hints, &found) != 0 || !found) return {};
  std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> list(found, &::freeaddrinfo);
  for (const addrinfo* at = found; at; at = at->ai_next) {
    UniqueFd fd(::socket(at->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd) continue;
    if (::connect(fd.Get(), at->ai_addr, at->ai_addrlen) != 0) {
      if (errno != EINPROGRESS) continue;
      pollfd p{fd.Get(), POLLOUT, 0};
      int failure = 0;
      socklen_t length = sizeof failure;
      const int ready = ::poll(&p, 1, static_cast<int>(timeout.count()));
      if (ready == 0) *error = ERROR_SEM_TIMEOUT;
      if (ready <= 0 || ::getsockopt(fd.Get(), SOL_SOCKET, SO_ERROR, &failure, &length) != 0 || failure != 0)
        continue;
    }
    ::fcntl(fd.Get(), F_SETFL, ::fcntl(fd.Get(), F_GETFL) & ~O_NONBLOCK);
    const int one = 1;
    ::setsockopt(fd.Get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    *error = ERROR_SUCCESS;
    return fd;
  }
  return {};
}

bool SendAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

// Fills every part of `parts` from the socket; false when it closed, failed
// or stalled (its receive time-out) first.
bool ReceiveAll(int fd, iovec* parts, std::size_t count) {
  while (count > 0) {
    if (parts->iov_len == 0) {
      ++parts;
      --count;
      continue;
    }
    msghdr message{};
    message.msg_iov = parts;
    message.msg_iovlen = count;
    const ssize_t n = ::recvmsg(fd, &message, MSG_WAITALL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    for (auto left = static_cast<std::size_t>(n); left > 0;) {
      const std::size_t taken = std::min(left, parts->iov_len);
      parts->iov_base = static_cast<char*>(parts->iov_base) + taken;
      parts->iov_len -= taken;
      left -= taken;
      if (parts->iov_len == 0) {
        ++parts;
        --count;
      }
    }
  }
  return true;
}

}  // namespace

struct TlsContext::Impl {
  Ctx ctx;
};

TlsContext::TlsContext(std::unique_ptr<Impl> impl) : m_impl(std::move(impl)) {}
TlsContext::~TlsContext() = default;

std::unique_ptr<TlsContext> TlsContext::Server(const DomainCredentials& own, std::string* error) {
  auto impl = std::make_unique<Impl>();
  impl->ctx = MakeContext(own, true);
  if (!impl->ctx) {
    *error = "the identity in domain " + own.domain + " cannot serve data connections";
    return nullptr;
  }
  return std::unique_ptr<TlsContext>(new TlsContext(std::move(impl)));
}

std::unique_ptr<TlsContext> TlsContext::Client(const DomainCredentials& own, std::string* error) {
  auto impl = std::make_unique<Impl>();
  impl->ctx = MakeContext(own, false);
  if (!impl->ctx) {
    *error = "the identity in domain " + own.domain + " cannot open data connections";
    return nullptr;
  }
  return std::unique_ptr<TlsContext>(new TlsContext(std::move(impl)));
}

// Destroyed in reverse: the TLS state (and its BIO) before the transport it
// points at, both before the socket is closed (when the stream owns it).
struct TlsStream::Impl {
  UniqueFd owned;
  Transport transport;
  Ssl ssl;

  // Once sealed: the two directions' ciphers, the records waiting to be
  // sent, and a record opened but not yet all read.
  std::unique_ptr<RecordCipher> sealer;
  std::unique_ptr<RecordCipher> opener;
  std::unique_ptr<unsigned char[]> out;
  std::size_t outUsed = 0;
  std::unique_ptr<unsigned char[]> record;
  std::size_t recordAt = 0;
  std::size_t recordEnd = 0;
  bool broken = false;  // a sealed read or write failed: so does every later one

  static constexpr std::size_t kOutBytes = kBatchBytes + kMaxRecordBytes + kRecordOverheadBytes;

  bool Fail() {
    broken = true;
    return false;
  }

  bool Flush() {
    if (broken) return false;
    if (outUsed > 0 && !SendAll(transport.fd, {reinterpret_cast<const char*>(out.get()), outUsed})) broken = true;
    outUsed = 0;
    return !broken;
  }

  bool QueueSealed(const unsigned char* at, std::size_t size) {
    while (size > 0 && !broken) {
      const std::size_t n = std::min(size, kMaxRecordBytes);
      if (outUsed + n + kRecordOverheadBytes > kOutBytes && !Flush()) return false;
      if (!sealer->Seal({at, n}, out.get() + outUsed)) broken = true;
      outUsed += n + kRecordOverheadBytes;
      at += n;
      size -= n;
      if (outUsed >= kBatchBytes) Flush();
    }
    return !broken;
  }

  bool ReadSealed(unsigned char* at, std::size_t size) {
    if (!Flush()) return false;  // what the peer waits for goes first
    while (size > 0 && !broken) {
      if (recordAt < recordEnd) {
        const std::size_t n = std::min(size, recordEnd - recordAt);
        std::memcpy(at, record.get() + recordAt, n);
        recordAt += n;
        at += n;
        size -= n;
        continue;
      }
      unsigned char header[kRecordHeaderBytes];
      iovec head{header, sizeof header};
      if (!ReceiveAll(transport.fd, &head, 1)) return Fail();
      const std::size_t length = GetU32(header);
      if (length > kMaxRecordBytes) return Fail();
      // A record the caller takes whole is read and opened in its buffer;
      // a larger one is kept, and given out over several reads.
      const bool whole = length <= size;
      unsigned char* into = at;
      if (!whole) {
        if (!record) record = std::make_unique<unsigned char[]>(kMaxRecordBytes);
        into = record.get();
      }
      unsigned char tag[kRecordTagBytes];
      iovec parts[2] = {{into, length}, {tag, sizeof tag}};
      if (!ReceiveAll(transport.fd, parts, 2) || !opener->Open({into, length}, tag)) return Fail();
      if (whole) {
        at += length;
        size -= length;
      } else {
        recordAt = 0;
        recordEnd = length;
      }
    }
    return !broken;
  }

  // Gives the socket to a new TLS state of `ctx`, the handshake bounded by `handshake`.
  bool Attach(SSL_CTX* ctx, int fd, std::chrono::milliseconds handshake) {
    transport.fd = fd;
    transport.deadline = Clock::now() + handshake;
    SetSocketTimeout(fd, handshake);
    ssl.reset(SSL_new(ctx));
    BIO* bio = ssl ? BIO_new(TransportMethod()) : nullptr;
    if (!bio) return false;
    BIO_set_data(bio, &transport);
    SSL_set_bio(ssl.get(), bio, bio);
    return true;
  }
  void HandshakeDone(std::chrono::milliseconds timeout) {
    transport.deadline = Clock::time_point::max();
    SetSocketTimeout(transport.fd, timeout);
  }
};

TlsStream::TlsStream(std::unique_ptr<Impl> impl) : m_impl(std::move(impl)) {}
TlsStream::~TlsStream() = default;

std::unique_ptr<TlsStream> TlsStream::Connect(const std::string& target, const TlsContext& context,
                                              const std::string& machine, std::chrono::milliseconds timeout,
                                              std::uint32_t* error) {
  UniqueFd socket = ConnectTcp(target, timeout, error);
  if (!socket) return nullptr;
  *error = ERROR_NETNAME_DELETED;
  if (!SendAll(socket.Get(), kDataPreamble)) return nullptr;
  auto impl = std::make_unique<Impl>();
  impl->owned = std::move(socket);
  if (!impl->Attach(context.m_impl->ctx.get(), impl->owned.Get(), timeout) ||
      SSL_set1_host(impl->ssl.get(), machine.c_str()) != 1) {
    *error = ERROR_ACCESS_DENIED;
    ERR_clear_error();
    return nullptr;
  }
  const int result = SSL_connect(impl->ssl.get());
  if (result != 1) {
    const int savedErrno = errno;
    const int kind = SSL_get_error(impl->ssl.get(), result);
    const bool closed = kind == SSL_ERROR_SYSCALL ||
                        ERR_GET_REASON(ERR_peek_error()) == SSL_R_UNEXPECTED_EOF_WHILE_READING;
    if (SSL_get_verify_result(impl->ssl.get()) != X509_V_OK || !closed)
      *error = ERROR_ACCESS_DENIED;  // a certificate refused on either side
    else if (savedErrno == EAGAIN || savedErrno == ETIMEDOUT)
      *error = ERROR_SEM_TIMEOUT;
    // else closed before the handshake ended: ERROR_NETNAME_DELETED
    ERR_clear_error();
    return nullptr;
  }
  impl->HandshakeDone(timeout);
  *error = ERROR_SUCCESS;
  return std::unique_ptr<TlsStream>(new TlsStream(std::move(impl)));
}

std::unique_ptr<TlsStream> TlsStream::Accept(int socket, const TlsContext& context,
                                             std::chrono::milliseconds handshake) {
  auto impl = std::make_unique<Impl>();
  ::fcntl(socket, F_SETFL, ::fcntl(socket, F_GETFL) & ~O_NONBLOCK);
  const int one = 1;
  ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  if (!impl->Attach(context.m_impl->ctx.get(), socket, handshake) || SSL_accept(impl->ssl.get()) != 1) {
    ERR_clear_error();
    return nullptr;
  }
  impl->HandshakeDone(handshake);
  return std::unique_ptr<TlsStream>(new TlsStream(std::move(impl)));
}

bool TlsStream::Seal() {
  Impl& impl = *m_impl;
  if (impl.sealer) return true;
  // Reading TLS takes one record at a time (no read-ahead), so that nothing
  // sealed the peer sent after its last TLS record is left in TLS's buffers.
  if (SSL_has_pending(impl.ssl.get())) return false;
  unsigned char keys[2 * (kRecordKeyBytes + kRecordNonceBytes)];
  if (SSL_export_keying_material(impl.ssl.get(), keys, sizeof keys, kRecordLabel.data(), kRecordLabel.size(),
                                 nullptr, 0, 0) != 1) {
    ERR_clear_error();
    return false;
  }
  const std::span<const unsigned char> all(keys);
  const auto clientKey = all.subspan(0, kRecordKeyBytes);
  const auto serverKey = all.subspan(kRecordKeyBytes, kRecordKeyBytes);
  const auto clientNonce = all.subspan(2 * kRecordKeyBytes, kRecordNonceBytes);
  const auto serverNonce = all.subspan(2 * kRecordKeyBytes + kRecordNonceBytes, kRecordNonceBytes);
  const bool server = SSL_is_server(impl.ssl.get()) == 1;
  impl.sealer = RecordCipher::Sealer(server ? serverKey : clientKey, server ? serverNonce : clientNonce);
  impl.opener = RecordCipher::Opener(server ? clientKey : serverKey, server ? clientNonce : serverNonce);
  OPENSSL_cleanse(keys, sizeof keys);
  if (!impl.sealer || !impl.opener) {
    impl.sealer.reset();
    impl.opener.reset();
    return false;
  }
  impl.out = std::make_unique<unsigned char[]>(Impl::kOutBytes);
  return true;
}

void TlsStream::SetTimeout(std::chrono::milliseconds timeout) { SetSocketTimeout(m_impl->transport.fd, timeout); }

bool TlsStream::Write(const void* data, std::size_t size) {
  if (!Queue(data, size)) return false;
  return !m_impl->sealer || m_impl->Flush();
}

namespace {

// All of `size` bytes through TLS by `call` (SSL_read_ex or SSL_write_ex),
// which may take them in parts.
template <typename Byte, typename Call>
bool AllThrough(SSL* ssl, Byte* at, std::size_t size, Call call) {
  while (size > 0) {
    std::size_t done = 0;
    if (call(ssl, at, size, &done) != 1) {
      ERR_clear_error();
      return false;
    }
    at += done;
    size -= done;
  }
  return true;
}

}  // namespace

bool TlsStream::Queue(const void* data, std::size_t size) {
  const auto* at = static_cast<const unsigned char*>(data);
  return m_impl->sealer ? m_impl->QueueSealed(at, size) : AllThrough(m_impl->ssl.get(), at, size, &SSL_write_ex);
}

bool TlsStream::Read(void* data, std::size_t size) {
  auto* at = static_cast<unsigned char*>(data);
  return m_impl->sealer ? m_impl->ReadSealed(at, size) : AllThrough(m_impl->ssl.get(), at, size, &SSL_read_ex);
}

bool TlsStream::Readable() const {
  if (m_impl->recordAt < m_impl->recordEnd || SSL_pending(m_impl->ssl.get()) > 0) return true;
  pollfd p{m_impl->transport.fd, POLLIN, 0};
  return ::poll(&p, 1, 0) > 0;
}

std::string TlsStream::PeerCertificate() const {
  X509* peer = SSL_get0_peer_certificate(m_impl->ssl.get());
  return peer ? pem::CertPem(peer) : std::string();
}

void TlsStream::Abort() { ::shutdown(m_impl->transport.fd, SHUT_RDWR); }

void PutU32(std::uint32_t value, unsigned char* out) {
  for (int i = 0; i < 4; ++i) out[i] = static_cast<unsigned char>(value >> (8 * i));
}
void PutU64(std::uint64_t value, unsigned char* out) {
  for (int i = 0; i < 8; ++i) out[i] = static_cast<unsigned char>(value >> (8 * i));
}
std::uint32_t GetU32(const unsigned char* in) {
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = value << 8 | in[i];
  return value;
}
std::uint64_t GetU64(const unsigned char* in) {
  std::uint64_t value = 0;
  for (int i = 7; i >= 0; --i) value = value << 8 | in[i];
  return value;
}

}  // namespace vn
