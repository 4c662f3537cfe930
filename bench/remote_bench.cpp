// Remote file copy throughput and remote registry call latency, each against
// the same operation on the local machine in the same run:
//
//   bench remote-copy-256MiB: ours X s, local Y s, ratio Z     console -> SRV1's share
//   bench remote-read-256MiB: ours X s, local Y s, ratio Z     SRV1's share -> console
//   bench remote-registry-query-N: ...                          RegQueryValueExA
//   bench remote-registry-set-N: ...                            RegSetValueExA
//   bench remote-pipe-roundtrip-N: ...                          1 KiB message and answer
//
// and, as the floor below any encrypted transport on this host, the copy and
// a round trip through a bare TLS connection with the machines' certificates
// (TlsFloor.h):
//
//   bench remote-copy-256MiB vs tls floor: ours X s, bare TLS stream Y s, ratio Z
//   bench remote-registry-query per call vs tls floor: ours X us, bare TLS round trip Y us, ratio Z
//
// Each comparison runs kRounds times after one untimed round, the local run
// and the remote one in turn, so that both meet the machine in the same
// state (a busy host slows whatever runs while it is busy); the lines give
// the medians, and a "rounds" line every time taken.
//
// plus the peak resident memory (VmHWM) of this process and of SRV1's service,
// to show that copies stream, and for the copies the processor time this
// process and SRV1's service spent (user and system), which on a busy machine
// says more than the elapsed time does:
//
//   bench remote-copy-256MiB cpu: ours X s, local Y s, ratio Z The machines are those of the test harness
// (loopback, temporary homes); nothing else is touched.
//
//   remote_bench [--size-mib N] [--calls N]
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "bench/ProcStatus.h"
#include "bench/TlsFloor.h"
#include "platform/core/Handles.h"
#include "platform/core/Process.h"
#include "platform/endpoints/MachineDirectory.h"
#include "platform/ipc/Pipes.h"
#include "platform/registry/Registry.h"
#include "testing/MachineNetwork.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(const std::function<bool()>& run) {
  const auto start = Clock::now();
  if (!run()) {
    std::fprintf(stderr, "remote_bench: the operation failed\n");
    std::exit(1);
  }
  return std::chrono::duration<double>(Clock::now() - start).count();
}

constexpr int kRounds = 3;

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// The times of kRounds runs of the remote work and of the local work, in
// turn; `between` runs after each round, untimed.
struct Rounds {
  std::vector<double> ours, local;
  double Ours() const { return Median(ours); }
  double Local() const { return Median(local); }
  std::string Text(double scale, const char* unit) const {
    std::string text;
    for (const auto* times : {&ours, &local}) {
      text += times == &ours ? "ours" : "; local";
      for (const double time : *times) {
        char number[32];
        std::snprintf(number, sizeof number, " %.3f", time * scale);
        text += number;
      }
      text += unit;
    }
    return text;
  }
};

void Report(const std::string& name, double ours, double theirs, const char* peer = "local",
            const char* unit = "s") {
  std::printf("bench %s: ours %.3f %s, %s %.3f %s, ratio %.2f\n", name.c_str(), ours, unit, peer, theirs, unit,
              ours / theirs);
  std::fflush(stdout);
}

