#include "platform/core/WideString.h"

#include <QString>

namespace vn {

std::u16string ToWide(std::string_view utf8) {
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())).toStdU16String();
}

std::string ToUtf8(std::u16string_view utf16) {
  return QString::fromUtf16(utf16.data(), static_cast<qsizetype>(utf16.size())).toStdString();
}

std::string ToUtf8(LPCWSTR text) { return text ? ToUtf8(std::u16string_view(text)) : std::string(); }

}  // namespace vn
