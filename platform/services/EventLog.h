#pragma once
// A machine's event log "Application": what its machine service did with its
// services (started, stopped, ended by itself, failed to start, installed,
// removed), each event with its time, type, source and text. Programs that
// register an event source (a key under
// "SYSTEM\CurrentControlSet\Services\EventLog\Application") write under
// that name.
//
// The log is the text file "System32\config\AppEvent.Evt" in the machine's
// Windows directory, one event a line, fields separated by tabs:
//   2026-12-08 11:50:01<TAB>Information<TAB>Service Control Manager<TAB>7036<TAB>
//     The RODuduro service entered the running state.   (on the same line)
// Tabs and line ends inside a text become blanks. Each event is appended
// with one write, so writers of several processes never interleave. Others
// read it through the machine's ADMIN$ share (as `vnadmin eventlog` does).
// When the file passes kEventLogLimit bytes it is renamed to AppEvent.Old
// (replacing an older one) and a new one begun.
//
// Safe from any thread.

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "platform/core/Win32Types.h"
#include "platform/machine/MachineConfig.h"

inline constexpr WORD EVENTLOG_ERROR_TYPE = 0x0001;
inline constexpr WORD EVENTLOG_WARNING_TYPE = 0x0002;
inline constexpr WORD EVENTLOG_INFORMATION_TYPE = 0x0004;

namespace vn {

inline constexpr std::uint64_t kEventLogLimit = 4 * 1024 * 1024;
inline constexpr const char* kServiceControlSource = "Service Control Manager";

struct EventRecord {
  std::string time;     // "YYYY-MM-DD HH:MM:SS", local time
  std::string type;     // "Error", "Warning" or "Information"
  std::string source;
  DWORD id = 0;
  std::string text;
};

// The host path of the log of the machine `config`.
std::filesystem::path EventLogPath(const MachineConfig& config);

// Appends an event to the log of the machine `config` (a machine's own
// programs). Returns 0 or a Win32 code.
[[nodiscard]] LONG WriteMachineEvent(const MachineConfig& config, WORD type, std::string_view source, DWORD id,
                                     std::string_view text);

// The events of `machine` (a computer name; empty: this machine), oldest
// first, read through its ADMIN$ share. A machine whose log has no events
// yet gives an empty list. Lines that are no event are skipped.
[[nodiscard]] LONG ReadEventLog(std::string_view machine, std::vector<EventRecord>* events);

// One line of the log as an event; false for a line that is none.
bool ParseEventLine(std::string_view line, EventRecord* event);

}  // namespace vn
