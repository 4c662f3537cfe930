#include <gtest/gtest.h>

#include <signal.h>

#include <QTemporaryDir>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/core/Process.h"
#include "platform/core/UniqueFd.h"
#include "platform/core/Handles.h"
#include "platform/hive/LocalHive.h"
#include "platform/ipc/Sync.h"
#include "platform/net/Files.h"
#include "platform/registry/Registry.h"
#include "testing/TempMachineHome.h"
#include "testing/Wait.h"

namespace {

using Key = std::unique_ptr<HKEY__, LONG (*)(HKEY)>;
using Names = std::vector<std::string>;

Key Create(HKEY parent, const std::string& path, DWORD* disposition = nullptr) {
  HKEY key = nullptr;
  EXPECT_EQ(RegCreateKeyExA(parent, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, disposition), 0)
      << path;
  return Key(key, &RegCloseKey);
}

LONG Open(HKEY parent, const char* path, HKEY* key, REGSAM access = KEY_ALL_ACCESS) {
  return RegOpenKeyExA(parent, path, 0, access, key);
}

LONG Set(HKEY key, const char* name, const std::string& bytes, DWORD type = REG_SZ) {
  return RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                        static_cast<DWORD>(bytes.size()));
}

std::string Get(HKEY key, const char* name) {
  BYTE buffer[256];
  DWORD size = sizeof buffer;
  const LONG error = RegQueryValueExA(key, name, nullptr, nullptr, buffer, &size);
  return error ? "error " + std::to_string(error) : std::string(reinterpret_cast<char*>(buffer), size);
}

Names SubKeys(HKEY key) {
  Names names;
  char name[256];
  for (DWORD cch = sizeof name; RegEnumKeyExA(key, names.size(), name, &cch, nullptr, nullptr, nullptr, nullptr) == 0;
       cch = sizeof name)
    names.emplace_back(name, cch);
  return names;
}

Names ValueNames(HKEY key) {
  Names names;
  char name[256];
  for (DWORD cch = sizeof name; RegEnumValueA(key, names.size(), name, &cch, nullptr, nullptr, nullptr, nullptr) == 0;
       cch = sizeof name)
    names.emplace_back(name, cch);
  return names;
}

TEST(RegistryTest, NamesMatchWithoutCaseKeepTheirCaseAndEnumerateInStableOrder) {
  vn::testing::TempMachineHome home;
  DWORD disposition = 0;
  Key key = Create(HKEY_LOCAL_MACHINE, "Software\\Halvard", &disposition);
  EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
  Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\HALVARD", &disposition);
  EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
  EXPECT_EQ(SubKeys(Create(HKEY_LOCAL_MACHINE, "software").get()), Names{"Halvard"});

  for (const char* name : {"beta", "_under", "Alpha", "\xC3\xA9", "\xC3\x89"}) {
    Create(key.get(), name, &disposition);
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY) << name;
  }
  // Order as in upper case ('_' after the letters); bytes beyond ASCII as they are.
  EXPECT_EQ(SubKeys(key.get()), (Names{"Alpha", "beta", "_under", "\xC3\x89", "\xC3\xA9"}));

  for (const char* name : {"z", "Mode", "m"}) ASSERT_EQ(Set(key.get(), name, name), 0);
  ASSERT_EQ(Set(key.get(), "MODE", "again"), 0);
  EXPECT_EQ(ValueNames(key.get()), (Names{"z", "Mode", "m"}));
  EXPECT_EQ(Get(key.get(), "mode"), "again");
  ASSERT_EQ(RegDeleteValueA(key.get(), "mODE"), 0);
  ASSERT_EQ(Set(key.get(), "MODE", "new"), 0);
  EXPECT_EQ(ValueNames(key.get()), (Names{"z", "m", "MODE"}));

  // Emptying a key by deleting whatever index 0 is, over and over.
  char name[256];
  DWORD cch = sizeof name;
  int keys = 0, values = 0;
  for (; RegEnumKeyExA(key.get(), 0, name, &cch, nullptr, nullptr, nullptr, nullptr) == 0; cch = sizeof name, ++keys)
    ASSERT_EQ(RegDeleteKeyA(key.get(), name), 0);
  for (; RegEnumValueA(key.get(), 0, name, &cch, nullptr, nullptr, nullptr, nullptr) == 0; cch = sizeof name, ++values)
    ASSERT_EQ(RegDeleteValueA(key.get(), name), 0);
  EXPECT_EQ(keys, 5);
  EXPECT_EQ(values, 3);
}

