// Whole report runs as a host runs them: ReportThreadProc and
// MessageThreadProc on their own threads, real reporting servers on CONSOLE,
// SRV1 and SRV2, and the run form's merge in the notify window.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "console/core/reports/ReportGeneratorDll.h"
#include "console/core/reports/ReportSetStore.h"
#include "console/widgets/tests/run/RunFixture.h"
#include "platform/ipc/Sync.h"
#include "testing/TestFiles.h"
#include "ui/MessageBox.h"

namespace {

namespace fs = std::filesystem;
using vn::testing::ResultFields;
using vn::testing::ResultLines;
using vn::testing::RunNetwork;
using vn::testing::RunWindows;

constexpr int kAllFilesIndex = 7;
constexpr int kFilesBySizeIndex = 12;
constexpr const char* kNotRunningSrv2 =
    "Unable to retrieve data from SRV2.\nRODuduro is not running or not\ninstalled.  Please consult the System "
    "Administrator.";

struct Tree {
  int files = 0;
  long long bytes = 0;
};

// Files of known sizes under `root`; one of them deep below directories
// with long names, so that its rows are longer than a transfer record.
Tree MakeTree(const fs::path& root, int count, bool deep) {
  Tree tree;
  fs::create_directories(root);
  for (int i = 0; i < count; ++i) {
    vn::testing::WriteText(root / ("file" + std::to_string(i) + ".txt"), std::string(static_cast<std::size_t>(i + 1), 'x'));
    ++tree.files;
    tree.bytes += i + 1;
  }
  if (deep) {
    fs::path dir = root;
    for (char c : {'a', 'b', 'c', 'd'}) dir /= std::string(240, c);
    fs::create_directories(dir);
    vn::testing::WriteText(dir / (std::string(200, 'f') + ".dat"), std::string(1000, 'y'));
    ++tree.files;
    tree.bytes += 1000;
  }
  return tree;
}

class ReportRunTest : public ::testing::Test {
 protected:
  // CONSOLE's C:\Tree, SRV1's share Data\tree (with the long paths) and
  // SRV2's share Data\tree.
  void MakeTrees() {
    const Tree trees[] = {MakeTree(m_run.Machine("CONSOLE").driveC / "Tree", 3, false),
                          MakeTree(m_run.Machine("SRV1").ShareDir("Data") / "tree", 4, true),
                          MakeTree(m_run.Machine("SRV2").ShareDir("Data") / "tree", 5, false)};
    for (const Tree& tree : trees) {
      m_total.files += tree.files;
      m_total.bytes += tree.bytes;
    }
  }

  static ReportRunContext* Context(const std::string& name, int custom = 0) {
    auto* context = new ReportRunContext;
    context->nCustomReport = custom;
    context->reportName = name;
    context->localObjects = "C:\\Tree";
    context->remoteObjects["SRV1"] = {"\\\\SRV1\\Data\\tree"};
    context->remoteObjects["SRV2"] = {"\\\\SRV2\\Data\\tree"};
    return context;
  }

  static void SaveSet(const std::string& name, std::initializer_list<int> reports) {
    vn::console::ReportSet set;
    for (int index : reports) set[index].Selected = 1;
    ASSERT_EQ(vn::console::SaveReportSet("", name, set), 0);
  }

  bool ServersKeepNothing() const {
    for (const char* machine : {"CONSOLE", "SRV1", "SRV2"})
      if (!m_run.ServerResults(machine).empty()) return false;
    return true;
  }

  RunNetwork m_run;
  Tree m_total;
};

// Checks one merged listing: one heading (from the first machine), every
// machine's rows whole, and one totals line summing them, last.
void ExpectMergedListing(const std::string& path, const std::string& title, int files, long long bytes) {
  SCOPED_TRACE(title);
  const std::vector<std::string> lines = ResultLines(vn::testing::ReadText(path));
  ASSERT_GE(lines.size(), 2u);
  std::map<std::string, int> kinds;
  int longRows = 0;
  for (const auto& line : lines) {
    ++kinds[line.substr(0, 4)];
    // The deep file's rows straddle transfer records and must arrive whole.
    if (line.rfind("\"D1\"", 0) == 0 && line.size() > 1024) {
      ++longRows;
      EXPECT_NE(line.find(std::string(200, 'f') + ".dat"), std::string::npos) << line;
    }
  }
  EXPECT_EQ(ResultFields(lines[1]), (std::vector<std::string>{"B1", title}));
  EXPECT_EQ(kinds["\"A1\""], 1);
  EXPECT_EQ(kinds["\"H1\""], 1);
  EXPECT_EQ(kinds["\"TF\""], 1);
  EXPECT_EQ(kinds["\"D1\""], files);
  EXPECT_EQ(longRows, 1);
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const std::string& l) { return l.rfind("\"B1\",\"Computer: ", 0) == 0; }), 1);
  // "TF","Files",N,"Size...",S,...
  const auto totals = ResultFields(lines.back());
  ASSERT_GE(totals.size(), 5u);
  EXPECT_EQ(totals[0], "TF");
  EXPECT_EQ(totals[2], std::to_string(files));
  EXPECT_EQ(totals[4], std::to_string(bytes)) << totals[3];
}