// Processor time (user and system) a process has spent so far, in seconds
// ("self" or a pid).
double CpuSeconds(const std::string& pid) {
  std::ifstream stat("/proc/" + pid + "/stat");
  std::string line;
  std::getline(stat, line);
  // The fields after the command name, which ends with the last ')'.
  const auto end = line.rfind(')');
  if (end == std::string::npos) return 0;
  std::istringstream fields(line.substr(end + 2));
  std::string field;
  double ticks = 0;
  for (int i = 3; fields >> field && i <= 15; ++i)
    if (i == 14 || i == 15) ticks += std::strtod(field.c_str(), nullptr);  // utime, stime
  return ticks / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

// Peak resident memory of a process, in MiB ("self" or a pid).
double PeakMiB(const std::string& pid) { return static_cast<double>(vn::bench::StatusKb("VmHWM:", pid)) / 1024.0; }

// Copies a file from one endpoint to another through the platform's reader
// and writer, 1 MiB at a time, as CopyFileA does.
bool Copy(vn::MachineEndpoint& from, const vn::MachinePath& source, vn::MachineEndpoint& to,
          const vn::MachinePath& target) {
  std::unique_ptr<vn::FileReader> reader;
  std::unique_ptr<vn::FileWriter> writer;
  if (from.OpenRead(source, &reader) != ERROR_SUCCESS) return false;
  if (to.OpenWrite(target, false, &writer) != ERROR_SUCCESS) return false;
  std::vector<BYTE> buffer(1024 * 1024);
  for (;;) {
    std::size_t got = 0;
    if (reader->Read(buffer, &got) != ERROR_SUCCESS) return false;
    if (got == 0) break;
    if (writer->Write({buffer.data(), got}) != ERROR_SUCCESS) return false;
  }
  return writer->Commit(0) == ERROR_SUCCESS;
}

// `calls` queries (or sets) of one value through a handle of `root`.
bool RegistryCalls(HKEY root, int calls, bool set) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(root, "SOFTWARE\\VornalBench", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
      ERROR_SUCCESS)
    return false;
  DWORD value = 0;
  bool ok = RegSetValueExA(key, "Counter", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4) == ERROR_SUCCESS;
  for (int i = 0; ok && i < calls; ++i) {
    if (set) {
      value = static_cast<DWORD>(i);
      ok = RegSetValueExA(key, "Counter", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4) == ERROR_SUCCESS;
    } else {
      DWORD size = sizeof value;
      ok = RegQueryValueExA(key, "Counter", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size) ==
           ERROR_SUCCESS;
    }
  }
  RegCloseKey(key);
  return ok;
}

// `calls` exchanges of a 1 KiB message and its echo over the pipe `name`.
bool PipeRoundTrips(const std::string& name, int calls) {
  HANDLE pipe = INVALID_HANDLE_VALUE;
  for (int attempt = 0; attempt < 200 && pipe == INVALID_HANDLE_VALUE; ++attempt) {
    pipe = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (pipe == INVALID_HANDLE_VALUE) usleep(20000);  // the server is still starting
  }
  if (pipe == INVALID_HANDLE_VALUE) return false;
  const std::string message(1024, 'm');
  std::vector<char> answer(2048);
  bool ok = true;
  for (int i = 0; ok && i < calls; ++i) {
    DWORD done = 0;
    ok = WriteFile(pipe, message.data(), static_cast<DWORD>(message.size()), &done, nullptr) &&
         ReadFile(pipe, answer.data(), static_cast<DWORD>(answer.size()), &done, nullptr) &&
         done == message.size() + 5;
  }
  CloseHandle(pipe);
  return ok;
}

// Starts the test tree's echo pipe server as a process of `machine`.
pid_t StartEchoServer(const std::filesystem::path& home, const char* name) {
  vn::ProcessOptions options;
  options.program = VN_PIPE_ECHO_SERVICE;
  options.arguments = {name};
  options.environment = {"VORNAL_HOME=" + home.string()};
  pid_t pid = 0;
  std::string detail;
  if (vn::StartProcess(options, &pid, &detail) != 0) {
    std::fprintf(stderr, "remote_bench: %s\n", detail.c_str());
    std::exit(1);
  }
  return pid;
}

}  // namespace

