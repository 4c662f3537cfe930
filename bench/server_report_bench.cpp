// A report through the running reporting server, as `vnadmin report` runs it
// (KSCli to SRV1's VNSrv through SRV1's machine service, progress to this
// machine's pipe, the result fetched and written here), against `du -s` and
// against the engine run in this process on the same tree:
//
//   bench server-space-by-directory: ours X s, du -s Y s, ratio Z
//   bench server-space-by-directory-overhead: ours X s, engine Y s, ratio Z
//
//   server_report_bench [TREES_DIR]
//
// The medium tree of the shared benchmark inputs is generated once under
// TREES_DIR (by default the build directory's bench-trees, which scan_bench
// uses too) and shown to SRV1 as its drive E:. Warm cache: each command runs
// once before it is timed, then the best of three runs counts. The result
// fetched through the server is checked against the tree's known total first.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "hosts/vnadmin/ReportVerb.h"
#include "platform/core/LastError.h"
#include "platform/ipc/Pipes.h"
#include "platform/services/ServiceControl.h"
#include "server/engine/ReportEngine.h"
#include "testing/MachineNetwork.h"
#include "testing/ReportServerService.h"
#include "testing/Wait.h"

namespace {

namespace fs = std::filesystem;

// The apparent size of the generated medium tree (gen_trees.py).
constexpr const char* kMediumApparent = "3697205375";

std::string Quote(const fs::path& p) { return "'" + p.string() + "'"; }

bool Shell(const std::string& command) { return std::system(command.c_str()) == 0; }

// Best of three timed runs after one warm-up; a negative time when a run failed.
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

// The medium tree under `dir`, generated when it is not there yet (the mark
// of a finished tree lies beside it, as scan_bench leaves it).
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

}  // namespace

int main(int argc, char** argv) {
  const fs::path trees = argc > 1 ? fs::path(argv[1]) : fs::path(VN_BENCH_TREES);
  fs::create_directories(trees);
  const fs::path medium = MediumTree(trees);
  if (medium.empty()) {
    std::fprintf(stderr, "server_report_bench: the tree could not be generated\n");
    return 1;
  }

  vn::testing::MachineNetwork net("BENCH");
  const auto& srv1 = net.Add({"SRV1", "BENCH", vn::MachineRole::Server, {}});
  // The trees are SRV1's drive E: (the configuration ends with its drives).
  std::ofstream(srv1.home / "machine.ini", std::ios::app) << "E=" << trees.string() << ",fixed\n";
  // The console's service carries the progress pipe to the server.
  if (!net.Start("SRV1") || !net.Start("CONSOLE")) return 1;
  SC_HANDLE service = vn::testing::InstallReportServer(srv1, VN_VNSRV);
  if (!service || !vn::testing::StartReportServer(service, "SRV1")) {
    std::fprintf(stderr, "server_report_bench: the server did not start (%u)\n", GetLastError());
    return 1;
  }

  const fs::path result = net.Console().driveD / "space.csv";
  const auto throughServer = [&] {
    std::ostringstream out, err;
    std::error_code ignored;
    fs::remove(result, ignored);
    const int status = vn::admin::ReportVerb(
        {"SRV1", "Space By Directory", "E:\\medium", "--units", "bytes", "--quiet", "-o", result.string()}, out, err);
    if (status != 0) std::fprintf(stderr, "server_report_bench: vnadmin report: %s\n", err.str().c_str());
    return status == 0;
  };
  int failures = 0;
  // The answer first: the totals line carries the tree's apparent size.
  std::string totals;
  if (throughServer()) {
    std::ifstream in(result, std::ios::binary);
    for (std::string line; std::getline(in, line);)
      if (line.starts_with("\"TF\"")) totals = line;
  }
  if (totals.find(kMediumApparent) == std::string::npos) {
    std::fprintf(stderr, "server_report_bench: the result's totals (%s) miss the size %s\n", totals.c_str(),
                 kMediumApparent);
    ++failures;
  } else {
    const double ours = Best(throughServer);
    const double du = Best([&] { return Shell("du -s " + Quote(medium) + " >/dev/null 2>&1"); });
    vn::KSServerCommunicationReportRec record;
    record.Report = vn::kReportSpaceByDirectory;
    record.Options = vn::kOptionSizesInBytes;
    const fs::path local = net.Console().driveD / "engine.csv";
    const double engine = Best([&] {
      std::error_code ignored;
      fs::remove(local, ignored);
      vn::server::NullProgress progress;
      const vn::server::ScanObject object{"E:\\medium", medium, "\\\\SRV1\\E$\\medium", "SRV1", "\\\\SRV1\\E$", ""};
      const auto run = vn::server::RunReport(record, {object}, local, {}, progress);
      return run.error == 0;
    });
    if (ours < 0 || du < 0 || engine < 0) {
      std::fprintf(stderr, "server_report_bench: a timed run failed\n");
      ++failures;
    } else {
      Print("server-space-by-directory", ours, "du -s", du);
      Print("server-space-by-directory-overhead", ours, "engine", engine);
    }
  }

  if (!vn::testing::StopReportServer(service)) {
    std::fprintf(stderr, "server_report_bench: the server did not stop\n");
    ++failures;
  }
  CloseServiceHandle(service);
  return failures == 0 ? 0 : 1;
}
