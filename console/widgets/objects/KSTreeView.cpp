#include "console/widgets/objects/KSTreeView.h"

#include <QAction>
#include <QCoreApplication>
#include <QEventLoop>
#include <QHeaderView>
#include <QMenu>
#include <QShortcut>
#include <QTreeView>
#include <QVBoxLayout>

#include "console/core/deploy/ServerDeploy.h"
#include "console/core/objects/ObjectEnumeration.h"
#include "console/core/objects/ObjectTreeLoader.h"
#include "console/core/support/Resources.h"
#include "console/widgets/deploy/DeployWindows.h"
#include "console/widgets/objects/AddPreferredMachineDlg.h"
#include "console/widgets/objects/ObjectTreeModel.h"
#include "console/widgets/objects/ObjectTreeWidget.h"
#include "console/widgets/reports/SelectReportDlg.h"
#include "console/widgets/run/ReportRun.h"
#include "console/widgets/serverprops/ServerPropertySheet.h"
#include "console/widgets/support/KSMgrDoc.h"
#include "platform/core/AsciiText.h"
#include "platform/ipc/Sync.h"
#include "platform/machine/Machine.h"
#include "ui/CmdUI.h"
#include "ui/MDIFrameWnd.h"
#include "ui/WaitCursor.h"
#include "ui/WinApp.h"

IMPLEMENT_DYNCREATE(CKSTreeView, CView)

using vn::console::CObjectNode;
using vn::console::CObjectTree;

CKSTreeView::CKSTreeView()
    : m_pModel(std::make_unique<vn::console::CObjectTreeModel>(m_tree)),
      m_pLoader(std::make_unique<vn::console::CObjectTreeLoader>(m_tree)),
      m_pTreeWidget(new vn::console::CObjectTreeWidget(this)) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(m_pTreeWidget);
  m_pTreeWidget->setModel(m_pModel.get());
  m_pTreeWidget->setHeaderHidden(true);
  m_pTreeWidget->setRootIsDecorated(true);
  m_pTreeWidget->setUniformRowHeights(true);  // big folders lay out in one step
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
  m_pModel->SetClickCallback([this](CObjectNode* node, int oldState) { OnCheckClicked(node, oldState); });

  // Keys of the tree's commands, routed like their menu entries.
  auto* refresh = new QShortcut(QKeySequence(Qt::Key_F5), this, nullptr, nullptr, Qt::WidgetWithChildrenShortcut);
  connect(refresh, &QShortcut::activated, this, [this] { OnCmdMsg(vn::console::ID_OBJECT_REFRESH, 0, nullptr); });
  auto* remove = new QShortcut(QKeySequence(Qt::Key_Delete), this, nullptr, nullptr, Qt::WidgetWithChildrenShortcut);
  connect(remove, &QShortcut::activated, this, [this] {
    RunCommandIfEnabled(this, vn::console::ID_OBJECT_DELETE);
  });

  MapCommand(vn::console::ID_OBJECT_REFRESH, &CKSTreeView::OnRefresh);
  MapCommand(vn::console::ID_CLEAR_SELECTIONS, &CKSTreeView::OnClearSelections);
  MapCommand(vn::console::ID_OBJECT_NEW, &CKSTreeView::OnNew);
  MapUpdateCommand(vn::console::ID_OBJECT_NEW, &CKSTreeView::OnUpdateNew);
  MapCommand(vn::console::ID_OBJECT_DELETE, &CKSTreeView::OnDelete);
  MapUpdateCommand(vn::console::ID_OBJECT_DELETE, &CKSTreeView::OnUpdateDelete);
  MapCommand(vn::console::ID_REPORT_RUN, &CKSTreeView::OnRun);
  MapUpdateCommand(vn::console::ID_REPORT_RUN, &CKSTreeView::OnUpdateRun);
  MapCommand(vn::console::ID_KSINSTALL_SERVER, &CKSTreeView::OnKsinstallServer);
  MapUpdateCommand(vn::console::ID_KSINSTALL_SERVER, &CKSTreeView::OnUpdateKsinstallServer);
  MapCommand(vn::console::ID_KSDEINSTALL_SERVER, &CKSTreeView::OnKsdeinstallServer);
  MapUpdateCommand(vn::console::ID_KSDEINSTALL_SERVER, &CKSTreeView::OnUpdateKsdeinstallServer);
  MapCommand(vn::console::ID_PROPERTY, &CKSTreeView::OnProperty);
  MapUpdateCommand(vn::console::ID_PROPERTY, &CKSTreeView::OnUpdateProperty);
  connect(m_pTreeWidget, &QTreeView::doubleClicked, this, [this](const QModelIndex& index) { OnDoubleClicked(index); });
  m_pLoader->SetPopulatedCallback([this](CObjectNode* node) { m_populatedId = node->id; });
  // Folders of a big listing learn whether they can be expanded when shown.
  static_cast<vn::console::CObjectTreeWidget*>(m_pTreeWidget)
      ->SetShownUntestedCallback([this](std::vector<std::uint64_t> ids) { m_pLoader->TestButtons(ids); });

  // A second view gets another handle to the same event, in whatever state
  // the runs have left it.
  m_hReportFinished = CreateEventA(nullptr, TRUE, TRUE, kReportFinishedEventName);
}

