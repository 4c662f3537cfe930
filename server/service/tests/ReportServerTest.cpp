// The reporting server end to end: this process is the console (machine
// CONSOLE, serving the progress pipe); SRV1 is a real machine service on
// loopback that runs VNSrv as its service "RODuduro". Every call goes through
// KSCli and SRV1's machine service, as the console's would.
#include <signal.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "hosts/vnadmin/ReportVerb.h"
#include "platform/core/Handles.h"
#include "platform/core/LastError.h"
#include "platform/ipc/Pipes.h"
#include "platform/net/Files.h"
#include "platform/services/ServiceControl.h"
#include "server/service/tests/ConsoleChannel.h"
#include "server/service/ResultStore.h"
#include "servercomm/ServerProtocol.h"
#include "testing/MachineNetwork.h"
#include "testing/ReportServerService.h"
#include "testing/TestFiles.h"
#include "testing/TestPipes.h"
#include "testing/Wait.h"
#include "vncli/KSCli.h"

namespace {

namespace fs = std::filesystem;
using vn::KSCli;
using vn::KSServerCommunicationFileRec;
using vn::KSServerCommunicationOutputRec;
using vn::KSServerCommunicationReportRec;
using vn::testing::ConsoleChannel;
using vn::testing::WaitUntil;

constexpr const char* kServerPipe = "\\\\SRV1\\pipe\\RODuduro";
constexpr DWORD kPartitionSummary = 4;

// The paths a file listing names: Directory + "\" + FileName of every D1 row.
std::vector<std::string> ListedPaths(const std::string& result) {
  std::vector<std::string> paths;
  int fileName = -1, directory = -1;
  for (const auto& line : vn::testing::ResultLines(result)) {
    const auto fields = vn::testing::ResultFields(line);
    if (fields.empty()) continue;
    if (fileName < 0 && fields[0] != "A1" && fields[0] != "B1") {
      for (std::size_t i = 0; i < fields.size(); ++i) {
        if (fields[i] == "FileName") fileName = static_cast<int>(i);
        if (fields[i] == "Directory") directory = static_cast<int>(i);
      }
      continue;
    }
    if (fields[0] == "D1" && fileName >= 0 && directory >= 0)
      paths.push_back(fields[static_cast<std::size_t>(directory)] + "\\" + fields[static_cast<std::size_t>(fileName)]);
  }
  return paths;
}

class ReportServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_srv1 = &m_net.Add({"SRV1", "TESTDOM", vn::MachineRole::Server, {"Data"}});
    ASSERT_TRUE(m_net.StartAll());
    // Servers reach the console's progress pipe through its machine service.
    ASSERT_TRUE(m_net.Start("CONSOLE"));
    m_service = vn::testing::InstallReportServer(*m_srv1, VN_VNSRV, "--runs 2");
    ASSERT_NE(m_service, nullptr) << GetLastError();
  }

  void TearDown() override {
    if (!m_service) return;
    StopServer();
    CloseServiceHandle(m_service);
  }

  // `arguments` follow those of the service's command line.
  void StartServer(std::vector<const char*> arguments = {}) {
    ASSERT_TRUE(vn::testing::StartReportServer(m_service, "SRV1", static_cast<DWORD>(arguments.size()),
                                               arguments.data()))
        << GetLastError();
  }

  void StopServer() {
    EXPECT_TRUE(vn::testing::StopReportServer(m_service)) << "the server did not stop";
  }

  fs::path Results() const { return m_srv1->home / "vnsrv" / "results"; }

  std::vector<std::string> ResultFiles() const {
    std::vector<std::string> names;
    std::error_code error;
    for (fs::directory_iterator it(Results(), error), end; !error && it != end; it.increment(error))
      names.push_back(it->path().filename().string());
    return names;
  }

  // A tree of `count` small files under SRV1's share Data.
  fs::path MakeTree(const std::string& name, int count) {
    const fs::path root = m_srv1->ShareDir("Data") / name;
    fs::create_directories(root / "sub");
    for (int i = 0; i < count; ++i) {
      std::ofstream(root / (i % 2 ? "sub" : ".") / ("file" + std::to_string(i) + ".txt")) << std::string(i + 1, 'x');
    }
    return root;
  }

  static KSServerCommunicationReportRec Record(DWORD report, const std::string& pipe) {
    KSServerCommunicationReportRec record;
    record.Report = report;
    record.Options = vn::kOptionCommaDelimited;
    std::snprintf(record.PipeName, sizeof record.PipeName, "%s", pipe.c_str());
    return record;
  }

  // Fetches a result as the console's OpenReport does, then deletes it.
  static std::string Fetch(KSCli& client, KSServerCommunicationOutputRec& output) {
    std::string data;
    KSServerCommunicationFileRec file{};
    int unused = 0;
    while (client.ProcessFile(&output, &file, &unused) == 0) {
      EXPECT_GT(file.Count, 0u);
      EXPECT_LE(file.Count, sizeof file.Data);
      data.append(file.Data, file.Count);
    }
    client.DeleteServerFile(&output, &file);
    return data;
  }

  vn::testing::MachineNetwork m_net;
  const vn::testing::TestMachine* m_srv1 = nullptr;
  SC_HANDLE m_service = nullptr;
};

