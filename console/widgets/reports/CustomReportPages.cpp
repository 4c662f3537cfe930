#include "console/widgets/reports/CustomReportPages.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

using namespace vn::console;

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

bool IsSortPage(DesignPage page) { return page == DesignPage::Sort || page == DesignPage::SummarySort; }

QListWidget* MakeSource(QWidget* parent) {
  auto* list = new QListWidget(parent);
  // Several columns of width 120, filled top to bottom.
  list->setFlow(QListView::TopToBottom);
  list->setWrapping(true);
  list->setResizeMode(QListView::Adjust);
  list->setGridSize(QSize(120, list->fontMetrics().height() + 6));
  list->setSelectionMode(QAbstractItemView::ExtendedSelection);
  return list;
}

QPushButton* MakeButton(const QString& text, const QString& tip, QWidget* parent) {
  auto* button = new QPushButton(text, parent);
  button->setToolTip(tip);
  button->setFixedWidth(44);
  return button;
}

QTreeWidget* MakeTarget(const QStringList& columns, const std::vector<int>& widths, QWidget* parent) {
  auto* tree = new QTreeWidget(parent);
  tree->setRootIsDecorated(false);
  tree->setColumnCount(static_cast<int>(columns.size()));
  tree->setHeaderLabels(columns);
  for (std::size_t i = 0; i < widths.size(); ++i) tree->setColumnWidth(static_cast<int>(i), widths[i]);
  tree->setSelectionMode(QAbstractItemView::ExtendedSelection);
  return tree;
}

void FillSource(QListWidget* list, const CCustomReportDesign& design, const std::vector<int>& fields) {
  list->clear();
  for (int field : fields) {
    auto* item = new QListWidgetItem(Q(FieldName(design.Definition(), field)), list);
    item->setData(Qt::UserRole, field);
  }
}

std::vector<int> SelectedFields(QListWidget* list) {
  std::vector<int> fields;
  for (int i = 0; i < list->count(); ++i)
    if (list->item(i)->isSelected()) fields.push_back(list->item(i)->data(Qt::UserRole).toInt());
  return fields;
}

std::vector<int> SelectedRows(QTreeWidget* tree) {
  std::vector<int> rows;
  for (int i = 0; i < tree->topLevelItemCount(); ++i)
    if (tree->topLevelItem(i)->isSelected()) rows.push_back(i);
  return rows;
}

QStringList Columns(DesignPage page) {
  if (IsSortPage(page)) return {QStringLiteral("Item"), QStringLiteral("Order")};
  if (page == DesignPage::FinalTotal) return {QStringLiteral("Item"), QStringLiteral("Action")};
  if (page == DesignPage::SummaryTotal) return {QStringLiteral("Item"), QStringLiteral("Action"), QStringLiteral("Reset")};
  return {QStringLiteral("Item")};
}

std::vector<int> Widths(DesignPage page) {
  if (IsSortPage(page) || page == DesignPage::FinalTotal) return {110, 70};
  if (page == DesignPage::SummaryTotal) return {60, 60, 60};
  return {120};
}

}  // namespace

CDesignListPage::CDesignListPage(CCustomReportDesign& design, DesignPage page, const QString& title,
                                 const QString& selectTitle, QWidget* parent)
    : QWidget(parent),
      m_design(design),
      m_page(page),
      m_pSource(MakeSource(this)),
      m_pTarget(MakeTarget(Columns(page), Widths(page), this)),
      m_pAdd(MakeButton(QStringLiteral(">>"), QStringLiteral("Add"), this)),
      m_pRemove(MakeButton(QStringLiteral("<<"), QStringLiteral("Remove"), this)) {
  auto* sourceBox = new QGroupBox(selectTitle, this);
  (new QVBoxLayout(sourceBox))->addWidget(m_pSource);
  auto* targetBox = new QGroupBox(title, this);
  auto* targetLayout = new QVBoxLayout(targetBox);
  if (page == DesignPage::SummaryTotal) {
    m_pSummarized = new QComboBox(this);
    auto* row = new QHBoxLayout;
    row->addWidget(new QLabel(QStringLiteral("Summarized Field:"), this));
    row->addWidget(m_pSummarized, 1);
    targetLayout->addLayout(row);
    connect(m_pSummarized, &QComboBox::activated, this, [this](int index) { m_design.SetSummarizedChoice(index); });
  }
  targetLayout->addWidget(m_pTarget);
  auto* buttons = new QVBoxLayout;
  buttons->addStretch();
  buttons->addWidget(m_pAdd);
  buttons->addWidget(m_pRemove);
  buttons->addStretch();
  auto* layout = new QHBoxLayout(this);
  layout->addWidget(sourceBox, 1);
  layout->addLayout(buttons);
  layout->addWidget(targetBox, 1);

  if (page != DesignPage::ReportBreak) {
    m_pTarget->setDragDropMode(QAbstractItemView::InternalMove);
    connect(m_pTarget->model(), &QAbstractItemModel::rowsInserted, this, [this] {
      if (!m_filling) QTimer::singleShot(0, this, [this] { SyncOrder(); });
    });
  }
  connect(m_pAdd, &QPushButton::clicked, this, &CDesignListPage::OnAdd);
  connect(m_pRemove, &QPushButton::clicked, this, &CDesignListPage::OnRemove);
  connect(m_pSource, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem* item) {
    if (m_design.AddFields(m_page, {item->data(Qt::UserRole).toInt()})) FillRows(), Changed();
  });
  connect(m_pTarget, &QTreeWidget::itemDoubleClicked, this,
          [this](QTreeWidgetItem* item, int) { EditRow(m_pTarget->indexOfTopLevelItem(item)); });
}

