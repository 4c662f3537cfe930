#include "console/core/reports/ReportCatalogue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "console/core/reports/ReportSet.h"

namespace vn::console {
namespace {

TEST(ReportCatalogueTest, EveryReportHasItsNameAndServerCode) {
  struct Row {
    const char* name;
    DWORD code;
  };
  const Row rows[kReportCount] = {
      {"Partition Summary", kReportPartitionSummary},
      {"Detailed Summary", kReportDetailedSummary},
      {"Space By Directory", kReportSpaceByDirectory},
      {"Space By Group", kReportSpaceByGroup},
      {"Space By Quota", kReportSpaceByQuota},
      {"Space By Share", kReportSpaceByShare},
      {"Space By User", kReportSpaceByUser},
      {"All Files", kReportAllFiles},
      {"Files By Access Date", kReportFilesByAccessDate},
      {"Files By Creation Date", kReportFilesByCreationDate},
      {"Files By Revision Date", kReportFilesByRevisionDate},
      {"Duplicate Files", kReportDuplicateFiles},
      {"Files By Size", kReportFilesBySize},
      {"Wasted Space", kReportWastedSpace},
      {"Insecure Files", kReportInsecureFiles},
      {"Files With ACL", kReportFilesWithAcl},
      {"Files With Undefined ACE's", kReportFilesWithUndefinedAces},
      {"Files By User Access", kReportFilesByUserAccess},
      {"User Access By File", kReportUserAccessByFile},
      {"Files With Undefined Owners", kReportFilesWithUndefinedOwners},
  };
  for (int index = 0; index < kReportCount; ++index) {
    SCOPED_TRACE(index);
    EXPECT_EQ(ReportNameFromIndex(index), rows[index].name);
    EXPECT_EQ(ServerCodeFromIndex(index), rows[index].code);
    EXPECT_EQ(ReportIndexFromName(rows[index].name), index);
    EXPECT_EQ(ReportHasDetailPage(index), index >= 7);
  }
  for (int outside : {-1, kReportCount}) {
    EXPECT_EQ(ReportNameFromIndex(outside), "");
    EXPECT_EQ(ServerCodeFromIndex(outside), 0u);
    EXPECT_FALSE(ReportHasDetailPage(outside));
  }
}

TEST(ReportCatalogueTest, NameLookupIgnoresCaseOnly) {
  const struct {
    const char* name;
    int index;
  } cases[] = {
      {"partition summary", 0},           {"PARTITION SUMMARY", 0},   {"wAsTeD sPaCe", 13},
      {"files with undefined ace's", 16}, {"Partition  Summary", -1}, {" Partition Summary", -1},
      {"Partition Summary ", -1},         {"Partition", -1},          {"", -1},
  };
  for (const auto& c : cases) EXPECT_EQ(ReportIndexFromName(c.name), c.index) << '"' << c.name << '"';
}

TEST(ReportCatalogueTest, DefaultColumnMaskShowsAllButOwner) {
  const auto columns = DetailColumns();
  ASSERT_EQ(columns.size(), kFieldCount);
  EXPECT_EQ(columns.front(), "File Name");
  EXPECT_EQ(columns[kFieldOwner], "Owner");
  EXPECT_EQ(columns.back(), "Machine");

  const auto shown = ShownDetailColumns(kDefaultFields);
  EXPECT_EQ(shown.size(), 18u);
  EXPECT_EQ(std::count(shown.begin(), shown.end(), "Owner"), 0);
  EXPECT_EQ(ShownDetailColumns(DWORD{1} << kFieldOwner), std::vector<std::string_view>{"Owner"});
  EXPECT_TRUE(ShownDetailColumns(0).empty());
}

TEST(ReportSetTest, NewSetIsUnselectedAndCarriesServerCodesNotIndexes) {
  const ReportSet set;
  for (int index = 0; index < kReportCount; ++index) {
    EXPECT_EQ(set[index].Selected, 0);
    EXPECT_EQ(set[index].Options.Report, ServerCodeFromIndex(index));
  }
  EXPECT_EQ(set[13].Options.Report, kReportWastedSpace);
  EXPECT_EQ(set[11].Options.Report, kReportDuplicateFiles);
}

// What the server receives for an unedited report: every byte of the record.
TEST(ReportSetTest, DefaultRecordBytes) {
  std::vector<BYTE> expected(5410, 0);
  auto put = [&](std::size_t offset, DWORD value) { std::memcpy(&expected[offset], &value, 4); };
  for (std::size_t slot = 0; slot < 5; ++slot) {
    for (std::size_t attribute = 0; attribute < 6; ++attribute) put(8 + slot * 116 + 88 + attribute * 4, 2);
  }
  put(588, 17);
  put(596, 0xFFFFBFFF);

  const ReportOptions options;
  std::vector<BYTE> actual(sizeof options);
  std::memcpy(actual.data(), &options, sizeof options);
  EXPECT_EQ(actual, expected);
}

}  // namespace
}  // namespace vn::console
