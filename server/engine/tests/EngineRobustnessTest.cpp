// The engine on odd and hostile trees: copies, unreadable directories,
// names a result cannot carry, objects that are not there, cancel, and
// the permission and access list reports.

#include <acl/libacl.h>
#include <sys/acl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <mutex>
#include <map>
#include <set>

#include <gtest/gtest.h>

#include "server/engine/tests/EngineTestTree.h"

namespace vn::server {
namespace {
namespace fs = std::filesystem;

using testing::Record;
using testing::RunOn;
using testing::TestTree;
using Names = std::set<std::string>;

Names AsSet(const std::vector<std::string>& v) { return Names(v.begin(), v.end()); }

TEST(EngineRobustnessTest, DuplicateFilesGroupsEqualContentOnly) {
  TestTree tree;
  const std::string body(10000, 'q');
  tree.Content("a/one.dat", body);
  tree.Content("b/two.bin", body);
  tree.Content("c/one.dat", body);
  tree.Content("d/two.bin", body);
  std::string late = body;
  late.back() = 'z';  // same size, differs in the last byte
  tree.Content("late.dat", late);
  std::string middle = body;
  middle[5000] = 'm';  // same first block, differs in the middle
  tree.Content("middle.dat", middle);
  tree.Content("small1.txt", "tiny");
  tree.Content("small2.txt", "tiny");
  tree.Content("empty1", ""), tree.Content("empty2", "");
  ASSERT_EQ(::link((tree.Root() / "a/one.dat").c_str(), (tree.Root() / "a/hard.dat").c_str()), 0);

  auto groups = [&](const KSServerCommunicationReportRec& rec) {
    auto out = RunOn(tree, rec);
    EXPECT_EQ(out.result.error, 0u) << out.result.message;
    std::set<Names> result;
    Names current;
    const int name = out.parsed.Column("FileName");
    for (const auto& row : out.parsed.rows) {
      if (row[0] == "DS") {
        if (!current.empty()) result.insert(current);
        current.clear();
        EXPECT_EQ(row[static_cast<std::size_t>(name)].front(), '<');  // a summary names no file
      } else {
        current.insert(row[static_cast<std::size_t>(out.parsed.Column("Directory"))] + "\\" +
                       row[static_cast<std::size_t>(name)]);
      }
    }
    if (!current.empty()) result.insert(current);
    return result;
  };
  auto rec = Record(kReportDuplicateFiles);
  VN_SET(rec.Criteria[1].Value1, "0");  // names not compared
  VN_SET(rec.Criteria[2].Value1, "0");
  for (LONG compare : {0, 1}) {
    rec.Criteria[0].Compare = compare;
    const std::set<Names> expected = {
        {"C:\\T\\a\\hard.dat", "C:\\T\\b\\two.bin", "C:\\T\\c\\one.dat", "C:\\T\\d\\two.bin"},
        {"C:\\T\\small1.txt", "C:\\T\\small2.txt"}};
    auto got = groups(rec);
    // One name of the hard-linked pair stands for it.
    std::set<Names> normalised;
    for (Names g : got) {
      if (g.erase("C:\\T\\a\\one.dat")) g.insert("C:\\T\\a\\hard.dat");
      normalised.insert(g);
    }
    EXPECT_EQ(normalised, expected) << "compare " << compare;
  }
  // Exact names: the two two.bin are copies (and the one.dat pair when the
  // scan met the hard link under that name first); no group mixes names.
  auto exact = Record(kReportDuplicateFiles);
  auto got = groups(exact);
  EXPECT_TRUE(got.count({"C:\\T\\b\\two.bin", "C:\\T\\d\\two.bin"}));
  for (const Names& g : got) {
    std::set<std::string> leaf;
    for (const std::string& n : g) leaf.insert(n.substr(n.rfind('\\') + 1));
    EXPECT_EQ(leaf.size(), 1u);
  }
  // Many files of one size (more than are read side by side): hashed, then
  // compared byte by byte.
  TestTree many;
  for (int i = 0; i < 20; ++i) many.Content("m/f" + std::to_string(i), std::string(9000, i % 2 ? 'a' : 'b'));
  auto big = Record(kReportDuplicateFiles);
  VN_SET(big.Criteria[1].Value1, "0"), VN_SET(big.Criteria[2].Value1, "0");
  big.Criteria[0].Compare = 1;
  auto bigOut = RunOn(many, big);
  EXPECT_EQ(bigOut.parsed.Count("DS"), 2u);
  EXPECT_EQ(bigOut.parsed.Count("D1"), 20u);
  EXPECT_EQ(bigOut.parsed.Total("Wasted"), 18 * 9000);
  // At least three copies.
  rec.Criteria[0].Scope = 3;
  VN_SET(rec.Criteria[0].Value1, "3");
  EXPECT_EQ(groups(rec).size(), 1u);
}

TEST(EngineRobustnessTest, NamesTheResultCannotCarryAreNotListedButCounted) {
  TestTree tree;
  tree.File("plain.txt", 10);
  tree.File("with\"quote.txt", 20);
  tree.File("line\r\nbreak.txt", 30);
  tree.File("back\\slash.txt", 40);
  tree.File("odd\"dir/inside.txt", 50);
  auto out = RunOn(tree, Record(kReportAllFiles));
  ASSERT_EQ(out.result.error, 0u);
  EXPECT_EQ(out.parsed.Values("FileName"), (std::vector<std::string>{"plain.txt"}));
  EXPECT_TRUE(out.parsed.HeadingHas("Not listed: 4 files"));
  // Texts that are only shown keep the format: the quote becomes ' .
  auto dirs = RunOn(tree, Record(kReportSpaceByDirectory));
  EXPECT_TRUE(AsSet(dirs.parsed.Values("Directory")).count("C:\\T\\odd'dir"));
  EXPECT_EQ(dirs.parsed.Total("Size"), testing::DuTotals(tree.Root()).first);
  // An object named with a quote and a line break, and a filter with both.
  auto rec = Record(kReportAllFiles);
  VN_SET(rec.FileFilter, "*\"x\r\n");
  auto odd = RunOn(tree, rec, {tree.Object("C:\\T", "C:\\\"odd\r\nname")}, testing::TestAccounts());
  EXPECT_EQ(odd.result.error, 0u);
  EXPECT_TRUE(odd.parsed.HeadingHas("C:\\'odd  name"));
}

TEST(EngineRobustnessTest, ProblemObjectsAreReportedAndTheRunGoesOn) {
  TestTree tree;
  tree.File("f", 100);
  ScanObject unresolved = tree.Object("\\\\SRV1\\Gone", "\\\\SRV1\\Gone");
  unresolved.error = "The network name cannot be found.";
  ScanObject missing = tree.Object("C:\\Missing", "C:\\Missing");
  missing.root = tree.Root() / "no-such-dir";
  struct Recorder : ProgressSink {
    std::mutex mutex;
    std::vector<std::string> texts;
    void Progress(std::string_view t) override {
      std::lock_guard lock(mutex);
      texts.emplace_back(t);
    }
    bool Cancelled() const override { return false; }
  } progress;
  const fs::path file = tree.ResultDir() / "problems.csv";
  for (DWORD code : {6u, 4u}) {
    SCOPED_TRACE(code);
    ReportResult r = RunReport(Record(code), {unresolved, tree.Object(), missing}, file, testing::TestAccounts(), progress);
    ASSERT_EQ(r.error, 0u) << r.message;
    EXPECT_EQ(r.problems.size(), 2u);
    std::ifstream in(file, std::ios::binary);
    auto parsed = testing::ParseResult(std::string(std::istreambuf_iterator<char>(in), {}));
    EXPECT_TRUE(parsed.HeadingHas("\\\\SRV1\\Gone: The network name cannot be found."));
    EXPECT_TRUE(parsed.HeadingHas("C:\\Missing: "));
    EXPECT_EQ(parsed.Count("D1"), 1u);
    fs::remove(file);
  }
  std::lock_guard lock(progress.mutex);
  EXPECT_TRUE(std::any_of(progress.texts.begin(), progress.texts.end(),
                          [](const std::string& t) { return t.find("Cannot scan \\\\SRV1\\Gone") == 0; }));
}

TEST(EngineRobustnessTest, UnreadableDirectoriesAreNamedAndNotFatal) {
  TestTree tree;
  tree.File("open/a", 100);
  tree.File("closed/secret", 200);
  tree.File("closed/deeper/more", 300);
  fs::create_symlink("..", tree.Root() / "open/up");
  ::chmod((tree.Root() / "closed").c_str(), 0);
  const fs::path file = tree.ResultDir() / "unreadable.csv";
  // Root reads every directory: the scan runs in a child that gave up its rights.
  const bool root = ::geteuid() == 0;
  pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    if (root && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(90);
    NullProgress progress;
    EngineOptions options;
    options.threads = 2;
    ReportResult r = RunReport(Record(kReportSpaceByDirectory), {tree.Object()}, file, options, progress);
    ::_exit(r.error == 0 ? 0 : 91);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 0);
  std::ifstream in(file, std::ios::binary);
  auto parsed = testing::ParseResult(std::string(std::istreambuf_iterator<char>(in), {}));
  EXPECT_TRUE(parsed.HeadingHas("Unreadable directories: 1"));
  EXPECT_TRUE(parsed.HeadingHas("Not read: C:\\T\\closed: Permission denied"));
  EXPECT_EQ(parsed.Total("Files"), 2);  // "a" and the link; the closed directory is listed, not entered
  EXPECT_TRUE(AsSet(parsed.Values("Directory")).count("C:\\T\\closed"));
}

TEST(EngineRobustnessTest, CancelStopsTheRunAndLeavesNoResult) {
  TestTree tree;
  for (int d = 0; d < 40; ++d)
    for (int f = 0; f < 5; ++f) tree.File("d" + std::to_string(d) + "/sub/f" + std::to_string(f), 10);
  struct CancelAfter : ProgressSink {
    mutable std::atomic<int> asked{0};
    int after;
    explicit CancelAfter(int n) : after(n) {}
    void Progress(std::string_view) override {}
    bool Cancelled() const override { return ++asked > after; }
  };
  for (DWORD code : {kReportSpaceByDirectory, kReportAllFiles, kReportDuplicateFiles}) {
    for (int after : {0, 5}) {
      SCOPED_TRACE(std::to_string(code) + " after " + std::to_string(after));
      CancelAfter progress(after);
      const fs::path file = tree.ResultDir() / "cancelled.csv";
      ReportResult r = RunReport(Record(code), {tree.Object()}, file, {}, progress);
      EXPECT_EQ(r.error, static_cast<DWORD>(ERROR_CANCELLED));
      EXPECT_FALSE(fs::exists(file));
      EXPECT_TRUE(fs::is_empty(tree.ResultDir())) << "no spill file left behind";
    }
  }
}

TEST(EngineRobustnessTest, PermissionReportsFindWhatEveryoneMayWrite) {
  TestTree tree;
  tree.File("safe", 10);
  tree.File("open-file", 10);
  tree.File("setuid-prog", 10);
  tree.Dir("shared");
  tree.Dir("tmpish");
  ::chmod((tree.Root() / "open-file").c_str(), 0666);
  ::chmod((tree.Root() / "setuid-prog").c_str(), 04755);
  ::chmod((tree.Root() / "shared").c_str(), 0777);
  ::chmod((tree.Root() / "tmpish").c_str(), 01777);
  auto out = RunOn(tree, Record(kReportInsecureFiles));
  ASSERT_EQ(out.result.error, 0u);
  const auto names = out.parsed.Values("FileName"), risks = out.parsed.Values("Risk");
  std::map<std::string, std::string> found;
  for (std::size_t i = 0; i < names.size(); ++i) found[names[i]] = risks[i];
  EXPECT_EQ(found, (std::map<std::string, std::string>{{"open-file", "Writable by everyone"},
                                                        {"setuid-prog", "Runs as its owner"},
                                                        {"shared", "Writable by everyone"},
                                                        {"tmpish", "Writable by everyone (only owners may delete)"}}));
}

TEST(EngineRobustnessTest, AccessListReportsReadTheEntries) {
  TestTree tree;
  const fs::path plain = tree.File("plain", 10);
  const fs::path listed = tree.File("listed", 10);
  ::chmod(plain.c_str(), 0640);
  acl_t acl = acl_from_text("u::rw-,u:54321:r--,g::r--,m::r--,o::---");
  ASSERT_NE(acl, nullptr);
  if (acl_set_file(listed.c_str(), ACL_TYPE_ACCESS, acl) != 0) {
    acl_free(acl);
    GTEST_SKIP() << "this file system keeps no access lists";
  }
  acl_free(acl);
  auto with = RunOn(tree, Record(kReportFilesWithAcl));
  EXPECT_EQ(with.parsed.Values("FileName"), (std::vector<std::string>{"listed"}));
  EXPECT_NE(with.parsed.Values("Access List")[0].find("User undefined (54321): Read"), std::string::npos);
  auto undefined = RunOn(tree, Record(kReportFilesWithUndefinedAces));
  EXPECT_EQ(undefined.parsed.Values("FileName"), (std::vector<std::string>{"listed"}));
  EXPECT_EQ(undefined.parsed.Values("Undefined Entries"), (std::vector<std::string>{"User undefined (54321): Read"}));
  // Who may do what with "plain": owner, group, everyone.
  auto rec = Record(kReportUserAccessByFile);
  VN_SET(rec.FileFilter, "plain");
  auto by = RunOn(tree, rec);
  EXPECT_EQ(by.parsed.Values("Entry"), (std::vector<std::string>{"Owner", "Group", "Everyone"}));
  EXPECT_EQ(by.parsed.Values("Access"), (std::vector<std::string>{"Read, Write", "Read", "None"}));
  auto users = Record(kReportFilesByUserAccess);
  VN_SET(users.FileFilter, "listed");
  EXPECT_EQ(RunOn(tree, users).parsed.Values("User").size(), 2u);  // owner and the named user
}

// Files By User Access counts what a user reaches through the file's groups,
// as the file system decides; the accounts and group members come from the
// options, the files are this process's own.
TEST(EngineRobustnessTest, UserAccessCountsWhatGroupsGrant) {
  TestTree tree;
  const std::uint32_t uid = ::geteuid(), gid = ::getegid();
  EngineOptions options = testing::TestAccounts();
  const std::map<std::uint32_t, std::string> users = {
      {uid, "tester"}, {5001, "alice"}, {5002, "bob"}, {5003, "carol"}};
  options.userName = [users](std::uint32_t id) -> std::string {
    const auto it = users.find(id);
    return it == users.end() ? "undefined" : it->second;
  };
  options.groupName = [gid](std::uint32_t id) -> std::string {
    return id == gid ? "testers" : id == 6002 ? "audit" : "undefined";
  };
  // 5004 has no account: never listed.
  options.groupMembers = [uid, gid](std::uint32_t id) -> std::vector<std::uint32_t> {
    if (id == gid) return {uid, 5001, 5002, 5004};
    if (id == 6002) return {5001, 5003};
    return {};
  };
  using Rows = std::vector<std::pair<std::string, std::string>>;
  struct Case {
    const char* name;
    mode_t mode;
    const char* acl;  // null: the mode alone
    Rows rows;        // user, access
  };
  const Case cases[] = {
      // The owner's entry decides for the owner, though its group allows more.
      {"grouped", 0460, nullptr, {{"tester", "Read"}, {"alice", "Read, Write"}, {"bob", "Read, Write"}}},
      {"private", 0600, nullptr, {{"tester", "Read, Write"}}},
      // A named user's entry decides for that user; others get what all
      // their groups allow together.
      {"listed", 0, "u::rw-,u:5002:---,g::r--,g:6002:-w-,m::rw-,o::---",
       {{"tester", "Read, Write"}, {"bob", "None"}, {"alice", "Read, Write"}, {"carol", "Write"}}},
      // The mask limits every group entry.
      {"masked", 0, "u::rw-,g::rw-,g:6002:rwx,m::r--,o::r--",
       {{"tester", "Read, Write"}, {"alice", "Read"}, {"bob", "Read"}, {"carol", "Read"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path file = tree.File(c.name, 10);
    if (c.acl) {
      acl_t acl = acl_from_text(c.acl);
      ASSERT_NE(acl, nullptr);
      const bool set = acl_set_file(file.c_str(), ACL_TYPE_ACCESS, acl) == 0;
      acl_free(acl);
      if (!set) {
        fs::remove(file);
        continue;  // this file system keeps no access lists
      }
    } else {
      ASSERT_EQ(::chmod(file.c_str(), c.mode), 0);
    }
    auto rec = Record(kReportFilesByUserAccess);
    VN_SET(rec.FileFilter, c.name);
    const auto run = RunOn(tree, rec, {tree.Object()}, options);
    ASSERT_EQ(run.result.error, 0u) << run.result.message;
    const auto names = run.parsed.Values("User");
    const auto access = run.parsed.Values("Access");
    ASSERT_EQ(names.size(), access.size());
    Rows rows;
    for (std::size_t i = 0; i < names.size(); ++i) rows.emplace_back(names[i], access[i]);
    EXPECT_EQ(rows, c.rows);
  }
  // User Access By File shows the owning group's own entry under the mask,
  // not the mask itself.
  if (fs::exists(tree.Root() / "listed")) {
    auto rec = Record(kReportUserAccessByFile);
    VN_SET(rec.FileFilter, "listed");
    const auto run = RunOn(tree, rec, {tree.Object()}, options);
    EXPECT_EQ(run.parsed.Values("Entry"), (std::vector<std::string>{"Owner", "Group", "User", "Group", "Everyone"}));
    EXPECT_EQ(run.parsed.Values("Access"), (std::vector<std::string>{"Read, Write", "Read", "None", "Write", "None"}));
  }
}

TEST(EngineRobustnessTest, SeveralReportsShareOneScanAndSharesAreMeasured) {
  TestTree tree;
  tree.File("pub/x", 1000);
  tree.File("pub/y", 2000);
  tree.File("other/z", 4000);
  EngineOptions options = testing::TestAccounts();
  options.shares = {{"Pub", tree.Root() / "pub", "\\\\SRV1\\Pub"}, {"Elsewhere", "/nonexistent", "\\\\SRV1\\E"}};
  auto dirs = Record(kReportSpaceByDirectory), files = Record(kReportAllFiles), shares = Record(kReportSpaceByShare);
  const std::vector<ReportRequest> requests = {{&dirs, tree.ResultDir() / "1.csv"},
                                               {&files, tree.ResultDir() / "2.csv"},
                                               {&shares, tree.ResultDir() / "3.csv"}};
  NullProgress progress;
  auto results = RunReports(requests, {tree.Object()}, options, progress);
  ASSERT_EQ(results.size(), 3u);
  std::vector<testing::ParsedResult> parsed;
  for (std::size_t i = 0; i < 3; ++i) {
    ASSERT_EQ(results[i].error, 0u) << results[i].message;
    std::ifstream in(requests[i].resultFile, std::ios::binary);
    parsed.push_back(testing::ParseResult(std::string(std::istreambuf_iterator<char>(in), {})));
  }
  EXPECT_EQ(parsed[0].Total("Files"), 3);
  EXPECT_EQ(parsed[1].Total("Size"), 7000);
  EXPECT_EQ(parsed[2].Values("Share Name"), (std::vector<std::string>{"Pub"}));
  EXPECT_EQ(parsed[2].Values("Files"), (std::vector<std::string>{"2"}));
  // Partition Summary names the drive with the columns the charts look for.
  auto partition = RunOn(tree, Record(kReportPartitionSummary));
  for (const char* title : {"Computer Name", "Drive Name", "Used Space", "Free Space"})
    EXPECT_GE(partition.parsed.Column(title), 1) << title;
  EXPECT_EQ(partition.parsed.Values("Drive Name"), (std::vector<std::string>{"C:"}));
}

}  // namespace
}  // namespace vn::server
