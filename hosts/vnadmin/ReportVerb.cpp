#include "hosts/vnadmin/ReportVerb.h"

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <random>
#include <system_error>
#include <thread>

#include "console/core/reports/ReportCatalogue.h"
#include "platform/core/Handles.h"
#include "platform/core/LastError.h"
#include "platform/core/Messages.h"
#include "platform/ipc/Pipes.h"
#include "platform/machine/Machine.h"
#include "vncli/KSCli.h"

namespace vn::admin {
namespace {

namespace fs = std::filesystem;

std::string SystemText(DWORD code) {
  char text[512] = {};
  const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                                      text, sizeof text, nullptr);
  std::string out(text, length);
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out.empty() ? "error " + std::to_string(code) : out;
}

bool ParseNumber(const std::string& text, DWORD* value) {
  const bool hex = text.starts_with("0x") || text.starts_with("0X");
  const char* begin = text.data() + (hex ? 2 : 0);
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(begin, end, *value, hex ? 16 : 10);
  return begin != end && error == std::errc() && stop == end;
}

template <std::size_t N>
bool SetText(char (&field)[N], const std::string& text) {
  if (text.size() >= N || text.find('\0') != std::string::npos) return false;
  std::memcpy(field, text.data(), text.size());
  field[text.size()] = '\0';
  return true;
}

// Parses the command line into the record; an empty string on success, else
// what is wrong with it.
struct Command {
  std::string machine;
  std::string objects;
  std::string output;
  bool quiet = false;
  KSServerCommunicationReportRec record;
};

std::string Parse(const std::vector<std::string>& args, Command* command) {
  static const std::map<std::string, DWORD> kScopes = {{"between", 2}, {"larger", 3}, {"smaller", 4}, {"all", 5}};
  static const std::map<std::string, DWORD> kMeasures = {{"mb", 1},   {"kb", 2},     {"bytes", 3}, {"date", 4},
                                                         {"days", 5}, {"months", 6}, {"years", 7}, {"percent", 8}};
  static const std::map<std::string, LONG> kTests = {{"clear", 0}, {"set", 1}, {"any", 2}};
  static const std::map<std::string, DWORD> kUnits = {{"bytes", kOptionSizesInBytes},
                                                      {"mb", kOptionSizesInMegabytes},
                                                      {"kb", kOptionSizesInKilobytes}};
  std::vector<std::string> positional;
  auto& record = command->record;
  int slot = 0;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& option = args[i];
    if (option == "--quiet") {
      command->quiet = true;
      continue;
    }
    if (option == "--compare") {
      record.Criteria[slot].Compare = 1;
      continue;
    }
    if (!option.starts_with("-") || option == "-") {
      positional.push_back(option);
      continue;
    }
    if (i + 1 >= args.size()) return "missing value after " + option;
    const std::string& value = args[++i];
    ReportCriterion& criterion = record.Criteria[slot];
    DWORD number = 0;
    const auto bad = [&] { return "bad value for " + option + ": " + value; };
    if (option == "-o") {
      command->output = value;
    } else if (option == "--slot") {
      if (!ParseNumber(value, &number) || number > 3) return bad();
      slot = static_cast<int>(number);
    } else if (option == "--scope") {
      if (!kScopes.contains(value)) return bad();
      criterion.Scope = kScopes.at(value);
    } else if (option == "--measure") {
      if (!kMeasures.contains(value)) return bad();
      criterion.Measure = kMeasures.at(value);
    } else if (option == "--value1") {
      if (!SetText(criterion.Value1, value)) return bad();
    } else if (option == "--value2") {
      if (!SetText(criterion.Value2, value)) return bad();
    } else if (option == "--readonly" || option == "--archive" || option == "--compress" || option == "--hidden" ||
               option == "--system" || option == "--temp") {
      if (!kTests.contains(value)) return bad();
      // The record is packed: its fields are set by name, never through a pointer.
      const LONG test = kTests.at(value);
      if (option == "--readonly") criterion.ReadOnly = test;
      if (option == "--archive") criterion.Archive = test;
      if (option == "--compress") criterion.Compress = test;
      if (option == "--hidden") criterion.Hidden = test;
      if (option == "--system") criterion.System = test;
      if (option == "--temp") criterion.Temp = test;
    } else if (option == "--filter") {
      if (!SetText(record.FileFilter, value)) return bad();
    } else if (option == "--owner") {
      if (!SetText(record.OwnerFilter, value)) return bad();
    } else if (option == "--fields") {
      if (!ParseNumber(value, &number)) return bad();
      record.Fields = number;
    } else if (option == "--rptlen") {
      if (!ParseNumber(value, &number) || number > 0x7FFFFFFF) return bad();
      record.RptLen = static_cast<LONG>(number);
    } else if (option == "--units") {
      if (!kUnits.contains(value)) return bad();
      record.Options = (record.Options & ~0x07u) | kUnits.at(value);
    } else if (option == "--options") {
      if (!ParseNumber(value, &number)) return bad();
      record.Options = number;
    } else {
      return "unknown option " + option;
    }
  }
  if (positional.size() != 3) return "expected MACHINE, \"REPORT NAME\" and OBJECTS";
  if (command->output.empty()) return "no result file given (-o FILE)";
  command->machine = positional[0];
  while (command->machine.starts_with('\\')) command->machine.erase(0, 1);
  if (positional[1].starts_with("\\\\")) {
    // "\\MACHINE\Name": the custom report stored there, run with these options.
    if (positional[1].size() >= sizeof record.CustomReport) return "custom report name too long";
    record.Report = kReportCustom;
    std::snprintf(record.CustomReport, sizeof record.CustomReport, "%s", positional[1].c_str());
  } else {
    const int index = console::ReportIndexFromName(positional[1]);
    if (index < 0) return "unknown report \"" + positional[1] + "\"";
    record.Report = console::ServerCodeFromIndex(index);
  }
  record.Options |= kOptionCommaDelimited;
  command->objects = positional[2];
  return {};
}

