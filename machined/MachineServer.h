#pragma once
// The machine service of one machine, listening: the connection front
// (platform/transport/ConnectionFront.h: the TCP port, connection limits) relaying
// to the gRPC server and handing data connections to the DataPort
// (machined/DataPort.h), which speaks TLS with the machine's identity in its
// domain and has the protocol's limits (message sizes, a bounded thread
// pool, idle and handshake time-outs) around MachineServiceImpl.
//
// Threads: Start and Wait from one thread; Shutdown from any (a signal
// handler thread, say). Failure: Start returns false with a message (no
// identity in the machine's domain, the port taken: the message names the
// Listen= setting to change).

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "platform/endpoints/MachineEndpoint.h"
#include "platform/machine/MachineConfig.h"

namespace grpc {
class Server;
}

namespace vn {

class ConnectionFront;
class DataPort;
class JobScheduler;
class MachineServiceImpl;
class ServiceManager;

class MachineServer {
 public:
  // `services` runs the machine's services; without one the service control
  // calls answer ERROR_NOT_SUPPORTED. `scheduler` keeps and runs its
  // scheduled jobs; without one the job calls answer NERR_ServiceNotInstalled.
  MachineServer(std::shared_ptr<MachineEndpoint> machine, std::shared_ptr<const MachineConfig> config,
                std::shared_ptr<ServiceManager> services = nullptr, std::shared_ptr<JobScheduler> scheduler = nullptr);
  ~MachineServer();
  MachineServer(const MachineServer&) = delete;
  MachineServer& operator=(const MachineServer&) = delete;

  // Listens on the configuration's address and port (port 0: any free one).
  [[nodiscard]] bool Start(std::string* error);
  // The port actually listened on, once started.
  std::uint16_t Port() const { return m_port; }
  // "address:port" as listened on.
  std::string Address() const;
  // Blocks until Shutdown.
  void Wait();
  // Stops accepting calls; calls in progress get a short grace, then are cancelled.
  void Shutdown();

 private:
  std::shared_ptr<const MachineConfig> m_config;
  std::unique_ptr<MachineServiceImpl> m_service;
  std::unique_ptr<DataPort> m_data;
  std::unique_ptr<grpc::Server> m_server;
  std::unique_ptr<ConnectionFront> m_front;
  std::filesystem::path m_socket;
  std::uint16_t m_port = 0;
};

}  // namespace vn
