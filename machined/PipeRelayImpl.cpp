// The named pipe calls of MachineServiceImpl. A pipe of this machine is
// opened for the caller as a local client (Pipes.h), in PIPE_NOWAIT mode, and
// its messages are forwarded both ways over the Pipe stream by a reactor that
// holds no thread while it waits: the caller's frames arrive as gRPC reads,
// the pipe's messages are announced by the service's one PipeWatcher. Each
// direction has at most one step in flight (a gRPC read or write, or a wait on
// the watcher), so a relayed pipe holds one message each way at most.
// Whichever side ends first ends the relay: the pipe handle is closed (the
// pipe's server reads 109) and the stream finishes once the last message to
// the caller has gone out.

#include <algorithm>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "machined/MachineServiceImpl.h"
#include "machined/PeerIdentity.h"
#include "platform/core/Handles.h"
#include "platform/core/LastError.h"
#include "platform/ipc/PipeWatcher.h"
#include "platform/ipc/Pipes.h"
#include "proto/MachineProtocol.h"
#include "proto/PipeFrames.h"

namespace vn {

namespace pb = vornal::machine;

namespace {

constexpr std::size_t kMaxPipeName = 256;
// The relay takes a pipe message with one read when the pipe's server writes
// messages of at most this size; longer ones are read in pieces of it.
constexpr DWORD kMaxPipeReadPiece = 1024 * 1024;

// The local name of this machine's pipe NAME, or empty when NAME cannot be one.
std::string LocalPipeName(const std::string& name) {
  if (name.empty() || name.size() > kMaxPipeName || name.find('\0') != std::string::npos) return {};
  return "\\\\.\\pipe\\" + name;
}

class PipeRelay final : public grpc::ServerBidiReactor<pb::PipeFrame, pb::PipeFrame> {
 public:
  PipeRelay(WorkerPool& workers, PipeWatcher& watcher, StreamLimits& limits, grpc::CallbackServerContext* context,
            const std::string& caller)
      : m_workers(workers), m_watcher(watcher), m_caller(caller) {
    m_place = limits.Admit(StreamLimits::Kind::Pipe, caller, [context] { context->TryCancel(); });
    if (!m_place) {
      // Answered without waiting for the open, so a refused caller holds nothing.
      m_out.mutable_opened()->set_error(ERROR_REQ_NOT_ACCEP);
      m_finished = true;
      StartWriteAndFinish(&m_out, grpc::WriteOptions(), grpc::Status::OK);
      return;
    }
    m_reading = true;
    StartRead(&m_in);
  }

  void OnReadDone(bool ok) override {
    std::unique_lock lock(m_mutex);
    m_reading = false;
    if (m_ending) return;
    if (!ok) {  // the caller closed its handle, or the stream broke
      lock.unlock();
      Stop();
      return;
    }
    m_place->Touch();
    if (m_pipe == INVALID_HANDLE_VALUE) {
      lock.unlock();
      Open();
      return;
    }
    const PipeFrameResult added = AddPipeFrame(m_in, &m_incoming, m_inLimit);
    lock.unlock();
    if (added == PipeFrameResult::Invalid) return Stop();
    if (added == PipeFrameResult::More) return ContinueReading();
    WriteToPipe();
  }

  void OnWriteDone(bool ok) override {
    bool ending = false;
    {
      std::lock_guard lock(m_mutex);
      m_writing = false;
      ending = m_ending;
    }
    if (ending) return FinishWhenIdle();
    if (!ok) return Stop();
    if (!m_opened) {
      // The pipe is open for the caller: both directions start.
      m_opened = true;
      ContinueReading();
      ReadFromPipe();
      return;
    }
    m_place->Touch();
    if (m_outOffset < m_outLength) return SendFrame();
    ReadFromPipe();
  }

  void OnCancel() override { Stop(); }

  void OnDone() override { delete this; }

