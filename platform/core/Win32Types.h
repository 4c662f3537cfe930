#pragma once
// The Win32 names the console code is written against: integer types, handles,
// error codes and flag values. Only what Vornal uses is here; values are the
// ones Windows NT defines, so codes can be stored, shown and compared as such.

#include <cstdint>

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using ULONG = std::uint32_t;
using PULONG = ULONG*;
using UINT = std::uint32_t;
using BOOL = std::int32_t;
using CHAR = char;
using WCHAR = char16_t;
using ULONG_PTR = std::uintptr_t;
using DWORD_PTR = std::uintptr_t;
using UCHAR = unsigned char;
using LPSTR = char*;
using LPCSTR = const char*;
using LPWSTR = WCHAR*;
using LPCWSTR = const WCHAR*;
using LPBYTE = BYTE*;
using LPDWORD = DWORD*;
using LPVOID = void*;
using LPCVOID = const void*;
using REGSAM = DWORD;
using NET_API_STATUS = DWORD;

struct HKEY__;
using HKEY = HKEY__*;
using PHKEY = HKEY*;
using HANDLE = void*;
using LPHANDLE = HANDLE*;
inline const HANDLE INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(~ULONG_PTR{0});

struct FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
};
using PFILETIME = FILETIME*;

// A 64-bit count in the two halves Win32 structures keep it in.
union ULARGE_INTEGER {
  struct {
    DWORD LowPart;
    DWORD HighPart;
  } u;
  std::uint64_t QuadPart;
};
using PULARGE_INTEGER = ULARGE_INTEGER*;

struct SECURITY_ATTRIBUTES {
  DWORD nLength;
  LPVOID lpSecurityDescriptor;
  BOOL bInheritHandle;
};
using LPSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES*;

inline constexpr BOOL TRUE = 1;
inline constexpr BOOL FALSE = 0;
inline constexpr DWORD MAX_PATH = 260;
inline constexpr DWORD MAX_COMPUTERNAME_LENGTH = 15;

// Every function whose result says whether it worked is [[nodiscard]]: Win32
// codes, a BOOL whose FALSE leaves the code in GetLastError, our own bool,
// code or result record (Fail and Succeed too, so a Fail without its return
// cannot let a call go on). Where ignoring one is right, write (void) with a
// comment why; in tests, assert on setup that must work. GCC does not report
// an ignored result of a virtual call: clang's -Wunused-result does.
// Not marked, since the caller can do nothing about their failure: the calls
// that let go of something (CloseHandle, RegCloseKey, CloseServiceHandle,
// FindClose, WNetCloseEnum, WNetCancelConnectionA, NetApiBufferFree,
// DisconnectNamedPipe, VirtualFree, SignalProcess, KSCli's Disconnect and
// DeleteServerFile); SetEvent and ResetEvent, which fail only for a handle
// that is no event; messages to a window that may have gone (PostMessageA,
// SetWindowTextA); results that never vary (RegisterHandleKind, "returns 1").
// Nor are answers rather than outcomes: predicates, queries whose value is the
// point (GetFileAttributesA), conversions of a code, command routing's
// "handled", and lookups whose miss is an empty answer (AfxLoadString,
// KSLoadString, GetSystemErrorText). FormatMessageA is marked: its 0 leaves
// the caller to choose a text of its own.

