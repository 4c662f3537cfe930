// The custom report designer's window offscreen: OK of a new report, the
// class combo and the tabs the sort keys enable, the query combos and
// Verify, what OK stores, and an existing report opened, damaged or whole,
// from this machine's registry.

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTreeWidget>
#include <string>
#include <vector>

#include "console/core/reports/ReportGeneratorDll.h"
#include "console/core/reports/ReportSetStore.h"
#include "console/widgets/reports/CustomReportDialog.h"
#include "console/widgets/reports/CustomReportPages.h"
#include "console/widgets/reports/OutputPages.h"
#include "platform/registry/Registry.h"
#include "ui/MessageBox.h"

namespace {

namespace rd = vn::reportdef;
using vn::console::DesignPage;

void SelectSource(CDesignListPage* page, const QString& name) {
  const auto items = page->Source()->findItems(name, Qt::MatchExactly);
  ASSERT_EQ(items.size(), 1) << name.toStdString();
  page->Source()->clearSelection();
  items.front()->setSelected(true);
}

class CustomReportViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_previous = AfxSetMessageBoxHook([this](const QString& text, UINT) {
      m_messages.push_back(text.toStdString());
      return IDOK;
    });
  }
  void TearDown() override { AfxSetMessageBoxHook(m_previous); }
  MessageBoxHook m_previous;
  std::vector<std::string> m_messages;
};

TEST_F(CustomReportViewTest, NewReportPagesFollowTheirRules) {
  CCustomReportDialog dialog{QString(), QString()};
  EXPECT_FALSE(dialog.OkButton()->isEnabled()) << "waits for a name";
  EXPECT_FALSE(dialog.NameEdit()->isReadOnly());
  dialog.NameEdit()->setText(QStringLiteral("Logs"));
  emit dialog.NameEdit()->textEdited(QStringLiteral("Logs"));
  EXPECT_TRUE(dialog.OkButton()->isEnabled());

  EXPECT_EQ(dialog.ClassCombo()->count(), 3);
  EXPECT_EQ(dialog.Tabs(0)->count(), 5);
  EXPECT_EQ(dialog.Tabs(1)->count(), 3);
  EXPECT_EQ(dialog.Tabs(2)->count(), 2);
  EXPECT_EQ(dialog.Tabs(0)->tabText(3), QStringLiteral("Report Break"));
  EXPECT_FALSE(dialog.Tabs(0)->isTabEnabled(3));
  EXPECT_FALSE(dialog.Tabs(1)->isTabEnabled(2));
  dialog.ShowClass(2);
  EXPECT_EQ(dialog.ClassCombo()->currentText(), QStringLiteral("Output Options"));

  // Sort: a key enables Report Break; adding it twice leaves one row.
  CDesignListPage* sort = dialog.Page(DesignPage::Sort);
  dialog.ShowClass(0);
  dialog.Tabs(0)->setCurrentIndex(2);
  EXPECT_FALSE(sort->RemoveButton()->isEnabled());
  SelectSource(sort, QStringLiteral("Directory"));
  sort->AddButton()->click();
  sort->AddButton()->click();
  EXPECT_EQ(sort->Target()->topLevelItemCount(), 1);
  EXPECT_EQ(sort->Target()->topLevelItem(0)->text(1), QStringLiteral("Ascending"));
  EXPECT_TRUE(sort->RemoveButton()->isEnabled());
  EXPECT_TRUE(dialog.Tabs(0)->isTabEnabled(3));

  // Report Break offers the sort keys once Sort is left.
  dialog.Tabs(0)->setCurrentIndex(3);
  CDesignListPage* breaks = dialog.Page(DesignPage::ReportBreak);
  ASSERT_EQ(breaks->Source()->count(), 1);
  SelectSource(breaks, QStringLiteral("Directory"));
  breaks->AddButton()->click();
  int field = -1;
  EXPECT_EQ(dialog.Design().Definition().GetSummaryBreakField(0, field), 0u);
  EXPECT_EQ(field, rd::kDirectory);

  // Final Total: the default action by the field's type.
  CDesignListPage* finals = dialog.Page(DesignPage::FinalTotal);
  for (const char* name : {"Size", "RevisedDays", "Owner"}) {
    SelectSource(finals, QString::fromLatin1(name));
    finals->AddButton()->click();
  }
  std::vector<std::string> actions;
  for (int i = 0; i < finals->Target()->topLevelItemCount(); ++i)
    actions.push_back(finals->Target()->topLevelItem(i)->text(1).toStdString());
  EXPECT_EQ(actions, (std::vector<std::string>{"Sum", "Average", "Store"}));

  // Removing the last sort key disables Report Break again.
  dialog.Tabs(0)->setCurrentIndex(2);
  sort->Target()->topLevelItem(0)->setSelected(true);
  sort->RemoveButton()->click();
  EXPECT_FALSE(dialog.Tabs(0)->isTabEnabled(3));
  EXPECT_NE(dialog.Design().Definition().GetSummaryBreakField(0, field), 0u) << "its break went with it";
}

