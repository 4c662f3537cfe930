#pragma once
// Letter case as Windows names compare it: ASCII letters only, so names in any
// other script compare byte for byte. Every comparison or folding of a
// computer, domain, share, key, value, service or account name, a drive
// letter, a path component or a command word goes through these, never through
// <cctype> or strcasecmp: those follow the process's locale (which Qt sets
// from the user's environment), and under a Turkish one 'i' and 'I' are not
// the same letter.

#include <string>
#include <string_view>

namespace vn {

constexpr char ToUpperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }
constexpr bool IsAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
constexpr bool IsAsciiDigit(char c) { return c >= '0' && c <= '9'; }
constexpr bool IsAsciiAlnum(char c) { return IsAsciiLetter(c) || IsAsciiDigit(c); }

std::string ToUpperAscii(std::string_view text);
bool EqualsIgnoringCase(std::string_view a, std::string_view b);
// Orders as ToUpperAscii(a) < ToUpperAscii(b) would, without the copies.
bool LessIgnoringCase(std::string_view a, std::string_view b);

}  // namespace vn