// Win32 error codes (winerror.h) that Vornal's platform layer reports.
inline constexpr LONG ERROR_SUCCESS = 0;
inline constexpr LONG ERROR_INVALID_FUNCTION = 1;
inline constexpr LONG ERROR_FILE_NOT_FOUND = 2;
inline constexpr LONG ERROR_PATH_NOT_FOUND = 3;
inline constexpr LONG ERROR_TOO_MANY_OPEN_FILES = 4;
inline constexpr LONG ERROR_ACCESS_DENIED = 5;
inline constexpr LONG ERROR_INVALID_HANDLE = 6;
inline constexpr LONG ERROR_NOT_ENOUGH_MEMORY = 8;
inline constexpr LONG ERROR_INVALID_DATA = 13;
inline constexpr LONG ERROR_OUTOFMEMORY = 14;
inline constexpr LONG ERROR_INVALID_DRIVE = 15;
inline constexpr LONG ERROR_NOT_SAME_DEVICE = 17;
inline constexpr LONG ERROR_NO_MORE_FILES = 18;
inline constexpr LONG ERROR_WRITE_PROTECT = 19;
inline constexpr LONG ERROR_NOT_READY = 21;
inline constexpr LONG ERROR_WRITE_FAULT = 29;
inline constexpr LONG ERROR_READ_FAULT = 30;
inline constexpr LONG ERROR_GEN_FAILURE = 31;
inline constexpr LONG ERROR_SHARING_VIOLATION = 32;
inline constexpr LONG ERROR_HANDLE_EOF = 38;
inline constexpr LONG ERROR_NOT_SUPPORTED = 50;
inline constexpr LONG ERROR_BAD_NETPATH = 53;
inline constexpr LONG ERROR_BAD_DEV_TYPE = 66;
inline constexpr LONG ERROR_BAD_NET_NAME = 67;
inline constexpr LONG ERROR_FILE_EXISTS = 80;
inline constexpr LONG ERROR_ALREADY_ASSIGNED = 85;
inline constexpr LONG ERROR_INVALID_PARAMETER = 87;
inline constexpr LONG ERROR_BUFFER_OVERFLOW = 111;
inline constexpr LONG ERROR_DISK_FULL = 112;
inline constexpr LONG ERROR_INSUFFICIENT_BUFFER = 122;
inline constexpr LONG ERROR_INVALID_NAME = 123;
inline constexpr LONG ERROR_INVALID_LEVEL = 124;
inline constexpr LONG ERROR_DIR_NOT_ROOT = 144;
inline constexpr LONG ERROR_DIR_NOT_EMPTY = 145;
inline constexpr LONG ERROR_BAD_PATHNAME = 161;
inline constexpr LONG ERROR_ALREADY_EXISTS = 183;
inline constexpr LONG ERROR_FILENAME_EXCED_RANGE = 206;
inline constexpr LONG ERROR_MORE_DATA = 234;
inline constexpr LONG ERROR_NO_MORE_ITEMS = 259;
inline constexpr LONG ERROR_DIRECTORY = 267;
inline constexpr LONG ERROR_MR_MID_NOT_FOUND = 317;
inline constexpr LONG ERROR_BADDB = 1009;
inline constexpr LONG ERROR_BADKEY = 1010;
inline constexpr LONG ERROR_CANTOPEN = 1011;
inline constexpr LONG ERROR_CANTREAD = 1012;
inline constexpr LONG ERROR_CANTWRITE = 1013;
inline constexpr LONG ERROR_REGISTRY_CORRUPT = 1015;
inline constexpr LONG ERROR_REGISTRY_IO_FAILED = 1016;
inline constexpr LONG ERROR_KEY_DELETED = 1018;
inline constexpr LONG ERROR_CHILD_MUST_BE_VOLATILE = 1021;
inline constexpr LONG ERROR_BAD_DEVICE = 1200;
inline constexpr LONG ERROR_NOT_CONTAINER = 1207;
inline constexpr LONG ERROR_CANCELLED = 1223;
inline constexpr LONG ERROR_NO_MORE_DEVICES = 1248;
inline constexpr LONG ERROR_NONE_MAPPED = 1332;
inline constexpr LONG ERROR_INVALID_SID = 1337;
inline constexpr LONG ERROR_CANT_RESOLVE_FILENAME = 1921;
inline constexpr LONG ERROR_NOT_CONNECTED = 2250;

// Registry value types.
inline constexpr DWORD REG_NONE = 0;
inline constexpr DWORD REG_SZ = 1;
inline constexpr DWORD REG_EXPAND_SZ = 2;
inline constexpr DWORD REG_BINARY = 3;
inline constexpr DWORD REG_DWORD = 4;
inline constexpr DWORD REG_MULTI_SZ = 7;

// Registry key access rights.
inline constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
inline constexpr REGSAM KEY_SET_VALUE = 0x0002;
inline constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
inline constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
inline constexpr REGSAM KEY_NOTIFY = 0x0010;
inline constexpr REGSAM KEY_CREATE_LINK = 0x0020;
inline constexpr REGSAM DELETE = 0x00010000;
inline constexpr REGSAM READ_CONTROL = 0x00020000;
inline constexpr REGSAM WRITE_DAC = 0x00040000;
inline constexpr REGSAM WRITE_OWNER = 0x00080000;
inline constexpr REGSAM SYNCHRONIZE = 0x00100000;
inline constexpr REGSAM KEY_READ = READ_CONTROL | KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS | KEY_NOTIFY;
inline constexpr REGSAM KEY_WRITE = READ_CONTROL | KEY_SET_VALUE | KEY_CREATE_SUB_KEY;
inline constexpr REGSAM KEY_EXECUTE = KEY_READ;
inline constexpr REGSAM KEY_ALL_ACCESS = 0x000F003F;
inline constexpr DWORD MAXIMUM_ALLOWED = 0x02000000;
inline constexpr DWORD GENERIC_ALL = 0x10000000;
inline constexpr DWORD GENERIC_EXECUTE = 0x20000000;
inline constexpr DWORD GENERIC_WRITE = 0x40000000;
inline constexpr DWORD GENERIC_READ = 0x80000000;

inline constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
inline constexpr DWORD REG_OPTION_VOLATILE = 1;
inline constexpr DWORD REG_CREATED_NEW_KEY = 1;
inline constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

