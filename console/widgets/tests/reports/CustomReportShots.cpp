// Writes pictures of the custom report designer for the documentation
// (scripts/screenshot-designer runs it on a virtual display).
// Usage: custom_report_shots OUTPUT_DIR
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QPixmap>
#include <QTabWidget>
#include <QThread>
#include <cstdio>

#include "console/widgets/reports/CustomReportDialog.h"
#include "console/widgets/reports/CustomReportPages.h"
#include "reportdef/FieldCatalogue.h"

namespace {

void Settle() {
  for (int i = 0; i < 20; ++i) {
    QApplication::processEvents();
    QThread::msleep(10);
  }
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: custom_report_shots OUTPUT_DIR\n");
    return 2;
  }
  const QDir out(QString::fromLocal8Bit(argv[1]));
  namespace rd = vn::reportdef;
  using vn::console::DesignPage;

  CCustomReportDialog dialog(QStringLiteral("SRV1"), QString());
  dialog.NameEdit()->setText(QStringLiteral("Big Logs"));
  auto& design = dialog.Design();
  design.SetName("Big Logs");
  design.AddFields(DesignPage::Detail, {rd::kFileName, rd::kDirectory, rd::kSize, rd::kRevised, rd::kOwner});
  design.AddFields(DesignPage::Sort, {rd::kDirectory, rd::kSize});
  design.SetOrder(DesignPage::Sort, 1, 1);
  design.LeavePage(DesignPage::Sort);
  design.AddFields(DesignPage::ReportBreak, {rd::kDirectory});
  design.SetBreakTotals(0, {design.NewBreakTotal(rd::kSize), design.NewBreakTotal(rd::kFiles)});
  design.AddFields(DesignPage::FinalTotal, {rd::kSize, rd::kFiles, rd::kRevisedDays});
  design.AddFields(DesignPage::SummarySort, {rd::kOwner});
  design.LeavePage(DesignPage::SummarySort);
  design.AddFields(DesignPage::SummaryTotal, {rd::kSize, rd::kFiles});
  design.SetSummarizedChoice(0);
  for (DesignPage page : {DesignPage::Detail, DesignPage::Sort, DesignPage::ReportBreak, DesignPage::FinalTotal,
                          DesignPage::SummarySort, DesignPage::SummaryTotal})
    dialog.Page(page)->Reload();
  dialog.QueryPage(false)->QueryEdit()->setText(
      QStringLiteral("Size > 1 MB AND Revised < 2026-01-01 AND FileName = \"*.log\""));
  dialog.show();
  emit dialog.NameEdit()->textEdited(dialog.NameEdit()->text());
  dialog.Tabs(0)->setCurrentIndex(2);  // the tabs' enabling follows the rows
  dialog.Tabs(1)->setCurrentIndex(1);

  struct Shot {
    const char* file;
    int kind;  // 0 Report Pass, 1 Summary Pass, 2 Output Options
    int tab;
    bool verify;
  };
  const Shot shots[] = {
      {"custom-report-query.png", 0, 0, true},   {"custom-report-detail.png", 0, 1, false},
      {"custom-report-sort.png", 0, 2, false},   {"custom-report-break.png", 0, 3, false},
      {"custom-report-final.png", 0, 4, false},  {"custom-report-summary-total.png", 1, 2, false},
      {"custom-report-advanced.png", 2, 1, false},
  };
  for (const Shot& shot : shots) {
    dialog.ShowClass(shot.kind);
    dialog.Tabs(shot.kind)->setCurrentIndex(shot.tab);
    if (shot.verify) dialog.QueryPage(false)->OnVerify();
    Settle();
    const QString path = out.filePath(QString::fromLatin1(shot.file));
    if (!dialog.grab().save(path)) {
      std::fprintf(stderr, "custom_report_shots: cannot write %s\n", path.toLocal8Bit().constData());
      return 1;
    }
    std::printf("%s\n", path.toLocal8Bit().constData());
  }
  return 0;
}
