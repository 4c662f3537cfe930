// reg, sc, at, status and stop against real machine services on loopback:
// this process is the machine CONSOLE; SRV1 runs its services (a small shell
// script on its D: drive) and its scheduled jobs.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "hosts/vnadmin/AdminOutput.h"
#include "hosts/vnadmin/tests/AdminTestSupport.h"
#include "platform/registry/Registry.h"
#include "platform/services/JobTiming.h"
#include "platform/services/NetSchedule.h"
#include "testing/MachineNetwork.h"
#include "testing/TestFiles.h"
#include "testing/Wait.h"

namespace {

namespace fs = std::filesystem;
using vn::admin::testing::AdminRun;
using vn::admin::testing::FindRow;
using vn::admin::testing::ParseTable;
using vn::admin::testing::RunAdmin;
using vn::testing::MachineNetwork;
using vn::testing::WaitUntil;

constexpr const char* kKey = "\\\\SRV1\\HKLM\\Software\\Halvard\\Admin";

class AdminVerbsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_net.Add({"SRV1", "TESTDOM", vn::MachineRole::Server, {}});
    m_out = m_net.Machine("SRV1").driveD / "out";
    fs::create_directories(m_out);
    // Records its pid, then waits to be stopped.
    vn::testing::WriteScript(m_net.Machine("SRV1").driveD / "svc", "sleeper.sh",
                             "echo $$ > \"" + m_out.string() + "/sleeper.pid\"\nexec sleep 30\n");
    ASSERT_TRUE(m_net.StartAll());
  }

  // The bytes of a value of SRV1's registry, read without vnadmin.
  std::string RawValue(const char* name, DWORD* type) {
    HKEY root = nullptr, key = nullptr;
    EXPECT_EQ(RegConnectRegistryA("\\\\SRV1", HKEY_LOCAL_MACHINE, &root), ERROR_SUCCESS);
    EXPECT_EQ(RegOpenKeyExA(root, "Software\\Halvard\\Admin", 0, KEY_READ, &key), ERROR_SUCCESS);
    char data[256] = {};
    DWORD size = sizeof data;
    const LONG error = RegQueryValueExA(key, name, nullptr, type, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(key);
    RegCloseKey(root);
    return error == ERROR_SUCCESS ? std::string(data, size) : "(error " + std::to_string(error) + ")";
  }

  // The state column of one service.
  static std::string State(const std::string& service) {
    const AdminRun run = RunAdmin({"sc", "\\\\SRV1", "query", service});
    const auto rows = ParseTable(run.out);
    return rows.size() == 1 ? rows[0].at("State") : run.err;
  }

  MachineNetwork m_net;
  fs::path m_out;
};

void ExpectFailure(const AdminRun& run, DWORD code, const std::string& text) {
  EXPECT_EQ(run.status, vn::admin::kExitFailure) << run.out << run.err;
  EXPECT_EQ(run.out, "");
  EXPECT_NE(run.err.find(text + " (error " + std::to_string(code) + ")"), std::string::npos) << run.err;
}

void ExpectUsage(const AdminRun& run, const std::string& verb, const std::string& why) {
  EXPECT_EQ(run.status, vn::admin::kExitUsage) << run.out << run.err;
  EXPECT_EQ(run.out, "");
  EXPECT_NE(run.err.find(why), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("usage: vnadmin " + verb), std::string::npos) << run.err;
}

void ExpectDone(const AdminRun& run) {
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "The operation completed successfully.\n");
}

