// fuzz_seeds DIR: writes the generated inputs of every target into
// DIR/TARGET/ for `make fuzz` (Seeds.h).
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "fuzz/FuzzTargets.h"
#include "fuzz/Seeds.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: fuzz_seeds DIR\n");
    return 2;
  }
  for (const vn::fuzz::Target& target : vn::fuzz::Targets()) {
    const std::filesystem::path dir = std::filesystem::path(argv[1]) / target.name;
    std::filesystem::create_directories(dir);
    for (const auto& [name, bytes] : vn::fuzz::GeneratedSeeds(target.name)) {
      std::ofstream out(dir / ("generated-" + name), std::ios::binary | std::ios::trunc);
      out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
      if (!out) {
        std::fprintf(stderr, "fuzz_seeds: cannot write into %s\n", dir.c_str());
        return 1;
      }
    }
  }
  return 0;
}
