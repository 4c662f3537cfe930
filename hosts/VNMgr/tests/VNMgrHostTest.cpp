// The real console host, started as a user or a service manager would start
// it: stopped with a termination signal it must end cleanly (exit code 0) and
// leave the flags the module writes at exit in its profile; it must say
// plainly when it cannot have its machine, and print nothing a user cannot
// act on.
#include <signal.h>

#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <filesystem>
#include <fstream>

#include "testing/MachineNetwork.h"
#include "testing/Wait.h"

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

// The environment of a console started by hand: no display, the machine
// from --home, its service started when it does not run.
QProcessEnvironment UserEnvironment() {
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "VORNAL_HOME", "VORNAL_NO_AUTOSTART",
                           "XDG_RUNTIME_DIR"})
    env.remove(QString::fromLatin1(name));
  return env;
}

struct Finished {
  int exitCode = -1;
  QByteArray out;
  QByteArray err;
};

// Runs the console to its end (it must end by itself).
Finished RunToEnd(const QStringList& args, const QProcessEnvironment& env) {
  QProcess process;
  process.setProcessEnvironment(env);
  process.start(QStringLiteral(VNMGR_PATH), args);
  Finished result;
  if (!process.waitForFinished(kStartTimeoutMs)) {
    process.kill();
    process.waitForFinished();
    ADD_FAILURE() << "VNMgr " << args.join(QLatin1Char(' ')).toStdString() << " did not end";
    return result;
  }
  result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
  result.out = process.readAllStandardOutput();
  result.err = process.readAllStandardError();
  return result;
}

TEST(VNMgrHostTest, TextOptionsPrintOnlyTheirText) {
  const struct {
    const char* option;
    const char* text;
  } cases[] = {{"--help", "Usage:"}, {"-h", "--home <DIR>"}, {"--version", "VNMgr 4.0"}, {"-v", "VNMgr 4.0"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.option);
    const Finished run = RunToEnd({QString::fromLatin1(c.option)}, UserEnvironment());
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(run.out.contains(c.text)) << run.out.toStdString();
    EXPECT_EQ(run.err.toStdString(), "");
  }
}

TEST(VNMgrHostTest, ConsoleEndsWithAMessageWhenItCannotHaveItsMachine) {
  QTemporaryDir dir;
  const QString file = dir.filePath(QStringLiteral("a-file"));
  QFile(file).open(QIODevice::WriteOnly);
  const struct {
    QStringList args;
    int exitCode;
    const char* message;
  } cases[] = {
      {{QStringLiteral("--bogus")}, 2, "Unknown option 'bogus'"},
      {{QStringLiteral("--home"), QStringLiteral("/proc/nope")}, 1, "cannot create the machine home /proc/nope"},
      {{QStringLiteral("--home"), file}, 1, "cannot create the machine home"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.join(QLatin1Char(' ')).toStdString());
    const Finished run = RunToEnd(c.args, UserEnvironment());
    EXPECT_EQ(run.exitCode, c.exitCode);
    EXPECT_TRUE(run.err.contains(c.message)) << run.err.toStdString();
    EXPECT_FALSE(run.out.contains("VNMgr: ready"));
  }
}

// The console starts its machine's service when it is not running, says so
// once, and never takes a service of another home for its own, even one
// that answers with the machine's name on the machine's port.
TEST(VNMgrHostTest, ConsoleUsesOnlyItsOwnMachineService) {
  namespace fs = std::filesystem;
  vn::testing::MachineNetwork net;
  const auto& own = net.Add({"OWNPC"});
  const auto& impostor = net.Add({"IMPOSTOR"});
  ASSERT_TRUE(net.Start("IMPOSTOR"));

  // A home configured exactly as IMPOSTOR (name, port, identity), served by nobody.
  QTemporaryDir lookalike;
  const fs::path lookalikeHome = lookalike.path().toStdString();
  fs::copy_file(impostor.home / "machine.ini", lookalikeHome / "machine.ini");
  fs::copy(impostor.home / "identity", lookalikeHome / "identity", fs::copy_options::recursive);
  const Finished refused =
      RunToEnd({QStringLiteral("--home"), QString::fromStdString(lookalikeHome.string())}, UserEnvironment());
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_TRUE(refused.err.contains("serves another home")) << refused.err.toStdString();
  EXPECT_FALSE(fs::exists(lookalikeHome / "vnmachined.pid")) << "a service of the look-alike home still runs";

  const fs::path pidFile = own.home / "vnmachined.pid";
  for (const bool first : {true, false}) {
    SCOPED_TRACE(first ? "first console" : "second console");
    QProcess console;
    console.setProcessEnvironment(UserEnvironment());
    console.start(QStringLiteral(VNMGR_PATH), {QStringLiteral("--home"), QString::fromStdString(own.home.string())});
    ASSERT_TRUE(console.waitForStarted());
    ASSERT_TRUE(WaitUntilReady(console)) << console.readAllStandardError().toStdString();
    ::kill(static_cast<pid_t>(console.processId()), SIGTERM);
    ASSERT_TRUE(console.waitForFinished(kExitTimeoutMs));
    const QByteArray errors = console.readAllStandardError();
    EXPECT_EQ(errors.contains("started the machine service of OWNPC"), first) << errors.toStdString();
    EXPECT_TRUE(fs::exists(pidFile)) << "the service ended with the console";
  }
  int pid = 0;
  std::ifstream(pidFile) >> pid;
  ASSERT_GT(pid, 0);
  ASSERT_EQ(::kill(pid, SIGTERM), 0);
  EXPECT_TRUE(vn::testing::WaitUntil([&] { return !fs::exists(pidFile); })) << "the service did not stop";
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
    // The host would start this machine's service on the well-known port.
    env.insert(QStringLiteral("VORNAL_NO_AUTOSTART"), QStringLiteral("1"));
    // Without a runtime directory Qt would note its fallback: not for the user.
    env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
    if (c.homeOption) {
      env.remove(QStringLiteral("VORNAL_HOME"));
      args << QStringLiteral("--home") << home.path();
    } else {
      env.insert(QStringLiteral("VORNAL_HOME"), home.path());
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
    const QByteArray errors = process.readAllStandardError();
    EXPECT_EQ(errors.contains("offscreen"), c.noDisplay) << errors.toStdString();
    EXPECT_FALSE(errors.contains("XDG_RUNTIME_DIR")) << errors.toStdString();
    EXPECT_FALSE(errors.contains("propagateSizeHints")) << errors.toStdString();

    QSettings profile(home.filePath(QStringLiteral("profile/VNMgr.ini")), QSettings::IniFormat);
    EXPECT_EQ(profile.value(QStringLiteral("VNMgr/ShowReportInfo")).toString(), QStringLiteral("1"));
    EXPECT_EQ(profile.value(QStringLiteral("VNMgr/VNWIZARD_POPUP")).toString(), QStringLiteral("1"));
    EXPECT_FALSE(profile.contains(QStringLiteral("Management/Confirm_Delete")));
  }
}

}  // namespace
