#include "console/widgets/help/VN4Help.h"

#include "console/core/support/Resources.h"

namespace vn::console {
namespace {

// Windows and dialogs by resource id (kHelpDialogBase + id), menu commands by
// command id (kHelpCommandBase + id). The manager window's tabs are numbered
// after their pictures (467 to 469).
constexpr HelpTopic kVN4Topics[] = {
    {kHelpCommandBase + ID_HELP_GETTING_STARTED, "GettingStarted.html"},
    {kHelpCommandBase + ID_REPORT_WIZARD, "ReportWizard.html"},
    {kHelpCommandBase + ID_OBJECT_REFRESH, "ObjectTab.html"},
    {kHelpCommandBase + ID_REPORT_RUN, "ObjectTab.html"},
    {kHelpCommandBase + ID_VIEW_SCHEDULES, "ScheduleList.html"},
    {kHelpDialogBase + IDR_KSMGRTYPE, "ManagerWindow.html"},
    {kHelpDialogBase + IDR_KSRPTTYPE, "ResultWindow.html"},
    {kHelpDialogBase + IDR_KSSCHETYPE, "ScheduleList.html"},
    {kHelpDialogBase + IDR_GRAPHTYPE, "GraphWindow.html"},
    {kHelpDialogBase + 467, "ObjectTab.html"},
    {kHelpDialogBase + 468, "ReportsTab.html"},
    {kHelpDialogBase + 469, "RunTab.html"},
    {kHelpDialogBase + 410, "RunTab.html"},
    {kHelpDialogBase + IDD_ADD_PREFERRED_MACHINE, "Machines.html"},
    {kHelpDialogBase + IDD_CHOOSE_SERVER, "Machines.html"},
    {kHelpDialogBase + 415, "ReportSetEditor.html"},
    {kHelpDialogBase + IDD_SELECT_USERS, "UserFilters.html"},
    {kHelpDialogBase + 431, "ScheduleList.html#modify"},
    {kHelpDialogBase + IDD_MAIL_REPORT, "MailReport.html"},
    {kHelpDialogBase + IDD_USER_FILTER, "UserFilters.html"},
    {kHelpDialogBase + 444, "CustomReports.html"},
    {kHelpDialogBase + 445, "ServerDeployment.html"},
    {kHelpDialogBase + 446, "ServerDeployment.html"},
    {kHelpDialogBase + 477, "ServerProperties.html"},
    {kHelpDialogBase + 479, "ServerProperties.html"},
    {kHelpDialogBase + 485, "ServerProperties.html"},
    {kHelpDialogBase + 487, "ServerDeployment.html"},
    {kHelpDialogBase + 488, "ServerDeployment.html"},
    {kHelpDialogBase + 489, "ServerDeployment.html"},
    {kHelpDialogBase + IDD_REPORT_EXISTS, "ReportDialogs.html"},
    {kHelpDialogBase + IDD_SELECT_REPORT, "ReportDialogs.html"},
    {kHelpDialogBase + IDD_REPORT_INFO, "ReportDialogs.html"},
    {kHelpDialogBase + IDD_REPORT_WIZARD_START, "ReportWizard.html"},
    {kHelpDialogBase + IDD_REPORT_WIZARD_OBJ, "ReportWizard.html"},
    {kHelpDialogBase + IDD_REPORT_WIZARD_RS, "ReportWizard.html"},
    {kHelpDialogBase + IDD_REPORT_WIZARD_FINISH, "ReportWizard.html"},
};

}  // namespace

constinit const HelpFileInfo kVN4HelpFile = {"VN4.hlp", "qrc:/help/VN4/", "Contents.html", kVN4Topics};

}  // namespace vn::console
