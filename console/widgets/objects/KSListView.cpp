#include "console/widgets/objects/KSListView.h"

#include <QHeaderView>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "console/core/objects/BackgroundWork.h"
#include "console/core/support/Resources.h"
#include "console/widgets/objects/KSTreeView.h"
#include "console/widgets/support/KSMgrDoc.h"
#include "ui/WaitCursor.h"

IMPLEMENT_DYNCREATE(CKSListView, CView)

using vn::console::InfoRow;

namespace {

// Reading one item's facts at a time is all the pane needs; a second slot lets
// a new selection start while a slow machine still answers the previous one.
constexpr int kReadingThreads = 2;

}  // namespace

CKSListView::CKSListView()
    : m_pList(new QTreeWidget(this)), m_pWork(std::make_unique<vn::console::CBackgroundWork>(kReadingThreads)) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(m_pList);
  m_pList->setRootIsDecorated(false);
  m_pList->setSelectionMode(QAbstractItemView::SingleSelection);
  m_pList->setColumnCount(2);
  const QStringList headers =
      QString::fromUtf8(vn::console::KSLoadString(vn::console::IDS_MACHINE_INFO_COLUMNS)).split(QLatin1Char(';'), Qt::SkipEmptyParts);
  m_pList->setHeaderLabels(headers);
  const int width = m_pList->fontMetrics().horizontalAdvance(QStringLiteral("123465678901234567890")) + 15;
  m_pList->setColumnWidth(0, width);
  m_pList->setColumnWidth(1, width);
  m_pList->headerItem()->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
  m_pList->header()->setStretchLastSection(false);
}

CKSListView::~CKSListView() {
  m_pWork.reset();
  if (CKSMgrDoc* pDoc = GetDocument(); pDoc && pDoc->m_pListView == this) pDoc->m_pListView = nullptr;
}

CKSMgrDoc* CKSListView::GetDocument() const { return dynamic_cast<CKSMgrDoc*>(CView::GetDocument()); }

int CKSListView::PendingWork() const { return m_pWork->Pending(); }

void CKSListView::OnInitialUpdate() {
  if (CKSMgrDoc* pDoc = GetDocument()) pDoc->m_pListView = this;
}

void CKSListView::OnUpdate(CView* pSender, LPARAM lHint, CObject*) {
  CKSMgrDoc* pDoc = GetDocument();
  auto* pTree = dynamic_cast<CKSTreeView*>(pSender);
  if (!pDoc || !pTree || pTree != pDoc->m_pTreeView || lHint == 0) return;
  const vn::console::CObjectNode* node = pTree->FindNode(lHint);
  if (!node) return;
  const CWaitCursor wait;
  m_pList->clear();
  m_nItem = node->id;
  const KSItemType type = node->Type();
  const std::string text = node->Text();
  const std::string path = vn::console::CObjectTree::GetFullPath(node);
  const std::uint64_t id = node->id;
  m_pWork->Run([type, text, path] { return vn::console::MachineInfoRows(type, text, path); },
               [this, id](std::vector<InfoRow>& rows) {
                 if (id == m_nItem) ShowRows(rows);
               });
}

void CKSListView::ShowRows(const std::vector<InfoRow>& rows) {
  QList<QTreeWidgetItem*> items;
  for (const InfoRow& row : rows) {
    auto* item = new QTreeWidgetItem(QStringList{QString::fromStdString(row.label), QString::fromStdString(row.value)});
    item->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
    items.push_back(item);
  }
  m_pList->addTopLevelItems(items);
}
