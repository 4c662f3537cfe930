// The service control manager end to end: this process is the console; SRV1
// is a real machine service on loopback that runs its services (small shell
// scripts on its D: drive) as child processes.
#include "platform/services/ServiceControl.h"

#include <signal.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/core/LastError.h"
#include "platform/core/Process.h"
#include "platform/registry/Registry.h"
#include "testing/MachineNetwork.h"
#include "testing/TestFiles.h"
#include "testing/Wait.h"

namespace {

namespace fs = std::filesystem;
using vn::testing::MachineNetwork;
using vn::testing::ReadText;
using vn::testing::WaitUntil;
using vn::testing::WriteScript;

constexpr const char* kSrv1 = "\\\\SRV1";

// A process that exists and is not a zombie (an orphan waits for whoever
// adopted it to reap it).
bool Alive(pid_t pid) {
  if (::kill(pid, 0) != 0) return false;
  const std::string stat = ReadText("/proc/" + std::to_string(pid) + "/stat");
  const std::size_t close = stat.rfind(')');
  return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] != 'Z';
}

class ServiceControlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_net.Add({"SRV1", "TESTDOM", vn::MachineRole::Server, {}});
    const auto& srv1 = m_net.Machine("SRV1");
    m_scripts = srv1.driveD / "svc dir";
    m_out = srv1.driveD / "out";
    fs::create_directories(m_out);
    // Records its arguments and pid, then waits to be stopped.
    WriteScript(m_scripts, "sleeper.sh",
                "out=\"$1\"; shift\n"
                "for a in \"$@\"; do printf '%s|' \"$a\"; done > \"$out.args\"\n"
                "echo $$ > \"$out.pid\"\n"
                "exec sleep 30\n");
    // Ends at once with the exit code it is given.
    WriteScript(m_scripts, "quick.sh", "exit \"$1\"\n");
    ASSERT_TRUE(m_net.StartAll());
  }

  // The service control manager of SRV1.
  SC_HANDLE Manager() {
    SC_HANDLE manager = OpenSCManagerA(kSrv1, nullptr, SC_MANAGER_ALL_ACCESS);
    EXPECT_NE(manager, nullptr) << GetLastError();
    return manager;
  }

  SC_HANDLE Create(SC_HANDLE manager, const char* name, const std::string& binary,
                   DWORD start = SERVICE_DEMAND_START) {
    return CreateServiceA(manager, name, name, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS, start,
                          SERVICE_ERROR_NORMAL, binary.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
  }

  // The command line of the sleeper script, which writes <out>/<tag>.args and .pid.
  std::string Sleeper(const std::string& tag) const {
    return "\"D:\\svc dir\\sleeper.sh\" " + (m_out / tag).string();
  }

  // The pid a sleeper wrote to `path` once the whole line is there (0 if it
  // never is), removing the file.
  static pid_t WaitForPid(const fs::path& path) {
    const pid_t pid = vn::testing::WaitForPidFile(path);
    fs::remove(path);
    return pid;
  }

  // The status once the state is `state`, or the last one seen.
  static SERVICE_STATUS WaitForState(SC_HANDLE service, DWORD state) {
    SERVICE_STATUS status{};
    (void)WaitUntil([&] { return QueryServiceStatus(service, &status) && status.dwCurrentState == state; });
    return status;
  }

  MachineNetwork m_net;
  fs::path m_scripts;
  fs::path m_out;
};

