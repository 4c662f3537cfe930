// The scheduler calls of the run form, the job dialog and the schedule list
// against a real machine service: this process is CONSOLE, whose service
// keeps the jobs; its product directory is C:\Vornal.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "console/core/schedule/ScheduleJobs.h"
#include "platform/core/LastError.h"
#include "platform/registry/Registry.h"
#include "platform/services/NetSchedule.h"
#include "platform/services/ServiceControl.h"
#include "testing/MachineNetwork.h"
#include "testing/TestFiles.h"

namespace {

namespace fs = std::filesystem;
using namespace vn::console;

constexpr const char* kProductKey = "Software\\Halvard\\Vornal\\4.0";

ScheduleChoices Every(std::vector<int> weekDays, std::vector<int> monthDays, int hour, int minute, int second) {
  ScheduleChoices choices;
  choices.interval = ScheduleInterval::Every;
  for (int n : weekDays) choices.weekDays[static_cast<std::size_t>(n)] = true;
  for (int n : monthDays) choices.monthDays[static_cast<std::size_t>(n)] = true;
  choices.hour = hour;
  choices.minute = minute;
  choices.second = second;
  return choices;
}

class ScheduleJobsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_net.Start("CONSOLE"));
    m_product = m_net.Console().driveC / "Vornal";
    fs::create_directories(m_product);
    SetProductDirectory("C:\\Vornal");
  }

  void SetProductDirectory(const char* directory) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kProductKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    if (directory) {
      ASSERT_EQ(RegSetValueExA(key, "Vornal_DIR", 0, REG_SZ, reinterpret_cast<const BYTE*>(directory),
                               static_cast<DWORD>(std::strlen(directory) + 1)),
                ERROR_SUCCESS);
    } else {
      (void)RegDeleteValueA(key, "Vornal_DIR");
    }
    RegCloseKey(key);
  }

  ScheduleRequest Weekly() const {
    ScheduleRequest request;
    request.choices = Every({0, 4}, {0, 14}, 10, 0, 30);
    request.todayWeekday = 3;
    request.reportName = "Weekly";
    request.localObjects = {"C:\\"};
    request.networkObjects = {{"SRV1", {"\\\\SRV1\\D$"}}};
    return request;
  }

  std::vector<fs::path> RecordFiles() const {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(m_product)) files.push_back(entry.path());
    return files;
  }

  // Switches CONSOLE's scheduler service; false when the control failed.
  bool SwitchSchedule(bool start) {
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE schedule = manager ? OpenServiceA(manager, "Schedule", SERVICE_ALL_ACCESS) : nullptr;
    SERVICE_STATUS status{};
    const bool done = schedule && (start ? StartServiceA(schedule, 0, nullptr)
                                         : ControlService(schedule, SERVICE_CONTROL_STOP, &status));
    if (schedule) CloseServiceHandle(schedule);
    if (manager) CloseServiceHandle(manager);
    return done;
  }

  vn::testing::MachineNetwork m_net;
  fs::path m_product;
};

TEST_F(ScheduleJobsTest, ANewJobIsAddedWithItsCommandLineAndLeavesItsRecordFile) {
  const ScheduleOutcome outcome = ScheduleJob(Weekly());
  ASSERT_TRUE(outcome.added) << outcome.message;
  const std::string command = "VN /rs \"Weekly\" /on \"C:\\;\\\\SRV1\\D$\"";

  ScheduledJobInfo job;
  std::string message;
  ASSERT_TRUE(ReadScheduledJob(outcome.jobId, &job, &message)) << message;
  EXPECT_EQ(job.command, command);
  EXPECT_EQ(job.timing.jobTime, 36'150'000u);  // 10:02:30, two minutes on
  EXPECT_EQ(job.timing.daysOfWeek, 0x11);
  EXPECT_EQ(job.timing.daysOfMonth, 0x4001u);
  EXPECT_EQ(job.timing.flags & JOB_RUN_PERIODICALLY, JOB_RUN_PERIODICALLY);

  // The record file: exactly the command, no line end, named after the prefix.
  const std::vector<fs::path> records = RecordFiles();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].filename().string().rfind("VNSched", 0), 0u) << records[0];
  EXPECT_EQ(records[0].extension(), ".TMP");
  EXPECT_EQ(vn::testing::ReadText(records[0]), command);
  EXPECT_EQ(outcome.recordFile, "C:\\Vornal\\" + records[0].filename().string());

  // The list, of this computer by name or without one, decodes it.
  const std::vector<ScheduleListRow> rows = ReadScheduleList("CONSOLE", &message);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].jobId, outcome.jobId);
  EXPECT_EQ(rows[0].cells[0], "C:\\;\\\\SRV1\\D$");
  EXPECT_EQ(rows[0].cells[1], "Weekly");
  EXPECT_EQ(rows[0].cells[3], "Every - Mon Fri ");
  EXPECT_EQ(rows[0].cells[4], "Every - 1 15 ");
  EXPECT_EQ(rows[0].cells[5], "10:02AM");
  EXPECT_EQ(rows[0].cells[6], command);
  EXPECT_EQ(rows[0].cells[7], "None");
  EXPECT_EQ(ReadScheduleList("", &message).size(), 1u);
  EXPECT_TRUE(message.empty()) << message;
}

