// Clients of pipes on other machines: the Pipe stream of the machine's service
// (machine.proto) relayed to a local socket pair, whose other end the pipe
// calls use as they use a local pipe's socket (PipeRecords.h).
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/core/UniqueFd.h"
#include "platform/endpoints/RemoteConnection.h"
#include "platform/endpoints/RemoteMachine.h"
#include "platform/ipc/PipeRecords.h"
#include "proto/PipeFrames.h"

namespace vn {
namespace {

using PipeStream = grpc::ClientReaderWriter<pb::PipeFrame, pb::PipeFrame>;

// No message longer than this is taken from a machine, whatever its server
// claims: a local socket record cannot carry one anyway.
constexpr DWORD kMaxRelayedMessage = 16 * 1024 * 1024;

// One open pipe: the stream and the relay's end of the socket pair. Owned by
// the thread that reads the stream; the thread that reads the socket borrows it.
struct Relay {
  std::shared_ptr<RemoteMachine::Connection> connection;
  std::shared_ptr<pb::Machine::Stub> stub;
  std::unique_ptr<grpc::ClientContext> context;
  std::unique_ptr<PipeStream> stream;
  UniqueFd socket;
  DWORD readLimit = 0;  // the longest message the server writes
};

// The relays' threads, so that the process does not end under them. A pipe
// the program has closed is still being closed on its machine for a round
// trip afterwards; a program that ends then (VN does, right after its run)
// would cut that short and leave the thread's state to the kernel. At exit
// the process waits for the relays to end, first on their own, then
// cancelled, at most kExitWait each time; a relay still running after that
// is left. Threads that have ended are joined when the next relay starts.
class CRelayThreads {
 public:
  static CRelayThreads& Instance() {
    // Lives as long as the process: relay threads may outlive every static.
    static auto* threads = [] {
      auto* made = new CRelayThreads;
      std::atexit([] { Instance().AwaitAll(); });
      return made;
    }();
    return *threads;
  }

  // Starts ForwardIn for `relay`; false when no thread could be made.
  bool Start(void (*forward)(std::shared_ptr<Relay>), const std::shared_ptr<Relay>& relay) {
    std::lock_guard lock(m_mutex);
    // An ended thread needs the lock no more: it is joined holding it.
    for (auto it = m_running.begin(); it != m_running.end();) {
      if (!it->ended) {
        ++it;
        continue;
      }
      if (it->thread.joinable()) it->thread.join();
      it = m_running.erase(it);
    }
    m_running.emplace_back();
    Running& running = m_running.back();
    running.relay = relay;
    try {
      running.thread = std::thread([this, forward, relay, &running] {
        forward(relay);
        std::lock_guard done(m_mutex);
        running.ended = true;
        m_changed.notify_all();
      });
    } catch (const std::system_error&) {
      m_running.pop_back();
      return false;
    }
    return true;
  }

 private:
  static constexpr std::chrono::seconds kExitWait{2};

  struct Running {
    std::thread thread;
    std::weak_ptr<Relay> relay;
    bool ended = false;
  };

  void AwaitAll() {
    std::unique_lock lock(m_mutex);
    const auto allEnded = [this] {
      return std::all_of(m_running.begin(), m_running.end(), [](const Running& r) { return r.ended; });
    };
    if (!m_changed.wait_for(lock, kExitWait, allEnded)) {
      for (Running& running : m_running)
        if (const std::shared_ptr<Relay> relay = running.relay.lock(); relay && !running.ended)
          relay->context->TryCancel();
      m_changed.wait_for(lock, kExitWait, allEnded);
    }
    // An ended thread needs the lock no more: it is joined holding it. One
    // still running keeps its entry, which it marks when it ends.
    for (auto it = m_running.begin(); it != m_running.end();) {
      if (!it->ended) {
        it->thread.detach();
        ++it;
        continue;
      }
      it->thread.join();
      it = m_running.erase(it);
    }
  }

