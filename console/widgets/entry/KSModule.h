#pragma once
// The module's own view of its run-wide state: what module code reaches but
// hosts do not (none of this is exported).

#include "platform/core/Win32Types.h"
#include "ui/ExtensionModule.h"

// After a report set is picked in the report tree, show which one is current.
// Profile "VNMgr" / "ShowReportInfo", default 1; the information box's "do not
// show again" check box clears it; written back at termination.
extern BOOL bShowReportInfo;

// The module's record as an extension module: its string table and its help
// file. Registered by the load notification, joined to the resource chain by
// InitializeKSDLL.
extern AFX_EXTENSION_MODULE KSDLL;
