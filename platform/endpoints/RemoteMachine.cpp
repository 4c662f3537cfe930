#include "platform/endpoints/RemoteMachine.h"

#include <grpcpp/alarm.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <mutex>
#include <string_view>
#include <thread>
#include <utility>

#include "platform/endpoints/RemoteConnection.h"
#include "platform/machine/AccountTable.h"

namespace vn {

LONG MapStatus(const grpc::Status& status, bool midStream) {
  switch (status.error_code()) {
    case grpc::StatusCode::OK:
      return ERROR_SUCCESS;
    case grpc::StatusCode::UNAUTHENTICATED:
    case grpc::StatusCode::PERMISSION_DENIED:
      return ERROR_ACCESS_DENIED;
    case grpc::StatusCode::UNAVAILABLE:
      // Reached, but the TLS handshake failed: one side could not prove
      // itself (a certificate of another domain or machine).
      if (IsHandshakeFailure(status)) return ERROR_ACCESS_DENIED;
      return midStream ? ERROR_NETNAME_DELETED : ERROR_BAD_NETPATH;
    case grpc::StatusCode::CANCELLED:
    case grpc::StatusCode::INTERNAL:
    case grpc::StatusCode::UNKNOWN:
      return midStream ? ERROR_NETNAME_DELETED : ERROR_UNEXP_NET_ERR;
    default:
      return ERROR_UNEXP_NET_ERR;
  }
}

bool IsHandshakeFailure(const grpc::Status& status) {
  // gRPC reports a failed TLS handshake only in the status message: the
  // certificate's chain ("Ssl handshake failed: ... certificate verify
  // failed") or its name ("Peer name SRV1 is not in peer certificate").
  if (status.error_code() != grpc::StatusCode::UNAVAILABLE) return false;
  const std::string& message = status.error_message();
  return message.find("andshake failed") != std::string::npos ||
         message.find("is not in peer certificate") != std::string::npos;
}

const std::string& UntrustedAuthority() {
  static const std::string* certificate = [] {
    DomainAuthority authority;
    std::string error;
    // Without one the list of roots would be empty, which gRPC takes as "the
    // system's authorities". A text that is no certificate leaves the channel
    // unable to secure any connection instead: nobody is trusted all the same.
    if (!CreateAuthority("NOBODY", &authority, &error))
      return new std::string("-----BEGIN CERTIFICATE-----\n-----END CERTIFICATE-----\n");
    return new std::string(authority.certificatePem);  // lives as long as the process
  }();
  return *certificate;
}

bool IsTransportFailure(const grpc::Status& status) {
  switch (status.error_code()) {
    case grpc::StatusCode::UNAVAILABLE:
    case grpc::StatusCode::DEADLINE_EXCEEDED:
    case grpc::StatusCode::CANCELLED:
    case grpc::StatusCode::INTERNAL:
    case grpc::StatusCode::UNKNOWN:
      return true;
    default:
      return false;
  }
}

bool ConnectionWasClosed(const grpc::Status& status) {
  // Every other failure to reach the machine says so ("failed to connect to
  // all addresses"), or is a handshake refused; what is left of UNAVAILABLE
  // is a connection that ended ("Socket closed", "Connection reset by peer").
  return status.error_code() == grpc::StatusCode::UNAVAILABLE &&
         status.error_message().find("failed to connect") == std::string::npos && !IsHandshakeFailure(status);
}

bool SafeToRepeat(std::string_view method) {
  static constexpr std::string_view kRepeatable[] = {
      "CreateKey",     "EnumKey",         "EnumServers",  "EnumShares",         "EnumValue",
      "GetAccounts",   "GetDCName",       "GetDiskSpace", "GetDrives",          "GetFileInfo",
      "GetServerInfo", "GetVolumeInfo",   "OpenKey",      "OpenSCManager",      "OpenService",
      "QueryInfo",     "QueryServiceStatus", "QueryValue", "ScheduleJobEnum",   "ScheduleJobGetInfo",
      "SetValue",      "WaitPipe"};
  return std::find(std::begin(kRepeatable), std::end(kRepeatable), method) != std::end(kRepeatable);
}

namespace {

// One thread for the process watches every channel's connectivity: while it
// waits on its queue, gRPC reads the channels' connections, so a connection
// the other end closed is dropped at once and the next call connects afresh.
// Each watch lasts a few seconds and is renewed while the channel has owners.
//
// It waits on its queue only while no call is waiting (CallInProgress): a
// waiting call's thread reads the connections itself, and a watcher reading
// them too would take replies meant for that thread and hand them over. A
// call that starts while the watcher waits sends it out of its queue (an
// alarm); it comes back once no call has waited for kRestAfterCalls, so a
// burst of calls keeps it out throughout.
class ChannelWatcher {
 public:
  static ChannelWatcher& Instance() {
    static auto* watcher = new ChannelWatcher;  // lives as long as the process
    return *watcher;
  }

  void Watch(const std::shared_ptr<grpc::Channel>& channel) {
    Arm(new std::weak_ptr<grpc::Channel>(channel), *channel);
  }

  void CallStarted() {
    std::lock_guard lock(m_mutex);
    if (m_waiting++ == 0 && m_inQueue) {
      // Out of the queue from now on as far as calls are concerned; the
      // watcher leaves it when the alarm reaches it, and enters it again
      // only after that (AwaitQuiet), so the alarm is never set twice.
      m_recall.Set(&m_queue, gpr_time_0(GPR_CLOCK_MONOTONIC), &m_recall);
      m_inQueue = false;
    }
  }

