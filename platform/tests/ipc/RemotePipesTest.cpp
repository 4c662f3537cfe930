// Pipes of another machine: this process is the console, SRV1 a real machine
// service on loopback that runs the echo pipe server (PipeEchoService.cpp) as
// one of its services. Every message goes console -> SRV1's service -> the
// pipe and back.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <string>
#include <thread>

#include "platform/core/Handles.h"
#include "platform/core/LastError.h"
#include "platform/ipc/Pipes.h"
#include "platform/services/ServiceControl.h"
#include "testing/MachineNetwork.h"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr const char* kEcho = "\\\\SRV1\\pipe\\Echo";

HANDLE Open(const std::string& path) {
  return CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
}

bool Send(HANDLE pipe, const std::string& text) {
  DWORD written = 0;
  return WriteFile(pipe, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) && written == text.size();
}

// One message, or "<error N>".
std::string Receive(HANDLE pipe, DWORD size = 4096) {
  std::string buffer(size, '\0');
  DWORD read = 0;
  if (!ReadFile(pipe, buffer.data(), size, &read, nullptr)) return "<error " + std::to_string(GetLastError()) + ">";
  buffer.resize(read);
  return buffer;
}

// Opens `path`, waiting while the single instance is busy (the previous
// client's break-off travels back to the server first).
HANDLE OpenWhenFree(const std::string& path) {
  for (int attempt = 0; attempt < 50; ++attempt) {
    HANDLE pipe = Open(path);
    if (pipe != INVALID_HANDLE_VALUE || GetLastError() != static_cast<DWORD>(ERROR_PIPE_BUSY)) return pipe;
    WaitNamedPipeA(path.c_str(), 5000);
  }
  return INVALID_HANDLE_VALUE;
}

class RemotePipesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto& srv1 = m_net.Add({"SRV1", "TESTDOM", vn::MachineRole::Server, {}});
    const fs::path script = srv1.driveD / "echo.sh";
    std::ofstream(script) << "#!/bin/sh\nexec '" << VN_PIPE_ECHO_SERVICE << "' Echo\n";
    fs::permissions(script, fs::perms::owner_all);
    ASSERT_TRUE(m_net.StartAll());

    SC_HANDLE manager = OpenSCManagerA("\\\\SRV1", nullptr, SC_MANAGER_ALL_ACCESS);
    ASSERT_NE(manager, nullptr) << GetLastError();
    m_service = CreateServiceA(manager, "EchoPipe", "EchoPipe", SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                               SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, "D:\\echo.sh", nullptr, nullptr, nullptr,
                               nullptr, nullptr);
    CloseServiceHandle(manager);
    ASSERT_NE(m_service, nullptr) << GetLastError();
    ASSERT_TRUE(StartServiceA(m_service, 0, nullptr)) << GetLastError();
    // The pipe exists once the server has created it.
    for (int i = 0; i < 100 && !WaitNamedPipeA(kEcho, 1000); ++i) {
      ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
      std::this_thread::sleep_for(50ms);
    }
  }

  void TearDown() override {
    if (m_service) CloseServiceHandle(m_service);
  }

  vn::testing::MachineNetwork m_net;
  SC_HANDLE m_service = nullptr;
};

