// A pipe server run as a service of a test machine: serves one instance of
// \\.\pipe\NAME (out buffer 262144, in buffer 120000 bytes) for one client
// after another, answering each message:
//   "big:N"  -> a message of N bytes 'x'
//   "bye"    -> the server drops the client (DisconnectNamedPipe)
//   "who"    -> "who:" + the client's computer + "#" + its process id
//   other    -> "echo:" + the message
// Usage: pipe_echo_service NAME. Runs until it is stopped.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/core/Handles.h"
#include "platform/core/LastError.h"
#include "platform/ipc/Pipes.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: pipe_echo_service NAME\n");
    return 2;
  }
  const std::string name = std::string("\\\\.\\pipe\\") + argv[1];
  HANDLE pipe = CreateNamedPipeA(name.c_str(), PIPE_ACCESS_DUPLEX,
                                 PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, 262144, 120000, 0, nullptr);
  if (pipe == INVALID_HANDLE_VALUE) {
    std::fprintf(stderr, "pipe_echo_service: CreateNamedPipeA failed: %u\n", static_cast<unsigned>(GetLastError()));
    return 1;
  }
  std::vector<char> buffer(120000);
  for (;;) {
    if (!ConnectNamedPipe(pipe, nullptr) && GetLastError() != static_cast<DWORD>(ERROR_PIPE_CONNECTED)) return 1;
    for (;;) {
      DWORD read = 0;
      if (!ReadFile(pipe, buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr)) break;
      const std::string message(buffer.data(), read);
      if (message == "bye") break;
      std::string answer =
          message.starts_with("big:") ? std::string(std::strtoul(message.c_str() + 4, nullptr, 10), 'x')
                                      : "echo:" + message;
      if (message == "who") {
        char computer[256] = {};
        ULONG process = 0;
        answer = GetNamedPipeClientComputerNameA(pipe, computer, sizeof computer) &&
                         GetNamedPipeClientProcessId(pipe, &process)
                     ? "who:" + std::string(computer) + "#" + std::to_string(process)
                     : "who:error " + std::to_string(GetLastError());
      }
      DWORD written = 0;
      if (!WriteFile(pipe, answer.data(), static_cast<DWORD>(answer.size()), &written, nullptr)) break;
    }
    DisconnectNamedPipe(pipe);
  }
}
