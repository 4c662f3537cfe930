#pragma once
// The record by which a loadable module of the console offers its resources to
// the host: its string table and its help file. The module defines one record
// as constant data, registers it when it is loaded (AfxInitExtensionModule, from
// its load notification) and later joins it to the application's resource chain
// (a CDynLinkLibrary). The record must outlive every chain it joins; a global of
// the module does.

#include <string_view>

#include "platform/core/Win32Types.h"

struct HelpFileInfo;

// Looks up string resource nID; an empty view when the module has none. The text
// must live as long as the program.
using StringResourceLoader = std::string_view (*)(UINT nID);
// Tells whether the module has string resource nID (an empty string is one).
using StringResourceProbe = bool (*)(UINT nID);

struct AFX_EXTENSION_MODULE {
  BOOL bInitialized;
  const char* pszModuleName;
  StringResourceLoader pfnLoadString;
  StringResourceProbe pfnHasString;
  const HelpFileInfo* pHelpFile;  // null when the module has no help
};

// Marks the module as loaded under pszModuleName (a string literal). Always
// succeeds; registering again changes nothing but the name.
BOOL AfxInitExtensionModule(AFX_EXTENSION_MODULE& state, const char* pszModuleName);
