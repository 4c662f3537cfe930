// The "Run" tab and the schedule window with real parts: this process is the
// console CONSOLE; CONSOLE, SRV1 and SRV2 run the real reporting server, and
// CONSOLE's machine service keeps the jobs and starts VN for them. The
// scheduler's clock is moved on through VORNAL_JOB_CLOCK_FILE, so a job due
// in two minutes runs at once.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimeEdit>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "console/core/reports/ReportSetStore.h"
#include "console/core/schedule/ScheduleJobs.h"
#include "console/core/support/Resources.h"
#include "console/widgets/entry/KSEntry.h"
#include "console/widgets/entry/KSMgrFrame.h"
#include "console/widgets/grid/GridCtrl.h"
#include "console/widgets/objects/KSTreeView.h"
#include "console/widgets/results/FastReadDoc.h"
#include "console/widgets/results/FastReadView.h"
#include "console/widgets/run/ReportRun.h"
#include "console/widgets/schedule/KSScheDoc.h"
#include "console/widgets/schedule/KSScheView.h"
#include "console/widgets/schedule/ModifyJobDlg.h"
#include "console/widgets/schedule/ScheduleControls.h"
#include "console/widgets/schedule/ScheduleView.h"
#include "console/widgets/support/KSMDIChildWnd.h"
#include "console/widgets/support/KSMgrDoc.h"
#include "console/widgets/tests/ConsoleSession.h"
#include "console/widgets/tests/ModalDialogs.h"
#include "console/widgets/tests/run/RunFixture.h"
#include "platform/ipc/Sync.h"
#include "platform/registry/Registry.h"
#include "platform/services/NetSchedule.h"
#include "platform/core/WideString.h"
#include "testing/TestFiles.h"
#include "testing/Wait.h"
#include "ui/CmdUI.h"
#include "ui/MessageBox.h"
#include "ui/MultiDocTemplate.h"

namespace {

namespace fs = std::filesystem;
using vn::console::testing::WithDialog;
using vn::testing::WaitUntil;

constexpr int kAllFilesIndex = 7;
constexpr int kFilesBySizeIndex = 12;

// Holds every message box text and answers with `answer`.
class MessageBoxes {
 public:
  explicit MessageBoxes(int answer = IDOK)
      : m_previous(AfxSetMessageBoxHook([this, answer](const QString& text, UINT) {
          texts.push_back(text);
          return answer;
        })) {}
  ~MessageBoxes() { AfxSetMessageBoxHook(m_previous); }
  std::vector<QString> texts;

 private:
  MessageBoxHook m_previous;
};

// The job clock file, named in the environment before any machine service
// starts (it is read at every look at the clock).
class JobClock {
 public:
  JobClock() : m_file(fs::path(m_dir.path().toStdString()) / "job-clock") {
    ::setenv("VORNAL_JOB_CLOCK_FILE", m_file.c_str(), 1);
  }
  ~JobClock() { ::unsetenv("VORNAL_JOB_CLOCK_FILE"); }
  void MoveOn(long long seconds) const {
    const fs::path temp = m_file.string() + ".tmp";
    std::ofstream(temp) << seconds << "\n";
    fs::rename(temp, m_file);
  }

 private:
  QTemporaryDir m_dir;
  fs::path m_file;
};

// A main window that starts the runs it is handed, as the host's does.
class CRunningFrame : public CMDIFrameWnd {
 public:
  ~CRunningFrame() override { WaitForRuns(); }
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
    if (message == WM_REPORT_BATCH_SUBMITTED) {
      ++batchesSubmitted;
      return 0;
    }
    if (message != WM_REPORT_START_RUN) return CMDIFrameWnd::WindowProc(message, wParam, lParam);
    const StartRun run = StartRunOf(wParam, lParam);
    HANDLE report = nullptr;
    HANDLE channel = nullptr;
    const BOOL started = StartReportRun(run.context, run.entry, &report, &channel);
    for (HANDLE thread : {report, channel})
      if (thread) threads.push_back(thread);
    return started ? 1 : 0;
  }
  // Waits until every thread started here has ended, answering the runs'
  // messages meanwhile.
  bool WaitForRuns() {
    const bool ended = WaitUntil(
        [this] {
          QCoreApplication::processEvents();
          for (HANDLE thread : threads)
            if (WaitForSingleObject(thread, 0) != WAIT_OBJECT_0) return false;
          return true;
        },
        std::chrono::seconds(120));
    for (HANDLE thread : threads) CloseHandle(thread);
    threads.clear();
    return ended;
  }
  std::vector<HANDLE> threads;
  int batchesSubmitted = 0;
};

