#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/core/LastError.h"
#include "platform/endpoints/MachineDirectory.h"
#include "platform/net/Files.h"
#include "platform/net/WNet.h"
#include "testing/MachineNetwork.h"
#include "testing/TempMachineHome.h"
#include "testing/TestFiles.h"

namespace {

namespace fs = std::filesystem;
using vn::testing::ReadText;
using vn::testing::WriteText;

// What a search reports of one entry, in a form that compares across machines.
struct Found {
  std::string name;
  DWORD attributes = 0;
  std::uint64_t size = 0;
  std::uint64_t lastWrite = 0;
  bool operator==(const Found&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Found& f) {
  return out << f.name << " attr=" << f.attributes << " size=" << f.size;
}

std::uint64_t Ticks(const FILETIME& time) {
  return (std::uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime;
}

// FILETIME ticks of a host file's modification time.
std::uint64_t HostWriteTicks(const fs::path& path) {
  const auto sys = std::chrono::file_clock::to_sys(fs::last_write_time(path));
  const auto since1970 = std::chrono::duration_cast<std::chrono::nanoseconds>(sys.time_since_epoch()).count();
  return static_cast<std::uint64_t>(since1970 / 100) + 116444736000000000ULL;
}

// Lists a pattern to its end; *error is the code that ended it (or that
// FindFirstFileA failed with).
std::vector<Found> FindAll(const std::string& pattern, DWORD* error) {
  std::vector<Found> found;
  WIN32_FIND_DATAA data;
  HANDLE handle = FindFirstFileA(pattern.c_str(), &data);
  if (handle == INVALID_HANDLE_VALUE) {
    *error = GetLastError();
    return found;
  }
  do {
    found.push_back({data.cFileName, data.dwFileAttributes,
                     (std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow, Ticks(data.ftLastWriteTime)});
  } while (FindNextFileA(handle, &data));
  *error = GetLastError();
  EXPECT_TRUE(FindClose(handle));
  return found;
}

// The same small tree wherever it is made: two files, one directory.
void MakeTree(const fs::path& dir) {
  fs::create_directories(dir / "Sub");
  WriteText(dir / "b.log", std::string(70000, 'x'));
  WriteText(dir / "A.txt", "hello");
  const auto when = fs::file_time_type::clock::now() - std::chrono::hours(30 * 24);
  fs::last_write_time(dir / "A.txt", when);
}

// Bytes of a large file, generated and compared a chunk at a time.
constexpr std::size_t kChunk = 1 << 20;
void Pattern(std::size_t chunk, std::vector<char>* bytes) {
  std::uint32_t x = 0x9E3779B9u ^ static_cast<std::uint32_t>(chunk);
  for (auto& b : *bytes) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = static_cast<char>(x);
  }
}

void WriteLargeFile(const fs::path& path, std::size_t chunks) {
  std::ofstream out(path, std::ios::binary);
  std::vector<char> bytes(kChunk);
  for (std::size_t i = 0; i < chunks; ++i) {
    Pattern(i, &bytes);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
}

bool SameAsLargeFile(const fs::path& path, std::size_t chunks) {
  if (fs::file_size(path) != chunks * kChunk) return false;
  std::ifstream in(path, std::ios::binary);
  std::vector<char> expected(kChunk);
  std::vector<char> actual(kChunk);
  for (std::size_t i = 0; i < chunks; ++i) {
    Pattern(i, &expected);
    in.read(actual.data(), static_cast<std::streamsize>(actual.size()));
    if (!in || actual != expected) return false;
  }
  return true;
}

// A machine of its own with three drives in temporary directories and a share.
class LocalFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_c = m_home.path() / "c";
    m_d = m_home.path() / "d";
    m_r = m_home.path() / "r";
    for (const auto& dir : {m_c, m_d / "Data", m_r}) fs::create_directories(dir);
    std::ofstream(m_home.path() / "machine.ini") << "[Machine]\nName=FILESPC\nDomain=SALES\nHostResolver=no\n"
                                                 << "[Drives]\nC = " << m_c.string() << ", fixed, NTFS, SYSTEM\n"
                                                 << "D = " << m_d.string() << ", fixed\n"
                                                 << "R = " << m_r.string() << ", cdrom, CDFS\n"
                                                 << "[Shares]\nData = D:\\Data, Team data\n";
  }

  vn::testing::TempMachineHome m_home{"FILESPC"};
  fs::path m_c, m_d, m_r;
};

TEST_F(LocalFilesTest, SearchListsEntriesWithDotsAttributesSizesAndTimes) {
  MakeTree(m_d / "Data" / "Tree");
  const std::vector<Found> expected = {
      {".", FILE_ATTRIBUTE_DIRECTORY, 0, 0},
      {"..", FILE_ATTRIBUTE_DIRECTORY, 0, 0},
      {"A.txt", FILE_ATTRIBUTE_ARCHIVE, 5, HostWriteTicks(m_d / "Data" / "Tree" / "A.txt")},
      {"b.log", FILE_ATTRIBUTE_ARCHIVE, 70000, HostWriteTicks(m_d / "Data" / "Tree" / "b.log")},
      {"Sub", FILE_ATTRIBUTE_DIRECTORY, 0, HostWriteTicks(m_d / "Data" / "Tree" / "Sub")},
  };
  // Every way of naming the directory finds the same entries.
  for (const std::string pattern : {"D:\\Data\\Tree\\*.*", "d:/data/tree/*", "D:\\Data\\\\Tree\\.\\*.*",
                                    "\\\\FILESPC\\Data\\Tree\\*.*", "//filespc/DATA/tree/*.*",
                                    "D:\\Data\\Tree\\Sub\\..\\*.*"}) {
    DWORD error = 0;
    std::vector<Found> found = FindAll(pattern, &error);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_NO_MORE_FILES)) << pattern;
    ASSERT_EQ(found.size(), expected.size()) << pattern;
    for (std::size_t i = 0; i < found.size(); ++i) {
      // The dot entries' times are the directory's; only the names and kinds are fixed.
      if (i < 2) found[i].lastWrite = 0;
      EXPECT_EQ(found[i], expected[i]) << pattern;
    }
  }
  // A root has no "." or "..".
  DWORD error = 0;
  const auto root = FindAll("D:\\*", &error);
  ASSERT_EQ(root.size(), 1u);
  EXPECT_EQ(root[0].name, "Data");
}

