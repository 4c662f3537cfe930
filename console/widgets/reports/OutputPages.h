#pragma once
// The report set editor's output pages, which the custom report designer
// shows too:
//  - CReportFilterPage (418, "Filter"): the file name filter and the user
//    filter; "..." chooses a stored user filter of this computer (dialog 506)
//    and takes its accounts as the user filter.
//  - CDetailColumnsPage (417, "Detail"): the attribute tests (three-state:
//    cleared, set, not considered) and the detail columns shown.
//  - CReportOutputPage (416, "Advanced"): sizes and formats of the result
//    (Options bits), the number of records shown, the batch command, and the
//    mail settings through "Mail To" (dialog 432).
// User-interface thread only.

#include "console/widgets/reports/OptionPage.h"
#include "ui/WindowMessages.h"

#include <vector>

class QCheckBox;
class QLineEdit;
class QListWidget;
class QPushButton;

class KS_EXPORT CReportFilterPage : public COptionPage {
 public:
  explicit CReportFilterPage(QWidget* parent = nullptr);
  void Load(const vn::console::ReportOptions& options) override;
  void Store(vn::console::ReportOptions& options) const override;

  // The window told of a user filter made through the chooser's "Add...".
  void SetNotifyWindow(HWND hWnd) { m_hNotifyWnd = hWnd; }
  // "...": the user filter chooser; its OK replaces the user filter text.
  void OnChooseFilter();

  QLineEdit* FileFilter() const { return m_pFileFilter; }
  QLineEdit* UserFilter() const { return m_pUserFilter; }
  QPushButton* ChooseButton() const { return m_pChoose; }

 private:
  HWND m_hNotifyWnd = nullptr;
  QLineEdit* m_pFileFilter;
  QLineEdit* m_pUserFilter;
  QPushButton* m_pChoose;
};

class KS_EXPORT CDetailColumnsPage : public COptionPage {
 public:
  explicit CDetailColumnsPage(QWidget* parent = nullptr);
  void Load(const vn::console::ReportOptions& options) override;
  void Store(vn::console::ReportOptions& options) const override;

  // "Clear" and "Set": every column unchecked or checked.
  void CheckAll(bool checked);

  QCheckBox* ReadOnly() const { return m_pReadOnly; }
  QCheckBox* Archive() const { return m_pArchive; }
  QCheckBox* Hidden() const { return m_pHidden; }
  QCheckBox* Compressed() const { return m_pCompressed; }
  QCheckBox* System() const { return m_pSystem; }
  QListWidget* Columns() const { return m_pColumns; }
  QPushButton* ClearButton() const { return m_pClear; }
  QPushButton* SetButton() const { return m_pSet; }

 private:
  QCheckBox* m_pReadOnly;
  QCheckBox* m_pArchive;
  QCheckBox* m_pHidden;
  QCheckBox* m_pCompressed;
  QCheckBox* m_pSystem;
  QListWidget* m_pColumns;
  QPushButton* m_pClear;
  QPushButton* m_pSet;
};

class KS_EXPORT CReportOutputPage : public COptionPage {
 public:
  explicit CReportOutputPage(QWidget* parent = nullptr);
  void Load(const vn::console::ReportOptions& options) override;
  void Store(vn::console::ReportOptions& options) const override;

  // "Mail To": the mail dialog on a copy of the settings; OK keeps the copy.
  void OnMailTo();
  const vn::MailSettings& MailSettings() const { return m_mail; }

  // The check boxes in Options bit order of SizeOptionBits and
  // FormatOptionBits.
  const std::vector<QCheckBox*>& SizeBoxes() const { return m_sizeBoxes; }
  const std::vector<QCheckBox*>& FormatBoxes() const { return m_formatBoxes; }
  QLineEdit* RecordCount() const { return m_pRecords; }
  QLineEdit* BatchCommand() const { return m_pBatch; }
  QPushButton* MailButton() const { return m_pMail; }

 private:
  std::vector<QCheckBox*> m_sizeBoxes;
  std::vector<QCheckBox*> m_formatBoxes;
  QLineEdit* m_pRecords;
  QLineEdit* m_pBatch;
  QPushButton* m_pMail;
  vn::MailSettings m_mail;
};
