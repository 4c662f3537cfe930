#pragma once
// The calling thread's last error code, for the platform calls that report
// failure as FALSE or 0 (GetComputerNameA, FormatMessageA...) rather than as
// their result.

#include "platform/core/Win32Types.h"

DWORD GetLastError();
void SetLastError(DWORD dwErrCode);