class ScheduleViewTest : public ::testing::Test {
 protected:
  ScheduleViewTest() {
    pKSRptDocTemplate = new CMultiDocTemplate(vn::console::IDR_KSRPTTYPE, RUNTIME_CLASS(CFastReadDoc),
                                              RUNTIME_CLASS(CKSMDIChildWnd), RUNTIME_CLASS(CFastReadView));
    m_session.m_app->AddDocTemplate(pKSRptDocTemplate);
    m_scheduleTemplate = new CMultiDocTemplate(vn::console::IDR_KSSCHETYPE, RUNTIME_CLASS(CKSScheDoc),
                                               RUNTIME_CLASS(CKSMDIChildWnd), RUNTIME_CLASS(CKSScheView));
    m_session.m_app->AddDocTemplate(m_scheduleTemplate);
    m_managerTemplate = new CMultiDocTemplate(vn::console::IDR_KSMGRTYPE, RUNTIME_CLASS(CKSMgrDoc),
                                              RUNTIME_CLASS(CKSMgrFrame), RUNTIME_CLASS(CKSTreeView));
    m_session.m_app->AddDocTemplate(m_managerTemplate);
  }
  ~ScheduleViewTest() override {
    m_form.reset();
    m_doc.reset();
    m_session.End();
    pKSRptDocTemplate = nullptr;
  }

  void SetUp() override {
    for (auto [machine, count] : {std::pair{"CONSOLE", 3}, {"SRV1", 4}, {"SRV2", 5}}) {
      const fs::path root = std::string(machine) == "CONSOLE" ? m_run.Machine(machine).driveC / "Tree"
                                                              : m_run.Machine(machine).ShareDir("Data") / "tree";
      fs::create_directories(root);
      for (int i = 0; i < count; ++i)
        vn::testing::WriteText(root / ("file" + std::to_string(i) + ".txt"), std::string(static_cast<std::size_t>(i + 1), 'x'));
      m_files += count;
    }
    vn::console::ReportSet set;
    set[kAllFilesIndex].Selected = 1;
    set[kFilesBySizeIndex].Selected = 1;
    ASSERT_EQ(vn::console::SaveReportSet("", "Two Reports", set), 0);
    // The product directory, where the record files of jobs go.
    fs::create_directories(m_run.Machine("CONSOLE").driveC / "Vornal");
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Halvard\\Vornal\\4.0", 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              0);
    const char dir[] = "C:\\Vornal";
    ASSERT_EQ(RegSetValueExA(key, "Vornal_DIR", 0, REG_SZ, reinterpret_cast<const BYTE*>(dir), sizeof dir), 0);
    RegCloseKey(key);
  }

  // A run form on its own over a manager document holding the three trees
  // and the set.
  CScheduleView* Form(bool select = true) {
    m_doc = std::make_unique<CKSMgrDoc>();
    m_form = std::make_unique<CScheduleView>();
    m_doc->AddView(m_form.get());
    if (select) {
      m_doc->m_pReportTreeView = &m_reportTree;  // the choice comes from a report tree
      m_doc->AddLocalObject("C:\\Tree");
      m_doc->AddNetworkObject("\\\\SRV1\\Data\\tree");
      m_doc->AddNetworkObject("\\\\SRV2\\Data\\tree");
      m_doc->m_strReportMachine = QStringLiteral("CONSOLE");
      m_doc->m_strReportName = QStringLiteral("Two Reports");
    }
    m_form->OnInitialUpdate();
    m_form->resize(700, 600);
    m_form->show();
    return m_form.get();
  }

