// VNSrv: the reporting server, run by its machine's service control manager
// as the service "RODuduro" (VORNAL_HOME names the machine). It serves until
// SIGTERM or SIGINT, then cancels the runs in progress and ends.
//
//   VNSrv [--home DIR] [--runs N] [--clients N] [--keep-hours N] [--idle-seconds N]
//         [--busy-idle-seconds N] [--instances-per-client N] [--batch-seconds N] [--results DIR]
#include <pthread.h>
#include <signal.h>

#include <charconv>
#include <cstdio>
#include <iostream>
#include <string>
#include <string_view>

#include "platform/core/Messages.h"
#include "platform/machine/Machine.h"
#include "platform/machine/MachineConfig.h"
#include "server/service/ReportServer.h"

namespace {

bool ParseCount(std::string_view text, unsigned low, unsigned high, unsigned* value) {
  unsigned parsed = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), parsed);
  if (error != std::errc() || end != text.data() + text.size() || parsed < low || parsed > high) return false;
  *value = parsed;
  return true;
}

int Usage(const std::string& problem) {
  std::cerr << "VNSrv: " << problem << "\n"
            << "usage: VNSrv [--home DIR] [--runs 1-64] [--clients 1-255] [--keep-hours 1-8760] [--idle-seconds 1-86400]"
               " [--busy-idle-seconds 1-86400] [--instances-per-client 1-255] [--batch-seconds 1-86400]"
               " [--results DIR]\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  vn::vnsrv::ServerSettings settings;
  std::filesystem::path results;
  for (int i = 1; i < argc; ++i) {
    const std::string_view option = argv[i];
    if (i + 1 >= argc) return Usage("missing value after " + std::string(option));
    const std::string_view value = argv[++i];
    unsigned number = 0;
    if (option == "--home") {
      vn::SetMachineHome(std::filesystem::path(value));
    } else if (option == "--results") {
      results = std::filesystem::path(value);
    } else if (option == "--runs" && ParseCount(value, 1, 64, &number)) {
      settings.maxRuns = number;
    } else if (option == "--clients" && ParseCount(value, 1, 255, &number)) {
      settings.maxClients = number;
    } else if (option == "--keep-hours" && ParseCount(value, 1, 8760, &number)) {
      settings.keep = std::chrono::hours(number);
    } else if (option == "--idle-seconds" && ParseCount(value, 1, 86400, &number)) {
      settings.idleTimeout = std::chrono::seconds(number);
    } else if (option == "--busy-idle-seconds" && ParseCount(value, 1, 86400, &number)) {
      settings.busyIdleTimeout = std::chrono::seconds(number);
    } else if (option == "--instances-per-client" && ParseCount(value, 1, 255, &number)) {
      settings.instancesPerClient = number;
    } else if (option == "--batch-seconds" && ParseCount(value, 1, 86400, &number)) {
      settings.batchTimeout = std::chrono::seconds(number);
    } else {
      return Usage("bad option " + std::string(option) + " " + std::string(value));
    }
  }

  std::string detail;
  if (vn::CheckMachineHome(&detail) != ERROR_SUCCESS) {
    std::cerr << "VNSrv: cannot use the machine home: " << detail << "\n";
    return 1;
  }
  vn::MachineConfig config;
  if (!vn::LoadMachineConfig(vn::MachineHome(), &config, &detail)) {
    std::cerr << "VNSrv: " << detail << "\n";
    return 1;
  }
  settings.resultDirectory = results.empty() ? vn::MachineHome() / "vnsrv" / "results" : results;

  // The signals are taken by sigwait below; every thread started from here on
  // inherits the mask.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  vn::vnsrv::ReportServer server(config, settings);
  if (const LONG error = server.Start()) {
    char text[256] = {};
    if (FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, static_cast<DWORD>(error),
                       0, text, sizeof text, nullptr) == 0)
      std::snprintf(text, sizeof text, "Error %ld.\r\n", static_cast<long>(error));
    std::cerr << "VNSrv: cannot serve on " << config.name << ": " << text;
    return 1;
  }
  std::cout << "VNSrv " << vn::vnsrv::kServerVersion << " (build " << vn::vnsrv::kServerBuild << ") serving "
            << config.name << ", results in " << settings.resultDirectory.string() << std::endl;
  int signal = 0;
  sigwait(&stopSignals, &signal);
  std::cout << "VNSrv: stopping" << std::endl;
  server.Stop();
  return 0;
}
