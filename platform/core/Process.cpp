#include "platform/core/Process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <string_view>
#include <thread>

#include "platform/core/UniqueFd.h"

extern char** environ;

namespace vn {

namespace {

// What the child reports through the close-on-exec pipe when it cannot exec.
enum class Step : int { Group = 1, DeathSignal, Streams, Descriptors, Directory, Exec };
struct ChildFailure {
  Step step;
  int error;
};

// Everything the child uses between fork and exec, made before the fork: the
// child only reads it and writes into the space reserved here.
struct ChildPlan {
  std::vector<std::string> argvText;
  std::vector<char*> argv;
  std::vector<std::string> envText;
  std::vector<char*> envp;
  std::vector<std::string> candidates;   // the paths exec tries, in order
  std::string directory;                 // empty: stay
  int sources[3] = {-1, -1, -1};         // what becomes fd 0, 1, 2; -1 keeps it
  std::vector<std::pair<int, int>> passed;
  std::vector<int> temporaries;          // one per source and passed descriptor
  int base = 3;                          // temporaries go at or above this
  std::vector<std::pair<unsigned, unsigned>> closeRanges;   // marked close-on-exec
  int maxFd = 1024;
  ProcessGroup group = ProcessGroup::Inherit;
  int deathSignal = 0;
  pid_t parent = 0;
};

std::string_view NameOf(std::string_view entry) { return entry.substr(0, entry.find('=')); }

void ApplyEnvironment(const ProcessOptions& options, std::vector<std::string>* env) {
  if (options.inheritEnvironment)
    for (char** entry = environ; entry && *entry; ++entry) env->emplace_back(*entry);
  for (const auto& change : options.environment) {
    const std::string_view name = NameOf(change);
    std::erase_if(*env, [&](const std::string& entry) { return NameOf(entry) == name; });
    if (change.find('=') != std::string::npos) env->push_back(change);
  }
}

// The paths to try for `program`, as execvp would: a path is taken as it
// stands, a name is looked up in every directory of PATH (an empty entry is
// the working directory).
std::vector<std::string> Candidates(const std::string& program, const std::vector<std::string>& env) {
  if (program.find('/') != std::string::npos) return {program};
  std::string path = "/usr/bin:/bin";
  bool found = false;
  for (const auto& entry : env) {
    if (entry.starts_with("PATH=")) {
      path = entry.substr(5);
      found = true;
    }
  }
  if (!found)
    if (const char* own = std::getenv("PATH")) path = own;
  std::vector<std::string> candidates;
  for (std::size_t start = 0;;) {
    const std::size_t end = path.find(':', start);
    std::string dir = path.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (dir.empty()) dir = ".";
    candidates.push_back(dir + "/" + program);
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return candidates;
}

bool IsOpen(int fd) { return fd >= 0 && ::fcntl(fd, F_GETFD) != -1; }

// Opens what a stream needs; the descriptor goes to *owned (kept open until
// the child has started) and its number to *source.
int OpenStream(const ChildStream& stream, bool input, std::vector<UniqueFd>* owned, int* source,
               std::string* detail) {
  switch (stream.kind) {
    case ChildStream::Kind::Inherit: *source = -1; return 0;
    case ChildStream::Kind::Null: {
      UniqueFd fd(::open("/dev/null", (input ? O_RDONLY : O_WRONLY) | O_CLOEXEC));
      if (!fd) {
        *detail = std::string("open /dev/null: ") + std::strerror(errno);
        return errno;
      }
      *source = fd.Get();
      owned->push_back(std::move(fd));
      return 0;
    }
    case ChildStream::Kind::Descriptor:
      if (!IsOpen(stream.fd)) {
        *detail = "descriptor " + std::to_string(stream.fd) + " is not open";
        return EBADF;
      }
      *source = stream.fd;
      return 0;
    case ChildStream::Kind::AppendFile: {
      if (input) break;
      UniqueFd fd(::open(stream.file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
      if (!fd) {
        *detail = "open " + stream.file.string() + ": " + std::strerror(errno);
        return errno;
      }
      *source = fd.Get();
      owned->push_back(std::move(fd));
      return 0;
    }
    case ChildStream::Kind::SameAsOutput: break;
  }
  *detail = "a stream that cannot be used there";
  return EINVAL;
}

std::string Describe(const ChildFailure& failure, const ProcessOptions& options) {
  std::string what;
  switch (failure.step) {
    case Step::Group: what = options.group == ProcessGroup::NewSession ? "setsid" : "setpgid"; break;
    case Step::DeathSignal: what = "parent-death signal"; break;
    case Step::Streams: what = "standard streams"; break;
    case Step::Descriptors: what = "passing descriptors"; break;
    case Step::Directory: what = "chdir " + options.workingDirectory.string(); break;
    case Step::Exec: what = "exec " + options.program; break;
  }
  return what + ": " + std::strerror(failure.error);
}

// The child, from fork to exec: async-signal-safe calls only, no allocation.
[[noreturn]] void RunChild(ChildPlan& plan, int report) {
  const auto fail = [&report](Step step) {
    const ChildFailure failure{step, errno};
    [[maybe_unused]] const auto written = ::write(report, &failure, sizeof failure);
    ::_exit(127);
  };
  if (plan.group == ProcessGroup::NewSession && ::setsid() < 0) fail(Step::Group);
  if (plan.group == ProcessGroup::NewGroup && ::setpgid(0, 0) != 0) fail(Step::Group);
  if (plan.deathSignal != 0) {
    if (::prctl(PR_SET_PDEATHSIG, plan.deathSignal) != 0) fail(Step::DeathSignal);
    if (::getppid() != plan.parent) ::_exit(127);   // the parent went before the signal was armed
  }

  // Every source first goes above every number it could land on, so that no
  // placement overwrites a source still to be placed (or the report pipe).
  if (const int moved = ::fcntl(report, F_DUPFD_CLOEXEC, plan.base); moved >= 0) report = moved;
  std::size_t t = 0;
  for (const int source : plan.sources) {
    if (source >= 0 && (plan.temporaries[t] = ::fcntl(source, F_DUPFD_CLOEXEC, plan.base)) < 0) fail(Step::Streams);
    ++t;
  }
  for (const auto& [source, target] : plan.passed)
    if ((plan.temporaries[t++] = ::fcntl(source, F_DUPFD_CLOEXEC, plan.base)) < 0) fail(Step::Descriptors);
  for (int fd = 0; fd < 3; ++fd)
    if (plan.sources[fd] >= 0 && ::dup2(plan.temporaries[static_cast<std::size_t>(fd)], fd) < 0) fail(Step::Streams);
  t = 3;
  for (const auto& [source, target] : plan.passed)
    if (::dup2(plan.temporaries[t++], target) < 0) fail(Step::Descriptors);

  if (!plan.directory.empty() && ::chdir(plan.directory.c_str()) != 0) fail(Step::Directory);

  // Every other descriptor is closed by the exec (marked rather than closed
  // now: the report pipe must stay open until then).
  for (const auto& [low, high] : plan.closeRanges) {
    if (::close_range(low, high, CLOSE_RANGE_CLOEXEC) == 0) continue;
    const unsigned last = std::min(high, static_cast<unsigned>(plan.maxFd));
    for (unsigned fd = low; fd <= last; ++fd) ::fcntl(static_cast<int>(fd), F_SETFD, FD_CLOEXEC);
  }

  // Default dispositions, then nothing blocked (everything was blocked since
  // the fork, so no handler of the parent ran in the child).
  struct sigaction defaults {};
  defaults.sa_handler = SIG_DFL;
  sigemptyset(&defaults.sa_mask);
  for (int signal = 1; signal < NSIG; ++signal)
    if (signal != SIGKILL && signal != SIGSTOP) ::sigaction(signal, &defaults, nullptr);
  // The C library keeps the signals just below SIGRTMIN for itself and
  // refuses to change them, yet one that whoever started this process
  // ignored stays ignored across the exec (make does that to two of them).
  // The kernel's own call puts them back: an all-zero record is SIG_DFL,
  // no flags, nothing blocked.
  for (int signal = 32; signal < SIGRTMIN; ++signal) {
    unsigned long kernelAction[4] = {};
    ::syscall(SYS_rt_sigaction, signal, kernelAction, nullptr, (NSIG - 1) / 8);
  }
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);

  // As execvp: a directory where the file is missing is skipped; a file that
  // is there but may not be run is remembered, and reported when nothing runs.
  bool denied = false;
  int last = ENOENT;
  for (const auto& candidate : plan.candidates) {
    ::execve(candidate.c_str(), plan.argv.data(), plan.envp.data());
    last = errno;
    if (last == EACCES) {
      denied = true;
    } else if (last != ENOENT && last != ENOTDIR && last != ESTALE && last != ENODEV && last != ETIMEDOUT) {
      break;
    }
  }
  errno = denied && (last == ENOENT || last == ENOTDIR) ? EACCES : last;
  fail(Step::Exec);
  ::_exit(127);
}

int MaxFd() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return 65536;
  return static_cast<int>(std::min<rlim_t>(limit.rlim_cur, INT_MAX));
}

// Gone, or a zombie.
bool Ended(pid_t pid) {
  if (::kill(pid, 0) != 0) return errno == ESRCH;
  const UniqueFd stat(::open(("/proc/" + std::to_string(pid) + "/stat").c_str(), O_RDONLY | O_CLOEXEC));
  char text[512];
  const ssize_t n = stat ? ::read(stat.Get(), text, sizeof text - 1) : -1;
  if (n <= 0) return true;
  const std::string_view fields(text, static_cast<std::size_t>(n));
  const std::size_t close = fields.rfind(')');
  return close != std::string_view::npos && close + 2 < fields.size() && fields[close + 2] == 'Z';
}

int PidfdOpen(pid_t pid) { return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)); }

}  // namespace

