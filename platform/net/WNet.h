#pragma once
// The network browse and connection calls of Win32 (WNet*).
//
// Browsing (scope RESOURCE_GLOBALNET) walks a four-level tree:
//   top (lpNetResource null)  -> one network: "Microsoft Windows Network"
//                                (RESOURCEDISPLAYTYPE_NETWORK, container)
//   network                   -> its domains: "SALES" (DOMAIN, container)
//   domain                    -> its machines: "\\SRV1" (SERVER, container,
//                                comment = the server comment)
//   machine                   -> its shares: "\\SRV1\Data" (SHARE, connectable)
// Every entry names "Microsoft Windows Network" as its provider. Domains and
// machines are this machine's browse list: the machines its hosts file knows,
// grouped by domain. A machine's shares come from the machine itself: its
// ordinary disk shares (RESOURCETYPE_DISK) and printer queues
// (RESOURCETYPE_PRINT). Hidden shares — names ending in "$", such as C$,
// ADMIN$ and IPC$ — are not browsed, as on Windows; NetShareEnum lists them.
// Which level an lpNetResource opens is taken from its dwDisplayType, or, for
// RESOURCEDISPLAYTYPE_GENERIC, from the shape of its remote name.
// RESOURCE_CONNECTED lists this process's connections (below);
// RESOURCE_REMEMBERED lists nothing (connections are never remembered).
//
// WNetOpenEnumA reads the level at once: a machine that cannot be reached
// fails there (ERROR_BAD_NETPATH), and the handle then hands out that
// snapshot. WNetEnumResourceA packs as many entries as *lpcCount asks
// (0xFFFFFFFF = as many as fit) into lpBuffer, the NETRESOURCEA records first
// and the strings they point to after them, all within *lpBufferSize bytes.
// When not even one entry fits it returns ERROR_MORE_DATA with *lpBufferSize
// set to the size that entry needs; after the last entry ERROR_NO_MORE_ITEMS.
// Handles are numbers never handed out twice in the process; a closed or
// unknown one gives ERROR_INVALID_HANDLE.
//
// Connections: WNetUseConnectionA redirects a drive letter of this process to a
// disk share of any machine ("\\SRV1\C$"). With no local name and
// CONNECT_REDIRECT it takes the first letter from D: on that is neither a drive
// of this machine nor already redirected, and returns it ("E:") with
// CONNECT_LOCALDRIVE in *lpResult; without CONNECT_REDIRECT it makes a
// deviceless connection and returns the remote name. Paths on the letter
// ("E:\Dir", Files.h) then reach the share. User and password are not used: a
// machine accepts this one by its identity in its domain. The table of
// connections belongs to the process (not to the machine home), is shared by
// all threads and is never remembered across runs. WNetCancelConnectionA with
// a letter drops that redirection; with a remote name it drops the deviceless
// connections to that share (as on Windows, redirected letters stay). Open
// searches on a dropped letter go on with what they had read.
//
// Results are Win32 error codes: ERROR_BAD_NETPATH (53) for a machine that
// cannot be reached, NERR_InvalidComputer (2351) for an impossible name,
// ERROR_BAD_NET_NAME (67) for a share the machine does not have (or that is not
// a disk share), ERROR_ALREADY_ASSIGNED (85) for a letter in use,
// ERROR_BAD_DEVICE (1200) for a local name that is not a letter and colon,
// ERROR_NOT_CONNECTED (2250) when there is nothing to cancel,
// ERROR_NOT_CONTAINER (1207) for opening a share, ERROR_ACCESS_DENIED (5) from a
// machine that refuses us.
//
// Safe from any thread.

#include <optional>
#include <string>
#include <vector>

#include "platform/core/Win32Types.h"

inline constexpr DWORD RESOURCE_CONNECTED = 0x00000001;
inline constexpr DWORD RESOURCE_GLOBALNET = 0x00000002;
inline constexpr DWORD RESOURCE_REMEMBERED = 0x00000003;

inline constexpr DWORD RESOURCETYPE_ANY = 0x00000000;
inline constexpr DWORD RESOURCETYPE_DISK = 0x00000001;
inline constexpr DWORD RESOURCETYPE_PRINT = 0x00000002;

inline constexpr DWORD RESOURCEUSAGE_CONNECTABLE = 0x00000001;
inline constexpr DWORD RESOURCEUSAGE_CONTAINER = 0x00000002;

inline constexpr DWORD RESOURCEDISPLAYTYPE_GENERIC = 0x00000000;
inline constexpr DWORD RESOURCEDISPLAYTYPE_DOMAIN = 0x00000001;
inline constexpr DWORD RESOURCEDISPLAYTYPE_SERVER = 0x00000002;
inline constexpr DWORD RESOURCEDISPLAYTYPE_SHARE = 0x00000003;
inline constexpr DWORD RESOURCEDISPLAYTYPE_NETWORK = 0x00000006;

inline constexpr DWORD CONNECT_UPDATE_PROFILE = 0x00000001;
inline constexpr DWORD CONNECT_INTERACTIVE = 0x00000008;
inline constexpr DWORD CONNECT_PROMPT = 0x00000010;
inline constexpr DWORD CONNECT_REDIRECT = 0x00000080;
inline constexpr DWORD CONNECT_LOCALDRIVE = 0x00000100;

// The one network provider, and the name of its network entry.
inline constexpr const char* kWindowsNetworkName = "Microsoft Windows Network";

struct NETRESOURCEA {
  DWORD dwScope;
  DWORD dwType;
  DWORD dwDisplayType;
  DWORD dwUsage;
  LPSTR lpLocalName;
  LPSTR lpRemoteName;
  LPSTR lpComment;
  LPSTR lpProvider;
};
using LPNETRESOURCEA = NETRESOURCEA*;

[[nodiscard]] DWORD WNetOpenEnumA(DWORD dwScope, DWORD dwType, DWORD dwUsage, LPNETRESOURCEA lpNetResource,
                                  LPHANDLE lphEnum);
[[nodiscard]] DWORD WNetEnumResourceA(HANDLE hEnum, LPDWORD lpcCount, LPVOID lpBuffer, LPDWORD lpBufferSize);
DWORD WNetCloseEnum(HANDLE hEnum);

// lpAccessName (when given) receives "E:" or, for a deviceless connection, the
// remote name; *lpBufferSize is its size. When it is too small the call fails
// with ERROR_MORE_DATA, *lpBufferSize set to the size needed, and connects
// nothing. hwndOwner, lpPassword and lpUserID are not used.
[[nodiscard]] DWORD WNetUseConnectionA(void* hwndOwner, LPNETRESOURCEA lpNetResource, LPCSTR lpPassword,
                                       LPCSTR lpUserID, DWORD dwFlags, LPSTR lpAccessName, LPDWORD lpBufferSize,
                                       LPDWORD lpResult);
DWORD WNetCancelConnectionA(LPCSTR lpName, BOOL fForce);

namespace vn {

// A connection of this process, as WNetUseConnectionA made it.
struct DriveConnection {
  char letter = 0;           // 'E'; 0 for a deviceless connection
  std::string server;        // as the share was named, without backslashes
  std::string share;         // as the machine names it
};

// The connection of drive `letter` (any case), when it is redirected.
std::optional<DriveConnection> FindDriveConnection(char letter);
// Every connection, redirected letters in letter order first.
std::vector<DriveConnection> DriveConnections();

}  // namespace vn
