// The user filter dialogs offscreen over machines of the test harness: "Select
// Users" (430), "User Filter" (433) and "Add..." of the user filter picker
// (506), each on the real registries and accounts of the machines.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <fstream>
#include <functional>
#include <memory>

#include "console/core/reports/UserFilters.h"
#include "console/core/support/SystemErrorText.h"
#include "console/widgets/reports/ReportMessages.h"
#include "console/widgets/reports/SelectReportDlg.h"
#include "console/widgets/reports/SelectUsersDlg.h"
#include "console/widgets/reports/UserFilterDlg.h"
#include "testing/MachineNetwork.h"
#include "testing/Wait.h"
#include "ui/MessageBox.h"
#include "console/widgets/tests/ModalDialogs.h"

namespace {

using vn::testing::MachineNetwork;

using vn::console::testing::WithDialog;

QStringList Rows(const QTreeWidget* list) {
  QStringList rows;
  for (int i = 0; i < list->topLevelItemCount(); ++i) rows.push_back(list->topLevelItem(i)->text(0));
  return rows;
}

QStringList Items(const QListWidget* list) {
  QStringList items;
  for (int i = 0; i < list->count(); ++i) items.push_back(list->item(i)->text());
  return items;
}

void SelectRows(QTreeWidget* list, const QStringList& names) {
  for (int i = 0; i < list->topLevelItemCount(); ++i)
    list->topLevelItem(i)->setSelected(names.contains(list->topLevelItem(i)->text(0)));
}

std::string SystemText(DWORD code) {
  char text[1025] = {};
  vn::console::GetSystemErrorText(code, text, sizeof text);
  return text;
}

// SALES with its controller SRV1 and a member server WS1; MKTG with MK1.
class UserFilterViewTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    s_net = std::make_unique<MachineNetwork>("SALES");
    const auto& srv1 = s_net->Add({"SRV1", "SALES", vn::MachineRole::PrimaryDomainController, {}});
    std::ofstream(srv1.home / "machine.ini", std::ios::app)
        << "[Accounts]\nalice = user, Alice\nzed = user, Zed\nReport Readers = group\nAuditors = localgroup\n";
    const auto& ws1 = s_net->Add({"WS1", "SALES", vn::MachineRole::Server, {}});
    std::ofstream(ws1.home / "machine.ini", std::ios::app)
        << "[Accounts]\ncarol = user, Carol\nArchivists = group\nNight Shift = localgroup\n";
    s_net->Add({"MK1", "MKTG", vn::MachineRole::PrimaryDomainController, {}});
    ASSERT_TRUE(s_net->StartAll());
  }
  static void TearDownTestSuite() { s_net.reset(); }

  void SetUp() override {
    m_previous = AfxSetMessageBoxHook([this](const QString& text, UINT) {
      m_messages.push_back(text.toStdString());
      return IDOK;
    });
  }
  void TearDown() override { AfxSetMessageBoxHook(m_previous); }

  static std::unique_ptr<MachineNetwork> s_net;
  std::vector<std::string> m_messages;
  MessageBoxHook m_previous;
};
std::unique_ptr<MachineNetwork> UserFilterViewTest::s_net;

