#include "platform/services/CommandLine.h"

#include <cstddef>

namespace vn {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::size_t SkipBlanks(std::string_view line, std::size_t pos) {
  while (pos < line.size() && IsBlank(line[pos])) ++pos;
  return pos;
}

// The program word starting at `pos`; returns the position after it.
std::size_t ReadProgram(std::string_view line, std::size_t pos, std::string* word) {
  bool quoted = false;
  for (; pos < line.size(); ++pos) {
    const char c = line[pos];
    if (c == '"') {
      quoted = !quoted;
    } else if (IsBlank(c) && !quoted) {
      break;
    } else {
      *word += c;
    }
  }
  return pos;
}

// One argument starting at `pos` (not a blank); returns the position after it.
std::size_t ReadArgument(std::string_view line, std::size_t pos, std::string* word) {
  bool quoted = false;
  while (pos < line.size()) {
    const char c = line[pos];
    if (IsBlank(c) && !quoted) break;
    if (c == '\\') {
      std::size_t run = 0;
      while (pos < line.size() && line[pos] == '\\') {
        ++run;
        ++pos;
      }
      if (pos < line.size() && line[pos] == '"') {
        word->append(run / 2, '\\');
        if (run % 2 == 1) {
          *word += '"';
          ++pos;
        }
        // An even run leaves the quote to quote.
      } else {
        word->append(run, '\\');
      }
    } else if (c == '"') {
      if (quoted && pos + 1 < line.size() && line[pos + 1] == '"') {
        *word += '"';
        pos += 2;
      } else {
        quoted = !quoted;
        ++pos;
      }
    } else {
      *word += c;
      ++pos;
    }
  }
  return pos;
}

void AppendArguments(std::string_view line, std::size_t pos, std::vector<std::string>* words) {
  while (true) {
    pos = SkipBlanks(line, pos);
    if (pos >= line.size()) return;
    std::string word;
    pos = ReadArgument(line, pos, &word);
    words->push_back(std::move(word));
  }
}

}  // namespace

std::vector<std::string> SplitCommandLine(std::string_view line) {
  std::vector<std::string> words;
  std::size_t pos = SkipBlanks(line, 0);
  if (pos >= line.size()) return words;
  std::string program;
  pos = ReadProgram(line, pos, &program);
  words.push_back(std::move(program));
  AppendArguments(line, pos, &words);
  return words;
}

std::vector<std::string> SplitArguments(std::string_view line) {
  std::vector<std::string> words;
  AppendArguments(line, 0, &words);
  return words;
}

std::string QuoteArgument(std::string_view argument) {
  if (!argument.empty() && argument.find_first_of(" \t\"") == std::string_view::npos) return std::string(argument);
  std::string quoted = "\"";
  std::size_t run = 0;
  for (const char c : argument) {
    if (c == '\\') {
      ++run;
      continue;
    }
    if (c == '"') {
      quoted.append(2 * run + 1, '\\');
    } else {
      quoted.append(run, '\\');
    }
    run = 0;
    quoted += c;
  }
  // The closing quote must not be escaped by the backslashes before it.
  quoted.append(2 * run, '\\');
  quoted += '"';
  return quoted;
}

bool QuoteProgram(std::string_view program, std::string* quoted) {
  if (program.find('"') != std::string_view::npos) return false;
  const bool bare = !program.empty() && program.find_first_of(" \t") == std::string_view::npos;
  quoted->clear();
  if (!bare) *quoted += '"';
  *quoted += program;
  if (!bare) *quoted += '"';
  return true;
}

bool JoinCommandLine(const std::vector<std::string>& words, std::string* line) {
  if (words.empty() || words.front().empty()) return false;
  std::string joined;
  if (!QuoteProgram(words.front(), &joined)) return false;
  for (std::size_t i = 1; i < words.size(); ++i) {
    joined += ' ';
    joined += QuoteArgument(words[i]);
  }
  *line = std::move(joined);
  return true;
}

}  // namespace vn
