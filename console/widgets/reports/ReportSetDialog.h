#pragma once
// "Report Set" (dialog 415): edits one report set in memory — which of the
// twenty standard reports belong to it, and each report's criteria and output
// options on its option pages. The caller loads the set before and saves it
// after OK; Cancel leaves in the set only what switching reports had already
// stored. Modal; user-interface thread only.
//
// "Standard Reports:" lists the twenty reports in catalogue order with a check
// mark for each report that belongs to the set. The report selected in the
// list is the current one: its pages (which depend on its server code,
// console/core/reports/OptionPages.h) fill the tab window, loaded from its
// entry, the first tab active. Selecting another report first stores the
// shown pages into the current entry. OK sets every entry's selected flag from
// its check mark and stores the shown pages; only the pages in the tab window
// are ever stored.

#include <QDialog>

#include "console/core/reports/ReportSet.h"
#include "console/widgets/support/KSExport.h"
#include "ui/WindowMessages.h"

class COptionPage;
class CDateCriteriaPage;
class CDetailColumnsPage;
class CDirectoryCriteriaPage;
class CDuplicateCriteriaPage;
class CReportFilterPage;
class CReportOutputPage;
class CSizeCriteriaPage;
class CWastedSpaceCriteriaPage;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTabWidget;

class KS_EXPORT CReportSetDialog : public QDialog {
 public:
  // An empty strName makes a new set: the name can be typed and OK waits for
  // it. A given name is shown read-only.
  CReportSetDialog(vn::console::ReportSet& set, const QString& strName, QWidget* parent = nullptr);
  ~CReportSetDialog() override;

  // Makes the report of this catalogue index the current one when the dialog
  // is shown, instead of the first checked report.
  void SetCurrentReport(int nIndex) { m_nInitialReport = nIndex; }
  // The window told of a user filter made from the "Filter" page's chooser.
  void SetNotifyWindow(HWND hWnd);
  QString GetName() const;

  // The catalogue index whose pages are shown; -1 before the dialog is shown.
  int CurrentReport() const { return m_nCurrent; }
  // Makes `nIndex` current as selecting it in the list does.
  void SelectReport(int nIndex);

  QLineEdit* NameEdit() const { return m_pName; }
  QListWidget* ReportList() const { return m_pReports; }
  QTabWidget* Tabs() const { return m_pTabs; }
  QPushButton* OkButton() const { return m_pOk; }
  CDateCriteriaPage* DatePage() const { return m_pDate; }
  CDirectoryCriteriaPage* DirectoryPage() const { return m_pDirectory; }
  CDuplicateCriteriaPage* DuplicatePage() const { return m_pDuplicate; }
  CSizeCriteriaPage* SizePage() const { return m_pSize; }
  CWastedSpaceCriteriaPage* WastedSpacePage() const { return m_pWasted; }
  CReportFilterPage* FilterPage() const { return m_pFilter; }
  CDetailColumnsPage* DetailPage() const { return m_pDetail; }
  CReportOutputPage* OutputPage() const { return m_pOutput; }

  void accept() override;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  // Fills the list and makes the first report current, once.
  void Start();
  void ShowPages(int nIndex);
  void StorePages();
  void OnRowChanged(int nRow);
  void UpdateOk();

  vn::console::ReportSet& m_set;
  QLineEdit* m_pName;
  QListWidget* m_pReports;
  QTabWidget* m_pTabs;
  QPushButton* m_pOk;
  CDateCriteriaPage* m_pDate;
  CDirectoryCriteriaPage* m_pDirectory;
  CDuplicateCriteriaPage* m_pDuplicate;
  CSizeCriteriaPage* m_pSize;
  CWastedSpaceCriteriaPage* m_pWasted;
  CReportFilterPage* m_pFilter;
  CDetailColumnsPage* m_pDetail;
  CReportOutputPage* m_pOutput;
  int m_nInitialReport = -1;
  int m_nCurrent = -1;
  bool m_bNew;
};
