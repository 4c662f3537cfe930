#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "console/core/support/SystemErrorText.h"

namespace {

std::string ErrorText(DWORD code, DWORD size = 1024) {
  std::string buffer(size, 'x');
  const DWORD n = vn::console::GetSystemErrorText(code, buffer.data(), size);
  EXPECT_EQ(n, std::strlen(buffer.c_str())) << code;
  return buffer.c_str();
}

TEST(SystemErrorTextTest, SystemTextWinsOverTheFixedTexts) {
  EXPECT_EQ(ErrorText(0), "The operation completed successfully.\r\n");
  EXPECT_EQ(ErrorText(53), "The network path was not found.\r\n");
  // 5, 123 and 124 have system texts, so the fixed network wording never shows for them.
  EXPECT_EQ(ErrorText(5), "Access is denied.\r\n");
}

TEST(SystemErrorTextTest, NetworkCodesWithoutSystemTextGetTheFixedWords) {
  EXPECT_EQ(ErrorText(2351), "The computer name is invalid.");
  EXPECT_EQ(ErrorText(2453), "Could not find the domain controller for the domain.");
  EXPECT_EQ(ErrorText(2351, 260), "The computer name is invalid.");
}

TEST(SystemErrorTextTest, UnknownCodeGivesAnEmptyTerminatedBuffer) {
  EXPECT_EQ(ErrorText(99999), "");
  char tiny[1] = {'x'};
  EXPECT_EQ(vn::console::GetSystemErrorText(0, tiny, 1), 0u);
  EXPECT_EQ(tiny[0], '\0');
}

}  // namespace