TEST(RegistryTest, SubKeyPaths) {
  vn::testing::TempMachineHome home;
  ASSERT_EQ(Set(Create(HKEY_LOCAL_MACHINE, "P\\Q").get(), "Which", "Q"), 0);
  const std::string longest(255, 'n'), tooLong(256, 'n');
  struct Case {
    const char* path;
    LONG opened;   // by RegOpenKeyExA; "Which" tells the key: "Q" or the root
    LONG created;  // by RegCreateKeyExA, which then opens the same path
  };
  const Case cases[] = {
      {"P\\Q", 0, 0},
      {"p\\q\\", 0, 0},
      {"P\\\\\\Q", 0, 0},
      {"", 0, 0},
      {nullptr, 0, ERROR_INVALID_PARAMETER},
      {"\\P\\Q", ERROR_INVALID_PARAMETER, ERROR_INVALID_PARAMETER},
      {"A\\\\B\\", ERROR_FILE_NOT_FOUND, 0},
      {longest.c_str(), ERROR_FILE_NOT_FOUND, 0},
      {tooLong.c_str(), ERROR_INVALID_PARAMETER, ERROR_INVALID_PARAMETER},
  };
  for (const Case& c : cases) {
    const std::string path = c.path ? c.path : "(null)";
    HKEY key = reinterpret_cast<HKEY>(1);
    ASSERT_EQ(Open(HKEY_LOCAL_MACHINE, c.path, &key), c.opened) << path;
    if (c.opened) {
      EXPECT_EQ(key, nullptr);
    } else {
      EXPECT_EQ(Get(key, "Which"), path.find_first_of("Qq") != std::string::npos ? "Q" : "error 2") << path;
      RegCloseKey(key);
    }
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, c.path, 0, nullptr, 0, KEY_READ, nullptr, &key, nullptr), c.created)
        << path;
    if (c.created) continue;
    RegCloseKey(key);
    EXPECT_EQ(Open(HKEY_LOCAL_MACHINE, c.path, &key), 0) << path;
    RegCloseKey(key);
  }
  EXPECT_EQ(Open(HKEY_LOCAL_MACHINE, "P", nullptr), ERROR_INVALID_PARAMETER);
}

TEST(RegistryTest, QueryValueFillsBuffersExactlyAsLargeAsTheData) {
  vn::testing::TempMachineHome home;
  Key key = Create(HKEY_LOCAL_MACHINE, "Data");
  struct Case {
    const char* name;
    DWORD type;
    std::string data;
  };
  const Case cases[] = {
      {"sz without terminator", REG_SZ, "abc"},
      {"sz", REG_SZ, std::string("ab\0", 3)},
      {"binary", REG_BINARY, std::string("\0\1\0\0\2\0", 6)},
      {"short dword", REG_DWORD, std::string("\7\0", 2)},
      {"type of its own", 0x4242, "x"},
      {"empty", REG_BINARY, ""},
      {"", REG_SZ, "default"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(Set(key.get(), c.name, c.data, c.type), 0);
    const DWORD size = c.data.size();
    DWORD type = 0, cb = 1000;
    EXPECT_EQ(RegQueryValueExA(key.get(), c.name, nullptr, &type, nullptr, nullptr), 0);
    EXPECT_EQ(type, c.type);
    EXPECT_EQ(RegQueryValueExA(key.get(), c.name, nullptr, nullptr, nullptr, &cb), 0);
    EXPECT_EQ(cb, size);

    // Exactly the size fits; one byte less is refused with the size needed,
    // and nothing is written past the buffer either way.
    for (const DWORD offered : {size, size - 1}) {
      if (offered > size) continue;
      std::string buffer(size + 8, '\xEE');
      cb = offered;
      const LONG error =
          RegQueryValueExA(key.get(), c.name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer.data()), &cb);
      EXPECT_EQ(error, offered == size ? 0 : ERROR_MORE_DATA);
      EXPECT_EQ(cb, size);
      EXPECT_EQ(buffer.substr(offered), std::string(size + 8 - offered, '\xEE'));
      EXPECT_EQ(buffer.substr(0, offered), error ? buffer.substr(0, offered) : c.data);
    }
  }
  EXPECT_EQ(Get(key.get(), nullptr), "default");
  EXPECT_EQ(Get(key.get(), "missing"), "error 2");
}

