// vnsetup: sets this machine up as a management station and reporting server
// (ProductSetup.h), once; run again, it changes nothing.
//
//   vnsetup [--home DIR] [--server PATH]
//
// --server names the VNSrv program to install (default: the one beside vnsetup).
#include <filesystem>
#include <iostream>
#include <string_view>
#include <system_error>

#include "hosts/vnsetup/ProductSetup.h"
#include "platform/machine/Machine.h"

int main(int argc, char** argv) {
  vn::vnsetup::SetupOptions options;
  std::error_code error;
  options.serverProgram = std::filesystem::read_symlink("/proc/self/exe", error).parent_path() / "VNSrv";
  for (int i = 1; i < argc; ++i) {
    const std::string_view option = argv[i];
    if ((option == "--home" || option == "--server") && i + 1 < argc) {
      const std::filesystem::path value = argv[++i];
      if (option == "--home") {
        vn::SetMachineHome(value);
      } else {
        options.serverProgram = value;
      }
    } else {
      std::cerr << "usage: vnsetup [--home DIR] [--server PATH]\n";
      return 2;
    }
  }
  std::cout << "vnsetup: setting up " << vn::LocalComputerName() << " as management station and server\n";
  return vn::vnsetup::SetUpThisMachine(options, std::cout, std::cerr) == 0 ? 0 : 1;
}
