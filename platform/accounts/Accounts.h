#pragma once
// The accounts of a machine, as the LAN Manager and security calls of Windows
// NT present them: users and global groups of the machine's domain, local
// groups (aliases) of the machine, the built-in aliases of BUILTIN and the
// well-known groups (Everyone...).
//
// Where they come from:
// - The host's user and group database (an AccountSource of
//   machine/AccountTable.h; the C library's by default). Host users count when
//   they are root or have a uid from 1000 to 59999 (the range Debian gives
//   people); root is shown as "Administrator". Host groups count with a gid in
//   the same range, except a user's private group (a group named like a user
//   that counts). System accounts (uid/gid 1-999, nobody, nogroup) are left out.
// - [Accounts] of the machine's configuration (docs/machine-configuration.md),
//   so that machines sharing one host have their own accounts. A configured
//   account hides a host account of the same name.
// - Built in: the user Administrator; the global groups Domain Admins, Domain
//   Users, Domain Guests on a domain controller, the group None elsewhere; the
//   BUILTIN aliases Administrators, Users, Guests, Power Users, Backup
//   Operators, Replicator; the well-known groups Everyone, CREATOR OWNER,
//   NETWORK, INTERACTIVE, SYSTEM, Authenticated Users. Built-in names win
//   over host names. Names are unique without letter case.
//
// SIDs are real SID records (revision 1). Users and global groups: the domain
// SID S-1-5-21-a-b-c, where a, b, c come from a hash (FNV-1a) of the upper-case
// domain name, then the RID; local groups: the machine SID, made the same way
// from the computer name. RIDs: Administrator 500, Domain Admins 512, Domain
// Users and None 513, Domain Guests 514; a host account uid/gid + 1000;
// a configured account 0x40000000 plus a hash of its upper-case name (the next
// free value on a clash). The same machine and name always give the same SID.
//
// `servername` / `lpSystemName`: null, empty or this machine's name (with or
// without "\\") is this machine. Another machine answers through its service
// from its own accounts (machine/AccountTable.h): ERROR_BAD_NETPATH (53) when
// it cannot be found or reached, NERR_InvalidComputer (2351) for a bad name,
// ERROR_ACCESS_DENIED without an identity in its domain.
//
// Buffers follow Net.h: one allocation holding the records and their strings
// (and SIDs), owned by the caller and freed with NetApiBufferFree; null on
// failure and for an empty list.
//
// Safe from any thread; every call reads the accounts afresh.

#include "platform/core/Win32Types.h"
#include "platform/machine/MachineConfig.h"

using PVOID = void*;
using PDWORD_PTR = DWORD_PTR*;

struct NET_DISPLAY_USER {
  LPWSTR usri1_name;
  LPWSTR usri1_comment;
  DWORD usri1_flags;  // UF_* (Win32Types.h)
  LPWSTR usri1_full_name;
  DWORD usri1_user_id;
  DWORD usri1_next_index;
};
using PNET_DISPLAY_USER = NET_DISPLAY_USER*;

struct NET_DISPLAY_GROUP {
  LPWSTR grpi3_name;
  LPWSTR grpi3_comment;
  DWORD grpi3_group_id;
  DWORD grpi3_attributes;
  DWORD grpi3_next_index;
};
using PNET_DISPLAY_GROUP = NET_DISPLAY_GROUP*;

struct LOCALGROUP_INFO_0 {
  LPWSTR lgrpi0_name;
};
using PLOCALGROUP_INFO_0 = LOCALGROUP_INFO_0*;

struct LOCALGROUP_INFO_1 {
  LPWSTR lgrpi1_name;
  LPWSTR lgrpi1_comment;
};
using PLOCALGROUP_INFO_1 = LOCALGROUP_INFO_1*;

struct USER_MODALS_INFO_2 {
  LPWSTR usrmod2_domain_name;
  PSID usrmod2_domain_id;
};
using PUSER_MODALS_INFO_2 = USER_MODALS_INFO_2*;

// grpi3_attributes.
inline constexpr DWORD SE_GROUP_MANDATORY = 0x1;
inline constexpr DWORD SE_GROUP_ENABLED_BY_DEFAULT = 0x2;
inline constexpr DWORD SE_GROUP_ENABLED = 0x4;

// Users (Level 1, NET_DISPLAY_USER) or global groups (Level 3,
// NET_DISPLAY_GROUP) of the machine's domain, sorted by name without case.
// A call starts at Index (0 = the first; else the usri1_next_index /
// grpi3_next_index of the previous batch's last entry) and returns up to
// EntriesRequested entries (at most 100) while they fit in
// PreferredMaximumLength bytes, always at least one. ERROR_MORE_DATA while
// entries remain after the batch, 0 with the last one (and with none when
// Index is past the end). ERROR_INVALID_LEVEL (124) for other levels.
[[nodiscard]] NET_API_STATUS NetQueryDisplayInformation(LPCWSTR ServerName, DWORD Level, DWORD Index,
                                                        DWORD EntriesRequested, DWORD PreferredMaximumLength,
                                                        LPDWORD ReturnedEntryCount, PVOID* SortedBuffer);

// The local groups of the machine: the BUILTIN aliases, then the configured
// local groups, each by name. Level 0 (LOCALGROUP_INFO_0) or 1 (with the
// comment). Batches as NetShareEnum's (Net.h): prefmaxlen, resume handle,
// ERROR_MORE_DATA.
[[nodiscard]] NET_API_STATUS NetLocalGroupEnum(LPCWSTR servername, DWORD level, LPBYTE* bufptr, DWORD prefmaxlen,
                                               LPDWORD entriesread, LPDWORD totalentries, PDWORD_PTR resumehandle);

// Level 2 only: the machine's domain name (upper case) and the domain SID.
[[nodiscard]] NET_API_STATUS NetUserModalsGet(LPCWSTR servername, DWORD level, LPBYTE* bufptr);

// The SID, the domain it belongs to and its kind for an account name, "NAME"
// or "DOMAIN\NAME" (letter case ignored). A bare name is searched among the
// well-known groups, the BUILTIN aliases, the machine's local groups, the
// domain's users and groups, and finally the names of the domains themselves
// (SidTypeDomain). ReferencedDomainName receives the domain: the machine's
// domain, the computer name (local groups), "BUILTIN", "NT AUTHORITY", or ""
// for Everyone and CREATOR OWNER.
// Sizes: *cbSid bytes at Sid, *cchReferencedDomainName characters at
// ReferencedDomainName. When either is too small (or null) the call fails with
// ERROR_INSUFFICIENT_BUFFER (122) and both hold the sizes needed (the domain's
// with its terminator); on success *cbSid is the SID's length and
// *cchReferencedDomainName the domain's length without terminator.
// Errors (GetLastError): ERROR_NONE_MAPPED (1332) for a name no account has,
// ERROR_INVALID_PARAMETER for a missing name or size, and the server errors
// above.
[[nodiscard]] BOOL LookupAccountNameA(LPCSTR lpSystemName, LPCSTR lpAccountName, PSID Sid, LPDWORD cbSid,
                                      LPSTR ReferencedDomainName, LPDWORD cchReferencedDomainName, PSID_NAME_USE peUse);

// A SID record is well formed: revision 1, at most 15 sub-authorities.
BOOL IsValidSid(PSID pSid);
// The length in bytes of a valid SID (0 for an invalid one).
DWORD GetLengthSid(PSID pSid);