  // No wake-up here: the watcher looks again on its own (AwaitQuiet), so a
  // call's end costs its thread nothing but the lock.
  void CallEnded() {
    std::lock_guard lock(m_mutex);
    if (--m_waiting == 0) m_lastCall = std::chrono::steady_clock::now();
  }

 private:
  static constexpr std::chrono::milliseconds kRestAfterCalls{50};

  ChannelWatcher() : m_thread([this] { Run(); }) { m_thread.detach(); }

  void Arm(std::weak_ptr<grpc::Channel>* tag, grpc::Channel& channel) {
    channel.NotifyOnStateChange(channel.GetState(false), std::chrono::system_clock::now() + std::chrono::seconds(5),
                                &m_queue, tag);
  }

  // Until no call has waited for kRestAfterCalls (looking again every
  // kRestAfterCalls while calls go on); then the watcher is in its queue.
  void AwaitQuiet() {
    for (;;) {
      std::chrono::steady_clock::time_point due;
      {
        std::lock_guard lock(m_mutex);
        const auto now = std::chrono::steady_clock::now();
        due = m_waiting > 0 ? now + kRestAfterCalls : m_lastCall + kRestAfterCalls;
        if (now >= due) {
          m_inQueue = true;
          return;
        }
      }
      std::this_thread::sleep_until(due);
    }
  }

  void Run() {
    for (;;) {
      AwaitQuiet();
      void* tag = nullptr;
      bool ok = false;
      while (m_queue.Next(&tag, &ok)) {
        if (tag == &m_recall) break;
        auto* watched = static_cast<std::weak_ptr<grpc::Channel>*>(tag);
        if (const auto channel = watched->lock()) {
          Arm(watched, *channel);
        } else {
          delete watched;
        }
      }
    }
  }

  grpc::CompletionQueue m_queue;
  std::mutex m_mutex;
  int m_waiting = 0;                                    // calls waiting now
  std::chrono::steady_clock::time_point m_lastCall{};  // when the last one ended
  bool m_inQueue = false;                               // in its queue, and not yet called out
  grpc::Alarm m_recall;
  std::thread m_thread;
};

bool TooLong(std::string_view text) { return text.size() > kMaxNameBytes; }

void ToProto(const MachinePath& path, pb::MachinePath* out) {
  out->set_root(path.root);
  out->set_path(path.path);
}

bool PathTooLong(const MachinePath& path) { return TooLong(path.root) || TooLong(path.path); }

ServerInfo FromProto(const pb::Server& server) {
  ServerInfo info;
  info.name = server.name();
  info.platformId = server.platform_id();
  info.versionMajor = server.version_major();
  info.versionMinor = server.version_minor();
  info.type = server.type();
  info.comment = server.comment();
  info.domain = server.domain();
  return info;
}

FileEntry FromProto(const pb::FileEntry& entry) {
  FileEntry out;
  out.name = entry.name();
  out.alternateName = entry.alternate_name();
  out.attributes = entry.attributes();
  out.size = entry.size();
  out.creationTime = entry.creation_time();
  out.lastAccessTime = entry.last_access_time();
  out.lastWriteTime = entry.last_write_time();
  return out;
}

}  // namespace

void WatchChannel(const std::shared_ptr<grpc::Channel>& channel) { ChannelWatcher::Instance().Watch(channel); }

CallInProgress::CallInProgress() { ChannelWatcher::Instance().CallStarted(); }
CallInProgress::~CallInProgress() { ChannelWatcher::Instance().CallEnded(); }

namespace {

using Connection = RemoteMachine::Connection;

// HKEY_LOCAL_MACHINE of the remote machine: each call is one call of the service.
class RemoteHive final : public RegistryHive {
 public:
  explicit RemoteHive(std::shared_ptr<Connection> connection) : m_connection(std::move(connection)) {}

  LONG OpenKey(KeyId parent, std::string_view path, KeyId* key) override {
    if (TooLong(path)) return ERROR_INVALID_PARAMETER;
    pb::OpenKeyRequest request;
    request.set_parent(parent);
    request.set_path(std::string(path));
    pb::OpenKeyReply reply;
    const LONG error = m_connection->Call("OpenKey", &pb::Machine::Stub::OpenKey, request, &reply);
    if (error == ERROR_SUCCESS) *key = reply.key();
    return error;
  }

  LONG CreateKey(KeyId parent, std::string_view path, KeyId* key, bool* created) override {
    if (TooLong(path)) return ERROR_INVALID_PARAMETER;
    pb::CreateKeyRequest request;
    request.set_parent(parent);
    request.set_path(std::string(path));
    pb::CreateKeyReply reply;
    const LONG error = m_connection->Call("CreateKey", &pb::Machine::Stub::CreateKey, request, &reply);
    if (error != ERROR_SUCCESS) return error;
    *key = reply.key();
    if (created) *created = reply.created();
    return ERROR_SUCCESS;
  }

  LONG DeleteKey(KeyId parent, std::string_view path) override {
    if (TooLong(path)) return ERROR_INVALID_PARAMETER;
    pb::DeleteKeyRequest request;
    request.set_parent(parent);
    request.set_path(std::string(path));
    pb::ErrorReply reply;
    return m_connection->Call("DeleteKey", &pb::Machine::Stub::DeleteKey, request, &reply);
  }

