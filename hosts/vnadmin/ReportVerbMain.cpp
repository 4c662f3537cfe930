// vnreport: the `report` verb of vnadmin as a program of its own, until the
// verb joins vnadmin's others. `vnreport ARGS` is `vnadmin report ARGS`.
#include <iostream>
#include <string>
#include <vector>

#include "hosts/vnadmin/ReportVerb.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  return vn::vnadmin::Report(args, std::cout, std::cerr);
}
