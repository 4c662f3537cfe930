#pragma once
// The file and drive calls of Win32, for paths on this machine and on others.
//
// Paths: every call takes an absolute path in one of three forms, with "\" or
// "/" as separator:
//   "C:\Dir\File"            a drive of this machine (its drive map)
//   "E:\Dir\File"            a letter this process redirected to a share of
//                            some machine (WNetUseConnectionA, WNet.h)
//   "\\SERVER\Share\Dir"     a share of a machine: this one when SERVER is its
//                            own name, else reached through SERVER's service
// There is no current directory: a relative path ("Dir\File", "\Dir", "C:Dir")
// is refused with ERROR_INVALID_NAME, so that a mistaken relative path never
// lands somewhere on the host. Doubled separators are one; "." and ".." are
// resolved before the path leaves this process, and ".." stops at the drive or
// share root as on Windows, so no path leaves its drive or share. Names match
// without case wherever Windows would find them (the machine's path
// translation). A name holding one of  < > " | : or a control character, or a
// wildcard outside a search pattern, is ERROR_INVALID_NAME.
//
// BOOL calls report failure as FALSE with the code in GetLastError
// (LastError.h); the codes are Windows': ERROR_FILE_NOT_FOUND (2),
// ERROR_PATH_NOT_FOUND (3), ERROR_ACCESS_DENIED (5), ERROR_FILE_EXISTS (80),
// ERROR_ALREADY_EXISTS (183), ERROR_DIR_NOT_EMPTY (145), ERROR_BAD_NETPATH (53)
// for a machine that cannot be reached, ERROR_BAD_NET_NAME (67) for a share it
// does not have. Roots ("C:\", "\\SRV\Share\") cannot be created, removed or
// deleted (ERROR_ACCESS_DENIED).
//
// Searches (FindFirstFileA) read the whole matching directory listing when
// they start and hand it out entry by entry; the handle is a number never
// handed out twice in the process (a closed or unknown one gives
// ERROR_INVALID_HANDLE). Everything here is safe from any thread.

#include <memory>
#include <string_view>

#include "platform/core/LastError.h"
#include "platform/core/Win32Types.h"
#include "platform/endpoints/MachineEndpoint.h"

struct WIN32_FIND_DATAA {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD dwReserved0;
  DWORD dwReserved1;
  CHAR cFileName[MAX_PATH];
  CHAR cAlternateFileName[14];
};
using LPWIN32_FIND_DATAA = WIN32_FIND_DATAA*;

// Drives: this machine's drives and this process's redirected letters.

// "A:\<NUL>C:\<NUL>...<NUL>" in letter order. Returns the length written
// without the final NUL; when nBufferLength is too small, writes nothing and
// returns the size needed (final NUL included); 0 on failure.
DWORD GetLogicalDriveStringsA(DWORD nBufferLength, LPSTR lpBuffer);
// Bit 0 = A:, bit 1 = B:... for the same drives.
DWORD GetLogicalDrives();
// The drive type of a root ("C:\", "C:", "\\SRV\Share\"; null = "C:\"):
// DRIVE_FIXED, DRIVE_CDROM... from the drive map, DRIVE_REMOTE for redirected
// letters and for shares that exist, DRIVE_NO_ROOT_DIR for anything else
// (unknown letters, paths that are not roots, missing shares).
UINT GetDriveTypeA(LPCSTR lpRootPathName);
// Volume facts of a root (a path below the root fails with
// ERROR_DIR_NOT_ROOT). Every output is optional; a name that does not fit
// its buffer fails with ERROR_INSUFFICIENT_BUFFER.
[[nodiscard]] BOOL GetVolumeInformationA(LPCSTR lpRootPathName, LPSTR lpVolumeNameBuffer, DWORD nVolumeNameSize,
                                         LPDWORD lpVolumeSerialNumber, LPDWORD lpMaximumComponentLength,
                                         LPDWORD lpFileSystemFlags, LPSTR lpFileSystemNameBuffer,
                                         DWORD nFileSystemNameSize);
// Space of the volume holding a directory (null = "C:\"); outputs optional.
[[nodiscard]] BOOL GetDiskFreeSpaceExA(LPCSTR lpDirectoryName, PULARGE_INTEGER lpFreeBytesAvailableToCaller,
                                       PULARGE_INTEGER lpTotalNumberOfBytes, PULARGE_INTEGER lpTotalNumberOfFreeBytes);
