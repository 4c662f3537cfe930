// The built VN program on the test network, run as the machine CONSOLE (its
// home), with the job command lines the scheduler would split and start.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "console/core/reports/ReportSetStore.h"
#include "console/widgets/tests/run/RunFixture.h"
#include "hosts/VN/VNCommand.h"
#include "platform/core/Process.h"
#include "platform/registry/Registry.h"
#include "platform/services/CommandLine.h"
#include "testing/SmtpSink.h"
#include "testing/TestFiles.h"
#include "testing/Wait.h"

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

  VNRun RunVN(const std::vector<std::string>& arguments) { return Finish(Start(arguments)); }

  fs::path Out() const { return fs::path(m_dir.path().toStdString()) / "out.txt"; }
  fs::path Err() const { return fs::path(m_dir.path().toStdString()) / "err.txt"; }

  // Output to Out(), or to `output` when it is a descriptor.
  pid_t Start(const std::vector<std::string>& arguments, int output = -1) {
    fs::remove(Out());
    fs::remove(Err());
    vn::ProcessOptions options;
    options.program = VN_HOST;
    options.arguments = arguments;
    options.output = output >= 0 ? vn::ChildStream::Descriptor(output) : vn::ChildStream::AppendTo(Out());
    options.error = vn::ChildStream::AppendTo(Err());
    options.parentDeathSignal = SIGKILL;
    pid_t pid = 0;
    std::string detail;
    if (vn::StartProcess(options, &pid, &detail) != 0) ADD_FAILURE() << detail;
    return pid;
  }

  VNRun Finish(pid_t pid) {
    VNRun run;
    if (pid <= 0) return run;
    auto exit = vn::WaitProcessFor(pid, std::chrono::seconds(120));
    if (!exit) {
      vn::SignalProcess(pid, SIGKILL);
      exit = vn::WaitProcess(pid);
      ADD_FAILURE() << "VN did not end";
    }
    run.status = exit->Exited() ? exit->code : 128 + exit->signal;
    run.out = vn::testing::ReadText(Out());
    run.err = vn::testing::ReadText(Err());
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

  // Run again at once, one machine at a time: new files beside the old
  // ones, none replaced.
  run = RunVN(line + " /p 1");
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
      {"/rs", "Set", "/on", "C:\\", "/p", "0"},
      {"/rs", "Set", "/on", "C:\\", "/p", "257"},
      {"/rs", "Set", "/on", "C:\\", "/p", "4x"},
      {"/rs", "Set", "/on", "C:\\", "/p", "2", "/p", "3"},
  };
  for (auto arguments : bad) {
    arguments.insert(arguments.begin(), {"--home", home});
    const VNRun run = RunVN(arguments);
    EXPECT_EQ(run.status, 2) << ::testing::PrintToString(arguments);
    EXPECT_NE(run.err.find("Usage: VN"), std::string::npos) << run.err;
  }

  // A set that is not stored, and a custom report without a definition.
  VNRun run = RunVN(R"(VN /rs "No Such Set" /on "C:\")");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("0 of 0 reports produced a result: "), std::string::npos) << run.err;
  ASSERT_EQ(vn::console::SaveCustomReportOptions("", "Mine", vn::console::ReportOptions{}), 0);
  run = RunVN({"--home", home, R"(/rc "Mine" /on "C:\\")"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("has no definition"), std::string::npos) << run.out;
  EXPECT_TRUE(ResultFiles().empty());
}

