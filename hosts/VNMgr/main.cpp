// VNMgr, the console host: loads the console module, owns the main window and
// the event loop. Options: --home DIR makes DIR the machine home (as
// VORNAL_HOME does); the other arguments are result files (*.csv) to open,
// as File > Open opens them. Ends with exit code 0 when its window closes, on File >
// Exit, and on SIGTERM or SIGINT, having closed the module's windows and ended
// the module; with 1 when it cannot have its machine (a home it cannot use,
// a machine service it cannot start) and 2 for a bad command line.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "console/widgets/entry/KSEntry.h"
#include "hosts/VNMgr/SignalWatcher.h"
#include "hosts/VNMgr/VNMgrApp.h"
#include "platform/machine/Machine.h"
#include "ui/MultiDocTemplate.h"

namespace {

// With no display to talk to, run on the offscreen platform rather than fail.
void UseOffscreenWithoutDisplay() {
  if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
      !qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    std::fprintf(stderr, "VNMgr: no display (DISPLAY and WAYLAND_DISPLAY unset); using the offscreen platform\n");
  }
}

// Qt's own notes that a console user can do nothing about: the fallback for
// an unset runtime directory, and the offscreen platform's remark on size
// hints. Everything else goes to the handler Qt had.
QtMessageHandler g_qtHandler = nullptr;

void QuietMessageHandler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (type == QtWarningMsg && (message.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR not set")) ||
                               message == QLatin1String("This plugin does not support propagateSizeHints()")))
    return;
  g_qtHandler(type, context, message);
}

void AddOptions(QCommandLineParser& parser, const QCommandLineOption& home) {
  parser.setApplicationDescription(QStringLiteral("Vornal management console"));
  parser.addHelpOption();
  parser.addVersionOption();
  parser.addOption(home);
}

// --help and --version print their text and end before any window system
// is touched, so they print nothing else.
bool AsksForTextOnly(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    for (const char* option : {"-h", "--help", "-?", "--help-all", "-v", "--version"})
      if (std::strcmp(argv[i], option) == 0) return true;
  }
  return false;
}

void SetNames() {
  QCoreApplication::setApplicationName(QStringLiteral("VNMgr"));
  QCoreApplication::setApplicationVersion(QStringLiteral("4.0"));
}

}  // namespace

int main(int argc, char** argv) {
  const QCommandLineOption homeOption(QStringLiteral("home"), QStringLiteral("Use DIR as this machine's home."),
                                      QStringLiteral("DIR"));
  if (AsksForTextOnly(argc, argv)) {
    QCoreApplication textApp(argc, argv);
    SetNames();
    QCommandLineParser parser;
    AddOptions(parser, homeOption);
    parser.process(textApp);  // prints the text and ends the process
    return 2;
  }

  g_qtHandler = qInstallMessageHandler(QuietMessageHandler);
  UseOffscreenWithoutDisplay();
  QApplication qtApp(argc, argv);
  SetNames();

  QCommandLineParser parser;
  AddOptions(parser, homeOption);
  parser.addPositionalArgument(QStringLiteral("results"), QStringLiteral("Result files to open."),
                               QStringLiteral("[RESULT.csv...]"));
  if (!parser.parse(QCoreApplication::arguments())) {
    std::fprintf(stderr, "VNMgr: %s\n%s", qPrintable(parser.errorText()), qPrintable(parser.helpText()));
    return 2;
  }
  if (parser.isSet(homeOption)) {
    const QString home = QDir(parser.value(homeOption)).absolutePath();
    qputenv("VORNAL_HOME", QFile::encodeName(home));
    vn::SetMachineHome(std::filesystem::path(QFile::encodeName(home).toStdString()));
  }
  if (std::string why; vn::CheckMachineHome(&why) != ERROR_SUCCESS) {
    std::fprintf(stderr, "VNMgr: %s\n", why.c_str());
    return 1;
  }

  // Termination signals end the event loop; the module is ended below.
  const CSignalWatcher signalWatcher({SIGTERM, SIGINT}, [](int) { QCoreApplication::quit(); });

  CVNMgrApp app;
  if (!app.InitInstance()) return 1;
  // Results named on the command line open as saved files: kept when their
  // window closes, no file commands. One that cannot be read says so in its
  // own message box and opens no window.
  for (const QString& result : parser.positionalArguments()) {
    if (pKSRptDocTemplate) pKSRptDocTemplate->OpenDocumentFile(QFileInfo(result).absoluteFilePath());
  }
  std::printf("VNMgr: ready\n");
  std::fflush(stdout);

  QApplication::exec();
  const int code = app.ExitInstance();
  if (app.RunsLeft()) {
    // A report thread still waits on a server: ending the process here keeps
    // it from running into objects that static destruction takes away.
    std::fflush(nullptr);
    std::_Exit(code);
  }
  return code;
}
