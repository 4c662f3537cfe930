// registry_writer PREFIX CALLS: writes to the hive of the local machine
// ($VORNAL_HOME), one registry call at a time, and prints the number of each
// call on a line of its own once the call has returned. CALLS = 0 writes until
// the process is killed. Call i (from 0):
//   i % 25 == 0   RegCreateKeyExA  PREFIX\K<i / 25>
//   otherwise     RegSetValueExA   V<i> = REG_SZ "PREFIX:<i>" (with terminator)
//                                  in the key created last
// Exits 1, saying why on stderr, when a call fails.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/registry/Registry.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: registry_writer PREFIX CALLS\n");
    return 2;
  }
  const std::string prefix = argv[1];
  const unsigned long calls = std::strtoul(argv[2], nullptr, 10);
  HKEY key = nullptr;
  for (unsigned long i = 0; calls == 0 || i < calls; ++i) {
    LONG error = ERROR_SUCCESS;
    if (i % 25 == 0) {
      if (key) RegCloseKey(key);
      const std::string path = prefix + "\\K" + std::to_string(i / 25);
      error = RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr);
    } else {
      std::string name = "V";
      name += std::to_string(i);
      const std::string data = prefix + ":" + std::to_string(i);
      error = RegSetValueExA(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                             static_cast<DWORD>(data.size() + 1));
    }
    if (error != ERROR_SUCCESS) {
      std::fprintf(stderr, "registry_writer: call %lu failed with %d\n", i, static_cast<int>(error));
      return 1;
    }
    std::printf("%lu\n", i);
    std::fflush(stdout);
  }
  return RegCloseKey(key) == ERROR_SUCCESS ? 0 : 1;
}
