// "Mail Report To:" (dialog 432) offscreen, with the real mail library loaded
// at run time and its address book window driven from the test; address books
// are files in temporary directories.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>

#include "console/core/run/MailRules.h"
#include "console/widgets/run/MailReportDlg.h"
#include "mapi/SimpleMapi.h"
#include "testing/TempMachineHome.h"
#include "ui/MessageBox.h"

namespace {

// Runs `action`; the first modal window named `name` that opens meanwhile is
// handed to `answer`, which must close it. True when one opened.
bool WithWindow(const QString& name, const std::function<void()>& action, const std::function<void(QDialog*)>& answer) {
  QObject guard;
  bool seen = false;
  std::function<void()> look = [&] {
    if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        dialog != nullptr && dialog->objectName() == name) {
      seen = true;
      answer(dialog);
      return;
    }
    QTimer::singleShot(5, &guard, look);
  };
  QTimer::singleShot(0, &guard, look);
  action();
  return seen;
}

QStringList Texts(const QListWidget* list) {
  QStringList texts;
  for (int i = 0; i < list->count(); ++i) texts.push_back(list->item(i)->text());
  return texts;
}

void Select(QListWidget* list, const QStringList& names) {
  for (int i = 0; i < list->count(); ++i) list->item(i)->setSelected(names.contains(list->item(i)->text()));
}

void Click(QDialog* dialog, const char* name) {
  auto* button = dialog->findChild<QPushButton*>(QString::fromLatin1(name));
  ASSERT_NE(button, nullptr) << name;
  button->click();
}

// One process-wide setting for the test's scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : m_name(name) {
    if (const char* old = std::getenv(name)) m_old = old;
    setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() {
    if (m_old.empty()) unsetenv(m_name); else setenv(m_name, m_old.c_str(), 1);
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* m_name;
  std::string m_old;
};

class MailViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::ofstream(m_home.path() / "machine.ini")
        << "[Machine]\nName = MAILPC\nDomain = SALES\nHostResolver = no\n"
        << "[Accounts]\nalice = user, Alice, alice@sales.example.org\nbob = user, Bob, bob@sales.example.org\n";
    m_previousHook = AfxSetMessageBoxHook([this](const QString& text, UINT) {
      m_messages.push_back(text);
      return IDOK;
    });
  }
  void TearDown() override { AfxSetMessageBoxHook(m_previousHook); }

  static vn::MailSettings Block(const char* to, const char* cc, const char* profile) {
    vn::MailSettings mail;
    std::strcpy(mail.MailTo, to);
    std::strcpy(mail.MailCC, cc);
    std::strcpy(mail.MailSubject, "Weekly space");
    vn::console::StoreMailLogin(mail.MailProfile, profile);
    vn::console::StoreMailLogin(mail.MailPassword, "secret");
    return mail;
  }

  vn::testing::TempMachineHome m_home{"MAILPC"};
  QTemporaryDir m_dir;
  std::string m_book = m_dir.filePath(QStringLiteral("book.vcf")).toStdString();
  ScopedEnv m_bookEnv{"VORNAL_ADDRESS_BOOK", m_book};
  std::vector<QString> m_messages;
  MessageBoxHook m_previousHook;
};

