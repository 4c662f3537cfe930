#pragma once
// The LAN Manager calls of Win32: server information, the browse list, shares
// and domain controllers, for this machine and for any machine by name.
//
// `servername` is a computer name with or without two leading backslashes
// ("\\SERVER1" or "SERVER1"); null or empty is this machine. The call goes to
// the machine's endpoint (MachineDirectory.h): this machine answers directly,
// any other through its machine service, with the same results.
//
// Results are NET_API_STATUS codes: 0 on success, else ERROR_BAD_NETPATH (53)
// for a machine that cannot be found or reached, NERR_InvalidComputer (2351)
// for a name that cannot be a computer name, ERROR_ACCESS_DENIED (5) when the
// machine refuses us (no identity in its domain), ERROR_INVALID_LEVEL (124) for a
// level not listed below, ERROR_INVALID_PARAMETER (87) for a missing output.
//
// Buffers: every *bufptr returned is one allocation holding the array of
// records and the strings they point to; the caller owns it and frees it with
// NetApiBufferFree. On failure *bufptr is null. A list with no entries gives
// success with a null *bufptr.
//
// Enumerations (NetServerEnum, NetShareEnum) honour prefmaxlen: entries are
// returned while the records and their strings fit in prefmaxlen bytes, but
// always at least one, so that a caller looping on the resume handle always
// advances. When entries are left over the result is ERROR_MORE_DATA, and
// *resume_handle (when given) is the index of the next entry; the call that
// returns the last entry sets it back to 0. A call starts at *resume_handle.
// *totalentries counts the entries from that starting point on.
//
// Safe from any thread.

#include "platform/core/Win32Types.h"
#include "platform/endpoints/MachineDirectory.h"
#include "platform/endpoints/MachineEndpoint.h"

inline constexpr NET_API_STATUS NERR_Success = 0;
inline constexpr DWORD MAX_PREFERRED_LENGTH = 0xFFFFFFFF;

struct SERVER_INFO_100 {
  DWORD sv100_platform_id;
  LPWSTR sv100_name;
};
using LPSERVER_INFO_100 = SERVER_INFO_100*;

struct SERVER_INFO_101 {
  DWORD sv101_platform_id;
  LPWSTR sv101_name;
  DWORD sv101_version_major;
  DWORD sv101_version_minor;
  DWORD sv101_type;
  LPWSTR sv101_comment;
};
using LPSERVER_INFO_101 = SERVER_INFO_101*;

struct SHARE_INFO_0 {
  LPWSTR shi0_netname;
};
using LPSHARE_INFO_0 = SHARE_INFO_0*;

struct SHARE_INFO_1 {
  LPWSTR shi1_netname;
  DWORD shi1_type;
  LPWSTR shi1_remark;
};
using LPSHARE_INFO_1 = SHARE_INFO_1*;

// Level 100 or 101. The name is upper case without backslashes; the version is
// 4.0; the type has SV_TYPE_NT and the bits of the machine's role.
[[nodiscard]] NET_API_STATUS NetServerGetInfo(LPCWSTR servername, DWORD level, LPBYTE* bufptr);

// The browse list of `servername` (null = this machine's): the machines its
// hosts file knows whose type has any bit of `servertype`, in `domain` when
// given (any case). A type with SV_TYPE_DOMAIN_ENUM lists the domains instead,
// one entry each with the domain as name and SV_TYPE_DOMAIN_ENUM as type; but
// SV_TYPE_ALL lists every machine. Level 100 or 101.
[[nodiscard]] NET_API_STATUS NetServerEnum(LPCWSTR servername, DWORD level, LPBYTE* bufptr, DWORD prefmaxlen,
                                           LPDWORD entriesread, LPDWORD totalentries, DWORD servertype, LPCWSTR domain,
                                           LPDWORD resume_handle);

// The shares of `servername`, in the machine's order: its configured disk
// shares (type STYPE_DISKTREE), the administrative shares C$, D$..., ADMIN$
// (STYPE_SPECIAL) and IPC$ (STYPE_SPECIAL | STYPE_IPC). Level 0 or 1.
[[nodiscard]] NET_API_STATUS NetShareEnum(LPCWSTR servername, DWORD level, LPBYTE* bufptr, DWORD prefmaxlen,
                                          LPDWORD entriesread, LPDWORD totalentries, LPDWORD resume_handle);

// The domain controller of `domainname` (null or empty = the domain of
// `servername`) as `servername` knows it, as "\\NAME". NERR_DCNotFound (2453)
// when the domain has none. NetGetAnyDCName answers the same way: every
// domain of the hosts file is trusted.
[[nodiscard]] NET_API_STATUS NetGetDCName(LPCWSTR servername, LPCWSTR domainname, LPBYTE* bufptr);
[[nodiscard]] NET_API_STATUS NetGetAnyDCName(LPCWSTR servername, LPCWSTR domainname, LPBYTE* bufptr);

// Frees a buffer returned by the calls above; null is allowed.
NET_API_STATUS NetApiBufferFree(LPVOID Buffer);