  LONG EnumKey(KeyId key, DWORD index, std::string* name, std::uint64_t* lastWriteTime) override {
    pb::EnumKeyRequest request;
    request.set_key(key);
    request.set_index(index);
    pb::EnumKeyReply reply;
    const LONG error = m_connection->Call("EnumKey", &pb::Machine::Stub::EnumKey, request, &reply);
    if (error != ERROR_SUCCESS) return error;
    *name = reply.name();
    if (lastWriteTime) *lastWriteTime = reply.last_write_time();
    return ERROR_SUCCESS;
  }

  LONG EnumValue(KeyId key, DWORD index, RegValue* value) override {
    pb::EnumValueRequest request;
    request.set_key(key);
    request.set_index(index);
    pb::ValueReply reply;
    return Value(m_connection->Call("EnumValue", &pb::Machine::Stub::EnumValue, request, &reply), reply, value);
  }

  LONG QueryValue(KeyId key, std::string_view name, RegValue* value) override {
    if (TooLong(name)) return ERROR_INVALID_PARAMETER;
    pb::QueryValueRequest request;
    request.set_key(key);
    request.set_name(std::string(name));
    pb::ValueReply reply;
    return Value(m_connection->Call("QueryValue", &pb::Machine::Stub::QueryValue, request, &reply), reply, value);
  }

  LONG SetValue(KeyId key, std::string_view name, DWORD type, const BYTE* data, DWORD size) override {
    if (TooLong(name) || size > kMaxValueBytes) return ERROR_INVALID_PARAMETER;
    pb::SetValueRequest request;
    request.set_key(key);
    request.set_name(std::string(name));
    request.set_type(type);
    if (size) request.set_data(reinterpret_cast<const char*>(data), size);
    pb::ErrorReply reply;
    return m_connection->Call("SetValue", &pb::Machine::Stub::SetValue, request, &reply);
  }

  LONG DeleteValue(KeyId key, std::string_view name) override {
    if (TooLong(name)) return ERROR_INVALID_PARAMETER;
    pb::DeleteValueRequest request;
    request.set_key(key);
    request.set_name(std::string(name));
    pb::ErrorReply reply;
    return m_connection->Call("DeleteValue", &pb::Machine::Stub::DeleteValue, request, &reply);
  }

  LONG QueryInfo(KeyId key, RegKeyInfo* info) override {
    pb::QueryInfoRequest request;
    request.set_key(key);
    pb::QueryInfoReply reply;
    const LONG error = m_connection->Call("QueryInfo", &pb::Machine::Stub::QueryInfo, request, &reply);
    if (error != ERROR_SUCCESS) return error;
    info->subKeys = reply.sub_keys();
    info->maxSubKeyLen = reply.max_sub_key_len();
    info->values = reply.values();
    info->maxValueNameLen = reply.max_value_name_len();
    info->maxValueLen = reply.max_value_len();
    info->lastWriteTime = reply.last_write_time();
    return ERROR_SUCCESS;
  }

 private:
  static LONG Value(LONG error, const pb::ValueReply& reply, RegValue* value) {
    if (error != ERROR_SUCCESS) return error;
    value->name = reply.name();
    value->type = reply.type();
    value->data.assign(reply.data().begin(), reply.data().end());
    return ERROR_SUCCESS;
  }

  std::shared_ptr<Connection> m_connection;
};

// A data connection to the machine presenting `ticket` (from a file
// stream's reply), accepted; else null with the reason in *error.
std::unique_ptr<TlsStream> OpenDataConnection(RemoteMachine::Connection& connection, const std::string& ticket,
                                              LONG* error) {
  *error = ERROR_UNEXP_NET_ERR;
  if (ticket.size() != kTicketBytes) return nullptr;
  const auto context = connection.DataContext(connection.Identity());
  *error = ERROR_ACCESS_DENIED;
  if (!context) return nullptr;
  std::uint32_t failure = ERROR_SUCCESS;
  auto data = TlsStream::Connect(connection.Target(), *context, ToUpperAscii(connection.Name()),
                                 std::chrono::milliseconds(kConnectTimeoutMs), &failure);
  *error = static_cast<LONG>(failure);
  if (!data) return nullptr;
  data->SetTimeout(kCallDeadline);
  unsigned char answer[4];
  *error = ERROR_NETNAME_DELETED;
  if (!data->Write(ticket.data(), ticket.size()) || !data->Read(answer, sizeof answer)) return nullptr;
  *error = static_cast<LONG>(GetU32(answer));
  if (*error != ERROR_SUCCESS) return nullptr;
  if (!data->Seal()) {
    *error = ERROR_NETNAME_DELETED;
    return nullptr;
  }
  return data;
}

// Whether a data connection failed for want of room or time (the machine's
// front or data port over a bound, a connection that got no answer), not
// for lack of proof: then the file stream carries the file itself.
bool TurnedAway(LONG error) {
  return error == ERROR_NETNAME_DELETED || error == ERROR_SEM_TIMEOUT || error == ERROR_BAD_NETPATH;
}

// The reading end of a ReadFile stream: one chunk is held at a time, gRPC's
// flow control keeps the rest on the serving machine. A large file comes
// on a data connection instead, read frame by frame as the caller asks.
class RemoteFileReader final : public FileReader {
 public:
  RemoteFileReader(std::shared_ptr<Connection> connection, std::shared_ptr<pb::Machine::Stub> stub,
                   std::unique_ptr<grpc::ClientContext> context,
                   std::unique_ptr<grpc::ClientReader<pb::ReadFileReply>> stream, std::uint64_t size)
      : m_connection(std::move(connection)), m_stub(std::move(stub)), m_context(std::move(context)),
        m_stream(std::move(stream)), m_size(size) {}

