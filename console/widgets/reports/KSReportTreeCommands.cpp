// The commands of the report tree: New, Properties, Delete, Copy and Paste,
// and the steps they are made of (KSReportTreeView.h).
#include <QApplication>
#include <QClipboard>
#include <QMimeData>
#include <QString>
#include <string>
#include <vector>

#include "console/core/reports/ReportCatalogue.h"
#include "console/core/reports/ReportSetStore.h"
#include "console/core/reports/ReportTree.h"
#include "console/core/support/Resources.h"
#include "console/core/support/SystemErrorText.h"
#include "console/widgets/reports/KSReportTreeView.h"
#include "console/widgets/reports/CustomReportDialog.h"
#include "console/widgets/reports/ReportSetDialog.h"
#include "console/widgets/reports/ReportTreeDialogs.h"
#include "console/widgets/reports/UserFilterDlg.h"
#include "console/widgets/support/RunFlags.h"
#include "ui/CmdUI.h"
#include "ui/MessageBox.h"
#include "ui/WaitCursor.h"

using vn::console::CObjectNode;
using vn::console::CObjectTree;
namespace rc = vn::console;

namespace {

void ShowSystemError(LONG code) {
  char text[1025] = {};
  rc::GetSystemErrorText(static_cast<DWORD>(code), text, sizeof text);
  AfxMessageBox(QString::fromUtf8(text), MB_OK | MB_ICONEXCLAMATION);
}

QString WithName(std::string_view format, const std::string& name) {
  QString text = QString::fromUtf8(format.data(), static_cast<qsizetype>(format.size()));
  if (const qsizetype at = text.indexOf(QStringLiteral("%s")); at >= 0) text.replace(at, 2, QString::fromStdString(name));
  return text;
}

bool Ask(const QString& question) { return AfxMessageBox(question, MB_YESNO | MB_ICONQUESTION) == IDYES; }

int KindOf(const CObjectNode* node) { return node ? static_cast<int>(node->Type()) : -1; }

// The folder an item of `folderKind` or one of its children stands for.
CObjectNode* FolderOf(CObjectNode* node, int folderKind) {
  if (!node) return nullptr;
  if (KindOf(node) == folderKind) return node;
  CObjectNode* parent = CObjectTree::Parent(node);
  return KindOf(parent) == folderKind ? parent : nullptr;
}

QString ClipFormat(int kind) {
  const UINT id = kind == rc::kCustomReportItem || kind == rc::kCustomReportFolder ? rc::IDS_CUSTOM_CLIPFORMAT
                                                                                    : rc::IDS_REPORTSET_CLIPFORMAT;
  return QString::fromUtf8(rc::KSLoadString(id));
}

}  // namespace

void CKSReportTreeView::OnUpdateNew(CCmdUI* pCmdUI) {
  const int kind = KindOf(GetSelectedNode());
  pCmdUI->Enable(kind == rc::kUserFilterFolder || kind == rc::kUserFilterItem || kind == rc::kReportSetFolder ||
                 kind == rc::kReportSetItem || kind == rc::kCustomReportFolder || kind == rc::kCustomReportItem);
}

void CKSReportTreeView::OnNew() {
  CObjectNode* node = GetSelectedNode();
  switch (KindOf(node)) {
    case rc::kUserFilterFolder:
    case rc::kUserFilterItem: NewUserFilter(node); break;
    case rc::kReportSetFolder:
    case rc::kReportSetItem: NewReportSet(node); break;
    case rc::kCustomReportFolder:
    case rc::kCustomReportItem: NewCustomReport(node); break;
    default: break;
  }
}

void CKSReportTreeView::OnUpdateProperties(CCmdUI* pCmdUI) {
  const int kind = KindOf(GetSelectedNode());
  pCmdUI->Enable(kind == rc::kUserFilterItem || kind == rc::kReportSetItem || kind == rc::kCustomReportItem);
}

void CKSReportTreeView::OnProperties() {
  CObjectNode* node = GetSelectedNode();
  bool done = false;
  switch (KindOf(node)) {
    case rc::kUserFilterItem: done = EditUserFilter(node); break;
    case rc::kReportSetItem: done = EditReportSet(node, -1); break;
    case rc::kCustomReportItem: done = EditCustomReport(node); break;
    default: break;
  }
  if (done) NotifyViews(node);
}

