// The job scheduler end to end: this process is the console; SRV1 is a real
// machine service on loopback whose scheduler runs small shell scripts kept
// on its D: drive. The scheduler's clock is driven through the file named by
// VORNAL_JOB_CLOCK_FILE (seconds added to the system clock), so a job an hour
// ahead becomes due at once.
#include "platform/services/NetSchedule.h"

#include <signal.h>
#include <stdlib.h>
#include <time.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/core/LastError.h"
#include "platform/core/Process.h"
#include "platform/core/WideString.h"
#include "platform/services/ServiceControl.h"
#include "testing/MachineNetwork.h"
#include "testing/TestFiles.h"
#include "testing/Wait.h"

namespace {

namespace fs = std::filesystem;
using vn::testing::MachineNetwork;
using vn::testing::WaitUntil;
using vn::testing::WriteScript;

const std::u16string kSrv1 = u"\\\\SRV1";

// The local time of day, `ahead` from now, in milliseconds after midnight.
DWORD TimeOfDayIn(std::chrono::seconds ahead) {
  const std::time_t when = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now() + ahead);
  std::tm local{};
  localtime_r(&when, &local);
  return static_cast<DWORD>(((local.tm_hour * 60 + local.tm_min) * 60 + local.tm_sec) * 1000);
}

struct Job {
  DWORD id = 0;
  DWORD jobTime = 0;
  DWORD daysOfMonth = 0;
  UCHAR daysOfWeek = 0;
  UCHAR flags = 0;
  std::string command;
};

class NetScheduleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_clock = m_net.Root() / "job-clock";
    ::setenv("VORNAL_JOB_CLOCK_FILE", m_clock.c_str(), 1);
    m_net.Add({"SRV1", "TESTDOM", vn::MachineRole::Server, {}});
    const auto& srv1 = m_net.Machine("SRV1");
    m_out = srv1.driveD / "out";
    fs::create_directories(m_out);
    // Writes its first argument's name under out/, and the machine home it
    // was given beside it, then exits with the second (default 0).
    WriteScript(srv1.driveD / "jobs", "touch.sh",
                "echo ran >> \"" + m_out.string() + "/$1\"\necho \"$VORNAL_HOME\" > \"" + m_out.string() +
                    "/$1.home\"\nexit \"${2:-0}\"\n");
    ASSERT_TRUE(m_net.StartAll());
  }
  void TearDown() override { ::unsetenv("VORNAL_JOB_CLOCK_FILE"); }

  // Moves SRV1's scheduler clock `seconds` ahead of the system clock.
  void SetClockOffset(long long seconds) {
    const fs::path temp = m_clock.string() + ".tmp";
    std::ofstream(temp) << seconds << "\n";
    fs::rename(temp, m_clock);
  }

  NET_API_STATUS Add(DWORD jobTime, DWORD daysOfMonth, UCHAR daysOfWeek, UCHAR flags, const std::string& command,
                     DWORD* id) {
    std::u16string wide = vn::ToWide(command);
    AT_INFO info{jobTime, daysOfMonth, daysOfWeek, flags, wide.data()};
    return NetScheduleJobAdd(kSrv1.c_str(), reinterpret_cast<LPBYTE>(&info), id);
  }

  NET_API_STATUS Get(DWORD id, Job* job) {
    LPBYTE buffer = nullptr;
    const NET_API_STATUS status = NetScheduleJobGetInfo(kSrv1.c_str(), id, &buffer);
    if (status != NERR_Success) {
      EXPECT_EQ(buffer, nullptr);
      return status;
    }
    const auto* info = reinterpret_cast<const AT_INFO*>(buffer);
    *job = Job{id, static_cast<DWORD>(info->JobTime), info->DaysOfMonth, info->DaysOfWeek, info->Flags,
               vn::ToUtf8(info->Command)};
    NetApiBufferFree(buffer);
    return status;
  }

  // Every job, by one call that is not cut.
  std::vector<Job> All() {
    LPBYTE buffer = nullptr;
    DWORD read = 0, total = 0, resume = 0;
    EXPECT_EQ(NetScheduleJobEnum(kSrv1.c_str(), &buffer, MAX_PREFERRED_LENGTH, &read, &total, &resume),
              NERR_Success);
    std::vector<Job> jobs;
    const auto* entries = reinterpret_cast<const AT_ENUM*>(buffer);
    for (DWORD i = 0; i < read; ++i)
      jobs.push_back(Job{entries[i].JobId, static_cast<DWORD>(entries[i].JobTime), entries[i].DaysOfMonth,
                         entries[i].DaysOfWeek, entries[i].Flags, vn::ToUtf8(entries[i].Command)});
    EXPECT_EQ(total, read);
    EXPECT_EQ(resume, 0u);
    NetApiBufferFree(buffer);
    return jobs;
  }

  std::string Ran(const std::string& tag) const { return vn::testing::ReadText(m_out / tag); }

  void SwitchSchedule(DWORD control) {
    SC_HANDLE manager = OpenSCManagerA("\\\\SRV1", nullptr, SC_MANAGER_ALL_ACCESS);
    ASSERT_NE(manager, nullptr) << GetLastError();
    SC_HANDLE schedule = OpenServiceA(manager, "Schedule", SERVICE_ALL_ACCESS);
    ASSERT_NE(schedule, nullptr) << GetLastError();
    if (control == SERVICE_CONTROL_STOP) {
      SERVICE_STATUS status{};
      EXPECT_TRUE(ControlService(schedule, SERVICE_CONTROL_STOP, &status)) << GetLastError();
    } else {
      EXPECT_TRUE(StartServiceA(schedule, 0, nullptr)) << GetLastError();
    }
    CloseServiceHandle(schedule);
    CloseServiceHandle(manager);
  }

  MachineNetwork m_net;
  fs::path m_clock;
  fs::path m_out;
};

