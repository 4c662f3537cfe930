#pragma once
// An error code as words, for every message box and status line that shows a
// failure: "Can't connect to %s\r\n%s" and the like get the same text for the
// same code everywhere.

#include <string>

#include "platform/core/Win32Types.h"

namespace vn::console {

// Puts the text of a Win32, network-management or registry error code into
// `buffer` (`size` characters, callers give 260 or 1024) and returns its length.
// The system's own text wins and keeps its line end; five network-management
// codes the system has no words for get fixed texts; any other code gives the
// empty text and 0. The buffer always ends up NUL-terminated (when size > 0).
DWORD GetSystemErrorText(DWORD code, char* buffer, DWORD size);

// The same text as a string, as a buffer of `size` characters holds it.
std::string SystemErrorString(DWORD code, DWORD size = 1025);
// Without its final line end, for messages that go on after the text.
std::string SystemErrorLine(DWORD code, DWORD size = 1025);

}  // namespace vn::console
