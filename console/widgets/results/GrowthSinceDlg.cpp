#include "console/widgets/results/GrowthSinceDlg.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryFile>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "console/core/history/GrowthReport.h"
#include "console/core/history/HistorySettings.h"

namespace {

using vn::console::CHistoryStore;
using vn::SqlError;

// The history this machine records into, opened; the failure's text else.
QString OpenHistory(CHistoryStore& store) {
  const std::string location = vn::console::ReadHistorySettings().location;
  if (const SqlError error = store.Open(location))
    return QStringLiteral("The scan history cannot be opened: ") + QString::fromStdString(error.message);
  return {};
}

}  // namespace

CGrowthSinceDlg::CGrowthSinceDlg(QWidget* parent)
    : QDialog(parent),
      m_scans(new QTreeWidget(this)),
      m_status(new QLabel(this)),
      m_buttons(new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this)) {
  setWindowTitle(QStringLiteral("Growth Since"));
  auto* layout = new QVBoxLayout(this);
  auto* intro = new QLabel(
      QStringLiteral("The change of every directory from the scan you choose to the latest Space By Directory scan:"),
      this);
  intro->setWordWrap(true);
  layout->addWidget(intro);
  m_scans->setColumnCount(3);
  m_scans->setHeaderLabels({QStringLiteral("Scan"), QStringLiteral("Started"), QStringLiteral("Run by")});
  m_scans->setRootIsDecorated(false);
  m_scans->setAllColumnsShowFocus(true);
  layout->addWidget(m_scans);
  m_status->setWordWrap(true);
  layout->addWidget(m_status);
  layout->addWidget(m_buttons);
  connect(m_buttons, &QDialogButtonBox::accepted, this, &CGrowthSinceDlg::accept);
  connect(m_buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(m_scans, &QTreeWidget::itemDoubleClicked, this, &CGrowthSinceDlg::accept);
  LoadScans();
  resize(520, 360);
}

void CGrowthSinceDlg::LoadScans() {
  QPushButton* ok = m_buttons->button(QDialogButtonBox::Ok);
  ok->setEnabled(false);
  CHistoryStore store;
  if (const QString problem = OpenHistory(store); !problem.isEmpty()) {
    m_status->setText(problem);
    return;
  }
  std::vector<vn::console::HistoryScan> scans;
  if (const SqlError error = vn::console::ListDirectoryScans(store, &scans)) {
    m_status->setText(QStringLiteral("The scan history cannot be read: ") + QString::fromStdString(error.message));
    return;
  }
  if (scans.empty()) {
    m_status->setText(QStringLiteral("The scan history holds no Space By Directory scan yet: run one first."));
    return;
  }
  for (const auto& scan : scans) {
    auto* item = new QTreeWidgetItem(m_scans, {QString::number(scan.id), QString::fromStdString(scan.started),
                                               QString::fromStdString(scan.origin)});
    item->setData(0, Qt::UserRole, static_cast<qlonglong>(scan.id));
  }
  // The one before the latest is what "since the last run" means.
  m_scans->setCurrentItem(m_scans->topLevelItem(scans.size() > 1 ? 1 : 0));
  for (int column = 0; column < m_scans->columnCount(); ++column) m_scans->resizeColumnToContents(column);
  ok->setEnabled(true);
}

void CGrowthSinceDlg::accept() {
  const QTreeWidgetItem* item = m_scans->currentItem();
  if (!item || !m_buttons->button(QDialogButtonBox::Ok)->isEnabled()) return;
  CHistoryStore store;
  if (const QString problem = OpenHistory(store); !problem.isEmpty()) {
    m_status->setText(problem);
    return;
  }
  // A name of our own in the temporary folder; the report is written beside
  // it and renamed into place.
  QTemporaryFile name(QDir::temp().filePath(QStringLiteral("Growth-XXXXXX.csv")));
  if (!name.open()) {
    m_status->setText(QStringLiteral("No result file can be made in ") + QDir::tempPath() + QStringLiteral("."));
    return;
  }
  const QString path = name.fileName();
  name.close();
  name.setAutoRemove(false);
  QFile::remove(path);
  vn::console::GrowthRequest request;
  request.since = item->data(0, Qt::UserRole).toLongLong();
  if (const SqlError error = vn::console::WriteGrowthReport(store, request, path.toStdString())) {
    m_status->setText(QString::fromStdString(error.message));
    return;
  }
  m_result = path;
  QDialog::accept();
}
