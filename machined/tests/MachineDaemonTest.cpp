// The machine service as an object in this process: SRV1 of a test network is
// served by a MachineDaemon built here instead of a vnmachined process, and
// this process (the network's CONSOLE) calls it through the platform's own
// calls on loopback.
#include "machined/MachineDaemon.h"

#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <sstream>
#include <string>
#include <thread>

#include "machined/ServiceManager.h"
#include "platform/core/LastError.h"
#include "platform/core/Process.h"
#include "platform/core/UniqueFd.h"
#include "platform/hive/RegistryHive.h"
#include "platform/net/Net.h"
#include "platform/services/ServiceControl.h"
#include "testing/MachineNetwork.h"
#include "testing/TestFiles.h"
#include "testing/Wait.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using vn::testing::MachineNetwork;

using vn::testing::ReadText;
using vn::testing::WaitUntil;
using vn::testing::WriteScript;

pid_t WaitForPid(const fs::path& path) { return vn::testing::WaitForPidFile(path); }

// True when this process has no child left, running or unreaped.
bool NoChildren() { return ::waitpid(-1, nullptr, WNOHANG) == -1 && errno == ECHILD; }

class MachineDaemonTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_srv1 = &m_net.Add({"SRV1", "TESTDOM", vn::MachineRole::Server, {"Data"}});
    m_pidFile = m_srv1->home / "vnmachined.pid";
  }

  MachineNetwork m_net;
  const vn::testing::TestMachine* m_srv1 = nullptr;
  fs::path m_pidFile;
};

TEST_F(MachineDaemonTest, ServesItsMachineAndLeavesNothingWhenStopped) {
  WriteScript(m_srv1->driveD, "sleeper.sh", "echo $$ > \"$1\"\nexec sleep 30\n");
  const fs::path servicePid = m_srv1->driveD / "sleeper.pid";
  {
    vn::MachineDaemon daemon(m_srv1->home);
    std::string error;
    ASSERT_TRUE(daemon.Start(&error)) << error;
    EXPECT_EQ(daemon.Port(), m_srv1->port);
    EXPECT_EQ(daemon.Address(), "127.0.0.1:" + std::to_string(m_srv1->port));
    EXPECT_EQ(ReadText(m_pidFile), std::to_string(::getpid()) + "\n");

    // Calls from this machine reach it: its server information, and its
    // service control manager, which starts a service.
    LPBYTE buffer = nullptr;
    ASSERT_EQ(NetServerGetInfo(u"\\\\SRV1", 100, &buffer), NERR_Success);
    NetApiBufferFree(buffer);
    SC_HANDLE manager = OpenSCManagerA("\\\\SRV1", nullptr, SC_MANAGER_ALL_ACCESS);
    ASSERT_NE(manager, nullptr) << GetLastError();
    const std::string image = "D:\\sleeper.sh " + servicePid.string();
    SC_HANDLE service = CreateServiceA(manager, "Sleeper", nullptr, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                       SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, image.c_str(), nullptr, nullptr,
                                       nullptr, nullptr, nullptr);
    ASSERT_NE(service, nullptr) << GetLastError();
    EXPECT_TRUE(StartServiceA(service, 0, nullptr)) << GetLastError();
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    ASSERT_GT(WaitForPid(servicePid), 0);

    daemon.Stop();
    daemon.Wait();
    EXPECT_FALSE(fs::exists(m_pidFile));
    EXPECT_TRUE(NoChildren()) << "the service's process was stopped and reaped";
    EXPECT_EQ(OpenSCManagerA("\\\\SRV1", nullptr, SC_MANAGER_ALL_ACCESS), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(RPC_S_SERVER_UNAVAILABLE)) << "nobody serves SRV1 any more";
  }
  // Started again on the same home after a clean stop.
  vn::MachineDaemon again(m_srv1->home);
  std::string error;
  EXPECT_TRUE(again.Start(&error)) << error;
}

