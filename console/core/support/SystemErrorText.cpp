#include "console/core/support/SystemErrorText.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "platform/core/Messages.h"

namespace vn::console {
namespace {

struct FixedText {
  DWORD code;
  std::string_view text;
};

constexpr FixedText kFixedTexts[] = {
    {5, "The user does not have access to the requested information."},
    {123, "The name could not be found."},
    {124, "The Level parameter specifies an invalid value."},
    {2351, "The computer name is invalid."},
    {2453, "Could not find the domain controller for the domain."},
};

constexpr DWORD kLanguageUserDefault = 0x400;

}  // namespace

DWORD GetSystemErrorText(DWORD code, char* buffer, DWORD size) {
  if (!buffer || size == 0) return 0;
  const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                                      kLanguageUserDefault, buffer, size, nullptr);
  if (length != 0) return length;

  buffer[0] = '\0';
  for (const FixedText& fixed : kFixedTexts) {
    if (fixed.code != code) continue;
    const std::size_t n = std::min<std::size_t>(fixed.text.size(), size - 1);
    std::memcpy(buffer, fixed.text.data(), n);
    buffer[n] = '\0';
    break;
  }
  return static_cast<DWORD>(std::strlen(buffer));
}

std::string SystemErrorString(DWORD code, DWORD size) {
  std::string text(size, '\0');
  const DWORD length = GetSystemErrorText(code, text.data(), size);
  text.resize(std::min<DWORD>(length, size > 0 ? size - 1 : 0));
  return text;
}

std::string SystemErrorLine(DWORD code, DWORD size) {
  std::string text = SystemErrorString(code, size);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

}  // namespace vn::console
