// The built VN program on the test network, run as the machine CONSOLE (its
// home), with the job command lines the scheduler would split and start.
#include <gtest/gtest.h>
#include <signal.h>

#include <QTemporaryDir>
#include <filesystem>
#include <string>
#include <vector>

#include "console/reports/ReportSetStore.h"
#include "console/tests/run/RunFixture.h"
#include "hosts/VN/VNCommand.h"
#include "platform/core/Process.h"
#include "platform/services/CommandLine.h"
#include "testing/TestFiles.h"

namespace {

namespace fs = std::filesystem;
using vn::testing::ResultLines;

struct VNRun {
  int status = -1;
  std::string out;
  std::string err;
};

class VNHostTest : public ::testing::Test {
 protected:
  // Runs VN with the arguments of `line` as the scheduler splits a job's command.
  VNRun RunVN(const std::string& line) {
    std::vector<std::string> words = vn::SplitCommandLine(line);
    words.erase(words.begin());
    words.insert(words.begin(), {"--home", m_run.Machine("CONSOLE").home.string()});
    return RunVN(words);
  }

  VNRun RunVN(const std::vector<std::string>& arguments) {
    const fs::path out = fs::path(m_dir.path().toStdString()) / "out.txt";
    const fs::path err = fs::path(m_dir.path().toStdString()) / "err.txt";
    fs::remove(out);
    fs::remove(err);
    vn::ProcessOptions options;
    options.program = VN_HOST;
    options.arguments = arguments;
    options.output = vn::ChildStream::AppendTo(out);
    options.error = vn::ChildStream::AppendTo(err);
    options.parentDeathSignal = SIGKILL;
    pid_t pid = 0;
    VNRun run;
    std::string detail;
    if (vn::StartProcess(options, &pid, &detail) != 0) {
      ADD_FAILURE() << detail;
      return run;
    }
    auto exit = vn::WaitProcessFor(pid, std::chrono::seconds(120));
    if (!exit) {
      vn::SignalProcess(pid, SIGKILL);
      exit = vn::WaitProcess(pid);
      ADD_FAILURE() << "VN did not end";
    }
    run.status = exit->Exited() ? exit->code : 128 + exit->signal;
    run.out = vn::testing::ReadText(out);
    run.err = vn::testing::ReadText(err);
    return run;
  }

  fs::path Results() const { return m_run.Machine("CONSOLE").home / "results"; }

  std::vector<fs::path> ResultFiles() const {
    std::vector<fs::path> files;
    std::error_code error;
    for (fs::directory_iterator it(Results(), error), end; !error && it != end; it.increment(error))
      files.push_back(it->path());
    std::sort(files.begin(), files.end());
    return files;
  }

  vn::testing::RunNetwork m_run;
  QTemporaryDir m_dir;
};

TEST_F(VNHostTest, RunsAScheduledSetAndKeepsEveryResult) {
  for (const char* machine : {"SRV1", "SRV2"}) {
    const fs::path tree = m_run.Machine(machine).ShareDir("Data") / "tree";
    fs::create_directories(tree);
    vn::testing::WriteText(tree / "a.txt", "12345");
  }
  fs::create_directories(m_run.Machine("CONSOLE").driveC / "Local");
  vn::testing::WriteText(m_run.Machine("CONSOLE").driveC / "Local" / "b.txt", "1");
  vn::console::ReportSet set;
  set[7].Selected = 1;   // All Files
  set[12].Selected = 1;  // Files By Size
  ASSERT_EQ(vn::console::SaveReportSet("", "Weekly Set", set), 0);

  // The objects as a job's command line carries them: local, a bare machine's
  // share path and a network path, the trailing backslash doubled.
  const std::string line = R"(VN /rs "Weekly Set" /on "\\SRV1\Data\tree;C:\Local;\\srv2\Data\tree\\")";
  VNRun run = RunVN(line);
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_NE(run.out.find("Report created successfully."), std::string::npos) << run.out;
  std::vector<fs::path> files = ResultFiles();
  ASSERT_EQ(files.size(), 2u);
  for (const auto& file : files) {
    EXPECT_NE(run.out.find("Result: " + file.string()), std::string::npos) << run.out;
    const auto lines = ResultLines(vn::testing::ReadText(file));
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const std::string& l) { return l.rfind("\"D1\"", 0) == 0; }), 3)
        << vn::testing::ReadText(file);
  }
  EXPECT_NE(files[0].filename().string().find("Weekly Set - All Files "), std::string::npos) << files[0];
  EXPECT_NE(files[1].filename().string().find("Weekly Set - Files By Size "), std::string::npos) << files[1];

  // Run again at once: new files beside the old ones, none replaced.
  run = RunVN(line);
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_EQ(ResultFiles().size(), 4u);

  // A report that produces nothing fails with the reason.
  m_run.StopServer("SRV1");
  m_run.StopServer("SRV2");
  run = RunVN(R"(VN /rs "Weekly Set" /on "SRV1;SRV2")");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("Unable to retrieve data from SRV2."), std::string::npos) << run.out;
  EXPECT_NE(run.err.find("0 of 2 reports produced a result"), std::string::npos) << run.err;
  EXPECT_EQ(ResultFiles().size(), 4u);
}