// This program's end of the progress pipe: prints what the server sends and
// answers "CANCEL" once when `cancel` has been set.
class ProgressPipe {
 public:
  ProgressPipe(std::ostream* err, const std::atomic<bool>* cancel) : m_err(err), m_cancel(cancel) {
    std::random_device random;
    m_name = "vnadmin-" + std::to_string(random()) + std::to_string(random());
    m_pipe = CreateNamedPipeA(("\\\\.\\pipe\\" + m_name).c_str(), PIPE_ACCESS_DUPLEX,
                              PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, PIPE_UNLIMITED_INSTANCES, 260,
                              260, 0, nullptr);
    if (m_pipe != INVALID_HANDLE_VALUE) m_thread = std::thread([this] { Serve(); });
  }
  ~ProgressPipe() {
    {
      std::lock_guard lock(m_mutex);
      if (m_pipe != INVALID_HANDLE_VALUE) CloseHandle(m_pipe);
      m_err = nullptr;
    }
    if (m_thread.joinable()) m_thread.join();
  }
  // The name the server is given: this machine's name, so another machine reaches it.
  std::string RemoteName() const {
    return m_pipe == INVALID_HANDLE_VALUE ? std::string() : "\\\\" + LocalComputerName() + "\\pipe\\" + m_name;
  }

 private:
  void Serve() {
    while (ConnectNamedPipe(m_pipe, nullptr) || GetLastError() == static_cast<DWORD>(ERROR_PIPE_CONNECTED)) {
      char text[261] = {};
      DWORD read = 0;
      while (ReadFile(m_pipe, text, 260, &read, nullptr) && read > 0) {
        text[read] = '\0';
        char reply[40] = {};
        const bool cancelling = *m_cancel && !m_cancelSent;
        if (cancelling) std::strcpy(reply, "CANCEL");
        DWORD written = 0;
        // A cancel that did not go out goes with the answer to the server's
        // next text: it opens the pipe anew after a failed exchange.
        if (WriteFile(m_pipe, reply, sizeof reply, &written, nullptr) && cancelling) m_cancelSent = true;
        std::lock_guard lock(m_mutex);
        if (m_err) *m_err << "  " << text << std::endl;
      }
      DisconnectNamedPipe(m_pipe);
    }
  }

  std::ostream* m_err;
  std::string m_name;
  HANDLE m_pipe = INVALID_HANDLE_VALUE;
  const std::atomic<bool>* m_cancel;
  bool m_cancelSent = false;  // the pipe's thread only
  std::mutex m_mutex;
  std::thread m_thread;
};

