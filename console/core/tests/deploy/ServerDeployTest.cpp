// Push install, update and deinstall of the reporting server on machines of
// the test harness, checked through each machine's own service: its files
// (host paths of its drive), registry, service "RODuduro" and install state.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <sstream>

#include "console/core/deploy/ServerDeploy.h"
#include "console/core/deploy/ServerService.h"
#include "console/core/support/SystemErrorText.h"
#include "console/core/tests/deploy/DeployTestNetwork.h"
#include "hosts/vnadmin/AdminVerbs.h"
#include "hosts/vnadmin/ReportVerb.h"
#include "platform/services/EventLog.h"
#include "platform/services/ServiceControl.h"
#include "testing/TestFiles.h"
#include "testing/Wait.h"

namespace {

namespace fs = std::filesystem;
using namespace vn::console;
using vn::testing::DeployTestNetwork;
using vn::testing::RecordingFront;
using vn::testing::RegKeyExists;
using vn::testing::RegNumber;
using vn::testing::RegText;

const std::string kUninstallEntryKey = std::string(kUninstallKey) + "\\" + kUninstallEntry;
const char* const kServerFiles[] = {"VNSrv.exe", "VNMsgs.dll", "ReportsNT.dll", "Readme.txt", "VNReadme.txt",
                                    "VNRelnotes.html"};

class ServerDeployTest : public ::testing::Test {
 protected:
  ServerDeployTest() : m_net({"SRV1", "SRV2"}) {}

  fs::path Bin(const std::string& machine) {
    return m_net.HostPath(machine, DeployTestNetwork::kInstallRoot + "\\bin");
  }
  fs::path WindowsDirectory(const std::string& machine) { return m_net.HostPath(machine, "S:\\WINNT"); }

  // Everything an install leaves on `machine`, checked.
  void ExpectInstalled(const std::string& machine) {
    SCOPED_TRACE(machine);
    for (const char* name : kServerFiles) EXPECT_TRUE(fs::is_regular_file(Bin(machine) / name)) << name;
    EXPECT_EQ(vn::testing::ReadText(Bin(machine) / "VNSrv.exe"), vn::testing::ReadText(VN_VNSRV));
    // A program arrives runnable; the other files do not.
    EXPECT_NE(fs::status(Bin(machine) / "VNSrv.exe").permissions() & fs::perms::owner_exec, fs::perms::none);
    EXPECT_EQ(fs::status(Bin(machine) / "Readme.txt").permissions() & fs::perms::owner_exec, fs::perms::none);
    EXPECT_TRUE(fs::is_regular_file(WindowsDirectory(machine) / "pbuninst.exe"));
    EXPECT_FALSE(fs::exists(Bin(machine) / "pbuninst.exe"));
    EXPECT_EQ(RegText(machine, kProductKey, "Vornal_DIR"), DeployTestNetwork::kInstallRoot);
    EXPECT_EQ(RegText(machine, kProductKey, "ServerLogging"), "Disabled");
    EXPECT_EQ(RegText(machine, kProductKey, "ReleaseBuild"), "434");
    EXPECT_EQ(RegText(machine, kProductKey, "CurrentVersion"), "4.0");
    EXPECT_EQ(RegNumber(machine, kProductKey, "ServerInstalled"), DWORD{1});
    EXPECT_EQ(RegText(machine, kProductKey, "MailProfile"), "Operators");
    EXPECT_EQ(RegText(machine, kMailKey, "SMTP Server"), "mail.testdom");
    EXPECT_EQ(RegText(machine, kMailKey, "Sender"), "vornal@testdom");
    EXPECT_EQ(RegText(machine, kEventSourceKey, "EventMessageFile"),
              DeployTestNetwork::kInstallRoot + "\\bin\\vnmsgs.dll");
    EXPECT_EQ(RegNumber(machine, kEventSourceKey, "TypesSupported"), DWORD{7});
    EXPECT_EQ(RegText(machine, kUninstallEntryKey, "UninstallString"), "S:\\WINNT\\PBUninst.exe");
    EXPECT_EQ(RegText(machine, kUninstallEntryKey, "DisplayName"), "Pemberlyn 4.0");
    EXPECT_EQ(RegText(machine, "SYSTEM\\CurrentControlSet\\Services\\RODuduro", "ImagePath"),
              DeployTestNetwork::kInstallRoot + "\\bin\\VNSrv.exe");
    EXPECT_EQ(RegNumber(machine, "SYSTEM\\CurrentControlSet\\Services\\RODuduro", "Start"), DWORD{SERVICE_AUTO_START});
    EXPECT_TRUE(vn::testing::WaitForServiceState(machine, SERVICE_RUNNING));
    EXPECT_EQ(GetServerInstallState(machine), kSameBuild);
  }