TEST_F(VNHostTest, BadCommandLinesAndMissingReports) {
  const std::string home = m_run.Machine("CONSOLE").home.string();
  const std::vector<std::vector<std::string>> bad = {
      {},
      {"/rs", "Set"},
      {"/on", "C:\\"},
      {"/rs", "Set", "/rc", "Custom", "/on", "C:\\"},
      {"/rs", "Set", "/on", "C:\\", "/x", "1"},
      {"/rs", "Set", "/on"},
      {"/rs", "", "/on", "C:\\"},
      {"/rs", "Set", "/on", " ; ;"},
  };
  for (auto arguments : bad) {
    arguments.insert(arguments.begin(), {"--home", home});
    const VNRun run = RunVN(arguments);
    EXPECT_EQ(run.status, 2) << ::testing::PrintToString(arguments);
    EXPECT_NE(run.err.find("Usage: VN"), std::string::npos) << run.err;
  }

  // A set that is not stored, and a custom report the servers refuse.
  VNRun run = RunVN(R"(VN /rs "No Such Set" /on "C:\")");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("0 of 0 reports produced a result: "), std::string::npos) << run.err;
  ASSERT_EQ(vn::console::SaveCustomReportOptions("", "Mine", vn::console::ReportOptions{}), 0);
  run = RunVN({"--home", home, R"(/rc "Mine" /on "C:\\")"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("Custom reports cannot be run on this server yet"), std::string::npos) << run.out;
  EXPECT_TRUE(ResultFiles().empty());
}

TEST(VNCommandTest, ObjectsGoToTheirMachines) {
  ReportRunContext context;
  ASSERT_TRUE(vn::host::FillRunObjects(" C:\\ ;\\\\srv1\\Data\\x;;SRV2; d:\\Dir;\\\\SRV1\\C$", &context));
  EXPECT_EQ(context.localObjects, "C:\\;d:\\Dir");
  EXPECT_EQ(context.remoteObjects["SRV1"], (std::vector<std::string>{"\\\\srv1\\Data\\x", "\\\\SRV1\\C$"}));
  EXPECT_EQ(context.remoteObjects["SRV2"], (std::vector<std::string>{"\\\\SRV2"}));
  EXPECT_EQ(context.remoteObjects.size(), 2u);

  // File names never leave the folder and never take an existing name.
  const fs::path dir = "/results";
  EXPECT_EQ(vn::host::ResultFileName(dir, "../Set/x", "All Files", "2026-12-06 061500", 1),
            dir / "_Set_x - All Files 2026-12-06 061500.csv");
  EXPECT_EQ(vn::host::ResultFileName(dir, "Mine", "mine", "s", 3), dir / "Mine s (3).csv");
  EXPECT_EQ(vn::host::ResultFileName(dir, "..", "", "s", 1).parent_path(), dir);
}

}  // namespace
