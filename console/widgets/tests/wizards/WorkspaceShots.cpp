// Writes the pictures of the workspace for the documentation: the report
// wizard's four pages, the manager window on its "Run" tab after the
// hand-over from the other two, and the help window on the manager window's
// topic, and the dialogs the other pictures do not show (dialog-*.png).
// scripts/screenshot-workspace runs it on a virtual display as the
// demo network's CONSOLE (scripts/demo-network), whose report sets and
// machines the pictures show. Usage: workspace_shots OUTPUT_DIR
#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QTabWidget>
#include <QThread>
#include <QTreeWidget>
#include <cstdio>
#include <functional>
#include <string>

#include "console/core/objects/ObjectTreeLoader.h"
#include "console/core/support/Resources.h"
#include "console/widgets/entry/KSEntry.h"
#include "console/widgets/entry/KSMgrFrame.h"
#include "console/widgets/objects/AddPreferredMachineDlg.h"
#include "console/widgets/objects/ChooseServerDlg.h"
#include "console/widgets/objects/KSTreeView.h"
#include "console/widgets/reports/KSReportTreeView.h"
#include "console/widgets/reports/ReportTreeDialogs.h"
#include "console/widgets/reports/SelectReportDlg.h"
#include "console/widgets/reports/SelectUsersDlg.h"
#include "console/widgets/reports/UserFilterDlg.h"
#include "console/widgets/run/MailReportDlg.h"
#include "console/widgets/support/ComputerBrowserDlg.h"
#include "console/widgets/support/KSMgrDoc.h"
#include "console/widgets/wizards/ReportWizard.h"
#include "platform/machine/Machine.h"
#include "platform/machine/Profile.h"
#include "ui/HelpWindow.h"
#include "ui/MDIFrameWnd.h"
#include "ui/MultiDocTemplate.h"
#include "ui/WinApp.h"

