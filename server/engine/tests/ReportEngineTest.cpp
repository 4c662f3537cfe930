// The engine's reports over small real trees whose answers are known.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <map>
#include <set>

#include <gtest/gtest.h>

#include "server/engine/Criteria.h"
#include "server/engine/tests/EngineTestTree.h"

namespace vn::server {
namespace {
namespace fs = std::filesystem;

using testing::Record;
using testing::RunOn;
using testing::TestTree;

constexpr DWORD kAllCodes[] = {
    kReportFilesByAccessDate, kReportWastedSpace, kReportFilesByRevisionDate, kReportPartitionSummary,
    kReportFilesByCreationDate, kReportSpaceByDirectory, kReportSpaceByGroup, kReportSpaceByQuota, kReportSpaceByShare,
    kReportFilesBySize, kReportSpaceByUser, kReportDuplicateFiles, kReportAllFiles, kReportDetailedSummary,
    kReportInsecureFiles, kReportFilesWithUndefinedOwners, kReportFilesWithAcl, kReportFilesByUserAccess,
    kReportUserAccessByFile, kReportFilesWithUndefinedAces};
constexpr DWORD kListingCodes[] = {
    kReportFilesByAccessDate, kReportWastedSpace, kReportFilesByRevisionDate, kReportFilesByCreationDate,
    kReportFilesBySize, kReportDuplicateFiles, kReportAllFiles, kReportInsecureFiles, kReportFilesWithUndefinedOwners,
    kReportFilesWithAcl, kReportFilesByUserAccess, kReportUserAccessByFile, kReportFilesWithUndefinedAces};

// A tree every report finds something in.
void MakeSample(TestTree& tree) {
  tree.File("a.txt", 1000);
  tree.File("B.TXT", 3000);
  tree.File("sub/c.log", 5000);
  tree.File("sub/deeper/d", 7000);
  tree.File("sub/deeper/copy.txt", 1000);
  ::chmod((tree.Root() / "sub/c.log").c_str(), 0666);
}

// Directory + "\" + FileName, read back to the Linux path under the tree.
fs::path Reached(const TestTree& tree, const std::string& shownRoot, const std::string& dir, const std::string& name) {
  std::string full = dir + "\\" + name;
  EXPECT_EQ(full.rfind(shownRoot + "\\", 0), 0u) << full;
  std::string rel = full.substr(shownRoot.size() + 1);
  std::replace(rel.begin(), rel.end(), '\\', '/');
  return tree.Root() / rel;
}

TEST(ReportEngineTest, EveryReportWritesTheResultFormatWithItsTitle) {
  TestTree tree;
  MakeSample(tree);
  const std::map<DWORD, std::string> titles = {
      {1, "Files By Access Date"}, {2, "Wasted Space"}, {3, "Files By Revision Date"}, {4, "Partition Summary"},
      {5, "Files By Creation Date"}, {6, "Space By Directory"}, {7, "Group Usage Report"}, {8, "Space By Quota"},
      {9, "Space By Share"}, {10, "Files By Size"}, {11, "Space By User"}, {13, "Duplicate Files"},
      {14, "All Files"}, {15, "Detailed Summary"}, {16, "Insecure Files"}, {17, "Files With Undefined Owners"},
      {18, "Files With ACL"}, {19, "Files By User Access"}, {20, "User Access By File"},
      {21, "Files With Undefined ACE's"}};
  for (DWORD code : kAllCodes) {
    SCOPED_TRACE(code);
    auto out = RunOn(tree, Record(code));
    ASSERT_EQ(out.result.error, 0u) << out.result.message;
    ASSERT_TRUE(out.exists);
    const auto& p = out.parsed;
    EXPECT_EQ(p.Title(), titles.at(code));
    ASSERT_EQ(p.a1.size(), 3u);
    EXPECT_EQ(p.a1[1], std::to_string(code));
    EXPECT_EQ(p.a1[2], std::to_string(p.columns.size() + 1));  // the record kind column counts
    EXPECT_FALSE(p.totals.empty()) << "every report ends in a totals line";
  }
}

TEST(ReportEngineTest, ListingsNameEachFileAsTheConsoleReachesIt) {
  TestTree tree;
  MakeSample(tree);
  for (const std::string shown : {"\\\\SRV1\\C$\\Data", "\\\\SRV1\\Share", "C:"}) {
    for (DWORD code : kListingCodes) {
      SCOPED_TRACE(shown + " " + std::to_string(code));
      auto rec = Record(code);
      rec.Fields = 0;  // the two naming columns stay whatever the mask says
      if (code == kReportDuplicateFiles) VN_SET(rec.Criteria[1].Value1, "0"), VN_SET(rec.Criteria[2].Value1, "0");
      auto out = RunOn(tree, rec, {tree.Object(shown + "\\", shown)}, testing::TestAccounts());
      ASSERT_EQ(out.result.error, 0u) << out.result.message;
      const auto& p = out.parsed;
      ASSERT_GE(p.Column("FileName"), 1);
      ASSERT_GE(p.Column("Directory"), 1);
      auto names = p.Values("FileName"), dirs = p.Values("Directory");
      for (std::size_t i = 0; i < names.size(); ++i) {
        struct stat st {};
        EXPECT_EQ(::lstat(Reached(tree, shown, dirs[i], names[i]).c_str(), &st), 0) << dirs[i] << " " << names[i];
      }
    }
  }
  // All Files lists exactly the five files.
  auto all = RunOn(tree, Record(kReportAllFiles), {tree.Object("\\\\SRV1\\C$\\Data")}, testing::TestAccounts());
  auto names = all.parsed.Values("FileName");
  EXPECT_EQ(std::set<std::string>(names.begin(), names.end()),
            (std::set<std::string>{"a.txt", "B.TXT", "c.log", "d", "copy.txt"}));
  EXPECT_EQ(all.parsed.Total("Files"), 5);
  EXPECT_EQ(all.parsed.Total("Size"), 17000);
}

TEST(ReportEngineTest, DetailColumnsFollowTheFieldsMaskAndSizeUnits) {
  TestTree tree;
  tree.File("k.dat", 3000);
  tree.Times("k.dat", 1'700'000'000, 1'600'000'000);
  auto rec = Record(kReportAllFiles);
  rec.Fields = (1u << 2) | (1u << 5) | (1u << 8) | (1u << 10) | (1u << 12) | (1u << 14) | (1u << 18);
  rec.Options = kOptionSizesInKilobytes;
  EngineOptions options = testing::TestAccounts();
  options.now = 1'600'000'000 + 10 * 86400 + 5;
  auto out = RunOn(tree, rec, {tree.Object()}, options);
  ASSERT_EQ(out.result.error, 0u) << out.result.message;
  EXPECT_EQ(out.parsed.columns, (std::vector<std::string>{"FileName", "Directory", "Size (KB)", "Revised",
                                                          "Revised Days", "Attributes", "Type", "Owner", "Machine"}));
  ASSERT_EQ(out.parsed.rows.size(), 1u);
  const auto& row = out.parsed.rows[0];
  EXPECT_EQ(row[3], "3");
  EXPECT_EQ(row[4], DateText(1'600'000'000));
  EXPECT_EQ(row[5], "10");
  EXPECT_EQ(row[6], ::geteuid() < 1000 ? "SA" : "A");
  EXPECT_EQ(row[7], "DAT File");
  EXPECT_EQ(row[8], ::geteuid() == 0 ? "root" : "tester");
  EXPECT_EQ(row[9], "SRV1");
}

TEST(ReportEngineTest, SpaceByDirectoryAgreesWithDuAndCountsHardLinksOnce) {
  TestTree tree;
  tree.File("top.bin", 10000);
  tree.File("d1/one", 4096 * 3);
  tree.File("d1/d2/two", 123);
  ASSERT_EQ(::link((tree.Root() / "d1/one").c_str(), (tree.Root() / "d1/d2/one-again").c_str()), 0);
  // Sparse: a megabyte long, one block written.
  int fd = ::open((tree.Root() / "d1/sparse").c_str(), O_CREAT | O_WRONLY, 0644);
  ASSERT_EQ(::pwrite(fd, "x", 1, 0), 1);
  ASSERT_EQ(::ftruncate(fd, 1 << 20), 0);
  ::close(fd);
  fs::create_symlink("../..", tree.Root() / "d1/d2/loop");  // never followed
  fs::create_symlink("/", tree.Root() / "root-link");
  auto [apparent, allocated] = testing::DuTotals(tree.Root());
  for (unsigned threads : {1u, 2u, 5u}) {
    SCOPED_TRACE(threads);
    EngineOptions options = testing::TestAccounts();
    options.threads = threads;
    auto out = RunOn(tree, Record(kReportSpaceByDirectory), {tree.Object()}, options);
    ASSERT_EQ(out.result.error, 0u) << out.result.message;
    const auto& p = out.parsed;
    EXPECT_EQ(p.Total("Size"), static_cast<std::int64_t>(apparent));
    EXPECT_EQ(p.Total("Allocated"), static_cast<std::int64_t>(allocated));
    EXPECT_EQ(p.Total("Files"), 6);  // hard link once; two symbolic links
    EXPECT_EQ(p.Total("Subdirectories"), 2);
    EXPECT_EQ(p.Values("Directory"), (std::vector<std::string>{"C:\\T", "C:\\T\\d1", "C:\\T\\d1\\d2"}));
  }
  // Levels: only the object and its children; size bound on the totals.
  auto rec = Record(kReportSpaceByDirectory);
  VN_SET(rec.Criteria[1].Value1, "1");
  rec.Criteria[0].Scope = 3, rec.Criteria[0].Measure = 2;
  VN_SET(rec.Criteria[0].Value1, "100");  // larger than 100 KB: d1 holds the sparse megabyte
  auto out = RunOn(tree, rec);
  EXPECT_EQ(out.parsed.Values("Directory"), (std::vector<std::string>{"C:\\T", "C:\\T\\d1"}));
}

TEST(ReportEngineTest, AccountReportsNameOwnersAndKeepTotalsOutOfTheRows) {
  TestTree tree;
  tree.File("mine", 1000);
  tree.File("theirs", 3000);
  tree.File("dir/theirs-too", 5000);
  if (::geteuid() != 0) GTEST_SKIP() << "giving files away needs root";
  ASSERT_EQ(::chown((tree.Root() / "theirs").c_str(), 54321, 54321), 0);
  ASSERT_EQ(::chown((tree.Root() / "dir/theirs-too").c_str(), 54321, 0), 0);
  for (DWORD code : {kReportSpaceByUser, kReportSpaceByGroup}) {
    SCOPED_TRACE(code);
    auto out = RunOn(tree, Record(code));
    ASSERT_EQ(out.result.error, 0u);
    const auto& p = out.parsed;
    const int name = code == kReportSpaceByUser ? p.Column("User Name") : p.Column("Group Name");
    const int value = code == kReportSpaceByUser ? p.Column("Total Size") : p.Column("Used Space");
    ASSERT_GT(value, name);
    std::map<std::string, std::int64_t> sizes;
    for (const auto& row : p.rows) {
      EXPECT_EQ(row[2].find("Totals"), std::string::npos);
      sizes[row[static_cast<std::size_t>(name)]] = std::stoll(row[static_cast<std::size_t>(value)]);
    }
    EXPECT_EQ(sizes.at("undefined (54321)"), code == kReportSpaceByUser ? 8000 : 3000);
    std::int64_t sum = 0;
    for (auto& [n, s] : sizes) sum += s;
    EXPECT_EQ(p.Total(code == kReportSpaceByUser ? "Total Size" : "Used Space"), sum);
  }
  // The owner filter keeps the files of the accounts named.
  auto rec = Record(kReportAllFiles);
  VN_SET(rec.OwnerFilter, "root;nobody-here");
  auto out = RunOn(tree, rec);
  EXPECT_EQ(out.parsed.Values("FileName"), (std::vector<std::string>{"mine"}));
  EXPECT_TRUE(out.parsed.HeadingHas("no account named nobody-here"));
  auto undefined = RunOn(tree, Record(kReportFilesWithUndefinedOwners));
  auto names = undefined.parsed.Values("FileName");
  EXPECT_EQ(std::set<std::string>(names.begin(), names.end()), (std::set<std::string>{"theirs", "theirs-too"}));
}

TEST(ReportEngineTest, DetailedSummaryHasCategoriesThenUsedThenFree) {
  TestTree tree;
  tree.File("a.txt", 100);
  tree.File("b.TXT", 200);
  tree.File("c.jpg", 4000);
  tree.File("noext", 50);
  tree.File(".hidden", 10);
  auto out = RunOn(tree, Record(kReportDetailedSummary));
  ASSERT_EQ(out.result.error, 0u);
  const auto cats = out.parsed.Values("Category");
  const auto sizes = out.parsed.Values("Size Used");
  ASSERT_EQ(cats, (std::vector<std::string>{".jpg", ".txt", "(no extension)", "Used Space", "Free Space"}));
  EXPECT_EQ(sizes[0], "4000");
  EXPECT_EQ(sizes[1], "300");
  EXPECT_EQ(sizes[2], "60");
  EXPECT_GE(std::stoll(sizes[3]), 4360);  // the directory's own blocks too
  EXPECT_GT(std::stoll(sizes[4]), 0);
}

TEST(ReportEngineTest, CriteriaAndFiltersChooseTheFiles) {
  TestTree tree;
  tree.File("small.txt", 100);
  tree.File("mid.log", 3000);
  tree.File("big.txt", 50000);
  tree.File(".hid.txt", 10);
  tree.File("ro.txt", 20);
  ::chmod((tree.Root() / "ro.txt").c_str(), 0444);
  const std::int64_t now = 1'764'547'200;
  tree.Times("small.txt", now - 2 * 86400, now - 400 * 86400);
  tree.Times("mid.log", now - 40 * 86400, now - 40 * 86400);
  tree.Times("big.txt", now - 400 * 86400, now - 2 * 86400);
  tree.Times(".hid.txt", now - 100 * 86400, now - 100 * 86400);
  tree.Times("ro.txt", now - 100 * 86400, now - 100 * 86400);
  auto names = [&](const KSServerCommunicationReportRec& rec) {
    EngineOptions options = testing::TestAccounts();
    options.now = now;
    auto out = RunOn(tree, rec, {tree.Object()}, options);
    EXPECT_EQ(out.result.error, 0u) << out.result.message;
    auto v = out.parsed.Values("FileName");
    return std::set<std::string>(v.begin(), v.end());
  };
  using Names = std::set<std::string>;
  auto rec = Record(kReportFilesBySize);
  rec.Criteria[0].Scope = 3, rec.Criteria[0].Measure = 2;
  VN_SET(rec.Criteria[0].Value1, "2");
  EXPECT_EQ(names(rec), (Names{"mid.log", "big.txt"}));
  rec.Criteria[0].Scope = 2, rec.Criteria[0].Measure = 3;
  VN_SET(rec.Criteria[0].Value1, "20"), VN_SET(rec.Criteria[0].Value2, "3000");
  EXPECT_EQ(names(rec), (Names{"small.txt", "mid.log", "ro.txt"}));
  VN_SET(rec.FileFilter, "*.TXT;x*");
  EXPECT_EQ(names(rec), (Names{"small.txt", "ro.txt"}));

  auto date = Record(kReportFilesByAccessDate);  // accessed within the last 30 days
  date.Criteria[0].Scope = 4, date.Criteria[0].Measure = 5;
  VN_SET(date.Criteria[0].Value1, "30");
  EXPECT_EQ(names(date), (Names{"small.txt"}));
  date.Report = kReportFilesByRevisionDate;  // revised more than a year ago
  date.Criteria[0].Scope = 3, date.Criteria[0].Measure = 7;
  VN_SET(date.Criteria[0].Value1, "1");
  EXPECT_EQ(names(date), (Names{"small.txt"}));

  auto attrs = Record(kReportAllFiles);
  attrs.Criteria[0].Hidden = kAttributeSet;
  EXPECT_EQ(names(attrs), (Names{".hid.txt"}));
  attrs.Criteria[0].Hidden = kAttributeEither, attrs.Criteria[0].ReadOnly = kAttributeSet;
  EXPECT_EQ(names(attrs), (Names{"ro.txt"}));

  auto wasted = Record(kReportWastedSpace);  // not accessed for 30 days and larger than 1 KB
  wasted.Criteria[0].Scope = 3, wasted.Criteria[0].Measure = 5;
  VN_SET(wasted.Criteria[0].Value1, "30");
  wasted.Criteria[3].Scope = 3, wasted.Criteria[3].Measure = 2;
  VN_SET(wasted.Criteria[3].Value1, "1");
  EXPECT_EQ(names(wasted), (Names{"mid.log", "big.txt"}));
  // ... and of which there are at least two copies.
  tree.Content("copy-of-mid.log", std::string(3000, 'x'));
  tree.Times("copy-of-mid.log", now - 50 * 86400, now - 50 * 86400);
  wasted.Criteria[1].Scope = 3;
  VN_SET(wasted.Criteria[1].Value1, "2");
  EXPECT_EQ(names(wasted), (Names{"mid.log", "copy-of-mid.log"}));
}

TEST(ReportEngineTest, BadInputIsRefusedAndNothingIsWritten) {
  TestTree tree;
  tree.File("a", 10);
  auto bad = Record(kReportFilesBySize);
  bad.Criteria[0].Scope = 3;
  VN_SET(bad.Criteria[0].Value1, "ten");
  auto out = RunOn(tree, bad);
  EXPECT_EQ(out.result.error, static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_NE(out.result.message.find("ten"), std::string::npos);
  EXPECT_FALSE(out.exists);
  for (DWORD code : {0u, kReportCustom, 117u}) {
    auto unknown = RunOn(tree, Record(code));
    // A custom report without its definition cannot run either.
    EXPECT_EQ(unknown.result.error,
              static_cast<DWORD>(code == kReportCustom ? ERROR_INVALID_DATA : ERROR_NOT_SUPPORTED));
    EXPECT_FALSE(unknown.result.message.empty());
    EXPECT_FALSE(unknown.exists);
  }
  // An existing result file is neither replaced nor removed.
  const fs::path existing = tree.ResultDir() / "taken.csv";
  { std::ofstream(existing) << "mine"; }
  NullProgress progress;
  ReportResult r = RunReport(Record(kReportAllFiles), {tree.Object()}, existing, {}, progress);
  EXPECT_EQ(r.error, static_cast<DWORD>(ERROR_FILE_EXISTS));
  std::ifstream in(existing);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "mine");
}

TEST(ReportEngineTest, RptLenLimitsTheDetailRecords) {
  TestTree tree;
  for (int i = 0; i < 30; ++i) tree.File("d" + std::to_string(i % 4) + "/f" + std::to_string(i), 10);
  auto rec = Record(kReportAllFiles);
  rec.RptLen = 7;
  auto out = RunOn(tree, rec);
  EXPECT_EQ(out.parsed.Count("D1"), 7u);
  EXPECT_EQ(out.parsed.Total("Files"), 7);
  EXPECT_TRUE(out.parsed.HeadingHas("At most 7 records"));
  EXPECT_TRUE(out.parsed.HeadingHas("More files meet the criteria"));
  auto dirs = Record(kReportSpaceByDirectory);
  dirs.RptLen = 2;
  EXPECT_EQ(RunOn(tree, dirs).parsed.Count("D1"), 2u);
}

}  // namespace
}  // namespace vn::server
