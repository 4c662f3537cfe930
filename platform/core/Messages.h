#pragma once
// The system's message table: words for the Win32, network-management and
// registry error codes that Vornal can report. There is no operating-system
// table to ask, so this is our own, in our own wording; each text ends with
// "\r\n" as the system's texts do.

#include "platform/core/LastError.h"
#include "platform/core/Win32Types.h"

// Supports FORMAT_MESSAGE_FROM_SYSTEM with FORMAT_MESSAGE_IGNORE_INSERTS and a
// caller's buffer (no allocation, no inserts, language ignored). Returns the
// length of the text written, or 0 when there is no text for the code (and
// SetLastError tells why); the buffer is NUL-terminated whenever nSize > 0.
[[nodiscard]] DWORD FormatMessageA(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId,
                                   LPSTR lpBuffer, DWORD nSize, void* Arguments);
