#pragma once
// The processor and memory facts of this machine, in the shape of Win32's
// GetSystemInfo and GlobalMemoryStatusEx. Read from the kernel at each call
// (the processor count online, the x86 family as the processor level, physical
// memory and the memory available without swapping). Safe from any thread.

#include "platform/core/Win32Types.h"

inline constexpr WORD PROCESSOR_ARCHITECTURE_INTEL = 0;
inline constexpr WORD PROCESSOR_ARCHITECTURE_ARM64 = 12;
inline constexpr WORD PROCESSOR_ARCHITECTURE_AMD64 = 9;
inline constexpr WORD PROCESSOR_ARCHITECTURE_UNKNOWN = 0xFFFF;

struct SYSTEM_INFO {
  WORD wProcessorArchitecture;
  WORD wReserved;
  DWORD dwPageSize;
  DWORD dwNumberOfProcessors;
  WORD wProcessorLevel;     // the x86 family (3, 4, 5, 6...); 0 when unknown
  WORD wProcessorRevision;
};
using LPSYSTEM_INFO = SYSTEM_INFO*;

struct MEMORYSTATUSEX {
  DWORD dwLength;           // set to sizeof(MEMORYSTATUSEX) by the caller
  DWORD dwMemoryLoad;       // percent of physical memory in use
  std::uint64_t ullTotalPhys;
  std::uint64_t ullAvailPhys;
  std::uint64_t ullTotalPageFile;
  std::uint64_t ullAvailPageFile;
  std::uint64_t ullTotalVirtual;
  std::uint64_t ullAvailVirtual;
  std::uint64_t ullAvailExtendedVirtual;
};
using LPMEMORYSTATUSEX = MEMORYSTATUSEX*;

void GetSystemInfo(LPSYSTEM_INFO lpSystemInfo);
// FALSE with ERROR_INVALID_PARAMETER when dwLength is not the structure's size.
[[nodiscard]] BOOL GlobalMemoryStatusEx(LPMEMORYSTATUSEX lpBuffer);