void CDesignListPage::Reload() {
  FillSource(m_pSource, m_design, m_design.SourceFields(m_page));
  FillRows();
  if (m_pSummarized) {
    m_pSummarized->clear();
    for (const std::string& name : m_design.SummarizedChoices()) m_pSummarized->addItem(Q(name));
    m_pSummarized->setCurrentIndex(m_design.SummarizedChoice());
  }
}

void CDesignListPage::FillRows() {
  m_filling = true;
  m_pTarget->clear();
  const auto& rows = m_design.Rows(m_page);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    QStringList texts;
    for (const std::string& t : m_design.RowTexts(m_page, static_cast<int>(i))) texts << Q(t);
    auto* item = new QTreeWidgetItem(m_pTarget, texts);
    item->setData(0, Qt::UserRole, rows[i].field);
    item->setFlags(item->flags() & ~Qt::ItemIsDropEnabled);
  }
  m_filling = false;
  m_pRemove->setEnabled(m_design.RemoveEnabled(m_page));
}

void CDesignListPage::SyncOrder() {
  for (int i = 0; i < m_pTarget->topLevelItemCount(); ++i) {
    const int field = m_pTarget->topLevelItem(i)->data(0, Qt::UserRole).toInt();
    const auto& rows = m_design.Rows(m_page);
    for (std::size_t j = 0; j < rows.size(); ++j)
      if (rows[j].field == field) m_design.MoveRow(m_page, static_cast<int>(j), i);
  }
  FillRows();
  Changed();
}

void CDesignListPage::Changed() {
  if (m_changed) m_changed();
}

void CDesignListPage::OnAdd() {
  if (m_design.AddFields(m_page, SelectedFields(m_pSource))) {
    FillRows();
    Changed();
  }
}

void CDesignListPage::OnRemove() {
  const std::vector<int> rows = SelectedRows(m_pTarget);
  if (rows.empty()) return;
  m_design.RemoveRows(m_page, rows);
  FillRows();
  Changed();
}

bool CDesignListPage::EditRow(int row) {
  if (row < 0 || static_cast<std::size_t>(row) >= m_design.Rows(m_page).size()) return false;
  const QString title = m_pTarget->topLevelItem(row)->text(0);
  const DesignRow current = m_design.Rows(m_page)[static_cast<std::size_t>(row)];
  bool changed = false;
  if (IsSortPage(m_page)) {
    CSortOrderDialog dialog(title, current.order, this);
    if (dialog.exec() == QDialog::Accepted && dialog.Order() != current.order) {
      m_design.SetOrder(m_page, row, dialog.Order());
      changed = true;
    }
  } else if (m_page == DesignPage::FinalTotal) {
    CActionDialog dialog(title, current.action, this);
    if (dialog.exec() == QDialog::Accepted && dialog.Action() != current.action) {
      m_design.SetAction(m_page, row, dialog.Action());
      changed = true;
    }
  } else if (m_page == DesignPage::SummaryTotal) {
    CActionDialog dialog(title, current.action, m_design.ResetChoices(m_page),
                         Q(FieldName(m_design.Definition(), current.reset)), this);
    if (dialog.exec() == QDialog::Accepted) {
      m_design.SetAction(m_page, row, dialog.Action());
      if (!dialog.Reset().isEmpty()) m_design.SetReset(m_page, row, dialog.Reset().toStdString());
      changed = true;
    }
  } else if (m_page == DesignPage::ReportBreak) {
    CBreakDialog dialog(m_design, row, this);
    changed = dialog.exec() == QDialog::Accepted;
  }
  if (changed) FillRows();
  return changed;
}

