#include "platform/services/JobTiming.h"

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

#include <gtest/gtest.h>

namespace vn {
namespace {

using namespace std::chrono;

// Runs a test in a time zone given as a POSIX TZ rule (no zone files needed).
class TimeZone {
 public:
  explicit TimeZone(const char* rule) {
    if (const char* old = std::getenv("TZ")) m_previous = old;
    ::setenv("TZ", rule, 1);
    ::tzset();
  }
  ~TimeZone() {
    if (m_previous)
      ::setenv("TZ", m_previous->c_str(), 1);
    else
      ::unsetenv("TZ");
    ::tzset();
  }

 private:
  std::optional<std::string> m_previous;
};

// Central Europe: CET (+1), summer time CEST (+2) from the last Sunday of March
// 02:00 to the last Sunday of October 03:00.
constexpr const char* kCentralEurope = "CET-1CEST,M3.5.0,M10.5.0/3";

// An instant given in UTC, independent of the code under test.
JobTimePoint Utc(int y, unsigned m, unsigned d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
  return sys_days(year(y) / month(m) / day(d)) + hours(h) + minutes(mi) + seconds(s) + milliseconds(ms);
}

constexpr DWORD Time(int h, int m, int s = 0, int ms = 0) {
  return static_cast<DWORD>(((h * 60 + m) * 60 + s) * 1000 + ms);
}

constexpr UCHAR kMon = 0x01, kWed = 0x04, kFri = 0x10, kSat = 0x20, kSun = 0x40, kEveryDay = 0x7F;
constexpr DWORD Day(int n) { return 1u << (n - 1); }

std::string Show(std::optional<JobTimePoint> point) {
  if (!point) return "none";
  const auto days = floor<std::chrono::days>(*point);
  const year_month_day date(days);
  const hh_mm_ss<milliseconds> time(floor<milliseconds>(*point - days));
  char text[64];
  std::snprintf(text, sizeof text, "%d-%02u-%02u %02ld:%02ld:%02ld.%03ld", int(date.year()),
                unsigned(date.month()), unsigned(date.day()), long(time.hours().count()),
                long(time.minutes().count()), long(time.seconds().count()), long(time.subseconds().count()));
  return text;
}

TEST(JobTimingTest, NextRunFromFieldsAndNow) {
  TimeZone utc("UTC0");
  // 2026-12-05 is a Saturday.
  const struct {
    const char* what;
    JobTiming timing;
    JobTimePoint now;
    std::optional<JobTimePoint> next;
  } cases[] = {
      {"no days, still ahead today", {Time(10, 0), 0, 0, 0}, Utc(2026, 12, 5, 9), Utc(2026, 12, 5, 10)},
      {"no days, exactly now", {Time(10, 0), 0, 0, 0}, Utc(2026, 12, 5, 10), Utc(2026, 12, 5, 10)},
      {"no days, just past", {Time(10, 0), 0, 0, 0}, Utc(2026, 12, 5, 10, 0, 0, 1), Utc(2026, 12, 6, 10)},
      {"no days, periodic flag", {Time(8, 0), 0, 0, JOB_RUN_PERIODICALLY}, Utc(2026, 12, 5, 9), Utc(2026, 12, 6, 8)},
      {"midnight seen at 23:59:59.999", {0, 0, 0, 0}, Utc(2026, 12, 5, 23, 59, 59, 999), Utc(2026, 12, 6)},
      {"midnight seen at midnight", {0, 0, 0, 0}, Utc(2026, 12, 5), Utc(2026, 12, 5)},
      {"last millisecond of the day", {Time(23, 59, 59, 999), 0, 0, 0}, Utc(2026, 12, 5, 23, 59, 59, 998),
       Utc(2026, 12, 5, 23, 59, 59, 999)},
      {"last millisecond, year end", {Time(23, 59, 59, 999), 0, 0, 0}, Utc(2026, 12, 31, 23, 59, 59, 999),
       Utc(2026, 12, 31, 23, 59, 59, 999)},
      {"Mon and Fri from Saturday", {Time(10, 0), 0, kMon | kFri, 0}, Utc(2026, 12, 5, 12), Utc(2026, 12, 7, 10)},
      {"Sunday from Saturday", {Time(10, 0), 0, kSun, 0}, Utc(2026, 12, 5, 12), Utc(2026, 12, 6, 10)},
      {"Saturday, time passed: a week on", {Time(8, 0), 0, kSat, 0}, Utc(2026, 12, 5, 9), Utc(2026, 12, 12, 8)},
      {"Saturday, time ahead: today", {Time(10, 0), 0, kSat, 0}, Utc(2026, 12, 5, 9), Utc(2026, 12, 5, 10)},
      {"Wednesday or the 1st, across the year", {Time(6, 0), Day(1), kWed, 0}, Utc(2026, 12, 26),
       Utc(2026, 12, 30, 6)},
      {"the 1st, across the year", {Time(6, 0), Day(1), 0, 0}, Utc(2026, 12, 5), Utc(2027, 1, 1, 6)},
      {"31st skips April", {Time(1, 0), Day(31), 0, 0}, Utc(2026, 4, 15), Utc(2026, 5, 31, 1)},
      {"30th skips February", {Time(1, 0), Day(30), 0, 0}, Utc(2027, 2, 1), Utc(2027, 3, 30, 1)},
      {"29th skips February of 2027", {Time(1, 0), Day(29), 0, 0}, Utc(2027, 1, 30), Utc(2027, 3, 29, 1)},
      {"29th of February in 2028", {Time(1, 0), Day(29), 0, 0}, Utc(2028, 2, 1), Utc(2028, 2, 29, 1)},
      {"31st, time passed on the 31st", {Time(1, 0), Day(31), 0, 0}, Utc(2027, 1, 31, 2), Utc(2027, 3, 31, 1)},
      {"JobTime of a whole day", {kMillisecondsPerDay, 0, 0, 0}, Utc(2026, 12, 5), std::nullopt},
      {"weekday bit 7", {0, 0, 0x80, 0}, Utc(2026, 12, 5), std::nullopt},
      {"month day bit 31", {0, 0x80000000u, 0, 0}, Utc(2026, 12, 5), std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(Show(NextRun(c.timing, c.now)), Show(c.next)) << c.what;
}

TEST(JobTimingTest, RunAfterKeepsOnlyPeriodicJobsWithDays) {
  TimeZone utc("UTC0");
  const struct {
    const char* what;
    JobTiming timing;
    JobTimePoint due;
    std::optional<JobTimePoint> next;
  } cases[] = {
      {"periodic Mon+Fri", {Time(10, 0), 0, kMon | kFri, JOB_RUN_PERIODICALLY}, Utc(2026, 12, 7, 10),
       Utc(2026, 12, 11, 10)},
      {"periodic Fri -> Mon across the week", {Time(10, 0), 0, kMon | kFri, JOB_RUN_PERIODICALLY},
       Utc(2026, 12, 11, 10), Utc(2026, 12, 14, 10)},
      {"periodic every day at 23:59:59.999", {Time(23, 59, 59, 999), 0, kEveryDay, JOB_RUN_PERIODICALLY},
       Utc(2026, 12, 31, 23, 59, 59, 999), Utc(2027, 1, 1, 23, 59, 59, 999)},
      {"periodic 31st", {Time(0, 0), Day(31), 0, JOB_RUN_PERIODICALLY}, Utc(2027, 1, 31), Utc(2027, 3, 31)},
      {"periodic with other flags", {Time(0, 0), Day(1), 0, JOB_RUN_PERIODICALLY | JOB_EXEC_ERROR | JOB_RUNS_TODAY},
       Utc(2027, 1, 1), Utc(2027, 2, 1)},
      {"one-shot with days", {Time(10, 0), 0, kMon, 0}, Utc(2026, 12, 7, 10), std::nullopt},
      {"periodic without days", {Time(10, 0), 0, 0, JOB_RUN_PERIODICALLY}, Utc(2026, 12, 7, 10), std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(Show(RunAfter(c.timing, c.due)), Show(c.next)) << c.what;
}

TEST(JobTimingTest, RunsTodayMeansLaterOnTheSameLocalDate) {
  {
    TimeZone utc("UTC0");
    EXPECT_TRUE(RunsToday(Utc(2026, 12, 5, 23, 59, 59, 999), Utc(2026, 12, 5, 9)));
    EXPECT_TRUE(RunsToday(Utc(2026, 12, 5, 9), Utc(2026, 12, 5, 9)));
    EXPECT_FALSE(RunsToday(Utc(2026, 12, 6), Utc(2026, 12, 5, 23, 59)));
    EXPECT_FALSE(RunsToday(Utc(2026, 12, 5, 8), Utc(2026, 12, 5, 9)));
    EXPECT_FALSE(RunsToday(Utc(2027, 12, 5, 10), Utc(2026, 12, 5, 9)));
  }
  // 23:30 UTC on the 5th is already the 6th in Central Europe.
  TimeZone cet(kCentralEurope);
  EXPECT_TRUE(RunsToday(Utc(2026, 12, 5, 23, 30), Utc(2026, 12, 5, 23, 10)));
  EXPECT_FALSE(RunsToday(Utc(2026, 12, 5, 23, 30), Utc(2026, 12, 5, 22, 50)));
  // A job added at 09:00 for 08:00 with no day bits is "Tomorrow", at 10:00 "Today".
  const JobTiming job{Time(8, 0), 0, 0, 0};
  const auto due = NextRun(job, Utc(2026, 12, 5, 8));
  ASSERT_TRUE(due);
  EXPECT_FALSE(RunsToday(*due, Utc(2026, 12, 5, 8)));
  EXPECT_TRUE(RunsToday(*due, Utc(2026, 12, 5, 23)));
}

TEST(JobTimingTest, LocalTimeAndDaylightSaving) {
  TimeZone cet(kCentralEurope);
  const JobTiming daily{Time(2, 30), 0, kEveryDay, JOB_RUN_PERIODICALLY};
  const struct {
    const char* what;
    JobTiming timing;
    JobTimePoint from;
    JobTimePoint next;
  } cases[] = {
      {"winter", {Time(10, 0), 0, 0, 0}, Utc(2026, 1, 10), Utc(2026, 1, 10, 9)},
      {"summer", {Time(10, 0), 0, 0, 0}, Utc(2026, 7, 1), Utc(2026, 7, 1, 8)},
      // 2026-03-29: 02:00 CET becomes 03:00 CEST; 02:30 does not exist and runs at 03:30 CEST.
      {"spring gap", daily, Utc(2026, 3, 28, 23), Utc(2026, 3, 29, 1, 30)},
      {"day after the gap", daily, Utc(2026, 3, 29, 1, 30, 0, 1), Utc(2026, 3, 30, 0, 30)},
      // 2026-10-25: 03:00 CEST becomes 02:00 CET; 02:30 happens twice, the first counts.
      {"autumn, first 02:30", daily, Utc(2026, 10, 24, 23), Utc(2026, 10, 25, 0, 30)},
      {"autumn, not the second 02:30", daily, Utc(2026, 10, 25, 0, 30, 0, 1), Utc(2026, 10, 26, 1, 30)},
      // Weekdays are local: 23:30 UTC on Saturday is Sunday in Central Europe.
      {"local weekday", {Time(0, 45), 0, kSun, 0}, Utc(2026, 12, 5, 23, 30), Utc(2026, 12, 5, 23, 45)},
  };
  for (const auto& c : cases) EXPECT_EQ(Show(NextRun(c.timing, c.from)), Show(c.next)) << c.what;
}

TEST(JobTimingTest, ValidatesFieldsAsAddingAJobDoes) {
  std::u16string longest(kMaxJobCommandLength, u'x');
  std::u16string tooLong(kMaxJobCommandLength + 1, u'x');
  std::u16string command = u"VN /rs \"W\" /on \"C:\\\\\"";
  std::u16string empty;
  std::u16string blanks = u" \t ";
  const struct {
    const char* what;
    DWORD_PTR jobTime;
    DWORD daysOfMonth;
    UCHAR daysOfWeek;
    UCHAR flags;
    std::u16string* command;
    DWORD result;
  } cases[] = {
      {"plain", Time(10, 0), 0, 0, 0, &command, 0},
      {"every day bit", Time(23, 59, 59, 999), 0x7FFFFFFF, 0x7F, JOB_RUN_PERIODICALLY, &command, 0},
      {"scheduler's flags are ignored", 0, 0, 0, JOB_RUNS_TODAY | JOB_EXEC_ERROR, &command, 0},
      {"input flags", 0, 0, 0, JOB_ADD_CURRENT_DATE | JOB_NONINTERACTIVE, &command, 0},
      {"longest command", 0, 0, 0, 0, &longest, 0},
      {"a whole day", kMillisecondsPerDay, 0, 0, 0, &command, ERROR_INVALID_PARAMETER},
      {"far past a day", DWORD_PTR{1} << 32, 0, 0, 0, &command, ERROR_INVALID_PARAMETER},
      {"month day bit 31", 0, 0x80000000u, 0, 0, &command, ERROR_INVALID_PARAMETER},
      {"weekday bit 7", 0, 0, 0x80, 0, &command, ERROR_INVALID_PARAMETER},
      {"unknown flag", 0, 0, 0, 0x20, &command, ERROR_INVALID_PARAMETER},
      {"command too long", 0, 0, 0, 0, &tooLong, ERROR_INVALID_PARAMETER},
      {"empty command", 0, 0, 0, 0, &empty, ERROR_INVALID_PARAMETER},
      {"blank command", 0, 0, 0, 0, &blanks, ERROR_INVALID_PARAMETER},
      {"no command", 0, 0, 0, 0, nullptr, ERROR_INVALID_PARAMETER},
  };
  for (const auto& c : cases) {
    AT_INFO info{c.jobTime, c.daysOfMonth, c.daysOfWeek, c.flags, c.command ? c.command->data() : nullptr};
    EXPECT_EQ(ValidateJob(&info), c.result) << c.what;
  }
  EXPECT_EQ(ValidateJob(nullptr), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(JobTimingTest, AddedTimingKeepsWhatTheCallerMayGive) {
  TimeZone cet(kCentralEurope);
  std::u16string command = u"VN";
  // 23:30 UTC on the 5th is the 6th in Central Europe.
  const JobTimePoint now = Utc(2026, 12, 5, 23, 30);
  const struct {
    UCHAR flags;
    DWORD daysOfMonth;
    UCHAR keptFlags;
    DWORD keptDays;
  } cases[] = {
      {JOB_ADD_CURRENT_DATE, 0, 0, Day(6)},
      {JOB_ADD_CURRENT_DATE | JOB_RUN_PERIODICALLY, Day(1), JOB_RUN_PERIODICALLY, Day(1) | Day(6)},
      {JOB_RUNS_TODAY | JOB_EXEC_ERROR | JOB_NONINTERACTIVE, Day(31), JOB_NONINTERACTIVE, Day(31)},
  };
  for (const auto& c : cases) {
    const AT_INFO info{Time(9, 0), c.daysOfMonth, kMon, c.flags, command.data()};
    const JobTiming timing = AddedTiming(info, now);
    EXPECT_EQ(timing.flags, c.keptFlags) << int(c.flags);
    EXPECT_EQ(timing.daysOfMonth, c.keptDays) << int(c.flags);
    EXPECT_EQ(timing.daysOfWeek, kMon);
    EXPECT_EQ(timing.jobTime, Time(9, 0));
  }
}

}  // namespace
}  // namespace vn
