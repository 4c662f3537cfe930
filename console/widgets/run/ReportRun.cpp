#include "console/widgets/run/ReportRun.h"

#include <QApplication>
#include <QFileDevice>
#include <QMetaObject>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <initializer_list>
#include <map>
#include <memory>
#include <mutex>
#include <string_view>
#include <thread>
#include <vector>

#include "console/core/reports/ReportCatalogue.h"
#include "console/core/reports/ReportSet.h"
#include "console/core/reports/ReportSetStore.h"
#include "console/core/run/FanOut.h"
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

// What a machine's call fetched of its result while it waited for its turn
// in the selection's order: the first bytes (all of them for most results),
// taken on the call's own thread so that the hand-over to the merge, which
// runs one machine after another, costs no round trips for them.
struct Prefetched {
  DWORD first = ERROR_HANDLE_EOF;  // the first ProcessFile's result
  std::string bytes;               // the result's first bytes
  bool complete = false;           // all of it; the server's file is deleted
};

// A report thread's connection to a server, lent for as long as its
// WM_REPORT_SERVER_RESULT send lasts (the thread waits in it), so that the
// handler's OpenReport fetches the result on the connection that made it
// instead of connecting and greeting the server again: a remote pipe's open
// and the first exchange on it cost a few milliseconds per machine. Keyed by
// the output record the message carries; an OpenReport given any other
// record connects for itself. What the call fetched ahead comes with it.
class LentConnection {
 public:
  struct Lent {
    vn::KSCli* client = nullptr;
    const Prefetched* prefetched = nullptr;
  };

  LentConnection(const vn::KSServerCommunicationOutputRec* result, vn::KSCli* client, const Prefetched* prefetched)
      : m_result(result) {
    std::lock_guard lock(Mutex());
    Table()[result] = {client, prefetched};
  }
  ~LentConnection() {
    std::lock_guard lock(Mutex());
    Table().erase(m_result);
  }
  LentConnection(const LentConnection&) = delete;
  LentConnection& operator=(const LentConnection&) = delete;

  static Lent Find(const vn::KSServerCommunicationOutputRec* result) {
    std::lock_guard lock(Mutex());
    const auto it = Table().find(result);
    return it == Table().end() ? Lent{} : it->second;
  }

 private:
  static std::mutex& Mutex() {
    static std::mutex mutex;
    return mutex;
  }
  static std::map<const vn::KSServerCommunicationOutputRec*, Lent>& Table() {
    static std::map<const vn::KSServerCommunicationOutputRec*, Lent> lent;
    return lent;
  }

  const vn::KSServerCommunicationOutputRec* m_result;
};

// How much of its result one call fetches ahead, and all calls of a run
// together: results beyond that are fetched by the merge as before.
constexpr std::size_t kPrefetchPerCall = 4 * 1024 * 1024;
constexpr long long kPrefetchPerRun = 64 * 1024 * 1024;

// Whether a run's channel has answered "CANCEL" to any server, shared by
// the run's two threads through its local pipe name. Several servers report
// to one channel at once, and the one that is told is not always the first
// machine of the selection, so the report thread asks here before it hands
// on a result: once the user has cancelled, no more results are delivered.
class CRunCancels {
 public:
  static std::shared_ptr<std::atomic<bool>> For(const std::string& pipeName) {
    static std::mutex mutex;
    static std::map<std::string, std::weak_ptr<std::atomic<bool>>> runs;
    std::lock_guard lock(mutex);
    std::erase_if(runs, [](const auto& run) { return run.second.expired(); });
    auto& slot = runs[pipeName];
    auto flag = slot.lock();
    if (!flag) {
      flag = std::make_shared<std::atomic<bool>>(false);
      slot = flag;
    }
    return flag;
  }
};

constexpr std::string_view kCantConnect = "Can't connect to %s\r\n%s";
constexpr std::string_view kServerNotRunning =
    "Unable to retrieve data from %s.\nRODuduro is not running or not\ninstalled.  Please consult the System "
    "Administrator.";
constexpr const char* kReportCreated = "Report created successfully.";
constexpr std::string_view kMachinesDone = "%s of %s machines done";

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

// One machine's part of a report: its server's call, made on a fan-out
// thread, and what came of it, which the report thread hands on in the
// selection's order. The connection stays open until then, so the handler
// of WM_REPORT_SERVER_RESULT fetches the result on it.
struct MachineCall {
  std::string machine;
  std::string objects;
  bool local = false;
  ReportOptions options;  // the call's own copy: a server may be given it while another is
  vn::KSCli client;
  DWORD connected = kNoCall;  // Connect's result
  DWORD code = kNoCall;       // ProcessReport's result
  vn::KSServerCommunicationOutputRec output{};
  std::unique_ptr<Prefetched> prefetched;  // null: nothing fetched ahead
};

