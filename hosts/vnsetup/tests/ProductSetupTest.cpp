// vnsetup on a test machine: SRV1 is a real machine service on loopback;
// vnsetup runs as SRV1's own program (VORNAL_HOME = SRV1's home), as `make
// run` runs it on the product's machine. This process is the console and
// checks the outcome through SRV1's service, as an administrator would.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

#include "console/core/reports/ReportSet.h"
#include "console/core/reports/ReportSetStore.h"
#include "platform/core/LastError.h"
#include "platform/core/Process.h"
#include "platform/machine/MachineConfig.h"
#include "platform/machine/PathMap.h"
#include "platform/registry/Registry.h"
#include "platform/services/ServiceControl.h"
#include "testing/MachineNetwork.h"
#include "testing/TestFiles.h"
#include "testing/Wait.h"
#include "vncli/KSCli.h"

namespace {

namespace fs = std::filesystem;
using vn::testing::ReadText;

class ProductSetupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_srv1 = &m_net.Add({"SRV1", "TESTDOM", vn::MachineRole::Server, {}});
    ASSERT_TRUE(m_net.StartAll());
    std::string error;
    ASSERT_TRUE(vn::LoadMachineConfig(m_srv1->home, &m_config, &error)) << error;
  }

  void TearDown() override {
    SC_HANDLE manager = OpenSCManagerA("\\\\SRV1", nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE service = manager ? OpenServiceA(manager, "RODuduro", SERVICE_ALL_ACCESS) : nullptr;
    SERVICE_STATUS status{};
    if (service && ControlService(service, SERVICE_CONTROL_STOP, &status)) {
      EXPECT_TRUE(vn::testing::WaitUntil([&] {
        return QueryServiceStatus(service, &status) && status.dwCurrentState == SERVICE_STOPPED;
      }));
    }
    if (service) CloseServiceHandle(service);
    if (manager) CloseServiceHandle(manager);
  }

  // Runs vnsetup as SRV1's program; its exit code, with its output in *log.
  int RunSetup(std::string* log) {
    const fs::path output = m_net.Root() / "setup.log";
    fs::remove(output);
    vn::ProcessOptions options;
    options.program = VN_VNSETUP;
    options.arguments = {"--server", VN_VNSRV};
    options.environment = {"VORNAL_HOME=" + m_srv1->home.string(), "VORNAL_NO_AUTOSTART=1"};
    options.output = vn::ChildStream::AppendTo(output);
    options.error = vn::ChildStream::SameAsOutput();
    pid_t pid = 0;
    std::string detail;
    if (vn::StartProcess(options, &pid, &detail) != 0) {
      ADD_FAILURE() << detail;
      return -1;
    }
    const vn::ProcessExit exit = vn::WaitProcess(pid);
    *log = ReadText(output);
    return exit.Exited() ? exit.code : 128 + exit.signal;
  }

  fs::path HostPath(const std::string& windowsPath) const {
    vn::ResolvedPath resolved;
    EXPECT_EQ(vn::ResolvePath(m_config, {windowsPath.substr(0, 2), windowsPath.substr(2)},
                              vn::RootAccess::SharesAndDrives, vn::PathKind::Name, &resolved),
              ERROR_SUCCESS);
    return resolved.host;
  }

  // Every value of the product key, as text.
  static std::map<std::string, std::string> ProductValues() {
    std::map<std::string, std::string> values;
    HKEY remote = nullptr, key = nullptr;
    EXPECT_EQ(RegConnectRegistryA("\\\\SRV1", HKEY_LOCAL_MACHINE, &remote), ERROR_SUCCESS);
    EXPECT_EQ(RegOpenKeyExA(remote, "Software\\Halvard\\Vornal\\4.0", 0, KEY_READ, &key), ERROR_SUCCESS);
    for (DWORD index = 0;; ++index) {
      char name[256];
      BYTE data[1024];
      DWORD nameSize = sizeof name, type = 0, dataSize = sizeof data;
      if (RegEnumValueA(key, index, name, &nameSize, nullptr, &type, data, &dataSize) != ERROR_SUCCESS) break;
      values[name] = type == REG_DWORD ? std::to_string(*reinterpret_cast<DWORD*>(data))
                                       : std::string(reinterpret_cast<char*>(data));
    }
    RegCloseKey(key);
    RegCloseKey(remote);
    return values;
  }

  // Name, size and modification time of every file the setup writes.
  std::map<std::string, std::string> Files() const {
    std::map<std::string, std::string> files;
    for (const auto& root : {HostPath("S:\\Program Files\\Pemberlyn"), HostPath(m_config.windowsDirectory)}) {
      for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (!entry.is_regular_file()) continue;
        files[entry.path().string()] = std::to_string(entry.file_size()) + "@" +
                                       std::to_string(entry.last_write_time().time_since_epoch().count());
      }
    }
    return files;
  }

  vn::testing::MachineNetwork m_net;
  const vn::testing::TestMachine* m_srv1 = nullptr;
  vn::MachineConfig m_config;
};

