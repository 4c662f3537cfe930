// The real console host, started as a user or a service manager would start
// it, and stopped with a termination signal: it must end cleanly (exit code 0)
// and leave the flags the module writes at exit in its profile.
#include <signal.h>

#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>

namespace {

constexpr int kStartTimeoutMs = 30000;  // sanitizer builds start slowly
constexpr int kExitTimeoutMs = 10000;

// Waits until the process has printed its ready line.
bool WaitUntilReady(QProcess& process) {
  QByteArray output;
  const QDeadlineTimer deadline(kStartTimeoutMs);
  while (!deadline.hasExpired()) {
    output += process.readAllStandardOutput();
    if (output.contains("VNMgr: ready\n")) return true;
    if (process.state() != QProcess::Running) return false;
    process.waitForReadyRead(100);
  }
  return false;
}

TEST(VNMgrHostTest, TerminationSignalsEndTheConsoleCleanly) {
  const struct {
    int signo;
    bool homeOption;  // machine home from --home instead of VORNAL_HOME
    bool noDisplay;   // no display and no platform chosen: VNMgr picks offscreen
  } cases[] = {
      {SIGTERM, false, false},
      {SIGINT, false, false},
      {SIGTERM, true, true},
      {SIGINT, true, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "signal " << c.signo << (c.homeOption ? ", --home" : "")
                                    << (c.noDisplay ? ", no display" : ""));
    QTemporaryDir home;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    QStringList args;
    if (c.homeOption) {
      env.remove(QStringLiteral("VORNAL_HOME"));
      args << QStringLiteral("--home") << home.path();
    } else {
      env.insert(QStringLiteral("VORNAL_HOME"), home.path());
      // The host would start this machine's service on the well-known port.
      env.insert(QStringLiteral("VORNAL_NO_AUTOSTART"), QStringLiteral("1"));
    }
    if (c.noDisplay) {
      env.remove(QStringLiteral("DISPLAY"));
      env.remove(QStringLiteral("WAYLAND_DISPLAY"));
      env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    } else {
      env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    }

    QProcess process;
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(VNMGR_PATH), args);
    ASSERT_TRUE(process.waitForStarted());
    ASSERT_TRUE(WaitUntilReady(process)) << process.readAllStandardError().toStdString();

    ASSERT_EQ(::kill(static_cast<pid_t>(process.processId()), c.signo), 0);
    ASSERT_TRUE(process.waitForFinished(kExitTimeoutMs));
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 0);
    if (c.noDisplay) {
      EXPECT_TRUE(process.readAllStandardError().contains("offscreen"));
    }

    QSettings profile(home.filePath(QStringLiteral("profile/VNMgr.ini")), QSettings::IniFormat);
    EXPECT_EQ(profile.value(QStringLiteral("VNMgr/ShowReportInfo")).toString(), QStringLiteral("1"));
    EXPECT_EQ(profile.value(QStringLiteral("VNMgr/VNWIZARD_POPUP")).toString(), QStringLiteral("1"));
    EXPECT_FALSE(profile.contains(QStringLiteral("Management/Confirm_Delete")));
  }
}

}  // namespace
