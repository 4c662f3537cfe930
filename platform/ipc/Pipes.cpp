#include "platform/ipc/Pipes.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <sys/un.h>
#include <unistd.h>

#include "platform/core/AsciiText.h"
#include "platform/core/CallResult.h"
#include "platform/core/HandleTable.h"
#include "platform/core/UniqueFd.h"
#include "platform/ipc/PipeRecords.h"
#include "platform/machine/Machine.h"

namespace fs = std::filesystem;
using vn::Fail;

namespace {

// The first byte of every record on a pipe socket. A client's first record
// says what it wants; the pipe's thread answers it; then only data flows.
constexpr char kData = vn::kPipeDataTag;  // a message: 'D' + its bytes
constexpr char kConnect = 'C';     // client: give me an instance
constexpr char kProbe = 'W';       // client: tell me when an instance is free
constexpr char kAccepted = 'K';    // + open mode, out and in buffer sizes, max instances (four DWORDs)
constexpr char kBusy = 'B';        // no instance free
constexpr char kQueued = 'Q';      // + default time-out; 'F' follows later
constexpr char kFree = 'F';        // an instance is free now

constexpr DWORD kDefaultLimit = 65536;
constexpr DWORD kDefaultWait = 50;
constexpr int kHandshakeMs = 5000;
constexpr std::size_t kMaxName = 256;
constexpr std::size_t kMaxClientComputer = 255;  // a caller's name as the machine service knows it

using vn::UniqueFd;

void Signal(int eventFd) {
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t n = ::write(eventFd, &one, sizeof one);
}

void Drain(int eventFd) {
  std::uint64_t count = 0;
  [[maybe_unused]] const ssize_t n = ::read(eventFd, &count, sizeof count);
}

HANDLE FailHandle(LONG error) {
  SetLastError(static_cast<DWORD>(error));
  return INVALID_HANDLE_VALUE;
}

void PutDword(std::string* record, DWORD value) {
  char bytes[sizeof value];
  std::memcpy(bytes, &value, sizeof value);
  record->append(bytes, sizeof value);
}

DWORD GetDword(const char* bytes) {
  DWORD value = 0;
  std::memcpy(&value, bytes, sizeof value);
  return value;
}

bool SendRecord(int fd, const std::string& record) {
  return ::send(fd, record.data(), record.size(), MSG_NOSIGNAL | MSG_DONTWAIT) ==
         static_cast<ssize_t>(record.size());
}

// Waits up to `ms` (-1 = no limit) for one record of at most 32 bytes;
// nullopt on time-out, an empty string at the end of the socket.
std::optional<std::string> ReceiveSmall(int fd, int ms) {
  pollfd p{fd, POLLIN, 0};
  for (;;) {
    const int ready = ::poll(&p, 1, ms);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return std::nullopt;
    break;
  }
  char bytes[320];  // the longest first record: a connect naming a client elsewhere
  const ssize_t n = ::recv(fd, bytes, sizeof bytes, MSG_DONTWAIT);
  if (n <= 0) return std::string();
  return std::string(bytes, static_cast<std::size_t>(n));
}


// ---- names ----

struct PipeName {
  std::string machine;  // empty: this machine
  std::string name;     // NAME as given
};

// False when `text` is not a pipe name at all.
bool ParsePipeName(std::string_view text, PipeName* parsed) {
  const auto isSeparator = [](char c) { return c == '\\' || c == '/'; };
  if (text.size() < 2 || !isSeparator(text[0]) || !isSeparator(text[1])) return false;
  text.remove_prefix(2);
  const std::size_t machineEnd = std::find_if(text.begin(), text.end(), isSeparator) - text.begin();
  if (machineEnd == 0 || machineEnd == text.size()) return false;
  const std::string_view machine = text.substr(0, machineEnd);
  text.remove_prefix(machineEnd + 1);
  if (text.size() < 5 || !vn::EqualsIgnoringCase(text.substr(0, 4), "pipe") || !isSeparator(text[4])) return false;
  text.remove_prefix(5);
  parsed->machine = machine == "." || vn::IsLocalMachineName(machine) ? std::string() : std::string(machine);
  parsed->name = std::string(text);
  return true;
}

LONG CheckName(const PipeName& name) {
  if (name.name.empty() || name.name.size() > kMaxName || name.name.find('\0') != std::string::npos)
    return ERROR_INVALID_NAME;
  return ERROR_SUCCESS;
}

struct PipeFiles {
  std::string key;  // NAME upper-cased: pipes compare by it
  fs::path socket;
  fs::path lock;
};

LONG LocatePipe(const PipeName& name, PipeFiles* files) {
  files->key = vn::ToUpperAscii(name.name);
  std::string encoded;
  for (std::size_t i = 0; i < files->key.size(); ++i) {
    const auto c = static_cast<unsigned char>(files->key[i]);
    const bool plain = (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-' || (c == '.' && i > 0);
    if (plain) {
      encoded += static_cast<char>(c);
    } else {
      static constexpr char kHex[] = "0123456789ABCDEF";
      encoded += '%';
      encoded += kHex[c >> 4];
      encoded += kHex[c & 15];
    }
  }
  const fs::path directory = vn::MachineHome() / "pipes";
  std::error_code error;
  fs::create_directories(directory, error);
  if (error) return ERROR_PATH_NOT_FOUND;
  if ((directory / encoded).native().size() >= sizeof(sockaddr_un::sun_path)) {
    // Encoded names never hold '#' or lower case, so these cannot collide
    // with them.
    std::uint64_t hash = 14695981039346656037ull;
    for (const char c : files->key) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    char text[20];
    std::snprintf(text, sizeof text, "#%016llx", static_cast<unsigned long long>(hash));
    encoded = text;
    if ((directory / encoded).native().size() >= sizeof(sockaddr_un::sun_path)) return ERROR_FILENAME_EXCED_RANGE;
  }
  files->socket = directory / encoded;
  files->lock = directory / (encoded + ".lock");
  return ERROR_SUCCESS;
}

sockaddr_un Address(const fs::path& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.c_str(), path.native().size());
  return address;
}

// ---- connections and pipe ends ----

// One client's connection; a message longer than the reader's buffer leaves
// its rest here for the next read.
struct Connection {
  explicit Connection(int fd) : socket(fd) {}
  UniqueFd socket;
  // Who the client is, as the server learnt it when the client connected.
  std::string clientComputer;  // empty: this machine
  DWORD clientProcessId = 0;
  std::mutex readMutex;  // one read at a time; guards `rest`
  std::vector<char> rest;
  std::size_t restOffset = 0;
};

struct Slot {
  enum class State { Free, Connected, Disconnected };
  State state = State::Free;
  std::shared_ptr<Connection> connection;
  bool closed = false;
};

// The instances of one pipe name and the thread that hands clients to them.
struct Server {
  PipeFiles files;
  DWORD openMode = 0;
  DWORD maxInstances = 0;
  DWORD outLimit = 0;
  DWORD inLimit = 0;
  DWORD defaultTimeout = 0;
  UniqueFd lock;
  UniqueFd listener;
  UniqueFd wake;  // tells the thread to look again (an instance freed, or stop)

  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::shared_ptr<Slot>> slots;
  bool stopping = false;
  std::thread acceptor;