TEST_F(ReportServerTest, ConnectAndProperties) {
  KSCli client;
  EXPECT_EQ(client.Connect("SRV1"), 2u) << "no server running";
  EXPECT_EQ(client.Connect("NOSUCH"), static_cast<DWORD>(ERROR_BAD_NETPATH));
  KSServerCommunicationOutputRec output{};
  KSServerCommunicationReportRec record;
  EXPECT_EQ(client.ProcessReport(&record, &output, "SRV1"), static_cast<DWORD>(ERROR_PIPE_NOT_CONNECTED));

  StartServer();
  ASSERT_EQ(client.Connect("\\\\srv1"), 0u);
  char version[8], build[8], platform[20], machine[80], domain[80], started[32], results[260], runs[32], keep[32];
  ASSERT_EQ(client.GetProperties(version, build, platform, machine, domain, started, results, runs, keep), 0u);
  EXPECT_STREQ(version, "4.0");
  EXPECT_STREQ(build, "434");
  EXPECT_STREQ(machine, "SRV1");
  EXPECT_STREQ(domain, "TESTDOM");
  EXPECT_STREQ(runs, "0 of 2 running");
  EXPECT_STREQ(keep, "24");

  // The object can connect again after a disconnect.
  client.Disconnect();
  EXPECT_EQ(client.GetProperties(version, build, platform, machine, domain, started, results, runs, keep),
            static_cast<DWORD>(ERROR_PIPE_NOT_CONNECTED));
  EXPECT_EQ(client.Connect("SRV1"), 0u);
}

TEST_F(ReportServerTest, ReportRunsWithProgressAndNamesReachablePaths) {
  MakeTree("tree", 6);
  StartServer();
  ConsoleChannel console;
  KSCli client;
  ASSERT_EQ(client.Connect("SRV1"), 0u);

  // A share object: files are named by their share path.
  KSServerCommunicationOutputRec output{};
  auto record = Record(vn::kReportAllFiles, console.RemoteName());
  ASSERT_EQ(client.ProcessReport(&record, &output, "\\\\SRV1\\Data\\tree"), 0u) << output.Message;
  EXPECT_STREQ(output.Message, "");
  EXPECT_TRUE(WaitUntil([&] { return !console.Texts().empty(); })) << "no progress reached the console";
  const std::string result = Fetch(client, output);
  const auto paths = ListedPaths(result);
  EXPECT_GE(paths.size(), 6u) << result;
  for (const auto& path : paths) {
    EXPECT_TRUE(path.starts_with("\\\\SRV1\\Data\\tree\\")) << path;
    EXPECT_NE(GetFileAttributesA(path.c_str()), INVALID_FILE_ATTRIBUTES) << path << " is not reachable";
  }
  // The fetched result is gone from the server.
  KSServerCommunicationFileRec file{};
  int unused = 0;
  EXPECT_NE(client.ProcessFile(&output, &file, &unused), 0u);
  EXPECT_TRUE(ResultFiles().empty());

  // A drive path, seen from another machine, goes through the drive's
  // administrative share.
  output = {};
  ASSERT_EQ(client.ProcessReport(&record, &output, "D:\\Data\\tree"), 0u) << output.Message;
  for (const auto& path : ListedPaths(Fetch(client, output))) {
    EXPECT_TRUE(path.starts_with("\\\\SRV1\\D$\\Data\\tree\\")) << path;
    EXPECT_NE(GetFileAttributesA(path.c_str()), INVALID_FILE_ATTRIBUTES) << path << " is not reachable";
  }

  // The whole machine: one Partition Summary row per fixed drive; a missing
  // object is named in the heading and the run goes on.
  output = {};
  record = Record(kPartitionSummary, console.RemoteName());
  ASSERT_EQ(client.ProcessReport(&record, &output, "SRV1;\\\\SRV1\\Data\\missing"), 0u) << output.Message;
  const std::string summary = Fetch(client, output);
  EXPECT_NE(summary.find("Partition Summary"), std::string::npos) << summary;
  EXPECT_NE(summary.find("missing"), std::string::npos) << "the missing object is named: " << summary;
  int drives = 0;
  for (const auto& line : vn::testing::ResultLines(summary)) drives += line.starts_with("\"D1\"") ? 1 : 0;
  EXPECT_EQ(drives, 3) << "C:, D: and the system drive: " << summary;
}

