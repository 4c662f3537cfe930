#include "console/widgets/reports/KSReportListView.h"

#include <QAction>
#include <QHeaderView>
#include <QMenu>
#include <QShortcut>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <string>

#include "console/core/objects/BackgroundWork.h"
#include "console/core/reports/ReportCatalogue.h"
#include "console/core/reports/ReportTree.h"
#include "console/core/reports/UserFilters.h"
#include "console/core/support/Resources.h"
#include "console/core/support/SystemErrorText.h"
#include "console/widgets/reports/KSReportTreeView.h"
#include "console/widgets/reports/ReportTreeModel.h"
#include "console/widgets/support/KSMgrDoc.h"
#include "console/widgets/support/RunFlags.h"
#include "ui/CmdUI.h"
#include "ui/MessageBox.h"
#include "ui/WaitCursor.h"

IMPLEMENT_DYNCREATE(CKSReportListView, CView)

using vn::console::CObjectNode;
namespace rc = vn::console;

namespace {

constexpr int kReadingThreads = 2;
constexpr int kNodeRole = Qt::UserRole;  // the row's tree item id

constexpr char kDeleteSelectedQuestion[] = "Are you sure you want to delete the selected item(s)?";

int KindOf(const CObjectNode* node) { return node ? static_cast<int>(node->Type()) : -1; }

bool ShowsChildren(int kind) {
  return kind == rc::kReportLocalRoot || kind == rc::kReportNetworkRoot || kind == rc::kReportDomain ||
         kind == rc::kReportMachine || kind == rc::kUserFilterFolder || kind == rc::kReportSetFolder ||
         kind == rc::kCustomReportFolder;
}

}  // namespace

CKSReportListView::CKSReportListView()
    : m_pList(new QTreeWidget(this)), m_pWork(std::make_unique<rc::CBackgroundWork>(kReadingThreads)) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(m_pList);
  m_pList->setRootIsDecorated(false);
  m_pList->setSortingEnabled(false);
  m_pList->setSelectionMode(QAbstractItemView::ExtendedSelection);
  m_pList->setColumnCount(1);
  m_pList->setHeaderLabels({QString::fromUtf8(rc::KSLoadString(rc::IDS_INFORMATION))});
  m_pList->header()->setSectionsClickable(false);
  m_pList->header()->setStretchLastSection(false);
  m_pList->setColumnWidth(0, m_pList->fontMetrics().horizontalAdvance(QStringLiteral("123465678901234567890")) + 15);
  m_pList->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(m_pList, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* row) { OpenRow(row); });
  connect(m_pList, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) { OnContextMenu(pos); });

  const std::pair<QKeySequence, UINT> keys[] = {{QKeySequence(Qt::Key_Delete), rc::ID_OBJECT_DELETE},
                                                {QKeySequence(QKeySequence::Copy), rc::ID_REPORT_COPY},
                                                {QKeySequence(QKeySequence::Paste), rc::ID_REPORT_PASTE}};
  for (const auto& [key, nID] : keys) {
    auto* shortcut = new QShortcut(key, this, nullptr, nullptr, Qt::WidgetWithChildrenShortcut);
    connect(shortcut, &QShortcut::activated, this, [this, nID = nID] { RunCommandIfEnabled(this, nID); });
  }

  MapCommand(rc::ID_REPORT_PROPERTIES, &CKSReportListView::OnProperties);
  MapUpdateCommand(rc::ID_REPORT_PROPERTIES, &CKSReportListView::OnUpdateProperties);
  MapCommand(rc::ID_OBJECT_DELETE, &CKSReportListView::OnDelete);
  MapUpdateCommand(rc::ID_OBJECT_DELETE, &CKSReportListView::OnUpdateDelete);
  MapCommand(rc::ID_REPORT_COPY, &CKSReportListView::OnCopy);
  MapUpdateCommand(rc::ID_REPORT_COPY, &CKSReportListView::OnUpdateCopy);
  MapCommand(rc::ID_REPORT_PASTE, &CKSReportListView::OnPaste);
  MapUpdateCommand(rc::ID_REPORT_PASTE, &CKSReportListView::OnUpdatePaste);
}

CKSReportListView::~CKSReportListView() {
  m_pWork.reset();
  if (CKSMgrDoc* pDoc = GetDocument(); pDoc && pDoc->m_pReportListView == this) pDoc->m_pReportListView = nullptr;
}

CKSMgrDoc* CKSReportListView::GetDocument() const { return dynamic_cast<CKSMgrDoc*>(CView::GetDocument()); }

int CKSReportListView::PendingWork() const { return m_pWork->Pending(); }