CQueryPage::CQueryPage(CCustomReportDesign& design, bool summary, QWidget* parent)
    : QWidget(parent),
      m_design(design),
      m_summary(summary),
      m_pField(new QComboBox(this)),
      m_pRelation(new QComboBox(this)),
      m_pLogical(new QComboBox(this)),
      m_pQuery(new QLineEdit(this)),
      m_pVerify(new QPushButton(QStringLiteral("Verify"), this)),
      m_pStatus(new QLabel(this)) {
  for (const std::string& name : design.QueryFieldNames()) m_pField->addItem(Q(name));
  for (const std::string& r : CCustomReportDesign::Relations()) m_pRelation->addItem(Q(r));
  for (const std::string& l : CCustomReportDesign::LogicalOperators()) m_pLogical->addItem(Q(l));
  for (QComboBox* combo : {m_pField, m_pRelation, m_pLogical}) {
    combo->setCurrentIndex(0);
    connect(combo, &QComboBox::activated, this, [this, combo](int index) { InsertAtCaret(combo->itemText(index)); });
  }
  m_pQuery->setText(Q(design.QueryText(summary)));
  m_pStatus->setFrameShape(QFrame::StyledPanel);
  m_pStatus->setMinimumHeight(m_pStatus->fontMetrics().height() * 2);
  m_pStatus->setWordWrap(true);

  auto* grid = new QGridLayout;
  grid->addWidget(new QLabel(QStringLiteral("Field Name:"), this), 0, 0);
  grid->addWidget(new QLabel(QStringLiteral("Relation:"), this), 0, 1);
  grid->addWidget(new QLabel(QStringLiteral("Logical Operator:"), this), 0, 2);
  grid->addWidget(m_pField, 1, 0);
  grid->addWidget(m_pRelation, 1, 1);
  grid->addWidget(m_pLogical, 1, 2);
  auto* statusBox = new QGroupBox(QStringLiteral("Query Status"), this);
  (new QVBoxLayout(statusBox))->addWidget(m_pStatus);
  auto* verifyRow = new QHBoxLayout;
  verifyRow->addWidget(statusBox, 1);
  verifyRow->addWidget(m_pVerify, 0, Qt::AlignTop);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addWidget(new QLabel(summary ? QStringLiteral("Summary Query:") : QStringLiteral("Query:"), this));
  layout->addWidget(m_pQuery);
  layout->addLayout(verifyRow);
  layout->addStretch();
  connect(m_pVerify, &QPushButton::clicked, this, &CQueryPage::OnVerify);
}

QString CQueryPage::Text() const { return m_pQuery->text(); }

void CQueryPage::InsertAtCaret(const QString& text) { m_pQuery->insert(text + QLatin1Char(' ')); }

void CQueryPage::OnVerify() {
  const auto verified = m_design.Verify(m_summary, m_pQuery->text().toStdString());
  m_pStatus->setText(Q(verified.status));
  if (!verified.selectError) {
    m_pQuery->deselect();
    return;
  }
  // The character at the error; an error at the end has none to select, and
  // the caret goes there instead.
  if (verified.selectionStart < m_pQuery->text().size()) {
    m_pQuery->setSelection(verified.selectionStart, 1);
  } else {
    m_pQuery->setCursorPosition(verified.selectionStart);
  }
  m_pQuery->setFocus();
}

CSortOrderDialog::CSortOrderDialog(const QString& title, DWORD order, QWidget* parent)
    : QDialog(parent),
      m_pAscending(new QRadioButton(QStringLiteral("Ascending"), this)),
      m_pDescending(new QRadioButton(QStringLiteral("Descending"), this)) {
  setWindowTitle(title);
  (order == 1 ? m_pDescending : m_pAscending)->setChecked(true);
  auto* box = new QGroupBox(QStringLiteral("Sort Order"), this);
  auto* radios = new QVBoxLayout(box);
  radios->addWidget(m_pAscending);
  radios->addWidget(m_pDescending);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(box);
  layout->addWidget(buttons);
}

DWORD CSortOrderDialog::Order() const { return m_pDescending->isChecked() ? 1 : 0; }

CActionDialog::CActionDialog(const QString& title, DWORD action, QWidget* parent) : QDialog(parent) {
  Build(title, action);
}

CActionDialog::CActionDialog(const QString& title, DWORD action, const std::vector<std::string>& resetChoices,
                             const QString& reset, QWidget* parent)
    : QDialog(parent), m_pReset(new QComboBox(this)) {
  for (const std::string& name : resetChoices) m_pReset->addItem(Q(name));
  m_pReset->setCurrentIndex(m_pReset->findText(reset, Qt::MatchExactly | Qt::MatchCaseSensitive));
  Build(title, action);
}