// Takes SIGINT for the life of the object: the first one calls `onInterrupt`,
// a second one ends the process as an interrupt does.
class InterruptWatch {
 public:
  template <typename F>
  explicit InterruptWatch(F onInterrupt) {
    sigemptyset(&m_set);
    sigaddset(&m_set, SIGINT);
    pthread_sigmask(SIG_BLOCK, &m_set, &m_previous);
    // A program started in the background with interrupts ignored keeps
    // ignoring them: Ctrl+C is not meant for it.
    struct sigaction current {};
    if (sigaction(SIGINT, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) {
      m_done = true;
      return;
    }
    m_thread = std::thread([this, onInterrupt] {
      const timespec tick{0, 200 * 1000 * 1000};
      int count = 0;
      while (!m_done) {
        if (sigtimedwait(&m_set, nullptr, &tick) != SIGINT || m_done) continue;
        if (++count == 1) {
          onInterrupt();
        } else {
          signal(SIGINT, SIG_DFL);
          pthread_sigmask(SIG_UNBLOCK, &m_set, nullptr);
          raise(SIGINT);
        }
      }
    });
  }
  ~InterruptWatch() {
    // Woken by an interrupt of its own, the watcher sees the end at once
    // instead of at the end of its tick.
    m_done = true;
    if (m_thread.joinable()) {
      pthread_kill(m_thread.native_handle(), SIGINT);
      m_thread.join();
    }
    const timespec none{0, 0};
    while (sigtimedwait(&m_set, nullptr, &none) == SIGINT) {
    }
    pthread_sigmask(SIG_SETMASK, &m_previous, nullptr);
  }

 private:
  sigset_t m_set;
  sigset_t m_previous;
  std::atomic<bool> m_done{false};
  std::thread m_thread;
};

// Fetches the result into `path` (through a temporary file beside it).
DWORD Fetch(KSCli& client, KSServerCommunicationOutputRec& output, const fs::path& path,
            const std::atomic<bool>& interrupted, std::string* problem) {
  const fs::path partial = path.string() + ".part";
  std::ofstream file(partial, std::ios::binary | std::ios::trunc);
  if (!file) {
    *problem = "cannot write " + partial.string();
    return ERROR_ACCESS_DENIED;
  }
  KSServerCommunicationFileRec chunk{};
  int unused = 0;
  DWORD code = 0;
  while (!interrupted && (code = client.ProcessFile(&output, &chunk, &unused)) == 0)
    file.write(chunk.Data, chunk.Count);
  if (interrupted) code = ERROR_CANCELLED;
  client.DeleteServerFile(&output, &chunk);
  file.close();
  std::error_code error;
  if (code != static_cast<DWORD>(ERROR_HANDLE_EOF) || !file) {
    fs::remove(partial, error);
    *problem = code == static_cast<DWORD>(ERROR_HANDLE_EOF) ? "cannot write " + partial.string() : SystemText(code);
    return code == static_cast<DWORD>(ERROR_HANDLE_EOF) ? static_cast<DWORD>(ERROR_WRITE_FAULT) : code;
  }
  fs::rename(partial, path, error);
  if (error) {
    fs::remove(partial, error);
    *problem = "cannot write " + path.string();
    return ERROR_ACCESS_DENIED;
  }
  return 0;
}

}  // namespace

int ReportVerb(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  Command command;
  if (const std::string problem = Parse(args, &command); !problem.empty()) {
    err << "vnadmin report: " << problem << "\n"
        << "usage: vnadmin report MACHINE \"REPORT NAME\" OBJECTS [options] -o FILE\n";
    return 2;
  }
  // Interrupts are taken from here on, before any thread of the connection exists.
  std::atomic<bool> interrupted{false};
  InterruptWatch watch([&] {
    err << "vnadmin report: cancelling..." << std::endl;
    interrupted = true;
  });
  ProgressPipe progress(command.quiet ? nullptr : &err, &interrupted);
  const auto failed = [&](const std::string& text) {
    err << "vnadmin report: " << command.machine << ": " << text << "\n";
    return 1;
  };
  KSCli client;
  if (const DWORD code = client.Connect(command.machine.c_str())) {
    return failed((code == static_cast<DWORD>(ERROR_FILE_NOT_FOUND) ? "RODuduro is not running or not installed. "
                                                                     : "") +
                  SystemText(code));
  }
  if (interrupted) return failed(SystemText(ERROR_CANCELLED));
  SetText(command.record.PipeName, progress.RemoteName());
  KSServerCommunicationOutputRec output{};
  const DWORD code = client.ProcessReport(&command.record, &output, command.objects.c_str());
  if (code == 0 && interrupted) {
    // Cancelled after the server's last progress text: the result is not wanted.
    KSServerCommunicationFileRec chunk{};
    client.DeleteServerFile(&output, &chunk);
    return failed(SystemText(ERROR_CANCELLED));
  }
  if (code != 0) return failed(output.Message[0] ? std::string(output.Message) : SystemText(code));
  std::string problem;
  if (Fetch(client, output, command.output, interrupted, &problem) != 0) return failed(problem);
  out << "vnadmin report: result written to " << command.output << "\n";
  return 0;
}

}  // namespace vn::admin
