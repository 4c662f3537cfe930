#include "machined/MachineServer.h"

#include <chrono>

#include <grpcpp/grpcpp.h>
#include <grpcpp/resource_quota.h>

#include "machined/MachineServiceImpl.h"
#include "proto/MachineProtocol.h"

namespace vn {

namespace {

// Threads for the unary calls of many consoles at once. The streams and
// relayed pipes are served by reactors that hold none (MachineServiceImpl.h).
constexpr int kMaxThreads = 64;
constexpr auto kShutdownGrace = std::chrono::seconds(2);

}  // namespace

MachineServer::MachineServer(std::shared_ptr<MachineEndpoint> machine, std::shared_ptr<const MachineConfig> config,
                             std::shared_ptr<ServiceManager> services, std::shared_ptr<JobScheduler> scheduler)
    : m_config(config),
      m_service(std::make_unique<MachineServiceImpl>(std::move(machine), std::move(config), std::move(services),
                                                     std::move(scheduler))) {}

MachineServer::~MachineServer() {
  if (m_server) {
    m_server->Shutdown(std::chrono::system_clock::now());
    m_server->Wait();
  }
}

bool MachineServer::Start(std::string* error) {
  grpc::ServerBuilder builder;
  int port = 0;
  const std::string address = m_config->listenAddress + ":" + std::to_string(m_config->port);
  builder.AddListeningPort(address, grpc::InsecureServerCredentials(), &port);
  builder.RegisterService(m_service.get());
  builder.SetMaxReceiveMessageSize(static_cast<int>(kMaxMessageBytes));
  builder.SetMaxSendMessageSize(static_cast<int>(kMaxMessageBytes));
  grpc::ResourceQuota quota("vnmachined");
  quota.SetMaxThreads(kMaxThreads);
  builder.SetResourceQuota(quota);
  // A fixed read-ahead per stream, as on the client side: a slow disk under
  // a file being written holds back at most this much.
  builder.AddChannelArgument(GRPC_ARG_HTTP2_BDP_PROBE, 0);
  builder.AddChannelArgument(GRPC_ARG_HTTP2_STREAM_LOOKAHEAD_BYTES, static_cast<int>(kStreamReadAheadBytes));
  // Clients keep long streams alive with pings every 30 s.
  builder.AddChannelArgument(GRPC_ARG_HTTP2_MIN_RECV_PING_INTERVAL_WITHOUT_DATA_MS, 10000);
  builder.AddChannelArgument(GRPC_ARG_KEEPALIVE_PERMIT_WITHOUT_CALLS, 1);
  // Only one service may own a port: without this, a second service on the
  // same port would share it with the first.
  builder.AddChannelArgument(GRPC_ARG_ALLOW_REUSEPORT, 0);
  m_server = builder.BuildAndStart();
  if (!m_server || port == 0) {
    m_server.reset();
    *error = "cannot listen on " + address;
    return false;
  }
  m_port = static_cast<std::uint16_t>(port);
  return true;
}

std::string MachineServer::Address() const { return m_config->listenAddress + ":" + std::to_string(m_port); }

void MachineServer::Wait() {
  if (m_server) m_server->Wait();
}

void MachineServer::Shutdown() {
  if (m_server) m_server->Shutdown(std::chrono::system_clock::now() + kShutdownGrace);
}

}  // namespace vn
