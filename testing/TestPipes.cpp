#include "testing/TestPipes.h"

#include "platform/core/Handles.h"
#include "platform/core/LastError.h"
#include "platform/ipc/Pipes.h"

namespace vn::testing {

HANDLE OpenPipe(const std::string& path) {
  return CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
}

HANDLE OpenPipeWhenFree(const std::string& path, std::chrono::milliseconds ceiling) {
  HANDLE pipe = INVALID_HANDLE_VALUE;
  const bool settled = WaitUntil(
      [&] {
        pipe = OpenPipe(path);
        if (pipe != INVALID_HANDLE_VALUE || GetLastError() != static_cast<DWORD>(ERROR_PIPE_BUSY)) return true;
        // Busy: wait for an instance to come free, then try again (the next
        // open tells whether one did).
        (void)WaitNamedPipeA(path.c_str(), 1000);
        return false;
      },
      ceiling);
  if (!settled) SetLastError(static_cast<DWORD>(ERROR_PIPE_BUSY));
  return pipe;
}

bool Send(HANDLE pipe, const std::string& text) {
  DWORD written = 0;
  return WriteFile(pipe, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) && written == text.size();
}

std::string Receive(HANDLE pipe, DWORD size) {
  std::string buffer(size, '\0');
  DWORD read = 0;
  if (!ReadFile(pipe, buffer.data(), size, &read, nullptr)) return "<error " + std::to_string(GetLastError()) + ">";
  buffer.resize(read);
  return buffer;
}

}  // namespace vn::testing
