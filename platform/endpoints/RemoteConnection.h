#pragma once
// The connection to another machine's service that every call of RemoteMachine
// goes through: the channel (made again after a transport failure), the
// proof of the domain secret, one unary call, and what a transport status
// means to the caller. Private to the platform library's remote calls
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
#include "proto/MachineAuth.h"
#include "proto/MachineProtocol.h"

namespace vn {

namespace pb = vornal::machine;

inline constexpr auto kCallDeadline = std::chrono::seconds(30);
inline constexpr int kConnectTimeoutMs = 5000;

// What the transport's status means to the caller (the table in RemoteMachine.h).
// `midStream`: the call had already received part of its answer.
LONG MapStatus(const grpc::Status& status, bool midStream);

// Statuses after which the connection is made anew for the next call.
bool IsTransportFailure(const grpc::Status& status);

// Keeps the connection of `channel` watched while the channel lives, so that
// a machine service that went away is noticed when it happens, not by the
// next call (which would otherwise be sent on the dead connection and fail).
void WatchChannel(const std::shared_ptr<grpc::Channel>& channel);

// The channel to the machine's service and what every call needs: the domain
// to prove the secret of and where the secret comes from.
class RemoteMachine::Connection : public std::enable_shared_from_this<RemoteMachine::Connection> {
 public:
  Connection(std::string name, std::string target, std::string domain, SecretLookup secrets)
      : m_name(std::move(name)), m_target(std::move(target)), m_domain(std::move(domain)),
        m_secrets(std::move(secrets)) {}

  const std::string& Name() const { return m_name; }
  const std::string& Target() const { return m_target; }

  // The stub of the current channel; a new channel after a transport failure.
  std::shared_ptr<pb::Machine::Stub> Stub() {
    std::lock_guard lock(m_mutex);
    if (!m_stub) {
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
      auto channel = grpc::CreateCustomChannel(m_target, grpc::InsecureChannelCredentials(), args);
      WatchChannel(channel);
      m_stub = std::make_shared<pb::Machine::Stub>(channel);
    }
    return m_stub;
  }

  void Failed(const std::shared_ptr<pb::Machine::Stub>& stub, const grpc::Status& status) {
    if (!IsTransportFailure(status)) return;
    std::lock_guard lock(m_mutex);
    if (m_stub == stub) m_stub.reset();
  }

  // Prepares a context for `method`: a deadline for unary calls, and the proof
  // of the domain secret for every call but GetServerInfo. Without a secret
  // for the domain the call goes unsigned and the machine refuses it.
  LONG Prepare(grpc::ClientContext* context, std::string_view method, bool unary) {
    if (unary) context->set_deadline(std::chrono::system_clock::now() + kCallDeadline);
    if (method == "GetServerInfo") return ERROR_SUCCESS;
    std::string domain;
    if (const LONG error = Domain(&domain); error != ERROR_SUCCESS) return error;
    if (auto secret = m_secrets ? m_secrets(domain) : std::nullopt; secret && !secret->empty())
      SignCall(context, method, domain, *secret);
    return ERROR_SUCCESS;
  }

  template <typename Request, typename Reply>
  using UnaryMethod = grpc::Status (pb::Machine::Stub::*)(grpc::ClientContext*, const Request&, Reply*);

  // One unary call; the reply's own error when the call went through.
  template <typename Request, typename Reply>
  LONG Call(std::string_view method, UnaryMethod<Request, Reply> fn, const Request& request, Reply* reply) {
    grpc::ClientContext context;
    if (const LONG error = Prepare(&context, method, true); error != ERROR_SUCCESS) return error;
    auto stub = Stub();
    const grpc::Status status = ((*stub).*fn)(&context, request, reply);
    if (!status.ok()) {
      Failed(stub, status);
      return MapStatus(status, false);
    }
    return static_cast<LONG>(reply->error());
  }

 private:
  LONG Domain(std::string* domain) {
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
  SecretLookup m_secrets;
  std::shared_ptr<pb::Machine::Stub> m_stub;
};


}  // namespace vn