void CKSReportTreeView::OnUpdateDelete(CCmdUI* pCmdUI) {
  const int kind = KindOf(GetSelectedNode());
  pCmdUI->Enable(kind == rc::kUserFilterItem || kind == rc::kReportSetItem || kind == rc::kCustomReportItem);
}

void CKSReportTreeView::OnDelete() {
  CObjectNode* node = GetSelectedNode();
  const int kind = KindOf(node);
  if (kind != rc::kUserFilterItem && kind != rc::kReportSetItem && kind != rc::kCustomReportItem) return;
  if (ItemMachine(node).empty()) return;
  if (bKSConfirm && !Ask(WithName(rc::KSLoadString(rc::IDS_CONFIRM_DELETE), node->Text()))) return;
  if (const LONG code = DeleteNode(node); code != ERROR_SUCCESS) ShowSystemError(code);
}

void CKSReportTreeView::OnUpdateCopy(CCmdUI* pCmdUI) {
  const int kind = KindOf(GetSelectedNode());
  pCmdUI->Enable(kind == rc::kReportSetItem || kind == rc::kCustomReportItem);
}

void CKSReportTreeView::OnCopy() {
  CObjectNode* node = GetSelectedNode();
  CopyNodes(std::span<CObjectNode* const>(&node, 1));
}

void CKSReportTreeView::OnUpdatePaste(CCmdUI* pCmdUI) { pCmdUI->Enable(CanPaste(GetSelectedNode())); }

void CKSReportTreeView::OnPaste() {
  CObjectNode* folder = GetSelectedNode();
  if (CanPaste(folder)) PasteInto(folder);
}

bool CKSReportTreeView::NewUserFilter(CObjectNode* node) {
  CObjectNode* folder = FolderOf(node, rc::kUserFilterFolder);
  const std::string machine = folder ? ItemMachine(folder) : std::string();
  if (machine.empty()) return false;
  CUserFilterDlg dialog(QString::fromStdString(machine), QString(), this);
  if (dialog.exec() != QDialog::Accepted) return false;
  CObjectNode* item = AddUserFilterItem(folder, dialog.GetFilterName().toStdString());
  Expand(folder);
  SelectNode(item);
  return true;
}

bool CKSReportTreeView::EditUserFilter(CObjectNode* filter) {
  if (KindOf(filter) != rc::kUserFilterItem) return false;
  const std::string machine = ItemMachine(filter);
  if (machine.empty()) return false;
  CUserFilterDlg dialog(QString::fromStdString(machine), QString::fromStdString(filter->Text()), this);
  return dialog.exec() == QDialog::Accepted;
}

bool CKSReportTreeView::NewReportSet(CObjectNode* node) {
  CObjectNode* folder = FolderOf(node, rc::kReportSetFolder);
  if (!folder || ItemMachine(folder).empty()) return false;
  rc::ReportSet set;
  CReportSetDialog dialog(set, QString(), this);
  if (dialog.exec() != QDialog::Accepted) return false;
  return SaveNewReportSet(folder, dialog.GetName().toStdString(), set);
}

bool CKSReportTreeView::SaveNewReportSet(CObjectNode* node, const std::string& name, const rc::ReportSet& set) {
  CObjectNode* folder = FolderOf(node, rc::kReportSetFolder);
  const std::string machine = folder ? ItemMachine(folder) : std::string();
  if (machine.empty()) return false;
  bool exists = false;
  {
    const CWaitCursor wait;
    exists = rc::RegistryKeyExists(machine, name, rc::IDS_REPORT_SET_KEY_FMT);
  }
  if (exists && !Ask(WithName(rc::KSLoadString(rc::IDS_REPLACE_REPORT_SET), name))) return false;
  LONG code = ERROR_SUCCESS;
  {
    const CWaitCursor wait;
    code = rc::SaveReportSet(machine, name, set);
  }
  if (code != ERROR_SUCCESS) {
    ShowSystemError(code);
    return false;
  }
  if (!exists) ShowStoredItem(folder, rc::kReportSetItem, name, true);
  return true;
}

