// The command line of VN, as a scheduled job hands it over: the input's lines
// are its arguments, and the whole input is also tried as one argument that
// holds a complete line (which VN splits by the Windows rules).
#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/FuzzTargets.h"
#include "hosts/VN/VNCommand.h"

namespace vn::fuzz {

int FuzzVNCommand(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> args;
  std::size_t start = 0;
  while (start <= text.size() && args.size() < 64) {
    const std::size_t end = std::min(text.find('\n', start), text.size());
    args.emplace_back(text.substr(start, end - start));
    start = end + 1;
  }
  host::VNCommand command;
  std::string error;
  (void)host::ParseVNCommand(args, &command, &error);
  (void)host::ParseVNCommand({std::string(text)}, &command, &error);
  return 0;
}

}  // namespace vn::fuzz
