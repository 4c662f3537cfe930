#include "console/widgets/run/ReportMerge.h"

#include <QDir>
#include <QFile>
#include <QTemporaryFile>

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
  }
  const CWaitCursor wait;
  OpenReport(machine, output, m_file.get(), first, &m_totals);
  return 0;
}

std::string CReportMerge::OnDone() {
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
  if (m_file) {
    m_file->close();
    m_file->remove();
    m_file.reset();
  }
  m_bFailed = false;
  m_totals.clear();
}
