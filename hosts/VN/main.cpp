// VN: runs a report set or a custom report without the console, as the job
// scheduler does for scheduled runs (hosts/VN/VNCommand.h, docs/vn.md).
//
// It is a host of the console module like VNMgr: it starts ReportThreadProc
// and MessageThreadProc on their own threads and answers their messages in
// a Qt event loop, with two windows of its own: the status window prints
// every text on stdout, and the notify window merges the machines' results
// with CReportMerge and moves each report's merged file into
// <machine home>/results/, never over an existing file.
//
// SIGTERM or SIGINT cancels the run: the next progress text a server sends
// is answered with "CANCEL", and the run ends as a cancelled run does; a
// second signal ends VN at once.
//
// Exit status: 0 when every report of the run produced a result file; 1
// otherwise (stderr says why); 2 for a command line it does not accept.
#include <signal.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QObject>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "console/core/support/SystemErrorText.h"
#include "console/widgets/run/ReportMerge.h"
#include "console/widgets/run/ReportRun.h"
#include "hosts/VN/VNCommand.h"
#include "platform/core/Handles.h"
#include "platform/ipc/Sync.h"
#include "platform/machine/Machine.h"
#include "ui/WindowMessages.h"

namespace {

namespace fs = std::filesystem;

std::string SystemText(DWORD code) { return vn::console::SystemErrorLine(code); }

// Moves a merged file into `directory` under a name no other file has;
// empty when it could not be moved (the file is then removed).
std::string KeepResult(const std::string& merged, const fs::path& directory, const std::string& report) {
  const std::string title = vn::host::ResultTitle(merged);
  const std::string stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HHmmss")).toStdString();
  for (int attempt = 1; attempt < 1000; ++attempt) {
    const fs::path target = vn::host::ResultFileName(directory, report, title, stamp, attempt);
    if (fs::exists(target)) continue;
    // QFile::rename never replaces an existing file, and copies across file systems.
    if (QFile::rename(QString::fromStdString(merged), QString::fromStdString(target.string()))) return target.string();
    if (!fs::exists(target)) break;
  }
  QFile::remove(QString::fromStdString(merged));
  return {};
}

// Takes SIGTERM and SIGINT for the life of the object (they must be blocked
// in every thread before it starts: BlockTerminationSignals). The first sets
// the run's cancel event, a second ends the process at once.
class CCancelOnSignals {
 public:
  explicit CCancelOnSignals(HANDLE cancel) : m_thread([this, cancel] { Watch(cancel); }) {}
  ~CCancelOnSignals() {
    // Woken by a signal of its own set, the watcher sees the stop at once
    // instead of at the end of its tick.
    m_stop = true;
    pthread_kill(m_thread.native_handle(), SIGTERM);
    m_thread.join();
  }
  CCancelOnSignals(const CCancelOnSignals&) = delete;
  CCancelOnSignals& operator=(const CCancelOnSignals&) = delete;

  bool Cancelled() const { return m_cancelled; }

  static void BlockTerminationSignals() {
    const sigset_t set = Signals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
  }

 private:
  static sigset_t Signals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    return set;
  }

  void Watch(HANDLE cancel) {
    const sigset_t set = Signals();
    const timespec tick{0, 100'000'000};
    while (!m_stop) {
      if (sigtimedwait(&set, nullptr, &tick) < 0 || m_stop) continue;
      if (m_cancelled.exchange(true)) std::_Exit(1);
      std::fprintf(stderr, "VN: cancelling the run\n");
      SetEvent(cancel);
    }
  }

  std::atomic<bool> m_stop{false};
  std::atomic<bool> m_cancelled{false};
  std::thread m_thread;
};

}  // namespace

