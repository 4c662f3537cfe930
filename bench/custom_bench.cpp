// A custom report through the running reporting server, as `vnadmin report`
// runs it: files of the shared medium tree selected by size, age and name
// pattern, sorted and broken per directory with subtotals, against the same
// selection by `find` piped to `sort`, and against the All Files report on
// the same tree through the same server:
//
//   bench custom-report: ours X s, find | sort Y s, ratio Z
//   bench custom-report-over-all-files: ours X s, All Files Y s, ratio Z
//   bench custom-report-server-overhead: ours X s, engine Y s, ratio Z
//
//   custom_bench [TREES_DIR]
//
// The definition is stored in SRV1's registry as the console stores it. The
// medium tree (generated once, shared with scan_bench and
// server_report_bench) is SRV1's drive E:. Warm cache: each command runs once
// before it is timed, then the best of three counts. Before timing, the set of
// files the report lists is checked to be the set find prints.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "hosts/vnadmin/ReportVerb.h"
#include "platform/core/LastError.h"
#include "platform/registry/Registry.h"
#include "platform/services/ServiceControl.h"
#include "reportdef/ReportDefinition.h"
#include "server/engine/ReportEngine.h"
#include "testing/MachineNetwork.h"
#include "testing/ReportServerService.h"

namespace {

namespace fs = std::filesystem;
namespace rd = vn::reportdef;

// The selection, in the query language and in find's words.
constexpr const char* kQuery = "Size > 10 KB AND RevisedDays > 900 AND FileName = \"*.log\"";
constexpr const char* kFind = "-type f -size +10k -mtime +900 -iname '*.log'";

std::string Quote(const fs::path& p) { return "'" + p.string() + "'"; }
bool Shell(const std::string& command) { return std::system(command.c_str()) == 0; }

double Best(const std::function<bool()>& work) {
  double best = -1;
  for (int run = 0; run < 4; ++run) {
    const auto start = std::chrono::steady_clock::now();
    if (!work()) return -1;
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (run > 0 && (best < 0 || s < best)) best = s;
  }
  return best;
}

fs::path MediumTree(const fs::path& dir) {
  const fs::path tree = dir / "medium";
  const fs::path done = dir / "medium.complete";
  if (!fs::exists(done)) {
    if (fs::exists(tree)) Shell("chmod -R u+rwx " + Quote(tree) + " && rm -rf " + Quote(tree));
    std::printf("generating the medium tree in %s...\n", tree.c_str());
    std::fflush(stdout);
    if (!Shell(std::string("python3 ") + VN_SHARED_BENCH "/gen_trees.py medium " + Quote(tree))) return {};
    std::ofstream(done) << "made by gen_trees.py\n";
  }
  return tree;
}

void Print(const char* name, double ours, const char* peer, double theirs) {
  std::printf("bench %s: ours %.3f s, %s %.3f s, ratio %.2f\n", name, ours, peer, theirs, ours / theirs);
}

// Splits a result line into its fields (texts without their quotes).
std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> fields;
  std::size_t i = 0;
  while (i <= line.size()) {
    if (i < line.size() && line[i] == '"') {
      const std::size_t end = line.find('"', i + 1);
      fields.push_back(line.substr(i + 1, end - i - 1));
      i = end + 2;
    } else {
      std::size_t end = line.find(',', i);
      if (end == std::string::npos) end = line.size();
      fields.push_back(line.substr(i, end - i));
      i = end + 1;
    }
  }
  return fields;
}

// The listed files, as paths below the tree ("a/b/c.log"), and the number
// of break rows.
std::set<std::string> Listed(const fs::path& result, std::size_t* breaks) {
  std::set<std::string> paths;
  std::ifstream in(result, std::ios::binary);
  *breaks = 0;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.starts_with("\"DS\"")) ++*breaks;
    if (!line.starts_with("\"D1\"")) continue;
    const auto f = Fields(line);
    if (f.size() < 3) continue;
    std::string dir = f[2];
    const std::size_t at = dir.find("medium");
    dir = at == std::string::npos ? std::string() : dir.substr(at + 6);
    std::replace(dir.begin(), dir.end(), '\\', '/');
    if (dir.starts_with('/')) dir.erase(0, 1);
    paths.insert(dir.empty() ? f[1] : dir + "/" + f[1]);
  }
  return paths;
}

rd::ReportDefinition Definition() {
  rd::ReportDefinition d;
  (void)d.PutQuery(kQuery);
  (void)d.PutDetailField(0, rd::kSize);
  (void)d.PutDetailField(1, rd::kRevised);
  (void)d.PutSortField(0, rd::kDirectory, rd::kAscending);
  (void)d.PutSortField(1, rd::kFileName, rd::kAscending);
  (void)d.PutSummaryBreakField(0, rd::kDirectory);
  (void)d.PutTotalField(0, 0, rd::kSize, rd::kSum, -1);
  (void)d.PutTotalField(0, 1, rd::kFiles, rd::kSum, -1);
  (void)d.PutFinalTotalField(0, rd::kSize, rd::kSum);
  return d;
}

