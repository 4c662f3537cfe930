#pragma once
// What the server accepts as a report record: the exact record size, every
// text field terminated inside its array, and only the codes it knows (the
// report's server code; each criterion's scope, unit and attribute tests;
// the content comparison switch; the output option bits; a record count that
// is not negative). A refused record gets ERROR_INVALID_DATA with a message
// naming the first field at fault. A custom report (code 12) must name its
// stored definition as "\\MACHINE\Name"; a standard report names none.
//
// Plain functions; any thread.

#include <span>
#include <string>
#include <string_view>

#include "platform/core/Win32Types.h"
#include "servercomm/KSServerCommunication.h"

namespace vn::vnsrv {

struct RecordCheck {
  LONG error = ERROR_SUCCESS;
  std::string message;  // for the user, when error is set
};

// Checks `bytes` as a report record and, when it passes, copies it to *record.
RecordCheck CheckReportRecord(std::span<const char> bytes, KSServerCommunicationReportRec* record);

// The title of a standard report by server code ("" when unknown).
std::string_view ReportTitle(DWORD serverCode);

}  // namespace vn::vnsrv