TEST(RegistryTest, InfoAndEnumerationReportSizes) {
  vn::testing::TempMachineHome home;
  Key key = Create(HKEY_LOCAL_MACHINE, "Sizes");
  Create(key.get(), "a");
  Create(key.get(), "Twelve_chars");
  ASSERT_EQ(Set(key.get(), "Name5", "12345678", REG_BINARY), 0);
  ASSERT_EQ(Set(key.get(), "LongerName", "123"), 0);

  DWORD counts[5] = {};
  FILETIME written{};
  ASSERT_EQ(RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, &counts[0], &counts[1], nullptr, &counts[2],
                             &counts[3], &counts[4], nullptr, &written),
            0);
  EXPECT_EQ(std::vector<DWORD>(counts, counts + 5), (std::vector<DWORD>{2, 12, 2, 10, 8}));
  EXPECT_GT(written.dwHighDateTime, 0x01D5C03Au);  // after 2020, in 100 ns since 1601

  char name[16];
  DWORD cch = 12;
  EXPECT_EQ(RegEnumKeyExA(key.get(), 1, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
  cch = 13;
  EXPECT_EQ(RegEnumKeyExA(key.get(), 1, name, &cch, nullptr, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(std::string(name) + "/" + std::to_string(cch), "Twelve_chars/12");
  EXPECT_EQ(RegEnumKeyExA(key.get(), 2, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);

  BYTE data[8];
  DWORD type = 0, cb = 7;
  cch = 5;
  EXPECT_EQ(RegEnumValueA(key.get(), 0, name, &cch, nullptr, &type, data, &cb), ERROR_MORE_DATA);
  cch = 6;
  EXPECT_EQ(RegEnumValueA(key.get(), 0, name, &cch, nullptr, &type, data, &cb), ERROR_MORE_DATA);
  EXPECT_EQ(std::string(name) + "/" + std::to_string(type) + "/" + std::to_string(cb), "Name5/3/8");
  cch = 6;
  EXPECT_EQ(RegEnumValueA(key.get(), 0, name, &cch, nullptr, nullptr, data, &cb), 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(data), cb), "12345678");
  EXPECT_EQ(RegEnumValueA(key.get(), 2, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
}

TEST(RegistryTest, DeletingKeys) {
  vn::testing::TempMachineHome home;
  Key child = Create(HKEY_LOCAL_MACHINE, "Tree\\Parent\\Child");
  ASSERT_EQ(Set(child.get(), "v", "1"), 0);
  EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Tree\\Parent"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Tree\\Missing"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, ""), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteValueA(child.get(), "missing"), ERROR_FILE_NOT_FOUND);
  ASSERT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "tree\\PARENT\\child"), 0);

  // A new key of the same name is another key: the old handle stays dead, and
  // the values went with the old key.
  DWORD disposition = 0;
  Key recreated = Create(HKEY_LOCAL_MACHINE, "Tree\\Parent\\Child", &disposition);
  EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
  EXPECT_EQ(ValueNames(recreated.get()), Names{});
  HKEY out = nullptr;
  char name[8];
  DWORD size = sizeof name;
  EXPECT_EQ(Set(child.get(), "v", "2"), ERROR_KEY_DELETED);
  EXPECT_EQ(Get(child.get(), "v"), "error 1018");
  EXPECT_EQ(RegEnumKeyExA(child.get(), 0, name, &size, nullptr, nullptr, nullptr, nullptr), ERROR_KEY_DELETED);
  EXPECT_EQ(RegCreateKeyExA(child.get(), "x", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &out, nullptr),
            ERROR_KEY_DELETED);

  // A key may delete itself through its own handle once it has no subkeys.
  Key parent = Create(HKEY_LOCAL_MACHINE, "Tree\\Parent");
  ASSERT_EQ(RegDeleteKeyA(recreated.get(), ""), 0);
  EXPECT_EQ(RegDeleteKeyA(parent.get(), ""), 0);
  EXPECT_EQ(SubKeys(Create(HKEY_LOCAL_MACHINE, "Tree").get()), Names{});
}

TEST(RegistryTest, HandlesOnlyDoWhatTheirAccessAllows) {
  vn::testing::TempMachineHome home;
  Create(HKEY_LOCAL_MACHINE, "Guarded\\Sub");
  Key full = Create(HKEY_LOCAL_MACHINE, "Guarded");
  HKEY out = nullptr;
  char name[16];
  DWORD size = sizeof name;
  const std::pair<REGSAM, std::function<LONG(HKEY)>> operations[] = {
      {KEY_QUERY_VALUE, [](HKEY k) { return RegQueryValueExA(k, "v", nullptr, nullptr, nullptr, nullptr); }},
      {KEY_QUERY_VALUE, [&](HKEY k) { return RegEnumValueA(k, 0, name, &size, nullptr, nullptr, nullptr, nullptr); }},
      {KEY_ENUMERATE_SUB_KEYS,
       [&](HKEY k) { return RegEnumKeyExA(k, 0, name, &size, nullptr, nullptr, nullptr, nullptr); }},
      {KEY_SET_VALUE, [](HKEY k) { return Set(k, "w", "1"); }},
      {KEY_SET_VALUE, [](HKEY k) { return RegDeleteValueA(k, "w"); }},
      {KEY_CREATE_SUB_KEY,
       [&](HKEY k) { return RegCreateKeyExA(k, "New", 0, nullptr, 0, KEY_READ, nullptr, &out, nullptr); }},
      {0, [&](HKEY k) { return RegCreateKeyExA(k, "Sub", 0, nullptr, 0, KEY_READ, nullptr, &out, nullptr); }},
      {0, [](HKEY k) { return RegDeleteKeyA(k, "Gone"); }},
  };
  // Generic rights map to key rights; KEY_READ never writes.
  const std::pair<REGSAM, REGSAM> accesses[] = {
      {KEY_READ, KEY_READ}, {KEY_SET_VALUE, KEY_SET_VALUE}, {KEY_WRITE, KEY_WRITE}, {0x80000000, KEY_READ}};
  for (const auto& [asked, granted] : accesses) {
    HKEY key = nullptr;
    ASSERT_EQ(Open(HKEY_LOCAL_MACHINE, "Guarded", &key, asked), 0);
    for (std::size_t i = 0; i < std::size(operations); ++i) {
      ASSERT_EQ(Set(full.get(), "v", "1") | Set(full.get(), "w", "1"), 0);
      Create(full.get(), "Gone");
      const LONG deleted = RegDeleteKeyA(full.get(), "New");
      ASSERT_TRUE(deleted == ERROR_SUCCESS || deleted == ERROR_FILE_NOT_FOUND) << deleted;
      size = sizeof name;
      const REGSAM needed = operations[i].first;
      EXPECT_EQ(operations[i].second(key), (granted & needed) == needed ? 0 : ERROR_ACCESS_DENIED)
          << "operation " << i << ", access " << asked;
      if (out) RegCloseKey(std::exchange(out, nullptr));
    }
    RegCloseKey(key);
  }
}

TEST(RegistryTest, BadHandlesAndMissingOutputsAreRefused) {
  vn::testing::TempMachineHome home;
  const HKEY closed = Create(HKEY_LOCAL_MACHINE, "Closed").get();  // closed at once
  Key later = Create(HKEY_LOCAL_MACHINE, "Later");                 // must not bring it back
  HKEY out = nullptr;
  for (const HKEY bad : {closed, reinterpret_cast<HKEY>(0x12345), HKEY{}, HKEY_CURRENT_USER, HKEY_USERS}) {
    EXPECT_EQ(Open(bad, "", &out), ERROR_INVALID_HANDLE);
    EXPECT_EQ(Set(bad, "v", "1"), ERROR_INVALID_HANDLE);
    EXPECT_EQ(Get(bad, "v"), "error 6");
    EXPECT_EQ(RegDeleteKeyA(bad, "x"), ERROR_INVALID_HANDLE);
  }
  for (const HKEY bad : {closed, reinterpret_cast<HKEY>(0x12345), HKEY{}})
    EXPECT_EQ(RegCloseKey(bad), ERROR_INVALID_HANDLE);
  // Closing a predefined key does nothing, as on Windows.
  for (const HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER, HKEY_USERS}) EXPECT_EQ(RegCloseKey(root), 0);
  EXPECT_EQ(Open(HKEY_LOCAL_MACHINE, "Later", &out), 0);
  RegCloseKey(out);

  BYTE data[4];
  DWORD size = sizeof data;
  EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "x", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, nullptr, nullptr),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegQueryValueExA(later.get(), "v", nullptr, nullptr, data, nullptr), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegEnumKeyExA(later.get(), 0, nullptr, &size, nullptr, nullptr, nullptr, nullptr), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegSetValueExA(later.get(), "v", 0, REG_BINARY, nullptr, 4), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegConnectRegistryA(nullptr, HKEY_LOCAL_MACHINE, nullptr), ERROR_INVALID_PARAMETER);
}

