#pragma once
// The connection to another machine's service that every call of RemoteMachine
// goes through: the TLS channel (made again after a transport failure or when
// this machine's identities change), one unary call, and what a transport
// status means to the caller. Private to the platform library's remote calls
// (RemoteMachine.cpp, RemotePipe.cpp).

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include <grpcpp/grpcpp.h>

#include "machine.grpc.pb.h"
#include "platform/endpoints/RemoteMachine.h"
#include "platform/core/AsciiText.h"
#include "platform/machine/DomainIdentity.h"
#include "platform/transport/DataConnection.h"
#include "proto/MachineProtocol.h"

namespace vn {

namespace pb = vornal::machine;

inline constexpr auto kCallDeadline = std::chrono::seconds(30);
inline constexpr int kConnectTimeoutMs = 5000;

// What the transport's status means to the caller (the table in RemoteMachine.h).
// `midStream`: the call had already received part of its answer.
LONG MapStatus(const grpc::Status& status, bool midStream);

// A connection that reached the machine but whose TLS handshake failed.
bool IsHandshakeFailure(const grpc::Status& status);

// The certificate of an authority made for this process and forgotten: what a
// machine that trusts no domain trusts.
const std::string& UntrustedAuthority();

// Statuses after which the connection is made anew for the next call.
bool IsTransportFailure(const grpc::Status& status);

// A call that failed on a connection the other end had closed (its machine
// service stopped, or killed and started again) before any answer came. Such
// a connection is only found dead when a call is sent on it, since no thread
// may have read it since the last call; a call that may be sent twice without
// harm is then sent once more, on a new connection (SendAgain).
bool ConnectionWasClosed(const grpc::Status& status);

// Unary methods that change nothing, or nothing more when they are sent a
// second time (a value set to what it already is, a key created or opened).
bool SafeToRepeat(std::string_view method);

// Whether a call whose attempt number `attempt` (0 the first) failed with
// `status` before any answer is sent again: once, for a closed connection.
inline bool SendAgain(int attempt, const grpc::Status& status) {
  return attempt == 0 && ConnectionWasClosed(status);
}

// Keeps the connection of `channel` watched while the channel lives, so that
// a machine service that went away is noticed when it happens, not by the
// next call (which would otherwise be sent on the dead connection and fail).
void WatchChannel(const std::shared_ptr<grpc::Channel>& channel);

// Marks, for its lifetime, a thread of this process waiting on a call or
// stream to another machine. gRPC reads the connections on whichever thread
// polls them; while any thread waits on a call, the channel watcher stays
// out of the way, so that a reply is read by the thread waiting for it
// instead of by the watcher, which would then have to wake that thread (a
// thread switch per reply, a sixth of a registry round trip). The watcher
// takes up its watch again once no call has been waiting for a moment.
class CallInProgress {
 public:
  CallInProgress();
  ~CallInProgress();
  CallInProgress(const CallInProgress&) = delete;
  CallInProgress& operator=(const CallInProgress&) = delete;
};

// The channel to the machine's service and what every call needs: the domain
// to prove membership of and where this machine's identities come from.
class RemoteMachine::Connection : public std::enable_shared_from_this<RemoteMachine::Connection> {
 public:
  Connection(std::string name, std::string target, std::string domain, IdentityLookup identities)
      : m_name(std::move(name)), m_target(std::move(target)), m_domain(std::move(domain)),
        m_identities(std::move(identities)) {}

  const std::string& Name() const { return m_name; }
  const std::string& Target() const { return m_target; }

  // The stub of the current channel; a new channel after a transport failure
  // or when the identity to use changed.
  std::shared_ptr<pb::Machine::Stub> Stub() {
    std::shared_ptr<const DomainCredentials> identity = Identity();
    std::lock_guard lock(m_mutex);
    if (!m_stub || identity != m_stubIdentity) {
      grpc::ChannelArguments args;
      args.SetMaxReceiveMessageSize(static_cast<int>(kMaxMessageBytes));
      args.SetMaxSendMessageSize(static_cast<int>(kMaxMessageBytes));
      // Our own subchannels, so a new channel never inherits the back-off of a
      // dead one; a restarted service is found again within a fraction of a second.
      args.SetInt(GRPC_ARG_USE_LOCAL_SUBCHANNEL_POOL, 1);
      args.SetInt(GRPC_ARG_INITIAL_RECONNECT_BACKOFF_MS, 100);
      args.SetInt(GRPC_ARG_MIN_RECONNECT_BACKOFF_MS, kConnectTimeoutMs);
      args.SetInt(GRPC_ARG_MAX_RECONNECT_BACKOFF_MS, 2000);
      // A fixed read-ahead per stream instead of a window that grows with the
      // measured bandwidth: a reader slower than the network (a copy to a
      // slow disk) then holds at most this much, however large the file.
      args.SetInt(GRPC_ARG_HTTP2_BDP_PROBE, 0);
      args.SetInt(GRPC_ARG_HTTP2_STREAM_LOOKAHEAD_BYTES, static_cast<int>(kStreamReadAheadBytes));
      args.SetInt(GRPC_ARG_KEEPALIVE_TIME_MS, 30000);
      args.SetInt(GRPC_ARG_KEEPALIVE_TIMEOUT_MS, 20000);
      // The machine must present a certificate naming it, issued by its
      // domain: the address alone (often a loopback one) proves nothing.
      args.SetSslTargetNameOverride(ToUpperAscii(m_name));
      grpc::SslCredentialsOptions tls;
      if (identity && !identity->authorityPem.empty()) {
        tls.pem_root_certs = identity->authorityPem;
        tls.pem_private_key = identity->keyPem;
        tls.pem_cert_chain = identity->certificatePem;
      } else {
        // Trusting no domain, this machine can check no one: it still
        // connects (a machine that is down is then told from one that cannot
        // prove itself) but trusts only an authority nobody holds the key of.
        tls.pem_root_certs = UntrustedAuthority();
      }
      auto channel = grpc::CreateCustomChannel(m_target, grpc::SslCredentials(tls), args);
      WatchChannel(channel);
      m_stub = std::make_shared<pb::Machine::Stub>(channel);
      m_stubIdentity = std::move(identity);
    }
    return m_stub;
  }