TEST_F(ProductSetupTest, SetsTheMachineUpOnceAndChangesNothingTheSecondTime) {
  std::string log;
  ASSERT_EQ(RunSetup(&log), 0) << log;
  EXPECT_NE(log.find("created the service RODuduro (automatic start)"), std::string::npos) << log;
  EXPECT_NE(log.find("stored the report set \"Security Audit\""), std::string::npos) << log;

  const auto values = ProductValues();
  EXPECT_EQ(values.at("Vornal_DIR"), "S:\\Program Files\\Pemberlyn\\4.0");
  EXPECT_EQ(values.at("ServerInstalled"), "1");
  EXPECT_EQ(values.at("ClientInstalled"), "1");
  EXPECT_EQ(values.at("ReleaseBuild"), "434");
  EXPECT_EQ(values.at("CurrentVersion"), "4.0");
  EXPECT_EQ(values.at("ServerLogging"), "Disabled");

  const fs::path dist = HostPath("S:\\Program Files\\Pemberlyn\\4.0\\VNDist");
  for (const char* name : {"VNSrv.exe", "pbuninst.exe", "VNMsgs.dll", "ReportsNT.dll", "Readme.txt", "VNReadme.txt",
                           "VNRelnotes.html"}) {
    EXPECT_TRUE(fs::is_regular_file(dist / name)) << name;
  }
  EXPECT_EQ(ReadText(dist / "VNSrv.exe"), ReadText(VN_VNSRV));
  EXPECT_TRUE(fs::is_regular_file(HostPath(m_config.windowsDirectory) / "pbuninst.exe"));

  // The installed copy of the server runs as the service and answers.
  vn::KSCli client;
  ASSERT_TRUE(vn::testing::WaitUntil([&] { return client.Connect("SRV1") == 0; })) << log;
  char version[8], build[8], platform[20], machine[80], domain[80], started[32], results[260], runs[32], keep[32];
  ASSERT_EQ(client.GetProperties(version, build, platform, machine, domain, started, results, runs, keep), 0u);
  EXPECT_STREQ(build, "434");
  client.Disconnect();
  SC_HANDLE manager = OpenSCManagerA("\\\\SRV1", nullptr, SC_MANAGER_CONNECT);
  HKEY remote = nullptr, key = nullptr;
  ASSERT_EQ(RegConnectRegistryA("\\\\SRV1", HKEY_LOCAL_MACHINE, &remote), ERROR_SUCCESS);
  ASSERT_EQ(RegOpenKeyExA(remote, "SYSTEM\\CurrentControlSet\\Services\\RODuduro", 0, KEY_READ, &key), ERROR_SUCCESS);
  DWORD start = 0, type = 0, size = sizeof start;
  ASSERT_EQ(RegQueryValueExA(key, "Start", nullptr, &type, reinterpret_cast<BYTE*>(&start), &size), ERROR_SUCCESS);
  EXPECT_EQ(start, SERVICE_AUTO_START);
  CloseServiceHandle(manager);

  vn::console::ReportSet set;
  for (const char* name : {"Daily Space Check", "Cleanup Candidates", "Security Audit"}) {
    EXPECT_EQ(vn::console::LoadReportSet("SRV1", name, set), ERROR_SUCCESS) << name;
  }

  // An administrator's choice survives a second run, which changes nothing.
  HKEY product = nullptr;
  ASSERT_EQ(RegOpenKeyExA(remote, "Software\\Halvard\\Vornal\\4.0", 0, KEY_ALL_ACCESS, &product), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(product, "ServerLogging", 0, REG_SZ, reinterpret_cast<const BYTE*>("Enabled"), 8),
            ERROR_SUCCESS);
  RegCloseKey(product);
  RegCloseKey(key);
  RegCloseKey(remote);
  const auto valuesBefore = ProductValues();
  const auto filesBefore = Files();
  const std::string pidBefore = ReadText(m_srv1->home / "services" / "RODuduro.pid");
  ASSERT_EQ(RunSetup(&log), 0) << log;
  EXPECT_EQ(log.find("\nwrote "), std::string::npos) << log;
  EXPECT_EQ(log.find("\nset "), std::string::npos) << log;
  EXPECT_EQ(log.find("\nstarted "), std::string::npos) << log;
  EXPECT_EQ(log.find("\nstored "), std::string::npos) << log;
  EXPECT_EQ(ProductValues(), valuesBefore);
  EXPECT_EQ(Files(), filesBefore);
  EXPECT_EQ(ReadText(m_srv1->home / "services" / "RODuduro.pid"), pidBefore) << "the server was not restarted";
}

}  // namespace