TEST(RegistryTest, KeyHandlesNeverShareANumberWithOtherHandles) {
  vn::testing::TempMachineHome home;
  Key software = Create(HKEY_LOCAL_MACHINE, "SOFTWARE");
  // Enough keys to count past 0x10000 from 0x1000 in steps of four, with
  // events and searches opened among them, every one kept open.
  constexpr int kKeys = 16000;
  std::vector<HKEY> keys;
  std::vector<HANDLE> others;
  std::set<std::uintptr_t> numbers;
  for (int i = 0; i < kKeys; ++i) {
    if (i % 400 == 0) {
      others.push_back(CreateEventA(nullptr, TRUE, FALSE, nullptr));
      WIN32_FIND_DATAA found{};
      others.push_back(FindFirstFileA("C:\\*", &found));
    }
    HKEY key = nullptr;
    ASSERT_EQ(Open(software.get(), "", &key), 0) << i;
    keys.push_back(key);
  }
  for (const HKEY key : keys) {
    const auto number = reinterpret_cast<std::uintptr_t>(key);
    EXPECT_TRUE(numbers.insert(number).second) << std::hex << number;
    EXPECT_LT(number, reinterpret_cast<std::uintptr_t>(HKEY_CLASSES_ROOT)) << "a predefined root";
  }
  for (const HANDLE other : others) {
    ASSERT_NE(other, nullptr);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(numbers.insert(reinterpret_cast<std::uintptr_t>(other)).second)
        << std::hex << reinterpret_cast<std::uintptr_t>(other) << " is a key handle too";
  }
  for (const HKEY key : keys) EXPECT_EQ(RegCloseKey(key), 0);
  for (std::size_t i = 0; i < others.size(); i += 2) {
    EXPECT_TRUE(CloseHandle(others[i]));
    EXPECT_TRUE(FindClose(others[i + 1]));
  }
}

