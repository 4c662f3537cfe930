// The result window on the 10-million-row result (bench/ResultInput.h),
// offscreen, against the same window on a result of its first 1,000 rows:
//
//   bench results-first-screen-10M: from the index being ready (the document
//     opened and indexed: the status line cleared after indexing) until the
//     grid's first screen is laid out and painted; goal 1 s
//   bench results-scroll-end-10M: Ctrl+End in the grid until the last row is
//     painted
//   bench results-mark-deleted-10M: a block of 500 rows selected and marked
//     deleted the way the Delete command marks them, until repainted
//   bench results-select-all-10M: Ctrl+A and the check that enables Delete,
//     until repainted
//   bench results-sort-view-10M: a double-click on the header row sorting
//     the large result, until repainted, against the same sort by a data
//     manager alone (the window adds nothing but the repaint)
//
// A ratio near 1 says the step does not grow with the result. Then the peak
// memory of the process (VmHWM) beside the size of the line index and of the
// file, and the mapped file's pages resident while the large result was open:
// the rows are never copied, only what was drawn is read from the mapping.
//
// Each result opens once to warm up, then three times in turns; the best time
// counts. Every step checks what the window shows against the file read on
// its own (a visible cell's text, the dark pixels of its text, the last row
// and its value, the marks) and the bench fails with a message otherwise.
// The machine is a temporary home of the test harness; nothing stays behind
// but the inputs under the data directory.
//
// usage: grid_bench [DATA_DIR]
#include <QAbstractItemView>
#include <QApplication>
#include <QEvent>
#include <QImage>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QStatusBar>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "bench/ProcStatus.h"
#include "bench/ResultInput.h"
#include "console/core/results/FXDataManager.h"
#include "console/core/support/Resources.h"
#include "console/widgets/entry/KSEntry.h"
#include "console/widgets/grid/GridCtrl.h"
#include "console/widgets/grid/GridModel.h"
#include "console/widgets/results/FastReadDoc.h"
#include "console/widgets/results/FastReadView.h"
#include "console/widgets/support/KSMDIChildWnd.h"
#include "console/widgets/tests/ConsoleSession.h"
#include "testing/TempMachineHome.h"
#include "ui/MDIFrameWnd.h"
#include "ui/MultiDocTemplate.h"
#include "ui/WinApp.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kSmallRows = 1000;
constexpr int kMarkedRows = 500;
constexpr double kFirstScreenGoal = 1.0;
constexpr auto kPaintCeiling = std::chrono::seconds(60);
constexpr char kIndexedText[] = "Vornal: reading data complete";

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

using vn::bench::StatusKb;

// What the file holds, read without the product: the file names of the first
// and the last row (rows are "D1","name","directory",...).
struct Expected {
  std::uint32_t rows = 0;
  std::string firstName;
  std::string lastName;
};

std::string NameOf(const std::string& line) {
  const std::string start = "\"D1\",\"";
  if (line.compare(0, start.size(), start) != 0) return {};
  const std::size_t end = line.find('"', start.size());
  return end == std::string::npos ? std::string() : line.substr(start.size(), end - start.size());
}

std::optional<Expected> ReadExpected(const fs::path& file, std::uint32_t rows) {
  std::ifstream in(file, std::ios::binary);
  std::string line;
  for (int i = 0; i <= vn::bench::kResultHeaderLines; ++i)
    if (!std::getline(in, line)) return std::nullopt;
  Expected expected{rows, NameOf(line), {}};
  // The last line: the tail of the file after the line end before its own.
  const auto size = static_cast<std::streamoff>(fs::file_size(file));
  const std::streamoff tail = std::min<std::streamoff>(size, 4096);
  in.clear();
  in.seekg(size - tail);
  std::string text(static_cast<std::size_t>(tail), '\0');
  if (!in.read(text.data(), tail)) return std::nullopt;
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  const std::size_t lineStart = text.rfind('\n');
  if (lineStart == std::string::npos) return std::nullopt;
  expected.lastName = NameOf(text.substr(lineStart + 1));
  if (expected.firstName.empty() || expected.lastName.empty()) return std::nullopt;
  return expected;
}

