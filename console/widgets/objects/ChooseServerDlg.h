#pragma once
// "Choose a Windows NT Server": the Windows NT machines of this machine's
// browse list at the top level, and under the root "Domain" the domains, each
// listing its Windows NT domain members when expanded. Choosing a machine (or
// typing a name) gives the "Computer:" name; OK is enabled exactly when that
// name is not empty. Listing failures are shown with the network's error text.
// The browse list is this machine's own (its hosts file), so listing is done
// on the user-interface thread under a wait cursor. Modal; user-interface
// thread only.

#include <QDialog>
#include <string>

#include "console/widgets/support/KSExport.h"

class QLineEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

class KS_EXPORT CChooseServerDlg : public QDialog {
 public:
  explicit CChooseServerDlg(QWidget* parent = nullptr);
  ~CChooseServerDlg() override;

  QString GetComputerName() const;
  QTreeWidget* Tree() const { return m_pTree; }
  QLineEdit* ComputerEdit() const { return m_pComputer; }
  QPushButton* OkButton() const { return m_pOk; }

 private:
  // The record behind each node: whether it is a container (the root or a
  // domain) and its name.
  struct ServerChoiceNode {
    bool container;
    std::string name;
  };
  QTreeWidgetItem* AddNode(QTreeWidgetItem* parent, const std::string& name, bool container, int image);
  // Lists machines (domain given) or the Windows NT machines of the browse
  // list (domain empty) or the domains (types SV_TYPE_DOMAIN_ENUM) under parent.
  void List(QTreeWidgetItem* parent, unsigned type, const std::string& domain, bool upperCase);
  static void SortContainersFirst(QTreeWidgetItem* parent, QTreeWidget* tree);
  void OnExpanded(QTreeWidgetItem* item);
  void OnCurrentChanged(QTreeWidgetItem* item);
  void OnDoubleClicked(QTreeWidgetItem* item);

  QTreeWidget* m_pTree;
  QLineEdit* m_pComputer;
  QPushButton* m_pOk;
};
