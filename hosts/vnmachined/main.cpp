// vnmachined: the machine service of one Vornal machine. It serves the
// machine's registry, server information, browse list, shares and files to
// the other machines (proto/machine.proto, docs/protocol.md), and runs the
// machine's services (machined/ServiceManager.h): the automatic ones start
// once it listens, and all of them are stopped before it exits (and killed
// with it if it is killed). Its job scheduler (machined/JobScheduler.h) runs
// the machine's scheduled jobs. machined/MachineDaemon.h is the service
// itself; this is its command line.
//
//   vnmachined [--home DIR] [--background] [--max-files N]
//   vnmachined [--home DIR] --create-domain
//   vnmachined [--home DIR] --issue MACHINE --bundle FILE [--domain DOMAIN]
//   vnmachined [--home DIR] --join FILE
//
// The last three are an administrator's steps, done once and not a service:
// --create-domain makes this machine the certificate authority of its domain
// (and gives it its identity); --issue, on that machine, writes a bundle (an
// identity for MACHINE in this machine's domain or DOMAIN, key included) into
// the new file FILE; --join, on MACHINE, installs the bundle as its identity.
// Each prints what it did and exits 0, or the reason and exits 1
// (docs/protocol.md, "Joining a machine").
//
// --max-files sets the service's descriptor limit (by default it raises it to
// the hard limit); the connection limits follow from it.
//
// In the foreground (the default, used by tests) it prints one line when it is
// ready, "vnmachined: NAME listening on ADDR:PORT", and runs until SIGTERM or
// SIGINT. --background detaches it from the terminal and the session that
// started it (the console starts the local service this way, so it outlives
// the console): the starting process waits until the service is ready, prints
// the same line and exits 0, or exits 1 with the reason; the service writes
// to <home>/vnmachined.log from then on.
//
// Going to the background starts this program again (vn::StartProcess) in a
// session of its own, with stdin from /dev/null, stdout and stderr appended
// to <home>/vnmachined.log, the working directory "/", and the write end of a
// pipe as descriptor 3, named by the internal option "--ready-fd 3": the
// service writes its first line (ready, or why it could not start) there and
// closes it, and the starting process passes that line on.
//
// <home>/vnmachined.pid holds the pid of the running service under an
// exclusive lock, so a second service for the same machine refuses to start.
// The service also ends by itself when its pid file disappears (its home was
// removed). Exit codes: 0 after a clean shutdown, 1 when the service cannot start, 2 for
// a bad command line or configuration.

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include "machined/MachineDaemon.h"
#include "platform/core/AsciiText.h"
#include "platform/core/Process.h"
#include "platform/core/UniqueFd.h"
#include "platform/machine/DomainIdentity.h"
#include "platform/machine/Machine.h"
#include "platform/transport/ConnectionFront.h"

