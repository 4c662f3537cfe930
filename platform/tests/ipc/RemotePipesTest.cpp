// Pipes of another machine: this process is the console, SRV1 a real machine
// service on loopback that runs the echo pipe server (PipeEchoService.cpp) as
// one of its services. Every message goes console -> SRV1's service -> the
// pipe and back.
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <string>

#include "platform/core/Handles.h"
#include "platform/core/LastError.h"
#include "platform/ipc/Pipes.h"
#include "platform/services/ServiceControl.h"
#include "testing/MachineNetwork.h"
#include "testing/TestPipes.h"
#include "testing/Wait.h"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using vn::testing::OpenPipe;
using vn::testing::OpenPipeWhenFree;
using vn::testing::Receive;
using vn::testing::Send;
using vn::testing::WaitUntil;

constexpr const char* kEcho = "\\\\SRV1\\pipe\\Echo";

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
    ASSERT_TRUE(WaitUntil([] { return WaitNamedPipeA(kEcho, 1000) != FALSE; })) << GetLastError();
  }

  void TearDown() override {
    if (!m_service) return;
    // The network's teardown kills the machine services outright, which
    // leaves their services running: stop the echo server first.
    SERVICE_STATUS status{};
    if (ControlService(m_service, SERVICE_CONTROL_STOP, &status)) {
      EXPECT_TRUE(WaitUntil([&] {
        return QueryServiceStatus(m_service, &status) && status.dwCurrentState == SERVICE_STOPPED;
      })) << "the echo server did not stop";
    }
    CloseServiceHandle(m_service);
  }

  vn::testing::MachineNetwork m_net;
  SC_HANDLE m_service = nullptr;
};

TEST_F(RemotePipesTest, ClientsInTurnThroughTheMachineService) {
  HANDLE first = OpenPipeWhenFree("\\\\srv1\\PIPE\\echo");
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

  HANDLE second = OpenPipeWhenFree(kEcho);
  ASSERT_NE(second, INVALID_HANDLE_VALUE) << GetLastError();
  EXPECT_TRUE(Send(second, "two"));
  EXPECT_EQ(Receive(second), "echo:two");
  // The server drops this client: its reads see the pipe end.
  ASSERT_TRUE(Send(second, "bye"));
  EXPECT_EQ(Receive(second), "<error 109>");
  EXPECT_TRUE(CloseHandle(second));

  HANDLE third = OpenPipeWhenFree(kEcho);
  ASSERT_NE(third, INVALID_HANDLE_VALUE) << GetLastError();
  EXPECT_TRUE(Send(third, ""));
  EXPECT_EQ(Receive(third), "echo:");
  EXPECT_TRUE(CloseHandle(third));
}

// Through the machine service the pipe's server sees the caller, not the
// service: the caller's machine and the process it named.
TEST_F(RemotePipesTest, TheServerSeesTheCallerAsItsClient) {
  HANDLE client = OpenPipeWhenFree(kEcho);
  ASSERT_NE(client, INVALID_HANDLE_VALUE) << GetLastError();
  EXPECT_TRUE(Send(client, "who"));
  EXPECT_EQ(Receive(client), "who:CONSOLE#" + std::to_string(::getpid()));
  EXPECT_TRUE(CloseHandle(client));
}

TEST_F(RemotePipesTest, BusyUntilTheClientBeforeLetsGo) {
  HANDLE holder = OpenPipeWhenFree(kEcho);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE) << GetLastError();

  EXPECT_EQ(OpenPipe(kEcho), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PIPE_BUSY));
  EXPECT_FALSE(WaitNamedPipeA(kEcho, 100));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SEM_TIMEOUT));

  // A waiter is held while the client holds the instance, and let through
  // when it lets go, long before its own time-out.
  auto waiter = std::async(std::launch::async, [] {
    const BOOL free = WaitNamedPipeA(kEcho, 60000);
    return free ? DWORD{0} : GetLastError();
  });
  EXPECT_EQ(waiter.wait_for(300ms), std::future_status::timeout) << "let through while the instance is held";
  ASSERT_TRUE(CloseHandle(holder));
  ASSERT_EQ(waiter.wait_for(vn::testing::kWaitCeiling), std::future_status::ready);
  EXPECT_EQ(waiter.get(), 0u);
  HANDLE next = OpenPipeWhenFree(kEcho);
  ASSERT_NE(next, INVALID_HANDLE_VALUE) << GetLastError();
  EXPECT_TRUE(Send(next, "after"));
  EXPECT_EQ(Receive(next), "echo:after");
  EXPECT_TRUE(CloseHandle(next));
}

TEST_F(RemotePipesTest, PipesThatAreNotThere) {
  EXPECT_EQ(OpenPipe("\\\\SRV1\\pipe\\NoSuchPipe"), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(WaitNamedPipeA("\\\\SRV1\\pipe\\NoSuchPipe", 100));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(OpenPipe("\\\\NOSUCHPC\\pipe\\Echo"), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_NETPATH));

  // The server's service stops while a client is connected: the client's
  // next read finds the pipe ended, and the name is gone.
  HANDLE client = OpenPipeWhenFree(kEcho);
  ASSERT_NE(client, INVALID_HANDLE_VALUE) << GetLastError();
  SERVICE_STATUS status{};
  ASSERT_TRUE(ControlService(m_service, SERVICE_CONTROL_STOP, &status)) << GetLastError();
  EXPECT_EQ(Receive(client), "<error 109>");
  EXPECT_TRUE(CloseHandle(client));
  EXPECT_EQ(OpenPipe(kEcho), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

  // The machine itself stops.
  m_net.Stop("SRV1");
  EXPECT_EQ(OpenPipe(kEcho), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_NETPATH));
}

TEST_F(RemotePipesTest, ACallerOverItsPipeLimitIsToldSo) {
  // SRV1 again, allowing each caller one relayed pipe.
  SERVICE_STATUS status{};
  ASSERT_TRUE(ControlService(m_service, SERVICE_CONTROL_STOP, &status)) << GetLastError();
  ASSERT_TRUE(WaitUntil(
      [&] { return QueryServiceStatus(m_service, &status) && status.dwCurrentState == SERVICE_STOPPED; }));
  m_net.Stop("SRV1");
  std::ofstream(m_net.Machine("SRV1").home / "machine.ini", std::ios::app) << "\n[Limits]\nPipesPerClient = 1\n";
  ASSERT_TRUE(m_net.Start("SRV1"));
  ASSERT_TRUE(StartServiceA(m_service, 0, nullptr)) << GetLastError();
  ASSERT_TRUE(WaitUntil([] { return WaitNamedPipeA(kEcho, 1000) != FALSE; })) << GetLastError();

  HANDLE holder = OpenPipeWhenFree(kEcho);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE) << GetLastError();
  // Refused by the machine before the pipe is asked (which would say busy).
  EXPECT_EQ(OpenPipe(kEcho), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_REQ_NOT_ACCEP));
  EXPECT_TRUE(Send(holder, "still here"));
  EXPECT_EQ(Receive(holder), "echo:still here");
  ASSERT_TRUE(CloseHandle(holder));
  // The place comes back once SRV1 has seen the close, which the close does
  // not wait for.
  HANDLE next = INVALID_HANDLE_VALUE;
  ASSERT_TRUE(WaitUntil([&] {
    next = OpenPipe(kEcho);
    return next != INVALID_HANDLE_VALUE;
  })) << GetLastError();
  EXPECT_TRUE(Send(next, "after"));
  EXPECT_EQ(Receive(next), "echo:after");
  EXPECT_TRUE(CloseHandle(next));
}

}  // namespace
