#pragma once
// Test classes for the document/view layer: a document, a view and a main frame
// that record what reaches them, a string table with one document string, and
// a fixture with an application object, a shown main frame and a template.

#include <gtest/gtest.h>

#include <QString>
#include <memory>
#include <vector>

#include "testing/TempMachineHome.h"
#include "ui/Document.h"
#include "ui/DynLinkLibrary.h"
#include "ui/ExtensionModule.h"
#include "ui/MDIFrameWnd.h"
#include "ui/MultiDocTemplate.h"
#include "ui/View.h"
#include "ui/WinApp.h"

namespace vn::ui::testing {

inline constexpr UINT IDR_TESTTYPE = 500;
// Commands of the routing tests.
inline constexpr UINT ID_TEST_SHARED = 0x9000;    // view and main frame handle it
inline constexpr UINT ID_TEST_DOCUMENT = 0x9001;  // the document handles it
inline constexpr UINT ID_TEST_FRAME = 0x9002;     // the main frame handles it
inline constexpr UINT ID_TEST_APP = 0x9003;       // the application handles it
inline constexpr UINT ID_TEST_NOBODY = 0x9004;    // nobody handles it
inline constexpr UINT ID_TEST_BLOCKED = 0x9005;   // handled, but its update handler disables it

// The module record of the tests' string table.
AFX_EXTENSION_MODULE& TestModule();

class CTestDoc : public CDocument {
  DECLARE_DYNCREATE(CTestDoc)

 public:
  CTestDoc();
  ~CTestDoc() override;

  static int s_nAlive;
  int m_nCommands = 0;

 private:
  void OnDocumentCommand();
};

class CTestView : public CView {
  DECLARE_DYNCREATE(CTestView)

 public:
  struct Update {
    CView* pSender;
    LPARAM lHint;
    CObject* pHint;
  };

  CTestView();
  void OnInitialUpdate() override;
  void OnUpdate(CView* pSender, LPARAM lHint, CObject* pHint) override;

  int m_nInitialUpdates = 0;
  std::vector<Update> m_updates;
  int m_nSharedCommands = 0;

 private:
  void OnShared();
};

class CTestMainFrame : public CMDIFrameWnd {
 public:
  CTestMainFrame();

  int m_nSharedCommands = 0;
  int m_nFrameCommands = 0;
  int m_nBlockedCommands = 0;

 private:
  void OnShared() { ++m_nSharedCommands; }
  void OnFrame() { ++m_nFrameCommands; }
  void OnBlocked() { ++m_nBlockedCommands; }
  void OnUpdateBlocked(CCmdUI* pCmdUI);
};

class CTestApp : public CWinApp {
 public:
  CTestApp();
  int m_nAppCommands = 0;

 private:
  void OnApp() { ++m_nAppCommands; }
};

// An application with the tests' string table joined, a shown main frame and
// a multi-document template of CTestDoc / CMDIChildWnd / CTestView.
class DocViewTest : public ::testing::Test {
 protected:
  DocViewTest();
  ~DocViewTest() override;

  // Runs deferred deletions (closed frames delete themselves later).
  static void FlushDeletes();

  vn::testing::TempMachineHome m_home;
  std::unique_ptr<CTestApp> m_app;
  std::unique_ptr<CTestMainFrame> m_mainFrame;
  CMultiDocTemplate* m_template;
};

}  // namespace vn::ui::testing
