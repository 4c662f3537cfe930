#include "server/service/ObjectResolver.h"

#include <system_error>

#include "platform/core/AsciiText.h"
#include "platform/core/Messages.h"
#include "platform/machine/Machine.h"
#include "platform/machine/PathMap.h"

namespace vn::vnsrv {
namespace {

namespace fs = std::filesystem;
using server::ScanObject;

std::string SystemText(LONG code) {
  char text[512] = {};
  const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                      static_cast<DWORD>(code), 0, text, sizeof text, nullptr);
  std::string out(text, length);
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' ')) out.pop_back();
  return out.empty() ? "Error " + std::to_string(code) + "." : out;
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
}

ScanObject Failed(std::string named, const MachineConfig& config, std::string error) {
  ScanObject object;
  object.named = std::move(named);
  object.machine = config.name;
  object.error = std::move(error);
  return object;
}

// The administrative share of a drive ("C$"), or null.
const ShareDefinition* AdminShare(const MachineConfig& config, char letter) {
  const std::string name = std::string(1, letter) + "$";
  for (const auto& share : config.shares) {
    if (EqualsIgnoringCase(share.name, name)) return &share;
  }
  return nullptr;
}

std::string Below(const ResolvedPath& resolved) {
  return resolved.IsRoot() ? std::string() : "\\" + resolved.WindowsPath();
}

// Checks that a resolved path is an existing directory; empty when it is.
std::string DirectoryProblem(LONG error, const ResolvedPath& resolved) {
  if (error) return SystemText(error);
  std::error_code statError;
  if (!resolved.Exists() || !fs::exists(resolved.host, statError)) return SystemText(ERROR_PATH_NOT_FOUND);
  if (!fs::is_directory(resolved.host, statError)) return SystemText(ERROR_DIRECTORY);
  return {};
}

ScanObject DriveObject(const MachineConfig& config, std::string named, const DriveMapping& drive,
                       const ResolvedPath& resolved, bool consoleIsLocal) {
  ScanObject object;
  object.named = std::move(named);
  object.root = resolved.host;
  object.machine = config.name;
  const std::string letter = std::string(1, drive.letter) + ":";
  if (consoleIsLocal) {
    object.drive = letter;
  } else {
    const ShareDefinition* admin = AdminShare(config, drive.letter);
    if (!admin) {
      object.error = "Drive " + letter + " has no administrative share, so its files cannot be named for another machine.";
      return object;
    }
    object.drive = "\\\\" + config.name + "\\" + admin->name;
  }
  object.shownRoot = object.drive + Below(resolved);
  return object;
}

ScanObject ResolveDrivePath(const MachineConfig& config, std::string_view text, bool consoleIsLocal) {
  ResolvedPath resolved;
  const LONG error = ResolvePath(config, {std::string(text.substr(0, 2)), std::string(text.substr(2))},
                                 RootAccess::SharesAndDrives, PathKind::Name, &resolved);
  if (const std::string problem = DirectoryProblem(error, resolved); !problem.empty())
    return Failed(std::string(text), config, problem);
  return DriveObject(config, std::string(text), *resolved.drive, resolved, consoleIsLocal);
}

ScanObject ResolveSharePath(const MachineConfig& config, std::string_view text, std::string_view share,
                            std::string_view rest) {
  ResolvedPath resolved;
  const LONG error = ResolvePath(config, {std::string(share), std::string(rest)}, RootAccess::SharesOnly,
                                 PathKind::Name, &resolved);
  if (const std::string problem = DirectoryProblem(error, resolved); !problem.empty())
    return Failed(std::string(text), config, problem);
  ScanObject object;
  object.named = std::string(text);
  object.root = resolved.host;
  object.machine = config.name;
  object.drive = "\\\\" + config.name + "\\" + resolved.share->name;
  object.shownRoot = object.drive + Below(resolved);
  return object;
}

void AddWholeMachine(const MachineConfig& config, std::string_view text, bool consoleIsLocal,
                     std::vector<ScanObject>* objects) {
  for (const auto& drive : config.drives) {
    if (drive.type != DRIVE_FIXED) continue;
    ResolvedPath resolved;
    const LONG error = ResolvePath(config, {std::string(1, drive.letter) + ":", ""}, RootAccess::SharesAndDrives,
                                   PathKind::Name, &resolved);
    if (const std::string problem = DirectoryProblem(error, resolved); !problem.empty()) {
      objects->push_back(Failed(std::string(1, drive.letter) + ":", config, problem));
      continue;
    }
    objects->push_back(DriveObject(config, std::string(text), drive, resolved, consoleIsLocal));
  }
}

}  // namespace

bool ConsoleIsLocal(std::string_view pipeName) {
  if (!pipeName.starts_with("\\\\")) return false;
  pipeName.remove_prefix(2);
  const std::size_t end = pipeName.find('\\');
  if (end == std::string_view::npos || end == 0) return false;
  const std::string_view machine = pipeName.substr(0, end);
  return machine == "." || IsLocalMachineName(machine);
}

std::vector<ScanObject> ResolveObjects(const MachineConfig& config, std::string_view objects, bool consoleIsLocal) {
  std::vector<ScanObject> resolved;
  while (!objects.empty()) {
    const std::size_t end = objects.find(';');
    const std::string_view text = Trim(objects.substr(0, end));
    objects.remove_prefix(end == std::string_view::npos ? objects.size() : end + 1);
    if (text.empty()) continue;
    if (text.size() >= 2 && text[1] == ':' && IsDriveRoot(text.substr(0, 2))) {
      resolved.push_back(ResolveDrivePath(config, text, consoleIsLocal));
      continue;
    }
    std::string_view rest = text;
    const bool network = rest.starts_with("\\\\");
    if (network) rest.remove_prefix(2);
    const std::size_t slash = rest.find('\\');
    const std::string_view machine = rest.substr(0, slash);
    if (machine.empty() || !IsLocalMachineName(machine)) {
      resolved.push_back(Failed(std::string(text), config,
                                network || slash != std::string_view::npos
                                    ? "The path is not on this machine (" + config.name + ")."
                                    : "Not a drive, a share or this machine's name."));
      continue;
    }
    rest.remove_prefix(slash == std::string_view::npos ? rest.size() : slash + 1);
    while (rest.starts_with('\\')) rest.remove_prefix(1);
    if (rest.empty()) {
      AddWholeMachine(config, text, consoleIsLocal, &resolved);
      continue;
    }
    if (!network) {
      resolved.push_back(Failed(std::string(text), config, "Not a drive, a share or this machine's name."));
      continue;
    }
    const std::size_t shareEnd = rest.find('\\');
    resolved.push_back(ResolveSharePath(config, text, rest.substr(0, shareEnd),
                                        shareEnd == std::string_view::npos ? "" : rest.substr(shareEnd + 1)));
  }
  return resolved;
}

}  // namespace vn::vnsrv
