// One report set run over 1, 10 and 50 machines of the test harness, each a
// real machine service with its own reporting server on loopback, through
// the console's report thread, channel and merge (as run_bench), against
// the slowest of the same machines run alone:
//
//   bench fan-out-N: ours X s, slowest single machine Y s, ratio Z (...)
//
//   fleet_bench [--files N] [--machines M] [--width W]
//     files per machine (default 2000), the largest run (default 50), the
//     machines asked at once (default: the product's, four per processor)
//
// The set is Space By Directory and Space By User, the summaries the scan
// history keeps (it records into the bench console's own history). The
// console's peak memory (VmHWM of this process) is printed after each line.
// Beside each line: the time the merge's handler took (fetching each result
// on its machine's connection and merging it, one machine after another).
#include <QCoreApplication>
#include <QObject>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/ProcStatus.h"
#include "console/core/reports/ReportSetStore.h"
#include "console/core/run/FanOut.h"
#include "console/widgets/run/ReportMerge.h"
#include "console/widgets/run/ReportRun.h"
#include "platform/core/Handles.h"
#include "platform/core/LastError.h"
#include "platform/ipc/Sync.h"
#include "platform/services/ServiceControl.h"
#include "testing/MachineNetwork.h"
#include "testing/ReportServerService.h"
#include "ui/WindowMessages.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
constexpr int kSpaceByDirectoryIndex = 2;
constexpr int kSpaceByUserIndex = 6;

void Fail(const char* what) {
  std::fprintf(stderr, "fleet_bench: %s (%u)\n", what, GetLastError());
  std::exit(1);
}

// `files` small files, 100 to a directory.
void MakeTree(const fs::path& root, int files) {
  for (int i = 0; i < files; ++i) {
    const fs::path dir = root / ("dir" + std::to_string(i / 100));
    if (i % 100 == 0) fs::create_directories(dir);
    std::ofstream(dir / ("file" + std::to_string(i) + ".dat")) << i;
  }
}

std::string Name(int i) {
  char name[16];
  std::snprintf(name, sizeof name, "SRV%02d", i + 1);
  return name;
}

// One run of the "Fleet" set over `machines`, as a host runs it; the seconds
// from the start to the channel's close. Every report must merge.
double g_merging = 0;  // seconds in the result handler, over the last run

double Run(const std::vector<std::string>& machines) {
  g_merging = 0;
  bool closed = false;
  int merged = 0;
  CReportMerge merge;
  QObject notifyWindow, statusWindow;
  const CWindowHandle status(&statusWindow, [](UINT, WPARAM, LPARAM) -> LRESULT { return 1; });
  const CWindowHandle notify(&notifyWindow, [&](UINT message, WPARAM wParam, LPARAM lParam) -> LRESULT {
    if (message == WM_REPORT_SERVER_RESULT) {
      const ServerResult result = ServerResultOf(wParam, lParam);
      const auto begin = Clock::now();
      const DWORD code = merge.OnServerResult(result.machine, result.output);
      g_merging += std::chrono::duration<double>(Clock::now() - begin).count();
      return code;
    }
    if (message == WM_REPORT_DONE) {
      const std::string path = merge.OnDone();
      if (!path.empty()) {
        ++merged;
        fs::remove(path);
      }
    }
    if (message == WM_REPORT_CHANNEL_CLOSED) closed = true;
    return 0;
  });
  auto* context = new ReportRunContext;
  auto* entry = new ProgressChannelEntry;
  for (const auto& name : machines) context->remoteObjects[name] = {"\\\\" + name + "\\Data\\tree"};
  context->reportName = "Fleet";
  context->hNotifyWnd = entry->hNotifyWnd = notify.GetSafeHwnd();
  context->hStatusWnd = entry->hStatusWnd = status.GetSafeHwnd();
  SetRunPipeNames(context, entry);
  const auto start = Clock::now();
  HANDLE report = nullptr;
  HANDLE channel = nullptr;
  if (!StartReportRun(context, entry, &report, &channel)) Fail("the run's threads could not be started");
  while (!closed) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  if (WaitForSingleObject(report, INFINITE) != WAIT_OBJECT_0 || WaitForSingleObject(channel, INFINITE) != WAIT_OBJECT_0)
    Fail("the run's threads could not be waited for");
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  CloseHandle(report);
  CloseHandle(channel);
  if (merged != 2) Fail("a report of the run produced no merged file");
  return seconds;
}

}  // namespace

int main(int argc, char** argv) {
  int files = 2000;
  int largest = 50;
  int width = 0;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--files") == 0) files = std::atoi(argv[i + 1]);
    if (std::strcmp(argv[i], "--machines") == 0) largest = std::max(1, std::atoi(argv[i + 1]));
    if (std::strcmp(argv[i], "--width") == 0) width = std::atoi(argv[i + 1]);
  }
  // The module keeps its own copy of the setting: it is set there.
  SetReportFanOut(width);
  QCoreApplication app(argc, argv);
  QTemporaryDir temp;
  qputenv("TMPDIR", temp.path().toUtf8());

  vn::testing::MachineNetwork net("BENCH");
  std::vector<std::string> machines;
  for (int i = 0; i < largest; ++i) {
    machines.push_back(Name(i));
    net.Add({machines.back(), "BENCH", vn::MachineRole::Server, {"Data"}});
  }
  const auto up = Clock::now();
  if (!net.StartAll() || !net.Start("CONSOLE")) Fail("the network did not start");
  std::vector<SC_HANDLE> services;
  for (const auto& name : machines) {
    MakeTree(net.Machine(name).ShareDir("Data") / "tree", files);
    SC_HANDLE service = vn::testing::InstallReportServer(net.Machine(name), VN_VNSRV);
    if (!service || !vn::testing::StartReportServer(service, name)) Fail("a server did not start");
    services.push_back(service);
  }
  std::printf("fleet_bench: %d machines of %d files up in %.1f s; %d machines asked at once\n", largest, files,
              std::chrono::duration<double>(Clock::now() - up).count(), width > 0 ? width : vn::console::RunFanOutWidth());
  vn::console::ReportSet set;
  set[kSpaceByDirectoryIndex].Selected = 1;
  set[kSpaceByUserIndex].Selected = 1;
  if (vn::console::SaveReportSet("", "Fleet", set) != 0) Fail("the report set was not stored");

  // Each machine alone first (a warm-up run before, so that no machine
  // pays for the first scan of its tree alone).
  (void)Run(machines);
  std::vector<double> single;
  for (const auto& name : machines) single.push_back(Run({name}));

  for (int count : {1, 10, 50}) {
    if (count > largest) break;
    const std::vector<std::string> some(machines.begin(), machines.begin() + count);
    const double slowest = *std::max_element(single.begin(), single.begin() + count);
    const double ours = Run(some);
    std::printf(
        "bench fan-out-%d: ours %.3f s, slowest single machine %.3f s, ratio %.2f (fetch and merge %.3f s; console "
        "peak memory %.1f MB)\n",
        count, ours, slowest, ours / slowest, g_merging, static_cast<double>(vn::bench::StatusKb("VmHWM:")) / 1024);
    std::fflush(stdout);
  }

  for (SC_HANDLE service : services) {
    if (!vn::testing::StopReportServer(service)) Fail("a server did not stop");
    CloseServiceHandle(service);
  }
  return 0;
}
