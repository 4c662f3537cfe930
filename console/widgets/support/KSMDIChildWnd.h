#pragma once
// The module's plain document frame (graph windows use it). While it is the
// active frame, the application's help file is the module's: when it becomes
// active it remembers the application's help file path and puts its own in its
// place ("VN4.hlp" in the folder of the application's help file); when it stops
// being active (or closes while active) it puts the remembered path back.
// Owned by itself once shown (see CMDIChildWnd); user-interface thread only.

#include <QString>

#include "console/widgets/support/KSExport.h"
#include "ui/MDIChildWnd.h"

class KS_EXPORT CKSMDIChildWnd : public CMDIChildWnd {
  DECLARE_DYNCREATE(CKSMDIChildWnd)

 public:
  CKSMDIChildWnd();
  ~CKSMDIChildWnd() override;

  // Also builds the frame's help file path.
  [[nodiscard]] BOOL LoadFrame(UINT nIDResource, CCreateContext* pContext) override;
  void OnMDIActivate(BOOL bActivate, CMDIChildWnd* pActivateWnd, CMDIChildWnd* pDeactivateWnd) override;

  const QString& GetHelpFilePath() const { return m_strHelpFilePath; }

 private:
  QString m_strHelpFilePath;
  QString m_strSavedHelpPath;
};
