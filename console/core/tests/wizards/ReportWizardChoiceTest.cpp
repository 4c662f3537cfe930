// The report wizard's listing of a machine's report sets on a real registry
// hive, without its pages: none stored, several (sorted), and a machine that
// cannot be reached; and the finish page's record. The pages' other rules are run through the pages
// (console/widgets/tests/wizards).
#include "console/core/wizards/ReportWizardChoice.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console/core/reports/ReportSetStore.h"
#include "testing/TempMachineHome.h"

namespace vn::console {
namespace {

TEST(ReportWizardChoiceTest, ReportSetsOfAMachineNoneSeveralOrAnUnreachableOne) {
  vn::testing::TempMachineHome home;  // computer name TESTPC
  std::vector<std::string> names{"stale"};
  EXPECT_EQ(ListWizardReportSets("", names), ERROR_SUCCESS) << "nothing stored yet is no error";
  EXPECT_TRUE(names.empty());

  ReportSet set;
  set[0].Selected = 1;
  ASSERT_EQ(SaveReportSet("", "weekly", set), ERROR_SUCCESS);
  ASSERT_EQ(SaveReportSet("", "Audit", set), ERROR_SUCCESS);
  ASSERT_EQ(ListWizardReportSets("TESTPC", names), ERROR_SUCCESS);
  EXPECT_EQ(names, (std::vector<std::string>{"Audit", "weekly"}));

  EXPECT_NE(ListWizardReportSets("NOSUCHMACHINE", names), ERROR_SUCCESS);
  EXPECT_TRUE(names.empty()) << "a machine that cannot be reached lists nothing";

  // The finish page's record: local paths first, each line ended by CR LF.
  CSelectedObjects objects;
  objects.AddNetworkObject("\\\\SRV1\\Data");
  objects.AddLocalObject("C:\\");
  EXPECT_EQ(WizardObjectsText(objects), "C:\\\r\n\\\\SRV1\\Data\r\n");
}

}  // namespace
}  // namespace vn::console