  bool AnyFree() const {
    return std::any_of(slots.begin(), slots.end(),
                       [](const auto& slot) { return !slot->closed && slot->state == Slot::State::Free; });
  }

  void Kick() { Signal(wake.Get()); }

  void Run();
  void Admit(UniqueFd client, std::vector<UniqueFd>* waiters);
};

void Server::Run() {
  std::vector<UniqueFd> waiters;  // WaitNamedPipeA clients, owned by this thread only
  for (;;) {
    std::vector<pollfd> fds{{listener.Get(), POLLIN, 0}, {wake.Get(), POLLIN, 0}};
    for (const UniqueFd& waiter : waiters) fds.push_back({waiter.Get(), POLLIN, 0});
    if (::poll(fds.data(), fds.size(), -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents) {
      Drain(wake.Get());
      std::lock_guard lock(mutex);
      if (stopping) return;
    }
    // A waiting client that hung up (its time-out passed) is let go.
    for (std::size_t i = fds.size(); i-- > 2;) {
      if (fds[i].revents) waiters.erase(waiters.begin() + static_cast<std::ptrdiff_t>(i - 2));
    }
    if (fds[0].revents & POLLIN) {
      for (;;) {
        const int client = ::accept4(listener.Get(), nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) break;
        Admit(UniqueFd(client), &waiters);
      }
    }
    std::lock_guard lock(mutex);
    if (!waiters.empty() && AnyFree()) {
      for (const UniqueFd& waiter : waiters) SendRecord(waiter.Get(), std::string(1, kFree));
      waiters.clear();
    }
  }
}

void Server::Admit(UniqueFd client, std::vector<UniqueFd>* waiters) {
  // A client sends its request right after connecting; one that does not is
  // dropped rather than holding up the others for long.
  const std::optional<std::string> request = ReceiveSmall(client.Get(), 1000);
  if (!request || request->empty()) return;
  std::lock_guard lock(mutex);
  if ((*request)[0] == kProbe) {
    if (AnyFree()) {
      SendRecord(client.Get(), std::string(1, kFree));
      return;
    }
    std::string queued(1, kQueued);
    PutDword(&queued, defaultTimeout);
    if (SendRecord(client.Get(), queued)) waiters->push_back(std::move(client));
    return;
  }
  if ((*request)[0] != kConnect) return;
  // The client: the process at the socket's other end, unless the connect
  // names a client elsewhere (the machine service opening it for a caller
  // on another machine): then that caller's process and computer.
  std::string computer;
  DWORD processId = 0;
  if (request->size() > 1 + sizeof(DWORD)) {
    processId = GetDword(request->data() + 1);
    computer = request->substr(1 + sizeof(DWORD));
    if (computer.size() > kMaxClientComputer ||
        std::any_of(computer.begin(), computer.end(), [](unsigned char c) { return c < 0x20 || c >= 0x7F; }))
      return;  // not a name: the client goes
  } else if (request->size() != 1) {
    return;
  } else {
    ucred peer{};
    socklen_t length = sizeof peer;
    if (::getsockopt(client.Get(), SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0)
      processId = static_cast<DWORD>(peer.pid);
  }
  const auto slot = std::find_if(slots.begin(), slots.end(), [](const auto& s) {
    return !s->closed && s->state == Slot::State::Free;
  });
  if (slot == slots.end()) {
    SendRecord(client.Get(), std::string(1, kBusy));
    return;
  }
  std::string accepted(1, kAccepted);
  PutDword(&accepted, openMode);
  PutDword(&accepted, outLimit);
  PutDword(&accepted, inLimit);
  PutDword(&accepted, maxInstances);
  if (!SendRecord(client.Get(), accepted)) return;
  vn::FitPipeRecordBuffer(client.Get(), outLimit);
  (*slot)->connection = std::make_shared<Connection>(client.Release());
  (*slot)->connection->clientComputer = std::move(computer);
  (*slot)->connection->clientProcessId = processId;
  (*slot)->state = Slot::State::Connected;
  changed.notify_all();
}

// What a pipe handle refers to: a server instance (server and slot set) or a
// client end (connection set).
struct PipeEnd {
  std::shared_ptr<Server> server;
  std::shared_ptr<Slot> slot;
  std::shared_ptr<Connection> connection;
  UniqueFd wake;  // signalled once, when the handle is closed
  bool canRead = false;
  bool canWrite = false;
  std::atomic<bool> nowait{false};  // PIPE_NOWAIT: reads and writes never wait
  DWORD writeLimit = 0;
  vn::PipeInfo info;  // the server's choices
};

// The tables live as long as the process (never destroyed), so that a pipe
// still open at exit, and its thread, never meet a destroyed table.
vn::HandleTable<std::shared_ptr<PipeEnd>>& Ends() {
  static auto* table = new vn::HandleTable<std::shared_ptr<PipeEnd>>;
  return *table;
}

std::shared_ptr<PipeEnd> FindEnd(HANDLE handle) {
  std::shared_ptr<PipeEnd> found;
  Ends().With(handle, [&](std::shared_ptr<PipeEnd>& end) { found = end; });
  return found;
}

// The pipes this process serves, by socket path.
struct Servers {
  std::mutex mutex;
  std::map<std::string, std::shared_ptr<Server>> byKey;
};

Servers& AllServers() {
  static auto* servers = new Servers;
  return *servers;
}

std::mutex g_connectorMutex;
std::shared_ptr<vn::RemotePipeConnector> g_connector;  // constant-initialised: safe before main

std::shared_ptr<vn::RemotePipeConnector> Connector() {
  std::lock_guard lock(g_connectorMutex);
  return g_connector;
}

// The connection of an end as a read or write finds it, or the error of an
// instance without a client.
LONG CurrentConnection(const PipeEnd& end, std::shared_ptr<Connection>* connection) {
  if (!end.server) {
    *connection = end.connection;
    return ERROR_SUCCESS;
  }
  std::lock_guard lock(end.server->mutex);
  if (end.slot->closed) return ERROR_INVALID_HANDLE;
  switch (end.slot->state) {
    case Slot::State::Free: return ERROR_PIPE_LISTENING;
    case Slot::State::Disconnected: return ERROR_PIPE_NOT_CONNECTED;
    case Slot::State::Connected: break;
  }
  *connection = end.slot->connection;
  return ERROR_SUCCESS;
}

// Waits until `fd` is ready for `events` or the end's handle is closed; in
// PIPE_NOWAIT mode only looks, and gives ERROR_NO_DATA when it is not ready.
LONG AwaitSocket(const PipeEnd& end, int fd, short events) {
  pollfd fds[2] = {{fd, events, 0}, {end.wake.Get(), POLLIN, 0}};
  for (;;) {
    const int ready = ::poll(fds, 2, end.nowait ? 0 : -1);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) return ERROR_GEN_FAILURE;
    if (ready == 0) return ERROR_NO_DATA;
    if (fds[1].revents) return ERROR_INVALID_HANDLE;
    return ERROR_SUCCESS;
  }
}

BOOL TakeRest(Connection& connection, char* buffer, DWORD size, LPDWORD read) {
  const std::size_t available = connection.rest.size() - connection.restOffset;
  const std::size_t taken = std::min<std::size_t>(available, size);
  if (taken > 0) std::memcpy(buffer, connection.rest.data() + connection.restOffset, taken);
  if (read) *read = static_cast<DWORD>(taken);
  connection.restOffset += taken;
  if (taken < available) return Fail(ERROR_MORE_DATA);
  connection.rest.clear();
  connection.restOffset = 0;
  return TRUE;
}

BOOL ReadMessage(const PipeEnd& end, char* buffer, DWORD size, LPDWORD read) {
  if (!end.canRead) return Fail(ERROR_ACCESS_DENIED);
  std::shared_ptr<Connection> connection;
  if (const LONG error = CurrentConnection(end, &connection); error != ERROR_SUCCESS) return Fail(error);
  std::lock_guard lock(connection->readMutex);
  if (!connection->rest.empty()) return TakeRest(*connection, buffer, size, read);
  const int fd = connection->socket.Get();
  for (;;) {
    if (const LONG error = AwaitSocket(end, fd, POLLIN); error != ERROR_SUCCESS) return Fail(error);
    // A message that fits the caller's buffer goes straight into it; only a
    // longer one is taken whole and handed out in parts.
    char tag = 0;
    const ssize_t length = ::recv(fd, &tag, 1, MSG_PEEK | MSG_TRUNC | MSG_DONTWAIT);
    if (length < 0 && (errno == EAGAIN || errno == EINTR)) continue;
    if (length <= 0 || tag != kData) return Fail(ERROR_BROKEN_PIPE);
    if (static_cast<std::size_t>(length) - 1 <= size) {
      iovec parts[2] = {{&tag, 1}, {buffer, static_cast<std::size_t>(length) - 1}};
      msghdr message{};
      message.msg_iov = parts;
      message.msg_iovlen = 2;
      // Only this reader takes records of this socket (readMutex), so the
      // record peeked at is the one received.
      if (::recvmsg(fd, &message, MSG_DONTWAIT) != length) return Fail(ERROR_BROKEN_PIPE);
      if (read) *read = static_cast<DWORD>(length - 1);
      return TRUE;
    }
    std::vector<char> record;
    const ssize_t taken = vn::ReceivePipeRecord(fd, &record, MSG_DONTWAIT);
    if (taken <= 0 || record[0] != kData) return Fail(ERROR_BROKEN_PIPE);
    connection->rest = std::move(record);
    connection->restOffset = 1;
    return TakeRest(*connection, buffer, size, read);
  }
}

BOOL WriteMessage(const PipeEnd& end, const char* data, DWORD size, LPDWORD written) {
  if (!end.canWrite) return Fail(ERROR_ACCESS_DENIED);
  if (size > end.writeLimit) return Fail(ERROR_INVALID_PARAMETER);
  std::shared_ptr<Connection> connection;
  if (const LONG error = CurrentConnection(end, &connection); error != ERROR_SUCCESS) return Fail(error);
  // The record is the tag and the caller's bytes, gathered by the send.
  char tag = kData;
  iovec parts[2] = {{&tag, 1}, {const_cast<char*>(data), size}};
  msghdr record{};
  record.msg_iov = parts;
  record.msg_iovlen = 2;
  const int fd = connection->socket.Get();
  for (;;) {
    LONG error = AwaitSocket(end, fd, POLLOUT);
    if (error == ERROR_SUCCESS &&
        ::sendmsg(fd, &record, MSG_NOSIGNAL | MSG_DONTWAIT) == static_cast<ssize_t>(size) + 1)
      break;
    if (error == ERROR_SUCCESS && errno != EAGAIN && errno != EINTR)
      return Fail(errno == EMSGSIZE ? ERROR_INVALID_PARAMETER : ERROR_NO_DATA);
    if (end.nowait && (error == ERROR_SUCCESS || error == ERROR_NO_DATA)) {
      // No room now: nothing written, as a non-blocking pipe reports it.
      if (written) *written = 0;
      return TRUE;
    }
    if (error != ERROR_SUCCESS) return Fail(error);
  }
  if (written) *written = size;
  return TRUE;
}

// Takes an instance out of its server; the last one closes the pipe.
void ReleaseInstance(PipeEnd& end) {
  Servers& servers = AllServers();
  std::lock_guard registry(servers.mutex);
  Server& server = *end.server;
  bool last = false;
  {
    std::lock_guard lock(server.mutex);
    end.slot->closed = true;
    if (end.slot->connection) ::shutdown(end.slot->connection->socket.Get(), SHUT_RDWR);
    end.slot->connection.reset();
    std::erase(server.slots, end.slot);
    server.changed.notify_all();
    last = server.slots.empty();
    if (last) server.stopping = true;
  }
  server.Kick();
  if (!last) return;
  if (server.acceptor.joinable()) server.acceptor.join();
  servers.byKey.erase(server.files.socket.native());
  std::error_code ignored;
  fs::remove(server.files.socket, ignored);
  fs::remove(server.files.lock, ignored);
  server.listener.Reset();
  server.lock.Reset();
}

bool ClosePipe(HANDLE handle, BOOL* result) {
  std::optional<std::shared_ptr<PipeEnd>> end = Ends().Remove(handle);
  if (!end) return false;
  Signal((*end)->wake.Get());
  if ((*end)->server) ReleaseInstance(**end);
  else ::shutdown((*end)->connection->socket.Get(), SHUT_RDWR);
  *result = TRUE;
  return true;
}

bool ReadPipe(HANDLE handle, LPVOID buffer, DWORD size, LPDWORD read, BOOL* result) {
  const std::shared_ptr<PipeEnd> end = FindEnd(handle);
  if (!end) return false;
  *result = ReadMessage(*end, static_cast<char*>(buffer), size, read);
  return true;
}

bool WritePipe(HANDLE handle, LPCVOID data, DWORD size, LPDWORD written, BOOL* result) {
  const std::shared_ptr<PipeEnd> end = FindEnd(handle);
  if (!end) return false;
  *result = WriteMessage(*end, static_cast<const char*>(data), size, written);
  return true;
}

const vn::HandleKind kPipeKind{&ClosePipe, nullptr, &ReadPipe, &WritePipe};
const bool g_registered = vn::RegisterHandleKind(&kPipeKind);

// Takes the lock file of a pipe: held by the process serving it, so a socket
// file whose lock is free was left by a process that is gone.
LONG TakeLock(const fs::path& path, UniqueFd* lock) {
  for (int attempt = 0; attempt < 5; ++attempt) {
    UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
    if (fd.Get() < 0) return ERROR_ACCESS_DENIED;
    if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) return ERROR_ACCESS_DENIED;
    // The previous owner may have removed the file between our open and lock.
    struct stat held {};
    struct stat named {};
    if (::fstat(fd.Get(), &held) == 0 && ::stat(path.c_str(), &named) == 0 && held.st_ino == named.st_ino &&
        held.st_dev == named.st_dev) {
      *lock = std::move(fd);
      return ERROR_SUCCESS;
    }
  }
  return ERROR_ACCESS_DENIED;
}

LONG StartServer(Server& server) {
  if (const LONG error = TakeLock(server.files.lock, &server.lock); error != ERROR_SUCCESS) return error;
  std::error_code ignored;
  fs::remove(server.files.socket, ignored);
  server.listener = UniqueFd(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  server.wake = UniqueFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (server.listener.Get() < 0 || server.wake.Get() < 0) return ERROR_TOO_MANY_OPEN_FILES;
  const sockaddr_un address = Address(server.files.socket);
  if (::bind(server.listener.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(server.listener.Get(), 64) != 0) {
    fs::remove(server.files.lock, ignored);
    return ERROR_ACCESS_DENIED;
  }
  ::chmod(server.files.socket.c_str(), 0666);
  try {
    server.acceptor = std::thread([&server] { server.Run(); });
  } catch (const std::system_error&) {
    fs::remove(server.files.socket, ignored);
    fs::remove(server.files.lock, ignored);
    return ERROR_NOT_ENOUGH_MEMORY;
  }
  return ERROR_SUCCESS;
}

std::shared_ptr<PipeEnd> NewEnd() {
  auto end = std::make_shared<PipeEnd>();
  end->wake = UniqueFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (end->wake.Get() < 0) return nullptr;
  return end;
}

// Connects to a local pipe's socket and sends the first request.
LONG Contact(const PipeName& name, const std::string& request, UniqueFd* socket) {
  PipeFiles files;
  if (const LONG error = LocatePipe(name, &files); error != ERROR_SUCCESS) return error;
  UniqueFd fd(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
  if (fd.Get() < 0) return ERROR_TOO_MANY_OPEN_FILES;
  const sockaddr_un address = Address(files.socket);
  if (::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    if (errno == EAGAIN) return ERROR_PIPE_BUSY;
    if (errno == EACCES) return ERROR_ACCESS_DENIED;
    return ERROR_FILE_NOT_FOUND;  // no socket, or one left by a server that is gone
  }
  if (!SendRecord(fd.Get(), request)) return ERROR_FILE_NOT_FOUND;
  *socket = std::move(fd);
  return ERROR_SUCCESS;
}

}  // namespace

namespace vn {

void FitPipeRecordBuffer(int fd, DWORD limit) {
  int size = 0;
  socklen_t length = sizeof size;
  const int wanted = static_cast<int>(std::min<DWORD>(limit, 1u << 24)) + 4096;
  if (::getsockopt(fd, SOL_SOCKET, SO_SNDBUF, &size, &length) == 0 && size < wanted)
    ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &wanted, sizeof wanted);
}

ssize_t ReceivePipeRecord(int fd, std::vector<char>* record, int flags) {
  char first = 0;
  const ssize_t length = ::recv(fd, &first, 1, MSG_PEEK | MSG_TRUNC | flags);
  if (length <= 0) return length;
  record->resize(static_cast<std::size_t>(length));
  const ssize_t taken = ::recv(fd, record->data(), record->size(), flags);
  if (taken >= 0 && taken != length) {  // cannot happen on a SEQPACKET socket
    errno = EPROTO;
    return -1;
  }
  return taken;
}

int PipeClientSocket(HANDLE pipe) {
  const std::shared_ptr<PipeEnd> end = FindEnd(pipe);
  if (!end || end->server) return -1;
  return end->connection->socket.Get();
}

std::shared_ptr<RemotePipeConnector> SetRemotePipeConnector(std::shared_ptr<RemotePipeConnector> connector) {
  std::lock_guard lock(g_connectorMutex);
  return std::exchange(g_connector, std::move(connector));
}

}  // namespace vn

HANDLE CreateNamedPipeA(LPCSTR lpName, DWORD dwOpenMode, DWORD dwPipeMode, DWORD nMaxInstances,
                        DWORD nOutBufferSize, DWORD nInBufferSize, DWORD nDefaultTimeOut, LPSECURITY_ATTRIBUTES) {
  (void)g_registered;
  PipeName name;
  if (lpName == nullptr || !ParsePipeName(lpName, &name) || !name.machine.empty()) return FailHandle(ERROR_INVALID_NAME);
  if (const LONG error = CheckName(name); error != ERROR_SUCCESS) return FailHandle(error);
  const DWORD access = dwOpenMode & PIPE_ACCESS_DUPLEX;
  if (access == 0 || nMaxInstances == 0 || nMaxInstances > PIPE_UNLIMITED_INSTANCES)
    return FailHandle(ERROR_INVALID_PARAMETER);
  if ((dwPipeMode & 0x7) != (PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT))
    return FailHandle(ERROR_NOT_SUPPORTED);
  PipeFiles files;
  if (const LONG error = LocatePipe(name, &files); error != ERROR_SUCCESS) return FailHandle(error);
  std::shared_ptr<PipeEnd> end = NewEnd();
  if (!end) return FailHandle(ERROR_TOO_MANY_OPEN_FILES);
  end->slot = std::make_shared<Slot>();
  end->canRead = (access & PIPE_ACCESS_INBOUND) != 0;
  end->canWrite = (access & PIPE_ACCESS_OUTBOUND) != 0;

  Servers& servers = AllServers();
  std::lock_guard registry(servers.mutex);
  std::shared_ptr<Server>& server = servers.byKey[files.socket.native()];
  if (server) {
    std::lock_guard lock(server->mutex);
    if (server->maxInstances != PIPE_UNLIMITED_INSTANCES && server->slots.size() >= server->maxInstances)
      return FailHandle(ERROR_PIPE_BUSY);
    if (server->openMode != access) return FailHandle(ERROR_ACCESS_DENIED);
    server->slots.push_back(end->slot);
    server->Kick();
  } else {
    auto created = std::make_shared<Server>();
    created->files = files;
    created->openMode = access;
    created->maxInstances = nMaxInstances;
    created->outLimit = nOutBufferSize ? nOutBufferSize : kDefaultLimit;
    created->inLimit = nInBufferSize ? nInBufferSize : kDefaultLimit;
    created->defaultTimeout = nDefaultTimeOut ? nDefaultTimeOut : kDefaultWait;
    created->slots.push_back(end->slot);
    if (const LONG error = StartServer(*created); error != ERROR_SUCCESS) {
      servers.byKey.erase(files.socket.native());
      return FailHandle(error);
    }
    server = std::move(created);
  }
  end->server = server;
  end->writeLimit = server->outLimit;
  end->info = {server->openMode, server->outLimit, server->inLimit, server->maxInstances};
  SetLastError(ERROR_SUCCESS);
  return Ends().Add(std::move(end));
}

BOOL ConnectNamedPipe(HANDLE hNamedPipe, LPVOID lpOverlapped) {
  if (lpOverlapped) return Fail(ERROR_INVALID_PARAMETER);
  const std::shared_ptr<PipeEnd> end = FindEnd(hNamedPipe);
  if (!end) return Fail(ERROR_INVALID_HANDLE);
  if (!end->server) return Fail(ERROR_INVALID_FUNCTION);
  Server& server = *end->server;
  Slot& slot = *end->slot;
  std::unique_lock lock(server.mutex);
  if (slot.state == Slot::State::Connected) return Fail(ERROR_PIPE_CONNECTED);
  if (slot.state == Slot::State::Disconnected) {
    slot.state = Slot::State::Free;
    server.Kick();
  }
  server.changed.wait(lock, [&] { return slot.closed || slot.state == Slot::State::Connected; });
  if (slot.closed) return Fail(ERROR_INVALID_HANDLE);
  return TRUE;
}

BOOL DisconnectNamedPipe(HANDLE hNamedPipe) {
  const std::shared_ptr<PipeEnd> end = FindEnd(hNamedPipe);
  if (!end) return Fail(ERROR_INVALID_HANDLE);
  if (!end->server) return Fail(ERROR_INVALID_FUNCTION);
  std::lock_guard lock(end->server->mutex);
  Slot& slot = *end->slot;
  if (slot.state != Slot::State::Connected) return TRUE;
  ::shutdown(slot.connection->socket.Get(), SHUT_RDWR);
  slot.connection.reset();
  slot.state = Slot::State::Disconnected;
  return TRUE;
}

namespace {

// CreateFileA of a pipe, with the connect record a local pipe is sent.
HANDLE OpenPipe(LPCSTR lpFileName, DWORD dwDesiredAccess, const std::string& connect) {
  (void)g_registered;
  PipeName name;
  if (lpFileName == nullptr) return FailHandle(ERROR_INVALID_PARAMETER);
  if (!ParsePipeName(lpFileName, &name)) return FailHandle(ERROR_NOT_SUPPORTED);
  if (const LONG error = CheckName(name); error != ERROR_SUCCESS) return FailHandle(error);
  std::shared_ptr<PipeEnd> end = NewEnd();
  if (!end) return FailHandle(ERROR_TOO_MANY_OPEN_FILES);
  const bool wantsRead = (dwDesiredAccess & (GENERIC_READ | GENERIC_ALL)) != 0;
  const bool wantsWrite = (dwDesiredAccess & (GENERIC_WRITE | GENERIC_ALL)) != 0;

  UniqueFd socket;
  vn::PipeInfo info;
  if (!name.machine.empty()) {
    const std::shared_ptr<vn::RemotePipeConnector> connector = Connector();
    if (!connector) return FailHandle(ERROR_BAD_NETPATH);
    int fd = -1;
    if (const LONG error = connector->Open(name.machine, name.name, dwDesiredAccess, &fd, &info);
        error != ERROR_SUCCESS)
      return FailHandle(error);
    socket = UniqueFd(fd);
  } else {
    if (const LONG error = Contact(name, connect, &socket); error != ERROR_SUCCESS) return FailHandle(error);
    const std::optional<std::string> reply = ReceiveSmall(socket.Get(), kHandshakeMs);
    if (!reply) return FailHandle(ERROR_SEM_TIMEOUT);
    if (reply->empty()) return FailHandle(ERROR_FILE_NOT_FOUND);
    if ((*reply)[0] == kBusy) return FailHandle(ERROR_PIPE_BUSY);
    if ((*reply)[0] != kAccepted || reply->size() != 1 + 4 * sizeof(DWORD)) return FailHandle(ERROR_PIPE_BUSY);
    const char* field = reply->data() + 1;
    info.openMode = GetDword(field);
    info.outBufferSize = GetDword(field + sizeof(DWORD));
    info.inBufferSize = GetDword(field + 2 * sizeof(DWORD));
    info.maxInstances = GetDword(field + 3 * sizeof(DWORD));
  }
  // The server's reading side is the client's writing side.
  if ((wantsWrite && !(info.openMode & PIPE_ACCESS_INBOUND)) ||
      (wantsRead && !(info.openMode & PIPE_ACCESS_OUTBOUND)))
    return FailHandle(ERROR_ACCESS_DENIED);
  if (info.outBufferSize == 0) info.outBufferSize = kDefaultLimit;
  if (info.inBufferSize == 0) info.inBufferSize = kDefaultLimit;
  end->canRead = wantsRead;
  end->canWrite = wantsWrite;
  end->writeLimit = info.inBufferSize;
  end->info = info;
  vn::FitPipeRecordBuffer(socket.Get(), end->writeLimit);
  end->connection = std::make_shared<Connection>(socket.Release());
  SetLastError(ERROR_SUCCESS);
  return Ends().Add(std::move(end));
}

// The client of a connected server instance, or null with the error.
std::shared_ptr<Connection> ClientOf(HANDLE pipe, LONG* error) {
  const std::shared_ptr<PipeEnd> end = FindEnd(pipe);
  if (!end) {
    *error = ERROR_INVALID_HANDLE;
    return nullptr;
  }
  if (!end->server) {
    *error = ERROR_INVALID_FUNCTION;
    return nullptr;
  }
  std::lock_guard lock(end->server->mutex);
  if (end->slot->state != Slot::State::Connected || !end->slot->connection) {
    *error = ERROR_PIPE_NOT_CONNECTED;
    return nullptr;
  }
  return end->slot->connection;
}

}  // namespace

HANDLE CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE) {
  return OpenPipe(lpFileName, dwDesiredAccess, std::string(1, kConnect));
}

namespace vn {

HANDLE OpenPipeForClient(LPCSTR lpFileName, DWORD dwDesiredAccess, const PipeClient& client) {
  if (client.computer.empty() || client.computer.size() > kMaxClientComputer ||
      std::any_of(client.computer.begin(), client.computer.end(),
                  [](unsigned char c) { return c < 0x20 || c >= 0x7F; }))
    return FailHandle(ERROR_INVALID_PARAMETER);
  std::string connect(1, kConnect);
  PutDword(&connect, client.processId);
  return OpenPipe(lpFileName, dwDesiredAccess, connect + client.computer);
}

}  // namespace vn

BOOL GetNamedPipeClientComputerNameA(HANDLE Pipe, LPSTR ClientComputerName, ULONG ClientComputerNameLength) {
  LONG error = ERROR_SUCCESS;
  const std::shared_ptr<Connection> client = ClientOf(Pipe, &error);
  if (!client) return Fail(error);
  std::string name = client->clientComputer;
  if (name.empty()) {
    char local[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = sizeof local;
    if (!GetComputerNameA(local, &size)) return FALSE;
    name = local;
  }
  if (!ClientComputerName || name.size() + 1 > ClientComputerNameLength) return Fail(ERROR_INSUFFICIENT_BUFFER);
  std::memcpy(ClientComputerName, name.c_str(), name.size() + 1);
  return TRUE;
}

BOOL GetNamedPipeClientProcessId(HANDLE Pipe, PULONG ClientProcessId) {
  LONG error = ERROR_SUCCESS;
  const std::shared_ptr<Connection> client = ClientOf(Pipe, &error);
  if (!client) return Fail(error);
  if (!ClientProcessId) return Fail(ERROR_INVALID_PARAMETER);
  *ClientProcessId = client->clientProcessId;
  return TRUE;
}

BOOL WaitNamedPipeA(LPCSTR lpNamedPipeName, DWORD nTimeOut) {
  PipeName name;
  if (lpNamedPipeName == nullptr || !ParsePipeName(lpNamedPipeName, &name)) return Fail(ERROR_INVALID_NAME);
  if (const LONG error = CheckName(name); error != ERROR_SUCCESS) return Fail(error);
  if (!name.machine.empty()) {
    const std::shared_ptr<vn::RemotePipeConnector> connector = Connector();
    if (!connector) return Fail(ERROR_BAD_NETPATH);
    const LONG error = connector->Wait(name.machine, name.name, nTimeOut);
    return error == ERROR_SUCCESS ? TRUE : Fail(error);
  }
  const auto start = std::chrono::steady_clock::now();
  UniqueFd socket;
  if (const LONG error = Contact(name, std::string(1, kProbe), &socket); error != ERROR_SUCCESS)
    return Fail(error == ERROR_PIPE_BUSY ? ERROR_SEM_TIMEOUT : error);
  std::optional<std::string> reply = ReceiveSmall(socket.Get(), kHandshakeMs);
  if (!reply) return Fail(ERROR_SEM_TIMEOUT);
  if (reply->empty()) return Fail(ERROR_FILE_NOT_FOUND);
  if ((*reply)[0] == kFree) return TRUE;
  if ((*reply)[0] != kQueued || reply->size() != 1 + sizeof(DWORD)) return Fail(ERROR_FILE_NOT_FOUND);
  DWORD limit = nTimeOut == NMPWAIT_USE_DEFAULT_WAIT ? GetDword(reply->data() + 1) : nTimeOut;
  int remaining = -1;
  if (limit != NMPWAIT_WAIT_FOREVER) {
    const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    remaining = static_cast<int>(std::max<std::int64_t>(0, std::min<std::int64_t>(limit, INT32_MAX) - spent.count()));
  }
  reply = ReceiveSmall(socket.Get(), remaining);
  if (!reply) return Fail(ERROR_SEM_TIMEOUT);
  if (reply->empty()) return Fail(ERROR_FILE_NOT_FOUND);  // the pipe closed meanwhile
  return (*reply)[0] == kFree ? TRUE : Fail(ERROR_FILE_NOT_FOUND);
}

BOOL SetNamedPipeHandleState(HANDLE hNamedPipe, LPDWORD lpMode, LPDWORD lpMaxCollectionCount,
                             LPDWORD lpCollectDataTimeout) {
  const std::shared_ptr<PipeEnd> end = FindEnd(hNamedPipe);
  if (!end) return Fail(ERROR_INVALID_HANDLE);
  if (lpMaxCollectionCount || lpCollectDataTimeout) return Fail(ERROR_INVALID_PARAMETER);
  if (!lpMode) return TRUE;
  if ((*lpMode & ~(PIPE_READMODE_MESSAGE | PIPE_NOWAIT)) != 0 || !(*lpMode & PIPE_READMODE_MESSAGE))
    return Fail(ERROR_INVALID_PARAMETER);
  end->nowait = (*lpMode & PIPE_NOWAIT) != 0;
  return TRUE;
}

BOOL GetNamedPipeInfo(HANDLE hNamedPipe, LPDWORD lpFlags, LPDWORD lpOutBufferSize, LPDWORD lpInBufferSize,
                      LPDWORD lpMaxInstances) {
  const std::shared_ptr<PipeEnd> end = FindEnd(hNamedPipe);
  if (!end) return Fail(ERROR_INVALID_HANDLE);
  if (lpFlags) *lpFlags = PIPE_TYPE_MESSAGE | (end->server ? PIPE_SERVER_END : PIPE_CLIENT_END);
  if (lpOutBufferSize) *lpOutBufferSize = end->info.outBufferSize;
  if (lpInBufferSize) *lpInBufferSize = end->info.inBufferSize;
  if (lpMaxInstances) *lpMaxInstances = end->info.maxInstances;
  return TRUE;
}
