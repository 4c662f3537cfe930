#pragma once
// "Custom Report" (dialog 444): creates or edits one custom report of a
// machine — its definition on the "Report Pass" and "Summary Pass" tabs and
// its options on the "Output Options" tabs. "Report Class:" (1596) chooses
// which of the three tab windows is shown. The rules are the design's
// (CCustomReportDesign); saving after OK is the caller's
// (SaveReportDefinition, then SaveCustomReportOptions). Modal; user-interface
// thread only.

#include <QDialog>

#include <memory>

#include "console/core/reports/CustomReportDesign.h"
#include "console/widgets/support/KSExport.h"

class CDesignListPage;
class CQueryPage;
class CReportFilterPage;
class CReportOutputPage;
class QComboBox;
class QLineEdit;
class QPushButton;
class QStackedWidget;
class QTabWidget;

class KS_EXPORT CCustomReportDialog : public QDialog {
 public:
  // An empty `reportName` makes a new report. An existing one is loaded now;
  // a damaged definition is named in a message box and the pages start
  // from what could be read.
  CCustomReportDialog(const QString& machine, const QString& reportName, QWidget* parent = nullptr);
  ~CCustomReportDialog() override;

  vn::console::CCustomReportDesign& Design() { return *m_design; }
  QString GetName() const;
  void accept() override;

  // "Report Pass", "Summary Pass", "Output Options".
  void ShowClass(int index);
  QComboBox* ClassCombo() const { return m_pClass; }
  QTabWidget* Tabs(int index) const { return m_pTabs[index]; }
  QLineEdit* NameEdit() const { return m_pName; }
  QPushButton* OkButton() const { return m_pOk; }
  CDesignListPage* Page(vn::console::DesignPage page) const;
  CQueryPage* QueryPage(bool summary) const { return summary ? m_pSummaryQuery : m_pQuery; }
  CReportFilterPage* FilterPage() const { return m_pFilter; }
  CReportOutputPage* OutputPage() const { return m_pOutput; }

 private:
  void OnTabChanged(int tabs, int index);
  void UpdateTabs();

  std::unique_ptr<vn::console::CCustomReportDesign> m_design;
  QLineEdit* m_pName;
  QComboBox* m_pClass;
  QStackedWidget* m_pStack;
  QTabWidget* m_pTabs[3];
  int m_current[3] = {0, 0, 0};
  QPushButton* m_pOk = nullptr;
  CDesignListPage* m_pages[6] = {};
  CQueryPage* m_pQuery;
  CQueryPage* m_pSummaryQuery;
  CReportFilterPage* m_pFilter;
  CReportOutputPage* m_pOutput;
};