  // The contents come on `data` instead of the stream.
  void UseDataConnection(std::unique_ptr<TlsStream> data) {
    m_data = std::move(data);
    m_direct = true;
  }

  ~RemoteFileReader() override {
    m_data.reset();
    if (!m_stream) return;
    const CallInProgress waiting;
    m_context->TryCancel();
    m_stream->Finish();
  }

  LONG Read(std::span<BYTE> buffer, std::size_t* bytesRead) override {
    *bytesRead = 0;
    if (m_error != ERROR_SUCCESS) return m_error;
    if (m_direct) return ReadData(buffer, bytesRead);
    const CallInProgress waiting;
    while (*bytesRead < buffer.size()) {
      if (m_offset == m_chunk.data().size()) {
        if (!m_stream) break;  // the end was reached
        m_chunk.Clear();
        m_offset = 0;
        if (!m_stream->Read(&m_chunk)) {
          const grpc::Status status = m_stream->Finish();
          m_stream.reset();
          if (!status.ok()) {
            m_connection->Failed(m_stub, status);
            m_error = MapStatus(status, true);
            return m_error;
          }
          break;
        }
        if (m_chunk.error()) {  // the machine could not read on
          m_context->TryCancel();
          m_stream->Finish();
          m_stream.reset();
          m_error = static_cast<LONG>(m_chunk.error());
          return m_error;
        }
        continue;
      }
      const std::size_t n = std::min(buffer.size() - *bytesRead, m_chunk.data().size() - m_offset);
      std::memcpy(buffer.data() + *bytesRead, m_chunk.data().data() + m_offset, n);
      m_offset += n;
      *bytesRead += n;
    }
    return ERROR_SUCCESS;
  }

  std::uint64_t Size() const override { return m_size; }

 private:
  LONG ReadData(std::span<BYTE> buffer, std::size_t* bytesRead) {
    while (*bytesRead < buffer.size() && m_data) {
      if (m_frameLeft == 0) {
        unsigned char header[4];
        if (!m_data->Read(header, sizeof header)) return Lost();
        m_frameLeft = GetU32(header);
        if (m_frameLeft > kDataFrameBytes) return Lost();
        if (m_frameLeft > 0) continue;
        // The end, and why reading stopped there.
        unsigned char status[kDataStatusBytes];
        if (!m_data->Read(status, sizeof status)) return Lost();
        m_data.reset();
        if (const LONG error = static_cast<LONG>(GetU32(status)); error != ERROR_SUCCESS) return m_error = error;
        break;
      }
      const std::size_t n = std::min<std::size_t>(buffer.size() - *bytesRead, m_frameLeft);
      if (!m_data->Read(buffer.data() + *bytesRead, n)) return Lost();
      m_frameLeft -= static_cast<std::uint32_t>(n);
      *bytesRead += n;
    }
    return ERROR_SUCCESS;
  }

  // The data connection broke before its end.
  // The stream is ended with it, and the channel made anew for the next
  // call, as when a stream breaks: the machine has most likely gone.
  LONG Lost() {
    m_data.reset();
    if (m_stream) {
      const CallInProgress waiting;
      m_context->TryCancel();
      m_stream->Finish();
      m_stream.reset();
      m_connection->Failed(m_stub, grpc::Status(grpc::StatusCode::UNAVAILABLE, "data connection lost"));
    }
    return m_error = ERROR_NETNAME_DELETED;
  }

  std::shared_ptr<Connection> m_connection;
  std::shared_ptr<pb::Machine::Stub> m_stub;
  std::unique_ptr<grpc::ClientContext> m_context;
  std::unique_ptr<grpc::ClientReader<pb::ReadFileReply>> m_stream;
  std::uint64_t m_size;
  pb::ReadFileReply m_chunk;
  std::size_t m_offset = 0;
  std::unique_ptr<TlsStream> m_data;
  bool m_direct = false;
  std::uint32_t m_frameLeft = 0;  // of the data connection's current frame
  LONG m_error = ERROR_SUCCESS;
};

// The writing end of a WriteFile stream (the exchange in machine.proto).
// Past its first kDataConnectionAfterBytes, a file goes on a data connection.
class RemoteFileWriter final : public FileWriter {
 public:
  using Stream = grpc::ClientReaderWriter<pb::WriteFileRequest, pb::WriteFileReply>;

  RemoteFileWriter(std::shared_ptr<Connection> connection, std::shared_ptr<pb::Machine::Stub> stub,
                   std::unique_ptr<grpc::ClientContext> context, std::unique_ptr<Stream> stream)
      : m_connection(std::move(connection)), m_stub(std::move(stub)), m_context(std::move(context)),
        m_stream(std::move(stream)) {}

  ~RemoteFileWriter() override {
    if (!m_stream) return;
    // Without the commit the service drops what it received.
    m_data.reset();
    const CallInProgress waiting;
    m_context->TryCancel();
    m_stream->Finish();
  }

  LONG Write(std::span<const BYTE> data) override {
    if (!m_stream) return m_error != ERROR_SUCCESS ? m_error : ERROR_INVALID_HANDLE;
    if (!m_data && !m_streamOnly && m_sent + data.size() > kDataConnectionAfterBytes) {
      if (const LONG error = AskForDataConnection(); error != ERROR_SUCCESS) return error;
    }
    if (m_data) return SendFrames(data);
    const CallInProgress waiting;
    pb::WriteFileRequest request;
    while (!data.empty()) {
      const std::size_t n = std::min(data.size(), kFileChunkBytes);
      request.set_data(reinterpret_cast<const char*>(data.data()), n);
      if (!m_stream->Write(request)) return Broken();
      data = data.subspan(n);
      m_sent += n;
    }
    return ERROR_SUCCESS;
  }