TEST(RegistryTest, ConnectingGivesThisMachineItsOwnHiveAndAsksTheConnectorForOthers) {
  vn::testing::TempMachineHome home("TESTPC");
  HKEY root = nullptr;
  int connections = 0;
  for (const char* machine : {static_cast<const char*>(nullptr), "", "TESTPC", "testpc", "\\\\TestPc"}) {
    ASSERT_EQ(RegConnectRegistryA(machine, HKEY_LOCAL_MACHINE, &root), 0) << machine;
    Create(root, "Via" + std::to_string(++connections));
    EXPECT_EQ(RegCloseKey(root), 0);
    EXPECT_EQ(RegCloseKey(root), ERROR_INVALID_HANDLE);
  }
  EXPECT_EQ(SubKeys(HKEY_LOCAL_MACHINE).size(), 5u);
  for (const char* machine : {"OTHER", "\\\\TESTPC2"})
    EXPECT_EQ(RegConnectRegistryA(machine, HKEY_LOCAL_MACHINE, &root), ERROR_BAD_NETPATH) << machine;
  EXPECT_EQ(RegConnectRegistryA("TESTPC", HKEY_CURRENT_USER, &root), ERROR_INVALID_HANDLE);

  // Another machine's hive: a second local hive in a folder of its own.
  QTemporaryDir otherHome;
  LONG error = 0;
  const auto other = vn::OpenLocalHive(otherHome.path().toStdString(), &error);
  ASSERT_EQ(error, 0);
  Names asked;
  vn::SetRemoteRegistryConnector([&](std::string_view machine, std::shared_ptr<vn::RegistryHive>* hive) -> LONG {
    asked.emplace_back(machine);
    *hive = other;
    return machine == "LOCKED" ? ERROR_ACCESS_DENIED : 0;
  });
  const std::unique_ptr<void, void (*)(void*)> uninstall(&asked, [](void*) { vn::SetRemoteRegistryConnector({}); });
  EXPECT_EQ(RegConnectRegistryA("\\\\TESTPC", HKEY_LOCAL_MACHINE, &root), 0);
  RegCloseKey(root);
  EXPECT_EQ(RegConnectRegistryA("LOCKED", HKEY_LOCAL_MACHINE, &root), ERROR_ACCESS_DENIED);
  ASSERT_EQ(RegConnectRegistryA("\\\\Other", HKEY_LOCAL_MACHINE, &root), 0);
  EXPECT_EQ(asked, (Names{"LOCKED", "Other"}));
  ASSERT_EQ(Set(Create(root, "Software\\Remote").get(), "Where", "there"), 0);
  EXPECT_EQ(RegCloseKey(root), 0);

  vn::KeyId id = 0;
  vn::RegValue value;
  ASSERT_EQ(other->OpenKey(vn::kRootKey, "software\\remote", &id), 0);
  ASSERT_EQ(other->QueryValue(id, "where", &value), 0);
  EXPECT_EQ(std::string(value.data.begin(), value.data.end()), "there");
  EXPECT_EQ(Open(HKEY_LOCAL_MACHINE, "Software", &root), ERROR_FILE_NOT_FOUND);
}

