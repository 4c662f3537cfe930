#include "server/service/tests/ConsoleChannel.h"

#include <chrono>
#include <cstring>

#include "platform/core/LastError.h"

#include "platform/core/Handles.h"
#include "platform/ipc/Pipes.h"
#include "platform/machine/Machine.h"

namespace vn::testing {

ConsoleChannel::ConsoleChannel(bool cancelFirst, int closeAfter) : m_cancel(cancelFirst), m_closeAfter(closeAfter) {
  static std::atomic<int> counter{0};
  m_name = std::to_string(std::chrono::system_clock::now().time_since_epoch().count()) + "-" +
           std::to_string(++counter);
  m_pipe = CreateNamedPipeA(("\\\\.\\pipe\\" + m_name).c_str(), PIPE_ACCESS_DUPLEX,
                            PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, PIPE_UNLIMITED_INSTANCES, 260, 260,
                            0, nullptr);
  m_thread = std::thread([this] { Serve(); });
}

ConsoleChannel::~ConsoleChannel() {
  {
    std::lock_guard lock(m_mutex);
    if (m_pipe) CloseHandle(m_pipe);
    m_pipe = nullptr;
  }
  m_thread.join();
}

std::string ConsoleChannel::RemoteName() const { return "\\\\" + LocalComputerName() + "\\pipe\\" + m_name; }

std::vector<std::string> ConsoleChannel::Texts() const {
  std::lock_guard lock(m_mutex);
  return m_texts;
}

void ConsoleChannel::Serve() {
  HANDLE pipe = m_pipe;
  int count = 0;
  while (ConnectNamedPipe(pipe, nullptr) || GetLastError() == static_cast<DWORD>(ERROR_PIPE_CONNECTED)) {
    char buffer[260];
    DWORD read = 0;
    while (ReadFile(pipe, buffer, sizeof buffer, &read, nullptr) && read > 0) {
      {
        std::lock_guard lock(m_mutex);
        m_texts.emplace_back(buffer, strnlen(buffer, read));
      }
      char reply[40] = {};
      if (m_cancel.exchange(false)) std::strcpy(reply, "CANCEL");
      DWORD written = 0;
      (void)WriteFile(pipe, reply, sizeof reply, &written, nullptr);  // a server that has gone fails the next read
      if (m_closeAfter > 0 && ++count >= m_closeAfter) {
        std::lock_guard lock(m_mutex);
        if (m_pipe) CloseHandle(m_pipe);
        m_pipe = nullptr;
        return;
      }
    }
    DisconnectNamedPipe(pipe);
  }
}

}  // namespace vn::testing
