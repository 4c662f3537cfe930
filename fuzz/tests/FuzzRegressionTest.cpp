// Every kept input of every fuzz target, run through the target as the fuzzer
// runs it: the seed corpus, the inputs made by GeneratedSeeds, and each input
// that once crashed a target (fuzz/regressions/TARGET/). A target that
// crashes, or that a sanitizer build catches reading or writing out of
// bounds, fails here.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

#include "fuzz/FuzzTargets.h"
#include "fuzz/Seeds.h"

namespace vn::fuzz {
// Test names and failure messages show a target by its name.
void PrintTo(const Target& target, std::ostream* os) { *os << target.name; }
}  // namespace vn::fuzz

namespace {

namespace fs = std::filesystem;

std::vector<fs::path> InputsOf(const std::string& folder, const std::string& target) {
  std::vector<fs::path> inputs;
  const fs::path dir = fs::path(VN_FUZZ_INPUTS) / folder / target;
  if (!fs::is_directory(dir)) return inputs;
  for (const auto& entry : fs::directory_iterator(dir))
    if (entry.is_regular_file()) inputs.push_back(entry.path());
  return inputs;
}

std::string Read(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

int Feed(const vn::fuzz::Target& target, const std::string& bytes) {
  return target.run(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

class FuzzRegressionTest : public ::testing::TestWithParam<vn::fuzz::Target> {};

TEST_P(FuzzRegressionTest, KeptInputsRunCleanly) {
  const vn::fuzz::Target& target = GetParam();
  const auto corpus = InputsOf("corpus", target.name);
  const auto generated = vn::fuzz::GeneratedSeeds(target.name);
  // Every target starts from something that its parser accepts.
  EXPECT_FALSE(corpus.empty() && generated.empty()) << target.name << " has no seed";
  for (const auto& input : corpus) EXPECT_EQ(Feed(target, Read(input)), 0) << input;
  for (const auto& input : InputsOf("regressions", target.name)) EXPECT_EQ(Feed(target, Read(input)), 0) << input;
  for (const auto& [name, bytes] : generated) EXPECT_EQ(Feed(target, bytes), 0) << name;
}

// What every parser meets first from a hostile peer or a damaged disk: nothing,
// a cut-off seed, a seed with its bytes flipped, a long run of one byte.
TEST_P(FuzzRegressionTest, DamagedSeedsRunCleanly) {
  const vn::fuzz::Target& target = GetParam();
  std::vector<std::string> seeds;
  for (const auto& input : InputsOf("corpus", target.name)) seeds.push_back(Read(input));
  for (auto& [name, bytes] : vn::fuzz::GeneratedSeeds(target.name)) seeds.push_back(std::move(bytes));
  EXPECT_EQ(Feed(target, ""), 0);
  EXPECT_EQ(Feed(target, std::string(70000, '\xff')), 0);
  EXPECT_EQ(Feed(target, std::string(70000, '"')), 0);
  EXPECT_EQ(Feed(target, std::string(5000, '\n')), 0);
  for (const std::string& seed : seeds) {
    for (std::size_t cut = 0; cut < seed.size(); cut += 1 + seed.size() / 97) EXPECT_EQ(Feed(target, seed.substr(0, cut)), 0);
    std::string flipped = seed;
    for (std::size_t i = 0; i < flipped.size(); i += 7) flipped[i] = static_cast<char>(~flipped[i]);
    EXPECT_EQ(Feed(target, flipped), 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Targets, FuzzRegressionTest, ::testing::ValuesIn(vn::fuzz::Targets().begin(), vn::fuzz::Targets().end()),
                         [](const ::testing::TestParamInfo<vn::fuzz::Target>& info) { return std::string(info.param.name); });

}  // namespace
