#include "platform/endpoints/MachineDirectory.h"

#include <netdb.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <cstdio>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/core/AsciiText.h"
#include "platform/endpoints/LocalMachine.h"
#include "platform/endpoints/RemoteMachine.h"
#include "platform/hive/RegistryHive.h"
#include "platform/ipc/Pipes.h"
#include "platform/machine/DomainIdentity.h"
#include "platform/machine/HostsFile.h"
#include "platform/machine/Machine.h"
#include "platform/registry/Registry.h"

namespace vn {
namespace {

// What a file looked like when it was last read: a change of any part means
// read it again.
struct FileStamp {
  std::int64_t mtime = -1;
  std::int64_t ctime = -1;
  std::int64_t size = -1;
  std::uint64_t inode = 0;
  bool operator==(const FileStamp&) const = default;
};

FileStamp Stamp(const std::filesystem::path& path) {
  struct stat st{};
  if (::stat(path.c_str(), &st) != 0) return {};
  return {static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec,
          static_cast<std::int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec,
          static_cast<std::int64_t>(st.st_size), static_cast<std::uint64_t>(st.st_ino)};
}

// This machine's identities, as the connections to other machines use them:
// one per domain, and for a machine of a domain it holds none of, the
// certificates of every domain it does hold (to trust) without an identity.
struct Identities {
  std::map<std::string, std::shared_ptr<const DomainCredentials>> byDomain;
  std::shared_ptr<const DomainCredentials> anonymous;   // null: it trusts no domain
};

// The local machine as last loaded: reloaded when the home changes or its
// configuration or identities are written (an identity file is renamed into
// place, which changes its folder).
struct LocalState {
  std::mutex mutex;
  std::filesystem::path home;
  FileStamp machineIni;
  FileStamp identityDir;
  std::shared_ptr<const MachineConfig> config;
  std::shared_ptr<MachineEndpoint> endpoint;
  std::shared_ptr<const Identities> identities;
};

LocalState& Local() {
  static LocalState state;
  return state;
}

std::shared_ptr<const Identities> LoadIdentities(const std::filesystem::path& home) {
  auto identities = std::make_shared<Identities>();
  std::vector<std::string> problems;
  std::string trusted;
  for (auto& [domain, credentials] : LoadAllCredentials(home, &problems)) {
    trusted += credentials.authorityPem;
    identities->byDomain.emplace(domain, std::make_shared<const DomainCredentials>(std::move(credentials)));
  }
  for (const auto& problem : problems) std::fprintf(stderr, "vornal: %s\n", problem.c_str());
  if (!trusted.empty()) {
    auto anonymous = std::make_shared<DomainCredentials>();
    anonymous->authorityPem = std::move(trusted);
    identities->anonymous = std::move(anonymous);
  }
  return identities;
}

// Brings the local state up to date; called with the state's mutex held.
void RefreshLocal(LocalState& state) {
  const std::filesystem::path home = MachineHome();
  const FileStamp machineIni = Stamp(home / "machine.ini");
  const FileStamp identityDir = Stamp(home / "identity");
  if (state.config && state.home == home && state.machineIni == machineIni && state.identityDir == identityDir)
    return;
  state.identities = LoadIdentities(home);
  state.identityDir = identityDir;
  auto config = std::make_shared<MachineConfig>();
  std::string error;
  if (!LoadMachineConfig(home, config.get(), &error)) {
    std::fprintf(stderr, "vornal: %s\n", error.c_str());
    // A machine whose configuration is broken keeps the last good one of the
    // same home; a new home gets the defaults with its name.
    if (state.config && state.home == home) {
      state.machineIni = machineIni;
      return;
    }
    config = std::make_shared<MachineConfig>();
    config->home = home;
    config->name = ConfiguredComputerName(home);
    config->hostsFile = home / "hosts";
  }
  state.home = home;
  state.machineIni = machineIni;
  state.config = config;
  state.endpoint = std::make_shared<LocalMachine>(config);
}

// The hosts file of the local machine, read again when it changes.
struct HostsState {
  std::mutex mutex;
  std::filesystem::path path;
  FileStamp stamp;
  HostsFile hosts;
};

std::optional<HostEntry> FindHost(const std::filesystem::path& path, std::string_view name) {
  static HostsState state;
  std::lock_guard lock(state.mutex);
  const FileStamp stamp = Stamp(path);
  if (state.path != path || !(state.stamp == stamp)) {
    state.hosts = HostsFile::Load(path);
    state.path = path;
    state.stamp = stamp;
  }
  return state.hosts.Find(name);
}

// Characters no computer name may hold.
bool ValidComputerName(std::string_view name) {
  if (name.empty() || name.size() > MAX_COMPUTERNAME_LENGTH) return false;
  for (unsigned char c : name) {
    if (c < 0x20 || c == 0x7F) return false;
    if (std::string_view("\\/:*?\"<>|,;=+[] ").find(static_cast<char>(c)) != std::string_view::npos) return false;
  }
  return true;
}

}  // namespace

std::shared_ptr<const DomainCredentials> LocalIdentity(const std::string& domain) {
  LocalState& state = Local();
  std::lock_guard lock(state.mutex);
  RefreshLocal(state);
  if (!state.identities) return nullptr;
  if (const auto it = state.identities->byDomain.find(domain); it != state.identities->byDomain.end())
    return it->second;
  return state.identities->anonymous;
}

namespace {

// Connections by machine name, for the machine home they were made from.
struct Connections {
  std::mutex mutex;
  struct Entry {
    std::filesystem::path home;
    std::string target;
    std::string domain;
    std::shared_ptr<RemoteMachine> machine;
  };
  std::map<std::string, Entry> byName;
};

Connections& Cache() {
  static Connections connections;
  return connections;
}

std::string Target(const std::string& address, std::uint16_t port) { return address + ":" + std::to_string(port); }

// RegConnectRegistryA asks only for other machines, by the bare name: an empty
// one was nothing but backslashes.
LONG ConnectRegistry(std::string_view machine, std::shared_ptr<RegistryHive>* hive) {
  if (machine.empty()) return NERR_InvalidComputer;
  std::shared_ptr<MachineEndpoint> endpoint;
  if (const LONG error = FindMachine(machine, &endpoint); error != ERROR_SUCCESS) return error;
  return endpoint->ConnectRegistry(hive);
}

// The machine a pipe name names, when it is another machine reached through
// its service; the pipe calls only ask for machines other than this one.
LONG FindPipeMachine(std::string_view machine, std::shared_ptr<RemoteMachine>* remote) {
  std::shared_ptr<MachineEndpoint> endpoint;
  if (FindMachine(machine, &endpoint) != ERROR_SUCCESS) return ERROR_BAD_NETPATH;
  *remote = std::dynamic_pointer_cast<RemoteMachine>(endpoint);
  return *remote ? ERROR_SUCCESS : ERROR_BAD_NETPATH;
}

class DirectoryPipeConnector final : public RemotePipeConnector {
 public:
  LONG Open(std::string_view machine, std::string_view pipe, DWORD desiredAccess, int* socket,
            PipeInfo* info) override {
    std::shared_ptr<RemoteMachine> remote;
    if (const LONG error = FindPipeMachine(machine, &remote); error != ERROR_SUCCESS) return error;
    return remote->OpenPipe(std::string(pipe), desiredAccess, socket, info);
  }

