#pragma once
// "Report Set" (dialog 415): edits one report set in memory — which of the
// twenty standard reports belong to it, and each report's criteria and output
// options on its option pages. The caller loads the set before and saves it
// after OK; Cancel leaves in the set only what switching reports had already
// stored. Modal; user-interface thread only.

#include <QDialog>

#include "console/core/reports/ReportSet.h"
#include "console/widgets/support/KSExport.h"

class QLineEdit;

class KS_EXPORT CReportSetDialog : public QDialog {
 public:
  // An empty strName makes a new set: the name can be typed and OK waits for
  // it. A given name is shown read-only.
  CReportSetDialog(vn::console::ReportSet& set, const QString& strName, QWidget* parent = nullptr);
  ~CReportSetDialog() override;

  // Makes the report of this catalogue index the current one when the dialog
  // is shown, instead of the first checked report.
  void SetCurrentReport(int nIndex) { m_nInitialReport = nIndex; }
  QString GetName() const;
  QLineEdit* NameEdit() const { return m_pName; }

 private:
  vn::console::ReportSet& m_set;
  QLineEdit* m_pName;
  int m_nInitialReport = -1;
};