TEST_F(ServiceControlTest, CreateStartQueryStopDelete) {
  SC_HANDLE manager = Manager();
  // Quoted program with a blank in its path, then arguments, one of them quoted.
  const std::string binary = Sleeper("sleeper") + " \"two words\"";
  SC_HANDLE service = Create(manager, "Sleeper", binary);
  ASSERT_NE(service, nullptr) << GetLastError();

  // Defined where Windows keeps it.
  HKEY remote = nullptr, key = nullptr;
  ASSERT_EQ(RegConnectRegistryA(kSrv1, HKEY_LOCAL_MACHINE, &remote), ERROR_SUCCESS);
  ASSERT_EQ(RegOpenKeyExA(remote, "SYSTEM\\CurrentControlSet\\Services\\Sleeper", 0, KEY_READ, &key), ERROR_SUCCESS);
  DWORD type = 0, value = 0, size = sizeof value;
  ASSERT_EQ(RegQueryValueExA(key, "Start", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size), ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(value, SERVICE_DEMAND_START);
  char image[512] = {};
  size = sizeof image;
  ASSERT_EQ(RegQueryValueExA(key, "ImagePath", nullptr, &type, reinterpret_cast<BYTE*>(image), &size), ERROR_SUCCESS);
  EXPECT_EQ(std::string(image), binary);
  RegCloseKey(key);

  SERVICE_STATUS status{};
  ASSERT_TRUE(QueryServiceStatus(service, &status));
  EXPECT_EQ(status.dwCurrentState, SERVICE_STOPPED);
  EXPECT_EQ(status.dwWin32ExitCode, static_cast<DWORD>(ERROR_SERVICE_NEVER_STARTED));
  EXPECT_EQ(Create(manager, "SLEEPER", binary), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_EXISTS));

  LPCSTR extra[] = {"extra"};
  ASSERT_TRUE(StartServiceA(service, 1, extra)) << GetLastError();
  status = WaitForState(service, SERVICE_RUNNING);
  EXPECT_EQ(status.dwCurrentState, SERVICE_RUNNING);
  EXPECT_EQ(status.dwServiceType, SERVICE_WIN32_OWN_PROCESS);
  EXPECT_EQ(status.dwControlsAccepted, SERVICE_ACCEPT_STOP);
  EXPECT_FALSE(StartServiceA(service, 0, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_ALREADY_RUNNING));

  // The same service through a second handle, by a name of another case.
  SC_HANDLE again = OpenServiceA(manager, "sleeper", SERVICE_ALL_ACCESS);
  ASSERT_NE(again, nullptr) << GetLastError();
  ASSERT_TRUE(QueryServiceStatus(again, &status));
  EXPECT_EQ(status.dwCurrentState, SERVICE_RUNNING);
  const pid_t pid = WaitForPid(m_out / "sleeper.pid");
  ASSERT_GT(pid, 0);
  EXPECT_EQ(ReadText(m_out / "sleeper.args"), "two words|extra|");

  ASSERT_TRUE(ControlService(again, SERVICE_CONTROL_STOP, &status)) << GetLastError();
  EXPECT_TRUE(status.dwCurrentState == SERVICE_STOPPED || status.dwCurrentState == SERVICE_STOP_PENDING);
  status = WaitForState(service, SERVICE_STOPPED);
  EXPECT_EQ(status.dwCurrentState, SERVICE_STOPPED);
  EXPECT_EQ(status.dwWin32ExitCode, 0u) << "a stop asked for is no failure";
  EXPECT_FALSE(Alive(pid)) << "the service's process is gone";
  EXPECT_FALSE(ControlService(service, SERVICE_CONTROL_STOP, &status));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_NOT_ACTIVE));

  ASSERT_TRUE(DeleteService(service)) << GetLastError();
  EXPECT_FALSE(QueryServiceStatus(again, &status));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
  EXPECT_EQ(OpenServiceA(manager, "Sleeper", SERVICE_ALL_ACCESS), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
  EXPECT_EQ(RegOpenKeyExA(remote, "SYSTEM\\CurrentControlSet\\Services\\Sleeper", 0, KEY_READ, &key),
            ERROR_FILE_NOT_FOUND);
  RegCloseKey(remote);

  EXPECT_TRUE(CloseServiceHandle(again));
  EXPECT_TRUE(CloseServiceHandle(service));
  EXPECT_TRUE(CloseServiceHandle(manager));
  EXPECT_FALSE(CloseServiceHandle(manager));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST_F(ServiceControlTest, ServiceThatEndsByItselfIsStoppedWithItsExitCode) {
  SC_HANDLE manager = Manager();
  struct Case {
    const char* name;
    std::string binary;   // unquoted, with a blank in the program's path
    DWORD win32ExitCode;
    DWORD specificExitCode;
  } cases[] = {
      {"QuickOk", "D:\\svc dir\\quick.sh 0", 0, 0},
      {"QuickFails", "D:\\svc dir\\quick.sh 7", static_cast<DWORD>(ERROR_SERVICE_SPECIFIC_ERROR), 7},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SC_HANDLE service = Create(manager, c.name, c.binary);
    ASSERT_NE(service, nullptr) << GetLastError();
    ASSERT_TRUE(StartServiceA(service, 0, nullptr)) << GetLastError();
    const SERVICE_STATUS status = WaitForState(service, SERVICE_STOPPED);
    EXPECT_EQ(status.dwCurrentState, SERVICE_STOPPED);
    EXPECT_EQ(status.dwWin32ExitCode, c.win32ExitCode);
    EXPECT_EQ(status.dwServiceSpecificExitCode, c.specificExitCode);
    // Stopped, so it can be started again.
    EXPECT_TRUE(StartServiceA(service, 0, nullptr)) << GetLastError();
    CloseServiceHandle(service);
  }
  CloseServiceHandle(manager);
}

TEST_F(ServiceControlTest, RefusalsCarryTheCodesCallersCheck) {
  SC_HANDLE manager = Manager();
  SERVICE_STATUS status{};

  EXPECT_EQ(OpenServiceA(manager, "NoSuchService", SERVICE_ALL_ACCESS), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
  EXPECT_EQ(OpenServiceA(manager, "bad\\name", SERVICE_ALL_ACCESS), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_NAME));

  // Handles: never opened, of the other kind, closed.
  EXPECT_FALSE(QueryServiceStatus(reinterpret_cast<SC_HANDLE>(std::uintptr_t{0x7ff0}), &status));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_FALSE(QueryServiceStatus(manager, &status));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  SC_HANDLE schedule = OpenServiceA(manager, "Schedule", SERVICE_ALL_ACCESS);
  ASSERT_NE(schedule, nullptr);
  EXPECT_EQ(OpenServiceA(schedule, "Schedule", SERVICE_ALL_ACCESS), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  CloseServiceHandle(schedule);
  EXPECT_FALSE(QueryServiceStatus(schedule, &status));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

  // Creation parameters out of range.
  EXPECT_EQ(CreateServiceA(manager, "Driver", nullptr, SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START,
                           SERVICE_ERROR_NORMAL, "D:\\x.sys", nullptr, nullptr, nullptr, nullptr, nullptr),
            nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

  // Starts that cannot happen.
  struct Case {
    const char* name;
    std::string binary;
    DWORD start;
    LONG error;
  } cases[] = {
      {"Missing", "D:\\svc dir\\missing.exe", SERVICE_DEMAND_START, ERROR_FILE_NOT_FOUND},
      {"MissingDir", "D:\\nowhere\\at all\\x.exe", SERVICE_DEMAND_START, ERROR_PATH_NOT_FOUND},
      {"Disabled", "D:\\svc dir\\quick.sh 0", SERVICE_DISABLED, ERROR_SERVICE_DISABLED},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SC_HANDLE service = Create(manager, c.name, c.binary, c.start);
    ASSERT_NE(service, nullptr) << GetLastError();
    EXPECT_FALSE(StartServiceA(service, 0, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(c.error));
    ASSERT_TRUE(QueryServiceStatus(service, &status));
    EXPECT_EQ(status.dwCurrentState, SERVICE_STOPPED);
    CloseServiceHandle(service);
  }

  // A service deleted while it runs stays until it stops; its name cannot be
  // used again before that.
  SC_HANDLE sleeper = Create(manager, "Doomed", Sleeper("doomed"));
  ASSERT_NE(sleeper, nullptr);
  ASSERT_TRUE(StartServiceA(sleeper, 0, nullptr)) << GetLastError();
  ASSERT_TRUE(DeleteService(sleeper));
  EXPECT_FALSE(DeleteService(sleeper));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_MARKED_FOR_DELETE));
  EXPECT_EQ(Create(manager, "Doomed", "D:\\svc dir\\quick.sh 0"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_MARKED_FOR_DELETE));
  ASSERT_TRUE(QueryServiceStatus(sleeper, &status));
  EXPECT_EQ(status.dwCurrentState, SERVICE_RUNNING);
  ASSERT_TRUE(ControlService(sleeper, SERVICE_CONTROL_STOP, &status));
  SC_HANDLE reborn = nullptr;
  EXPECT_TRUE(WaitUntil([&] { return (reborn = Create(manager, "Doomed", "D:\\svc dir\\quick.sh 0")) != nullptr; }))
      << "the name is free once the deleted service has stopped";
  CloseServiceHandle(reborn);
  CloseServiceHandle(sleeper);
  CloseServiceHandle(manager);
}

TEST_F(ServiceControlTest, ScheduleIsABuiltInServiceThatStopsAndStarts) {
  SC_HANDLE manager = Manager();
  SC_HANDLE schedule = OpenServiceA(manager, "Schedule", SERVICE_ALL_ACCESS);
  ASSERT_NE(schedule, nullptr) << GetLastError();
  SERVICE_STATUS status{};
  ASSERT_TRUE(QueryServiceStatus(schedule, &status));
  EXPECT_EQ(status.dwCurrentState, SERVICE_RUNNING);

  ASSERT_TRUE(ControlService(schedule, SERVICE_CONTROL_STOP, &status));
  EXPECT_EQ(status.dwCurrentState, SERVICE_STOPPED);
  EXPECT_FALSE(ControlService(schedule, SERVICE_CONTROL_STOP, &status));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_NOT_ACTIVE));
  EXPECT_FALSE(ControlService(schedule, SERVICE_CONTROL_PAUSE, &status));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_SERVICE_CONTROL));

  ASSERT_TRUE(StartServiceA(schedule, 0, nullptr)) << GetLastError();
  ASSERT_TRUE(QueryServiceStatus(schedule, &status));
  EXPECT_EQ(status.dwCurrentState, SERVICE_RUNNING);
  EXPECT_FALSE(StartServiceA(schedule, 0, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_ALREADY_RUNNING));
  CloseServiceHandle(schedule);
  CloseServiceHandle(manager);
}

