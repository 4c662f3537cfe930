#pragma once
// How the platform's Win32 calls end: the code goes to the calling thread's
// last error (LastError.h) and the call returns its success or failure value.
// Internal to the platform library; callers see only GetLastError.

#include "platform/core/LastError.h"
#include "platform/core/Win32Types.h"

namespace vn {

[[nodiscard]] inline BOOL Fail(LONG error) {
  SetLastError(static_cast<DWORD>(error));
  return FALSE;
}

[[nodiscard]] inline BOOL Succeed() {
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

// The calls another machine's service answers for it (service control, the
// job scheduler): a machine whose service cannot be reached is, to the
// caller, an RPC server that is not there.
inline LONG MapUnreachable(LONG error) { return error == ERROR_BAD_NETPATH ? RPC_S_SERVER_UNAVAILABLE : error; }

}  // namespace vn