TEST_F(RemotePipesTest, ClientsInTurnThroughTheMachineService) {
  HANDLE first = OpenWhenFree("\\\\srv1\\PIPE\\echo");
  ASSERT_NE(first, INVALID_HANDLE_VALUE) << GetLastError();
  EXPECT_TRUE(Send(first, "hello"));
  EXPECT_EQ(Receive(first), "echo:hello");

  DWORD flags = 99;
  DWORD out = 0;
  DWORD in = 0;
  DWORD instances = 0;
  ASSERT_TRUE(GetNamedPipeInfo(first, &flags, &out, &in, &instances));
  EXPECT_EQ(flags, PIPE_TYPE_MESSAGE | PIPE_CLIENT_END);
  EXPECT_EQ(out, 262144u);
  EXPECT_EQ(in, 120000u);
  EXPECT_EQ(instances, 1u);

  // Over the server's input buffer: refused before anything travels.
  EXPECT_FALSE(Send(first, std::string(120001, 'a')));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  // Messages longer than one network frame arrive whole, both ways.
  const std::string long1(100000, 'q');
  ASSERT_TRUE(Send(first, long1));
  EXPECT_EQ(Receive(first, 200000), "echo:" + long1);
  ASSERT_TRUE(Send(first, "big:200000"));
  std::string piece = Receive(first, 150000);
  EXPECT_EQ(piece, "<error 234>") << "a short buffer gets ERROR_MORE_DATA";
  EXPECT_EQ(Receive(first, 100000).size(), 50000u) << "and the rest comes next";

  // The first client breaks off with an answer on its way.
  ASSERT_TRUE(Send(first, "pending"));
  ASSERT_TRUE(CloseHandle(first));

  HANDLE second = OpenWhenFree(kEcho);
  ASSERT_NE(second, INVALID_HANDLE_VALUE) << GetLastError();
  EXPECT_TRUE(Send(second, "two"));
  EXPECT_EQ(Receive(second), "echo:two");
  // The server drops this client: its reads see the pipe end.
  ASSERT_TRUE(Send(second, "bye"));
  EXPECT_EQ(Receive(second), "<error 109>");
  EXPECT_TRUE(CloseHandle(second));

  HANDLE third = OpenWhenFree(kEcho);
  ASSERT_NE(third, INVALID_HANDLE_VALUE) << GetLastError();
  EXPECT_TRUE(Send(third, ""));
  EXPECT_EQ(Receive(third), "echo:");
  EXPECT_TRUE(CloseHandle(third));
}

TEST_F(RemotePipesTest, BusyUntilTheClientBeforeLetsGo) {
  HANDLE holder = OpenWhenFree(kEcho);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE) << GetLastError();

  EXPECT_EQ(Open(kEcho), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PIPE_BUSY));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(WaitNamedPipeA(kEcho, 300));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SEM_TIMEOUT));
  EXPECT_GE(std::chrono::steady_clock::now() - start, 250ms);

  auto release = std::async(std::launch::async, [holder] {
    std::this_thread::sleep_for(300ms);
    return CloseHandle(holder);
  });
  EXPECT_TRUE(WaitNamedPipeA(kEcho, 10000)) << GetLastError();
  HANDLE next = OpenWhenFree(kEcho);
  ASSERT_NE(next, INVALID_HANDLE_VALUE) << GetLastError();
  EXPECT_TRUE(Send(next, "after"));
  EXPECT_EQ(Receive(next), "echo:after");
  EXPECT_TRUE(CloseHandle(next));
  EXPECT_TRUE(release.get());
}

TEST_F(RemotePipesTest, PipesThatAreNotThere) {
  EXPECT_EQ(Open("\\\\SRV1\\pipe\\NoSuchPipe"), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(WaitNamedPipeA("\\\\SRV1\\pipe\\NoSuchPipe", 100));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(Open("\\\\NOSUCHPC\\pipe\\Echo"), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_NETPATH));

  // The server's service stops while a client is connected: the client's
  // next read finds the pipe ended, and the name is gone.
  HANDLE client = OpenWhenFree(kEcho);
  ASSERT_NE(client, INVALID_HANDLE_VALUE) << GetLastError();
  SERVICE_STATUS status{};
  ASSERT_TRUE(ControlService(m_service, SERVICE_CONTROL_STOP, &status)) << GetLastError();
  EXPECT_EQ(Receive(client), "<error 109>");
  EXPECT_TRUE(CloseHandle(client));
  EXPECT_EQ(Open(kEcho), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

  // The machine itself stops.
  m_net.Stop("SRV1");
  EXPECT_EQ(Open(kEcho), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_NETPATH));
}

}  // namespace
