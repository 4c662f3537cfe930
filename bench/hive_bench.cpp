// The machine's registry hive under load, in a temporary directory:
//
//   bench hive-enum-20000-subkeys: ours X s, one-scan Y s, ratio Z
//       every subkey of a key by index (EnumKey 0, 1, ...) against one SQLite
//       query listing them all
//   bench hive-enum-20000-subkeys: ours X s, offset-per-index Y s, ratio Z
//       the same against counting from the first subkey for every index, as
//       the hive did before it kept cursors
//   bench hive-writes-beside-tight-loop-N: ours X s, alone Y s, ratio Z
//       N writes of this process while another process writes in a tight
//       loop, against the same writes with the hive to itself
//   bench hive-two-writers-N-each: ours X s, alone Y s, ratio Z
//       two processes writing N each at once (the slower one's time)
//
// plus the writes per second of each writer. Nothing outside the temporary
// directory is touched.
//
//   hive_bench [--subkeys N] [--writes N]
//   hive_bench --write FILE PREFIX COUNT     (a writer process; COUNT 0: until killed)
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include <sqlite3.h>

#include "platform/core/Process.h"
#include "platform/core/UniqueFd.h"
#include "platform/hive/LocalHive.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double Since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "hive_bench: %s\n", what.c_str());
  std::exit(1);
}

void Report(const std::string& name, double ours, const char* peer, double theirs) {
  std::printf("bench %s: ours %.3f s, %s %.3f s, ratio %.2f\n", name.c_str(), ours, peer, theirs, ours / theirs);
  std::fflush(stdout);
}

std::shared_ptr<vn::LocalHive> OpenHive(const fs::path& file) {
  std::shared_ptr<vn::LocalHive> hive;
  if (vn::LocalHive::Open(file, &hive) != 0) Fail("cannot open " + file.string());
  return hive;
}

// COUNT writes (0: until killed) of one value each into PREFIX; prints
// "ready" after the first and the seconds all of them took at the end.
int WriterMain(const fs::path& file, const std::string& prefix, long count) {
  auto hive = OpenHive(file);
  vn::KeyId key = 0;
  if (hive->CreateKey(vn::kRootKey, prefix, &key, nullptr) != 0) Fail("cannot create " + prefix);
  const BYTE data[16] = {};
  const auto start = Clock::now();
  for (long i = 0; count == 0 || i < count; ++i) {
    if (hive->SetValue(key, "V" + std::to_string(i), REG_BINARY, data, sizeof data) != 0) Fail("a write failed");
    if (i == 0) {
      std::printf("ready\n");
      std::fflush(stdout);
    }
  }
  std::printf("%.6f\n", Since(start));
  return 0;
}

// A writer process, its output on a pipe.
struct WriterProcess {
  pid_t pid = 0;
  FILE* out = nullptr;
  WriterProcess(const fs::path& file, const std::string& prefix, long count) {
    vn::PipeEnds pipe = vn::MakePipe();
    vn::ProcessOptions options;
    options.program = fs::read_symlink("/proc/self/exe").string();
    options.arguments = {"--write", file.string(), prefix, std::to_string(count)};
    options.output = vn::ChildStream::Descriptor(pipe.write.Get());
    options.parentDeathSignal = SIGKILL;
    std::string detail;
    if (vn::StartProcess(options, &pid, &detail) != 0) Fail(detail);
    out = ::fdopen(pipe.read.Release(), "r");
  }
  ~WriterProcess() {
    std::fclose(out);
    vn::SignalProcess(pid, SIGKILL);
    vn::WaitProcess(pid);
  }
  std::string Line() {
    char line[64] = {};
    return std::fgets(line, sizeof line, out) ? std::string(line) : std::string();
  }
};

double WriteHere(vn::LocalHive& hive, const std::string& prefix, long count) {
  vn::KeyId key = 0;
  if (hive.CreateKey(vn::kRootKey, prefix, &key, nullptr) != 0) Fail("cannot create " + prefix);
  const BYTE data[16] = {};
  const auto start = Clock::now();
  for (long i = 0; i < count; ++i)
    if (hive.SetValue(key, "V" + std::to_string(i), REG_BINARY, data, sizeof data) != 0) Fail("a write failed");
  return Since(start);
}

