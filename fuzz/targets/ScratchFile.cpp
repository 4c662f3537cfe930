#include "fuzz/targets/ScratchFile.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <system_error>

namespace vn::fuzz {
namespace {

struct Scratch {
  Scratch() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vornal-fuzz.XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
      std::perror("vornal fuzz: mkdtemp");
      std::abort();
    }
    path = pattern;
  }
  ~Scratch() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
  std::filesystem::path path;
};

}  // namespace

const std::filesystem::path& ScratchDirectory() {
  static Scratch scratch;
  return scratch.path;
}

std::filesystem::path WriteScratch(const char* name, const std::uint8_t* data, std::size_t size) {
  const std::filesystem::path path = ScratchDirectory() / name;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  out.close();
  if (!out) {
    std::fprintf(stderr, "vornal fuzz: cannot write %s\n", path.c_str());
    std::abort();
  }
  return path;
}

}  // namespace vn::fuzz