LONG StoreDefinition() {
  const rd::ReportDefinition d = Definition();
  HKEY root = nullptr, key = nullptr;
  LONG rc = RegConnectRegistryA("\\\\SRV1", HKEY_LOCAL_MACHINE, &root);
  if (rc) return rc;
  rc = RegCreateKeyExA(root, "Software\\Halvard\\Vornal\\4.0\\Custom Reports\\Old Logs", 0, nullptr,
                       REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr);
  for (const rd::NamedValue& v : d.Encode()) {
    if (rc) break;
    rc = RegSetValueExA(key, v.name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(v.text.c_str()),
                        static_cast<DWORD>(v.text.size() + 1));
  }
  if (key) RegCloseKey(key);
  RegCloseKey(root);
  return rc;
}

}  // namespace

int main(int argc, char** argv) {
  const fs::path trees = argc > 1 ? fs::path(argv[1]) : fs::path(VN_BENCH_TREES);
  fs::create_directories(trees);
  const fs::path medium = MediumTree(trees);
  if (medium.empty()) {
    std::fprintf(stderr, "custom_bench: the tree could not be generated\n");
    return 1;
  }

  vn::testing::MachineNetwork net("BENCH");
  const auto& srv1 = net.Add({"SRV1", "BENCH", vn::MachineRole::Server, {}});
  std::ofstream(srv1.home / "machine.ini", std::ios::app) << "E=" << trees.string() << ",fixed\n";
  if (!net.Start("SRV1") || !net.Start("CONSOLE")) return 1;
  SC_HANDLE service = vn::testing::InstallReportServer(srv1, VN_VNSRV);
  if (!service || !vn::testing::StartReportServer(service, "SRV1")) {
    std::fprintf(stderr, "custom_bench: the server did not start (%u)\n", GetLastError());
    return 1;
  }
  int failures = 0;
  if (const LONG rc = StoreDefinition()) {
    std::fprintf(stderr, "custom_bench: the definition could not be stored (%ld)\n", static_cast<long>(rc));
    ++failures;
  }

  const fs::path result = net.Console().driveD / "custom.csv";
  const fs::path all = net.Console().driveD / "all.csv";
  const auto report = [&](const std::string& name, const fs::path& out) {
    std::ostringstream text, err;
    std::error_code ignored;
    fs::remove(out, ignored);
    const int status = vn::admin::ReportVerb(
        {"SRV1", name, "E:\\medium", "--units", "bytes", "--quiet", "-o", out.string()}, text, err);
    if (status != 0) std::fprintf(stderr, "custom_bench: vnadmin report: %s\n", err.str().c_str());
    return status == 0;
  };
  const fs::path found = net.Console().driveD / "found.txt";
  const std::string findSort = "find " + Quote(medium) + " " + kFind + " -printf '%P\\n' | LC_ALL=C sort > " + Quote(found);

  // The answer first: the same files as find's.
  if (failures == 0 && report("\\\\SRV1\\Old Logs", result) && Shell(findSort)) {
    std::size_t breaks = 0;
    const std::set<std::string> ours = Listed(result, &breaks);
    std::set<std::string> theirs;
    std::ifstream in(found);
    for (std::string line; std::getline(in, line);) theirs.insert(line);
    if (ours != theirs || ours.empty()) {
      std::fprintf(stderr, "custom_bench: the report lists %zu files, find %zu\n", ours.size(), theirs.size());
      ++failures;
    } else {
      std::printf("custom_bench: %zu files in %zu directories, the same as find's\n", ours.size(), breaks);
    }
  } else {
    ++failures;
  }

  if (failures == 0) {
    const double ours = Best([&] { return report("\\\\SRV1\\Old Logs", result); });
    const double find = Best([&] { return Shell(findSort); });
    const double allFiles = Best([&] { return report("All Files", all); });
    // The engine alone in this process, for what the server adds.
    vn::KSServerCommunicationReportRec record;
    record.Report = vn::kReportCustom;
    record.Options = vn::kOptionSizesInBytes;
    std::snprintf(record.CustomReport, sizeof record.CustomReport, "\\\\SRV1\\Old Logs");
    vn::server::EngineOptions options;
    options.customDefinition = std::make_shared<rd::ReportDefinition>(Definition());
    const fs::path local = net.Console().driveD / "engine.csv";
    const double engine = Best([&] {
      std::error_code ignored;
      fs::remove(local, ignored);
      vn::server::NullProgress progress;
      const vn::server::ScanObject object{"E:\\medium", medium, "\\\\SRV1\\E$\\medium", "SRV1", "\\\\SRV1\\E$", ""};
      return vn::server::RunReport(record, {object}, local, options, progress).error == 0;
    });
    if (ours < 0 || find < 0 || allFiles < 0 || engine < 0) {
      std::fprintf(stderr, "custom_bench: a timed run failed\n");
      ++failures;
    } else {
      Print("custom-report", ours, "find | sort", find);
      Print("custom-report-over-all-files", ours, "All Files", allFiles);
      Print("custom-report-server-overhead", ours, "engine", engine);
    }
  }

  if (!vn::testing::StopReportServer(service)) {
    std::fprintf(stderr, "custom_bench: the server did not stop\n");
    ++failures;
  }
  CloseServiceHandle(service);
  return failures == 0 ? 0 : 1;
}
