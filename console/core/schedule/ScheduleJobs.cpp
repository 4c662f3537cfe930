#include "console/core/schedule/ScheduleJobs.h"

#include <cstring>
#include <utility>

#include "console/core/support/SystemErrorText.h"
#include "platform/core/LastError.h"
#include "platform/core/WideString.h"
#include "platform/ipc/Sync.h"
#include "platform/net/Files.h"
#include "platform/registry/Registry.h"
#include "platform/services/NetSchedule.h"
#include "platform/services/ServiceControl.h"

namespace vn::console {
namespace {

constexpr const char* kProductKey = "Software\\Halvard\\Vornal\\4.0";
constexpr const char* kProductDirValue = "Vornal_DIR";

// The system's text goes before the message's final point.
std::string ServiceProblem(const char* what) {
  return std::string(what) + "\n" + SystemErrorLine(GetLastError()) + ".";
}

// Closes the service control handles on every path out.
struct ServiceHandles {
  SC_HANDLE manager = nullptr;
  SC_HANDLE service = nullptr;
  ~ServiceHandles() {
    if (service) CloseServiceHandle(service);
    if (manager) CloseServiceHandle(manager);
  }
};

// The product directory, or false.
bool ProductDirectory(std::string* directory) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kProductKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  char value[MAX_PATH + 1] = {};
  DWORD size = MAX_PATH;  // at most 260 bytes, terminator included
  DWORD type = 0;
  const LONG error = RegQueryValueExA(key, kProductDirValue, nullptr, &type, reinterpret_cast<LPBYTE>(value), &size);
  RegCloseKey(key);
  if (error != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return false;
  *directory = std::string(value, strnlen(value, size));
  return !directory->empty();
}

AT_INFO InfoOf(const JobTiming& timing, std::u16string& command) {
  return AT_INFO{timing.jobTime, timing.daysOfMonth, timing.daysOfWeek, timing.flags, command.data()};
}

// Calls `call` and, while it finds the scheduler stopped, starts the
// scheduler once per finding and calls again. A failed start gives
// NERR_ServiceNotInstalled with *message set. A scheduler that stops again
// each time it was started is given up on after a few starts (the result is
// then NERR_ServiceNotInstalled with no message).
template <class Call>
DWORD WithSchedulerRunning(Call call, std::string* message) {
  constexpr int kStarts = 3;
  for (int starts = 0;; ++starts) {
    const DWORD result = call();
    if (result != NERR_ServiceNotInstalled || starts == kStarts) return result;
    if (!StartScheduleService(message)) return result;
    message->clear();  // a start that ended in another state: the repeated call decides
  }
}

}  // namespace

int StartScheduleService(std::string* message) {
  ServiceHandles handles;
  handles.manager = OpenSCManagerA(nullptr, SERVICES_ACTIVE_DATABASEA, SC_MANAGER_ALL_ACCESS);
  if (!handles.manager) {
    *message = "Problem accessing Service Control Manager.\n\nError " + std::to_string(GetLastError()) + ".";
    return 0;
  }
  handles.service = OpenServiceA(handles.manager, "Schedule", SERVICE_ALL_ACCESS);
  if (!handles.service) {
    *message = ServiceProblem("Problem opening Schedule service.");
    return 0;
  }
  if (!StartServiceA(handles.service, 0, nullptr)) {
    *message = ServiceProblem("Problem starting Schedule service.");
    return 0;
  }
  for (;;) {
    SERVICE_STATUS status{};
    if (!QueryServiceStatus(handles.service, &status)) {
      *message = ServiceProblem("Problem getting service status.");
      return 0;
    }
    if (status.dwCurrentState == SERVICE_START_PENDING) {
      Sleep(status.dwWaitHint);
      continue;
    }
    if (status.dwCurrentState != SERVICE_RUNNING)
      *message = "Unexpected service state.\n\nState " + std::to_string(status.dwCurrentState) + ".";
    return 1;
  }
}

ScheduleOutcome ScheduleJob(const ScheduleRequest& request) {
  ScheduleOutcome outcome;
  const NewJobTiming timing = EncodeNewJob(request.choices, request.todayWeekday);
  std::string command;
  if (!BuildJobCommandLine(request.customReport, request.reportName, request.localObjects, request.networkObjects,
                           &command, &outcome.message))
    return outcome;

  std::string directory;
  if (!ProductDirectory(&directory)) {
    outcome.message = "Can't obtain registry information for Vornal.";
    return outcome;
  }
  char record[MAX_PATH] = {};
  if (GetTempFileNameA(directory.c_str(), "VNSched", 0, record) == 0 || !vn::WriteWholeFile(record, command)) {
    outcome.message = "Can't open file for scheduling. Check Permissions to OUTPUT directory.";
    return outcome;
  }
  outcome.recordFile = record;

  std::u16string wide = ToWide(command);
  AT_INFO info = InfoOf(timing.timing, wide);
  const DWORD result = WithSchedulerRunning(
      [&] { return static_cast<DWORD>(NetScheduleJobAdd(nullptr, reinterpret_cast<LPBYTE>(&info), &outcome.jobId)); },
      &outcome.message);
  if (result == NERR_ServiceNotInstalled && !outcome.message.empty()) return outcome;
  if (result != NERR_Success) {
    outcome.message = ScheduleJobErrorText(result);
    return outcome;
  }
  outcome.added = true;
  return outcome;
}

bool ReadScheduledJob(DWORD jobId, ScheduledJobInfo* job, std::string* message) {
  LPBYTE buffer = nullptr;
  if (NetScheduleJobGetInfo(nullptr, jobId, &buffer) != NERR_Success || !buffer) {
    *message = "Error obtaining job information";
    return false;
  }
  const auto* info = reinterpret_cast<const AT_INFO*>(buffer);
  job->timing = TimingOf(*info);
  // The dialog's command field: what the list shows of it.
  AT_ENUM asListed{jobId, info->JobTime, info->DaysOfMonth, info->DaysOfWeek, info->Flags, info->Command};
  job->command = ScheduleListRowOf(asListed).cells[6];
  NetApiBufferFree(buffer);
  return true;
}

ModifyOutcome ModifyScheduledJob(DWORD jobId, const ScheduleChoices& choices, const std::string& command,
                                 int todayWeekday, int nowHour, int nowMinute) {
  ModifyOutcome outcome;
  if (IsBeforeNow(choices, nowHour, nowMinute)) {
    outcome.keepOpen = true;
    outcome.message = "Selected time is before current time";
    return outcome;
  }
  const JobTiming timing = EncodeModifiedJob(choices, todayWeekday);
  const DWORD deleted = WithSchedulerRunning(
      [&] { return static_cast<DWORD>(NetScheduleJobDel(nullptr, jobId, jobId)); }, &outcome.message);
  if (deleted != NERR_Success) {
    if (deleted != NERR_ServiceNotInstalled || outcome.message.empty()) outcome.message = "Error deleting job!";
    return outcome;
  }
  std::u16string wide = ToWide(command);
  AT_INFO info = InfoOf(timing, wide);
  if (NetScheduleJobAdd(nullptr, reinterpret_cast<LPBYTE>(&info), &outcome.newJobId) != NERR_Success) {
    outcome.message = "Error modifing job!";
    return outcome;
  }
  outcome.replaced = true;
  return outcome;
}

DWORD DeleteScheduledJob(DWORD jobId, std::string* message) {
  return WithSchedulerRunning([&] { return static_cast<DWORD>(NetScheduleJobDel(nullptr, jobId, jobId)); }, message);
}

std::vector<ScheduleListRow> ReadScheduleList(const std::string& machine, std::string* message) {
  std::vector<ScheduleListRow> rows;
  const std::u16string server = machine.empty() ? std::u16string() : ToWide("\\\\" + machine);
  const LPCWSTR serverName = machine.empty() ? nullptr : server.c_str();
  DWORD resume = 0;
  for (;;) {
    LPBYTE buffer = nullptr;
    DWORD read = 0;
    DWORD total = 0;
    const DWORD result = WithSchedulerRunning(
        [&] {
          return static_cast<DWORD>(
              NetScheduleJobEnum(serverName, &buffer, MAX_PREFERRED_LENGTH, &read, &total, &resume));
        },
        message);
    if (EnumResultStep(result) != EnumStep::FillRows) {
      if (buffer) NetApiBufferFree(buffer);
      return rows;
    }
    const auto* entries = reinterpret_cast<const AT_ENUM*>(buffer);
    for (DWORD i = 0; i < read && entries; ++i) rows.push_back(ScheduleListRowOf(entries[i]));
    if (buffer) NetApiBufferFree(buffer);
    if (total == 0 || read == total || resume == 0) return rows;
  }
}

}  // namespace vn::console