  std::mutex m_mutex;
  std::condition_variable m_changed;
  std::list<Running> m_running;
};

// Sends one record, the tag and `message`, on the relay's socket, waiting
// while the socket is full. False when the pipe's client has gone.
bool SendRecord(int fd, std::string_view message) {
  char tag = kPipeDataTag;
  iovec parts[2] = {{&tag, 1}, {const_cast<char*>(message.data()), message.size()}};
  msghdr record{};
  record.msg_iov = parts;
  record.msg_iovlen = 2;
  for (;;) {
    const ssize_t sent = ::sendmsg(fd, &record, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent == static_cast<ssize_t>(message.size()) + 1) return true;
    if (sent >= 0 || (errno != EAGAIN && errno != EINTR)) return false;
    pollfd ready{fd, POLLOUT, 0};
    if (::poll(&ready, 1, -1) < 0 && errno != EINTR) return false;
    if (ready.revents & (POLLHUP | POLLERR)) return false;
  }
}

// The client's messages, from the socket to the stream, until the client
// closes its handle or the stream ends; then the stream is half-closed, which
// closes the pipe handle on the machine.
void ForwardOut(Relay& relay) {
  std::vector<char> record;
  for (;;) {
    const ssize_t length = ReceivePipeRecord(relay.socket.Get(), &record, 0);
    if (length < 0 && errno == EINTR) continue;
    if (length <= 0 || record[0] != kPipeDataTag) break;
    if (!WritePipeMessage(*relay.stream, std::string_view(record.data() + 1, record.size() - 1))) break;
  }
  relay.stream->WritesDone();
}

// The server's messages, from the stream to the socket; owns the relay. Its
// thread waits on the stream for the pipe's whole life.
void ForwardIn(std::shared_ptr<Relay> relay) {
  const CallInProgress waiting;
  std::thread outgoing;
  try {
    outgoing = std::thread([relay] { ForwardOut(*relay); });
  } catch (const std::system_error&) {
    relay->context->TryCancel();
  }
  bool orderly = true;
  std::string message;  // a message of several frames, while it is gathered
  pb::PipeFrame frame;
  while (relay->stream->Read(&frame)) {
    std::string_view whole;
    if (message.empty() && frame.has_data() && !frame.data().more()) {
      // A message of one frame goes out from the frame itself.
      whole = frame.data().data();
      if (whole.size() > relay->readLimit) {
        orderly = false;
        break;
      }
    } else {
      const PipeFrameResult added = AddPipeFrame(frame, &message, relay->readLimit);
      if (added == PipeFrameResult::Invalid) {
        orderly = false;  // not what the protocol allows: end the pipe
        break;
      }
      if (added == PipeFrameResult::More) continue;
      whole = message;
    }
    if (!SendRecord(relay->socket.Get(), whole)) {
      orderly = false;  // the client closed its handle
      break;
    }
    message.clear();
  }
  if (!orderly) relay->context->TryCancel();
  // The end of the pipe for the client, and for the thread reading the socket.
  ::shutdown(relay->socket.Get(), SHUT_RDWR);
  if (outgoing.joinable()) outgoing.join();
  const grpc::Status status = relay->stream->Finish();
  relay->connection->Failed(relay->stub, status);
}

}  // namespace

LONG RemoteMachine::OpenPipe(const std::string& pipe, DWORD desiredAccess, int* socket, PipeInfo* info) {
  pb::PipeFrame open;
  open.mutable_open()->set_name(pipe);
  open.mutable_open()->set_desired_access(desiredAccess);
  open.mutable_open()->set_client_process_id(static_cast<std::uint32_t>(::getpid()));
  std::shared_ptr<Relay> relay;
  pb::PipeFrame answer;
  for (int attempt = 0;; ++attempt) {
    relay = std::make_shared<Relay>();
    relay->connection = m_connection;
    relay->context = std::make_unique<grpc::ClientContext>();
    if (const LONG error = m_connection->Prepare(relay->context.get(), "Pipe", false); error != ERROR_SUCCESS)
      return error;
    relay->stub = m_connection->Stub();
    const CallInProgress waiting;
    relay->stream = relay->stub->Pipe(relay->context.get());
    // The answer is read even when the open could not be sent: a machine that
    // refuses the pipe (too many open) answers without waiting for it.
    const bool sent = relay->stream->Write(open);
    if (relay->stream->Read(&answer) && (sent || answer.has_opened())) break;
    const grpc::Status status = relay->stream->Finish();
    m_connection->Failed(relay->stub, status);
    // An open may go again: a pipe instance the service opened before it
    // went away went with it.
    if (SendAgain(attempt, status)) continue;
    return status.ok() ? ERROR_UNEXP_NET_ERR : MapStatus(status, false);
  }
  const auto finish = [&](LONG error) {
    relay->context->TryCancel();
    relay->stream->Finish();
    return error;
  };
  if (!answer.has_opened()) return finish(ERROR_UNEXP_NET_ERR);
  const pb::PipeOpened& opened = answer.opened();
  if (opened.error() != ERROR_SUCCESS) return finish(static_cast<LONG>(opened.error()));

  int ends[2];
  if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0) return finish(ERROR_TOO_MANY_OPEN_FILES);
  UniqueFd clientEnd(ends[0]);
  relay->socket.Reset(ends[1]);
  // What the server may send in one message; more than a socket record can
  // ever hold is not believed.
  relay->readLimit = std::min<DWORD>(opened.out_buffer_size(), kMaxRelayedMessage);
  FitPipeRecordBuffer(relay->socket.Get(), relay->readLimit);
  if (!CRelayThreads::Instance().Start(ForwardIn, relay)) return finish(ERROR_NOT_ENOUGH_MEMORY);
  *socket = clientEnd.Release();
  *info = {opened.open_mode(), opened.out_buffer_size(), opened.in_buffer_size(), opened.max_instances()};
  return ERROR_SUCCESS;
}

LONG RemoteMachine::WaitPipe(const std::string& pipe, DWORD timeout) {
  // The machine waits at most kMaxPipeWaitMs per call; longer waits are
  // several calls. The pipe's default time-out is the machine's to apply.
  const auto start = std::chrono::steady_clock::now();
  pb::WaitPipeRequest request;
  request.set_name(pipe);
  for (;;) {
    DWORD wait = std::min<DWORD>(timeout, kMaxPipeWaitMs);
    if (timeout != NMPWAIT_WAIT_FOREVER && timeout != NMPWAIT_USE_DEFAULT_WAIT) {
      const auto spent =
          std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
      if (spent >= timeout) return ERROR_SEM_TIMEOUT;
      wait = std::min<DWORD>(wait, timeout - static_cast<DWORD>(spent));
    }
    request.set_timeout(wait);
    pb::ErrorReply reply;
    const LONG error = m_connection->Call("WaitPipe", &pb::Machine::Stub::WaitPipe, request, &reply);
    if (error != ERROR_SEM_TIMEOUT || timeout == NMPWAIT_USE_DEFAULT_WAIT) return error;
  }
}

}  // namespace vn
