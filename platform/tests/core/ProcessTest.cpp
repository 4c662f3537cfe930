// The launcher with real programs of the host (sh, env, cat, grep, cut,
// sleep): what the child gets, how it ended, and what the caller hears when
// it cannot start.
#include "platform/core/Process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include <QTemporaryDir>

#include "platform/core/UniqueFd.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using vn::ChildStream;
using vn::ProcessExit;
using vn::ProcessGroup;
using vn::ProcessOptions;

constexpr auto kBound = 20s;

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

ProcessOptions Program(const std::string& program, std::vector<std::string> arguments = {}) {
  ProcessOptions options;
  options.program = program;
  options.arguments = std::move(arguments);
  return options;
}

ProcessOptions Shell(const std::string& script) { return Program("sh", {"-c", script}); }

// True when the test process has no child left (nothing started here was
// left unreaped or running).
bool NoChildren() { return ::waitpid(-1, nullptr, WNOHANG) == -1 && errno == ECHILD; }

class ProcessTest : public ::testing::Test {
 protected:
  fs::path Dir() const { return fs::path(m_dir.path().toStdString()); }

  // Starts `options` with stdout (and stderr, unless set) appended to a fresh
  // log, waits for the end within the bound and gives the log's text. A child
  // that outstays the bound is killed with its group and fails the test.
  std::string Run(ProcessOptions options, ProcessExit* exit = nullptr) {
    const fs::path log = Dir() / ("run" + std::to_string(++m_runs) + ".log");
    options.output = ChildStream::AppendTo(log);
    if (options.error.kind == ChildStream::Kind::Inherit) options.error = ChildStream::SameAsOutput();
    pid_t pid = 0;
    std::string detail;
    const int error = vn::StartProcess(options, &pid, &detail);
    EXPECT_EQ(error, 0) << detail;
    if (error != 0) return "<not started>";
    auto end = vn::WaitProcessFor(pid, kBound);
    if (!end) {
      ADD_FAILURE() << options.program << " did not end";
      vn::SignalProcessGroup(pid, SIGKILL);
      vn::SignalProcess(pid, SIGKILL);
      end = vn::WaitProcess(pid);
    }
    if (exit) *exit = *end;
    return ReadAll(log);
  }

  QTemporaryDir m_dir;
  int m_runs = 0;
};

TEST_F(ProcessTest, EndsAsTheProgramEnded) {
  struct Case {
    const char* script;
    int code;
    int signal;
  } cases[] = {
      {"exit 0", 0, 0},
      {"exit 3", 3, 0},
      {"exit 255", 255, 0},
      {"kill -TERM $$", 0, SIGTERM},
      {"kill -KILL $$", 0, SIGKILL},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.script);
    ProcessExit exit;
    Run(Shell(c.script), &exit);
    EXPECT_EQ(exit.code, c.code);
    EXPECT_EQ(exit.signal, c.signal);
    EXPECT_EQ(exit.Succeeded(), c.code == 0 && c.signal == 0);
  }
  EXPECT_TRUE(NoChildren());
}

