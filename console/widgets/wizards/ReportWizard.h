#pragma once
// The report wizard: a run of a stored report set in four steps, as a
// wizard sheet whose pages all carry the title "Report Wizard" and no help
// button.
//
//   CReportWizardStart (509)  the welcome text and the check box 1603
//                             "&Always Display Wizard at Startup"
//   CReportWizardObj (510)    its own object tree (1604) with check marks;
//                             Next only while an object is chosen
//   CReportWizardRS (511)     the location combo (1606), "..." (1607) and the
//                             location's report sets (1608); Next only while
//                             a set is selected
//   CReportWizardFinish (512) the chosen set (1605) and objects (1610)
//
// The pages share one CReportWizardChoice (console/core/wizards). Finish
// closes the sheet and starts the run the way the object tree's "Run..."
// does: a ReportRunContext and a ProgressChannelEntry sent to the
// application's main window with WM_REPORT_START_RUN, whose results go to
// that window. Cancel discards the choices. Modal, made anew for each use;
// user-interface thread only.

#include <QWizard>
#include <QWizardPage>
#include <memory>

#include "console/core/wizards/ReportWizardChoice.h"
#include "console/widgets/deploy/DeployWizards.h"
#include "console/widgets/support/KSExport.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTreeView;
class QTreeWidget;

namespace vn::console {
class CObjectNode;
class CObjectTree;
class CObjectTreeLoader;
class CObjectTreeModel;
}  // namespace vn::console

enum : int {
  IDC_WIZARD_SHOW_AT_STARTUP = 1603,
  IDC_WIZARD_OBJECT_TREE = 1604,
  IDC_WIZARD_SET_TEXT = 1605,
  IDC_WIZARD_LOCATION = 1606,
  IDC_WIZARD_BROWSE = 1607,
  IDC_WIZARD_SET_LIST = 1608,
  IDC_WIZARD_OBJECTS_TEXT = 1610,
};

class KS_EXPORT CReportWizardStart : public CKSWizardPage {
 public:
  CReportWizardStart(vn::console::CReportWizardChoice& choice, QWidget* parent = nullptr);
  bool validatePage() override;
  QCheckBox* ShowAtStartupCheck() const { return m_pShowAtStartup; }

 private:
  vn::console::CReportWizardChoice& m_choice;
  QCheckBox* m_pShowAtStartup;
};

class KS_EXPORT CReportWizardObj : public CKSWizardPage {
 public:
  CReportWizardObj(vn::console::CReportWizardChoice& choice, QWidget* parent = nullptr);
  ~CReportWizardObj() override;
  // The first time: the local computer name is read and the roots inserted.
  // Every time: the selection is collected again.
  void initializePage() override;
  bool isComplete() const override;
  bool validatePage() override;

  vn::console::CObjectTree& Tree() { return *m_pTree; }
  vn::console::CObjectTreeLoader& Loader() { return *m_pLoader; }
  QTreeView* TreeWidget() const { return m_pTreeWidget; }
  void Expand(const vn::console::CObjectNode* node);
  // A click on node's check box, as the tree widget hands it over.
  void ClickCheck(vn::console::CObjectNode* node);

 private:
  void OnCheckClicked(vn::console::CObjectNode* node, int oldState);
  void Collect();

  vn::console::CReportWizardChoice& m_choice;
  std::unique_ptr<vn::console::CObjectTree> m_pTree;
  std::unique_ptr<vn::console::CObjectTreeModel> m_pModel;
  std::unique_ptr<vn::console::CObjectTreeLoader> m_pLoader;
  QTreeView* m_pTreeWidget;
  bool m_bFilled = false;
};

class KS_EXPORT CReportWizardRS : public CKSWizardPage {
 public:
  CReportWizardRS(vn::console::CReportWizardChoice& choice, QWidget* parent = nullptr);
  // The first time, the location passed to the wizard is listed.
  void initializePage() override;
  bool isComplete() const override;
  bool validatePage() override;

  // Lists the report sets of `machine` (which becomes the location); a
  // registry that cannot be opened is shown as the system's text.
  void ListReportSets(const QString& machine);
  // Puts `machine` first in the combo, selects it and lists it ("..." does
  // this with the computer the chooser gives).
  void AddLocation(const QString& machine);

  QComboBox* LocationBox() const { return m_pLocation; }
  QPushButton* BrowseButton() const { return m_pBrowse; }
  QTreeWidget* SetList() const { return m_pSets; }

 private:
  void OnBrowse();
  QString SelectedSet() const;

  vn::console::CReportWizardChoice& m_choice;
  QComboBox* m_pLocation;
  QPushButton* m_pBrowse;
  QTreeWidget* m_pSets;
  bool m_bListed = false;
};

class KS_EXPORT CReportWizardFinish : public CKSWizardPage {
 public:
  CReportWizardFinish(vn::console::CReportWizardChoice& choice, QWidget* parent = nullptr);
  void initializePage() override;
  QLineEdit* SetText() const { return m_pSetText; }
  QPlainTextEdit* ObjectsText() const { return m_pObjectsText; }

 private:
  vn::console::CReportWizardChoice& m_choice;
  QLineEdit* m_pSetText;
  QPlainTextEdit* m_pObjectsText;
};

class KS_EXPORT CReportWizard : public QWizard {
 public:
  enum { kStartPage, kObjectsPage, kReportSetPage, kFinishPage };

  // `location`: the machine whose report sets the third page lists first;
  // `bShowAtStartup`: the start page's check box.
  CReportWizard(const QString& location, BOOL bShowAtStartup, QWidget* parent = nullptr);
  ~CReportWizard() override;

  // Finish: closes the sheet and starts the run (StartWizardRun).
  void accept() override;
  // The check box's state, whatever way the sheet was closed.
  BOOL ShowAtStartup() const;
  const vn::console::CReportWizardChoice& Choice() const { return m_choice; }
  // Whether Finish handed a run to the main window.
  bool RunStarted() const { return m_bRunStarted; }

  CReportWizardStart* StartPage() const { return m_pStart; }
  CReportWizardObj* ObjectsPage() const { return m_pObjects; }
  CReportWizardRS* ReportSetPage() const { return m_pReportSet; }
  CReportWizardFinish* FinishPage() const { return m_pFinish; }

 private:
  vn::console::CReportWizardChoice m_choice;
  CReportWizardStart* m_pStart;
  CReportWizardObj* m_pObjects;
  CReportWizardRS* m_pReportSet;
  CReportWizardFinish* m_pFinish;
  bool m_bRunStarted = false;
};

// Hands a run of the chosen set over the chosen objects to the application's
// main window (WM_REPORT_START_RUN). False when there is no main window or it
// did not take the run, in which case nothing runs.
KS_EXPORT bool StartWizardRun(const vn::console::CReportWizardChoice& choice);

// Runs the wizard modally for `location`. The start page's check box shows
// *pShowAtStartup (1 when null), and its state is stored back through the
// pointer when it is not null, whatever the result. Returns the sheet's
// result (QDialog::Accepted after Finish).
KS_EXPORT int RunReportWizard(QWidget* parent, const QString& location, BOOL* pShowAtStartup);
