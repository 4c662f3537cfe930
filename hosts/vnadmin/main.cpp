// vnadmin: the administrator's command line. Looks after this machine and the
// others of the network without the console, one verb per run, for people and
// scripts alike (AdminCommand.h; the output formats are in docs/vnadmin.md).
//
//   vnadmin [--home DIR] VERB [ARGUMENTS...]
//
// Exit status: 0 on success, 1 when a call failed (stderr has the system's
// text for its code), 2 for a bad command line (stderr has the usage), 3 from
// "status" when this machine's service does not run.
#include <iostream>
#include <string>
#include <vector>

#include "hosts/vnadmin/AdminCommand.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  const int status = vn::admin::RunVnAdmin(args, std::cout, std::cerr);
  std::cout.flush();
  return status;
}