void CKSReportListView::OnInitialUpdate() {
  if (CKSMgrDoc* pDoc = GetDocument()) pDoc->m_pReportListView = this;
}

CKSReportTreeView* CKSReportListView::Tree() const {
  CKSMgrDoc* pDoc = GetDocument();
  return pDoc ? dynamic_cast<CKSReportTreeView*>(pDoc->m_pReportTreeView) : nullptr;
}

CObjectNode* CKSReportListView::ShownNode() const {
  CKSReportTreeView* pTree = Tree();
  return pTree && m_nItem ? pTree->FindNode(static_cast<LPARAM>(m_nItem)) : nullptr;
}

CObjectNode* CKSReportListView::RowNode(const QTreeWidgetItem* row) const {
  CKSReportTreeView* pTree = Tree();
  if (!pTree || !row) return nullptr;
  const auto id = row->data(0, kNodeRole).toULongLong();
  return id ? pTree->FindNode(static_cast<LPARAM>(id)) : nullptr;
}

std::vector<CObjectNode*> CKSReportListView::SelectedNodes() const {
  std::vector<CObjectNode*> nodes;
  for (int i = 0; i < m_pList->topLevelItemCount(); ++i) {
    const QTreeWidgetItem* row = m_pList->topLevelItem(i);
    if (row->isSelected())
      if (CObjectNode* node = RowNode(row)) nodes.push_back(node);
  }
  return nodes;
}

void CKSReportListView::OnUpdate(CView* pSender, LPARAM lHint, CObject*) {
  CKSReportTreeView* pTree = Tree();
  if (!pTree || pSender != pTree || lHint == 0) return;
  if (const CObjectNode* node = pTree->FindNode(lHint)) Fill(node);
}

void CKSReportListView::Refill() {
  if (const CObjectNode* node = ShownNode()) Fill(node);
}

void CKSReportListView::Fill(const CObjectNode* node) {
  m_pList->clear();
  m_nItem = node->id;
  const int kind = KindOf(node);
  if (ShowsChildren(kind)) {
    QList<QTreeWidgetItem*> rows;
    for (const auto& child : node->children) {
      auto* row = new QTreeWidgetItem(QStringList{QString::fromStdString(child->Text())});
      row->setIcon(0, rc::ReportImage(rc::ReportItemImage(child->Type())));
      row->setData(0, kNodeRole, QVariant::fromValue<qulonglong>(child->id));
      rows.push_back(row);
    }
    m_pList->addTopLevelItems(rows);
    return;
  }
  if (kind != rc::kUserFilterItem && kind != rc::kReportSetItem) return;
  CKSReportTreeView* pTree = Tree();
  const std::string machine = pTree ? pTree->ItemMachine(node) : std::string();
  if (machine.empty()) return;
  const std::string name = node->Text();
  const std::uint64_t id = node->id;
  const CWaitCursor wait;
  m_pWork->Run(
      [kind, machine, name] {
        std::vector<std::string> texts;
        if (kind == rc::kUserFilterItem) {
          std::string value;
          if (rc::ReadUserFilter(machine, name, &value) == ERROR_SUCCESS && !value.empty())
            texts.push_back(std::move(value));
        } else {
          (void)rc::ReadReportsOfSet(machine, name, texts);  // a set that cannot be read shows nothing
        }
        return texts;
      },
      [this, id, kind](std::vector<std::string>& texts) {
        if (id != m_nItem) return;
        const QIcon image = rc::ReportImage(kind == rc::kUserFilterItem ? rc::ReportItemImage(kind)
                                                                        : rc::kReportOfSetImage);
        QList<QTreeWidgetItem*> rows;
        for (const std::string& text : texts) {
          auto* row = new QTreeWidgetItem(QStringList{QString::fromStdString(text)});
          row->setIcon(0, image);
          rows.push_back(row);
        }
        m_pList->addTopLevelItems(rows);
      });
}

void CKSReportListView::OpenRow(QTreeWidgetItem* row) {
  CKSReportTreeView* pTree = Tree();
  CObjectNode* shown = ShownNode();
  if (!pTree || !shown || !row) return;
  CObjectNode* node = RowNode(row);
  switch (KindOf(shown)) {
    case rc::kReportLocalRoot:
    case rc::kReportNetworkRoot:
    case rc::kReportDomain:
    case rc::kReportMachine:
      if (node) pTree->SelectNode(node);
      break;
    case rc::kUserFilterFolder:
      if (node && pTree->EditUserFilter(node)) pTree->NotifyViews(node);
      break;
    case rc::kUserFilterItem:
      if (pTree->EditUserFilter(shown)) Refill();
      break;
    case rc::kReportSetFolder:
      if (node && pTree->EditReportSet(node, -1)) pTree->NotifyViews(node);
      break;
    case rc::kReportSetItem:
      if (pTree->EditReportSet(shown, rc::ReportIndexFromName(row->text(0).toStdString()))) Refill();
      break;
    case rc::kCustomReportFolder:
      if (node && pTree->EditCustomReport(node)) pTree->NotifyViews(node);
      break;
    default:
      break;
  }
}

