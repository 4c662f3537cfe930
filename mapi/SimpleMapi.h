#pragma once
// The mail library's interface (libMAPI32.so, which the console loads by the
// module name "MAPI32.DLL"): the Simple MAPI entry points, their records and
// result codes. The console takes the entry points with GetProcAddress by the
// names below and calls them through the pointer types; the library defines
// them with C linkage.
//
// Memory: a list of recipients the library returns (MAPIResolveName,
// MAPIAddress) is one allocation holding the records and their texts; the
// caller frees it with MAPIFreeBuffer. Texts passed in stay the caller's.
// Texts are UTF-8, as everywhere in Vornal.

#include "platform/core/Win32Types.h"

using LHANDLE = ULONG_PTR;
using FLAGS = ULONG;

struct MapiRecipDesc {
  ULONG ulReserved;
  ULONG ulRecipClass;  // MAPI_ORIG, MAPI_TO, MAPI_CC, MAPI_BCC
  LPSTR lpszName;
  LPSTR lpszAddress;   // "SMTP:name@domain", or null
  ULONG ulEIDSize;
  LPVOID lpEntryID;
};
using lpMapiRecipDesc = MapiRecipDesc*;

struct MapiFileDesc {
  ULONG ulReserved;
  ULONG flFlags;
  ULONG nPosition;
  LPSTR lpszPathName;
  LPSTR lpszFileName;
  LPVOID lpFileType;
};

struct MapiMessage {
  ULONG ulReserved;
  LPSTR lpszSubject;
  LPSTR lpszNoteText;
  LPSTR lpszMessageType;
  LPSTR lpszDateReceived;
  LPSTR lpszConversationID;
  FLAGS flFlags;
  MapiRecipDesc* lpOriginator;
  ULONG nRecipCount;
  MapiRecipDesc* lpRecips;
  ULONG nFileCount;
  MapiFileDesc* lpFiles;
};

// Recipient classes.
inline constexpr ULONG MAPI_ORIG = 0;
inline constexpr ULONG MAPI_TO = 1;
inline constexpr ULONG MAPI_CC = 2;
inline constexpr ULONG MAPI_BCC = 3;

// Flags.
inline constexpr FLAGS MAPI_LOGON_UI = 0x1;
inline constexpr FLAGS MAPI_NEW_SESSION = 0x2;
inline constexpr FLAGS MAPI_DIALOG = 0x8;

// Result codes.
inline constexpr ULONG SUCCESS_SUCCESS = 0;
inline constexpr ULONG MAPI_USER_ABORT = 1;
inline constexpr ULONG MAPI_E_FAILURE = 2;
inline constexpr ULONG MAPI_E_LOGIN_FAILURE = 3;
inline constexpr ULONG MAPI_E_DISK_FULL = 4;
inline constexpr ULONG MAPI_E_INSUFFICIENT_MEMORY = 5;
inline constexpr ULONG MAPI_E_ACCESS_DENIED = 6;
inline constexpr ULONG MAPI_E_TOO_MANY_SESSIONS = 8;
inline constexpr ULONG MAPI_E_TOO_MANY_FILES = 9;
inline constexpr ULONG MAPI_E_TOO_MANY_RECIPIENTS = 10;
inline constexpr ULONG MAPI_E_ATTACHMENT_NOT_FOUND = 11;
inline constexpr ULONG MAPI_E_UNKNOWN_RECIPIENT = 14;
inline constexpr ULONG MAPI_E_BAD_RECIPTYPE = 15;
inline constexpr ULONG MAPI_E_INVALID_MESSAGE = 17;
inline constexpr ULONG MAPI_E_TEXT_TOO_LARGE = 18;
inline constexpr ULONG MAPI_E_INVALID_SESSION = 19;
inline constexpr ULONG MAPI_E_AMBIGUOUS_RECIPIENT = 21;
inline constexpr ULONG MAPI_E_INVALID_EDITFIELDS = 24;
inline constexpr ULONG MAPI_E_INVALID_RECIPS = 25;
inline constexpr ULONG MAPI_E_NOT_SUPPORTED = 26;

// The entry points, as the console calls them.
using LPMAPILOGON = ULONG (*)(ULONG_PTR ulUIParam, LPSTR lpszProfileName, LPSTR lpszPassword, FLAGS flFlags,
                              ULONG ulReserved, LHANDLE* lplhSession);
using LPMAPILOGOFF = ULONG (*)(LHANDLE lhSession, ULONG_PTR ulUIParam, FLAGS flFlags, ULONG ulReserved);
using LPMAPISENDMAIL = ULONG (*)(LHANDLE lhSession, ULONG_PTR ulUIParam, MapiMessage* lpMessage, FLAGS flFlags,
                                 ULONG ulReserved);
using LPMAPIRESOLVENAME = ULONG (*)(LHANDLE lhSession, ULONG_PTR ulUIParam, LPSTR lpszName, FLAGS flFlags,
                                    ULONG ulReserved, MapiRecipDesc** lppRecip);
using LPMAPIADDRESS = ULONG (*)(LHANDLE lhSession, ULONG_PTR ulUIParam, LPSTR lpszCaption, ULONG nEditFields,
                                LPSTR lpszLabels, ULONG nRecips, MapiRecipDesc* lpRecips, FLAGS flFlags,
                                ULONG ulReserved, ULONG* lpnNewRecips, MapiRecipDesc** lppNewRecips);
using LPMAPIFREEBUFFER = ULONG (*)(LPVOID pv);
