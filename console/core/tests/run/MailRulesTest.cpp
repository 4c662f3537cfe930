#include "console/core/run/MailRules.h"

#include <gtest/gtest.h>

#include "mapi/SimpleMapi.h"

namespace vn::console {
namespace {

TEST(MailRulesTest, LoginBlockIsScrambledByteByByteAndReadsBack) {
  // Right by 5 on writing: 'A' 0x41 = 0100 0001 -> 0000 1010 = 0x0A; 'z' 0x7A -> 0xD3.
  const std::pair<BYTE, BYTE> bytes[] = {{0x00, 0x00}, {0x41, 0x0A}, {0x7A, 0xD3}, {0xFF, 0xFF}, {0x01, 0x08},
                                         {0x80, 0x04}, {0x20, 0x01}};
  for (const auto& [plain, scrambled] : bytes) {
    EXPECT_EQ(ScrambleMailByte(plain), scrambled) << int{plain};
    EXPECT_EQ(UnscrambleMailByte(scrambled), plain) << int{plain};
  }
  for (int b = 0; b < 256; ++b) EXPECT_EQ(UnscrambleMailByte(ScrambleMailByte(static_cast<BYTE>(b))), b);

  BYTE block[kMailLoginBlock];
  std::memset(block, 0xEE, sizeof block);
  StoreMailLogin(block, "Az");
  EXPECT_EQ(block[0], 0x0A);
  EXPECT_EQ(block[1], 0xD3);
  for (std::size_t i = 2; i < kMailLoginBlock; ++i) ASSERT_EQ(block[i], 0) << i;  // the whole block is written
  EXPECT_EQ(ReadMailLogin(block), "Az");

  const std::string longest(80, 'p');
  for (const std::string& text : {std::string(), std::string("MS Exchange Settings"), longest, longest + "cut"}) {
    StoreMailLogin(block, text);
    EXPECT_EQ(ReadMailLogin(block), text.substr(0, 80));
    EXPECT_EQ(block[80], 0);
  }
}

TEST(MailRulesTest, CountsNames) {
  const std::pair<const char*, int> cases[] = {
      {"", 0}, {"   ", 0}, {";;", 0}, {"; ;", 0}, {"alice", 1}, {"alice;", 1}, {"alice ; ", 1},
      {"alice;bob", 2}, {"alice;bob;;", 2}, {"a;;b", 3}, {" ;a", 2},
  };
  for (const auto& [list, count] : cases) EXPECT_EQ(CountMailNames(list), count) << '"' << list << '"';
  EXPECT_EQ(SplitMailNames(" alice ; ;bob;"), (std::vector<std::string>{"alice", "bob"}));
  EXPECT_TRUE(SplitMailNames(" ; ").empty());
}

TEST(MailRulesTest, AddressBookAnswerFillsToThenCc) {
  MailSettings mail;
  std::strcpy(mail.MailTo, "old;list");
  std::strcpy(mail.MailCC, "old cc");
  mail.MailToCount = 2;
  mail.MailCCCount = 1;

  // One To, then one Cc: To gets "alice;" whose ";" is then removed; Cc gets "bob".
  ASSERT_TRUE(ApplyAddressBookResult({{MAPI_TO, "alice"}, {MAPI_CC, "bob"}}, &mail));
  EXPECT_STREQ(mail.MailTo, "alice");
  EXPECT_STREQ(mail.MailCC, "bob");
  EXPECT_EQ(mail.MailToCount, 1);
  EXPECT_EQ(mail.MailCCCount, 1);

  std::string to, cc;
  ASSERT_TRUE(JoinAddressBookResult({{MAPI_CC, "c1"}, {MAPI_TO, "t1"}, {MAPI_CC, "c2"}, {MAPI_TO, "t2"}}, &to, &cc));
  EXPECT_EQ(to, "t1;t2");
  EXPECT_EQ(cc, "c1;c2");
  ASSERT_TRUE(JoinAddressBookResult({{MAPI_BCC, "hidden"}, {MAPI_TO, "t1"}}, &to, &cc));
  EXPECT_EQ(to, "t1");
  EXPECT_EQ(cc, "");

  // Nothing chosen empties both lists.
  ASSERT_TRUE(ApplyAddressBookResult({}, &mail));
  EXPECT_STREQ(mail.MailTo, "");
  EXPECT_EQ(mail.MailToCount, 0);
  EXPECT_EQ(mail.MailCCCount, 0);
}

TEST(MailRulesTest, AnAnswerLongerThanAListHoldsIsRefusedWhole) {
  MailSettings mail;
  std::strcpy(mail.MailTo, "keep");
  mail.MailToCount = 1;
  const std::string name(127, 'n');
  // 127 + ";" + 127 = 255 characters, the longest the dialog's fields take, fit exactly.
  ASSERT_TRUE(ApplyAddressBookResult({{MAPI_TO, name}, {MAPI_TO, name}}, &mail));
  EXPECT_EQ(std::strlen(mail.MailTo), 255u);
  EXPECT_EQ(mail.MailToCount, 2);
  // One character more in Cc: nothing changes.
  const MailSettings before = mail;
  EXPECT_FALSE(ApplyAddressBookResult({{MAPI_TO, "a"}, {MAPI_CC, name}, {MAPI_CC, name + "x"}}, &mail));
  EXPECT_EQ(std::memcmp(&before, &mail, sizeof mail), 0);
}

TEST(MailRulesTest, ErrorTexts) {
  EXPECT_EQ(MapiErrorText(1), "");
  EXPECT_EQ(MapiErrorText(2), "Unspecified error(s) occurred while addressing the mail.");
  EXPECT_EQ(MapiErrorText(5), "There was insufficient memory to proceed. ");
  EXPECT_EQ(MapiErrorText(15), "The type of a recipient was not MAPI_TO, MAPI_CC, or MAPI_BCC. ");
  EXPECT_EQ(MapiErrorText(26), "The operation was unsupported by the underlying mail system.");
  for (const ULONG other : {ULONG{0}, ULONG{6}, ULONG{7}, ULONG{12}, ULONG{27}, ULONG{0xFFFFFFFF}})
    EXPECT_EQ(MapiErrorText(other), "Unable to get address list or send mail") << other;
  for (const ULONG known : {3, 4, 8, 9, 10, 11, 14, 17, 18, 19, 21, 24, 25})
    EXPECT_NE(MapiErrorText(known), "Unable to get address list or send mail") << known;
}

}  // namespace
}  // namespace vn::console