void CActionDialog::Build(const QString& title, DWORD action) {
  setWindowTitle(title);
  auto* box = new QGroupBox(QStringLiteral("Action"), this);
  auto* radios = new QVBoxLayout(box);
  for (DWORD a = 0; a < 5; ++a) {
    m_pActions[a] = new QRadioButton(QString::fromLatin1(ActionName(a)), this);
    radios->addWidget(m_pActions[a]);
  }
  m_pActions[action < 5 ? action : 0]->setChecked(true);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(box);
  if (m_pReset) {
    layout->addWidget(new QLabel(QStringLiteral("Reset:"), this));
    layout->addWidget(m_pReset);
  }
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
}

DWORD CActionDialog::Action() const {
  for (DWORD a = 0; a < 5; ++a)
    if (m_pActions[a]->isChecked()) return a;
  return 0;
}

QString CActionDialog::Reset() const { return m_pReset && m_pReset->currentIndex() >= 0 ? m_pReset->currentText() : QString(); }

CBreakDialog::CBreakDialog(CCustomReportDesign& design, int breakPosition, QWidget* parent)
    : QDialog(parent),
      m_design(design),
      m_break(breakPosition),
      m_rows(design.BreakTotals(breakPosition)),
      m_pSource(MakeSource(this)),
      m_pTarget(MakeTarget({QStringLiteral("Item"), QStringLiteral("Action"), QStringLiteral("Reset")}, {60, 60, 60},
                           this)),
      m_pRemove(MakeButton(QStringLiteral("<<"), QStringLiteral("Remove"), this)) {
  int field = 0;
  if (design.Definition().GetSummaryBreakField(breakPosition, field) == 0)
    setWindowTitle(Q(FieldName(design.Definition(), field)));
  FillSource(m_pSource, design, design.SourceFields(DesignPage::Sort));
  auto* add = MakeButton(QStringLiteral(">>"), QStringLiteral("Add"), this);
  auto* buttons = new QVBoxLayout;
  buttons->addStretch();
  buttons->addWidget(add);
  buttons->addWidget(m_pRemove);
  buttons->addStretch();
  auto* body = new QHBoxLayout;
  body->addWidget(m_pSource, 1);
  body->addLayout(buttons);
  body->addWidget(m_pTarget, 1);
  auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(box, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(box, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(body, 1);
  layout->addWidget(box);
  connect(add, &QPushButton::clicked, this, &CBreakDialog::OnAdd);
  connect(m_pRemove, &QPushButton::clicked, this, &CBreakDialog::OnRemove);
  connect(m_pSource, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem*) { OnAdd(); });
  connect(m_pTarget, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item, int) {
    const int row = m_pTarget->indexOfTopLevelItem(item);
    DesignRow& r = m_rows[static_cast<std::size_t>(row)];
    CActionDialog dialog(item->text(0), r.action, m_design.ResetChoices(DesignPage::ReportBreak),
                         Q(FieldName(m_design.Definition(), r.reset)), this);
    if (dialog.exec() != QDialog::Accepted) return;
    r.action = dialog.Action();
    if (!dialog.Reset().isEmpty()) r.reset = FieldIndexFromName(m_design.Definition(), dialog.Reset().toStdString());
    Fill();
  });
  Fill();
}

void CBreakDialog::Fill() {
  m_pTarget->clear();
  for (const DesignRow& r : m_rows)
    new QTreeWidgetItem(m_pTarget, {Q(FieldName(m_design.Definition(), r.field)), QString::fromLatin1(ActionName(r.action)),
                                    Q(FieldName(m_design.Definition(), r.reset))});
  m_pRemove->setEnabled(!m_rows.empty());
}

void CBreakDialog::OnAdd() {
  for (int field : SelectedFields(m_pSource)) {
    if (std::any_of(m_rows.begin(), m_rows.end(), [field](const DesignRow& r) { return r.field == field; })) continue;
    m_rows.push_back(m_design.NewBreakTotal(field));
  }
  Fill();
}

void CBreakDialog::OnRemove() {
  const std::vector<int> rows = SelectedRows(m_pTarget);
  for (auto it = rows.rbegin(); it != rows.rend(); ++it) m_rows.erase(m_rows.begin() + *it);
  Fill();
}

void CBreakDialog::accept() {
  m_design.SetBreakTotals(m_break, m_rows);
  QDialog::accept();
}
