// The designer's rules without a display: OK of a new report, the tabs that
// follow the sort keys, breaks kept aligned with them, duplicate and default
// rows, Verify and what OK stores.

#include <gtest/gtest.h>

#include "console/core/reports/CustomReportDesign.h"

namespace vn::console {
namespace {

namespace rd = vn::reportdef;

TEST(CustomReportDesign, NewReportWaitsForItsNameAndIsACustomReport) {
  CCustomReportDesign design("SRV1", "");
  EXPECT_EQ(design.Load(), 0);
  design.MakePages();
  EXPECT_TRUE(design.IsNew());
  EXPECT_FALSE(design.OkEnabled());
  design.SetName("Logs");
  EXPECT_TRUE(design.OkEnabled());
  EXPECT_EQ(design.Options().Report, kReportCustom);
  EXPECT_EQ(design.Options().Fields, 0xFFFFBFFFu);
  EXPECT_FALSE(design.ReportBreakEnabled());
  EXPECT_FALSE(design.SummaryTotalEnabled());
  CCustomReportDesign existing("SRV1", "Old");
  EXPECT_TRUE(existing.OkEnabled());
  existing.SetName("Renamed");
  EXPECT_EQ(existing.Name(), "Old") << "an existing report keeps its name";
}

TEST(CustomReportDesign, SourceListsAndLookups) {
  CCustomReportDesign design("", "");
  const ReportGeneratorDll& def = design.Definition();
  EXPECT_EQ(FieldIndexFromName(def, "Size"), rd::kSize);
  EXPECT_EQ(FieldIndexFromName(def, "size"), -1) << "exact names only";
  struct Default {
    int field;
    DWORD action;
  };
  // Types: Size 1 -> Sum, FileName 9 / Owner 2 / Revised 3 / Attributes 6 -> Store,
  // RevisedDays 7 / Fill 8 -> Average, no field -> Sum.
  for (Default d : {Default{rd::kSize, 0}, Default{rd::kFileName, 4}, Default{rd::kOwner, 4}, Default{rd::kRevised, 4},
                    Default{rd::kAttributes, 4}, Default{rd::kRevisedDays, 3}, Default{rd::kFill, 3}, Default{59, 0}})
    EXPECT_EQ(DefaultTotalAction(def, d.field), d.action) << d.field;
  const auto detail = design.SourceFields(DesignPage::Detail);
  EXPECT_EQ(std::count(detail.begin(), detail.end(), rd::kFiles), 0) << "Files is no detail column";
  const auto summary = design.SourceFields(DesignPage::SummaryTotal);
  EXPECT_EQ(std::count(summary.begin(), summary.end(), rd::kFileName), 0);
  EXPECT_EQ(std::count(summary.begin(), summary.end(), rd::kFiles), 1);
  EXPECT_EQ(design.SourceFields(DesignPage::Sort).size(), static_cast<std::size_t>(rd::kFieldCount));
  EXPECT_TRUE(design.SourceFields(DesignPage::ReportBreak).empty()) << "no sort key yet";
  const auto names = design.QueryFieldNames();
  EXPECT_EQ(names.front(), "FileName");
  EXPECT_EQ(std::count(names.begin(), names.end(), "Files"), 0);
}

TEST(CustomReportDesign, BreaksFollowTheSortKeys) {
  CCustomReportDesign design("", "");
  design.MakePages();
  EXPECT_TRUE(design.AddFields(DesignPage::Sort, {rd::kMachine, rd::kDirectory, rd::kSize}));
  EXPECT_FALSE(design.AddFields(DesignPage::Sort, {rd::kDirectory})) << "already there";
  EXPECT_EQ(design.Rows(DesignPage::Sort).size(), 3u);
  EXPECT_EQ(design.Rows(DesignPage::Sort)[0].order, 0u) << "Ascending";
  EXPECT_TRUE(design.ReportBreakEnabled());
  EXPECT_TRUE(design.RemoveEnabled(DesignPage::Sort));

  design.LeavePage(DesignPage::Sort);
  design.EnterPage(DesignPage::ReportBreak);
  EXPECT_EQ(design.SourceFields(DesignPage::ReportBreak), (std::vector<int>{rd::kMachine, rd::kDirectory, rd::kSize}));
  design.AddFields(DesignPage::ReportBreak, {rd::kMachine, rd::kDirectory, rd::kSize});
  int field = -1;
  ASSERT_EQ(design.Definition().GetSummaryBreakField(2, field), 0u) << "written at once";

  // The Break dialog of the second break: a new total takes the field's
  // default action and the major sort key as its reset.
  const DesignRow total = design.NewBreakTotal(rd::kSize);
  EXPECT_EQ(total.action, 0u);
  EXPECT_EQ(total.reset, rd::kMachine);
  design.SetBreakTotals(1, {total, design.NewBreakTotal(rd::kOwner)});
  ASSERT_EQ(design.BreakTotals(1).size(), 2u);
  EXPECT_EQ(design.BreakTotals(1)[1].action, 4u);
  design.SetBreakTotals(2, {design.NewBreakTotal(rd::kRevisedDays)});

  // Removing the second sort key removes the second break; the third moves up.
  design.RemoveRows(DesignPage::Sort, {1});
  design.EnterPage(DesignPage::ReportBreak);
  ASSERT_EQ(design.Rows(DesignPage::ReportBreak).size(), 2u);
  EXPECT_EQ(design.Rows(DesignPage::ReportBreak)[1].field, rd::kSize);
  ASSERT_EQ(design.BreakTotals(1).size(), 1u);
  EXPECT_EQ(design.BreakTotals(1)[0].action, 3u) << "the third break's Average total came along";

  design.RemoveRows(DesignPage::Sort, {0, 1});
  EXPECT_FALSE(design.ReportBreakEnabled());
  EXPECT_FALSE(design.RemoveEnabled(DesignPage::Sort));
  EXPECT_NE(design.Definition().GetSummaryBreakField(0, field), 0u);
  design.AddFields(DesignPage::Sort, {rd::kOwner});
  EXPECT_TRUE(design.ReportBreakEnabled());
}

TEST(CustomReportDesign, RowsReorderAndTakeTheirDialogsChoices) {
  CCustomReportDesign design("", "");
  design.MakePages();
  design.AddFields(DesignPage::Detail, {rd::kFileName, rd::kSize, rd::kOwner});
  design.MoveRow(DesignPage::Detail, 2, 0);
  EXPECT_EQ(design.Rows(DesignPage::Detail)[0].field, rd::kOwner);
  EXPECT_EQ(design.Rows(DesignPage::Detail)[2].field, rd::kSize);
  design.AddFields(DesignPage::Sort, {rd::kSize});
  design.SetOrder(DesignPage::Sort, 0, 1);
  EXPECT_EQ(design.RowTexts(DesignPage::Sort, 0), (std::vector<std::string>{"Size", "Descending"}));
  design.AddFields(DesignPage::FinalTotal, {rd::kRevisedDays});
  EXPECT_EQ(design.RowTexts(DesignPage::FinalTotal, 0), (std::vector<std::string>{"RevisedDays", "Average"}));
  design.SetAction(DesignPage::FinalTotal, 0, 1);
  EXPECT_EQ(design.Rows(DesignPage::FinalTotal)[0].action, 1u);

  design.AddFields(DesignPage::SummarySort, {rd::kOwner, rd::kGroup});
  EXPECT_TRUE(design.SummaryTotalEnabled());
  design.AddFields(DesignPage::SummaryTotal, {rd::kSize});
  EXPECT_EQ(design.ResetChoices(DesignPage::SummaryTotal), (std::vector<std::string>{"Owner", "Group"}));
  design.SetReset(DesignPage::SummaryTotal, 0, "Group");
  design.SetReset(DesignPage::SummaryTotal, 0, "");  // nothing chosen: unchanged
  EXPECT_EQ(design.Rows(DesignPage::SummaryTotal)[0].reset, rd::kGroup);
  design.SetSummarizedChoice(1);

  const std::string longQuery = "Size > 1 AND " + std::string(120, ' ') + "Depth > 1";
  design.Store(longQuery, "Owner = \"a*\"");
  const ReportGeneratorDll& def = design.Definition();
  int field = -1;
  DWORD order = 0, action = 0;
  int reset = -1;
  ASSERT_EQ(def.GetDetailField(0, field), 0u);
  EXPECT_EQ(field, rd::kOwner);
  ASSERT_EQ(def.GetSortField(0, field, order), 0u);
  EXPECT_EQ(order, 1u);
  ASSERT_EQ(def.GetFinalTotalField(0, field, action), 0u);
  EXPECT_EQ(action, 1u);
  ASSERT_EQ(def.GetSummaryTotalField(0, field, action, reset), 0u);
  EXPECT_EQ(reset, rd::kGroup);
  ASSERT_EQ(def.GetSummarySortField(field), 0u);
  EXPECT_EQ(field, rd::kGroup);
  EXPECT_EQ(def.QueryText(), longQuery.substr(0, 99));
  EXPECT_EQ(def.SummaryQueryText(), "Owner = \"a*\"");
}

TEST(CustomReportDesign, VerifyShowsTheStatusAndWhereTheErrorIs) {
  struct Case {
    std::string text;
    const char* status;
    bool select;
    int at;
  };
  const Case cases[] = {
      {"", "Correct", false, 0},
      {"Size > 10 MB AND FileName = \"*.log\"", "Correct", false, 0},
      {"Size > 10 MB AND Colour = \"red\"", "There is no field named Colour", true, 17},
      {"Size >", "A value is expected at the end of the query", true, 6},
      // Only the first 99 characters are verified: the error beyond is not seen.
      {"Size > 1" + std::string(95, ' ') + "junk", "Correct", false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    CCustomReportDesign design("", "");
    const auto v = design.Verify(false, c.text);
    EXPECT_EQ(v.status, c.status);
    EXPECT_EQ(v.selectError, c.select);
    if (c.select) {
      EXPECT_EQ(v.selectionStart, c.at);
    }
  }
  CCustomReportDesign design("", "");
  const auto summary = design.Verify(true, "Owner =");
  EXPECT_EQ(summary.status, "A value is expected at the end of the query");
  EXPECT_EQ(summary.selectionStart, 7);
  EXPECT_EQ(design.QueryText(true), "Owner =") << "Verify put the text";
}

}  // namespace
}  // namespace vn::console
