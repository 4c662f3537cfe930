#include "console/widgets/reports/KSReportTreeView.h"

#include <QHeaderView>
#include <QMenu>
#include <QShortcut>
#include <QTreeView>
#include <QVBoxLayout>
#include <unordered_set>
#include <vector>

#include "console/core/objects/BackgroundWork.h"
#include "console/core/objects/ObjectEnumeration.h"
#include "console/core/reports/ReportTree.h"
#include "console/core/support/Resources.h"
#include "console/widgets/reports/ReportMessages.h"
#include "console/widgets/reports/ReportTreeDialogs.h"
#include "console/widgets/reports/ReportTreeModel.h"
#include "console/widgets/support/KSMgrDoc.h"
#include "console/widgets/support/RunFlags.h"
#include "platform/core/AsciiText.h"
#include "ui/CmdUI.h"
#include "ui/WaitCursor.h"

IMPLEMENT_DYNCREATE(CKSReportTreeView, CView)

using vn::console::CObjectNode;
using vn::console::CObjectTree;
namespace rc = vn::console;

namespace {

// Machines that are slow to answer only queue up in the platform beyond this.
constexpr int kReadingThreads = 4;

std::string Text(UINT id) { return std::string(rc::KSLoadString(id)); }
KSItemType Kind(int kind) { return static_cast<KSItemType>(kind); }
int KindOf(const CObjectNode* node) { return node ? static_cast<int>(node->Type()) : -1; }

CObjectNode* ChildOfKind(const CObjectNode* node, int kind) {
  for (const auto& child : node->children)
    if (KindOf(child.get()) == kind) return child.get();
  return nullptr;
}

}  // namespace

CKSReportTreeView::CKSReportTreeView()
    : m_pModel(std::make_unique<rc::CReportTreeModel>(m_tree)),
      m_pWork(std::make_unique<rc::CBackgroundWork>(kReadingThreads)),
      m_pTreeWidget(new QTreeView(this)) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(m_pTreeWidget);
  m_pTreeWidget->setModel(m_pModel.get());
  m_pTreeWidget->setHeaderHidden(true);
  m_pTreeWidget->setRootIsDecorated(true);
  m_pTreeWidget->setUniformRowHeights(true);
  m_pTreeWidget->setEditTriggers(QAbstractItemView::NoEditTriggers);
  m_pTreeWidget->setSelectionMode(QAbstractItemView::SingleSelection);
  m_pTreeWidget->setContextMenuPolicy(Qt::CustomContextMenu);
  m_pTreeWidget->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
  m_pTreeWidget->header()->setStretchLastSection(false);
  setFocusProxy(m_pTreeWidget);

  connect(m_pTreeWidget, &QTreeView::expanded, this, [this](const QModelIndex& index) { OnItemExpanded(index); });
  connect(m_pTreeWidget->selectionModel(), &QItemSelectionModel::currentChanged, this,
          [this](const QModelIndex& current) { OnCurrentChanged(current); });
  connect(m_pTreeWidget, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) { OnContextMenu(pos); });
  // A double-click expands a folder; on a filter or report set (which have no
  // children) it is Properties.
  connect(m_pTreeWidget, &QTreeView::doubleClicked, this, [this](const QModelIndex& index) {
    if (m_pModel->Node(index) == GetSelectedNode()) RunIfEnabled(rc::ID_REPORT_PROPERTIES);
  });
  m_pModel->SetChooseCallback([this](CObjectNode* node) { Choose(node); });

  const std::pair<QKeySequence, UINT> keys[] = {{QKeySequence(Qt::Key_Delete), rc::ID_OBJECT_DELETE},
                                                {QKeySequence(QKeySequence::Copy), rc::ID_REPORT_COPY},
                                                {QKeySequence(QKeySequence::Paste), rc::ID_REPORT_PASTE}};
  for (const auto& [key, nID] : keys) {
    auto* shortcut = new QShortcut(key, this, nullptr, nullptr, Qt::WidgetWithChildrenShortcut);
    connect(shortcut, &QShortcut::activated, this, [this, nID = nID] { RunIfEnabled(nID); });
  }

  MapCommand(rc::ID_OBJECT_NEW, &CKSReportTreeView::OnNew);
  MapUpdateCommand(rc::ID_OBJECT_NEW, &CKSReportTreeView::OnUpdateNew);
  MapCommand(rc::ID_REPORT_PROPERTIES, &CKSReportTreeView::OnProperties);
  MapUpdateCommand(rc::ID_REPORT_PROPERTIES, &CKSReportTreeView::OnUpdateProperties);
  MapCommand(rc::ID_OBJECT_DELETE, &CKSReportTreeView::OnDelete);
  MapUpdateCommand(rc::ID_OBJECT_DELETE, &CKSReportTreeView::OnUpdateDelete);
  MapCommand(rc::ID_REPORT_COPY, &CKSReportTreeView::OnCopy);
  MapUpdateCommand(rc::ID_REPORT_COPY, &CKSReportTreeView::OnUpdateCopy);
  MapCommand(rc::ID_REPORT_PASTE, &CKSReportTreeView::OnPaste);
  MapUpdateCommand(rc::ID_REPORT_PASTE, &CKSReportTreeView::OnUpdatePaste);

  m_pHandle = std::make_unique<CWindowHandle>(this, [this](UINT message, WPARAM, LPARAM lParam) -> LRESULT {
    if (message == WM_KS_USER_FILTER_ADDED) OnUserFilterAdded(TakeUserFilterText(lParam));
    return 0;
  });
}

