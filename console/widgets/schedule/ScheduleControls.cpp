#include "console/widgets/schedule/ScheduleControls.h"

#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QListWidget>
#include <QStyle>
#include <algorithm>
#include <QTime>
#include <QTimeEdit>

using vn::console::ScheduleChoices;
using vn::console::ScheduleInterval;

namespace {

QListWidget* CheckList(const std::vector<std::string>& names, int columns, QWidget* parent) {
  auto* list = new QListWidget(parent);
  // Items flow left to right and wrap, so the 31 days sit in a few rows.
  list->setFlow(QListView::LeftToRight);
  list->setWrapping(true);
  list->setResizeMode(QListView::Adjust);
  list->setSelectionMode(QAbstractItemView::NoSelection);
  for (const std::string& name : names) {
    auto* item = new QListWidgetItem(QString::fromStdString(name), list);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
    item->setCheckState(Qt::Unchecked);
  }
  // Each cell holds the check box and the longest name of its list.
  const QFontMetrics metrics(list->font());
  int widest = 0;
  for (const std::string& name : names) widest = std::max(widest, metrics.horizontalAdvance(QString::fromStdString(name)));
  const int indicator = list->style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, list);
  list->setGridSize(QSize(widest + indicator + 28, metrics.height() + 10));
  for (int i = 0; i < list->count(); ++i) list->item(i)->setSizeHint(list->gridSize());
  list->setTextElideMode(Qt::ElideNone);
  const int rows = (static_cast<int>(names.size()) + columns - 1) / columns;
  list->setFixedHeight(rows * list->gridSize().height() + 2 * list->frameWidth() + 4);
  list->setMinimumWidth(columns * list->gridSize().width() + 2 * list->frameWidth() + 4);
  return list;
}

template <std::size_t N>
void ReadChecks(const QListWidget* list, std::array<bool, N>& checks) {
  for (std::size_t i = 0; i < N && static_cast<int>(i) < list->count(); ++i)
    checks[i] = list->item(static_cast<int>(i))->checkState() == Qt::Checked;
}

template <std::size_t N>
void WriteChecks(QListWidget* list, const std::array<bool, N>& checks) {
  for (std::size_t i = 0; i < N && static_cast<int>(i) < list->count(); ++i)
    list->item(static_cast<int>(i))->setCheckState(checks[i] ? Qt::Checked : Qt::Unchecked);
}

}  // namespace

CScheduleControls::CScheduleControls(QWidget* parent)
    : QWidget(parent),
      m_pInterval(new QComboBox(this)),
      m_pTime(new QTimeEdit(this)),
      m_pWeekLabel(new QLabel(QStringLiteral("Day(s) Of Week:"), this)),
      m_pWeekDays(CheckList(vn::console::WeekDayNames(), 4, this)),
      m_pMonthLabel(new QLabel(QStringLiteral("Day(s) Of Month:"), this)),
      m_pMonthDays(CheckList(vn::console::MonthDayNames(), 7, this)) {
  for (int i = 0; i < vn::console::kScheduleIntervalCount; ++i)
    m_pInterval->addItem(
        QString::fromUtf8(vn::console::ScheduleIntervalText(static_cast<ScheduleInterval>(i)).data()));
  m_pTime->setDisplayFormat(QStringLiteral("h:mm:ss AP"));

  auto* layout = new QGridLayout(this);
  layout->addWidget(new QLabel(QStringLiteral("Schedule Interval:"), this), 0, 0);
  layout->addWidget(m_pInterval, 0, 1, Qt::AlignLeft);
  layout->addWidget(new QLabel(QStringLiteral("Time of Day:"), this), 1, 0);
  layout->addWidget(m_pTime, 1, 1, Qt::AlignLeft);
  layout->addWidget(m_pWeekLabel, 2, 0, Qt::AlignTop);
  layout->addWidget(m_pWeekDays, 2, 1);
  layout->addWidget(m_pMonthLabel, 3, 0, Qt::AlignTop);
  layout->addWidget(m_pMonthDays, 3, 1);
  layout->setColumnStretch(1, 1);
  layout->setRowStretch(4, 1);

  connect(m_pInterval, &QComboBox::currentIndexChanged, this, [this] { UpdateDayLists(); });
  UpdateDayLists();
}

CScheduleControls::~CScheduleControls() = default;

ScheduleInterval CScheduleControls::GetInterval() const {
  const int index = m_pInterval->currentIndex();
  return index < 0 ? ScheduleInterval::Today : static_cast<ScheduleInterval>(index);
}

ScheduleChoices CScheduleControls::GetChoices() const {
  ScheduleChoices choices;
  choices.interval = GetInterval();
  ReadChecks(m_pWeekDays, choices.weekDays);
  ReadChecks(m_pMonthDays, choices.monthDays);
  const QTime time = m_pTime->time();
  choices.hour = time.hour();
  choices.minute = time.minute();
  choices.second = time.second();
  return choices;
}

void CScheduleControls::SetChoices(const ScheduleChoices& choices) {
  m_pInterval->setCurrentIndex(static_cast<int>(choices.interval));
  WriteChecks(m_pWeekDays, choices.weekDays);
  WriteChecks(m_pMonthDays, choices.monthDays);
  SetTime(QTime(choices.hour, choices.minute, choices.second));
  UpdateDayLists();
}

void CScheduleControls::SetTime(const QTime& time) { m_pTime->setTime(time); }

void CScheduleControls::UpdateDayLists() {
  const ScheduleInterval interval = GetInterval();
  const bool days = interval == ScheduleInterval::Every || interval == ScheduleInterval::Next;
  for (QWidget* control : {static_cast<QWidget*>(m_pWeekDays), static_cast<QWidget*>(m_pMonthDays),
                           static_cast<QWidget*>(m_pWeekLabel), static_cast<QWidget*>(m_pMonthLabel)})
    control->setEnabled(days);
}
