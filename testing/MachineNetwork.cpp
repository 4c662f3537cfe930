#include "testing/MachineNetwork.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <set>
#include <sstream>

#include "platform/core/Process.h"
#include "platform/core/UniqueFd.h"
#include "testing/TestFiles.h"

namespace vn::testing {

namespace {

constexpr auto kStartTimeout = std::chrono::seconds(10);
// A polite stop: the server's grace for calls in progress, then the services'
// own stop (SIGTERM, SIGKILL after 10 s).
constexpr auto kStopTimeout = std::chrono::seconds(30);

// A loopback port that is free now, picked at random below the host's range of
// ephemeral ports (/proc/sys/net/ipv4/ip_local_port_range), so that no
// outgoing connection of this or another process can take it before the
// service binds it. Ports already handed out in this process are skipped.
std::uint16_t FreePort() {
  static std::set<std::uint16_t> handedOut;
  unsigned firstEphemeral = 32768;
  if (std::ifstream range("/proc/sys/net/ipv4/ip_local_port_range"); range) range >> firstEphemeral;
  const unsigned low = 10000;
  const unsigned high = std::max(firstEphemeral, low + 1000);
  static std::mt19937 random(std::random_device{}());
  for (int attempt = 0; attempt < 200; ++attempt) {
    const auto port = static_cast<std::uint16_t>(std::uniform_int_distribution<unsigned>(low, high - 1)(random));
    if (port == kMachineServicePort || handedOut.contains(port)) continue;
    const UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd) break;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (::bind(fd.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
      handedOut.insert(port);
      return port;
    }
  }
  ADD_FAILURE() << "no free loopback port";
  return 0;
}

const char* RoleName(MachineRole role) {
  switch (role) {
    case MachineRole::Workstation: return "workstation";
    case MachineRole::Server: return "server";
    case MachineRole::PrimaryDomainController: return "pdc";
    case MachineRole::BackupDomainController: return "bdc";
  }
  return "server";
}

}  // namespace

struct MachineNetwork::Process {
  pid_t pid = 0;
};

MachineNetwork::MachineNetwork(std::string consoleDomain) {
  m_root = std::filesystem::path(m_dir.path().toStdString());
  m_hostsFile = m_root / "hosts";
  m_sanitizerDir = m_root / "sanitizer";
  std::filesystem::create_directories(m_sanitizerDir);
  m_machines.push_back(Create({"CONSOLE", consoleDomain, MachineRole::Workstation, {}, {}}));
  WriteHostsFile();
  WriteIdentities(m_machines.front());
  m_local.emplace(m_machines.front().home);
}

MachineNetwork::~MachineNetwork() {
  // Politely, so that each machine stops its services: nothing outlives the test.
  for (const auto& machine : m_machines)
    if (IsRunning(machine.name)) Stop(machine.name);
  CheckSanitizerReports();
}

void MachineNetwork::CheckSanitizerReports() {
  std::error_code ec;
  std::vector<std::filesystem::path> reports;
  for (const auto& entry : std::filesystem::directory_iterator(m_sanitizerDir, ec))
    if (entry.is_regular_file(ec)) reports.push_back(entry.path());
  std::sort(reports.begin(), reports.end());
  for (const auto& report : reports) {
    const std::string text = ReadText(report);
    if (!text.empty())
      ADD_FAILURE() << "a sanitizer report from a service of the test network (" << report.filename().string()
                    << "):\n" << text;
    std::filesystem::remove(report, ec);
  }
}

TestMachine MachineNetwork::Create(const TestMachineOptions& wanted) {
  const std::string& name = wanted.name;
  const std::string& domain = wanted.domain;
  const auto& shares = wanted.shares;
  const MachineRole role = wanted.role;
  TestMachine machine;
  machine.name = name;
  machine.domain = domain;
  machine.role = role;
  machine.serviceArguments = wanted.serviceArguments;
  const auto base = m_root / name;
  machine.home = base / "home";
  machine.driveC = base / "C";
  machine.driveD = base / "D";
  machine.port = FreePort();
  for (const auto& dir : {machine.home, machine.driveC, machine.driveD}) std::filesystem::create_directories(dir);
  std::ofstream ini(machine.home / "machine.ini");
  ini << "[Machine]\nName=" << name << "\nDomain=" << domain << "\nRole=" << RoleName(role)
      << "\nListen=127.0.0.1:" << machine.port << "\nHostsFile=" << m_hostsFile.string()
      << "\nHostResolver=no\n\n[Drives]\nC=" << machine.driveC.string() << ",fixed\nD=" << machine.driveD.string()
      << ",fixed\n";
  if (!shares.empty()) {
    ini << "\n[Shares]\n";
    for (const auto& share : shares) {
      std::filesystem::create_directories(machine.ShareDir(share));
      ini << share << "=D:\\" << share << "\n";
    }
  }
  Authority(domain);
  return machine;
}

const TestMachine& MachineNetwork::Add(const TestMachineOptions& wanted) {
  if (FindConst(wanted.name)) ADD_FAILURE() << "machine " << wanted.name << " added twice";
  const bool newDomain = !m_authorities.contains(wanted.domain);
  m_machines.push_back(Create(wanted));
  WriteHostsFile();
  if (newDomain) {
    for (const auto& machine : m_machines) WriteIdentities(machine);
  } else {
    WriteIdentities(m_machines.back());
  }
  return m_machines.back();
}

const DomainAuthority& MachineNetwork::Authority(const std::string& domain) {
  auto [it, added] = m_authorities.try_emplace(domain);
  if (added) {
    std::string error;
    if (!CreateAuthority(domain, &it->second, &error)) ADD_FAILURE() << error;
  }
  return it->second;
}

void MachineNetwork::SetIdentity(const std::string& machine, const std::string& domain, TestIdentity identity) {
  m_overrides[machine][domain] = identity;
  WriteIdentities(Find(machine));
}

void MachineNetwork::Redirect(const std::string& machine, std::uint16_t port) {
  if (port == 0)
    m_redirects.erase(machine);
  else
    m_redirects[machine] = port;
  WriteHostsFile();
}

void MachineNetwork::WriteIdentities(const TestMachine& machine) {
  for (const auto& [domain, authority] : m_authorities) {
    TestIdentity kind = TestIdentity::Issued;
    if (const auto it = m_overrides.find(machine.name); it != m_overrides.end())
      if (const auto found = it->second.find(domain); found != it->second.end()) kind = found->second;
    std::string error;
    if (kind == TestIdentity::None) {
      std::error_code ec;
      std::filesystem::remove(IdentityFile(machine.home, domain), ec);
      continue;
    }
    DomainAuthority impostor;
    const DomainAuthority* issuer = &authority;
    if (kind == TestIdentity::Foreign) {
      if (!CreateAuthority(domain, &impostor, &error)) ADD_FAILURE() << error;
      issuer = &impostor;
    }
    DomainCredentials credentials;
    if (!IssueCredentials(*issuer, machine.name, &credentials, &error) ||
        !WriteCredentials(machine.home, credentials, &error))
      ADD_FAILURE() << "identity of " << machine.name << " in " << domain << ": " << error;
  }
}

void MachineNetwork::WriteHostsFile() {
  std::ostringstream text;
  text << "# The test network: every machine of it, CONSOLE included.\n";
  for (const auto& machine : m_machines) {
    const auto redirect = m_redirects.find(machine.name);
    const std::uint16_t port = redirect == m_redirects.end() ? machine.port : redirect->second;
    text << "127.0.0.1:" << port << "  " << machine.name << "  #DOM:" << machine.domain;
    if (machine.role == MachineRole::PrimaryDomainController) text << "  #PDC";
    if (machine.role == MachineRole::BackupDomainController) text << "  #BDC";
    text << "\n";
  }
  const auto temp = m_root / "hosts.new";
  std::ofstream(temp) << text.str();
  std::filesystem::rename(temp, m_hostsFile);
}

bool MachineNetwork::Start(const std::string& name) {
  if (IsRunning(name)) return true;
  std::optional<Launch> launch = Begin(name);
  return launch && AwaitReady(*launch, std::chrono::steady_clock::now() + kStartTimeout);
}

std::optional<MachineNetwork::Launch> MachineNetwork::Begin(const std::string& name) {
  const TestMachine& machine = Find(name);
  int error = 0;
  PipeEnds out = MakePipe(&error);
  if (!out.read) {
    ADD_FAILURE() << "pipe: " << std::strerror(error);
    return std::nullopt;
  }
  const auto log = machine.home / "vnmachined.log";
  ProcessOptions options;
  options.program = VN_MACHINED_PATH;
  options.arguments = {"--home", machine.home.string()};
  options.arguments.insert(options.arguments.end(), machine.serviceArguments.begin(), machine.serviceArguments.end());
  options.input = ChildStream::Null();
  options.output = ChildStream::Descriptor(out.write.Get());
  options.error = ChildStream::AppendTo(log);
  // Should the test process die (a crash, a time-out), its machines stop with
  // it, and their services with them. The test thread lives as long as the
  // network, so the signal comes only then.
  options.parentDeathSignal = SIGTERM;
  // The sanitizers' reports (in a sanitizer build) go to files named after
  // the machine and the process: the service, and every process it starts,
  // inherit the setting.
  const auto sanitizerLog = (m_sanitizerDir / name).string();
  for (const char* variable : {"ASAN_OPTIONS", "UBSAN_OPTIONS"}) {
    const char* current = std::getenv(variable);
    std::string value = current && *current ? std::string(current) + ":" : std::string();
    options.environment.push_back(std::string(variable) + "=" + value + "log_path=" + sanitizerLog);
  }
  pid_t pid = 0;
  std::string detail;
  if (StartProcess(options, &pid, &detail) != 0) {
    ADD_FAILURE() << "cannot start the service of " << name << ": " << detail;
    return std::nullopt;
  }
  out.write.Reset();
  return Launch{name, pid, std::move(out.read), log};
}

bool MachineNetwork::AwaitReady(Launch& launch, std::chrono::steady_clock::time_point deadline) {
  // The ready line, within the time limit.
  std::string line;
  bool ready = false;
  while (!ready) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd pfd{launch.ready.Get(), POLLIN, 0};
    if (::poll(&pfd, 1, static_cast<int>(left.count())) <= 0) continue;
    char buffer[256];
    const ssize_t n = ::read(launch.ready.Get(), buffer, sizeof buffer);
    if (n <= 0) break;  // the service ended
    line.append(buffer, static_cast<std::size_t>(n));
    ready = line.find('\n') != std::string::npos && line.find(" listening on ") != std::string::npos;
  }
  if (!ready) {
    SignalProcess(launch.pid, SIGKILL);
    WaitProcess(launch.pid);
    ADD_FAILURE() << "the service of " << launch.name << " did not start: " << line << "\n" << ReadText(launch.log);
    return false;
  }
  auto process = std::make_unique<Process>();
  process->pid = launch.pid;
  m_processes[launch.name] = std::move(process);
  return true;
}

