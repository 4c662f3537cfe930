#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/core/Messages.h"

namespace {

constexpr DWORD kFromSystem = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;

std::string Text(DWORD code, DWORD size = 1024) {
  std::string buffer(size, 'x');
  const DWORD n = FormatMessageA(kFromSystem, nullptr, code, 0x400, buffer.data(), size, nullptr);
  EXPECT_EQ(n, std::strlen(buffer.c_str())) << code;
  return buffer.c_str();
}

TEST(MessagesTest, KnownCodesHaveTextEndingLikeTheSystemsOwn) {
  for (DWORD code : {0u, 2u, 5u, 53u, 234u, 259u, 1018u, 1060u, 2184u}) {
    const std::string text = Text(code);
    ASSERT_GT(text.size(), 2u) << code;
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n") << code;
  }
  EXPECT_EQ(Text(0), "The operation completed successfully.\r\n");
}

TEST(MessagesTest, UnknownCodesAndTheConsolesOwnCodesHaveNoText) {
  for (DWORD code : {99999u, 2351u, 2453u, 0xFFFFFFFFu}) {
    EXPECT_EQ(Text(code), "") << code;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MR_MID_NOT_FOUND));
  }
}

TEST(MessagesTest, ShortBufferGivesNothingRatherThanHalfAText) {
  EXPECT_EQ(Text(0, 10), "");
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  const std::string full = Text(0);
  EXPECT_EQ(Text(0, static_cast<DWORD>(full.size() + 1)), full);
  EXPECT_EQ(Text(0, static_cast<DWORD>(full.size())), "");
}

TEST(MessagesTest, OnlyTheSystemTableIsOffered) {
  char buffer[64] = "unchanged";
  EXPECT_EQ(FormatMessageA(FORMAT_MESSAGE_FROM_STRING, "text", 0, 0, buffer, sizeof buffer, nullptr), 0u);
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

}  // namespace