 private:
  // The first frame names the pipe; the open (a short exchange with the
  // pipe's server) runs on the worker pool.
  void Open() {
    std::string name = m_in.has_open() ? LocalPipeName(m_in.open().name()) : std::string();
    if (name.empty()) return Refuse(m_in.has_open() ? ERROR_INVALID_NAME : ERROR_INVALID_PARAMETER);
    const DWORD access = m_in.open().desired_access() & (GENERIC_READ | GENERIC_WRITE);
    {
      std::lock_guard lock(m_mutex);
      m_opening = true;
    }
    const vn::PipeClient client{m_caller, m_in.open().client_process_id()};
    m_workers.Post([this, name = std::move(name), access, client] {
      // The pipe's server sees the caller as its client, not this service
      // (a caller without a name it can carry is this service's own).
      HANDLE pipe = vn::OpenPipeForClient(name.c_str(), access, client);
      if (pipe == INVALID_HANDLE_VALUE && GetLastError() == static_cast<DWORD>(ERROR_INVALID_PARAMETER))
        pipe = CreateFileA(name.c_str(), access, 0, nullptr, OPEN_EXISTING, 0, nullptr);
      LONG error = pipe == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
      DWORD mode = PIPE_READMODE_MESSAGE | PIPE_NOWAIT;
      DWORD outSize = 0;
      DWORD inSize = 0;
      DWORD instances = 0;
      if (error == ERROR_SUCCESS && (!SetNamedPipeHandleState(pipe, &mode, nullptr, nullptr) ||
                                     !GetNamedPipeInfo(pipe, nullptr, &outSize, &inSize, &instances)))
        error = GetLastError();
      pb::PipeOpened* opened = m_out.mutable_opened();
      opened->set_error(static_cast<std::uint32_t>(error));
      if (error == ERROR_SUCCESS) {
        // The server's open mode as this client sees it: what it may read and write.
        opened->set_open_mode((access & GENERIC_WRITE ? PIPE_ACCESS_INBOUND : 0) |
                              (access & GENERIC_READ ? PIPE_ACCESS_OUTBOUND : 0));
        opened->set_out_buffer_size(outSize);
        opened->set_in_buffer_size(inSize);
        opened->set_max_instances(instances);
      }
      // From here the job touches the relay no more than the one call below,
      // and a concurrent Stop cannot finish the stream before that call's end.
      bool ending = false;
      {
        std::lock_guard lock(m_mutex);
        ending = m_ending;
        if (!ending && error == ERROR_SUCCESS) {
          m_pipe = pipe;
          m_inLimit = inSize;
          m_readPiece = std::clamp<DWORD>(outSize, 1, kMaxPipeReadPiece);
          m_writing = true;
        } else if (!ending) {
          m_ending = true;
          m_finished = true;
        }
        m_opening = false;
      }
      if (ending || error != ERROR_SUCCESS) {
        if (pipe != INVALID_HANDLE_VALUE) CloseHandle(pipe);
      }
      if (ending) return FinishWhenIdle();  // cancelled meanwhile
      if (error != ERROR_SUCCESS) return StartWriteAndFinish(&m_out, grpc::WriteOptions(), grpc::Status::OK);
      StartWrite(&m_out);
    });
  }

  // The pipe could not be opened: its error is the only answer.
  void Refuse(LONG error) {
    {
      std::lock_guard lock(m_mutex);
      m_ending = true;
      m_finished = true;
    }
    m_out.mutable_opened()->set_error(static_cast<std::uint32_t>(error));
    StartWriteAndFinish(&m_out, grpc::WriteOptions(), grpc::Status::OK);
  }

  void ContinueReading() {
    {
      std::lock_guard lock(m_mutex);
      if (m_ending) return;
      m_reading = true;
    }
    StartRead(&m_in);
  }

  void Write() {
    {
      std::lock_guard lock(m_mutex);
      if (m_ending) return;
      m_writing = true;
    }
    StartWrite(&m_out);
  }