  void ExpectRemoved(const std::string& machine) {
    SCOPED_TRACE(machine);
    EXPECT_FALSE(fs::exists(Bin(machine)));
    EXPECT_FALSE(fs::exists(m_net.HostPath(machine, DeployTestNetwork::kInstallRoot)));
    EXPECT_FALSE(fs::exists(WindowsDirectory(machine) / "pbuninst.exe"));
    EXPECT_FALSE(RegKeyExists(machine, kProductRootKey));
    EXPECT_FALSE(RegKeyExists(machine, kMailKey));
    EXPECT_FALSE(RegKeyExists(machine, kEventSourceKey));
    EXPECT_FALSE(RegKeyExists(machine, kUninstallEntryKey));
    EXPECT_TRUE(RegKeyExists(machine, kUninstallKey));
    SERVICE_STATUS status{};
    EXPECT_TRUE(vn::testing::WaitUntil([&] {
      return QueryServerService(machine, &status) == static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST);
    }));
    EXPECT_EQ(GetServerInstallState(machine), kNotInstalled);
  }

  // Runs Partition Summary on `machine`'s server as the console's command line does.
  int RunReport(const std::string& machine, std::string* log) {
    const fs::path result = m_net.Net().Root() / ("result-" + machine + ".csv");
    std::ostringstream out, err;
    const int code =
        vn::admin::ReportVerb({machine, "Partition Summary", machine, "--quiet", "-o", result.string()}, out, err);
    *log = err.str();
    if (code == 0) *log = vn::testing::ReadText(result);
    return code;
  }

  DeployTestNetwork m_net;
  RecordingFront m_front;
};

