#include "console/core/objects/MachineInfo.h"

#include <cstdio>
#include <memory>

#include "platform/core/SystemInfo.h"
#include "platform/core/WideString.h"
#include "platform/net/Files.h"
#include "platform/net/Net.h"

namespace vn::console {
namespace {

std::string Number(std::uint64_t value) { return std::to_string(value); }

std::string ProcessorName(WORD level) {
  switch (level) {
    case 3: return "386";
    case 4: return "486";
    case 5: return "Pentium";
    default: return {};
  }
}

std::string StorageType(UINT type) {
  switch (type) {
    case DRIVE_REMOVABLE: return "Removable";
    case DRIVE_FIXED: return "Fixed";
    case DRIVE_REMOTE: return "Remote";
    case DRIVE_CDROM: return "CD-ROM";
    case DRIVE_RAMDISK: return "RAM";
    default: return "Unknown";
  }
}

std::uint64_t Bytes(const ULARGE_INTEGER& value) { return value.QuadPart; }

std::vector<InfoRow> LocalMachineRows() {
  SYSTEM_INFO system{};
  GetSystemInfo(&system);
  MEMORYSTATUSEX memory{};
  memory.dwLength = sizeof memory;
  // Fails only for a wrong dwLength; the memory rows would then show 0.
  (void)GlobalMemoryStatusEx(&memory);
  return {{"Processor", ProcessorName(system.wProcessorLevel)},
          {"Number of Processors", Number(system.dwNumberOfProcessors)},
          {"Total Memory", FormatSize(memory.ullTotalPhys)},
          {"Available memory", FormatSize(memory.ullAvailPhys)}};
}

std::vector<InfoRow> DomainRows(std::string_view domain) {
  std::string controller;
  const std::u16string wide = ToWide(domain);
  LPBYTE buffer = nullptr;
  if (NetGetDCName(nullptr, wide.c_str(), &buffer) == NERR_Success && buffer) {
    controller = ToUtf8(reinterpret_cast<LPCWSTR>(buffer));
    if (controller.rfind("\\\\", 0) == 0) controller.erase(0, 2);
  }
  NetApiBufferFree(buffer);
  return {{"Domain", std::string(domain)}, {"Domain Controller", controller}};
}

}  // namespace

std::string FormatSize(std::uint64_t bytes) {
  if (bytes == 0) return "0B";
  double value = static_cast<double>(bytes);
  const char* unit = "B";
  for (const char* next : {"KB", "MB", "GB"}) {
    if (value <= 1024) break;
    value /= 1024;
    unit = next;
  }
  char digits[64];
  std::snprintf(digits, sizeof digits, "%.1f", value);
  std::string text(digits);
  const std::size_t point = text.find('.');
  std::string grouped;
  const std::string whole = text.substr(0, point);
  for (std::size_t i = 0; i < whole.size(); ++i) {
    if (i > 0 && (whole.size() - i) % 3 == 0) grouped += ',';
    grouped += whole[i];
  }
  return grouped + text.substr(point) + unit;
}

std::vector<InfoRow> DriveRows(std::string_view root) {
  const std::string path(root);
  std::vector<InfoRow> rows{{"Drive", path.substr(0, 2)}, {"Storage Type", StorageType(GetDriveTypeA(path.c_str()))}};
  char fileSystem[64] = {};
  if (GetVolumeInformationA(path.c_str(), nullptr, 0, nullptr, nullptr, nullptr, fileSystem, sizeof fileSystem))
    rows.push_back({"File System", fileSystem});
  ULARGE_INTEGER available{};
  ULARGE_INTEGER total{};
  ULARGE_INTEGER free{};
  if (!GetDiskFreeSpaceExA(path.c_str(), &available, &total, &free)) return rows;
  const std::uint64_t used = Bytes(total) >= Bytes(free) ? Bytes(total) - Bytes(free) : 0;
  rows.push_back({"Total Space", FormatSize(Bytes(total))});
  rows.push_back({"Free Space", FormatSize(Bytes(free))});
  rows.push_back({"Used Space", FormatSize(used)});
  if (Bytes(total) > 0) {  // an empty volume has no share to show
    const std::uint64_t percentUsed = used * 100 / Bytes(total);
    rows.push_back({"% Used", Number(percentUsed) + "%"});
    rows.push_back({"% Free", Number(100 - percentUsed) + "%"});
  }
  return rows;
}

std::vector<InfoRow> DirectoryRows(std::string_view path) {
  std::string pattern(path);
  if (pattern.empty() || (pattern.back() != '\\' && pattern.back() != '/')) pattern += '\\';
  pattern += '*';
  std::uint64_t directories = 0;
  std::uint64_t files = 0;
  std::uint64_t size = 0;
  WIN32_FIND_DATAA found{};
  HANDLE search = FindFirstFileA(pattern.c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::string_view name = found.cFileName;
      if (name == "." || name == "..") continue;
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        ++directories;
      } else {
        ++files;
        size += (static_cast<std::uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
      }
    } while (FindNextFileA(search, &found));
    FindClose(search);
  }
  return {{"Directory", std::string(path)},
          {"Total Directories", Number(directories)},
          {"Total Files", Number(files)},
          {"File Size", FormatSize(size)}};
}

std::vector<InfoRow> MachineInfoRows(KSItemType type, std::string_view text, std::string_view path) {
  switch (type) {
    case KS_MY_COMPUTER: return LocalMachineRows();
    case KS_DOMAIN: return DomainRows(text);
    case KS_MACHINE: return {{"Computer", std::string(text)}};
    case KS_FIXED_DRIVE:
    case KS_REMOTE_DRIVE:
    case KS_CDROM_DRIVE: return DriveRows(path);
    case KS_SHARE:
    case KS_FOLDER: return DirectoryRows(path);
    default: return {};
  }
}

}  // namespace vn::console
