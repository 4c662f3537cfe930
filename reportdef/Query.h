#pragma once
// The query language of custom reports: which files a report selects.
//
//   query     := [ or ]                      an empty query selects every file
//   or        := and { OR and }
//   and       := not { AND not }
//   not       := NOT not | "(" or ")" | test
//   test      := FIELD relation literal
//   relation  := ">" | ">=" | "<" | "<=" | "=" | "<>"
//   literal   := number [unit] | date | "quoted text"
//
// Keywords, field names and size units are ASCII letters in any case. A
// field of a number type compares with a number; a size field's number may
// carry a unit B, K or KB, M or MB, G or GB (powers of 1024), written with or
// without a blank before it. A date field compares with a date YYYY-MM-DD,
// by whole days of the machine's local time ("Revised < 2024-03-01" is every
// file revised before that day began). A text field compares with a quoted
// text: "=" and "<>" match it as a pattern in which "*" stands for any run of
// characters and "?" for one, letters in any case; the other relations
// compare in ASCII order without case.
//
// A query that is refused says where (a character position from 0) and why.
// Queries are bounded: at most kMaxQueryLength characters and kMaxDepth
// nested NOT and parentheses, so no stored or typed query can take the
// checker or the evaluation beyond a fixed stack and time.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "reportdef/FieldCatalogue.h"

namespace vn::reportdef {

inline constexpr std::size_t kMaxQueryLength = 1000;
inline constexpr unsigned kMaxDepth = 32;

struct QueryError {
  std::size_t position = 0;
  std::string text;
};

class Query {
 public:
  // The checked query, or null with `error` set.
  static std::unique_ptr<Query> Parse(std::string_view text, QueryError& error);

  // True when the file passes (an empty query passes every file).
  bool Matches(const FileFacts& facts) const;
  // Whether the file can still pass when only the fields in `known` (bit i =
  // field i) are filled in `facts`: false only when the query fails whatever
  // the other fields hold. A scan asks this with what a directory listing
  // gives (the name, its directory) before it reads the file's metadata.
  bool MayMatch(const FileFacts& facts, std::uint64_t known) const;
  // Adds the fields the query tests to `fields` (bit i = field i).
  void AddUsedFields(std::uint64_t& fields) const;

  enum class Kind : std::uint8_t { Test, Not, And, Or };
  enum class Relation : std::uint8_t { Greater, GreaterEqual, Less, LessEqual, Equal, NotEqual };
  struct Node {
    Kind kind = Kind::Test;
    Relation relation = Relation::Equal;
    unsigned field = 0;
    int left = -1;
    int right = -1;
    std::int64_t number = 0;  // numbers and sizes; for dates the day's first second
    std::int64_t dayEnd = 0;  // dates: the next day's first second
    std::string text;         // texts, upper case
  };

 private:
  enum class Truth : std::uint8_t { No, Yes, Unknown };
  bool Eval(int node, const FileFacts& facts, std::string& scratch) const;
  bool Test(const Node& test, const FileFacts& facts, std::string& scratch) const;
  Truth Decide(int node, const FileFacts& facts, std::uint64_t known, std::string& scratch) const;
  std::vector<Node> m_nodes;
  int m_root = -1;
  friend class QueryParser;
};

// Whether `text` (any case) matches `pattern` (upper case, "*" and "?").
bool MatchesPattern(std::string_view text, std::string_view pattern);

}  // namespace vn::reportdef
