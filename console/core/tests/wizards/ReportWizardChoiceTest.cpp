// The report wizard's rules without its pages: the objects a tree's checks
// give and when the objects page lets the user on, the report sets a
// machine's registry lists (none, several, an unreachable machine), the
// column that widens for a long name, and the finish page's summary.
#include "console/core/wizards/ReportWizardChoice.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console/core/objects/ObjectTree.h"
#include "console/core/reports/ReportSetStore.h"
#include "testing/TempMachineHome.h"

namespace vn::console {
namespace {

TEST(ReportWizardChoiceTest, ChecksGiveTheObjectsAndTheLastOneUncheckedStopsTheUser) {
  CObjectTree tree;
  CObjectNode* mine = tree.InsertKSItem(nullptr, KS_INSERT_LAST, "My Computer", KS_STATE_NONE, true, KS_MY_COMPUTER);
  CObjectNode* c = tree.InsertKSItem(mine, KS_INSERT_LAST, "C:", KS_STATE_UNCHECKED, true, KS_FIXED_DRIVE);
  CObjectNode* network =
      tree.InsertKSItem(nullptr, KS_INSERT_LAST, "Microsoft Windows Network", KS_STATE_NONE, true, KS_NETWORK);
  CObjectNode* domain = tree.InsertKSItem(network, KS_INSERT_LAST, "Sales", KS_STATE_UNCHECKED, true, KS_DOMAIN);
  CObjectNode* srv1 = tree.InsertKSItem(domain, KS_INSERT_LAST, "Srv1", KS_STATE_UNCHECKED, true, KS_MACHINE);
  CObjectNode* data = tree.InsertKSItem(srv1, KS_INSERT_LAST, "Data", KS_STATE_UNCHECKED, true, KS_SHARE);
  tree.InsertKSItem(srv1, KS_INSERT_LAST, "Tools", KS_STATE_UNCHECKED, true, KS_SHARE);

  CSelectedObjects objects;
  objects.AddLocalObject("D:\\left over");  // the page's earlier collection is replaced
  EXPECT_FALSE(CollectWizardObjects(tree, objects)) << "nothing checked: Next stays off";
  EXPECT_FALSE(objects.HasObjects());

  tree.ClickCheckBox(data);
  tree.ClickCheckBox(c);
  ASSERT_TRUE(CollectWizardObjects(tree, objects));
  EXPECT_EQ(objects.LocalObjects(), (std::vector<std::string>{"C:\\"}));
  ASSERT_EQ(objects.NetworkObjects().count("SRV1"), 1u);
  EXPECT_EQ(objects.NetworkObjects().at("SRV1"), (std::vector<std::string>{"\\\\Srv1\\Data"}));
  EXPECT_EQ(srv1->state, KS_STATE_PARTIAL);
  EXPECT_EQ(WizardObjectsText(objects), "C:\\\r\n\\\\Srv1\\Data\r\n") << "local first, each line ended by CR LF";

  tree.ClickCheckBox(c);
  tree.ClickCheckBox(data);
  EXPECT_FALSE(CollectWizardObjects(tree, objects)) << "the last object unchecked";
  EXPECT_EQ(WizardObjectsText(objects), "");
}

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
}

TEST(ReportWizardChoiceTest, ColumnWidensOnlyForANameWiderThanItAndSummaryNamesTheLocation) {
  struct Case {
    int column, name, expected;
  } const cases[] = {{200, 120, 200}, {200, 200, 200}, {200, 201, 226}, {0, 10, 35}};
  for (const Case& c : cases) EXPECT_EQ(WizardColumnWidth(c.column, c.name), c.expected) << c.column << " " << c.name;

  CReportWizardChoice choice;
  choice.reportSet = "Daily Space Check";
  EXPECT_EQ(WizardReportSetText(choice), "Daily Space Check");
  choice.location = "SRV1";
  EXPECT_EQ(WizardReportSetText(choice), "SRV1\\Daily Space Check");
}

}  // namespace
}  // namespace vn::console
