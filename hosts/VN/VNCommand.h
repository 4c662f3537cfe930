#pragma once
// The command line of VN, the host that runs a report set (or one custom
// report) without the console, as scheduled jobs do:
//
//   VN [--home DIR] /rs "SET" /on "OBJECTS" [/m MACHINE] [/p N]
//   VN [--home DIR] /rc "NAME" /on "OBJECTS" [/m MACHINE] [/p N]
//
// OBJECTS are object paths joined with ";": local paths ("C:\", "D:\Data")
// of this machine, machine names and network paths ("SRV1", "\\SRV1\Data").
// MACHINE is where the set or custom report is stored (default: this
// machine). N bounds how many machines' servers are asked at once
// (console/core/run/FanOut.h). Options compare without letter case. The job scheduler splits a
// job's command line by the Windows rules before it starts VN; a single
// argument holding a whole line (`VN '/rs "Weekly" /on "C:\\"'`) is split
// the same way here. Plain functions, any thread.

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "console/widgets/run/ReportRun.h"

namespace vn::host {

struct VNCommand {
  bool customReport = false;
  std::string reportName;
  std::string objects;
  std::string reportMachine;  // empty: this machine
  std::string home;           // --home, or empty
  int parallel = 0;           // /p, or 0: the profile's setting
};

// Reads the arguments after the program word. False with *error saying what
// is wrong.
[[nodiscard]] bool ParseVNCommand(std::vector<std::string> args, VNCommand* command, std::string* error);

// The usage text for a bad command line.
std::string_view VNUsage();

// Puts each object of the ";"-joined list where a run takes it: local drive
// paths ("C:", "C:\Dir") into the context's local objects, machine names
// and network paths ("SRV1", "\\SRV1\Share") under their machine (upper
// case). Blanks around an object and empty objects are left out. False, with
// *error, when no object remains or one names no machine.
[[nodiscard]] bool FillRunObjects(std::string_view objects, ReportRunContext* context, std::string* error);

// A path in `directory` for a merged result that takes no existing file's
// place: "<report> - <title> <stamp>.csv" (without " - <title>" when the
// title is empty or the report's name itself), then " (2)", " (3)"... before
// the extension. Characters a file name cannot hold become "_".
std::filesystem::path ResultFileName(const std::filesystem::path& directory, std::string_view report,
                                     std::string_view title, std::string_view stamp, int attempt);

// The title of a result file: the text of its first "B1" line, or empty.
std::string ResultTitle(const std::filesystem::path& file);

}  // namespace vn::host
