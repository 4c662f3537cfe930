// Pictures of the "Run" tab's form and of the schedule list for the
// documentation, and a job for the demo network to run: run with the home of
// a machine whose service keeps jobs (scripts/screenshot-schedule starts the
// demo network and runs this as its CONSOLE, on a virtual display).
//
//   schedule_shots OUTPUT_DIR
//
// It selects CONSOLE's C:\ and SRV1's share Data for "Daily Space Check",
// adds a weekly job and a job for today through the form's "Run in Batch",
// draws the form and the list of CONSOLE's jobs into OUTPUT_DIR/run-form.png
// and OUTPUT_DIR/schedule-list.png, and prints "job: <id>" for the job of
// today, whose results the caller waits for.
#include <QApplication>
#include <QDir>
#include <QMdiArea>
#include <QPixmap>
#include <QRadioButton>
#include <QComboBox>
#include <QListWidget>
#include <QPushButton>
#include <QThread>
#include <QTime>
#include <cstdio>

#include "console/core/schedule/ScheduleJobs.h"
#include "console/core/support/Resources.h"
#include "console/widgets/entry/KSEntry.h"
#include "console/widgets/schedule/KSScheDoc.h"
#include "console/widgets/schedule/KSScheView.h"
#include "console/widgets/schedule/ScheduleControls.h"
#include "console/widgets/schedule/ScheduleView.h"
#include "console/widgets/support/KSMDIChildWnd.h"
#include "console/widgets/support/KSMgrDoc.h"
#include "ui/MDIFrameWnd.h"
#include "ui/MessageBox.h"
#include "ui/MultiDocTemplate.h"
#include "ui/WinApp.h"

namespace {

void Settle() {
  for (int i = 0; i < 30; ++i) {
    QApplication::processEvents();
    QThread::msleep(10);
  }
}

bool Save(QWidget* widget, const QDir& out, const char* name) {
  Settle();
  const QString path = out.filePath(QString::fromLatin1(name));
  if (!widget->grab().save(path)) {
    std::fprintf(stderr, "schedule_shots: cannot write %s\n", path.toLocal8Bit().constData());
    return false;
  }
  std::printf("wrote %s\n", path.toLocal8Bit().constData());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication qapp(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: schedule_shots OUTPUT_DIR\n");
    return 2;
  }
  const QDir out(QString::fromLocal8Bit(argv[1]));
  int failures = 0;
  AfxSetMessageBoxHook([&failures](const QString& text, UINT) {
    std::fprintf(stderr, "schedule_shots: %s\n", text.toLocal8Bit().constData());
    ++failures;
    return IDOK;
  });
  CWinApp app(QStringLiteral("VNMgr"));
  InitializeKSDLL();
  {
    CMDIFrameWnd main;
    main.setWindowTitle(QStringLiteral("Vornal"));
    main.resize(980, 520);
    app.m_pMainWnd = &main;
    main.show();

    CKSMgrDoc doc;
    CView reportTree;  // the report tree the choice came from
    auto* form = new CScheduleView;
    doc.AddView(form);
    doc.AddLocalObject("C:\\");
    doc.AddNetworkObject("\\\\SRV1\\Data");
    doc.m_pReportTreeView = &reportTree;
    doc.m_strReportMachine = QStringLiteral("CONSOLE");
    doc.m_strReportName = QStringLiteral("Daily Space Check");
    form->OnInitialUpdate();
    form->resize(720, 620);
    form->show();

    // A weekly job: every Monday and Thursday and the 1st, at 6:30.
    form->BatchButton()->click();
    CScheduleControls* controls = form->Controls();
    controls->IntervalBox()->setCurrentIndex(static_cast<int>(vn::console::ScheduleInterval::Every));
    controls->WeekDayList()->item(0)->setCheckState(Qt::Checked);
    controls->WeekDayList()->item(3)->setCheckState(Qt::Checked);
    controls->MonthDayList()->item(0)->setCheckState(Qt::Checked);
    controls->SetTime(QTime(6, 28, 0));
    if (!Save(form, out, "run-form.png")) ++failures;
    form->SubmitButton()->click();

    // A job for today, two minutes from now: the one the demo runs.
    controls->IntervalBox()->setCurrentIndex(static_cast<int>(vn::console::ScheduleInterval::Today));
    controls->SetTime(QTime::currentTime());
    form->SubmitButton()->click();

    auto* pTemplate = new CMultiDocTemplate(vn::console::IDR_KSSCHETYPE, RUNTIME_CLASS(CKSScheDoc),
                                            RUNTIME_CLASS(CKSMDIChildWnd), RUNTIME_CLASS(CKSScheView));
    app.AddDocTemplate(pTemplate);
    if (pTemplate->OpenDocumentFile(QStringLiteral("CONSOLE")) == nullptr) ++failures;
    const auto list = CKSScheView::m_mapSchedule.find("CONSOLE");
    if (list != CKSScheView::m_mapSchedule.end()) {
      if (CMDIChildWnd* pFrame = list->second->GetParentFrame()) pFrame->showMaximized();
      if (!Save(&main, out, "schedule-list.png")) ++failures;
      for (const auto& row : list->second->Rows())
        if (row.cells[3].rfind("Today", 0) == 0) std::printf("job: %lu\n", static_cast<unsigned long>(row.jobId));
    }
    std::fflush(stdout);
    app.CloseAllDocuments(FALSE);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    delete form;
    app.m_pMainWnd = nullptr;
  }
  TerminateKSDLL();
  return failures == 0 ? 0 : 1;
}