  LONG Commit(std::uint64_t lastWriteTime) override {
    if (!m_stream) return m_error != ERROR_SUCCESS ? m_error : ERROR_INVALID_HANDLE;
    pb::WriteFileRequest request;
    if (m_data) {
      if (const LONG error = EndDataConnection(); error != ERROR_SUCCESS) return error;
      request.mutable_commit()->set_direct_bytes(m_directBytes);
    }
    const CallInProgress waiting;
    request.mutable_commit()->set_last_write_time(lastWriteTime);
    if (!m_stream->Write(request)) return Broken();
    m_stream->WritesDone();
    pb::WriteFileReply reply;
    const bool replied = m_stream->Read(&reply);
    return Finished(replied, reply, true);
  }

 private:
  // Asks for a data connection and opens it. A machine without them keeps
  // the chunks on the stream.
  LONG AskForDataConnection() {
    pb::WriteFileReply reply;
    {
      const CallInProgress waiting;
      pb::WriteFileRequest request;
      request.mutable_direct();
      if (!m_stream->Write(request)) return Broken();
      if (!m_stream->Read(&reply)) return Finished(false, reply);
    }
    if (reply.error() == ERROR_NOT_SUPPORTED) {
      m_streamOnly = true;
      return ERROR_SUCCESS;
    }
    if (reply.error() != ERROR_SUCCESS) return Finished(true, reply);  // the service has ended the stream
    LONG error = ERROR_SUCCESS;
    m_data = OpenDataConnection(*m_connection, reply.ticket(), &error);
    if (m_data) return ERROR_SUCCESS;
    if (!TurnedAway(error)) return Abandon(error);
    m_streamOnly = true;  // the chunks go on here; the service withdraws its offer
    return ERROR_SUCCESS;
  }

  LONG SendFrames(std::span<const BYTE> data) {
    while (!data.empty()) {
      // A status before the end is the service's refusal (a full disk, say).
      if (m_data->Readable()) return DataRefused();
      const std::size_t n = std::min(data.size(), kDataFrameBytes);
      unsigned char header[4];
      PutU32(static_cast<std::uint32_t>(n), header);
      if (!m_data->Queue(header, sizeof header) || !m_data->Queue(data.data(), n)) return DataRefused();
      data = data.subspan(n);
      m_directBytes += n;
    }
    return ERROR_SUCCESS;
  }

  // The end of the data and the service's status: every byte in the file.
  LONG EndDataConnection() {
    unsigned char end[4];
    PutU32(0, end);
    if (!m_data->Write(end, sizeof end)) return DataRefused();
    unsigned char status[kDataStatusBytes];
    if (!m_data->Read(status, sizeof status)) return Abandon(ERROR_NETNAME_DELETED);
    m_data.reset();
    if (const LONG error = static_cast<LONG>(GetU32(status)); error != ERROR_SUCCESS) return Abandon(error);
    if (GetU64(status + 4) != m_directBytes) return Abandon(ERROR_NETNAME_DELETED);
    return ERROR_SUCCESS;
  }

  // The data connection failed or was refused: the service's reason when it
  // sent one.
  LONG DataRefused() {
    unsigned char status[kDataStatusBytes];
    const bool told = m_data->Read(status, sizeof status) && GetU32(status) != ERROR_SUCCESS;
    if (told) return Abandon(static_cast<LONG>(GetU32(status)));
    // Lost without a word: as when a stream breaks, the channel is made anew.
    Abandon(ERROR_NETNAME_DELETED);
    m_connection->Failed(m_stub, grpc::Status(grpc::StatusCode::UNAVAILABLE, "data connection lost"));
    return m_error;
  }

  // Ends everything with `error`; the service drops what it received.
  LONG Abandon(LONG error) {
    m_data.reset();
    const CallInProgress waiting;
    m_context->TryCancel();
    m_stream->Finish();
    m_stream.reset();
    return m_error = error;
  }

  // A write failed: the service has ended the stream, with its reason as its
  // last reply when it ended it on purpose (a full disk, say).
  LONG Broken() {
    pb::WriteFileReply reply;
    const bool replied = m_stream->Read(&reply);
    return Finished(replied, reply);
  }

  // The stream's end, after its last reply (when there was one). Only the
  // reply to the commit may be a success; any other last reply is the reason
  // the service ended the stream early.
  LONG Finished(bool replied, const pb::WriteFileReply& reply, bool committed = false) {
    const grpc::Status status = m_stream->Finish();
    m_stream.reset();
    if (!status.ok()) {
      m_connection->Failed(m_stub, status);
      return m_error = MapStatus(status, true);
    }
    if (!replied) return m_error = ERROR_NETNAME_DELETED;
    if (committed || reply.error() != ERROR_SUCCESS) return m_error = static_cast<LONG>(reply.error());
    return m_error = ERROR_NETNAME_DELETED;
  }

