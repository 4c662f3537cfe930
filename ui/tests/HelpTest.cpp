// Help by context number through the resource chain, the reused help window,
// and message boxes answered by a hook or by a (simulated) person.
#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>
#include <string>

#include "ui/HelpFileInfo.h"
#include "ui/HelpWindow.h"
#include "ui/MessageBox.h"
#include "ui/tests/UiTestSupport.h"

namespace vn::ui::testing {
namespace {

constexpr DWORD kFirstContext = 0x10001;
constexpr DWORD kSecondContext = 0x10002;
constexpr HelpTopic kTopics[] = {{kFirstContext, "first.html"}, {kSecondContext, "sub/second.html"}};

class HelpTest : public ::testing::Test {
 protected:
  HelpTest() {
    WritePage(QStringLiteral("contents.html"),
              "<html><head><title>Test Help</title></head><body><a href=\"first.html\">First</a></body></html>");
    WritePage(QStringLiteral("first.html"), "<html><head><title>First Topic</title></head><body>one</body></html>");
    QDir(m_dir.path()).mkpath(QStringLiteral("sub"));
    WritePage(QStringLiteral("sub/second.html"),
              "<html><head><title>Second Topic</title></head><body>two</body></html>");
    m_folderUrl = QUrl::fromLocalFile(m_dir.path() + QLatin1Char('/')).toString().toStdString();
    m_help = {"Test.hlp", m_folderUrl.c_str(), "contents.html", kTopics};
    m_module = {FALSE, nullptr, nullptr, nullptr, &m_help};
    AfxInitExtensionModule(m_module, "HelpTest");
    new CDynLinkLibrary(m_module);
    m_app.m_strHelpFilePath = QStringLiteral("Test.hlp");
    m_previousHook = AfxSetMessageBoxHook([this](const QString& text, UINT) {
      m_messages << text;
      return IDOK;
    });
  }
  ~HelpTest() override { AfxSetMessageBoxHook(m_previousHook); }

  void WritePage(const QString& name, const char* html) {
    QFile file(m_dir.filePath(name));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(html);
  }
  QUrl Page(const char* name) const {
    return QUrl(QString::fromStdString(m_folderUrl)).resolved(QUrl(QString::fromUtf8(name)));
  }