int main(int argc, char** argv) {
  std::uint64_t sizeMiB = 256;
  int calls = 2000;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--size-mib") == 0) sizeMiB = std::strtoull(argv[i + 1], nullptr, 10);
    if (std::strcmp(argv[i], "--calls") == 0) calls = std::atoi(argv[i + 1]);
  }

  vn::testing::MachineNetwork net("BENCH");
  const auto& srv1 = net.Add({"SRV1", "BENCH", vn::MachineRole::Server, {"Data"}});
  if (!net.Start("SRV1")) return 1;
  const auto& console = net.Console();

  // The source file, written before any measurement, and on the disk: else
  // the disk would be busy writing it during the first copies.
  {
    std::ofstream out(console.driveD / "source.bin", std::ios::binary);
    std::vector<char> block(1024 * 1024);
    for (std::uint64_t i = 0; i < sizeMiB; ++i) {
      for (std::size_t j = 0; j < block.size(); j += 64) block[j] = static_cast<char>(i + j);
      out.write(block.data(), static_cast<std::streamsize>(block.size()));
    }
  }
  {
    const int fd = ::open((console.driveD / "source.bin").c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || ::fsync(fd) != 0) return 1;
    ::close(fd);
  }
  auto local = vn::LocalMachineEndpoint();
  std::shared_ptr<vn::MachineEndpoint> remote;
  if (vn::FindMachine("\\\\SRV1", &remote) != ERROR_SUCCESS) return 1;
  // Connected before anything is timed: the first call's connection and
  // handshakes are not part of the work a copy does.
  std::vector<vn::ShareInfo> shares;
  if (remote->EnumShares(&shares) != ERROR_SUCCESS) return 1;
  const double clientBefore = PeakMiB("self");

  // Peak memory after each phase, to tell which one holds what.
  std::string phases;
  auto phase = [&](const char* name) {
    char text[64];
    std::snprintf(text, sizeof text, " %s %.1f", name, PeakMiB("self"));
    phases += text;
  };
  // Processor time of this process and SRV1's service while `run` runs.
  const std::string service = std::to_string(net.Pid("SRV1"));
  auto cpu = [&](double* spent, const std::function<bool()>& run) {
    const double before = CpuSeconds("self") + CpuSeconds(service);
    const double seconds = Seconds(run);
    *spent = CpuSeconds("self") + CpuSeconds(service) - before;
    return seconds;
  };
  const std::string size = std::to_string(sizeMiB) + "MiB";
  // kRounds of `localRun` and `remoteRun` in turn, each timed with the
  // processor time it took; `between` clears up after each round, untimed.
  auto rounds = [&](const std::function<bool()>& localRun, const std::function<bool()>& remoteRun,
                    const std::function<void()>& between, double* localCpu, double* remoteCpu) {
    Rounds times;
    *localCpu = *remoteCpu = 0;
    // One round first, untimed: on this kind of host the first run of a
    // new kind of work often takes twice as long, whichever side runs it.
    if (!localRun() || !remoteRun()) {
      std::fprintf(stderr, "remote_bench: the operation failed\n");
      std::exit(1);
    }
    between();
    for (int round = 0; round < kRounds; ++round) {
      double spent = 0;
      times.local.push_back(cpu(&spent, localRun));
      *localCpu += spent / kRounds;
      times.ours.push_back(cpu(&spent, remoteRun));
      *remoteCpu += spent / kRounds;
      if (round + 1 < kRounds) between();
    }
    return times;
  };
  const auto remove = [](const std::filesystem::path& file) { std::filesystem::remove(file); };
  double localCpu = 0, remoteCpu = 0;
  const Rounds copies = rounds([&] { return Copy(*local, {"D:", "source.bin"}, *local, {"D:", "copy.bin"}); },
                               [&] { return Copy(*local, {"D:", "source.bin"}, *remote, {"Data", "copy.bin"}); },
                               [&] {
                                 remove(console.driveD / "copy.bin");
                                 remove(srv1.ShareDir("Data") / "copy.bin");
                               },
                               &localCpu, &remoteCpu);
  phase("copies");
  Report("remote-copy-" + size, copies.Ours(), copies.Local());
  Report("remote-copy-" + size + " cpu", remoteCpu, localCpu);
  std::printf("bench remote-copy-%s rounds: %s\n", size.c_str(), copies.Text(1, " s").c_str());
  // The floor of any encrypted copy here: the same bytes through a bare TLS
  // stream between two threads, with the two machines' certificates.
  const vn::bench::TlsFloor floor{srv1.home / "identity" / "BENCH.pem", console.home / "identity" / "BENCH.pem"};
  const double floorCopy = floor.CopySeconds(console.driveD / "source.bin", srv1.ShareDir("Data") / "floor.bin");
  if (floorCopy < 0 || std::filesystem::file_size(srv1.ShareDir("Data") / "floor.bin") != sizeMiB * 1024 * 1024)
    return 1;
  remove(srv1.ShareDir("Data") / "floor.bin");
  Report("remote-copy-" + size + " vs tls floor", copies.Ours(), floorCopy, "bare TLS stream");
  std::printf("bench tls floor: a bare TLS stream copies %s in %.3f s, %.2f times the local copy\n", size.c_str(),
              floorCopy, floorCopy / copies.Local());
  const Rounds reads = rounds([&] { return Copy(*local, {"D:", "copy.bin"}, *local, {"D:", "back.bin"}); },
                              [&] { return Copy(*remote, {"Data", "copy.bin"}, *local, {"D:", "back-remote.bin"}); },
                              [&] {
                                remove(console.driveD / "back.bin");
                                remove(console.driveD / "back-remote.bin");
                              },
                              &localCpu, &remoteCpu);
  phase("reads");
  Report("remote-read-" + size, reads.Ours(), reads.Local());
  Report("remote-read-" + size + " cpu", remoteCpu, localCpu);
  std::printf("bench remote-read-%s rounds: %s\n", size.c_str(), reads.Text(1, " s").c_str());
  std::printf("bench memory: file %llu MiB; this process VmHWM %.1f MiB before the copies, then after each:%s MiB; "
              "SRV1's service VmHWM %.1f MiB\n",
              static_cast<unsigned long long>(sizeMiB), clientBefore, phases.c_str(),
              PeakMiB(std::to_string(net.Pid("SRV1"))));
  if (std::filesystem::file_size(srv1.ShareDir("Data") / "copy.bin") != sizeMiB * 1024 * 1024) return 1;

  HKEY remoteRoot = nullptr;
  if (RegConnectRegistryA("\\\\SRV1", HKEY_LOCAL_MACHINE, &remoteRoot) != ERROR_SUCCESS) return 1;
  const std::string n = std::to_string(calls);
  const auto nothing = [] {};
  const Rounds queries = rounds([&] { return RegistryCalls(HKEY_LOCAL_MACHINE, calls, false); },
                                [&] { return RegistryCalls(remoteRoot, calls, false); }, nothing, &localCpu,
                                &remoteCpu);
  const double localQuery = queries.Local(), remoteQuery = queries.Ours();
  Report("remote-registry-query-" + n, remoteQuery, localQuery);
  std::printf("bench remote-registry-query rounds, per call: %s\n", queries.Text(1e6 / calls, " us").c_str());
  const int sets = calls / 4;
  const Rounds setRounds = rounds([&] { return RegistryCalls(HKEY_LOCAL_MACHINE, sets, true); },
                                  [&] { return RegistryCalls(remoteRoot, sets, true); }, nothing, &localCpu,
                                  &remoteCpu);
  const double localSet = setRounds.Local(), remoteSet = setRounds.Ours();
  Report("remote-registry-set-" + std::to_string(sets), remoteSet, localSet);
  std::printf("bench registry per call: query ours %.1f us, local %.1f us; set ours %.1f us, local %.1f us\n",
              remoteQuery / calls * 1e6, localQuery / calls * 1e6, remoteSet / sets * 1e6, localSet / sets * 1e6);
  RegCloseKey(remoteRoot);
  // The floor of any round trip here: 256 bytes and their echo through a bare
  // TLS connection between two threads.
  const double floorTrip = floor.RoundTripMicros(calls, 256);
  if (floorTrip < 0) return 1;
  Report("remote-registry-query per call vs tls floor", remoteQuery / calls * 1e6, floorTrip, "bare TLS round trip",
         "us");

  // The same echo server as a process of this machine and of SRV1.
  const pid_t localEcho = StartEchoServer(console.home, "BenchEcho");
  const pid_t remoteEcho = StartEchoServer(srv1.home, "BenchEcho");
  const int trips = calls / 2;
  const Rounds pipes = rounds([&] { return PipeRoundTrips("\\\\.\\pipe\\BenchEcho", trips); },
                              [&] { return PipeRoundTrips("\\\\SRV1\\pipe\\BenchEcho", trips); }, nothing,
                              &localCpu, &remoteCpu);
  const double localPipe = pipes.Local(), remotePipe = pipes.Ours();
  for (const pid_t pid : {localEcho, remoteEcho}) {
    vn::SignalProcess(pid, SIGTERM);
    vn::WaitProcess(pid);
  }
  Report("remote-pipe-roundtrip-" + std::to_string(trips), remotePipe, localPipe);
  std::printf("bench pipe per round trip: ours %.1f us, local %.1f us\n", remotePipe / trips * 1e6,
              localPipe / trips * 1e6);
  return 0;
}
