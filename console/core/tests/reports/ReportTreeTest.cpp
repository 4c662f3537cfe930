#include "console/core/reports/ReportTree.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console/core/reports/ReportSetStore.h"
#include "platform/registry/Registry.h"
#include "testing/TempMachineHome.h"

namespace vn::console {
namespace {

TEST(ReportClipTest, RecordRoundTripsAndRefusesEveryTruncation) {
  const std::vector<ReportClipEntry> entries = {{7, "SRV1\\Weekly"}, {9, "TESTPC\\Cleanup Candidates"}};
  const std::vector<char> data = EncodeReportClip(entries);
  ASSERT_EQ(data.size(), 4u + 4u + 12u + 4u + 26u);

  const auto decoded = DecodeReportClip(data);
  ASSERT_TRUE(decoded);
  ASSERT_EQ(decoded->size(), 2u);
  EXPECT_EQ((*decoded)[0].sourceItem, 7u);
  EXPECT_EQ((*decoded)[1].text, "TESTPC\\Cleanup Candidates");

  // Every cut inside the record is refused; padding after it is not.
  for (std::size_t length = 0; length < data.size(); ++length)
    EXPECT_FALSE(DecodeReportClip(std::span<const char>(data.data(), length))) << length;
  std::vector<char> padded = data;
  padded.resize(data.size() + 16, '\0');
  EXPECT_TRUE(DecodeReportClip(padded));

  // A count the data cannot hold.
  std::vector<char> huge = data;
  huge[0] = huge[1] = huge[2] = huge[3] = '\xff';
  EXPECT_FALSE(DecodeReportClip(huge));
}

TEST(ReportClipTest, PastedTextSplitsAtTheFirstBackslashAndSameReportIgnoresCase) {
  const auto source = SplitReportClipText("SRV1\\Set\\odd");
  ASSERT_TRUE(source);
  EXPECT_EQ(source->machine, "SRV1");
  EXPECT_EQ(source->name, "Set\\odd");
  EXPECT_FALSE(SplitReportClipText("no backslash"));
  EXPECT_FALSE(SplitReportClipText("SRV1\\"));

  EXPECT_TRUE(IsSameStoredReport("srv1", "weekly", "\\\\SRV1", "WEEKLY"));
  EXPECT_FALSE(IsSameStoredReport("SRV1", "Weekly", "SRV2", "Weekly"));
  EXPECT_FALSE(IsSameStoredReport("SRV1", "Weekly", "SRV1", "Weekly (2)"));
}

TEST(ReportTreeRulesTest, MachineChildrenSortAndAnItemsMachine) {
  std::vector<ReportPathStep> children = {{kUserFilterFolder, "User Filters"},
                                          {kCustomReportFolder, "Custom Reports"},
                                          {kReportSetFolder, "Report Sets"}};
  SortReportChildren(children);
  ASSERT_EQ(children.size(), 3u);
  EXPECT_EQ(children[0].text, "Report Sets");
  EXPECT_EQ(children[1].text, "Custom Reports");
  EXPECT_EQ(children[2].text, "User Filters");

  const std::vector<ReportPathStep> remote = {
      {kReportNetworkRoot, "Microsoft Windows Network"}, {kReportDomain, "WORK"}, {kReportMachine, "SRV1"},
      {kReportSetFolder, "Report Sets"}, {kReportSetItem, "Weekly"}};
  EXPECT_EQ(ReportItemMachine(remote), "SRV1");
  const std::vector<ReportPathStep> network = {{kReportNetworkRoot, "Microsoft Windows Network"},
                                               {kReportDomain, "WORK"}};
  EXPECT_EQ(ReportItemMachine(network), "");
}

class ReportTreeStoreTest : public ::testing::Test {
 protected:
  vn::testing::TempMachineHome m_home;  // computer name TESTPC
};

TEST_F(ReportTreeStoreTest, AMachinesFoldersAreReadSortedAndDeletedByKind) {
  ReportSet set;
  set[2].Selected = 1;
  set[6].Selected = 1;
  ASSERT_EQ(SaveReportSet("", "weekly", set), ERROR_SUCCESS);
  ASSERT_EQ(SaveReportSet("", "Audit", set), ERROR_SUCCESS);
  ReportOptions options{};
  ASSERT_EQ(SaveCustomReportOptions("", "Big Files", options), ERROR_SUCCESS);
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Halvard\\Vornal\\4.0\\User Filter", 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  const char value[] = "WORK\\ann;WORK\\bob";
  ASSERT_EQ(RegSetValueExA(key, "Night", 0, REG_SZ, reinterpret_cast<const BYTE*>(value), sizeof value),
            ERROR_SUCCESS);
  RegCloseKey(key);

  const MachineReportFolders folders = ReadMachineReportFolders("TESTPC");
  EXPECT_EQ(folders.reportSetsResult, ERROR_SUCCESS);
  EXPECT_EQ(folders.reportSets, (std::vector<std::string>{"Audit", "weekly"}));
  EXPECT_EQ(folders.customReports, (std::vector<std::string>{"Big Files"}));
  ASSERT_EQ(folders.userFilters.size(), 1u);
  EXPECT_EQ(folders.userFilters[0].value, value);

  std::vector<std::string> reports;
  ASSERT_EQ(ReadReportsOfSet("", "weekly", reports), ERROR_SUCCESS);
  EXPECT_EQ(reports.size(), 2u);

  EXPECT_EQ(DeleteReportItem(kReportSetItem, "TESTPC", "weekly"), ERROR_SUCCESS);
  EXPECT_EQ(DeleteReportItem(kUserFilterItem, "TESTPC", "Night"), ERROR_SUCCESS);
  EXPECT_EQ(DeleteReportItem(kReportMachine, "TESTPC", "TESTPC"), ERROR_INVALID_FUNCTION);
  const MachineReportFolders after = ReadMachineReportFolders("");
  EXPECT_EQ(after.reportSets, (std::vector<std::string>{"Audit"}));
  EXPECT_TRUE(after.userFilters.empty());
}

}  // namespace
}  // namespace vn::console