TEST_F(ReportRunTest, AReportSetMergesEveryMachineIntoOneFilePerReport) {
  MakeTrees();
  SaveSet("Two Reports", {kAllFilesIndex, kFilesBySizeIndex});
  RunWindows windows;
  const auto outcome = m_run.Run(Context("Two Reports"), windows);
  EXPECT_EQ(outcome.reportExit, 0u);
  EXPECT_EQ(outcome.channelExit, 0u);

  // Local objects first, then the machines of the map in order, per report.
  EXPECT_EQ(windows.resultsFrom,
            (std::vector<std::string>{"CONSOLE", "SRV1", "SRV2", "CONSOLE", "SRV1", "SRV2"}));
  ASSERT_EQ(windows.merged.size(), 2u);
  ExpectMergedListing(windows.merged[0], "All Files", m_total.files, m_total.bytes);
  ExpectMergedListing(windows.merged[1], "Files By Size", m_total.files, m_total.bytes);
  ASSERT_FALSE(windows.texts.empty());
  EXPECT_EQ(windows.texts.back(), "Report created successfully.");
  // The servers' progress reached the status window through the channel.
  EXPECT_NE(std::find(windows.texts.begin(), windows.texts.end(), "All Files on SRV2: starting"), windows.texts.end());
  EXPECT_TRUE(ServersKeepNothing());
}

TEST_F(ReportRunTest, AStoppedServerIsReportedAndTheOthersStillMerge) {
  MakeTrees();
  SaveSet("Listing", {kAllFilesIndex});
  m_run.StopServer("SRV2");
  RunWindows windows;
  const auto outcome = m_run.Run(Context("Listing"), windows);
  EXPECT_EQ(outcome.reportExit, 0u);
  EXPECT_NE(std::find(windows.texts.begin(), windows.texts.end(), kNotRunningSrv2), windows.texts.end());
  EXPECT_EQ(windows.resultsFrom, (std::vector<std::string>{"CONSOLE", "SRV1"}));
  ASSERT_EQ(windows.merged.size(), 1u);
  const auto lines = ResultLines(vn::testing::ReadText(windows.merged[0]));
  const long rows = std::count_if(lines.begin(), lines.end(), [](const std::string& l) { return l.rfind("\"D1\"", 0) == 0; });
  EXPECT_EQ(rows, 3 + 5);  // CONSOLE's and SRV1's files
  // The last call failed: no success text.
  EXPECT_NE(windows.texts.back(), "Report created successfully.");

  // An unknown machine is a connection failure with the system's text.
  auto* context = Context("Listing");
  context->remoteObjects.clear();
  context->remoteObjects["NOSUCH"] = {"\\\\NOSUCH\\Data"};
  RunWindows again;
  m_run.Run(context, again);
  ASSERT_FALSE(again.texts.empty());
  EXPECT_EQ(again.texts.back().rfind("Can't connect to NOSUCH\r\n", 0), 0u) << again.texts.back();
}

TEST_F(ReportRunTest, CancelEndsTheRunAndClosesTheChannel) {
  MakeTrees();
  SaveSet("Two Reports", {kAllFilesIndex, kFilesBySizeIndex});
  HANDLE cancel = CreateEventA(nullptr, FALSE, FALSE, nullptr);

  // Cancelled on a remote machine: that report ends (SRV2 is not asked), and
  // it is the last one.
  {
    auto* context = Context("Two Reports");
    context->localObjects.clear();
    SetEvent(cancel);
    RunWindows windows;
    const auto outcome = m_run.Run(context, windows, cancel);
    EXPECT_EQ(outcome.reportExit, 0u);
    EXPECT_TRUE(windows.closed);
    EXPECT_TRUE(windows.resultsFrom.empty());
    EXPECT_EQ(windows.merged, (std::vector<std::string>{""}));
    EXPECT_TRUE(std::find(windows.texts.begin(), windows.texts.end(), "Report created successfully.") == windows.texts.end());
  }
  // Cancelled on the console's own machine: the run ends at once, without
  // ending the report.
  {
    SetEvent(cancel);
    RunWindows windows;
    m_run.Run(Context("Two Reports"), windows, cancel);
    EXPECT_TRUE(windows.closed);
    EXPECT_TRUE(windows.resultsFrom.empty());
    EXPECT_TRUE(windows.merged.empty());
  }
  EXPECT_TRUE(ServersKeepNothing());
  CloseHandle(cancel);
}

