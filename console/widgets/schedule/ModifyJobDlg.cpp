#include "console/widgets/schedule/ModifyJobDlg.h"

#include <QDate>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTime>
#include <QVBoxLayout>

#include "console/core/schedule/ScheduleJobs.h"
#include "console/widgets/schedule/ScheduleControls.h"
#include "ui/HelpContext.h"
#include "ui/MessageBox.h"

CModifyJobDlg::CModifyJobDlg(DWORD jobId, QWidget* parent)
    : QDialog(parent), m_jobId(jobId), m_pControls(new CScheduleControls(this)), m_pCommand(new QLineEdit(this)) {
  setWindowTitle(QStringLiteral("Modify Job"));
  AfxSetHelpContext(this, HID_BASE_RESOURCE + 431);
  auto* explanation = new QLabel(
      QStringLiteral("Use this dialog to modify the current schedule.  The previous job will be deleted and "
                     "rescheduled using the new settings."),
      this);
  explanation->setWordWrap(true);
  m_pCommand->setMaxLength(259);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("Save"));
  connect(buttons, &QDialogButtonBox::accepted, this, &CModifyJobDlg::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &CModifyJobDlg::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(explanation);
  layout->addWidget(m_pControls, 1);
  layout->addWidget(new QLabel(QStringLiteral("Schedule Command:"), this));
  layout->addWidget(m_pCommand);
  layout->addWidget(buttons);
  resize(560, 420);
}

CModifyJobDlg::~CModifyJobDlg() = default;

int CModifyJobDlg::exec() {
  OnInitDialog();
  return QDialog::exec();
}

void CModifyJobDlg::OnInitDialog() {
  if (m_bInitialised) return;
  m_bInitialised = true;
  vn::console::ScheduledJobInfo job;
  std::string message;
  if (!vn::console::ReadScheduledJob(m_jobId, &job, &message)) {
    AfxMessageBox(QString::fromStdString(message));
    return;
  }
  m_pCommand->setText(QString::fromStdString(job.command));
  m_pControls->SetChoices(vn::console::DecodeJob(job.timing));
}

void CModifyJobDlg::accept() {
  const QTime now = QTime::currentTime();
  const vn::console::ModifyOutcome outcome =
      vn::console::ModifyScheduledJob(m_jobId, m_pControls->GetChoices(), m_pCommand->text().toStdString(),
                                      QDate::currentDate().dayOfWeek() % 7, now.hour(), now.minute());
  if (!outcome.message.empty()) AfxMessageBox(QString::fromStdString(outcome.message));
  if (outcome.keepOpen) return;
  m_newJobId = outcome.newJobId;
  QDialog::accept();
}