CKSTreeView::~CKSTreeView() {
  if (m_bShown) m_pLoader->SavePreferences();
  if (CKSMgrDoc* pDoc = GetDocument(); pDoc && pDoc->m_pTreeView == this) pDoc->m_pTreeView = nullptr;
  m_pTreeWidget->setModel(nullptr);
  m_pLoader.reset();      // no listing result reaches the tree from here on
  m_tree.DeleteAllItems();
  if (m_hReportFinished) CloseHandle(m_hReportFinished);
}

CKSMgrDoc* CKSTreeView::GetDocument() const { return dynamic_cast<CKSMgrDoc*>(CView::GetDocument()); }

void CKSTreeView::OnInitialUpdate() {
  if (CKSMgrDoc* pDoc = GetDocument()) pDoc->m_pTreeView = this;
  if (m_bShown) return;
  m_bShown = true;
  char name[16] = {};
  DWORD size = sizeof name;
  if (GetComputerNameA(name, &size)) m_strLocalName = name;
  m_pLoader->InsertRoots();
  CObjectNode* first = m_tree.FirstRoot();
  Expand(first);
  SelectNode(first);
  m_pTreeWidget->setFocus();
}

int CKSTreeView::SaveObject() {
  if (CKSMgrDoc* pDoc = GetDocument()) return m_tree.SaveObject(*pDoc);
  return 1;
}

CObjectNode* CKSTreeView::FindNode(LPARAM lHint) const { return m_tree.Find(static_cast<std::uint64_t>(lHint)); }

CObjectNode* CKSTreeView::GetSelectedNode() const { return m_pModel->Node(m_pTreeWidget->currentIndex()); }

void CKSTreeView::SelectNode(const CObjectNode* node) {
  if (node) m_pTreeWidget->setCurrentIndex(m_pModel->Index(node));
}

void CKSTreeView::Expand(const CObjectNode* node) {
  if (node) m_pTreeWidget->expand(m_pModel->Index(node));
}

void CKSTreeView::OnItemExpanded(const QModelIndex& index) {
  CObjectNode* node = m_pModel->Node(index);
  if (!node || node->expandedOnce) return;
  const CWaitCursor wait;
  m_pLoader->PopulateTreeNode(node);
}

void CKSTreeView::OnCurrentChanged(const QModelIndex& current) {
  const CObjectNode* node = m_pModel->Node(current);
  if (CKSMgrDoc* pDoc = GetDocument(); pDoc && node) pDoc->UpdateAllViews(this, static_cast<LPARAM>(node->id));
}

void CKSTreeView::OnCheckClicked(CObjectNode* node, int oldState) {
  // A domain checked before its machines were listed lists them now; they
  // arrive checked, as children of a checked item do.
  if (node->Type() == KS_DOMAIN && oldState == KS_STATE_UNCHECKED && node->state == KS_STATE_CHECKED &&
      !node->HasChildren())
    m_pLoader->PopulateTreeNode(node);
}