void CKSReportListView::OnUpdateProperties(CCmdUI* pCmdUI) {
  const int kind = KindOf(ShownNode());
  const QTreeWidgetItem* row = m_pList->currentItem();
  const bool selected = row && row->isSelected();
  pCmdUI->Enable(selected && kind != rc::kCustomReportItem && kind >= 0);
}

void CKSReportListView::OnProperties() {
  if (QTreeWidgetItem* row = m_pList->currentItem(); row && row->isSelected()) OpenRow(row);
}

void CKSReportListView::OnUpdateDelete(CCmdUI* pCmdUI) {
  const std::vector<CObjectNode*> nodes = SelectedNodes();
  bool deletable = !nodes.empty();
  for (const CObjectNode* node : nodes) {
    const int kind = KindOf(node);
    deletable = deletable && (kind == rc::kUserFilterItem || kind == rc::kReportSetItem || kind == rc::kCustomReportItem);
  }
  pCmdUI->Enable(deletable);
}

void CKSReportListView::OnDelete() {
  CKSReportTreeView* pTree = Tree();
  const CObjectNode* shown = ShownNode();
  if (!pTree || !shown) return;
  const std::uint64_t shownId = shown->id;
  // Ids, not nodes: each delete may take other items with it.
  std::vector<std::uint64_t> ids;
  for (const CObjectNode* node : SelectedNodes()) ids.push_back(node->id);
  if (ids.empty()) return;
  if (bKSConfirm && AfxMessageBox(QString::fromLatin1(kDeleteSelectedQuestion), MB_YESNO | MB_ICONQUESTION) != IDYES)
    return;
  for (const std::uint64_t id : ids) {
    CObjectNode* node = pTree->FindNode(static_cast<LPARAM>(id));
    if (!node) continue;
    if (const LONG code = pTree->DeleteNode(node); code != ERROR_SUCCESS) {
      char text[1025] = {};
      rc::GetSystemErrorText(static_cast<DWORD>(code), text, sizeof text);
      AfxMessageBox(QString::fromUtf8(text), MB_OK | MB_ICONEXCLAMATION);
      break;
    }
  }
  if (const CObjectNode* still = pTree->FindNode(static_cast<LPARAM>(shownId))) {
    pTree->NotifyViews(still);
  }
}

void CKSReportListView::OnUpdateCopy(CCmdUI* pCmdUI) {
  const std::vector<CObjectNode*> nodes = SelectedNodes();
  const int kind = nodes.empty() ? -1 : KindOf(nodes.front());
  pCmdUI->Enable(kind == rc::kReportSetItem || kind == rc::kCustomReportItem);
}

void CKSReportListView::OnCopy() {
  if (CKSReportTreeView* pTree = Tree()) pTree->CopyNodes(SelectedNodes());
}

void CKSReportListView::OnUpdatePaste(CCmdUI* pCmdUI) {
  CKSReportTreeView* pTree = Tree();
  pCmdUI->Enable(pTree && pTree->CanPaste(ShownNode()));
}

void CKSReportListView::OnPaste() {
  CKSReportTreeView* pTree = Tree();
  if (CObjectNode* folder = ShownNode(); pTree && pTree->CanPaste(folder)) pTree->PasteInto(folder);
}

std::unique_ptr<QMenu> CKSReportListView::CreateContextMenu() {
  auto menu = std::make_unique<QMenu>(this);
  const auto add = [this, &menu](UINT nID, const QString& text) { AddCommandAction(*menu, this, nID, text); };
  add(rc::ID_REPORT_PROPERTIES, QStringLiteral("&Properties"));
  add(rc::ID_OBJECT_DELETE, QStringLiteral("&Delete"));
  menu->addSeparator();
  add(rc::ID_REPORT_COPY, QStringLiteral("&Copy"));
  add(rc::ID_REPORT_PASTE, QStringLiteral("&Paste"));
  return menu;
}

void CKSReportListView::OnContextMenu(const QPoint& pos) {
  if (QTreeWidgetItem* row = m_pList->itemAt(pos); row && !row->isSelected()) {
    m_pList->clearSelection();
    row->setSelected(true);
    m_pList->setCurrentItem(row);
  }
  const std::unique_ptr<QMenu> menu = CreateContextMenu();
  menu->exec(m_pList->viewport()->mapToGlobal(pos));
}