CKSReportTreeView::~CKSReportTreeView() {
  m_pHandle.reset();
  if (CKSMgrDoc* pDoc = GetDocument(); pDoc && pDoc->m_pReportTreeView == this) pDoc->m_pReportTreeView = nullptr;
  m_pTreeWidget->setModel(nullptr);
  m_pWork.reset();  // no reading reaches the tree from here on
  m_tree.DeleteAllItems();
}

CKSMgrDoc* CKSReportTreeView::GetDocument() const { return dynamic_cast<CKSMgrDoc*>(CView::GetDocument()); }

HWND CKSReportTreeView::GetSafeHwnd() const { return m_pHandle ? m_pHandle->GetSafeHwnd() : nullptr; }

int CKSReportTreeView::PendingWork() const { return m_pWork->Pending(); }

void CKSReportTreeView::OnInitialUpdate() {
  if (CKSMgrDoc* pDoc = GetDocument()) pDoc->m_pReportTreeView = this;
  if (m_bShown) return;
  m_bShown = true;
  CObjectNode* mine =
      m_tree.InsertKSItem(nullptr, vn::console::KS_INSERT_FIRST, Text(rc::IDS_MY_COMPUTER), KS_STATE_NONE, true,
                          Kind(rc::kReportLocalRoot));
  m_tree.InsertKSItem(nullptr, vn::console::KS_INSERT_LAST, Text(rc::IDS_NETWORK_ROOT), KS_STATE_NONE, true,
                      Kind(rc::kReportNetworkRoot));
  Expand(mine);
  SelectNode(mine);
}

CObjectNode* CKSReportTreeView::FindNode(LPARAM lHint) const { return m_tree.Find(static_cast<std::uint64_t>(lHint)); }

CObjectNode* CKSReportTreeView::GetSelectedNode() const { return m_pModel->Node(m_pTreeWidget->currentIndex()); }

void CKSReportTreeView::SelectNode(const CObjectNode* node) {
  if (node) m_pTreeWidget->setCurrentIndex(m_pModel->Index(node));
}

void CKSReportTreeView::Expand(const CObjectNode* node) {
  if (node) m_pTreeWidget->expand(m_pModel->Index(node));
}

CObjectNode* CKSReportTreeView::GetChosenNode() const { return m_chosenId ? m_tree.Find(m_chosenId) : nullptr; }