bool CKSReportTreeView::EditReportSet(CObjectNode* setItem, int nReport) {
  if (KindOf(setItem) != rc::kReportSetItem) return false;
  const std::string machine = ItemMachine(setItem);
  if (machine.empty()) return false;
  const std::string name = setItem->Text();
  rc::ReportSet set;
  LONG code = ERROR_SUCCESS;
  {
    const CWaitCursor wait;
    code = rc::LoadReportSet(machine, name, set);
  }
  if (code != ERROR_SUCCESS) {
    ShowSystemError(code);
    return false;
  }
  CReportSetDialog dialog(set, QString::fromStdString(name), this);
  if (nReport >= 0) dialog.SetCurrentReport(nReport);
  if (dialog.exec() != QDialog::Accepted) return false;
  {
    const CWaitCursor wait;
    code = rc::SaveReportSet(machine, name, set);
  }
  if (code != ERROR_SUCCESS) ShowSystemError(code);
  return true;  // the edit ended with OK
}

namespace {

// Saves what the designer holds: the definition, then (only when that
// worked) the options. The first failure's code.
LONG SaveCustomReport(CCustomReportDialog& dialog, const std::string& machine, const std::string& name) {
  const CWaitCursor wait;
  if (const LONG code = dialog.Design().Definition().SaveReportDefinition(machine, name)) return code;
  return rc::SaveCustomReportOptions(machine, name, dialog.Design().Options());
}

}  // namespace

bool CKSReportTreeView::NewCustomReport(CObjectNode* node) {
  CObjectNode* folder = FolderOf(node, rc::kCustomReportFolder);
  const std::string machine = folder ? ItemMachine(folder) : std::string();
  if (machine.empty()) return false;
  CCustomReportDialog dialog(QString::fromStdString(machine), QString(), this);
  if (dialog.exec() != QDialog::Accepted) return false;
  const std::string name = dialog.GetName().toStdString();
  bool exists = false;
  {
    const CWaitCursor wait;
    exists = rc::RegistryKeyExists(machine, name, rc::IDS_CUSTOM_REPORT_KEY_FMT);
  }
  if (exists && !Ask(WithName("The report set %s already exists.\nDo you really want to replace it?", name)))
    return false;
  if (const LONG code = SaveCustomReport(dialog, machine, name); code != ERROR_SUCCESS) {
    ShowSystemError(code);
    return false;
  }
  if (!exists) ShowStoredItem(folder, rc::kCustomReportItem, name, true);
  return true;
}

bool CKSReportTreeView::EditCustomReport(CObjectNode* report) {
  if (KindOf(report) != rc::kCustomReportItem) return false;
  const std::string machine = ItemMachine(report);
  if (machine.empty()) return false;
  CCustomReportDialog dialog(QString::fromStdString(machine), QString::fromStdString(report->Text()), this);
  if (dialog.exec() != QDialog::Accepted) return false;
  if (const LONG code = SaveCustomReport(dialog, machine, report->Text()); code != ERROR_SUCCESS) ShowSystemError(code);
  return true;  // the edit ended with OK
}

LONG CKSReportTreeView::DeleteNode(CObjectNode* node) {
  const int kind = KindOf(node);
  const std::string machine = node ? ItemMachine(node) : std::string();
  if (machine.empty()) return ERROR_INVALID_FUNCTION;
  LONG code = ERROR_SUCCESS;
  {
    const CWaitCursor wait;
    code = rc::DeleteReportItem(kind, machine, node->Text());
  }
  if (code != ERROR_SUCCESS) return code;
  CObjectNode* folder = CObjectTree::Parent(node);
  if (node->id == m_chosenId) ForgetChoice();
  // The selection goes to the folder, not to a neighbour that would become the choice.
  if (GetSelectedNode() == node && folder) SelectNode(folder);
  m_tree.DeleteItem(node);
  if (folder && !folder->HasChildren()) m_tree.SetButton(folder, false);
  // The list may be showing the folder the item was in.
  if (CObjectNode* selected = GetSelectedNode(); !selected)
    NotifyViews(m_tree.FirstRoot());
  else if (selected == folder)
    NotifyViews(folder);
  return ERROR_SUCCESS;
}

