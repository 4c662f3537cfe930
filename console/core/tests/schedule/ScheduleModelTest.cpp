// Report sets as scheduler jobs: schedule choices into job fields and back,
// the job command line and its reading, the schedule list's texts and rules.
// The encoded jobs are also run through the scheduler's own rules (when a job
// is due, what it accepts), so a wrong bit shows as a wrong day.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "console/core/schedule/ScheduleModel.h"
#include "platform/core/WideString.h"
#include "platform/services/JobTiming.h"
#include "platform/services/NetSchedule.h"

namespace {

using namespace vn::console;
using vn::JobTiming;

constexpr int kSunday = 0, kMonday = 1, kFriday = 5, kSaturday = 6;

ScheduleChoices Choices(ScheduleInterval interval, int hour, int minute, int second,
                        std::vector<int> weekDays = {}, std::vector<int> monthDays = {}) {
  ScheduleChoices choices;
  choices.interval = interval;
  choices.hour = hour;
  choices.minute = minute;
  choices.second = second;
  for (int n : weekDays) choices.weekDays[static_cast<std::size_t>(n)] = true;
  for (int n : monthDays) choices.monthDays[static_cast<std::size_t>(n)] = true;
  return choices;
}

JobTiming Timing(DWORD jobTime, DWORD daysOfMonth, UCHAR daysOfWeek, UCHAR flags) {
  JobTiming timing;
  timing.jobTime = jobTime;
  timing.daysOfMonth = daysOfMonth;
  timing.daysOfWeek = daysOfWeek;
  timing.flags = flags;
  return timing;
}

void ExpectTiming(const JobTiming& actual, const JobTiming& expected, const std::string& label) {
  EXPECT_EQ(actual.jobTime, expected.jobTime) << label;
  EXPECT_EQ(actual.daysOfMonth, expected.daysOfMonth) << label;
  EXPECT_EQ(actual.daysOfWeek, expected.daysOfWeek) << label;
  EXPECT_EQ(actual.flags, expected.flags) << label;
}

TEST(ScheduleModelTest, ChoicesBecomeJobFields) {
  struct Case {
    const char* label;
    ScheduleChoices choices;
    int today;
    JobTiming newJob;       // with the two-minute offset
    DWORD modifiedJobTime;  // the same choices through "Modify Job"
  };
  const Case cases[] = {
      {"today keeps no day bits", Choices(ScheduleInterval::Today, 10, 0, 30, {0, 4}, {0}), kFriday,
       Timing(36'150'000, 0, 0, 0), 36'030'000},
      {"tomorrow on Monday is Tuesday, checks ignored", Choices(ScheduleInterval::Tomorrow, 8, 15, 0, {0, 6}, {3}),
       kMonday, Timing(29'820'000, 0, 0x02, 0), 29'700'000},
      {"tomorrow on Saturday is Sunday", Choices(ScheduleInterval::Tomorrow, 0, 0, 0), kSaturday,
       Timing(120'000, 0, 0x40, 0), 0},
      {"tomorrow on Sunday is Monday", Choices(ScheduleInterval::Tomorrow, 12, 0, 0), kSunday,
       Timing(43'320'000, 0, 0x01, 0), 43'200'000},
      {"every: Monday, Friday, 1st, 15th", Choices(ScheduleInterval::Every, 1, 2, 3, {0, 4}, {0, 14}), kMonday,
       Timing(3'843'000, 0x4001, 0x11, JOB_RUN_PERIODICALLY), 3'723'000},
      {"next: same checks, no flag", Choices(ScheduleInterval::Next, 1, 2, 3, {0, 4}, {0, 14}), kMonday,
       Timing(3'843'000, 0x4001, 0x11, 0), 3'723'000},
      {"every day of both lists", Choices(ScheduleInterval::Every, 23, 57, 59, {0, 1, 2, 3, 4, 5, 6},
                                          {0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15,
                                           16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30}),
       kMonday, Timing(86'399'000, 0x7FFF'FFFF, 0x7F, JOB_RUN_PERIODICALLY), 86'279'000},
      {"every with nothing checked", Choices(ScheduleInterval::Every, 6, 0, 0), kMonday,
       Timing(21'720'000, 0, 0, JOB_RUN_PERIODICALLY), 21'600'000},
  };
  for (const Case& c : cases) {
    const NewJobTiming added = EncodeNewJob(c.choices, c.today);
    ExpectTiming(added.timing, c.newJob, c.label);
    EXPECT_FALSE(added.wrapped) << c.label;
    EXPECT_EQ(added.interval, c.choices.interval) << c.label;
    JobTiming modified = c.newJob;
    modified.jobTime = c.modifiedJobTime;
    ExpectTiming(EncodeModifiedJob(c.choices, c.today), modified, std::string(c.label) + " (modified)");
  }
}

TEST(ScheduleModelTest, NewJobsNearMidnightMoveToTheNextDay) {
  struct Case {
    const char* label;
    ScheduleChoices choices;
    int today;
    JobTiming expected;
    ScheduleInterval interval;
  };
  const Case cases[] = {
      {"today at 23:58:00 is tomorrow at 00:00", Choices(ScheduleInterval::Today, 23, 58, 0), kFriday,
       Timing(0, 0, 0x20, 0), ScheduleInterval::Tomorrow},
      {"today on Sunday at 23:59:30 is Monday 00:01:30", Choices(ScheduleInterval::Today, 23, 59, 30), kSunday,
       Timing(90'000, 0, 0x01, 0), ScheduleInterval::Tomorrow},
      {"tomorrow on Saturday at 23:59 is Monday", Choices(ScheduleInterval::Tomorrow, 23, 59, 0), kSaturday,
       Timing(60'000, 0, 0x01, 0), ScheduleInterval::Tomorrow},
      {"tomorrow on Friday at 23:58 is Sunday", Choices(ScheduleInterval::Tomorrow, 23, 58, 59), kFriday,
       Timing(59'000, 0, 0x40, 0), ScheduleInterval::Tomorrow},
      {"every Sunday and the 31st become Monday and the 1st",
       Choices(ScheduleInterval::Every, 23, 59, 0, {6}, {30}), kMonday, Timing(60'000, 0x1, 0x01, JOB_RUN_PERIODICALLY),
       ScheduleInterval::Every},
      {"next Monday, Wednesday, the 1st and 15th move one day on",
       Choices(ScheduleInterval::Next, 23, 58, 0, {0, 2}, {0, 14}), kMonday, Timing(0, 0x8002, 0x0A, 0),
       ScheduleInterval::Next},
  };
  for (const Case& c : cases) {
    const NewJobTiming added = EncodeNewJob(c.choices, c.today);
    ExpectTiming(added.timing, c.expected, c.label);
    EXPECT_TRUE(added.wrapped) << c.label;
    EXPECT_EQ(added.interval, c.interval) << c.label;
    EXPECT_TRUE(vn::IsValidTiming(added.timing)) << c.label;
  }
  // 23:57:59 still fits the day; a modified job never wraps.
  EXPECT_FALSE(EncodeNewJob(Choices(ScheduleInterval::Today, 23, 57, 59), kMonday).wrapped);
  EXPECT_EQ(EncodeModifiedJob(Choices(ScheduleInterval::Today, 23, 59, 59), kMonday).jobTime, 86'399'000u);
}

// The encoded job as the scheduler runs it: the day and time the user meant.
TEST(ScheduleModelTest, TheSchedulerRunsNewJobsWhenTheUserMeant) {
  // 2026-12-06 is a Sunday.
  const auto at = [](int day, int hour, int minute, int second) {
    return *vn::LocalInstant(2026, 12, day, static_cast<DWORD>(((hour * 60 + minute) * 60 + second) * 1000));
  };
  struct Case {
    const char* label;
    ScheduleChoices choices;
    int today;  // weekday of `now`
    vn::JobTimePoint now;
    vn::JobTimePoint due;
  };
  const Case cases[] = {
      {"tomorrow on Sunday", Choices(ScheduleInterval::Tomorrow, 10, 0, 30), kSunday, at(6, 9, 0, 0),
       at(7, 10, 2, 30)},
      {"tomorrow on Saturday", Choices(ScheduleInterval::Tomorrow, 10, 0, 0), kSaturday, at(12, 9, 0, 0),
       at(13, 10, 2, 0)},
      {"today, later today", Choices(ScheduleInterval::Today, 10, 0, 0), kMonday, at(7, 9, 0, 0), at(7, 10, 2, 0)},
      {"today just before midnight", Choices(ScheduleInterval::Today, 23, 59, 0), kSaturday, at(12, 23, 59, 0),
       at(13, 0, 1, 0)},
      {"tomorrow just before midnight", Choices(ScheduleInterval::Tomorrow, 23, 59, 0), kSaturday, at(12, 23, 59, 0),
       at(14, 0, 1, 0)},
      {"next Friday", Choices(ScheduleInterval::Next, 8, 0, 0, {4}), kMonday, at(7, 9, 0, 0), at(11, 8, 2, 0)},
      {"every Sunday just before midnight", Choices(ScheduleInterval::Every, 23, 58, 30, {6}), kMonday,
       at(7, 9, 0, 0), at(14, 0, 0, 30)},
  };
  for (const Case& c : cases) {
    const auto due = vn::NextRun(EncodeNewJob(c.choices, c.today).timing, c.now);
    ASSERT_TRUE(due.has_value()) << c.label;
    EXPECT_EQ(*due, c.due) << c.label;
  }
}

TEST(ScheduleModelTest, JobsDecodeIntoChoices) {
  struct Case {
    JobTiming timing;
    ScheduleInterval interval;
    int hour, minute;
    std::vector<int> weekDays, monthDays;
  };
  const Case cases[] = {
      {Timing(0, 0, 0, JOB_RUNS_TODAY), ScheduleInterval::Today, 0, 0, {}, {}},
      {Timing(0, 0, 0, 0), ScheduleInterval::Tomorrow, 0, 0, {}, {}},
      {Timing(0, 0, 0, JOB_EXEC_ERROR), ScheduleInterval::Tomorrow, 0, 0, {}, {}},
      {Timing(36'150'000, 0, 0x02, 0), ScheduleInterval::Next, 10, 2, {1}, {}},
      {Timing(36'150'000, 0, 0x02, JOB_RUNS_TODAY), ScheduleInterval::Next, 10, 2, {1}, {}},
      {Timing(3'843'000, 0x4001, 0x11, JOB_RUN_PERIODICALLY), ScheduleInterval::Every, 1, 4, {0, 4}, {0, 14}},
      {Timing(0, 0, 0, JOB_RUN_PERIODICALLY | JOB_RUNS_TODAY), ScheduleInterval::Every, 0, 0, {}, {}},
      {Timing(86'399'999, 0x4000'0000, 0x40, 0), ScheduleInterval::Next, 23, 59, {6}, {30}},
  };
  for (const Case& c : cases) {
    const ScheduleChoices choices = DecodeJob(c.timing);
    const std::string label = "job time " + std::to_string(c.timing.jobTime) + " flags " + std::to_string(c.timing.flags);
    EXPECT_EQ(DecodeInterval(c.timing), c.interval) << label;
    EXPECT_EQ(choices.interval, c.interval) << label;
    EXPECT_EQ(choices.hour, c.hour) << label;
    EXPECT_EQ(choices.minute, c.minute) << label;
    EXPECT_EQ(choices.second, 0) << label;
    ScheduleChoices expected = Choices(c.interval, c.hour, c.minute, 0, c.weekDays, c.monthDays);
    EXPECT_EQ(choices.weekDays, expected.weekDays) << label;
    EXPECT_EQ(choices.monthDays, expected.monthDays) << label;
  }
  // Decoded and encoded again for "Modify Job", a job keeps its fields but
  // its seconds.
  const JobTiming every = Timing(3'843'000, 0x4001, 0x11, JOB_RUN_PERIODICALLY);
  ExpectTiming(EncodeModifiedJob(DecodeJob(every), kMonday), Timing(3'840'000, 0x4001, 0x11, JOB_RUN_PERIODICALLY),
               "round trip");
}

TEST(ScheduleModelTest, ModifyRefusesATimeBeforeNowOnlyForToday) {
  struct Case {
    ScheduleInterval interval;
    int hour, minute, nowHour, nowMinute;
    bool before;
  };
  const Case cases[] = {
      {ScheduleInterval::Today, 10, 0, 10, 1, true},     {ScheduleInterval::Today, 10, 1, 10, 1, false},
      {ScheduleInterval::Today, 9, 59, 10, 0, true},     {ScheduleInterval::Today, 11, 0, 10, 59, false},
      {ScheduleInterval::Tomorrow, 10, 0, 10, 1, false}, {ScheduleInterval::Every, 0, 0, 23, 59, false},
      {ScheduleInterval::Next, 0, 0, 23, 59, false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(IsBeforeNow(Choices(c.interval, c.hour, c.minute, 30), c.nowHour, c.nowMinute), c.before)
        << ScheduleIntervalText(c.interval) << " " << c.hour << ":" << c.minute;
}

TEST(ScheduleModelTest, CommandLinesNameTheReportAndEveryObject) {
  using Network = std::map<std::string, std::vector<std::string>>;
  struct Case {
    const char* label;
    bool custom;
    const char* name;
    std::vector<std::string> local;
    Network network;
    const char* command;
  };
  const Case cases[] = {
      {"a share", false, "Weekly", {}, Network{{"SRV1", {"\\\\SRV1\\D$"}}},
       "VN /rs \"Weekly\" /on \"\\\\SRV1\\D$\""},
      {"a backslash inside the list stays single", false, "Weekly", {"C:\\"}, Network{{"SRV1", {"\\\\SRV1\\D$"}}},
       "VN /rs \"Weekly\" /on \"C:\\;\\\\SRV1\\D$\""},
      {"only at the end of the whole list", false, "Weekly", {"C:\\", "D:\\"}, Network{},
       "VN /rs \"Weekly\" /on \"C:\\;D:\\\\\""},
      {"a folder stays unchanged", false, "Set A", {"C:\\WORK"}, Network{}, "VN /rs \"Set A\" /on \"C:\\WORK\""},
      {"local first, then machines in map order, each in order", false, "All", {"D:\\Data", "C:\\"},
       Network{{"ZED", {"\\\\ZED"}}, {"ALPHA", {"\\\\ALPHA\\Share\\Dir", "\\\\ALPHA"}}},
       "VN /rs \"All\" /on \"D:\\Data;C:\\;\\\\ALPHA\\Share\\Dir;\\\\ALPHA;\\\\ZED\""},
      {"custom report", true, "Big Files", {"C:\\Temp"}, Network{}, "VN /rc \"Big Files\" /on \"C:\\Temp\""},
      {"machine ending in a backslash last", true, "X", {}, Network{{"M", {"\\\\M\\C$\\"}}},
       "VN /rc \"X\" /on \"\\\\M\\C$\\\\\""},
  };
  for (const Case& c : cases) {
    std::string command = "left over", message = "left over";
    ASSERT_TRUE(BuildJobCommandLine(c.custom, c.name, c.local, c.network, &command, &message)) << c.label;
    EXPECT_EQ(command, c.command) << c.label;
    EXPECT_TRUE(message.empty()) << c.label;
  }
  // The documented example: \\SRV1\D$ then C:\ as one list.
  EXPECT_EQ(JobCommandLine(false, "Weekly", "\\\\SRV1\\D$;C:\\\\"), "VN /rs \"Weekly\" /on \"\\\\SRV1\\D$;C:\\\\\"");
}

TEST(ScheduleModelTest, ACommandLineTooLongForTheSchedulerIsRefusedNotCut) {
  // "VN /rs "S" /on """ is 17 characters; objects of 242 fit exactly.
  const auto build = [](std::vector<std::string> local, std::string* command) {
    std::string message;
    const bool built = BuildJobCommandLine(false, "S", local, {}, command, &message);
    EXPECT_EQ(built, message.empty());
    if (!built) {
      EXPECT_EQ(message, CommandTooLongText());
    }
    return built;
  };
  std::string command;
  ASSERT_TRUE(build({"C:\\" + std::string(239, 'a')}, &command));
  EXPECT_EQ(command.size(), vn::kMaxJobCommandLength);
  // The scheduler takes what is built.
  std::u16string wide = vn::ToWide(command);
  AT_INFO info{};
  info.Command = wide.data();
  EXPECT_EQ(vn::ValidateJob(&info), 0u);

  EXPECT_FALSE(build({"C:\\" + std::string(240, 'a')}, &command));
  EXPECT_TRUE(command.empty());
  // A doubled final backslash counts too.
  EXPECT_FALSE(build({"C:\\" + std::string(238, 'a') + "\\"}, &command));
  // Many objects.
  EXPECT_FALSE(build(std::vector<std::string>(80, "C:\\"), &command));
  // Length is counted as the scheduler counts it: "é" is one character in
  // two bytes, so 239 of them still fit.
  std::string accented;
  for (int n = 0; n < 239; ++n) accented += "\xC3\xA9";
  EXPECT_TRUE(build({"C:\\" + accented}, &command));
  EXPECT_FALSE(build({"C:\\" + accented + "\xC3\xA9"}, &command));
  EXPECT_NE(CommandTooLongText().find("259"), std::string_view::npos);
}

TEST(ScheduleModelTest, ParseCommandReadsOnlyThisSystemsReportSetJobs) {
  struct Case {
    std::string command;
    std::string reportSet;
    std::string objects;
  };
  const std::string longName(300, 'n');
  const Case cases[] = {
      {"VN /rs \"Weekly\" /on \"\\\\SRV1\\D$;C:\\\\\"", "Weekly", "\\\\SRV1\\D$;C:\\\\"},
      {"vn.exe /rs \"Set A\" /on \"\\\\M1\\C$;\\\\M2\\D$\"", "Set A", "\\\\M1\\C$;\\\\M2\\D$"},
      {"Vn /rs \"x\" /on \"C:\\\"", "x", "C:\\"},
      // Options anywhere and in any order.
      {"VN /on \"C:\\Temp\" /rs \"Later\"", "Later", "C:\\Temp"},
      // No closing quote: up to the end; no quote at all: empty.
      {"VN /rs \"Open /on \"C:\\", "Open /on ", "C:\\"},
      {"VN /rs \"Open\" /on \"C:\\Dir", "Open", "C:\\Dir"},
      {"VN /rs Bare /on Bare", "", ""},
      // The first "/on " wins, even inside the set's name.
      {"VN /rs \"a /on b\" /on \"C:\\\"", "a /on b", " /on "},
      // Each value at most 259 bytes.
      {"VN /rs \"" + longName + "\" /on \"C:\\\"", std::string(259, 'n'), "C:\\"},
      // Not this system's.
      {"VN /rc \"Big Files\" /on \"C:\\\"", "", ""},
      {"notepad.exe x", "", ""},
      {"VNX /rs \"a\" /on \"b\"", "", ""},
      {"C:\\Tools\\VN.EXE /rs \"a\" /on \"b\"", "", ""},
      {"VN", "", ""},
      {"VN.EXE", "", ""},
      {"", "", ""},
      {"VN /rs \"a\"", "", ""},
      {"VN /on \"b\"", "", ""},
      {"VN /RS \"a\" /ON \"b\"", "", ""},
      {"VN /rs\"a\" /on \"b\"", "", ""},
  };
  for (const Case& c : cases) {
    const ParsedCommand parsed = ParseCommand(c.command);
    EXPECT_EQ(parsed.reportSet, c.reportSet) << c.command;
    EXPECT_EQ(parsed.objects, c.objects) << c.command;
  }
  // A value cut at 259 bytes never ends inside a character.
  std::string accented;
  for (int n = 0; n < 200; ++n) accented += "\xC3\xA9";
  EXPECT_EQ(ParseCommand("VN /rs \"" + accented + "\" /on \"x\"").reportSet.size(), 258u);
}

TEST(ScheduleModelTest, BuiltCommandsReadBack) {
  const std::map<std::string, std::vector<std::string>> network = {{"SRV1", {"\\\\SRV1\\D$", "\\\\SRV1\\E$\\Users"}}};
  std::string command, message;
  ASSERT_TRUE(BuildJobCommandLine(false, "Monthly Users", {"C:\\Data"}, network, &command, &message));
  const ParsedCommand parsed = ParseCommand(command);
  EXPECT_EQ(parsed.reportSet, "Monthly Users");
  EXPECT_EQ(parsed.objects, "C:\\Data;\\\\SRV1\\D$;\\\\SRV1\\E$\\Users");

  ASSERT_TRUE(BuildJobCommandLine(true, "Monthly Users", {"C:\\Data"}, network, &command, &message));
  EXPECT_TRUE(ParseCommand(command).reportSet.empty());
}

TEST(ScheduleModelTest, ScheduleListDayTexts) {
  struct Case {
    JobTiming timing;
    const char* week;
    const char* month;
  };
  const Case cases[] = {
      {Timing(0, 0, 0x09, JOB_RUN_PERIODICALLY), "Every - Mon Thu ", ""},
      {Timing(0, 0, 0x7F, JOB_RUN_PERIODICALLY), "Every - Mon Tue Wed Thu Fri Sat Sun ", ""},
      {Timing(0, 0x4001, 0, 0), "", "Next - 1 15 "},
      {Timing(0, 0x4000'0000, 0x40, JOB_RUNS_TODAY), "Next - Sun ", "Next - 31 "},
      {Timing(0, 0x7FFF'FFFF, 0x11, JOB_RUN_PERIODICALLY), "Every - Mon Fri ",
       "Every - 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20 21 22 23 24 25 26 27 28 29 30 31 "},
      // No day bits at all: the week column tells today from tomorrow.
      {Timing(0, 0, 0, JOB_RUNS_TODAY), "Today ", ""},
      {Timing(0, 0, 0, 0), "Tomorrow ", ""},
      {Timing(0, 0, 0, JOB_RUN_PERIODICALLY), "Every - ", ""},
      {Timing(0, 0, 0x02, 0), "Next - Tue ", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DaysOfWeekText(c.timing), c.week) << c.week << "|" << c.month;
    EXPECT_EQ(DaysOfMonthText(c.timing), c.month) << c.week << "|" << c.month;
  }
}

TEST(ScheduleModelTest, ScheduleListTimeTexts) {
  struct Case {
    DWORD jobTime;
    const char* text;
  };
  const Case cases[] = {
      {0, "12:00AM"},
      {30 * 60'000, "12:30AM"},
      {(9 * 60 + 5) * 60'000, " 9:05AM"},
      {(9 * 60 + 5) * 60'000 + 59'999, " 9:05AM"},  // seconds dropped, not rounded
      {(1 * 60) * 60'000, " 1:00AM"},
      {(10 * 60 + 10) * 60'000, "10:10AM"},
      {(11 * 60 + 59) * 60'000, "11:59AM"},
      {43'200'000, "12:00PM"},
      {(12 * 60 + 59) * 60'000, "12:59PM"},
      {(13 * 60) * 60'000, " 1:00PM"},
      {(21 * 60 + 45) * 60'000, " 9:45PM"},
      {79'200'000, "10:00PM"},
      {86'399'999, "11:59PM"},
      {86'400'000 + 60'000, "12:01AM"},
  };
  for (const Case& c : cases) EXPECT_EQ(TimeOfDayText(c.jobTime), c.text) << c.jobTime;
}

TEST(ScheduleModelTest, ScheduleListRows) {
  struct Case {
    const char* command;  // null: a job without a command
    AT_ENUM job;
    std::array<std::string, kScheduleColumnCount> cells;
  };
  const Case cases[] = {
      {"VN /rs \"Weekly\" /on \"\\\\SRV1\\D$;C:\\\\\"", AT_ENUM{7, 36'150'000, 0, 0x11, JOB_RUN_PERIODICALLY, nullptr},
       {"\\\\SRV1\\D$;C:\\\\", "Weekly", "7", "Every - Mon Fri ", "", "10:02AM",
        "VN /rs \"Weekly\" /on \"\\\\SRV1\\D$;C:\\\\\"", "None"}},
      {"notepad.exe x", AT_ENUM{4294967295u, 0, 0x4001, 0, JOB_EXEC_ERROR, nullptr},
       {"", "", "4294967295", "", "Next - 1 15 ", "12:00AM", "notepad.exe x", "Error during last execution"}},
      {"VN /rc \"Big\" /on \"C:\\\"", AT_ENUM{12, 79'200'000, 0, 0, JOB_RUNS_TODAY, nullptr},
       {"", "", "12", "Today ", "", "10:00PM", "VN /rc \"Big\" /on \"C:\\\"", "None"}},
      {nullptr, AT_ENUM{1, 43'200'000, 0, 0, 0, nullptr}, {"", "", "1", "Tomorrow ", "", "12:00PM", "", "None"}},
  };
  for (const Case& c : cases) {
    std::u16string wide = c.command ? vn::ToWide(c.command) : std::u16string();
    AT_ENUM job = c.job;
    job.Command = c.command ? wide.data() : nullptr;
    const ScheduleListRow row = ScheduleListRowOf(job);
    EXPECT_EQ(row.jobId, c.job.JobId);
    for (int col = 0; col < kScheduleColumnCount; ++col)
      EXPECT_EQ(row.cells[static_cast<std::size_t>(col)], c.cells[static_cast<std::size_t>(col)])
          << (c.command ? c.command : "(none)") << ", column " << col + 1;
  }

  // A command longer than the list holds is shown cut to 259 bytes, and its
  // objects are read from what is shown.
  const std::string longCommand = "VN /rs \"Big\" /on \"" + std::string(300, 'o') + "\"";
  std::u16string wide = vn::ToWide(longCommand);
  AT_ENUM job{3, 0, 0, 0, 0, wide.data()};
  const ScheduleListRow row = ScheduleListRowOf(job);
  EXPECT_EQ(row.cells[6], longCommand.substr(0, 259));
  EXPECT_EQ(row.cells[0], std::string(259 - 18, 'o'));
  EXPECT_EQ(row.cells[1], "Big");
}

TEST(ScheduleModelTest, ScheduleListTitlesAndKey) {
  EXPECT_EQ(ScheduleColumnTitles(),
            (std::vector<std::string>{"Object(s)", "Memorized Report", "JobId", "Day(s)of Week", "Day(s) of Month",
                                      "Time of Day", "Command", "Errors"}));
  // A second list for the same machine in another case finds the first.
  EXPECT_EQ(ScheduleListKey("server1"), ScheduleListKey("SERVER1"));
  EXPECT_EQ(ScheduleListKey("Srv-2.a"), "SRV-2.A");
}

TEST(ScheduleModelTest, ScheduleListRefreshAndEnabling) {
  struct EnumCase {
    DWORD result;
    EnumStep step;
  };
  const EnumCase enumCases[] = {
      {0, EnumStep::FillRows},       {234, EnumStep::FillRows}, {2184, EnumStep::StartService},
      {5, EnumStep::Stop},           {53, EnumStep::Stop},      {1722, EnumStep::Stop},
      {NERR_JobNotFound, EnumStep::Stop},
  };
  for (const EnumCase& c : enumCases) EXPECT_EQ(EnumResultStep(c.result), c.step) << c.result;

  EXPECT_TRUE(RefreshesOnTick(kScheduleTimerId, false));
  EXPECT_FALSE(RefreshesOnTick(kScheduleTimerId, true));
  EXPECT_FALSE(RefreshesOnTick(kScheduleTimerId + 1, false));
  EXPECT_EQ(kScheduleTimerPeriod, 60'000u);

  struct SelectionCase {
    std::vector<int> selected;
    int current;  // -1: no current cell
    bool modify;
    bool remove;
  };
  const SelectionCase selections[] = {
      {{}, -1, false, false}, {{}, 0, false, false},     {{}, 3, true, false},     {{2}, -1, true, true},
      {{2}, 5, true, true},   {{0}, -1, false, false},   {{0}, 2, false, false},   {{1, 2}, 1, false, false},
      {{0, 1}, 1, false, false},
  };
  for (const SelectionCase& c : selections) {
    EXPECT_EQ(CanModifyJob(c.selected, c.current), c.modify) << c.selected.size() << " rows, current " << c.current;
    EXPECT_EQ(CanDeleteJob(c.selected), c.remove) << c.selected.size() << " rows, current " << c.current;
  }
}

}  // namespace
