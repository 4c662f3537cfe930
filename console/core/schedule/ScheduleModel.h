#pragma once
// Report sets as jobs of a machine's job scheduler, without widgets: the
// user's schedule choices and the job fields they become, the job's command
// line for VN and how it is read back, and the texts the schedule list shows
// for a job. The run form, the "Modify Job" dialog and the schedule list
// translate their controls into these calls; the scheduler calls themselves
// (NetScheduleJobAdd/Enum/Del/GetInfo) are theirs.
//
// Plain functions on values; any thread, nothing is kept between calls.
//
// Rules this system settles for the corner cases:
// - "Tomorrow" sets the DaysOfWeek bit of the day after today. The platform
//   numbers today 0 = Sunday ... 6 = Saturday and the mask has bit 0 =
//   Monday ... bit 6 = Sunday, so the bit number is today's number for every
//   day: on Sunday that is bit 0, Monday, the same rule as the six others.
// - A new job runs two minutes after the time chosen. When that passes
//   midnight (23:58:00 or later) the time wraps to the next day's time and
//   the job moves one day on with it: "Today" becomes "Tomorrow", "Tomorrow"
//   the day after tomorrow, and the checked days of "Every" and "Next" move
//   one day on (Sunday to Monday, the 31st to the 1st; in a month shorter
//   than 31 days the scheduler skips a day it lacks, as it always does).
//   A modified job takes its time as given and never wraps.
// - A job's command line holds at most 259 characters. A longer one (many
//   objects) is refused with CommandTooLongText(); it is never cut, since a
//   cut object list would report on other objects than the ones chosen.
// - In the schedule list a day column of a job without day bits of its kind
//   stays empty, except that a job with no day bits at all shows its
//   "Today " or "Tomorrow " in the Day(s)of Week column, the only place that
//   tells the two apart.

#include <array>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/core/Win32Types.h"
#include "platform/services/JobTiming.h"