TEST_F(ReportServerTest, CancelAnswers1223AndLeavesNoResult) {
  MakeTree("tree", 50);
  StartServer();
  ConsoleChannel console(/*cancelFirst=*/true);
  KSCli client;
  ASSERT_EQ(client.Connect("SRV1"), 0u);
  KSServerCommunicationOutputRec output{};
  auto record = Record(vn::kReportAllFiles, console.RemoteName());
  EXPECT_EQ(client.ProcessReport(&record, &output, "\\\\SRV1\\Data\\tree"), static_cast<DWORD>(ERROR_CANCELLED));
  EXPECT_EQ(output.ResultNumber, 0u);
  EXPECT_TRUE(ResultFiles().empty());
  // The cancel was answered once: the next report runs.
  output = {};
  EXPECT_EQ(client.ProcessReport(&record, &output, "\\\\SRV1\\Data\\tree"), 0u) << output.Message;
  Fetch(client, output);
}

TEST_F(ReportServerTest, AMissingOrVanishingProgressPipeDoesNotStopTheReport) {
  MakeTree("tree", 20);
  StartServer();
  KSCli client;
  ASSERT_EQ(client.Connect("SRV1"), 0u);
  for (const int closeAfter : {0, 1}) {
    SCOPED_TRACE(closeAfter ? "console goes away" : "no console pipe");
    std::optional<ConsoleChannel> console;
    std::string pipe = "\\\\CONSOLE\\pipe\\nobody-serves-this";
    if (closeAfter) {
      console.emplace(false, closeAfter);
      pipe = console->RemoteName();
    }
    KSServerCommunicationOutputRec output{};
    auto record = Record(vn::kReportAllFiles, pipe);
    ASSERT_EQ(client.ProcessReport(&record, &output, "\\\\SRV1\\Data\\tree"), 0u) << output.Message;
    EXPECT_EQ(ListedPaths(Fetch(client, output)).size(), 20u);
  }
}