constexpr DWORD kNoon = 12 * 3600 * 1000;

TEST_F(NetScheduleTest, AddEnumerateWithResumeGetAndDeleteARange) {
  const std::vector<std::string> commands = {"VN /RUN \"Weekly disks\"", "D:\\jobs\\touch.sh a",
                                             "VN.EXE /RUN Other"};
  for (std::size_t i = 0; i < commands.size(); ++i) {
    DWORD id = 0;
    ASSERT_EQ(Add(kNoon + static_cast<DWORD>(i), 0, 0x15, JOB_RUN_PERIODICALLY, commands[i], &id), NERR_Success);
    EXPECT_EQ(id, i + 1);   // ids from 1 upward
  }

  // A preferred length that holds one record: one job a call, in id order.
  DWORD resume = 0;
  for (DWORD expected = 1; expected <= 3; ++expected) {
    SCOPED_TRACE(expected);
    LPBYTE buffer = nullptr;
    DWORD read = 0, total = 0;
    const NET_API_STATUS status =
        NetScheduleJobEnum(kSrv1.c_str(), &buffer, sizeof(AT_ENUM), &read, &total, &resume);
    EXPECT_EQ(status, expected < 3 ? static_cast<NET_API_STATUS>(ERROR_MORE_DATA) : NERR_Success);
    ASSERT_EQ(read, 1u);
    EXPECT_EQ(total, 4 - expected);
    const auto* entry = reinterpret_cast<const AT_ENUM*>(buffer);
    EXPECT_EQ(entry->JobId, expected);
    EXPECT_EQ(entry->JobTime, kNoon + expected - 1);
    EXPECT_EQ(entry->DaysOfWeek, 0x15);
    EXPECT_EQ(entry->Flags & JOB_RUN_PERIODICALLY, JOB_RUN_PERIODICALLY);
    EXPECT_EQ(vn::ToUtf8(entry->Command), commands[expected - 1]);
    EXPECT_EQ(resume, expected < 3 ? expected : 0u);
    NetApiBufferFree(buffer);
  }

  Job job;
  ASSERT_EQ(Get(2, &job), NERR_Success);
  EXPECT_EQ(job.jobTime, kNoon + 1);
  EXPECT_EQ(job.command, commands[1]);
  EXPECT_EQ(Get(99, &job), NERR_JobNotFound);

  EXPECT_EQ(NetScheduleJobDel(kSrv1.c_str(), 1, 2), NERR_Success);
  EXPECT_EQ(NetScheduleJobDel(kSrv1.c_str(), 1, 2), NERR_JobNotFound);
  EXPECT_EQ(NetScheduleJobDel(kSrv1.c_str(), 3, 1), NERR_JobNotFound);
  const auto left = All();
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(left[0].id, 3u);

  // Ids are never reused.
  DWORD id = 0;
  ASSERT_EQ(Add(kNoon, 0, 0, 0, "VN /RUN x", &id), NERR_Success);
  EXPECT_EQ(id, 4u);
}