ProcessExit ProcessExit::FromWaitStatus(int status) {
  ProcessExit exit;
  if (WIFEXITED(status)) {
    exit.code = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    exit.signal = WTERMSIG(status);
  }
  return exit;
}

int StartProcess(const ProcessOptions& options, pid_t* pid, std::string* detail) {
  std::string scratch;
  if (!detail) detail = &scratch;
  detail->clear();
  if (options.program.empty()) {
    *detail = "no program";
    return EINVAL;
  }

  ChildPlan plan;
  plan.argvText.push_back(options.argv0.empty() ? options.program : options.argv0);
  plan.argvText.insert(plan.argvText.end(), options.arguments.begin(), options.arguments.end());
  for (auto& word : plan.argvText) plan.argv.push_back(word.data());
  plan.argv.push_back(nullptr);
  ApplyEnvironment(options, &plan.envText);
  for (auto& entry : plan.envText) plan.envp.push_back(entry.data());
  plan.envp.push_back(nullptr);
  plan.candidates = Candidates(options.program, plan.envText);
  plan.directory = options.workingDirectory.string();
  plan.group = options.group;
  plan.deathSignal = options.parentDeathSignal;
  plan.parent = ::getpid();
  plan.maxFd = MaxFd();

  std::vector<UniqueFd> owned;
  if (int error = OpenStream(options.input, true, &owned, &plan.sources[0], detail)) return error;
  if (int error = OpenStream(options.output, false, &owned, &plan.sources[1], detail)) return error;
  if (options.error.kind == ChildStream::Kind::SameAsOutput) {
    plan.sources[2] = plan.sources[1] >= 0 ? plan.sources[1] : STDOUT_FILENO;
  } else if (int error = OpenStream(options.error, false, &owned, &plan.sources[2], detail)) {
    return error;
  }

  std::vector<int> targets;
  for (const auto& [source, target] : options.descriptors) {
    if (target < 3 || std::find(targets.begin(), targets.end(), target) != targets.end()) {
      *detail = "descriptor number " + std::to_string(target) + " cannot be handed on";
      return EINVAL;
    }
    if (!IsOpen(source)) {
      *detail = "descriptor " + std::to_string(source) + " is not open";
      return EBADF;
    }
    targets.push_back(target);
  }
  plan.passed = options.descriptors;
  plan.temporaries.assign(3 + plan.passed.size(), -1);
  std::sort(targets.begin(), targets.end());
  plan.base = targets.empty() ? 3 : targets.back() + 1;
  unsigned low = 3;
  for (const int target : targets) {
    if (static_cast<unsigned>(target) > low) plan.closeRanges.emplace_back(low, static_cast<unsigned>(target) - 1);
    low = static_cast<unsigned>(target) + 1;
  }
  plan.closeRanges.emplace_back(low, UINT_MAX);

  int pipeError = 0;
  PipeEnds report = MakePipe(&pipeError);
  if (!report.read) {
    *detail = std::string("pipe: ") + std::strerror(pipeError);
    return pipeError;
  }

  // Signals stay blocked from the fork until the child has reset them.
  sigset_t all, previous;
  sigfillset(&all);
  ::pthread_sigmask(SIG_SETMASK, &all, &previous);
  const pid_t child = ::fork();
  if (child == 0) RunChild(plan, report.write.Get());
  const int forkError = errno;
  ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  if (child < 0) {
    *detail = std::string("fork: ") + std::strerror(forkError);
    return forkError;
  }
  report.write.Reset();

  ChildFailure failure{};
  std::size_t got = 0;
  while (got < sizeof failure) {
    const ssize_t n = ::read(report.read.Get(), reinterpret_cast<char*>(&failure) + got, sizeof failure - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  if (got == 0) {
    *pid = child;
    return 0;
  }
  WaitProcess(child);
  if (got < sizeof failure) {
    *detail = "the child ended before it could run " + options.program;
    return ECHILD;
  }
  *detail = Describe(failure, options);
  return failure.error != 0 ? failure.error : ECHILD;
}

LONG Win32FromStartError(int error) {
  switch (error) {
    case 0: return ERROR_SUCCESS;
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM: return ERROR_ACCESS_DENIED;
    case ENOEXEC:
    case ELIBBAD: return ERROR_BAD_EXE_FORMAT;
    case ENOMEM:
    case EAGAIN: return ERROR_NOT_ENOUGH_MEMORY;
    case EMFILE:
    case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case ELOOP: return ERROR_CANT_RESOLVE_FILENAME;
    case ETXTBSY: return ERROR_SHARING_VIOLATION;
    case EINVAL:
    case EBADF:
    case E2BIG: return ERROR_INVALID_PARAMETER;
    default: return ERROR_GEN_FAILURE;
  }
}

ProcessExit WaitProcess(pid_t pid) {
  for (;;) {
    int status = 0;
    const pid_t done = ::waitpid(pid, &status, 0);
    if (done == pid) return ProcessExit::FromWaitStatus(status);
    if (done < 0 && errno == EINTR) continue;
    return {};
  }
}

std::optional<ProcessExit> TryWaitProcess(pid_t pid) {
  for (;;) {
    int status = 0;
    const pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == 0) return std::nullopt;
    if (done == pid) return ProcessExit::FromWaitStatus(status);
    if (done < 0 && errno == EINTR) continue;
    return ProcessExit{};
  }
}

std::optional<ProcessExit> WaitProcessFor(pid_t pid, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  const UniqueFd pidfd(PidfdOpen(pid));
  for (;;) {
    if (auto exit = TryWaitProcess(pid)) return exit;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return std::nullopt;
    if (pidfd) {
      // Readable once the child has ended.
      pollfd ready{pidfd.Get(), POLLIN, 0};
      ::poll(&ready, 1, static_cast<int>(std::min<long long>(left.count(), INT_MAX)));
    } else {
      // No process descriptors (an old kernel): look again shortly.
      std::this_thread::sleep_for(std::min(left, std::chrono::milliseconds(10)));
    }
  }
}

bool WaitForProcessEnd(pid_t pid, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  const UniqueFd pidfd(PidfdOpen(pid));
  if (!pidfd && errno == ESRCH) return true;
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (pidfd) {
      pollfd ready{pidfd.Get(), POLLIN, 0};
      const int n = ::poll(&ready, 1, static_cast<int>(std::clamp<long long>(left.count(), 0, INT_MAX)));
      if (n > 0) return true;
      if (n < 0 && errno == EINTR) continue;
      return false;
    }
    if (Ended(pid)) return true;
    if (left.count() <= 0) return false;
    std::this_thread::sleep_for(std::min(left, std::chrono::milliseconds(10)));
  }
}

int SignalProcess(pid_t pid, int signal) {
  if (pid <= 0) return EINVAL;   // never "every process" or "my group" by mistake
  return ::kill(pid, signal) == 0 ? 0 : errno;
}

int SignalProcessGroup(pid_t group, int signal) {
  if (group <= 0) return EINVAL;
  return ::kill(-group, signal) == 0 ? 0 : errno;
}

}  // namespace vn
