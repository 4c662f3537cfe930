#pragma once
// The application object of a console host: one per process, reachable as
// AfxGetApp() from the moment it is constructed until it is destroyed. It is
// not the Qt application (the host makes that first) but the framework's view
// of the program: its name, its profile, its document templates, its main
// window, its resource chain and its help.
//
// Ownership: the application owns the templates added to it (and through them
// their documents), the libraries of its resource chain and the help window.
// The main window (m_pMainWnd) belongs to the host; the application only
// points at it.
//
// Profile calls go to the host profile of the application named at
// construction (see platform/machine/Profile.h); they are virtual so that a host or a
// test can watch them. User-interface thread only.

#include <QString>
#include <memory>
#include <vector>

#include "platform/core/Win32Types.h"
#include "ui/CmdTarget.h"

class CDocTemplate;
class CDynLinkLibrary;
class CHelpWindow;
class QWidget;

// WinHelp commands.
inline constexpr UINT HELP_CONTEXT = 0x0001;   // dwData is a help context number
inline constexpr UINT HELP_QUIT = 0x0002;      // close the help window
inline constexpr UINT HELP_INDEX = 0x0003;     // the contents page
inline constexpr UINT HELP_CONTENTS = 0x0003;  // the contents page
inline constexpr UINT HELP_FINDER = 0x000B;    // the contents page

class CWinApp : public CCmdTarget {
  DECLARE_DYNAMIC(CWinApp)

 public:
  // strProfileName names the profile (and is the default application name).
  explicit CWinApp(const QString& strProfileName);
  ~CWinApp() override;

  // The host's start-up and shutdown; the defaults do nothing (and return
  // TRUE / 0).
  [[nodiscard]] virtual BOOL InitInstance();
  [[nodiscard]] virtual int ExitInstance();

  // Takes ownership of pTemplate.
  void AddDocTemplate(CDocTemplate* pTemplate);
  std::vector<CDocTemplate*> GetDocTemplates() const;
  // Closes every document of every template.
  void CloseAllDocuments(BOOL bEndSession);
  [[nodiscard]] BOOL SaveAllModified();

  virtual UINT GetProfileInt(LPCSTR lpszSection, LPCSTR lpszEntry, int nDefault);
  [[nodiscard]] virtual BOOL WriteProfileInt(LPCSTR lpszSection, LPCSTR lpszEntry, int nValue);
  virtual QString GetProfileString(LPCSTR lpszSection, LPCSTR lpszEntry, const QString& lpszDefault = QString());
  [[nodiscard]] virtual BOOL WriteProfileString(LPCSTR lpszSection, LPCSTR lpszEntry, const QString& lpszValue);

  // Shows help: for HELP_CONTEXT the page of context dwData in the help file
  // named by m_strHelpFilePath; for HELP_FINDER / HELP_CONTENTS / HELP_INDEX
  // that file's contents page; HELP_QUIT closes the help window. A context
  // without a page, or a help file nobody registered, is reported in a message
  // box. The help window is made on first use and reused after.
  virtual void WinHelp(DWORD dwData, UINT nCmd = HELP_CONTEXT);
  // The help window, or null before help was first shown.
  CHelpWindow* GetHelpWindow() const { return m_pHelpWindow.get(); }

  // The resource chain (see CDynLinkLibrary).
  void AddLibrary(CDynLinkLibrary* pLibrary);
  void RemoveLibrary(CDynLinkLibrary* pLibrary);
  const std::vector<CDynLinkLibrary*>& GetLibraries() const { return m_libraries; }

  QString m_strAppName;       // titles of message boxes and windows
  QString m_strProfileName;   // the profile file's name
  QString m_strHelpFilePath;  // the help file WinHelp uses, e.g. "VN4.hlp"
  QWidget* m_pMainWnd = nullptr;

 protected:
  // ID_APP_EXIT: closes the main window.
  void OnAppExit();
  // ID_HELP_FINDER, ID_HELP_INDEX: the contents page.
  void OnHelpFinder();

 private:
  std::vector<std::unique_ptr<CDocTemplate>> m_templates;
  std::vector<CDynLinkLibrary*> m_libraries;  // owned; see CDynLinkLibrary
  std::unique_ptr<CHelpWindow> m_pHelpWindow;
};

// The application object, or null when there is none.
CWinApp* AfxGetApp();
// The application's main window, or null.
QWidget* AfxGetMainWnd();
