#pragma once
// "Select a computer": the network as this machine's browse list shows it,
// its domains with their computers below them, to pick one computer. Only a
// computer can be chosen: OK is enabled while a computer is the current item,
// and a double-click on a computer chooses it. Listing failures are shown with
// the system's text for the code (a domain that cannot be listed stays
// empty). The browse list is this machine's own, so it is read on the
// user-interface thread, once, when the dialog is made. Modal; user-interface
// thread only.

#include <QDialog>
#include <string>

#include "console/widgets/support/KSExport.h"

class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

class KS_EXPORT CComputerBrowserDlg : public QDialog {
 public:
  explicit CComputerBrowserDlg(QWidget* parent = nullptr);
  ~CComputerBrowserDlg() override;

  // The chosen computer, as the browse list names it; empty before a choice.
  QString GetComputerName() const;
  // Makes the computer of that name (any letter case) the current item;
  // false when the list has none.
  [[nodiscard]] bool SelectComputer(const QString& name);

  QTreeWidget* Tree() const { return m_pTree; }
  QPushButton* OkButton() const { return m_pOk; }

 private:
  // Adds the browse list's entries of `type` (in `domain` when given) under
  // parent; false after a failure, which has been shown.
  [[nodiscard]] bool List(QTreeWidgetItem* parent, unsigned type, const std::string& domain);
  static bool IsComputer(const QTreeWidgetItem* item);
  void OnCurrentChanged(QTreeWidgetItem* item);

  QTreeWidget* m_pTree;
  QPushButton* m_pOk;
};