  std::shared_ptr<Connection> m_connection;
  std::shared_ptr<pb::Machine::Stub> m_stub;
  std::unique_ptr<grpc::ClientContext> m_context;
  std::unique_ptr<Stream> m_stream;
  std::unique_ptr<TlsStream> m_data;
  std::uint64_t m_sent = 0;         // on the stream
  std::uint64_t m_directBytes = 0;  // on the data connection
  bool m_streamOnly = false;        // the machine has no data connections
  LONG m_error = ERROR_SUCCESS;
};

}  // namespace

RemoteMachine::RemoteMachine(std::string name, std::string target, std::string domain, IdentityLookup identities)
    : m_connection(std::make_shared<Connection>(std::move(name), std::move(target), std::move(domain),
                                                std::move(identities))) {}

RemoteMachine::~RemoteMachine() = default;

const std::string& RemoteMachine::Name() const { return m_connection->Name(); }
const std::string& RemoteMachine::Target() const { return m_connection->Target(); }

LONG RemoteMachine::GetServerInfo(ServerInfo* info) {
  pb::ServerInfoReply reply;
  const LONG error =
      m_connection->Call("GetServerInfo", &pb::Machine::Stub::GetServerInfo, pb::ServerInfoRequest(), &reply);
  if (error == ERROR_SUCCESS) *info = FromProto(reply.server());
  return error;
}

LONG RemoteMachine::EnumServers(DWORD typeMask, const std::string& domain, std::vector<ServerInfo>* servers) {
  if (TooLong(domain)) return ERROR_INVALID_PARAMETER;
  pb::EnumServersRequest request;
  request.set_type_mask(typeMask);
  request.set_domain(domain);
  pb::EnumServersReply reply;
  const LONG error = m_connection->Call("EnumServers", &pb::Machine::Stub::EnumServers, request, &reply);
  if (error != ERROR_SUCCESS) return error;
  servers->clear();
  for (const auto& server : reply.servers()) servers->push_back(FromProto(server));
  return ERROR_SUCCESS;
}

LONG RemoteMachine::GetDCName(const std::string& domain, std::string* controller) {
  if (TooLong(domain)) return ERROR_INVALID_PARAMETER;
  pb::GetDCNameRequest request;
  request.set_domain(domain);
  pb::GetDCNameReply reply;
  const LONG error = m_connection->Call("GetDCName", &pb::Machine::Stub::GetDCName, request, &reply);
  if (error == ERROR_SUCCESS) *controller = reply.controller();
  return error;
}

LONG RemoteMachine::EnumShares(std::vector<ShareInfo>* shares) {
  pb::EnumSharesReply reply;
  const LONG error =
      m_connection->Call("EnumShares", &pb::Machine::Stub::EnumShares, pb::EnumSharesRequest(), &reply);
  if (error != ERROR_SUCCESS) return error;
  shares->clear();
  for (const auto& share : reply.shares()) shares->push_back({share.name(), share.type(), share.remark()});
  return ERROR_SUCCESS;
}

LONG RemoteMachine::ConnectRegistry(std::shared_ptr<RegistryHive>* hive) {
  // Connecting asks the machine for its root key, so that an unreachable
  // machine or a refused identity shows at RegConnectRegistryA.
  auto remote = std::make_shared<RemoteHive>(m_connection);
  RegKeyInfo info;
  if (const LONG error = remote->QueryInfo(kRootKey, &info); error != ERROR_SUCCESS) return error;
  *hive = std::move(remote);
  return ERROR_SUCCESS;
}

LONG RemoteMachine::GetDrives(std::vector<DriveInfo>* drives) {
  pb::GetDrivesReply reply;
  const LONG error = m_connection->Call("GetDrives", &pb::Machine::Stub::GetDrives, pb::GetDrivesRequest(), &reply);
  if (error != ERROR_SUCCESS) return error;
  drives->clear();
  for (const auto& drive : reply.drives())
    if (drive.letter().size() == 1) drives->push_back({drive.letter()[0], drive.type()});
  return ERROR_SUCCESS;
}

LONG RemoteMachine::GetVolumeInfo(const MachinePath& root, VolumeInfo* info) {
  if (PathTooLong(root)) return ERROR_INVALID_PARAMETER;
  pb::PathRequest request;
  ToProto(root, request.mutable_path());
  pb::VolumeInfoReply reply;
  const LONG error = m_connection->Call("GetVolumeInfo", &pb::Machine::Stub::GetVolumeInfo, request, &reply);
  if (error != ERROR_SUCCESS) return error;
  info->label = reply.label();
  info->serialNumber = reply.serial_number();
  info->maxComponentLength = reply.max_component_length();
  info->flags = reply.flags();
  info->fileSystem = reply.file_system();
  return ERROR_SUCCESS;
}

LONG RemoteMachine::GetDiskSpace(const MachinePath& path, DiskSpace* space) {
  if (PathTooLong(path)) return ERROR_INVALID_PARAMETER;
  pb::PathRequest request;
  ToProto(path, request.mutable_path());
  pb::DiskSpaceReply reply;
  const LONG error = m_connection->Call("GetDiskSpace", &pb::Machine::Stub::GetDiskSpace, request, &reply);
  if (error != ERROR_SUCCESS) return error;
  space->freeBytesToCaller = reply.free_bytes_to_caller();
  space->totalBytes = reply.total_bytes();
  space->totalFreeBytes = reply.total_free_bytes();
  space->bytesPerSector = reply.bytes_per_sector();
  space->sectorsPerCluster = reply.sectors_per_cluster();
  return ERROR_SUCCESS;
}

LONG RemoteMachine::FindFiles(const MachinePath& pattern, std::vector<FileEntry>* entries) {
  if (PathTooLong(pattern)) return ERROR_INVALID_PARAMETER;
  pb::PathRequest request;
  ToProto(pattern, request.mutable_path());
  for (int attempt = 0;; ++attempt) {
    grpc::ClientContext context;
    if (const LONG error = m_connection->Prepare(&context, "FindFiles", false); error != ERROR_SUCCESS) return error;
    auto stub = m_connection->Stub();
    const CallInProgress waiting;
    auto stream = stub->FindFiles(&context, request);
    std::vector<FileEntry> found;
    pb::FindFilesReply batch;
    bool first = true;
    LONG error = ERROR_SUCCESS;
    while (stream->Read(&batch)) {
      if (first && batch.error()) error = static_cast<LONG>(batch.error());
      first = false;
      for (const auto& entry : batch.entries()) found.push_back(FromProto(entry));
    }
    const grpc::Status status = stream->Finish();
    if (!status.ok()) {
      m_connection->Failed(stub, status);
      if (first && SendAgain(attempt, status)) continue;  // a listing may be asked for again
      return MapStatus(status, !first);
    }
    if (first) return ERROR_NETNAME_DELETED;  // ended without its first reply
    if (error != ERROR_SUCCESS) return error;
    *entries = std::move(found);
    return ERROR_SUCCESS;
  }
}

LONG RemoteMachine::GetFileInfo(const MachinePath& path, FileEntry* entry) {
  if (PathTooLong(path)) return ERROR_INVALID_PARAMETER;
  pb::PathRequest request;
  ToProto(path, request.mutable_path());
  pb::FileInfoReply reply;
  const LONG error = m_connection->Call("GetFileInfo", &pb::Machine::Stub::GetFileInfo, request, &reply);
  if (error == ERROR_SUCCESS) *entry = FromProto(reply.entry());
  return error;
}

LONG RemoteMachine::CreateDirectory(const MachinePath& path) {
  if (PathTooLong(path)) return ERROR_INVALID_PARAMETER;
  pb::PathRequest request;
  ToProto(path, request.mutable_path());
  pb::ErrorReply reply;
  return m_connection->Call("CreateDirectory", &pb::Machine::Stub::CreateDirectory, request, &reply);
}

LONG RemoteMachine::RemoveDirectory(const MachinePath& path) {
  if (PathTooLong(path)) return ERROR_INVALID_PARAMETER;
  pb::PathRequest request;
  ToProto(path, request.mutable_path());
  pb::ErrorReply reply;
  return m_connection->Call("RemoveDirectory", &pb::Machine::Stub::RemoveDirectory, request, &reply);
}

LONG RemoteMachine::DeleteFile(const MachinePath& path) {
  if (PathTooLong(path)) return ERROR_INVALID_PARAMETER;
  pb::PathRequest request;
  ToProto(path, request.mutable_path());
  pb::ErrorReply reply;
  return m_connection->Call("DeleteFile", &pb::Machine::Stub::DeleteFile, request, &reply);
}

LONG RemoteMachine::OpenRead(const MachinePath& path, std::unique_ptr<FileReader>* reader) {
  if (PathTooLong(path)) return ERROR_INVALID_PARAMETER;
  // A large file comes on a data connection when one can be made; when the
  // machine turns it away, the file is asked for again on a stream alone.
  const auto open = [&](bool direct) -> LONG {
    for (int attempt = 0;; ++attempt) {
      pb::ReadFileRequest request;
      ToProto(path, request.mutable_path());
      request.set_direct(direct);
      auto context = std::make_unique<grpc::ClientContext>();
      if (const LONG error = m_connection->Prepare(context.get(), "ReadFile", false); error != ERROR_SUCCESS)
        return error;
      auto stub = m_connection->Stub();
      const CallInProgress waiting;
      auto stream = stub->ReadFile(context.get(), request);
      pb::ReadFileReply first;
      if (!stream->Read(&first)) {
        const grpc::Status status = stream->Finish();
        m_connection->Failed(stub, status);
        if (SendAgain(attempt, status)) continue;  // an open may go again
        return status.ok() ? ERROR_NETNAME_DELETED : MapStatus(status, false);
      }
      if (first.error()) {
        context->TryCancel();
        stream->Finish();
        return static_cast<LONG>(first.error());
      }
      auto opened = std::make_unique<RemoteFileReader>(m_connection, std::move(stub), std::move(context),
                                                       std::move(stream), first.size());
      if (!first.ticket().empty()) {
        LONG error = ERROR_SUCCESS;
        auto data = OpenDataConnection(*m_connection, first.ticket(), &error);
        if (!data) return error;  // the reader's end cancels the stream
        opened->UseDataConnection(std::move(data));
      }
      *reader = std::move(opened);
      return static_cast<LONG>(ERROR_SUCCESS);
    }
  };
  const LONG error = open(true);
  return TurnedAway(error) ? open(false) : error;
}

LONG RemoteMachine::OpenWrite(const MachinePath& path, bool failIfExists, std::unique_ptr<FileWriter>* writer) {
  if (PathTooLong(path)) return ERROR_INVALID_PARAMETER;
  for (int attempt = 0;; ++attempt) {
    auto context = std::make_unique<grpc::ClientContext>();
    if (const LONG error = m_connection->Prepare(context.get(), "WriteFile", false); error != ERROR_SUCCESS)
      return error;
    auto stub = m_connection->Stub();
    const CallInProgress waiting;
    auto stream = stub->WriteFile(context.get());
    pb::WriteFileRequest request;
    ToProto(path, request.mutable_open()->mutable_path());
    request.mutable_open()->set_fail_if_exists(failIfExists);
    pb::WriteFileReply reply;
    // The reply is read even when the open could not be sent: a machine that
    // refuses the stream (too many open) answers without waiting for it.
    const bool sent = stream->Write(request);
    if (!stream->Read(&reply) || (!sent && reply.error() == ERROR_SUCCESS)) {
      const grpc::Status status = stream->Finish();
      m_connection->Failed(stub, status);
      // An open may go again: what a service opened before it went away is
      // a temporary file, which it removes when it starts.
      if (SendAgain(attempt, status)) continue;
      return status.ok() ? ERROR_NETNAME_DELETED : MapStatus(status, false);
    }
    if (reply.error()) {
      stream->WritesDone();
      stream->Finish();
      return static_cast<LONG>(reply.error());
    }
    *writer =
        std::make_unique<RemoteFileWriter>(m_connection, std::move(stub), std::move(context), std::move(stream));
    return ERROR_SUCCESS;
  }
}

// ---------------------------------------------------------------- accounts

namespace {

bool FromProto(const google::protobuf::RepeatedPtrField<pb::Account>& accounts, std::vector<Account>* out) {
  out->clear();
  out->reserve(static_cast<std::size_t>(accounts.size()));
  for (const pb::Account& account : accounts) {
    Account entry{account.name(),
                  account.domain(),
                  static_cast<SID_NAME_USE>(account.use()),
                  Sid(account.sid().begin(), account.sid().end()),
                  account.rid(),
                  account.full_name(),
                  account.comment(),
                  account.flags()};
    if (!IsWellFormedSid(entry.sid) || account.use() < SidTypeUser || account.use() > SidTypeComputer) return false;
    out->push_back(std::move(entry));
  }
  return true;
}

}  // namespace

LONG RemoteMachine::GetAccounts(AccountTable* table) {
  pb::GetAccountsReply reply;
  if (const LONG error = m_connection->Call("GetAccounts", &pb::Machine::Stub::GetAccounts, pb::GetAccountsRequest(),
                                            &reply))
    return error;
  AccountTable received;
  received.domain = reply.domain();
  received.machine = reply.machine();
  received.domainSid.assign(reply.domain_sid().begin(), reply.domain_sid().end());
  received.machineSid.assign(reply.machine_sid().begin(), reply.machine_sid().end());
  if (!IsWellFormedSid(received.domainSid) || !IsWellFormedSid(received.machineSid) ||
      !FromProto(reply.users(), &received.users) || !FromProto(reply.groups(), &received.groups) ||
      !FromProto(reply.local_groups(), &received.localGroups) ||
      !FromProto(reply.well_known(), &received.wellKnown) || !FromProto(reply.domains(), &received.domains))
    return ERROR_INVALID_DATA;
  *table = std::move(received);
  return ERROR_SUCCESS;
}

// ---------------------------------------------------------------- service control

LONG RemoteMachine::OpenSCManager(const pb::OpenSCManagerRequest& request, pb::ErrorReply* reply) {
  return m_connection->Call("OpenSCManager", &pb::Machine::Stub::OpenSCManager, request, reply);
}

LONG RemoteMachine::OpenService(const pb::ServiceRequest& request, pb::ErrorReply* reply) {
  return m_connection->Call("OpenService", &pb::Machine::Stub::OpenService, request, reply);
}

LONG RemoteMachine::QueryServiceStatus(const pb::ServiceRequest& request, pb::ServiceStatusReply* reply) {
  return m_connection->Call("QueryServiceStatus", &pb::Machine::Stub::QueryServiceStatus, request, reply);
}

LONG RemoteMachine::StartService(const pb::StartServiceRequest& request, pb::ErrorReply* reply) {
  return m_connection->Call("StartService", &pb::Machine::Stub::StartService, request, reply);
}

LONG RemoteMachine::ControlService(const pb::ControlServiceRequest& request, pb::ServiceStatusReply* reply) {
  return m_connection->Call("ControlService", &pb::Machine::Stub::ControlService, request, reply);
}

LONG RemoteMachine::CreateService(const pb::CreateServiceRequest& request, pb::ErrorReply* reply) {
  return m_connection->Call("CreateService", &pb::Machine::Stub::CreateService, request, reply);
}

LONG RemoteMachine::DeleteService(const pb::ServiceRequest& request, pb::ErrorReply* reply) {
  return m_connection->Call("DeleteService", &pb::Machine::Stub::DeleteService, request, reply);
}

LONG RemoteMachine::ScheduleJobAdd(const pb::ScheduleJobAddRequest& request, pb::ScheduleJobAddReply* reply) {
  return m_connection->Call("ScheduleJobAdd", &pb::Machine::Stub::ScheduleJobAdd, request, reply);
}

LONG RemoteMachine::ScheduleJobDel(const pb::ScheduleJobDelRequest& request, pb::ErrorReply* reply) {
  return m_connection->Call("ScheduleJobDel", &pb::Machine::Stub::ScheduleJobDel, request, reply);
}

LONG RemoteMachine::ScheduleJobEnum(const pb::ScheduleJobEnumRequest& request, pb::ScheduleJobEnumReply* reply) {
  return m_connection->Call("ScheduleJobEnum", &pb::Machine::Stub::ScheduleJobEnum, request, reply);
}

LONG RemoteMachine::ScheduleJobGetInfo(const pb::ScheduleJobGetInfoRequest& request, pb::ScheduleJobGetInfoReply* reply) {
  return m_connection->Call("ScheduleJobGetInfo", &pb::Machine::Stub::ScheduleJobGetInfo, request, reply);
}

}  // namespace vn
