#pragma once
// "Growth Since": the Space By Directory scans of the scan history, newest
// first, of which the user picks the earlier one; OK writes the growth from
// it to the latest scan as a result file, which the caller opens in a result
// window (and which goes when that window closes).
//
// The history is the one this machine's runs record into (the profile's
// "VNReport" section, docs/history.md). A history that cannot be opened or
// read, or that holds no Space By Directory scan, is said in the dialog and
// OK stays disabled.

#include <QDialog>
#include <QString>

#include "console/widgets/support/KSExport.h"

class QLabel;
class QTreeWidget;
class QDialogButtonBox;

class KS_EXPORT CGrowthSinceDlg : public QDialog {
  Q_OBJECT

 public:
  // The host's "&Growth Since..." command.
  static constexpr unsigned ID_FILE_GROWTH_SINCE = 33351;

  explicit CGrowthSinceDlg(QWidget* parent = nullptr);

  // The result file written by OK; empty before, or when writing failed.
  QString GetResultFile() const { return m_result; }
  // The scans listed, in their order (for the tests).
  QTreeWidget* Scans() const { return m_scans; }
  QLabel* Status() const { return m_status; }

  void accept() override;

 private:
  void LoadScans();

  QTreeWidget* m_scans;
  QLabel* m_status;
  QDialogButtonBox* m_buttons;
  QString m_result;
};
