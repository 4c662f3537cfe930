// VNMgr, the console host: loads the console module, owns the main window and
// the event loop. Options: --home DIR makes DIR the machine home (as
// VORNAL_HOME does). Ends with exit code 0 when its window closes, on File >
// Exit, and on SIGTERM or SIGINT, having closed the module's windows and ended
// the module.
#include <csignal>
#include <cstdio>
#include <filesystem>

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFile>

#include "hosts/VNMgr/SignalWatcher.h"
#include "hosts/VNMgr/VNMgrApp.h"
#include "platform/machine/Machine.h"

namespace {

// With no display to talk to, run on the offscreen platform rather than fail.
void UseOffscreenWithoutDisplay() {
  if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
      !qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    std::fprintf(stderr, "VNMgr: no display (DISPLAY and WAYLAND_DISPLAY unset); using the offscreen platform\n");
  }
}

}  // namespace

int main(int argc, char** argv) {
  UseOffscreenWithoutDisplay();
  QApplication qtApp(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("VNMgr"));
  QCoreApplication::setApplicationVersion(QStringLiteral("4.0"));

  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral("Vornal management console"));
  parser.addHelpOption();
  parser.addVersionOption();
  const QCommandLineOption homeOption(QStringLiteral("home"), QStringLiteral("Use DIR as this machine's home."),
                                      QStringLiteral("DIR"));
  parser.addOption(homeOption);
  parser.process(qtApp);
  if (parser.isSet(homeOption)) {
    const QString home = QDir(parser.value(homeOption)).absolutePath();
    qputenv("VORNAL_HOME", QFile::encodeName(home));
    vn::SetMachineHome(std::filesystem::path(QFile::encodeName(home).toStdString()));
  }

  // Termination signals end the event loop; the module is ended below.
  const CSignalWatcher signalWatcher({SIGTERM, SIGINT}, [](int) { QCoreApplication::quit(); });

  CVNMgrApp app;
  if (!app.InitInstance()) return 1;
  std::printf("VNMgr: ready\n");
  std::fflush(stdout);

  QApplication::exec();
  return app.ExitInstance();
}
