#include "ui/WinApp.h"

#include <algorithm>

#include <QWidget>

#include "platform/machine/Profile.h"
#include "ui/CommandIds.h"
#include "ui/DocTemplate.h"
#include "ui/DynLinkLibrary.h"
#include "ui/HelpContext.h"
#include "ui/HelpFileInfo.h"
#include "ui/HelpWindow.h"
#include "ui/MessageBox.h"

IMPLEMENT_DYNAMIC(CWinApp, CCmdTarget)

namespace {

CWinApp* g_pApp = nullptr;

}  // namespace

CWinApp* AfxGetApp() { return g_pApp; }

QWidget* AfxGetMainWnd() { return g_pApp ? g_pApp->m_pMainWnd : nullptr; }

CWinApp::CWinApp(const QString& strProfileName)
    : m_strAppName(strProfileName), m_strProfileName(strProfileName) {
  g_pApp = this;
  vn::SetProfileApplication(strProfileName);
  MapCommand(ID_APP_EXIT, &CWinApp::OnAppExit);
  MapCommand(ID_HELP_FINDER, &CWinApp::OnHelpFinder);
  MapCommand(ID_HELP_INDEX, &CWinApp::OnHelpFinder);
  AfxInstallHelpKey();
}

CWinApp::~CWinApp() {
  if (g_pApp == this) AfxRemoveHelpKey();
  m_pHelpWindow.reset();
  m_templates.clear();
  // Each library leaves the chain as it goes.
  while (!m_libraries.empty()) delete m_libraries.back();
  if (g_pApp == this) g_pApp = nullptr;
}

BOOL CWinApp::InitInstance() { return TRUE; }

int CWinApp::ExitInstance() { return 0; }

void CWinApp::AddDocTemplate(CDocTemplate* pTemplate) {
  if (pTemplate) m_templates.emplace_back(pTemplate);
}

std::vector<CDocTemplate*> CWinApp::GetDocTemplates() const {
  std::vector<CDocTemplate*> templates;
  for (const auto& pTemplate : m_templates) templates.push_back(pTemplate.get());
  return templates;
}

void CWinApp::CloseAllDocuments(BOOL bEndSession) {
  for (const auto& pTemplate : m_templates) pTemplate->CloseAllDocuments(bEndSession);
}

BOOL CWinApp::SaveAllModified() {
  return std::all_of(m_templates.begin(), m_templates.end(),
                     [](const auto& pTemplate) { return pTemplate->SaveAllModified() != FALSE; })
             ? TRUE
             : FALSE;
}

UINT CWinApp::GetProfileInt(LPCSTR lpszSection, LPCSTR lpszEntry, int nDefault) {
  return ::GetProfileInt(lpszSection, lpszEntry, nDefault);
}

BOOL CWinApp::WriteProfileInt(LPCSTR lpszSection, LPCSTR lpszEntry, int nValue) {
  return ::WriteProfileInt(lpszSection, lpszEntry, nValue);
}

QString CWinApp::GetProfileString(LPCSTR lpszSection, LPCSTR lpszEntry, const QString& lpszDefault) {
  return ::GetProfileString(lpszSection, lpszEntry, lpszDefault);
}

BOOL CWinApp::WriteProfileString(LPCSTR lpszSection, LPCSTR lpszEntry, const QString& lpszValue) {
  return ::WriteProfileString(lpszSection, lpszEntry, lpszValue);
}

void CWinApp::WinHelp(DWORD dwData, UINT nCmd) {
  if (nCmd == HELP_QUIT) {
    if (m_pHelpWindow) m_pHelpWindow->close();
    return;
  }
  const HelpFileInfo* pHelp = AfxFindHelpFile(m_strHelpFilePath);
  if (!pHelp) {
    AfxMessageBox(QStringLiteral("The help file %1 is not installed.").arg(m_strHelpFilePath),
                  MB_OK | MB_ICONEXCLAMATION);
    return;
  }
  QUrl page;
  if (nCmd == HELP_CONTEXT)
    page = pHelp->FindTopic(dwData);
  else if (nCmd == HELP_FINDER || nCmd == HELP_CONTENTS)
    page = pHelp->ContentsPage();
  if (page.isEmpty()) {
    AfxMessageBox(QStringLiteral("There is no help topic for this item (help context %1).").arg(dwData),
                  MB_OK | MB_ICONEXCLAMATION);
    return;
  }
  if (!m_pHelpWindow) m_pHelpWindow = std::make_unique<CHelpWindow>();
  m_pHelpWindow->SetContentsPage(pHelp->ContentsPage());
  m_pHelpWindow->ShowPage(page);
}

void CWinApp::AddLibrary(CDynLinkLibrary* pLibrary) { m_libraries.push_back(pLibrary); }

void CWinApp::RemoveLibrary(CDynLinkLibrary* pLibrary) {
  m_libraries.erase(std::remove(m_libraries.begin(), m_libraries.end(), pLibrary), m_libraries.end());
}

void CWinApp::OnAppExit() {
  if (m_pMainWnd) m_pMainWnd->close();
}

void CWinApp::OnHelpFinder() { WinHelp(0, HELP_FINDER); }
