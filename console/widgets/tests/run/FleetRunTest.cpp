// Runs over several machines whose servers are asked at once: the merge
// keeps the selection's order whatever order the machines finish in, and
// machines whose servers die mid-run are reported once each while the
// others merge. Servers are held back with SIGSTOP and let go (or killed)
// as the run's "N of M machines done" texts arrive, so the order in which
// they finish is the test's, not the scheduler's.
#include <signal.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "console/core/history/HistoryRecorder.h"
#include "console/core/history/HistorySettings.h"
#include "console/core/reports/ReportSetStore.h"
#include "console/widgets/tests/run/RunFixture.h"
#include "hosts/vnadmin/AdminVerbs.h"
#include "testing/TestFiles.h"

namespace {

namespace fs = std::filesystem;
using vn::testing::ResultLines;
using vn::testing::RunNetwork;
using vn::testing::RunWindows;

constexpr int kSpaceByDirectoryIndex = 2;
constexpr int kAllFilesIndex = 7;

// `dirs` directories, the first holding `count` files of sizes that tell
// the machines apart. (The engine lists the files of several directories in
// the order its threads meet them, which differs from run to run; one
// directory's files come in one order.)
void MakeTree(const fs::path& root, int dirs, int count, int salt) {
  for (int d = 0; d < dirs; ++d) fs::create_directories(root / ("dir" + std::to_string(d)));
  for (int i = 0; i < count; ++i)
    vn::testing::WriteText(root / "dir0" / ("f" + std::to_string(i) + ".txt"), std::string(static_cast<std::size_t>(salt + i), 'x'));
}

// The merged file without its "Run:" heading line, the one line that says
// when the run was.
std::string WithoutRunTime(const std::string& path) {
  std::string kept;
  for (const auto& line : ResultLines(vn::testing::ReadText(path)))
    if (line.rfind("\"B1\",\"Run: ", 0) != 0) kept += line + "\n";
  return kept;
}

// The latest "N of M machines done" count among the status texts, or 0.
int MachinesDone(const RunWindows& windows) {
  for (auto it = windows.texts.rbegin(); it != windows.texts.rend(); ++it) {
    if (it->find(" machines done") == std::string::npos) continue;
    return std::stoi(*it);
  }
  return 0;
}

ReportRunContext* Context(const std::string& set, const std::vector<std::string>& machines, bool local) {
  auto* context = new ReportRunContext;
  context->reportName = set;
  if (local) context->localObjects = "C:\\Tree";
  for (const auto& machine : machines) context->remoteObjects[machine] = {"\\\\" + machine + "\\Data\\tree"};
  return context;
}

void SaveSet(const std::string& name, std::initializer_list<int> reports) {
  vn::console::ReportSet set;
  for (int index : reports) set[index].Selected = 1;
  ASSERT_EQ(vn::console::SaveReportSet("", name, set), 0);
}

TEST(FleetRunTest, MachinesFinishingInAnyOrderMergeToTheSameBytes) {
  RunNetwork run({"SRV1", "SRV2", "SRV3"});
  MakeTree(run.Machine("CONSOLE").driveC / "Tree", 2, 3, 1);
  MakeTree(run.Machine("SRV1").ShareDir("Data") / "tree", 3, 4, 10);
  MakeTree(run.Machine("SRV2").ShareDir("Data") / "tree", 1, 5, 100);
  MakeTree(run.Machine("SRV3").ShareDir("Data") / "tree", 4, 2, 1000);
  SaveSet("Fleet", {kSpaceByDirectoryIndex, kAllFilesIndex});
  const std::vector<std::string> order{"CONSOLE", "SRV1", "SRV2", "SRV3"};

  // Each case holds the servers named back and lets them go in that order,
  // one each time every machine not held has finished.
  const std::vector<std::vector<std::string>> holds{{}, {"CONSOLE"}, {"SRV3", "SRV1"}, {"SRV2", "SRV3", "CONSOLE"}};
  std::vector<std::string> expected;
  for (const auto& held : holds) {
    SCOPED_TRACE(::testing::PrintToString(held));
    for (const auto& machine : held) ASSERT_TRUE(run.SignalServer(machine, SIGSTOP)) << machine;
    std::size_t released = 0;
    RunWindows windows;
    const auto let = [&] {
      // The first report's machines: the free ones end first, then one held
      // machine after another.
      while (released < held.size() &&
             MachinesDone(windows) >= static_cast<int>(order.size() - held.size() + released)) {
        ASSERT_TRUE(run.SignalServer(held[released], SIGCONT));
        ++released;
      }
    };
    const auto outcome = run.Run(Context("Fleet", {"SRV1", "SRV2", "SRV3"}, true), windows, nullptr, let);
    for (; released < held.size(); ++released) run.SignalServer(held[released], SIGCONT);
    EXPECT_EQ(outcome.reportExit, 0u);
    ASSERT_EQ(windows.merged.size(), 2u);
    std::vector<std::string> twice = order;
    twice.insert(twice.end(), order.begin(), order.end());
    EXPECT_EQ(windows.resultsFrom, twice);
    EXPECT_EQ(windows.texts.back(), "Report created successfully.");
    EXPECT_NE(std::find(windows.texts.begin(), windows.texts.end(), "4 of 4 machines done"), windows.texts.end());
    if (expected.empty()) {
      for (const auto& path : windows.merged) expected.push_back(WithoutRunTime(path));
      // Every machine's rows are there: 3 + 4 + 5 + 2 files listed, and
      // 2 + 3 + 1 + 4 directories with the four objects.
      const auto count = [](const std::string& path) {
        const auto lines = ResultLines(vn::testing::ReadText(path));
        return std::count_if(lines.begin(), lines.end(), [](const std::string& l) { return l.rfind("\"D1\"", 0) == 0; });
      };
      EXPECT_EQ(count(windows.merged[1]), 14);
      EXPECT_EQ(count(windows.merged[0]), 10 + 4);
    } else {
      for (std::size_t i = 0; i < expected.size(); ++i)
        EXPECT_TRUE(WithoutRunTime(windows.merged[i]) == expected[i]) << "report " << i << " differs";
    }
  }
}

TEST(FleetRunTest, TwoServersKilledMidRunLeaveThreeMergedResultsAndTwoMessages) {
  const std::vector<std::string> machines{"SRV1", "SRV2", "SRV3", "SRV4", "SRV5"};
  RunNetwork run(machines);
  for (std::size_t i = 0; i < machines.size(); ++i)
    MakeTree(run.Machine(machines[i]).ShareDir("Data") / "tree", 2, 3, static_cast<int>(i + 1));
  SaveSet("Five", {kSpaceByDirectoryIndex});

  // SRV2 and SRV4 have taken the request and hang; once the other three have
  // finished they are killed.
  ASSERT_TRUE(run.SignalServer("SRV2", SIGSTOP));
  ASSERT_TRUE(run.SignalServer("SRV4", SIGSTOP));
  bool killed = false;
  RunWindows windows;
  const auto outcome = run.Run(Context("Five", machines, false), windows, nullptr, [&] {
    if (killed || MachinesDone(windows) < 3) return;
    EXPECT_TRUE(run.SignalServer("SRV2", SIGKILL));
    EXPECT_TRUE(run.SignalServer("SRV4", SIGKILL));
    killed = true;
  });
  EXPECT_TRUE(killed);
  EXPECT_EQ(outcome.reportExit, 0u);
  EXPECT_EQ(windows.resultsFrom, (std::vector<std::string>{"SRV1", "SRV3", "SRV5"}));
  ASSERT_EQ(windows.merged.size(), 1u);
  const auto lines = ResultLines(vn::testing::ReadText(windows.merged[0]));
  // Each machine's object and its two directories.
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const std::string& l) { return l.rfind("\"D1\"", 0) == 0; }),
            3 * 3);
  EXPECT_EQ(lines.back().rfind("\"TF\",\"Files\",9,", 0), 0u) << lines.back();
  // The scan history holds what finished, and only that.
  vn::console::CHistoryStore store;
  ASSERT_FALSE(store.Open(vn::console::ReadHistorySettings().location));
  std::vector<vn::console::HistoryScan> scans;
  ASSERT_FALSE(store.ListScans(&scans));
  ASSERT_FALSE(scans.empty());
  vn::console::HistoryScan scan;
  ASSERT_FALSE(store.LoadScan(scans.back().id, &scan));
  std::vector<std::string> recorded;
  for (const auto& machine : scan.machines) recorded.push_back(machine.machine);
  EXPECT_EQ(recorded, (std::vector<std::string>{"SRV1", "SRV3", "SRV5"}));
  // One message for each machine that died, in the selection's order: the
  // server went while its pipe was being opened ("Unable to retrieve data
  // from ...") or later ("Can't connect to ..."), as the kill fell.
  std::vector<std::string> failed;
  for (const std::string prefix : {"Can't connect to ", "Unable to retrieve data from "})
    for (const auto& text : windows.texts)
      if (text.rfind(prefix, 0) == 0) failed.push_back(text.substr(prefix.size(), 4));
  std::sort(failed.begin(), failed.end());
  EXPECT_EQ(failed, (std::vector<std::string>{"SRV2", "SRV4"})) << ::testing::PrintToString(windows.texts);
  EXPECT_NE(std::find(windows.texts.begin(), windows.texts.end(), "5 of 5 machines done"), windows.texts.end());
  for (const char* machine : {"SRV1", "SRV3", "SRV5"}) EXPECT_TRUE(run.ServerResults(machine).empty()) << machine;
}

