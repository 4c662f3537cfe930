// view, shares, dir, copy and del against real machines on loopback: this
// process is the machine CONSOLE of TESTDOM; SRV1 and SRV2 serve a share
// "Data" each (SRV1 the primary and SRV2 the backup domain controller); SRV3
// is in another domain.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "hosts/vnadmin/AdminOutput.h"
#include "hosts/vnadmin/tests/AdminTestSupport.h"
#include "platform/core/Win32Types.h"
#include "testing/MachineNetwork.h"
#include "testing/TestFiles.h"

namespace {

namespace fs = std::filesystem;
using vn::admin::testing::AdminRun;
using vn::admin::testing::FindRow;
using vn::admin::testing::ParseTable;
using vn::admin::testing::RunAdmin;
using vn::testing::MachineNetwork;
using vn::testing::ReadText;
using vn::testing::WriteText;

class NetFileVerbsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_net.Add({"SRV1", "TESTDOM", vn::MachineRole::PrimaryDomainController, {"Data"}});
    m_net.Add({"SRV2", "TESTDOM", vn::MachineRole::BackupDomainController, {"Data"}});
    m_net.Add({"SRV3", "OTHERDOM", vn::MachineRole::Workstation, {}});
    ASSERT_TRUE(m_net.StartAll());
  }

  fs::path Data(const std::string& machine) const { return m_net.Machine(machine).ShareDir("Data"); }

  MachineNetwork m_net;
};

// A failure: its status, nothing on stdout, and the system's text for the code.
void ExpectFailure(const AdminRun& run, DWORD code, const std::string& text) {
  EXPECT_EQ(run.status, vn::admin::kExitFailure) << run.out << run.err;
  EXPECT_EQ(run.out, "");
  EXPECT_NE(run.err.find(text + " (error " + std::to_string(code) + ")"), std::string::npos) << run.err;
}

// A bad command line: status 2 and the verb's usage on stderr.
void ExpectUsage(const AdminRun& run, const std::string& verb) {
  EXPECT_EQ(run.status, vn::admin::kExitUsage) << run.out << run.err;
  EXPECT_EQ(run.out, "");
  EXPECT_NE(run.err.find("usage: vnadmin " + verb), std::string::npos) << run.err;
}

TEST_F(NetFileVerbsTest, ViewListsTheMachinesOfADomainAndTheDomains) {
  AdminRun run = RunAdmin({"view"});   // this machine's domain
  ASSERT_EQ(run.status, 0) << run.err;
  auto rows = ParseTable(run.out);
  EXPECT_EQ(FindRow(rows, "Machine", "\\\\SRV1")["Role"], "Primary DC");
  EXPECT_EQ(FindRow(rows, "Machine", "\\\\SRV1")["Version"], "4.0");
  EXPECT_EQ(FindRow(rows, "Machine", "\\\\SRV2")["Role"], "Backup DC");
  EXPECT_FALSE(FindRow(rows, "Machine", "\\\\CONSOLE").empty()) << run.out;
  EXPECT_TRUE(FindRow(rows, "Machine", "\\\\SRV3").empty()) << run.out;

  run = RunAdmin({"view", "otherdom"});
  ASSERT_EQ(run.status, 0) << run.err;
  rows = ParseTable(run.out);
  ASSERT_EQ(rows.size(), 1u) << run.out;
  EXPECT_EQ(rows[0]["Machine"], "\\\\SRV3");
  EXPECT_EQ(rows[0]["Role"], "Workstation");

  run = RunAdmin({"view", "/domain"});
  ASSERT_EQ(run.status, 0) << run.err;
  rows = ParseTable(run.out);
  EXPECT_FALSE(FindRow(rows, "Domain", "TESTDOM").empty()) << run.out;
  EXPECT_FALSE(FindRow(rows, "Domain", "OTHERDOM").empty()) << run.out;

  ExpectUsage(RunAdmin({"view", "A", "B"}), "view");
  ExpectUsage(RunAdmin({"view", "/domains"}), "view");
}

