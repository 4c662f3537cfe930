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

}  // namespace vn::testing
