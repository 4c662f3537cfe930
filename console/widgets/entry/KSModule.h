#pragma once
// The module's own view of its run-wide state: what module code reaches but
// hosts do not (none of this is exported).

#include "console/widgets/support/RunFlags.h"  // bShowReportInfo, which the report tree reads
#include "platform/core/Win32Types.h"
#include "ui/ExtensionModule.h"

// The module's record as an extension module: its string table and its help
// file. Registered by the load notification, joined to the resource chain by
// InitializeKSDLL.
extern AFX_EXTENSION_MODULE KSDLL;
