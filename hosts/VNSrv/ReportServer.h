#pragma once
// The reporting server of one machine: serves KSCli clients on the named pipe
// "\\.\pipe\RODuduro" (reached from other machines through the machine
// service) and runs their reports with the scanning engine.
//
// Threads: one per pipe instance (settings.maxClients of them), each serving
// one client at a time, request by request (docs/server.md); a report request
// runs on its client's thread, at most settings.maxRuns at once (later ones
// wait, and may be cancelled while they wait); each run has its progress
// channel's thread; a janitor thread sweeps old results every ten minutes.
// Start and Stop from the owning thread. Stop cancels the runs in progress
// (their partial results are removed) and returns when every thread has ended.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "hosts/VNSrv/ProgressChannel.h"
#include "hosts/VNSrv/ResultStore.h"
#include "platform/core/Win32Types.h"
#include "platform/machine/MachineConfig.h"

namespace vn::vnsrv {

struct ServerSettings {
  std::filesystem::path resultDirectory;  // where results are kept
  unsigned maxClients = 16;               // pipe instances: clients served at once
  unsigned maxRuns = 2;                   // reports run at once
  std::chrono::hours keep{24};            // unfetched results are removed after this
  std::size_t maxResults = 1000;          // results kept at most (fetched ones are deleted)
};

// The server's identity in GetProperties.
inline constexpr const char* kServerVersion = "4.0";
inline constexpr const char* kServerBuild = "434";

class ReportServer {
 public:
  ReportServer(MachineConfig config, ServerSettings settings);
  ~ReportServer();
  ReportServer(const ReportServer&) = delete;
  ReportServer& operator=(const ReportServer&) = delete;

  // Opens the result store and creates the pipe instances and threads.
  // ERROR_SUCCESS, or the code of what failed (nothing is left running).
  LONG Start();
  void Stop();

 private:
  void Serve(HANDLE instance);
  // Answers one request; false when the client is to be dropped.
  bool Answer(HANDLE instance, std::span<const char> message);
  std::vector<char> Properties();
  std::vector<char> Report(std::span<const char> payload);
  // Answers a read request with its run of messages; false when writing failed.
  bool StreamRead(HANDLE instance, std::span<const char> payload);
  std::vector<char> Delete(std::span<const char> payload);
  void Janitor();

  MachineConfig m_config;
  ServerSettings m_settings;
  ResultStore m_store;
  std::string m_started;
  std::atomic<bool> m_stopping{false};

  std::mutex m_mutex;                 // guards what follows
  std::condition_variable m_changed;  // a run slot freed, or stopping
  unsigned m_running = 0;
  std::vector<HANDLE> m_instances;
  std::vector<std::thread> m_threads;
  ThreadPark m_park;  // progress threads still opening a pipe when their run ended
};

}  // namespace vn::vnsrv