TEST_F(NetScheduleTest, RefusesInvalidFields) {
  struct Case {
    const char* what;
    DWORD jobTime;
    DWORD daysOfMonth;
    UCHAR daysOfWeek;
    UCHAR flags;
    std::string command;
  };
  const Case cases[] = {
      {"a day or more", vn::kMillisecondsPerDay, 0, 0, 0, "VN"},
      {"day of month bit 31", kNoon, 0x80000000u, 0, 0, "VN"},
      {"weekday bit 7", kNoon, 0, 0x80, 0, "VN"},
      {"blank command", kNoon, 0, 0, 0, "   "},
      {"command too long", kNoon, 0, 0, 0, std::string(vn::kMaxJobCommandLength + 1, 'x')},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    DWORD id = 77;
    EXPECT_EQ(Add(c.jobTime, c.daysOfMonth, c.daysOfWeek, c.flags, c.command, &id),
              static_cast<NET_API_STATUS>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(id, 77u);
  }
  DWORD id = 0;
  EXPECT_EQ(NetScheduleJobAdd(kSrv1.c_str(), nullptr, &id), static_cast<NET_API_STATUS>(ERROR_INVALID_PARAMETER));
  EXPECT_TRUE(All().empty());
}

TEST_F(NetScheduleTest, EveryCallGives2184WhileScheduleIsStopped) {
  DWORD id = 0;
  ASSERT_EQ(Add(kNoon, 0, 0, 0, "VN /RUN x", &id), NERR_Success);
  SwitchSchedule(SERVICE_CONTROL_STOP);

  DWORD other = 0;
  EXPECT_EQ(Add(kNoon, 0, 0, 0, "VN /RUN y", &other), NERR_ServiceNotInstalled);
  EXPECT_EQ(Add(vn::kMillisecondsPerDay, 0, 0, 0, "VN", &other), NERR_ServiceNotInstalled);
  Job job;
  EXPECT_EQ(Get(id, &job), NERR_ServiceNotInstalled);
  LPBYTE buffer = nullptr;
  DWORD read = 0, total = 0, resume = 0;
  EXPECT_EQ(NetScheduleJobEnum(kSrv1.c_str(), &buffer, MAX_PREFERRED_LENGTH, &read, &total, &resume),
            NERR_ServiceNotInstalled);
  EXPECT_EQ(buffer, nullptr);
  EXPECT_EQ(NetScheduleJobDel(kSrv1.c_str(), id, id), NERR_ServiceNotInstalled);

  SwitchSchedule(0);
  EXPECT_EQ(Get(id, &job), NERR_Success);
}

TEST_F(NetScheduleTest, ADueJobRunsItsCommand) {
  // The table: one-shot removed after it ran; periodic kept with its time;
  // a non-zero exit and a program that is missing set the failed flag.
  struct Case {
    const char* tag;
    UCHAR flags;
    UCHAR daysOfWeek;
    std::string command;
    bool writes;
    bool kept;
    bool failed;
  };
  const Case cases[] = {
      {"oneshot", 0, 0, "D:\\jobs\\touch.sh oneshot", true, false, false},
      {"periodic", JOB_RUN_PERIODICALLY, 0x7F, "\"D:\\jobs\\touch.sh\" periodic", true, true, false},
      {"fails", JOB_RUN_PERIODICALLY, 0x7F, "D:\\jobs\\touch.sh fails 3", true, true, true},
      {"missing", JOB_RUN_PERIODICALLY, 0x7F, "vn.exe /RUN missing", false, true, true},
  };
  const DWORD jobTime = TimeOfDayIn(std::chrono::hours(1));
  std::vector<DWORD> ids;
  for (const auto& c : cases) {
    DWORD id = 0;
    ASSERT_EQ(Add(jobTime, 0, c.daysOfWeek, c.flags, c.command, &id), NERR_Success) << c.tag;
    ids.push_back(id);
  }
  for (const auto& job : All()) EXPECT_EQ(job.flags & JOB_EXEC_ERROR, 0) << job.command;

  SetClockOffset(3600 + 2);
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const auto& c = cases[i];
    SCOPED_TRACE(c.tag);
    if (c.writes) {
      EXPECT_TRUE(WaitUntil([&] { return Ran(c.tag) == "ran\n"; })) << Ran(c.tag);
      // A job runs as a process of its machine, whatever the service's own
      // environment says.
      EXPECT_TRUE(WaitUntil([&] { return Ran(std::string(c.tag) + ".home") == m_net.Machine("SRV1").home.string() + "\n"; }));
    }
    Job job;
    if (!c.kept) {
      EXPECT_TRUE(WaitUntil([&] { return Get(ids[i], &job) == NERR_JobNotFound; }));
      continue;
    }
    EXPECT_TRUE(WaitUntil([&] {
      return Get(ids[i], &job) == NERR_Success && ((job.flags & JOB_EXEC_ERROR) != 0) == c.failed;
    })) << int(job.flags);
    EXPECT_EQ(job.jobTime, jobTime);
    EXPECT_EQ(job.daysOfWeek, 0x7F);
  }
  // Ran once for its due time, not again at the next wake-ups: a job due a
  // little later has run, so the scheduler has passed that time since.
  DWORD marker = 0;
  ASSERT_EQ(Add(TimeOfDayIn(std::chrono::seconds(3600 + 5)), 0, 0, 0, "D:\\jobs\\touch.sh marker", &marker),
            NERR_Success);
  SetClockOffset(3600 + 7);
  EXPECT_TRUE(WaitUntil([&] { return Ran("marker") == "ran\n"; }));
  EXPECT_EQ(Ran("periodic"), "ran\n");
}

