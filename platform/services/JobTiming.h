#pragma once
// Scheduled jobs as the job scheduler's calls hand them over (AT_INFO,
// AT_ENUM), and the rules that decide when a job runs. The scheduler service
// keeps a job's fields and its next due time; everything here is pure: "now"
// is always an argument, so the service's clock (and a test's) drives it.
//
// A job's fields:
// - JobTime: the time of day, in milliseconds after local midnight (0 to
//   86 399 999).
// - DaysOfMonth: bit n = day n+1 of the month (bit 0 = 1st ... bit 30 = 31st).
//   A day a month lacks (the 31st in April, the 30th in February) is skipped.
// - DaysOfWeek: bit 0 = Monday ... bit 6 = Sunday.
// - Flags: JOB_RUN_PERIODICALLY asks for every matching day; without it the
//   job runs once. JOB_EXEC_ERROR and JOB_RUNS_TODAY are set by the scheduler.
//
// When a job runs: a day matches when its day of the month or its weekday has
// its bit set; a job with no day bits at all matches every day but runs once
// (today if JobTime is still ahead, else tomorrow), with or without
// JOB_RUN_PERIODICALLY. A one-shot job with day bits runs on the first matching
// day only. A time at or after "now" is still ahead.
//
// Local time is the C library's (TZ, localtime_r, mktime). Across daylight
// saving changes the wall clock is what counts: a JobTime inside the spring
// gap (02:30 when clocks jump from 02:00 to 03:00) runs as late as the gap is
// long (03:30), so the job still runs that day; a JobTime that happens twice
// in the autumn runs at its first occurrence only.
//
// Thread safety: the functions are reentrant (localtime_r, mktime); changing
// TZ while they run is not supported.

#include <chrono>
#include <functional>
#include <optional>

#include "platform/core/Win32Types.h"

struct AT_INFO {
  DWORD_PTR JobTime;
  DWORD DaysOfMonth;
  UCHAR DaysOfWeek;
  UCHAR Flags;
  LPWSTR Command;
};
using PAT_INFO = AT_INFO*;
using LPAT_INFO = AT_INFO*;

struct AT_ENUM {
  DWORD JobId;
  DWORD_PTR JobTime;
  DWORD DaysOfMonth;
  UCHAR DaysOfWeek;
  UCHAR Flags;
  LPWSTR Command;
};
using PAT_ENUM = AT_ENUM*;
using LPAT_ENUM = AT_ENUM*;

// AT_INFO / AT_ENUM Flags. The first, fourth and fifth are given when a job is
// added; the scheduler sets the other two.
inline constexpr UCHAR JOB_RUN_PERIODICALLY = 0x01;
inline constexpr UCHAR JOB_EXEC_ERROR = 0x02;
inline constexpr UCHAR JOB_RUNS_TODAY = 0x04;
inline constexpr UCHAR JOB_ADD_CURRENT_DATE = 0x08;
inline constexpr UCHAR JOB_NONINTERACTIVE = 0x10;
inline constexpr UCHAR JOB_INPUT_FLAGS = JOB_RUN_PERIODICALLY | JOB_ADD_CURRENT_DATE | JOB_NONINTERACTIVE;
inline constexpr UCHAR JOB_OUTPUT_FLAGS = JOB_RUN_PERIODICALLY | JOB_EXEC_ERROR | JOB_RUNS_TODAY | JOB_NONINTERACTIVE;

// The scheduler service is not started (every NetScheduleJob* call then).
inline constexpr DWORD NERR_ServiceNotInstalled = 2184;

namespace vn {

inline constexpr DWORD kMillisecondsPerDay = 86'400'000;
// The longest job command, in UTF-16 units, without its terminator.
inline constexpr std::size_t kMaxJobCommandLength = 259;

using JobClock = std::chrono::system_clock;
using JobTimePoint = JobClock::time_point;
// Where the scheduler reads "now": the system clock in the service, a driven
// clock in tests.
using JobNow = std::function<JobTimePoint()>;
JobTimePoint SystemJobNow();

// The fields that decide when a job runs.
struct JobTiming {
  DWORD jobTime = 0;
  DWORD daysOfMonth = 0;
  UCHAR daysOfWeek = 0;
  UCHAR flags = 0;
};
JobTiming TimingOf(const AT_INFO& info);

// 0 when NetScheduleJobAdd accepts `info`, else ERROR_INVALID_PARAMETER (87):
// a null record or command, JobTime of a day or more, DaysOfMonth bit 31,
// DaysOfWeek bit 7, a flag other than the input flags and the two the
// scheduler sets (those are accepted and ignored), a command that is empty,
// only blanks, or longer than kMaxJobCommandLength.
[[nodiscard]] DWORD ValidateJob(const AT_INFO* info);

// The timing the scheduler keeps for a job added at `now` from a record that
// ValidateJob accepted: JOB_ADD_CURRENT_DATE becomes the DaysOfMonth bit of
// now's local day (and is not kept); the flags the scheduler sets are dropped.
JobTiming AddedTiming(const AT_INFO& info, JobTimePoint now);

// True when the timing fields are in range (as ValidateJob checks them).
bool IsValidTiming(const JobTiming& timing);

// The first instant at or after `from` at which the job runs, by the rules in
// the header comment (for a one-shot job: its only run). Empty for invalid
// timing fields.
std::optional<JobTimePoint> NextRun(const JobTiming& timing, JobTimePoint from);

// After the run due at `due`: the next one for a periodic job with day bits;
// empty for a job that is finished (to be removed) after that run.
std::optional<JobTimePoint> RunAfter(const JobTiming& timing, JobTimePoint due);

// JOB_RUNS_TODAY for a job due at `due`, seen at `now`: the run is later on
// now's local date (at or after now).
bool RunsToday(JobTimePoint due, JobTimePoint now);

// The instant of `milliseconds` after midnight on a local date (month 1-12),
// by the daylight saving rules above; empty for a date mktime cannot place.
std::optional<JobTimePoint> LocalInstant(int year, int month, int day, DWORD milliseconds);

}  // namespace vn