// Counts the paint events of result grids' viewports (the cells).
class PaintCounter : public QObject {
 public:
  int Paints() const { return m_paints; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint)
      if (auto* grid = dynamic_cast<CGridCtrl*>(watched->parent()); grid && grid->viewport() == watched) ++m_paints;
    return false;
  }

 private:
  int m_paints = 0;
};

struct Times {
  double firstScreen = 0;
  double scrollEnd = 0;
  double markDeleted = 0;
  double selectAll = 0;
  double indexed = 0;  // open and index, for the record
};

class Bench {
 public:
  explicit Bench(QApplication& app) : m_app(app) { m_app.installEventFilter(&m_paints); }
  ~Bench() { m_app.removeEventFilter(&m_paints); }

  vn::console::testing::ConsoleSession<CMDIFrameWnd>& Session() { return m_session; }

  // Opens `file`, runs the four steps and closes it again. False, with a
  // message on stderr, when anything shown was not what the file holds.
  bool Run(const fs::path& file, const Expected& expected, Times& times);

  // Opens `file` and sorts it by the header's double-click on the size and
  // the allocated columns in turn, until repainted: the best of three after
  // one to warm up, checking the order shown. Sets `alone` to the best of
  // the same sorts by a data manager of its own, and `filePagesKb` to the
  // file pages the sorts brought in. Negative on failure.
  double Sort(const fs::path& file, double& alone, long& filePagesKb);

  // Of the large result: file pages that came in while it was open, memory
  // of its own that the open window holds (index, grid, window) and the index.
  long mappedKb = 0;
  long windowKb = 0;
  std::size_t indexBytes = 0;

 private:
  bool Fail(const std::string& what) {
    std::fprintf(stderr, "grid_bench: %s\n", what.c_str());
    return false;
  }
  double Failed(const std::string& what) {
    Fail(what);
    return -1;
  }
  // Lets the window handle its events until a grid has painted after
  // `paintsBefore` paints; false when none came within the ceiling.
  bool WaitPainted(int paintsBefore) {
    const auto deadline = Clock::now() + kPaintCeiling;
    while (m_paints.Paints() <= paintsBefore && Clock::now() < deadline)
      QApplication::processEvents(QEventLoop::AllEvents);
    return m_paints.Paints() > paintsBefore;
  }
  void Key(CGridCtrl* grid, Qt::Key key) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::ControlModifier);
    QApplication::sendEvent(grid, &press);
  }
  static bool FullyVisible(CGridCtrl* grid, int row) {
    const QRect cell = grid->visualRect(grid->Model()->index(row, 1));
    return cell.isValid() && grid->viewport()->rect().contains(cell);
  }
  static QString Shown(CGridCtrl* grid, int row, int role = Qt::DisplayRole) {
    return grid->Model()->data(grid->Model()->index(row, 1), role).toString();
  }

  QApplication& m_app;
  PaintCounter m_paints;
  vn::testing::TempMachineHome m_home{"BENCH"};
  vn::console::testing::ConsoleSession<CMDIFrameWnd> m_session;
};