namespace {

constexpr int kReadyFd = 3;   // the ready pipe's number in the background service

vn::UniqueFd g_ready;   // background service: the pipe to the starting process

// Tells the starting process (or the terminal) how the start went.
void Report(const std::string& line, bool ok) {
  std::FILE* out = ok ? stdout : stderr;
  std::fprintf(out, "%s\n", line.c_str());
  std::fflush(out);
  if (g_ready) {
    const std::string message = line + "\n";
    [[maybe_unused]] auto written = ::write(g_ready.Get(), message.data(), message.size());
    g_ready.Reset();
  }
}

// The starting process of --background: starts the service in a session of
// its own, passes its first line on and exits with its outcome.
int StartInBackground(const std::filesystem::path& home, const std::string& maxFiles) {
  int error = 0;
  vn::PipeEnds ready = vn::MakePipe(&error);
  if (!ready.read) {
    std::fprintf(stderr, "vnmachined: pipe: %s\n", std::strerror(error));
    return 1;
  }
  std::error_code ec;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
  vn::ProcessOptions options;
  options.program = ec ? std::string("/proc/self/exe") : self.string();
  options.arguments = {"--home", home.string(), "--ready-fd", std::to_string(kReadyFd)};
  if (!maxFiles.empty()) options.arguments.insert(options.arguments.end(), {"--max-files", maxFiles});
  options.descriptors = {{ready.write.Get(), kReadyFd}};
  options.group = vn::ProcessGroup::NewSession;
  options.workingDirectory = "/";
  options.input = vn::ChildStream::Null();
  options.output = vn::ChildStream::AppendTo(home / "vnmachined.log");
  options.error = vn::ChildStream::SameAsOutput();
  pid_t pid = 0;
  std::string detail;
  if (vn::StartProcess(options, &pid, &detail) != 0) {
    std::fprintf(stderr, "vnmachined: cannot start the service: %s\n", detail.c_str());
    return 1;
  }
  ready.write.Reset();
  std::string text = vn::ReadToEnd(ready.read);
  // A service that could not start has ended (or is ending): reap it, so it
  // is no zombie for as long as this process lives. A running one is left to
  // run; it is adopted when this process exits.
  const bool isReady = text.find(" listening on ") != std::string::npos;
  if (!isReady) vn::WaitProcess(pid);
  if (text.empty()) text = "vnmachined: the service ended before it was ready\n";
  std::fputs(text.c_str(), isReady ? stdout : stderr);
  std::fflush(nullptr);
  return isReady ? 0 : 1;
}

int Usage() {
  std::fprintf(stderr,
               "usage: vnmachined [--home DIR] [--background] [--max-files N]\n"
               "       vnmachined [--home DIR] --create-domain\n"
               "       vnmachined [--home DIR] --issue MACHINE --bundle FILE [--domain DOMAIN]\n"
               "       vnmachined [--home DIR] --join FILE\n");
  return 2;
}

// The administrator's steps on the identities of the machine's domain.
int Administer(const vn::MachineConfig& config, bool createDomain, const std::string& issue,
               const std::string& bundle, const std::string& domain, const std::string& join) {
  std::string error;
  if (createDomain) {
    if (!vn::CreateDomainAuthority(config.home, config.domain, config.name, &error)) {
      std::fprintf(stderr, "vnmachined: %s\n", error.c_str());
      return 1;
    }
    std::printf("vnmachined: %s is now the certificate authority of %s (%s)\n", config.name.c_str(),
                config.domain.c_str(), vn::AuthorityFile(config.home, config.domain).c_str());
    return 0;
  }
  if (!issue.empty()) {
    const std::string inDomain = domain.empty() ? config.domain : domain;
    if (!vn::IssueMachineBundle(config.home, inDomain, issue, bundle, &error)) {
      std::fprintf(stderr, "vnmachined: %s\n", error.c_str());
      return 1;
    }
    std::printf("vnmachined: wrote the identity of %s in %s to %s; it holds a private key: move it to that "
                "machine privately, install it there with --join, then delete it\n",
                issue.c_str(), vn::ToUpperAscii(inDomain).c_str(), bundle.c_str());
    return 0;
  }
  std::string joined;
  if (!vn::InstallMachineBundle(config.home, config.name, join, &joined, &error)) {
    std::fprintf(stderr, "vnmachined: %s\n", error.c_str());
    return 1;
  }
  std::printf("vnmachined: %s now holds its identity in %s; restart its service to use it\n", config.name.c_str(),
              joined.c_str());
  return 0;
}

// A positive decimal number, or 0.
rlim_t ParseCount(const std::string& text) {
  rlim_t value = 0;
  const auto [end, parsed] = std::from_chars(text.data(), text.data() + text.size(), value);
  return parsed == std::errc() && end == text.data() + text.size() ? value : 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::filesystem::path home;
  bool background = false;
  int readyFd = -1;
  bool createDomain = false;
  std::string issue, bundle, domain, join, maxFiles;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--home" && i + 1 < argc) {
      home = argv[++i];
    } else if (arg.starts_with("--home=")) {
      home = arg.substr(7);
    } else if (arg == "--background" || arg == "--daemon") {
      background = true;
    } else if (arg == "--create-domain") {
      createDomain = true;
    } else if (arg == "--issue" && i + 1 < argc) {
      issue = argv[++i];
    } else if (arg == "--bundle" && i + 1 < argc) {
      bundle = argv[++i];
    } else if (arg == "--domain" && i + 1 < argc) {
      domain = argv[++i];
    } else if (arg == "--join" && i + 1 < argc) {
      join = argv[++i];
    } else if (arg == "--max-files" && i + 1 < argc) {
      maxFiles = argv[++i];
      if (ParseCount(maxFiles) < 16) return Usage();
    } else if (arg == "--ready-fd" && i + 1 < argc) {
      const std::string value = argv[++i];
      const auto [end, parsed] = std::from_chars(value.data(), value.data() + value.size(), readyFd);
      if (parsed != std::errc() || end != value.data() + value.size() || readyFd < 3 ||
          ::fcntl(readyFd, F_SETFD, FD_CLOEXEC) != 0)
        return Usage();
    } else {
      return Usage();
    }
  }
  const int steps = int(createDomain) + int(!issue.empty()) + int(!join.empty());
  if (steps > 1 || (!issue.empty()) != (!bundle.empty()) || (!domain.empty() && issue.empty()) ||
      (steps == 1 && (background || !maxFiles.empty())))
    return Usage();
  if (!home.empty()) {
    std::error_code ec;
    home = std::filesystem::absolute(home, ec);
    vn::SetMachineHome(home);
  }
  g_ready.Reset(readyFd);
  if (std::string error; vn::CheckMachineHome(&error) != ERROR_SUCCESS) {
    Report("vnmachined: " + error, false);
    return 1;
  }
  home = vn::MachineHome();

  vn::MachineDaemon daemon(home);
  if (std::string error; !daemon.Configure(&error)) {
    Report("vnmachined: " + error, false);
    return 2;
  }
  // Skipped lines of the hosts file: on the terminal that starts the service,
  // and (the background service runs this too) in its log.
  for (const auto& warning : daemon.HostsWarnings()) std::fprintf(stderr, "vnmachined: warning: %s\n", warning.c_str());
  std::fflush(stderr);
  if (steps == 1) return Administer(daemon.Config(), createDomain, issue, bundle, domain, join);
  if (background) return StartInBackground(home, maxFiles);

  // Every connection costs descriptors: take all the system allows (or the
  // number asked for), and let the connection limits follow.
  vn::SetDescriptorLimit(ParseCount(maxFiles));

  // Writes into connections and pipes whose reader has gone fail with EPIPE
  // instead of ending the service. (What the service starts gets the default
  // back: vn::StartProcess resets every disposition.)
  ::signal(SIGPIPE, SIG_IGN);
  // The signals that stop the service go to one thread that waits for them;
  // every other thread (gRPC's included) inherits the blocked mask.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGINT);
  ::pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  if (std::string error; !daemon.Start(&error)) {
    Report("vnmachined: " + error, false);
    return 1;
  }
  std::thread signals([&] {
    int signal = 0;
    ::sigwait(&stopSignals, &signal);
    daemon.Stop();
  });
  Report("vnmachined: " + daemon.Config().name + " listening on " + daemon.Address(), true);
  daemon.Wait();
  // Ends the signal thread when the service stopped for another reason (its
  // home gone); when a signal ended it, this one stays pending, blocked, and
  // goes with the process.
  ::kill(::getpid(), SIGTERM);
  signals.join();
  return 0;
}