TEST_F(MailViewTest, FieldsLimitsLabelsAndOk) {
  CMailReportDlg dialog(Block("alice;bob", "carol", "MS Mail"));
  EXPECT_EQ(dialog.windowTitle().toStdString(), "Mail Report To:");
  EXPECT_EQ(dialog.ToEdit()->text().toStdString(), "alice;bob");
  EXPECT_EQ(dialog.CcEdit()->text().toStdString(), "carol");
  EXPECT_EQ(dialog.SubjectEdit()->text().toStdString(), "Weekly space");
  EXPECT_EQ(dialog.ProfileEdit()->text().toStdString(), "MS Mail");
  for (QLineEdit* edit : {dialog.ToEdit(), dialog.CcEdit(), dialog.SubjectEdit()}) EXPECT_EQ(edit->maxLength(), 255);
  EXPECT_EQ(dialog.ProfileEdit()->maxLength(), 80);
  EXPECT_EQ(dialog.PasswordEdit()->maxLength(), 80);
  EXPECT_EQ(dialog.ProfileLabel()->text().toStdString(), "Profile:");
  EXPECT_EQ(dialog.PasswordLabel()->text().toStdString(), "Password:");
  EXPECT_FALSE(dialog.PasswordLabel()->isEnabled());
  EXPECT_FALSE(dialog.PasswordEdit()->isEnabled());
  EXPECT_TRUE(dialog.PasswordEdit()->text().isEmpty());
  EXPECT_TRUE(dialog.ProfileEdit()->isEnabled());

  dialog.ToEdit()->setText(QStringLiteral("dave; erin;"));
  dialog.SubjectEdit()->setText(QStringLiteral("Space on %s"));
  dialog.ProfileEdit()->setText(QString(90, QLatin1Char('p')));  // the field keeps 80
  dialog.accept();
  const vn::MailSettings& mail = dialog.GetMailSettings();
  EXPECT_STREQ(mail.MailTo, "dave; erin;");
  EXPECT_STREQ(mail.MailCC, "carol");
  EXPECT_STREQ(mail.MailSubject, "Space on %s");
  EXPECT_EQ(mail.MailToCount, 2);
  EXPECT_EQ(mail.MailCCCount, 1);
  BYTE expected[81];
  vn::console::StoreMailLogin(expected, std::string(80, 'p'));
  EXPECT_EQ(std::memcmp(mail.MailProfile, expected, 81), 0);
  EXPECT_EQ(vn::console::ReadMailLogin(mail.MailProfile), std::string(80, 'p'));
  for (const BYTE b : mail.MailPassword) ASSERT_EQ(b, 0);  // the disabled password is stored empty
  EXPECT_TRUE(m_messages.empty());
}

TEST_F(MailViewTest, CancellingTheAddressBookShowsAndChangesNothing) {
  CMailReportDlg dialog(Block("alice", "bob", ""));
  const vn::MailSettings before = dialog.GetMailSettings();
  QStringList shownTo, shownCc;
  ASSERT_TRUE(WithWindow(QStringLiteral("MapiAddressDialog"), [&] { dialog.CcBookButton()->click(); },
                         [&](QDialog* book) {
                           shownTo = Texts(book->findChild<QListWidget*>(QStringLiteral("to")));
                           shownCc = Texts(book->findChild<QListWidget*>(QStringLiteral("cc")));
                           book->reject();
                         }));
  EXPECT_EQ(shownTo, QStringList{QStringLiteral("alice")});
  EXPECT_EQ(shownCc, QStringList{QStringLiteral("bob")});
  EXPECT_TRUE(m_messages.empty());
  EXPECT_EQ(dialog.ToEdit()->text().toStdString(), "alice");
  EXPECT_EQ(dialog.CcEdit()->text().toStdString(), "bob");
  dialog.reject();
  EXPECT_STREQ(dialog.GetMailSettings().MailTo, before.MailTo);
  EXPECT_STREQ(dialog.GetMailSettings().MailCC, before.MailCC);
}