TEST_F(LocalFilesTest, SearchFailuresTellMissingDirectoryFromNoMatch) {
  MakeTree(m_d / "Data" / "Tree");
  const struct {
    const char* pattern;
    DWORD error;
  } cases[] = {
      {"D:\\Data\\Tree\\*.xyz", ERROR_FILE_NOT_FOUND},
      {"D:\\Data\\Tree\\Missing.txt", ERROR_FILE_NOT_FOUND},
      {"D:\\Data\\Tree\\", ERROR_FILE_NOT_FOUND},
      {"D:\\", ERROR_FILE_NOT_FOUND},
      {"D:\\Data\\Missing\\*.*", ERROR_PATH_NOT_FOUND},
      {"D:\\Data\\Tree\\A.txt\\*.*", ERROR_PATH_NOT_FOUND},
      {"Q:\\*.*", ERROR_PATH_NOT_FOUND},
      {"Data\\*.*", ERROR_INVALID_NAME},
      {"\\Data\\*.*", ERROR_INVALID_NAME},
      {"D:Data\\*.*", ERROR_INVALID_NAME},
      {"D:\\Da|ta\\*.*", ERROR_INVALID_NAME},
      {"D:\\Da*ta\\*.*", ERROR_INVALID_NAME},
      {"\\\\FILESPC\\NoShare\\*.*", ERROR_BAD_NET_NAME},
      {"\\\\FILESPC", ERROR_BAD_NETPATH},
      {"\\\\bad*name\\Data\\*", static_cast<DWORD>(NERR_InvalidComputer)},
  };
  for (const auto& c : cases) {
    WIN32_FIND_DATAA data;
    SetLastError(0);
    EXPECT_EQ(FindFirstFileA(c.pattern, &data), INVALID_HANDLE_VALUE) << c.pattern;
    EXPECT_EQ(GetLastError(), c.error) << c.pattern;
  }
}