bool MachineNetwork::StartAll() {
  // Every service starts at once, and then each is waited for: a network of
  // fifty machines comes up in about the time of its slowest machine.
  std::vector<Launch> launches;
  bool all = true;
  for (std::size_t i = 1; i < m_machines.size(); ++i) {
    if (IsRunning(m_machines[i].name)) continue;
    std::optional<Launch> launch = Begin(m_machines[i].name);
    if (launch) {
      launches.push_back(std::move(*launch));
    } else {
      all = false;
    }
  }
  // Many services share the processors while they start.
  const auto deadline =
      std::chrono::steady_clock::now() + kStartTimeout + std::chrono::milliseconds(200) * launches.size();
  for (Launch& launch : launches) all = AwaitReady(launch, deadline) && all;
  return all;
}

void MachineNetwork::Stop(const std::string& name, bool kill) {
  const auto it = m_processes.find(name);
  if (it == m_processes.end()) return;
  const pid_t pid = it->second->pid;
  m_processes.erase(it);
  SignalProcess(pid, kill ? SIGKILL : SIGTERM);
  if (WaitProcessFor(pid, kStopTimeout)) return;
  ADD_FAILURE() << "the service of " << name << " did not stop on SIGTERM";
  SignalProcess(pid, SIGKILL);
  WaitProcess(pid);
}

bool MachineNetwork::IsRunning(const std::string& name) const { return m_processes.contains(name); }

int MachineNetwork::Pid(const std::string& name) const {
  const auto it = m_processes.find(name);
  return it == m_processes.end() ? 0 : it->second->pid;
}

TestMachine& MachineNetwork::Find(const std::string& name) {
  for (auto& machine : m_machines)
    if (machine.name == name) return machine;
  ADD_FAILURE() << "no machine " << name << " in the test network";
  return m_machines.front();
}

const TestMachine* MachineNetwork::FindConst(const std::string& name) const {
  for (const auto& machine : m_machines)
    if (machine.name == name) return &machine;
  return nullptr;
}

const TestMachine& MachineNetwork::Machine(const std::string& name) const {
  if (const auto* machine = FindConst(name)) return *machine;
  ADD_FAILURE() << "no machine " << name << " in the test network";
  return m_machines.front();
}

const TestMachine& MachineNetwork::Console() const { return m_machines.front(); }

const std::filesystem::path& MachineNetwork::HostsFile() const { return m_hostsFile; }

}  // namespace vn::testing
