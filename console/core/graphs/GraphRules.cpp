#include "console/core/graphs/GraphRules.h"

#include <cstdio>

#include "console/core/results/FXDataManager.h"
#include "platform/core/AsciiText.h"

namespace vn::console {

std::string BitmapFileName(std::string_view chosen) {
  std::string name(chosen);
  if (name.size() >= 4 && vn::EqualsIgnoringCase(std::string_view(name).substr(name.size() - 4), ".bmp")) return name;
  name += !name.empty() && name.back() == '.' ? "bmp" : ".bmp";
  return name;
}

std::string HoverText(std::string_view setLabel, double value) {
  char digits[400];
  std::snprintf(digits, sizeof digits, "%.0f", value);
  return std::string(setLabel) + ' ' + CFXDataManager::FormatNumber(digits);
}

}  // namespace vn::console
