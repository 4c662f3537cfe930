#pragma once
// Narrow and wide text for the wide-character calls (NetServerGetInfo,
// NetShareEnum...). Narrow strings are UTF-8 throughout Vornal; WCHAR strings
// are UTF-16. Conversion never fails: a byte sequence that is not UTF-8 (or a
// lone surrogate) becomes U+FFFD.

#include <string>
#include <string_view>

#include "platform/core/Win32Types.h"

namespace vn {

std::u16string ToWide(std::string_view utf8);
std::string ToUtf8(std::u16string_view utf16);
// A NUL-terminated wide string; null is the empty string.
std::string ToUtf8(LPCWSTR text);

}  // namespace vn