TEST_F(ServiceControlTest, NoServiceOutlivesItsMachineService) {
  // A service with a process of its own in its group.
  WriteScript(m_scripts, "family.sh",
              "out=\"$1\"\n"
              "sleep 30 &\n"
              "echo $! > \"$out.child\"\n"
              "echo $$ > \"$out.pid\"\n"
              "wait\n");
  SC_HANDLE manager = Manager();
  SC_HANDLE service = Create(manager, "Family", "\"D:\\svc dir\\family.sh\" " + (m_out / "auto").string(),
                             SERVICE_AUTO_START);
  ASSERT_NE(service, nullptr) << GetLastError();
  ASSERT_TRUE(StartServiceA(service, 0, nullptr)) << GetLastError();
  const pid_t first = WaitForPid(m_out / "auto.pid");
  const pid_t firstChild = WaitForPid(m_out / "auto.child");
  ASSERT_GT(first, 0);
  ASSERT_GT(firstChild, 0);

  // Stopped politely, the machine service stops its services, groups and all.
  m_net.Stop("SRV1");
  EXPECT_FALSE(Alive(first));
  EXPECT_TRUE(vn::WaitForProcessEnd(firstChild, std::chrono::seconds(10)));
  SERVICE_STATUS status{};
  EXPECT_FALSE(QueryServiceStatus(service, &status));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(RPC_S_SERVER_UNAVAILABLE));

  // Started again, it starts the automatic service again.
  ASSERT_TRUE(m_net.Start("SRV1"));
  ASSERT_TRUE(QueryServiceStatus(service, &status)) << GetLastError();
  EXPECT_EQ(status.dwCurrentState, SERVICE_RUNNING);
  const pid_t second = WaitForPid(m_out / "auto.pid");
  const pid_t secondChild = WaitForPid(m_out / "auto.child");
  ASSERT_GT(second, 0);
  ASSERT_GT(secondChild, 0);

  // Killed, the machine service takes its service's process with it; what
  // that process started lives on until the next machine service ends it,
  // before it starts a fresh one.
  m_net.Stop("SRV1", /*kill=*/true);
  EXPECT_TRUE(vn::WaitForProcessEnd(second, std::chrono::seconds(10))) << "the service outlived its machine service";
  EXPECT_TRUE(Alive(secondChild));
  ASSERT_TRUE(m_net.Start("SRV1"));
  EXPECT_TRUE(vn::WaitForProcessEnd(secondChild, std::chrono::seconds(10)));
  EXPECT_GT(WaitForPid(m_out / "auto.pid"), 0);
  // The connection broken by the kill is made again for the very next call.
  ASSERT_TRUE(QueryServiceStatus(service, &status)) << GetLastError();
  EXPECT_EQ(status.dwCurrentState, SERVICE_RUNNING);
  EXPECT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &status));
  EXPECT_EQ(WaitForState(service, SERVICE_STOPPED).dwCurrentState, SERVICE_STOPPED);
  CloseServiceHandle(service);
  CloseServiceHandle(manager);
}

