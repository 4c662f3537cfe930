#include "console/widgets/run/ReportRun.h"

#include <QApplication>
#include <QFileDevice>
#include <QMetaObject>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <ctime>
#include <initializer_list>
#include <map>
#include <memory>
#include <mutex>
#include <string_view>

#include "console/core/reports/ReportCatalogue.h"
#include "console/core/reports/ReportSet.h"
#include "console/core/reports/ReportSetStore.h"
#include "console/core/run/ResultLines.h"
#include "console/core/support/SystemErrorText.h"
#include "platform/core/Handles.h"
#include "platform/ipc/Pipes.h"
#include "platform/ipc/Sync.h"
#include "platform/machine/Machine.h"
#include "ui/MessageBox.h"
#include "vncli/KSCli.h"

namespace {

using vn::console::ReportOptions;

// A report thread's connection to a server, lent for as long as its
// WM_REPORT_SERVER_RESULT send lasts (the thread waits in it), so that the
// handler's OpenReport fetches the result on the connection that made it
// instead of connecting and greeting the server again: a remote pipe's open
// and the first exchange on it cost a few milliseconds per machine. Keyed by
// the output record the message carries; an OpenReport given any other
// record connects for itself.
class LentConnection {
 public:
  LentConnection(const vn::KSServerCommunicationOutputRec* result, vn::KSCli* client) : m_result(result) {
    std::lock_guard lock(Mutex());
    Lent()[result] = client;
  }
  ~LentConnection() {
    std::lock_guard lock(Mutex());
    Lent().erase(m_result);
  }
  LentConnection(const LentConnection&) = delete;
  LentConnection& operator=(const LentConnection&) = delete;

  static vn::KSCli* Find(const vn::KSServerCommunicationOutputRec* result) {
    std::lock_guard lock(Mutex());
    const auto it = Lent().find(result);
    return it == Lent().end() ? nullptr : it->second;
  }

 private:
  static std::mutex& Mutex() {
    static std::mutex mutex;
    return mutex;
  }
  static std::map<const vn::KSServerCommunicationOutputRec*, vn::KSCli*>& Lent() {
    static std::map<const vn::KSServerCommunicationOutputRec*, vn::KSCli*> lent;
    return lent;
  }

  const vn::KSServerCommunicationOutputRec* m_result;
};

constexpr std::string_view kCantConnect = "Can't connect to %s\r\n%s";
constexpr std::string_view kServerNotRunning =
    "Unable to retrieve data from %s.\nRODuduro is not running or not\ninstalled.  Please consult the System "
    "Administrator.";
constexpr const char* kReportCreated = "Report created successfully.";

// The channel's messages: texts of at most 260 bytes; the replies 40 bytes.
constexpr DWORD kChannelBufferSize = 260;
constexpr DWORD kReplySize = 40;
constexpr DWORD kDisconnectSize = 20;
constexpr std::string_view kDisconnect = "Disconnect";

// The result of no server call yet: never 0.
constexpr DWORD kNoCall = 0xFFFFFFFF;

// `format` with each "%s" replaced by the next of `values` (never read as a
// printf format, so a machine name or server text cannot disturb it).
std::string Fill(std::string_view format, std::initializer_list<std::string_view> values) {
  std::string text;
  auto value = values.begin();
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] == '%' && i + 1 < format.size() && format[i + 1] == 's' && value != values.end()) {
      text.append(*value++);
      ++i;
    } else {
      text += format[i];
    }
  }
  return text;
}

std::string SystemText(DWORD code, DWORD size = 1025) { return vn::console::SystemErrorString(code, size); }

// A message box for a run without a status window. Boxes belong to the
// user-interface thread, so a worker hands the box over and waits for the
// answer; a process without a graphical application (the command-line host)
// writes the text to its error stream instead.
void ShowRunMessage(const std::string& text) {
  QCoreApplication* app = QCoreApplication::instance();
  if (!qobject_cast<QApplication*>(app)) {
    std::fprintf(stderr, "%s\n", text.c_str());
    return;
  }
  const QString qtext = QString::fromUtf8(text.c_str());
  if (app->thread() == QThread::currentThread()) {
    AfxMessageBox(qtext, MB_OK | MB_ICONEXCLAMATION);
    return;
  }
  QMetaObject::invokeMethod(
      app, [&qtext] { AfxMessageBox(qtext, MB_OK | MB_ICONEXCLAMATION); }, Qt::BlockingQueuedConnection);
}