TEST_F(ScheduleJobsTest, FailuresBeforeTheAddLeaveNoJob) {
  // A command line past what a job holds: refused before anything is written.
  ScheduleRequest many = Weekly();
  for (int i = 0; i < 40; ++i) many.networkObjects["SRV" + std::to_string(i)] = {"\\\\SRV" + std::to_string(i) + "\\D$"};
  ScheduleOutcome outcome = ScheduleJob(many);
  EXPECT_FALSE(outcome.added);
  EXPECT_EQ(outcome.message, CommandTooLongText());
  EXPECT_TRUE(RecordFiles().empty());

  const struct {
    const char* directory;  // null: no "Vornal_DIR" value
    const char* message;
  } cases[] = {
      {nullptr, "Can't obtain registry information for Vornal."},
      {"", "Can't obtain registry information for Vornal."},
      {"C:\\Missing", "Can't open file for scheduling. Check Permissions to OUTPUT directory."},
      {"Q:\\Vornal", "Can't open file for scheduling. Check Permissions to OUTPUT directory."},
  };
  for (const auto& c : cases) {
    SetProductDirectory(c.directory);
    outcome = ScheduleJob(Weekly());
    EXPECT_FALSE(outcome.added) << (c.directory ? c.directory : "(none)");
    EXPECT_EQ(outcome.message, c.message) << (c.directory ? c.directory : "(none)");
  }
  std::string message;
  EXPECT_TRUE(ReadScheduleList("", &message).empty());
  EXPECT_FALSE(fs::exists(m_net.Console().driveC / "Missing"));
}

TEST_F(ScheduleJobsTest, AStoppedSchedulerIsStartedAndAStartOfARunningOneIsRefusedInTheSystemsWords) {
  ASSERT_TRUE(SwitchSchedule(false));
  const ScheduleOutcome outcome = ScheduleJob(Weekly());
  EXPECT_TRUE(outcome.added) << outcome.message;

  // Running already: a start is refused with the system's words.
  std::string message;
  EXPECT_EQ(StartScheduleService(&message), 0);
  EXPECT_EQ(message, "Problem starting Schedule service.\nAn instance of the service is already running..");

  // Stopped again, the list starts it and reads on.
  ASSERT_TRUE(SwitchSchedule(false));
  message.clear();
  EXPECT_EQ(ReadScheduleList("", &message).size(), 1u);
  EXPECT_TRUE(message.empty()) << message;

  // Deleting stops the scheduler first, so the job's deletion starts it.
  ASSERT_TRUE(SwitchSchedule(false));
  EXPECT_EQ(DeleteScheduledJob(outcome.jobId, &message), 0u) << message;
  EXPECT_EQ(DeleteScheduledJob(outcome.jobId, &message), NERR_JobNotFound);
  EXPECT_EQ(DeleteJobErrorText(outcome.jobId, NERR_JobNotFound),
            "Error Deleting Job " + std::to_string(outcome.jobId) + ", Error 3801");
}

