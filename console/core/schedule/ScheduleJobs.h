#pragma once
// The scheduler calls behind the run form, the "Modify Job" dialog and the
// schedule list, without widgets: each takes the user's choices as values and
// gives back what happened and the text to show, so the windows only show it.
//
// Jobs are added, read, changed and deleted in the scheduler of the computer
// the console runs on; only a listing names another machine. Every call that
// finds the scheduler service stopped (NERR_ServiceNotInstalled) starts it
// once with StartScheduleService and asks again.
//
// User-interface thread in the console (the calls block on the machine
// service), any thread otherwise; nothing is kept between calls.

#include <map>
#include <string>
#include <vector>

#include "console/core/schedule/ScheduleModel.h"
#include "platform/core/Win32Types.h"

namespace vn::console {

// Starts this computer's "Schedule" service and waits while it is start
// pending (each wait as long as the service's hint). 1 when it left the
// pending state (also with *message "Unexpected service state.\n\nState N."
// when it did not end up running: the caller's repeated call decides); 0
// with *message the text to show ("Problem starting Schedule service.\n<the
// system's text>." and the like) when it could not be started.
int StartScheduleService(std::string* message);

// What ScheduleJob works from: the form's choices and the manager document's
// report and selection.
struct ScheduleRequest {
  ScheduleChoices choices;
  int todayWeekday = 0;  // 0 = Sunday ... 6 = Saturday
  bool customReport = false;
  std::string reportName;
  std::vector<std::string> localObjects;
  std::map<std::string, std::vector<std::string>> networkObjects;
};

struct ScheduleOutcome {
  bool added = false;
  DWORD jobId = 0;
  std::string message;     // the text to show when not added
  std::string recordFile;  // the record file written, when it was
};

// Adds the job: the choices encoded as a new job (two minutes on), the VN
// command line, the record file "VNSched<n>.TMP" holding exactly the command
// in the product directory (the "Vornal_DIR" value under
// HKEY_LOCAL_MACHINE\Software\Halvard\Vornal\4.0), then NetScheduleJobAdd on
// this computer. A command line that is too long is refused before anything
// is written; a record file written before a failed add stays.
ScheduleOutcome ScheduleJob(const ScheduleRequest& request);

// A job of this computer as the "Modify Job" dialog shows it. False, with
// *message "Error obtaining job information", when it cannot be read.
struct ScheduledJobInfo {
  JobTiming timing;
  std::string command;  // at most 259 bytes of UTF-8
};
bool ReadScheduledJob(DWORD jobId, ScheduledJobInfo* job, std::string* message);

struct ModifyOutcome {
  bool keepOpen = false;  // "Selected time is before current time": nothing changed
  bool replaced = false;  // the old job is gone and the new one added
  DWORD newJobId = 0;
  std::string message;    // the text to show, when there is one
};
// "Save" of the "Modify Job" dialog: the choices as a job without the offset
// and `command` as typed replace job `jobId`: the old one is deleted, then the
// new one added (it gets a new identifier). "Today" at a time before now's
// hour and minute keeps the dialog open and changes nothing. After a failed
// deletion nothing is added; after a failed addition the old job is gone.
ModifyOutcome ModifyScheduledJob(DWORD jobId, const ScheduleChoices& choices, const std::string& command,
                                 int todayWeekday, int nowHour, int nowMinute);

// Deletes job `jobId` of this computer: 0, or the scheduler's result (the
// service is started first when it is stopped; *message then holds its text
// when that failed, and the result is NERR_ServiceNotInstalled).
DWORD DeleteScheduledJob(DWORD jobId, std::string* message);

// The rows of the schedule list of `machine` (a name without backslashes;
// empty for this computer), in the scheduler's order, read in as many calls
// as the scheduler needs. When the scheduler service is stopped it is
// started; when that fails *message holds its text and the rows read so far
// stay. Other failures end the reading without a message.
std::vector<ScheduleListRow> ReadScheduleList(const std::string& machine, std::string* message);

}  // namespace vn::console
