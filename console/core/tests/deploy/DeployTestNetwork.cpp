#include "console/core/tests/deploy/DeployTestNetwork.h"

#include <gtest/gtest.h>

#include <cstring>

#include "console/core/deploy/ServerService.h"
#include "console/core/reports/ReportSetStore.h"
#include "platform/machine/MachineSetup.h"
#include "platform/machine/PathMap.h"
#include "platform/registry/Registry.h"
#include "testing/TestFiles.h"
#include "testing/Wait.h"

namespace vn::testing {

namespace fs = std::filesystem;

DeployTestNetwork::DeployTestNetwork(const std::vector<std::string>& machines) {
  for (const auto& name : machines) m_net.Add({name, "TESTDOM", MachineRole::Server, {}});
  EXPECT_TRUE(m_net.StartAll());
  MachineConfig console;
  std::string error;
  EXPECT_TRUE(LoadMachineConfig(m_net.Console().home, &console, &error)) << error;
  EXPECT_EQ(InitialiseMachine(console), ERROR_SUCCESS);

  const fs::path dist = Distribution();
  fs::create_directories(dist);
  fs::copy_file(VN_VNSRV, dist / "VNSrv.exe", fs::copy_options::overwrite_existing);
  WriteText(dist / "pbuninst.exe", "#!/bin/sh\nexit 1\n");
  for (const char* name : {"VNMsgs.dll", "ReportsNT.dll", "Readme.txt", "VNReadme.txt", "VNRelnotes.html"})
    WriteText(dist / name, std::string("build 434: ") + name + "\r\n");
  const std::string product = console::kProductKey;
  EXPECT_EQ(RegPutText("", product, "Vornal_DIR", kConsoleProduct), ERROR_SUCCESS);
  EXPECT_EQ(RegPutNumber("", product, "ServerInstalled", 1), ERROR_SUCCESS);
  EXPECT_EQ(RegPutNumber("", product, "ClientInstalled", 1), ERROR_SUCCESS);
  EXPECT_EQ(RegPutText("", product, "ReleaseBuild", "434"), ERROR_SUCCESS);
  EXPECT_EQ(RegPutText("", product, "MailProfile", "Operators"), ERROR_SUCCESS);
  EXPECT_EQ(RegPutText("", console::kMailKey, "SMTP Server", "mail.testdom"), ERROR_SUCCESS);
  EXPECT_EQ(RegPutText("", console::kMailKey, "Sender", "vornal@testdom"), ERROR_SUCCESS);
}

fs::path DeployTestNetwork::HostPath(const std::string& machine, const std::string& windowsPath) {
  MachineConfig config;
  std::string error;
  EXPECT_TRUE(LoadMachineConfig(m_net.Machine(machine).home, &config, &error)) << error;
  ResolvedPath resolved;
  EXPECT_EQ(ResolvePath(config, {windowsPath.substr(0, 2), windowsPath.substr(2)}, RootAccess::SharesAndDrives,
                        PathKind::Name, &resolved),
            ERROR_SUCCESS)
      << windowsPath;
  return resolved.host;
}

namespace {

// Opens `key` of the machine's HKEY_LOCAL_MACHINE; `create` makes it.
struct TestKey {
  HKEY root = nullptr;
  HKEY key = nullptr;
  LONG code = ERROR_SUCCESS;
  TestKey(const std::string& machine, const std::string& path, bool create) {
    code = console::ConnectMachineRegistry(machine, &root);
    if (code) {
      root = nullptr;
      return;
    }
    code = create ? RegCreateKeyExA(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                                    &key, nullptr)
                  : RegOpenKeyExA(root, path.c_str(), 0, KEY_ALL_ACCESS, &key);
  }
  ~TestKey() {
    if (key) RegCloseKey(key);
    if (root) console::CloseMachineRegistry(root);
  }
};

}  // namespace

std::optional<std::string> RegText(const std::string& machine, const std::string& key, const std::string& value) {
  TestKey opened(machine, key, false);
  if (opened.code) return std::nullopt;
  char data[1024] = {};
  DWORD type = 0, size = sizeof data - 1;
  if (RegQueryValueExA(opened.key, value.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data), &size))
    return std::nullopt;
  return std::string(data, std::strlen(data));
}

std::optional<DWORD> RegNumber(const std::string& machine, const std::string& key, const std::string& value) {
  TestKey opened(machine, key, false);
  if (opened.code) return std::nullopt;
  DWORD data = 0, type = 0, size = sizeof data;
  if (RegQueryValueExA(opened.key, value.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&data), &size) ||
      type != REG_DWORD)
    return std::nullopt;
  return data;
}

bool RegKeyExists(const std::string& machine, const std::string& key) {
  return TestKey(machine, key, false).code == ERROR_SUCCESS;
}

LONG RegPutText(const std::string& machine, const std::string& key, const std::string& value,
                const std::string& data) {
  TestKey opened(machine, key, true);
  if (opened.code) return opened.code;
  return RegSetValueExA(opened.key, value.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                        static_cast<DWORD>(data.size() + 1));
}

LONG RegPutNumber(const std::string& machine, const std::string& key, const std::string& value, DWORD data) {
  TestKey opened(machine, key, true);
  if (opened.code) return opened.code;
  return RegSetValueExA(opened.key, value.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof data);
}

LONG RegRemoveValue(const std::string& machine, const std::string& key, const std::string& value) {
  TestKey opened(machine, key, false);
  if (opened.code) return opened.code;
  return RegDeleteValueA(opened.key, value.c_str());
}

DWORD ServiceState(const std::string& machine) {
  SERVICE_STATUS status{};
  return console::QueryServerService(machine, &status) == ERROR_SUCCESS ? status.dwCurrentState : 0;
}

bool WaitForServiceState(const std::string& machine, DWORD state) {
  return WaitUntil([&] { return ServiceState(machine) == state; });
}

}  // namespace vn::testing
