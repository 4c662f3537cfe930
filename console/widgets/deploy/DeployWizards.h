#pragma once
// The two wizards that come before a push install and a deinstall, and the
// progress window shown per machine while either works. Each wizard has two
// pages; only Finish lets the work go on, Cancel changes nothing. The
// pages' picture (control 1540) is the product's server drawn by the style.
//
// Server Installation Wizard: CKSInsWizardWelcome (445), CKSInsWizardStart
// (487, with the check box "Vornal 4.0 Server", shown checked, whose value is
// not used). Server Deinstallation Wizard: CKSDeinsWizardWelcome (446),
// CKSRemoveWizard (489). Modal, built anew for each command.
//
// CKSInstallProgressDlg (488, "Installing Vornal...", retitled by the
// deinstall): a status text (1546) and a bar (1545) that advances a step
// with each status line and jumps to the end when a machine is done.
// Modeless, owned by the main window, centred, destroyed after each machine.
// User-interface thread only.

#include <QDialog>
#include <QWizard>
#include <QWizardPage>

#include "console/widgets/support/KSExport.h"

class QCheckBox;
class QLabel;
class QProgressBar;

enum : int {
  IDD_INS_WIZARD_WELCOME = 445,
  IDD_DEINS_WIZARD_WELCOME = 446,
  IDD_INS_WIZARD_START = 487,
  IDD_INSTALL_PROGRESS = 488,
  IDD_REMOVE_WIZARD = 489,
  IDC_WIZARD_BITMAP = 1540,
  IDC_PROGRESS_BAR = 1545,
  IDC_PROGRESS_STATUS = 1546,
};

// A wizard page with the picture on the left and the page's texts beside it.
class KS_EXPORT CKSWizardPage : public QWizardPage {
 public:
  CKSWizardPage(int nIDTemplate, const QStringList& texts, QWidget* parent = nullptr);
  int TemplateId() const { return m_nIDTemplate; }

 protected:
  class QVBoxLayout* m_pTextColumn;

 private:
  int m_nIDTemplate;
};

class KS_EXPORT CKSInsWizardWelcome : public CKSWizardPage {
 public:
  explicit CKSInsWizardWelcome(QWidget* parent = nullptr);
};

class KS_EXPORT CKSInsWizardStart : public CKSWizardPage {
 public:
  explicit CKSInsWizardStart(QWidget* parent = nullptr);
  QCheckBox* ServerCheck() const { return m_pServer; }

 private:
  QCheckBox* m_pServer;
};

class KS_EXPORT CKSDeinsWizardWelcome : public CKSWizardPage {
 public:
  explicit CKSDeinsWizardWelcome(QWidget* parent = nullptr);
};

class KS_EXPORT CKSRemoveWizard : public CKSWizardPage {
 public:
  explicit CKSRemoveWizard(QWidget* parent = nullptr);
};

// The wizard sheet: its two pages linked before it opens.
class KS_EXPORT CKSDeployWizard : public QWizard {
 public:
  enum Kind { Install, Deinstall };
  explicit CKSDeployWizard(Kind kind, QWidget* parent = nullptr);
  Kind GetKind() const { return m_kind; }

 private:
  Kind m_kind;
};

class KS_EXPORT CKSInstallProgressDlg : public QDialog {
 public:
  explicit CKSInstallProgressDlg(QWidget* parent = nullptr);
  // Shows the line and advances the bar a step (the bar grows as needed).
  void SetStatus(const QString& text);
  // Shows the line with the bar at its end.
  void Complete(const QString& text);
  QLabel* StatusText() const { return m_pStatus; }
  QProgressBar* Bar() const { return m_pBar; }

 private:
  QLabel* m_pStatus;
  QProgressBar* m_pBar;
};
