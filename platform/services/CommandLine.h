#pragma once
// Windows command lines: one string that the started program splits into its
// arguments. The scheduler stores a job's command as such a line
// (`VN /rs "Weekly Set" /on "SERVER1"`) and splits it when the job runs; the
// console builds lines with QuoteArgument so that they split back exactly.
//
// Splitting follows the C runtime of Windows (the rules CommandLineToArgvW
// shares for everything after the program word):
// - Spaces and tabs separate arguments outside double quotes; any run of them
//   is one separator, and leading or trailing ones make no argument.
// - A double quote starts or ends quoting and is not part of the argument;
//   `""` outside quotes is an empty argument.
// - Inside quotes, `""` is a literal quote and quoting goes on (the runtime's
//   rule; the older shell rule would end quoting there).
// - 2n backslashes before a quote are n backslashes, and the quote quotes;
//   2n+1 backslashes before a quote are n backslashes and a literal quote.
//   Backslashes anywhere else are literal, so "C:\Dir\" needs "C:\Dir\\".
// - The program word (the first) follows the simpler program-name rule: it
//   ends at the first space or tab outside quotes, quotes only toggle quoting,
//   and backslashes are always literal ("C:\Program Files\VN.EXE" is one
//   word, and C:\Dir\"x" is C:\Dir\x).
//
// Text is UTF-8; only ASCII characters have a meaning, so any other bytes pass
// through unchanged. Pure functions, safe from any thread; no input fails.

#include <string>
#include <string_view>
#include <vector>

namespace vn {

// The program word then the arguments. An empty or blank line gives none.
std::vector<std::string> SplitCommandLine(std::string_view line);

// Arguments only, all by the argument rules (a line without a program word).
std::vector<std::string> SplitArguments(std::string_view line);

// `argument` written so that SplitArguments gives it back as one argument:
// unchanged when it is not empty and holds no space, tab or quote; otherwise in
// quotes, with backslashes doubled before a quote (escaped or closing).
std::string QuoteArgument(std::string_view argument);

// A program word as the program-name rule reads it: unchanged without spaces
// or tabs, else in quotes. A program word cannot hold a double quote: false
// then, and *quoted is left alone.
[[nodiscard]] bool QuoteProgram(std::string_view program, std::string* quoted);

// The program word then each argument quoted, joined by single spaces. False
// when the program word cannot be written (it holds a quote or is empty).
[[nodiscard]] bool JoinCommandLine(const std::vector<std::string>& words, std::string* line);

}  // namespace vn