TEST_F(ReportServerTest, MalformedRecordsAreRefusedWithAMessage) {
  StartServer();
  KSCli client;
  ASSERT_EQ(client.Connect("SRV1"), 0u);
  struct Case {
    const char* what;
    void (*spoil)(KSServerCommunicationReportRec&);
    DWORD code;
    const char* says;
  };
  const Case cases[] = {
      {"unknown report", [](auto& r) { r.Report = 99; }, ERROR_INVALID_DATA, "report code"},
      {"custom report without its name", [](auto& r) { r.Report = vn::kReportCustom; }, ERROR_INVALID_DATA,
       "not of the form"},
      {"custom report name of no machine",
       [](auto& r) {
         r.Report = vn::kReportCustom;
         std::strcpy(r.CustomReport, "\\\\SRV1");
       },
       ERROR_INVALID_DATA, "not of the form"},
      {"custom name on a standard report", [](auto& r) { std::strcpy(r.CustomReport, "\\\\SRV1\\Mine"); },
       ERROR_INVALID_DATA, "standard report"},
      {"unterminated filter", [](auto& r) { std::memset(r.FileFilter, 'x', sizeof r.FileFilter); },
       ERROR_INVALID_DATA, "file filter"},
      {"unterminated value", [](auto& r) { std::memset(r.Criteria[3].Value2, '9', 40); }, ERROR_INVALID_DATA,
       "Value3"},
      {"unknown scope", [](auto& r) { r.Criteria[0].Scope = 9; }, ERROR_INVALID_DATA, "scope"},
      {"unknown unit", [](auto& r) { r.Criteria[1].Measure = 40; }, ERROR_INVALID_DATA, "unit"},
      {"bad attribute test", [](auto& r) { r.Criteria[0].Hidden = 3; }, ERROR_INVALID_DATA, "attribute"},
      {"unknown option", [](auto& r) { r.Options |= 0x100; }, ERROR_INVALID_DATA, "options"},
      {"negative count", [](auto& r) { r.RptLen = -5; }, ERROR_INVALID_DATA, "negative"},
      {"pipe name", [](auto& r) { std::strcpy(r.PipeName, "/tmp/x"); }, ERROR_INVALID_DATA, "pipe"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto record = Record(vn::kReportAllFiles, "");
    c.spoil(record);
    KSServerCommunicationOutputRec output{};
    EXPECT_EQ(client.ProcessReport(&record, &output, "\\\\SRV1\\Data"), c.code);
    EXPECT_NE(std::string(output.Message).find(c.says), std::string::npos) << output.Message;
  }
  EXPECT_TRUE(ResultFiles().empty());

  // Below KSCli: a record of the wrong size, and messages that are not ours.
  HANDLE pipe = vn::testing::OpenPipeWhenFree(kServerPipe);
  ASSERT_NE(pipe, INVALID_HANDLE_VALUE) << GetLastError();
  KSServerCommunicationReportRec record = Record(vn::kReportAllFiles, "");
  vn::serverproto::Writer shortRecord(static_cast<std::uint32_t>(vn::serverproto::Kind::Report));
  shortRecord.U32(sizeof record - 1).Bytes(std::span<const char>(reinterpret_cast<const char*>(&record), sizeof record - 1));
  const auto& bytes = shortRecord.Finish();
  ASSERT_TRUE(vn::testing::Send(pipe, std::string(bytes.begin(), bytes.end())));
  const std::string reply = vn::testing::Receive(pipe, vn::serverproto::kMaxReply);
  EXPECT_NE(reply.find("5409 bytes instead of 5410"), std::string::npos) << reply;
  ASSERT_TRUE(vn::testing::Send(pipe, "not a request"));
  EXPECT_EQ(vn::testing::Receive(pipe), "<error 109>") << "the server drops a client that speaks no protocol";
  CloseHandle(pipe);
  // ...and goes on serving the others.
  EXPECT_EQ(client.Connect("SRV1"), 0u);
}

TEST_F(ReportServerTest, LinesLongerThanAChunkArriveIntact) {
  fs::path deep = m_srv1->ShareDir("Data") / "long";
  for (int level = 0; level < 6; ++level) {
    const std::string name(150, static_cast<char>('a' + level));
    deep /= name;
  }
  fs::create_directories(deep);
  std::string fileName(200, 'f');
  fileName.append(".txt");
  std::ofstream(deep / fileName) << "content";
  StartServer();
  KSCli client;
  ASSERT_EQ(client.Connect("SRV1"), 0u);
  KSServerCommunicationOutputRec output{};
  auto record = Record(vn::kReportAllFiles, "");
  ASSERT_EQ(client.ProcessReport(&record, &output, "\\\\SRV1\\Data\\long"), 0u) << output.Message;
  const auto names = ResultFiles();
  ASSERT_EQ(names.size(), 1u);
  const std::string onServer = vn::testing::ReadText(Results() / names[0]);
  const std::string fetched = Fetch(client, output);
  EXPECT_EQ(fetched, onServer) << "byte for byte";
  const auto paths = ListedPaths(fetched);
  ASSERT_EQ(paths.size(), 1u);
  EXPECT_GT(paths[0].size(), 1024u);
  EXPECT_NE(GetFileAttributesA(paths[0].c_str()), INVALID_FILE_ATTRIBUTES) << paths[0];
}

TEST_F(ReportServerTest, AServerKilledMidReportLeavesNothingToFetch) {
  MakeTree("big", 3000);
  StartServer();
  auto run = std::async(std::launch::async, [] {
    KSCli client;
    if (client.Connect("SRV1") != 0) return DWORD{1};
    KSServerCommunicationOutputRec output{};
    auto record = Record(vn::kReportAllFiles, "");
    return client.ProcessReport(&record, &output, "\\\\SRV1\\Data\\big");
  });
  const bool inProgress = WaitUntil([&] {
    for (const auto& name : ResultFiles()) {
      if (name.ends_with(".part")) return true;
    }
    return run.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
  });
  ASSERT_TRUE(inProgress);
  if (run.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
    const int pid = vn::testing::WaitForPidFile(m_srv1->home / "services" / "RODuduro.pid");
    ASSERT_GT(pid, 0);
    ::kill(pid, SIGKILL);
  }
  const DWORD code = run.get();
  SERVICE_STATUS status{};
  ASSERT_TRUE(WaitUntil([&] {
    return QueryServiceStatus(m_service, &status) && status.dwCurrentState == SERVICE_STOPPED;
  }));
  if (code == 0) GTEST_SKIP() << "the run finished before the server could be killed";
  EXPECT_NE(code, 0u);

  // The next server clears what the killed one left half-written. A result it
  // finished just before it died, its reply lost with it, is whole: nobody
  // knows its name, and it goes when unfetched results do.
  StartServer();
  for (const auto& name : ResultFiles()) EXPECT_FALSE(name.ends_with(".part")) << name << " survived the restart";
}

}  // namespace