  std::vector<CFastReadDoc*> Results() const {
    std::vector<CFastReadDoc*> results;
    for (CDocument* pDoc : pKSRptDocTemplate->GetDocuments())
      if (auto* pResult = dynamic_cast<CFastReadDoc*>(pDoc)) results.push_back(pResult);
    return results;
  }

  fs::path ProductDir() const { return m_run.Machine("CONSOLE").driveC / "Vornal"; }
  fs::path ResultsDir() const { return m_run.Machine("CONSOLE").home / "results"; }

  JobClock m_clock;  // before the network, whose services read it
  vn::testing::RunNetwork m_run;
  vn::console::testing::ConsoleSession<CRunningFrame> m_session;
  CMultiDocTemplate* m_scheduleTemplate = nullptr;
  CMultiDocTemplate* m_managerTemplate = nullptr;
  std::unique_ptr<CKSMgrDoc> m_doc;
  std::unique_ptr<CScheduleView> m_form;
  CView m_reportTree;
  MessageBoxes m_boxes;  // no test waits on a box nobody answers
  int m_files = 0;
};

int CountKind(const std::string& text, const char* kind) {
  int count = 0;
  for (const std::string& line : vn::testing::ResultLines(text)) count += line.rfind(kind, 0) == 0 ? 1 : 0;
  return count;
}

TEST_F(ScheduleViewTest, TheFormShowsTheSelectionAndItsControlsByModeAndInterval) {
  CScheduleView* form = Form();
  EXPECT_EQ(form->ObjectsText()->text(), QStringLiteral("C:\\Tree;\\\\SRV1\\Data\\tree;\\\\SRV2\\Data\\tree"));
  EXPECT_EQ(form->ReportSetText()->text(), QStringLiteral("CONSOLE\\Two Reports"));
  EXPECT_TRUE(form->InteractiveButton()->isChecked());
  EXPECT_TRUE(form->CancelButton()->isHidden());
  EXPECT_FALSE(form->CancelButton()->isEnabled());
  EXPECT_TRUE(form->ScheduleGroup()->isHidden());
  EXPECT_EQ(form->Controls()->TimeEdit()->displayFormat(), QStringLiteral("h:mm:ss AP"));
  EXPECT_EQ(form->Controls()->WeekDayList()->count(), 7);
  EXPECT_EQ(form->Controls()->MonthDayList()->item(30)->text(), QStringLiteral("31st"));

  form->BatchButton()->click();
  EXPECT_FALSE(form->ScheduleGroup()->isHidden());
  EXPECT_TRUE(form->StatusGroup()->isHidden());
  const struct {
    int interval;
    bool days;
  } intervals[] = {{0, false}, {1, false}, {2, true}, {3, true}};
  CScheduleControls* controls = form->Controls();
  for (const auto& c : intervals) {
    controls->IntervalBox()->setCurrentIndex(c.interval);
    for (QWidget* w : {static_cast<QWidget*>(controls->WeekDayList()), static_cast<QWidget*>(controls->MonthDayList()),
                       static_cast<QWidget*>(controls->WeekDayLabel()), static_cast<QWidget*>(controls->MonthDayLabel())})
      EXPECT_EQ(w->isEnabled(), c.days) << c.interval;
  }
  // "Tomorrow" ignores the checks it disables.
  controls->WeekDayList()->item(4)->setCheckState(Qt::Checked);
  controls->IntervalBox()->setCurrentIndex(1);
  const vn::console::ScheduleChoices choices = controls->GetChoices();
  EXPECT_EQ(vn::console::EncodeNewJob(choices, 1).timing.daysOfWeek, 0x02);

  form->InteractiveButton()->click();
  EXPECT_TRUE(form->ScheduleGroup()->isHidden());
  EXPECT_FALSE(form->StatusGroup()->isHidden());

  // Nothing chosen: both texts say so, and Submit refuses in either mode.
  CScheduleView* empty = Form(false);
  EXPECT_EQ(empty->ObjectsText()->text(), QStringLiteral("No Object(s) is selected."));
  EXPECT_EQ(empty->ReportSetText()->text(), QStringLiteral("No Report Set is selected."));
  MessageBoxes boxes;
  empty->SubmitButton()->click();
  empty->BatchButton()->click();
  empty->SubmitButton()->click();
  EXPECT_EQ(boxes.texts, (std::vector<QString>(2, QStringLiteral("No object or report selected.  Please select from "
                                                                  "the Object and Memorized Report tab."))));
  EXPECT_TRUE(m_session.m_mainFrame->threads.empty());
}