  void Failed(const std::shared_ptr<pb::Machine::Stub>& stub, const grpc::Status& status) {
    if (!IsTransportFailure(status)) return;
    std::lock_guard lock(m_mutex);
    if (m_stub == stub) m_stub.reset();
  }

  // Prepares a context for `method`: a deadline for unary calls, and the
  // machine's domain known for every call but GetServerInfo, so that the
  // connection carries this machine's identity in it. A machine that holds
  // no identity in the domain still connects and is refused (by the service,
  // or by its own check of the service's certificate).
  [[nodiscard]] LONG Prepare(grpc::ClientContext* context, std::string_view method, bool unary) {
    if (unary) context->set_deadline(std::chrono::system_clock::now() + kCallDeadline);
    if (method == "GetServerInfo") return ERROR_SUCCESS;
    std::string domain;
    return Domain(&domain);
  }

  // This machine's identity for the machine's domain (while the domain is not
  // known: the domains it trusts). Data connections present it too.
  std::shared_ptr<const DomainCredentials> Identity() {
    std::string domain;
    {
      std::lock_guard lock(m_mutex);
      domain = m_domain;
    }
    return m_identities ? m_identities(domain) : nullptr;
  }

  // The TLS settings of data connections to the machine as `identity`, made
  // once for each identity (null when it cannot be used).
  std::shared_ptr<const TlsContext> DataContext(const std::shared_ptr<const DomainCredentials>& identity) {
    std::lock_guard lock(m_mutex);
    if (identity != m_dataIdentity) {
      std::string error;
      m_dataContext = identity ? TlsContext::Client(*identity, &error) : nullptr;
      m_dataIdentity = identity;
    }
    return m_dataContext;
  }

  template <typename Request, typename Reply>
  using UnaryMethod = grpc::Status (pb::Machine::Stub::*)(grpc::ClientContext*, const Request&, Reply*);

  // One unary call; the reply's own error when the call went through. A
  // method that is SafeToRepeat goes once more when the connection it was sent
  // on turns out closed.
  template <typename Request, typename Reply>
  [[nodiscard]] LONG Call(std::string_view method, UnaryMethod<Request, Reply> fn, const Request& request,
                          Reply* reply) {
    for (int attempt = 0;; ++attempt) {
      grpc::ClientContext context;
      if (const LONG error = Prepare(&context, method, true); error != ERROR_SUCCESS) return error;
      auto stub = Stub();
      grpc::Status status;
      {
        const CallInProgress waiting;
        status = ((*stub).*fn)(&context, request, reply);
      }
      if (status.ok()) return static_cast<LONG>(reply->error());
      Failed(stub, status);
      if (!SendAgain(attempt, status) || !SafeToRepeat(method)) return MapStatus(status, false);
      reply->Clear();
    }
  }

 private:
  [[nodiscard]] LONG Domain(std::string* domain) {
    {
      std::lock_guard lock(m_mutex);
      if (!m_domain.empty()) {
        *domain = m_domain;
        return ERROR_SUCCESS;
      }
    }
    pb::ServerInfoReply reply;
    if (const LONG error = Call("GetServerInfo", &pb::Machine::Stub::GetServerInfo, pb::ServerInfoRequest(), &reply);
        error != ERROR_SUCCESS)
      return error;
    std::lock_guard lock(m_mutex);
    m_domain = reply.server().domain();
    *domain = m_domain;
    return ERROR_SUCCESS;
  }

  const std::string m_name;
  const std::string m_target;
  std::mutex m_mutex;
  std::string m_domain;
  IdentityLookup m_identities;
  std::shared_ptr<pb::Machine::Stub> m_stub;
  std::shared_ptr<const DomainCredentials> m_stubIdentity;   // what m_stub's channel was made with
  std::shared_ptr<const DomainCredentials> m_dataIdentity;   // what m_dataContext was made with
  std::shared_ptr<const TlsContext> m_dataContext;
};


}  // namespace vn