  // The caller's message, whole, to the pipe; when the pipe has no room the
  // watcher says when to try again.
  void WriteToPipe() {
    const HANDLE pipe = Pipe();
    if (pipe == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    if (!::WriteFile(pipe, m_incoming.data(), static_cast<DWORD>(m_incoming.size()), &written, nullptr))
      return Stop();
    if (written == m_incoming.size()) {
      m_incoming.clear();
      return ContinueReading();
    }
    if (!Await(PipeWatcher::Event::Writable)) Stop();
  }

  // The pipe handle while the relay runs, else INVALID_HANDLE_VALUE.
  HANDLE Pipe() {
    std::lock_guard lock(m_mutex);
    return m_ending ? INVALID_HANDLE_VALUE : m_pipe;
  }

  // Has the watcher call the direction's step again when the pipe is ready;
  // false when it cannot.
  bool Await(PipeWatcher::Event event) {
    std::lock_guard lock(m_mutex);
    if (m_ending) return true;
    const auto again = [this, event] {
      if (event == PipeWatcher::Event::Readable)
        ReadFromPipe();
      else
        WriteToPipe();
    };
    return m_watcher.Watch(m_pipe, event, again) == ERROR_SUCCESS;
  }

  // The pipe's next message to the caller, or a wait for it.
  void ReadFromPipe() {
    const HANDLE pipe = Pipe();
    if (pipe == INVALID_HANDLE_VALUE) return;
    // The message is read straight into m_outgoing (which keeps the size of
    // an earlier message, so growing it rarely clears much).
    std::size_t length = 0;
    for (;;) {
      if (m_outgoing.size() < length + m_readPiece) m_outgoing.resize(length + m_readPiece);
      DWORD read = 0;
      const BOOL ok = ::ReadFile(pipe, m_outgoing.data() + length, m_readPiece, &read, nullptr);
      const LONG error = ok ? ERROR_SUCCESS : GetLastError();
      length += read;
      if (error == ERROR_MORE_DATA) continue;
      if (error == ERROR_SUCCESS) break;
      if (error != ERROR_NO_DATA || length > 0) return Stop();  // the pipe's server has gone
      if (!Await(PipeWatcher::Event::Readable)) Stop();
      return;
    }
    m_outLength = length;
    m_outOffset = 0;
    m_first = true;
    SendFrame();
  }

  // The next frame of the message in m_outgoing's first m_outLength bytes (an
  // empty message is one empty frame).
  void SendFrame() {
    const std::size_t n = std::min(m_outLength - m_outOffset, kPipeFrameBytes);
    if (n == 0 && !m_first) return ReadFromPipe();
    pb::PipeData* data = m_out.mutable_data();
    if (m_first && n == m_outLength) {
      // A message of one frame: its buffer becomes the frame's, and the
      // frame's earlier buffer the next message's.
      m_outgoing.resize(m_outLength);
      data->mutable_data()->swap(m_outgoing);
      m_outLength = m_outOffset = 0;
      data->set_more(false);
    } else {
      data->set_data(m_outgoing.data() + m_outOffset, n);
      m_outOffset += n;
      data->set_more(m_outOffset < m_outLength);
    }
    m_first = false;
    Write();
  }

  // Ends the relay, once: no new step starts, the watcher lets go of the pipe
  // and the handle is closed; the stream finishes when no write is in flight.
  void Stop() {
    HANDLE pipe = INVALID_HANDLE_VALUE;
    {
      std::lock_guard lock(m_mutex);
      if (m_ending) return;  // the first Stop finishes
      m_ending = true;
      m_closing = true;
      pipe = std::exchange(m_pipe, INVALID_HANDLE_VALUE);
    }
    if (pipe != INVALID_HANDLE_VALUE) {
      m_watcher.Forget(pipe);  // no watcher call of this relay runs after this
      CloseHandle(pipe);
    }
    {
      std::lock_guard lock(m_mutex);
      m_closing = false;
    }
    FinishWhenIdle();
  }

  // Finishes the stream once ending and nothing of the relay's own is in
  // flight (OnDone, which deletes the relay, follows Finish).
  void FinishWhenIdle() {
    {
      std::lock_guard lock(m_mutex);
      if (!m_ending || m_finished || m_writing || m_opening || m_closing) return;
      m_finished = true;
    }
    Finish(grpc::Status::OK);
  }

  WorkerPool& m_workers;
  PipeWatcher& m_watcher;
  std::unique_ptr<StreamLimits::Place> m_place;

  std::mutex m_mutex;  // guards the flags and m_pipe
  HANDLE m_pipe = INVALID_HANDLE_VALUE;
  bool m_opening = false;   // the open runs on the worker pool
  bool m_reading = false;   // a gRPC read is in flight
  bool m_writing = false;   // a gRPC write is in flight
  bool m_ending = false;    // Stop has begun: nothing new starts
  bool m_finished = false;  // Finish has been called
  bool m_closing = false;   // Stop is letting go of the pipe

  bool m_opened = false;     // the `opened` frame has gone out
  DWORD m_inLimit = 0;       // longest message the pipe's server reads
  const std::string m_caller;  // the caller's machine (or address), as the limits count it
  pb::PipeFrame m_in;        // caller -> pipe
  std::string m_incoming;
  pb::PipeFrame m_out;       // pipe -> caller
  std::string m_outgoing;   // the message being relayed, and room to read the next
  DWORD m_readPiece = 1;    // bytes asked of one pipe read
  std::size_t m_outLength = 0;  // bytes of the message in m_outgoing
  std::size_t m_outOffset = 0;  // of them, already in frames
  bool m_first = false;
};

}  // namespace

grpc::ServerBidiReactor<pb::PipeFrame, pb::PipeFrame>* MachineServiceImpl::Pipe(CallbackContext* context) {
  if (auto status = Authorise(*context, "Pipe"); !status.ok()) {
    class Refused final : public grpc::ServerBidiReactor<pb::PipeFrame, pb::PipeFrame> {
     public:
      explicit Refused(const grpc::Status& status) { Finish(status); }
      void OnDone() override { delete this; }
    };
    return new Refused(status);
  }
  return new PipeRelay(m_workers, *m_pipes, m_limits, context, PeerIdentity(*context));
}

grpc::Status MachineServiceImpl::WaitPipe(Context* context, const pb::WaitPipeRequest* request,
                                          pb::ErrorReply* reply) {
  if (auto status = Authorise(*context, "WaitPipe"); !status.ok()) return status;
  const std::string name = LocalPipeName(request->name());
  if (name.empty()) {
    reply->set_error(ERROR_INVALID_NAME);
    return grpc::Status::OK;
  }
  if (request->timeout() > kMaxPipeWaitMs) {
    reply->set_error(ERROR_INVALID_PARAMETER);
    return grpc::Status::OK;
  }
  reply->set_error(WaitNamedPipeA(name.c_str(), request->timeout()) ? ERROR_SUCCESS : GetLastError());
  return grpc::Status::OK;
}

}  // namespace vn
