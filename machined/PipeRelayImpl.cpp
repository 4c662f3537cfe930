// The named pipe calls of MachineServiceImpl. A pipe of this
// machine is opened for the caller as a local client (Pipes.h) and its
// messages are forwarded both ways over the Pipe stream: one thread takes the
// caller's frames to the pipe, the handler's own thread takes the pipe's
// messages to the caller. Whichever side ends first closes the pipe handle,
// which wakes the other.

#include <atomic>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "machined/MachineServiceImpl.h"
#include "platform/core/Handles.h"
#include "platform/core/LastError.h"
#include "platform/ipc/Pipes.h"
#include "proto/MachineProtocol.h"
#include "proto/PipeFrames.h"

namespace vn {

namespace pb = vornal::machine;

namespace {

constexpr std::size_t kMaxPipeName = 256;

// The local name of this machine's pipe NAME, or empty when NAME cannot be one.
std::string LocalPipeName(const std::string& name) {
  if (name.empty() || name.size() > kMaxPipeName || name.find('\0') != std::string::npos) return {};
  return "\\\\.\\pipe\\" + name;
}

// Closes the pipe handle once, from whichever thread gets there first.
class SharedHandle {
 public:
  explicit SharedHandle(HANDLE handle) : m_handle(handle) {}
  ~SharedHandle() { Close(); }
  HANDLE Get() const { return m_handle; }
  void Close() {
    if (!m_closed.exchange(true)) CloseHandle(m_handle);
  }

 private:
  HANDLE m_handle;
  std::atomic<bool> m_closed{false};
};

// The caller's messages, frame by frame, written to the pipe whole.
void CallerToPipe(MachineServiceImpl::PipeStream* stream, SharedHandle* pipe, DWORD limit) {
  std::string message;
  pb::PipeFrame frame;
  while (stream->Read(&frame)) {
    const PipeFrameResult added = AddPipeFrame(frame, &message, limit);
    if (added == PipeFrameResult::Invalid) break;
    if (added == PipeFrameResult::More) continue;
    DWORD written = 0;
    if (!WriteFile(pipe->Get(), message.data(), static_cast<DWORD>(message.size()), &written, nullptr)) break;
    message.clear();
  }
  pipe->Close();
}

}  // namespace

grpc::Status MachineServiceImpl::Pipe(Context* context, PipeStream* stream) {
  if (auto status = Authorise(*context, "Pipe"); !status.ok()) return status;
  pb::PipeFrame frame;
  if (!stream->Read(&frame)) return grpc::Status::OK;
  pb::PipeFrame answer;
  pb::PipeOpened* opened = answer.mutable_opened();
  const std::string name = frame.has_open() ? LocalPipeName(frame.open().name()) : std::string();
  if (name.empty()) {
    opened->set_error(frame.has_open() ? ERROR_INVALID_NAME : ERROR_INVALID_PARAMETER);
    stream->Write(answer);
    return grpc::Status::OK;
  }
  const DWORD access = frame.open().desired_access() & (GENERIC_READ | GENERIC_WRITE);
  HANDLE handle = CreateFileA(name.c_str(), access, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    opened->set_error(GetLastError());
    stream->Write(answer);
    return grpc::Status::OK;
  }
  SharedHandle pipe(handle);
  DWORD outSize = 0;
  DWORD inSize = 0;
  DWORD instances = 0;
  GetNamedPipeInfo(handle, nullptr, &outSize, &inSize, &instances);
  // The server's open mode as this client sees it: what it may read and write.
  opened->set_open_mode((access & GENERIC_WRITE ? PIPE_ACCESS_INBOUND : 0) |
                        (access & GENERIC_READ ? PIPE_ACCESS_OUTBOUND : 0));
  opened->set_out_buffer_size(outSize);
  opened->set_in_buffer_size(inSize);
  opened->set_max_instances(instances);
  if (!stream->Write(answer)) return grpc::Status::OK;

  std::thread incoming;
  try {
    incoming = std::thread(CallerToPipe, stream, &pipe, inSize);
  } catch (const std::system_error&) {
    return grpc::Status(grpc::StatusCode::RESOURCE_EXHAUSTED, "no thread for the pipe");
  }
  std::vector<char> buffer(std::min<DWORD>(outSize, 64 * 1024));
  std::string message;
  for (;;) {
    DWORD read = 0;
    const BOOL ok = ::ReadFile(pipe.Get(), buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr);
    message.append(buffer.data(), read);
    if (!ok && GetLastError() == ERROR_MORE_DATA) continue;
    if (!ok || !WritePipeMessage(*stream, message)) break;
    message.clear();
  }
  // The server or the caller has ended the pipe: end both directions.
  pipe.Close();
  context->TryCancel();
  incoming.join();
  return grpc::Status::OK;
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
