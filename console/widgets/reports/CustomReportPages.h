#pragma once
// The pages of the custom report designer ("Custom Report", dialog 444) and
// the small dialogs their rows open. Thin widgets over CCustomReportDesign
// (console/core/reports/CustomReportDesign.h), which holds every rule:
//  - CDesignListPage: a source list of fields (several columns of width 120,
//    several selectable), the add (1576) and remove (1577) buttons and the
//    target list of rows, reordered by dragging. CDetail (435), CSort (436),
//    CSummary (437, the Report Break page), CFinalTotal (439), CSummarySort
//    (440) and CSummaryTotal (443, with its "Summarized Field:" combo 1564)
//    are this page on their rows.
//  - CQueryPage: the "Field Name:" (1562), "Relation:" (1565) and "Logical
//    Operator:" (1566) combos that insert their entry and a blank at the
//    caret, the "Query:" edit (1569), "Verify" (1587) and the "Query Status"
//    box (1590). CQuery (438) and CSummaryQuery (441).
//  - "Sort Order" (447), "Action" (413), "Action" with "Reset" (414) and
//    "Break" (442).
// User-interface thread only.

#include <QDialog>
#include <QWidget>

#include <functional>
#include <vector>

#include "console/core/reports/CustomReportDesign.h"
#include "console/widgets/support/KSExport.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;
class QTreeWidget;

class KS_EXPORT CDesignListPage : public QWidget {
 public:
  CDesignListPage(vn::console::CCustomReportDesign& design, vn::console::DesignPage page, const QString& title,
                  const QString& selectTitle, QWidget* parent = nullptr);

  // Refills the source list and the rows from the design.
  void Reload();
  // Told after every change of the rows (the dialog enables tabs by it).
  void SetChanged(std::function<void()> changed) { m_changed = std::move(changed); }

  void OnAdd();
  void OnRemove();
  // The row dialog of a target row (double-click); true when it changed it.
  bool EditRow(int row);

  QListWidget* Source() const { return m_pSource; }
  QTreeWidget* Target() const { return m_pTarget; }
  QPushButton* AddButton() const { return m_pAdd; }
  QPushButton* RemoveButton() const { return m_pRemove; }
  QComboBox* Summarized() const { return m_pSummarized; }
  vn::console::DesignPage Page() const { return m_page; }

 private:
  void FillRows();
  void SyncOrder();  // after a drag: the design's rows take the list's order
  void Changed();

  vn::console::CCustomReportDesign& m_design;
  vn::console::DesignPage m_page;
  QListWidget* m_pSource;
  QTreeWidget* m_pTarget;
  QPushButton* m_pAdd;
  QPushButton* m_pRemove;
  QComboBox* m_pSummarized = nullptr;
  std::function<void()> m_changed;
  bool m_filling = false;
};

class KS_EXPORT CQueryPage : public QWidget {
 public:
  CQueryPage(vn::console::CCustomReportDesign& design, bool summary, QWidget* parent = nullptr);

  void OnVerify();
  // A combo's entry at the caret (replacing the selection), and a blank.
  void InsertAtCaret(const QString& text);
  QString Text() const;

  QComboBox* FieldCombo() const { return m_pField; }
  QComboBox* RelationCombo() const { return m_pRelation; }
  QComboBox* LogicalCombo() const { return m_pLogical; }
  QLineEdit* QueryEdit() const { return m_pQuery; }
  QPushButton* VerifyButton() const { return m_pVerify; }
  QLabel* Status() const { return m_pStatus; }

 private:
  vn::console::CCustomReportDesign& m_design;
  bool m_summary;
  QComboBox* m_pField;
  QComboBox* m_pRelation;
  QComboBox* m_pLogical;
  QLineEdit* m_pQuery;
  QPushButton* m_pVerify;
  QLabel* m_pStatus;
};

// "Sort Order" (447): Ascending / Descending.
class KS_EXPORT CSortOrderDialog : public QDialog {
 public:
  CSortOrderDialog(const QString& title, DWORD order, QWidget* parent = nullptr);
  DWORD Order() const;