TEST_F(CustomReportViewTest, QueryCombosAndVerify) {
  CCustomReportDialog dialog{QString(), QString()};
  CQueryPage* query = dialog.QueryPage(false);
  EXPECT_EQ(query->RelationCombo()->count(), 6);
  EXPECT_EQ(query->LogicalCombo()->itemText(0), QStringLiteral("NOT"));
  EXPECT_EQ(query->FieldCombo()->currentIndex(), 0);
  const int size = query->FieldCombo()->findText(QStringLiteral("Size"));
  ASSERT_GE(size, 0);
  emit query->FieldCombo()->activated(size);
  emit query->RelationCombo()->activated(0);
  query->QueryEdit()->insert(QStringLiteral("10 MB "));
  emit query->LogicalCombo()->activated(1);
  EXPECT_EQ(query->Text(), QStringLiteral("Size > 10 MB AND "));
  query->VerifyButton()->click();
  EXPECT_EQ(query->Status()->text(), QStringLiteral("A field name is expected at the end of the query"));
  EXPECT_FALSE(query->QueryEdit()->hasSelectedText()) << "no character at the end to select";
  EXPECT_EQ(query->QueryEdit()->cursorPosition(), 17);
  query->QueryEdit()->insert(QStringLiteral("Colour = 1"));
  query->VerifyButton()->click();
  EXPECT_EQ(query->Status()->text(), QStringLiteral("There is no field named Colour"));
  EXPECT_EQ(query->QueryEdit()->selectedText(), QStringLiteral("C"));
  query->QueryEdit()->setText(QStringLiteral("Size > 10 MB AND Owner = \"SALES\\*\""));
  query->VerifyButton()->click();
  EXPECT_EQ(query->Status()->text(), QStringLiteral("Correct"));
  EXPECT_FALSE(query->QueryEdit()->hasSelectedText());
}

TEST_F(CustomReportViewTest, OkStoresAndAnExistingReportOpensAsStored) {
  {
    CCustomReportDialog dialog{QString(), QString()};
    dialog.NameEdit()->setText(QStringLiteral("Logs"));
    emit dialog.NameEdit()->textEdited(QStringLiteral("Logs"));
    auto& design = dialog.Design();
    design.AddFields(DesignPage::Detail, {rd::kFileName, rd::kSize});
    dialog.QueryPage(false)->QueryEdit()->setText(QStringLiteral("Size > 1"));
    dialog.FilterPage()->FileFilter()->setText(QStringLiteral("*.log"));
    dialog.OkButton()->click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(design.Definition().QueryText(), "Size > 1");
    EXPECT_STREQ(design.Options().FileFilter, "*.log");
    EXPECT_EQ(design.Options().Report, vn::kReportCustom);
    ASSERT_EQ(design.Definition().SaveReportDefinition("", "Logs"), 0);
    ASSERT_EQ(vn::console::SaveCustomReportOptions("", "Logs", design.Options()), 0);
  }
  {
    CCustomReportDialog dialog(QString(), QStringLiteral("Logs"));
    EXPECT_TRUE(m_messages.empty());
    EXPECT_TRUE(dialog.NameEdit()->isReadOnly());
    EXPECT_TRUE(dialog.OkButton()->isEnabled());
    EXPECT_EQ(dialog.QueryPage(false)->Text(), QStringLiteral("Size > 1"));
    EXPECT_EQ(dialog.Page(DesignPage::Detail)->Target()->topLevelItemCount(), 2);
    EXPECT_EQ(dialog.FilterPage()->FileFilter()->text(), QStringLiteral("*.log"));
  }
  // Damaged by hand: the designer says which value and opens all the same.
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Halvard\\Vornal\\4.0\\Custom Reports\\Logs", 0,
                          KEY_ALL_ACCESS, &key),
            0);
  const char bad[] = "0;zz";
  ASSERT_EQ(RegSetValueExA(key, "Def.Detail", 0, REG_SZ, reinterpret_cast<const BYTE*>(bad), sizeof bad), 0);
  RegCloseKey(key);
  CCustomReportDialog damaged(QString(), QStringLiteral("Logs"));
  ASSERT_EQ(m_messages.size(), 1u);
  EXPECT_NE(m_messages[0].find("Def.Detail is damaged"), std::string::npos) << m_messages[0];
  EXPECT_EQ(damaged.Page(DesignPage::Detail)->Target()->topLevelItemCount(), 0);
}

}  // namespace