// What a machine's call means for the rest of the run.
enum class Outcome {
  Next,       // go on with the next machine
  EndReport,  // this report is the last one
  EndRun,     // stop at once, without ending the report
};

// One run of the report thread over its context.
class CReportRunner {
 public:
  explicit CReportRunner(const ReportRunContext& context) : m_context(context) {
    char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = sizeof name;
    if (GetComputerNameA(name, &size)) m_computer = name;
  }

  void RunReportSet() {
    auto set = std::make_unique<vn::console::ReportSet>();
    const LONG loaded = vn::console::LoadReportSet(m_context.reportMachine, m_context.reportName, *set);
    if (loaded != 0 && m_context.hStatusWnd) {
      SetWindowTextA(m_context.hStatusWnd, SystemText(static_cast<DWORD>(loaded)).c_str());
      return;
    }
    for (auto& entry : *set) {
      if (!entry.Selected) continue;
      ReportOptions& options = entry.Options;
      const DWORD saved = options.Options;
      Prepare(options);
      Outcome outcome = Outcome::Next;
      if (!m_context.localObjects.empty()) {
        outcome = RunOn(m_computer, m_context.localObjects, options, /*local=*/true, /*custom=*/false);
        if (outcome == Outcome::EndRun) {
          options.Options = saved;
          return;
        }
      }
      for (const auto& [machine, objects] : m_context.remoteObjects) {
        if (outcome != Outcome::Next) break;
        outcome = RunOn(machine, Join(objects), options, /*local=*/false, /*custom=*/false);
      }
      options.Options = saved;
      SendReportDone(m_context.hNotifyWnd);
      if (outcome != Outcome::Next) return;
    }
  }

  void RunCustomReport() {
    auto options = std::make_unique<ReportOptions>();
    options->Report = vn::kReportCustom;
    const LONG loaded = vn::console::LoadCustomReportOptions(m_context.reportMachine, m_context.reportName, *options);
    if (loaded != 0 && m_context.hStatusWnd) {
      SetWindowTextA(m_context.hStatusWnd, SystemText(static_cast<DWORD>(loaded)).c_str());
      return;
    }
    Prepare(*options);
    if (!m_context.localObjects.empty())
      RunOn(m_computer, m_context.localObjects, *options, /*local=*/true, /*custom=*/true);
    for (const auto& [machine, objects] : m_context.remoteObjects)
      RunOn(machine, Join(objects), *options, /*local=*/false, /*custom=*/true);
    SendReportDone(m_context.hNotifyWnd);
  }

  void Finish() const {
    if (m_last == 0 && m_context.hStatusWnd) SetWindowTextA(m_context.hStatusWnd, kReportCreated);
  }

 private:
  static std::string Join(const std::vector<std::string>& objects) {
    std::string joined;
    for (const auto& object : objects) {
      if (!joined.empty()) joined += ';';
      joined += object;
    }
    return joined;
  }

  // Comma-delimited output, the run's user filter and its progress pipe.
  void Prepare(ReportOptions& options) const {
    options.Options |= vn::console::kOptionCommaDelimited;
    if (m_context.nUserFilter)
      std::snprintf(options.OwnerFilter, sizeof options.OwnerFilter, "%s", m_context.userFilter.c_str());
    std::snprintf(options.PipeName, sizeof options.PipeName, "%s", m_context.szRemotePipeName);
  }

  void Message(const std::string& text) const {
    if (m_context.hStatusWnd) {
      SetWindowTextA(m_context.hStatusWnd, text.c_str());
    } else {
      ShowRunMessage(text);
    }
  }

  // Runs the report on one machine's objects and hands a result to the
  // notify window. A custom report run reports no failure without a status
  // window and takes a cancel as the end of this machine's call only.
  Outcome RunOn(const std::string& machine, const std::string& objects, ReportOptions& options, bool local,
                bool custom) {
    const bool quiet = custom && !m_context.hStatusWnd;
    vn::KSCli client;
    DWORD code = client.Connect(machine.c_str());
    m_last = code;
    if (code != 0) {
      if (quiet) return Outcome::Next;
      if (!local && code == static_cast<DWORD>(ERROR_FILE_NOT_FOUND)) {
        Message(Fill(kServerNotRunning, {machine}));
      } else {
        Message(Fill(kCantConnect, {machine, SystemText(code, custom && !local ? MAX_PATH : 1025)}));
      }
      return Outcome::Next;
    }
    vn::KSServerCommunicationOutputRec output{};
    code = client.ProcessReport(&options, &output, objects.c_str());
    m_last = code;
    Outcome outcome = Outcome::Next;
    if (code == 0) {
      const LentConnection lent(&output, &client);
      SendServerResult(m_context.hNotifyWnd, {machine.c_str(), &output});
    } else if (code == static_cast<DWORD>(ERROR_CANCELLED)) {
      if (!custom) outcome = local ? Outcome::EndRun : Outcome::EndReport;
    } else if (!custom && !local && !m_context.hStatusWnd) {
      outcome = Outcome::EndReport;
    } else if (!quiet) {
      output.Message[sizeof output.Message - 1] = '\0';
      Message(output.Message[0] ? std::string(output.Message) : Fill(kCantConnect, {machine, SystemText(code)}));
    }
    client.Disconnect();
    return outcome;
  }

