// One report run over three machines of the test harness, fetching and
// merging their results (the time spent in the WM_REPORT_SERVER_RESULT
// handlers: OpenReport's transfer records, line reassembly and the merged
// file's writes) against plain remote copies (CopyFileA from each machine's
// share) of the same three result files:
//
//   bench run-merge-3-machines: ours X s, copy Y s, ratio Z
//
//   run_bench [--files N]      (files per machine, default 20000)
//
// Each machine holds N files below directories with long names, so that an
// "All Files" listing (every row, RptLen 0) is tens of MB over the three.
#include <QCoreApplication>
#include <QObject>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "console/core/reports/ReportSetStore.h"
#include "console/widgets/run/ReportMerge.h"
#include "console/widgets/run/ReportRun.h"
#include "platform/core/Handles.h"
#include "platform/core/LastError.h"
#include "platform/ipc/Pipes.h"
#include "platform/ipc/Sync.h"
#include "platform/net/Files.h"
#include "platform/services/ServiceControl.h"
#include "testing/MachineNetwork.h"
#include "testing/ReportServerService.h"
#include "testing/Wait.h"
#include "ui/WindowMessages.h"
#include "vncli/KSCli.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
constexpr int kAllFilesIndex = 7;
const char* const kMachines[] = {"SRV1", "SRV2", "SRV3"};

void Fail(const char* what) {
  std::fprintf(stderr, "run_bench: %s (%u)\n", what, GetLastError());
  std::exit(1);
}

// N empty files, 200 to a directory, each directory two levels of long names deep.
void MakeTree(const fs::path& root, int files) {
  for (int i = 0; i < files; ++i) {
    const fs::path dir = root / (std::string(120, 'a') + std::to_string(i / 2000)) /
                         (std::string(120, 'b') + std::to_string(i / 200));
    if (i % 200 == 0) fs::create_directories(dir);
    std::ofstream(dir / ("file-with-a-longer-name-" + std::to_string(i) + ".dat"));
  }
}

SC_HANDLE StartServer(const vn::testing::TestMachine& machine) {
  SC_HANDLE service = vn::testing::InstallReportServer(machine, VN_VNSRV);
  if (!service || !vn::testing::StartReportServer(service, machine.name)) Fail("a server did not start");
  return service;
}

// One machine's result of `record`, fetched whole into `path` (the peer's input).
void FetchResult(const std::string& machine, vn::KSServerCommunicationReportRec record, const fs::path& path) {
  vn::KSCli client;
  vn::KSServerCommunicationOutputRec output{};
  const std::string objects = "\\\\" + machine + "\\Data\\tree";
  if (client.Connect(machine.c_str()) != 0 || client.ProcessReport(&record, &output, objects.c_str()) != 0)
    Fail("a direct report failed");
  std::ofstream out(path, std::ios::binary);
  vn::KSServerCommunicationFileRec file{};
  int unused = 0;
  while (client.ProcessFile(&output, &file, &unused) == 0) out.write(file.Data, file.Count);
  client.DeleteServerFile(&output, &file);
}

}  // namespace

int main(int argc, char** argv) {
  int files = 20000;
  for (int i = 1; i + 1 < argc; i += 2)
    if (std::strcmp(argv[i], "--files") == 0) files = std::atoi(argv[i + 1]);
  QCoreApplication app(argc, argv);
  QTemporaryDir temp;
  qputenv("TMPDIR", temp.path().toUtf8());

  vn::testing::MachineNetwork net("BENCH");
  for (const char* name : kMachines) net.Add({name, "BENCH", vn::MachineRole::Server, {"Data"}});
  if (!net.StartAll() || !net.Start("CONSOLE")) Fail("the network did not start");
  std::vector<SC_HANDLE> services;
  for (const char* name : kMachines) {
    MakeTree(net.Machine(name).ShareDir("Data") / "tree", files);
    services.push_back(StartServer(net.Machine(name)));
  }
  vn::console::ReportSet set;
  set[kAllFilesIndex].Selected = 1;
  if (vn::console::SaveReportSet("", "Bench", set) != 0) Fail("the report set was not stored");

  // The run, with the merge timed in its handler.
  double ours = 0;
  bool closed = false;
  std::string merged;
  CReportMerge merge;
  QObject notifyWindow, statusWindow;
  const CWindowHandle status(&statusWindow, [](UINT, WPARAM, LPARAM) -> LRESULT { return 1; });
  const CWindowHandle notify(&notifyWindow, [&](UINT message, WPARAM wParam, LPARAM lParam) -> LRESULT {
    if (message == WM_REPORT_SERVER_RESULT) {
      const auto start = Clock::now();
      const ServerResult result = ServerResultOf(wParam, lParam);
      const DWORD code = merge.OnServerResult(result.machine, result.output);
      ours += std::chrono::duration<double>(Clock::now() - start).count();
      return code;
    }
    if (message == WM_REPORT_DONE) merged = merge.OnDone();
    if (message == WM_REPORT_CHANNEL_CLOSED) closed = true;
    return 0;
  });
  auto* context = new ReportRunContext;
  auto* entry = new ProgressChannelEntry;
  for (const char* name : kMachines) context->remoteObjects[name] = {"\\\\" + std::string(name) + "\\Data\\tree"};
  context->reportName = "Bench";
  context->hNotifyWnd = entry->hNotifyWnd = notify.GetSafeHwnd();
  context->hStatusWnd = entry->hStatusWnd = status.GetSafeHwnd();
  SetRunPipeNames(context, entry);
  HANDLE report = nullptr;
  HANDLE channel = nullptr;
  if (!StartReportRun(context, entry, &report, &channel)) Fail("the run's threads could not be started");
  while (!closed) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  if (WaitForSingleObject(report, INFINITE) != WAIT_OBJECT_0 || WaitForSingleObject(channel, INFINITE) != WAIT_OBJECT_0)
    Fail("the run's threads could not be waited for");
  CloseHandle(report);
  CloseHandle(channel);
  if (merged.empty()) Fail("the run produced no merged file");
  const auto mergedBytes = fs::file_size(merged);
  fs::remove(merged);

  // The peer: the same results, copied from each machine's share.
  vn::KSServerCommunicationReportRec record = set[kAllFilesIndex].Options;
  record.Options |= vn::kOptionCommaDelimited;
  double copy = 0;
  std::uintmax_t copiedBytes = 0;
  for (const char* name : kMachines) {
    FetchResult(name, record, net.Machine(name).ShareDir("Data") / "result.csv");
    const std::string source = "\\\\" + std::string(name) + "\\Data\\result.csv";
    const std::string target = std::string("D:\\copy-") + name + ".csv";
    const auto start = Clock::now();
    if (!CopyFileA(source.c_str(), target.c_str(), FALSE)) Fail("a copy failed");
    copy += std::chrono::duration<double>(Clock::now() - start).count();
    copiedBytes += fs::file_size(net.Console().driveD / ("copy-" + std::string(name) + ".csv"));
  }
  std::printf("bench run-merge-3-machines: ours %.3f s, copy %.3f s, ratio %.2f (%.1f MB merged, %.1f MB copied)\n",
              ours, copy, ours / copy, static_cast<double>(mergedBytes) / 1e6, static_cast<double>(copiedBytes) / 1e6);

  for (SC_HANDLE service : services) {
    if (!vn::testing::StopReportServer(service)) Fail("a server did not stop");
    CloseServiceHandle(service);
  }
  return 0;
}
