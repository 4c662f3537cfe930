// The scan history on both of its databases: the same cases run against an
// embedded SQLite file and against a PostgreSQL server of the test's own.
// Scans come from the real engine over real trees, read through the same
// recorder the merge feeds; a tree changed in known ways between two scans
// gives a growth report with exactly those changes.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>

#include "console/core/history/GrowthReport.h"
#include "console/core/history/HistoryRecorder.h"
#include "console/core/history/HistorySettings.h"
#include "console/core/results/FXDataManager.h"
#include "server/engine/tests/EngineTestTree.h"
#include "testing/TempPostgres.h"
#include "testing/TestFiles.h"

namespace {

namespace fs = std::filesystem;
using vn::console::CHistoryRecorder;
using vn::console::CHistoryStore;
using vn::console::HistoryScan;
using vn::console::MeasureKind;
using vn::server::testing::TestTree;

enum class Backend { Sqlite, PostgreSql };

// One server for every PostgreSQL case of the binary, made by the first
// case that needs it and stopped when the binary's tests end.
class PostgresEnvironment : public ::testing::Environment {
 public:
  vn::testing::TempPostgres& Server() {
    if (!m_server) m_server = std::make_unique<vn::testing::TempPostgres>();
    return *m_server;
  }
  void TearDown() override { m_server.reset(); }

 private:
  std::unique_ptr<vn::testing::TempPostgres> m_server;
};
auto* const g_postgres = static_cast<PostgresEnvironment*>(::testing::AddGlobalTestEnvironment(new PostgresEnvironment));

vn::testing::TempPostgres& Postgres() { return g_postgres->Server(); }

class HistoryStoreTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    if (GetParam() == Backend::PostgreSql) {
      if (!Postgres().Available()) GTEST_SKIP() << "PostgreSQL: " << Postgres().Why();
      m_location = Postgres().Database("history_" + std::to_string(++s_databases));
    } else {
      m_location = (m_tree.ResultDir() / "history.db").string();
    }
    ASSERT_FALSE(m_store.Open(m_location)) << m_location;
  }

  // Runs `code` over the tree through the engine and reads the result as
  // the merge would hand it to the recorder, as machine SRV1.
  HistoryScan Scan(DWORD code, int depth = 0, const std::string& started = "2026-12-01 08:00:00") {
    const fs::path file = m_tree.ResultDir() / ("r" + std::to_string(++m_results) + ".csv");
    vn::server::NullProgress progress;
    vn::server::EngineOptions options;
    options.threads = 2;
    const auto result = vn::server::RunReport(vn::server::testing::Record(code), {m_tree.Object("\\\\SRV1\\Data\\T", "\\\\SRV1\\Data\\T")},
                                              file, options, progress);
    EXPECT_EQ(result.error, 0u) << result.message;
    CHistoryRecorder recorder(depth);
    recorder.BeginMachine("SRV1");
    for (const auto& line : vn::testing::ResultLines(vn::testing::ReadText(file))) recorder.Feed(line + "\r\n");
    HistoryScan scan;
    EXPECT_TRUE(recorder.Take(&scan));
    scan.started = started;
    scan.origin = "VN";
    return scan;
  }

  static std::map<std::string, vn::console::HistoryMeasure> ByName(const HistoryScan& scan) {
    std::map<std::string, vn::console::HistoryMeasure> named;
    for (const auto& machine : scan.machines)
      for (const auto& measure : machine.measures) named[measure.name] = measure;
    return named;
  }

  static inline int s_databases = 0;
  TestTree m_tree;
  std::string m_location;
  CHistoryStore m_store;
  int m_results = 0;
};