TEST_F(ProcessTest, AFailedStartIsReportedToTheCaller) {
  const fs::path plain = Dir() / "plain.txt";
  std::ofstream(plain) << "not a program\n";
  fs::permissions(plain, fs::perms::owner_read | fs::perms::owner_write);
  int pipeError = 0;
  vn::PipeEnds pipe = vn::MakePipe(&pipeError);
  ASSERT_EQ(pipeError, 0);

  struct Case {
    const char* what;
    ProcessOptions options;
    int error;
    const char* detail;   // a part of the detail
    LONG win32;
  };
  auto with = [](ProcessOptions options, auto change) {
    change(options);
    return options;
  };
  const ProcessOptions base = Program("true");
  const Case cases[] = {
      {"missing path", with(base, [](ProcessOptions& o) { o.program = "/nonexistent-vn/prog"; }), ENOENT,
       "exec /nonexistent-vn/prog", ERROR_FILE_NOT_FOUND},
      {"not on PATH", with(base, [](ProcessOptions& o) { o.program = "vn-no-such-program"; }), ENOENT,
       "exec vn-no-such-program", ERROR_FILE_NOT_FOUND},
      {"not executable", with(base, [&](ProcessOptions& o) { o.program = plain.string(); }), EACCES, "exec",
       ERROR_ACCESS_DENIED},
      {"a directory", with(base, [&](ProcessOptions& o) { o.program = Dir().string(); }), EACCES, "exec",
       ERROR_ACCESS_DENIED},
      {"missing working directory",
       with(base, [&](ProcessOptions& o) { o.workingDirectory = Dir() / "nowhere"; }), ENOENT, "chdir",
       ERROR_FILE_NOT_FOUND},
      {"log in a missing directory",
       with(base, [&](ProcessOptions& o) { o.output = ChildStream::AppendTo(Dir() / "nowhere" / "log"); }), ENOENT,
       "open", ERROR_FILE_NOT_FOUND},
      {"no program", with(base, [](ProcessOptions& o) { o.program.clear(); }), EINVAL, "no program",
       ERROR_INVALID_PARAMETER},
      {"a closed descriptor as input", with(base, [](ProcessOptions& o) { o.input = ChildStream::Descriptor(999); }),
       EBADF, "999", ERROR_INVALID_PARAMETER},
      {"a standard number handed on",
       with(base, [&](ProcessOptions& o) { o.descriptors = {{pipe.write.Get(), 1}}; }), EINVAL, "number 1",
       ERROR_INVALID_PARAMETER},
      {"input as stdout", with(base, [](ProcessOptions& o) { o.input = ChildStream::SameAsOutput(); }), EINVAL, "",
       ERROR_INVALID_PARAMETER},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    pid_t pid = -5;
    std::string detail;
    EXPECT_EQ(vn::StartProcess(c.options, &pid, &detail), c.error);
    EXPECT_NE(detail.find(c.detail), std::string::npos) << detail;
    EXPECT_EQ(pid, -5) << "no child is handed out";
    EXPECT_EQ(vn::Win32FromStartError(c.error), c.win32);
    EXPECT_TRUE(NoChildren()) << "a child that could not run is reaped";
  }
}

TEST_F(ProcessTest, EnvironmentIsInheritedChangedOrReplaced) {
  ::setenv("VN_PROCESS_TEST", "parent", 1);
  const fs::path bin = Dir() / "bin";
  fs::create_directories(bin);
  std::ofstream(bin / "vn-tool") << "#!/bin/sh\necho found\n";
  fs::permissions(bin / "vn-tool", fs::perms::owner_all);

  struct Case {
    const char* what;
    bool inherit;
    std::vector<std::string> environment;
    ProcessOptions options;
    std::string expected;
  } cases[] = {
      {"inherited", true, {}, Shell("echo \"$VN_PROCESS_TEST\""), "parent\n"},
      {"overridden", true, {"VN_PROCESS_TEST=child"}, Shell("echo \"$VN_PROCESS_TEST\""), "child\n"},
      {"removed", true, {"VN_PROCESS_TEST"}, Shell("echo \"${VN_PROCESS_TEST-unset}\""), "unset\n"},
      {"added", true, {"VN_OTHER=x y"}, Shell("echo \"$VN_PROCESS_TEST/$VN_OTHER\""), "parent/x y\n"},
      {"replaced", false, {"A=1", "B=2"}, Program("env"), "A=1\nB=2\n"},
      {"PATH of the child", false, {"PATH=" + bin.string()}, Program("vn-tool"), "found\n"},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.what);
    c.options.inheritEnvironment = c.inherit;
    c.options.environment = c.environment;
    EXPECT_EQ(Run(c.options), c.expected);
  }
  EXPECT_STREQ(std::getenv("VN_PROCESS_TEST"), "parent") << "the caller's environment is left alone";
  ::unsetenv("VN_PROCESS_TEST");
}