TEST(RegistryTest, LocalMachineFollowsTheHomeWhileOpenHandlesStay) {
  vn::testing::TempMachineHome first;
  Key key = Create(HKEY_LOCAL_MACHINE, "Software\\First");
  {
    vn::testing::TempMachineHome second;
    HKEY out = nullptr;
    EXPECT_EQ(Open(HKEY_LOCAL_MACHINE, "Software\\First", &out), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(Set(key.get(), "Written", "while away"), 0);
  }
  EXPECT_EQ(Get(Create(HKEY_LOCAL_MACHINE, "Software\\First").get(), "Written"), "while away");
}

TEST(RegistryTest, DamagedOrUnusableHivesGiveErrors) {
  HKEY out = nullptr;
  {
    vn::testing::TempMachineHome home;
    std::ofstream(home.path() / "registry.db") << std::string(8192, 'x');
    EXPECT_EQ(Open(HKEY_LOCAL_MACHINE, "", &out), ERROR_BADDB);
    EXPECT_EQ(RegConnectRegistryA(nullptr, HKEY_LOCAL_MACHINE, &out), ERROR_BADDB);
  }
  {
    vn::testing::TempMachineHome home;
    std::filesystem::create_directory(home.path() / "registry.db");
    EXPECT_EQ(Open(HKEY_LOCAL_MACHINE, "", &out), ERROR_CANTOPEN);
  }
  // Pages overwritten after the hive was written: the schema on the first page
  // is intact, the keys and values behind it are not.
  QTemporaryDir dir;
  const std::filesystem::path file = dir.path().toStdString() + "/registry.db";
  std::shared_ptr<vn::LocalHive> hive;
  ASSERT_EQ(vn::LocalHive::Open(file, &hive), 0);
  vn::KeyId key = 0;
  ASSERT_EQ(hive->CreateKey(vn::kRootKey, "Full", &key, nullptr), 0);
  const std::vector<BYTE> data(1000, 7);
  for (int i = 0; i < 50; ++i) {
    std::string name = "v";
    name += std::to_string(i);
    ASSERT_EQ(hive->SetValue(key, name, 0, data.data(), 1000), 0);
  }
  hive.reset();
  const auto size = std::filesystem::file_size(file);
  std::fstream(file, std::ios::in | std::ios::out | std::ios::binary).seekp(4096) << std::string(size - 4096, '\xA5');
  ASSERT_EQ(vn::LocalHive::Open(file, &hive), 0);
  EXPECT_EQ(hive->OpenKey(vn::kRootKey, "Full", &key), ERROR_BADDB);
  EXPECT_EQ(hive->CheckIntegrity(), ERROR_REGISTRY_CORRUPT);
}

TEST(RegistryTest, ThreadsWriteThroughSharedAndOwnHandles) {
  vn::testing::TempMachineHome home;
  Key shared = Create(HKEY_LOCAL_MACHINE, "Shared");
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      Key own = Create(HKEY_LOCAL_MACHINE, "Thread" + std::to_string(t));
      for (int i = 0; i < 100; ++i) {
        const std::string name = std::to_string(t) + "-" + std::to_string(i);
        EXPECT_EQ(Set(own.get(), name.c_str(), name) | Set(shared.get(), name.c_str(), name), 0);
      }
    });
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(ValueNames(shared.get()).size(), 400u);
  EXPECT_EQ(ValueNames(Create(HKEY_LOCAL_MACHINE, "Thread3").get()).size(), 100u);
}

