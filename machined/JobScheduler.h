#pragma once
// The job scheduler of one machine: the jobs added with NetScheduleJobAdd,
// kept in <home>/jobs.txt, and the runner thread that starts them when due.
//
// File: one line "next N" (the id the next job gets; ids start at 1 and are
// never reused while the file lives), then one line per job:
//   "job ID JOBTIME DAYSOFMONTH DAYSOFWEEK FLAGS DUE COMMAND"
// DUE is the next run in milliseconds since the epoch, COMMAND (UTF-8, no line
// breaks) is the rest of the line. Every change writes a new file beside it
// and renames it over the old one, so a kill leaves the old or the new file.
//
// Runner: wakes every second (cheap), and runs every job whose due time has
// come while the "Schedule" service is running (the `running` callback).
// A command line is split with SplitCommandLine; the program word "VN" or
// "VN.EXE" (any case) is the command-line host VN beside vnmachined's own
// executable, a drive path ("D:\x\y") goes through the machine's drive map,
// any other word is searched on PATH. The job runs in the root of drive C:
// (the home when there is none), stdin /dev/null, stdout and stderr into the
// machine service's stderr (its log), in a session of its own, with default
// signal dispositions and mask (vn::StartProcess).
// Jobs run side by side: the runner starts each due job and goes on; it
// settles the job's next time (RunAfter) as it starts it, and removes a
// one-shot job then. When a periodic job's process ends, an exit of 0 clears
// JOB_EXEC_ERROR and anything else sets it; a start that fails sets it at
// once. Stopping the scheduler (or the service) leaves running jobs running.
//
// Test aid: when the environment variable VORNAL_JOB_CLOCK_FILE names a file,
// "now" is the system clock plus the number of seconds that file holds (read
// at every look at the clock; a missing file counts as 0), so a test can make
// a job due without waiting for it.
//
// Threads: every call from any thread (one lock); the runner thread starts
// and reaps the jobs.

#include <sys/types.h>

#include <condition_variable>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/machine/MachineConfig.h"
#include "platform/services/JobTiming.h"
#include "platform/services/NetSchedule.h"   // NERR_JobNotFound

namespace vn {

struct ScheduledJob {
  DWORD id = 0;
  JobTiming timing;
  std::string command;   // UTF-8
  JobTimePoint due;
};

// The clock of the test aid above, or SystemJobNow.
JobNow JobClockFromEnvironment();

class JobScheduler {
 public:
  JobScheduler(std::shared_ptr<const MachineConfig> config, std::filesystem::path file,
               std::function<bool()> running, JobNow now, std::filesystem::path vnHost);
  ~JobScheduler();
  JobScheduler(const JobScheduler&) = delete;
  JobScheduler& operator=(const JobScheduler&) = delete;

  // Reads the file (a missing one is an empty list) and starts the runner.
  void Start();
  void Stop();

  bool Running() const { return m_running(); }
  JobTimePoint Now() const { return m_now(); }

  // 0, ERROR_INVALID_PARAMETER (ValidateJob, or a line break in the command),
  // or the write's error.
  [[nodiscard]] DWORD Add(const AT_INFO& info, DWORD* id);
  // Removes the jobs with ids in [minId, maxId]; NERR_JobNotFound when none.
  [[nodiscard]] DWORD Delete(DWORD minId, DWORD maxId);
  std::vector<ScheduledJob> Jobs() const;
  [[nodiscard]] DWORD Get(DWORD id, ScheduledJob* job) const;
  // Runs the jobs due now (the runner's pass).
  void RunDue();

 private:
  [[nodiscard]] bool Load();
  [[nodiscard]] DWORD Save();
  // Starts the command line; its pid, or -1 when it cannot start.
  pid_t Launch(const std::string& command);
  // Records how a run of job `id` went (with the lock held).
  void SetOutcome(DWORD id, bool ok);
  // Collects the jobs' processes that have ended.
  void Reap();
  void Loop();

  std::shared_ptr<const MachineConfig> m_config;
  std::filesystem::path m_file;
  std::function<bool()> m_running;
  JobNow m_now;
  std::filesystem::path m_vnHost;
  mutable std::mutex m_mutex;
  std::condition_variable m_wake;
  std::map<DWORD, ScheduledJob> m_jobs;
  DWORD m_next = 1;
  std::map<pid_t, DWORD> m_started;  // running jobs' processes -> job id (0: a one-shot job)
  bool m_ending = false;
  std::thread m_runner;
};

}  // namespace vn