void CKSReportTreeView::CopyNodes(std::span<CObjectNode* const> nodes) {
  if (nodes.empty() || !nodes.front()) return;
  const int kind = KindOf(nodes.front());
  if (kind != rc::kReportSetItem && kind != rc::kCustomReportItem) return;
  std::vector<rc::ReportClipEntry> entries;
  for (const CObjectNode* node : nodes) {
    if (KindOf(node) != kind) continue;
    const std::string machine = ItemMachine(node);
    if (machine.empty()) continue;
    entries.push_back({static_cast<std::uint32_t>(node->id), rc::ReportClipText(machine, node->Text())});
  }
  if (entries.empty()) return;
  const std::vector<char> bytes = rc::EncodeReportClip(entries);
  auto* data = new QMimeData;
  data->setData(ClipFormat(kind), QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())));
  QApplication::clipboard()->setMimeData(data);  // the clipboard owns it
}

bool CKSReportTreeView::CanPaste(const CObjectNode* folder) const {
  const int kind = KindOf(folder);
  if (kind != rc::kReportSetFolder && kind != rc::kCustomReportFolder) return false;
  const QMimeData* data = QApplication::clipboard()->mimeData();
  return data && data->hasFormat(ClipFormat(kind)) && !ItemMachine(folder).empty();
}

void CKSReportTreeView::PasteInto(CObjectNode* folder) {
  const int folderKind = KindOf(folder);
  if (folderKind != rc::kReportSetFolder && folderKind != rc::kCustomReportFolder) return;
  const std::string destination = ItemMachine(folder);
  const QMimeData* data = QApplication::clipboard()->mimeData();
  if (destination.empty() || !data) return;
  const QByteArray bytes = data->data(ClipFormat(folderKind));
  const std::optional<std::vector<rc::ReportClipEntry>> entries =
      rc::DecodeReportClip(std::span<const char>(bytes.constData(), static_cast<std::size_t>(bytes.size())));
  if (!entries) return;
  const bool custom = folderKind == rc::kCustomReportFolder;
  const UINT keyFormat = custom ? rc::IDS_CUSTOM_REPORT_KEY_FMT : rc::IDS_REPORT_SET_KEY_FMT;
  const auto storedKind = custom ? rc::StoredReportKind::CustomReport : rc::StoredReportKind::ReportSet;
  const int itemKind = custom ? rc::kCustomReportItem : rc::kReportSetItem;
  const std::uint64_t folderId = folder->id;

  for (const rc::ReportClipEntry& entry : *entries) {
    const std::optional<rc::PasteSource> source = rc::SplitReportClipText(entry.text);
    if (!source) continue;
    std::string name = source->name;
    bool existed = false;
    {
      const CWaitCursor wait;
      existed = rc::RegistryKeyExists(destination, name, keyFormat);
    }
    if (existed) {
      CReportExistsDlg dialog(QString::fromStdString(name), QString::fromStdString(destination), keyFormat, this);
      if (dialog.exec() != QDialog::Accepted) continue;
      if (!dialog.IsReplace()) {
        name = dialog.GetNewName().toStdString();
        existed = false;  // the dialog took only a name the destination lacks
      }
    }
    if (!rc::IsSameStoredReport(source->machine, source->name, destination, name)) {
      LONG code = ERROR_SUCCESS;
      {
        const CWaitCursor wait;
        // Replacing leaves the destination equal to the source (a plain copy
        // keeps the reports of a set, or values of a custom report, that the
        // source lacks), removing the old entries only after the copy.
        code = existed ? rc::ReplaceStoredReport(source->machine, source->name, destination, name, storedKind)
                       : rc::CopyStoredReport(source->machine, source->name, destination, name, storedKind);
      }
      if (code != ERROR_SUCCESS) {
        ShowSystemError(code);
        break;
      }
    }
    // A dialog may have let other things happen meanwhile.
    folder = m_tree.Find(folderId);
    if (!folder) return;
    if (!existed) ShowStoredItem(folder, itemKind, name, false);
  }
  if (CObjectNode* still = m_tree.Find(folderId); still && still == GetSelectedNode()) NotifyViews(still);
}