// Fetches the start of a call's result, within what is left of the run's
// allowance (`budget`, bytes still free; each call may take one chunk past
// it). What it does not fetch comes on the connection when the merge asks.
void Prefetch(MachineCall& call, std::atomic<long long>& budget) {
  auto prefetched = std::make_unique<Prefetched>();
  vn::KSServerCommunicationFileRec chunk{};
  int reserved = 0;
  DWORD code = call.client.ProcessFile(&call.output, &chunk, &reserved);
  prefetched->first = code;
  while (code == 0) {
    const std::size_t count = std::min<std::size_t>(chunk.Count, sizeof chunk.Data);
    prefetched->bytes.append(chunk.Data, count);
    const long long left = budget.fetch_sub(static_cast<long long>(count)) - static_cast<long long>(count);
    if (left <= 0 || prefetched->bytes.size() >= kPrefetchPerCall) break;
    code = call.client.ProcessFile(&call.output, &chunk, &reserved);
  }
  if (code != 0) {
    prefetched->complete = true;
    call.client.DeleteServerFile(&call.output, &chunk);
  }
  call.prefetched = std::move(prefetched);
}

// One run of the report thread over its context.
class CReportRunner {
 public:
  explicit CReportRunner(const ReportRunContext& context)
      : m_context(context), m_cancelled(CRunCancels::For(context.szLocalPipeName)) {
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
      const Outcome outcome = RunOnMachines(options, /*custom=*/false);
      options.Options = saved;
      if (outcome == Outcome::EndRun) return;
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
    RunOnMachines(*options, /*custom=*/true);
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

  // Runs one report on every machine of the selection: this machine's local
  // objects first, then the remote machines in name order. Every machine's
  // server is asked at once (up to the fan-out's width); the outcomes are
  // taken in that same order, so the merge writes the machines' results in
  // the order of the selection whatever order they finish in. A machine
  // whose outcome ends the report stops the calls not yet started; the
  // results of those that ran past it are removed from their servers.
  Outcome RunOnMachines(const ReportOptions& options, bool custom) {
    std::vector<std::unique_ptr<MachineCall>> calls;
    const auto add = [&](const std::string& machine, std::string objects, bool local) {
      auto call = std::make_unique<MachineCall>();
      call->machine = machine;
      call->objects = std::move(objects);
      call->local = local;
      call->options = options;
      calls.push_back(std::move(call));
    };
    if (!m_context.localObjects.empty()) add(m_computer, m_context.localObjects, true);
    for (const auto& [machine, objects] : m_context.remoteObjects) add(machine, Join(objects), false);
    if (calls.empty()) return Outcome::Next;

    const std::string asked = std::to_string(calls.size());
    std::atomic<std::size_t> done{0};
    std::atomic<long long> prefetchBudget{kPrefetchPerRun};
    vn::console::CFanOut fanOut(calls.size(), vn::console::RunFanOutWidth(), [&](std::size_t index) {
      MachineCall& call = *calls[index];
      // A cancel seen by any server stops the calls that have not begun.
      if (!m_cancelled->load()) {
        call.connected = call.client.Connect(call.machine.c_str());
        if (call.connected == 0) call.code = call.client.ProcessReport(&call.options, &call.output, call.objects.c_str());
        if (call.code == 0) Prefetch(call, prefetchBudget);
      } else {
        call.code = static_cast<DWORD>(ERROR_CANCELLED);
        call.connected = 0;
      }
      const std::size_t ended = ++done;
      if (calls.size() > 1 && m_context.hStatusWnd)
        SetWindowTextA(m_context.hStatusWnd, Fill(kMachinesDone, {std::to_string(ended), asked}).c_str());
    });

    Outcome outcome = Outcome::Next;
    std::size_t index = 0;
    for (; index < calls.size(); ++index) {
      if (!fanOut.Await(index)) break;
      outcome = Deliver(*calls[index], custom);
      if (outcome != Outcome::Next || m_cancelled->load()) {
        fanOut.Stop();
        ++index;
        break;
      }
    }
    // Past the end of the report: what still runs is waited for and its
    // result removed, never merged.
    for (; index < calls.size(); ++index)
      if (fanOut.Await(index)) Drop(*calls[index]);
    return outcome;
  }

  // Hands one machine's outcome on: a result to the notify window, a
  // failure as one message. A custom report run reports no failure without
  // a status window and takes a cancel as the end of this machine's call
  // only.
  Outcome Deliver(MachineCall& call, bool custom) {
    const bool quiet = custom && !m_context.hStatusWnd;
    DWORD code = call.connected;
    m_last = code;
    if (code != 0) {
      if (quiet) return Outcome::Next;
      if (!call.local && code == static_cast<DWORD>(ERROR_FILE_NOT_FOUND)) {
        Message(Fill(kServerNotRunning, {call.machine}));
      } else {
        Message(Fill(kCantConnect, {call.machine, SystemText(code, custom && !call.local ? MAX_PATH : 1025)}));
      }
      return Outcome::Next;
    }
    code = call.code;
    if (code == 0 && m_cancelled->load()) {
      // The user cancelled while this machine's report ran elsewhere.
      Drop(call);
      code = static_cast<DWORD>(ERROR_CANCELLED);
    }
    m_last = code;
    Outcome outcome = Outcome::Next;
    if (code == 0) {
      const LentConnection lent(&call.output, &call.client, call.prefetched.get());
      SendServerResult(m_context.hNotifyWnd, {call.machine.c_str(), &call.output});
    } else if (code == static_cast<DWORD>(ERROR_CANCELLED)) {
      if (!custom) outcome = call.local ? Outcome::EndRun : Outcome::EndReport;
    } else if (!custom && !call.local && !m_context.hStatusWnd) {
      outcome = Outcome::EndReport;
    } else if (!quiet) {
      call.output.Message[sizeof call.output.Message - 1] = '\0';
      Message(call.output.Message[0] ? std::string(call.output.Message)
                                     : Fill(kCantConnect, {call.machine, SystemText(code)}));
    }
    call.client.Disconnect();
    return outcome;
  }

  // Removes a result nobody will merge from its server.
  static void Drop(MachineCall& call) {
    if (call.connected == 0 && call.code == 0 && !(call.prefetched && call.prefetched->complete)) {
      vn::KSServerCommunicationFileRec file{};
      call.client.DeleteServerFile(&call.output, &file);
      call.code = kNoCall;
    }
    call.client.Disconnect();
  }

  const ReportRunContext& m_context;
  std::shared_ptr<std::atomic<bool>> m_cancelled;
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

// The clients of one progress channel, each served on a thread of its own:
// every server of a run sends its texts while the others send theirs. A
// client's texts are answered one by one; "Disconnect" from any client ends
// the channel: the instance waiting for the next client and every client's
// instance are closed, which wakes the threads blocked on them.
//
// Cancel: the entry's event is polled at each text. The client whose text
// finds it signalled is answered "CANCEL", and so is every other client
// connected at that moment, once, at its next text; a client that connects
// later is not, and the same client's following texts get an empty reply.
class CChannelSessions {
 public:
  // `listening`: the instance waiting for the first client.
  CChannelSessions(const ProgressChannelEntry& entry, HANDLE listening, std::shared_ptr<std::atomic<bool>> cancelled)
      : m_entry(entry), m_cancelled(std::move(cancelled)), m_listening(listening) {}
  ~CChannelSessions() { EndAll(); }
  CChannelSessions(const CChannelSessions&) = delete;
  CChannelSessions& operator=(const CChannelSessions&) = delete;

  // Serves the client connected to `instance`, the instance that was
  // listening; `next` is the one that listens now (null: none), closed when
  // the channel ends. False when the channel has ended already (`instance`
  // was closed with it).
  bool Serve(HANDLE instance, HANDLE next) {
    std::lock_guard lock(m_mutex);
    if (m_stopped) return false;
    m_listening = next;
    // Clients that have gone leave their threads and instances behind until here.
    std::erase_if(m_sessions, [](const std::unique_ptr<Session>& session) {
      if (!session->ended) return false;
      session->thread.join();
      CloseHandle(session->pipe);
      return true;
    });
    auto session = std::make_unique<Session>();
    session->pipe = instance;
    session->seen = m_cancels;
    Session* served = session.get();
    session->thread = std::thread([this, served] { Run(*served); });
    m_sessions.push_back(std::move(session));
    return true;
  }

  void AwaitStop() {
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [&] { return m_stopped; });
  }

  // Ends every client's thread and closes the instances.
  void EndAll() {
    Stop();
    std::vector<std::unique_ptr<Session>> sessions;
    {
      std::lock_guard lock(m_mutex);
      sessions.swap(m_sessions);
    }
    for (const auto& session : sessions) {
      session->thread.join();
      CloseHandle(session->pipe);
    }
  }

 private:
  struct Session {
    HANDLE pipe = nullptr;
    unsigned seen = 0;  // the cancels this client has been told of
    std::atomic<bool> ended{false};
    std::thread thread;
  };

  void Stop() {
    std::lock_guard lock(m_mutex);
    if (m_stopped) return;
    m_stopped = true;
    if (m_listening) CloseHandle(m_listening);
    m_listening = nullptr;
    // A client's pipe stays open until EndAll; this only ends its reads.
    for (const auto& session : m_sessions) DisconnectNamedPipe(session->pipe);
    m_changed.notify_all();
  }

  bool CancelFor(Session& session) {
    std::lock_guard lock(m_mutex);
    if (m_entry.hCancelEvent && WaitForSingleObject(m_entry.hCancelEvent, 0) == WAIT_OBJECT_0) {
      ++m_cancels;
      *m_cancelled = true;
    }
    if (session.seen == m_cancels) return false;
    session.seen = m_cancels;
    return true;
  }

  void Run(Session& session) {
    Answer(session);
    session.ended = true;
  }

  void Answer(Session& session) {
    for (;;) {
      char text[kChannelBufferSize + 1] = {};
      DWORD read = 0;
      if (!ReadFile(session.pipe, text, kChannelBufferSize, &read, nullptr) || read == 0) {
        DisconnectNamedPipe(session.pipe);
        return;
      }
      if (std::string_view(text) == kDisconnect) {
        DisconnectNamedPipe(session.pipe);
        Stop();
        return;
      }
      char reply[kReplySize] = {};
      if (CancelFor(session)) std::snprintf(reply, sizeof reply, "CANCEL");
      DWORD written = 0;
      // A server that has gone fails the next read, which ends this client.
      (void)WriteFile(session.pipe, reply, kReplySize, &written, nullptr);
      if (m_entry.hStatusWnd) SetWindowTextA(m_entry.hStatusWnd, text);
    }
  }

  const ProgressChannelEntry& m_entry;
  std::shared_ptr<std::atomic<bool>> m_cancelled;
  std::mutex m_mutex;
  std::condition_variable m_changed;
  bool m_stopped = false;
  HANDLE m_listening;  // closed by Stop
  unsigned m_cancels = 0;  // cancels answered so far
  std::vector<std::unique_ptr<Session>> m_sessions;
};

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

void SetReportFanOut(int width) { vn::console::SetRunFanOutWidth(width); }

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
  const auto makeInstance = [&] {
    return CreateNamedPipeA(entry->szPipeName, PIPE_ACCESS_DUPLEX, PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT,
                            PIPE_UNLIMITED_INSTANCES, kChannelBufferSize, kChannelBufferSize, 0, &attributes);
  };
  HANDLE listening = makeInstance();
  if (listening == INVALID_HANDLE_VALUE) return GetLastError();