namespace {

TEST_F(ReportServerTest, TheRecordsFormatsAndBatchCommandAreDeliveredAndGoWithTheResult) {
  MakeTree("tree", 4);
  StartServer();
  ConsoleChannel console;
  KSCli client;
  ASSERT_EQ(client.Connect("SRV1"), 0u);

  // The batch command copies what it is handed out of the store, which
  // removes it all with the result.
  const fs::path copies = m_net.Root() / "copies";
  fs::create_directories(copies);
  vn::testing::WriteScript(m_srv1->driveD, "batch.sh",
                           "cp \"$@\" '" + copies.string() + "'\n"
                           "echo \"$VN_REPORT|$VN_REPORT_CODE|$VN_MACHINE|$(basename \"$VN_RESULT\")\" > '" +
                               (copies / "env.txt").string() + "'\n");
  auto record = Record(vn::kReportAllFiles, console.RemoteName());
  record.Options |= vn::kOptionHtml | vn::kOptionDbf | vn::kOptionAscii;
  std::snprintf(record.BatchCommand, sizeof record.BatchCommand, "'%s' \"$@\"",
                (m_srv1->driveD / "batch.sh").c_str());
  KSServerCommunicationOutputRec output{};
  ASSERT_EQ(client.ProcessReport(&record, &output, "\\\\SRV1\\Data\\tree"), 0u) << output.Message;
  EXPECT_STREQ(output.Message, "");
  const std::string stem = vn::vnsrv::ResultStore::FileStem({output.ResultNumber, output.ResultTag});
  std::vector<std::string> kept = ResultFiles();
  std::sort(kept.begin(), kept.end());
  EXPECT_EQ(kept, (std::vector<std::string>{stem + ".csv", stem + ".dbf", stem + ".html", stem + ".txt"}));
  const std::string result = Fetch(client, output);
  EXPECT_TRUE(ResultFiles().empty()) << "the formats go with their result";

  EXPECT_EQ(vn::testing::ReadText(copies / (stem + ".csv")), result);
  EXPECT_NE(vn::testing::ReadText(copies / (stem + ".html")).find("<h1>All Files</h1>"), std::string::npos);
  EXPECT_NE(vn::testing::ReadText(copies / (stem + ".txt")).find("file3.txt"), std::string::npos);
  const std::string dbf = vn::testing::ReadText(copies / (stem + ".dbf"));
  ASSERT_GT(dbf.size(), 8u);
  EXPECT_EQ(static_cast<unsigned char>(dbf[4]), ListedPaths(result).size()) << "one record per listed file";
  EXPECT_EQ(vn::testing::ReadText(copies / "env.txt"), "All Files|14|SRV1|" + stem + ".csv\n");
  EXPECT_TRUE(WaitUntil([&] {
    const auto texts = console.Texts();
    return std::find(texts.begin(), texts.end(), "All Files on SRV1: batch command done") != texts.end();
  }));

  // A failing command: said in the reply and on the progress channel, and
  // the result is fetched all the same.
  std::snprintf(record.BatchCommand, sizeof record.BatchCommand, "exit 4");
  output = {};
  ASSERT_EQ(client.ProcessReport(&record, &output, "\\\\SRV1\\Data\\tree"), 0u) << output.Message;
  const std::string said = "The batch command of All Files on SRV1 ended with exit status 4.";
  EXPECT_EQ(std::string(output.Message), said);
  EXPECT_EQ(ListedPaths(Fetch(client, output)).size(), 4u);
  EXPECT_TRUE(WaitUntil([&] {
    const auto texts = console.Texts();
    return std::find(texts.begin(), texts.end(), said) != texts.end();
  }));
  EXPECT_NE(vn::testing::ReadText(m_srv1->home / "services" / "RODuduro.log").find(said), std::string::npos)
      << "the server's log has it too";
}

TEST_F(ReportServerTest, VnadminReportVerb) {
  MakeTree("tree", 4);
  const fs::path file = m_net.Root() / "result.csv";
  std::ostringstream out, err;
  const auto report = [&](std::vector<std::string> args) {
    out.str("");
    err.str("");
    return vn::admin::ReportVerb(args, out, err);
  };
  EXPECT_EQ(report({"SRV1", "All Files", "\\\\SRV1\\Data\\tree", "-o", file.string()}), 1);
  EXPECT_NE(err.str().find("RODuduro is not running"), std::string::npos) << err.str();

  StartServer();
  ASSERT_EQ(report({"srv1", "all files", "\\\\SRV1\\Data\\tree", "--units", "kb", "--rptlen", "100", "-o",
                    file.string()}),
            0)
      << err.str();
  EXPECT_EQ(ListedPaths(vn::testing::ReadText(file)).size(), 4u);
  EXPECT_NE(err.str().find("All Files on SRV1"), std::string::npos) << "progress is shown: " << err.str();
  EXPECT_TRUE(ResultFiles().empty()) << "the fetched result was deleted on the server";

  // A failure keeps the earlier file and says why.
  EXPECT_EQ(report({"SRV1", "Partition Summary", "SRV1", "--scope", "between", "--value1", "1", "--value2", "2",
                    "--slot", "3", "--hidden", "set", "--options", "0x100", "-o", file.string()}),
            1);
  EXPECT_NE(err.str().find("Unknown output options"), std::string::npos) << err.str();
  EXPECT_EQ(ListedPaths(vn::testing::ReadText(file)).size(), 4u);

  const std::vector<std::vector<std::string>> unusable = {
      {"SRV1", "All Files", "SRV1"},                                        // no -o
      {"SRV1", "No Such Report", "SRV1", "-o", "x"},
      {"SRV1", "All Files", "-o", "x"},                                     // no objects
      {"SRV1", "All Files", "SRV1", "--scope", "sideways", "-o", "x"},
      {"SRV1", "All Files", "SRV1", "--slot", "4", "-o", "x"},
      {"SRV1", "All Files", "SRV1", "--fields", "0xZZ", "-o", "x"},
      {"SRV1", "All Files", "SRV1", "--value1", std::string(40, '9'), "-o", "x"},
      {"SRV1", "All Files", "SRV1", "--frobnicate", "1", "-o", "x"},
      {"SRV1", "All Files", "SRV1", "-o"},
  };
  for (const auto& args : unusable) {
    SCOPED_TRACE(args[args.size() - 2]);
    EXPECT_EQ(report(args), 2);
    EXPECT_NE(err.str().find("usage:"), std::string::npos) << err.str();
  }
}

}  // namespace