std::string CKSReportTreeView::ItemMachine(const CObjectNode* node) const {
  std::vector<rc::ReportPathStep> path;
  for (const CObjectNode* at = node; at; at = CObjectTree::Parent(at)) path.push_back({at->Type(), at->Text()});
  std::reverse(path.begin(), path.end());
  return rc::ReportItemMachine(path);
}

void CKSReportTreeView::NotifyViews(const CObjectNode* node) {
  if (CKSMgrDoc* pDoc = GetDocument(); pDoc && node) pDoc->UpdateAllViews(this, static_cast<LPARAM>(node->id));
}

void CKSReportTreeView::Choose(CObjectNode* node) {
  if (!node || (KindOf(node) != rc::kReportSetItem && KindOf(node) != rc::kCustomReportItem)) return;
  if (CObjectNode* previous = GetChosenNode(); previous && previous != node)
    m_tree.SetState(previous, KS_STATE_UNCHECKED);
  m_tree.SetState(node, KS_STATE_CHECKED);
  m_chosenId = node->id;
}

void CKSReportTreeView::ForgetChoice() {
  m_chosenId = 0;
  if (CKSMgrDoc* pDoc = GetDocument()) {
    pDoc->m_strReportMachine.clear();
    pDoc->m_strReportName.clear();
    pDoc->m_nCustomReport = 0;
  }
}

int CKSReportTreeView::SaveReportData() {
  CKSMgrDoc* pDoc = GetDocument();
  CObjectNode* node = GetChosenNode();
  if (!node) {
    CObjectNode* selected = GetSelectedNode();
    if (selected && (KindOf(selected) == rc::kReportSetItem || KindOf(selected) == rc::kCustomReportItem))
      node = selected;
  }
  if (node && CObjectTree::Parent(node) && CObjectTree::Parent(CObjectTree::Parent(node))) {
    const std::string machine = ItemMachine(node);
    if (pDoc) {
      pDoc->m_strReportMachine = QString::fromStdString(machine);
      pDoc->m_strReportName = QString::fromStdString(node->Text());
      pDoc->m_nCustomReport = KindOf(node) == rc::kCustomReportItem ? 1 : 0;
    }
    Choose(node);
    return 1;
  }
  if (pDoc) {
    pDoc->m_strReportMachine.clear();
    pDoc->m_strReportName.clear();
  }
  return 0;
}

void CKSReportTreeView::OnItemExpanded(const QModelIndex& index) {
  CObjectNode* node = m_pModel->Node(index);
  if (!node || node->expandedOnce || !node->hasButton) return;
  const CWaitCursor wait;
  Populate(node);
}

void CKSReportTreeView::InsertMachineFolders(CObjectNode* machine) {
  m_tree.InsertKSItem(machine, vn::console::KS_INSERT_FIRST, Text(rc::IDS_USER_FILTERS), KS_STATE_NONE, false,
                      Kind(rc::kUserFilterFolder));
  m_tree.InsertKSItem(machine, vn::console::KS_INSERT_FIRST, Text(rc::IDS_REPORT_SETS), KS_STATE_NONE, true,
                      Kind(rc::kReportSetFolder));
  m_tree.InsertKSItem(machine, vn::console::KS_INSERT_LAST, Text(rc::IDS_CUSTOM_REPORTS), KS_STATE_NONE, true,
                      Kind(rc::kCustomReportFolder));
  m_tree.SortChildren(machine, [](const CObjectNode& a, const CObjectNode& b) {
    return rc::ReportChildLess({a.Type(), a.Text()}, {b.Type(), b.Text()});
  });
}

