#pragma once
// The reporting server of one machine: serves KSCli clients on the named pipe
// "\\.\pipe\RODuduro" (reached from other machines through the machine
// service) and runs their reports with the scanning engine.
//
// Threads: one per pipe instance (settings.maxClients of them), each serving
// one client at a time, request by request (docs/server.md); a report request
// runs on its client's thread, at most settings.maxRuns at once (later ones
// wait, and may be cancelled while they wait); each run has its progress
// channel's thread; a janitor thread sweeps old results every ten minutes and
// drops clients that stayed idle between requests for settings.idleTimeout
// (settings.busyIdleTimeout while every instance has a client). A request
// larger than the server reads is answered with ERROR_INVALID_DATA and its
// client dropped, without the rest of it being read. A client past its share
// of instances (settings.instancesPerClient) has its first request answered
// with ERROR_REQ_NOT_ACCEP and is dropped.
// Start and Stop from the owning thread. Stop cancels the runs in progress
// (their partial results are removed) and returns when every thread has ended.
//
// A finished result is published first and then delivered as its record asks
// (ResultDelivery: converted formats, mail, batch command) before the run
// answers; what failed there is told on the progress channel and in the
// reply's message, and the result is answered all the same.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "platform/core/Win32Types.h"
#include "platform/machine/MachineConfig.h"
#include "server/service/ProgressChannel.h"
#include "server/service/ResultDelivery.h"
#include "server/service/ResultStore.h"

namespace vn::vnsrv {

struct ServerSettings {
  std::filesystem::path resultDirectory;  // where results are kept
  unsigned maxClients = 16;               // pipe instances: clients served at once
  unsigned maxRuns = 2;                   // reports run at once
  std::chrono::hours keep{24};            // unfetched results are removed after this
  std::size_t maxResults = 1000;          // results kept at most (fetched ones are deleted)
  // A client that sends no request for this long is dropped, so that its
  // pipe instance serves the next one.
  std::chrono::seconds idleTimeout{300};
  // While every pipe instance has a client, one that has sent no request for
  // this long is dropped as well, so that clients that connect and idle
  // cannot keep a console out (KSCli waits 20 s for a busy pipe).
  std::chrono::seconds busyIdleTimeout{5};
  // A report's batch command is stopped after this long.
  std::chrono::seconds batchTimeout{300};
  // Pipe instances one client (a process on a machine; a remote caller as
  // its machine service names it) holds at once. A connection past that is
  // answered ERROR_REQ_NOT_ACCEP at its first request and dropped, so that
  // one client cannot take every instance while others are served.
  unsigned instancesPerClient = 4;
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
  [[nodiscard]] LONG Start();
  void Stop();

 private:
  // What a serving thread keeps for its client between requests.
  struct Client {
    std::uint32_t readBlock = 0;  // the most data one read reply carries (by the Hello version)
    std::vector<char> replies;    // read replies are built here
  };
  void Serve(std::size_t index, HANDLE instance);
  // Answers a request larger than the server reads (its first bytes) with
  // ERROR_INVALID_DATA, when its header names a request of the protocol.
  void RefuseOversized(HANDLE instance, std::span<const char> start);
  // Answers the request that starts with `start` with `code`, when its
  // header names a request of the protocol.
  static void RefuseWith(HANDLE instance, std::span<const char> start, LONG code);
  // Answers one request; false when the client is to be dropped.
  [[nodiscard]] bool Answer(HANDLE instance, std::span<const char> message, Client& client);
  std::vector<char> Properties();
  std::vector<char> Report(std::span<const char> payload);
  // Answers a read request with its run of messages; false when writing failed.
  [[nodiscard]] bool StreamRead(HANDLE instance, std::span<const char> payload, Client& client);
  std::vector<char> Delete(std::span<const char> payload);
  void Janitor();
  // Marks instance `index` as waiting for its client's next request (or not).
  void SetIdle(std::size_t index, bool idle);
  // Marks instance `index` as having a client (or not). On connecting, true
  // when the client is within its share of instances.
  bool SetConnected(std::size_t index, bool connected, const std::string& client = std::string());
  // Who the client of a connected instance is: its computer and process.
  static std::string ClientOf(HANDLE instance);
  // Drops the clients idle for longer than the time-out, and those idle for
  // longer than the busy time-out while every instance has a client or
  // while they are past their client's share; the
  // earliest time another one may be due. m_mutex held.
  std::chrono::steady_clock::time_point DropIdleClients(std::chrono::steady_clock::time_point now);

  MachineConfig m_config;
  ServerSettings m_settings;
  ResultStore m_store;
  std::string m_started;
  std::atomic<bool> m_stopping{false};
  ResultDelivery m_delivery;  // formats, mail and batch command of a finished result

  std::mutex m_mutex;                 // guards what follows
  std::condition_variable m_changed;  // a run slot freed, or stopping
  unsigned m_running = 0;
  std::condition_variable m_idleChanged;  // a client became idle, or stopping
  std::vector<HANDLE> m_instances;
  // Per instance: since when its client has been waiting to send a request
  // (nullopt while a request is answered, or no client is connected).
  std::vector<std::optional<std::chrono::steady_clock::time_point>> m_idleSince;
  std::vector<bool> m_connected;  // per instance: a client is connected
  std::vector<std::string> m_clients;  // per instance: who its client is, while connected
  std::vector<bool> m_overShare;       // per instance: its client is past its share
  std::size_t m_connectedCount = 0;
  std::vector<std::thread> m_threads;
  ThreadPark m_park;  // progress threads still opening a pipe when their run ended
};

}  // namespace vn::vnsrv
