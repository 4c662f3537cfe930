// Scan benchmarks of the report engine against the usual tools, on the
// shared generated trees (built once under the build directory):
//   Space By Directory over the medium tree   vs  du -s, walk -t 2 (the system-call floor)
//   All Files over the medium tree            vs  ncdu -0 -o FILE
//   Duplicate Files over the dupes tree       vs  jdupes -r -q
// Every answer is checked before it is timed: totals and group counts equal
// to the generator's known ones, duplicate groups equal to jdupes' groups.
// The checks read result files, so they work the same on a result fetched
// through the server. Warm cache: each command runs once before it is timed,
// then the best of three runs counts. Peak memory is the maximum resident
// size of the process that did the work.
//
// usage: scan_bench [TREES_DIR [space|all|dupes]]

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "server/engine/ReportEngine.h"

namespace fs = std::filesystem;
using vn::KSServerCommunicationReportRec;

namespace {

// Known answers of the generated trees.
constexpr std::int64_t kMediumApparent = 3'697'205'375;
constexpr std::int64_t kMediumAllocated = 3'486'429'184;
constexpr std::int64_t kMediumFileNames = 202'000;  // 200,000 files and 2,000 more hard-link names
constexpr std::size_t kDupeGroups = 4'281;
constexpr std::size_t kDupeFiles = 15'000;
constexpr const char* kShownRoot = "C:\\Bench";

struct Measure {
  double seconds = 0;
  long peakKb = 0;
  bool ok = false;
};

// Runs `work` in a child process (so its peak memory is its own): best time
// of three after one warm-up run.
Measure Timed(const std::function<bool()>& work) {
  Measure best;
  for (int run = 0; run < 4; ++run) {
    auto start = std::chrono::steady_clock::now();
    pid_t pid = ::fork();
    if (pid == 0) ::_exit(work() ? 0 : 1);
    int status = 0;
    struct rusage usage {};
    ::wait4(pid, &status, 0, &usage);
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const bool ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (!ok) return {};
    if (run == 0) continue;
    if (!best.ok || s < best.seconds) best = {s, usage.ru_maxrss, true};
  }
  return best;
}

bool Shell(const std::string& command) { return std::system(command.c_str()) == 0; }

// Work whose memory must not stay in this process (it would count in the
// peak memory of every process forked after it) runs in a child.
bool InChild(const std::function<bool()>& work) {
  std::fflush(nullptr);
  pid_t pid = ::fork();
  if (pid == 0) ::_exit(work() ? 0 : 1);
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string Quote(const fs::path& p) { return "'" + p.string() + "'"; }

// ---- result files, read as the console reads them

struct Result {
  std::vector<std::string> columns;
  std::vector<std::vector<std::string>> rows;
  std::vector<std::string> totals;
  std::int64_t Total(const std::string& label) const {
    for (std::size_t i = 0; i + 1 < totals.size(); ++i)
      if (totals[i] == label) return std::stoll(totals[i + 1]);
    return -1;
  }
  int Column(const std::string& t) const {
    for (std::size_t i = 0; i < columns.size(); ++i)
      if (columns[i] == t) return static_cast<int>(i) + 1;
    return -1;
  }
};

std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> f;
  std::size_t i = 0;
  while (i <= line.size()) {
    if (i < line.size() && line[i] == '"') {
      std::size_t close = line.find('"', i + 1);
      if (close == std::string::npos) break;
      f.push_back(line.substr(i + 1, close - i - 1));
      i = close + 2;
    } else {
      std::size_t comma = line.find(',', i);
      f.push_back(line.substr(i, comma == std::string::npos ? std::string::npos : comma - i));
      if (comma == std::string::npos) break;
      i = comma + 1;
    }
  }
  return f;
}

Result ReadResult(const fs::path& file) {
  Result r;
  std::ifstream in(file, std::ios::binary);
  std::string line;
  bool header = true;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::vector<std::string> f = Fields(line);
    if (f.empty()) continue;
    if (header && (f[0] == "A1" || f[0] == "B1")) continue;
    if (header) {
      header = false;
      r.columns.assign(f.begin() + 1, f.end());
    } else if (f[0] == "TF") {
      r.totals.assign(f.begin() + 1, f.end());
    } else {
      r.rows.push_back(std::move(f));
    }
  }
  return r;
}

// ---- the engine, run directly (the server host runs the same call)

