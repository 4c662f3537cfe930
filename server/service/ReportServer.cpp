#include "server/service/ReportServer.h"

#include <cstring>
#include <ctime>
#include <exception>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>

#include "platform/core/AsciiText.h"
#include "platform/core/Handles.h"
#include "platform/core/LastError.h"
#include "platform/ipc/Pipes.h"
#include "platform/machine/AccountTable.h"
#include "server/engine/ReportEngine.h"
#include "server/service/CustomDefinitions.h"
#include "server/service/ObjectResolver.h"
#include "server/service/ProgressChannel.h"
#include "server/service/RecordCheck.h"
#include "servercomm/ServerProtocol.h"

namespace vn::vnsrv {
namespace {

using namespace std::chrono_literals;
using serverproto::Kind;
using serverproto::Reader;
using serverproto::Writer;

constexpr std::chrono::seconds kFirstReplyWait{3};
constexpr std::chrono::minutes kSweepInterval{10};

std::uint32_t ReplyKind(Kind kind) { return static_cast<std::uint32_t>(kind) | serverproto::kReplyBit; }

std::vector<char> Code(Kind kind, DWORD code) { return Writer(ReplyKind(kind)).U32(code).Finish(); }

std::vector<char> ReportReply(DWORD code, const ResultId& id, std::string message) {
  if (message.size() > serverproto::kMaxMessageText) message.resize(serverproto::kMaxMessageText);
  return Writer(ReplyKind(Kind::Report)).U32(code).U32(id.number).U32(id.tag).Text(message).Finish();
}

std::string UtcNow() {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M UTC", &utc);
  return text;
}

// Account names for the engine, read once per run from the machine's accounts.
server::EngineOptions EngineOptionsFor(const MachineConfig& config) {
  server::EngineOptions options;
  auto users = std::make_shared<std::map<std::uint32_t, std::string>>();
  auto groups = std::make_shared<std::map<std::uint32_t, std::string>>();
  std::vector<HostUser> hostUsers;
  std::vector<HostGroup> hostGroups;
  if (SystemAccountSource()->Read(&hostUsers, &hostGroups)) {
    for (const auto& user : hostUsers) users->emplace(user.uid, user.name);
    for (const auto& group : hostGroups) groups->emplace(group.gid, group.name);
  }
  options.userName = [users](std::uint32_t uid) {
    const auto it = users->find(uid);
    return it == users->end() ? std::string("undefined") : it->second;
  };
  options.groupName = [groups](std::uint32_t gid) {
    const auto it = groups->find(gid);
    return it == groups->end() ? std::string("undefined") : it->second;
  };
  options.userId = [users](std::string_view name) -> std::optional<std::uint32_t> {
    // OwnerFilter names may carry their domain ("SALES\alice").
    if (const auto slash = name.rfind('\\'); slash != std::string_view::npos) name.remove_prefix(slash + 1);
    for (const auto& [uid, user] : *users) {
      if (EqualsIgnoringCase(user, name)) return uid;
    }
    return std::nullopt;
  };
  options.groupId = [groups](std::string_view name) -> std::optional<std::uint32_t> {
    if (const auto slash = name.rfind('\\'); slash != std::string_view::npos) name.remove_prefix(slash + 1);
    for (const auto& [gid, group] : *groups) {
      if (EqualsIgnoringCase(group, name)) return gid;
    }
    return std::nullopt;
  };
  for (const auto& share : config.shares) {
    if (share.type != STYPE_DISKTREE) continue;
    options.shares.push_back({share.name, share.root, "\\\\" + config.name + "\\" + share.name});
  }
  return options;
}

}  // namespace

ReportServer::ReportServer(MachineConfig config, ServerSettings settings)
    : m_config(std::move(config)),
      m_settings(std::move(settings)),
      m_store(m_settings.resultDirectory, m_settings.keep, m_settings.maxResults),
      m_delivery([this] {
        DeliveryOptions options;
        options.batchTimeout = m_settings.batchTimeout;
        options.stopping = &m_stopping;
        return options;
      }()) {}

ReportServer::~ReportServer() { Stop(); }

LONG ReportServer::Start() {
  if (const LONG error = m_store.Open()) return error;
  m_started = UtcNow();
  const std::string name = std::string("\\\\.\\pipe\\") + serverproto::kPipeName;
  std::lock_guard lock(m_mutex);
  for (unsigned i = 0; i < m_settings.maxClients; ++i) {
    HANDLE instance = CreateNamedPipeA(name.c_str(), PIPE_ACCESS_DUPLEX,
                                       PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, m_settings.maxClients,
                                       serverproto::kMaxReply, serverproto::kMaxRequest, 0, nullptr);
    if (instance == INVALID_HANDLE_VALUE) {
      const LONG error = static_cast<LONG>(GetLastError());
      for (HANDLE made : m_instances) CloseHandle(made);
      m_instances.clear();
      return error;
    }
    m_instances.push_back(instance);
  }
  m_idleSince.assign(m_instances.size(), std::nullopt);
  m_connected.assign(m_instances.size(), false);
  m_clients.assign(m_instances.size(), std::string());
  m_overShare.assign(m_instances.size(), false);
  m_connectedCount = 0;
  for (std::size_t i = 0; i < m_instances.size(); ++i)
    m_threads.emplace_back([this, i, instance = m_instances[i]] { Serve(i, instance); });
  m_threads.emplace_back([this] { Janitor(); });
  return ERROR_SUCCESS;
}

void ReportServer::Stop() {
  std::vector<std::thread> threads;
  {
    std::lock_guard lock(m_mutex);
    m_stopping = true;
    for (HANDLE instance : m_instances) CloseHandle(instance);  // wakes the threads blocked on them
    m_instances.clear();
    threads.swap(m_threads);
    m_changed.notify_all();
    m_idleChanged.notify_all();
  }
  for (auto& thread : threads) thread.join();
  m_park.JoinAll();
}

void ReportServer::Janitor() {
  using Clock = std::chrono::steady_clock;
  std::unique_lock lock(m_mutex);
  Clock::time_point sweep = Clock::now() + kSweepInterval;
  while (!m_stopping) {
    const Clock::time_point now = Clock::now();
    if (now >= sweep) {
      lock.unlock();
      m_store.Sweep();
      lock.lock();
      sweep = Clock::now() + kSweepInterval;
      continue;
    }
    m_idleChanged.wait_until(lock, std::min(sweep, DropIdleClients(now)));
  }
}

std::chrono::steady_clock::time_point ReportServer::DropIdleClients(std::chrono::steady_clock::time_point now) {
  auto next = std::chrono::steady_clock::time_point::max();
  for (std::size_t i = 0; i < m_idleSince.size(); ++i) {
    if (!m_idleSince[i]) continue;
    const auto due = *m_idleSince[i] + m_settings.idleTimeout;
    if (now < due) {
      next = std::min(next, due);
      continue;
    }
    // Its thread's read fails and it takes the next client. The instance's
    // thread clears the mark under m_mutex before it lets its client go, so
    // this never reaches a client that connected after the idle one.
    DisconnectNamedPipe(m_instances[i]);
    m_idleSince[i].reset();
  }
  // Every instance is taken, or the client is past its share: the clients
  // idle for the busy time-out make room.
  const bool full = m_connectedCount >= m_instances.size();
  for (std::size_t i = 0; i < m_idleSince.size(); ++i) {
    if (!m_idleSince[i] || (!full && !m_overShare[i])) continue;
    const auto due = *m_idleSince[i] + m_settings.busyIdleTimeout;
    if (now < due) {
      next = std::min(next, due);
      continue;
    }
    DisconnectNamedPipe(m_instances[i]);
    m_idleSince[i].reset();
  }
  return next;
}

bool ReportServer::SetConnected(std::size_t index, bool connected, const std::string& client) {
  std::lock_guard lock(m_mutex);
  bool within = true;
  if (connected) {
    // Unnamed clients (the pipe could not say) are not counted.
    const auto held = client.empty() ? 0 : std::count(m_clients.begin(), m_clients.end(), client);
    within = static_cast<unsigned>(held) < m_settings.instancesPerClient;
    m_clients[index] = within ? client : std::string();
    m_overShare[index] = !within;
  } else {
    m_clients[index].clear();
    m_overShare[index] = false;
  }
  if (m_connected[index] == connected) return within;
  m_connected[index] = connected;
  connected ? ++m_connectedCount : --m_connectedCount;
  // The janitor looks again when the last free instance is taken.
  if (m_connectedCount == m_connected.size()) m_idleChanged.notify_all();
  return within;
}

std::string ReportServer::ClientOf(HANDLE instance) {
  char computer[MAX_PATH] = {};
  ULONG process = 0;
  if (!GetNamedPipeClientComputerNameA(instance, computer, sizeof computer) ||
      !GetNamedPipeClientProcessId(instance, &process))
    return std::string();
  return std::string(computer) + "#" + std::to_string(process);
}

void ReportServer::SetIdle(std::size_t index, bool idle) {
  std::lock_guard lock(m_mutex);
  if (idle) {
    m_idleSince[index] = std::chrono::steady_clock::now();
    m_idleChanged.notify_all();
  } else {
    m_idleSince[index].reset();
  }
}

void ReportServer::Serve(std::size_t index, HANDLE instance) {
  std::vector<char> message(serverproto::kMaxRequest);
  Client client;
  while (!m_stopping) {
    if (!ConnectNamedPipe(instance, nullptr) && GetLastError() != static_cast<DWORD>(ERROR_PIPE_CONNECTED)) {
      if (GetLastError() == static_cast<DWORD>(ERROR_INVALID_HANDLE)) return;  // closed by Stop
      continue;
    }
    client.readBlock = serverproto::kMaxReadBlock;
    const bool within = SetConnected(index, true, ClientOf(instance));
    for (;;) {
      SetIdle(index, true);
      DWORD read = 0;
      const BOOL ok = ReadFile(instance, message.data(), static_cast<DWORD>(message.size()), &read, nullptr);
      SetIdle(index, false);
      if (!ok && GetLastError() == static_cast<DWORD>(ERROR_MORE_DATA)) {
        // Larger than any request: refused before the rest is read, and the
        // client goes, since what it sends next is the rest of this message.
        RefuseOversized(instance, std::span<const char>(message.data(), read));
        break;
      }
      if (ok && !within) {
        // Past its share: told so at its first request, then let go.
        RefuseWith(instance, std::span<const char>(message.data(), read), ERROR_REQ_NOT_ACCEP);
        break;
      }
      if (!ok || !Answer(instance, std::span<const char>(message.data(), read), client)) break;
    }
    SetConnected(index, false);
    if (m_stopping) return;
    DisconnectNamedPipe(instance);
  }
}

void ReportServer::RefuseOversized(HANDLE instance, std::span<const char> start) {
  RefuseWith(instance, start, ERROR_INVALID_DATA);
}

void ReportServer::RefuseWith(HANDLE instance, std::span<const char> start, LONG code) {
  std::uint32_t kind = 0;
  if (start.size() < serverproto::kHeaderSize || std::memcmp(start.data(), "VNS1", 4) != 0) return;
  std::memcpy(&kind, start.data() + 4, sizeof kind);
  const auto known = static_cast<Kind>(kind);
  if (known < Kind::Hello || known > Kind::Delete) return;  // no protocol of ours: nothing to answer
  const std::vector<char> reply = Code(known, code);
  DWORD written = 0;
  (void)WriteFile(instance, reply.data(), static_cast<DWORD>(reply.size()), &written, nullptr);
}

bool ReportServer::Answer(HANDLE instance, std::span<const char> message, Client& client) {
  std::uint32_t kind = 0;
  std::span<const char> payload;
  if (!serverproto::ParseMessage(message, &kind, &payload)) return false;
  std::vector<char> reply;
  switch (static_cast<Kind>(kind)) {
    case Kind::Hello: {
      Reader reader(payload);
      std::uint32_t version = 0;
      if (!reader.U32(&version) || !reader.AtEnd()) {
        reply = Code(Kind::Hello, ERROR_INVALID_DATA);
      } else {
        // Both speak the lower version; later clients keep to this server's.
        const std::uint32_t spoken = std::min(std::max(version, 1u), serverproto::kVersion);
        client.readBlock = spoken >= 2 ? serverproto::kMaxReadBlockLarge : serverproto::kMaxReadBlock;
        reply = Writer(ReplyKind(Kind::Hello)).U32(ERROR_SUCCESS).U32(spoken).Finish();
      }
      break;
    }
    case Kind::Properties:
      reply = payload.empty() ? Properties() : Code(Kind::Properties, ERROR_INVALID_DATA);
      break;
    case Kind::Report:
      reply = Report(payload);
      break;
    case Kind::Read:
      return StreamRead(instance, payload, client);
    case Kind::Delete:
      reply = Delete(payload);
      break;
    default:
      return false;  // an unknown kind: the client does not speak this protocol
  }
  DWORD written = 0;
  return WriteFile(instance, reply.data(), static_cast<DWORD>(reply.size()), &written, nullptr) != FALSE;
}

std::vector<char> ReportServer::Properties() {
  unsigned running = 0;
  {
    std::lock_guard lock(m_mutex);
    running = m_running;
  }
  Writer reply(ReplyKind(Kind::Properties));
  reply.U32(ERROR_SUCCESS)
      .Text(kServerVersion)
      .Text(kServerBuild)
      .Text("for Linux")
      .Text(m_config.name)
      .Text(m_config.domain)
      .Text(m_started)
      .Text(m_store.Directory().string().substr(0, 259))
      .Text(std::to_string(running) + " of " + std::to_string(m_settings.maxRuns) + " running")
      .Text(std::to_string(m_settings.keep.count()));
  return reply.Finish();
}

std::vector<char> ReportServer::Report(std::span<const char> payload) {
  Reader reader(payload);
  std::uint32_t recordSize = 0;
  std::span<const char> recordBytes;
  if (!reader.U32(&recordSize) || !reader.Bytes(std::min<std::size_t>(recordSize, reader.Rest().size()), &recordBytes))
    return ReportReply(ERROR_INVALID_DATA, {}, "The report request is malformed.");
  KSServerCommunicationReportRec record;
  const RecordCheck check = CheckReportRecord(recordBytes, &record);
  if (check.error) return ReportReply(static_cast<DWORD>(check.error), {}, check.message);
  const std::string_view objects(reader.Rest().data(), reader.Rest().size());
  if (objects.size() > serverproto::kMaxObjectsText || objects.find('\0') != std::string_view::npos)
    return ReportReply(ERROR_INVALID_DATA, {}, "The object list is malformed.");
  if (objects.find_first_not_of("; ") == std::string_view::npos)
    return ReportReply(ERROR_INVALID_DATA, {}, "No object to report on was named.");

  const std::string title(ReportTitle(record.Report));
  ProgressChannel channel(record.PipeName, &m_stopping, &m_park);
  channel.Begin(title + " on " + m_config.name + ": starting", kFirstReplyWait);

  // Wait for a run slot; a cancel or a stop ends the wait.
  {
    std::unique_lock lock(m_mutex);
    bool told = false;
    while (m_running >= m_settings.maxRuns && !channel.Cancelled()) {
      if (!told) channel.Progress(title + " on " + m_config.name + ": waiting for other reports to finish");
      told = true;
      m_changed.wait_for(lock, ProgressChannel::kInterval);
    }
    if (channel.Cancelled()) return ReportReply(ERROR_CANCELLED, {}, "");
    ++m_running;
  }
  struct Slot {
    ReportServer* server;
    ~Slot() {
      std::lock_guard lock(server->m_mutex);
      --server->m_running;
      server->m_changed.notify_all();
    }
  } slot{this};

  ResultId id;
  std::filesystem::path partial;
  if (const LONG error = m_store.Reserve(&id, &partial)) {
    return ReportReply(static_cast<DWORD>(error), {},
                       error == ERROR_DISK_FULL ? "The server holds too many results nobody fetched; try again later."
                                                : "The server cannot store a result.");
  }
  server::ReportResult result;
  try {
    server::EngineOptions options = EngineOptionsFor(m_config);
    if (record.Report == kReportCustom) {
      // The definition is read where the console stored it; a damaged one
      // fails this run with its message, like a bad criterion.
      LoadedDefinition loaded = LoadCustomDefinition(record.CustomReport);
      if (loaded.error) {
        result = {static_cast<DWORD>(loaded.error), loaded.message, {}};
      } else {
        options.customDefinition = std::move(loaded.definition);
      }
    }
    if (result.error == ERROR_SUCCESS) {
      const auto scanObjects = ResolveObjects(m_config, objects, ConsoleIsLocal(record.PipeName));
      result = server::RunReport(record, scanObjects, partial, std::move(options), channel);
    }
  } catch (const std::exception& failure) {
    result = {ERROR_GEN_FAILURE, std::string("The report failed: ") + failure.what(), {}};
  }
  if (result.error == ERROR_SUCCESS && channel.Cancelled()) result.error = ERROR_CANCELLED;
  if (result.error != ERROR_SUCCESS) {
    channel.Finish();
    m_store.Abandon(id);
    return ReportReply(result.error, {}, result.error == ERROR_CANCELLED ? std::string() : result.message);
  }
  if (const LONG error = m_store.Publish(id)) {
    channel.Finish();
    m_store.Abandon(id);
    return ReportReply(static_cast<DWORD>(error), {}, "The result could not be stored.");
  }
  // The result is kept whatever its delivery does; each line it tells goes to
  // the server's log and to the console, waited for like the first text.
  const auto tell = [&](const std::string& text) {
    std::cout << "VNSrv: " << text << std::endl;
    channel.Begin(text, kFirstReplyWait);
  };
  DeliveryOutcome delivered;
  try {
    delivered = m_delivery.Deliver({&record, m_store.ResultPath(id), m_config.name, title}, tell);
  } catch (const std::exception& failure) {
    delivered.problems.push_back("The delivery of " + title + " on " + m_config.name + " failed: " + failure.what());
    tell(delivered.problems.back());
  }
  channel.Finish();
  std::string message;
  for (const auto& problem : delivered.problems) message += (message.empty() ? "" : " ") + problem;
  return ReportReply(ERROR_SUCCESS, id, message);
}

bool ReportServer::StreamRead(HANDLE instance, std::span<const char> payload, Client& client) {
  const auto send = [&](const char* message, std::size_t size) {
    DWORD written = 0;
    return WriteFile(instance, message, static_cast<DWORD>(size), &written, nullptr) != FALSE;
  };
  const auto sendCode = [&](LONG error) {
    const std::vector<char>& message = Code(Kind::Read, static_cast<DWORD>(error));
    return send(message.data(), message.size());
  };
  Reader reader(payload);
  ResultId id;
  std::uint64_t offset = 0;
  std::uint32_t window = 0;
  if (!reader.U32(&id.number) || !reader.U32(&id.tag) || !reader.U64(&offset) || !reader.U32(&window) ||
      !reader.AtEnd() || window == 0) {
    return sendCode(ERROR_INVALID_DATA);
  }
  window = std::min(window, serverproto::kMaxReadWindow);
  std::ifstream in;
  std::uint64_t size = 0;
  if (const LONG error = m_store.OpenResult(id, &in, &size)) return sendCode(error);
  // Each message is read from the file into place behind its header.
  std::vector<char>& buffer = client.replies;
  buffer.resize(serverproto::kReadReplyHeader + serverproto::kMaxReadBlockLarge);
  char* const data = buffer.data() + serverproto::kReadReplyHeader;
  for (;;) {
    const std::uint32_t block = std::min(window, client.readBlock);
    const auto count = static_cast<std::uint32_t>(offset >= size ? 0 : std::min<std::uint64_t>(block, size - offset));
    if (count > 0) {
      in.seekg(static_cast<std::streamoff>(offset));
      in.read(data, count);
      if (static_cast<std::uint64_t>(in.gcount()) != count) return sendCode(ERROR_READ_FAULT);
    }
    const bool end = offset + count >= size;
    const bool more = !end && window > count;
    const std::uint32_t flags = (end ? serverproto::kReadEnd : 0) | (more ? serverproto::kReadMore : 0);
    serverproto::PutReadReplyHeader(buffer.data(), flags, count);
    if (!send(buffer.data(), serverproto::kReadReplyHeader + count)) {
      // A host whose socket records cannot hold the larger message refuses
      // it whole; this client then gets the smaller ones every host carries.
      if (GetLastError() == static_cast<DWORD>(ERROR_INVALID_PARAMETER) &&
          client.readBlock > serverproto::kMaxReadBlock) {
        client.readBlock = serverproto::kMaxReadBlock;
        continue;
      }
      return false;
    }
    window -= count;
    offset += count;
    if (!more) return true;
  }
}

std::vector<char> ReportServer::Delete(std::span<const char> payload) {
  Reader reader(payload);
  ResultId id;
  if (!reader.U32(&id.number) || !reader.U32(&id.tag) || !reader.AtEnd()) return Code(Kind::Delete, ERROR_INVALID_DATA);
  return Code(Kind::Delete, static_cast<DWORD>(m_store.Remove(id)));
}

}  // namespace vn::vnsrv
