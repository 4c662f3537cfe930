#pragma once
// One field of a process's /proc/PID/status in kB ("VmHWM:", "RssFile:",
// ...): what the benchmarks print beside their times. 0 when not found.

#include <cstdlib>
#include <fstream>
#include <string>
#include <string_view>

namespace vn::bench {

inline long StatusKb(std::string_view key, const std::string& pid = "self") {
  std::ifstream in("/proc/" + pid + "/status");
  for (std::string line; std::getline(in, line);)
    if (line.starts_with(key)) return std::atol(line.c_str() + key.size());
  return 0;
}

}  // namespace vn::bench
