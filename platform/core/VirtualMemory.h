#pragma once
// Large blocks of memory taken straight from the kernel, in the shape of
// Win32's VirtualAlloc and VirtualFree, for the few places that fill tens or
// hundreds of megabytes at once (a result file's line index).
//
// VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE)
// gives zeroed, private, read-write memory. Committing backs every page at
// once, in huge pages where the kernel allows them (transparent huge pages
// in "madvise" mode or on), rather than page by page as the memory is first
// touched: filling a fresh 80 MB block costs a few milliseconds instead of
// one page fault per 4 KiB. Other address hints, types and protections are
// refused with ERROR_INVALID_PARAMETER; out of memory is
// ERROR_NOT_ENOUGH_MEMORY. VirtualFree(block, 0, MEM_RELEASE) returns a
// whole block; anything else is ERROR_INVALID_PARAMETER. Safe from any
// thread.

#include <cstddef>

#include "platform/core/Win32Types.h"

inline constexpr DWORD MEM_COMMIT = 0x00001000;
inline constexpr DWORD MEM_RESERVE = 0x00002000;
inline constexpr DWORD MEM_RELEASE = 0x00008000;
inline constexpr DWORD PAGE_READWRITE = 0x04;

LPVOID VirtualAlloc(LPVOID lpAddress, std::size_t dwSize, DWORD flAllocationType, DWORD flProtect);
BOOL VirtualFree(LPVOID lpAddress, std::size_t dwSize, DWORD dwFreeType);