int main(int argc, char** argv) {
  // Before any thread exists, so that only the watcher takes them.
  CCancelOnSignals::BlockTerminationSignals();
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::fputs(vn::host::VNUsage().data(), stdout);
    return 0;
  }
  vn::host::VNCommand command;
  std::string error;
  if (!vn::host::ParseVNCommand(std::vector<std::string>(argv + 1, argv + argc), &command, &error)) {
    std::fprintf(stderr, "VN: %s\n%s", error.c_str(), vn::host::VNUsage().data());
    return 2;
  }
  auto* context = new ReportRunContext;
  if (!vn::host::FillRunObjects(command.objects, context, &error)) {
    delete context;
    std::fprintf(stderr, "VN: %s\n%s", error.c_str(), vn::host::VNUsage().data());
    return 2;
  }
  if (!command.home.empty()) {
    const fs::path home = fs::absolute(command.home);
    qputenv("VORNAL_HOME", QByteArray::fromStdString(home.string()));
    vn::SetMachineHome(home);
  }
  if (std::string why; vn::CheckMachineHome(&why) != ERROR_SUCCESS) {
    delete context;
    std::fprintf(stderr, "VN: %s\n", why.c_str());
    return 1;
  }
  const fs::path results = vn::MachineHome() / "results";
  std::error_code made;
  fs::create_directories(results, made);
  if (made) {
    delete context;
    std::fprintf(stderr, "VN: cannot create %s: %s\n", results.c_str(), made.message().c_str());
    return 1;
  }

  QCoreApplication app(argc, argv);
  if (command.parallel > 0) SetReportFanOut(command.parallel);
  CReportMerge merge;
  int reports = 0;
  int kept = 0;
  std::string lastText;

  QObject statusWindow;
  const CWindowHandle status(&statusWindow, [&](UINT message, WPARAM, LPARAM lParam) -> LRESULT {
    if (message != WM_SETTEXT) return 0;
    lastText = TextOf(lParam);
    std::printf("%s\n", lastText.c_str());
    std::fflush(stdout);
    return 1;
  });
  QObject notifyWindow;
  const CWindowHandle notify(&notifyWindow, [&](UINT message, WPARAM wParam, LPARAM lParam) -> LRESULT {
    switch (message) {
      case WM_REPORT_SERVER_RESULT: {
        const ServerResult result = ServerResultOf(wParam, lParam);
        const DWORD code = merge.OnServerResult(result.machine, result.output);
        if (code != 0) {
          lastText = "cannot create the merged file: " + SystemText(code);
          std::fprintf(stderr, "VN: %s\n", lastText.c_str());
        }
        return code;
      }
      case WM_REPORT_DONE: {
        ++reports;
        const std::string merged = merge.OnDone();
        if (merged.empty()) return 0;
        const std::string target = KeepResult(merged, results, command.reportName);
        if (target.empty()) {
          lastText = "cannot move the merged result into " + results.string();
          std::fprintf(stderr, "VN: %s\n", lastText.c_str());
          return 0;
        }
        ++kept;
        std::printf("Result: %s\n", target.c_str());
        std::fflush(stdout);
        return 0;
      }
      case WM_REPORT_CHANNEL_CLOSED:
        QCoreApplication::quit();
        return 0;
      default:
        return 0;
    }
  });

  // Manual reset: once cancelled, every later progress text is answered
  // with "CANCEL", so a cancel that reaches a server as its run ends anyway
  // still stops the next one.
  HANDLE cancel = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  const CCancelOnSignals termination(cancel);
  auto* entry = new ProgressChannelEntry;
  entry->hCancelEvent = cancel;
  entry->hNotifyWnd = notify.GetSafeHwnd();
  entry->hStatusWnd = status.GetSafeHwnd();
  context->hNotifyWnd = notify.GetSafeHwnd();
  context->hStatusWnd = status.GetSafeHwnd();
  context->nCustomReport = command.customReport ? 1 : 0;
  context->reportMachine = command.reportMachine;
  context->reportName = command.reportName;
  SetRunPipeNames(context, entry);

  HANDLE report = nullptr;
  HANDLE channel = nullptr;
  if (!StartReportRun(context, entry, &report, &channel)) {
    std::fprintf(stderr, "VN: cannot start the run: %s\n", SystemText(GetLastError()).c_str());
    return 1;
  }
  // Ends with the channel, which the report thread closes as its last act;
  // both threads still have their last steps to take then.
  QCoreApplication::exec();
  // A thread's exit code once it has ended, or the code of what failed.
  const auto exitOf = [](HANDLE thread) {
    DWORD code = 0;
    if (WaitForSingleObject(thread, INFINITE) != WAIT_OBJECT_0 || !GetExitCodeThread(thread, &code))
      return GetLastError();
    return code;
  };
  const DWORD reportExit = exitOf(report);
  const DWORD channelExit = exitOf(channel);
  CloseHandle(report);
  CloseHandle(channel);
  CloseHandle(cancel);

  if (reportExit != 0 || channelExit != 0) {
    std::fprintf(stderr, "VN: the run's progress channel failed: %s\n",
                 SystemText(reportExit != 0 ? reportExit : channelExit).c_str());
    return 1;
  }
  if (termination.Cancelled()) {
    std::fprintf(stderr, "VN: the run was cancelled; %d of %d reports produced a result\n", kept, reports);
    return 1;
  }
  if (reports == 0 || kept < reports) {
    std::fprintf(stderr, "VN: %d of %d reports produced a result%s%s\n", kept, reports, lastText.empty() ? "" : ": ",
                 lastText.c_str());
    return 1;
  }
  return 0;
}
