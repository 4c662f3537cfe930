#include "console/widgets/reports/CustomReportDialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QTabWidget>
#include <QVBoxLayout>

#include "console/widgets/reports/CustomReportPages.h"
#include "console/widgets/reports/OutputPages.h"
#include "ui/HelpContext.h"
#include "ui/MessageBox.h"

using namespace vn::console;

namespace {

// The tabs of each class and the page each tab index stands for.
constexpr DesignPage kReportPassPages[] = {DesignPage::Detail, DesignPage::Sort, DesignPage::ReportBreak,
                                           DesignPage::FinalTotal};
constexpr DesignPage kSummaryPassPages[] = {DesignPage::SummarySort, DesignPage::SummaryTotal};

// The design page of a tab (the query tabs have none).
bool TabPage(int tabs, int index, DesignPage* page) {
  if (tabs == 0 && index >= 1 && index <= 4) {
    *page = kReportPassPages[index - 1];
    return true;
  }
  if (tabs == 1 && index >= 1 && index <= 2) {
    *page = index == 1 ? DesignPage::SummarySort : DesignPage::SummaryTotal;
    return true;
  }
  return false;
}

}  // namespace

CCustomReportDialog::CCustomReportDialog(const QString& machine, const QString& reportName, QWidget* parent)
    : QDialog(parent),
      m_design(std::make_unique<CCustomReportDesign>(machine.toStdString(), reportName.toStdString())),
      m_pName(new QLineEdit(reportName, this)),
      m_pClass(new QComboBox(this)),
      m_pStack(new QStackedWidget(this)),
      m_pTabs{new QTabWidget(this), new QTabWidget(this), new QTabWidget(this)} {
  setWindowTitle(QStringLiteral("Custom Report"));
  AfxSetHelpContext(this, HID_BASE_RESOURCE + 444);
  if (const LONG rc = m_design->Load(); rc == ERROR_INVALID_DATA) {
    AfxMessageBox(QStringLiteral("The definition of the custom report %1 is damaged: %2.\nIt opens with what could be read.")
                      .arg(reportName, QString::fromStdString(m_design->LoadMessage())),
                  MB_OK | MB_ICONEXCLAMATION);
  }
  m_design->MakePages();
  m_pName->setReadOnly(!m_design->IsNew());
  m_pName->setMaxLength(100);

  for (int i = 0; i < 6; ++i) {
    const auto page = static_cast<DesignPage>(i);
    switch (page) {
      case DesignPage::Detail: m_pages[i] = new CDetail(*m_design, this); break;
      case DesignPage::Sort: m_pages[i] = new CSort(*m_design, this); break;
      case DesignPage::ReportBreak: m_pages[i] = new CSummary(*m_design, this); break;
      case DesignPage::FinalTotal: m_pages[i] = new CFinalTotal(*m_design, this); break;
      case DesignPage::SummarySort: m_pages[i] = new CSummarySort(*m_design, this); break;
      case DesignPage::SummaryTotal: m_pages[i] = new CSummaryTotal(*m_design, this); break;
    }
    m_pages[i]->Reload();
    m_pages[i]->SetChanged([this] { UpdateTabs(); });
  }
  m_pQuery = new CQuery(*m_design, this);
  m_pSummaryQuery = new CSummaryQuery(*m_design, this);
  m_pFilter = new CReportFilterPage(this);
  m_pOutput = new CReportOutputPage(this);
  m_pFilter->Load(m_design->Options());
  m_pOutput->Load(m_design->Options());

  m_pTabs[0]->addTab(m_pQuery, QStringLiteral("Query"));
  m_pTabs[0]->addTab(Page(DesignPage::Detail), QStringLiteral("Detail"));
  m_pTabs[0]->addTab(Page(DesignPage::Sort), QStringLiteral("Sort"));
  m_pTabs[0]->addTab(Page(DesignPage::ReportBreak), QStringLiteral("Report Break"));
  m_pTabs[0]->addTab(Page(DesignPage::FinalTotal), QStringLiteral("Final Total"));
  m_pTabs[1]->addTab(m_pSummaryQuery, QStringLiteral("Summary Query"));
  m_pTabs[1]->addTab(Page(DesignPage::SummarySort), QStringLiteral("Summary Sort"));
  m_pTabs[1]->addTab(Page(DesignPage::SummaryTotal), QStringLiteral("Summary Total"));
  m_pTabs[2]->addTab(m_pFilter, QStringLiteral("Filter"));
  m_pTabs[2]->addTab(m_pOutput, QStringLiteral("Advanced"));
  for (int t = 0; t < 3; ++t) {
    m_pStack->addWidget(m_pTabs[t]);
    connect(m_pTabs[t], &QTabWidget::currentChanged, this, [this, t](int index) { OnTabChanged(t, index); });
  }
  m_pClass->addItems({QStringLiteral("Report Pass"), QStringLiteral("Summary Pass"), QStringLiteral("Output Options")});
  connect(m_pClass, &QComboBox::activated, this, &CCustomReportDialog::ShowClass);

  auto* top = new QHBoxLayout;
  top->addWidget(new QLabel(QStringLiteral("Report Name:"), this));
  top->addWidget(m_pName, 1);
  top->addSpacing(12);
  top->addWidget(new QLabel(QStringLiteral("Report Class:"), this));
  top->addWidget(m_pClass);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  m_pOk = buttons->button(QDialogButtonBox::Ok);
  m_pOk->setEnabled(m_design->OkEnabled());
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(m_pName, &QLineEdit::textEdited, this, [this](const QString& text) {
    m_design->SetName(text.trimmed().toStdString());
    m_pOk->setEnabled(m_design->OkEnabled() && !text.trimmed().isEmpty() && !text.contains(QLatin1Char('\\')));
  });

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(m_pStack, 1);
  layout->addWidget(buttons);
  resize(640, 420);
  ShowClass(0);
  UpdateTabs();
}

CCustomReportDialog::~CCustomReportDialog() = default;

CDesignListPage* CCustomReportDialog::Page(DesignPage page) const { return m_pages[static_cast<int>(page)]; }

QString CCustomReportDialog::GetName() const { return m_pName->text().trimmed(); }

void CCustomReportDialog::ShowClass(int index) {
  if (index < 0 || index > 2) return;
  m_pClass->setCurrentIndex(index);
  m_pStack->setCurrentIndex(index);
}

void CCustomReportDialog::OnTabChanged(int tabs, int index) {
  DesignPage page;
  if (TabPage(tabs, m_current[tabs], &page)) m_design->LeavePage(page);
  m_current[tabs] = index;
  if (TabPage(tabs, index, &page)) {
    m_design->EnterPage(page);
    if (page == DesignPage::ReportBreak || page == DesignPage::SummaryTotal) Page(page)->Reload();
  }
  UpdateTabs();
}

void CCustomReportDialog::UpdateTabs() {
  m_pTabs[0]->setTabEnabled(3, m_design->ReportBreakEnabled());
  m_pTabs[1]->setTabEnabled(2, m_design->SummaryTotalEnabled());
}

void CCustomReportDialog::accept() {
  m_design->Store(m_pQuery->Text().toStdString(), m_pSummaryQuery->Text().toStdString());
  m_pOutput->Store(m_design->Options());
  m_pFilter->Store(m_design->Options());
  m_design->Options().Report = vn::kReportCustom;
  QDialog::accept();
}