TEST_P(HistoryStoreTest, SummaryReportsAreRecordedPerMachineAndReadBackWhole) {
  m_tree.File("a/one.txt", 100);
  m_tree.File("a/two.TXT", 50);
  m_tree.File("a/b/three.log", 7);
  m_tree.File("a/b/c/d/deep.log", 3);

  // Directories to two levels below the object; owners; file types.
  HistoryScan directories = Scan(vn::kReportSpaceByDirectory, 2);
  HistoryScan owners = Scan(vn::kReportSpaceByUser);
  HistoryScan types = Scan(vn::kReportDetailedSummary);
  for (HistoryScan* scan : {&directories, &owners, &types}) ASSERT_FALSE(m_store.Record(*scan));
  EXPECT_LT(directories.id, owners.id);
  EXPECT_LT(owners.id, types.id);

  std::vector<HistoryScan> listed;
  ASSERT_FALSE(m_store.ListScans(&listed));
  ASSERT_EQ(listed.size(), 3u);
  EXPECT_EQ(listed[0].report, "Space By Directory");
  EXPECT_EQ(listed[1].report, "Space By User");
  EXPECT_EQ(listed[2].report, "Detailed Summary");
  EXPECT_EQ(listed[0].origin, "VN");
  EXPECT_EQ(listed[0].started, "2026-12-01 08:00:00");

  HistoryScan loaded;
  ASSERT_FALSE(m_store.LoadScan(directories.id, &loaded));
  ASSERT_EQ(loaded.machines.size(), 1u);
  EXPECT_EQ(loaded.machines[0].machine, "SRV1");
  EXPECT_EQ(loaded.machines[0].objects, "\\\\SRV1\\Data\\T");
  const auto dirs = ByName(loaded);
  // The object, a and a\b; a\b\c (level 3) is past the depth.
  ASSERT_EQ(dirs.size(), 3u) << ::testing::PrintToString(loaded.machines[0].measures.size());
  const auto& root = dirs.at("\\\\SRV1\\Data\\T");
  EXPECT_EQ(root.kind, MeasureKind::Directory);
  EXPECT_EQ(root.files, 4);
  EXPECT_GE(root.bytes, 160);  // the files' 160 bytes and the directories' own
  EXPECT_EQ(dirs.at("\\\\SRV1\\Data\\T\\a\\b").files, 2);

  ASSERT_FALSE(m_store.LoadScan(types.id, &loaded));
  const auto kinds = ByName(loaded);
  EXPECT_EQ(kinds.at(".txt").files, 2);
  EXPECT_EQ(kinds.at(".txt").bytes, 150);
  EXPECT_EQ(kinds.at(".log").files, 2);
  EXPECT_EQ(kinds.count("Free Space"), 0u);

  ASSERT_FALSE(m_store.LoadScan(owners.id, &loaded));
  ASSERT_EQ(loaded.machines[0].measures.size(), 1u);  // every file is the test's
  EXPECT_EQ(loaded.machines[0].measures[0].kind, MeasureKind::Owner);

  // A scan that does not exist, and a report that is no summary.
  const auto missing = m_store.LoadScan(999, &loaded);
  EXPECT_TRUE(missing);
  EXPECT_NE(missing.message.find("holds no scan 999"), std::string::npos) << missing.message;
  CHistoryRecorder recorder(0);
  recorder.BeginMachine("SRV1");
  recorder.Feed("\"A1\",14,3\r\n");
  recorder.Feed("\"B1\",\"All Files\"\r\n");
  HistoryScan none;
  EXPECT_FALSE(recorder.Take(&none));
}

TEST_P(HistoryStoreTest, GrowthSinceAnEarlierScanShowsWhatChanged) {
  m_tree.File("keep/a.dat", 1000);
  m_tree.File("grow/b.dat", 10);
  m_tree.File("gone/c.dat", 300);
  HistoryScan before = Scan(vn::kReportSpaceByDirectory, 0, "2026-12-01 08:00:00");
  ASSERT_FALSE(m_store.Record(before));
  HistoryScan other = Scan(vn::kReportSpaceByUser, 0, "2026-12-02 08:00:00");
  ASSERT_FALSE(m_store.Record(other));

  // Two files added under grow\, one grown there, a new folder, one removed.
  m_tree.File("grow/b.dat", 60);
  m_tree.File("grow/new1.dat", 200);
  m_tree.File("grow/new2.dat", 300);
  m_tree.File("fresh/d.dat", 5);
  fs::remove_all(m_tree.Root() / "gone");
  HistoryScan after = Scan(vn::kReportSpaceByDirectory, 0, "2026-12-08 08:00:00");
  ASSERT_FALSE(m_store.Record(after));

  long long since = 0;
  ASSERT_FALSE(vn::console::FindDirectoryScan(m_store, "2026-12-05", &since));
  EXPECT_EQ(since, before.id);
  const fs::path out = m_tree.ResultDir() / "growth.csv";
  ASSERT_FALSE(vn::console::WriteGrowthReport(m_store, {since, 0, ""}, out));
  EXPECT_FALSE(fs::exists(out.string() + ".part"));

  // Read back with the result window's own reader.
  vn::console::CFXDataManager data(out.string());
  ASSERT_TRUE(data.Open());
  data.ReadHeader();
  ASSERT_TRUE(data.ReadAll());
  EXPECT_EQ(data.GetReportName(), "Growth Since");
  EXPECT_EQ(data.GetColumnCount(), 10);
  EXPECT_TRUE(data.HasTotals());
  const std::string text = vn::testing::ReadText(out);
  std::map<std::string, std::vector<std::string>> rows;
  for (const auto& line : vn::testing::ResultLines(text)) {
    const auto fields = vn::console::SplitResultFields(line);
    if (fields[0] == "D1") rows[fields[2]] = fields;
  }
  // Computer, Directory, Level, Files Then, Files Now, Files Change, Size Then, Size Now, Size Change
  const auto& grow = rows.at("\\\\SRV1\\Data\\T\\grow");
  EXPECT_EQ(grow[4], "1");
  EXPECT_EQ(grow[5], "3");
  EXPECT_EQ(grow[6], "2");
  EXPECT_EQ(grow[9], "550");
  const auto& keep = rows.at("\\\\SRV1\\Data\\T\\keep");
  EXPECT_EQ(keep[6], "0");
  EXPECT_EQ(keep[9], "0");
  const auto& gone = rows.at("\\\\SRV1\\Data\\T\\gone");
  EXPECT_EQ(gone[5], "0");
  EXPECT_EQ(gone[6], "-1");
  const auto& fresh = rows.at("\\\\SRV1\\Data\\T\\fresh");
  EXPECT_EQ(fresh[4], "0");
  EXPECT_EQ(fresh[6], "1");
  // The object's row: 3 files then, 5 now. Totals count the object once.
  const auto& root = rows.at("\\\\SRV1\\Data\\T");
  EXPECT_EQ(root[6], "2");
  const auto lines = vn::testing::ResultLines(text);
  const auto totals = vn::console::SplitResultFields(lines.back());
  ASSERT_EQ(totals.size(), 5u);
  EXPECT_EQ(totals[2], "2");
  EXPECT_EQ(totals[4], root[9]);

  // Growth needs two directory scans: a Space By User scan is refused with
  // its reason, and nothing is written.
  const fs::path refused = m_tree.ResultDir() / "refused.csv";
  const auto error = vn::console::WriteGrowthReport(m_store, {other.id, 0, ""}, refused);
  EXPECT_TRUE(error);
  EXPECT_NE(error.message.find("Space By User"), std::string::npos) << error.message;
  EXPECT_FALSE(fs::exists(refused));
}

