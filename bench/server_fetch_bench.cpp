// Fetching a result from another machine's reporting server through KSCli
// (1024-byte transfer records to the caller, large blocks on the pipe)
// against a plain remote copy of the same file (CopyFileA from the server's
// share to the console), on a network of the test harness:
//
//   bench server-fetch-NMiB: ours X s, copy Y s, ratio Z
//
//   server_fetch_bench [--size-mib N]      (default 1024)
//
// The result file is placed in the server's result folder under a name the
// bench chooses, as a finished run leaves it, so that only the transfer is
// measured; both sides read it warm from the page cache.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/core/LastError.h"
#include "platform/ipc/Pipes.h"
#include "platform/net/Files.h"
#include "platform/services/ServiceControl.h"
#include "testing/MachineNetwork.h"
#include "testing/ReportServerService.h"
#include "testing/Wait.h"
#include "vncli/KSCli.h"

namespace {

namespace fs = std::filesystem;

template <typename F>
double Seconds(F work) {
  const auto start = std::chrono::steady_clock::now();
  if (!work()) {
    std::fprintf(stderr, "server_fetch_bench: the operation failed (%u)\n", GetLastError());
    std::exit(1);
  }
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  std::uint64_t sizeMiB = 1024;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--size-mib") == 0) sizeMiB = std::strtoull(argv[i + 1], nullptr, 10);
  }
  vn::testing::MachineNetwork net("BENCH");
  const auto& srv1 = net.Add({"SRV1", "BENCH", vn::MachineRole::Server, {"Data"}});
  if (!net.Start("SRV1")) return 1;
  SC_HANDLE service = vn::testing::InstallReportServer(srv1, VN_VNSRV);
  if (!service || !vn::testing::StartReportServer(service, "SRV1")) {
    std::fprintf(stderr, "server_fetch_bench: the server did not start (%u)\n", GetLastError());
    return 1;
  }

  // A result of CSV-like lines, in the result folder and in the share.
  const fs::path results = srv1.home / "vnsrv" / "results";
  const fs::path result = results / "R00000001-00000001.csv";
  {
    std::ofstream out(result, std::ios::binary);
    std::string line = "\"D1\",\"" + std::string(80, 'n') + "\",\"\\\\SRV1\\Data\\" + std::string(60, 'd') + "\",1234\r\n";
    std::vector<char> block;
    while (block.size() < 1024 * 1024) block.insert(block.end(), line.begin(), line.end());
    block.resize(1024 * 1024);
    for (std::uint64_t i = 0; i < sizeMiB; ++i) out.write(block.data(), static_cast<std::streamsize>(block.size()));
  }
  fs::copy_file(result, srv1.ShareDir("Data") / "result.csv");
  const fs::path fetched = net.Console().driveD / "fetched.csv";
  const fs::path copied = net.Console().driveD / "copied.csv";

  const double ours = Seconds([&] {
    vn::KSCli client;
    if (client.Connect("SRV1") != 0) return false;
    vn::KSServerCommunicationOutputRec output{};
    output.ResultNumber = 1;
    output.ResultTag = 1;
    vn::KSServerCommunicationFileRec file{};
    int unused = 0;
    std::ofstream out(fetched, std::ios::binary);
    while (client.ProcessFile(&output, &file, &unused) == 0) out.write(file.Data, file.Count);
    return static_cast<bool>(out);
  });
  const double copy = Seconds([&] {
    return CopyFileA("\\\\SRV1\\Data\\result.csv", ("D:\\" + copied.filename().string()).c_str(), FALSE) != FALSE;
  });
  if (fs::file_size(fetched) != fs::file_size(result) || fs::file_size(copied) != fs::file_size(result)) {
    std::fprintf(stderr, "server_fetch_bench: sizes differ\n");
    return 1;
  }
  std::printf("bench server-fetch-%lluMiB: ours %.3f s, copy %.3f s, ratio %.2f (%.0f MiB/s vs %.0f MiB/s)\n",
              static_cast<unsigned long long>(sizeMiB), ours, copy, ours / copy, sizeMiB / ours, sizeMiB / copy);

  const bool stopped = vn::testing::StopReportServer(service);
  CloseServiceHandle(service);
  if (!stopped) std::fprintf(stderr, "server_fetch_bench: the server did not stop\n");
  return stopped ? 0 : 1;
}