  CChannelSessions sessions(*entry, listening, CRunCancels::For(entry->szPipeName));
  for (;;) {
    if (!ConnectNamedPipe(listening, nullptr)) {
      const DWORD error = GetLastError();
      if (error == static_cast<DWORD>(ERROR_INVALID_HANDLE)) break;  // closed: the channel ends
      if (error != static_cast<DWORD>(ERROR_PIPE_CONNECTED)) continue;
    }
    // The next client gets an instance of its own while this one is served.
    HANDLE next = makeInstance();
    if (!sessions.Serve(listening, next == INVALID_HANDLE_VALUE ? nullptr : next)) {
      if (next != INVALID_HANDLE_VALUE) CloseHandle(next);
      break;
    }
    if (next == INVALID_HANDLE_VALUE) {
      // No instance to spare: the clients there are served to the end.
      sessions.AwaitStop();
      break;
    }
    listening = next;
  }
  sessions.EndAll();

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
  return FetchReport(machine, file, out, first, totals, nullptr);
}

int FetchReport(const char* machine, vn::KSServerCommunicationOutputRec* file, QFileDevice* out, int first,
                std::string* totals, const std::function<void(std::string_view)>* observe) {
  // The report thread waits in its send while this runs, so its lent
  // connection has one user at a time.
  vn::KSCli own;
  const LentConnection::Lent lent = LentConnection::Find(file);
  if (!lent.client && own.Connect(machine) != 0) return 0;
  vn::KSCli& client = lent.client ? *lent.client : own;
  const Prefetched* ahead = lent.prefetched;
  vn::KSServerCommunicationFileRec chunk{};
  int reserved = 0;
  const DWORD opened = ahead ? ahead->first : client.ProcessFile(file, &chunk, &reserved);
  if (opened != 0) {
    if (!ahead || !ahead->complete) client.DeleteServerFile(file, &chunk);
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
    if (observe) (*observe)(line);
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
  if (ahead) {
    reader.Feed(ahead->bytes, onLine);
    if (!ahead->complete)
      while (client.ProcessFile(file, &chunk, &reserved) == 0)
        reader.Feed(std::string_view(chunk.Data, std::min<std::size_t>(chunk.Count, sizeof chunk.Data)), onLine);
  } else {
    do {
      reader.Feed(std::string_view(chunk.Data, std::min<std::size_t>(chunk.Count, sizeof chunk.Data)), onLine);
    } while (client.ProcessFile(file, &chunk, &reserved) == 0);
  }
  reader.Finish(onLine);
  flush();
  if (!ahead || !ahead->complete) client.DeleteServerFile(file, &chunk);
  return 0;
}