TEST_F(UserFilterViewTest, SelectUsersListsSourcesAccountsAndChecksNames) {
  CSelectUsersDlg dialog(QStringLiteral("WS1"));
  ASSERT_TRUE(m_messages.empty()) << m_messages.front();
  QStringList sources;
  for (int i = 0; i < dialog.SourceList()->count(); ++i) sources.push_back(dialog.SourceList()->itemText(i));
  EXPECT_EQ(sources, (QStringList{QStringLiteral("\\\\WS1"), QStringLiteral("SALES"), QStringLiteral("MKTG")}));

  // Groups at once; global ones before local ones, each by name; users on request.
  QStringList rows = Rows(dialog.AccountList());
  const auto position = [&rows](const char* name) { return rows.indexOf(QString::fromLatin1(name)); };
  ASSERT_GE(position("Archivists"), 0);
  EXPECT_LT(position("Archivists"), position("Administrators"));
  EXPECT_LT(position("Administrators"), position("Night Shift"));
  EXPECT_LT(position("Night Shift"), position("Users"));
  EXPECT_EQ(position("None"), -1);
  EXPECT_EQ(position("carol"), -1);
  dialog.ShowUsersButton()->click();
  rows = Rows(dialog.AccountList());
  ASSERT_GE(position("carol"), 0);
  EXPECT_LT(position("Users"), position("carol"));
  EXPECT_GE(dialog.AccountList()->columnWidth(0),
            QFontMetrics(dialog.AccountList()->font()).horizontalAdvance(QStringLiteral("Night Shift")) + 25);

  SelectRows(dialog.AccountList(), {QStringLiteral("carol"), QStringLiteral("Night Shift")});
  dialog.AddButton()->click();
  dialog.AddButton()->click();  // the same names again add nothing
  // In the list's order: the local group before the user.
  EXPECT_EQ(dialog.SelectedEdit()->text().toStdString(), "Night Shift;SALES\\carol");

  // The domain's own accounts come from its controller.
  dialog.SourceList()->setCurrentIndex(1);
  dialog.ShowUsersButton()->click();
  rows = Rows(dialog.AccountList());
  EXPECT_GE(position("Report Readers"), 0);
  EXPECT_GE(position("zed"), 0);
  EXPECT_EQ(position("Night Shift"), -1);

  // OK: nothing chosen, a name no account has, then names that are all found.
  dialog.SelectedEdit()->clear();
  dialog.accept();
  EXPECT_EQ(m_messages, std::vector<std::string>{"No user selected"});
  dialog.SelectedEdit()->setText(QStringLiteral("SALES\\carol;nobody"));
  dialog.accept();
  ASSERT_EQ(m_messages.size(), 2u);
  EXPECT_EQ(m_messages[1], SystemText(1332));
  EXPECT_EQ(dialog.result(), QDialog::Rejected);
  dialog.SelectedEdit()->setText(QStringLiteral("SALES\\carol;WS1\\Night Shift"));
  dialog.accept();
  EXPECT_EQ(m_messages.size(), 2u);
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(dialog.GetSelectedNames().toStdString(), "SALES\\carol;WS1\\Night Shift");
}

TEST_F(UserFilterViewTest, NewFilterThroughSelectUsersThenEditIt) {
  CUserFilterDlg dialog(QStringLiteral("SRV1"), QString());
  EXPECT_FALSE(dialog.OkButton()->isEnabled());
  EXPECT_FALSE(dialog.NameEdit()->isReadOnly());
  dialog.NameEdit()->setText(QStringLiteral("Readers"));
  EXPECT_FALSE(dialog.OkButton()->isEnabled());  // no account yet

  const auto addThroughPicker = [&](const QStringList& names) {
    return WithDialog<CSelectUsersDlg>([&] { dialog.AddButton()->click(); },
                                       [&](CSelectUsersDlg* picker) {
                                         picker->ShowUsersButton()->click();
                                         SelectRows(picker->AccountList(), names);
                                         picker->AddButton()->click();
                                         picker->accept();
                                       });
  };
  ASSERT_TRUE(addThroughPicker({QStringLiteral("alice"), QStringLiteral("Auditors")}));
  ASSERT_TRUE(addThroughPicker({QStringLiteral("alice"), QStringLiteral("zed")}));  // alice once only
  EXPECT_EQ(Items(dialog.AccountList()),
            (QStringList{QStringLiteral("Auditors"), QStringLiteral("SALES\\alice"), QStringLiteral("SALES\\zed")}));
  EXPECT_TRUE(dialog.OkButton()->isEnabled());
  dialog.AccountList()->item(0)->setSelected(true);
  dialog.RemoveButton()->click();
  EXPECT_EQ(Items(dialog.AccountList()), (QStringList{QStringLiteral("SALES\\alice"), QStringLiteral("SALES\\zed")}));
  dialog.NameEdit()->clear();
  EXPECT_FALSE(dialog.OkButton()->isEnabled());
  dialog.NameEdit()->setText(QStringLiteral("Readers"));
  dialog.accept();
  ASSERT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_TRUE(m_messages.empty());
  std::string value;
  ASSERT_EQ(vn::console::ReadUserFilter("SRV1", "Readers", &value), ERROR_SUCCESS);
  EXPECT_EQ(value, "SALES\\alice;SALES\\zed");

  // A second new filter of that name is refused and stays open.
  CUserFilterDlg again(QStringLiteral("SRV1"), QString());
  again.NameEdit()->setText(QStringLiteral("Readers"));
  again.AddAccounts(QStringLiteral("SALES\\zed"));
  again.accept();
  EXPECT_EQ(m_messages, std::vector<std::string>{"User Filter Readers exists.  Please change the name"});
  EXPECT_NE(again.result(), QDialog::Accepted);
  // Too many accounts together: refused, nothing written.
  m_messages.clear();
  again.NameEdit()->setText(QStringLiteral("Huge"));
  again.AddAccounts(QString::fromStdString(std::string(600, 'a') + ";" + std::string(600, 'b')));
  again.accept();
  ASSERT_EQ(m_messages.size(), 1u);
  EXPECT_EQ(m_messages[0], vn::console::kUserFilterTooLongText);
  EXPECT_EQ(vn::console::ReadUserFilter("SRV1", "Huge", &value), ERROR_FILE_NOT_FOUND);

  // Editing: the stored accounts (a trailing ";" written by hand), a fixed name, and OK overwrites.
  m_messages.clear();
  ASSERT_EQ(vn::console::StoreUserFilter("SRV1", "Readers", {"SALES\\alice", "Auditors;"}, false), ERROR_SUCCESS);
  CUserFilterDlg edit(QStringLiteral("SRV1"), QStringLiteral("Readers"));
  EXPECT_TRUE(edit.NameEdit()->isReadOnly());
  EXPECT_EQ(Items(edit.AccountList()), (QStringList{QStringLiteral("SALES\\alice"), QStringLiteral("Auditors")}));
  EXPECT_TRUE(edit.OkButton()->isEnabled());
  edit.AddAccounts(QStringLiteral("SALES\\zed;"));
  edit.accept();
  EXPECT_EQ(edit.result(), QDialog::Accepted);
  ASSERT_EQ(vn::console::ReadUserFilter("SRV1", "Readers", &value), ERROR_SUCCESS);
  EXPECT_EQ(value, "SALES\\alice;Auditors;SALES\\zed");
  EXPECT_TRUE(m_messages.empty());

  // A filter that cannot be read closes at once as cancelled, with the system's text.
  CUserFilterDlg missing(QStringLiteral("SRV1"), QStringLiteral("No such filter"));
  EXPECT_EQ(missing.exec(), QDialog::Rejected);
  EXPECT_EQ(m_messages, std::vector<std::string>{SystemText(ERROR_FILE_NOT_FOUND)});
}