  const ReportRunContext& m_context;
  std::string m_computer;
  DWORD m_last = kNoCall;  // the last server call's result
};

// How long the report thread looks for the channel's pipe, which the
// channel thread makes as it starts: 10 s in steps of 25 ms.
constexpr int kMissingTries = 400;

// Waits until the run's channel pipe exists, so that no server is told to
// send its progress to a pipe that is not made yet: it would find nothing to
// open, and run its report without progress texts and deaf to a cancel.
// After the time above the run goes on all the same.
void AwaitChannel(const ReportRunContext& context) {
  for (int missing = 0; missing < kMissingTries; ++missing) {
    if (WaitNamedPipeA(context.szLocalPipeName, 0) || GetLastError() != static_cast<DWORD>(ERROR_FILE_NOT_FOUND))
      return;
    Sleep(25);
  }
}

// Sends "Disconnect" on the run's channel. The channel thread may not have
// made its pipe yet when a run with nothing to do ends at once, so a pipe
// that does not exist is looked for again for a while.
DWORD CloseChannel(const ReportRunContext& context) {
  int missing = 0;
  HANDLE pipe = INVALID_HANDLE_VALUE;
  for (;;) {
    pipe = CreateFileA(context.szLocalPipeName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (pipe != INVALID_HANDLE_VALUE) break;
    const DWORD error = GetLastError();
    if (error == static_cast<DWORD>(ERROR_PIPE_BUSY)) {
      // The next open tells whether an instance came free.
      (void)WaitNamedPipeA(context.szRemotePipeName, NMPWAIT_USE_DEFAULT_WAIT);
    } else if (error == static_cast<DWORD>(ERROR_FILE_NOT_FOUND) && ++missing < kMissingTries) {
      Sleep(25);
    } else {
      return error;
    }
  }
  char message[kDisconnectSize] = {};
  kDisconnect.copy(message, kDisconnect.size());
  DWORD written = 0;
  const DWORD result = WriteFile(pipe, message, kDisconnectSize, &written, nullptr) ? 0 : GetLastError();
  CloseHandle(pipe);
  return result;
}

}  // namespace

BOOL StartReportRun(ReportRunContext* context, ProgressChannelEntry* entry, HANDLE* phReportThread,
                    HANDLE* phChannelThread) {
  *phChannelThread = CreateThread(
      nullptr, 0, [](LPVOID p) -> DWORD { return MessageThreadProc(static_cast<ProgressChannelEntry*>(p)); }, entry, 0,
      nullptr);
  *phReportThread = CreateThread(
      nullptr, 0, [](LPVOID p) -> DWORD { return ReportThreadProc(static_cast<ReportRunContext*>(p)); }, context, 0,
      nullptr);
  return *phChannelThread != nullptr && *phReportThread != nullptr;
}