namespace {

using vn::console::CObjectNode;

// Lets the window system draw and the listings arrive: `done` or 10 s.
void Settle(const std::function<bool()>& done = [] { return true; }) {
  for (int i = 0; i < 1000; ++i) {
    QApplication::processEvents();
    QThread::msleep(10);
    if (i >= 20 && done()) return;
  }
}

CObjectNode* Child(const CObjectNode* node, const std::string& text) {
  if (!node) return nullptr;
  for (const auto& child : node->children)
    if (child->Text() == text) return child.get();
  return nullptr;
}

bool Save(QWidget* window, const QDir& out, const char* file) {
  Settle();
  const QString path = out.filePath(QString::fromLatin1(file));
  if (!window->grab().save(path)) {
    std::fprintf(stderr, "workspace_shots: cannot write %s\n", qPrintable(path));
    return false;
  }
  std::printf("%s\n", qPrintable(path));
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication qtApp(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: workspace_shots OUTPUT_DIR\n");
    return 2;
  }
  const QDir out(QString::fromLocal8Bit(argv[1]));
  bool ok = true;
  {
    CWinApp app(QStringLiteral("VNMgr"));
    app.m_strAppName = QStringLiteral("Vornal");
    app.m_strHelpFilePath = QStringLiteral("VN4.hlp");
    // The report tree's choice is shown without its information box.
    (void)WriteProfileInt("VNMgr", "ShowReportInfo", 0);
    InitializeKSDLL();
    auto* pManager = new CMultiDocTemplate(vn::console::IDR_KSMGRTYPE, RUNTIME_CLASS(CKSMgrDoc),
                                           RUNTIME_CLASS(CKSMgrFrame), RUNTIME_CLASS(CKSTreeView));
    app.AddDocTemplate(pManager);
    CMDIFrameWnd mainFrame;
    mainFrame.setWindowTitle(QStringLiteral("Vornal"));
    mainFrame.resize(1000, 680);
    app.m_pMainWnd = &mainFrame;
    mainFrame.show();

    const QString local = QString::fromStdString(vn::LocalComputerName());
    {
      CReportWizard wizard(local, TRUE, &mainFrame);
      wizard.resize(660, 480);
      wizard.show();
      ok = Save(&wizard, out, "report-wizard-start.png") && ok;
      wizard.next();
      CReportWizardObj* objects = wizard.ObjectsPage();
      const auto listed = [objects] { return objects->Loader().PendingWork() == 0; };
      Settle(listed);
      CObjectNode* network = objects->Tree().Top()->children.at(1).get();
      objects->Expand(network);
      Settle(listed);
      CObjectNode* sales = Child(network, "Sales");
      objects->Expand(sales);
      Settle(listed);
      CObjectNode* srv1 = Child(sales, "Srv1");
      objects->Expand(srv1);
      Settle(listed);
      objects->ClickCheck(Child(srv1, "Data"));
      objects->ClickCheck(Child(objects->Tree().FirstRoot(), "C:"));
      ok = Save(&wizard, out, "report-wizard-objects.png") && ok;
      wizard.next();
      const QList<QTreeWidgetItem*> daily =
          wizard.ReportSetPage()->SetList()->findItems(QStringLiteral("Daily Space Check"), Qt::MatchExactly);
      if (!daily.isEmpty()) wizard.ReportSetPage()->SetList()->setCurrentItem(daily.front());
      ok = Save(&wizard, out, "report-wizard-sets.png") && ok;
      wizard.next();
      ok = Save(&wizard, out, "report-wizard-finish.png") && ok;
      wizard.reject();
    }

    // The manager window: a share checked, a set chosen, then "Run".
    auto* pDoc = dynamic_cast<CKSMgrDoc*>(pManager->OpenDocumentFile(QString()));
    if (pDoc && pDoc->m_pTreeView) {
      auto* pFrame = dynamic_cast<CKSMgrFrame*>(pDoc->m_pTreeView->GetParentFrame());
      CKSTreeView* pTree = pFrame->TreeView();
      const auto listed = [pTree] { return pTree->Loader().PendingWork() == 0; };
      Settle(listed);
      CObjectNode* network = pTree->Tree().Top()->children.at(1).get();
      pTree->Expand(network);
      Settle(listed);
      pTree->Expand(Child(network, "Sales"));
      Settle(listed);
      CObjectNode* srv1 = Child(Child(network, "Sales"), "Srv1");
      pTree->Expand(srv1);
      Settle(listed);
      if (CObjectNode* data = Child(srv1, "Data")) pTree->Tree().ClickCheckBox(data);
      pFrame->Tabs()->setCurrentIndex(1);
      CKSReportTreeView* pReports = pFrame->ReportTreeView();
      const auto read = [pReports] { return pReports->PendingWork() == 0; };
      Settle(read);
      CObjectNode* mine = pReports->Tree().FirstRoot();
      pReports->Expand(mine);
      Settle(read);
      CObjectNode* sets = Child(mine, "Report Sets");
      pReports->Expand(sets);
      Settle(read);
      if (CObjectNode* daily = Child(sets, "Daily Space Check")) pReports->Choose(daily);
      pFrame->Tabs()->setCurrentIndex(2);
      ok = Save(&mainFrame, out, "manager-run-tab.png") && ok;
    }

    // The dialogs, each as it opens.
    const auto shoot = [&](QWidget* dialog, const char* file) {
      dialog->show();
      ok = Save(dialog, out, file) && ok;
      dialog->close();
    };
    {
      CSelectReportDlg picker(CSelectReportDlg::kReportSet, local, nullptr, &mainFrame);
      shoot(&picker, "dialog-select-report.png");
      CComputerBrowserDlg browser(&mainFrame);
      Settle();
      (void)browser.SelectComputer(QStringLiteral("SRV1"));
      shoot(&browser, "dialog-select-computer.png");
      CUserFilterDlg filter(QStringLiteral("SRV1"), QString(), &mainFrame);
      shoot(&filter, "dialog-user-filter.png");
      CSelectUsersDlg users(QStringLiteral("SRV1"), &mainFrame);
      shoot(&users, "dialog-select-users.png");
      vn::MailSettings mail{};
      CMailReportDlg mailTo(mail, &mainFrame);
      shoot(&mailTo, "dialog-mail-report.png");
      CReportExistsDlg exists(QStringLiteral("Daily Space Check"), QStringLiteral("SRV1"),
                              vn::console::IDS_REPORT_SET_KEY_FMT, &mainFrame);
      shoot(&exists, "dialog-report-exists.png");
      CAddPreferredMachineDlg preferred(&mainFrame);
      shoot(&preferred, "dialog-add-preferred-machine.png");
      CChooseServerDlg server(&mainFrame);
      shoot(&server, "dialog-choose-server.png");
    }

    app.WinHelp(vn::console::kHelpDialogBase + vn::console::IDR_KSMGRTYPE, HELP_CONTEXT);
    if (CHelpWindow* pHelp = app.GetHelpWindow()) {
      pHelp->resize(640, 520);
      ok = Save(pHelp, out, "help-window.png") && ok;
    }

    app.CloseAllDocuments(FALSE);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    app.m_pMainWnd = nullptr;
    TerminateKSDLL();
  }
  return ok ? 0 : 1;
}
