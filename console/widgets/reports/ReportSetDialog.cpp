#include "console/widgets/reports/ReportSetDialog.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include "console/core/reports/OptionPages.h"
#include "console/widgets/reports/CriteriaPages.h"
#include "console/widgets/reports/OutputPages.h"
#include "ui/HelpContext.h"

using namespace vn::console;

CReportSetDialog::CReportSetDialog(ReportSet& set, const QString& strName, QWidget* parent)
    : QDialog(parent),
      m_set(set),
      m_pName(new QLineEdit(strName, this)),
      m_pReports(new QListWidget(this)),
      m_pTabs(new QTabWidget(this)),
      m_pOk(nullptr),
      m_pDate(new CDateCriteriaPage(this)),
      m_pDirectory(new CDirectoryCriteriaPage(this)),
      m_pDuplicate(new CDuplicateCriteriaPage(this)),
      m_pSize(new CSizeCriteriaPage(this)),
      m_pWasted(new CWastedSpaceCriteriaPage(this)),
      m_pFilter(new CReportFilterPage(this)),
      m_pDetail(new CDetailColumnsPage(this)),
      m_pOutput(new CReportOutputPage(this)),
      m_bNew(strName.isEmpty()) {
  setWindowTitle(QStringLiteral("Report Set"));
  AfxSetHelpContext(this, HID_BASE_RESOURCE + 415);
  m_pName->setReadOnly(!m_bNew);
  m_pName->setMaxLength(100);
  // The pages live in the tab window only while the current report shows them.
  for (QWidget* page : std::initializer_list<QWidget*>{m_pDate, m_pDirectory, m_pDuplicate, m_pSize, m_pWasted,
                                                       m_pFilter, m_pDetail, m_pOutput})
    page->hide();

  auto* left = new QVBoxLayout;
  left->addWidget(new QLabel(QStringLiteral("Report Set Name:"), this));
  left->addWidget(m_pName);
  left->addWidget(new QLabel(QStringLiteral("Standard Reports:"), this));
  left->addWidget(m_pReports, 1);
  m_pReports->setMinimumWidth(m_pReports->fontMetrics().horizontalAdvance(QStringLiteral("Files With Undefined Owners")) + 48);

  auto* body = new QHBoxLayout;
  body->addLayout(left);
  body->addWidget(m_pTabs, 1);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  m_pOk = buttons->button(QDialogButtonBox::Ok);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(body, 1);
  layout->addWidget(buttons);
  resize(760, 460);

  connect(m_pName, &QLineEdit::textChanged, this, [this] { UpdateOk(); });
  UpdateOk();
}

CReportSetDialog::~CReportSetDialog() {
  // Pages that are not in the tab window are still children of the dialog and
  // go with it; the tab window gives back the ones it holds.
  while (m_pTabs->count() > 0) m_pTabs->removeTab(0);
}

void CReportSetDialog::SetNotifyWindow(HWND hWnd) { m_pFilter->SetNotifyWindow(hWnd); }

QString CReportSetDialog::GetName() const { return m_pName->text(); }

void CReportSetDialog::showEvent(QShowEvent* event) {
  Start();
  QDialog::showEvent(event);
}

void CReportSetDialog::Start() {
  if (m_pReports->count() > 0) return;
  int first = -1;
  for (int index = 0; index < ReportSet::size(); ++index) {
    const std::string_view name = ReportNameFromIndex(index);
    auto* item = new QListWidgetItem(QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size())), m_pReports);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    const bool selected = m_set[index].Selected != 0;
    item->setCheckState(selected ? Qt::Checked : Qt::Unchecked);
    if (selected && first < 0) first = index;
  }
  int current = first < 0 ? 0 : first;
  if (m_nInitialReport >= 0 && m_nInitialReport < ReportSet::size()) current = m_nInitialReport;
  connect(m_pReports, &QListWidget::currentRowChanged, this, [this](int row) { OnRowChanged(row); });
  m_pReports->setCurrentRow(current);
}

void CReportSetDialog::SelectReport(int nIndex) {
  Start();
  m_pReports->setCurrentRow(nIndex);
}

void CReportSetDialog::OnRowChanged(int nRow) {
  if (nRow < 0 || nRow >= ReportSet::size() || nRow == m_nCurrent) return;
  StorePages();
  m_nCurrent = nRow;
  ShowPages(nRow);
}

void CReportSetDialog::ShowPages(int nIndex) {
  const ReportOptions& options = m_set[nIndex].Options;
  const std::vector<OptionTab> tabs = PagesForServerCode(ServerCodeFromIndex(nIndex));
  std::vector<COptionPage*> pages;
  for (const OptionTab& tab : tabs) {
    switch (tab.kind) {
      case OptionPageKind::kDateCriteria: pages.push_back(m_pDate); break;
      case OptionPageKind::kDirectoryCriteria: pages.push_back(m_pDirectory); break;
      case OptionPageKind::kDuplicateCriteria: pages.push_back(m_pDuplicate); break;
      case OptionPageKind::kSizeCriteria:
        m_pSize->SetForm(tab.form);
        pages.push_back(m_pSize);
        break;
      case OptionPageKind::kWastedSpaceCriteria: pages.push_back(m_pWasted); break;
      case OptionPageKind::kFilter: pages.push_back(m_pFilter); break;
      case OptionPageKind::kDetail: pages.push_back(m_pDetail); break;
      case OptionPageKind::kOutput: pages.push_back(m_pOutput); break;
    }
  }
  // Tab i takes page i; tabs past the new count go.
  for (std::size_t i = 0; i < pages.size(); ++i) {
    const int tab = static_cast<int>(i);
    pages[i]->Load(options);
    if (m_pTabs->widget(tab) != pages[i]) {
      const int at = m_pTabs->indexOf(pages[i]);
      if (at >= 0) m_pTabs->removeTab(at);
      m_pTabs->insertTab(tab, pages[i], PageTitle(tabs[i].kind));
    }
  }
  while (m_pTabs->count() > static_cast<int>(pages.size())) {
    QWidget* page = m_pTabs->widget(m_pTabs->count() - 1);
    m_pTabs->removeTab(m_pTabs->count() - 1);
    page->hide();
  }
  m_pTabs->setCurrentIndex(0);
}

void CReportSetDialog::StorePages() {
  if (m_nCurrent < 0) return;
  ReportOptions& options = m_set[m_nCurrent].Options;
  for (int tab = 0; tab < m_pTabs->count(); ++tab) {
    if (auto* page = dynamic_cast<COptionPage*>(m_pTabs->widget(tab))) page->Store(options);
  }
}

void CReportSetDialog::UpdateOk() {
  if (m_pOk) m_pOk->setEnabled(!m_bNew || !m_pName->text().isEmpty());
}

void CReportSetDialog::accept() {
  Start();
  if (m_bNew && m_pName->text().isEmpty()) return;
  for (int index = 0; index < m_pReports->count() && index < ReportSet::size(); ++index)
    m_set[index].Selected = m_pReports->item(index)->checkState() == Qt::Checked ? 1 : 0;
  StorePages();
  QDialog::accept();
}
