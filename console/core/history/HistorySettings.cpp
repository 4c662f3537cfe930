#include "console/core/history/HistorySettings.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>

#include "platform/machine/Profile.h"

namespace vn::console {

std::string DefaultHistoryLocation() {
  return QFileInfo(vn::ProfilePath()).dir().filePath(QStringLiteral("history.db")).toStdString();
}

HistorySettings ReadHistorySettings() {
  HistorySettings settings;
  settings.record = GetProfileInt(kHistorySection, kHistoryEntry, 1) != 0;
  settings.location = GetProfileString(kHistorySection, kHistoryDatabaseEntry).trimmed().toStdString();
  if (settings.location.empty()) settings.location = DefaultHistoryLocation();
  settings.depth = static_cast<int>(GetProfileInt(kHistorySection, kHistoryDepthEntry, kDefaultHistoryDepth));
  if (settings.depth < 0) settings.depth = kDefaultHistoryDepth;
  return settings;
}

std::string RecordHistoryScan(const HistorySettings& settings, HistoryScan& scan) {
  if (scan.started.empty())
    scan.started = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toStdString();
  if (scan.origin.empty())
    scan.origin = QCoreApplication::instance() ? QCoreApplication::applicationName().toStdString() : "console";
  CHistoryStore store;
  SqlError error = store.Open(settings.location);
  if (!error) error = store.Record(scan);
  if (!error) return {};
  return std::string(kHistoryNotRecorded) + error.message;
}

}  // namespace vn::console
