#pragma once
// The module's run-wide flags that its windows read and change. They live from
// InitializeKSDLL to TerminateKSDLL, which read them from and write them to the
// host's profile (console/widgets/entry/KSEntry.h); defined there.
// User-interface thread only.

#include "console/widgets/support/KSExport.h"
#include "platform/core/Win32Types.h"

class CMultiDocTemplate;

extern "C" {
// Ask before deleting a report set, custom report, user filter or scheduled
// job. Profile "Management" / "Confirm_Delete"; read only. Exported.
KS_EXPORT extern BOOL bKSConfirm;
// The result window's template, which the host stores before any report
// runs; finished results open through it. Null while there is none.
KS_EXPORT extern CMultiDocTemplate* pKSRptDocTemplate;
}

// After a report set or custom report is selected in the report tree, say
// which one is current. Profile "VNMgr" / "ShowReportInfo", default 1; the
// information box's "do not show again" check box clears it; written back at
// termination. Not exported.
extern BOOL bShowReportInfo;