// A registry_writer process (see RegistryWriter.cpp) writing to the test's
// machine, with its standard output on a pipe to us.
struct Writer {
  pid_t pid = 0;
  FILE* out = nullptr;

  Writer(const std::string& prefix, int calls) {
    vn::PipeEnds output = vn::MakePipe();
    EXPECT_TRUE(output.read);
    vn::ProcessOptions options;
    options.program = VN_REGISTRY_WRITER;
    options.arguments = {prefix, std::to_string(calls)};
    options.output = vn::ChildStream::Descriptor(output.write.Get());
    std::string detail;
    EXPECT_EQ(vn::StartProcess(options, &pid, &detail), 0) << detail;
    out = ::fdopen(output.read.Release(), "r");
  }
  ~Writer() { std::fclose(out); }

  // The number of the next call reported complete; -1 at the end.
  long Next() {
    char line[32];
    return std::fgets(line, sizeof line, out) ? std::atol(line) : -1;
  }
  // The number of the last call reported complete, once the process has ended.
  long Drain(vn::ProcessExit* exit) {
    long last = -1;
    for (long n; (n = Next()) >= 0;) last = n;
    *exit = vn::WaitProcess(pid);
    return last;
  }
};

// Checks what the writer's call `i` wrote.
void ExpectCall(const std::string& prefix, long i) {
  HKEY key = nullptr;
  ASSERT_EQ(Open(HKEY_LOCAL_MACHINE, (prefix + "\\K" + std::to_string(i / 25)).c_str(), &key), 0) << i;
  const std::string expected = i % 25 ? prefix + ":" + std::to_string(i) + '\0' : "error 2";
  std::string name = "V";
  name += std::to_string(i);
  EXPECT_EQ(Get(key, name.c_str()), expected);
  RegCloseKey(key);
}