TEST_F(ScheduleViewTest, AnInteractiveRunOverThreeMachinesOpensOneMergedResultPerReport) {
  CScheduleView* form = Form();
  form->SubmitButton()->click();
  EXPECT_FALSE(form->SubmitButton()->isEnabled());
  EXPECT_FALSE(form->CancelButton()->isHidden());
  EXPECT_TRUE(form->IsRunning());
  ASSERT_TRUE(m_session.m_mainFrame->WaitForRuns());
  ASSERT_TRUE(WaitUntil([form] {
    QCoreApplication::processEvents();
    return !form->IsRunning();
  }));
  EXPECT_TRUE(form->SubmitButton()->isEnabled());
  EXPECT_TRUE(form->CancelButton()->isHidden());
  EXPECT_EQ(form->StatusEdit()->toPlainText(), QStringLiteral("Report created successfully."));

  const std::vector<CFastReadDoc*> results = Results();
  ASSERT_EQ(results.size(), 2u);
  int allFileRows = 0;
  for (CFastReadDoc* pResult : results) {
    EXPECT_TRUE(pResult->IsDeleteOnClose());
    const std::string text = vn::testing::ReadText(pResult->GetPathName().toStdString());
    EXPECT_EQ(CountKind(text, "\"TF\""), 1);
    allFileRows = std::max(allFileRows, CountKind(text, "\"D1\""));
  }
  EXPECT_EQ(allFileRows, m_files);  // every machine's files in the All Files result
  for (const char* machine : {"CONSOLE", "SRV1", "SRV2"}) EXPECT_TRUE(m_run.ServerResults(machine).empty()) << machine;
}

TEST_F(ScheduleViewTest, CancelEndsTheRunWithoutAResult) {
  CScheduleView* form = Form();
  form->SubmitButton()->click();
  ASSERT_TRUE(form->CancelButton()->isEnabled());
  form->CancelButton()->click();
  ASSERT_TRUE(m_session.m_mainFrame->WaitForRuns());
  ASSERT_TRUE(WaitUntil([form] {
    QCoreApplication::processEvents();
    return !form->IsRunning();
  }));
  EXPECT_TRUE(Results().empty());
  EXPECT_NE(form->StatusEdit()->toPlainText(), QStringLiteral("Report created successfully."));
  EXPECT_TRUE(form->SubmitButton()->isEnabled());
  EXPECT_TRUE(form->CancelButton()->isHidden());
}

TEST_F(ScheduleViewTest, ABatchJobRunsAtItsTimeAndLeavesItsResults) {
  CScheduleView* form = Form();
  form->BatchButton()->click();
  form->Controls()->IntervalBox()->setCurrentIndex(0);  // today, two minutes from the time shown
  form->Controls()->SetTime(QTime::currentTime());
  {
    MessageBoxes boxes;
    form->SubmitButton()->click();
    EXPECT_TRUE(boxes.texts.empty()) << boxes.texts.front().toStdString();
  }
  QCoreApplication::processEvents();
  EXPECT_EQ(m_session.m_mainFrame->batchesSubmitted, 1);
  std::string message;
  const std::vector<vn::console::ScheduleListRow> jobs = vn::console::ReadScheduleList("", &message);
  ASSERT_EQ(jobs.size(), 1u);
  const std::string command = "VN /rs \"Two Reports\" /on \"C:\\Tree;\\\\SRV1\\Data\\tree;\\\\SRV2\\Data\\tree\"";
  EXPECT_EQ(jobs[0].cells[6], command);
  std::vector<fs::path> records;
  for (const auto& entry : fs::directory_iterator(ProductDir())) records.push_back(entry.path());
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(vn::testing::ReadText(records[0]), command);

  // Three minutes on, the scheduler starts VN, which leaves one result per
  // report in the machine's results directory; the one-time job is gone.
  m_clock.MoveOn(180);
  const auto resultFiles = [this] {
    std::vector<fs::path> files;
    std::error_code error;
    for (fs::directory_iterator it(ResultsDir(), error), end; !error && it != end; it.increment(error))
      if (it->path().extension() == ".csv") files.push_back(it->path());
    return files;
  };
  ASSERT_TRUE(WaitUntil([&] { return resultFiles().size() == 2; }, std::chrono::seconds(60)));
  int allFileRows = 0;
  for (const fs::path& file : resultFiles()) {
    EXPECT_EQ(file.filename().string().rfind("Two Reports - ", 0), 0u) << file;
    allFileRows = std::max(allFileRows, CountKind(vn::testing::ReadText(file), "\"D1\""));
  }
  EXPECT_EQ(allFileRows, m_files);
  EXPECT_TRUE(vn::console::ReadScheduleList("", &message).empty());
}