TEST_F(LocalFilesTest, SearchHandlesAreNeverValidAfterClose) {
  MakeTree(m_d / "Data" / "Tree");
  WIN32_FIND_DATAA data;
  HANDLE first = FindFirstFileA("D:\\Data\\Tree\\*", &data);
  ASSERT_NE(first, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(FindClose(first));
  HANDLE second = FindFirstFileA("D:\\Data\\Tree\\*", &data);
  ASSERT_NE(second, INVALID_HANDLE_VALUE);
  EXPECT_NE(first, second);
  for (HANDLE bad : {first, INVALID_HANDLE_VALUE, static_cast<HANDLE>(nullptr)}) {
    EXPECT_FALSE(FindNextFileA(bad, &data));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(FindClose(bad));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  }
  EXPECT_TRUE(FindNextFileA(second, &data));
  EXPECT_TRUE(FindClose(second));
}

TEST_F(LocalFilesTest, LogicalDriveStringsReportTheSizeTheyNeed) {
  const std::string expected("C:\\\0D:\\\0R:\\\0S:\\\0", 16);
  char buffer[64];
  for (const DWORD small : {0u, 1u, 16u}) {
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(GetLogicalDriveStringsA(small, buffer), 17u) << small;
    EXPECT_EQ(buffer[0], '#') << small;
  }
  std::memset(buffer, '#', sizeof buffer);
  ASSERT_EQ(GetLogicalDriveStringsA(17, buffer), 16u);
  EXPECT_EQ(std::string(buffer, 17), expected + '\0');
  EXPECT_EQ(GetLogicalDrives(), (1u << 2) | (1u << 3) | (1u << 17) | (1u << 18));
}

TEST_F(LocalFilesTest, DriveTypesOfRootsAndNonRoots) {
  const struct {
    const char* root;
    UINT type;
  } cases[] = {
      {"C:\\", DRIVE_FIXED},          {"c:", DRIVE_FIXED},
      {"D:/", DRIVE_FIXED},           {"R:\\", DRIVE_CDROM},
      {"Q:\\", DRIVE_NO_ROOT_DIR},    {"D:\\Data", DRIVE_NO_ROOT_DIR},
      {"\\\\FILESPC\\Data\\", DRIVE_REMOTE}, {"\\\\FILESPC\\C$", DRIVE_REMOTE},
      {"\\\\FILESPC\\IPC$\\", DRIVE_NO_ROOT_DIR}, {"\\\\FILESPC\\Nope\\", DRIVE_NO_ROOT_DIR},
      {"Data", DRIVE_NO_ROOT_DIR},    {nullptr, DRIVE_FIXED},
  };
  for (const auto& c : cases) EXPECT_EQ(GetDriveTypeA(c.root), c.type) << (c.root ? c.root : "(null)");
}

TEST_F(LocalFilesTest, VolumeInformationAndSpace) {
  char label[32];
  char fs[32];
  DWORD serial = 0, maxComponent = 0, flags = 0;
  ASSERT_TRUE(GetVolumeInformationA("C:\\", label, sizeof label, &serial, &maxComponent, &flags, fs, sizeof fs));
  EXPECT_STREQ(label, "SYSTEM");
  EXPECT_STREQ(fs, "NTFS");
  EXPECT_EQ(maxComponent, 255u);
  ASSERT_TRUE(GetVolumeInformationA("\\\\FILESPC\\Data\\", nullptr, 0, nullptr, nullptr, nullptr, fs, sizeof fs));
  EXPECT_GT(std::strlen(fs), 0u);

  EXPECT_FALSE(GetVolumeInformationA("C:\\", label, 6, nullptr, nullptr, nullptr, nullptr, 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_FALSE(GetVolumeInformationA("D:\\Data\\", nullptr, 0, nullptr, nullptr, nullptr, nullptr, 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DIR_NOT_ROOT));
  EXPECT_FALSE(GetVolumeInformationA("Q:\\", nullptr, 0, nullptr, nullptr, nullptr, nullptr, 0));

  for (const char* dir : {"D:\\", "D:\\Data", "\\\\FILESPC\\Data\\"}) {
    ULARGE_INTEGER toCaller{}, total{}, free{};
    ASSERT_TRUE(GetDiskFreeSpaceExA(dir, &toCaller, &total, &free)) << dir;
    EXPECT_GT(total.QuadPart, 0u) << dir;
    EXPECT_LE(free.QuadPart, total.QuadPart) << dir;
    EXPECT_LE(toCaller.QuadPart, free.QuadPart) << dir;
    DWORD perCluster = 0, perSector = 0, freeClusters = 0, totalClusters = 0;
    ASSERT_TRUE(GetDiskFreeSpaceA(dir, &perCluster, &perSector, &freeClusters, &totalClusters)) << dir;
    const std::uint64_t cluster = std::uint64_t{perCluster} * perSector;
    ASSERT_GT(cluster, 0u);
    const std::uint64_t clusters = std::min<std::uint64_t>(total.QuadPart / cluster, 0xFFFFFFFF);
    EXPECT_EQ(totalClusters, clusters) << dir;
    EXPECT_LE(freeClusters, totalClusters) << dir;
  }
  EXPECT_FALSE(GetDiskFreeSpaceExA("Q:\\", nullptr, nullptr, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

// Each path form reaches the same place; roots and relative paths are refused
// before any machine is asked; ".." stops at the root of its drive or share.
TEST_F(LocalFilesTest, PathFormsOfCreateRemoveDeleteAndAttributes) {
  WriteText(m_d / "Data" / "file.txt", "x");
  struct Step {
    const char* what;
    std::function<BOOL()> call;
    DWORD error;  // 0 = succeeds
  };
  const Step steps[] = {
      {"create", [] { return CreateDirectoryA("D:\\Data\\New", nullptr); }, 0},
      {"same name, other form", [] { return CreateDirectoryA("//filespc/DATA/new", nullptr); }, ERROR_ALREADY_EXISTS},
      {"create a root", [] { return CreateDirectoryA("D:\\", nullptr); }, ERROR_ACCESS_DENIED},
      {"create relative", [] { return CreateDirectoryA("New", nullptr); }, ERROR_INVALID_NAME},
      {"create escaping", [] { return CreateDirectoryA("D:\\Data\\..\\..\\..\\Up", nullptr); }, 0},
      {"create escaping a share", [] { return CreateDirectoryA("\\\\FILESPC\\Data\\..\\..\\In", nullptr); }, 0},
      {"remove a share root", [] { return RemoveDirectoryA("\\\\FILESPC\\Data"); }, ERROR_ACCESS_DENIED},
      {"remove through share", [] { return RemoveDirectoryA("\\\\FILESPC\\Data\\New"); }, 0},
      {"delete a drive root", [] { return DeleteFileA("C:\\"); }, ERROR_ACCESS_DENIED},
      {"delete with wildcard", [] { return DeleteFileA("D:\\Data\\*.txt"); }, ERROR_INVALID_NAME},
      {"delete on unknown share", [] { return DeleteFileA("\\\\FILESPC\\Nope\\file.txt"); }, ERROR_BAD_NET_NAME},
      {"delete", [] { return DeleteFileA("\\\\filespc\\data\\FILE.TXT"); }, 0},
  };
  for (const auto& step : steps) {
    SetLastError(0);
    const BOOL ok = step.call();
    EXPECT_EQ(ok, step.error == 0 ? TRUE : FALSE) << step.what;
    if (!ok) {
      EXPECT_EQ(GetLastError(), step.error) << step.what;
    }
  }
  EXPECT_FALSE(fs::exists(m_d / "Data" / "New"));
  EXPECT_FALSE(fs::exists(m_d / "Data" / "file.txt"));
  EXPECT_TRUE(fs::is_directory(m_d / "Up"));
  EXPECT_TRUE(fs::is_directory(m_d / "Data" / "In"));
  EXPECT_FALSE(fs::exists(m_home.path() / "Up"));

  EXPECT_EQ(GetFileAttributesA("D:\\"), FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(GetFileAttributesA("\\\\FILESPC\\Data\\..\\In"), FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(GetFileAttributesA("\\\\FILESPC\\Data\\..\\Up"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetFileAttributesA("D:\\Data\\none"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(GetFileAttributesA("D:\\None\\none"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

TEST_F(LocalFilesTest, CopyKeepsWriteTimeAndHonoursFailIfExists) {
  MakeTree(m_d / "Data" / "Tree");
  WriteText(m_c / "target.txt", "old");
  ASSERT_FALSE(CopyFileA("D:\\Data\\Tree\\A.txt", "C:\\target.txt", TRUE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
  EXPECT_EQ(ReadText(m_c / "target.txt"), "old");

  ASSERT_TRUE(CopyFileA("D:\\Data\\Tree\\A.txt", "C:\\target.txt", FALSE));
  EXPECT_EQ(ReadText(m_c / "target.txt"), "hello");
  // Write times travel as FILETIME ticks (100 ns).
  EXPECT_EQ(HostWriteTicks(m_c / "target.txt"), HostWriteTicks(m_d / "Data" / "Tree" / "A.txt"));

  const struct {
    const char* from;
    const char* to;
    DWORD error;
  } failures[] = {
      {"D:\\Data\\Tree\\none", "C:\\x", ERROR_FILE_NOT_FOUND},
      {"D:\\Data\\Tree\\Sub", "C:\\x", ERROR_ACCESS_DENIED},
      {"D:\\Data\\Tree\\A.txt", "C:\\NoDir\\x", ERROR_PATH_NOT_FOUND},
      {"D:\\Data\\Tree\\A.txt", "C:\\", ERROR_ACCESS_DENIED},
      {"D:\\Data\\Tree\\A.txt", "x", ERROR_INVALID_NAME},
  };
  for (const auto& f : failures) {
    EXPECT_FALSE(CopyFileA(f.from, f.to, TRUE)) << f.from << " -> " << f.to;
    EXPECT_EQ(GetLastError(), f.error) << f.from << " -> " << f.to;
  }
  EXPECT_FALSE(fs::exists(m_c / "x"));
  // Nothing half-written is left beside the targets.
  for (const auto& entry : fs::directory_iterator(m_c)) EXPECT_EQ(entry.path().filename(), "target.txt");
}

TEST_F(LocalFilesTest, TempFileNamesAreNewFilesAndWholeFileWritesReplaceOrFail) {
  fs::create_directories(m_c / "Out");
  char first[MAX_PATH] = {};
  char second[MAX_PATH] = {};
  const UINT a = GetTempFileNameA("C:\\Out", "VNSched", 0, first);
  const UINT b = GetTempFileNameA("C:\\Out\\", "VNSched", 0, second);
  ASSERT_NE(a, 0u) << GetLastError();
  ASSERT_NE(b, 0u) << GetLastError();
  EXPECT_NE(a, b);
  char expected[32];
  std::snprintf(expected, sizeof expected, "C:\\Out\\VNSched%X.TMP", a);
  EXPECT_STREQ(first, expected);
  // Both exist, empty, under the names handed out.
  std::vector<std::string> made;
  for (const auto& entry : fs::directory_iterator(m_c / "Out")) made.push_back(entry.path().filename().string());
  std::sort(made.begin(), made.end());
  std::vector<std::string> names = {std::string(first).substr(7), std::string(second).substr(7)};
  std::sort(names.begin(), names.end());
  EXPECT_EQ(made, names);
  EXPECT_EQ(fs::file_size(m_c / "Out" / names[0]), 0u);

  // A given number only names the file.
  char named[MAX_PATH] = {};
  EXPECT_EQ(GetTempFileNameA("C:\\Out", "Rep", 0x1A2, named), 0x1A2u);
  EXPECT_STREQ(named, "C:\\Out\\Rep1A2.TMP");
  EXPECT_FALSE(fs::exists(m_c / "Out" / "Rep1A2.TMP"));

  ASSERT_TRUE(vn::WriteWholeFile(first, "VN /rs \"Weekly\" /on \"C:\\\\\""));
  EXPECT_EQ(ReadText(m_c / "Out" / std::string(first).substr(7)), "VN /rs \"Weekly\" /on \"C:\\\\\"");

  const struct {
    const char* directory;
    DWORD error;
  } failures[] = {
      {"C:\\NoDir", ERROR_PATH_NOT_FOUND},
      {"Out", ERROR_INVALID_NAME},
      {"Q:\\", ERROR_PATH_NOT_FOUND},
  };
  for (const auto& f : failures) {
    char name[MAX_PATH] = {};
    EXPECT_EQ(GetTempFileNameA(f.directory, "VNSched", 0, name), 0u) << f.directory;
    EXPECT_EQ(GetLastError(), f.error) << f.directory;
  }
  // A name that does not fit MAX_PATH is refused before anything is made.
  char name[MAX_PATH] = {};
  EXPECT_EQ(GetTempFileNameA("C:\\Out", std::string(300, 'p').c_str(), 0, name), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BUFFER_OVERFLOW));
  EXPECT_FALSE(vn::WriteWholeFile("C:\\NoDir\\x.txt", "x"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(std::distance(fs::directory_iterator(m_c / "Out"), fs::directory_iterator()), 2);
}

// Four machines on loopback: this process is CONSOLE (SALES); SRV1 is the
// controller of SALES with share "Data", WKS1 a workstation of SALES, SRV2 a
// server of LAB.
class RemoteFilesTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    s_net = std::make_unique<vn::testing::MachineNetwork>("SALES");
    s_net->Add({"SRV1", "SALES", vn::MachineRole::PrimaryDomainController, {"Data"}});
    s_net->Add({"WKS1", "SALES", vn::MachineRole::Workstation, {}});
    s_net->Add({"SRV2", "LAB", vn::MachineRole::Server, {"Tools"}});
    ASSERT_TRUE(s_net->StartAll());
  }
  static void TearDownTestSuite() { s_net.reset(); }

  void TearDown() override {
    for (const auto& connection : vn::DriveConnections())
      if (connection.letter) WNetCancelConnectionA((std::string(1, connection.letter) + ":").c_str(), TRUE);
  }

  static const vn::testing::TestMachine& Srv1() { return s_net->Machine("SRV1"); }
  static const vn::testing::TestMachine& Srv2() { return s_net->Machine("SRV2"); }
  static const vn::testing::TestMachine& Console() { return s_net->Console(); }

  static std::unique_ptr<vn::testing::MachineNetwork> s_net;
};

std::unique_ptr<vn::testing::MachineNetwork> RemoteFilesTest::s_net;

TEST_F(RemoteFilesTest, RemoteSearchGivesWhatALocalSearchGives) {
  MakeTree(Console().driveD / "Same");
  MakeTree(Srv1().ShareDir("Data") / "Same");
  for (const char* name : {"A.txt", "b.log", "Sub"})
    fs::last_write_time(Srv1().ShareDir("Data") / "Same" / name,
                        fs::last_write_time(Console().driveD / "Same" / name));
  DWORD localError = 0;
  DWORD remoteError = 0;
  auto local = FindAll("D:\\Same\\*.*", &localError);
  auto remote = FindAll("\\\\SRV1\\Data\\Same\\*.*", &remoteError);
  EXPECT_EQ(localError, static_cast<DWORD>(ERROR_NO_MORE_FILES));
  EXPECT_EQ(remoteError, static_cast<DWORD>(ERROR_NO_MORE_FILES));
  ASSERT_EQ(local.size(), 5u);
  ASSERT_EQ(remote.size(), local.size());
  for (std::size_t i = 0; i < local.size(); ++i) {
    if (i < 2) local[i].lastWrite = remote[i].lastWrite = 0;
    EXPECT_EQ(remote[i], local[i]);
  }

  const struct {
    const char* pattern;
    DWORD error;
  } failures[] = {
      {"\\\\SRV1\\Data\\Same\\*.xyz", ERROR_FILE_NOT_FOUND},
      {"\\\\SRV1\\Data\\Missing\\*.*", ERROR_PATH_NOT_FOUND},
      {"\\\\SRV1\\Nope\\*.*", ERROR_BAD_NET_NAME},
      {"\\\\SRV1\\IPC$\\*.*", ERROR_BAD_NET_NAME},
      {"\\\\NOSUCH\\Data\\*.*", ERROR_BAD_NETPATH},
  };
  for (const auto& f : failures) {
    WIN32_FIND_DATAA data;
    EXPECT_EQ(FindFirstFileA(f.pattern, &data), INVALID_HANDLE_VALUE) << f.pattern;
    EXPECT_EQ(GetLastError(), f.error) << f.pattern;
  }
}

TEST_F(RemoteFilesTest, CopyInEveryDirectionWithFailIfExists) {
  const fs::path localDir = Console().driveD;
  const fs::path srv1Dir = Srv1().ShareDir("Data");
  const fs::path srv2Dir = Srv2().ShareDir("Tools");
  WriteText(localDir / "src.txt", "from console");
  WriteText(srv1Dir / "src.txt", "from srv1");
  const auto old = fs::file_time_type::clock::now() - std::chrono::hours(48);
  fs::last_write_time(localDir / "src.txt", old);
  fs::last_write_time(srv1Dir / "src.txt", old);

  const struct {
    const char* from;
    const char* to;
    fs::path target;
    std::string content;
  } cases[] = {
      {"D:\\src.txt", "D:\\copy.txt", localDir / "copy.txt", "from console"},
      {"D:\\src.txt", "\\\\SRV1\\Data\\copy.txt", srv1Dir / "copy.txt", "from console"},
      {"\\\\SRV1\\Data\\src.txt", "D:\\back.txt", localDir / "back.txt", "from srv1"},
      {"\\\\srv1\\data\\SRC.TXT", "\\\\SRV2\\Tools\\far.txt", srv2Dir / "far.txt", "from srv1"},
  };
  for (const auto& c : cases) {
    WriteText(c.target, "existing");
    EXPECT_FALSE(CopyFileA(c.from, c.to, TRUE)) << c.to;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS)) << c.to;
    EXPECT_EQ(ReadText(c.target), "existing") << c.to;
    fs::remove(c.target);
    ASSERT_TRUE(CopyFileA(c.from, c.to, TRUE)) << c.from << " -> " << c.to << ": " << GetLastError();
    EXPECT_EQ(ReadText(c.target), c.content) << c.to;
    EXPECT_EQ(HostWriteTicks(c.target), HostWriteTicks(localDir / "src.txt")) << c.to;
    ASSERT_TRUE(CopyFileA(c.from, c.to, FALSE)) << c.to;  // replacing is allowed without the flag
  }
  EXPECT_FALSE(CopyFileA("\\\\SRV1\\Data\\none.txt", "D:\\none.txt", FALSE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(CopyFileA("D:\\src.txt", "\\\\SRV1\\Data\\NoDir\\x.txt", FALSE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_FALSE(CopyFileA("D:\\src.txt", "\\\\NOSUCH\\Data\\x.txt", FALSE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_NETPATH));
}

TEST_F(RemoteFilesTest, LargeFileCrossesMachinesByteForByte) {
  constexpr std::size_t chunks = 40;  // 40 MiB
  WriteLargeFile(Console().driveD / "large.bin", chunks);
  ASSERT_TRUE(CopyFileA("D:\\large.bin", "\\\\SRV1\\Data\\large.bin", TRUE)) << GetLastError();
  EXPECT_TRUE(SameAsLargeFile(Srv1().ShareDir("Data") / "large.bin", chunks));
  ASSERT_TRUE(CopyFileA("\\\\SRV1\\Data\\large.bin", "D:\\large2.bin", TRUE)) << GetLastError();
  EXPECT_TRUE(SameAsLargeFile(Console().driveD / "large2.bin", chunks));
  fs::remove(Console().driveD / "large.bin");
  fs::remove(Console().driveD / "large2.bin");
  fs::remove(Srv1().ShareDir("Data") / "large.bin");
}

TEST_F(RemoteFilesTest, RemoteDirectoriesAndDrives) {
  ASSERT_TRUE(CreateDirectoryA("\\\\SRV1\\Data\\Made", nullptr)) << GetLastError();
  WriteText(Srv1().ShareDir("Data") / "Made" / "f.txt", "x");
  EXPECT_EQ(GetFileAttributesA("\\\\SRV1\\Data\\Made\\F.TXT") & FILE_ATTRIBUTE_DIRECTORY, 0u);
  EXPECT_FALSE(RemoveDirectoryA("\\\\SRV1\\Data\\Made"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DIR_NOT_EMPTY));
  EXPECT_TRUE(DeleteFileA("\\\\SRV1\\Data\\Made\\f.txt"));
  EXPECT_TRUE(RemoveDirectoryA("\\\\SRV1\\Data\\Made"));
  EXPECT_FALSE(fs::exists(Srv1().ShareDir("Data") / "Made"));
  // Another machine's drives are reached only through its shares.
  EXPECT_EQ(GetDriveTypeA("\\\\SRV1\\Data\\"), DRIVE_REMOTE);
  EXPECT_EQ(GetDriveTypeA("\\\\SRV1\\D:\\"), DRIVE_NO_ROOT_DIR);
  ULARGE_INTEGER total{};
  EXPECT_TRUE(GetDiskFreeSpaceExA("\\\\SRV1\\Data\\", nullptr, &total, nullptr));
  EXPECT_GT(total.QuadPart, 0u);
}

// The push install's way: redirect a letter to a machine's administrative
// share, work on it through the letter, and drop it.
TEST_F(RemoteFilesTest, ConnectedLetterReachesTheRemoteShare) {
  WriteText(Console().driveD / "dist.txt", "payload");
  NETRESOURCEA resource{};
  resource.dwType = RESOURCETYPE_DISK;
  std::string remote = "\\\\SRV1\\D$";
  resource.lpRemoteName = remote.data();
  char access[260];
  DWORD size = sizeof access;
  DWORD result = 0;
  ASSERT_EQ(WNetUseConnectionA(nullptr, &resource, nullptr, nullptr, CONNECT_INTERACTIVE | CONNECT_REDIRECT, access,
                               &size, &result),
            static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_STREQ(access, "E:");  // CONSOLE has C:, D: and S:
  EXPECT_EQ(result, CONNECT_LOCALDRIVE);
  EXPECT_EQ(GetDriveTypeA("E:\\"), DRIVE_REMOTE);
  char drives[64];
  ASSERT_EQ(GetLogicalDriveStringsA(sizeof drives, drives), 16u);
  EXPECT_EQ(std::string(drives, 16), std::string("C:\\\0D:\\\0E:\\\0S:\\\0", 16));

  DWORD error = 0;
  const auto found = FindAll("E:\\*.*", &error);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].name, "Data");
  ASSERT_TRUE(CreateDirectoryA("E:\\Program Files", nullptr));
  ASSERT_TRUE(CopyFileA("D:\\dist.txt", "E:\\Program Files\\x", FALSE)) << GetLastError();
  EXPECT_EQ(ReadText(Srv1().driveD / "Program Files" / "x"), "payload");

  ASSERT_EQ(WNetCancelConnectionA(access, TRUE), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(GetDriveTypeA("E:\\"), DRIVE_NO_ROOT_DIR);
  EXPECT_EQ(GetFileAttributesA("E:\\Program Files\\x"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(WNetCancelConnectionA(access, TRUE), static_cast<DWORD>(ERROR_NOT_CONNECTED));
}

}  // namespace
