#include "platform/services/CommandLine.h"

#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace vn {
namespace {

using Words = std::vector<std::string>;

TEST(CommandLineTest, SplitsTrickyLines) {
  const struct {
    const char* line;
    Words words;
  } cases[] = {
      {R"(VN /rs "Weekly Set" /on "SERVER1")", {"VN", "/rs", "Weekly Set", "/on", "SERVER1"}},
      {R"(vn.exe /rs "Set A" /on "\\M1\C$;\\M2\D$")", {"vn.exe", "/rs", "Set A", "/on", R"(\\M1\C$;\\M2\D$)"}},
      // The object list C:\ is written C:\\ so the closing quote stays a quote.
      {R"(VN /rs "W" /on "\\SRV1\D$;C:\\")", {"VN", "/rs", "W", "/on", R"(\\SRV1\D$;C:\)"}},
      {R"(VN /on "C:\Dir\" next)", {"VN", "/on", R"(C:\Dir" next)"}},
      {R"(p "C:\Dir\\" next)", {"p", R"(C:\Dir\)", "next"}},
      // Backslash runs before a quote: 2n -> n and a quoting quote, 2n+1 -> n and a literal quote.
      {R"(p a\"b)", {"p", R"(a"b)"}},
      {R"(p a\\"b c")", {"p", R"(a\b c)"}},
      {R"(p a\\\"b)", {"p", R"(a\"b)"}},
      {R"(p a\\\\"b c")", {"p", R"(a\\b c)"}},
      {R"(p \\\\")", {"p", R"(\\)"}},
      // Backslashes elsewhere are literal, a trailing one included.
      {R"(p a\\b \\\\srv\share ab\)", {"p", R"(a\\b)", R"(\\\\srv\share)", R"(ab\)"}},
      // Empty arguments and quotes inside words.
      {R"(p "" x "")", {"p", "", "x", ""}},
      {R"(p a"b c"d)", {"p", "ab cd"}},
      {R"(p "a""b")", {"p", R"(a"b)"}},
      {R"(p """")", {"p", R"(")"}},
      {R"(p "a"" b" c)", {"p", R"(a" b)", "c"}},
      {R"(p "unterminated arg)", {"p", "unterminated arg"}},
      // Blanks: runs of spaces and tabs, leading and trailing.
      {"  p \t a\t\tb   ", {"p", "a", "b"}},
      {"", {}},
      {" \t ", {}},
      // The program word: quotes only group, backslashes are literal.
      {R"("C:\Program Files\VN.EXE" /rs x)", {R"(C:\Program Files\VN.EXE)", "/rs", "x"}},
      {R"(C:\Dir\"x y" z)", {R"(C:\Dir\x y)", "z"}},
      {R"("C:\Dir\\" z)", {R"(C:\Dir\\)", "z"}},
      {R"("" a)", {"", "a"}},
      {"p \"Gr\xC3\xB6\xC3\x9F" "e Bericht\"", {"p", "Gr\xC3\xB6\xC3\x9F" "e Bericht"}},
  };
  for (const auto& c : cases) EXPECT_EQ(SplitCommandLine(c.line), c.words) << c.line;
}

TEST(CommandLineTest, SplitArgumentsUsesTheArgumentRuleForTheFirstWordToo) {
  EXPECT_EQ(SplitArguments(R"(a\"b "c d")"), (Words{R"(a"b)", "c d"}));
  EXPECT_EQ(SplitCommandLine(R"(a\"b "c d")"), (Words{R"(a\b c)", "d"}));
  EXPECT_TRUE(SplitArguments("  ").empty());
}

TEST(CommandLineTest, QuotesOnlyWhatNeedsIt) {
  const struct {
    const char* argument;
    const char* quoted;
  } cases[] = {
      {"plain", "plain"},
      {R"(C:\Dir\)", R"(C:\Dir\)"},
      {R"(\\SRV1\D$;C:\)", R"(\\SRV1\D$;C:\)"},
      {"", R"("")"},
      {"Weekly Set", R"("Weekly Set")"},
      {R"(C:\My Dir\)", R"("C:\My Dir\\")"},
      {R"(a"b)", R"("a\"b")"},
      {R"(a\"b)", R"("a\\\"b")"},
      {"tab\there", "\"tab\there\""},
  };
  for (const auto& c : cases) EXPECT_EQ(QuoteArgument(c.argument), c.quoted) << c.argument;
}

TEST(CommandLineTest, QuotedArgumentsSplitBack) {
  const Words arguments = {"",          "plain",   "two words", R"(C:\Dir\)", R"(C:\My Dir\)", R"(a"b)",
                           R"(\")",     R"(\\)",   "tab\there", R"(")",       R"(a\\"b)",      R"(ends\\)",
                           R"("quoted")", R"(\\SRV1\D$;C:\)", "  ", R"(\ \ ")"};
  for (const auto& argument : arguments)
    EXPECT_EQ(SplitArguments(QuoteArgument(argument)), Words{argument}) << argument;

  Words words = {R"(C:\Program Files\VN.EXE)"};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::string line;
  ASSERT_TRUE(JoinCommandLine(words, &line));
  EXPECT_EQ(SplitCommandLine(line), words) << line;
}

TEST(CommandLineTest, RandomArgumentsSplitBack) {
  std::mt19937 random(20261205);
  const std::string alphabet = "ab \t\"\\";
  for (int round = 0; round < 2000; ++round) {
    Words words = {"VN"};
    const int count = static_cast<int>(random() % 4);
    for (int i = 0; i < count; ++i) {
      std::string word;
      const int length = static_cast<int>(random() % 9);
      for (int j = 0; j < length; ++j) word += alphabet[random() % alphabet.size()];
      words.push_back(word);
    }
    std::string line;
    ASSERT_TRUE(JoinCommandLine(words, &line));
    ASSERT_EQ(SplitCommandLine(line), words) << line;
  }
}

TEST(CommandLineTest, ProgramWordsThatCannotBeWritten) {
  std::string quoted = "unchanged";
  EXPECT_FALSE(QuoteProgram(R"(a"b)", &quoted));
  EXPECT_EQ(quoted, "unchanged");
  ASSERT_TRUE(QuoteProgram(R"(C:\Program Files\VN.EXE)", &quoted));
  EXPECT_EQ(quoted, R"("C:\Program Files\VN.EXE")");
  std::string line = "unchanged";
  EXPECT_FALSE(JoinCommandLine({}, &line));
  EXPECT_FALSE(JoinCommandLine({"", "a"}, &line));
  EXPECT_FALSE(JoinCommandLine({R"(x"y)", "a"}, &line));
  EXPECT_EQ(line, "unchanged");
}

}  // namespace
}  // namespace vn