void CKSReportTreeView::Populate(CObjectNode* node) {
  node->expandedOnce = true;
  const std::uint64_t id = node->id;
  const std::string machine = ItemMachine(node);
  using Names = std::vector<std::string>;
  // Reads names off this thread, then adds them as children of `kind` to the
  // item if it is still there.
  auto fill = [this, id](auto read, int kind, int state, bool hasButton) {
    m_pWork->Run(read, [this, id, kind, state, hasButton](Names& names) {
      CObjectNode* item = m_tree.Find(id);
      if (!item) return;
      // Items shown meanwhile (a paste or a new set) are not added twice.
      std::unordered_set<std::string> shown;
      for (const auto& child : item->children) shown.insert(vn::ToUpperAscii(child->Text()));
      std::vector<vn::console::NewItem> items;
      items.reserve(names.size());
      for (std::string& name : names)
        if (!shown.count(vn::ToUpperAscii(name))) items.push_back({std::move(name), hasButton});
      m_tree.AppendItems(item, items, Kind(kind), state);
      if (kind == rc::kReportSetItem)
        m_tree.SortChildren(item, [](const CObjectNode& a, const CObjectNode& b) {
          return rc::ReportTextLess(a.Text(), b.Text());
        });
      FinishPopulate(item);
    });
  };
  switch (KindOf(node)) {
    case rc::kReportLocalRoot:
    case rc::kReportMachine: {
      InsertMachineFolders(node);
      if (machine.empty()) break;
      CObjectNode* folder = ChildOfKind(node, rc::kUserFilterFolder);
      folder->expandedOnce = true;
      const std::uint64_t folderId = folder->id;
      m_pWork->Run(
          [machine] {
            std::vector<rc::UserFilterRecord> filters;
            (void)rc::ReadUserFilters(machine, filters);  // a machine that cannot be read shows none
            return filters;
          },
          [this, folderId](std::vector<rc::UserFilterRecord>& filters) {
            CObjectNode* item = m_tree.Find(folderId);
            if (!item) return;
            for (const rc::UserFilterRecord& filter : filters) AddUserFilterItem(item, filter.name);
          });
      break;
    }
    case rc::kReportNetworkRoot:
    case rc::kReportDomain: {
      const bool domain = KindOf(node) == rc::kReportDomain;
      const std::string text = node->Text();
      fill(
          [domain, text] {
            Names names;
            vn::console::GetNetResource(nullptr, domain ? &text : nullptr, nullptr, names, false);
            return names;
          },
          domain ? rc::kReportMachine : rc::kReportDomain, KS_STATE_NONE, true);
      break;
    }
    case rc::kReportSetFolder:
      if (machine.empty()) {
        FinishPopulate(node);
        break;
      }
      fill(
          [machine] {
            Names names;
            (void)rc::ReadReportSetNames(machine, names);
            return names;
          },
          rc::kReportSetItem, KS_STATE_UNCHECKED, false);
      break;
    case rc::kCustomReportFolder:
      if (machine.empty()) {
        FinishPopulate(node);
        break;
      }
      fill(
          [machine] {
            Names names;
            (void)rc::ReadCustomReportNames(machine, names);
            return names;
          },
          rc::kCustomReportItem, KS_STATE_UNCHECKED, false);
      break;
    default:
      break;
  }
}

void CKSReportTreeView::FinishPopulate(CObjectNode* node) {
  if (!node->HasChildren()) m_tree.SetButton(node, false);
  if (m_pendingFolder == node->id) {
    m_pendingFolder = 0;
    for (const auto& child : node->children)
      if (rc::ReportTextEqual(child->Text(), m_strPendingName)) SelectNode(child.get());
  }
}

void CKSReportTreeView::ShowStoredItem(CObjectNode* folder, int kind, const std::string& name, bool select) {
  if (!folder->expandedOnce) {
    // Its first filling reads the new item with the others.
    if (select) {
      m_pendingFolder = folder->id;
      m_strPendingName = name;
    }
    m_tree.SetButton(folder, true);
    Populate(folder);
    Expand(folder);
    return;
  }
  CObjectNode* item = nullptr;
  for (const auto& child : folder->children)
    if (rc::ReportTextEqual(child->Text(), name)) item = child.get();
  if (!item) item = m_tree.InsertKSItem(folder, vn::console::KS_INSERT_SORT, name, KS_STATE_UNCHECKED, false, Kind(kind));
  m_tree.SetButton(folder, true);
  Expand(folder);
  if (select) SelectNode(item);
}

