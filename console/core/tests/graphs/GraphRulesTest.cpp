// The graph window's rules: the bitmap's name and the pointer label's text.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "console/core/graphs/GraphRules.h"

namespace {

using namespace vn::console;

TEST(GraphRulesTest, SaveAsAlwaysWritesABmpName) {
  const std::pair<const char*, const char*> cases[] = {
      {"chart", "chart.bmp"},          {"chart.", "chart.bmp"},         {"CHART.BMP", "CHART.BMP"},
      {"chart.Bmp", "chart.Bmp"},      {"chart.png", "chart.png.bmp"},  {"dir.d/chart", "dir.d/chart.bmp"},
      {"", ".bmp"},                    {".bmp", ".bmp"},                {"bmp", "bmp.bmp"},
  };
  for (const auto& [chosen, written] : cases) EXPECT_EQ(BitmapFileName(chosen), written) << chosen;
}

TEST(GraphRulesTest, TheLabelShowsTheSetAndItsValueInGroupsOfThree) {
  const std::tuple<const char*, double, const char*> cases[] = {
      {"alice", 1234567, "alice 1,234,567"}, {"Free", 2500.6, "Free 2,501"}, {"x", 0, "x 0"},
      {"Used Space", 999, "Used Space 999"}, {"d", -1234, "d - 1,234"},     {"", 1000, " 1,000"},
  };
  for (const auto& [label, value, text] : cases) EXPECT_EQ(HoverText(label, value), text) << label;
}

}  // namespace