TEST_F(AdminVerbsTest, RegistryRoundTripOnAnotherMachine) {
  ExpectDone(RunAdmin({"reg", "add", kKey, "/v", "Name", "/d", "two words"}));   // REG_SZ by default
  ExpectDone(RunAdmin({"reg", "add", kKey, "/v", "Path", "/t", "REG_EXPAND_SZ", "/d", "%SystemRoot%\\x"}));
  ExpectDone(RunAdmin({"reg", "add", kKey, "/v", "List", "/t", "reg_multi_sz", "/d", "a\\0b c\\0d"}));
  ExpectDone(RunAdmin({"reg", "add", kKey, "/v", "Semi", "/t", "REG_MULTI_SZ", "/s", ";", "/d", "x;y"}));
  ExpectDone(RunAdmin({"reg", "add", kKey, "/v", "Count", "/t", "REG_DWORD", "/d", "0x2A"}));
  ExpectDone(RunAdmin({"reg", "add", kKey, "/v", "Max", "/t", "REG_DWORD", "/d", "4294967295"}));
  ExpectDone(RunAdmin({"reg", "add", kKey, "/v", "Blob", "/t", "REG_BINARY", "/d", "00ff10Ab"}));
  ExpectDone(RunAdmin({"reg", "add", kKey, "/ve", "/d", "default"}));
  ExpectDone(RunAdmin({"reg", "add", kKey, "/v", "Lines", "/d", "a\tb\nc\x01"}));
  ExpectDone(RunAdmin({"reg", "add", std::string(kKey) + "\\Child"}));
  ExpectDone(RunAdmin({"reg", "add", std::string(kKey) + "\\Child\\Grandchild", "/v", "Deep", "/d", "x"}));

  // Stored as the Win32 calls would have stored them.
  DWORD type = 0;
  EXPECT_EQ(RawValue("Name", &type), std::string("two words\0", 10));
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(RawValue("List", &type), std::string("a\0b c\0d\0\0", 9));
  EXPECT_EQ(type, REG_MULTI_SZ);
  EXPECT_EQ(RawValue("Count", &type), std::string("\x2a\0\0\0", 4));
  EXPECT_EQ(type, REG_DWORD);
  EXPECT_EQ(RawValue("Blob", &type), std::string("\x00\xff\x10\xab", 4));
  EXPECT_EQ(type, REG_BINARY);
  EXPECT_EQ(RawValue("Lines", &type), std::string("a\tb\nc\x01\0", 7));

  // And shown back as they were given.
  AdminRun run = RunAdmin({"reg", "query", kKey});
  ASSERT_EQ(run.status, 0) << run.err;
  const auto rows = ParseTable(run.out);
  const struct {
    const char* name;
    const char* type;
    const char* data;
  } expected[] = {{"Name", "REG_SZ", "two words"},         {"Path", "REG_EXPAND_SZ", "%SystemRoot%\\x"},
                  {"List", "REG_MULTI_SZ", "a\\0b c\\0d"}, {"Semi", "REG_MULTI_SZ", "x\\0y"},
                  {"Count", "REG_DWORD", "0x2a"},          {"Max", "REG_DWORD", "0xffffffff"},
                  {"Blob", "REG_BINARY", "00FF10AB"},      {"(Default)", "REG_SZ", "default"},
                  {"Lines", "REG_SZ", "a\\tb\\nc\\x01"},   // one row, whatever the text holds
                  {"Child", "KEY", ""}};
  ASSERT_EQ(rows.size(), std::size(expected)) << run.out;
  for (const auto& value : expected) {
    SCOPED_TRACE(value.name);
    const auto row = FindRow(rows, "Name", value.name);
    EXPECT_EQ(row.at("Type"), value.type);
    EXPECT_EQ(row.at("Data"), value.data);
  }
  run = RunAdmin({"reg", "query", kKey, "/v", "count"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "Name   Type       Data\ncount  REG_DWORD  0x2a\n");   // the name as asked

  // Bad data is refused before anything is written.
  const struct {
    std::vector<std::string> args;
    const char* why;
  } refused[] = {
      {{"/v", "Bad", "/t", "REG_DWORD", "/d", "12x"}, "REG_DWORD data"},
      {{"/v", "Bad", "/t", "REG_DWORD", "/d", "4294967296"}, "REG_DWORD data"},
      {{"/v", "Bad", "/t", "REG_BINARY", "/d", "abc"}, "REG_BINARY data"},
      {{"/v", "Bad", "/t", "REG_MULTI_SZ", "/d", "a\\0\\0b"}, "empty item"},
      {{"/v", "Bad", "/t", "REG_QWORD", "/d", "1"}, "unknown type REG_QWORD"},
      {{"/v", "Bad", "/ve"}, "/v and /ve"},
      {{"/v"}, "/v needs a value"},
      {{"/t", "REG_SZ"}, "/t and /d need /v or /ve"},
      {{"/x"}, "unknown option /x"},
  };
  for (const auto& bad : refused) {
    std::vector<std::string> args = {"reg", "add", kKey};
    args.insert(args.end(), bad.args.begin(), bad.args.end());
    SCOPED_TRACE(bad.why);
    ExpectUsage(RunAdmin(args), "reg", bad.why);
  }
  EXPECT_EQ(RawValue("Bad", &type), "(error 2)");
  ExpectUsage(RunAdmin({"reg", "add", "\\\\SRV1\\HKXX\\Software"}), "reg", "a key is written");
  ExpectUsage(RunAdmin({"reg", "list", kKey}), "reg", "unknown operation list");

  // Deleting a value, every value, then the key with what is below it.
  ExpectDone(RunAdmin({"reg", "delete", kKey, "/v", "Name", "/f"}));
  EXPECT_EQ(RawValue("Name", &type), "(error 2)");
  ExpectFailure(RunAdmin({"reg", "query", kKey, "/v", "Name"}), ERROR_FILE_NOT_FOUND,
                "The system cannot find the file specified.");
  ExpectDone(RunAdmin({"reg", "delete", kKey, "/va"}));
  run = RunAdmin({"reg", "query", kKey});
  EXPECT_EQ(run.out, "Name   Type  Data\nChild  KEY\n");
  ExpectDone(RunAdmin({"reg", "delete", kKey}));
  ExpectFailure(RunAdmin({"reg", "query", std::string(kKey) + "\\Child"}), ERROR_FILE_NOT_FOUND,
                "The system cannot find the file specified.");
  ExpectUsage(RunAdmin({"reg", "delete", "\\\\SRV1\\HKLM"}), "reg", "a root key cannot be deleted");

  // This machine's own registry, and the roots without a hive.
  ExpectDone(RunAdmin({"reg", "add", "HKEY_LOCAL_MACHINE\\Software\\Local", "/v", "Here", "/d", "yes"}));
  run = RunAdmin({"reg", "query", "HKLM\\Software\\Local", "/v", "Here"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(ParseTable(run.out).at(0).at("Data"), "yes");
  ExpectFailure(RunAdmin({"reg", "query", "HKCU\\Software"}), ERROR_INVALID_HANDLE, "The handle is invalid.");
  ExpectFailure(RunAdmin({"reg", "query", "\\\\NOSUCH\\HKLM\\Software"}), ERROR_BAD_NETPATH,
                "The network path was not found.");
}

TEST_F(AdminVerbsTest, ServiceCreateStartQueryStopDelete) {
  const std::string binary = "\"D:\\svc\\sleeper.sh\"";
  AdminRun run = RunAdmin({"sc", "\\\\SRV1", "create", "Sleeper", "binPath=", binary, "start=", "demand",
                           "DisplayName=", "A sleeper"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "Created service Sleeper\n");
  ExpectFailure(RunAdmin({"sc", "\\\\SRV1", "create", "sleeper", "binPath=" + binary}), ERROR_SERVICE_EXISTS,
                "The specified service already exists.");

  run = RunAdmin({"sc", "\\\\SRV1", "query", "Sleeper"});
  ASSERT_EQ(run.status, 0) << run.err;
  auto rows = ParseTable(run.out);
  ASSERT_EQ(rows.size(), 1u) << run.out;
  EXPECT_EQ(rows[0]["State"], "STOPPED");
  EXPECT_EQ(rows[0]["Type"], "OWN_PROCESS");

  run = RunAdmin({"sc", "\\\\SRV1", "start", "Sleeper"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(WaitUntil([&] { return State("Sleeper") == "RUNNING"; })) << State("Sleeper");
  EXPECT_GT(vn::testing::WaitForPidFile(m_out / "sleeper.pid"), 0);
  ExpectFailure(RunAdmin({"sc", "\\\\SRV1", "start", "Sleeper"}), ERROR_SERVICE_ALREADY_RUNNING,
                "An instance of the service is already running.");

  // Every service of the machine: the built-in scheduler too.
  run = RunAdmin({"sc", "\\\\SRV1", "query"});
  ASSERT_EQ(run.status, 0) << run.err;
  rows = ParseTable(run.out);
  EXPECT_EQ(FindRow(rows, "Service", "Sleeper")["State"], "RUNNING");
  EXPECT_FALSE(FindRow(rows, "Service", "Schedule").empty()) << run.out;

  run = RunAdmin({"sc", "\\\\SRV1", "stop", "Sleeper"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(WaitUntil([&] { return State("Sleeper") == "STOPPED"; })) << State("Sleeper");
  ExpectFailure(RunAdmin({"sc", "\\\\SRV1", "stop", "Sleeper"}), ERROR_SERVICE_NOT_ACTIVE,
                "The service has not been started.");

  run = RunAdmin({"sc", "\\\\SRV1", "delete", "Sleeper"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "Deleted service Sleeper\n");
  ExpectFailure(RunAdmin({"sc", "\\\\SRV1", "query", "Sleeper"}), ERROR_SERVICE_DOES_NOT_EXIST,
                "The specified service does not exist as an installed service.");

  // A machine's service that is not there, and this machine's, which does not run.
  ExpectFailure(RunAdmin({"sc", "\\\\NOSUCH", "query"}), ERROR_BAD_NETPATH, "The network path was not found.");
  ExpectFailure(RunAdmin({"sc", "query", "Schedule"}), RPC_S_SERVER_UNAVAILABLE,
                "The remote procedure call server is unavailable.");

  const struct {
    std::vector<std::string> args;
    const char* why;
  } refused[] = {
      {{"\\\\SRV1"}, "no operation given"},
      {{"\\\\SRV1", "pause", "Sleeper"}, "unknown operation pause"},
      {{"\\\\SRV1", "create", "X", "start=", "auto"}, "create needs binPath= PATH"},
      {{"\\\\SRV1", "create", "X", "binPath=", "/bin/true", "start=", "sometimes"}, "unknown value sometimes"},
      {{"\\\\SRV1", "create", "X", "binPath=", "/bin/true", "color=", "red"}, "unknown option COLOR="},
      {{"\\\\SRV1", "create", "X", "binPath="}, "binPath= needs a value"},
      {{"\\\\SRV1", "stop"}, "stop takes one service name"},
  };
  for (const auto& bad : refused) {
    std::vector<std::string> args = {"sc"};
    args.insert(args.end(), bad.args.begin(), bad.args.end());
    SCOPED_TRACE(bad.why);
    ExpectUsage(RunAdmin(args), "sc", bad.why);
  }
}

TEST_F(AdminVerbsTest, ScheduledJobsAddListShowDelete) {
  AdminRun run = RunAdmin({"at", "\\\\SRV1", "23:59", "/every:M,W,Th,15", "D:\\jobs\\x.sh", "two words"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "Added job 1\n");
  run = RunAdmin({"at", "\\\\SRV1", "1:30pm", "/next:su", "VN", "/RUN", "Weekly"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "Added job 2\n");
  run = RunAdmin({"at", "\\\\SRV1", "07:05:09", "/interactive", "once.sh"});
  ASSERT_EQ(run.status, 0) << run.err;
  // The first word that is not an option starts the command, a path too.
  run = RunAdmin({"at", "\\\\SRV1", "07:05", "/usr/bin/touch", "/every:M"});
  ASSERT_EQ(run.status, 0) << run.err;

  run = RunAdmin({"at", "\\\\SRV1"});
  ASSERT_EQ(run.status, 0) << run.err;
  auto rows = ParseTable(run.out);
  ASSERT_EQ(rows.size(), 4u) << run.out;
  EXPECT_EQ(rows[0]["ID"], "1");
  EXPECT_EQ(rows[0]["Status"], "OK");
  EXPECT_EQ(rows[0]["Day"], "Each M W Th 15");
  EXPECT_EQ(rows[0]["Time"], "23:59");
  EXPECT_EQ(rows[0]["Command"], "D:\\jobs\\x.sh two words");
  EXPECT_EQ(rows[1]["Day"], "Next Su");
  EXPECT_EQ(rows[1]["Time"], "13:30");
  EXPECT_EQ(rows[1]["Command"], "VN /RUN Weekly");
  EXPECT_TRUE(rows[2]["Day"] == "Today" || rows[2]["Day"] == "Tomorrow") << rows[2]["Day"];
  EXPECT_EQ(rows[2]["Time"], "07:05:09");
  EXPECT_EQ(rows[3]["Command"], "/usr/bin/touch /every:M");

  run = RunAdmin({"at", "\\\\SRV1", "2"});
  ASSERT_EQ(run.status, 0) << run.err;
  rows = ParseTable(run.out);
  ASSERT_EQ(rows.size(), 1u) << run.out;
  EXPECT_EQ(rows[0]["Command"], "VN /RUN Weekly");

  run = RunAdmin({"at", "\\\\SRV1", "2", "/delete"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "Deleted job 2\n");
  ExpectFailure(RunAdmin({"at", "\\\\SRV1", "2", "/delete"}), NERR_JobNotFound, "The scheduled job does not exist.");
  ExpectFailure(RunAdmin({"at", "\\\\SRV1", "2"}), NERR_JobNotFound, "The scheduled job does not exist.");
  EXPECT_EQ(ParseTable(RunAdmin({"at", "\\\\SRV1"}).out).size(), 3u);

  const struct {
    std::vector<std::string> args;
    const char* why;
  } refused[] = {
      {{"24:00", "x"}, "not a time of day: 24:00"},
      {{"13:00pm", "x"}, "not a time of day"},
      {{"9:5", "x"}, "not a time of day"},
      {{"noon", "x"}, "not a time of day"},
      {{"12:00", "/every:M,Xy", "x"}, "not a list of days"},
      {{"12:00", "/every:32", "x"}, "not a list of days"},
      {{"12:00", "/every:M", "/next:T", "x"}, "once"},
      {{"12:00", "/every:M"}, "no command given"},
      {{"/delete"}, "needs /delete /yes"},
      {{"1", "/remove"}, "only /delete"},
  };
  for (const auto& bad : refused) {
    std::vector<std::string> args = {"at", "\\\\SRV1"};
    args.insert(args.end(), bad.args.begin(), bad.args.end());
    SCOPED_TRACE(bad.why);
    ExpectUsage(RunAdmin(args), "at", bad.why);
  }

  run = RunAdmin({"at", "\\\\SRV1", "/delete", "/yes"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(RunAdmin({"at", "\\\\SRV1"}).out, "ID  Status  Day  Time  Command\n");
  ASSERT_EQ(RunAdmin({"at", "\\\\SRV1", "/delete", "/yes"}).status, 0);   // nothing left is no failure

  // The scheduler stopped: the machine says so.
  ASSERT_EQ(RunAdmin({"sc", "\\\\SRV1", "stop", "Schedule"}).status, 0);
  ExpectFailure(RunAdmin({"at", "\\\\SRV1"}), NERR_ServiceNotInstalled, "The service has not been started.");
}

TEST_F(AdminVerbsTest, StatusAndStopOfThisMachinesService) {
  const auto& console = m_net.Console();
  AdminRun run = RunAdmin({"status"});
  EXPECT_EQ(run.status, vn::admin::kExitNotRunning) << run.err;
  auto rows = ParseTable(run.out);
  ASSERT_EQ(rows.size(), 1u) << run.out;
  EXPECT_EQ(rows[0]["Machine"], "CONSOLE");
  EXPECT_EQ(rows[0]["State"], "stopped");
  EXPECT_EQ(rows[0]["Pid"], "-");
  ExpectFailure(RunAdmin({"stop"}), ERROR_SERVICE_NOT_ACTIVE, "The service has not been started.");

  ASSERT_TRUE(m_net.Start("CONSOLE"));
  const int pid = m_net.Pid("CONSOLE");
  run = RunAdmin({"status"});
  ASSERT_EQ(run.status, 0) << run.err;
  rows = ParseTable(run.out);
  ASSERT_EQ(rows.size(), 1u) << run.out;
  EXPECT_EQ(rows[0]["State"], "running");
  EXPECT_EQ(rows[0]["Domain"], "TESTDOM");
  EXPECT_EQ(rows[0]["Pid"], std::to_string(pid));
  EXPECT_EQ(rows[0]["Address"], "127.0.0.1:" + std::to_string(console.port));

  // Stopped politely: it removes its pid file on the way out.
  run = RunAdmin({"stop"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "Stopped the machine service (pid " + std::to_string(pid) + ")\n");
  EXPECT_FALSE(fs::exists(console.home / "vnmachined.pid"));
  EXPECT_EQ(RunAdmin({"status"}).status, vn::admin::kExitNotRunning);
  m_net.Stop("CONSOLE");   // reaps it

  ExpectUsage(RunAdmin({"status", "now"}), "status", "takes no arguments");
  ExpectUsage(RunAdmin({"stop", "now"}), "stop", "takes no arguments");
}

}  // namespace