namespace vn::console {

// The "Schedule Interval:" choice; the values are the items' indexes.
enum class ScheduleInterval : int {
  Today = 0,     // once, at the time given, today
  Tomorrow = 1,  // once, at the time given, tomorrow
  Every = 2,     // periodically, on the checked days of the week and month
  Next = 3,      // once, on the next of the checked days
};
inline constexpr int kScheduleIntervalCount = 4;

// "Today", "Tomorrow", "Every", "Next".
std::string_view ScheduleIntervalText(ScheduleInterval interval);
// The check lists' items: "Monday" ... "Sunday" and "1st" ... "31st".
std::vector<std::string> WeekDayNames();
std::vector<std::string> MonthDayNames();

// What the user chose on the run form or in the "Modify Job" dialog.
struct ScheduleChoices {
  ScheduleInterval interval = ScheduleInterval::Today;
  std::array<bool, 7> weekDays{};    // entry 0 = Monday ... 6 = Sunday
  std::array<bool, 31> monthDays{};  // entry 0 = the 1st ... 30 = the 31st
  int hour = 0;                      // 0..23
  int minute = 0;                    // 0..59
  int second = 0;                    // 0..59
};

// Today's weekday as the platform's local time gives it: 0 = Sunday ...
// 6 = Saturday. Values outside 0..6 are taken modulo 7.
//
// The DaysOfWeek bit of tomorrow.
UCHAR TomorrowWeekDayBit(int todayWeekday);

// A new job's fields (the two-minute offset, wrapped at midnight as the
// header says) and the interval it ended up with.
struct NewJobTiming {
  JobTiming timing;
  ScheduleInterval interval = ScheduleInterval::Today;
  bool wrapped = false;  // the offset passed midnight
};
NewJobTiming EncodeNewJob(const ScheduleChoices& choices, int todayWeekday);
// A modified job's fields: the time as given, no offset.
JobTiming EncodeModifiedJob(const ScheduleChoices& choices, int todayWeekday);

// A job read back: "Every" for a periodic job; with no day bits "Today" when
// the scheduler says it runs today, else "Tomorrow"; else "Next".
ScheduleInterval DecodeInterval(const JobTiming& timing);
// The interval, the day checks of both masks, and the hour and minute of
// JobTime (seconds are not shown back: 0).
ScheduleChoices DecodeJob(const JobTiming& timing);
// The "Modify Job" dialog's check: "Today" at an hour and minute before now's.
bool IsBeforeNow(const ScheduleChoices& choices, int nowHour, int nowMinute);

// The selected objects as one text: the local objects in order, then machine
// by machine in the map's order each machine's objects in order, joined with
// ";" and no blanks. A list ending in a backslash gets one more, so that the
// closing quote of the command line is not taken as escaped.
std::string JoinScheduleObjects(const std::vector<std::string>& localObjects,
                                const std::map<std::string, std::vector<std::string>>& networkObjects);
// "VN /rs "<name>" /on "<objects>"", or with "/rc" for a custom report.
std::string JobCommandLine(bool customReport, std::string_view reportName, std::string_view objectList);
// The command line of a new job in *command. False, with *message the text to
// show, when it is longer than kMaxJobCommandLength characters (UTF-16 units,
// as the scheduler counts them); *command is then left empty.
[[nodiscard]] bool BuildJobCommandLine(bool customReport, std::string_view reportName,
                                       const std::vector<std::string>& localObjects,
                                       const std::map<std::string, std::vector<std::string>>& networkObjects,
                                       std::string* command, std::string* message);
std::string_view CommandTooLongText();

// A job command read back. Both are empty unless the first word (up to the
// first blank) is "VN" or "VN.EXE" in any letter case and the text holds
// "/rs " and "/on " (exactly so: a "/rc " custom report job reads as empty).
// Each value is what follows the first double quote after its option up to
// the next double quote or the end of the text, at most 259 bytes (cut on a
// character boundary). Nothing is unescaped: a doubled final backslash stays.
struct ParsedCommand {
  std::string objects;
  std::string reportSet;
};
ParsedCommand ParseCommand(std::string_view command);

// The schedule list. Column titles, in order: "Object(s)", "Memorized
// Report", "JobId", "Day(s)of Week", "Day(s) of Month", "Time of Day",
// "Command", "Errors".
inline constexpr int kScheduleColumnCount = 8;
std::vector<std::string> ScheduleColumnTitles();

// "Every - ", "Today ", "Tomorrow " or "Next - ", by DecodeInterval.
std::string_view DaysPrefix(const JobTiming& timing);
// The prefix and "Mon " ... "Sun " for each set bit; see the header for a
// job without week-day bits.
std::string DaysOfWeekText(const JobTiming& timing);
// The prefix and each set day's number and a blank ("Next - 1 15 "); empty
// for a job without month-day bits.
std::string DaysOfMonthText(const JobTiming& timing);
// The 12-hour clock: " 9:05AM", "12:30AM", "12:00PM", "11:59PM"; seconds are
// dropped. A JobTime of a day or more is shown modulo a day.
std::string TimeOfDayText(DWORD jobTime);
// "Error during last execution" when JOB_EXEC_ERROR is set, else "None".
std::string_view ErrorsText(UCHAR flags);

// One data row of the list: the job's identifier (kept with the row header)
// and the texts of columns 1..8 (cells[0] is column 1).
struct ScheduleListRow {
  DWORD jobId = 0;
  std::array<std::string, kScheduleColumnCount> cells;
};
// The command is taken as at most 259 bytes of UTF-8 (cut on a character
// boundary); a null command is empty.
ScheduleListRow ScheduleListRowOf(const AT_ENUM& job);

// What the list does with a NetScheduleJobEnum result: 0 and ERROR_MORE_DATA
// fill rows, NERR_ServiceNotInstalled starts the scheduler service and asks
// again, anything else ends the refresh without a message.
enum class EnumStep { FillRows, StartService, Stop };
EnumStep EnumResultStep(DWORD result);

// The refresh timer of the list, and whether a tick rebuilds it: its own
// timer while no dialog or deletion works on the list.
inline constexpr UINT kScheduleTimerId = 125;
inline constexpr UINT kScheduleTimerPeriod = 60'000;
bool RefreshesOnTick(UINT timerId, bool busy);
// Grid rows (0 = the titles). Modify: the selected rows, or the current
// cell's row when none is selected, are exactly one data row. Delete:
// exactly one whole row is selected, and it is a data row (the titles' row
// carries no job).
bool CanModifyJob(std::span<const int> selectedRows, int currentRow);
bool CanDeleteJob(std::span<const int> selectedRows);

// The key of the open lists (the machine in upper case) and the title
// "Vornal Schedules on <machine>".
std::string ScheduleListKey(std::string_view machine);
std::string ScheduleListTitle(std::string_view machine);
// "Delete job <n>.  Are you sure?", "Error Deleting Job <n>, Error <code>",
// "Can't schedule the job.\n<code>".
std::string DeleteJobQuestion(DWORD jobId);
std::string DeleteJobErrorText(DWORD jobId, DWORD result);
std::string ScheduleJobErrorText(DWORD result);

}  // namespace vn::console