 private:
  QRadioButton* m_pAscending;
  QRadioButton* m_pDescending;
};

// "Action" (413), and with `resetChoices` given "Action" with "Reset" (414).
class KS_EXPORT CActionDialog : public QDialog {
 public:
  CActionDialog(const QString& title, DWORD action, QWidget* parent = nullptr);
  CActionDialog(const QString& title, DWORD action, const std::vector<std::string>& resetChoices,
                const QString& reset, QWidget* parent = nullptr);
  DWORD Action() const;
  // The chosen reset field's name; empty when none is selected.
  QString Reset() const;
  QComboBox* ResetCombo() const { return m_pReset; }

 private:
  void Build(const QString& title, DWORD action);
  QRadioButton* m_pActions[5] = {};
  QComboBox* m_pReset = nullptr;
};

// "Break" (442): the subtotals of one break, rewritten on OK.
class KS_EXPORT CBreakDialog : public QDialog {
 public:
  CBreakDialog(vn::console::CCustomReportDesign& design, int breakPosition, QWidget* parent = nullptr);
  void accept() override;
  QTreeWidget* Target() const { return m_pTarget; }
  QListWidget* Source() const { return m_pSource; }
  void OnAdd();
  void OnRemove();

 private:
  void Fill();
  vn::console::CCustomReportDesign& m_design;
  int m_break;
  std::vector<vn::console::DesignRow> m_rows;
  QListWidget* m_pSource;
  QTreeWidget* m_pTarget;
  QPushButton* m_pRemove;
};

// The designer's pages under the names the dialog knows them by.
class KS_EXPORT CDetail : public CDesignListPage {
 public:
  CDetail(vn::console::CCustomReportDesign& d, QWidget* p = nullptr)
      : CDesignListPage(d, vn::console::DesignPage::Detail, QStringLiteral("File Detail"),
                        QStringLiteral("File Detail Select"), p) {}
};
class KS_EXPORT CSort : public CDesignListPage {
 public:
  CSort(vn::console::CCustomReportDesign& d, QWidget* p = nullptr)
      : CDesignListPage(d, vn::console::DesignPage::Sort, QStringLiteral("Sort"), QStringLiteral("Sort Select"), p) {}
};
class KS_EXPORT CSummary : public CDesignListPage {
 public:
  CSummary(vn::console::CCustomReportDesign& d, QWidget* p = nullptr)
      : CDesignListPage(d, vn::console::DesignPage::ReportBreak, QStringLiteral("Report Break"),
                        QStringLiteral("Report Break Select"), p) {}
};
class KS_EXPORT CFinalTotal : public CDesignListPage {
 public:
  CFinalTotal(vn::console::CCustomReportDesign& d, QWidget* p = nullptr)
      : CDesignListPage(d, vn::console::DesignPage::FinalTotal, QStringLiteral("Final Total"),
                        QStringLiteral("Final Total Select"), p) {}
};
class KS_EXPORT CSummarySort : public CDesignListPage {
 public:
  CSummarySort(vn::console::CCustomReportDesign& d, QWidget* p = nullptr)
      : CDesignListPage(d, vn::console::DesignPage::SummarySort, QStringLiteral("Summary Sort"),
                        QStringLiteral("Summary Sort Select"), p) {}
};
class KS_EXPORT CSummaryTotal : public CDesignListPage {
 public:
  CSummaryTotal(vn::console::CCustomReportDesign& d, QWidget* p = nullptr)
      : CDesignListPage(d, vn::console::DesignPage::SummaryTotal, QStringLiteral("Summary Total"),
                        QStringLiteral("Summary Total Select"), p) {}
};
class KS_EXPORT CQuery : public CQueryPage {
 public:
  CQuery(vn::console::CCustomReportDesign& d, QWidget* p = nullptr) : CQueryPage(d, false, p) {}
};
class KS_EXPORT CSummaryQuery : public CQueryPage {
 public:
  CSummaryQuery(vn::console::CCustomReportDesign& d, QWidget* p = nullptr) : CQueryPage(d, true, p) {}
};
