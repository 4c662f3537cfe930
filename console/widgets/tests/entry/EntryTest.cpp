// The module's entry points as a host drives them: flags read from and written
// to the host's profile, the graph template, Getting Started help, and what the
// module shows of itself to the programs that load it.
#include <dlfcn.h>

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QMdiArea>
#include <QPointer>
#include <QSettings>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <memory>
#include <string>
#include <vector>

#include "console/widgets/entry/KSEntry.h"
#include "console/widgets/graphs/GraphDoc.h"
#include "console/widgets/graphs/GraphView.h"
#include "console/widgets/support/KSMDIChildWnd.h"
#include "platform/machine/Profile.h"
#include "testing/TempMachineHome.h"
#include "ui/DynLinkLibrary.h"
#include "ui/HelpWindow.h"
#include "ui/MDIFrameWnd.h"
#include "ui/MultiDocTemplate.h"
#include "ui/WinApp.h"

namespace {

struct ProfileCall {
  std::string section;
  std::string entry;
  int value;  // the default for a read, the value for a write
  bool operator==(const ProfileCall&) const = default;
};

std::ostream& operator<<(std::ostream& os, const ProfileCall& c) {
  return os << c.section << "/" << c.entry << "=" << c.value;
}

// The host's application object, noting every profile call the module makes.
class CRecordingApp : public CWinApp {
 public:
  CRecordingApp() : CWinApp(QStringLiteral("VNMgr")) { m_strHelpFilePath = QStringLiteral("VN4.hlp"); }

  UINT GetProfileInt(LPCSTR lpszSection, LPCSTR lpszEntry, int nDefault) override {
    m_reads.push_back({lpszSection, lpszEntry, nDefault});
    return CWinApp::GetProfileInt(lpszSection, lpszEntry, nDefault);
  }
  BOOL WriteProfileInt(LPCSTR lpszSection, LPCSTR lpszEntry, int nValue) override {
    m_writes.push_back({lpszSection, lpszEntry, nValue});
    return CWinApp::WriteProfileInt(lpszSection, lpszEntry, nValue);
  }

  std::vector<ProfileCall> m_reads;
  std::vector<ProfileCall> m_writes;
};

class EntryTest : public ::testing::Test {
 protected:
  ~EntryTest() override {
    m_mainFrame.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    m_app.reset();
  }

  // The profile file as another program would read it.
  std::unique_ptr<QSettings> Profile() const {
    return std::make_unique<QSettings>(vn::ProfilePath(), QSettings::IniFormat);
  }

  void ShowMainFrame() {
    m_mainFrame = std::make_unique<CMDIFrameWnd>();
    m_app->m_pMainWnd = m_mainFrame.get();
    m_mainFrame->show();
  }