TEST_F(ScheduleJobsTest, ASchedulerThatCannotBeStartedIsReportedAndNothingIsAdded) {
  // The machine without its scheduler service: stopped, then deleted.
  ASSERT_TRUE(SwitchSchedule(false));
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  SC_HANDLE schedule = OpenServiceA(manager, "Schedule", SERVICE_ALL_ACCESS);
  ASSERT_NE(schedule, nullptr) << GetLastError();
  ASSERT_TRUE(DeleteService(schedule)) << GetLastError();
  CloseServiceHandle(schedule);
  CloseServiceHandle(manager);

  const ScheduleOutcome outcome = ScheduleJob(Weekly());
  EXPECT_FALSE(outcome.added);
  EXPECT_EQ(outcome.message, "Problem opening Schedule service.\nThe specified service does not exist as an installed "
                             "service..");
  std::string message;
  EXPECT_TRUE(ReadScheduleList("", &message).empty());
  EXPECT_EQ(message, outcome.message);
  // The record file written before the failed add stays.
  EXPECT_EQ(RecordFiles().size(), 1u);
}

TEST_F(ScheduleJobsTest, ModifyReplacesTheJobAsTypedOrChangesNothing) {
  const ScheduleOutcome added = ScheduleJob(Weekly());
  ASSERT_TRUE(added.added) << added.message;

  ScheduleChoices today;
  today.interval = ScheduleInterval::Today;
  today.hour = 9;
  today.minute = 0;
  // One minute past: the dialog stays and the job stays as it was.
  ModifyOutcome outcome = ModifyScheduledJob(added.jobId, today, "VN /rs \"Other\" /on \"C:\\\\\"", 3, 9, 1);
  EXPECT_TRUE(outcome.keepOpen);
  EXPECT_EQ(outcome.message, "Selected time is before current time");
  ScheduledJobInfo job;
  std::string message;
  ASSERT_TRUE(ReadScheduledJob(added.jobId, &job, &message));
  EXPECT_EQ(job.command, "VN /rs \"Weekly\" /on \"C:\\;\\\\SRV1\\D$\"");

  // Another program's command, kept as typed; the time without the offset,
  // its seconds as given.
  ScheduleChoices next = Every({2}, {}, 21, 45, 10);
  next.interval = ScheduleInterval::Next;
  outcome = ModifyScheduledJob(added.jobId, next, "backup.sh /all", 3, 9, 1);
  ASSERT_TRUE(outcome.replaced) << outcome.message;
  EXPECT_NE(outcome.newJobId, added.jobId);
  EXPECT_FALSE(ReadScheduledJob(added.jobId, &job, &message));
  EXPECT_EQ(message, "Error obtaining job information");
  ASSERT_TRUE(ReadScheduledJob(outcome.newJobId, &job, &message));
  EXPECT_EQ(job.command, "backup.sh /all");
  EXPECT_EQ(job.timing.jobTime, ((21u * 60 + 45) * 60 + 10) * 1000);
  EXPECT_EQ(job.timing.daysOfWeek, 0x04);
  EXPECT_EQ(job.timing.flags & JOB_RUN_PERIODICALLY, 0);
  const std::vector<ScheduleListRow> rows = ReadScheduleList("", &message);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].cells[0], "");
  EXPECT_EQ(rows[0].cells[1], "");
  EXPECT_EQ(rows[0].cells[3], "Next - Wed ");
  EXPECT_EQ(rows[0].cells[5], " 9:45PM");

  // A job that is gone: the deletion fails and nothing is added.
  outcome = ModifyScheduledJob(added.jobId, next, "backup.sh /all", 3, 9, 1);
  EXPECT_FALSE(outcome.replaced);
  EXPECT_EQ(outcome.message, "Error deleting job!");
  EXPECT_EQ(ReadScheduleList("", &message).size(), 1u);
}

TEST_F(ScheduleJobsTest, AListOfAMachineThatCannotBeReachedIsEmptyWithoutAMessage) {
  ASSERT_TRUE(ScheduleJob(Weekly()).added);
  std::string message;
  EXPECT_TRUE(ReadScheduleList("NOSUCHPC", &message).empty());
  EXPECT_TRUE(message.empty()) << message;
}

}  // namespace
