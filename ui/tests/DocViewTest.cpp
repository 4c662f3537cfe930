// Documents, views, frames and templates working together: what a console
// window's life depends on.
#include <QFile>
#include <QMdiArea>
#include <QPointer>
#include <QTemporaryDir>

#include "ui/MDIChildWnd.h"
#include "ui/MessageBox.h"
#include "ui/tests/UiTestSupport.h"

namespace vn::ui::testing {
namespace {

CTestView* OnlyView(CDocument* pDoc) {
  EXPECT_EQ(pDoc->GetViews().size(), 1u);
  return pDoc->GetViews().empty() ? nullptr : dynamic_cast<CTestView*>(pDoc->GetViews().front());
}

TEST(DocumentTest, UpdateAllViewsReachesEveryViewButTheSender) {
  CTestDoc doc;
  CTestView v1, v2, v3;
  doc.AddView(&v1);
  doc.AddView(&v2);
  doc.AddView(&v3);
  CTestDoc hint;

  doc.UpdateAllViews(&v2, 42, &hint);
  EXPECT_TRUE(v2.m_updates.empty());
  for (CTestView* v : {&v1, &v3}) {
    ASSERT_EQ(v->m_updates.size(), 1u);
    EXPECT_EQ(v->m_updates[0].pSender, &v2);
    EXPECT_EQ(v->m_updates[0].lHint, 42);
    EXPECT_EQ(v->m_updates[0].pHint, &hint);
  }

  // Without a sender every view hears it; a view that left hears nothing.
  doc.RemoveView(&v3);
  doc.UpdateAllViews(nullptr);
  EXPECT_EQ(v1.m_updates.size(), 2u);
  EXPECT_EQ(v2.m_updates.size(), 1u);
  EXPECT_EQ(v3.m_updates.size(), 1u);
  EXPECT_EQ(v3.GetDocument(), nullptr);
}

TEST(DocumentTest, ViewsAndDocumentSurviveEitherDyingFirst) {
  auto doc = std::make_unique<CTestDoc>();
  auto view = std::make_unique<CTestView>();
  doc->AddView(view.get());
  doc.reset();  // a document without a template belongs to its maker
  EXPECT_EQ(view->GetDocument(), nullptr);
  view.reset();  // and the view no longer reaches for it

  CTestDoc doc2;
  {
    CTestView v;
    doc2.AddView(&v);
  }
  EXPECT_TRUE(doc2.GetViews().empty());
}

TEST_F(DocViewTest, OpeningNewDocumentsMakesAVisibleWindowEach) {
  const int alive = CTestDoc::s_nAlive;
  CDocument* pDoc1 = m_template->OpenDocumentFile(QString());
  CDocument* pDoc2 = m_template->OpenDocumentFile(QString());
  ASSERT_NE(pDoc1, nullptr);
  ASSERT_NE(pDoc2, nullptr);
  EXPECT_NE(pDoc1, pDoc2);
  EXPECT_EQ(CTestDoc::s_nAlive, alive + 2);
  EXPECT_EQ(m_template->GetDocuments(), (std::vector<CDocument*>{pDoc1, pDoc2}));
  EXPECT_EQ(pDoc1->GetDocTemplate(), m_template);
  EXPECT_EQ(pDoc1->GetTitle(), QStringLiteral("Test1"));
  EXPECT_EQ(pDoc2->GetTitle(), QStringLiteral("Test2"));

  for (CDocument* pDoc : {pDoc1, pDoc2}) {
    CTestView* pView = OnlyView(pDoc);
    ASSERT_NE(pView, nullptr);
    EXPECT_EQ(pView->GetDocument(), pDoc);
    EXPECT_EQ(pView->m_nInitialUpdates, 1);
    CMDIChildWnd* pFrame = pView->GetParentFrame();
    ASSERT_NE(pFrame, nullptr);
    EXPECT_EQ(pFrame->GetActiveView(), pView);
    EXPECT_EQ(pFrame->mdiArea(), m_mainFrame->GetMDIClient());
    EXPECT_TRUE(pFrame->isVisible());
    EXPECT_EQ(pFrame->windowTitle(), pDoc->GetTitle());
  }
  EXPECT_EQ(m_mainFrame->GetActiveDocument(), pDoc2);
  EXPECT_EQ(m_mainFrame->GetMDIClient()->subWindowList().size(), 2);

  // A retitled document retitles its window.
  pDoc1->SetTitle(QStringLiteral("Renamed"));
  EXPECT_EQ(OnlyView(pDoc1)->GetParentFrame()->windowTitle(), QStringLiteral("Renamed"));
}

TEST_F(DocViewTest, InvisibleWindowStaysHiddenWhenTheMainFrameShowsAgain) {
  m_mainFrame->hide();
  CDocument* pDoc = m_template->OpenDocumentFile(QString(), FALSE);
  ASSERT_NE(pDoc, nullptr);
  m_mainFrame->show();
  EXPECT_FALSE(OnlyView(pDoc)->GetParentFrame()->isVisible());
}

TEST_F(DocViewTest, OpeningAFileNamesTheDocumentAfterIt) {
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("result.tst"));
  {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  }
  CDocument* pDoc = m_template->OpenDocumentFile(path);
  ASSERT_NE(pDoc, nullptr);
  EXPECT_EQ(pDoc->GetPathName(), path);
  EXPECT_EQ(pDoc->GetTitle(), QStringLiteral("result.tst"));
  EXPECT_EQ(OnlyView(pDoc)->GetParentFrame()->windowTitle(), QStringLiteral("result.tst"));
}

TEST_F(DocViewTest, AFileThatCannotBeOpenedLeavesNoWindowBehind) {
  const int alive = CTestDoc::s_nAlive;
  QStringList messages;
  const MessageBoxHook previous = AfxSetMessageBoxHook([&](const QString& text, UINT) {
    messages << text;
    return IDOK;
  });
  CDocument* pDoc = m_template->OpenDocumentFile(QStringLiteral("/nonexistent/missing.tst"));
  AfxSetMessageBoxHook(previous);
  FlushDeletes();

  EXPECT_EQ(pDoc, nullptr);
  ASSERT_EQ(messages.size(), 1);
  EXPECT_TRUE(messages[0].contains(QStringLiteral("/nonexistent/missing.tst")));
  EXPECT_TRUE(m_template->GetDocuments().empty());
  EXPECT_EQ(CTestDoc::s_nAlive, alive);
  EXPECT_TRUE(m_mainFrame->GetMDIClient()->subWindowList().isEmpty());
}

TEST_F(DocViewTest, ClosingTheLastFrameOfADocumentDestroysIt) {
  const int alive = CTestDoc::s_nAlive;
  CDocument* pDoc = m_template->OpenDocumentFile(QString());
  ASSERT_NE(pDoc, nullptr);
  QPointer<CMDIChildWnd> first = OnlyView(pDoc)->GetParentFrame();

  // A second window on the same document.
  QPointer<CMDIChildWnd> second = m_template->CreateNewFrame(pDoc);
  ASSERT_NE(second, nullptr);
  m_template->InitialUpdateFrame(second, pDoc, TRUE);
  ASSERT_EQ(pDoc->GetViews().size(), 2u);
  QPointer<CView> secondView = second->GetActiveView();

  // Closing one of the two leaves the document with the other.
  EXPECT_TRUE(first->close());
  FlushDeletes();
  EXPECT_TRUE(first.isNull());
  EXPECT_EQ(m_template->GetDocuments(), std::vector<CDocument*>{pDoc});
  EXPECT_EQ(pDoc->GetViews(), std::vector<CView*>{secondView.data()});

  // Closing the last closes the document and destroys it at once.
  EXPECT_TRUE(second->close());
  EXPECT_TRUE(m_template->GetDocuments().empty());
  EXPECT_EQ(CTestDoc::s_nAlive, alive);
  EXPECT_EQ(secondView->GetDocument(), nullptr);
  FlushDeletes();
  EXPECT_TRUE(second.isNull());
  EXPECT_TRUE(secondView.isNull());
}

TEST_F(DocViewTest, ClosingADocumentClosesAllItsWindows) {
  CDocument* pDoc = m_template->OpenDocumentFile(QString());
  ASSERT_NE(pDoc, nullptr);
  QPointer<CMDIChildWnd> first = OnlyView(pDoc)->GetParentFrame();
  QPointer<CMDIChildWnd> second = m_template->CreateNewFrame(pDoc);
  m_template->InitialUpdateFrame(second, pDoc, TRUE);
  QPointer<CMDIChildWnd> other = OnlyView(m_template->OpenDocumentFile(QString()))->GetParentFrame();

  m_app->CloseAllDocuments(FALSE);
  FlushDeletes();
  EXPECT_TRUE(first.isNull());
  EXPECT_TRUE(second.isNull());
  EXPECT_TRUE(other.isNull());
  EXPECT_TRUE(m_template->GetDocuments().empty());
}

TEST_F(DocViewTest, DestroyingTheMainFrameClosesTheDocuments) {
  const int alive = CTestDoc::s_nAlive;
  ASSERT_NE(m_template->OpenDocumentFile(QString()), nullptr);
  ASSERT_NE(m_template->OpenDocumentFile(QString()), nullptr);
  m_mainFrame.reset();
  m_app->m_pMainWnd = nullptr;
  EXPECT_TRUE(m_template->GetDocuments().empty());
  EXPECT_EQ(CTestDoc::s_nAlive, alive);
}

TEST_F(DocViewTest, DocumentStringFields) {
  const struct {
    CDocTemplate::DocStringIndex index;
    const char* text;
  } fields[] = {
      {CDocTemplate::windowTitle, ""},
      {CDocTemplate::docName, "Test"},
      {CDocTemplate::fileNewName, "Test"},
      {CDocTemplate::filterName, "Test Files (*.tst)"},
      {CDocTemplate::filterExt, "*.tst"},
      {CDocTemplate::regFileTypeId, "Test.Document"},
      {CDocTemplate::regFileTypeName, "Test Document"},
  };
  for (const auto& f : fields) {
    QString text = QStringLiteral("stale");
    const BOOL found = m_template->GetDocString(text, f.index);
    EXPECT_EQ(text, QString::fromUtf8(f.text)) << f.index;
    EXPECT_EQ(found, *f.text ? TRUE : FALSE) << f.index;
  }

  // A template whose string no module has gets no fields at all.
  CMultiDocTemplate unknown(4711, RUNTIME_CLASS(CTestDoc), RUNTIME_CLASS(CMDIChildWnd), RUNTIME_CLASS(CTestView));
  QString text;
  EXPECT_FALSE(unknown.GetDocString(text, CDocTemplate::docName));
  EXPECT_TRUE(text.isEmpty());
}

TEST(DocTemplateTest, ReadsItsDocumentStringOnceTheModuleHasJoined) {
  vn::testing::TempMachineHome home;
  CTestApp app;
  CMultiDocTemplate early(IDR_TESTTYPE, RUNTIME_CLASS(CTestDoc), RUNTIME_CLASS(CMDIChildWnd),
                          RUNTIME_CLASS(CTestView));
  QString name;
  EXPECT_FALSE(early.GetDocString(name, CDocTemplate::docName));
  AfxInitExtensionModule(TestModule(), "UiTest");
  new CDynLinkLibrary(TestModule());
  EXPECT_TRUE(early.GetDocString(name, CDocTemplate::docName));
  EXPECT_EQ(name, QStringLiteral("Test"));
}

std::string_view LoadFirst(UINT nID) { return nID == 500 ? "first" : ""; }
std::string_view LoadSecond(UINT nID) { return nID == 500 ? "second" : ""; }
bool SecondHas(UINT nID) { return nID == 500 || nID == 501; }  // 501 is an empty string
std::string_view LoadUnregistered(UINT nID) { return nID == 502 ? "unregistered" : ""; }

TEST(ResourceChainTest, StringsComeFromRegisteredModulesInJoinOrder) {
  vn::testing::TempMachineHome home;
  CTestApp app;
  AFX_EXTENSION_MODULE first = {FALSE, nullptr, &LoadFirst, nullptr, nullptr};
  AFX_EXTENSION_MODULE second = {FALSE, nullptr, &LoadSecond, &SecondHas, nullptr};
  AFX_EXTENSION_MODULE unregistered = {FALSE, nullptr, &LoadUnregistered, nullptr, nullptr};
  AfxInitExtensionModule(first, "First");
  AfxInitExtensionModule(second, "Second");
  new CDynLinkLibrary(first);
  auto secondLibrary = std::make_unique<CDynLinkLibrary>(second);
  auto unregisteredLibrary = std::make_unique<CDynLinkLibrary>(unregistered);

  QString text;
  EXPECT_TRUE(AfxLoadString(500, text));
  EXPECT_EQ(text, QStringLiteral("first"));
  text = QStringLiteral("stale");
  EXPECT_TRUE(AfxLoadString(501, text));
  EXPECT_TRUE(text.isEmpty());
  EXPECT_FALSE(AfxLoadString(502, text));

  // A library that goes leaves the chain.
  secondLibrary.reset();
  EXPECT_FALSE(AfxLoadString(501, text));
}

}  // namespace
}  // namespace vn::ui::testing
