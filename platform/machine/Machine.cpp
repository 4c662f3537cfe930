#include "platform/machine/Machine.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <system_error>

#include "platform/core/AsciiText.h"
#include "platform/machine/MachineConfig.h"

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

LONG CheckMachineHome(std::string* detail) {
  std::filesystem::path home;
  {
    std::lock_guard lock(g_homeMutex);
    home = g_home ? *g_home : DefaultHome();
  }
  std::error_code ec;
  std::filesystem::create_directories(home, ec);
  if (ec || !std::filesystem::is_directory(home, ec)) {
    if (detail) *detail = "cannot create the machine home " + home.string() + ": " +
                          (ec ? ec.message() : std::string("not a directory"));
    return ERROR_PATH_NOT_FOUND;
  }
  if (::access(home.c_str(), W_OK | X_OK) != 0) {
    if (detail) *detail = "cannot write to the machine home " + home.string() + ": " + std::strerror(errno);
    return ERROR_ACCESS_DENIED;
  }
  return ERROR_SUCCESS;
}

void SetMachineHome(std::optional<std::filesystem::path> home) {
  std::lock_guard lock(g_homeMutex);
  g_home = std::move(home);
}

std::optional<std::filesystem::path> ExplicitMachineHome() {
  std::lock_guard lock(g_homeMutex);
  return g_home;
}

std::string LocalComputerName() { return ConfiguredComputerName(MachineHome()); }

bool IsLocalMachineName(std::string_view name) {
  if (name.starts_with("\\\\")) name.remove_prefix(2);
  return !name.empty() && EqualsIgnoringCase(name, LocalComputerName());
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
