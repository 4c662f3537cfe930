#pragma once
// Letter case as Windows names compare it: ASCII letters only, so names in any
// other script compare byte for byte.

#include <string>
#include <string_view>

namespace vn {

std::string ToUpperAscii(std::string_view text);
bool EqualsIgnoringCase(std::string_view a, std::string_view b);

}  // namespace vn