TEST_F(VNHostTest, ATerminationSignalCancelsTheRun) {
  const fs::path tree = m_run.Machine("SRV1").ShareDir("Data") / "tree";
  fs::create_directories(tree);
  vn::testing::WriteText(tree / "a.txt", "1");
  vn::console::ReportSet set;
  set[7].Selected = 1;   // All Files
  set[12].Selected = 1;  // Files By Size
  ASSERT_EQ(vn::console::SaveReportSet("", "Weekly Set", set), 0);

  // VN's output goes into a pipe of one page that the test has filled all
  // but 40 bytes: VN prints its first status line ("All Files on SRV1:
  // starting") and then blocks on its next line, so its main thread, and the
  // report thread waiting there for the first report to be taken in, stand
  // still until the test reads. The signal lands while they stand: the second
  // report's first progress text is answered with "CANCEL".
  int pipe[2];
  ASSERT_EQ(::pipe2(pipe, O_CLOEXEC), 0);
  ::fcntl(pipe[1], F_SETPIPE_SZ, 4096);
  const int capacity = ::fcntl(pipe[1], F_GETPIPE_SZ);
  ASSERT_GT(capacity, 40);
  const std::string filler(static_cast<std::size_t>(capacity - 40), '.');
  ASSERT_EQ(::write(pipe[1], filler.data(), filler.size()), static_cast<ssize_t>(filler.size()));
  const pid_t pid =
      Start({"--home", m_run.Machine("CONSOLE").home.string(), "/rs", "Weekly Set", "/on", "SRV1"}, pipe[1]);
  ::close(pipe[1]);
  // A first line printed: VN has taken the termination signals over.
  ASSERT_TRUE(vn::testing::WaitUntil([&] {
    int queued = 0;
    return ::ioctl(pipe[0], FIONREAD, &queued) == 0 && queued > static_cast<int>(filler.size());
  }));
  vn::SignalProcess(pid, SIGTERM);
  std::string out;
  char buffer[4096];
  for (ssize_t n; (n = ::read(pipe[0], buffer, sizeof buffer)) != 0;) {
    if (n < 0 && errno == EINTR) continue;
    ASSERT_GT(n, 0);
    out.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(pipe[0]);
  vn::testing::WriteText(Out(), out.substr(filler.size()));
  const VNRun run = Finish(pid);
  EXPECT_EQ(run.status, 1) << run.out << run.err;
  EXPECT_NE(run.err.find("VN: the run was cancelled"), std::string::npos) << run.err;
  std::size_t named = 0;
  for (std::size_t at = run.out.find("Result: "); at != std::string::npos; at = run.out.find("Result: ", at + 1)) {
    ++named;
    const std::size_t end = run.out.find('\n', at);
    EXPECT_TRUE(fs::exists(run.out.substr(at + 8, end - at - 8))) << run.out;
  }
  EXPECT_LE(named, 2u);
  EXPECT_EQ(ResultFiles().size(), named);
  EXPECT_TRUE(m_run.ServerResults("SRV1").empty());
}

// A stored set with mail settings, run through VN: SRV1's server mails its
// result through the SMTP sink its registry names, and VN prints what the
// server said about it.
TEST_F(VNHostTest, AStoredSetsMailIsDeliveredByTheServer) {
  const fs::path tree = m_run.Machine("SRV1").ShareDir("Data") / "tree";
  fs::create_directories(tree);
  vn::testing::WriteText(tree / "a.txt", "12345");
  vn::testing::WriteText(tree / "b.txt", "1");
  vn::console::ReportSet set;
  set[7].Selected = 1;  // All Files
  vn::MailSettings& mail = set[7].Options.Mail;
  std::snprintf(mail.MailTo, sizeof mail.MailTo, "%s", "ann@x.test;bob@x.test");
  std::snprintf(mail.MailCC, sizeof mail.MailCC, "%s", "carl@x.test");
  std::snprintf(mail.MailSubject, sizeof mail.MailSubject, "%s", "Nightly files");
  ASSERT_EQ(vn::console::SaveReportSet("", "Mail Set", set), 0);

  vn::testing::SmtpSink sink;
  const auto setServer = [](const std::string& server) {
    HKEY remote = nullptr;
    HKEY key = nullptr;
    ASSERT_EQ(RegConnectRegistryA("\\\\SRV1", HKEY_LOCAL_MACHINE, &remote), 0);
    ASSERT_EQ(RegCreateKeyExA(remote, "Software\\Halvard\\Mail", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                              nullptr),
              0);
    const std::string sender = "vnsrv@srv1.test";
    ASSERT_EQ(RegSetValueExA(key, "SMTP Server", 0, REG_SZ, reinterpret_cast<const BYTE*>(server.c_str()),
                             static_cast<DWORD>(server.size() + 1)),
              0);
    ASSERT_EQ(RegSetValueExA(key, "Sender", 0, REG_SZ, reinterpret_cast<const BYTE*>(sender.c_str()),
                             static_cast<DWORD>(sender.size() + 1)),
              0);
    RegCloseKey(key);
    RegCloseKey(remote);
  };
  setServer("127.0.0.1:" + std::to_string(sink.Port()));

  VNRun run = RunVN(R"(VN /rs "Mail Set" /on "\\SRV1\Data\tree")");
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_NE(run.out.find("All Files on SRV1: result mailed to 3 recipients\n"), std::string::npos) << run.out;
  const auto messages = sink.Messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].from, "vnsrv@srv1.test");
  EXPECT_EQ(messages[0].to, (std::vector<std::string>{"ann@x.test", "bob@x.test", "carl@x.test"}));
  EXPECT_EQ(vn::testing::MailHeader(messages[0].data, "Subject"), "Nightly files");
  EXPECT_EQ(vn::testing::MailHeader(messages[0].data, "Cc"), "carl@x.test");
  std::string attached;
  for (const auto& part : vn::testing::MailParts(messages[0].data)) {
    if (part.fileName == "All Files on SRV1.csv") attached = part.body;
  }
  const std::vector<fs::path> files = ResultFiles();
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(attached, vn::testing::ReadText(files[0])) << "one machine's result is what VN keeps";

  // The SMTP server gone: VN prints why, the run still succeeds with its result.
  sink.Stop();
  run = RunVN(R"(VN /rs "Mail Set" /on "\\SRV1\Data\tree")");
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_NE(run.out.find("The mail of All Files on SRV1 was not sent: the SMTP server (127.0.0.1:" +
                         std::to_string(sink.Port()) + ") cannot be reached.\n"),
            std::string::npos)
      << run.out;
  EXPECT_EQ(ResultFiles().size(), 2u);
  EXPECT_TRUE(m_run.ServerResults("SRV1").empty());
}