namespace {

// Bytes that differ with their offset, so a piece delivered twice, left out
// or out of place shows.
std::string Pattern(std::size_t size, std::uint32_t seed) {
  std::string data(size, '\0');
  std::uint32_t state = seed;
  for (char& c : data) {
    state = state * 1664525u + 1013904223u;
    c = static_cast<char>(state >> 24);
  }
  return data;
}

TEST_F(ReportServerTest, ResultsOfSeveralWindowsArriveWhole) {
  StartServer();
  // Sizes around the 8 MiB read window and the 128 KiB message, including a
  // result that ends exactly where a window ends and an empty one.
  constexpr std::size_t kWindow = vn::serverproto::kMaxReadWindow;
  constexpr std::size_t kSizes[] = {0, 1, vn::serverproto::kMaxReadBlock, 2 * kWindow, 2 * kWindow + 1,
                                    3 * kWindow - 1000};
  std::vector<std::string> contents;
  for (std::uint32_t i = 0; i < std::size(kSizes); ++i) {
    contents.push_back(Pattern(kSizes[i], i + 1));
    char name[32];
    std::snprintf(name, sizeof name, "R%08X-%08X.csv", i + 1, 0x5eedu);
    std::ofstream(Results() / name, std::ios::binary) << contents.back();
  }
  KSCli client;
  ASSERT_EQ(client.Connect("SRV1"), 0u);
  for (std::uint32_t i = 0; i < std::size(kSizes); ++i) {
    SCOPED_TRACE("size " + std::to_string(kSizes[i]));
    KSServerCommunicationOutputRec output{};
    output.ResultNumber = i + 1;
    output.ResultTag = 0x5eed;
    KSServerCommunicationFileRec file{};
    int unused = 0;
    std::string fetched;
    while (client.ProcessFile(&output, &file, &unused) == 0) {
      fetched.append(file.Data, file.Count);
      // Other requests in the middle of a transfer, while windows are
      // outstanding, leave it where it was.
      if (fetched.size() == 5 * 1024 || fetched.size() == kWindow + 7 * 1024) {
        char texts[9][260] = {};
        ASSERT_EQ(client.GetProperties(texts[0], texts[1], texts[2], texts[3], texts[4], texts[5], texts[6],
                                       texts[7], texts[8]),
                  0u);
        EXPECT_STREQ(texts[3], "SRV1");
      }
    }
    EXPECT_EQ(client.ProcessFile(&output, &file, &unused), static_cast<DWORD>(ERROR_HANDLE_EOF));
    EXPECT_TRUE(fetched == contents[i]) << "fetched " << fetched.size() << " bytes";
    EXPECT_EQ(client.DeleteServerFile(&output, &file), 0u);
  }
  EXPECT_TRUE(ResultFiles().empty());

  // A client of protocol version 1 reads into 129 KiB and gets messages of
  // at most 128 KiB, whole.
  const std::string data = Pattern(3 * vn::serverproto::kMaxReadBlock + 5, 99);
  std::ofstream(Results() / "R00000063-00005EED.csv", std::ios::binary) << data;
  HANDLE pipe = vn::testing::OpenPipeWhenFree(kServerPipe);
  ASSERT_NE(pipe, INVALID_HANDLE_VALUE) << GetLastError();
  const auto send = [&](vn::serverproto::Writer& message) {
    const auto& bytes = message.Finish();
    return vn::testing::Send(pipe, std::string(bytes.begin(), bytes.end()));
  };
  vn::serverproto::Writer hello(static_cast<std::uint32_t>(vn::serverproto::Kind::Hello));
  ASSERT_TRUE(send(hello.U32(1)));
  const std::string answer = vn::testing::Receive(pipe);
  ASSERT_EQ(answer.size(), vn::serverproto::kHeaderSize + 8);
  EXPECT_EQ(answer.back(), '\0');
  EXPECT_EQ(answer[answer.size() - 4], 1) << "the server speaks version 1 with it";
  vn::serverproto::Writer read(static_cast<std::uint32_t>(vn::serverproto::Kind::Read));
  ASSERT_TRUE(send(read.U32(0x63).U32(0x5eed).U64(0).U32(vn::serverproto::kMaxReadWindow)));
  std::string received;
  for (bool more = true; more;) {
    const std::string reply = vn::testing::Receive(pipe, vn::serverproto::kMaxReadBlock + 1024);
    ASSERT_GE(reply.size(), vn::serverproto::kReadReplyHeader) << reply;
    more = (reply[vn::serverproto::kReadReplyHeader - 4] & vn::serverproto::kReadMore) != 0;
    received.append(reply, vn::serverproto::kReadReplyHeader);
  }
  EXPECT_TRUE(received == data) << "received " << received.size() << " bytes";
  CloseHandle(pipe);
}

TEST_F(ReportServerTest, AnIdleClientIsDroppedAndItsInstanceServesTheNext) {
  StartServer({"--clients", "1", "--idle-seconds", "1"});
  KSCli idle;
  ASSERT_EQ(idle.Connect("SRV1"), 0u);
  // The only instance is taken; the next client waits until the idle one
  // has been dropped.
  KSCli next;
  ASSERT_EQ(next.Connect("SRV1"), 0u);
  char texts[9][260] = {};
  EXPECT_EQ(next.GetProperties(texts[0], texts[1], texts[2], texts[3], texts[4], texts[5], texts[6], texts[7],
                               texts[8]),
            0u);
  EXPECT_STREQ(texts[3], "SRV1");
  EXPECT_NE(idle.GetProperties(texts[0], texts[1], texts[2], texts[3], texts[4], texts[5], texts[6], texts[7],
                               texts[8]),
            0u)
      << "the dropped client learns it was dropped";
}

TEST_F(ReportServerTest, SeveralClientsAtOnce) {
  MakeTree("tree", 30);
  StartServer();
  // More reports than run slots (2), from clients of their own, at once.
  std::vector<std::future<std::string>> runs;
  for (int i = 0; i < 4; ++i) {
    runs.push_back(std::async(std::launch::async, [] {
      KSCli client;
      if (const DWORD code = client.Connect("SRV1")) return "connect " + std::to_string(code);
      KSServerCommunicationOutputRec output{};
      auto record = Record(vn::kReportAllFiles, "");
      if (const DWORD code = client.ProcessReport(&record, &output, "\\\\SRV1\\Data\\tree"))
        return "report " + std::to_string(code);
      return std::to_string(ListedPaths(Fetch(client, output)).size());
    }));
  }
  for (auto& run : runs) EXPECT_EQ(run.get(), "30");
  EXPECT_TRUE(ResultFiles().empty());
}

}  // namespace

