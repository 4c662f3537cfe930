#pragma once
// The graph window's rules without a window: the name a chart is saved
// under, the text of the label that follows the pointer, and how many sets a
// chart draws before it groups the rest. Plain functions; any thread.

#include <string>
#include <string_view>

namespace vn::console {

// Pies of more slices than this cannot be read: the largest
// kMaxChartSets - 1 sets are drawn and the others are summed into one set
// labelled kGroupedSetLabel. Bars follow the same rule.
inline constexpr int kMaxChartSets = 20;
inline constexpr char kGroupedSetLabel[] = "Other";

// The chosen name of "Save As..." with ".bmp" at its end: kept when it ends
// in ".bmp" (any case), "bmp" added after a final ".", ".bmp" otherwise.
std::string BitmapFileName(std::string_view chosen);
// "label value": the value rounded to a whole number, in groups of three
// digits separated by "," (negative as "- 1,234").
std::string HoverText(std::string_view setLabel, double value);

}  // namespace vn::console
