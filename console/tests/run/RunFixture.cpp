#include "console/tests/run/RunFixture.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <fstream>

#include "platform/core/LastError.h"
#include "platform/ipc/Pipes.h"
#include "platform/ipc/Sync.h"
#include "testing/Wait.h"

namespace vn::testing {

namespace fs = std::filesystem;

namespace {

std::string ServerPipe(const std::string& machine) { return "\\\\" + machine + "\\pipe\\RODuduro"; }

}  // namespace

RunWindows::RunWindows(bool withStatus) {
  m_notify = std::make_unique<CWindowHandle>(&m_notifyObject, [this](UINT message, WPARAM wParam, LPARAM lParam) -> LRESULT {
    switch (message) {
      case WM_REPORT_SERVER_RESULT: {
        const char* machine = reinterpret_cast<const char*>(wParam);
        resultsFrom.emplace_back(machine);
        return m_merge.OnServerResult(machine, reinterpret_cast<KSServerCommunicationOutputRec*>(lParam));
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
      texts.emplace_back(reinterpret_cast<const char*>(lParam));
      return 1;
    });
  }
}

RunWindows::~RunWindows() {
  for (const auto& path : merged)
    if (!path.empty()) fs::remove(path);
}

RunNetwork::RunNetwork() : m_savedTmp(qgetenv("TMPDIR")) {
  // The merged files go to a temporary directory of the test's own.
  qputenv("TMPDIR", m_tempDir.path().toUtf8());
  m_net.Add({"SRV1", "TESTDOM", vn::MachineRole::Server, {"Data"}});
  m_net.Add({"SRV2", "TESTDOM", vn::MachineRole::Server, {"Data"}});
  EXPECT_TRUE(m_net.StartAll());
  EXPECT_TRUE(m_net.Start("CONSOLE"));
  for (const char* name : {"CONSOLE", "SRV1", "SRV2"}) {
    const TestMachine& machine = m_net.Machine(name);
    fs::create_directories(machine.driveD);
    std::ofstream(machine.driveD / "vnsrv.sh") << "#!/bin/sh\nexec '" << VN_VNSRV << "' \"$@\"\n";
    fs::permissions(machine.driveD / "vnsrv.sh", fs::perms::owner_all);
    const std::string unc = std::string("\\\\") + name;
    SC_HANDLE manager = OpenSCManagerA(unc.c_str(), nullptr, SC_MANAGER_ALL_ACCESS);
    EXPECT_NE(manager, nullptr) << name << ": " << GetLastError();
    if (!manager) continue;
    SC_HANDLE service = CreateServiceA(manager, "RODuduro", "RODuduro", SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                       SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, "D:\\vnsrv.sh --runs 2", nullptr,
                                       nullptr, nullptr, nullptr, nullptr);
    EXPECT_NE(service, nullptr) << name << ": " << GetLastError();
    CloseServiceHandle(manager);
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
  if (!StartServiceA(found->second, 0, nullptr)) return false;
  const std::string pipe = ServerPipe(machine);
  return WaitUntil([&] { return WaitNamedPipeA(pipe.c_str(), 1000) != FALSE; });
}

void RunNetwork::StopServer(const std::string& machine) {
  const auto found = m_services.find(machine);
  if (found == m_services.end()) return;
  SERVICE_STATUS status{};
  if (!ControlService(found->second, SERVICE_CONTROL_STOP, &status)) return;
  EXPECT_TRUE(WaitUntil([&] {
    return QueryServiceStatus(found->second, &status) && status.dwCurrentState == SERVICE_STOPPED;
  })) << machine << ": the server did not stop";
}

std::vector<std::string> RunNetwork::ServerResults(const std::string& machine) const {
  std::vector<std::string> names;
  std::error_code error;
  for (fs::directory_iterator it(m_net.Machine(machine).home / "vnsrv" / "results", error), end; !error && it != end;
       it.increment(error))
    names.push_back(it->path().filename().string());
  return names;
}

RunOutcome RunNetwork::Run(ReportRunContext* context, RunWindows& windows, HANDLE cancel) {
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
        return windows.closed && ended(channel) && ended(report);
      },
      std::chrono::seconds(120)))
      << "the run did not end";
  QCoreApplication::processEvents();
  RunOutcome outcome;
  GetExitCodeThread(report, &outcome.reportExit);
  GetExitCodeThread(channel, &outcome.channelExit);
  CloseHandle(report);
  CloseHandle(channel);
  return outcome;
}

std::vector<std::string> ResultLines(const std::string& text) {
  std::vector<std::string> lines;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = text.find("\r\n", at);
    lines.push_back(text.substr(at, end == std::string::npos ? std::string::npos : end - at));
    if (end == std::string::npos) break;
    at = end + 2;
  }
  return lines;
}

std::vector<std::string> ResultFields(const std::string& line) {
  std::vector<std::string> fields;
  std::size_t at = 0;
  while (at <= line.size()) {
    if (at < line.size() && line[at] == '"') {
      const std::size_t close = line.find('"', at + 1);
      fields.push_back(line.substr(at + 1, close - at - 1));
      if (close == std::string::npos) break;
      at = close + 2;
    } else {
      const std::size_t comma = line.find(',', at);
      fields.push_back(line.substr(at, comma == std::string::npos ? std::string::npos : comma - at));
      if (comma == std::string::npos) break;
      at = comma + 1;
    }
  }
  return fields;
}

}  // namespace vn::testing
