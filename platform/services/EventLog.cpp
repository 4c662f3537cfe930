#include "platform/services/EventLog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <ctime>
#include <mutex>

#include "platform/core/LastError.h"
#include "platform/core/UniqueFd.h"
#include "platform/machine/Machine.h"
#include "platform/machine/MachineSetup.h"
#include "platform/machine/PathMap.h"
#include "platform/net/Files.h"

namespace vn {
namespace {

std::mutex g_rotation;  // one writer of this process rotates at a time

std::string TypeName(WORD type) {
  if (type & EVENTLOG_ERROR_TYPE) return "Error";
  if (type & EVENTLOG_WARNING_TYPE) return "Warning";
  return "Information";
}

std::string Flat(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c == '\t' || c == '\n' || c == '\r') c = ' ';
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

std::string Now() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[32] = {};
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

}  // namespace

std::filesystem::path EventLogPath(const MachineConfig& config) {
  return WindowsDirectoryPath(config) / "System32" / "config" / "AppEvent.Evt";
}

LONG WriteMachineEvent(const MachineConfig& config, WORD type, std::string_view source, DWORD id,
                       std::string_view text) {
  const std::filesystem::path path = EventLogPath(config);
  std::error_code ec;
  std::filesystem::create_directories(path.parent_path(), ec);
  if (ec) return Win32FromErrno(ec.value());
  {
    const std::lock_guard lock(g_rotation);
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && static_cast<std::uint64_t>(st.st_size) > kEventLogLimit)
      std::filesystem::rename(path, path.parent_path() / "AppEvent.Old", ec);
  }
  const std::string line = Now() + "\t" + TypeName(type) + "\t" + Flat(source) + "\t" + std::to_string(id) + "\t" +
                           Flat(text) + "\n";
  UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
  if (!fd) return Win32FromErrno(errno);
  const ssize_t written = ::write(fd.Get(), line.data(), line.size());
  if (written < 0) return Win32FromErrno(errno);
  return static_cast<std::size_t>(written) == line.size() ? ERROR_SUCCESS : ERROR_DISK_FULL;
}

bool ParseEventLine(std::string_view line, EventRecord* event) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  std::array<std::string_view, 5> fields;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const std::size_t tab = i + 1 < fields.size() ? line.find('\t') : std::string_view::npos;
    if (i + 1 < fields.size() && tab == std::string_view::npos) return false;
    fields[i] = line.substr(0, tab);
    line = tab == std::string_view::npos ? std::string_view() : line.substr(tab + 1);
  }
  DWORD id = 0;
  if (fields[3].empty()) return false;
  for (const char c : fields[3]) {
    if (c < '0' || c > '9' || id > 100'000'000) return false;
    id = id * 10 + static_cast<DWORD>(c - '0');
  }
  if (fields[0].size() != 19 || (fields[1] != "Error" && fields[1] != "Warning" && fields[1] != "Information"))
    return false;
  *event = {std::string(fields[0]), std::string(fields[1]), std::string(fields[2]), id, std::string(fields[4])};
  return true;
}

LONG ReadEventLog(std::string_view machine, std::vector<EventRecord>* events) {
  events->clear();
  if (machine.starts_with("\\\\")) machine.remove_prefix(2);
  std::string name(machine);
  if (name.empty()) {
    char local[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = sizeof local;
    if (!GetComputerNameA(local, &size)) return static_cast<LONG>(GetLastError());
    name = local;
  }
  FileLocation location;
  if (const LONG error = LocateFile("\\\\" + name + "\\ADMIN$\\System32\\config\\AppEvent.Evt", false, &location))
    return error;
  std::unique_ptr<FileReader> reader;
  if (const LONG error = location.endpoint->OpenRead(location.path, &reader))
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ERROR_SUCCESS : error;
  std::string text, line;
  std::array<BYTE, 64 * 1024> buffer{};
  for (;;) {
    std::size_t read = 0;
    if (const LONG error = reader->Read(buffer, &read)) return error;
    if (read == 0) break;
    text.append(reinterpret_cast<const char*>(buffer.data()), read);
  }
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    EventRecord event;
    if (ParseEventLine(std::string_view(text).substr(start, end - start), &event)) events->push_back(std::move(event));
    start = end + 1;
  }
  return ERROR_SUCCESS;
}

}  // namespace vn
