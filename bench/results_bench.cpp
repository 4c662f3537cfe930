// The result data manager on a 10-million-row result (bench/ResultInput.h:
// the shared generator's report-shaped CSV behind a small header, made once
// under the build directory):
//   Open + ReadHeader + ReadAll              vs  wc -l
//   SortByColumn on the size (numeric)       vs  LC_ALL=C sort -t, -k4,4n -S 4G
//   SortByColumn on the file name (text)     vs  LC_ALL=C sort -t, -k2,2 -S 4G
// Our side runs in a child process per run, so its peak memory is its own;
// the time is the call's own (the sort's after the file was read). The
// peers' times are whole runs of the commands. Warm cache: each side runs
// once before it is timed, then the best of three counts. The first sorted
// run also checks the order it made, row by row.
//
// usage: results_bench [DATA_DIR [open|numeric|text]]

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <string_view>

#include "bench/ProcStatus.h"
#include "bench/ResultInput.h"
#include "console/core/results/FXDataManager.h"

namespace fs = std::filesystem;
using vn::console::CFXDataManager;

namespace {

constexpr std::uint32_t kRows = vn::bench::kLargeResultRows;

struct Measure {
  double seconds = 0;
  long peakKb = 0;
  long fileKb = 0;  // of the peak: pages of the mapped file
  bool ok = false;
};

// What a child sends back through its pipe.
struct ChildReport {
  double seconds;
  long fileKb;
};

using vn::bench::StatusKb;

// Runs `work(run, fileKb)` in a child: it returns the seconds of what it
// timed, or a negative number on failure, and sets the resident pages of the
// mapped file while it is still mapped. Best of three after one warm-up run.
Measure Ours(const std::function<double(int run, long& fileKb)>& work) {
  Measure best;
  for (int run = 0; run < 4; ++run) {
    int fds[2];
    if (::pipe(fds) != 0) return {};
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::close(fds[0]);
      ChildReport report{0, 0};
      report.seconds = work(run, report.fileKb);
      const bool sent = ::write(fds[1], &report, sizeof report) == static_cast<ssize_t>(sizeof report);
      ::_exit(sent && report.seconds >= 0 ? 0 : 1);
    }
    ::close(fds[1]);
    ChildReport report{-1, 0};
    const bool got = ::read(fds[0], &report, sizeof report) == static_cast<ssize_t>(sizeof report);
    ::close(fds[0]);
    int status = 0;
    struct rusage usage {};
    ::wait4(pid, &status, 0, &usage);
    if (!got || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return {};
    if (run == 0) continue;
    if (!best.ok || report.seconds < best.seconds) best = {report.seconds, usage.ru_maxrss, report.fileKb, true};
  }
  return best;
}

// A shell command, timed as a whole: best of three after one warm-up run.
Measure Peer(const std::string& command) {
  Measure best;
  for (int run = 0; run < 4; ++run) {
    std::fflush(nullptr);
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    int status = 0;
    struct rusage usage {};
    ::wait4(pid, &status, 0, &usage);
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return {};
    if (run == 0) continue;
    if (!best.ok || s < best.seconds) best = {s, usage.ru_maxrss, 0, true};
  }
  return best;
}

double Since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

bool Load(CFXDataManager& m) {
  if (!m.Open()) return false;
  m.ReadHeader();
  return m.ReadAll() && m.GetRecordCount() == kRows;
}

// The rows' keys in `column` never go down.
bool CheckOrder(CFXDataManager& m, std::uint32_t column, bool numeric) {
  std::string previous;
  std::int64_t previousNumber = 0;
  for (std::uint32_t row = 1; row <= m.GetRecordCount(); ++row) {
    m.SplitFields(m.Line(row), static_cast<int>(column));
    std::string key(m.Field(static_cast<int>(column) - 1));
    if (numeric) {
      const std::int64_t number = key.empty() ? 0 : std::stoll(key);
      if (row > 1 && number < previousNumber) return false;
      previousNumber = number;
    } else {
      for (char& c : key)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
      if (row > 1 && key < previous) return false;
      previous = std::move(key);
    }
  }
  return true;
}

void Print(const char* name, const char* peer, const Measure& ours, const Measure& theirs) {
  if (!ours.ok || !theirs.ok) {
    std::printf("bench %s: failed (ours %s, %s %s)\n", name, ours.ok ? "ok" : "failed", peer,
                theirs.ok ? "ok" : "failed");
    return;
  }
  std::printf("bench %s: ours %.3f s, %s %.3f s, ratio %.2f\n", name, ours.seconds, peer, theirs.seconds,
              ours.seconds / theirs.seconds);
  std::printf("      %s: peak memory ours %ld MB (%ld MB of it the mapped file, %ld MB the rest), %s %ld MB\n", name,
              ours.peakKb / 1024, ours.fileKb / 1024, (ours.peakKb - ours.fileKb) / 1024, peer, theirs.peakKb / 1024);
}

}  // namespace

int main(int argc, char** argv) {
  const fs::path dir = argc > 1 && argv[1][0] != '\0' ? fs::path(argv[1]) : fs::path(VN_BENCH_DATA);
  const std::string only = argc > 2 ? argv[2] : "";
  const fs::path file = vn::bench::LargeResult(dir, VN_SHARED_BENCH "/gen_trees.py");
  if (file.empty()) {
    std::fprintf(stderr, "results_bench: the input could not be made in %s\n", dir.c_str());
    return 1;
  }
  const std::string quoted = "'" + file.string() + "'";

  if (only.empty() || only == "open") {
    const Measure open = Ours([&](int, long& fileKb) {
      CFXDataManager m(file.string());
      const auto start = std::chrono::steady_clock::now();
      if (!Load(m)) return -1.0;
      const double seconds = Since(start);
      fileKb = StatusKb("RssFile:");
      return seconds;
    });
    Print("results-open-10M", "wc -l", open, Peer("wc -l " + quoted + " >/dev/null"));
  }

  auto sortBy = [&](std::uint32_t column, bool numeric) {
    return Ours([&, column, numeric](int run, long& fileKb) {
      CFXDataManager m(file.string());
      if (!Load(m)) return -1.0;
      const auto start = std::chrono::steady_clock::now();
      if (!m.SortByColumn(column)) return -1.0;
      const double seconds = Since(start);
      fileKb = StatusKb("RssFile:");
      if (run == 0 && !CheckOrder(m, column, numeric)) {
        std::fprintf(stderr, "results_bench: column %u is not in order after the sort\n", column);
        return -1.0;
      }
      return seconds;
    });
  };
  if (only.empty() || only == "numeric")
    Print("results-sort-numeric-10M", "sort", sortBy(4, true),
          Peer("LC_ALL=C sort -t, -k4,4n -S 4G " + quoted + " >/dev/null"));
  if (only.empty() || only == "text")
    Print("results-sort-text-10M", "sort", sortBy(2, false),
          Peer("LC_ALL=C sort -t, -k2,2 -S 4G " + quoted + " >/dev/null"));
  return 0;
}
