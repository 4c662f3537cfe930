#pragma once
// The schedule choices as controls, shared by the run form's "Schedule Job"
// group and the "Modify Job" dialog: "Schedule Interval:" (Today, Tomorrow,
// Every, Next), "Time of Day:" (shown as "h:mm:ss tt"), and the check lists
// "Day(s) Of Week:" (Monday ... Sunday) and "Day(s) Of Month:" (1st ...
// 31st). "Today" and "Tomorrow" disable both lists and their labels (their
// checks are then ignored), "Every" and "Next" enable them.
//
// A child of the form or dialog; user-interface thread only.

#include <QWidget>

#include "console/core/schedule/ScheduleModel.h"
#include "console/widgets/support/KSExport.h"

class QComboBox;
class QLabel;
class QListWidget;
class QTime;
class QTimeEdit;

class KS_EXPORT CScheduleControls : public QWidget {
 public:
  explicit CScheduleControls(QWidget* parent = nullptr);
  ~CScheduleControls() override;

  // The controls as the user left them.
  vn::console::ScheduleChoices GetChoices() const;
  // Interval, checks and time (seconds as given), with the lists' enabling.
  void SetChoices(const vn::console::ScheduleChoices& choices);
  void SetTime(const QTime& time);
  vn::console::ScheduleInterval GetInterval() const;
  // Enables or disables the day lists and their labels by the interval.
  void UpdateDayLists();

  QComboBox* IntervalBox() const { return m_pInterval; }
  QTimeEdit* TimeEdit() const { return m_pTime; }
  QListWidget* WeekDayList() const { return m_pWeekDays; }
  QListWidget* MonthDayList() const { return m_pMonthDays; }
  QLabel* WeekDayLabel() const { return m_pWeekLabel; }
  QLabel* MonthDayLabel() const { return m_pMonthLabel; }

 private:
  QComboBox* m_pInterval;
  QTimeEdit* m_pTime;
  QLabel* m_pWeekLabel;
  QListWidget* m_pWeekDays;
  QLabel* m_pMonthLabel;
  QListWidget* m_pMonthDays;
};
