#include "console/core/schedule/ScheduleModel.h"

#include <algorithm>
#include <cstdio>

#include "platform/core/AsciiText.h"
#include "platform/core/WideString.h"
#include "platform/net/Net.h"

namespace vn::console {

namespace {

constexpr DWORD kMillisecondsPerMinute = 60'000;
constexpr DWORD kMillisecondsPerHour = 3'600'000;
constexpr std::size_t kMaxParsedLength = 259;  // a 260-byte buffer with its terminator
constexpr UCHAR kAllWeekDays = 0x7F;

std::vector<std::string> SplitAtSemicolons(std::string_view text) {
  std::vector<std::string> items;
  while (!text.empty()) {
    const std::size_t end = text.find(';');
    items.emplace_back(text.substr(0, end));
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return items;
}

int NormalisedWeekday(int weekday) { return ((weekday % 7) + 7) % 7; }

// At most `maxBytes` of UTF-8, never ending inside a character.
std::string_view CutUtf8(std::string_view text, std::size_t maxBytes) {
  if (text.size() <= maxBytes) return text;
  std::size_t end = maxBytes;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end);
}

// The checked days of one week moved one day on: Monday to Tuesday ... Sunday
// to Monday.
UCHAR WeekDaysOneDayOn(UCHAR days) {
  days &= kAllWeekDays;
  return static_cast<UCHAR>(((days << 1) | (days >> 6)) & kAllWeekDays);
}

// The checked days of the month moved one day on: the 1st to the 2nd ... the
// 31st to the 1st.
DWORD MonthDaysOneDayOn(DWORD days) {
  days &= 0x7FFFFFFFu;
  return ((days << 1) | (days >> 30)) & 0x7FFFFFFFu;
}

JobTiming EncodeDays(const ScheduleChoices& choices, int todayWeekday) {
  JobTiming timing;
  switch (choices.interval) {
    case ScheduleInterval::Today:
      break;
    case ScheduleInterval::Tomorrow:
      timing.daysOfWeek = TomorrowWeekDayBit(todayWeekday);
      break;
    case ScheduleInterval::Every:
    case ScheduleInterval::Next:
      for (std::size_t n = 0; n < choices.monthDays.size(); ++n)
        if (choices.monthDays[n]) timing.daysOfMonth |= DWORD{1} << n;
      for (std::size_t n = 0; n < choices.weekDays.size(); ++n)
        if (choices.weekDays[n]) timing.daysOfWeek = static_cast<UCHAR>(timing.daysOfWeek | (1u << n));
      if (choices.interval == ScheduleInterval::Every) timing.flags = JOB_RUN_PERIODICALLY;
      break;
  }
  return timing;
}

DWORD Milliseconds(int hour, int minute, int second) {
  return static_cast<DWORD>(((static_cast<long long>(hour) * 60 + minute) * 60 + second) * 1000);
}

}  // namespace

std::string_view ScheduleIntervalText(ScheduleInterval interval) {
  switch (interval) {
    case ScheduleInterval::Today: return "Today";
    case ScheduleInterval::Tomorrow: return "Tomorrow";
    case ScheduleInterval::Every: return "Every";
    case ScheduleInterval::Next: return "Next";
  }
  return {};
}

std::vector<std::string> WeekDayNames() {
  return SplitAtSemicolons("Monday;Tuesday;Wednesday;Thursday;Friday;Saturday;Sunday;");
}

std::vector<std::string> MonthDayNames() {
  return SplitAtSemicolons(
      "1st;2nd;3rd;4th;5th;6th;7th;8th;9th;10th;11th;12th;13th;14th;15th;16th;17th;18th;19th;20th;21st;22nd;23rd;"
      "24th;25th;26th;27th;28th;29th;30th;31st;");
}

UCHAR TomorrowWeekDayBit(int todayWeekday) {
  // Sunday (0) is followed by Monday, bit 0; Monday (1) by Tuesday, bit 1...
  return static_cast<UCHAR>(1u << NormalisedWeekday(todayWeekday));
}

NewJobTiming EncodeNewJob(const ScheduleChoices& choices, int todayWeekday) {
  NewJobTiming result;
  result.interval = choices.interval;
  DWORD time = Milliseconds(choices.hour, choices.minute + 2, choices.second);
  if (time < kMillisecondsPerDay) {
    result.timing = EncodeDays(choices, todayWeekday);
    result.timing.jobTime = time;
    return result;
  }
  result.wrapped = true;
  time -= kMillisecondsPerDay;
  switch (choices.interval) {
    case ScheduleInterval::Today:
      result.interval = ScheduleInterval::Tomorrow;
      result.timing.daysOfWeek = TomorrowWeekDayBit(todayWeekday);
      break;
    case ScheduleInterval::Tomorrow:
      result.timing.daysOfWeek = TomorrowWeekDayBit(todayWeekday + 1);
      break;
    case ScheduleInterval::Every:
    case ScheduleInterval::Next:
      result.timing = EncodeDays(choices, todayWeekday);
      result.timing.daysOfWeek = WeekDaysOneDayOn(result.timing.daysOfWeek);
      result.timing.daysOfMonth = MonthDaysOneDayOn(result.timing.daysOfMonth);
      break;
  }
  result.timing.jobTime = time;
  return result;
}

JobTiming EncodeModifiedJob(const ScheduleChoices& choices, int todayWeekday) {
  JobTiming timing = EncodeDays(choices, todayWeekday);
  timing.jobTime = Milliseconds(choices.hour, choices.minute, choices.second);
  return timing;
}

ScheduleInterval DecodeInterval(const JobTiming& timing) {
  if (timing.flags & JOB_RUN_PERIODICALLY) return ScheduleInterval::Every;
  if (timing.daysOfMonth == 0 && timing.daysOfWeek == 0)
    return (timing.flags & JOB_RUNS_TODAY) ? ScheduleInterval::Today : ScheduleInterval::Tomorrow;
  return ScheduleInterval::Next;
}

ScheduleChoices DecodeJob(const JobTiming& timing) {
  ScheduleChoices choices;
  choices.interval = DecodeInterval(timing);
  for (std::size_t n = 0; n < choices.weekDays.size(); ++n) choices.weekDays[n] = (timing.daysOfWeek >> n) & 1u;
  for (std::size_t n = 0; n < choices.monthDays.size(); ++n) choices.monthDays[n] = (timing.daysOfMonth >> n) & 1u;
  choices.hour = static_cast<int>(timing.jobTime / kMillisecondsPerHour);
  choices.minute = static_cast<int>((timing.jobTime / kMillisecondsPerMinute) % 60);
  return choices;
}

bool IsBeforeNow(const ScheduleChoices& choices, int nowHour, int nowMinute) {
  if (choices.interval != ScheduleInterval::Today) return false;
  return choices.hour * 60 + choices.minute < nowHour * 60 + nowMinute;
}

std::string JoinScheduleObjects(const std::vector<std::string>& localObjects,
                                const std::map<std::string, std::vector<std::string>>& networkObjects) {
  std::string joined;
  const auto add = [&joined](const std::string& object) {
    if (!joined.empty()) joined += ';';
    joined += object;
  };
  for (const std::string& object : localObjects) add(object);
  for (const auto& [machine, objects] : networkObjects)
    for (const std::string& object : objects) add(object);
  if (!joined.empty() && joined.back() == '\\') joined += '\\';
  return joined;
}

std::string JobCommandLine(bool customReport, std::string_view reportName, std::string_view objectList) {
  std::string command = customReport ? "VN /rc \"" : "VN /rs \"";
  command += reportName;
  command += "\" /on \"";
  command += objectList;
  command += '"';
  return command;
}

bool BuildJobCommandLine(bool customReport, std::string_view reportName, const std::vector<std::string>& localObjects,
                         const std::map<std::string, std::vector<std::string>>& networkObjects, std::string* command,
                         std::string* message) {
  std::string line = JobCommandLine(customReport, reportName, JoinScheduleObjects(localObjects, networkObjects));
  if (ToWide(line).size() > kMaxJobCommandLength) {
    command->clear();
    *message = std::string(CommandTooLongText());
    return false;
  }
  *command = std::move(line);
  message->clear();
  return true;
}

std::string_view CommandTooLongText() {
  return "The job's command line would be longer than 259 characters, so the job can't be scheduled.\n"
         "Select fewer objects (a whole machine or share instead of its folders), or a report set with a shorter "
         "name.";
}

ParsedCommand ParseCommand(std::string_view command) {
  const std::size_t blank = command.find(' ');
  if (blank == std::string_view::npos) return {};
  const std::string_view word = command.substr(0, blank);
  if (!EqualsIgnoringCase(word, "VN") && !EqualsIgnoringCase(word, "VN.EXE")) return {};
  const std::size_t reportSetAt = command.find("/rs ");
  const std::size_t objectsAt = command.find("/on ");
  if (reportSetAt == std::string_view::npos || objectsAt == std::string_view::npos) return {};

  const auto quoted = [command](std::size_t from) {
    const std::size_t open = command.find('"', from);
    if (open == std::string_view::npos) return std::string();
    const std::string_view rest = command.substr(open + 1);
    return std::string(CutUtf8(rest.substr(0, rest.find('"')), kMaxParsedLength));
  };
  ParsedCommand parsed;
  parsed.reportSet = quoted(reportSetAt + 4);
  parsed.objects = quoted(objectsAt + 4);
  return parsed;
}

std::vector<std::string> ScheduleColumnTitles() {
  std::vector<std::string> titles;
  std::string_view text = "Object(s),Memorized Report,JobId,Day(s)of Week,Day(s) of Month,Time of Day,Command,Errors,";
  while (!text.empty()) {
    const std::size_t comma = text.find(',');
    titles.emplace_back(text.substr(0, comma));
    if (comma == std::string_view::npos) break;
    text.remove_prefix(comma + 1);
  }
  return titles;
}

std::string_view DaysPrefix(const JobTiming& timing) {
  switch (DecodeInterval(timing)) {
    case ScheduleInterval::Every: return "Every - ";
    case ScheduleInterval::Today: return "Today ";
    case ScheduleInterval::Tomorrow: return "Tomorrow ";
    case ScheduleInterval::Next: return "Next - ";
  }
  return {};
}

std::string DaysOfWeekText(const JobTiming& timing) {
  static constexpr std::array<std::string_view, 7> kNames = {"Mon ", "Tue ", "Wed ", "Thu ", "Fri ", "Sat ", "Sun "};
  if (timing.daysOfWeek == 0)
    return timing.daysOfMonth == 0 ? std::string(DaysPrefix(timing)) : std::string();
  std::string text(DaysPrefix(timing));
  for (std::size_t n = 0; n < kNames.size(); ++n)
    if ((timing.daysOfWeek >> n) & 1u) text += kNames[n];
  return text;
}

std::string DaysOfMonthText(const JobTiming& timing) {
  if (timing.daysOfMonth == 0) return {};
  std::string text(DaysPrefix(timing));
  for (int n = 0; n < 31; ++n)
    if ((timing.daysOfMonth >> n) & 1u) text += std::to_string(n + 1) + ' ';
  return text;
}

std::string TimeOfDayText(DWORD jobTime) {
  const DWORD minutes = (jobTime % kMillisecondsPerDay) / kMillisecondsPerMinute;
  const unsigned hour = minutes / 60;
  const unsigned hour12 = hour % 12 == 0 ? 12 : hour % 12;
  char text[16];
  std::snprintf(text, sizeof text, "%2u:%02u%s", hour12, static_cast<unsigned>(minutes % 60), hour < 12 ? "AM" : "PM");
  return text;
}

std::string_view ErrorsText(UCHAR flags) {
  return (flags & JOB_EXEC_ERROR) ? "Error during last execution" : "None";
}

ScheduleListRow ScheduleListRowOf(const AT_ENUM& job) {
  JobTiming timing;
  timing.jobTime = static_cast<DWORD>(job.JobTime);
  timing.daysOfMonth = job.DaysOfMonth;
  timing.daysOfWeek = job.DaysOfWeek;
  timing.flags = job.Flags;

  const std::string utf8 = ToUtf8(job.Command);
  const std::string command(CutUtf8(utf8, kMaxJobCommandLength));
  ParsedCommand parsed = ParseCommand(command);

  ScheduleListRow row;
  row.jobId = job.JobId;
  row.cells[0] = std::move(parsed.objects);
  row.cells[1] = std::move(parsed.reportSet);
  row.cells[2] = std::to_string(job.JobId);
  row.cells[3] = DaysOfWeekText(timing);
  row.cells[4] = DaysOfMonthText(timing);
  row.cells[5] = TimeOfDayText(timing.jobTime);
  row.cells[6] = command;
  row.cells[7] = std::string(ErrorsText(job.Flags));
  return row;
}

EnumStep EnumResultStep(DWORD result) {
  if (result == NERR_Success || result == static_cast<DWORD>(ERROR_MORE_DATA)) return EnumStep::FillRows;
  if (result == NERR_ServiceNotInstalled) return EnumStep::StartService;
  return EnumStep::Stop;
}

bool RefreshesOnTick(UINT timerId, bool busy) { return timerId == kScheduleTimerId && !busy; }

bool CanModifyJob(std::span<const int> selectedRows, int currentRow) {
  if (selectedRows.empty()) return currentRow > 0;
  return selectedRows.size() == 1 && selectedRows.front() > 0;
}

bool CanDeleteJob(std::span<const int> selectedRows) {
  return selectedRows.size() == 1 && selectedRows.front() > 0;
}

std::string ScheduleListKey(std::string_view machine) { return ToUpperAscii(machine); }

std::string ScheduleListTitle(std::string_view machine) {
  return "Vornal Schedules on " + std::string(machine);
}

std::string DeleteJobQuestion(DWORD jobId) { return "Delete job " + std::to_string(jobId) + ".  Are you sure?"; }

std::string DeleteJobErrorText(DWORD jobId, DWORD result) {
  return "Error Deleting Job " + std::to_string(jobId) + ", Error " + std::to_string(result);
}

std::string ScheduleJobErrorText(DWORD result) { return "Can't schedule the job.\n" + std::to_string(result); }

}  // namespace vn::console
