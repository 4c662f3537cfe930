#include "server/engine/Criteria.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>

namespace vn::server {
namespace {

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string_view Trimmed(const char* text, std::size_t capacity) {
  std::string_view s(text, strnlen(text, capacity));
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

std::optional<std::int64_t> ParseNumber(std::string_view s) {
  std::int64_t v = 0;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (ec != std::errc{} || end != s.data() + s.size()) return std::nullopt;
  return v;
}

std::optional<std::int64_t> Value(const char (&text)[40], std::int64_t scale, const char* what, CriterionError& error) {
  std::string_view s = Trimmed(text, sizeof text);
  if (s.empty()) return 0;
  std::optional<std::int64_t> v = ParseNumber(s);
  if (!v || *v < 0 || (scale > 1 && *v > INT64_MAX / scale)) {
    error.message = "The value \"" + std::string(s) + "\" of the " + what + " criterion is not a whole number of its unit.";
    return std::nullopt;
  }
  return *v * scale;
}

std::int64_t MeasureBytes(DWORD measure) {
  switch (measure) {
    case 1: return std::int64_t{1} << 20;
    case 2: return std::int64_t{1} << 10;
    default: return 1;
  }
}

// Scope handling shared by sizes and counts: `strict` makes "larger" and
// "smaller" exclude the bound.
std::optional<Range> Bounds(const ReportCriterion& c, std::int64_t scale, bool strict, const char* what,
                            CriterionError& error) {
  Range r;
  if (c.Scope != 2 && c.Scope != 3 && c.Scope != 4) return r;
  std::optional<std::int64_t> v1 = Value(c.Value1, scale, what, error);
  if (!v1) return std::nullopt;
  r.all = false;
  if (c.Scope == 3) {
    r.low = strict ? *v1 + 1 : *v1;
  } else if (c.Scope == 4) {
    r.high = strict ? *v1 - 1 : *v1;
  } else {
    std::optional<std::int64_t> v2 = Value(c.Value2, scale, what, error);
    if (!v2) return std::nullopt;
    r.low = std::min(*v1, *v2);
    r.high = std::max(*v1, *v2);
  }
  return r;
}

// Local midnight of a calendar date text, or nullopt.
std::optional<std::time_t> ParseDate(std::string_view s) {
  int a = 0, b = 0, c = 0;
  char s1 = 0, s2 = 0;
  std::string text(s);
  if (std::sscanf(text.c_str(), "%d%c%d%c%d", &a, &s1, &b, &s2, &c) != 5 || s1 != s2) return std::nullopt;
  std::tm tm{};
  if (s1 == '-') {
    tm.tm_year = a - 1900, tm.tm_mon = b - 1, tm.tm_mday = c;
  } else if (s1 == '/') {
    tm.tm_year = c - 1900, tm.tm_mon = a - 1, tm.tm_mday = b;
  } else if (s1 == '.') {
    tm.tm_year = c - 1900, tm.tm_mon = b - 1, tm.tm_mday = a;
  } else {
    return std::nullopt;
  }
  if (tm.tm_mon < 0 || tm.tm_mon > 11 || tm.tm_mday < 1 || tm.tm_mday > 31 || tm.tm_year < 0 || tm.tm_year > 8000)
    return std::nullopt;
  tm.tm_isdst = -1;
  const int day = tm.tm_mday;
  std::time_t t = std::mktime(&tm);
  if (t == -1 || tm.tm_mday != day) return std::nullopt;  // 31 February
  return t;
}

// The moment `count` units of `measure` before `now`.
std::time_t Before(std::time_t now, DWORD measure, std::int64_t count) {
  if (measure == 5) return now - static_cast<std::time_t>(std::min<std::int64_t>(count, 1'000'000) * 86400);
  std::tm tm{};
  localtime_r(&now, &tm);
  const std::int64_t months = std::min<std::int64_t>(count, 100'000) * (measure == 7 ? 12 : 1);
  tm.tm_year -= static_cast<int>(months / 12);
  tm.tm_mon -= static_cast<int>(months % 12);
  tm.tm_isdst = -1;
  return std::mktime(&tm);
}

}  // namespace

DWORD KeepRange(const std::optional<Range>& parsed, const CriterionError& error, Range* range, std::string& message) {
  if (!parsed) {
    message = error.message;
    return ERROR_INVALID_PARAMETER;
  }
  *range = *parsed;
  return ERROR_SUCCESS;
}

std::optional<Range> SizeRange(const ReportCriterion& c, CriterionError& error) {
  return Bounds(c, MeasureBytes(c.Measure), true, "size", error);
}

std::optional<Range> CountRange(const ReportCriterion& c, CriterionError& error) {
  return Bounds(c, 1, false, "count", error);
}

std::optional<Range> DateRange(const ReportCriterion& c, std::time_t now, CriterionError& error) {
  Range r;
  if (c.Scope != 2 && c.Scope != 3 && c.Scope != 4) return r;
  r.all = false;
  std::time_t b1 = 0, b2 = 0;
  if (c.Measure == 4) {
    for (auto [text, out] : {std::pair{&c.Value1, &b1}, std::pair{&c.Value2, &b2}}) {
      if (out == &b2 && c.Scope != 2) break;
      std::string_view s = Trimmed(*text, sizeof *text);
      std::optional<std::time_t> t = ParseDate(s);
      if (!t) {
        error.message = "The date \"" + std::string(s) + "\" of the date criterion is not a date (YYYY-MM-DD, M/D/YYYY or D.M.YYYY).";
        return std::nullopt;
      }
      *out = *t;
    }
    // Calendar dates: "since" from the start of its day, "before" before it,
    // "between" the first day's start to the end of the last day.
    if (c.Scope == 4) {
      r.low = b1;
    } else if (c.Scope == 3) {
      r.high = b1 - 1;
    } else {
      r.low = std::min(b1, b2);
      r.high = std::max(b1, b2) + 86400 - 1;
    }
    return r;
  }
  if (c.Measure != 5 && c.Measure != 6 && c.Measure != 7) {
    error.message = "The date criterion has no unit (days, months, years or a date).";
    return std::nullopt;
  }
  std::optional<std::int64_t> n1 = Value(c.Value1, 1, "date", error);
  if (!n1) return std::nullopt;
  b1 = Before(now, c.Measure, *n1);
  if (c.Scope == 4) {
    r.low = b1;
  } else if (c.Scope == 3) {
    r.high = b1 - 1;
  } else {
    std::optional<std::int64_t> n2 = Value(c.Value2, 1, "date", error);
    if (!n2) return std::nullopt;
    b2 = Before(now, c.Measure, *n2);
    r.low = std::min(b1, b2);
    r.high = std::max(b1, b2);
  }
  return r;
}

std::optional<std::int64_t> WholeNumber(const char* text, std::int64_t empty) {
  std::string_view s = Trimmed(text, 40);
  if (s.empty()) return empty;
  std::optional<std::int64_t> v = ParseNumber(s);
  if (!v || *v < 0) return std::nullopt;
  return v;
}

namespace {

// Wildcard match without letter case; iterative, with one backtrack point,
// so a pattern of many "*" costs at most name × pattern steps.
bool Wildcard(std::string_view pattern, std::string_view name) {
  std::size_t p = 0, n = 0, star = std::string_view::npos, mark = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || Lower(pattern[p]) == Lower(name[n]))) {
      ++p, ++n;
    } else if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      mark = n;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      n = ++mark;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

std::vector<std::string> SplitList(std::string_view text) {
  std::vector<std::string> out;
  while (!text.empty()) {
    std::size_t semi = text.find(';');
    std::string_view item = text.substr(0, semi);
    while (!item.empty() && item.front() == ' ') item.remove_prefix(1);
    while (!item.empty() && item.back() == ' ') item.remove_suffix(1);
    if (!item.empty()) out.emplace_back(item);
    if (semi == std::string_view::npos) break;
    text.remove_prefix(semi + 1);
  }
  return out;
}

}  // namespace

NameFilter::NameFilter(std::string_view patterns) : m_patterns(SplitList(patterns)) {
  // "*.*" names every file, also those without a dot, as it always has.
  for (const std::string& p : m_patterns)
    if (p == "*" || p == "*.*") m_patterns.clear();
}

bool NameFilter::Matches(std::string_view name) const {
  if (m_patterns.empty()) return true;
  return std::any_of(m_patterns.begin(), m_patterns.end(), [&](const std::string& p) { return Wildcard(p, name); });
}

OwnerFilter::OwnerFilter(std::string_view names, const EngineOptions& options) {
  for (const std::string& name : SplitList(names)) {
    m_active = true;
    std::optional<std::uint32_t> uid = options.userId ? options.userId(name) : std::nullopt;
    std::optional<std::uint32_t> gid = options.groupId ? options.groupId(name) : std::nullopt;
    if (uid) m_users.insert(*uid);
    if (gid) m_groups.insert(*gid);
    if (!uid && !gid) m_unknown.push_back(name);
  }
}

bool OwnerFilter::Matches(std::uint32_t uid, std::uint32_t gid) const {
  return !m_active || m_users.count(uid) != 0 || m_groups.count(gid) != 0;
}

unsigned FileAttributes(std::string_view name, const struct statx& st) {
  unsigned a = 0;
  if (!(st.stx_mode & S_IWUSR) || (st.stx_attributes & STATX_ATTR_IMMUTABLE)) a |= kAttrReadOnly;
  if (!name.empty() && name.front() == '.') a |= kAttrHidden;
  if (st.stx_uid < 1000) a |= kAttrSystem;
  if (S_ISDIR(st.stx_mode)) a |= kAttrDirectory;
  if (!(st.stx_attributes & STATX_ATTR_NODUMP)) a |= kAttrArchive;
  if (st.stx_attributes & STATX_ATTR_COMPRESSED) a |= kAttrCompressed;
  if (name.ends_with('~') || (name.size() >= 4 && Lower(name[name.size() - 4]) == '.' &&
                              Lower(name[name.size() - 3]) == 't' && Lower(name[name.size() - 2]) == 'm' &&
                              Lower(name[name.size() - 1]) == 'p'))
    a |= kAttrTemporary;
  return a;
}

std::string AttributeText(unsigned a) {
  std::string s;
  for (auto [bit, letter] : {std::pair{kAttrReadOnly, 'R'}, {kAttrHidden, 'H'}, {kAttrSystem, 'S'},
                             {kAttrDirectory, 'D'}, {kAttrArchive, 'A'}, {kAttrCompressed, 'C'},
                             {kAttrTemporary, 'T'}})
    if (a & bit) s += letter;
  return s;
}

AttributeTest::AttributeTest(const ReportCriterion& c) {
  for (auto [state, bit] : {std::pair{c.ReadOnly, kAttrReadOnly}, {c.Archive, kAttrArchive},
                            {c.Compress, kAttrCompressed}, {c.Hidden, kAttrHidden}, {c.System, kAttrSystem},
                            {c.Temp, kAttrTemporary}}) {
    if (state == kAttributeCleared || state == kAttributeSet) {
      m_mask |= bit;
      if (state == kAttributeSet) m_want |= bit;
    }
  }
}

std::int64_t SizeUnit::Show(std::uint64_t bytes) const {
  if (divisor == 1) return static_cast<std::int64_t>(std::min<std::uint64_t>(bytes, INT64_MAX));
  const std::uint64_t d = static_cast<std::uint64_t>(divisor);
  std::uint64_t v = (bytes / d) + ((bytes % d) * 2 >= d ? 1 : 0);
  if (v == 0 && bytes != 0) v = 1;
  return static_cast<std::int64_t>(v);
}

SizeUnit UnitFromOptions(DWORD options) {
  if (options & kOptionSizesInBytes) return {};
  if (options & kOptionSizesInKilobytes) return {1024, " (KB)"};
  if (options & kOptionSizesInMegabytes) return {1 << 20, " (MB)"};
  return {};
}

long DateFormatter::Offset(std::int64_t seconds) {
  auto lookup = [](std::int64_t s) -> long {
    std::time_t t = static_cast<std::time_t>(s);
    std::tm tm{};
    return localtime_r(&t, &tm) ? tm.tm_gmtoff : 0;
  };
  const std::int64_t day = seconds >= 0 ? seconds / 86400 : (seconds - 86399) / 86400;
  Slot& slot = m_cache[static_cast<std::uint64_t>(day) % 2048];
  if (slot.day != day) {
    slot.day = day;
    slot.offset = lookup(day * 86400);
    slot.changes = lookup(day * 86400 + 86399) != slot.offset;
  }
  return slot.changes ? lookup(seconds) : slot.offset;
}

void DateFormatter::Append(std::string& out, std::int64_t seconds) {
  if (seconds == 0) return;
  // Civil date from a day count (proleptic Gregorian calendar).
  const std::int64_t local = seconds + Offset(seconds);
  std::int64_t days = local >= 0 ? local / 86400 : (local - 86399) / 86400;
  const std::int64_t secs = local - days * 86400;
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const std::int64_t doe = days - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  const std::int64_t day = doy - (153 * mp + 2) / 5 + 1;
  const std::int64_t month = mp < 10 ? mp + 3 : mp - 9;
  const std::int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
  // "YYYY-MM-DD HH:MM:SS", digits placed by hand: this runs for every
  // date of every listed file.
  char buf[20];
  auto two = [&](int at, std::int64_t v) {
    buf[at] = static_cast<char>('0' + v / 10 % 10);
    buf[at + 1] = static_cast<char>('0' + v % 10);
  };
  const std::int64_t y = std::clamp<std::int64_t>(year, 0, 9999);
  two(0, y / 100), two(2, y % 100), two(5, month), two(8, day);
  two(11, secs / 3600), two(14, secs / 60 % 60), two(17, secs % 60);
  buf[4] = buf[7] = '-', buf[10] = ' ', buf[13] = buf[16] = ':';
  out.append(buf, sizeof buf - 1);
}

std::string DateText(std::int64_t seconds) {
  DateFormatter f;
  std::string s;
  f.Append(s, seconds);
  return s;
}

std::int64_t DaysBefore(std::int64_t seconds, std::time_t now) {
  return seconds >= now ? 0 : (now - seconds) / 86400;
}

}  // namespace vn::server
