// at: the scheduled jobs of a machine, through its "Schedule" service.
#include "hosts/vnadmin/AdminVerbs.h"

#include <charconv>
#include <cstdio>
#include <memory>
#include <optional>
#include <ostream>

#include "hosts/vnadmin/AdminOutput.h"
#include "platform/core/AsciiText.h"
#include "platform/core/WideString.h"
#include "platform/services/NetSchedule.h"

namespace vn::admin {
namespace {

constexpr std::string_view kVerb = "at";

struct NetBufferDeleter {
  void operator()(BYTE* buffer) const { NetApiBufferFree(buffer); }
};
using NetBufferPtr = std::unique_ptr<BYTE, NetBufferDeleter>;

// Weekdays in the order of the DaysOfWeek bits (bit 0 = Monday), as written.
constexpr std::string_view kWeekdays[] = {"M", "T", "W", "Th", "F", "S", "Su"};
constexpr std::string_view kWeekdayNames[] = {"MONDAY", "TUESDAY", "WEDNESDAY", "THURSDAY",
                                              "FRIDAY", "SATURDAY", "SUNDAY"};

std::optional<unsigned> Number(std::string_view text) {
  unsigned value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

// "HH:MM[:SS]" in 24 hours, or 1-12 with AM/PM (or A/P) after it: the
// milliseconds after midnight.
std::optional<DWORD> ParseTime(std::string text) {
  text = ToUpperAscii(text);
  int half = 0;   // 0: 24 hours, 1: AM, 2: PM
  for (const auto& [suffix, which] : {std::pair{"AM", 1}, {"PM", 2}, {"A", 1}, {"P", 2}}) {
    if (text.ends_with(suffix)) {
      text.resize(text.size() - std::string_view(suffix).size());
      while (text.ends_with(' ')) text.pop_back();
      half = which;
      break;
    }
  }
  std::vector<std::string_view> parts;
  std::string_view rest = text;
  for (std::size_t colon; (colon = rest.find(':')) != std::string_view::npos; rest.remove_prefix(colon + 1))
    parts.push_back(rest.substr(0, colon));
  parts.push_back(rest);
  if (parts.size() < 2 || parts.size() > 3) return std::nullopt;
  const auto hours = Number(parts[0]), minutes = Number(parts[1]);
  const auto seconds = parts.size() == 3 ? Number(parts[2]) : std::optional<unsigned>(0);
  if (!hours || !minutes || !seconds || parts[1].size() != 2 || (parts.size() == 3 && parts[2].size() != 2) ||
      *minutes > 59 || *seconds > 59)
    return std::nullopt;
  unsigned hour = *hours;
  if (half != 0) {
    if (hour < 1 || hour > 12) return std::nullopt;
    hour = hour % 12 + (half == 2 ? 12 : 0);
  } else if (hour > 23) {
    return std::nullopt;
  }
  return ((hour * 60 + *minutes) * 60 + *seconds) * 1000;
}

// A comma list of weekdays and days of the month into the two bit sets.
bool ParseDays(std::string_view list, DWORD* daysOfMonth, UCHAR* daysOfWeek) {
  while (!list.empty()) {
    const std::size_t comma = list.find(',');
    const std::string_view day = list.substr(0, comma);
    list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
    if (const auto number = Number(day)) {
      if (*number < 1 || *number > 31) return false;
      *daysOfMonth |= 1u << (*number - 1);
      continue;
    }
    bool found = false;
    const std::string upper = ToUpperAscii(day);
    for (int i = 0; i < 7 && !found; ++i) {
      // "M", "Th", "Su"..., or the name or a beginning of it of two letters or more.
      found = EqualsIgnoringCase(day, kWeekdays[i]) || (upper.size() >= 2 && kWeekdayNames[i].starts_with(upper));
      if (found) *daysOfWeek = static_cast<UCHAR>(*daysOfWeek | (1u << i));
    }
    if (!found) return false;
  }
  return true;
}

std::string TimeText(DWORD_PTR jobTime) {
  const auto seconds = static_cast<unsigned>(jobTime / 1000);
  char text[16];
  if (seconds % 60 == 0)
    std::snprintf(text, sizeof text, "%02u:%02u", seconds / 3600, seconds / 60 % 60);
  else
    std::snprintf(text, sizeof text, "%02u:%02u:%02u", seconds / 3600, seconds / 60 % 60, seconds % 60);
  return text;
}

std::string DayText(DWORD daysOfMonth, UCHAR daysOfWeek, UCHAR flags) {
  if (daysOfMonth == 0 && daysOfWeek == 0) return (flags & JOB_RUNS_TODAY) ? "Today" : "Tomorrow";
  std::string text = (flags & JOB_RUN_PERIODICALLY) ? "Each" : "Next";
  for (int i = 0; i < 7; ++i)
    if (daysOfWeek & (1u << i)) text += " " + std::string(kWeekdays[i]);
  for (int i = 0; i < 31; ++i)
    if (daysOfMonth & (1u << i)) text += " " + std::to_string(i + 1);
  return text;
}

Table JobTable() { return Table({"ID", "Status", "Day", "Time", "Command"}); }

void AddJob(Table* table, DWORD id, DWORD_PTR jobTime, DWORD daysOfMonth, UCHAR daysOfWeek, UCHAR flags,
            LPCWSTR command) {
  table->Add({std::to_string(id), (flags & JOB_EXEC_ERROR) ? "ERROR" : "OK", DayText(daysOfMonth, daysOfWeek, flags),
              TimeText(jobTime), ToUtf8(command)});
}

std::string Where(const std::string& machine) { return machine.empty() ? "this machine's jobs" : machine + " jobs"; }

int List(const std::string& machine, LPCWSTR server, std::ostream& out, std::ostream& err) {
  Table table = JobTable();
  DWORD resume = 0;
  NET_API_STATUS status = 0;
  do {
    LPBYTE raw = nullptr;
    DWORD read = 0, total = 0;
    status = NetScheduleJobEnum(server, &raw, MAX_PREFERRED_LENGTH, &read, &total, &resume);
    const NetBufferPtr buffer(raw);
    if (status != NERR_Success && status != static_cast<NET_API_STATUS>(ERROR_MORE_DATA))
      return Fail(err, Where(machine), status);
    const auto* jobs = reinterpret_cast<const AT_ENUM*>(raw);
    for (DWORD i = 0; i < read; ++i)
      AddJob(&table, jobs[i].JobId, jobs[i].JobTime, jobs[i].DaysOfMonth, jobs[i].DaysOfWeek, jobs[i].Flags,
             jobs[i].Command);
  } while (status == static_cast<NET_API_STATUS>(ERROR_MORE_DATA) && resume != 0);
  table.Print(out);
  return kExitSuccess;
}

int Show(const std::string& machine, LPCWSTR server, DWORD id, std::ostream& out, std::ostream& err) {
  LPBYTE raw = nullptr;
  const NET_API_STATUS status = NetScheduleJobGetInfo(server, id, &raw);
  const NetBufferPtr buffer(raw);
  if (status != NERR_Success) return Fail(err, Where(machine) + " " + std::to_string(id), status);
  const auto* job = reinterpret_cast<const AT_INFO*>(raw);
  Table table = JobTable();
  AddJob(&table, id, job->JobTime, job->DaysOfMonth, job->DaysOfWeek, job->Flags, job->Command);
  table.Print(out);
  return kExitSuccess;
}

int Add(const std::string& machine, LPCWSTR server, const Arguments& rest, std::ostream& out, std::ostream& err) {
  const auto time = ParseTime(rest[0]);
  if (!time) return BadUsage(err, kVerb, "not a time of day: " + rest[0]);
  AT_INFO info{*time, 0, 0, JOB_NONINTERACTIVE, nullptr};
  bool daysGiven = false;
  std::size_t next = 1;
  // The options, then the command: the first word that is not one of them
  // starts it (commands are often absolute paths, "/usr/bin/...").
  for (; next < rest.size(); ++next) {
    const std::string option = ToUpperAscii(rest[next]);
    if (option == "/INTERACTIVE") {
      info.Flags = static_cast<UCHAR>(info.Flags & ~JOB_NONINTERACTIVE);
      continue;
    }
    const bool every = option.starts_with("/EVERY:");
    if (!every && !option.starts_with("/NEXT:")) break;
    if (daysGiven) return BadUsage(err, kVerb, "give /every or /next once");
    daysGiven = true;
    const std::string_view days = std::string_view(rest[next]).substr(every ? 7 : 6);
    if (!ParseDays(days, &info.DaysOfMonth, &info.DaysOfWeek))
      return BadUsage(err, kVerb, "not a list of days: " + std::string(days));
    if (every) info.Flags |= JOB_RUN_PERIODICALLY;
    if (days.empty()) info.Flags |= JOB_ADD_CURRENT_DATE;
  }
  if (next >= rest.size()) return BadUsage(err, kVerb, "no command given");
  std::string command;
  for (; next < rest.size(); ++next) command += (command.empty() ? "" : " ") + rest[next];
  std::u16string wide = ToWide(command);
  info.Command = wide.data();
  DWORD id = 0;
  if (const NET_API_STATUS status = NetScheduleJobAdd(server, reinterpret_cast<LPBYTE>(&info), &id);
      status != NERR_Success)
    return Fail(err, Where(machine), status);
  out << "Added job " << id << "\n";
  return kExitSuccess;
}

}  // namespace

int AtVerb(const Arguments& args, std::ostream& out, std::ostream& err) {
  std::size_t next = 0;
  std::string machine;
  if (!args.empty() && IsMachineArgument(args[0])) machine = args[next++];
  const std::u16string wideMachine = ToWide(machine);
  const LPCWSTR server = machine.empty() ? nullptr : wideMachine.c_str();
  const Arguments rest(args.begin() + static_cast<std::ptrdiff_t>(next), args.end());
  if (rest.empty()) return List(machine, server, out, err);

  const auto isOption = [&](std::size_t i, std::string_view option) {
    return i < rest.size() && EqualsIgnoringCase(rest[i], option);
  };
  if (isOption(0, "/delete")) {
    if (rest.size() != 2 || !isOption(1, "/yes")) return BadUsage(err, kVerb, "deleting every job needs /delete /yes");
    const NET_API_STATUS status = NetScheduleJobDel(server, 0, 0xFFFFFFFF);
    if (status != NERR_Success && status != NERR_JobNotFound) return Fail(err, Where(machine), status);
    out << "Deleted every job\n";
    return kExitSuccess;
  }
  if (const auto id = Number(rest[0])) {
    if (rest.size() == 1) return Show(machine, server, *id, out, err);
    if (rest.size() != 2 || !isOption(1, "/delete")) return BadUsage(err, kVerb, "after a job ID only /delete");
    if (const NET_API_STATUS status = NetScheduleJobDel(server, *id, *id); status != NERR_Success)
      return Fail(err, Where(machine) + " " + rest[0], status);
    out << "Deleted job " << *id << "\n";
    return kExitSuccess;
  }
  return Add(machine, server, rest, out, err);
}

}  // namespace vn::admin
