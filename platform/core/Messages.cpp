#include "platform/core/Messages.h"

#include <cstring>
#include <string_view>

#include "platform/core/SortedTable.h"

namespace {

struct Message {
  DWORD code;
  std::string_view text;
};

// Our own words for the codes this system can report, sorted by code. Win32 and
// registry codes are below 2100; network-management codes run from 2100 to
// 2999. Two network codes, 2351 (invalid computer name) and 2453 (no domain
// controller), are not here: the console words those itself.
constexpr Message kMessages[] = {
    {0, "The operation completed successfully."},
    {1, "The function is not supported for this object."},
    {2, "The system cannot find the file specified."},
    {3, "The system cannot find the path specified."},
    {4, "Too many files are open."},
    {5, "Access is denied."},
    {6, "The handle is invalid."},
    {8, "There is not enough memory to process this command."},
    {13, "The data is invalid."},
    {14, "There is not enough memory to complete this operation."},
    {15, "The system cannot find the drive specified."},
    {16, "The directory cannot be removed while it is in use."},
    {18, "There are no more files."},
    {19, "The medium is write protected."},
    {21, "The device is not ready."},
    {29, "The system cannot write to the device."},
    {30, "The system cannot read from the device."},
    {32, "The file is being used by another process."},
    {33, "Part of the file is locked by another process."},
    {38, "The end of the file has been reached."},
    {39, "The disk is full."},
    {50, "This request is not supported."},
    {51, "The remote computer is not available."},
    {52, "A duplicate name exists on the network."},
    {53, "The network path was not found."},
    {54, "The network is busy."},
    {55, "The network resource or device is no longer available."},
    {59, "An unexpected network error occurred."},
    {64, "The network name is no longer available."},
    {65, "Network access is denied."},
    {67, "The network name cannot be found."},
    {71, "No more connections can be made to this remote computer at this time because there are already as many connections as the computer can accept."},
    {80, "The file exists."},
    {82, "The directory or file cannot be created."},
    {86, "The network password is not correct."},
    {87, "The parameter is incorrect."},
    {110, "The system cannot open the device or file specified."},
    {111, "The file name is too long."},
    {112, "There is not enough space on the disk."},
    {120, "This function is not supported on this system."},
    {122, "The data area passed to a system call is too small."},
    {123, "The file name, directory name or volume label syntax is incorrect."},
    {124, "The system call level is not correct."},
    {145, "The directory is not empty."},
    {161, "The specified path is invalid."},
    {170, "The requested resource is in use."},
    {183, "Cannot create a file when that file already exists."},
    {206, "The file name or extension is too long."},
    {230, "The pipe state is invalid."},
    {231, "All pipe instances are busy."},
    {232, "The pipe is being closed."},
    {233, "No process is on the other end of the pipe."},
    {234, "More data is available."},
    {258, "The wait operation timed out."},
    {259, "No more data is available."},
    {267, "The directory name is invalid."},
    {535, "There is a process on the other end of the pipe."},
    {536, "Waiting for a process to open the other end of the pipe."},
    {997, "An overlapped operation is in progress."},
    {1009, "The configuration registry database is corrupt."},
    {1010, "The configuration registry key is invalid."},
    {1011, "The configuration registry key could not be opened."},
    {1012, "The configuration registry key could not be read."},
    {1013, "The configuration registry key could not be written."},
    {1015, "The registry is corrupted and could not be recovered."},
    {1016, "An input or output operation in the registry failed."},
    {1017, "The file given is not in the format of a registry file."},
    {1018, "The registry key has been marked for deletion and cannot be changed."},
    {1021, "A stable subkey cannot be created under a volatile parent key."},
    {1051, "A stop control has been sent to a service that other running services depend on."},
    {1052, "The requested control is not valid for this service."},
    {1053, "The service did not respond to the start or control request in time."},
    {1055, "The service database is locked."},
    {1056, "An instance of the service is already running."},
    {1057, "The account name is invalid or does not exist."},
    {1058, "The service cannot be started because it is disabled or has no enabled devices."},
    {1060, "The specified service does not exist as an installed service."},
    {1061, "The service cannot accept control messages at this time."},
    {1062, "The service has not been started."},
    {1063, "The service process could not connect to the service controller."},
    {1064, "An exception occurred in the service while it handled the control request."},
    {1066, "The service has returned a service-specific error code."},
    {1067, "The process terminated unexpectedly."},
    {1069, "The service did not start because of a logon failure."},
    {1072, "The specified service has been marked for deletion."},
    {1073, "The specified service already exists."},
    {1115, "A system shutdown is in progress."},
    {1203, "No network provider accepted the given network path."},
    {1208, "An extended error has occurred."},
    {1219, "Multiple connections to a server by the same user with different user names are not allowed."},
    {1222, "The network is not present or not started."},
    {1223, "The operation was canceled by the user."},
    {1231, "The network location cannot be reached."},
    {1232, "The network location cannot be reached."},
    {1326, "Logon failure: unknown user name or bad password."},
    {1331, "Logon failure: the account is currently disabled."},
    {1332, "No mapping between account names and security IDs was done."},
    {1337, "The security ID structure is invalid."},
    {1355, "The specified domain either does not exist or could not be contacted."},
    {1376, "The specified local group does not exist."},
    {1450, "Insufficient system resources exist to complete the requested service."},
    {1722, "The remote procedure call server is unavailable."},
    {1726, "The remote procedure call failed."},
    {1727, "The remote procedure call failed and did not execute."},
    {1753, "There are no more endpoints available from the endpoint mapper."},
    {2102, "The workstation driver is not installed."},
    {2103, "The server could not be located."},
    {2104, "An internal error occurred. The network cannot access a shared memory segment."},
    {2106, "This operation is supported only on the primary domain controller of the domain."},
    {2114, "The Server service is not started."},
    {2123, "The buffer given to the network function is too small."},
    {2138, "The Workstation service has not been started."},
    {2141, "The server is not configured for transactions."},
    {2182, "The requested service has already been started."},
    {2184, "The service has not been started."},
    {2185, "The service name is not valid."},
    {2220, "The group name could not be found."},
    {2221, "The user name could not be found."},
    {2222, "The resource name could not be found."},
    {2223, "The group already exists."},
    {2224, "The account already exists."},
    {2226, "This operation is allowed only on the primary domain controller of the domain."},
    {2242, "The password of this user has expired."},
    {2250, "This network connection does not exist."},
    {2310, "The share name does not exist."},
    {2320, "The computer is not active in this domain."},
    {2388, "The message alias could not be found on the network."},
    {3710, "The schedule service is busy."},
    {3801, "The scheduled job does not exist."},
};

static_assert(vn::IsStrictlyAscending(kMessages, &Message::code), "messages are looked up by binary search");

constexpr std::string_view kLineEnd = "\r\n";

}  // namespace

DWORD FormatMessageA(DWORD dwFlags, LPCVOID /*lpSource*/, DWORD dwMessageId, DWORD /*dwLanguageId*/,
                     LPSTR lpBuffer, DWORD nSize, void* /*Arguments*/) {
  if (lpBuffer && nSize > 0) lpBuffer[0] = '\0';
  if (!(dwFlags & FORMAT_MESSAGE_FROM_SYSTEM) || (dwFlags & FORMAT_MESSAGE_ALLOCATE_BUFFER) || !lpBuffer) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const Message* it = vn::FindSorted(kMessages, &Message::code, dwMessageId);
  if (!it) {
    SetLastError(ERROR_MR_MID_NOT_FOUND);
    return 0;
  }
  const std::size_t length = it->text.size() + kLineEnd.size();
  if (nSize < length + 1) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(lpBuffer, it->text.data(), it->text.size());
  std::memcpy(lpBuffer + it->text.size(), kLineEnd.data(), kLineEnd.size());
  lpBuffer[length] = '\0';
  return static_cast<DWORD>(length);
}
