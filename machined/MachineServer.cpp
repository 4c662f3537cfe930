#include "machined/MachineServer.h"

#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <mutex>

#include <grpc/support/log.h>
#include <grpcpp/grpcpp.h>
#include <grpcpp/resource_quota.h>
#include <grpcpp/security/server_credentials.h>

#include "machined/DataPort.h"
#include "machined/DescriptorBudget.h"
#include "machined/MachineServiceImpl.h"
#include "platform/machine/DomainIdentity.h"
#include "platform/transport/ConnectionFront.h"
#include "proto/MachineProtocol.h"

namespace vn {

namespace {

// Threads for the unary calls of many consoles at once. The streams and
// relayed pipes are served by reactors that hold none (MachineServiceImpl.h).
constexpr int kMaxThreads = 64;
constexpr auto kShutdownGrace = std::chrono::seconds(2);
// A connection without calls for this long is closed (a client reconnects
// on its next call, at the cost of one handshake).
constexpr int kConnectionIdleMs = 60 * 1000;
// A connection must complete its TLS handshake within this.
constexpr int kHandshakeTimeoutMs = 10 * 1000;
// Data connections at once (each a thread while it lasts); fewer when the
// descriptor limit is low (DescriptorBudget).
constexpr std::size_t kMaxDataConnections = 64;

// The RPC library logs every failed handshake: anyone who can connect could
// otherwise grow the service's log without end. At most kLogLines of its
// lines a minute are kept, and how many were left out is said.
constexpr int kLogLines = 20;

void LimitedLibraryLog(gpr_log_func_args* args) {
  static std::mutex mutex;
  static std::chrono::steady_clock::time_point window;
  static int lines = 0;
  static int dropped = 0;
  std::lock_guard lock(mutex);
  const auto now = std::chrono::steady_clock::now();
  if (now - window > std::chrono::minutes(1)) {
    if (dropped > 0) std::fprintf(stderr, "vnmachined: %d messages of the RPC library left out\n", dropped);
    window = now;
    lines = 0;
    dropped = 0;
  }
  if (++lines > kLogLines) {
    ++dropped;
    return;
  }
  std::fprintf(stderr, "%s %s:%d] %s\n", gpr_log_severity_string(args->severity), args->file, args->line,
               args->message);
}

// The service's allocator keeps the memory of the buffers file chunks pass
// through. By default the C library gives blocks of a quarter MiB or more
// straight back to the system (and shrinks its heaps when their free top
// passes 128 KiB), so every chunk's buffers — TLS records, HTTP/2 frames, the
// message — were mapped anew and every page of them faulted in again:
// about a third of the service's processor time in a file copy. Blocks up to
// the largest message now come from the heaps, which keep up to 8 MiB free
// each. What the service holds at its peak is unchanged (the limits bound
// it); it only gives less back afterwards.
void KeepChunkMemory() {
  ::mallopt(M_MMAP_THRESHOLD, static_cast<int>(kMaxMessageBytes));
  ::mallopt(M_TRIM_THRESHOLD, 8 * 1024 * 1024);
}

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
  if (m_front) m_front->Stop();
  m_data.reset();  // after every stream that could hand it work has ended
  if (!m_socket.empty()) ::unlink(m_socket.c_str());
}

bool MachineServer::Start(std::string* error) {
  static std::once_flag processSettings;
  std::call_once(processSettings, [] {
    gpr_set_log_function(&LimitedLibraryLog);
    KeepChunkMemory();
  });
  DomainCredentials own;
  if (!LoadCredentials(m_config->home, m_config->domain, &own, error)) {
    *error = "no usable identity in domain " + m_config->domain + ": " + *error;
    return false;
  }
  auto members = std::make_shared<MemberCheck>(own.domain, own.authorityPem);
  m_service->TrustMembers(members);

  // The network side first: a port that is taken is the most common reason
  // not to start, and nothing else has been made yet.
  const DescriptorBudget budget = DescriptorBudget::For(DescriptorLimit());
  m_front = std::make_unique<ConnectionFront>(LimitsFor(budget.connections));
  if (!m_front->Listen(m_config->listenAddress, m_config->port, error)) {
    *error += "; give this machine another Listen= in " + (m_config->home / "machine.ini").string();
    m_front.reset();
    return false;
  }

  // Large files' bytes come on data connections of their own, diverted by
  // the front. Without them (an identity OpenSSL will not serve with) the
  // streams carry the bytes themselves.
  DataPort::Limits dataLimits;
  dataLimits.connections = std::min(budget.dataConnections, kMaxDataConnections);
  dataLimits.handshake = std::chrono::milliseconds(kHandshakeTimeoutMs);
  dataLimits.idle = std::chrono::seconds(m_config->limits.streamIdleSeconds);
  std::string dataError;
  m_data = DataPort::Create(own, members, dataLimits, &dataError);
  if (m_data) {
    m_service->UseDataPort(m_data.get());
    m_front->Divert(std::string(kDataPreamble),
                    [data = m_data.get()](UniqueFd connection, const std::string& address) {
                      data->Serve(std::move(connection), address);
                    });
  } else {
    std::fprintf(stderr, "vnmachined: no data connections: %s\n", dataError.c_str());
  }

  // The RPC server speaks TLS on a local socket of the home; only the front
  // connects to it. Callers present a certificate when they have one: the
  // handlers decide (MachineServiceImpl::Authorise), so that GetServerInfo
  // stays open and a refusal is an answer, not a broken handshake.
  const std::filesystem::path socket = std::filesystem::absolute(m_config->home / "vnmachined.sock");
  ::unlink(socket.c_str());   // a killed service's; the pid file lock says none runs
  grpc::SslServerCredentialsOptions tls(GRPC_SSL_REQUEST_CLIENT_CERTIFICATE_BUT_DONT_VERIFY);
  tls.pem_root_certs = own.authorityPem;
  tls.pem_key_cert_pairs.push_back({own.keyPem, own.certificatePem});
  grpc::ServerBuilder builder;
  int port = 0;
  builder.AddListeningPort("unix:" + socket.string(), grpc::SslServerCredentials(tls), &port);
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
  builder.AddChannelArgument(GRPC_ARG_MAX_CONNECTION_IDLE_MS, kConnectionIdleMs);
  builder.AddChannelArgument(GRPC_ARG_SERVER_HANDSHAKE_TIMEOUT_MS, kHandshakeTimeoutMs);
  m_server = builder.BuildAndStart();
  if (!m_server || port == 0) {
    m_server.reset();
    m_front.reset();
    *error = "cannot listen on " + socket.string();
    return false;
  }
  ::chmod(socket.c_str(), 0600);
  if (!m_front->Start(socket, error)) {
    m_server->Shutdown(std::chrono::system_clock::now());
    m_server->Wait();
    m_server.reset();
    m_front.reset();
    return false;
  }
  m_socket = socket;
  m_port = m_front->Port();
  return true;
}

std::string MachineServer::Address() const { return m_config->listenAddress + ":" + std::to_string(m_port); }

void MachineServer::Wait() {
  if (m_server) m_server->Wait();
}

void MachineServer::Shutdown() {
  // Calls in progress get their grace (the server returns once they are
  // done or cancelled), then the connections are closed.
  if (m_server) m_server->Shutdown(std::chrono::system_clock::now() + kShutdownGrace);
  if (m_front) m_front->Stop();
}

}  // namespace vn