// The predefined root keys. Only HKEY_LOCAL_MACHINE has a hive behind it.
inline const HKEY HKEY_CLASSES_ROOT = reinterpret_cast<HKEY>(ULONG_PTR{0x80000000});
inline const HKEY HKEY_CURRENT_USER = reinterpret_cast<HKEY>(ULONG_PTR{0x80000001});
inline const HKEY HKEY_LOCAL_MACHINE = reinterpret_cast<HKEY>(ULONG_PTR{0x80000002});
inline const HKEY HKEY_USERS = reinterpret_cast<HKEY>(ULONG_PTR{0x80000003});

// Drive types (GetDriveTypeA).
inline constexpr UINT DRIVE_UNKNOWN = 0;
inline constexpr UINT DRIVE_NO_ROOT_DIR = 1;
inline constexpr UINT DRIVE_REMOVABLE = 2;
inline constexpr UINT DRIVE_FIXED = 3;
inline constexpr UINT DRIVE_REMOTE = 4;
inline constexpr UINT DRIVE_CDROM = 5;
inline constexpr UINT DRIVE_RAMDISK = 6;

// Share types (SHARE_INFO_1::shi1_type).
inline constexpr DWORD STYPE_DISKTREE = 0;
inline constexpr DWORD STYPE_PRINTQ = 1;
inline constexpr DWORD STYPE_DEVICE = 2;
inline constexpr DWORD STYPE_IPC = 3;
inline constexpr DWORD STYPE_SPECIAL = 0x80000000;

// Server types and platform of NetServerGetInfo / NetServerEnum.
inline constexpr DWORD SV_TYPE_WORKSTATION = 0x00000001;
inline constexpr DWORD SV_TYPE_SERVER = 0x00000002;
inline constexpr DWORD SV_TYPE_DOMAIN_CTRL = 0x00000008;
inline constexpr DWORD SV_TYPE_DOMAIN_BAKCTRL = 0x00000010;
inline constexpr DWORD SV_TYPE_DOMAIN_MEMBER = 0x00000100;
inline constexpr DWORD SV_TYPE_NT = 0x00001000;
inline constexpr DWORD SV_TYPE_SERVER_NT = 0x00008000;
inline constexpr DWORD SV_TYPE_DOMAIN_ENUM = 0x80000000;
inline constexpr DWORD SV_TYPE_ALL = 0xFFFFFFFF;
inline constexpr DWORD PLATFORM_ID_NT = 500;

// File attributes.
inline constexpr DWORD FILE_ATTRIBUTE_READONLY = 0x01;
inline constexpr DWORD FILE_ATTRIBUTE_HIDDEN = 0x02;
inline constexpr DWORD FILE_ATTRIBUTE_SYSTEM = 0x04;
inline constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10;
inline constexpr DWORD FILE_ATTRIBUTE_ARCHIVE = 0x20;
inline constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
inline constexpr DWORD FILE_ATTRIBUTE_TEMPORARY = 0x100;
inline constexpr DWORD FILE_ATTRIBUTE_COMPRESSED = 0x800;
inline constexpr DWORD INVALID_FILE_ATTRIBUTES = 0xFFFFFFFF;

// Network errors.
inline constexpr LONG ERROR_UNEXP_NET_ERR = 59;
inline constexpr LONG ERROR_NETNAME_DELETED = 64;
// The serving machine takes no more streams or pipes from this caller now.
inline constexpr LONG ERROR_REQ_NOT_ACCEP = 71;
inline constexpr LONG ERROR_NO_SYSTEM_RESOURCES = 1450;
inline constexpr LONG ERROR_SERVICE_REQUEST_TIMEOUT = 1053;
inline constexpr LONG ERROR_SERVICE_DISABLED = 1058;
inline constexpr LONG ERROR_BAD_EXE_FORMAT = 193;
inline constexpr LONG ERROR_INVALID_SERVICE_CONTROL = 1052;
inline constexpr LONG ERROR_SERVICE_ALREADY_RUNNING = 1056;
inline constexpr LONG ERROR_SERVICE_DOES_NOT_EXIST = 1060;
inline constexpr LONG ERROR_SERVICE_CANNOT_ACCEPT_CTRL = 1061;
inline constexpr LONG ERROR_SERVICE_NOT_ACTIVE = 1062;
inline constexpr LONG ERROR_DATABASE_DOES_NOT_EXIST = 1065;
inline constexpr LONG ERROR_SERVICE_SPECIFIC_ERROR = 1066;
inline constexpr LONG ERROR_PROCESS_ABORTED = 1067;
inline constexpr LONG ERROR_SERVICE_MARKED_FOR_DELETE = 1072;
inline constexpr LONG ERROR_SERVICE_EXISTS = 1073;
inline constexpr LONG ERROR_SERVICE_NEVER_STARTED = 1077;
inline constexpr LONG RPC_S_SERVER_UNAVAILABLE = 1722;
inline constexpr DWORD NERR_InvalidComputer = 2351;
inline constexpr DWORD NERR_DCNotFound = 2453;