INSTANTIATE_TEST_SUITE_P(Databases, HistoryStoreTest, ::testing::Values(Backend::Sqlite, Backend::PostgreSql),
                         [](const auto& info) { return info.param == Backend::Sqlite ? "SQLite" : "PostgreSQL"; });

// A history that cannot be written never fails the run: each case gives a
// message that names the database and says what is wrong.
TEST(HistoryFaultTest, LockedDamagedAndUnreachableDatabasesGiveAClearMessage) {
  TestTree tree;
  HistoryScan scan;
  scan.report = "Space By Directory";
  scan.machines.push_back({"SRV1", "\\\\SRV1\\Data", {{MeasureKind::Directory, "\\\\SRV1\\Data", 0, 1, 2, 3}}});
  const auto record = [&](const std::string& location) {
    vn::console::HistorySettings settings;
    settings.location = location;
    HistoryScan copy = scan;
    return vn::console::RecordHistoryScan(settings, copy);
  };

  // Damaged: a file that is no database. It is left as it was.
  const fs::path damaged = tree.ResultDir() / "damaged.db";
  vn::testing::WriteText(damaged, std::string(8192, 'z'));
  std::string message = record(damaged.string());
  EXPECT_EQ(message.rfind("The scan history was not recorded: The scan history " + damaged.string(), 0), 0u) << message;
  EXPECT_NE(message.find("not a database"), std::string::npos) << message;
  EXPECT_EQ(vn::testing::ReadText(damaged), std::string(8192, 'z'));

  // Locked: another connection holds the write lock past the busy time-out.
  const fs::path locked = tree.ResultDir() / "locked.db";
  ASSERT_EQ(record(locked.string()), "");
  std::unique_ptr<vn::SqlDatabase> holder;
  ASSERT_FALSE(vn::OpenSqlDatabase(locked.string(), &holder));
  ASSERT_FALSE(holder->ExecuteScript("BEGIN IMMEDIATE"));
  message = record(locked.string());
  EXPECT_NE(message.find("locked"), std::string::npos) << message;
  holder->Rollback();
  EXPECT_EQ(record(locked.string()), "");
  CHistoryStore store;
  ASSERT_FALSE(store.Open(locked.string()));
  std::vector<HistoryScan> scans;
  ASSERT_FALSE(store.ListScans(&scans));
  EXPECT_EQ(scans.size(), 2u);  // the locked attempt left nothing behind

  // A folder that cannot hold it, and a PostgreSQL server nobody serves.
  message = record((tree.ResultDir() / "file.db" / "x" / "history.db").string().replace(0, 0, "/proc/"));
  EXPECT_FALSE(message.empty());
  message = record("host=" + tree.ResultDir().string() + " port=1 dbname=none");
  EXPECT_EQ(message.rfind("The scan history was not recorded: The scan history host=", 0), 0u) << message;
}

}  // namespace
