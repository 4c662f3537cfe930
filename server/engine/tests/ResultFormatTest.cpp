// The result file's text and number rules, the file's life, and the
// reports whose answers depend on names and times.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <fstream>
#include <set>

#include <gtest/gtest.h>

#include "server/engine/ResultWriter.h"
#include "server/engine/tests/EngineTestTree.h"

namespace vn::server {
namespace {
namespace fs = std::filesystem;

using testing::Record;
using testing::RunOn;
using testing::TestTree;

TEST(ResultFormatTest, TextsAndNumbersKeepEveryLineParseable) {
  struct Case {
    std::string_view in;
    const char* out;
  } cases[] = {
      {"plain", ",\"plain\""},
      {"say \"hi\"", ",\"say 'hi'\""},
      {"two\r\nlines", ",\"two  lines\""},
      {std::string_view("nul\0tab\t", 8), ",\"nul tab \""},
      {"comma, inside", ",\"comma, inside\""},
      {"\xc3\xa9t\xc3\xa9 \xe6\x97\xa5", ",\"\xc3\xa9t\xc3\xa9 \xe6\x97\xa5\""},
  };
  for (const Case& c : cases) {
    std::string out;
    Text(out, c.in);
    EXPECT_EQ(out, c.out);
  }
  std::string n;
  Number(n, INT64_MIN);
  Number(n, INT64_MAX);
  Number(n, 0);
  EXPECT_EQ(n, ",-9223372036854775808,9223372036854775807,0");
  for (auto [name, exact] : {std::pair{"a b.txt", true}, {"\xc3\xa9.txt", true}, {"a\"b", false},
                             {"a\\b", false}, {"a\nb", false}, {"a\x7f", false}})
    EXPECT_EQ(NameTextIsExact(name), exact) << name;
  EXPECT_TRUE(PathTextIsExact("\\\\SRV1\\C$\\a b"));
}

TEST(ResultFormatTest, TheFileExistsOnlyWhenFinished) {
  TestTree tree;
  const fs::path file = tree.ResultDir() / "r.csv";
  {
    ResultWriter w;
    ASSERT_EQ(w.Create(file), 0u);
    w.Append("\"A1\",1,1\r\n");
    EXPECT_TRUE(fs::exists(file));
  }  // destroyed unfinished: removed
  EXPECT_FALSE(fs::exists(file));
  ResultWriter w;
  ASSERT_EQ(w.Create(file), 0u);
  std::string big(600 * 1024, 'x');  // more than the buffer holds
  w.Append(big);
  ResultWriter second;
  EXPECT_EQ(second.Create(file), static_cast<DWORD>(ERROR_FILE_EXISTS));
  EXPECT_EQ(w.Finish(), 0u);
  EXPECT_EQ(fs::file_size(file), big.size());
  EXPECT_EQ(ResultWriter().Create(tree.Root() / "no-dir" / "r.csv"), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST(ResultFormatTest, NamesWithBlanksAndAccentsAreListedExactly) {
  TestTree tree;
  const std::set<std::string> names = {"with space.txt", "\xc3\xa9t\xc3\xa9_\xe6\x97\xa5\xe6\x9c\xac.txt",
                                       "comma,name.txt", ".hidden"};
  for (const std::string& n : names) tree.File("dir one/" + n, 10);
  auto out = RunOn(tree, Record(kReportAllFiles));
  auto listed = out.parsed.Values("FileName");
  EXPECT_EQ(std::set<std::string>(listed.begin(), listed.end()), names);
  for (const std::string& d : out.parsed.Values("Directory")) EXPECT_EQ(d, "C:\\T\\dir one");
}

TEST(ResultFormatTest, CloseNameMatchGroupsSimilarNamesOfEqualContent) {
  TestTree tree;
  const std::string body(6000, 'b');
  tree.Content("x/report.txt", body);
  tree.Content("y/report1.txt", body);
  tree.Content("z/summary.doc", body);
  auto rec = Record(kReportDuplicateFiles);
  VN_SET(rec.Criteria[1].Value1, "80");
  VN_SET(rec.Criteria[2].Value1, "100");
  auto out = RunOn(tree, rec);
  ASSERT_EQ(out.result.error, 0u) << out.result.message;
  auto names = out.parsed.Values("FileName");
  EXPECT_EQ(std::set<std::string>(names.begin(), names.end()), (std::set<std::string>{"report.txt", "report1.txt"}));
  EXPECT_EQ(out.parsed.Count("DS"), 1u);
  EXPECT_EQ(out.parsed.Total("Wasted"), 6000);
  VN_SET(rec.Criteria[1].Value1, "101");
  EXPECT_EQ(RunOn(tree, rec).result.error, static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(ResultFormatTest, CalendarDatesAndCreationTimesChooseFiles) {
  TestTree tree;
  tree.File("old", 10);
  tree.File("new", 10);
  std::tm tm{};
  tm.tm_year = 120, tm.tm_mon = 5, tm.tm_mday = 15, tm.tm_hour = 10, tm.tm_isdst = -1;  // 2020-06-15 10:00
  const std::time_t june = std::mktime(&tm);
  tree.Times("old", june, june);
  auto rec = Record(kReportFilesByRevisionDate);
  rec.Criteria[0].Scope = 2, rec.Criteria[0].Measure = 4;
  VN_SET(rec.Criteria[0].Value1, "6/15/2020");
  VN_SET(rec.Criteria[0].Value2, "2020-06-15");
  EXPECT_EQ(RunOn(tree, rec).parsed.Values("FileName"), (std::vector<std::string>{"old"}));
  rec.Criteria[0].Scope = 4;  // since the 16th
  VN_SET(rec.Criteria[0].Value1, "16.6.2020");
  EXPECT_EQ(RunOn(tree, rec).parsed.Values("FileName"), (std::vector<std::string>{"new"}));
  // Creation: both were made just now, whatever their other times say.
  auto created = Record(kReportFilesByCreationDate);
  created.Criteria[0].Scope = 4, created.Criteria[0].Measure = 5;
  VN_SET(created.Criteria[0].Value1, "1");
  auto out = RunOn(tree, created);
  auto names = out.parsed.Values("FileName");
  struct statx st {};
  ASSERT_EQ(::statx(AT_FDCWD, (tree.Root() / "old").c_str(), 0, STATX_BTIME, &st), 0);
  if (st.stx_mask & STATX_BTIME) {
    EXPECT_EQ(std::set<std::string>(names.begin(), names.end()), (std::set<std::string>{"old", "new"}));
  } else {
    EXPECT_EQ(names, (std::vector<std::string>{"new"}));  // the revision time stands in
    EXPECT_TRUE(out.parsed.HeadingHas("keeps no creation time"));
  }
}

TEST(ResultFormatTest, OneFailingRecordDoesNotStopTheOthers) {
  TestTree tree;
  tree.File("a", 10);
  auto good = Record(kReportAllFiles), custom = Record(kReportCustom), quota = Record(kReportSpaceByQuota);
  const std::vector<ReportRequest> requests = {{&custom, tree.ResultDir() / "c.csv"},
                                               {&good, tree.ResultDir() / "g.csv"},
                                               {&quota, tree.ResultDir() / "q.csv"}};
  NullProgress progress;
  auto results = RunReports(requests, {tree.Object()}, testing::TestAccounts(), progress);
  // A custom report without a definition fails alone.
  EXPECT_EQ(results[0].error, static_cast<DWORD>(ERROR_INVALID_DATA));
  EXPECT_NE(results[0].message.find("no definition"), std::string::npos);
  EXPECT_FALSE(fs::exists(requests[0].resultFile));
  EXPECT_EQ(results[1].error, 0u);
  EXPECT_TRUE(fs::exists(requests[1].resultFile));
  // Quotas: rows where the file system keeps them, else the heading says so.
  ASSERT_EQ(results[2].error, 0u) << results[2].message;
  std::ifstream in(requests[2].resultFile, std::ios::binary);
  auto parsed = testing::ParseResult(std::string(std::istreambuf_iterator<char>(in), {}));
  EXPECT_EQ(parsed.Title(), "Space By Quota");
  EXPECT_TRUE(parsed.Count("D1") > 0 || parsed.HeadingHas("No quotas are kept on C:"));
}

}  // namespace
}  // namespace vn::server