CObjectNode* CKSReportTreeView::AddUserFilterItem(CObjectNode* folder, const std::string& name) {
  for (const auto& child : folder->children)
    if (child->Text() == name) return child.get();
  return m_tree.InsertKSItem(folder, vn::console::KS_INSERT_SORT, name, KS_STATE_NONE, false,
                             Kind(rc::kUserFilterItem));
}

void CKSReportTreeView::OnUserFilterAdded(const std::string& text) {
  const std::optional<rc::PasteSource> added = rc::SplitReportClipText(text);
  if (!added) return;
  const std::string_view machine =
      std::string_view(added->machine).starts_with("\\\\") ? std::string_view(added->machine).substr(2) : added->machine;
  CObjectNode* mine = m_tree.FirstRoot();
  if (mine && rc::ReportTextEqual(machine, ItemMachine(mine)))
    if (CObjectNode* folder = ChildOfKind(mine, rc::kUserFilterFolder)) AddUserFilterItem(folder, added->name);
  CObjectNode* network = m_tree.Top()->children.size() > 1 ? m_tree.Top()->children[1].get() : nullptr;
  if (!network) return;
  for (const auto& domain : network->children) {
    for (const auto& item : domain->children) {
      if (KindOf(item.get()) != rc::kReportMachine || !rc::ReportTextEqual(item->Text(), machine)) continue;
      if (CObjectNode* folder = ChildOfKind(item.get(), rc::kUserFilterFolder)) AddUserFilterItem(folder, added->name);
      return;
    }
  }
}

void CKSReportTreeView::OnCurrentChanged(const QModelIndex& current) {
  CObjectNode* node = m_pModel->Node(current);
  if (!node) return;
  NotifyViews(node);
  if (KindOf(node) != rc::kReportSetItem && KindOf(node) != rc::kCustomReportItem) return;
  if (!GetChosenNode()) Choose(node);
  if (bShowReportInfo) ShowReportInfo(node);
}

void CKSReportTreeView::ShowReportInfo(const CObjectNode* node) {
  CReportInfoDlg dialog(QString::fromStdString(ItemMachine(node)), QString::fromStdString(node->Text()), this);
  dialog.exec();
  bShowReportInfo = dialog.IsDontShowChecked() ? FALSE : TRUE;
}

std::unique_ptr<QMenu> CKSReportTreeView::CreateContextMenu() {
  auto menu = std::make_unique<QMenu>(this);
  const auto add = [this, &menu](UINT nID, const QString& text) { AddCommandAction(*menu, this, nID, text); };
  add(rc::ID_OBJECT_NEW, QStringLiteral("&New..."));
  add(rc::ID_REPORT_PROPERTIES, QStringLiteral("&Properties"));
  add(rc::ID_OBJECT_DELETE, QStringLiteral("&Delete\tDel"));
  menu->addSeparator();
  add(rc::ID_REPORT_COPY, QStringLiteral("&Copy\tCtrl+C"));
  add(rc::ID_REPORT_PASTE, QStringLiteral("&Paste\tCtrl+V"));
  return menu;
}

void CKSReportTreeView::OnContextMenu(const QPoint& pos) {
  const QModelIndex under = m_pTreeWidget->indexAt(pos);
  if (under.isValid()) m_pTreeWidget->setCurrentIndex(under);
  const std::unique_ptr<QMenu> menu = CreateContextMenu();
  menu->exec(m_pTreeWidget->viewport()->mapToGlobal(pos));
}

void CKSReportTreeView::RunIfEnabled(UINT nID) { RunCommandIfEnabled(this, nID); }