namespace {

// Clients that connect and say nothing cannot keep a console out: while every
// pipe instance is taken, the ones idle for the busy time-out make room.
TEST_F(ReportServerTest, WhenEveryInstanceIsTakenIdleClientsMakeRoom) {
  StartServer({"--clients", "4", "--busy-idle-seconds", "1", "--instances-per-client", "8"});
  std::vector<std::unique_ptr<KSCli>> idle;
  for (int i = 0; i < 4; ++i) {
    idle.push_back(std::make_unique<KSCli>());
    ASSERT_EQ(idle.back()->Connect("SRV1"), 0u) << i;
  }
  KSCli console;
  ASSERT_EQ(console.Connect("SRV1"), 0u) << "a free instance within KSCli's wait";
  char texts[9][260] = {};
  EXPECT_EQ(console.GetProperties(texts[0], texts[1], texts[2], texts[3], texts[4], texts[5], texts[6], texts[7],
                                  texts[8]),
            0u);
  int dropped = 0;
  for (auto& client : idle) {
    if (client->GetProperties(texts[0], texts[1], texts[2], texts[3], texts[4], texts[5], texts[6], texts[7],
                              texts[8]) != 0)
      ++dropped;
  }
  EXPECT_GE(dropped, 1) << "an idle client made room";
}

// One client cannot take every instance: past its share it is told so at
// its first request (KSCli's Connect gives the code), while another
// process (vnadmin) is served, and it is served again once it lets one go.
TEST_F(ReportServerTest, AClientPastItsShareOfInstancesIsToldSoWhileOthersAreServed) {
  MakeTree("tree", 3);
  StartServer({"--instances-per-client", "2"});
  std::vector<std::unique_ptr<KSCli>> held;
  for (int i = 0; i < 2; ++i) {
    held.push_back(std::make_unique<KSCli>());
    ASSERT_EQ(held.back()->Connect("SRV1"), 0u) << i;
  }
  KSCli third;
  EXPECT_EQ(third.Connect("SRV1"), static_cast<DWORD>(ERROR_REQ_NOT_ACCEP));

  // Another process on this machine has a share of its own.
  const fs::path out = m_net.Root() / "other.csv";
  const std::string command = std::string("'") + VN_VNADMIN + "' report SRV1 'All Files' '\\\\SRV1\\Data\\tree' -o '" +
                              out.string() + "' 2> '" + (m_net.Root() / "other.log").string() + "'";
  EXPECT_EQ(std::system(command.c_str()), 0) << vn::testing::ReadText(m_net.Root() / "other.log");
  EXPECT_EQ(ListedPaths(vn::testing::ReadText(out)).size(), 3u);

  // Once the server has seen one of them go, the client is served again.
  held.pop_back();
  DWORD again = ERROR_REQ_NOT_ACCEP;
  EXPECT_TRUE(vn::testing::WaitUntil([&] { return (again = third.Connect("SRV1")) == 0; })) << again;
}

// A request past what the server reads never reaches it whole: the pipe
// takes no message larger than the instance's input size and the writer gets
// ERROR_INVALID_PARAMETER, so nothing of it is read; the server goes on
// serving others.
TEST_F(ReportServerTest, ARequestLargerThanTheServerReadsIsRefused) {
  StartServer();
  HANDLE pipe = vn::testing::OpenPipeWhenFree(kServerPipe);
  ASSERT_NE(pipe, INVALID_HANDLE_VALUE) << GetLastError();
  vn::serverproto::Writer report(static_cast<std::uint32_t>(vn::serverproto::Kind::Report));
  report.U32(5410).Bytes(std::string(vn::serverproto::kMaxRequest + 4096, 'x'));
  const auto& bytes = report.Finish();
  EXPECT_FALSE(vn::testing::Send(pipe, std::string(bytes.begin(), bytes.end())));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  CloseHandle(pipe);

  KSCli client;
  ASSERT_EQ(client.Connect("SRV1"), 0u);
  char texts[9][260] = {};
  EXPECT_EQ(client.GetProperties(texts[0], texts[1], texts[2], texts[3], texts[4], texts[5], texts[6], texts[7],
                                 texts[8]),
            0u);
}

// With the default settings (16 instances), 32 clients that connect and idle
// leave room for a console's report: the first 16 make room for the next 16
// after five seconds, and those for the console five seconds later, within
// the 20 seconds KSCli waits. The console reaches SRV1 through its machine
// service, which here lets one caller hold more pipes than this needs.
TEST(ReportServerBoundsTest, ThirtyTwoIdleClientsThenAReportIsAnswered) {
  vn::testing::MachineNetwork net;
  const vn::testing::TestMachine& srv1 = net.Add({"SRV1", "TESTDOM", vn::MachineRole::Server, {"Data"}});
  std::ofstream(srv1.home / "machine.ini", std::ios::app) << "\n[Limits]\nPipesPerClient = 64\n";
  std::ofstream(srv1.ShareDir("Data") / "one.txt") << "one";
  ASSERT_TRUE(net.StartAll());
  ASSERT_TRUE(net.Start("CONSOLE"));
  // All 32 are this process: its share of instances is raised to let them in.
  SC_HANDLE service = vn::testing::InstallReportServer(srv1, VN_VNSRV, "--runs 2 --instances-per-client 64");
  ASSERT_NE(service, nullptr) << GetLastError();
  ASSERT_TRUE(vn::testing::StartReportServer(service, "SRV1", 0, nullptr)) << GetLastError();

  std::vector<std::unique_ptr<KSCli>> idle;
  for (int i = 0; i < 32; ++i) {
    idle.push_back(std::make_unique<KSCli>());
    ASSERT_EQ(idle.back()->Connect("SRV1"), 0u) << i;
  }
  KSCli console;
  ASSERT_EQ(console.Connect("SRV1"), 0u);
  KSServerCommunicationReportRec record;
  record.Report = vn::kReportAllFiles;
  record.Options = vn::kOptionCommaDelimited;
  KSServerCommunicationOutputRec output{};
  ASSERT_EQ(console.ProcessReport(&record, &output, "\\\\SRV1\\Data"), 0u) << output.Message;
  KSServerCommunicationFileRec file{};
  int unused = 0;
  std::string data;
  while (console.ProcessFile(&output, &file, &unused) == 0) data.append(file.Data, file.Count);
  EXPECT_NE(data.find("one.txt"), std::string::npos);
  EXPECT_EQ(console.DeleteServerFile(&output, &file), 0u);

  idle.clear();
  console.Disconnect();
  EXPECT_TRUE(vn::testing::StopReportServer(service));
  CloseServiceHandle(service);
}

}  // namespace
