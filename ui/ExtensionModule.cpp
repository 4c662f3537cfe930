#include "ui/ExtensionModule.h"

BOOL AfxInitExtensionModule(AFX_EXTENSION_MODULE& state, const char* pszModuleName) {
  state.pszModuleName = pszModuleName;
  state.bInitialized = TRUE;
  return TRUE;
}
