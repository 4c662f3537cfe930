#include "testing/TestFiles.h"

#include <fstream>
#include <iterator>

#include "testing/Wait.h"

namespace vn::testing {

namespace fs = std::filesystem;

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteText(const fs::path& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

void WriteScript(const fs::path& dir, const std::string& name, const std::string& body) {
  fs::create_directories(dir);
  const fs::path path = dir / name;
  WriteText(path, "#!/bin/sh\n" + body);
  fs::permissions(path, fs::perms::owner_all | fs::perms::group_read | fs::perms::others_read);
}

int WaitForPidFile(const fs::path& path) {
  std::string text;
  if (!WaitUntil([&] { return (text = ReadText(path)).ends_with('\n'); })) return 0;
  return std::stoi(text);
}

std::vector<std::string> ResultLines(const std::string& text) {
  std::vector<std::string> lines;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = text.find("\r\n", at);
    lines.push_back(text.substr(at, end == std::string::npos ? std::string::npos : end - at));
    if (end == std::string::npos) break;
    at = end + 2;
  }
  return lines;
}

std::vector<std::string> ResultFields(const std::string& line) {
  std::vector<std::string> fields;
  std::size_t at = 0;
  while (at <= line.size()) {
    if (at < line.size() && line[at] == '"') {
      const std::size_t close = line.find('"', at + 1);
      fields.push_back(line.substr(at + 1, close - at - 1));
      if (close == std::string::npos) break;
      at = close + 2;
    } else {
      const std::size_t comma = line.find(',', at);
      fields.push_back(line.substr(at, comma == std::string::npos ? std::string::npos : comma - at));
      if (comma == std::string::npos) break;
      at = comma + 1;
    }
  }
  return fields;
}

}  // namespace vn::testing