TEST_F(ServerDeployTest, InstallOnTwoMachinesRunAReportUpdateOneDeinstallOne) {
  EXPECT_EQ(GetServerInstallState("SRV1"), kNotInstalled);
  EXPECT_EQ(GetServerInstallState("SRV2"), kNotInstalled);

  PushInstall("SRV1;SRV2", m_front);
  EXPECT_EQ(m_front.wizards, 1);
  EXPECT_TRUE(m_front.messages.empty()) << m_front.messages.front();
  EXPECT_EQ(m_front.openProgress, 0) << "every progress window closed";
  EXPECT_EQ(m_front.completed,
            (std::vector<std::string>{"Installation Completed on SRV1...", "Installation Completed on SRV2..."}));
  EXPECT_EQ(m_front.statuses.front(), "Connecting to SRV1...");
  EXPECT_NE(std::find(m_front.statuses.begin(), m_front.statuses.end(), "Copying VNSrv.exe to SRV2..."),
            m_front.statuses.end());
  ExpectInstalled("SRV1");
  ExpectInstalled("SRV2");
  EXPECT_EQ(RegText("SRV1", kSuiteKey, "PBRoot"), "S:\\Program Files\\Pemberlyn");

  // The console runs a report there, through the installed server.
  ASSERT_TRUE(m_net.Net().Start("CONSOLE"));
  std::string result;
  ASSERT_EQ(RunReport("SRV1", &result), 0) << result;
  EXPECT_NE(result.find("SRV1"), std::string::npos) << result;

  // SRV2 has an older build: it qualifies for an update, which keeps its
  // install root, does not write the suite key again, replaces the files and
  // restarts the server.
  ASSERT_EQ(vn::testing::RegPutText("SRV2", kProductKey, "ReleaseBuild", "420"), ERROR_SUCCESS);
  ASSERT_EQ(vn::testing::RegPutText("SRV2", kProductKey, "ServerLogging", "Enabled"), ERROR_SUCCESS);
  ASSERT_EQ(vn::testing::RegRemoveValue("SRV2", kSuiteKey, "PBRoot"), ERROR_SUCCESS);
  EXPECT_EQ(GetServerInstallState("SRV2"), kOlderBuild);
  vn::testing::WriteText(m_net.Distribution() / "VNReadme.txt", "build 434, second drop\r\n");
  vn::testing::WriteText(Bin("SRV2") / "Custom.txt", "kept");
  m_front = {};
  PushInstall("SRV2", m_front);
  EXPECT_TRUE(m_front.messages.empty()) << m_front.messages.front();
  ExpectInstalled("SRV2");
  EXPECT_EQ(vn::testing::ReadText(Bin("SRV2") / "VNReadme.txt"), "build 434, second drop\r\n");
  EXPECT_TRUE(fs::exists(Bin("SRV2") / "Custom.txt"));
  EXPECT_FALSE(RegText("SRV2", kSuiteKey, "PBRoot"));

  // Deinstall SRV1: nothing of the server is left; SRV2 runs on.
  m_front = {};
  DeinstallServer("SRV1", m_front);
  EXPECT_TRUE(m_front.messages.empty()) << m_front.messages.front();
  EXPECT_EQ(m_front.titles, std::vector<std::string>{"Deinstalling Vornal"});
  EXPECT_EQ(m_front.completed, std::vector<std::string>{"Deinstallation of Vornal is completed on SRV1..."});
  ExpectRemoved("SRV1");
  EXPECT_EQ(GetServerInstallState("SRV2"), kSameBuild);
  EXPECT_EQ(vn::testing::ServiceState("SRV2"), DWORD{SERVICE_RUNNING});
  ASSERT_EQ(RunReport("SRV2", &result), 0) << result;
  EXPECT_NE(RunReport("SRV1", &result), 0);

  // SRV1's event log, read from the console as vnadmin reads it, tells
  // what its service manager did.
  std::vector<vn::EventRecord> events;
  ASSERT_EQ(vn::ReadEventLog("SRV1", &events), ERROR_SUCCESS);
  std::vector<std::string> texts;
  for (const auto& event : events)
    if (event.text.find("RODuduro") != std::string::npos) texts.push_back(std::to_string(event.id) + " " + event.text);
  ASSERT_GE(texts.size(), 4u);
  EXPECT_EQ(texts[0],
            "7045 A service was installed in the system: RODuduro, S:\\Program Files\\Pemberlyn\\4.0\\bin\\VNSrv.exe.");
  EXPECT_EQ(texts[1], "7036 The RODuduro service entered the running state.");
  EXPECT_EQ(texts[texts.size() - 2], "7036 The RODuduro service entered the stopped state.");
  EXPECT_EQ(texts.back(), "7046 The RODuduro service was removed from the system.");
  std::ostringstream out, err;
  EXPECT_EQ(vn::admin::EventLogVerb({"\\\\SRV2", "/source", "Service Control Manager"}, out, err), 0) << err.str();
  EXPECT_NE(out.str().find("The RODuduro service entered the running state."), std::string::npos) << out.str();
  EXPECT_NE(out.str().find("Information"), std::string::npos) << out.str();

  // A second install brings SRV1 back.
  m_front = {};
  PushInstall("SRV1", m_front);
  EXPECT_TRUE(m_front.messages.empty()) << m_front.messages.front();
  ExpectInstalled("SRV1");
}