bool RunEngine(KSServerCommunicationReportRec rec, const fs::path& root, const fs::path& file) {
  std::error_code ec;
  fs::remove(file, ec);
  vn::server::ScanObject object{kShownRoot, root, kShownRoot, "BENCH", "C:", ""};
  vn::server::EngineOptions options;
  options.threads = 2;
  vn::server::NullProgress progress;
  vn::server::ReportResult r = vn::server::RunReport(rec, {object}, file, options, progress);
  if (r.error) std::fprintf(stderr, "engine: %u %s\n", r.error, r.message.c_str());
  return r.error == 0;
}

KSServerCommunicationReportRec Record(DWORD code) {
  KSServerCommunicationReportRec rec;
  rec.Report = code;
  rec.Options = vn::kOptionSizesInBytes;
  return rec;
}

// ---- checks

// Allocated space depends on the file system the tree was made on (block
// sizes, directory growth), so it is checked against du on this one; the
// apparent size is the generator's.
std::int64_t DuAllocated(const fs::path& root) {
  std::string cmd = "du -s -B1 " + Quote(root) + " 2>/dev/null";
  long long v = -1;
  if (FILE* p = ::popen(cmd.c_str(), "r")) {
    if (std::fscanf(p, "%lld", &v) != 1) v = -1;
    ::pclose(p);
  }
  return v;
}

bool CheckSpaceByDirectory(const fs::path& file, const fs::path& root) {
  Result r = ReadResult(file);
  const std::int64_t du = DuAllocated(root);
  const bool ok = r.Total("Size") == kMediumApparent && r.Total("Allocated") == du;
  std::fprintf(stderr, "Space By Directory: size %lld allocated %lld; expected %lld and %lld (du -B1; %lld where the tree was first made)\n",
               static_cast<long long>(r.Total("Size")), static_cast<long long>(r.Total("Allocated")),
               static_cast<long long>(kMediumApparent), static_cast<long long>(du),
               static_cast<long long>(kMediumAllocated));
  return ok;
}

bool CheckAllFiles(const fs::path& file) {
  Result r = ReadResult(file);
  const bool ok = static_cast<std::int64_t>(r.rows.size()) == kMediumFileNames && r.Total("Files") == kMediumFileNames;
  std::fprintf(stderr, "All Files: %zu rows, expected %lld\n", r.rows.size(), static_cast<long long>(kMediumFileNames));
  return ok;
}

using Groups = std::set<std::set<std::string>>;

Groups DuplicateGroups(const fs::path& file, const fs::path& root) {
  Result r = ReadResult(file);
  const int dir = r.Column("Directory"), name = r.Column("FileName");
  Groups groups;
  std::set<std::string> current;
  for (const auto& row : r.rows) {
    if (row[0] == "DS") {
      if (!current.empty()) groups.insert(current);
      current.clear();
      continue;
    }
    std::string path = row[static_cast<std::size_t>(dir)] + "\\" + row[static_cast<std::size_t>(name)];
    path = root.string() + path.substr(std::string(kShownRoot).size());
    std::replace(path.begin() + static_cast<std::ptrdiff_t>(root.string().size()), path.end(), '\\', '/');
    current.insert(path);
  }
  if (!current.empty()) groups.insert(current);
  return groups;
}

Groups JdupesGroups(const fs::path& listing) {
  Groups groups;
  std::ifstream in(listing);
  std::string line;
  std::set<std::string> current;
  while (std::getline(in, line)) {
    if (line.empty()) {
      if (!current.empty()) groups.insert(current);
      current.clear();
    } else {
      current.insert(line);
    }
  }
  if (!current.empty()) groups.insert(current);
  return groups;
}

void Print(const char* name, const Measure& ours, const char* peer, const Measure& theirs, std::uint64_t files) {
  std::printf("bench %s: ours %.3f s, %s %.3f s, ratio %.2f\n", name, ours.seconds, peer, theirs.seconds,
              ours.seconds / theirs.seconds);
  std::printf("      %s: %.0f files/s ours, %.0f files/s %s; peak memory ours %ld KB, %s %ld KB\n", name,
              files / ours.seconds, files / theirs.seconds, peer, ours.peakKb, peer, theirs.peakKb);
  std::fflush(stdout);
}

