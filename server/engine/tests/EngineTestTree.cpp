#include "server/engine/tests/EngineTestTree.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <cstring>
#include <fstream>

#include <gtest/gtest.h>

namespace vn::server::testing {
namespace fs = std::filesystem;

TestTree::TestTree() {
  std::string pattern = (fs::temp_directory_path() / "vnengine-XXXXXX").string();
  m_base = ::mkdtemp(pattern.data());
  ::chmod(m_base.c_str(), 0755);
  m_root = m_base / "tree";
  m_results = m_base / "results";
  fs::create_directory(m_root);
  fs::create_directory(m_results);
  ::chmod(m_results.c_str(), 0777);
}

TestTree::~TestTree() {
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(m_base, fs::directory_options::skip_permission_denied, ec);
       it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (it->is_directory(ec) && !it->is_symlink(ec)) ::chmod(it->path().c_str(), 0755);
  }
  // Directories made unreadable are opened up before the walk reaches them.
  fs::remove_all(m_base, ec);
}

fs::path TestTree::Dir(const std::string& rel) {
  fs::create_directories(m_root / rel);
  return m_root / rel;
}

fs::path TestTree::File(const std::string& rel, std::size_t size, char fill) {
  return Content(rel, std::string(size, fill));
}

fs::path TestTree::Content(const std::string& rel, const std::string& bytes) {
  fs::path p = m_root / rel;
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return p;
}

void TestTree::Times(const std::string& rel, std::int64_t accessed, std::int64_t modified) {
  struct timespec t[2] = {{accessed, 0}, {modified, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, (m_root / rel).c_str(), t, AT_SYMLINK_NOFOLLOW), 0);
}

ScanObject TestTree::Object(const std::string& shownRoot, const std::string& named) const {
  ScanObject o;
  o.named = named;
  o.root = m_root;
  o.shownRoot = shownRoot;
  o.machine = "SRV1";
  o.drive = "C:";
  return o;
}

KSServerCommunicationReportRec Record(DWORD code) {
  KSServerCommunicationReportRec r;
  r.Report = code;
  return r;
}

void SetText(char* field, std::size_t size, std::string_view text) {
  std::memset(field, 0, size);
  std::memcpy(field, text.data(), std::min(text.size(), size - 1));
}

bool ParsedResult::HeadingHas(std::string_view text) const {
  for (const auto& line : heading)
    for (const std::string& t : line)
      if (t.find(text) != std::string::npos) return true;
  return false;
}

int ParsedResult::Column(std::string_view title) const {
  for (std::size_t i = 0; i < columns.size(); ++i)
    if (columns[i] == title) return static_cast<int>(i) + 1;
  return -1;
}

std::vector<std::string> ParsedResult::Values(std::string_view title, std::string_view kind) const {
  std::vector<std::string> out;
  const int c = Column(title);
  EXPECT_GE(c, 1) << "no column " << title;
  if (c < 1) return out;
  for (const auto& row : rows)
    if (row[0] == kind) out.push_back(static_cast<std::size_t>(c) < row.size() ? row[static_cast<std::size_t>(c)] : "");
  return out;
}

std::size_t ParsedResult::Count(std::string_view kind) const {
  std::size_t n = 0;
  for (const auto& row : rows) n += row[0] == kind;
  return n;
}

std::int64_t ParsedResult::Total(std::string_view label) const {
  for (std::size_t i = 0; i + 1 < totals.size(); ++i)
    if (totals[i] == label) return std::stoll(totals[i + 1]);
  ADD_FAILURE() << "no total " << label;
  return -1;
}

namespace {

std::vector<std::string> SplitLine(std::string_view line) {
  std::vector<std::string> fields;
  std::size_t i = 0;
  for (;;) {
    if (i < line.size() && line[i] == '"') {
      const std::size_t close = line.find('"', i + 1);
      if (close == std::string_view::npos) {
        ADD_FAILURE() << "unterminated text in " << line;
        return fields;
      }
      fields.emplace_back(line.substr(i + 1, close - i - 1));
      i = close + 1;
      if (i < line.size() && line[i] != ',') {
        ADD_FAILURE() << "text not followed by a comma in " << line;
        return fields;
      }
    } else {
      const std::size_t comma = line.find(',', i);
      std::string_view num = line.substr(i, comma == std::string_view::npos ? std::string_view::npos : comma - i);
      std::int64_t v = 0;
      auto [end, ec] = std::from_chars(num.data(), num.data() + num.size(), v);
      if (!num.empty() && (ec != std::errc{} || end != num.data() + num.size()))
        ADD_FAILURE() << "field " << num << " is neither a text nor a number in " << line;
      fields.emplace_back(num);
      i = comma == std::string_view::npos ? line.size() : comma;
    }
    if (i >= line.size()) break;
    ++i;  // the comma
  }
  return fields;
}

}  // namespace

