#include "machined/JobScheduler.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/core/AsciiText.h"
#include "platform/core/Process.h"
#include "platform/core/UniqueFd.h"
#include "platform/core/WideString.h"
#include "platform/endpoints/MachineEndpoint.h"
#include "platform/machine/PathMap.h"
#include "platform/services/CommandLine.h"

namespace vn {
namespace {

std::int64_t ToMillis(JobTimePoint t) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
}
JobTimePoint FromMillis(std::int64_t ms) { return JobTimePoint(std::chrono::milliseconds(ms)); }

// A change the runner made (a run's outcome, the next due time) that the file
// did not take. Nobody waits for it but the log; the list in memory stays the
// one that counts, and the next save writes all of it.
void WarnUnsaved(DWORD error) {
  if (error) std::fprintf(stderr, "vnmachined: the list of scheduled jobs could not be written (error %u)\n", error);
}

}  // namespace

JobNow JobClockFromEnvironment() {
  const char* file = std::getenv("VORNAL_JOB_CLOCK_FILE");
  if (file == nullptr || *file == '\0') return SystemJobNow;
  std::filesystem::path path(file);
  return [path] {
    long long seconds = 0;
    std::ifstream in(path);
    if (in) in >> seconds;
    return SystemJobNow() + std::chrono::seconds(seconds);
  };
}

JobScheduler::JobScheduler(std::shared_ptr<const MachineConfig> config, std::filesystem::path file,
                           std::function<bool()> running, JobNow now, std::filesystem::path vnHost)
    : m_config(std::move(config)),
      m_file(std::move(file)),
      m_running(std::move(running)),
      m_now(std::move(now)),
      m_vnHost(std::move(vnHost)) {}

JobScheduler::~JobScheduler() { Stop(); }

void JobScheduler::Start() {
  {
    std::lock_guard lock(m_mutex);
    // A missing file is an empty list.
    (void)Load();
    m_ending = false;
  }
  if (!m_runner.joinable()) m_runner = std::thread([this] { Loop(); });
}

void JobScheduler::Stop() {
  {
    std::lock_guard lock(m_mutex);
    m_ending = true;
  }
  m_wake.notify_all();
  if (m_runner.joinable()) m_runner.join();
}

bool JobScheduler::Load() {
  std::ifstream in(m_file);
  if (!in) return false;
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string kind;
    fields >> kind;
    if (kind == "next") {
      fields >> m_next;
    } else if (kind == "job") {
      ScheduledJob job;
      unsigned dow = 0, flags = 0;
      long long due = 0;
      fields >> job.id >> job.timing.jobTime >> job.timing.daysOfMonth >> dow >> flags >> due;
      if (!fields) continue;
      job.timing.daysOfWeek = static_cast<UCHAR>(dow);
      job.timing.flags = static_cast<UCHAR>(flags);
      job.due = FromMillis(due);
      std::getline(fields, job.command);
      if (!job.command.empty() && job.command.front() == ' ') job.command.erase(0, 1);
      m_jobs[job.id] = job;
      m_next = std::max(m_next, job.id + 1);
    }
  }
  return true;
}

DWORD JobScheduler::Save() {
  std::ostringstream text;
  text << "next " << m_next << "\n";
  for (const auto& [id, job] : m_jobs)
    text << "job " << id << ' ' << job.timing.jobTime << ' ' << job.timing.daysOfMonth << ' '
         << unsigned(job.timing.daysOfWeek) << ' ' << unsigned(job.timing.flags) << ' ' << ToMillis(job.due) << ' '
         << job.command << "\n";
  const std::string data = text.str();
  const std::filesystem::path temp = m_file.string() + ".new";
  UniqueFd fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
  if (!fd) return Win32FromErrno(errno);
  const bool ok = ::write(fd.Get(), data.data(), data.size()) == static_cast<ssize_t>(data.size()) &&
                  ::fsync(fd.Get()) == 0 && fd.Close() == 0;
  if (!ok || ::rename(temp.c_str(), m_file.c_str()) != 0) {
    ::unlink(temp.c_str());
    return ERROR_WRITE_FAULT;
  }
  return ERROR_SUCCESS;
}

DWORD JobScheduler::Add(const AT_INFO& info, DWORD* id) {
  if (const DWORD error = ValidateJob(&info)) return error;
  std::string command = ToUtf8(info.Command);
  if (command.find_first_of("\r\n") != std::string::npos) return ERROR_INVALID_PARAMETER;
  const JobTimePoint now = m_now();
  ScheduledJob job;
  job.timing = AddedTiming(info, now);
  job.command = std::move(command);
  const auto due = NextRun(job.timing, now);
  if (!due) return ERROR_INVALID_PARAMETER;
  job.due = *due;
  {
    std::lock_guard lock(m_mutex);
    job.id = m_next;
    m_jobs[job.id] = job;
    ++m_next;
    if (const DWORD error = Save()) {
      m_jobs.erase(job.id);
      --m_next;
      return error;
    }
  }
  *id = job.id;
  m_wake.notify_all();
  return ERROR_SUCCESS;
}

