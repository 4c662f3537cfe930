#include "reportdef/Query.h"

#include <ctime>
#include <limits>

namespace vn::reportdef {
namespace {

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }
bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool SameWord(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (Upper(a[i]) != Upper(b[i])) return false;
  return true;
}

int CompareNoCase(std::string_view a, std::string_view b) {
  const std::size_t n = a.size() < b.size() ? a.size() : b.size();
  for (std::size_t i = 0; i < n; ++i) {
    const auto x = static_cast<unsigned char>(Upper(a[i])), y = static_cast<unsigned char>(Upper(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : a.size() < b.size() ? -1 : 1;
}

enum class Tok { End, Word, Number, Date, Text, Relation, Open, Close, Bad };

struct Token {
  Tok kind = Tok::End;
  std::size_t pos = 0;
  std::string_view text;  // as written (a text without its quotes)
  Query::Relation relation = Query::Relation::Equal;
};

}  // namespace

class QueryParser {
 public:
  QueryParser(std::string_view text, Query& query, QueryError& error) : m_s(text), m_q(query), m_error(error) {}

  bool Run() {
    if (m_s.size() > kMaxQueryLength)
      return Fail(kMaxQueryLength, "The query is longer than " + std::to_string(kMaxQueryLength) + " characters");
    Next();
    if (m_tok.kind == Tok::End) return true;  // every file
    int root = -1;
    if (!Or(root, 0)) return false;
    if (m_tok.kind != Tok::End) {
      if (m_tok.kind == Tok::Close) return Fail(m_tok.pos, "A closing parenthesis without its opening one");
      return Fail(m_tok.pos, "AND or OR expected");
    }
    m_q.m_root = root;
    return true;
  }

 private:
  bool Fail(std::size_t pos, std::string text) {
    m_error.position = pos;
    m_error.text = std::move(text);
    return false;
  }

  void Next() {
    std::size_t i = m_at;
    while (i < m_s.size() && IsBlank(m_s[i])) ++i;
    m_tok = Token{};
    m_tok.pos = i;
    if (i >= m_s.size()) {
      m_at = i;
      return;
    }
    const char c = m_s[i];
    std::size_t j = i + 1;
    if (IsLetter(c)) {
      while (j < m_s.size() && (IsLetter(m_s[j]) || IsDigit(m_s[j]))) ++j;
      m_tok.kind = Tok::Word;
    } else if (IsDigit(c)) {
      while (j < m_s.size() && IsDigit(m_s[j])) ++j;
      m_tok.kind = Tok::Number;
      // YYYY-MM-DD
      if (j - i == 4 && j < m_s.size() && m_s[j] == '-') {
        while (j < m_s.size() && (IsDigit(m_s[j]) || m_s[j] == '-')) ++j;
        m_tok.kind = Tok::Date;
      }
    } else if (c == '"') {
      while (j < m_s.size() && m_s[j] != '"') ++j;
      if (j >= m_s.size()) {
        m_tok.kind = Tok::Bad;
        m_tok.text = "The closing quote of this text is missing";
        m_at = j;
        return;
      }
      m_tok.kind = Tok::Text;
      m_tok.text = m_s.substr(i + 1, j - i - 1);
      m_at = j + 1;
      return;
    } else if (c == '(' || c == ')') {
      m_tok.kind = c == '(' ? Tok::Open : Tok::Close;
    } else if (c == '>' || c == '<' || c == '=') {
      m_tok.kind = Tok::Relation;
      const char d = j < m_s.size() ? m_s[j] : '\0';
      if (c == '>' && d == '=') {
        m_tok.relation = Query::Relation::GreaterEqual, ++j;
      } else if (c == '<' && d == '=') {
        m_tok.relation = Query::Relation::LessEqual, ++j;
      } else if (c == '<' && d == '>') {
        m_tok.relation = Query::Relation::NotEqual, ++j;
      } else {
        m_tok.relation = c == '>' ? Query::Relation::Greater : c == '<' ? Query::Relation::Less : Query::Relation::Equal;
      }
    } else {
      m_tok.kind = Tok::Bad;
      m_tok.text = "This character has no meaning in a query";
    }
    if (m_tok.kind != Tok::Text && m_tok.kind != Tok::Bad) m_tok.text = m_s.substr(i, j - i);
    m_at = j;
  }

  bool IsKeyword(std::string_view word) const { return m_tok.kind == Tok::Word && SameWord(m_tok.text, word); }

  int Add(Query::Node node) {
    m_q.m_nodes.push_back(std::move(node));
    return static_cast<int>(m_q.m_nodes.size() - 1);
  }

  bool Or(int& out, unsigned depth) {
    if (!And(out, depth)) return false;
    while (IsKeyword("OR")) {
      Next();
      int right = -1;
      if (!And(right, depth)) return false;
      Query::Node n;
      n.kind = Query::Kind::Or, n.left = out, n.right = right;
      out = Add(std::move(n));
    }
    return true;
  }

  bool And(int& out, unsigned depth) {
    if (!Not(out, depth)) return false;
    while (IsKeyword("AND")) {
      Next();
      int right = -1;
      if (!Not(right, depth)) return false;
      Query::Node n;
      n.kind = Query::Kind::And, n.left = out, n.right = right;
      out = Add(std::move(n));
    }
    return true;
  }

  bool Not(int& out, unsigned depth) {
    if (IsKeyword("NOT") || m_tok.kind == Tok::Open) {
      if (depth + 1 > kMaxDepth)
        return Fail(m_tok.pos, "The query nests NOT and parentheses deeper than " + std::to_string(kMaxDepth) + " levels");
    }
    if (IsKeyword("NOT")) {
      Next();
      int inner = -1;
      if (!Not(inner, depth + 1)) return false;
      Query::Node n;
      n.kind = Query::Kind::Not, n.left = inner;
      out = Add(std::move(n));
      return true;
    }
    if (m_tok.kind == Tok::Open) {
      const std::size_t open = m_tok.pos;
      Next();
      if (!Or(out, depth + 1)) return false;
      if (m_tok.kind != Tok::Close) {
        if (m_tok.kind == Tok::End) return Fail(open, "The closing parenthesis of this one is missing");
        return Fail(m_tok.pos, "AND, OR or a closing parenthesis expected");
      }
      Next();
      return true;
    }
    return Test(out);
  }

  bool Test(int& out) {
    if (m_tok.kind == Tok::Bad) return Fail(m_tok.pos, std::string(m_tok.text));
    if (m_tok.kind == Tok::End) return Fail(m_tok.pos, "A field name is expected at the end of the query");
    if (m_tok.kind != Tok::Word || IsKeyword("AND") || IsKeyword("OR"))
      return Fail(m_tok.pos, "A field name is expected");
    const int field = FieldByName(m_tok.text);
    if (field < 0) return Fail(m_tok.pos, "There is no field named " + std::string(m_tok.text));
    const FieldInfo& info = *FindField(static_cast<unsigned>(field));
    if (!info.query) return Fail(m_tok.pos, std::string(info.name) + " cannot be used in a query");
    Next();
    if (m_tok.kind == Tok::Bad) return Fail(m_tok.pos, std::string(m_tok.text));
    if (m_tok.kind != Tok::Relation) return Fail(m_tok.pos, "A relation (>, >=, <, <=, =, <>) is expected");
    Query::Node n;
    n.field = static_cast<unsigned>(field);
    n.relation = m_tok.relation;
    Next();
    if (m_tok.kind == Tok::Bad) return Fail(m_tok.pos, std::string(m_tok.text));
    if (m_tok.kind == Tok::End) return Fail(m_tok.pos, "A value is expected at the end of the query");
    if (info.type == kTypeDate) {
      if (m_tok.kind != Tok::Date) return Fail(m_tok.pos, std::string(info.name) + " compares with a date such as 2024-01-31");
      if (!DateLiteral(n)) return Fail(m_tok.pos, "There is no date " + std::string(m_tok.text));
      Next();
    } else if (IsTextType(info.type)) {
      if (m_tok.kind != Tok::Text)
        return Fail(m_tok.pos, std::string(info.name) + " compares with a quoted text such as \"*.log\"");
      for (char c : m_tok.text) n.text += Upper(c);
      Next();
    } else {
      if (m_tok.kind != Tok::Number) return Fail(m_tok.pos, std::string(info.name) + " compares with a number");
      const std::size_t at = m_tok.pos;
      std::int64_t value = 0;
      for (char c : m_tok.text) {
        if (value > (std::numeric_limits<std::int64_t>::max() - 9) / 10) return Fail(at, "This number is too large");
        value = value * 10 + (c - '0');
      }
      Next();
      // A word after the number is its unit, unless it starts the next test
      // or is a keyword (then the caller reports what is missing).
      if (m_tok.kind == Tok::Word && !IsKeyword("AND") && !IsKeyword("OR") && !IsKeyword("NOT") &&
          FieldByName(m_tok.text) < 0) {
        std::int64_t unit = 0;
        if (SameWord(m_tok.text, "B")) unit = 1;
        else if (SameWord(m_tok.text, "K") || SameWord(m_tok.text, "KB")) unit = 1024;
        else if (SameWord(m_tok.text, "M") || SameWord(m_tok.text, "MB")) unit = 1024 * 1024;
        else if (SameWord(m_tok.text, "G") || SameWord(m_tok.text, "GB")) unit = 1024ll * 1024 * 1024;
        if (unit == 0) return Fail(m_tok.pos, "There is no size unit " + std::string(m_tok.text) + " (B, KB, MB, GB)");
        if (info.type != kTypeSize) return Fail(m_tok.pos, std::string(info.name) + " is no size: it takes no unit");
        if (value > std::numeric_limits<std::int64_t>::max() / unit) return Fail(at, "This size is too large");
        value *= unit;
        Next();
      }
      n.number = value;
    }
    out = Add(std::move(n));
    return true;
  }

  bool DateLiteral(Query::Node& n) const {
    const std::string_view t = m_tok.text;
    if (t.size() != 10 || t[4] != '-' || t[7] != '-') return false;
    auto num = [&](std::size_t from, std::size_t len) {
      int v = 0;
      for (std::size_t i = from; i < from + len; ++i) {
        if (!IsDigit(t[i])) return -1;
        v = v * 10 + (t[i] - '0');
      }
      return v;
    };
    const int y = num(0, 4), m = num(5, 2), d = num(8, 2);
    if (y < 1970 || m < 1 || m > 12 || d < 1) return false;
    static constexpr int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    if (d > kDays[m - 1] || (m == 2 && d == 29 && !leap)) return false;
    std::tm tm{};
    tm.tm_year = y - 1900, tm.tm_mon = m - 1, tm.tm_mday = d, tm.tm_isdst = -1;
    std::tm next = tm;
    next.tm_mday += 1;
    n.number = static_cast<std::int64_t>(std::mktime(&tm));
    n.dayEnd = static_cast<std::int64_t>(std::mktime(&next));
    return true;
  }

  std::string_view m_s;
  Query& m_q;
  QueryError& m_error;
  std::size_t m_at = 0;
  Token m_tok;
};

std::unique_ptr<Query> Query::Parse(std::string_view text, QueryError& error) {
  auto q = std::make_unique<Query>();
  error = QueryError{};
  if (!QueryParser(text, *q, error).Run()) return nullptr;
  return q;
}

bool Query::Matches(const FileFacts& facts) const {
  if (m_root < 0) return true;
  std::string scratch;
  return Eval(m_root, facts, scratch);
}

void Query::AddUsedFields(std::uint64_t& fields) const {
  for (const Node& n : m_nodes)
    if (n.kind == Kind::Test) fields |= std::uint64_t{1} << n.field;
}

bool Query::MayMatch(const FileFacts& facts, std::uint64_t known) const {
  if (m_root < 0) return true;
  std::string scratch;
  return Decide(m_root, facts, known, scratch) != Truth::No;
}

bool Query::Eval(int index, const FileFacts& facts, std::string& scratch) const {
  const Node& n = m_nodes[static_cast<std::size_t>(index)];
  switch (n.kind) {
    case Kind::Not: return !Eval(n.left, facts, scratch);
    case Kind::And: return Eval(n.left, facts, scratch) && Eval(n.right, facts, scratch);
    case Kind::Or: return Eval(n.left, facts, scratch) || Eval(n.right, facts, scratch);
    case Kind::Test: break;
  }
  return Test(n, facts, scratch);
}

// Kleene's three-valued logic: a test of a field not known is Unknown, NOT
// keeps Unknown, AND is No as soon as one side is No, OR Yes as soon as one
// side is Yes.
Query::Truth Query::Decide(int index, const FileFacts& facts, std::uint64_t known, std::string& scratch) const {
  const Node& n = m_nodes[static_cast<std::size_t>(index)];
  switch (n.kind) {
    case Kind::Not: {
      const Truth t = Decide(n.left, facts, known, scratch);
      return t == Truth::Unknown ? t : t == Truth::Yes ? Truth::No : Truth::Yes;
    }
    case Kind::And: {
      const Truth l = Decide(n.left, facts, known, scratch);
      if (l == Truth::No) return l;
      const Truth r = Decide(n.right, facts, known, scratch);
      return r == Truth::No ? r : l == Truth::Yes ? r : Truth::Unknown;
    }
    case Kind::Or: {
      const Truth l = Decide(n.left, facts, known, scratch);
      if (l == Truth::Yes) return l;
      const Truth r = Decide(n.right, facts, known, scratch);
      return r == Truth::Yes ? r : l == Truth::No ? r : Truth::Unknown;
    }
    case Kind::Test: break;
  }
  if (!(known >> n.field & 1)) return Truth::Unknown;
  return Test(n, facts, scratch) ? Truth::Yes : Truth::No;
}

bool Query::Test(const Node& n, const FileFacts& facts, std::string& scratch) const {
  const FieldValue v = ValueOf(n.field, facts, scratch);
  const std::uint32_t type = FindField(n.field)->type;
  if (type == kTypeDate) {
    const std::int64_t t = v.number;
    switch (n.relation) {
      case Relation::Greater: return t >= n.dayEnd;
      case Relation::GreaterEqual: return t >= n.number;
      case Relation::Less: return t < n.number;
      case Relation::LessEqual: return t < n.dayEnd;
      case Relation::Equal: return t >= n.number && t < n.dayEnd;
      case Relation::NotEqual: return t < n.number || t >= n.dayEnd;
    }
    return false;
  }
  if (v.isText) {
    if (n.relation == Relation::Equal) return MatchesPattern(v.text, n.text);
    if (n.relation == Relation::NotEqual) return !MatchesPattern(v.text, n.text);
    const int c = CompareNoCase(v.text, n.text);
    switch (n.relation) {
      case Relation::Greater: return c > 0;
      case Relation::GreaterEqual: return c >= 0;
      case Relation::Less: return c < 0;
      default: return c <= 0;
    }
  }
  switch (n.relation) {
    case Relation::Greater: return v.number > n.number;
    case Relation::GreaterEqual: return v.number >= n.number;
    case Relation::Less: return v.number < n.number;
    case Relation::LessEqual: return v.number <= n.number;
    case Relation::Equal: return v.number == n.number;
    case Relation::NotEqual: return v.number != n.number;
  }
  return false;
}

bool MatchesPattern(std::string_view text, std::string_view pattern) {
  // Iterative match with one backtrack point: linear in practice, and never
  // worse than text length times pattern length.
  std::size_t t = 0, p = 0, starP = std::string_view::npos, starT = 0;
  while (t < text.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == Upper(text[t]))) {
      ++t, ++p;
    } else if (p < pattern.size() && pattern[p] == '*') {
      starP = p++, starT = t;
    } else if (starP != std::string_view::npos) {
      p = starP + 1, t = ++starT;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

}  // namespace vn::reportdef
