#include "console/widgets/deploy/DeployWindows.h"

#include <QApplication>
#include <QEventLoop>
#include <QScreen>
#include <QTimer>

#include "console/widgets/deploy/DeployWizards.h"
#include "ui/MessageBox.h"
#include "ui/WaitCursor.h"

namespace {

int g_nCompletionPause = 2000;

QString Q(const std::string& text) { return QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size())); }

QWidget* MainWindow(QWidget* owner) {
  if (owner) return owner->window();
  return QApplication::activeWindow();
}

}  // namespace

CKSDeployWindows::CKSDeployWindows(Kind kind, QWidget* owner) : m_kind(kind), m_pOwner(owner) {}

CKSDeployWindows::~CKSDeployWindows() = default;

void CKSDeployWindows::SetCompletionPause(int milliseconds) { g_nCompletionPause = milliseconds; }

bool CKSDeployWindows::RunWizard() {
  CKSDeployWizard wizard(m_kind == Install ? CKSDeployWizard::Install : CKSDeployWizard::Deinstall, m_pOwner);
  return wizard.exec() == QDialog::Accepted;
}

void CKSDeployWindows::ShowMessage(const std::string& text) {
  // The wait cursor is not the answer to a question.
  const bool waiting = m_pWait != nullptr;
  m_pWait.reset();
  AfxMessageBox(Q(text), MB_OK | MB_ICONEXCLAMATION);
  if (waiting) m_pWait = std::make_unique<CWaitCursor>();
}

void CKSDeployWindows::BeginWork() {
  if (QWidget* main = MainWindow(m_pOwner)) main->repaint();
  m_pWait = std::make_unique<CWaitCursor>();
}

void CKSDeployWindows::EndWork() { m_pWait.reset(); }

void CKSDeployWindows::OpenProgress(const std::string& title) {
  m_pProgress = std::make_unique<CKSInstallProgressDlg>(MainWindow(m_pOwner));
  m_pProgress->setWindowTitle(Q(title));
  m_pProgress->adjustSize();
  if (QWidget* main = MainWindow(m_pOwner)) {
    m_pProgress->move(main->geometry().center() - m_pProgress->rect().center());
  } else if (QScreen* screen = QApplication::primaryScreen()) {
    m_pProgress->move(screen->availableGeometry().center() - m_pProgress->rect().center());
  }
  m_pProgress->show();
  QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void CKSDeployWindows::SetStatus(const std::string& text) {
  if (!m_pProgress) return;
  m_pProgress->SetStatus(Q(text));
  QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void CKSDeployWindows::Complete(const std::string& text) {
  if (!m_pProgress) return;
  m_pProgress->Complete(Q(text));
  // The last line stays for the reader; the user's input waits meanwhile.
  QEventLoop pause;
  QTimer::singleShot(g_nCompletionPause, &pause, &QEventLoop::quit);
  pause.exec(QEventLoop::ExcludeUserInputEvents);
}

void CKSDeployWindows::CloseProgress() { m_pProgress.reset(); }

void KSPushInstall(QWidget* owner, const std::string& machines) {
  CKSDeployWindows windows(CKSDeployWindows::Install, owner);
  vn::console::PushInstall(machines, windows);
}

void KSDeinstallServer(QWidget* owner, const std::string& machines) {
  CKSDeployWindows windows(CKSDeployWindows::Deinstall, owner);
  vn::console::DeinstallServer(machines, windows);
}