fs::path Tree(const fs::path& dir, const char* kind) {
  const fs::path tree = dir / kind;
  // The mark of a finished tree lies beside it: inside, it would be counted.
  const fs::path done = dir / (std::string(kind) + ".complete");
  if (!fs::exists(done)) {
    std::error_code ec;
    // A half-made tree (interrupted generator) is made again; its chmod 000
    // directories are opened first so it can be removed.
    if (fs::exists(tree)) Shell("chmod -R u+rwx " + Quote(tree) + " && rm -rf " + Quote(tree));
    std::printf("generating the %s tree in %s...\n", kind, tree.c_str());
    std::fflush(stdout);
    if (!Shell(std::string("python3 ") + VN_SHARED_BENCH "/gen_trees.py " + kind + " " + Quote(tree))) return {};
    std::ofstream(done) << "made by gen_trees.py\n";
  }
  return tree;
}

}  // namespace

int main(int argc, char** argv) {
  const fs::path trees = argc > 1 ? fs::path(argv[1]) : fs::path(VN_BENCH_TREES);
  fs::create_directories(trees);
  const fs::path medium = Tree(trees, "medium"), dupes = Tree(trees, "dupes");
  if (medium.empty() || dupes.empty()) {
    std::fprintf(stderr, "scan_bench: the trees could not be generated\n");
    return 1;
  }
  const fs::path work = trees / "out";
  fs::create_directories(work);
  int failures = 0;
  const std::string only = argc > 2 ? argv[2] : "";

  // Space By Directory: the whole tree's totals.
  if (only.empty() || only == "space") {
    const fs::path file = work / "space.csv";
    if (!InChild([&] {
          return RunEngine(Record(vn::kReportSpaceByDirectory), medium, file) && CheckSpaceByDirectory(file, medium);
        })) {
      ++failures;
    } else {
      Measure ours = Timed([&] { return RunEngine(Record(vn::kReportSpaceByDirectory), medium, file); });
      Measure du = Timed([&] { return Shell("du -s " + Quote(medium) + " >/dev/null 2>&1"); });
      Measure walk = Timed([&] { return Shell(std::string(VN_WALK) + " -t 2 " + Quote(medium) + " >/dev/null 2>&1"); });
      Print("space-by-directory", ours, "du -s", du, kMediumFileNames);
      Print("space-by-directory-floor", ours, "walk -t 2", walk, kMediumFileNames);
    }
  }
  // All Files: every file listed.
  if (only.empty() || only == "all") {
    const fs::path file = work / "all.csv", exported = work / "ncdu.json";
    if (!InChild([&] { return RunEngine(Record(vn::kReportAllFiles), medium, file) && CheckAllFiles(file); })) {
      ++failures;
    } else {
      Measure ours = Timed([&] { return RunEngine(Record(vn::kReportAllFiles), medium, file); });
      Measure ncdu = Timed([&] { return Shell("ncdu -0 -o " + Quote(exported) + " " + Quote(medium) + " >/dev/null 2>&1"); });
      Print("all-files", ours, "ncdu -0 -o", ncdu, kMediumFileNames);
    }
  }
  // Duplicate Files: names not compared, contents compared byte by byte.
  if (only.empty() || only == "dupes") {
    KSServerCommunicationReportRec rec = Record(vn::kReportDuplicateFiles);
    rec.Criteria[0].Compare = 1;
    std::snprintf(rec.Criteria[1].Value1, sizeof rec.Criteria[1].Value1, "0");
    std::snprintf(rec.Criteria[2].Value1, sizeof rec.Criteria[2].Value1, "0");
    const fs::path file = work / "dupes.csv", listing = work / "jdupes.txt";
    const bool same = InChild([&] {
      if (!RunEngine(rec, dupes, file) || !Shell("jdupes -r -q " + Quote(dupes) + " >" + Quote(listing))) return false;
      Groups ours = DuplicateGroups(file, dupes), theirs = JdupesGroups(listing);
      std::size_t files = 0;
      for (const auto& g : ours) files += g.size();
      std::fprintf(stderr, "Duplicate Files: %zu groups of %zu files (expected %zu of %zu), %s jdupes' groups\n",
                   ours.size(), files, kDupeGroups, kDupeFiles, ours == theirs ? "equal to" : "not equal to");
      return ours.size() == kDupeGroups && files == kDupeFiles && ours == theirs;
    });
    if (!same) {
      ++failures;
    } else {
      Measure m = Timed([&] { return RunEngine(rec, dupes, file); });
      Measure j = Timed([&] { return Shell("jdupes -r -q " + Quote(dupes) + " >/dev/null"); });
      Print("duplicate-files", m, "jdupes -r -q", j, 50'000);
    }
  }
  return failures == 0 ? 0 : 1;
}
