#pragma once
// The windows of a push install and a deinstall: the console's core procedures
// (console/core/deploy/ServerDeploy.h) with the wizard, message boxes, the
// wait cursor and the per-machine progress window. The work runs on the
// user-interface thread and blocks it; the progress window is repainted after
// each status line, and each finished machine's last line stays for a pause
// (two seconds) before its window closes.

#include <memory>
#include <string>

#include "console/core/deploy/ServerDeploy.h"
#include "console/widgets/support/KSExport.h"

class QWidget;
class CKSInstallProgressDlg;
class CWaitCursor;

class KS_EXPORT CKSDeployWindows : public vn::console::CDeployFront {
 public:
  enum Kind { Install, Deinstall };
  CKSDeployWindows(Kind kind, QWidget* owner);
  ~CKSDeployWindows() override;

  bool RunWizard() override;
  void ShowMessage(const std::string& text) override;
  void BeginWork() override;
  void EndWork() override;
  void OpenProgress(const std::string& title) override;
  void SetStatus(const std::string& text) override;
  void Complete(const std::string& text) override;
  void CloseProgress() override;

  // The pause after a finished machine, in milliseconds (tests shorten it).
  static void SetCompletionPause(int milliseconds);
  CKSInstallProgressDlg* Progress() const { return m_pProgress.get(); }

 private:
  Kind m_kind;
  QWidget* m_pOwner;
  std::unique_ptr<CKSInstallProgressDlg> m_pProgress;
  std::unique_ptr<CWaitCursor> m_pWait;
};

// The object tree's commands: a push install or deinstall of `machines`
// ("SRV1;SRV2"), with `owner` over the wizard and message boxes.
KS_EXPORT void KSPushInstall(QWidget* owner, const std::string& machines);
KS_EXPORT void KSDeinstallServer(QWidget* owner, const std::string& machines);