TEST_F(ServiceControlTest, ReachingTheManager) {
  // This machine's own manager is its own machine service, not started yet.
  EXPECT_EQ(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(RPC_S_SERVER_UNAVAILABLE));
  ASSERT_TRUE(m_net.Start("CONSOLE"));
  for (const char* name : {static_cast<const char*>(nullptr), "", "CONSOLE", "\\\\console"}) {
    SCOPED_TRACE(name ? name : "(null)");
    SC_HANDLE manager = OpenSCManagerA(name, SERVICES_ACTIVE_DATABASEA, SC_MANAGER_ALL_ACCESS);
    ASSERT_NE(manager, nullptr) << GetLastError();
    SC_HANDLE schedule = OpenServiceA(manager, "SCHEDULE", SERVICE_QUERY_STATUS);
    EXPECT_NE(schedule, nullptr) << GetLastError();
    CloseServiceHandle(schedule);
    CloseServiceHandle(manager);
  }
  EXPECT_EQ(OpenSCManagerA(nullptr, "OtherDatabase", SC_MANAGER_ALL_ACCESS), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DATABASE_DOES_NOT_EXIST));
  EXPECT_EQ(OpenSCManagerA("\\\\NOSUCHMACHINE", nullptr, SC_MANAGER_ALL_ACCESS), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_NETPATH));

  // Without an identity in the domain, SRV1 is out of reach.
  m_net.SetIdentity("CONSOLE", "TESTDOM", vn::testing::TestIdentity::None);
  EXPECT_EQ(OpenSCManagerA(kSrv1, nullptr, SC_MANAGER_ALL_ACCESS), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

}  // namespace
