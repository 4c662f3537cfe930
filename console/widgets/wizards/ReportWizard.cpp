#include "console/widgets/wizards/ReportWizard.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <QTreeView>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "console/core/objects/ObjectTree.h"
#include "console/core/objects/ObjectTreeLoader.h"
#include "console/core/support/Resources.h"
#include "console/core/support/SystemErrorText.h"
#include "console/widgets/objects/ObjectTreeModel.h"
#include "console/widgets/run/ReportRun.h"
#include "console/widgets/support/ComputerBrowserDlg.h"
#include "platform/machine/Machine.h"
#include "ui/HelpContext.h"
#include "ui/MDIFrameWnd.h"
#include "ui/MessageBox.h"
#include "ui/WaitCursor.h"
#include "ui/WinApp.h"

using vn::console::CObjectNode;
using vn::console::CReportWizardChoice;

namespace {

const QString kWizardTitle = QStringLiteral("Report Wizard");

// The report wizard's picture: a report over the machines it reads, in place
// of the deployment wizards' server.
void SetReportPicture(QWidget* page) {
  auto* picture = page->findChild<QLabel*>(QStringLiteral("wizardBitmap%1").arg(IDC_WIZARD_BITMAP));
  if (!picture) return;
  const QPixmap report = page->style()->standardIcon(QStyle::SP_FileDialogContentsView).pixmap(32, 32);
  picture->setPixmap(report.scaled(64, 64, Qt::KeepAspectRatio, Qt::SmoothTransformation));
}

QLabel* WrappedLabel(const QString& text, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setWordWrap(true);
  return label;
}

// The objects page's tree model: the object tree's, except that a click on a
// partly checked item leaves it as it is.
class CWizardObjectModel : public vn::console::CObjectTreeModel {
 public:
  using CObjectTreeModel::CObjectTreeModel;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override {
    const CObjectNode* node = Node(index);
    if (role == Qt::CheckStateRole && node && node->state == KS_STATE_PARTIAL) return false;
    return CObjectTreeModel::setData(index, value, role);
  }
};

}  // namespace

CReportWizardStart::CReportWizardStart(CReportWizardChoice& choice, QWidget* parent)
    : CKSWizardPage(vn::console::IDD_REPORT_WIZARD_START,
                    {QStringLiteral("This Report Wizard guides you through the process of running Vornal Reports.")},
                    parent),
      m_choice(choice),
      m_pShowAtStartup(new QCheckBox(QStringLiteral("&Always Display Wizard at Startup"), this)) {
  setTitle(kWizardTitle);
  SetReportPicture(this);
  m_pShowAtStartup->setObjectName(QStringLiteral("check%1").arg(IDC_WIZARD_SHOW_AT_STARTUP));
  m_pShowAtStartup->setChecked(choice.bShowAtStartup != FALSE);
  connect(m_pShowAtStartup, &QCheckBox::toggled, this, [this](bool on) { m_choice.bShowAtStartup = on ? TRUE : FALSE; });
  m_pTextColumn->addWidget(m_pShowAtStartup);
}

bool CReportWizardStart::validatePage() {
  m_choice.bShowAtStartup = m_pShowAtStartup->isChecked() ? TRUE : FALSE;
  return true;
}

CReportWizardObj::CReportWizardObj(CReportWizardChoice& choice, QWidget* parent)
    : CKSWizardPage(vn::console::IDD_REPORT_WIZARD_OBJ,
                    {QStringLiteral("Choose an object or objects to run the reports against.")}, parent),
      m_choice(choice),
      m_pTree(std::make_unique<vn::console::CObjectTree>()),
      m_pModel(std::make_unique<CWizardObjectModel>(*m_pTree)),
      m_pLoader(std::make_unique<vn::console::CObjectTreeLoader>(*m_pTree)),
      m_pTreeWidget(new QTreeView(this)) {
  setTitle(kWizardTitle);
  SetReportPicture(this);
  m_pTreeWidget->setObjectName(QStringLiteral("tree%1").arg(IDC_WIZARD_OBJECT_TREE));
  m_pTreeWidget->setModel(m_pModel.get());
  m_pTreeWidget->setHeaderHidden(true);
  m_pTreeWidget->setUniformRowHeights(true);
  m_pTreeWidget->setEditTriggers(QAbstractItemView::NoEditTriggers);
  m_pTreeWidget->setSelectionMode(QAbstractItemView::SingleSelection);
  m_pTreeWidget->setMinimumHeight(220);
  m_pTextColumn->insertWidget(m_pTextColumn->count() - 1, m_pTreeWidget, 1);
  m_pTextColumn->setStretch(m_pTextColumn->count() - 1, 0);  // the tree takes the page's height
  connect(m_pTreeWidget, &QTreeView::expanded, this, [this](const QModelIndex& index) {
    CObjectNode* node = m_pModel->Node(index);
    if (!node || node->expandedOnce) return;
    const CWaitCursor wait;
    m_pLoader->PopulateTreeNode(node);
  });
  m_pModel->SetClickCallback([this](CObjectNode* node, int oldState) { OnCheckClicked(node, oldState); });
  // Children arrive with their parent's check state, so a domain checked
  // before it was listed brings its machines into the selection then.
  m_pLoader->SetPopulatedCallback([this](CObjectNode*) { Collect(); });
}