TEST_F(ProcessTest, StreamsAndDescriptorsAreWhatWasAskedAndNothingMore) {
  // Output and errors into one log, appended run after run.
  const fs::path log = Dir() / "both.log";
  for (int i = 0; i < 2; ++i) {
    ProcessOptions options = Shell("echo out; echo err >&2");
    options.output = ChildStream::AppendTo(log);
    options.error = ChildStream::SameAsOutput();
    pid_t pid = 0;
    ASSERT_EQ(vn::StartProcess(options, &pid), 0);
    EXPECT_TRUE(vn::WaitProcess(pid).Succeeded());
  }
  EXPECT_EQ(ReadAll(log), "out\nerr\nout\nerr\n");

  // Input from a descriptor of the caller, and from /dev/null.
  {
    vn::PipeEnds input = vn::MakePipe();
    ASSERT_TRUE(input.write);
    ASSERT_EQ(::write(input.write.Get(), "piped\n", 6), 6);
    input.write.Reset();
    ProcessOptions cat = Program("cat");
    cat.input = ChildStream::Descriptor(input.read.Get());
    EXPECT_EQ(Run(cat), "piped\n");
    EXPECT_TRUE(input.read) << "the caller's descriptor stays the caller's";
    cat.input = ChildStream::Null();
    ProcessExit exit;
    EXPECT_EQ(Run(cat, &exit), "");
    EXPECT_TRUE(exit.Succeeded());
  }

  // Descriptors of the caller, inheritable or not, do not reach the child;
  // the one handed on arrives at the number asked.
  const fs::path file = Dir() / "file";
  std::ofstream(file) << "x";
  vn::UniqueFd inheritable(::fcntl(vn::UniqueFd(::open(file.c_str(), O_RDONLY)).Get(), F_DUPFD, 40));
  vn::UniqueFd closeOnExec(::fcntl(inheritable.Get(), F_DUPFD_CLOEXEC, 41));
  ASSERT_TRUE(inheritable && closeOnExec);
  vn::PipeEnds handed = vn::MakePipe();
  const std::string script = "for fd in 3 4 " + std::to_string(inheritable.Get()) + " " +
                             std::to_string(closeOnExec.Get()) +
                             "; do if [ -e /proc/$$/fd/$fd ]; then echo \"open $fd\"; fi; done; echo handed >&7";
  ProcessOptions probe = Shell(script);
  probe.descriptors = {{handed.write.Get(), 7}};
  ProcessExit exit;
  EXPECT_EQ(Run(probe, &exit), "");
  EXPECT_TRUE(exit.Succeeded());
  handed.write.Reset();
  char buffer[64] = {};
  EXPECT_EQ(::read(handed.read.Get(), buffer, sizeof buffer - 1), 7);
  EXPECT_STREQ(buffer, "handed\n");
}

// Restores this thread's signal mask and the dispositions it changed.
class SignalStateGuard {
 public:
  SignalStateGuard() {
    ::pthread_sigmask(SIG_SETMASK, nullptr, &m_mask);
    for (const int signal : kChanged) ::sigaction(signal, nullptr, &m_actions[Index(signal)]);
  }
  ~SignalStateGuard() {
    for (const int signal : kChanged) ::sigaction(signal, &m_actions[Index(signal)], nullptr);
    ::pthread_sigmask(SIG_SETMASK, &m_mask, nullptr);
  }
  static constexpr int kChanged[] = {SIGPIPE, SIGHUP, SIGUSR1, SIGUSR2};

 private:
  static std::size_t Index(int signal) {
    for (std::size_t i = 0; i < std::size(kChanged); ++i)
      if (kChanged[i] == signal) return i;
    return 0;
  }
  sigset_t m_mask;
  struct sigaction m_actions[std::size(kChanged)] = {};
};

void Count(int) {}

TEST_F(ProcessTest, TheChildStartsWithDefaultSignals) {
  SignalStateGuard guard;
  // What the machine service does to itself: SIGPIPE ignored, stop signals blocked.
  ::signal(SIGPIPE, SIG_IGN);
  ::signal(SIGHUP, SIG_IGN);
  ::signal(SIGUSR1, SIG_IGN);
  ::signal(SIGUSR2, Count);
  sigset_t blocked;
  sigemptyset(&blocked);
  sigaddset(&blocked, SIGTERM);
  sigaddset(&blocked, SIGINT);
  sigaddset(&blocked, SIGUSR2);
  ::pthread_sigmask(SIG_BLOCK, &blocked, nullptr);

  EXPECT_EQ(Run(Program("grep", {"-E", "^Sig(Blk|Ign):", "/proc/self/status"})), "SigBlk:\t0000000000000000\nSigIgn:\t0000000000000000\n");

  // A writer into a pipe whose reader has gone ends by SIGPIPE, as under a
  // shell; with SIGPIPE ignored this loop would write into the pipe forever.
  ProcessOptions pipeline = Shell("(while :; do echo y; done) | head -n 1");
  pipeline.group = ProcessGroup::NewGroup;
  pipeline.error = ChildStream::Null();   // the endless complaints of a writer that is not stopped
  ProcessExit exit;
  EXPECT_EQ(Run(pipeline, &exit), "y\n");
  EXPECT_TRUE(exit.Succeeded());
}