TEST_F(ServerDeployTest, AMachineKilledDuringTheCopyIsReportedOnceAndARerunCompletesIt) {
  int copies = 0;
  m_front.onStatus = [&](const std::string& status) {
    if (status.starts_with("Copying ") && status.ends_with(" to SRV1...") && ++copies == 3)
      m_net.Net().Stop("SRV1", /*kill=*/true);
  };
  PushInstall("SRV1;SRV2", m_front);
  ASSERT_EQ(m_front.messages.size(), 1u);
  const std::string expected = "Error copying files from S:\\Program Files\\Pemberlyn\\4.0\\VNDist\n";
  EXPECT_TRUE(m_front.messages[0].starts_with(expected)) << m_front.messages[0];
  EXPECT_GT(m_front.messages[0].size(), expected.size()) << "the system text follows";
  EXPECT_EQ(m_front.openProgress, 0);
  ExpectInstalled("SRV2");

  // SRV1 comes back half-copied: it does not say it is installed, and has
  // no service; the next push install completes it.
  ASSERT_TRUE(m_net.Net().Start("SRV1"));
  EXPECT_EQ(GetServerInstallState("SRV1"), kNotInstalled);
  EXPECT_FALSE(RegNumber("SRV1", kProductKey, "ServerInstalled"));
  EXPECT_EQ(vn::testing::ServiceState("SRV1"), 0u);
  m_front = {};
  PushInstall("SRV1", m_front);
  EXPECT_TRUE(m_front.messages.empty()) << m_front.messages.front();
  ExpectInstalled("SRV1");
}