std::unique_ptr<QMenu> CKSTreeView::CreateContextMenu() {
  auto menu = std::make_unique<QMenu>(this);
  const auto add = [this, &menu](UINT nID, const QString& text) { AddCommandAction(*menu, this, nID, text); };
  add(vn::console::ID_OBJECT_REFRESH, QStringLiteral("&Refresh\tF5"));
  add(vn::console::ID_CLEAR_SELECTIONS, QStringLiteral("C&lear Selections"));
  menu->addSeparator();
  add(vn::console::ID_OBJECT_NEW, QStringLiteral("&New..."));
  add(vn::console::ID_OBJECT_DELETE, QStringLiteral("&Delete\tDel"));
  menu->addSeparator();
  add(vn::console::ID_REPORT_RUN, QStringLiteral("Run..."));
  menu->addSeparator();
  add(vn::console::ID_KSINSTALL_SERVER, QStringLiteral("&Install Server..."));
  add(vn::console::ID_KSDEINSTALL_SERVER, QStringLiteral("&Deinstall Server..."));
  add(vn::console::ID_PROPERTY, QStringLiteral("Pr&operties..."));
  return menu;
}

void CKSTreeView::OnContextMenu(const QPoint& pos) {
  const QModelIndex under = m_pTreeWidget->indexAt(pos);
  if (under.isValid()) m_pTreeWidget->setCurrentIndex(under);
  const std::unique_ptr<QMenu> menu = CreateContextMenu();
  menu->exec(m_pTreeWidget->viewport()->mapToGlobal(pos));
}

void CKSTreeView::OnRefresh() {
  const CWaitCursor wait;
  m_pLoader->Refresh();
}

void CKSTreeView::OnClearSelections() {
  for (const auto& root : m_tree.Top()->children) m_tree.ResetChildrenState(root.get(), false);
}

bool CKSTreeView::IsPreferredMachine(const CObjectNode* node) const {
  return node && node->Type() == KS_MACHINE && CObjectTree::Parent(node) &&
         CObjectTree::Parent(node)->Type() == KS_PREFERRED_MACHINES;
}

void CKSTreeView::OnUpdateNew(CCmdUI* pCmdUI) {
  const CObjectNode* node = GetSelectedNode();
  pCmdUI->Enable(node && node->Type() == KS_PREFERRED_MACHINES);
}

void CKSTreeView::OnNew() {
  CObjectNode* root = GetSelectedNode();
  if (!root || root->Type() != KS_PREFERRED_MACHINES) return;
  CAddPreferredMachineDlg dialog(this);
  if (dialog.exec() != QDialog::Accepted) return;
  const std::string name = dialog.GetMachineName().toStdString();
  for (const auto& child : root->children) {
    if (vn::EqualsIgnoringCase(child->Text(), name)) {
      SelectNode(child.get());
      return;
    }
  }
  const CObjectNode* added = m_tree.InsertKSItem(root, vn::console::KS_INSERT_SORT, name, KS_STATE_UNCHECKED, true,
                                                 KS_MACHINE);
  Expand(root);
  SelectNode(added);
}

void CKSTreeView::OnUpdateDelete(CCmdUI* pCmdUI) { pCmdUI->Enable(IsPreferredMachine(GetSelectedNode())); }

void CKSTreeView::OnDelete() {
  CObjectNode* node = GetSelectedNode();
  if (IsPreferredMachine(node)) m_tree.DeleteItem(node);
}

void CKSTreeView::OnUpdateRun(CCmdUI* pCmdUI) {
  pCmdUI->Enable(m_hReportFinished && WaitForSingleObject(m_hReportFinished, 0) == WAIT_OBJECT_0);
}

CObjectNode* CKSTreeView::PopulateAndWait(CObjectNode* node) {
  const std::uint64_t id = node->id;
  m_populatedId = 0;
  m_pLoader->PopulateTreeNode(node);  // nothing new when its listing is under way
  // The browse list is this machine's own, so the wait is short; it ends at
  // the latest when the loader has nothing left to apply.
  while (m_populatedId != id && m_tree.Find(id) && m_pLoader->PendingWork() > 0)
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents | QEventLoop::ExcludeUserInputEvents);
  return m_tree.Find(id);
}

