// `vnadmin history` and `vnadmin growth`: the scan history the runs record
// (console/core/history/), listed, and the growth report between two of its
// Space By Directory scans written as a result file (docs/history.md).
#include <charconv>
#include <ostream>

#include "console/core/history/GrowthReport.h"
#include "console/core/history/HistorySettings.h"
#include "hosts/vnadmin/AdminOutput.h"
#include "hosts/vnadmin/AdminVerbs.h"
#include "platform/core/AsciiText.h"

namespace vn::admin {

namespace {

// Opens the history named by --db, or the one the profile names.
bool OpenHistory(const std::string& location, console::CHistoryStore* store, std::ostream& err) {
  const std::string where = location.empty() ? console::ReadHistorySettings().location : location;
  if (const SqlError error = store->Open(where)) {
    err << "vnadmin: " << error.message << "\n";
    return false;
  }
  return true;
}

bool ScanNumber(const std::string& text, long long* id) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *id);
  return ec == std::errc() && end == text.data() + text.size() && *id > 0;
}

}  // namespace

int HistoryVerb(const Arguments& args, std::ostream& out, std::ostream& err) {
  std::string location;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (EqualsIgnoringCase(args[i], "--db") && i + 1 < args.size()) {
      location = args[++i];
    } else {
      return BadUsage(err, "history", "unexpected argument \"" + args[i] + "\"");
    }
  }
  console::CHistoryStore store;
  if (!OpenHistory(location, &store, err)) return kExitFailure;
  std::vector<console::HistoryScan> scans;
  if (const SqlError error = store.ListScans(&scans)) {
    err << "vnadmin: " << error.message << "\n";
    return kExitFailure;
  }
  Table table({"Scan", "Started", "Origin", "Report"});
  for (const auto& scan : scans) table.Add({std::to_string(scan.id), scan.started, scan.origin, scan.report});
  table.Print(out);
  return kExitSuccess;
}

int GrowthVerb(const Arguments& args, std::ostream& out, std::ostream& err) {
  std::string location, since, until, file;
  console::GrowthRequest request;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const bool valued = EqualsIgnoringCase(arg, "--db") || EqualsIgnoringCase(arg, "--until") ||
                        EqualsIgnoringCase(arg, "--machine") || arg == "-o";
    if (valued && i + 1 >= args.size()) return BadUsage(err, "growth", arg + " needs a value");
    if (EqualsIgnoringCase(arg, "--db")) {
      location = args[++i];
    } else if (EqualsIgnoringCase(arg, "--until")) {
      until = args[++i];
    } else if (EqualsIgnoringCase(arg, "--machine")) {
      request.machine = ToUpperAscii(args[++i]);
    } else if (arg == "-o") {
      file = args[++i];
    } else if (since.empty() && !arg.starts_with("-")) {
      since = arg;
    } else {
      return BadUsage(err, "growth", "unexpected argument \"" + arg + "\"");
    }
  }
  if (since.empty()) return BadUsage(err, "growth", "name the earlier scan (a number or a date)");
  if (file.empty()) return BadUsage(err, "growth", "name the result file (-o FILE)");
  if (!until.empty() && !ScanNumber(until, &request.until))
    return BadUsage(err, "growth", "--until needs a scan number");

  console::CHistoryStore store;
  if (!OpenHistory(location, &store, err)) return kExitFailure;
  // A number is a scan; anything else a time: the last directory scan before it.
  if (!ScanNumber(since, &request.since)) {
    if (const SqlError error = console::FindDirectoryScan(store, since, &request.since)) {
      err << "vnadmin: " << error.message << "\n";
      return kExitFailure;
    }
    if (request.since == 0) {
      err << "vnadmin: the scan history holds no Space By Directory scan before " << since << "\n";
      return kExitFailure;
    }
  }
  if (const SqlError error = console::WriteGrowthReport(store, request, file)) {
    err << "vnadmin: " << error.message << "\n";
    return kExitFailure;
  }
  out << "Growth since scan " << request.since << ": " << file << "\n";
  return kExitSuccess;
}

}  // namespace vn::admin