// Every run records its summaries; `vnadmin growth` then compares two runs
// of a tree that changed in known ways between them.
TEST(FleetRunTest, EachRunRecordsItsScanAndGrowthShowsWhatWasAdded) {
  RunNetwork run({"SRV1", "SRV2"});
  MakeTree(run.Machine("SRV1").ShareDir("Data") / "tree", 2, 3, 1);
  MakeTree(run.Machine("SRV2").ShareDir("Data") / "tree", 1, 2, 1);
  SaveSet("Dirs", {kSpaceByDirectoryIndex});
  {
    RunWindows windows;
    run.Run(Context("Dirs", {"SRV1", "SRV2"}, false), windows);
    ASSERT_EQ(windows.merged.size(), 1u);
  }
  const fs::path added = run.Machine("SRV1").ShareDir("Data") / "tree" / "dir1";
  vn::testing::WriteText(added / "new1.dat", std::string(100, 'n'));
  vn::testing::WriteText(added / "new2.dat", std::string(250, 'n'));
  {
    RunWindows windows;
    run.Run(Context("Dirs", {"SRV1", "SRV2"}, false), windows);
    ASSERT_EQ(windows.merged.size(), 1u);
  }

  // The two runs are the history's last two scans.
  vn::console::CHistoryStore store;
  ASSERT_FALSE(store.Open(vn::console::ReadHistorySettings().location));
  std::vector<vn::console::HistoryScan> scans;
  ASSERT_FALSE(store.ListScans(&scans));
  ASSERT_GE(scans.size(), 2u);
  const std::string first = std::to_string(scans[scans.size() - 2].id);
  std::ostringstream out, err;
  EXPECT_EQ(vn::admin::HistoryVerb({}, out, err), 0) << err.str();
  EXPECT_NE(out.str().find("Space By Directory"), std::string::npos) << out.str();
  const fs::path growth = run.Net().Root() / "growth.csv";
  out.str("");
  ASSERT_EQ(vn::admin::GrowthVerb({first, "-o", growth.string()}, out, err), 0) << err.str();
  EXPECT_EQ(out.str(), "Growth since scan " + first + ": " + growth.string() + "\n");
  std::map<std::string, std::vector<std::string>> rows;
  for (const auto& line : ResultLines(vn::testing::ReadText(growth))) {
    const auto fields = vn::console::SplitResultFields(line);
    if (fields[0] == "D1") rows[fields[2]] = fields;
  }
  // Computer, Directory, Level, Files Then, Files Now, Files Change, Size Then, Size Now, Size Change
  ASSERT_EQ(rows.size(), 3u + 2u);
  const auto& dir1 = rows.at("\\\\SRV1\\Data\\tree\\dir1");
  EXPECT_EQ(dir1[1], "SRV1");
  EXPECT_EQ((std::vector<std::string>{dir1[4], dir1[5], dir1[6]}), (std::vector<std::string>{"0", "2", "2"}));
  EXPECT_EQ(std::stoll(dir1[9]), 350);
  EXPECT_EQ(rows.at("\\\\SRV1\\Data\\tree")[6], "2");
  EXPECT_EQ(rows.at("\\\\SRV1\\Data\\tree\\dir0")[6], "0");
  EXPECT_EQ(rows.at("\\\\SRV2\\Data\\tree")[6], "0");

  // A scan that is not there: the store's message, and no file.
  const fs::path none = run.Net().Root() / "none.csv";
  EXPECT_EQ(vn::admin::GrowthVerb({"7000", "-o", none.string()}, out, err), 1);
  EXPECT_NE(err.str().find("holds no scan 7000"), std::string::npos) << err.str();
  EXPECT_FALSE(fs::exists(none));
}

}  // namespace