  LONG Wait(std::string_view machine, std::string_view pipe, DWORD timeout) override {
    std::shared_ptr<RemoteMachine> remote;
    if (const LONG error = FindPipeMachine(machine, &remote); error != ERROR_SUCCESS) return error;
    return remote->WaitPipe(std::string(pipe), timeout);
  }
};

// RegConnectRegistryA and the pipe calls reach other machines through this
// directory as soon as the platform library is loaded.
[[maybe_unused]] const bool g_connectorInstalled = [] {
  SetRemoteRegistryConnector(&ConnectRegistry);
  SetRemotePipeConnector(std::make_shared<DirectoryPipeConnector>());
  return true;
}();

}  // namespace

std::shared_ptr<const MachineConfig> LocalMachineConfig() {
  LocalState& state = Local();
  std::lock_guard lock(state.mutex);
  RefreshLocal(state);
  return state.config;
}

std::shared_ptr<MachineEndpoint> LocalMachineEndpoint() {
  LocalState& state = Local();
  std::lock_guard lock(state.mutex);
  RefreshLocal(state);
  return state.endpoint;
}

LONG FindMachine(std::string_view machine, std::shared_ptr<MachineEndpoint>* endpoint) {
  const bool prefixed = machine.starts_with("\\\\");
  if (prefixed) machine.remove_prefix(2);
  if (machine.empty() && !prefixed) {
    *endpoint = LocalMachineEndpoint();
    return ERROR_SUCCESS;
  }
  if (!ValidComputerName(machine)) return NERR_InvalidComputer;
  const std::string name = ToUpperAscii(machine);
  const auto config = LocalMachineConfig();
  if (name == config->name) {
    *endpoint = LocalMachineEndpoint();
    return ERROR_SUCCESS;
  }

  // The hosts file first, then (unless the configuration says no) the host's
  // resolver on the well-known port.
  std::string target;
  std::string domain;
  if (const auto host = FindHost(config->hostsFile, name)) {
    target = Target(host->address, host->port);
    domain = host->domain;
  } else if (!config->hostResolver) {
    return ERROR_BAD_NETPATH;
  } else {
    {
      Connections& cache = Cache();
      std::lock_guard lock(cache.mutex);
      if (const auto it = cache.byName.find(name); it != cache.byName.end() && it->second.home == config->home) {
        *endpoint = it->second.machine;
        return ERROR_SUCCESS;
      }
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(std::string(machine).c_str(), nullptr, &hints, &found) != 0 || !found)
      return ERROR_BAD_NETPATH;
    ::freeaddrinfo(found);
    target = Target(std::string(machine), kMachineServicePort);
  }

  Connections& cache = Cache();
  std::lock_guard lock(cache.mutex);
  auto& entry = cache.byName[name];
  if (!entry.machine || entry.home != config->home || entry.target != target || entry.domain != domain) {
    entry.home = config->home;
    entry.target = target;
    entry.domain = domain;
    entry.machine = std::make_shared<RemoteMachine>(name, target, domain, &LocalIdentity);
  }
  *endpoint = entry.machine;
  return ERROR_SUCCESS;
}

namespace {

// The address to reach a service listening on `address`: a wildcard address
// is reached on loopback.
std::string ReachableAddress(const std::string& address) {
  if (address == "0.0.0.0" || address.empty()) return "127.0.0.1";
  if (address == "[::]") return "[::1]";
  return address;
}

// This machine's own service, on the address and port of its configuration.
// The connection is kept while the configuration stays the same.
std::shared_ptr<RemoteMachine> LocalMachineService() {
  static std::mutex mutex;
  static std::shared_ptr<const MachineConfig> config;
  static std::shared_ptr<RemoteMachine> machine;
  const auto current = LocalMachineConfig();
  std::lock_guard lock(mutex);
  if (!machine || current != config) {
    config = current;
    const std::string target = ReachableAddress(current->listenAddress) + ":" + std::to_string(current->port);
    machine = std::make_shared<RemoteMachine>(current->name, target, current->domain, &LocalIdentity);
  }
  return machine;
}

}  // namespace

LONG FindMachineService(std::string_view machine, std::shared_ptr<RemoteMachine>* service) {
  if (machine.empty()) {
    *service = LocalMachineService();
    return ERROR_SUCCESS;
  }
  std::shared_ptr<MachineEndpoint> endpoint;
  if (const LONG error = FindMachine(machine, &endpoint)) return error;
  *service = std::dynamic_pointer_cast<RemoteMachine>(endpoint);
  // This machine by its own name: its own service all the same.
  if (!*service) *service = LocalMachineService();
  return ERROR_SUCCESS;
}

}  // namespace vn
