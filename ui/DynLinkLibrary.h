#pragma once
// A module's place in the application's resource chain. Constructing one joins
// the module's record (see ExtensionModule.h) to the chain of the current
// application object; from then on AfxLoadString finds the module's strings
// and the application's help finds the module's help file.
//
// Ownership: the application owns the libraries of its chain and destroys them
// with itself, so `new CDynLinkLibrary(state)` hands the object over. Destroying
// one earlier takes it out of the chain. A library made while there is no
// application object, or for a module that was never registered
// (AfxInitExtensionModule), is in no chain, and its maker owns it.
// User-interface thread only.

#include <QString>

#include "platform/core/Win32Types.h"

struct AFX_EXTENSION_MODULE;
struct HelpFileInfo;

class CDynLinkLibrary {
 public:
  explicit CDynLinkLibrary(AFX_EXTENSION_MODULE& state);
  ~CDynLinkLibrary();
  CDynLinkLibrary(const CDynLinkLibrary&) = delete;
  CDynLinkLibrary& operator=(const CDynLinkLibrary&) = delete;

  const AFX_EXTENSION_MODULE& GetModule() const { return m_state; }

 private:
  AFX_EXTENSION_MODULE& m_state;
};

// String resource nID from the first module of the chain that has it; FALSE
// (and an empty string) when none has.
BOOL AfxLoadString(UINT nID, QString& rString);

// The help file of the chain that `path` names (see HelpFileInfo::Matches); with
// an empty path, the first help file of the chain. Null when there is none.
const HelpFileInfo* AfxFindHelpFile(const QString& path);
