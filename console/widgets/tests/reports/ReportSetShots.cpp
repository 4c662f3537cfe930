// Writes a picture of the report set editor for each of its option pages,
// for the documentation (scripts/screenshot-editor runs it on a virtual
// display). Usage: report_set_shots OUTPUT_DIR
#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QListWidget>
#include <QPixmap>
#include <QTabWidget>
#include <QThread>
#include <cstdio>
#include <cstring>

#include "console/core/reports/OptionPages.h"
#include "console/widgets/reports/ReportSetDialog.h"

namespace {

struct Shot {
  const char* file;
  int report;  // catalogue index
  int tab;
};

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
    std::fprintf(stderr, "usage: report_set_shots OUTPUT_DIR\n");
    return 2;
  }
  const QDir out(QString::fromLocal8Bit(argv[1]));

  using namespace vn::console;
  ReportSet set;
  for (int index : {0, 2, 4, 8, 11, 13}) set[index].Selected = 1;
  ReportOptions& byDate = set[8].Options;
  byDate.Criteria[0].Scope = kScopeBetween;
  byDate.Criteria[0].Measure = kMeasureDate;
  StoreText(byDate.Criteria[0].Value1, DateToStored(QDate(2026, 1, 1)));
  StoreText(byDate.Criteria[0].Value2, DateToStored(QDate(2026, 6, 30)));
  std::strcpy(byDate.FileFilter, "*.doc;*.xls");
  std::strcpy(byDate.OwnerFilter, "SALES\\alice;SALES\\bob");
  byDate.Options = kOptionSizesInMegabytes | kOptionCommaDelimited | kOptionHtml;
  byDate.RptLen = 500;
  std::strcpy(byDate.BatchCommand, "cp %1 /srv/reports/");
  set[4].Options.Criteria[0].Scope = kScopeLarger;
  set[4].Options.Criteria[0].Measure = 8;
  std::strcpy(set[4].Options.Criteria[0].Value1, "90");
  set[2].Options.Criteria[0].Scope = kScopeLarger;
  std::strcpy(set[2].Options.Criteria[0].Value1, "100");
  std::strcpy(set[2].Options.Criteria[1].Value1, "3");
  std::strcpy(set[11].Options.Criteria[1].Value1, "80");
  std::strcpy(set[11].Options.Criteria[2].Value1, "100");

  const Shot shots[] = {
      {"report-set-date.png", 8, 0},      {"report-set-filter.png", 8, 1}, {"report-set-detail.png", 8, 2},
      {"report-set-advanced.png", 8, 3},  {"report-set-directory.png", 2, 0},
      {"report-set-quota.png", 4, 0},     {"report-set-duplicate.png", 11, 0},
      {"report-set-wasted-space.png", 13, 0},
  };
  CReportSetDialog dialog(set, QStringLiteral("Weekly Review"));
  dialog.show();
  for (const Shot& shot : shots) {
    dialog.SelectReport(shot.report);
    dialog.Tabs()->setCurrentIndex(shot.tab);
    Settle();
    const QString path = out.filePath(QString::fromLatin1(shot.file));
    if (!dialog.grab().save(path)) {
      std::fprintf(stderr, "report_set_shots: cannot write %s\n", path.toLocal8Bit().constData());
      return 1;
    }
    std::printf("%s\n", path.toLocal8Bit().constData());
  }
  return 0;
}
