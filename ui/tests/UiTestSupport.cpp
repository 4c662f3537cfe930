#include "ui/tests/UiTestSupport.h"

#include <QCoreApplication>
#include <QEvent>

#include "ui/CmdUI.h"
#include "ui/MDIChildWnd.h"

namespace vn::ui::testing {
namespace {

constexpr std::string_view kTestDocString = "\nTest\nTest\nTest Files (*.tst)\n*.tst\nTest.Document\nTest Document";

std::string_view LoadTestString(UINT nID) {
  return nID == IDR_TESTTYPE ? kTestDocString : std::string_view{};
}

AFX_EXTENSION_MODULE g_testModule = {FALSE, nullptr, &LoadTestString, nullptr, nullptr};

}  // namespace

AFX_EXTENSION_MODULE& TestModule() { return g_testModule; }

int CTestDoc::s_nAlive = 0;

IMPLEMENT_DYNCREATE(CTestDoc, CDocument)

CTestDoc::CTestDoc() {
  ++s_nAlive;
  MapCommand(ID_TEST_DOCUMENT, &CTestDoc::OnDocumentCommand);
}

CTestDoc::~CTestDoc() { --s_nAlive; }

void CTestDoc::OnDocumentCommand() { ++m_nCommands; }

IMPLEMENT_DYNCREATE(CTestView, CView)

CTestView::CTestView() { MapCommand(ID_TEST_SHARED, &CTestView::OnShared); }

void CTestView::OnInitialUpdate() {
  ++m_nInitialUpdates;
  CView::OnInitialUpdate();
}

void CTestView::OnUpdate(CView* pSender, LPARAM lHint, CObject* pHint) {
  m_updates.push_back({pSender, lHint, pHint});
}

void CTestView::OnShared() { ++m_nSharedCommands; }

CTestMainFrame::CTestMainFrame() {
  MapCommand(ID_TEST_SHARED, &CTestMainFrame::OnShared);
  MapCommand(ID_TEST_FRAME, &CTestMainFrame::OnFrame);
  MapCommand(ID_TEST_BLOCKED, &CTestMainFrame::OnBlocked);
  MapUpdateCommand(ID_TEST_BLOCKED, &CTestMainFrame::OnUpdateBlocked);
}

void CTestMainFrame::OnUpdateBlocked(CCmdUI* pCmdUI) { pCmdUI->Enable(FALSE); }

CTestApp::CTestApp() : CWinApp(QStringLiteral("UiTest")) { MapCommand(ID_TEST_APP, &CTestApp::OnApp); }

DocViewTest::DocViewTest() : m_app(std::make_unique<CTestApp>()), m_mainFrame(std::make_unique<CTestMainFrame>()) {
  AfxInitExtensionModule(TestModule(), "UiTest");
  new CDynLinkLibrary(TestModule());  // the application owns it
  m_app->m_pMainWnd = m_mainFrame.get();
  m_template = new CMultiDocTemplate(IDR_TESTTYPE, RUNTIME_CLASS(CTestDoc), RUNTIME_CLASS(CMDIChildWnd),
                                     RUNTIME_CLASS(CTestView));
  m_app->AddDocTemplate(m_template);
  m_mainFrame->show();
}

DocViewTest::~DocViewTest() {
  m_mainFrame.reset();
  FlushDeletes();
  m_app.reset();
}

void DocViewTest::FlushDeletes() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

}  // namespace vn::ui::testing