CReportWizardObj::~CReportWizardObj() {
  m_pTreeWidget->setModel(nullptr);
  m_pLoader.reset();  // no listing result reaches the tree from here on
  m_pModel.reset();
  m_pTree->DeleteAllItems();
}

void CReportWizardObj::initializePage() {
  if (!m_bFilled) {
    m_bFilled = true;
    m_pLoader->InsertRoots();  // reads the local computer name as it goes
    Expand(m_pTree->FirstRoot());
    if (const CObjectNode* first = m_pTree->FirstRoot()) m_pTreeWidget->setCurrentIndex(m_pModel->Index(first));
  }
  Collect();
}

bool CReportWizardObj::isComplete() const { return m_choice.objects.HasObjects(); }

bool CReportWizardObj::validatePage() {
  Collect();
  return m_choice.objects.HasObjects();
}

void CReportWizardObj::Expand(const CObjectNode* node) {
  if (node) m_pTreeWidget->expand(m_pModel->Index(node));
}

void CReportWizardObj::ClickCheck(CObjectNode* node) {
  if (node && node->state != KS_STATE_NONE)
    m_pModel->setData(m_pModel->Index(node), Qt::Checked, Qt::CheckStateRole);
}

void CReportWizardObj::OnCheckClicked(CObjectNode* node, int oldState) {
  // A domain checked before its machines were listed lists them now.
  if (node->Type() == KS_DOMAIN && oldState == KS_STATE_UNCHECKED && node->state == KS_STATE_CHECKED &&
      !node->HasChildren())
    m_pLoader->PopulateTreeNode(node);
  Collect();
}

void CReportWizardObj::Collect() {
  const bool had = m_choice.objects.HasObjects();
  vn::console::CollectWizardObjects(*m_pTree, m_choice.objects);
  if (had != m_choice.objects.HasObjects()) emit completeChanged();
}

