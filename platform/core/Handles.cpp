#include "platform/core/Handles.h"

#include <mutex>
#include <vector>

#include "platform/core/CallResult.h"

using vn::Fail;

namespace {

struct Kinds {
  std::mutex mutex;
  std::vector<const vn::HandleKind*> list;
};

// Never destroyed: threads still running at exit may close handles.
Kinds& AllKinds() {
  static auto* kinds = new Kinds;
  return *kinds;
}

std::vector<const vn::HandleKind*> Snapshot() {
  Kinds& kinds = AllKinds();
  std::lock_guard lock(kinds.mutex);
  return kinds.list;
}

}  // namespace

namespace vn {

bool RegisterHandleKind(const HandleKind* kind) {
  Kinds& kinds = AllKinds();
  std::lock_guard lock(kinds.mutex);
  kinds.list.push_back(kind);
  return true;
}

}  // namespace vn

BOOL CloseHandle(HANDLE hObject) {
  for (const vn::HandleKind* kind : Snapshot()) {
    BOOL result = FALSE;
    if (kind->close(hObject, &result)) return result;
  }
  return Fail(ERROR_INVALID_HANDLE);
}

DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
  for (const vn::HandleKind* kind : Snapshot()) {
    DWORD result = WAIT_FAILED;
    if (kind->wait && kind->wait(hHandle, dwMilliseconds, &result)) return result;
  }
  SetLastError(ERROR_INVALID_HANDLE);
  return WAIT_FAILED;
}

BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
              LPVOID lpOverlapped) {
  if (lpNumberOfBytesRead) *lpNumberOfBytesRead = 0;
  if (lpOverlapped || (lpBuffer == nullptr && nNumberOfBytesToRead > 0)) return Fail(ERROR_INVALID_PARAMETER);
  for (const vn::HandleKind* kind : Snapshot()) {
    BOOL result = FALSE;
    if (kind->read && kind->read(hFile, lpBuffer, nNumberOfBytesToRead, lpNumberOfBytesRead, &result))
      return result;
  }
  return Fail(ERROR_INVALID_HANDLE);
}

BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite, LPDWORD lpNumberOfBytesWritten,
               LPVOID lpOverlapped) {
  if (lpNumberOfBytesWritten) *lpNumberOfBytesWritten = 0;
  if (lpOverlapped || (lpBuffer == nullptr && nNumberOfBytesToWrite > 0)) return Fail(ERROR_INVALID_PARAMETER);
  for (const vn::HandleKind* kind : Snapshot()) {
    BOOL result = FALSE;
    if (kind->write && kind->write(hFile, lpBuffer, nNumberOfBytesToWrite, lpNumberOfBytesWritten, &result))
      return result;
  }
  return Fail(ERROR_INVALID_HANDLE);
}