TEST_F(ProcessTest, GroupAndSessionAsAsked) {
  struct Case {
    ProcessGroup group;
    bool ownGroup;
    bool ownSession;
  } cases[] = {
      {ProcessGroup::Inherit, false, false},
      {ProcessGroup::NewGroup, true, false},
      {ProcessGroup::NewSession, true, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.group));
    // cut is the child itself: fields 5 and 6 of its stat are its group and session.
    ProcessOptions options = Program("cut", {"-d", " ", "-f", "1,5,6", "/proc/self/stat"});
    options.group = c.group;
    std::istringstream fields(Run(options));
    long pid = 0, group = 0, session = 0;
    ASSERT_TRUE(fields >> pid >> group >> session);
    EXPECT_EQ(group, c.ownGroup ? pid : static_cast<long>(::getpgrp()));
    EXPECT_EQ(session, c.ownSession ? pid : static_cast<long>(::getsid(0)));
  }
}

TEST_F(ProcessTest, ParentDeathSignalComesWhenTheStartingThreadEnds) {
  const ProcessOptions sleeper = Program("sleep", {"60"});
  pid_t armed = 0;
  pid_t plain = 0;
  std::thread starter([&] {
    ProcessOptions options = sleeper;
    options.parentDeathSignal = SIGTERM;
    EXPECT_EQ(vn::StartProcess(options, &armed), 0);
    EXPECT_EQ(vn::StartProcess(sleeper, &plain), 0);
  });
  starter.join();
  ASSERT_GT(armed, 0);
  ASSERT_GT(plain, 0);
  const auto ended = vn::WaitProcessFor(armed, kBound);
  ASSERT_TRUE(ended.has_value());
  EXPECT_EQ(ended->signal, SIGTERM);
  EXPECT_FALSE(vn::TryWaitProcess(plain).has_value()) << "without the option the child stays";
  EXPECT_EQ(vn::SignalProcess(plain, SIGKILL), 0);
  EXPECT_EQ(vn::WaitProcess(plain).signal, SIGKILL);
}

TEST_F(ProcessTest, WaitingAndSignalling) {
  ProcessOptions options = Program("sleep", {"60"});
  options.group = ProcessGroup::NewGroup;
  pid_t pid = 0;
  ASSERT_EQ(vn::StartProcess(options, &pid), 0);
  EXPECT_FALSE(vn::TryWaitProcess(pid).has_value());
  EXPECT_FALSE(vn::WaitProcessFor(pid, 0ms).has_value());
  EXPECT_FALSE(vn::WaitForProcessEnd(pid, 0ms));

  EXPECT_EQ(vn::SignalProcessGroup(pid, SIGKILL), 0);
  EXPECT_TRUE(vn::WaitForProcessEnd(pid, kBound));
  EXPECT_EQ(::kill(pid, 0), 0) << "ended, but left for its parent to reap";
  const auto ended = vn::WaitProcessFor(pid, kBound);
  ASSERT_TRUE(ended.has_value());
  EXPECT_EQ(ended->signal, SIGKILL);
  EXPECT_TRUE(vn::WaitForProcessEnd(pid, 0ms));
  EXPECT_EQ(vn::SignalProcess(pid, 0), ESRCH);

  // Never "every process" or "this group" by mistake.
  EXPECT_EQ(vn::SignalProcess(0, 0), EINVAL);
  EXPECT_EQ(vn::SignalProcess(-1, 0), EINVAL);
  EXPECT_EQ(vn::SignalProcessGroup(0, 0), EINVAL);
  EXPECT_TRUE(NoChildren());
}

TEST(UniqueFdTest, ClosesWhatItOwnsOnce) {
  auto isOpen = [](int fd) { return ::fcntl(fd, F_GETFD) != -1; };
  vn::PipeEnds ends = vn::MakePipe();
  ASSERT_TRUE(ends.read && ends.write);
  const int read = ends.read.Get();
  const int write = ends.write.Get();
  EXPECT_TRUE(::fcntl(read, F_GETFD) & FD_CLOEXEC);

  vn::UniqueFd moved(std::move(ends.read));
  EXPECT_FALSE(ends.read);
  EXPECT_EQ(moved.Get(), read);
  moved = std::move(ends.write);
  EXPECT_FALSE(isOpen(read)) << "the one held before is closed";
  EXPECT_EQ(moved.Get(), write);

  const int released = moved.Release();
  EXPECT_FALSE(moved);
  EXPECT_TRUE(isOpen(released));
  {
    vn::UniqueFd owner(released);
  }
  EXPECT_FALSE(isOpen(released));
  vn::UniqueFd none;
  EXPECT_EQ(none.Close(), 0);
}

}  // namespace
