// The built vnadmin program, found beside this test binary, run as a script
// would run it: its exit status, and what it prints on which stream.
#include <gtest/gtest.h>

#include <QProcess>
#include <QStringList>
#include <filesystem>
#include <string>

#include "hosts/vnadmin/AdminOutput.h"
#include "hosts/vnadmin/tests/AdminTestSupport.h"
#include "testing/MachineNetwork.h"
#include "testing/TestFiles.h"

namespace {

namespace fs = std::filesystem;
using vn::admin::testing::FindRow;
using vn::admin::testing::ParseTable;
using vn::testing::MachineNetwork;

struct ProgramRun {
  int status = -1;
  std::string out;
  std::string err;
};

ProgramRun RunProgram(const QStringList& args) {
  std::error_code ec;
  const fs::path program = fs::read_symlink("/proc/self/exe", ec).parent_path() / "vnadmin";
  QProcess process;
  process.start(QString::fromStdString(program.string()), args);
  ProgramRun run;
  if (!process.waitForFinished(30000)) {
    process.kill();
    process.waitForFinished();
    ADD_FAILURE() << program << " did not end";
    return run;
  }
  run.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
  run.out = process.readAllStandardOutput().toStdString();
  run.err = process.readAllStandardError().toStdString();
  return run;
}

QString Q(const std::string& text) { return QString::fromStdString(text); }

TEST(VnAdminProgramTest, HelpAndBadCommandLines) {
  ProgramRun run = RunProgram({QStringLiteral("--help")});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  for (const char* verb : {"view", "shares", "dir", "copy", "del", "reg", "sc", "at", "status", "stop"})
    EXPECT_NE(run.out.find(std::string("\n  ") + verb + " "), std::string::npos) << verb << "\n" << run.out;

  run = RunProgram({QStringLiteral("reg"), QStringLiteral("--help")});
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(run.out.starts_with("usage: vnadmin reg query")) << run.out;

  run = RunProgram({QStringLiteral("frobnicate")});
  EXPECT_EQ(run.status, vn::admin::kExitUsage);
  EXPECT_EQ(run.out, "");
  EXPECT_NE(run.err.find("vnadmin: unknown verb frobnicate"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("usage: vnadmin [--home DIR] VERB"), std::string::npos) << run.err;

  run = RunProgram({});
  EXPECT_EQ(run.status, vn::admin::kExitUsage);
  EXPECT_NE(run.err.find("no verb given"), std::string::npos) << run.err;
  run = RunProgram({QStringLiteral("--colour"), QStringLiteral("view")});
  EXPECT_EQ(run.status, vn::admin::kExitUsage);
  EXPECT_NE(run.err.find("unknown option --colour"), std::string::npos) << run.err;
}

TEST(VnAdminProgramTest, WorksAsTheMachineOfItsHome) {
  MachineNetwork net;
  net.Add({"SRV1", "TESTDOM", vn::MachineRole::Server, {"Data"}});
  ASSERT_TRUE(net.StartAll());
  vn::testing::WriteText(net.Machine("SRV1").ShareDir("Data") / "seen.txt", "1234");
  const QString home = Q(net.Console().home.string());

  ProgramRun run = RunProgram({QStringLiteral("--home"), home, QStringLiteral("dir"), QStringLiteral("\\\\SRV1\\Data")});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(FindRow(ParseTable(run.out), "Name", "seen.txt")["Size"], "4") << run.out;

  // The home decides which machine "this machine" is.
  run = RunProgram({QStringLiteral("--home=") + home, QStringLiteral("status")});
  EXPECT_EQ(run.status, vn::admin::kExitNotRunning) << run.err;
  EXPECT_EQ(FindRow(ParseTable(run.out), "Machine", "CONSOLE")["State"], "stopped") << run.out;

  // A failure: the system's text on stderr, nothing on stdout, status 1.
  run = RunProgram({QStringLiteral("--home"), home, QStringLiteral("del"), QStringLiteral("\\\\SRV1\\Data\\gone.txt")});
  EXPECT_EQ(run.status, vn::admin::kExitFailure);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err,
            "vnadmin: \\\\SRV1\\Data\\gone.txt: The system cannot find the file specified. (error 2)\n");

  // So does a configuration it cannot read: the reason names the file.
  const fs::path broken = net.Root() / "broken-home";
  fs::create_directories(broken);
  vn::testing::WriteText(broken / "machine.ini", "[Machine]\nRole=Emperor\n");
  run = RunProgram({QStringLiteral("--home"), Q(broken.string()), QStringLiteral("shares")});
  EXPECT_EQ(run.status, vn::admin::kExitFailure);
  EXPECT_EQ(run.out, "");
  EXPECT_NE(run.err.find("machine.ini"), std::string::npos) << run.err;

  // A home that cannot be used stops it before any verb runs.
  const fs::path file = net.Root() / "not-a-directory";
  vn::testing::WriteText(file, "");
  run = RunProgram({QStringLiteral("--home"), Q(file.string()), QStringLiteral("status")});
  EXPECT_EQ(run.status, vn::admin::kExitFailure);
  EXPECT_EQ(run.out, "");
  EXPECT_NE(run.err.find("vnadmin: "), std::string::npos) << run.err;
}

}  // namespace