bool Bench::Run(const fs::path& file, const Expected& expected, Times& times) {
  CMDIFrameWnd* frame = m_session.m_mainFrame.get();
  QString lastStatus;
  std::optional<Clock::time_point> ready;
  int paintsAtReady = 0;
  const auto watch = QObject::connect(frame->statusBar(), &QStatusBar::messageChanged, [&](const QString& text) {
    if (text.isEmpty() && lastStatus == QLatin1String(kIndexedText)) {
      ready = Clock::now();
      paintsAtReady = m_paints.Paints();
    }
    lastStatus = text;
  });
  const long filePagesBefore = StatusKb("RssFile:");
  const long anonBefore = StatusKb("RssAnon:");
  const auto opening = Clock::now();
  auto* doc = dynamic_cast<CFastReadDoc*>(pKSRptDocTemplate->OpenDocumentFile(QString::fromStdString(file.string())));
  QObject::disconnect(watch);
  if (!doc) return Fail("the result did not open: " + file.string());
  if (!ready) return Fail("the status line never told that the index was ready");
  auto* view = dynamic_cast<CFastReadView*>(doc->GetViews().front());
  if (!view) return Fail("the result window has no result view");
  if (!WaitPainted(paintsAtReady)) return Fail("the grid never painted its first screen");
  times.firstScreen = Seconds(Clock::now() - *ready);
  times.indexed = Seconds(*ready - opening);

  CGridCtrl* grid = view->GetGrid();
  CGridModel* model = grid->Model();
  vn::console::CFXDataManager* data = view->GetDataManager();
  const int lastRow = static_cast<int>(expected.rows);
  if (model->rowCount() != lastRow + 1)
    return Fail("the grid has " + std::to_string(model->rowCount()) + " rows, not " + std::to_string(lastRow + 1));
  if (lastRow == static_cast<int>(vn::bench::kLargeResultRows)) {
    indexBytes = std::size_t{data->GetLineCount()} * sizeof(const char*);
    windowKb = StatusKb("RssAnon:") - anonBefore;
  }

  // The first screen: the header line and the first row, drawn.
  if (grid->TopRow() != 0 || !FullyVisible(grid, 1)) return Fail("the first screen does not start at the top");
  if (Shown(grid, 1).toStdString() != expected.firstName)
    return Fail("row 1 shows \"" + Shown(grid, 1).toStdString() + "\", the file has \"" + expected.firstName + "\"");
  const QImage cells = grid->viewport()->grab().toImage();
  const QRect firstCell = grid->visualRect(model->index(1, 1));
  int dark = 0;
  for (int y = firstCell.top(); y <= firstCell.bottom(); ++y)
    for (int x = firstCell.left(); x <= firstCell.right(); ++x)
      if (qGray(cells.pixel(x, y)) < 128) ++dark;
  if (dark < 10) return Fail("row 1 was painted without its text");

  // Ctrl+End: the last row, painted at the bottom.
  int paints = m_paints.Paints();
  auto start = Clock::now();
  Key(grid, Qt::Key_End);
  if (!WaitPainted(paints)) return Fail("the grid did not paint after Ctrl+End");
  times.scrollEnd = Seconds(Clock::now() - start);
  if (!FullyVisible(grid, lastRow)) return Fail("the last row is not in view after Ctrl+End");
  if (view->CellText(lastRow, 2) != expected.lastName)
    return Fail("the last row holds \"" + view->CellText(lastRow, 2) + "\", the file has \"" + expected.lastName + "\"");
  // Rows from the cut-off on show no value.
  const QString lastShown = lastRow < CFastReadView::kMaxShownRow ? QString::fromStdString(expected.lastName) : QString();
  if (Shown(grid, lastRow) != lastShown) return Fail("the last row shows \"" + Shown(grid, lastRow).toStdString() + "\"");
  if (lastRow == static_cast<int>(vn::bench::kLargeResultRows)) mappedKb = StatusKb("RssFile:") - filePagesBefore;

  // Back to the top (not timed), then a block of rows selected as a
  // shift-click selects it and marked as the Delete command marks the rows
  // whose files it removed.
  paints = m_paints.Paints();
  Key(grid, Qt::Key_Home);
  if (!WaitPainted(paints) || grid->TopRow() != 0) return Fail("Ctrl+Home did not go back to the top");
  paints = m_paints.Paints();
  start = Clock::now();
  grid->RowSelection()->select(QItemSelection(model->index(1, 0), model->index(kMarkedRows, model->columnCount() - 1)),
                               QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  for (const int row : grid->SelectedRows()) view->MarkRowDeleted(row);
  if (!WaitPainted(paints)) return Fail("the grid did not repaint the marked rows");
  times.markDeleted = Seconds(Clock::now() - start);
  for (const int row : {1, kMarkedRows, kMarkedRows + 1, lastRow})
    if (data->IsDeleted(static_cast<std::uint32_t>(row)) != (row <= kMarkedRows))
      return Fail("row " + std::to_string(row) + " has the wrong mark");
  const QModelIndex first = model->index(1, 1);
  if (!model->data(first, Qt::FontRole).value<QFont>().strikeOut() ||
      model->data(first, Qt::ForegroundRole).value<QColor>() != QColor(Qt::red))
    return Fail("a marked row is not shown as deleted");
  if (model->data(model->index(kMarkedRows + 1, 1), Qt::FontRole).value<QFont>().strikeOut())
    return Fail("a row after the block is shown as deleted");

  // Ctrl+A and the check that enables Delete (the context menu makes it),
  // until repainted: every row selected.
  paints = m_paints.Paints();
  start = Clock::now();
  Key(grid, Qt::Key_A);
  view->FilesOnly();
  if (!WaitPainted(paints)) return Fail("the grid did not repaint after Ctrl+A");
  times.selectAll = Seconds(Clock::now() - start);
  if (grid->SelectedRowCount() != static_cast<std::size_t>(lastRow) + 1 || grid->LastSelectedRow() != lastRow)
    return Fail("Ctrl+A did not select every row");

  m_session.m_app->CloseAllDocuments(FALSE);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  return true;
}

// Rows 1..count of the grid's order hold non-decreasing numbers in `column`.
bool Ascending(vn::console::CFXDataManager& data, std::uint32_t column, std::uint32_t count) {
  long long previous = 0;
  for (std::uint32_t row = 1; row <= count; ++row) {
    data.SplitFields(data.Line(row), static_cast<int>(column));
    const std::string field(data.Field(static_cast<int>(column) - 1));
    const long long value = field.empty() ? 0 : std::atoll(field.c_str());
    if (row > 1 && value < previous) return false;
    previous = value;
  }
  return true;
}

double Bench::Sort(const fs::path& file, double& alone, long& filePagesKb) {
  const long filePagesBefore = StatusKb("RssFile:");
  const int paintsBefore = m_paints.Paints();
  auto* doc = dynamic_cast<CFastReadDoc*>(pKSRptDocTemplate->OpenDocumentFile(QString::fromStdString(file.string())));
  auto* view = doc ? dynamic_cast<CFastReadView*>(doc->GetViews().front()) : nullptr;
  if (!view || !WaitPainted(paintsBefore)) return Failed("the result did not open to sort it");
  double best = -1;
  for (int run = 0; run < 4; ++run) {
    const std::uint32_t column = run % 2 == 0 ? 4 : 5;
    const int paints = m_paints.Paints();
    const auto start = Clock::now();
    view->OnLButtonDblClkRowCol(0, static_cast<int>(column));
    if (!WaitPainted(paints)) return Failed("the grid did not repaint after sorting");
    const double seconds = Seconds(Clock::now() - start);
    vn::console::CFXDataManager* data = view->GetDataManager();
    if (data->GetLastSortedColumn() != column || data->IsSortedDescending() || !Ascending(*data, column, 1000))
      return Failed("the view's sort did not order column " + std::to_string(column));
    if (run > 0 && (best < 0 || seconds < best)) best = seconds;
  }
  filePagesKb = StatusKb("RssFile:") - filePagesBefore;
  m_session.m_app->CloseAllDocuments(FALSE);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

  vn::console::CFXDataManager data(file.string());
  if (!data.Open()) return Failed("the result did not open to sort it alone");
  data.ReadHeader();
  if (!data.ReadAll()) return Failed("the result could not be indexed");
  alone = -1;
  for (int run = 0; run < 4; ++run) {
    const std::uint32_t column = run % 2 == 0 ? 4 : 5;
    const auto start = Clock::now();
    if (!data.SortByColumn(column) || !Ascending(data, column, 1000)) return Failed("the data manager did not sort");
    const double seconds = Seconds(Clock::now() - start);
    if (run > 0 && (alone < 0 || seconds < alone)) alone = seconds;
  }
  return best;
}

void Print(const char* name, const std::vector<Times>& large, const std::vector<Times>& small,
           double Times::*step) {
  auto best = [step](const std::vector<Times>& runs) {
    double seconds = runs.front().*step;
    for (const Times& t : runs) seconds = std::min(seconds, t.*step);
    return seconds;
  };
  const double ours = best(large);
  const double peer = best(small);
  std::printf("bench %s: ours %.4f s, 1k-rows %.4f s, ratio %.2f\n", name, ours, peer, ours / peer);
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  const fs::path dir = argc > 1 && argv[1][0] != '\0' ? fs::path(argv[1]) : fs::path(VN_BENCH_DATA);
  const fs::path large = vn::bench::LargeResult(dir, VN_SHARED_BENCH "/gen_trees.py");
  const fs::path small = dir / "results-1k.csv";
  if (large.empty() || !vn::bench::ResultHead(large, small, kSmallRows)) {
    std::fprintf(stderr, "grid_bench: the inputs could not be made in %s\n", dir.c_str());
    return 1;
  }
  const std::optional<Expected> largeExpected = ReadExpected(large, vn::bench::kLargeResultRows);
  const std::optional<Expected> smallExpected = ReadExpected(small, kSmallRows);
  if (!largeExpected || !smallExpected) {
    std::fprintf(stderr, "grid_bench: the inputs in %s are not results of the expected shape\n", dir.c_str());
    return 1;
  }

  QApplication app(argc, argv);
  int status = 0;
  {
    Bench bench(app);
    bench.Session().m_mainFrame->resize(1280, 1024);
    pKSRptDocTemplate = new CMultiDocTemplate(vn::console::IDR_KSRPTTYPE, RUNTIME_CLASS(CFastReadDoc),
                                              RUNTIME_CLASS(CKSMDIChildWnd), RUNTIME_CLASS(CFastReadView));
    bench.Session().m_app->AddDocTemplate(pKSRptDocTemplate);

    std::vector<Times> largeRuns;
    std::vector<Times> smallRuns;
    Times warm;
    long baselineKb = 0;
    bool ok = bench.Run(small, *smallExpected, warm);
    if (ok) baselineKb = StatusKb("VmHWM:");
    ok = ok && bench.Run(large, *largeExpected, warm);
    for (int run = 0; ok && run < 3; ++run) {
      ok = bench.Run(large, *largeExpected, largeRuns.emplace_back()) &&
           bench.Run(small, *smallExpected, smallRuns.emplace_back());
    }
    if (ok) {
      Print("results-first-screen-10M", largeRuns, smallRuns, &Times::firstScreen);
      double worst = 0;
      double indexed = largeRuns.front().indexed;
      for (const Times& t : largeRuns) {
        worst = std::max(worst, t.firstScreen);
        indexed = std::min(indexed, t.indexed);
      }
      std::printf("      results-first-screen-10M: goal %.0f s after the index is ready: %s (slowest of 3 %.4f s; "
                  "opening and indexing took %.2f s before it)\n",
                  kFirstScreenGoal, worst <= kFirstScreenGoal ? "met" : "NOT met", worst, indexed);
      Print("results-scroll-end-10M", largeRuns, smallRuns, &Times::scrollEnd);
      Print("results-mark-deleted-10M", largeRuns, smallRuns, &Times::markDeleted);
      Print("results-select-all-10M", largeRuns, smallRuns, &Times::selectAll);
      const long peakKb = StatusKb("VmHWM:");
      std::printf("      results-grid-10M: peak memory (VmHWM) %ld MB, %ld MB of it before the large result opened; "
                  "the open window holds %ld MB, the line index %zu MB of it; "
                  "the file is %ju MB, %ld kB of its pages were read through the mapping\n",
                  peakKb / 1024, baselineKb / 1024, bench.windowKb / 1024, bench.indexBytes >> 20,
                  static_cast<std::uintmax_t>(fs::file_size(large) >> 20), bench.mappedKb);
      // Sorting last: it reads the whole file through the mapping.
      double alone = 0;
      long filePagesKb = 0;
      const double sorted = bench.Sort(large, alone, filePagesKb);
      if (sorted > 0) {
        std::printf("bench results-sort-view-10M: ours %.3f s, data-manager-sort %.3f s, ratio %.2f\n", sorted, alone,
                    sorted / alone);
        std::printf("      results-sort-view-10M: peak memory (VmHWM) now %ld MB; the sorts read %ld MB of the file "
                    "through the mapping (its pages, shared with the page cache)\n",
                    StatusKb("VmHWM:") / 1024, filePagesKb / 1024);
      } else {
        status = 1;
      }
    } else {
      status = 1;
    }
    bench.Session().End();
    pKSRptDocTemplate = nullptr;
  }
  return status;
}