// The same in clusters (clusters free to the caller, total clusters), each
// count capped at 0xFFFFFFFF as 32-bit Windows reports big volumes.
[[nodiscard]] BOOL GetDiskFreeSpaceA(LPCSTR lpRootPathName, LPDWORD lpSectorsPerCluster, LPDWORD lpBytesPerSector,
                                     LPDWORD lpNumberOfFreeClusters, LPDWORD lpTotalNumberOfClusters);

// Directory search. The pattern's last component may hold "*" and "?"
// ("*.*" matches every name); "." and ".." come first for a directory that is
// not a root. ERROR_FILE_NOT_FOUND when nothing matches, ERROR_PATH_NOT_FOUND
// when the directory does not exist; FindNextFileA ends with
// ERROR_NO_MORE_FILES.
HANDLE FindFirstFileA(LPCSTR lpFileName, LPWIN32_FIND_DATAA lpFindFileData);
[[nodiscard]] BOOL FindNextFileA(HANDLE hFindFile, LPWIN32_FIND_DATAA lpFindFileData);
BOOL FindClose(HANDLE hFindFile);

// INVALID_FILE_ATTRIBUTES on failure.
DWORD GetFileAttributesA(LPCSTR lpFileName);
// lpSecurityAttributes is not used. The parent must exist (ERROR_PATH_NOT_FOUND).
[[nodiscard]] BOOL CreateDirectoryA(LPCSTR lpPathName, LPSECURITY_ATTRIBUTES lpSecurityAttributes);
[[nodiscard]] BOOL RemoveDirectoryA(LPCSTR lpPathName);
[[nodiscard]] BOOL DeleteFileA(LPCSTR lpFileName);

// Copies a file between any two paths, on one machine or two, streamed in
// chunks (never the whole file in memory). The copy keeps the source's last
// write time. With bFailIfExists an existing target fails with
// ERROR_FILE_EXISTS and is left untouched; otherwise it is replaced (a
// read-only one fails with ERROR_ACCESS_DENIED). Nothing appears under the
// target's name unless the copy completed. A directory as source gives
// ERROR_ACCESS_DENIED.
[[nodiscard]] BOOL CopyFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, BOOL bFailIfExists);

// Makes a new, empty file in the directory lpPathName and puts its full name
// (at most MAX_PATH bytes with the NUL) into lpTempFileName: the directory, a
// backslash, lpPrefixString, a number in upper-case hexadecimal (1 to 4
// digits) and ".TMP" ("...\VNSched1A2.TMP"). With uUnique 0 the number is one
// that no file of the directory has yet: it starts from the clock and counts
// on past names that exist, and the file is made with that name (never over
// another). A non-zero uUnique is used as it is (its low 16 bits) and no file
// is made. Returns the number used, or 0 with the code in GetLastError: the
// directory's (ERROR_PATH_NOT_FOUND, ERROR_ACCESS_DENIED...),
// ERROR_BUFFER_OVERFLOW for a name longer than MAX_PATH - 1, ERROR_FILE_EXISTS
// when every number is taken.
UINT GetTempFileNameA(LPCSTR lpPathName, LPCSTR lpPrefixString, UINT uUnique, LPSTR lpTempFileName);

namespace vn {

// Writes `contents` as the whole file `path` (any form above), replacing a
// file of that name; nothing changes under the name unless the write
// completed. FALSE with the code in GetLastError.
[[nodiscard]] BOOL WriteWholeFile(LPCSTR path, std::string_view contents);

}  // namespace vn

namespace vn {

// Where a path leads: the machine that holds it and the path on that machine.
struct FileLocation {
  std::shared_ptr<MachineEndpoint> endpoint;
  MachinePath path;          // root "C:" for a local drive, else the share name
  bool remote = false;       // reached as a share (UNC or redirected letter)
  bool trailingSeparator = false;
};

// Parses a path of the forms above and finds its machine. With `pattern` the
// last component may hold wildcards. A path naming only a root ("C:", "C:\",
// "\\SRV\Share") gives an empty path.path.
[[nodiscard]] LONG LocateFile(std::string_view path, bool pattern, FileLocation* resolved);

}  // namespace vn