TEST_F(MailViewTest, ChosenRecipientsReplaceBothListsAndNewEntriesAreKept) {
  std::ofstream(m_book) << "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Carol Ops\r\nEMAIL:carol@example.org\r\nEND:VCARD\r\n";
  CMailReportDlg dialog(Block("old one;old two", "", "Any Profile"));
  QStringList entries;
  ASSERT_TRUE(WithWindow(QStringLiteral("MapiAddressDialog"), [&] { dialog.ToBookButton()->click(); },
                         [&](QDialog* book) {
                           auto* list = book->findChild<QListWidget*>(QStringLiteral("entries"));
                           auto* to = book->findChild<QListWidget*>(QStringLiteral("to"));
                           entries = Texts(list);
                           Select(to, Texts(to));
                           Click(book, "remove");
                           // A new entry, written to the book and listed at once.
                           const bool asked = WithWindow(
                               QStringLiteral("MapiNewEntryDialog"), [&] { Click(book, "newEntry"); },
                               [](QDialog* ask) {
                                 ask->findChild<QLineEdit*>(QStringLiteral("name"))->setText(QStringLiteral("Dave"));
                                 ask->findChild<QLineEdit*>(QStringLiteral("address"))->setText(QStringLiteral("dave@example.org"));
                                 ask->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
                               });
                           EXPECT_TRUE(asked);
                           Select(list, {QStringLiteral("alice")});
                           Click(book, "addTo");
                           Select(list, {QStringLiteral("Dave")});
                           Click(book, "addCc");
                           book->accept();
                         }));
  EXPECT_EQ(entries, (QStringList{QStringLiteral("alice"), QStringLiteral("bob"), QStringLiteral("Carol Ops")}));
  EXPECT_TRUE(m_messages.empty()) << m_messages.front().toStdString();
  EXPECT_EQ(dialog.ToEdit()->text().toStdString(), "alice");
  EXPECT_EQ(dialog.CcEdit()->text().toStdString(), "Dave");
  EXPECT_STREQ(dialog.GetMailSettings().MailTo, "alice");
  EXPECT_EQ(dialog.GetMailSettings().MailToCount, 1);
  EXPECT_EQ(dialog.GetMailSettings().MailCCCount, 1);
  std::stringstream text;
  text << std::ifstream(m_book).rdbuf();
  EXPECT_NE(text.str().find("FN:Dave\r\n"), std::string::npos);
  EXPECT_NE(text.str().find("FN:Carol Ops\r\n"), std::string::npos);
}

TEST_F(MailViewTest, FailuresShowOneMessageAndKeepTheValues) {
  CMailReportDlg dialog(Block("alice", "bob", "Profile"));
  const auto unchanged = [&] {
    EXPECT_EQ(dialog.ToEdit()->text().toStdString(), "alice");
    EXPECT_EQ(dialog.CcEdit()->text().toStdString(), "bob");
  };
  {  // No library.
    ScopedEnv library("VORNAL_MAPI_LIBRARY", "NoSuchMail.DLL");
    dialog.ToBookButton()->click();
    EXPECT_EQ(m_messages, std::vector<QString>{QStringLiteral("Loading MAPI DLL")});
    unchanged();
  }
  {  // A library without every entry point.
    m_messages.clear();
    ScopedEnv library("VORNAL_MAPI_LIBRARY", "MAPI32Partial.DLL");
    dialog.ToBookButton()->click();
    EXPECT_EQ(m_messages, std::vector<QString>{QStringLiteral("Loading MAPI DLL")});
  }
  {  // A book that cannot be read: the logon with the profile fails.
    m_messages.clear();
    const QString folder = m_dir.filePath(QStringLiteral("folder.vcf"));
    ASSERT_TRUE(QDir().mkpath(folder));
    ScopedEnv book("VORNAL_ADDRESS_BOOK", folder.toStdString());
    dialog.ToBookButton()->click();
    EXPECT_EQ(m_messages, std::vector<QString>{QStringLiteral("There was no default sign-in.")});
    unchanged();
    // Without a profile there is no logon: the address book itself fails, with one message.
    m_messages.clear();
    dialog.ProfileEdit()->clear();
    dialog.ToBookButton()->click();
    EXPECT_EQ(m_messages,
              std::vector<QString>{QStringLiteral("Unspecified error(s) occurred while addressing the mail.")});
    unchanged();
  }
  {  // Names longer together than a list holds.
    m_messages.clear();
    const std::string a(130, 'a'), b(130, 'b');
    std::ofstream(m_book) << "BEGIN:VCARD\r\nFN:" << a << "\r\nEMAIL:a@example.org\r\nEND:VCARD\r\n"
                          << "BEGIN:VCARD\r\nFN:" << b << "\r\nEMAIL:b@example.org\r\nEND:VCARD\r\n";
    ASSERT_TRUE(WithWindow(QStringLiteral("MapiAddressDialog"), [&] { dialog.ToBookButton()->click(); },
                           [&](QDialog* book) {
                             Select(book->findChild<QListWidget*>(QStringLiteral("entries")),
                                    {QString::fromStdString(a), QString::fromStdString(b)});
                             Click(book, "addTo");
                             book->accept();
                           }));
    ASSERT_EQ(m_messages.size(), 1u);
    EXPECT_EQ(m_messages.front().toStdString(), vn::console::kRecipientsTooLongText);
    unchanged();
  }
}

}  // namespace