CReportWizardRS::CReportWizardRS(CReportWizardChoice& choice, QWidget* parent)
    : CKSWizardPage(vn::console::IDD_REPORT_WIZARD_RS,
                    {QStringLiteral("Choose a Report Set to run against the selected objects.  You may modify the "
                                    "Reports Set by selecting the Report Tab in the Vornal Main Window.")},
                    parent),
      m_choice(choice),
      m_pLocation(new QComboBox(this)),
      m_pBrowse(new QPushButton(QStringLiteral("..."), this)),
      m_pSets(new QTreeWidget(this)) {
  setTitle(kWizardTitle);
  SetReportPicture(this);
  m_pLocation->setObjectName(QStringLiteral("combo%1").arg(IDC_WIZARD_LOCATION));
  m_pBrowse->setObjectName(QStringLiteral("button%1").arg(IDC_WIZARD_BROWSE));
  m_pSets->setObjectName(QStringLiteral("list%1").arg(IDC_WIZARD_SET_LIST));
  m_pBrowse->setFixedWidth(m_pBrowse->fontMetrics().horizontalAdvance(QStringLiteral("...")) + 24);
  m_pSets->setColumnCount(1);
  m_pSets->setHeaderHidden(true);
  m_pSets->setRootIsDecorated(false);
  m_pSets->setSelectionMode(QAbstractItemView::SingleSelection);
  m_pSets->header()->setStretchLastSection(false);
  m_pSets->setColumnWidth(0, 2 * m_pSets->fontMetrics().horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMN")));

  auto* locationRow = new QHBoxLayout;
  locationRow->addWidget(m_pLocation, 1);
  locationRow->addWidget(m_pBrowse);
  auto* locationLabel = new QLabel(QStringLiteral("Location of Report Sets:"), this);
  locationLabel->setBuddy(m_pLocation);
  int at = m_pTextColumn->count() - 1;
  m_pTextColumn->insertWidget(at++, locationLabel);
  m_pTextColumn->insertLayout(at++, locationRow);
  m_pTextColumn->insertWidget(at, m_pSets, 1);
  m_pTextColumn->setStretch(m_pTextColumn->count() - 1, 0);

  connect(m_pLocation, &QComboBox::activated, this, [this](int index) { ListReportSets(m_pLocation->itemText(index)); });
  connect(m_pBrowse, &QPushButton::clicked, this, &CReportWizardRS::OnBrowse);
  connect(m_pSets, &QTreeWidget::itemSelectionChanged, this, [this] {
    m_choice.reportSet = SelectedSet().toStdString();
    emit completeChanged();
  });
}

void CReportWizardRS::initializePage() {
  if (m_bListed) return;
  m_bListed = true;
  const QString location = QString::fromStdString(m_choice.location);
  m_pLocation->insertItem(0, location);
  m_pLocation->setCurrentIndex(0);
  if (!location.isEmpty()) ListReportSets(location);
}

bool CReportWizardRS::isComplete() const { return !SelectedSet().isEmpty(); }

bool CReportWizardRS::validatePage() {
  m_choice.reportSet = SelectedSet().toStdString();
  return !m_choice.reportSet.empty();
}

QString CReportWizardRS::SelectedSet() const {
  const QList<QTreeWidgetItem*> selected = m_pSets->selectedItems();
  return selected.isEmpty() ? QString() : selected.front()->text(0);
}

void CReportWizardRS::ListReportSets(const QString& machine) {
  const CWaitCursor wait;
  m_choice.location = machine.toStdString();
  m_pSets->clear();
  m_choice.reportSet.clear();
  std::vector<std::string> names;
  if (const LONG code = vn::console::ListWizardReportSets(m_choice.location, names); code != ERROR_SUCCESS) {
    AfxMessageBox(QString::fromStdString(vn::console::SystemErrorString(static_cast<DWORD>(code))),
                  MB_OK | MB_ICONEXCLAMATION);
    emit completeChanged();
    return;
  }
  const QIcon icon = style()->standardIcon(QStyle::SP_FileDialogDetailedView);
  const QFontMetrics metrics = m_pSets->fontMetrics();
  for (const std::string& name : names) {
    const QString text = QString::fromStdString(name);
    m_pSets->addTopLevelItem(new QTreeWidgetItem(QStringList{text}));
    m_pSets->topLevelItem(m_pSets->topLevelItemCount() - 1)->setIcon(0, icon);
    m_pSets->setColumnWidth(
        0, vn::console::WizardColumnWidth(m_pSets->columnWidth(0), metrics.horizontalAdvance(text)));
  }
  if (m_pSets->topLevelItemCount() > 0) m_pSets->setCurrentItem(m_pSets->topLevelItem(0));
  emit completeChanged();
}

void CReportWizardRS::AddLocation(const QString& machine) {
  m_pLocation->insertItem(0, machine);
  m_pLocation->setCurrentIndex(0);
  ListReportSets(machine);
}

void CReportWizardRS::OnBrowse() {
  CComputerBrowserDlg browser(this);
  if (browser.exec() != QDialog::Accepted) return;
  if (const QString name = browser.GetComputerName(); !name.isEmpty()) AddLocation(name);
}

CReportWizardFinish::CReportWizardFinish(CReportWizardChoice& choice, QWidget* parent)
    : CKSWizardPage(vn::console::IDD_REPORT_WIZARD_FINISH,
                    {QStringLiteral("Please verify your choice for the Object(s) and Report Set.  Click Finish to "
                                    "execute the Report.")},
                    parent),
      m_choice(choice),
      m_pSetText(new QLineEdit(this)),
      m_pObjectsText(new QPlainTextEdit(this)) {
  setTitle(kWizardTitle);
  SetReportPicture(this);
  m_pSetText->setObjectName(QStringLiteral("edit%1").arg(IDC_WIZARD_SET_TEXT));
  m_pObjectsText->setObjectName(QStringLiteral("edit%1").arg(IDC_WIZARD_OBJECTS_TEXT));
  m_pSetText->setReadOnly(true);
  m_pObjectsText->setReadOnly(true);
  int at = 1;  // below the page's text
  m_pTextColumn->insertWidget(at++, new QLabel(QStringLiteral("Report Set selected to run:"), this));
  m_pTextColumn->insertWidget(at++, m_pSetText);
  m_pTextColumn->insertWidget(at++, WrappedLabel(QStringLiteral("Object(s) to run selected Report Set against:"), this));
  m_pTextColumn->insertWidget(at, m_pObjectsText, 1);
  m_pTextColumn->setStretch(m_pTextColumn->count() - 1, 0);
}

void CReportWizardFinish::initializePage() {
  // Windows line ends in the record; the edit shows one object a line.
  QString objects = QString::fromStdString(vn::console::WizardObjectsText(m_choice.objects));
  objects.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  m_pObjectsText->setPlainText(objects);
  m_pSetText->setText(QString::fromStdString(vn::console::WizardReportSetText(m_choice)));
  m_pSetText->setFocus();
  m_pSetText->deselect();
}

CReportWizard::CReportWizard(const QString& location, BOOL bShowAtStartup, QWidget* parent)
    : QWizard(parent) {
  m_choice.location = location.toStdString();
  m_choice.bShowAtStartup = bShowAtStartup;
  setWindowTitle(kWizardTitle);
  setWizardStyle(QWizard::ClassicStyle);
  setOption(QWizard::HaveHelpButton, false);
  m_pStart = new CReportWizardStart(m_choice, this);
  m_pObjects = new CReportWizardObj(m_choice, this);
  m_pReportSet = new CReportWizardRS(m_choice, this);
  m_pFinish = new CReportWizardFinish(m_choice, this);
  setPage(kStartPage, m_pStart);
  setPage(kObjectsPage, m_pObjects);
  setPage(kReportSetPage, m_pReportSet);
  setPage(kFinishPage, m_pFinish);
  // No help button; F1 on a page shows that page's topic.
  for (CKSWizardPage* page : std::initializer_list<CKSWizardPage*>{m_pStart, m_pObjects, m_pReportSet, m_pFinish})
    AfxSetHelpContext(page, HID_BASE_RESOURCE + static_cast<DWORD>(page->TemplateId()));
  setMinimumSize(620, 440);
}

CReportWizard::~CReportWizard() = default;

BOOL CReportWizard::ShowAtStartup() const { return m_pStart->ShowAtStartupCheck()->isChecked() ? TRUE : FALSE; }

void CReportWizard::accept() {
  QWizard::accept();
  m_bRunStarted = StartWizardRun(m_choice);
}

bool StartWizardRun(const CReportWizardChoice& choice) {
  if (!choice.objects.HasObjects() || choice.reportSet.empty()) return false;
  const auto* pMainWnd = dynamic_cast<const CMDIFrameWnd*>(AfxGetMainWnd());
  if (!pMainWnd) return false;
  // The report thread frees the context and the channel thread the entry once
  // the main window has taken them over; until then they are ours.
  auto context = std::make_unique<ReportRunContext>();
  auto entry = std::make_unique<ProgressChannelEntry>();
  context->hNotifyWnd = pMainWnd->GetSafeHwnd();
  context->reportMachine = choice.location;
  context->reportName = choice.reportSet;
  const std::vector<std::string>& local = choice.objects.LocalObjects();
  for (std::size_t i = 0; i < local.size(); ++i) context->localObjects += (i ? ";" : "") + local[i];
  context->remoteObjects = choice.objects.NetworkObjects();
  SetRunPipeNames(context.get(), entry.get());
  if (SendStartRun(pMainWnd->GetSafeHwnd(), {context.get(), entry.get()}) != 1) return false;
  context.release();
  entry.release();
  return true;
}

int RunReportWizard(QWidget* parent, const QString& location, BOOL* pShowAtStartup) {
  CReportWizard wizard(location, pShowAtStartup ? *pShowAtStartup : TRUE, parent);
  const int result = wizard.exec();
  if (pShowAtStartup) *pShowAtStartup = wizard.ShowAtStartup();
  return result;
}
