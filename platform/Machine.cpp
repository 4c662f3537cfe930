#include "platform/Machine.h"

#include <unistd.h>

#include <QSettings>
#include <QString>
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <system_error>

namespace vn {
namespace {

std::mutex g_homeMutex;
std::optional<std::filesystem::path> g_home;  // set by SetMachineHome

std::filesystem::path DefaultHome() {
  if (const char* env = std::getenv("VORNAL_HOME"); env && *env) return env;
  if (::geteuid() == 0) return "/var/lib/vornal";
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg) return std::filesystem::path(xdg) / "Vornal";
  const char* home = std::getenv("HOME");
  return std::filesystem::path(home && *home ? home : "/tmp") / ".local/share/Vornal";
}

std::string NormaliseComputerName(std::string name) {
  // A host name such as "build-07.example.org" becomes "BUILD-07".
  if (auto dot = name.find('.'); dot != std::string::npos) name.resize(dot);
  if (name.size() > MAX_COMPUTERNAME_LENGTH) name.resize(MAX_COMPUTERNAME_LENGTH);
  std::transform(name.begin(), name.end(), name.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return name;
}

}  // namespace

std::filesystem::path MachineHome() {
  std::filesystem::path home;
  {
    std::lock_guard lock(g_homeMutex);
    home = g_home ? *g_home : DefaultHome();
  }
  std::error_code ec;
  std::filesystem::create_directories(home, ec);
  return home;
}

void SetMachineHome(const std::filesystem::path& home) {
  std::lock_guard lock(g_homeMutex);
  g_home = home;
}

std::string LocalComputerName() {
  const auto ini = MachineHome() / "machine.ini";
  if (std::filesystem::exists(ini)) {
    QSettings config(QString::fromStdString(ini.string()), QSettings::IniFormat);
    const QString name = config.value(QStringLiteral("Machine/Name")).toString().trimmed();
    if (!name.isEmpty()) return NormaliseComputerName(name.toStdString());
  }
  char host[256] = {};
  if (::gethostname(host, sizeof host - 1) != 0) return {};
  return NormaliseComputerName(host);
}

bool IsLocalMachineName(std::string_view name) {
  if (name.starts_with("\\\\")) name.remove_prefix(2);
  const std::string local = LocalComputerName();
  return !name.empty() && name.size() == local.size() &&
         std::equal(name.begin(), name.end(), local.begin(), [](char a, char b) {
           return std::toupper(static_cast<unsigned char>(a)) == std::toupper(static_cast<unsigned char>(b));
         });
}

}  // namespace vn

BOOL GetComputerNameA(LPSTR lpBuffer, LPDWORD nSize) {
  if (!nSize) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const std::string name = vn::LocalComputerName();
  if (!lpBuffer || *nSize < name.size() + 1) {
    *nSize = static_cast<DWORD>(name.size() + 1);
    SetLastError(ERROR_BUFFER_OVERFLOW);
    return FALSE;
  }
  std::memcpy(lpBuffer, name.c_str(), name.size() + 1);
  *nSize = static_cast<DWORD>(name.size());
  return TRUE;
}
