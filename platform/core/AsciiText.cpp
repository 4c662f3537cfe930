#include "platform/core/AsciiText.h"

#include <algorithm>

namespace vn {

std::string ToUpperAscii(std::string_view text) {
  std::string upper(text);
  std::transform(upper.begin(), upper.end(), upper.begin(), [](char c) { return ToUpperAscii(c); });
  return upper;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return ToUpperAscii(x) == ToUpperAscii(y); });
}

bool LessIgnoringCase(std::string_view a, std::string_view b) {
  // Bytes compare as unsigned, as std::string's operator< does.
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return static_cast<unsigned char>(ToUpperAscii(x)) < static_cast<unsigned char>(ToUpperAscii(y));
  });
}

}  // namespace vn
