#include "platform/services/JobTiming.h"

#include <time.h>

#include <algorithm>

namespace vn {
namespace {

using std::chrono::milliseconds;

// Every day pattern repeats within this many days (a 31st alone is at most 62
// days away; a weekday at most 7).
constexpr int kSearchDays = 400;

constexpr UCHAR kKnownFlags = JOB_INPUT_FLAGS | JOB_OUTPUT_FLAGS;

struct LocalDate {
  int year = 0;
  int month = 0;  // 1-12
  int day = 0;    // 1-31
  int weekday = 0;  // 0 = Monday ... 6 = Sunday
};

time_t ToTimeT(JobTimePoint point) {
  return static_cast<time_t>(std::chrono::floor<std::chrono::seconds>(point.time_since_epoch()).count());
}

JobTimePoint FromTimeT(time_t seconds) { return JobTimePoint(std::chrono::seconds(seconds)); }

bool DateOf(JobTimePoint point, LocalDate* date) {
  const time_t seconds = ToTimeT(point);
  tm local{};
  if (!localtime_r(&seconds, &local)) return false;
  *date = {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, (local.tm_wday + 6) % 7};
  return true;
}

// The date `days` after `start`, counted at noon so daylight saving cannot
// move it to another day.
bool AddDays(const LocalDate& start, int days, LocalDate* date) {
  tm noon{};
  noon.tm_year = start.year - 1900;
  noon.tm_mon = start.month - 1;
  noon.tm_mday = start.day + days;
  noon.tm_hour = 12;
  noon.tm_isdst = -1;
  if (mktime(&noon) == static_cast<time_t>(-1)) return false;
  *date = {noon.tm_year + 1900, noon.tm_mon + 1, noon.tm_mday, (noon.tm_wday + 6) % 7};
  return true;
}

bool Matches(const JobTiming& timing, const LocalDate& date) {
  if (timing.daysOfMonth == 0 && timing.daysOfWeek == 0) return true;
  return (timing.daysOfMonth >> (date.day - 1) & 1u) != 0 || (timing.daysOfWeek >> date.weekday & 1u) != 0;
}

}  // namespace

JobTimePoint SystemJobNow() { return JobClock::now(); }

JobTiming TimingOf(const AT_INFO& info) {
  return {static_cast<DWORD>(std::min<DWORD_PTR>(info.JobTime, kMillisecondsPerDay)), info.DaysOfMonth,
          info.DaysOfWeek, info.Flags};
}

JobTiming AddedTiming(const AT_INFO& info, JobTimePoint now) {
  JobTiming timing = TimingOf(info);
  LocalDate today;
  if ((timing.flags & JOB_ADD_CURRENT_DATE) != 0 && DateOf(now, &today)) timing.daysOfMonth |= 1u << (today.day - 1);
  timing.flags &= JOB_RUN_PERIODICALLY | JOB_NONINTERACTIVE;
  return timing;
}

bool IsValidTiming(const JobTiming& timing) {
  return timing.jobTime < kMillisecondsPerDay && (timing.daysOfMonth & 0x80000000u) == 0 &&
         (timing.daysOfWeek & 0x80u) == 0 && (timing.flags & ~kKnownFlags) == 0;
}

DWORD ValidateJob(const AT_INFO* info) {
  if (!info || !info->Command || info->JobTime >= kMillisecondsPerDay) return ERROR_INVALID_PARAMETER;
  if (!IsValidTiming(TimingOf(*info))) return ERROR_INVALID_PARAMETER;
  std::size_t length = 0;
  bool blank = true;
  for (; length <= kMaxJobCommandLength && info->Command[length] != 0; ++length)
    if (info->Command[length] != u' ' && info->Command[length] != u'\t') blank = false;
  if (length > kMaxJobCommandLength || blank) return ERROR_INVALID_PARAMETER;
  return ERROR_SUCCESS;
}

std::optional<JobTimePoint> LocalInstant(int year, int month, int day, DWORD sinceMidnight) {
  const int seconds = static_cast<int>(sinceMidnight / 1000);
  const auto wall = [&](int isdst) {
    tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = seconds / 3600;
    t.tm_min = seconds / 60 % 60;
    t.tm_sec = seconds % 60;
    t.tm_isdst = isdst;
    return t;
  };
  // Read the wall time once as standard and once as summer time; a reading
  // that gives back the same wall time is a real instant. Two real ones: the
  // time happens twice, take the first. None: the time is in a gap; the
  // reading with the offset from before the gap is the later one.
  std::optional<time_t> real;
  std::optional<time_t> latest;
  for (const int isdst : {0, 1}) {
    tm t = wall(isdst);
    const time_t placed = mktime(&t);
    if (placed == static_cast<time_t>(-1)) continue;
    latest = latest ? std::max(*latest, placed) : placed;
    tm back{};
    if (!localtime_r(&placed, &back)) continue;
    const tm wanted = wall(isdst);
    if (back.tm_year == wanted.tm_year && back.tm_mon == wanted.tm_mon && back.tm_mday == wanted.tm_mday &&
        back.tm_hour == wanted.tm_hour && back.tm_min == wanted.tm_min && back.tm_sec == wanted.tm_sec)
      real = real ? std::min(*real, placed) : placed;
  }
  const std::optional<time_t> chosen = real ? real : latest;
  if (!chosen) return std::nullopt;
  return FromTimeT(*chosen) + milliseconds(sinceMidnight % 1000);
}

std::optional<JobTimePoint> NextRun(const JobTiming& timing, JobTimePoint from) {
  if (!IsValidTiming(timing)) return std::nullopt;
  LocalDate today;
  if (!DateOf(from, &today)) return std::nullopt;
  for (int offset = 0; offset < kSearchDays; ++offset) {
    LocalDate date;
    if (!AddDays(today, offset, &date)) return std::nullopt;
    if (!Matches(timing, date)) continue;
    const auto instant = LocalInstant(date.year, date.month, date.day, timing.jobTime);
    if (instant && *instant >= from) return instant;
  }
  return std::nullopt;
}

std::optional<JobTimePoint> RunAfter(const JobTiming& timing, JobTimePoint due) {
  if ((timing.flags & JOB_RUN_PERIODICALLY) == 0 || (timing.daysOfMonth == 0 && timing.daysOfWeek == 0))
    return std::nullopt;
  return NextRun(timing, due + milliseconds(1));
}

bool RunsToday(JobTimePoint due, JobTimePoint now) {
  LocalDate dueDate;
  LocalDate today;
  if (due < now || !DateOf(due, &dueDate) || !DateOf(now, &today)) return false;
  return dueDate.year == today.year && dueDate.month == today.month && dueDate.day == today.day;
}

}  // namespace vn
