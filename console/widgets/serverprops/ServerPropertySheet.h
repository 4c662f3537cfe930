#pragma once
// The property sheet of one machine's reporting server ("Properties for
// SRV1"), opened by the object tree's Properties command: three pages, each
// given the machine name before the sheet opens, OK and Cancel, no Apply.
//
// - "Version" (CServerInfoPage, 477): on first display asks the server
//   through KSCli for its version; a server that is not running (2) is
//   started first. The version text shows "Application Version %s (Build
//   %s) %s"; a failure gives "<system text>Unable to retrieve infomation
//   from server." in a message box.
// - "Services" (CServerServicePage, 479): the one row of RODuduro (state,
//   auditing, status) with Start, Stop and Auditing, through the machine's
//   service control manager and registry (console/core/serverprops).
//   Auditing flips "ServerLogging" and restarts the service, since the
//   server reads it when it starts.
// - "Mail" (CServerMailPage, 485): the profile, password, SMTP server and
//   sender the server mails results with; written on OK. On Windows NT 4.0
//   the password is not used: its field is disabled and its stored value is
//   written back as it was.
// Modal; user-interface thread only; each call reaches the machine over the
// network under the wait cursor.

#include <QDialog>
#include <QWidget>
#include <string>

#include "console/core/serverprops/ServerProperties.h"
#include "console/widgets/support/KSExport.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;
class QTreeWidget;

enum : int {
  IDD_SERVER_INFO = 477,
  IDD_SERVER_SERVICE = 479,
  IDD_SERVER_MAIL = 485,
};

class KS_EXPORT CServerInfoPage : public QWidget {
 public:
  explicit CServerInfoPage(QWidget* parent = nullptr);
  void SetMachineName(const std::string& machine) { m_strMachine = machine; }
  QLabel* VersionText() const { return m_pVersion; }
  // Asks the server now (the first display does it once).
  void Retrieve();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  std::string m_strMachine;
  QLabel* m_pVersion;
  bool m_bRetrieved = false;
};

class KS_EXPORT CServerServicePage : public QWidget {
 public:
  explicit CServerServicePage(QWidget* parent = nullptr);
  void SetMachineName(const std::string& machine) { m_strMachine = machine; }
  void FillList();
  void OnClickList();
  void OnDblclkList();
  void OnStart();
  void OnStop();
  void OnAuditing();
  QTreeWidget* List() const { return m_pList; }
  QPushButton* StartButton() const { return m_pStart; }
  QPushButton* StopButton() const { return m_pStop; }
  QPushButton* AuditingButton() const { return m_pAuditing; }
  const vn::console::ServerServiceRow& Row() const { return m_row; }

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void ShowRow();
  void EnableButtons();

  std::string m_strMachine;
  vn::console::ServerServiceRow m_row;
  QTreeWidget* m_pList;
  QPushButton* m_pStart;
  QPushButton* m_pStop;
  QPushButton* m_pAuditing;
  bool m_bFilled = false;
};

class KS_EXPORT CServerMailPage : public QWidget {
 public:
  explicit CServerMailPage(QWidget* parent = nullptr);
  void SetMachineName(const std::string& machine) { m_strMachine = machine; }
  // Reads the settings into the fields (the first display does it once).
  void Load();
  // Writes them; false after a failure was shown.
  bool Save();
  bool Loaded() const { return m_bLoaded; }
  QLineEdit* ProfileEdit() const { return m_pProfile; }
  QLineEdit* PasswordEdit() const { return m_pPassword; }
  QLineEdit* SmtpEdit() const { return m_pSmtp; }
  QLineEdit* SenderEdit() const { return m_pSender; }

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  std::string m_strMachine;
  vn::console::ServerMailSettings m_settings;
  QLineEdit* m_pProfile;
  QLineEdit* m_pPassword;
  QLineEdit* m_pSmtp;
  QLineEdit* m_pSender;
  bool m_bLoaded = false;
};

class KS_EXPORT CServerPropertySheet : public QDialog {
 public:
  CServerPropertySheet(const std::string& machine, QWidget* parent = nullptr);
  CServerInfoPage* InfoPage() const { return m_pInfo; }
  CServerServicePage* ServicePage() const { return m_pService; }
  CServerMailPage* MailPage() const { return m_pMail; }
  QTabWidget* Tabs() const { return m_pTabs; }
  void accept() override;

 private:
  QTabWidget* m_pTabs;
  CServerInfoPage* m_pInfo;
  CServerServicePage* m_pService;
  CServerMailPage* m_pMail;
};

// Opens the sheet for `machine`, modally.
KS_EXPORT void KSShowServerProperties(QWidget* parent, const std::string& machine);
