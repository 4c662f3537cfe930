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
  EXPECT_EQ(ErrorText(ERROR_BAD_NETPATH), "The network path was not found.\r\n");
  // ERROR_ACCESS_DENIED, ERROR_INVALID_NAME and ERROR_INVALID_LEVEL have system
  // texts, so the fixed network wording never shows for them.
  EXPECT_EQ(ErrorText(ERROR_ACCESS_DENIED), "Access is denied.\r\n");
}

TEST(SystemErrorTextTest, NetworkCodesWithoutSystemTextGetTheFixedWords) {
  EXPECT_EQ(ErrorText(NERR_InvalidComputer), "The computer name is invalid.");
  EXPECT_EQ(ErrorText(NERR_DCNotFound), "Could not find the domain controller for the domain.");
  EXPECT_EQ(ErrorText(NERR_InvalidComputer, 260), "The computer name is invalid.");
}

TEST(SystemErrorTextTest, UnknownCodeGivesAnEmptyTerminatedBuffer) {
  EXPECT_EQ(ErrorText(99999), "");
  char tiny[1] = {'x'};
  EXPECT_EQ(vn::console::GetSystemErrorText(0, tiny, 1), 0u);
  EXPECT_EQ(tiny[0], '\0');
}

}  // namespace