// Every key opens and enumerates, every value reads back; the number of values.
std::size_t ReadAll(HKEY key) {
  std::size_t count = 0;
  for (const std::string& name : ValueNames(key)) {
    std::vector<BYTE> data(1000);
    DWORD size = data.size();
    EXPECT_EQ(RegQueryValueExA(key, name.c_str(), nullptr, nullptr, data.data(), &size), 0) << name;
    ++count;
  }
  for (const std::string& name : SubKeys(key)) {
    HKEY sub = nullptr;
    EXPECT_EQ(Open(key, name.c_str(), &sub), 0) << name;
    count += ReadAll(sub);
    RegCloseKey(sub);
  }
  return count;
}

TEST(RegistryTest, ProcessesWriteOneHiveAtOnce) {
  vn::testing::TempMachineHome home;  // a new hive, which both create at once
  Writer first("First", 300), second("Second", 300);
  vn::ProcessExit firstExit, secondExit;
  EXPECT_EQ(first.Drain(&firstExit), 299);
  EXPECT_EQ(second.Drain(&secondExit), 299);
  EXPECT_TRUE(firstExit.Succeeded() && secondExit.Succeeded());
  for (long i = 0; i < 300; ++i) {
    ExpectCall("First", i);
    ExpectCall("Second", i);
  }
}

TEST(RegistryTest, KilledWriterLeavesEveryCompletedCallInAConsistentHive) {
  vn::testing::TempMachineHome home;
  const long killAfter[] = {3, 240, 410, 120};
  std::vector<long> last;
  for (const long stop : killAfter) {
    const std::string prefix = "Round" + std::to_string(last.size());
    Writer writer(prefix, 0);
    long n = -1;
    // Each completed call is visible to this process at once.
    while ((n = writer.Next()) >= 0 && n < stop) ExpectCall(prefix, n);
    vn::SignalProcess(writer.pid, SIGKILL);
    vn::ProcessExit exit;
    last.push_back(std::max(n, writer.Drain(&exit)));
    ASSERT_EQ(exit.signal, SIGKILL) << "the writer ended before it was killed: " << exit.code;
  }

  std::shared_ptr<vn::LocalHive> check;
  ASSERT_EQ(vn::LocalHive::Open(home.path() / "registry.db", &check), 0);
  EXPECT_EQ(check->CheckIntegrity(), 0);
  std::size_t completedValues = 0;
  for (std::size_t round = 0; round < last.size(); ++round) {
    for (long i = 0; i <= last[round]; ++i) ExpectCall("Round" + std::to_string(round), i);
    completedValues += last[round] - last[round] / 25;
  }
  // The call in flight at a kill may or may not have been committed.
  const std::size_t values = ReadAll(HKEY_LOCAL_MACHINE);
  EXPECT_GE(values, completedValues);
  EXPECT_LE(values, completedValues + last.size());
}

// A process writing in a tight loop and this one share the hive by turns:
// while this process makes its writes, the other makes about as many, not
// many times more (as it would if this one only got in when the other
// happened to pause).
TEST(RegistryTest, AWriterInATightLoopDoesNotStarveAnother) {
  vn::testing::TempMachineHome home;
  Key mine = Create(HKEY_LOCAL_MACHINE, "Mine");
  Writer hog("Hog", 0);
  std::atomic<long> hogCalls{0};
  std::thread counter([&] {
    while (hog.Next() >= 0) ++hogCalls;
  });
  ASSERT_TRUE(vn::testing::WaitUntil([&] { return hogCalls.load() > 50; }));
  constexpr long kMine = 400;
  const long before = hogCalls.load();
  for (long i = 0; i < kMine; ++i) ASSERT_EQ(Set(mine.get(), ("V" + std::to_string(i)).c_str(), "x"), 0);
  const long during = hogCalls.load() - before;
  vn::SignalProcess(hog.pid, SIGKILL);
  counter.join();
  vn::WaitProcess(hog.pid);
  EXPECT_GT(during, 0);
  EXPECT_LT(during, 2 * kMine) << "the other writer made " << during << " writes while this one made " << kMine;
  EXPECT_EQ(ValueNames(mine.get()).size(), static_cast<std::size_t>(kMine));
}

}  // namespace