TEST_F(ReportRunTest, RunsWithoutAStatusWindowAndCustomReports) {
  MakeTrees();
  // A custom report stored on this machine: every machine's server reads
  // its definition here, and their rows, breaks and totals merge into one
  // result.
  vn::console::ReportOptions options;
  ASSERT_EQ(vn::console::SaveCustomReportOptions("", "My Custom", options), 0);
  {
    RunWindows windows;
    const auto outcome = m_run.Run(Context("My Custom", 1), windows);
    EXPECT_EQ(outcome.reportExit, 0u);
    const std::string message = "The custom report \\\\CONSOLE\\My Custom has no definition; open it in the designer and save it.";
    EXPECT_EQ(std::count(windows.texts.begin(), windows.texts.end(), message), 3);
    EXPECT_EQ(windows.merged, (std::vector<std::string>{""}));
  }
  {
    vn::console::ReportGeneratorDll definition;
    namespace rd = vn::reportdef;
    (void)definition.PutQuery("FileName = \"*.txt\" AND Size > 1");
    (void)definition.PutSortField(0, rd::kDirectory, rd::kAscending);
    (void)definition.PutSummaryBreakField(0, rd::kDirectory);
    (void)definition.PutTotalField(0, 0, rd::kSize, rd::kSum, -1);
    (void)definition.PutFinalTotalField(0, rd::kSize, rd::kSum);
    (void)definition.PutFinalTotalField(1, rd::kSize, rd::kMax);
    (void)definition.PutFinalTotalField(2, rd::kSize, rd::kMin);
    (void)definition.PutFinalTotalField(3, rd::kSize, rd::kAverage);
    ASSERT_EQ(definition.SaveReportDefinition("", "My Custom"), 0);
    RunWindows windows;
    m_run.Run(Context("My Custom", 1), windows);
    ASSERT_EQ(windows.merged.size(), 1u);
    ASSERT_FALSE(windows.merged[0].empty()) << ::testing::PrintToString(windows.texts);
    const auto lines = ResultLines(vn::testing::ReadText(windows.merged[0]));
    const auto count = [&](const char* kind) {
      return std::count_if(lines.begin(), lines.end(), [kind](const std::string& l) { return l.rfind(kind, 0) == 0; });
    };
    EXPECT_EQ(count("\"B1\",\"Custom Report: My Custom\""), 1);
    EXPECT_EQ(count("\"D1\""), 2 + 3 + 4);  // files of 2 bytes or more on each machine
    EXPECT_EQ(count("\"DS\""), 3);          // one directory each
    // Sizes 2-3, 2-4 and 2-5: the largest and smallest of all, and the
    // average of all nine files (28 / 9, to the nearest), not their sums.
    EXPECT_EQ(lines.back(),
              "\"TF\",\"Files\",9,\"Size (Sum)\",28,\"Size (Max)\",5,\"Size (Min)\",2,\"Size (Average)\",3");
  }
  // A set that does not exist: its system text in the status window.
  {
    RunWindows windows;
    m_run.Run(Context("No Such Set"), windows);
    ASSERT_EQ(windows.texts.size(), 1u);
    EXPECT_FALSE(windows.texts[0].empty());
    EXPECT_TRUE(windows.merged.empty());
  }
  // No status window: the run still merges, and the stopped SRV2 is shown
  // in a message box for each report.
  {
    SaveSet("Two Reports", {kAllFilesIndex, kFilesBySizeIndex});
    m_run.StopServer("SRV2");
    std::vector<QString> boxes;
    const auto previous = AfxSetMessageBoxHook([&](const QString& text, UINT) {
      boxes.push_back(text);
      return IDOK;
    });
    RunWindows windows(/*withStatus=*/false);
    const auto outcome = m_run.Run(Context("Two Reports"), windows);
    AfxSetMessageBoxHook(previous);
    EXPECT_EQ(outcome.reportExit, 0u);
    EXPECT_TRUE(windows.texts.empty());
    ASSERT_EQ(windows.merged.size(), 2u);
    EXPECT_FALSE(windows.merged[0].empty());
    EXPECT_EQ(boxes, (std::vector<QString>(2, QString::fromUtf8(kNotRunningSrv2))));
  }
}

}  // namespace
