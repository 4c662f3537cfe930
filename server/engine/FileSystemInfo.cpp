#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <system_error>

#include "server/engine/Reports.h"

namespace vn::server {
namespace {

// Mount table fields escape blanks and backslashes as octal ("\040").
std::string Unescape(const std::string& s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 3 < s.size() + 0 && s[i + 1] >= '0' && s[i + 1] <= '3') {
      out += static_cast<char>((s[i + 1] - '0') * 64 + (s[i + 2] - '0') * 8 + (s[i + 3] - '0'));
      i += 3;
    } else {
      out += s[i];
    }
  }
  return out;
}

// The label of a block device, from the links the system keeps for labels.
std::string LabelOf(const std::string& source) {
  std::error_code ec;
  const std::filesystem::path dir("/dev/disk/by-label");
  if (source.rfind("/dev/", 0) != 0 || !std::filesystem::is_directory(dir, ec)) return {};
  const std::filesystem::path device = std::filesystem::canonical(source, ec);
  if (ec) return {};
  for (const auto& link : std::filesystem::directory_iterator(dir, ec)) {
    std::error_code ec2;
    if (std::filesystem::canonical(link.path(), ec2) == device && !ec2) {
      std::string name = link.path().filename().string();
      std::string out;
      for (std::size_t i = 0; i < name.size(); ++i) {  // udev escapes as "\x20"
        if (name[i] == '\\' && i + 3 < name.size() && name[i + 1] == 'x') {
          out += static_cast<char>(std::stoi(name.substr(i + 2, 2), nullptr, 16));
          i += 3;
        } else {
          out += name[i];
        }
      }
      return out;
    }
  }
  return {};
}

}  // namespace

FileSystemInfo ReadFileSystem(const std::filesystem::path& path) {
  FileSystemInfo info;
  struct stat st {};
  struct statvfs vfs {};
  if (::stat(path.c_str(), &st) != 0 || ::statvfs(path.c_str(), &vfs) != 0) {
    info.error = errno;
    return info;
  }
  info.ok = true;
  info.device = st.st_dev;
  const std::uint64_t unit = vfs.f_frsize ? vfs.f_frsize : vfs.f_bsize;
  info.total = vfs.f_blocks * unit;
  info.free = vfs.f_bavail * unit;
  info.used = (vfs.f_blocks - vfs.f_bfree) * unit;
  // mountinfo: id parent major:minor root mountpoint options... - type source ...
  std::ifstream mounts("/proc/self/mountinfo");
  std::string line;
  char want[32];
  std::snprintf(want, sizeof want, "%u:%u", major(st.st_dev), minor(st.st_dev));
  while (std::getline(mounts, line)) {
    std::istringstream in(line);
    std::string id, parent, devno;
    in >> id >> parent >> devno;
    if (devno != want) continue;
    const std::size_t dash = line.find(" - ");
    if (dash == std::string::npos) continue;
    std::istringstream tail(line.substr(dash + 3));
    std::string type, source;
    tail >> type >> source;
    info.type = type;
    info.source = Unescape(source);
  }
  info.label = LabelOf(info.source);
  return info;
}

}  // namespace vn::server