TEST_F(MachineDaemonTest, RefusesToStartWhereItCannotAndLeavesNothing) {
  vn::MachineDaemon running(m_srv1->home);
  std::string error;
  ASSERT_TRUE(running.Start(&error)) << error;

  // A second service for the same machine.
  {
    vn::MachineDaemon second(m_srv1->home);
    EXPECT_FALSE(second.Start(&error));
    EXPECT_NE(error.find("another service is running for this machine"), std::string::npos) << error;
  }
  EXPECT_EQ(ReadText(m_pidFile), std::to_string(::getpid()) + "\n") << "the running one keeps its pid file";

  // A machine whose port is taken, and one whose configuration is bad.
  const auto& srv2 = m_net.Add({"SRV2", "TESTDOM", vn::MachineRole::Server, {}});
  vn::UniqueFd taken(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(srv2.port);
  ASSERT_EQ(::bind(taken.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(taken.Get(), 1), 0);
  const auto& srv3 = m_net.Add({"SRV3", "TESTDOM", vn::MachineRole::Server, {}});
  std::ofstream(srv3.home / "machine.ini") << "[Machine]\nName=SRV3\nListen=127.0.0.1:99999\n";
  struct Case {
    const char* what;
    fs::path home;
    const char* error;
  } cases[] = {
      {"port taken", srv2.home, "in use (another program holds the port); give this machine another Listen= in"},
      {"bad configuration", srv3.home, "Listen"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    vn::MachineDaemon daemon(c.home);
    EXPECT_FALSE(daemon.Start(&error));
    EXPECT_NE(error.find(c.error), std::string::npos) << error;
    EXPECT_FALSE(fs::exists(c.home / "vnmachined.pid"));
  }
}

TEST_F(MachineDaemonTest, EndsWhenItsPidFileGoes) {
  vn::MachineDaemon daemon(m_srv1->home);
  std::string error;
  ASSERT_TRUE(daemon.Start(&error)) << error;
  fs::remove(m_pidFile);
  auto waited = std::async(std::launch::async, [&] { daemon.Wait(); });
  ASSERT_EQ(waited.wait_for(vn::testing::kWaitCeiling), std::future_status::ready) << "the service outlived its home";
}

// A service is started on a thread that lives as long as the manager: a call
// made on a thread that then ends (the server's pool threads come and go)
// must not take the service with it through the service's parent-death
// signal.
TEST_F(MachineDaemonTest, AServiceOutlivesTheThreadOfTheCallThatStartedIt) {
  // Ends with 7 when it is stopped (SIGTERM), which a kill would not give.
  WriteScript(m_srv1->driveD, "trap.sh",
              "trap 'exit 7' TERM\n"
              "echo $$ > \"$1\"\n"
              "sleep 30 &\n"
              "wait $!\n");
  const fs::path pidFile = m_srv1->driveD / "trap.pid";
  auto config = std::make_shared<vn::MachineConfig>();
  std::string error;
  ASSERT_TRUE(vn::LoadMachineConfig(m_srv1->home, config.get(), &error)) << error;
  LONG hiveError = ERROR_SUCCESS;
  auto hive = vn::OpenLocalHive(m_srv1->home.string(), &hiveError);
  ASSERT_NE(hive, nullptr) << hiveError;
  vn::ServiceManager manager(config, hive);
  vn::ServiceDefinition definition;
  definition.name = "Trapper";
  definition.imagePath = "D:\\trap.sh " + pidFile.string();
  ASSERT_EQ(manager.Create(definition), ERROR_SUCCESS);

  pid_t callerThread = 0;
  std::thread caller([&] {
    callerThread = static_cast<pid_t>(::syscall(SYS_gettid));
    EXPECT_EQ(manager.StartService("Trapper", {}), ERROR_SUCCESS);
  });
  caller.join();
  // Once the thread is gone from the process, any parent-death signal it
  // would cause has been sent.
  const fs::path task = "/proc/self/task/" + std::to_string(callerThread);
  ASSERT_TRUE(WaitUntil([&] { return !fs::exists(task); }));
  ASSERT_GT(WaitForPid(pidFile), 0);

  SERVICE_STATUS status{};
  ASSERT_EQ(manager.Control("Trapper", SERVICE_CONTROL_STOP, &status), ERROR_SUCCESS)
      << "the service was no longer running";
  ASSERT_TRUE(WaitUntil([&] {
    return manager.Query("Trapper", &status) == ERROR_SUCCESS && status.dwCurrentState == SERVICE_STOPPED;
  }));
  EXPECT_EQ(status.dwWin32ExitCode, static_cast<DWORD>(ERROR_SERVICE_SPECIFIC_ERROR));
  EXPECT_EQ(status.dwServiceSpecificExitCode, 7u) << "ended by its stop, not killed before";
}

}  // namespace
