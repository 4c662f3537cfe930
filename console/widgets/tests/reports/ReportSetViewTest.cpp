// The report set editor (dialog 415) and its option pages offscreen: which
// tabs each report shows, what the pages load from a record and store back,
// their enabling rules, and a set edited in the dialog saved to and read back
// from a real registry.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <cstring>

#include "console/core/reports/OptionPages.h"
#include "console/core/reports/ReportCatalogue.h"
#include "console/core/reports/ReportSetStore.h"
#include "console/widgets/reports/CriteriaPages.h"
#include "console/widgets/reports/OutputPages.h"
#include "console/widgets/reports/ReportSetDialog.h"
#include "testing/TempMachineHome.h"

namespace {

using namespace vn::console;
using namespace Qt::Literals::StringLiterals;

// Catalogue indexes of the reports the tests open.
constexpr int kPartitionSummary = 0;
constexpr int kSpaceByDirectory = 2;
constexpr int kSpaceByGroup = 3;
constexpr int kSpaceByQuota = 4;
constexpr int kAllFiles = 7;
constexpr int kFilesByAccessDate = 8;
constexpr int kDuplicateFiles = 11;
constexpr int kFilesBySize = 12;
constexpr int kWastedSpace = 13;

QStringList TabTitles(const QTabWidget* tabs) {
  QStringList titles;
  for (int i = 0; i < tabs->count(); ++i) titles << tabs->tabText(i);
  return titles;
}

// The dialog made and shown as exec() would show it, without its event loop.
struct ShownDialog {
  explicit ShownDialog(ReportSet& set, const QString& name = QString(), int report = -1) : dialog(set, name) {
    if (report >= 0) dialog.SetCurrentReport(report);
    dialog.show();
  }
  CReportSetDialog dialog;
};

TEST(ReportSetDialogTest, NewSetStartsOnReportZeroAndWaitsForAName) {
  ReportSet set;
  ShownDialog shown(set);
  CReportSetDialog& d = shown.dialog;
  ASSERT_EQ(d.ReportList()->count(), 20);
  EXPECT_EQ(d.ReportList()->item(0)->text(), u"Partition Summary"_s);
  EXPECT_EQ(d.ReportList()->item(19)->text(), u"Files With Undefined Owners"_s);
  EXPECT_EQ(d.CurrentReport(), kPartitionSummary);
  EXPECT_EQ(TabTitles(d.Tabs()), QStringList({u"Advanced"_s}));
  EXPECT_FALSE(d.NameEdit()->isReadOnly());

  EXPECT_FALSE(d.OkButton()->isEnabled());
  d.NameEdit()->setText(u"Weekly"_s);
  EXPECT_TRUE(d.OkButton()->isEnabled());
  d.NameEdit()->clear();
  EXPECT_FALSE(d.OkButton()->isEnabled());
}

TEST(ReportSetDialogTest, ExistingSetStartsOnItsFirstCheckedReportWithTheNameReadOnly) {
  ReportSet set;
  set[kDuplicateFiles].Selected = 1;
  set[kWastedSpace].Selected = 1;
  ShownDialog shown(set, u"Cleanup"_s);
  CReportSetDialog& d = shown.dialog;
  EXPECT_TRUE(d.NameEdit()->isReadOnly());
  EXPECT_TRUE(d.OkButton()->isEnabled());
  EXPECT_EQ(d.CurrentReport(), kDuplicateFiles);
  EXPECT_EQ(d.ReportList()->currentRow(), kDuplicateFiles);
  EXPECT_EQ(d.ReportList()->item(kWastedSpace)->checkState(), Qt::Checked);
  EXPECT_EQ(d.ReportList()->item(kAllFiles)->checkState(), Qt::Unchecked);

  ShownDialog atReport(set, u"Cleanup"_s, kFilesBySize);
  EXPECT_EQ(atReport.dialog.CurrentReport(), kFilesBySize);
}

TEST(ReportSetDialogTest, TabsFollowTheCurrentReportAndLeftoverTabsGo) {
  ReportSet set;
  ShownDialog shown(set, u"Tabs"_s);
  CReportSetDialog& d = shown.dialog;
  struct Step {
    int report;
    QStringList tabs;
  };
  const Step steps[] = {
      {kFilesByAccessDate, {u"Setting"_s, u"Filter"_s, u"Detail"_s, u"Advanced"_s}},
      {kSpaceByGroup, {u"Filter"_s, u"Advanced"_s}},
      {kSpaceByDirectory, {u"Setting"_s, u"Filter"_s, u"Advanced"_s}},
      {kSpaceByQuota, {u"Setting"_s, u"Advanced"_s}},
      {kPartitionSummary, {u"Advanced"_s}},
      {kWastedSpace, {u"Setting"_s, u"Filter"_s, u"Detail"_s, u"Advanced"_s}},
  };
  for (const Step& step : steps) {
    d.SelectReport(step.report);
    EXPECT_EQ(TabTitles(d.Tabs()), step.tabs) << step.report;
    EXPECT_EQ(d.Tabs()->currentIndex(), 0) << step.report;
  }
  d.SelectReport(kFilesByAccessDate);
  EXPECT_EQ(d.Tabs()->widget(0), d.DatePage());
  d.SelectReport(kWastedSpace);
  EXPECT_EQ(d.Tabs()->widget(0), d.WastedSpacePage());
  EXPECT_EQ(d.Tabs()->widget(1), d.FilterPage());
}

TEST(ReportSetDialogTest, SwitchingStoresTheShownPagesAndOkStoresChecksAndTheCurrentReport) {
  ReportSet set;
  {
    ShownDialog shown(set, u"Edited"_s, kAllFiles);
    CReportSetDialog& d = shown.dialog;
    d.FilterPage()->FileFilter()->setText(u"*.iso"_s);
    d.SelectReport(kFilesBySize);  // stores All Files' pages
    d.SizePage()->Group()->Value1()->SetText(u"500"_s);
    d.ReportList()->item(kFilesBySize)->setCheckState(Qt::Checked);
    d.reject();  // the size page's edit is lost, the filter stays
  }
  EXPECT_STREQ(set[kAllFiles].Options.FileFilter, "*.iso");
  EXPECT_STREQ(set[kFilesBySize].Options.Criteria[0].Value1, "");
  EXPECT_EQ(set[kFilesBySize].Selected, 0);

  {
    ShownDialog shown(set, u"Edited"_s, kFilesBySize);
    CReportSetDialog& d = shown.dialog;
    d.SizePage()->Group()->Value1()->SetText(u"500"_s);
    d.ReportList()->item(kFilesBySize)->setCheckState(Qt::Checked);
    d.accept();
  }
  EXPECT_STREQ(set[kFilesBySize].Options.Criteria[0].Value1, "500");
  EXPECT_EQ(set[kFilesBySize].Selected, 1);
  EXPECT_EQ(set[kAllFiles].Selected, 0);
}

TEST(SizeCriteriaPageTest, EachFormMapsItsComparisonsAndHidesWhatItDoesNotUse) {
  CSizeCriteriaPage page;
  page.show();
  CValueCriterionGroup* g = page.Group();
  ReportOptions options;
  options.Criteria[0].Scope = kScopeAll;
  options.Criteria[0].Measure = 8;

  page.SetForm(SizeForm::kQuota);
  page.Load(options);
  EXPECT_EQ(g->ComparisonCombo()->currentText(), u"All Quotas"_s);
  EXPECT_EQ(g->UnitCombo()->currentText(), u"%"_s);
  EXPECT_FALSE(g->UnitCombo()->isVisible());
  EXPECT_FALSE(g->Value1()->isVisible());
  EXPECT_FALSE(g->Value2()->isVisible());
  EXPECT_FALSE(g->AndLabel()->isVisible());

  g->ComparisonCombo()->setCurrentIndex(1);  // "Used Larger Than"
  EXPECT_TRUE(g->UnitCombo()->isVisible());
  EXPECT_TRUE(g->Value1()->isVisible());
  EXPECT_FALSE(g->Value2()->isVisible());
  g->ComparisonCombo()->setCurrentIndex(3);  // "Used Between"
  EXPECT_TRUE(g->Value2()->isVisible());
  EXPECT_TRUE(g->AndLabel()->isVisible());
  // Empty values show as "2".
  EXPECT_EQ(g->Value1()->Text(), u"2"_s);
  EXPECT_EQ(g->Value2()->Text(), u"2"_s);
  g->Value2()->SetText(u"90"_s);
  page.Store(options);
  EXPECT_EQ(options.Criteria[0].Scope, kScopeBetween);
  EXPECT_EQ(options.Criteria[0].Measure, 8u);
  EXPECT_STREQ(options.Criteria[0].Value1, "2");
  EXPECT_STREQ(options.Criteria[0].Value2, "90");

  // The plain form has no "All" and no percent: a quota record's codes show
  // its first entries, and storing writes the plain form's codes.
  page.SetForm(SizeForm::kPlain);
  page.Load(options);
  EXPECT_EQ(g->ComparisonCombo()->count(), 3);
  EXPECT_EQ(g->ComparisonCombo()->currentText(), u"Between"_s);
  EXPECT_EQ(g->UnitCombo()->count(), 3);
  EXPECT_EQ(g->UnitCombo()->currentText(), u"MB"_s);
  options.Criteria[0].Scope = kScopeSmaller;
  options.Criteria[0].Measure = 3;
  page.Load(options);
  EXPECT_EQ(g->ComparisonCombo()->currentText(), u"Smaller Than"_s);
  EXPECT_EQ(g->UnitCombo()->currentText(), u"Bytes"_s);
  EXPECT_FALSE(g->Value2()->isVisible());

  page.SetForm(SizeForm::kShare);
  options.Criteria[0].Scope = kScopeLarger;
  page.Load(options);
  EXPECT_EQ(g->ComparisonCombo()->currentText(), u"Shares Larger Than"_s);
}

TEST(ValueSpinTest, TakesDigitsOnlyAndStepsWithinItsRange) {
  CValueSpin spin;
  QString text = u"12a"_s;
  int pos = 0;
  EXPECT_EQ(spin.validate(text, pos), QValidator::Invalid);
  text = u"123456789012"_s;
  EXPECT_EQ(spin.validate(text, pos), QValidator::Acceptable);
  spin.SetText(u"32766"_s);
  spin.stepBy(5);
  EXPECT_EQ(spin.Text(), u"32767"_s);
  spin.SetText(u"1"_s);
  spin.stepBy(-3);
  EXPECT_EQ(spin.Text(), u"0"_s);
  spin.SetText(u"100000"_s);  // typed past the spin range: kept until stepped
  EXPECT_EQ(spin.Text(), u"100000"_s);
  spin.stepBy(1);
  EXPECT_EQ(spin.Text(), u"32767"_s);
}

TEST(DateCriteriaPageTest, NumbersAndCalendarDatesRoundTrip) {
  CDateCriteriaPage page;
  page.show();
  CDateCriterionGroup* g = page.Group();
  const QDate today(2026, 12, 8);
  g->SetToday(today);

  ReportOptions options;  // Scope 0, Measure 0: the first entries
  page.Load(options);
  EXPECT_EQ(g->ComparisonCombo()->currentText(), u"Since (<=)"_s);
  EXPECT_EQ(g->UnitCombo()->currentText(), u"Days"_s);
  EXPECT_EQ(g->Value1()->Text(), u"1"_s);
  EXPECT_EQ(g->Value2()->Text(), u"2"_s);
  EXPECT_TRUE(g->Value1()->isVisible());
  EXPECT_FALSE(g->Value2()->isVisible());

  // A calendar date with nothing stored shows today, for both bounds.
  options.Criteria[0].Scope = kScopeBetween;
  options.Criteria[0].Measure = kMeasureDate;
  page.Load(options);
  EXPECT_TRUE(g->ShowsDates());
  EXPECT_EQ(g->Date1()->date(), today);
  EXPECT_EQ(g->Date2()->date(), today);
  EXPECT_TRUE(g->Date2()->isVisible());
  EXPECT_FALSE(g->Value1()->isVisible());

  g->Date1()->setDate(QDate(2024, 1, 31));
  page.Store(options);
  EXPECT_EQ(QString::fromUtf8(options.Criteria[0].Value1), DateToStored(QDate(2024, 1, 31)));
  page.Load(options);
  EXPECT_EQ(g->Date1()->date(), QDate(2024, 1, 31));

  // Back to months: numbers again, stored as typed.
  g->UnitCombo()->setCurrentIndex(1);
  g->ComparisonCombo()->setCurrentIndex(1);
  g->Value1()->SetText(u"6"_s);
  page.Store(options);
  EXPECT_EQ(options.Criteria[0].Scope, kScopeLarger);
  EXPECT_EQ(options.Criteria[0].Measure, 6u);
  EXPECT_STREQ(options.Criteria[0].Value1, "6");
}

TEST(DirectoryCriteriaPageTest, AllLevelsZeroesAndLocksTheLevels) {
  CDirectoryCriteriaPage page;
  page.show();
  ReportOptions options;
  options.Criteria[0].Scope = kScopeAll;
  page.Load(options);
  EXPECT_EQ(page.Group()->ComparisonCombo()->currentText(), u"All Directories"_s);
  EXPECT_FALSE(page.Group()->Value1()->isVisible());
  EXPECT_EQ(page.Levels()->text(), u"0"_s);
  EXPECT_TRUE(page.AllLevels()->isChecked());
  EXPECT_FALSE(page.Levels()->isEnabled());

  page.AllLevels()->setChecked(false);
  EXPECT_TRUE(page.Levels()->isEnabled());
  page.Levels()->setText(u"3"_s);
  page.Group()->ComparisonCombo()->setCurrentIndex(2);  // "Larger Than"
  page.Group()->UnitCombo()->setCurrentIndex(1);        // "KB"
  page.Store(options);
  EXPECT_EQ(options.Criteria[0].Scope, kScopeLarger);
  EXPECT_EQ(options.Criteria[0].Measure, 2u);
  EXPECT_STREQ(options.Criteria[0].Value1, "0");
  EXPECT_STREQ(options.Criteria[1].Value1, "3");

  page.Load(options);
  EXPECT_FALSE(page.AllLevels()->isChecked());
  page.AllLevels()->setChecked(true);
  EXPECT_EQ(page.Levels()->text(), u"0"_s);
  EXPECT_FALSE(page.Levels()->isEnabled());
}

TEST(DuplicateCriteriaPageTest, NoStoredPercentsIsAnExactMatchStoredAsHundreds) {
  CDuplicateCriteriaPage page;
  page.show();
  ReportOptions options;
  page.Load(options);
  EXPECT_TRUE(page.ExactMatch()->isChecked());
  EXPECT_EQ(page.NamePercent()->text(), u"100"_s);
  EXPECT_FALSE(page.NamePercent()->isEnabled());
  EXPECT_EQ(page.Group()->ComparisonCombo()->currentText(), u"More Than"_s);
  EXPECT_EQ(page.Group()->Value1()->Text(), u"2"_s);
  page.Store(options);
  EXPECT_STREQ(options.Criteria[1].Value1, "100");
  EXPECT_STREQ(options.Criteria[2].Value1, "100");
  EXPECT_EQ(options.Criteria[0].Compare, 0);

  page.CloseMatch()->setChecked(true);
  EXPECT_TRUE(page.NamePercent()->isEnabled());
  page.NamePercent()->setText(u"80"_s);
  page.CompareContents()->setChecked(true);
  page.Store(options);
  EXPECT_STREQ(options.Criteria[1].Value1, "80");
  EXPECT_EQ(options.Criteria[0].Compare, 1);
  page.Load(options);
  EXPECT_TRUE(page.CloseMatch()->isChecked());

  // Choosing the exact match again puts both back to 100.
  page.ExactMatch()->setChecked(true);
  EXPECT_EQ(page.NamePercent()->text(), u"100"_s);
}

TEST(WastedSpaceCriteriaPageTest, EachGroupKeepsItsOwnSlot) {
  CWastedSpaceCriteriaPage page;
  page.show();
  ReportOptions options;
  page.Load(options);
  EXPECT_EQ(page.SizeGroup()->Value1()->Text(), u"1000"_s);
  EXPECT_EQ(page.SizeGroup()->ComparisonCombo()->currentText(), u"Larger Than Equal"_s);
  EXPECT_EQ(page.DuplicateGroup()->ComparisonCombo()->currentText(), u"More Than Equal"_s);
  EXPECT_EQ(page.RevisionGroup()->UnitCombo()->itemText(0), u"Day(s)"_s);
  EXPECT_EQ(page.AccessGroup()->UnitCombo()->itemText(0), u"Days"_s);

  page.RevisionGroup()->Value1()->SetText(u"30"_s);
  page.AccessGroup()->Value1()->SetText(u"90"_s);
  page.SizeGroup()->Value1()->SetText(u"50"_s);
  page.DuplicateGroup()->Value1()->SetText(u"3"_s);
  page.Store(options);
  EXPECT_STREQ(options.Criteria[kWastedRevisionSlot].Value1, "30");
  EXPECT_STREQ(options.Criteria[kWastedAccessSlot].Value1, "90");
  EXPECT_STREQ(options.Criteria[kWastedSizeSlot].Value1, "50");
  EXPECT_EQ(options.Criteria[kWastedSizeSlot].Measure, 1u);
  EXPECT_STREQ(options.Criteria[kWastedDuplicateSlot].Value1, "3");
  EXPECT_EQ(options.Criteria[4].Scope, 0u);  // Value4 is never touched
}

TEST(DetailColumnsPageTest, AttributeTestsAreThreeStateAndColumnsFollowTheFieldBits) {
  CDetailColumnsPage page;
  ReportOptions options;
  options.Criteria[0].ReadOnly = kAttributeSet;
  options.Criteria[0].Hidden = kAttributeCleared;
  page.Load(options);
  EXPECT_EQ(page.ReadOnly()->checkState(), Qt::Checked);
  EXPECT_EQ(page.Hidden()->checkState(), Qt::Unchecked);
  EXPECT_EQ(page.System()->checkState(), Qt::PartiallyChecked);
  ASSERT_EQ(page.Columns()->count(), static_cast<int>(vn::kFieldCount));
  EXPECT_EQ(page.Columns()->item(vn::kFieldOwner)->checkState(), Qt::Unchecked);
  EXPECT_EQ(page.Columns()->item(vn::kFieldFileName)->checkState(), Qt::Checked);

  page.ClearButton()->click();
  page.Columns()->item(vn::kFieldSize)->setCheckState(Qt::Checked);
  page.Archive()->setCheckState(Qt::Checked);
  page.Store(options);
  EXPECT_EQ(options.Fields & ((1u << vn::kFieldCount) - 1), 1u << vn::kFieldSize);
  EXPECT_EQ(options.Criteria[0].Archive, kAttributeSet);
  EXPECT_EQ(options.Criteria[0].Compress, kAttributeEither);
  EXPECT_EQ(options.Criteria[0].Temp, kAttributeEither);  // no box for it

  page.SetButton()->click();
  page.Store(options);
  EXPECT_EQ(options.Fields & ((1u << vn::kFieldCount) - 1), (1u << vn::kFieldCount) - 1);
}

TEST(OutputPagesTest, OptionBitsCountsCommandsAndFiltersRoundTrip) {
  CReportOutputPage output;
  ReportOptions options;
  options.Options = kOptionSizesInMegabytes | kOptionHtml;
  std::strcpy(options.Mail.MailTo, "admin@example.test");
  output.Load(options);
  EXPECT_FALSE(output.SizeBoxes()[0]->isChecked());
  EXPECT_TRUE(output.SizeBoxes()[1]->isChecked());
  EXPECT_TRUE(output.FormatBoxes()[1]->isChecked());
  EXPECT_EQ(output.RecordCount()->text(), u"0"_s);
  EXPECT_EQ(output.RecordCount()->maxLength(), 10);
  EXPECT_EQ(output.BatchCommand()->maxLength(), 1024);

  output.FormatBoxes()[0]->setChecked(true);
  output.SizeBoxes()[1]->setChecked(false);
  output.RecordCount()->setText(u"250"_s);
  output.BatchCommand()->setText(u"echo done"_s);
  ReportOptions stored;
  output.Store(stored);
  EXPECT_EQ(stored.Options, kOptionCommaDelimited | kOptionHtml);
  EXPECT_EQ(stored.RptLen, 250);
  EXPECT_STREQ(stored.BatchCommand, "echo done");
  EXPECT_STREQ(stored.Mail.MailTo, "admin@example.test");  // the mail settings travel along

  CReportFilterPage filter;
  std::strcpy(options.OwnerFilter, "DOM\\alice;DOM\\bob");
  filter.Load(options);
  EXPECT_EQ(filter.UserFilter()->text(), u"DOM\\alice;DOM\\bob"_s);
  EXPECT_EQ(filter.FileFilter()->maxLength(), 259);
  EXPECT_EQ(filter.UserFilter()->maxLength(), 1024);
  filter.FileFilter()->setText(u"*.tmp;*.bak"_s);
  filter.Store(stored);
  EXPECT_STREQ(stored.FileFilter, "*.tmp;*.bak");
  EXPECT_STREQ(stored.OwnerFilter, "DOM\\alice;DOM\\bob");
}

// A set edited through the dialog, saved to the machine's registry and read
// back carries every page's edits, and only its checked reports.
TEST(ReportSetDialogTest, EditedSetSurvivesTheRegistry) {
  vn::testing::TempMachineHome home;
  ReportSet set;
  {
    ShownDialog shown(set);
    CReportSetDialog& d = shown.dialog;
    d.NameEdit()->setText(u"Edited In The Dialog"_s);
    d.SelectReport(kDuplicateFiles);
    d.ReportList()->item(kDuplicateFiles)->setCheckState(Qt::Checked);
    d.DuplicatePage()->CloseMatch()->setChecked(true);
    d.DuplicatePage()->NamePercent()->setText(u"75"_s);
    d.DuplicatePage()->Group()->Value1()->SetText(u"4"_s);
    d.SelectReport(kSpaceByQuota);
    d.ReportList()->item(kSpaceByQuota)->setCheckState(Qt::Checked);
    d.SizePage()->Group()->ComparisonCombo()->setCurrentIndex(0);  // "All Quotas"
    d.SelectReport(kAllFiles);  // edited but not checked: not saved
    d.FilterPage()->FileFilter()->setText(u"*.log"_s);
    d.accept();
    ASSERT_EQ(d.result(), QDialog::Accepted);
    ASSERT_EQ(SaveReportSet("", d.GetName().toStdString(), set), ERROR_SUCCESS);
  }
  ReportSet loaded;
  ASSERT_EQ(LoadReportSet("", "Edited In The Dialog", loaded), ERROR_SUCCESS);
  EXPECT_EQ(loaded[kDuplicateFiles].Selected, 1);
  EXPECT_STREQ(loaded[kDuplicateFiles].Options.Criteria[1].Value1, "75");
  EXPECT_STREQ(loaded[kDuplicateFiles].Options.Criteria[2].Value1, "100");
  EXPECT_STREQ(loaded[kDuplicateFiles].Options.Criteria[0].Value1, "4");
  EXPECT_EQ(loaded[kSpaceByQuota].Selected, 1);
  EXPECT_EQ(loaded[kSpaceByQuota].Options.Criteria[0].Scope, kScopeAll);
  EXPECT_EQ(loaded[kAllFiles].Selected, 0);
  EXPECT_STREQ(loaded[kAllFiles].Options.FileFilter, "");

  // Opened again on the stored set, the pages show what was saved.
  ShownDialog again(loaded, u"Edited In The Dialog"_s);
  EXPECT_EQ(again.dialog.CurrentReport(), kSpaceByQuota);
  EXPECT_EQ(again.dialog.SizePage()->Group()->ComparisonCombo()->currentText(), u"All Quotas"_s);
  again.dialog.SelectReport(kDuplicateFiles);
  EXPECT_TRUE(again.dialog.DuplicatePage()->CloseMatch()->isChecked());
  EXPECT_EQ(again.dialog.DuplicatePage()->NamePercent()->text(), u"75"_s);
}

}  // namespace
