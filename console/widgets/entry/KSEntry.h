#pragma once
// The console module's entry points and run-wide globals, as a host calls them.
//
// Calling order required of the host:
//   1. Its application object (CWinApp) exists; its profile is the host's.
//   2. The module is loaded (linking it is enough: its load notification
//      registers it as an extension module).
//   3. InitializeKSDLL, once, before any document, view or dialog of the module
//      is made and before any module resource is loaded.
//   4. The host registers its templates for the manager (400), result (401) and
//      schedule (402) windows from the exported classes and stores the result
//      template in pKSRptDocTemplate.
//   5. ShowVNWizard and KSGettingStarted at any time after step 3 (VNMgr
//      shows the wizard once its window is up, while bVNPopupWizard is set).
//   6. TerminateKSDLL, once, at exit, after every module window is closed.
// All on the user-interface thread. No entry point reports failure.

#include "console/widgets/support/KSExport.h"
#include "platform/core/Win32Types.h"

class CMultiDocTemplate;

extern "C" {

// Initialises the grid control library, joins the module's resources to the
// application's resource chain, creates the graph template (id 404, CGraphDoc
// in a CKSMDIChildWnd with a CGraphView), stores it in pGraphDocTemplate and
// hands it to the application, then reads the run-wide flags from the host's
// profile: bKSConfirm, bShowReportInfo, bVNPopupWizard (each 1 when missing).
KS_EXPORT void InitializeKSDLL();

// Shuts the grid control library down and writes bShowReportInfo and
// bVNPopupWizard back to the host's profile. bKSConfirm is never written.
KS_EXPORT void TerminateKSDLL();

// Opens the "Getting Started" help topic (help context 98867).
KS_EXPORT void KSGettingStarted();

// Runs the report wizard, modally, for this computer (its name as the
// report sets' location). *pShowAtStartup is the start page's check box,
// stored back through the pointer when the wizard closes, whatever its
// result; null: the box shows checked and nothing is stored. Finish starts
// the run through the main window, as the object tree's Run does.
KS_EXPORT void ShowVNWizard(BOOL* pShowAtStartup);

// Ask before deleting a report set, custom report or scheduled job.
// Profile "Management" / "Confirm_Delete"; read only.
KS_EXPORT extern BOOL bKSConfirm;
// Whether the host pops up the report wizard at start. Profile "VNMgr" /
// "VNWIZARD_POPUP"; written back at termination.
KS_EXPORT extern BOOL bVNPopupWizard;
// Template of graph windows; owned by the application's template list.
KS_EXPORT extern CMultiDocTemplate* pGraphDocTemplate;
// Template of report result windows. The host creates it and stores it here
// before any report runs; the module opens finished results through it.
KS_EXPORT extern CMultiDocTemplate* pKSRptDocTemplate;

}  // extern "C"