TEST(VNCommandTest, ObjectsGoToTheirMachines) {
  ReportRunContext context;
  std::string error;
  ASSERT_TRUE(vn::host::FillRunObjects(" C:\\ ;\\\\srv1\\Data\\x;;SRV2; d:\\Dir;\\\\SRV1\\C$", &context, &error));
  EXPECT_EQ(context.localObjects, "C:\\;d:\\Dir");
  EXPECT_EQ(context.remoteObjects["SRV1"], (std::vector<std::string>{"\\\\srv1\\Data\\x", "\\\\SRV1\\C$"}));
  EXPECT_EQ(context.remoteObjects["SRV2"], (std::vector<std::string>{"\\\\SRV2"}));
  EXPECT_EQ(context.remoteObjects.size(), 2u);
  for (const char* bad : {"\\\\\\Share", "\\\\", "SRV1\\Share", "\\\\a/b\\c", " ; "}) {
    ReportRunContext refused;
    EXPECT_FALSE(vn::host::FillRunObjects(bad, &refused, &error)) << bad;
    EXPECT_TRUE(refused.remoteObjects.empty() && refused.localObjects.empty()) << bad;
  }

  // File names never leave the folder and never take an existing name.
  const fs::path dir = "/results";
  EXPECT_EQ(vn::host::ResultFileName(dir, "../Set/x", "All Files", "2026-12-06 061500", 1),
            dir / "_Set_x - All Files 2026-12-06 061500.csv");
  EXPECT_EQ(vn::host::ResultFileName(dir, "Mine", "mine", "s", 3), dir / "Mine s (3).csv");
  EXPECT_EQ(vn::host::ResultFileName(dir, "..", "", "s", 1).parent_path(), dir);
}

}  // namespace