DWORD JobScheduler::Delete(DWORD minId, DWORD maxId) {
  std::lock_guard lock(m_mutex);
  const auto first = m_jobs.lower_bound(minId);
  const auto last = m_jobs.upper_bound(maxId);
  if (minId > maxId || first == last) return NERR_JobNotFound;
  m_jobs.erase(first, last);
  return Save();
}

std::vector<ScheduledJob> JobScheduler::Jobs() const {
  std::lock_guard lock(m_mutex);
  std::vector<ScheduledJob> jobs;
  for (const auto& [id, job] : m_jobs) jobs.push_back(job);
  return jobs;
}

DWORD JobScheduler::Get(DWORD id, ScheduledJob* job) const {
  std::lock_guard lock(m_mutex);
  const auto it = m_jobs.find(id);
  if (it == m_jobs.end()) return NERR_JobNotFound;
  *job = it->second;
  return ERROR_SUCCESS;
}

pid_t JobScheduler::Launch(const std::string& command) {
  const std::vector<std::string> words = SplitCommandLine(command);
  if (words.empty()) return -1;
  std::string program = words[0];
  if (EqualsIgnoringCase(program, "VN") || EqualsIgnoringCase(program, "VN.EXE")) {
    program = m_vnHost.string();
  } else if (program.size() >= 3 && program[1] == ':' && (program[2] == '\\' || program[2] == '/')) {
    ResolvedPath resolved;
    const MachinePath path{program.substr(0, 2), program.substr(3)};
    if (ResolvePath(*m_config, path, RootAccess::SharesAndDrives, PathKind::Name, &resolved) != ERROR_SUCCESS ||
        !resolved.Exists())
      return -1;
    program = resolved.host.string();
  }
  ProcessOptions options;
  options.program = program;
  options.arguments.assign(words.begin() + 1, words.end());
  options.workingDirectory = m_file.parent_path();
  for (const auto& drive : m_config->drives)
    if (drive.letter == 'C') options.workingDirectory = drive.root;
  // A job runs as a process of this machine, whichever home the service was
  // started with: VN finds its reports and results there.
  options.environment = {"VORNAL_HOME=" + m_config->home.string()};
  options.input = ChildStream::Null();
  // Output joins the machine service's own log (its stderr): its stdout may be
  // a pipe to whoever started it in the foreground, long since unread.
  options.output = ChildStream::Descriptor(STDERR_FILENO);
  // A session of its own: a job outlives a stop of the scheduler or of the
  // machine service, and a signal to the service's terminal does not reach it.
  options.group = ProcessGroup::NewSession;
  pid_t pid = 0;
  std::string detail;
  if (StartProcess(options, &pid, &detail) != 0) {
    std::fprintf(stderr, "vnmachined: job \"%s\" did not start: %s\n", command.c_str(), detail.c_str());
    return -1;
  }
  return pid;
}

void JobScheduler::SetOutcome(DWORD id, bool ok) {
  const auto it = m_jobs.find(id);
  if (it == m_jobs.end()) return;  // deleted meanwhile, or a one-shot job
  UCHAR& flags = it->second.timing.flags;
  const UCHAR before = flags;
  if (ok) {
    flags &= static_cast<UCHAR>(~JOB_EXEC_ERROR);
  } else {
    flags |= JOB_EXEC_ERROR;
  }
  if (flags != before) WarnUnsaved(Save());
}

void JobScheduler::Reap() {
  std::lock_guard lock(m_mutex);
  for (auto it = m_started.begin(); it != m_started.end();) {
    const auto exit = TryWaitProcess(it->first);
    if (!exit) {
      ++it;
      continue;
    }
    SetOutcome(it->second, exit->Succeeded());
    it = m_started.erase(it);
  }
}

void JobScheduler::RunDue() {
  if (!m_running()) return;
  std::lock_guard lock(m_mutex);
  const JobTimePoint now = m_now();
  std::vector<DWORD> due;
  for (const auto& [id, job] : m_jobs)
    if (job.due <= now) due.push_back(id);
  for (const DWORD id : due) {
    if (m_ending) return;
    auto it = m_jobs.find(id);
    ScheduledJob& job = it->second;
    // The next run is settled before this one starts, so a job still running
    // at its next time starts again then, and a periodic job is never run
    // twice for one due time, nor for times the service missed while down.
    auto after = RunAfter(job.timing, job.due);
    while (after && *after <= now) after = RunAfter(job.timing, *after);
    const std::string command = job.command;
    if (after) {
      job.due = *after;
    } else {
      m_jobs.erase(it);  // a one-shot job leaves the list when it starts
    }
    const pid_t pid = Launch(command);
    if (pid > 0) {
      m_started.emplace(pid, after ? id : 0);  // a one-shot job's process is reaped with no job to mark
    } else {
      SetOutcome(id, false);
    }
    WarnUnsaved(Save());
  }
}

void JobScheduler::Loop() {
  std::unique_lock lock(m_mutex);
  while (!m_ending) {
    lock.unlock();
    Reap();
    RunDue();
    lock.lock();
    m_wake.wait_for(lock, std::chrono::seconds(1));
  }
}

}  // namespace vn
