#include "platform/machine/Profile.h"

#include <QSettings>
#include <cstdlib>
#include <mutex>

#include "platform/machine/Machine.h"

namespace vn {
namespace {

std::mutex g_profileMutex;
QString g_application = QStringLiteral("VNMgr");

QString Key(const char* section, const char* entry) {
  return QString::fromLocal8Bit(section) + QLatin1Char('/') + QString::fromLocal8Bit(entry);
}

// The profile file of `application`; the caller holds g_profileMutex.
QString PathFor(const QString& application) {
  const char* vornalHome = std::getenv("VORNAL_HOME");
  if (vornalHome && *vornalHome)
    return QString::fromStdString((MachineHome() / "profile").string()) + QLatin1Char('/') + application +
           QStringLiteral(".ini");
  QString config = QString::fromLocal8Bit(qgetenv("XDG_CONFIG_HOME"));
  if (config.isEmpty()) config = QString::fromLocal8Bit(qgetenv("HOME")) + QStringLiteral("/.config");
  return config + QStringLiteral("/Vornal/") + application + QStringLiteral(".ini");
}

}  // namespace

void SetProfileApplication(const QString& application) {
  std::lock_guard lock(g_profileMutex);
  g_application = application;
}

QString ProfilePath() {
  std::lock_guard lock(g_profileMutex);
  return PathFor(g_application);
}

}  // namespace vn

// Each call opens the file anew: the profile is small, and other processes of
// this user (a second console, the command-line host) may have changed it.
UINT GetProfileInt(const char* section, const char* entry, int nDefault) {
  std::lock_guard lock(vn::g_profileMutex);
  QSettings profile(vn::PathFor(vn::g_application), QSettings::IniFormat);
  bool ok = false;
  const int value = profile.value(vn::Key(section, entry)).toInt(&ok);
  return static_cast<UINT>(ok ? value : nDefault);
}

BOOL WriteProfileInt(const char* section, const char* entry, int nValue) {
  std::lock_guard lock(vn::g_profileMutex);
  QSettings profile(vn::PathFor(vn::g_application), QSettings::IniFormat);
  profile.setValue(vn::Key(section, entry), nValue);
  profile.sync();
  return profile.status() == QSettings::NoError ? TRUE : FALSE;
}

QString GetProfileString(const char* section, const char* entry, const QString& defaultValue) {
  std::lock_guard lock(vn::g_profileMutex);
  QSettings profile(vn::PathFor(vn::g_application), QSettings::IniFormat);
  return profile.value(vn::Key(section, entry), defaultValue).toString();
}

BOOL WriteProfileString(const char* section, const char* entry, const QString& value) {
  std::lock_guard lock(vn::g_profileMutex);
  QSettings profile(vn::PathFor(vn::g_application), QSettings::IniFormat);
  profile.setValue(vn::Key(section, entry), value);
  profile.sync();
  return profile.status() == QSettings::NoError ? TRUE : FALSE;
}
