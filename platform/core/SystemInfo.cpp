#include "platform/core/SystemInfo.h"

#include <unistd.h>

#include <cstring>
#include <fstream>
#include <string>

#include "platform/core/LastError.h"

namespace {

// The first "cpu family" of /proc/cpuinfo (x86 only), else 0.
WORD ProcessorFamily() {
  std::ifstream cpuinfo("/proc/cpuinfo");
  std::string line;
  while (std::getline(cpuinfo, line)) {
    if (line.rfind("cpu family", 0) != 0) continue;
    const auto colon = line.find(':');
    if (colon == std::string::npos) return 0;
    try {
      return static_cast<WORD>(std::stoul(line.substr(colon + 1)));
    } catch (...) {
      return 0;
    }
  }
  return 0;
}

// A "Name: N kB" value of /proc/meminfo in bytes, or 0.
std::uint64_t MemInfoBytes(const char* name) {
  std::ifstream meminfo("/proc/meminfo");
  std::string key;
  std::uint64_t kb = 0;
  std::string unit;
  while (meminfo >> key >> kb >> unit) {
    if (key.size() == std::strlen(name) + 1 && key.compare(0, key.size() - 1, name) == 0) return kb * 1024;
  }
  return 0;
}

}  // namespace

void GetSystemInfo(LPSYSTEM_INFO lpSystemInfo) {
  if (!lpSystemInfo) return;
  *lpSystemInfo = {};
#if defined(__x86_64__)
  lpSystemInfo->wProcessorArchitecture = PROCESSOR_ARCHITECTURE_AMD64;
#elif defined(__i386__)
  lpSystemInfo->wProcessorArchitecture = PROCESSOR_ARCHITECTURE_INTEL;
#elif defined(__aarch64__)
  lpSystemInfo->wProcessorArchitecture = PROCESSOR_ARCHITECTURE_ARM64;
#else
  lpSystemInfo->wProcessorArchitecture = PROCESSOR_ARCHITECTURE_UNKNOWN;
#endif
  const long page = sysconf(_SC_PAGESIZE);
  const long cpus = sysconf(_SC_NPROCESSORS_ONLN);
  lpSystemInfo->dwPageSize = page > 0 ? static_cast<DWORD>(page) : 4096;
  lpSystemInfo->dwNumberOfProcessors = cpus > 0 ? static_cast<DWORD>(cpus) : 1;
  lpSystemInfo->wProcessorLevel = ProcessorFamily();
}

BOOL GlobalMemoryStatusEx(LPMEMORYSTATUSEX lpBuffer) {
  if (!lpBuffer || lpBuffer->dwLength != sizeof(MEMORYSTATUSEX)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const long page = sysconf(_SC_PAGESIZE);
  const long pages = sysconf(_SC_PHYS_PAGES);
  std::uint64_t total = MemInfoBytes("MemTotal");
  if (total == 0 && page > 0 && pages > 0) total = static_cast<std::uint64_t>(page) * static_cast<std::uint64_t>(pages);
  std::uint64_t available = MemInfoBytes("MemAvailable");
  if (available == 0) available = MemInfoBytes("MemFree");
  if (available > total) available = total;
  *lpBuffer = {};
  lpBuffer->dwLength = sizeof(MEMORYSTATUSEX);
  lpBuffer->ullTotalPhys = total;
  lpBuffer->ullAvailPhys = available;
  lpBuffer->dwMemoryLoad = total ? static_cast<DWORD>((total - available) * 100 / total) : 0;
  lpBuffer->ullTotalPageFile = MemInfoBytes("SwapTotal") + total;
  lpBuffer->ullAvailPageFile = MemInfoBytes("SwapFree") + available;
  lpBuffer->ullTotalVirtual = lpBuffer->ullTotalPageFile;
  lpBuffer->ullAvailVirtual = lpBuffer->ullAvailPageFile;
  return TRUE;
}
