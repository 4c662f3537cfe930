#include "console/widgets/tests/run/RunFixture.h"
#include "testing/ReportServerService.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <QCoreApplication>
#include <fstream>

#include "platform/core/LastError.h"
#include "platform/ipc/Pipes.h"
#include "platform/ipc/Sync.h"
#include "testing/Wait.h"

namespace vn::testing {

namespace fs = std::filesystem;

RunWindows::RunWindows(bool withStatus) {
  m_notify = std::make_unique<CWindowHandle>(&m_notifyObject, [this](UINT message, WPARAM wParam, LPARAM lParam) -> LRESULT {
    switch (message) {
      case WM_REPORT_SERVER_RESULT: {
        const ServerResult result = ServerResultOf(wParam, lParam);
        resultsFrom.emplace_back(result.machine);
        return m_merge.OnServerResult(result.machine, result.output);
      }
      case WM_REPORT_DONE:
        merged.push_back(m_merge.OnDone());
        return 0;
      case WM_REPORT_CHANNEL_CLOSED:
        closed = true;
        return 0;
      default:
        return 0;
    }
  });
  if (withStatus) {
    m_status = std::make_unique<CWindowHandle>(&m_statusObject, [this](UINT message, WPARAM, LPARAM lParam) -> LRESULT {
      if (message != WM_SETTEXT) return 0;
      texts.emplace_back(TextOf(lParam));
      return 1;
    });
  }
}

RunWindows::~RunWindows() {
  for (const auto& path : merged)
    if (!path.empty()) fs::remove(path);
}

RunNetwork::RunNetwork(const std::vector<std::string>& servers) : m_savedTmp(qgetenv("TMPDIR")) {
  // The merged files go to a temporary directory of the test's own.
  qputenv("TMPDIR", m_tempDir.path().toUtf8());
  for (const auto& server : servers) m_net.Add({server, "TESTDOM", vn::MachineRole::Server, {"Data"}});
  EXPECT_TRUE(m_net.StartAll());
  EXPECT_TRUE(m_net.Start("CONSOLE"));
  std::vector<std::string> names{"CONSOLE"};
  names.insert(names.end(), servers.begin(), servers.end());
  for (const auto& name : names) {
    const TestMachine& machine = m_net.Machine(name);
    SC_HANDLE service = vn::testing::InstallReportServer(machine, VN_VNSRV, "--runs 2");
    EXPECT_NE(service, nullptr) << name << ": " << GetLastError();
    if (service) m_services[name] = service;
    EXPECT_TRUE(StartServer(name)) << name;
  }
}

RunNetwork::~RunNetwork() {
  for (const auto& [name, service] : m_services) {
    StopServer(name);
    CloseServiceHandle(service);
  }
  if (m_savedTmp.isNull()) {
    qunsetenv("TMPDIR");
  } else {
    qputenv("TMPDIR", m_savedTmp);
  }
}

bool RunNetwork::StartServer(const std::string& machine) {
  const auto found = m_services.find(machine);
  if (found == m_services.end()) return false;
  return vn::testing::StartReportServer(found->second, machine);
}

void RunNetwork::StopServer(const std::string& machine) {
  const auto found = m_services.find(machine);
  if (found == m_services.end()) return;
  EXPECT_TRUE(vn::testing::StopReportServer(found->second)) << machine << ": the server did not stop";
}

bool RunNetwork::SignalServer(const std::string& machine, int signal) const {
  long long pid = 0;
  std::ifstream(m_net.Machine(machine).home / "services" / "RODuduro.pid") >> pid;
  // The service leads a process group of its own.
  return pid > 1 && ::kill(static_cast<pid_t>(-pid), signal) == 0;
}

std::vector<std::string> RunNetwork::ServerResults(const std::string& machine) const {
  std::vector<std::string> names;
  std::error_code error;
  for (fs::directory_iterator it(m_net.Machine(machine).home / "vnsrv" / "results", error), end; !error && it != end;
       it.increment(error))
    names.push_back(it->path().filename().string());
  return names;
}

RunOutcome RunNetwork::Run(ReportRunContext* context, RunWindows& windows, HANDLE cancel,
                           const std::function<void()>& meanwhile) {
  auto* entry = new ProgressChannelEntry;
  entry->hCancelEvent = cancel;
  entry->hNotifyWnd = windows.Notify();
  entry->hStatusWnd = windows.Status();
  context->hNotifyWnd = windows.Notify();
  context->hStatusWnd = windows.Status();
  context->hCancelEvent = cancel;
  SetRunPipeNames(context, entry);
  HANDLE report = nullptr;
  HANDLE channel = nullptr;
  EXPECT_TRUE(StartReportRun(context, entry, &report, &channel));
  const auto ended = [](HANDLE thread) { return WaitForSingleObject(thread, 0) == WAIT_OBJECT_0; };
  EXPECT_TRUE(WaitUntil(
      [&] {
        QCoreApplication::processEvents();
        if (meanwhile) meanwhile();
        return windows.closed && ended(channel) && ended(report);
      },
      std::chrono::seconds(120)))
      << "the run did not end";
  QCoreApplication::processEvents();
  RunOutcome outcome;
  EXPECT_TRUE(GetExitCodeThread(report, &outcome.reportExit));
  EXPECT_TRUE(GetExitCodeThread(channel, &outcome.channelExit));
  CloseHandle(report);
  CloseHandle(channel);
  return outcome;
}


}  // namespace vn::testing
