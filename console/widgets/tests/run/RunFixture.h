#pragma once
// A network for whole report runs: this process is the console (machine
// CONSOLE, its service running so that servers reach the run's progress
// pipe), and CONSOLE and the server machines (SRV1 and SRV2 unless named)
// each run the real reporting server as their service "RODuduro". RunWindows stands in for the run form: a notify
// window whose handlers merge with CReportMerge, and a status window that
// records every text it is given.

#include <QObject>
#include <QTemporaryDir>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "console/widgets/run/ReportMerge.h"
#include "console/widgets/run/ReportRun.h"
#include "platform/services/ServiceControl.h"
#include "testing/MachineNetwork.h"
#include "testing/TestFiles.h"

namespace vn::testing {

class RunWindows {
 public:
  explicit RunWindows(bool withStatus = true);
  ~RunWindows();

  HWND Notify() const { return m_notify->GetSafeHwnd(); }
  HWND Status() const { return m_status ? m_status->GetSafeHwnd() : nullptr; }

  std::vector<std::string> texts;        // status texts, in order
  std::vector<std::string> merged;       // OnDone's path per WM_REPORT_DONE
  std::vector<std::string> resultsFrom;  // machine of each WM_REPORT_SERVER_RESULT
  bool closed = false;                   // WM_REPORT_CHANNEL_CLOSED arrived

 private:
  QObject m_notifyObject;
  QObject m_statusObject;
  CReportMerge m_merge;
  std::unique_ptr<CWindowHandle> m_notify;
  std::unique_ptr<CWindowHandle> m_status;
};

struct RunOutcome {
  DWORD reportExit = 0;   // ReportThreadProc's result
  DWORD channelExit = 0;  // MessageThreadProc's result
};

class RunNetwork {
 public:
  explicit RunNetwork(const std::vector<std::string>& servers = {"SRV1", "SRV2"});
  ~RunNetwork();

  MachineNetwork& Net() { return m_net; }
  const TestMachine& Machine(const std::string& name) const { return m_net.Machine(name); }
  // Starts or stops a machine's reporting server and waits until it serves
  // (or no longer does).
  [[nodiscard]] bool StartServer(const std::string& machine);
  void StopServer(const std::string& machine);
  // Sends `signal` to a machine's running reporting server and what it
  // started (SIGSTOP holds a server mid-run, SIGCONT lets it go on, SIGKILL
  // kills it). False when it runs no server.
  bool SignalServer(const std::string& machine, int signal) const;
  // Result files still kept by a machine's server.
  std::vector<std::string> ServerResults(const std::string& machine) const;

  // Runs `context` as a host does (both threads, the channel entry built
  // with `windows` and `cancel`), waits until the channel has closed and
  // both threads have ended, with the Qt events handled meanwhile;
  // `meanwhile` is called after each round of events.
  RunOutcome Run(ReportRunContext* context, RunWindows& windows, HANDLE cancel = nullptr,
                 const std::function<void()>& meanwhile = {});

 private:
  MachineNetwork m_net;
  std::map<std::string, SC_HANDLE> m_services;
  QTemporaryDir m_tempDir;   // the merged files' temporary directory
  QByteArray m_savedTmp;
};

}  // namespace vn::testing
