// Custom reports on small trees whose answer is known: which files, in what
// order, the break rows with their subtotals, the summary pass and the
// final totals; and definitions the engine must refuse.

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "reportdef/ReportDefinition.h"
#include "server/engine/tests/EngineTestTree.h"

namespace vn::server {
namespace {

using namespace vn::server::testing;
namespace rd = vn::reportdef;

void MakeTree(TestTree& tree) {
  tree.File("a/one.log", 1000);
  tree.File("a/two.log", 3000);
  tree.File("a/skip.txt", 5000);
  tree.File("b/three.log", 2000);
  tree.File("b/tiny.log", 10);
  tree.File("b/c/four.log", 4000);
}

std::shared_ptr<rd::ReportDefinition> ByDirectory() {
  auto d = std::make_shared<rd::ReportDefinition>();
  d->PutQuery("FileName = \"*.log\" AND Size >= 1 KB OR FileName = \"one.log\"");
  d->PutDetailField(0, rd::kFileName);
  d->PutDetailField(1, rd::kSize);
  d->PutSortField(0, rd::kDirectory, rd::kAscending);
  d->PutSortField(1, rd::kSize, rd::kDescending);
  d->PutSummaryBreakField(0, rd::kDirectory);
  d->PutTotalField(0, 0, rd::kSize, rd::kSum, rd::kDirectory);
  d->PutTotalField(0, 1, rd::kFiles, rd::kSum, -1);
  d->PutFinalTotalField(0, rd::kSize, rd::kSum);
  d->PutFinalTotalField(1, rd::kSize, rd::kMax);
  d->PutFinalTotalField(2, rd::kFiles, rd::kSum);
  d->PutSummarySortField(0, rd::kDepth, rd::kDescending);
  d->PutSummarySortField(rd::kDepth);
  d->PutSummaryTotalField(0, rd::kSize, rd::kSum, -1);
  d->PutSummaryTotalField(1, rd::kFiles, rd::kSum, -1);
  return d;
}

RunOutcome RunCustom(const TestTree& tree, std::shared_ptr<rd::ReportDefinition> def, LONG rptLen = 0) {
  auto rec = Record(kReportCustom);
  VN_SET(rec.CustomReport, "\\\\SRV1\\Big Logs");
  rec.RptLen = rptLen;
  EngineOptions options;
  options.customDefinition = std::move(def);
  return RunOn(tree, rec, {tree.Object()}, options);
}

// Each row as kind, FileName, Directory, then the named columns.
std::vector<std::vector<std::string>> Rows(const ParsedResult& p, const std::vector<std::string>& columns) {
  std::vector<std::vector<std::string>> out;
  for (const auto& row : p.rows) {
    std::vector<std::string> r{row[0]};
    for (const std::string& c : columns) {
      const int i = p.Column(c);
      r.push_back(i >= 0 && static_cast<std::size_t>(i) < row.size() ? row[static_cast<std::size_t>(i)] : "?");
    }
    out.push_back(std::move(r));
  }
  return out;
}

TEST(CustomReport, RowsBreaksSummaryAndTotalsOfAKnownTree) {
  TestTree tree;
  MakeTree(tree);
  auto out = RunCustom(tree, ByDirectory());
  ASSERT_EQ(out.result.error, 0u) << out.result.message;
  const ParsedResult& p = out.parsed;
  EXPECT_EQ(p.Title(), "Custom Report: Big Logs");
  EXPECT_EQ(p.a1[1], "12");
  // The result format has no quote inside a text: the heading shows single ones.
  EXPECT_TRUE(p.HeadingHas("Query: FileName = '*.log' AND Size >= 1 KB"));
  EXPECT_EQ(p.columns, (std::vector<std::string>{"FileName", "Directory", "Size", "Files", "Depth"}));
  const std::vector<std::vector<std::string>> expected = {
      {"D1", "two.log", "C:\\T\\a", "3000", "1"},
      {"D1", "one.log", "C:\\T\\a", "1000", "1"},
      {"DS", "<Directory: C:\\T\\a>", "", "4000", "2"},
      {"D1", "three.log", "C:\\T\\b", "2000", "1"},
      {"DS", "<Directory: C:\\T\\b>", "", "2000", "1"},
      {"D1", "four.log", "C:\\T\\b\\c", "4000", "1"},
      {"DS", "<Directory: C:\\T\\b\\c>", "", "4000", "1"},
      {"S1", "<Depth: 3>", "", "4000", "1"},
      {"S1", "<Depth: 2>", "", "6000", "3"},
  };
  EXPECT_EQ(Rows(p, {"FileName", "Directory", "Size", "Files"}), expected);
  EXPECT_EQ(p.Values("Depth", "S1"), (std::vector<std::string>{"3", "2"}));
  EXPECT_EQ(p.totals, (std::vector<std::string>{"Files", "4", "Size (Sum)", "10000", "Size (Max)", "4000",
                                                "Files (Sum)", "4"}));
}

TEST(CustomReport, TotalsResetWhereTheirResetFieldChanges) {
  TestTree tree;
  MakeTree(tree);
  // Size runs on over the directories of one machine; Files starts again
  // at each directory; the innermost break is written before the outer one.
  auto d = ByDirectory();
  d->ClearAllSortFields();
  d->PutSortField(0, rd::kMachine, rd::kAscending);
  d->PutSortField(1, rd::kDirectory, rd::kAscending);
  d->DeleteSummaryBreakField(0);
  d->PutSummaryBreakField(0, rd::kMachine);
  d->PutTotalField(0, 0, rd::kFiles, rd::kSum, -1);
  d->PutSummaryBreakField(1, rd::kDirectory);
  d->PutTotalField(1, 0, rd::kSize, rd::kSum, rd::kMachine);
  d->PutTotalField(1, 1, rd::kFiles, rd::kSum, rd::kDirectory);
  d->PutSummarySortField(-1);
  d->ClearAllSummarySortFields();
  auto out = RunCustom(tree, d);
  ASSERT_EQ(out.result.error, 0u) << out.result.message;
  std::vector<std::vector<std::string>> breaks;
  for (const auto& row : Rows(out.parsed, {"FileName", "Size", "Files"}))
    if (row[0] != "D1") breaks.push_back(row);
  const std::vector<std::vector<std::string>> expected = {
      {"DS", "<Directory: C:\\T\\a>", "4000", "2"},
      {"DS", "<Directory: C:\\T\\b>", "6000", "1"},
      {"DS", "<Directory: C:\\T\\b\\c>", "10000", "1"},
      {"DS", "<Machine: " + tree.Object().machine + ">", "", "4"},
  };
  EXPECT_EQ(breaks, expected);
  EXPECT_EQ(out.parsed.Count("S1"), 0u) << "no summary pass without a summarized field";
}

TEST(CustomReport, RecordLimitCutsRowsButNotTotals) {
  TestTree tree;
  MakeTree(tree);
  auto out = RunCustom(tree, ByDirectory(), 2);
  ASSERT_EQ(out.result.error, 0u) << out.result.message;
  EXPECT_EQ(out.parsed.Count("D1"), 2u);
  EXPECT_EQ(out.parsed.Count("DS"), 3u);
  EXPECT_EQ(out.parsed.Total("Size (Sum)"), 10000);
  EXPECT_TRUE(out.parsed.HeadingHas("More files meet the query than the records shown"));
}

TEST(CustomReport, FiltersOfTheOptionsApplyBeforeTheQuery) {
  TestTree tree;
  MakeTree(tree);
  auto rec = Record(kReportCustom);
  VN_SET(rec.FileFilter, "t*");
  EngineOptions options;
  options.customDefinition = ByDirectory();
  auto out = RunOn(tree, rec, {tree.Object()}, options);
  ASSERT_EQ(out.result.error, 0u) << out.result.message;
  EXPECT_EQ(out.parsed.Values("FileName"), (std::vector<std::string>{"two.log", "three.log"}));
}

// The walk skips the metadata of files whose names already fail the query;
// a query that a name alone cannot decide still sees every file.
TEST(CustomReport, NamesDecideOnlyWhatTheyCan) {
  TestTree tree;
  MakeTree(tree);
  std::filesystem::create_symlink("three.log", tree.Root() / "b/link.log");
  const std::pair<const char*, std::vector<std::string>> cases[] = {
      {"Size > 4500 OR FileName = \"tiny*\"", {"tiny.log", "skip.txt"}},
      {"NOT FileName = \"*.txt\" AND Size < 1500", {"tiny.log", "one.log"}},
      {"NOT (FileName = \"*.log\" AND Size < 4500)", {"skip.txt"}},
      {"Directory = \"*\\b\" AND Extension = \"LOG\"", {"tiny.log", "three.log"}},
  };
  for (const auto& [query, files] : cases) {
    auto def = std::make_shared<rd::ReportDefinition>();
    def->PutQuery(query);
    def->PutSortField(0, rd::kSize, rd::kAscending);
    auto out = RunCustom(tree, def);
    ASSERT_EQ(out.result.error, 0u) << out.result.message;
    EXPECT_EQ(out.parsed.Values("FileName"), files) << query;
  }
}

TEST(CustomReport, RefusedDefinitionsWriteNothing) {
  TestTree tree;
  MakeTree(tree);
  struct Bad {
    const char* query;
    const char* summaryQuery;
    const char* expected;
  };
  const Bad cases[] = {
      {"Size > ", "", "query of this custom report is refused at position 8: A value is expected"},
      {"", "Owner = 3", "summary query of this custom report is refused at position 9"},
  };
  for (const Bad& c : cases) {
    auto d = ByDirectory();
    d->PutQuery(c.query);
    d->PutSummaryQuery(c.summaryQuery);
    auto out = RunCustom(tree, d);
    EXPECT_EQ(out.result.error, static_cast<DWORD>(ERROR_INVALID_DATA));
    EXPECT_NE(out.result.message.find(c.expected), std::string::npos) << out.result.message;
    EXPECT_FALSE(out.exists);
  }
}

}  // namespace
}  // namespace vn::server