TEST_F(ScheduleViewTest, TheScheduleListShowsModifiesAndDeletesJobs) {
  vn::console::ScheduleRequest request;
  request.choices.interval = vn::console::ScheduleInterval::Every;
  request.choices.weekDays[0] = request.choices.weekDays[3] = true;
  request.choices.hour = 6;
  request.reportName = "Two Reports";
  request.localObjects = {"C:\\Tree"};
  const vn::console::ScheduleOutcome ours = vn::console::ScheduleJob(request);
  ASSERT_TRUE(ours.added) << ours.message;
  std::u16string other = vn::ToWide("backup.sh /all");
  AT_INFO info{0, 0, 0, 0, other.data()};
  DWORD otherId = 0;
  ASSERT_EQ(NetScheduleJobAdd(nullptr, reinterpret_cast<LPBYTE>(&info), &otherId), 0u);

  auto* pDoc = dynamic_cast<CKSScheDoc*>(m_scheduleTemplate->OpenDocumentFile(QStringLiteral("console")));
  ASSERT_NE(pDoc, nullptr);
  EXPECT_EQ(pDoc->GetTitle(), QStringLiteral("Vornal Schedules on console"));
  ASSERT_EQ(CKSScheView::m_mapSchedule.count("CONSOLE"), 1u);
  CKSScheView* list = CKSScheView::m_mapSchedule.at("CONSOLE");
  EXPECT_TRUE(list->IsLocalMachine());
  EXPECT_TRUE(list->IsTimerRunning());
  ASSERT_EQ(list->Rows().size(), 2u);
  EXPECT_EQ(list->Rows()[0].cells[1], "Two Reports");
  EXPECT_EQ(list->Rows()[0].cells[3], "Every - Mon Thu ");
  EXPECT_EQ(list->Rows()[1].cells[0], "");
  EXPECT_EQ(list->Rows()[1].cells[6], "backup.sh /all");
  EXPECT_EQ(list->Rows()[1].cells[5], "12:00AM");

  const auto enabled = [list](UINT id) {
    CCmdUI state(id);
    return state.DoUpdate(list, TRUE) && state.m_bEnabled;
  };
  CGridCtrl* grid = list->GetGrid();
  grid->clearSelection();
  grid->setCurrentIndex(grid->model()->index(0, 0));
  EXPECT_FALSE(enabled(CKSScheView::ID_EDTSCHED_MODIFY));
  EXPECT_FALSE(enabled(CKSScheView::ID_EDIT_CLEAR));
  grid->SelectRow(1, false);
  EXPECT_TRUE(enabled(CKSScheView::ID_EDTSCHED_MODIFY));
  EXPECT_TRUE(enabled(CKSScheView::ID_EDIT_CLEAR));
  grid->SelectRow(2, true);
  EXPECT_FALSE(enabled(CKSScheView::ID_EDTSCHED_MODIFY));
  EXPECT_FALSE(enabled(CKSScheView::ID_EDIT_CLEAR));

  // Modify the other program's job: a tick while the dialog is open reads
  // nothing, Save replaces the job with a new identifier.
  grid->SelectRow(2, false);
  ASSERT_TRUE(WithDialog<CModifyJobDlg>([list] { list->OnEdtschedModify(); },
                                        [list, otherId](CModifyJobDlg* dialog) {
                                          EXPECT_EQ(dialog->GetJobId(), otherId);
                                          EXPECT_EQ(dialog->CommandEdit()->text(), QStringLiteral("backup.sh /all"));
                                          EXPECT_EQ(dialog->Controls()->IntervalBox()->currentIndex(), 1);
                                          EXPECT_TRUE(list->IsBusy());
                                          std::u16string late = vn::ToWide("late.sh");
                                          AT_INFO job{0, 0, 0, 0, late.data()};
                                          DWORD id = 0;
                                          EXPECT_EQ(NetScheduleJobAdd(nullptr, reinterpret_cast<LPBYTE>(&job), &id), 0u);
                                          list->OnTimer(vn::console::kScheduleTimerId);
                                          EXPECT_EQ(list->Rows().size(), 2u);
                                          dialog->Controls()->IntervalBox()->setCurrentIndex(2);
                                          dialog->Controls()->WeekDayList()->item(6)->setCheckState(Qt::Checked);
                                          dialog->CommandEdit()->setText(QStringLiteral("backup.sh /weekly"));
                                          dialog->accept();
                                        }));
  EXPECT_FALSE(list->IsBusy());
  ASSERT_EQ(list->Rows().size(), 3u);
  EXPECT_EQ(list->Rows().back().cells[6], "backup.sh /weekly");
  EXPECT_EQ(list->Rows().back().cells[3], "Every - Sun ");
  EXPECT_NE(list->Rows().back().jobId, otherId);

  // Delete asks first; No keeps the job, Yes deletes it and its row.
  grid->clearSelection();
  grid->SelectRow(1, false);
  {
    MessageBoxes no(IDNO);
    list->OnDelete();
    ASSERT_EQ(no.texts.size(), 1u);
    EXPECT_EQ(no.texts[0], QStringLiteral("Delete job %1.  Are you sure?").arg(ours.jobId));
    EXPECT_EQ(list->Rows().size(), 3u);
  }
  {
    MessageBoxes yes(IDYES);
    list->OnDelete();
    EXPECT_EQ(list->Rows().size(), 2u);
  }
  std::string message;
  EXPECT_EQ(vn::console::ReadScheduleList("", &message).size(), 2u);

  // The list of another machine reads its jobs but changes none.
  auto* pRemote = dynamic_cast<CKSScheDoc*>(m_scheduleTemplate->OpenDocumentFile(QStringLiteral("SRV1")));
  ASSERT_NE(pRemote, nullptr);
  CKSScheView* remote = CKSScheView::m_mapSchedule.at("SRV1");
  EXPECT_FALSE(remote->IsLocalMachine());
  EXPECT_TRUE(remote->Rows().empty());
  EXPECT_FALSE(enabled(CKSScheView::ID_EDIT_CLEAR));
  pRemote->OnCloseDocument();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(CKSScheView::m_mapSchedule.count("SRV1"), 0u);
}

TEST_F(ScheduleViewTest, MovingToTheRunTabHandsTheTreesChoicesToTheForm) {
  auto* pDoc = dynamic_cast<CKSMgrDoc*>(m_managerTemplate->OpenDocumentFile(QString()));
  ASSERT_NE(pDoc, nullptr);
  auto* pFrame = dynamic_cast<CKSMgrFrame*>(pDoc->m_pTreeView->GetParentFrame());
  ASSERT_NE(pFrame, nullptr);
  ASSERT_EQ(pFrame->Tabs()->count(), 3);
  EXPECT_EQ(pFrame->Tabs()->tabText(2), QStringLiteral("Run"));
  pDoc->AddLocalObject("C:\\Stale");  // what the tree does not hold is dropped
  pFrame->Tabs()->setCurrentIndex(2);
  EXPECT_EQ(pFrame->ScheduleView()->ObjectsText()->text(), QStringLiteral("No Object(s) is selected."));
  EXPECT_EQ(pFrame->ScheduleView()->ReportSetText()->text(), QStringLiteral("No Report Set is selected."));
  EXPECT_EQ(pDoc->CanRunReport(), 0);
}

}  // namespace
