#include "console/widgets/run/ReportMerge.h"

#include <cstdio>
#include <utility>

#include <QDir>
#include <QFile>
#include <QTemporaryFile>

#include "console/core/history/HistoryRecorder.h"
#include "console/core/history/HistorySettings.h"
#include "console/widgets/run/ReportRun.h"
#include "ui/WaitCursor.h"
#include "vncli/KSCli.h"

using vn::KSCli;
using vn::KSServerCommunicationFileRec;
using vn::KSServerCommunicationOutputRec;

namespace {

// Removes a result from its server without fetching it.
void DropServerResult(const char* machine, KSServerCommunicationOutputRec* output) {
  KSCli client;
  if (client.Connect(machine) != 0) return;
  KSServerCommunicationFileRec file{};
  client.DeleteServerFile(output, &file);
}

}  // namespace

CReportMerge::CReportMerge() = default;

CReportMerge::~CReportMerge() { Reset(); }

DWORD CReportMerge::OnServerResult(const char* machine, KSServerCommunicationOutputRec* output) {
  if (m_bFailed) {
    DropServerResult(machine, output);
    return 0;
  }
  int first = 0;
  if (!m_file) {
    const QDir directory(QDir::tempPath());
    auto file = std::make_unique<QTemporaryFile>(directory.filePath(QStringLiteral("RepXXXXXX.tmp")));
    file->setAutoRemove(false);
    if (!file->open()) {
      m_bFailed = true;
      DropServerResult(machine, output);
      return static_cast<DWORD>(directory.exists() ? ERROR_ACCESS_DENIED : ERROR_PATH_NOT_FOUND);
    }
    m_file = std::move(file);
    first = 1;
    const vn::console::HistorySettings settings = vn::console::ReadHistorySettings();
    m_history.reset(settings.record ? new vn::console::CHistoryRecorder(settings.depth) : nullptr);
  }
  const CWaitCursor wait;
  if (m_history) {
    m_history->BeginMachine(machine);
    const std::function<void(std::string_view)> observe = [this](std::string_view line) { m_history->Feed(line); };
    FetchReport(machine, output, m_file.get(), first, &m_totals, &observe);
  } else {
    OpenReport(machine, output, m_file.get(), first, &m_totals);
  }
  return 0;
}

void CReportMerge::RecordHistory() {
  vn::console::HistoryScan scan;
  if (!m_history || !m_history->Take(&scan)) return;
  const std::string message = vn::console::RecordHistoryScan(vn::console::ReadHistorySettings(), scan);
  if (message.empty()) return;
  std::fprintf(stderr, "%s\n", message.c_str());
  m_historyMessage = message;
}

std::string CReportMerge::TakeHistoryMessage() { return std::exchange(m_historyMessage, {}); }

std::string CReportMerge::OnDone() {
  RecordHistory();
  m_history.reset();
  std::string path;
  if (m_file) {
    if (!m_totals.empty()) m_file->write(m_totals.data(), static_cast<qint64>(m_totals.size()));
    const bool written = m_file->flush() && m_file->error() == QFileDevice::NoError;
    path = m_file->fileName().toStdString();
    m_file->close();
    // A merged file that could not be written whole is not handed on.
    if (!written || m_file->error() != QFileDevice::NoError) {
      m_file->remove();
      path.clear();
    }
    m_file.reset();
  }
  m_bFailed = false;
  m_totals.clear();
  return path;
}

void CReportMerge::Reset() {
  m_history.reset();
  if (m_file) {
    m_file->close();
    m_file->remove();
    m_file.reset();
  }
  m_bFailed = false;
  m_totals.clear();
}
