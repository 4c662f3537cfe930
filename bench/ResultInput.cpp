#include "bench/ResultInput.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <system_error>

namespace fs = std::filesystem;

namespace vn::bench {

namespace {

constexpr char kHeader[] =
    "\"A1\",14,6\r\n"
    "\"B1\",\"All Files\"\r\n"
    "\"B1\",\"Computer: BENCH\"\r\n"
    "\"H1\",\"FileName\",\"Directory\",\"Size\",\"Allocated\",\"Revised\"\r\n";

}  // namespace

fs::path LargeResult(const fs::path& dir, const fs::path& generator) {
  const fs::path result = dir / "results-10M.csv";
  if (fs::exists(result)) return result;
  std::error_code ec;
  fs::create_directories(dir, ec);
  const fs::path rows = dir / "rows-10M.csv";
  if (!fs::exists(rows)) {
    const fs::path partial = dir / "rows-10M.csv.partial";
    fs::remove(partial, ec);
    std::printf("generating %s...\n", rows.c_str());
    std::fflush(stdout);
    const std::string command = "python3 '" + generator.string() + "' csv '" + partial.string() + "' >/dev/null";
    if (std::system(command.c_str()) != 0) return {};
    fs::rename(partial, rows, ec);
    if (ec) return {};
  }
  const fs::path partial = dir / "results-10M.csv.partial";
  {
    std::ofstream out(partial, std::ios::binary | std::ios::trunc);
    out << kHeader;
    std::ifstream in(rows, std::ios::binary);
    out << in.rdbuf();
    if (!out.flush()) return {};
  }
  fs::rename(partial, result, ec);
  if (ec) return {};
  fs::remove(rows, ec);  // only the result is used again
  return result;
}

bool ResultHead(const fs::path& source, const fs::path& dest, std::uint32_t rows) {
  if (fs::exists(dest)) return true;
  std::ifstream in(source, std::ios::binary);
  const fs::path partial = dest.string() + ".partial";
  std::ofstream out(partial, std::ios::binary | std::ios::trunc);
  std::string line;
  const std::uint64_t wanted = kResultHeaderLines + std::uint64_t{rows};
  std::uint64_t copied = 0;
  while (copied < wanted && std::getline(in, line)) {
    out << line << '\n';  // the line keeps its carriage return
    ++copied;
  }
  const bool written = copied == wanted && out.flush();
  out.close();
  std::error_code ec;
  if (written) fs::rename(partial, dest, ec);
  if (!written || ec) {
    fs::remove(partial, ec);
    return false;
  }
  return true;
}

}  // namespace vn::bench