TEST_F(NetFileVerbsTest, SharesOfAMachineAndOfOneThatIsNotThere) {
  AdminRun run = RunAdmin({"shares", "\\\\SRV1"});
  ASSERT_EQ(run.status, 0) << run.err;
  const auto rows = ParseTable(run.out);
  EXPECT_EQ(FindRow(rows, "Share", "Data")["Type"], "Disk");
  EXPECT_EQ(FindRow(rows, "Share", "IPC$")["Type"], "IPC (special)");
  EXPECT_EQ(FindRow(rows, "Share", "ADMIN$")["Type"], "Disk (special)");

  ExpectFailure(RunAdmin({"shares", "\\\\NOSUCH"}), ERROR_BAD_NETPATH, "The network path was not found.");
  m_net.Stop("SRV2");
  ExpectFailure(RunAdmin({"shares", "\\\\SRV2"}), ERROR_BAD_NETPATH, "The network path was not found.");
  ExpectUsage(RunAdmin({"shares", "SRV1"}), "shares");
  ExpectUsage(RunAdmin({"shares", "\\\\SRV1", "\\\\SRV2"}), "shares");
}

TEST_F(NetFileVerbsTest, DirListsDirectoriesAndPatternsOnAnyMachine) {
  WriteText(Data("SRV1") / "report.txt", "hello");
  WriteText(Data("SRV1") / "notes.log", "1234567890");
  WriteText(Data("SRV1") / "two words.txt", "");
  fs::create_directories(Data("SRV1") / "Sub");
  fs::create_directories(Data("SRV1") / "Empty");
  const std::chrono::sys_seconds when =
      std::chrono::sys_days{std::chrono::year{2024} / 2 / 29} + std::chrono::hours{13} + std::chrono::minutes{5};
  const auto fixedTime = fs::file_time_type::clock::from_sys(when);
  fs::last_write_time(Data("SRV1") / "report.txt", fixedTime);

  AdminRun run = RunAdmin({"dir", "\\\\SRV1\\Data"});
  ASSERT_EQ(run.status, 0) << run.err;
  auto rows = ParseTable(run.out);
  ASSERT_EQ(rows.size(), 5u) << run.out;   // no "." or ".."
  EXPECT_EQ(FindRow(rows, "Name", "report.txt")["Size"], "5");
  EXPECT_EQ(FindRow(rows, "Name", "report.txt")["Modified (UTC)"], "2024-02-29 13:05:00");
  EXPECT_EQ(FindRow(rows, "Name", "notes.log")["Size"], "10");
  EXPECT_EQ(FindRow(rows, "Name", "two words.txt")["Size"], "0");
  EXPECT_EQ(FindRow(rows, "Name", "Sub")["Size"], "<DIR>");

  // A pattern, written with either separator and in another case.
  run = RunAdmin({"dir", "\\\\srv1/data/*.TXT"});
  ASSERT_EQ(run.status, 0) << run.err;
  rows = ParseTable(run.out);
  ASSERT_EQ(rows.size(), 2u) << run.out;
  EXPECT_FALSE(FindRow(rows, "Name", "report.txt").empty());

  // One file; an empty directory is a header alone.
  run = RunAdmin({"dir", "\\\\SRV1\\Data\\notes.log"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(ParseTable(run.out).size(), 1u);
  run = RunAdmin({"dir", "\\\\SRV1\\Data\\Empty\\"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "Modified (UTC)  Size  Name\n");

  // This machine's own drive.
  WriteText(m_net.Console().driveC / "local.txt", "abc");
  run = RunAdmin({"dir", "C:\\"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(FindRow(ParseTable(run.out), "Name", "local.txt")["Size"], "3");

  ExpectFailure(RunAdmin({"dir", "\\\\SRV1\\Data\\missing"}), ERROR_FILE_NOT_FOUND,
                "The system cannot find the file specified.");
  ExpectFailure(RunAdmin({"dir", "\\\\SRV1\\Data\\*.none"}), ERROR_FILE_NOT_FOUND,
                "The system cannot find the file specified.");
  ExpectFailure(RunAdmin({"dir", "\\\\SRV1\\Nope\\x"}), ERROR_BAD_NET_NAME, "The network name cannot be found.");
  ExpectFailure(RunAdmin({"dir", "relative\\path"}), ERROR_INVALID_NAME,
                "The file name, directory name or volume label syntax is incorrect.");
  ExpectUsage(RunAdmin({"dir"}), "dir");
}

TEST_F(NetFileVerbsTest, CopyBetweenMachinesBothWaysAndIntoDirectories) {
  const std::string content(300000, 'x');   // more than one chunk of a streamed copy
  WriteText(m_net.Console().driveC / "source.bin", content + "end");

  // This machine to SRV1, into the share's root under the source's name.
  AdminRun run = RunAdmin({"copy", "C:\\source.bin", "\\\\SRV1\\Data"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "Copied C:\\source.bin to \\\\SRV1\\Data\\source.bin\n");
  EXPECT_EQ(ReadText(Data("SRV1") / "source.bin"), content + "end");

  // SRV1 to SRV2, then SRV2 back to this machine under a new name.
  run = RunAdmin({"copy", "\\\\SRV1\\Data\\source.bin", "\\\\SRV2\\Data\\moved.bin"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(ReadText(Data("SRV2") / "moved.bin"), content + "end");
  run = RunAdmin({"copy", "\\\\SRV2\\Data\\moved.bin", "C:\\back.bin"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(ReadText(m_net.Console().driveC / "back.bin"), content + "end");

  // An existing target is kept unless /y says otherwise.
  WriteText(Data("SRV2") / "kept.txt", "old");
  WriteText(m_net.Console().driveC / "new.txt", "new");
  ExpectFailure(RunAdmin({"copy", "C:\\new.txt", "\\\\SRV2\\Data\\kept.txt"}), ERROR_FILE_EXISTS, "The file exists.");
  EXPECT_EQ(ReadText(Data("SRV2") / "kept.txt"), "old");
  run = RunAdmin({"copy", "/Y", "C:\\new.txt", "\\\\SRV2\\Data\\kept.txt"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(ReadText(Data("SRV2") / "kept.txt"), "new");

  // A source that is not there leaves nothing behind.
  ExpectFailure(RunAdmin({"copy", "\\\\SRV1\\Data\\missing.txt", "\\\\SRV2\\Data\\missing.txt"}), ERROR_FILE_NOT_FOUND,
                "The system cannot find the file specified.");
  EXPECT_FALSE(fs::exists(Data("SRV2") / "missing.txt"));
  ExpectFailure(RunAdmin({"copy", "C:\\new.txt", "\\\\NOSUCH\\Data\\x"}), ERROR_BAD_NETPATH,
                "The network path was not found.");
  ExpectUsage(RunAdmin({"copy", "C:\\new.txt"}), "copy");
  ExpectUsage(RunAdmin({"copy", "C:\\*.txt", "\\\\SRV2\\Data"}), "copy");
  ExpectUsage(RunAdmin({"copy", "/y", "C:\\new.txt", "\\\\SRV2\\Data", "\\\\SRV1\\Data"}), "copy");

  // Forward slashes are separators too, also at the start of a machine's path.
  run = RunAdmin({"copy", "/y", "//SRV2/Data/kept.txt", "//SRV1/Data/slashes.txt"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(ReadText(Data("SRV1") / "slashes.txt"), "new");
}

TEST_F(NetFileVerbsTest, DelDeletesFilesAndPatternsButNotDirectories) {
  for (const char* name : {"a.tmp", "b.tmp", "keep.txt"}) WriteText(Data("SRV1") / name, name);
  fs::create_directories(Data("SRV1") / "dir.tmp");

  AdminRun run = RunAdmin({"del", "\\\\SRV1\\Data\\keep.txt"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "Deleted \\\\SRV1\\Data\\keep.txt\n");
  EXPECT_FALSE(fs::exists(Data("SRV1") / "keep.txt"));

  run = RunAdmin({"del", "\\\\SRV1\\Data\\*.tmp"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_FALSE(fs::exists(Data("SRV1") / "a.tmp"));
  EXPECT_FALSE(fs::exists(Data("SRV1") / "b.tmp"));
  EXPECT_TRUE(fs::is_directory(Data("SRV1") / "dir.tmp"));

  ExpectFailure(RunAdmin({"del", "\\\\SRV1\\Data\\*.tmp"}), ERROR_FILE_NOT_FOUND,
                "The system cannot find the file specified.");
  ExpectFailure(RunAdmin({"del", "\\\\SRV1\\Data\\keep.txt"}), ERROR_FILE_NOT_FOUND,
                "The system cannot find the file specified.");
  ExpectUsage(RunAdmin({"del"}), "del");
}

}  // namespace