// FormatMessage flags.
inline constexpr DWORD FORMAT_MESSAGE_ALLOCATE_BUFFER = 0x00000100;
inline constexpr DWORD FORMAT_MESSAGE_IGNORE_INSERTS = 0x00000200;
inline constexpr DWORD FORMAT_MESSAGE_FROM_STRING = 0x00000400;
inline constexpr DWORD FORMAT_MESSAGE_FROM_HMODULE = 0x00000800;
inline constexpr DWORD FORMAT_MESSAGE_FROM_SYSTEM = 0x00001000;

// Security identifiers and the kinds of account a name can be
// (LookupAccountNameA). A SID is a variable-length record: revision 1, a count
// of sub-authorities, a 6-byte big-endian identifier authority, then the
// sub-authorities (host order); it is handled through PSID only.
using PSID = void*;
struct SID_IDENTIFIER_AUTHORITY {
  BYTE Value[6];
};
inline constexpr BYTE SID_REVISION = 1;
inline constexpr BYTE SID_MAX_SUB_AUTHORITIES = 15;
enum SID_NAME_USE : int {
  SidTypeUser = 1,
  SidTypeGroup = 2,
  SidTypeDomain = 3,
  SidTypeAlias = 4,
  SidTypeWellKnownGroup = 5,
  SidTypeDeletedAccount = 6,
  SidTypeInvalid = 7,
  SidTypeUnknown = 8,
  SidTypeComputer = 9,
};
using PSID_NAME_USE = SID_NAME_USE*;

// User account flags (NET_DISPLAY_USER::usri1_flags).
inline constexpr DWORD UF_SCRIPT = 0x0001;
inline constexpr DWORD UF_ACCOUNTDISABLE = 0x0002;
inline constexpr DWORD UF_NORMAL_ACCOUNT = 0x0200;
inline constexpr DWORD UF_DONT_EXPIRE_PASSWD = 0x10000;

// Waits, events and threads.
using LPTHREAD_START_ROUTINE = DWORD (*)(LPVOID lpThreadParameter);
inline constexpr DWORD INFINITE = 0xFFFFFFFF;
inline constexpr DWORD WAIT_OBJECT_0 = 0x00000000;
inline constexpr DWORD WAIT_TIMEOUT = 0x00000102;
inline constexpr DWORD WAIT_FAILED = 0xFFFFFFFF;
inline constexpr DWORD STILL_ACTIVE = 259;
inline constexpr DWORD CREATE_SUSPENDED = 0x00000004;
inline constexpr DWORD EVENT_MODIFY_STATE = 0x0002;
inline constexpr DWORD EVENT_ALL_ACCESS = 0x001F0003;

// Named pipes and CreateFileA.
inline constexpr DWORD OPEN_EXISTING = 3;
inline constexpr DWORD PIPE_ACCESS_INBOUND = 0x00000001;
inline constexpr DWORD PIPE_ACCESS_OUTBOUND = 0x00000002;
inline constexpr DWORD PIPE_ACCESS_DUPLEX = 0x00000003;
inline constexpr DWORD PIPE_TYPE_BYTE = 0x00000000;
inline constexpr DWORD PIPE_TYPE_MESSAGE = 0x00000004;
inline constexpr DWORD PIPE_READMODE_BYTE = 0x00000000;
inline constexpr DWORD PIPE_READMODE_MESSAGE = 0x00000002;
inline constexpr DWORD PIPE_WAIT = 0x00000000;
inline constexpr DWORD PIPE_NOWAIT = 0x00000001;
inline constexpr DWORD PIPE_UNLIMITED_INSTANCES = 255;
inline constexpr DWORD PIPE_CLIENT_END = 0x00000000;
inline constexpr DWORD PIPE_SERVER_END = 0x00000001;
inline constexpr DWORD NMPWAIT_USE_DEFAULT_WAIT = 0x00000000;
inline constexpr DWORD NMPWAIT_NOWAIT = 0x00000001;
inline constexpr DWORD NMPWAIT_WAIT_FOREVER = 0xFFFFFFFF;
inline constexpr LONG ERROR_BROKEN_PIPE = 109;
inline constexpr LONG ERROR_SEM_TIMEOUT = 121;
inline constexpr LONG ERROR_PIPE_BUSY = 231;
inline constexpr LONG ERROR_NO_DATA = 232;
inline constexpr LONG ERROR_PIPE_NOT_CONNECTED = 233;
inline constexpr LONG ERROR_PIPE_CONNECTED = 535;
inline constexpr LONG ERROR_PIPE_LISTENING = 536;