TEST_F(ServerDeployTest, EachMachinesFailureIsReportedOnceAndTheOthersGoOn) {
  struct Case {
    const char* what;
    std::function<void()> prepare;
    std::string list;
    std::vector<std::string> messages;
  };
  const std::vector<Case> cases = {
      {"an unknown machine", [] {}, "NOSUCH;SRV2",
       {"Error accessing registry on NOSUCH\nThe network path was not found.\r\n"}},
      {"an Alpha machine",
       [] {
         ASSERT_EQ(vn::testing::RegPutText("SRV1", "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment",
                                           "PROCESSOR_ARCHITECTURE", "alpha"),
                   ERROR_SUCCESS);
       },
       "SRV1;SRV2;",
       {"The push install does not include Alpha binaries.  Please install Vornal directly on the server."}},
      {"a Windows NT 3.51 machine",
       [] { ASSERT_EQ(vn::testing::RegPutText("SRV1", kWindowsVersionKey, "CurrentVersion", "3.51"), ERROR_SUCCESS); },
       "SRV1;SRV2", {"The installation supports Windows NT 4.0 Servers only."}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    c.prepare();
    m_front = {};
    PushInstall(c.list, m_front);
    EXPECT_EQ(m_front.messages, c.messages);
    EXPECT_EQ(m_front.openProgress, 0);
    EXPECT_EQ(GetServerInstallState("SRV1"), kNotInstalled);
    ExpectInstalled("SRV2");
    // Back as it was for the next case.
    ASSERT_EQ(vn::testing::RegPutText("SRV1", "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment",
                                      "PROCESSOR_ARCHITECTURE", "x86"),
              ERROR_SUCCESS);
    ASSERT_EQ(vn::testing::RegPutText("SRV1", kWindowsVersionKey, "CurrentVersion", "4.0"), ERROR_SUCCESS);
    m_front = {};
    DeinstallServer("SRV2", m_front);
    ASSERT_TRUE(m_front.messages.empty());
  }

  // A server that will not start is reported; the files and registry stay,
  // and once the program is right a rerun starts it.
  const std::string program = vn::testing::ReadText(m_net.Distribution() / "VNSrv.exe");
  vn::testing::WriteText(m_net.Distribution() / "VNSrv.exe", "not a program");
  m_front = {};
  PushInstall("SRV1;SRV2", m_front);
  ASSERT_EQ(m_front.messages.size(), 2u);
  for (const char* machine : {"SRV1", "SRV2"}) {
    char text[260] = {};
    GetSystemErrorText(ERROR_BAD_EXE_FORMAT, text, sizeof text);
    EXPECT_NE(std::find(m_front.messages.begin(), m_front.messages.end(),
                        std::string("Can't start the Vornal service on ") + machine + "\n" + text),
              m_front.messages.end())
        << machine;
    EXPECT_EQ(vn::testing::ServiceState(machine), DWORD{SERVICE_STOPPED});
  }
  EXPECT_EQ(m_front.openProgress, 0);
  vn::testing::WriteText(m_net.Distribution() / "VNSrv.exe", program);
  m_front = {};
  PushInstall("SRV1", m_front);
  EXPECT_TRUE(m_front.messages.empty()) << m_front.messages.front();
  ExpectInstalled("SRV1");
  DeinstallServer("SRV1;SRV2", m_front);

  // A machine without the product is reported by the deinstall, which goes on.
  PushInstall("SRV2", m_front);
  m_front = {};
  DeinstallServer("SRV1;SRV2", m_front);
  EXPECT_EQ(m_front.messages,
            std::vector<std::string>{
                "Error accessing registry on \\\\SRV1\nThe system cannot find the file specified.\r\n"});
  ExpectRemoved("SRV2");
}

TEST_F(ServerDeployTest, NothingHappensWithoutAServerConsoleOrWhenTheWizardIsCancelled) {
  m_front.finishWizard = false;
  PushInstall("SRV1", m_front);
  DeinstallServer("SRV1", m_front);
  EXPECT_EQ(m_front.wizards, 2);
  EXPECT_TRUE(m_front.messages.empty());
  EXPECT_TRUE(m_front.titles.empty());
  EXPECT_FALSE(RegKeyExists("SRV1", kProductRootKey));
  EXPECT_FALSE(fs::exists(Bin("SRV1")));

  m_front = {};
  PushInstall("", m_front);
  EXPECT_EQ(m_front.wizards, 1);
  EXPECT_TRUE(m_front.titles.empty());

  ASSERT_EQ(vn::testing::RegPutNumber("", kProductKey, "ServerInstalled", 0), ERROR_SUCCESS);
  m_front = {};
  PushInstall("SRV1", m_front);
  EXPECT_EQ(m_front.wizards, 0) << "the console is refused before the wizard";
  EXPECT_EQ(m_front.messages,
            std::vector<std::string>{
                "Push Installs require the Management Station and Server to be installed on this system.  Please "
                "install the server or try again from a system with both of the Vornal components installed."});
  EXPECT_EQ(GetServerInstallState("SRV1"), kNotInstalled);
}

TEST_F(ServerDeployTest, AMachineWithAConsoleOrTheSiblingServerKeepsWhatTheyNeed) {
  PushInstall("SRV1;SRV2", m_front);
  ASSERT_TRUE(m_front.messages.empty());
  // SRV1 runs a console too, with a report set of its own; SRV2 runs the
  // sibling product's server, which shares the uninstall entry and LUCli.dll.
  ASSERT_EQ(vn::testing::RegPutNumber("SRV1", kProductKey, "ClientInstalled", 1), ERROR_SUCCESS);
  ASSERT_EQ(vn::testing::RegPutText("SRV1", std::string(kProductKey) + "\\Report Sets\\Mine", "x", "y"), ERROR_SUCCESS);
  ASSERT_EQ(vn::testing::RegPutText("SRV1", kProductKey, "MailInfo", "secret"), ERROR_SUCCESS);
  ASSERT_EQ(vn::testing::RegPutNumber("SRV2", kSiblingKey, "FDServerInstalled", 1), ERROR_SUCCESS);
  for (const char* machine : {"SRV1", "SRV2"}) vn::testing::WriteText(Bin(machine) / "LUCli.dll", "shared");

  m_front = {};
  DeinstallServer("SRV1;SRV2", m_front);
  EXPECT_TRUE(m_front.messages.empty());

  EXPECT_TRUE(RegKeyExists("SRV1", std::string(kProductKey) + "\\Report Sets\\Mine"));
  EXPECT_EQ(RegText("SRV1", kProductKey, "Vornal_DIR"), DeployTestNetwork::kInstallRoot);
  for (const char* gone : {"ServerInstalled", "MailProfile", "MailInfo"})
    EXPECT_FALSE(RegText("SRV1", kProductKey, gone)) << gone;
  EXPECT_FALSE(RegNumber("SRV1", kProductKey, "ServerInstalled"));
  EXPECT_TRUE(fs::exists(Bin("SRV1") / "LUCli.dll"));
  EXPECT_EQ(GetServerInstallState("SRV1"), kNotInstalled);

  EXPECT_FALSE(RegKeyExists("SRV2", kProductRootKey));
  EXPECT_TRUE(RegKeyExists("SRV2", kUninstallEntryKey));
  EXPECT_TRUE(fs::exists(WindowsDirectory("SRV2") / "pbuninst.exe"));
  EXPECT_TRUE(fs::exists(Bin("SRV2") / "LUCli.dll"));
  EXPECT_FALSE(fs::exists(Bin("SRV2") / "VNSrv.exe"));
  for (const char* machine : {"SRV1", "SRV2"}) EXPECT_EQ(vn::testing::ServiceState(machine), 0u) << machine;
}

TEST_F(ServerDeployTest, InstallStateComparesBuildsAsNumbers) {
  PushInstall("SRV1", m_front);
  ASSERT_TRUE(m_front.messages.empty());
  struct Case {
    const char* machineBuild;   // null: value removed
    const char* consoleBuild;   // null: value removed
    ServerInstallState state;
  };
  const Case cases[] = {
      {"420", "434", kOlderBuild},  {"434", "434", kSameBuild},   {"440", "434", kNewerBuild},
      {"0434", "434", kSameBuild},  {"434b", "434", kSameBuild},  {"abc", "1", kOlderBuild},
      {"99", "100", kOlderBuild},   {nullptr, "434", kNewerBuild}, {"434", nullptr, kNewerBuild},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.machineBuild ? c.machineBuild : "-") + " / " + (c.consoleBuild ? c.consoleBuild : "-"));
    if (c.machineBuild) ASSERT_EQ(vn::testing::RegPutText("SRV1", kProductKey, "ReleaseBuild", c.machineBuild), 0);
    else ASSERT_EQ(vn::testing::RegRemoveValue("SRV1", kProductKey, "ReleaseBuild"), 0);
    if (c.consoleBuild) ASSERT_EQ(vn::testing::RegPutText("", kProductKey, "ReleaseBuild", c.consoleBuild), 0);
    else ASSERT_EQ(vn::testing::RegRemoveValue("", kProductKey, "ReleaseBuild"), 0);
    EXPECT_EQ(GetServerInstallState("SRV1"), c.state);
  }
  ASSERT_EQ(vn::testing::RegPutNumber("SRV1", kProductKey, "ServerInstalled", 2), 0);
  EXPECT_EQ(GetServerInstallState("SRV1"), kNotInstalled);
  EXPECT_EQ(GetServerInstallState("SRV2"), kNotInstalled);
  EXPECT_EQ(GetServerInstallState("NOSUCH"), kInstallStateUnknown);
  m_net.Net().Stop("SRV2");
  EXPECT_EQ(GetServerInstallState("SRV2"), kInstallStateUnknown);

  EXPECT_EQ(SplitMachineList("SRV1;SRV2"), SplitMachineList("SRV1;SRV2;"));
  EXPECT_EQ(SplitMachineList(";SRV1;;SRV2"), (std::vector<std::string>{"SRV1", "SRV2"}));
  EXPECT_TRUE(SplitMachineList("").empty());
}