  vn::testing::TempMachineHome m_home;
  CTestApp m_app;
  QTemporaryDir m_dir;
  std::string m_folderUrl;
  HelpFileInfo m_help{};
  AFX_EXTENSION_MODULE m_module{};
  MessageBoxHook m_previousHook;
  QStringList m_messages;
};

TEST_F(HelpTest, ContextsOpenTheirPagesInOneReusedWindow) {
  EXPECT_EQ(m_app.GetHelpWindow(), nullptr);
  m_app.WinHelp(kFirstContext, HELP_CONTEXT);
  CHelpWindow* pWindow = m_app.GetHelpWindow();
  ASSERT_NE(pWindow, nullptr);
  EXPECT_TRUE(pWindow->isVisible());
  EXPECT_EQ(pWindow->CurrentPage(), Page("first.html"));
  EXPECT_EQ(pWindow->windowTitle(), QStringLiteral("First Topic"));

  m_app.WinHelp(kSecondContext, HELP_CONTEXT);
  EXPECT_EQ(m_app.GetHelpWindow(), pWindow);
  EXPECT_EQ(pWindow->CurrentPage(), Page("sub/second.html"));
  EXPECT_EQ(pWindow->windowTitle(), QStringLiteral("Second Topic"));

  m_app.WinHelp(0, HELP_FINDER);
  EXPECT_EQ(pWindow->CurrentPage(), Page("contents.html"));
  m_app.WinHelp(0, HELP_QUIT);
  EXPECT_FALSE(pWindow->isVisible());
  // Closed is not gone: asking again brings the same window back.
  m_app.WinHelp(kFirstContext, HELP_CONTEXT);
  EXPECT_EQ(m_app.GetHelpWindow(), pWindow);
  EXPECT_TRUE(pWindow->isVisible());
  EXPECT_TRUE(m_messages.isEmpty());
}

TEST_F(HelpTest, LinksBetweenPagesAreFollowed) {
  m_app.WinHelp(0, HELP_CONTENTS);
  QTextBrowser* pBrowser = m_app.GetHelpWindow()->Browser();
  pBrowser->setFocus();
  QTest::keyClick(pBrowser, Qt::Key_Tab);
  QTest::keyClick(pBrowser, Qt::Key_Return);
  EXPECT_EQ(m_app.GetHelpWindow()->CurrentPage(), Page("first.html"));
  EXPECT_EQ(m_app.GetHelpWindow()->windowTitle(), QStringLiteral("First Topic"));
}

TEST_F(HelpTest, HelpFileIsFoundByItsNameInAnyFolderAndCase) {
  const struct {
    const char* helpPath;
    bool found;
  } cases[] = {
      {"Test.hlp", true},
      {"/opt/vornal/help/TEST.HLP", true},
      {"C:\\Vornal\\test.hlp", true},
      {"", true},  // no help path: the chain's first help file
      {"Other.hlp", false},
      {"/opt/Test.hlp/x", false},
  };
  for (const auto& c : cases) {
    m_messages.clear();
    m_app.m_strHelpFilePath = QString::fromUtf8(c.helpPath);
    m_app.WinHelp(kSecondContext, HELP_CONTEXT);
    EXPECT_EQ(m_messages.isEmpty(), c.found) << c.helpPath;
    if (c.found) {
      EXPECT_EQ(m_app.GetHelpWindow()->CurrentPage(), Page("sub/second.html")) << c.helpPath;
    }
  }
}

TEST_F(HelpTest, UnknownContextIsReportedWithoutAWindow) {
  m_app.WinHelp(12345, HELP_CONTEXT);
  EXPECT_EQ(m_app.GetHelpWindow(), nullptr);
  ASSERT_EQ(m_messages.size(), 1);
  EXPECT_TRUE(m_messages[0].contains(QStringLiteral("12345")));
}

// Answers the next message box that opens by pressing `key` on it, as a person
// would, and notes its buttons.
void AnswerNextBox(Qt::Key key, QStringList* pButtons) {
  QTimer::singleShot(0, [key, pButtons] {
    auto* pBox = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(pBox, nullptr);
    for (QAbstractButton* pButton : pBox->buttons()) *pButtons << pButton->text();
    QTest::keyClick(pBox, key);
  });
}

TEST(MessageBoxTest, ButtonsAndAnswers) {
  vn::testing::TempMachineHome home;
  CTestApp app;
  app.m_strAppName = QStringLiteral("Vornal");
  const struct {
    UINT type;
    Qt::Key key;
    int answer;
    int buttons;
  } cases[] = {
      {MB_OK, Qt::Key_Escape, IDOK, 1},
      {MB_OKCANCEL, Qt::Key_Escape, IDCANCEL, 2},
      {MB_OKCANCEL, Qt::Key_Return, IDOK, 2},
      {MB_YESNO | MB_ICONQUESTION, Qt::Key_Return, IDYES, 2},
      {MB_YESNO | MB_DEFBUTTON2, Qt::Key_Return, IDNO, 2},
      {MB_YESNOCANCEL | MB_DEFBUTTON3, Qt::Key_Return, IDCANCEL, 3},
      {MB_RETRYCANCEL | MB_ICONEXCLAMATION, Qt::Key_Return, IDRETRY, 2},
      {MB_ABORTRETRYIGNORE | MB_DEFBUTTON2, Qt::Key_Return, IDRETRY, 3},
  };
  for (const auto& c : cases) {
    QStringList buttons;
    AnswerNextBox(c.key, &buttons);
    EXPECT_EQ(AfxMessageBox(QStringLiteral("Delete report <x>?"), c.type), c.answer) << c.type;
    EXPECT_EQ(buttons.size(), c.buttons) << c.type;
  }

  // With a hook installed nothing is shown: the hook answers.
  UINT seenType = 0;
  const MessageBoxHook previous = AfxSetMessageBoxHook([&](const QString&, UINT nType) {
    seenType = nType;
    return IDNO;
  });
  EXPECT_EQ(AfxMessageBox(QStringLiteral("Sure?"), MB_YESNO), IDNO);
  EXPECT_EQ(seenType, MB_YESNO);
  AfxSetMessageBoxHook(previous);
}

}  // namespace
}  // namespace vn::ui::testing