void BenchEnumeration(const fs::path& file, long subkeys) {
  auto hive = OpenHive(file);
  vn::KeyId big = 0;
  if (hive->CreateKey(vn::kRootKey, "Big", &big, nullptr) != 0) Fail("cannot create Big");
  for (long i = 0; i < subkeys; ++i) {
    vn::KeyId key = 0;
    char name[32];
    std::snprintf(name, sizeof name, "Key%08ld", (i * 7919) % subkeys);
    if (hive->CreateKey(big, name, &key, nullptr) != 0) Fail("cannot create a subkey");
  }

  auto start = Clock::now();
  std::string name;
  DWORD index = 0;
  while (hive->EnumKey(big, index, &name, nullptr) == 0) ++index;
  const double ours = Since(start);
  if (index != static_cast<DWORD>(subkeys)) Fail("the enumeration found " + std::to_string(index) + " subkeys");

  sqlite3* db = nullptr;
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) Fail("cannot open the hive");
  auto scan = [db, big](const char* sql, long offset) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) != SQLITE_OK) Fail(sqlite3_errmsg(db));
    sqlite3_bind_int64(stmt, 1, big);
    if (offset >= 0) sqlite3_bind_int64(stmt, 2, offset);
    long rows = 0;
    while (sqlite3_step(stmt) == SQLITE_ROW) ++rows;
    sqlite3_finalize(stmt);
    return rows;
  };
  start = Clock::now();
  if (scan("SELECT name, written FROM keys WHERE parent = ?1 ORDER BY fold", -1) != subkeys) Fail("scan");
  const double oneScan = Since(start);
  start = Clock::now();
  for (long i = 0; i < subkeys; ++i)
    scan("SELECT name, written FROM keys WHERE parent = ?1 ORDER BY fold LIMIT 1 OFFSET ?2", i);
  const double offsets = Since(start);
  sqlite3_close(db);

  const std::string label = "hive-enum-" + std::to_string(subkeys) + "-subkeys";
  Report(label, ours, "one-scan", oneScan);
  Report(label, ours, "offset-per-index", offsets);
}

void BenchWriters(const fs::path& file, long writes) {
  auto hive = OpenHive(file);
  const double alone = WriteHere(*hive, "Alone", writes);
  double beside = 0;
  {
    WriterProcess hog(file, "Hog", 0);
    if (hog.Line() != "ready\n") Fail("the writer process did not start");
    beside = WriteHere(*hive, "Beside", writes);
  }
  double first = 0, second = 0;
  {
    WriterProcess a(file, "First", writes), b(file, "Second", writes);
    if (a.Line() != "ready\n" || b.Line() != "ready\n") Fail("the writer processes did not start");
    first = std::strtod(a.Line().c_str(), nullptr);
    second = std::strtod(b.Line().c_str(), nullptr);
    if (first <= 0 || second <= 0) Fail("a writer process failed");
  }
  const std::string n = std::to_string(writes);
  Report("hive-writes-beside-tight-loop-" + n, beside, "alone", alone);
  Report("hive-two-writers-" + n + "-each", std::max(first, second), "alone", alone);
  std::printf("hive writers: alone %.0f/s; beside a tight loop %.0f/s; two at once %.0f/s and %.0f/s\n",
              writes / alone, writes / beside, writes / first, writes / second);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::strcmp(argv[1], "--write") == 0) return WriterMain(argv[2], argv[3], std::atol(argv[4]));
  long subkeys = 20'000, writes = 3'000;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--subkeys") == 0) subkeys = std::atol(argv[i + 1]);
    else if (std::strcmp(argv[i], "--writes") == 0) writes = std::atol(argv[i + 1]);
    else Fail("usage: hive_bench [--subkeys N] [--writes N]");
  }
  ::signal(SIGPIPE, SIG_IGN);
  char pattern[] = "/tmp/vn-hive-bench-XXXXXX";
  if (!::mkdtemp(pattern)) Fail("cannot make a temporary directory");
  const fs::path dir = pattern;
  BenchEnumeration(dir / "enum.db", subkeys);
  BenchWriters(dir / "writers.db", writes);
  std::error_code ec;
  fs::remove_all(dir, ec);
  return 0;
}