ParsedResult ParseResult(const std::string& bytes) {
  ParsedResult r;
  std::size_t pos = 0;
  bool header = true, sawTotals = false;
  while (pos < bytes.size()) {
    const std::size_t end = bytes.find("\r\n", pos);
    if (end == std::string::npos) {
      ADD_FAILURE() << "last line does not end in CR LF";
      break;
    }
    std::string_view line(bytes.data() + pos, end - pos);
    pos = end + 2;
    EXPECT_EQ(line.find_first_of("\r\n"), std::string_view::npos) << "stray line break in " << line;
    EXPECT_FALSE(sawTotals) << "a line after the totals line";
    std::vector<std::string> f = SplitLine(line);
    if (f.empty() || line.substr(0, 1) != "\"") {
      ADD_FAILURE() << "line without a record kind: " << line;
      continue;
    }
    const std::string kind = f[0];
    if (header && kind == "A1") {
      r.a1 = f;
    } else if (header && kind == "B1") {
      r.heading.emplace_back(f.begin() + 1, f.end());
    } else if (header) {
      header = false;
      r.columns.assign(f.begin() + 1, f.end());
    } else if (kind == "TF") {
      sawTotals = true;
      r.totals.assign(f.begin() + 1, f.end());
    } else {
      EXPECT_EQ(f.size(), r.columns.size() + 1) << "row with another number of fields: " << line;
      r.rows.push_back(std::move(f));
    }
  }
  return r;
}

RunOutcome RunOn(const TestTree& tree, const KSServerCommunicationReportRec& record,
               const std::vector<ScanObject>& objects, EngineOptions options) {
  static int serial = 0;
  const fs::path file = tree.ResultDir() / ("result" + std::to_string(++serial) + ".csv");
  if (options.threads == 0) options.threads = 2;
  NullProgress progress;
  RunOutcome out;
  out.result = RunReport(record, objects, file, options, progress);
  std::error_code ec;
  out.exists = fs::exists(file, ec);
  if (out.exists) {
    std::ifstream in(file, std::ios::binary);
    out.bytes.assign(std::istreambuf_iterator<char>(in), {});
    out.parsed = ParseResult(out.bytes);
    fs::remove(file, ec);
  }
  return out;
}

RunOutcome RunOn(const TestTree& tree, const KSServerCommunicationReportRec& record) {
  return RunOn(tree, record, {tree.Object()}, TestAccounts());
}

EngineOptions TestAccounts() {
  EngineOptions o;
  const std::uint32_t uid = ::geteuid(), gid = ::getegid();
  o.userName = [uid](std::uint32_t id) -> std::string {
    return id == 0 ? "root" : id == uid ? "tester" : "undefined";
  };
  o.groupName = [gid](std::uint32_t id) -> std::string {
    return id == 0 ? "root" : id == gid ? "testers" : "undefined";
  };
  o.userId = [uid](std::string_view n) -> std::optional<std::uint32_t> {
    if (n == "root") return 0;
    if (n == "THIS\\tester") return uid;
    return std::nullopt;
  };
  o.groupId = [gid](std::string_view n) -> std::optional<std::uint32_t> {
    if (n == "testers") return gid;
    return std::nullopt;
  };
  return o;
}

std::pair<std::uint64_t, std::uint64_t> DuTotals(const fs::path& root) {
  std::pair<std::uint64_t, std::uint64_t> out{0, 0};
  for (auto [flag, slot] : {std::pair{"-b", &out.first}, std::pair{"-B1", &out.second}}) {
    std::string cmd = std::string("du -s ") + flag + " '" + root.string() + "' 2>/dev/null";
    if (FILE* p = ::popen(cmd.c_str(), "r")) {
      unsigned long long v = 0;
      if (std::fscanf(p, "%llu", &v) == 1) *slot = v;
      ::pclose(p);
    }
  }
  return out;
}

}  // namespace vn::server::testing