TEST(EventLogLines, OnlyWellFormedLinesAreEvents) {
  struct Case {
    const char* line;
    bool event;
    DWORD id;
    const char* text;
  };
  const Case cases[] = {
      {"2026-12-08 11:50:01\tInformation\tService Control Manager\t7036\tThe X service entered the running state.",
       true, 7036, "The X service entered the running state."},
      {"2026-12-08 11:50:01\tError\tVornal\t1\t\r", true, 1, ""},
      {"2026-12-08 11:50:01\tError\tVornal\t1\ttext\twith tab", true, 1, "text\twith tab"},
      {"2026-12-08 11:50:01\tFatal\tVornal\t1\ttext", false, 0, ""},
      {"2026-12-08 11:50:01\tError\tVornal\tx1\ttext", false, 0, ""},
      {"2026-12-08\tError\tVornal\t1\ttext", false, 0, ""},
      {"2026-12-08 11:50:01\tError\tVornal\t1", false, 0, ""},
      {"", false, 0, ""},
  };
  for (const auto& c : cases) {
    vn::EventRecord event;
    EXPECT_EQ(vn::ParseEventLine(c.line, &event), c.event) << c.line;
    if (!c.event) continue;
    EXPECT_EQ(event.id, c.id) << c.line;
    EXPECT_EQ(event.text, c.text) << c.line;
  }
}

}  // namespace