// A job that runs long neither holds up the jobs due after it nor the stop of
// the machine service, and it outlives that stop.
TEST_F(NetScheduleTest, ALongJobDoesNotHoldUpTheOthers) {
  WriteScript(m_net.Machine("SRV1").driveD / "jobs", "slow.sh",
              "echo $$ > \"" + m_out.string() + "/slow.pid\"\nexec sleep 30\n");
  DWORD slow = 0;
  DWORD quick = 0;
  ASSERT_EQ(Add(TimeOfDayIn(std::chrono::hours(1)), 0, 0x7F, JOB_RUN_PERIODICALLY, "D:\\jobs\\slow.sh", &slow),
            NERR_Success);
  ASSERT_EQ(Add(TimeOfDayIn(std::chrono::hours(2)), 0, 0, 0, "D:\\jobs\\touch.sh quick", &quick), NERR_Success);
  SetClockOffset(3600 + 2);
  ASSERT_TRUE(WaitUntil([&] { return Ran("slow.pid").ends_with('\n'); }));
  const pid_t pid = std::stoi(Ran("slow.pid"));
  SetClockOffset(2 * 3600 + 2);
  EXPECT_TRUE(WaitUntil([&] { return Ran("quick") == "ran\n"; })) << "the quick job waited for the slow one";
  Job job;
  ASSERT_EQ(Get(slow, &job), NERR_Success);
  EXPECT_EQ(job.flags & JOB_EXEC_ERROR, 0) << "still running: no outcome yet";

  // Stop fails the test when the service does not end on SIGTERM by itself.
  m_net.Stop("SRV1");
  EXPECT_EQ(::kill(pid, 0), 0) << "the job outlives the service";
  ::kill(pid, SIGKILL);
}

