#pragma once
// Starting, waiting for and signalling child processes: the one way Vornal
// starts a program (the machine service, its services and scheduled jobs,
// the console's start of the local machine service, the test harness).
//
// What the child gets, whatever the caller's own state:
// - every signal disposition at its default and an empty signal mask (the
//   machine service ignores SIGPIPE and blocks its stop signals; none of that
//   reaches what it starts);
// - its standard streams as asked (the caller's own by default), the
//   descriptors listed in `descriptors` at the numbers asked, and no other
//   descriptor: everything else above 2 is closed at the exec;
// - the environment, working directory, process group or session and
//   parent-death signal of its options.
// Everything the child needs is prepared before the fork, and the child does
// only async-signal-safe work until the exec, so any thread of a
// multithreaded process may start processes. A failure before or at the exec
// (no such program, a working directory that is not there, a log that cannot
// be opened...) is reported to the caller by StartProcess itself, through a
// close-on-exec pipe; the failed child is reaped.
//
// Parent-death signal: Linux sends it when the *thread* that started the
// child ends, not when the process does. Start such children from a thread
// that lives as long as the children should (a supervisor thread, the main
// thread), never from a pool thread that may come and go.
//
// Waiting: a pid is the caller's to reap exactly once (WaitProcess,
// TryWaitProcess or WaitProcessFor returning an exit). Nothing here reaps
// children behind the caller's back.
//
// Threads: every call from any thread.

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/core/Win32Types.h"

namespace vn {

// How a child ended: its exit status, or the signal that ended it.
struct ProcessExit {
  int code = 0;     // 0..255 when it exited
  int signal = 0;   // the signal that ended it; 0 when it exited
  bool Exited() const { return signal == 0; }
  bool Succeeded() const { return signal == 0 && code == 0; }
  // From a waitpid status.
  static ProcessExit FromWaitStatus(int status);
};

// Where one standard stream of the child comes from or goes to.
struct ChildStream {
  enum class Kind {
    Inherit,      // the caller's own
    Null,         // /dev/null
    Descriptor,   // `fd`, a descriptor of the caller (it stays the caller's)
    AppendFile,   // `file`, opened for appending and created (0644) when missing
    SameAsOutput  // stderr only: the same open file as stdout
  };
  Kind kind = Kind::Inherit;
  int fd = -1;
  std::filesystem::path file;

  static ChildStream Inherit() { return {}; }
  static ChildStream Null() { return {Kind::Null, -1, {}}; }
  static ChildStream Descriptor(int fd) { return {Kind::Descriptor, fd, {}}; }
  static ChildStream AppendTo(std::filesystem::path file) { return {Kind::AppendFile, -1, std::move(file)}; }
  static ChildStream SameAsOutput() { return {Kind::SameAsOutput, -1, {}}; }
};

enum class ProcessGroup {
  Inherit,     // the caller's process group and session
  NewGroup,    // a process group of its own (its pid), so the group can be signalled
  NewSession   // a session of its own: no controlling terminal, outlives the caller's session
};

struct ProcessOptions {
  // A path (with a '/'), or a name searched on the PATH of the child's
  // environment (the caller's PATH when that has none, else /usr/bin:/bin).
  std::string program;
  // argv[1...].
  std::vector<std::string> arguments;
  // argv[0]; empty means `program`.
  std::string argv0;
  // The child's environment: the caller's, changed by `environment`; or, with
  // inheritEnvironment false, `environment` alone. An entry "NAME=value" sets
  // NAME (replacing the caller's), an entry "NAME" without '=' removes it.
  bool inheritEnvironment = true;
  std::vector<std::string> environment;
  // Empty: the caller's working directory.
  std::filesystem::path workingDirectory;
  ChildStream input;
  ChildStream output;
  ChildStream error;
  // Descriptors handed on: {the caller's descriptor, its number in the child
  // (3 or more)}. The caller's descriptor stays the caller's.
  std::vector<std::pair<int, int>> descriptors;
  ProcessGroup group = ProcessGroup::Inherit;
  // The signal the child gets when the thread that started it ends (see
  // above); 0 for none. A child whose parent is already gone when it would
  // set this exits at once with 127.
  int parentDeathSignal = 0;
};

// Starts a process. 0 with *pid set once the program runs (its exec
// succeeded), or the errno of what failed with *detail saying what, in the
// words of a message ("exec /usr/bin/x: No such file or directory",
// "open /home/log: Permission denied"). EINVAL for options that cannot work
// (no program, a descriptor number below 3, stdout as its own source).
[[nodiscard]] int StartProcess(const ProcessOptions& options, pid_t* pid, std::string* detail = nullptr);

// The Win32 code for an errno of StartProcess (ERROR_FILE_NOT_FOUND,
// ERROR_PATH_NOT_FOUND, ERROR_ACCESS_DENIED, ERROR_BAD_EXE_FORMAT...).
LONG Win32FromStartError(int error);

// Waits for the child `pid` to end and reaps it. A pid that is not (or no
// longer) a child of the caller counts as having exited with 0.
ProcessExit WaitProcess(pid_t pid);
// The exit when the child has ended (it is reaped then), nullopt while it runs.
std::optional<ProcessExit> TryWaitProcess(pid_t pid);
// Waits at most `timeout` for the child to end: its exit (reaped), or nullopt
// when it still runs.
std::optional<ProcessExit> WaitProcessFor(pid_t pid, std::chrono::milliseconds timeout);

// Waits at most `timeout` for any process `pid` (a child or not) to end,
// without reaping it: true once it has ended (a zombie has ended) or when
// there is no such process.
[[nodiscard]] bool WaitForProcessEnd(pid_t pid, std::chrono::milliseconds timeout);

// Sends `signal` to the process, or to every process of the group `group`:
// 0 or the errno of kill (ESRCH when there is none).
int SignalProcess(pid_t pid, int signal);
int SignalProcessGroup(pid_t group, int signal);

}  // namespace vn
