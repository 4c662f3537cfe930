// Custom reports through the running server: SRV1 holds the report's
// definition in its registry; SRV1 and SRV2 each run it through KSCli on
// their own share, SRV2 reading the definition from SRV1 through SRV1's
// machine service, as a run from the console does. A definition damaged by
// hand fails the run with its message and the server goes on serving.

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/core/LastError.h"
#include "platform/registry/Registry.h"
#include "platform/services/ServiceControl.h"
#include "reportdef/ReportDefinition.h"
#include "testing/MachineNetwork.h"
#include "testing/ReportServerService.h"
#include "testing/TestFiles.h"
#include "vncli/KSCli.h"

namespace {

namespace fs = std::filesystem;
namespace rd = vn::reportdef;
using vn::KSCli;
using vn::KSServerCommunicationFileRec;
using vn::KSServerCommunicationOutputRec;
using vn::KSServerCommunicationReportRec;

constexpr const char* kKey = "Software\\Halvard\\Vornal\\4.0\\Custom Reports\\Logs";

LONG SetValue(const char* machine, const std::string& name, const std::string& text) {
  HKEY root = nullptr, key = nullptr;
  LONG rc = RegConnectRegistryA(machine, HKEY_LOCAL_MACHINE, &root);
  if (rc) return rc;
  rc = RegCreateKeyExA(root, kKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr);
  if (rc == 0) {
    rc = RegSetValueExA(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                        static_cast<DWORD>(text.size() + 1));
    RegCloseKey(key);
  }
  RegCloseKey(root);
  return rc;
}

rd::ReportDefinition ByDirectory() {
  rd::ReportDefinition d;
  d.PutQuery("FileName = \"*.log\" AND Size > 100");
  d.PutDetailField(0, rd::kSize);
  d.PutSortField(0, rd::kDirectory, rd::kAscending);
  d.PutSortField(1, rd::kFileName, rd::kAscending);
  d.PutSummaryBreakField(0, rd::kDirectory);
  d.PutTotalField(0, 0, rd::kSize, rd::kSum, -1);
  d.PutFinalTotalField(0, rd::kSize, rd::kSum);
  return d;
}

class CustomReportServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"SRV1", "SRV2"}) m_machines.push_back(&m_net.Add({name, "TESTDOM", vn::MachineRole::Server, {"Data"}}));
    ASSERT_TRUE(m_net.StartAll());
    ASSERT_TRUE(m_net.Start("CONSOLE"));
    for (const auto* machine : m_machines) {
      SC_HANDLE service = vn::testing::InstallReportServer(*machine, VN_VNSRV, "");
      ASSERT_NE(service, nullptr) << GetLastError();
      m_services.push_back(service);
      ASSERT_TRUE(vn::testing::StartReportServer(service, machine->name.c_str(), 0, nullptr)) << GetLastError();
      const fs::path root = machine->ShareDir("Data") / "logs";
      fs::create_directories(root / "old");
      std::ofstream(root / "a.log") << std::string(200, 'a');
      std::ofstream(root / "b.log") << std::string(300, 'b');
      std::ofstream(root / "small.log") << "x";
      std::ofstream(root / "c.txt") << std::string(500, 'c');
      std::ofstream(root / "old" / "d.log") << std::string(400, 'd');
    }
    for (const rd::NamedValue& v : ByDirectory().Encode()) ASSERT_EQ(SetValue("\\\\SRV1", v.name, v.text), 0);
  }

  void TearDown() override {
    for (SC_HANDLE service : m_services) {
      EXPECT_TRUE(vn::testing::StopReportServer(service));
      CloseServiceHandle(service);
    }
  }

  // Runs "\\SRV1\<name>" on `machine`'s share; the result, or "" with the
  // code and message.
  static std::string Run(const char* machine, DWORD* code, std::string* message, const char* name = "Logs") {
    KSCli client;
    *code = client.Connect(machine);
    if (*code) return {};
    KSServerCommunicationReportRec record;
    record.Report = vn::kReportCustom;
    record.Options = vn::kOptionCommaDelimited;
    std::snprintf(record.CustomReport, sizeof record.CustomReport, "\\\\SRV1\\%s", name);
    KSServerCommunicationOutputRec output{};
    *code = client.ProcessReport(&record, &output, ("\\\\" + std::string(machine) + "\\Data\\logs").c_str());
    *message = output.Message;
    if (*code) return {};
    std::string data;
    KSServerCommunicationFileRec file{};
    int unused = 0;
    while (client.ProcessFile(&output, &file, &unused) == 0) data.append(file.Data, file.Count);
    client.DeleteServerFile(&output, &file);
    return data;
  }

  // Kind, first and third fields of the rows after the column titles.
  static std::vector<std::string> Rows(const std::string& result) {
    std::vector<std::string> rows;
    for (const auto& line : vn::testing::ResultLines(result)) {
      const auto f = vn::testing::ResultFields(line);
      if (f.size() < 4 || f[0] == "A1" || f[0] == "B1" || f[0] == "H1") continue;
      rows.push_back(f[0] + " " + f[1] + " " + f[3]);
    }
    return rows;
  }

  vn::testing::MachineNetwork m_net;
  std::vector<const vn::testing::TestMachine*> m_machines;
  std::vector<SC_HANDLE> m_services;
};