  vn::testing::TempMachineHome m_home;
  std::unique_ptr<CRecordingApp> m_app = std::make_unique<CRecordingApp>();
  std::unique_ptr<CMDIFrameWnd> m_mainFrame;
};

TEST_F(EntryTest, FirstRunReadsDefaultsAndWritesBackOnlyTwoFlags) {
  bKSConfirm = 0;
  bVNPopupWizard = 0;
  InitializeKSDLL();
  EXPECT_EQ(bKSConfirm, 1);
  EXPECT_EQ(bVNPopupWizard, 1);
  const std::vector<ProfileCall> reads = {
      {"Management", "Confirm_Delete", 1},
      {"VNMgr", "ShowReportInfo", 1},
      {"VNMgr", "VNWIZARD_POPUP", 1},
  };
  EXPECT_EQ(m_app->m_reads, reads);
  EXPECT_TRUE(m_app->m_writes.empty());

  TerminateKSDLL();
  const std::vector<ProfileCall> writes = {
      {"VNMgr", "ShowReportInfo", 1},
      {"VNMgr", "VNWIZARD_POPUP", 1},
  };
  EXPECT_EQ(m_app->m_writes, writes);

  const auto profile = Profile();
  EXPECT_EQ(profile->value(QStringLiteral("VNMgr/ShowReportInfo")).toInt(), 1);
  EXPECT_EQ(profile->value(QStringLiteral("VNMgr/VNWIZARD_POPUP")).toInt(), 1);
  profile->beginGroup(QStringLiteral("Management"));
  EXPECT_TRUE(profile->childKeys().isEmpty());
}

TEST_F(EntryTest, HandSetValuesHoldForTheRunAndTheRunsValuesAreWrittenBack) {
  {
    const auto profile = Profile();
    profile->setValue(QStringLiteral("Management/Confirm_Delete"), 0);
    profile->setValue(QStringLiteral("VNMgr/ShowReportInfo"), 0);
    profile->setValue(QStringLiteral("VNMgr/VNWIZARD_POPUP"), 0);
  }
  InitializeKSDLL();
  EXPECT_EQ(bKSConfirm, 0);
  EXPECT_EQ(bVNPopupWizard, 0);

  // During the run: the host turns the wizard back on, something turns
  // confirmation on in memory, and another program rewrites the profile.
  bVNPopupWizard = 1;
  bKSConfirm = 1;
  Profile()->setValue(QStringLiteral("VNMgr/ShowReportInfo"), 7);

  TerminateKSDLL();
  const auto profile = Profile();
  EXPECT_EQ(profile->value(QStringLiteral("Management/Confirm_Delete")).toInt(), 0);
  EXPECT_EQ(profile->value(QStringLiteral("VNMgr/VNWIZARD_POPUP")).toInt(), 1);
  EXPECT_EQ(profile->value(QStringLiteral("VNMgr/ShowReportInfo")).toInt(), 0);  // the run's value
}

TEST_F(EntryTest, GraphTemplateOpensChartFilesInModuleWindows) {
  ShowMainFrame();
  m_app->m_strHelpFilePath = QStringLiteral("/usr/share/vornal/help/VNMgr.hlp");
  InitializeKSDLL();

  ASSERT_NE(pGraphDocTemplate, nullptr);
  EXPECT_EQ(m_app->GetDocTemplates(), std::vector<CDocTemplate*>{pGraphDocTemplate});
  EXPECT_EQ(pGraphDocTemplate->GetResourceId(), 404u);
  EXPECT_EQ(pGraphDocTemplate->GetDocClass(), RUNTIME_CLASS(CGraphDoc));
  EXPECT_EQ(pGraphDocTemplate->GetFrameClass(), RUNTIME_CLASS(CKSMDIChildWnd));
  EXPECT_EQ(pGraphDocTemplate->GetViewClass(), RUNTIME_CLASS(CGraphView));
  QString field;
  EXPECT_FALSE(pGraphDocTemplate->GetDocString(field, CDocTemplate::windowTitle));
  EXPECT_TRUE(pGraphDocTemplate->GetDocString(field, CDocTemplate::docName));
  EXPECT_EQ(field, QStringLiteral("Graph"));
  EXPECT_TRUE(pGraphDocTemplate->GetDocString(field, CDocTemplate::fileNewName));
  EXPECT_EQ(field, QStringLiteral("Graph"));
  // The host's own templates find their strings through the chain as well.
  EXPECT_TRUE(AfxLoadString(401, field));
  EXPECT_TRUE(field.startsWith(QStringLiteral("\nVornal Report\nVNReport\n")));

  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("chart.dat"));
  {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  }
  CDocument* pDoc = pGraphDocTemplate->OpenDocumentFile(path);
  ASSERT_NE(dynamic_cast<CGraphDoc*>(pDoc), nullptr);
  EXPECT_EQ(pDoc->GetPathName(), path);
  ASSERT_EQ(pDoc->GetViews().size(), 1u);
  EXPECT_NE(dynamic_cast<CGraphView*>(pDoc->GetViews().front()), nullptr);
  QPointer<CKSMDIChildWnd> pFrame = dynamic_cast<CKSMDIChildWnd*>(pDoc->GetViews().front()->GetParentFrame());
  ASSERT_FALSE(pFrame.isNull());
  EXPECT_TRUE(pFrame->isVisible());
  EXPECT_EQ(m_mainFrame->MDIGetActive(), pFrame.data());

  // While the graph window is active, help is the module's help file.
  EXPECT_EQ(m_app->m_strHelpFilePath, QStringLiteral("/usr/share/vornal/help/VN4.hlp"));
  pFrame->close();
  EXPECT_EQ(m_app->m_strHelpFilePath, QStringLiteral("/usr/share/vornal/help/VNMgr.hlp"));
  EXPECT_TRUE(pGraphDocTemplate->GetDocuments().empty());
}

TEST_F(EntryTest, GettingStartedOpensItsHelpPage) {
  InitializeKSDLL();
  KSGettingStarted();
  CHelpWindow* pHelp = m_app->GetHelpWindow();
  ASSERT_NE(pHelp, nullptr);
  EXPECT_TRUE(pHelp->isVisible());
  EXPECT_EQ(pHelp->CurrentPage(), QUrl(QStringLiteral("qrc:/help/VN4/GettingStarted.html")));
  EXPECT_EQ(pHelp->windowTitle(), QStringLiteral("Getting Started"));
  EXPECT_TRUE(pHelp->Browser()->toPlainText().contains(QStringLiteral("Preferred Machines")));

  // The contents of the same help file are one command away.
  m_app->WinHelp(0, HELP_FINDER);
  EXPECT_EQ(m_app->GetHelpWindow(), pHelp);
  EXPECT_EQ(pHelp->windowTitle(), QStringLiteral("Vornal Help"));
}

TEST(ModuleExportsTest, OnlyTheEntryPointsGlobalsAndWindowClassesAreVisible) {
  for (const char* name : {"InitializeKSDLL", "TerminateKSDLL", "KSGettingStarted", "ShowVNWizard", "bKSConfirm",
                           "bVNPopupWizard",
                           "pGraphDocTemplate", "pKSRptDocTemplate", "_ZN9CGraphDoc12CreateObjectEv",
                           "_ZN14CKSMDIChildWnd19classCKSMDIChildWndE"})
    EXPECT_NE(dlsym(RTLD_DEFAULT, name), nullptr) << name;
  // Run-wide state of the module's own, its extension record, and the core
  // library linked into it stay inside.
  for (const char* name : {"bShowReportInfo", "KSDLL", "_ZN2vn7console12KSLoadStringEj",
                           "_ZN2vn7console15InitGridLibraryEv", "_ZN2vn5chart7VNChart12SetChartTypeENS0_11VNChartTypeE"})
    EXPECT_EQ(dlsym(RTLD_DEFAULT, name), nullptr) << name;
}

}  // namespace