bool CKSTreeView::CheckCurrentItem() {
  CObjectNode* node = GetSelectedNode();
  if (!node || node->Type() < KS_DOMAIN || node->Type() > KS_FOLDER) return false;
  if (node->Type() == KS_DOMAIN && !node->HasChildren()) {
    const CWaitCursor wait;
    node = PopulateAndWait(node);
    if (!node) return false;
  }
  m_tree.SetState(node, KS_STATE_CHECKED);
  m_tree.ResetParentState(node, false);
  m_tree.ResetChildrenState(node, true);
  SaveObject();
  return true;
}

void CKSTreeView::OnRun() {
  CKSMgrDoc* pDoc = GetDocument();
  if (!pDoc) return;
  SaveObject();
  if (!pDoc->HasObjects() && !CheckCurrentItem()) return;

  CSelectReportDlg picker(CSelectReportDlg::kReportSet, QString::fromStdString(m_strLocalName), nullptr, this);
  if (picker.exec() != QDialog::Accepted) return;
  const auto* pMainWnd = dynamic_cast<const CMDIFrameWnd*>(AfxGetMainWnd());
  if (!pMainWnd) return;

  // The report thread frees the context and the channel thread the entry once
  // the main window has taken them over; until then they are ours.
  auto context = std::make_unique<ReportRunContext>();
  auto entry = std::make_unique<ProgressChannelEntry>();
  context->hNotifyWnd = pMainWnd->GetSafeHwnd();
  context->reportMachine = picker.GetMachine().toStdString();
  context->reportName = picker.GetName().toStdString();
  const std::vector<std::string>& local = pDoc->LocalObjects();
  for (std::size_t i = 0; i < local.size(); ++i) context->localObjects += (i ? ";" : "") + local[i];
  context->remoteObjects = pDoc->NetworkObjects();
  SetRunPipeNames(context.get(), entry.get());
  if (SendStartRun(pMainWnd->GetSafeHwnd(), {context.get(), entry.get()}) == 1) {
    context.release();
    entry.release();
  }
}

std::string CKSTreeView::MachineOf(const CObjectNode* node) const {
  if (!node || (node->Type() != KS_MACHINE && node->Type() != KS_MY_COMPUTER)) return {};
  if (CObjectTree::Parent(node)) return node->Text();
  return m_strLocalName;
}

std::string CKSTreeView::SelectedMachine() const { return MachineOf(GetSelectedNode()); }

int CKSTreeView::ServerStateOf(const std::string& machine) const {
  if (machine.empty() || !vn::console::IsNTMachine(machine)) return -1;
  return vn::console::GetServerInstallState(machine);
}

void CKSTreeView::OnUpdateKsinstallServer(CCmdUI* pCmdUI) {
  const int state = ServerStateOf(SelectedMachine());
  pCmdUI->Enable(state == vn::console::kNotInstalled || state == vn::console::kOlderBuild);
  pCmdUI->SetText(state == vn::console::kOlderBuild ? QStringLiteral("&Update Server...")
                                                    : QStringLiteral("&Install Server..."));
}

void CKSTreeView::OnKsinstallServer() {
  const std::string machine = SelectedMachine();
  if (!machine.empty()) KSPushInstall(this, machine);
}

void CKSTreeView::OnUpdateKsdeinstallServer(CCmdUI* pCmdUI) {
  pCmdUI->Enable(ServerStateOf(SelectedMachine()) >= vn::console::kOlderBuild);
}

void CKSTreeView::OnKsdeinstallServer() {
  const std::string machine = SelectedMachine();
  if (!machine.empty()) KSDeinstallServer(this, machine);
}

void CKSTreeView::OnUpdateProperty(CCmdUI* pCmdUI) {
  pCmdUI->Enable(ServerStateOf(SelectedMachine()) >= vn::console::kOlderBuild);
}

void CKSTreeView::OnProperty() {
  const std::string machine = SelectedMachine();
  if (!machine.empty()) KSShowServerProperties(this, machine);
}

void CKSTreeView::OnDoubleClicked(const QModelIndex& index) {
  // Other items keep the tree's own double click (open or close).
  const std::string machine = MachineOf(m_pModel->Node(index));
  if (machine.empty()) return;
  bool qualifies = false;
  {
    const CWaitCursor wait;
    qualifies = ServerStateOf(machine) == vn::console::kNotInstalled;
  }
  if (qualifies) KSPushInstall(this, machine);
}