// A job starts with the signals a shell would give it, whatever the machine
// service does with its own: a writer into a pipe whose reader has gone ends
// by SIGPIPE, so the pipeline ends and the job goes on.
TEST_F(NetScheduleTest, AJobWritingIntoAClosedPipeEndsAsUnderAShell) {
  const std::string out = m_out.string();
  WriteScript(m_net.Machine("SRV1").driveD / "jobs", "pipe.sh",
              "echo $$ > \"" + out + "/pipe.pid\"\n"
              "(while :; do echo y; done) 2>/dev/null | head -n 1 > \"" + out + "/pipe\"\n"
              "echo done > \"" + out + "/pipe.flag\"\n");
  DWORD id = 0;
  ASSERT_EQ(Add(TimeOfDayIn(std::chrono::hours(1)), 0, 0, 0, "D:\\jobs\\pipe.sh", &id), NERR_Success);
  SetClockOffset(3600 + 2);
  EXPECT_TRUE(WaitUntil([&] { return Ran("pipe.flag") == "done\n"; })) << "the pipeline never ended";
  EXPECT_EQ(Ran("pipe"), "y\n");
  // The job has a session of its own: end it, whatever became of it.
  if (const std::string pid = Ran("pipe.pid"); pid.ends_with('\n')) vn::SignalProcessGroup(std::stoi(pid), SIGKILL);
}

TEST_F(NetScheduleTest, NothingRunsWhileScheduleIsStopped) {
  const DWORD jobTime = TimeOfDayIn(std::chrono::hours(1));
  DWORD id = 0;
  ASSERT_EQ(Add(jobTime, 0, 0, 0, "D:\\jobs\\touch.sh held", &id), NERR_Success);
  SwitchSchedule(SERVICE_CONTROL_STOP);
  SetClockOffset(3600 + 2);
  // The runner wakes every second: were it running, the job would have run
  // well within this wait.
  EXPECT_FALSE(WaitUntil([&] { return !Ran("held").empty(); }, std::chrono::milliseconds(1500)));
  SwitchSchedule(0);
  EXPECT_TRUE(WaitUntil([&] { return Ran("held") == "ran\n"; }));
}

TEST_F(NetScheduleTest, JobsSurviveARestartOfTheMachineService) {
  DWORD first = 0, second = 0;
  ASSERT_EQ(Add(kNoon, 0x3, 0, JOB_RUN_PERIODICALLY, "VN /RUN \"Month start\"", &first), NERR_Success);
  ASSERT_EQ(Add(kNoon + 5, 0, 0x40, 0, "VN /RUN Sunday", &second), NERR_Success);
  ASSERT_EQ(NetScheduleJobDel(kSrv1.c_str(), second, second), NERR_Success);

  m_net.Stop("SRV1", /*kill=*/true);
  ASSERT_TRUE(m_net.Start("SRV1"));
  // The console's connection learns of the new service after a call or two.
  ASSERT_TRUE(WaitUntil([&] {
    Job job;
    return Get(first, &job) != static_cast<NET_API_STATUS>(RPC_S_SERVER_UNAVAILABLE);
  }));

  const auto jobs = All();
  ASSERT_EQ(jobs.size(), 1u);
  EXPECT_EQ(jobs[0].id, first);
  EXPECT_EQ(jobs[0].jobTime, kNoon);
  EXPECT_EQ(jobs[0].daysOfMonth, 0x3u);
  EXPECT_EQ(jobs[0].flags & JOB_RUN_PERIODICALLY, JOB_RUN_PERIODICALLY);
  EXPECT_EQ(jobs[0].command, "VN /RUN \"Month start\"");
  DWORD third = 0;
  ASSERT_EQ(Add(kNoon, 0, 0, 0, "VN", &third), NERR_Success);
  EXPECT_EQ(third, 3u);   // the deleted id is not handed out again
}

}  // namespace
