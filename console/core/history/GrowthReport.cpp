#include "console/core/history/GrowthReport.h"

#include <fstream>
#include <map>
#include <tuple>

namespace vn::console {

namespace {

constexpr const char* kDirectoryReport = "Space By Directory";

struct Change {
  long long level = 0;
  long long filesThen = 0, filesNow = 0, bytesThen = 0, bytesNow = 0;
};

SqlError LoadDirectoryScan(CHistoryStore& store, long long id, HistoryScan* scan) {
  if (SqlError error = store.LoadScan(id, scan)) return error;
  if (scan->report != kDirectoryReport)
    return {ERROR_INVALID_PARAMETER, "Scan " + std::to_string(id) + " is a " + scan->report +
                                         " scan; growth compares two Space By Directory scans."};
  return {};
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

}  // namespace

SqlError FindDirectoryScan(CHistoryStore& store, const std::string& before, long long* id) {
  *id = 0;
  std::vector<HistoryScan> scans;
  if (SqlError error = store.ListScans(&scans)) return error;
  for (const HistoryScan& scan : scans) {
    if (scan.report != kDirectoryReport) continue;
    if (!before.empty() && scan.started.compare(0, before.size(), before) >= 0) continue;
    *id = scan.id;
  }
  return {};
}

SqlError ListDirectoryScans(CHistoryStore& store, std::vector<HistoryScan>* scans) {
  scans->clear();
  std::vector<HistoryScan> all;
  if (SqlError error = store.ListScans(&all)) return error;
  for (auto scan = all.rbegin(); scan != all.rend(); ++scan)
    if (scan->report == kDirectoryReport) scans->push_back(std::move(*scan));
  return {};
}

SqlError WriteGrowthReport(CHistoryStore& store, const GrowthRequest& request, const std::filesystem::path& path) {
  long long until = request.until;
  if (until == 0) {
    if (SqlError error = FindDirectoryScan(store, {}, &until)) return error;
    if (until == 0) return {ERROR_INVALID_PARAMETER, "The scan history holds no Space By Directory scan."};
  }
  HistoryScan then, now;
  if (SqlError error = LoadDirectoryScan(store, request.since, &then)) return error;
  if (SqlError error = LoadDirectoryScan(store, until, &now)) return error;

  // (machine, directory) -> change; per machine the lowest level seen.
  std::map<std::pair<std::string, std::string>, Change> changes;
  std::map<std::string, long long> lowest;
  const auto add = [&](const HistoryScan& scan, bool later) {
    for (const HistoryMachine& machine : scan.machines) {
      if (!request.machine.empty() && machine.machine != request.machine) continue;
      for (const HistoryMeasure& measure : machine.measures) {
        Change& change = changes[{machine.machine, measure.name}];
        change.level = measure.level;
        (later ? change.filesNow : change.filesThen) = measure.files;
        (later ? change.bytesNow : change.bytesThen) = measure.bytes;
        const auto [it, made] = lowest.try_emplace(machine.machine, measure.level);
        if (!made && measure.level < it->second) it->second = measure.level;
      }
    }
  };
  add(then, false);
  add(now, true);

  std::string computers;
  for (const auto& [machine, level] : lowest) computers += (computers.empty() ? "" : "; ") + machine;
  std::string text;
  text += "\"A1\",6,10\r\n";
  text += "\"B1\"," + Quoted(kGrowthTitle) + "\r\n";
  text += "\"B1\"," + Quoted("Since: scan " + std::to_string(then.id) + " of " + then.started) + "\r\n";
  text += "\"B1\"," + Quoted("Until: scan " + std::to_string(now.id) + " of " + now.started) + "\r\n";
  text += "\"B1\"," + Quoted("Computers: " + computers) + "\r\n";
  text += "\"H1\",\"Computer\",\"Directory\",\"Level\",\"Files Then\",\"Files Now\",\"Files Change\",\"Size Then\","
          "\"Size Now\",\"Size Change\"\r\n";
  long long filesChange = 0, bytesChange = 0;
  for (const auto& [key, change] : changes) {
    const long long files = change.filesNow - change.filesThen;
    const long long bytes = change.bytesNow - change.bytesThen;
    text += "\"D1\"," + Quoted(key.first) + "," + Quoted(key.second) + "," + std::to_string(change.level) + "," +
            std::to_string(change.filesThen) + "," + std::to_string(change.filesNow) + "," + std::to_string(files) +
            "," + std::to_string(change.bytesThen) + "," + std::to_string(change.bytesNow) + "," +
            std::to_string(bytes) + "\r\n";
    if (change.level == lowest[key.first]) {
      filesChange += files;
      bytesChange += bytes;
    }
  }
  text += "\"TF\",\"Files Change\"," + std::to_string(filesChange) + ",\"Size Change\"," + std::to_string(bytesChange) +
          "\r\n";

  std::filesystem::path partial = path;
  partial += ".part";
  {
    std::ofstream out(partial, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.close();
    if (!out) {
      std::error_code ec;
      std::filesystem::remove(partial, ec);
      return {ERROR_WRITE_FAULT, "The growth report " + path.string() + " could not be written."};
    }
  }
  std::error_code ec;
  std::filesystem::rename(partial, path, ec);
  if (ec) {
    std::filesystem::remove(partial, ec);
    return {ERROR_WRITE_FAULT, "The growth report " + path.string() + " could not be written: " + ec.message()};
  }
  return {};
}

}  // namespace vn::console