TEST_F(UserFilterViewTest, AddInThePickerMakesAFilterAndTellsTheReportTree) {
  QObject window;
  std::vector<std::pair<UINT, std::string>> received;
  CWindowHandle handle(&window, [&received](UINT message, WPARAM, LPARAM lParam) -> LRESULT {
    received.emplace_back(message, TakeUserFilterText(lParam));
    return 0;
  });
  ASSERT_EQ(vn::console::StoreUserFilter("WS1", "Existing", {"SALES\\carol"}, true), ERROR_SUCCESS);
  CSelectReportDlg picker(CSelectReportDlg::kUserFilter, QStringLiteral("WS1"), handle.GetSafeHwnd());
  EXPECT_TRUE(picker.AddButton()->isEnabled());
  EXPECT_EQ(Rows(picker.NameList()), QStringList{QStringLiteral("Existing")});

  ASSERT_TRUE(WithDialog<CUserFilterDlg>([&] { picker.AddButton()->click(); },
                                         [](CUserFilterDlg* filter) {
                                           EXPECT_EQ(filter->GetMachine().toStdString(), "WS1");
                                           filter->NameEdit()->setText(QStringLiteral("Night"));
                                           filter->AddAccounts(QStringLiteral("Night Shift"));
                                           filter->accept();
                                         }));
  EXPECT_EQ(Rows(picker.NameList()), (QStringList{QStringLiteral("Night"), QStringLiteral("Existing")}));
  ASSERT_TRUE(vn::testing::WaitUntil([&] {
    QCoreApplication::processEvents();
    return !received.empty();
  }));
  EXPECT_EQ(received, (std::vector<std::pair<UINT, std::string>>{{WM_APP + 125, "WS1\\Night"}}));
  picker.accept();
  EXPECT_EQ(picker.GetName().toStdString(), "Night");
  EXPECT_EQ(picker.GetFilterValue().toStdString(), "Night Shift");

  // A cancelled "User Filter" adds and tells nothing.
  received.clear();
  CSelectReportDlg second(CSelectReportDlg::kUserFilter, QStringLiteral("WS1"), handle.GetSafeHwnd());
  ASSERT_TRUE(WithDialog<CUserFilterDlg>([&] { second.AddButton()->click(); },
                                         [](CUserFilterDlg* filter) { filter->reject(); }));
  EXPECT_EQ(Rows(second.NameList()).size(), 2);
  QCoreApplication::processEvents();
  EXPECT_TRUE(received.empty());
  // Report sets are not made here.
  CSelectReportDlg sets(CSelectReportDlg::kReportSet, QStringLiteral("WS1"), handle.GetSafeHwnd());
  EXPECT_FALSE(sets.AddButton()->isEnabled());
  EXPECT_TRUE(m_messages.empty());
}

}  // namespace