TEST_F(CustomReportServerTest, BothMachinesRunTheDefinitionStoredOnOne) {
  for (const char* machine : {"SRV1", "SRV2"}) {
    SCOPED_TRACE(machine);
    DWORD code = 0;
    std::string message;
    const std::string result = Run(machine, &code, &message);
    ASSERT_EQ(code, 0u) << message;
    EXPECT_NE(result.find("\"B1\",\"Custom Report: Logs\""), std::string::npos) << result;
    const std::string dir = std::string("\\\\") + machine + "\\Data\\logs";
    const std::vector<std::string> expected = {
        "D1 a.log 200", "D1 b.log 300", "DS <Directory: " + dir + "> 500",
        "D1 d.log 400", "DS <Directory: " + dir + "\\old> 400", "TF Files Size (Sum)"};
    EXPECT_EQ(Rows(result), expected) << result;
    EXPECT_NE(result.find("\"TF\",\"Files\",3,\"Size (Sum)\",900"), std::string::npos) << result;
  }
}

TEST_F(CustomReportServerTest, DamagedOrMissingDefinitionsFailWithTheirMessage) {
  struct Case {
    const char* value;
    const char* text;
    const char* report;
    DWORD code;
    const char* says;
  };
  const Case cases[] = {
      {"Def.Sort", "1:up", "Logs", ERROR_INVALID_DATA, "Def.Sort is damaged"},
      {"Def.Query", "Size >>> 3", "Logs", ERROR_INVALID_DATA, "refused at position"},
      {"Def.Version", "", "Logs", ERROR_INVALID_DATA, "Def.Version is damaged"},
      {nullptr, nullptr, "Nothing", ERROR_FILE_NOT_FOUND, "There is no custom report Nothing on SRV1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.says);
    for (const rd::NamedValue& v : ByDirectory().Encode()) ASSERT_EQ(SetValue("\\\\SRV1", v.name, v.text), 0);
    if (c.value) {
      ASSERT_EQ(SetValue("\\\\SRV1", c.value, c.text), 0);
    }
    DWORD code = 0;
    std::string message;
    EXPECT_EQ(Run("SRV2", &code, &message, c.report), "");
    EXPECT_EQ(code, c.code);
    EXPECT_NE(message.find(c.says), std::string::npos) << message;
  }
  // The server is still there, and the definition mended runs again.
  for (const rd::NamedValue& v : ByDirectory().Encode()) ASSERT_EQ(SetValue("\\\\SRV1", v.name, v.text), 0);
  DWORD code = 0;
  std::string message;
  EXPECT_NE(Run("SRV2", &code, &message), "");
  EXPECT_EQ(code, 0u) << message;
}

}  // namespace
