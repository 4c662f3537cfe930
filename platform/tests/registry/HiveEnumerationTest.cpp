// Enumerating a key by index while another connection to the hive changes
// it: on this machine, and on another machine through its service.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/core/AsciiText.h"
#include "platform/hive/LocalHive.h"
#include "platform/registry/Registry.h"
#include "testing/MachineNetwork.h"
#include "testing/TempMachineHome.h"

namespace {

namespace fs = std::filesystem;

constexpr int kStable = 200;
// A pass that goes on this long has looped.
constexpr DWORD kMaxSteps = 20'000;

std::string Numbered(const char* prefix, int i, const char* suffix = "") {
  char name[32];
  std::snprintf(name, sizeof name, "%s%03d%s", prefix, i, suffix);
  return name;
}

// Changes HKLM\Enum through a connection of its own, until it goes: subkeys
// whose names sort between the stable ones ("S004x") and values written and
// deleted again, so entries before and after any position come and go.
class Churn {
 public:
  explicit Churn(const fs::path& hiveFile) {
    EXPECT_EQ(vn::LocalHive::Open(hiveFile, &m_hive), 0);
    EXPECT_EQ(m_hive->OpenKey(vn::kRootKey, "Enum", &m_key), 0);
    m_thread = std::thread([this] {
      const BYTE data[] = {1, 2, 3};
      for (int i = 0; !m_stop.load(); i = (i + 7) % kStable) {
        vn::KeyId added = 0;
        const std::string key = Numbered("S", i, "x");
        const std::string value = Numbered("W", i % 10);
        if (m_hive->CreateKey(m_key, key, &added, nullptr) == 0) ++m_changes;
        if (m_hive->SetValue(m_key, value, REG_BINARY, data, sizeof data) == 0) ++m_changes;
        if (m_hive->DeleteKey(m_key, Numbered("S", (i + 100) % kStable, "x")) == 0) ++m_changes;
        if (m_hive->DeleteValue(m_key, Numbered("W", (i + 5) % 10)) == 0) ++m_changes;
      }
    });
  }
  ~Churn() {
    m_stop = true;
    m_thread.join();
  }
  long Changes() const { return m_changes.load(); }

 private:
  std::shared_ptr<vn::LocalHive> m_hive;
  vn::KeyId m_key = 0;
  std::atomic<bool> m_stop{false};
  std::atomic<long> m_changes{0};
  std::thread m_thread;
};

// Fills HKLM\Enum on the machine `root` names: S000... subkeys and V000... values.
void Fill(HKEY root) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(root, "Enum", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr), 0);
  for (int i = 0; i < kStable; ++i) {
    HKEY sub = nullptr;
    ASSERT_EQ(RegCreateKeyExA(key, Numbered("S", i).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &sub, nullptr), 0);
    RegCloseKey(sub);
    const DWORD data = static_cast<DWORD>(i);
    ASSERT_EQ(RegSetValueExA(key, Numbered("V", i).c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data),
                             sizeof data),
              0);
  }
  RegCloseKey(key);
}

// Passes over HKLM\Enum's subkeys and values while a Churn changes them:
// every stable name once, in order; subkeys never repeat (their names only
// grow); every pass ends.
void EnumerateUnderChange(HKEY root, const fs::path& hiveFile) {
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(root, "Enum", 0, KEY_READ, &key), 0);
  Churn churn(hiveFile);
  for (int pass = 0; pass < 6; ++pass) {
    SCOPED_TRACE("pass " + std::to_string(pass));
    std::vector<std::string> keys, values;
    char name[256];
    DWORD index = 0;
    for (DWORD cch = sizeof name; index < kMaxSteps; ++index, cch = sizeof name) {
      const LONG error = RegEnumKeyExA(key, index, name, &cch, nullptr, nullptr, nullptr, nullptr);
      if (error == ERROR_NO_MORE_ITEMS) break;
      ASSERT_EQ(error, 0);
      keys.emplace_back(name, cch);
    }
    ASSERT_LT(index, kMaxSteps) << "the subkeys' pass did not end";
    for (DWORD cch = sizeof name; index < 2 * kMaxSteps; ++index, cch = sizeof name) {
      const LONG error = RegEnumValueA(key, static_cast<DWORD>(values.size()), name, &cch, nullptr, nullptr, nullptr,
                                       nullptr);
      if (error == ERROR_NO_MORE_ITEMS) break;
      ASSERT_EQ(error, 0);
      values.emplace_back(name, cch);
    }
    ASSERT_LT(index, 2 * kMaxSteps) << "the values' pass did not end";

    for (std::size_t i = 1; i < keys.size(); ++i)
      ASSERT_TRUE(vn::LessIgnoringCase(keys[i - 1], keys[i])) << keys[i - 1] << " then " << keys[i];
    std::vector<std::string> stableKeys, stableValues;
    for (const auto& k : keys)
      if (k.size() == 4) stableKeys.push_back(k);
    for (const auto& v : values)
      if (v[0] == 'V') stableValues.push_back(v);
    ASSERT_EQ(stableKeys.size(), static_cast<std::size_t>(kStable));
    ASSERT_EQ(stableValues.size(), static_cast<std::size_t>(kStable));
    for (int i = 0; i < kStable; ++i) {
      EXPECT_EQ(stableKeys[i], Numbered("S", i));
      EXPECT_EQ(stableValues[i], Numbered("V", i));
    }
  }
  EXPECT_GT(churn.Changes(), 0) << "the hive changed during the passes";
  RegCloseKey(key);
}

TEST(HiveEnumerationTest, PassesOverAChangingKeySeeEveryStableNameOnceAndEnd) {
  {
    SCOPED_TRACE("this machine");
    vn::testing::TempMachineHome home;
    Fill(HKEY_LOCAL_MACHINE);
    EnumerateUnderChange(HKEY_LOCAL_MACHINE, home.path() / "registry.db");
  }
  {
    SCOPED_TRACE("another machine, through its service");
    vn::testing::MachineNetwork net("TESTDOM");
    const auto& srv1 = net.Add({"SRV1", "TESTDOM", vn::MachineRole::Server, {}});
    ASSERT_TRUE(net.Start("SRV1"));
    HKEY remote = nullptr;
    ASSERT_EQ(RegConnectRegistryA("\\\\SRV1", HKEY_LOCAL_MACHINE, &remote), 0);
    Fill(remote);
    EnumerateUnderChange(remote, srv1.home / "registry.db");
    RegCloseKey(remote);
  }
}

}  // namespace