void SetRunPipeNames(ReportRunContext* context, ProgressChannelEntry* entry) {
  // Seconds since 1970, but never a second this process already gave to a
  // run: two runs started within one second still get their own channels.
  static std::atomic<long> lastStart{0};
  long start = static_cast<long>(std::time(nullptr));
  long previous = lastStart.load();
  for (;;) {
    const long next = std::max(start, previous + 1);
    if (lastStart.compare_exchange_weak(previous, next)) {
      start = next;
      break;
    }
  }
  char computer[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = sizeof computer;
  (void)GetComputerNameA(computer, &size);  // fails only for a buffer too small for any computer name
  if (context) {
    std::snprintf(context->szRemotePipeName, sizeof context->szRemotePipeName, "\\\\%s\\pipe\\%ld", computer, start);
    std::snprintf(context->szLocalPipeName, sizeof context->szLocalPipeName, "\\\\.\\pipe\\%ld", start);
  }
  if (entry) std::snprintf(entry->szPipeName, sizeof entry->szPipeName, "\\\\.\\pipe\\%ld", start);
}

extern "C" {

DWORD MessageThreadProc(ProgressChannelEntry* entry) {
  // Every caller may connect: the servers of other machines reach the pipe
  // through this machine's service.
  SECURITY_ATTRIBUTES attributes{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE pipe = CreateNamedPipeA(entry->szPipeName, PIPE_ACCESS_DUPLEX, PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT,
                                 PIPE_UNLIMITED_INSTANCES, kChannelBufferSize, kChannelBufferSize, 0, &attributes);
  if (pipe == INVALID_HANDLE_VALUE) return GetLastError();

  bool stop = false;
  while (!stop) {
    if (!ConnectNamedPipe(pipe, nullptr)) {
      const DWORD error = GetLastError();
      if (error == static_cast<DWORD>(ERROR_INVALID_HANDLE)) break;  // the pipe is gone
      if (error != static_cast<DWORD>(ERROR_PIPE_CONNECTED)) continue;
    }
    for (;;) {
      char text[kChannelBufferSize + 1] = {};
      DWORD read = 0;
      if (!ReadFile(pipe, text, kChannelBufferSize, &read, nullptr) || read == 0) {
        DisconnectNamedPipe(pipe);
        break;
      }
      if (std::string_view(text) == kDisconnect) {
        DisconnectNamedPipe(pipe);
        stop = true;
        break;
      }
      char reply[kReplySize] = {};
      if (entry->hCancelEvent && WaitForSingleObject(entry->hCancelEvent, 0) == WAIT_OBJECT_0)
        std::snprintf(reply, sizeof reply, "CANCEL");
      DWORD written = 0;
      // A server that has gone fails the next read, which ends this client;
      // while the cancel event is set every reply says so.
      (void)WriteFile(pipe, reply, kReplySize, &written, nullptr);
      if (entry->hStatusWnd) SetWindowTextA(entry->hStatusWnd, text);
    }
  }

  CloseHandle(pipe);
  if (entry->hNotifyWnd) PostChannelClosed(entry->hNotifyWnd);
  if (entry->hDoneEvent) SetEvent(entry->hDoneEvent);
  delete entry;
  return 0;
}

DWORD ReportThreadProc(ReportRunContext* context) {
  AwaitChannel(*context);
  {
    CReportRunner runner(*context);
    if (context->nCustomReport) {
      runner.RunCustomReport();
    } else {
      runner.RunReportSet();
    }
    runner.Finish();
  }
  const DWORD closed = CloseChannel(*context);
  // The context is freed on every path: nobody else holds it once the
  // thread has started.
  delete context;
  return closed;
}

}  // extern "C"

int OpenReport(const char* machine, vn::KSServerCommunicationOutputRec* file, QFileDevice* out, int first,
               std::string* totals) {
  // The report thread waits in its send while this runs, so its lent
  // connection has one user at a time.
  vn::KSCli own;
  vn::KSCli* lent = LentConnection::Find(file);
  if (!lent && own.Connect(machine) != 0) return 0;
  vn::KSCli& client = lent ? *lent : own;
  vn::KSServerCommunicationFileRec chunk{};
  int reserved = 0;
  if (client.ProcessFile(file, &chunk, &reserved) != 0) {
    client.DeleteServerFile(file, &chunk);
    return 0;
  }

  // Lines are gathered and written in blocks.
  constexpr std::size_t kBlock = 256 * 1024;
  std::string block;
  block.reserve(kBlock + 4096);
  const auto flush = [&] {
    if (out && !block.empty()) out->write(block.data(), static_cast<qint64>(block.size()));
    block.clear();
  };
  const auto onLine = [&](std::string_view line) {
    switch (vn::console::ClassifyResultLine(line, first != 0)) {
      case vn::console::MergeAction::Write:
        block.append(line);
        if (block.size() >= kBlock) flush();
        break;
      case vn::console::MergeAction::Drop:
        break;
      case vn::console::MergeAction::ReplaceTotals:
        if (totals) totals->assign(line);
        break;
      case vn::console::MergeAction::AddTotals:
        if (totals) vn::console::AddTotalsLine(totals, line);
        break;
    }
  };
  vn::console::CResultLineReader reader;
  do {
    reader.Feed(std::string_view(chunk.Data, std::min<std::size_t>(chunk.Count, sizeof chunk.Data)), onLine);
  } while (client.ProcessFile(file, &chunk, &reserved) == 0);
  reader.Finish(onLine);
  flush();
  client.DeleteServerFile(file, &chunk);
  return 0;
}
