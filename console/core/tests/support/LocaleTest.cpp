// Windows names compare without case by ASCII letters only, whatever the
// locale of the process. Qt sets the user's locale at start, and under a
// Turkish one the C library does not fold 'i' to 'I' (nor, in ISO-8859-9,
// count only ASCII letters as letters): every name below would be missed.
// The locales are compiled into the build tree (VN_TEST_LOCALES) from the
// sources of Debian's "locales" package.
#include <gtest/gtest.h>

#include <clocale>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <utility>

#include "console/core/reports/ReportCatalogue.h"
#include "platform/machine/Machine.h"
#include "platform/net/Files.h"
#include "platform/registry/Registry.h"
#include "testing/TempMachineHome.h"

namespace vn::console {
namespace {

namespace fs = std::filesystem;

// Runs the process under `name` from the test locales until it ends.
class LocaleScope {
 public:
  explicit LocaleScope(const char* name) {
    if (const char* path = std::getenv("LOCPATH")) m_previousPath = path;
    m_previous = std::setlocale(LC_ALL, nullptr);
    ::setenv("LOCPATH", VN_TEST_LOCALES, 1);
    m_active = std::setlocale(LC_ALL, name) != nullptr;
  }
  ~LocaleScope() {
    std::setlocale(LC_ALL, m_previous.c_str());
    if (m_previousPath)
      ::setenv("LOCPATH", m_previousPath->c_str(), 1);
    else
      ::unsetenv("LOCPATH");
  }
  LocaleScope(const LocaleScope&) = delete;
  LocaleScope& operator=(const LocaleScope&) = delete;

  bool active() const { return m_active; }

 private:
  std::string m_previous;
  std::optional<std::string> m_previousPath;
  bool m_active = false;
};

// The DWORD value `name` of the key `path` below `root`, or the error code.
LONG ReadDword(HKEY root, const char* path, const char* name, DWORD* value) {
  HKEY key = nullptr;
  if (const LONG error = RegOpenKeyExA(root, path, 0, KEY_READ, &key)) return error;
  DWORD size = sizeof *value;
  const LONG error = RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size);
  RegCloseKey(key);
  return error;
}

TEST(LocaleTest, NamesMatchWithoutCaseUnderTurkishLocales) {
  for (const char* locale : {"tr_TR.UTF-8", "tr_TR.ISO-8859-9"}) {
    SCOPED_TRACE(locale);
    vn::testing::TempMachineHome home("IZMIRPC");
    const fs::path drive = home.path() / "i";
    fs::create_directories(drive / "Listing");
    std::ofstream(drive / "Listing" / "items.ini") << "[List]\n";
    std::ofstream(home.path() / "machine.ini") << "[Machine]\nName = IZMIRPC\n"
                                               << "[Drives]\ni = " << drive.string() << "\n"
                                               << "[Shares]\nArchive = I:\\Listing\n";
    HKEY created = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vornal\\Lists", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &created, nullptr),
              ERROR_SUCCESS);
    const DWORD items = 12;
    ASSERT_EQ(RegSetValueExA(created, "Items", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&items), sizeof items),
              ERROR_SUCCESS);
    RegCloseKey(created);

    LocaleScope scope(locale);
    ASSERT_TRUE(scope.active()) << locale << " is not in " << VN_TEST_LOCALES
                                << ": install Debian's \"locales\" package (scripts/install-deps) and build again";
    ASSERT_NE(std::toupper('i'), 'I') << "not a Turkish locale: this test would prove nothing";

    // The report catalogue.
    EXPECT_EQ(ReportIndexFromName("PARTITION SUMMARY"), 0);
    EXPECT_EQ(ReportIndexFromName("files with undefined ace's"), 16);

    // This machine by its own name in another case, and its registry through it.
    EXPECT_TRUE(vn::IsLocalMachineName("izmirpc"));
    EXPECT_TRUE(vn::IsLocalMachineName("\\\\IzmirPc"));
    HKEY connected = nullptr;
    ASSERT_EQ(RegConnectRegistryA("\\\\izmirpc", HKEY_LOCAL_MACHINE, &connected), ERROR_SUCCESS);
    const std::pair<const char*, const char*> spellings[] = {{"software\\vornal\\LISTS", "ITEMS"},
                                                             {"SOFTWARE\\VORNAL\\lists", "items"}};
    for (const auto& [path, name] : spellings) {
      DWORD value = 0;
      EXPECT_EQ(ReadDword(connected, path, name, &value), ERROR_SUCCESS) << path << " " << name;
      EXPECT_EQ(value, items) << path << " " << name;
    }
    RegCloseKey(connected);

    // A drive letter, path components, a search pattern and a share, each in
    // another case than the configuration and the disk hold them.
    EXPECT_EQ(GetDriveTypeA("i:\\"), static_cast<UINT>(DRIVE_FIXED));
    EXPECT_NE(GetFileAttributesA("I:\\LISTING\\ITEMS.INI"), INVALID_FILE_ATTRIBUTES) << GetLastError();
    WIN32_FIND_DATAA found{};
    HANDLE search = FindFirstFileA("i:\\listing\\ITEM?.I*", &found);
    ASSERT_NE(search, INVALID_HANDLE_VALUE) << GetLastError();
    EXPECT_STREQ(found.cFileName, "items.ini");
    FindClose(search);
    EXPECT_EQ(GetDriveTypeA("\\\\IZMIRPC\\ARCHIVE\\"), static_cast<UINT>(DRIVE_REMOTE));
    EXPECT_NE(GetFileAttributesA("\\\\izmirpc\\archive\\items.ini"), INVALID_FILE_ATTRIBUTES) << GetLastError();
  }
}

}  // namespace
}  // namespace vn::console
