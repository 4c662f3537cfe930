#pragma once
// What a report record asks of each file: size and date bounds, the
// attribute tests, the file name filter and the owner filter, and the units
// sizes are shown in. Built once per run from the record; the built objects
// are read-only afterwards and may be used from every scanning thread.

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "server/engine/ReportEngine.h"

struct statx;

namespace vn::server {

// A closed interval of values; `all` when the criterion sets no limit.
struct Range {
  bool all = true;
  std::int64_t low = INT64_MIN;
  std::int64_t high = INT64_MAX;
  bool Contains(std::int64_t v) const { return all || (v >= low && v <= high); }
};

// Criteria parsing fails with a message for the user ("The value "x" of the
// size criterion is not a whole number.").
struct CriterionError {
  std::string message;
};

// What a report's Prepare does with one parsed range: keeps it in *range
// and answers ERROR_SUCCESS, or, when the criterion did not parse, makes the
// error the run's message and answers ERROR_INVALID_PARAMETER.
[[nodiscard]] DWORD KeepRange(const std::optional<Range>& parsed, const CriterionError& error, Range* range,
                              std::string& message);

// Scope 3 "larger than" Value1 (exclusive), 4 "smaller than" Value1
// (exclusive), 2 between Value1 and Value2 (inclusive, in either order),
// 0 or 5 no limit. Measure 1 MB, 2 KB, 3 (or anything else) bytes.
std::optional<Range> SizeRange(const ReportCriterion& c, CriterionError& error);

// The same comparisons over plain counts (copies of a duplicate), with
// "more than" and "less than" inclusive, as the editor words them.
std::optional<Range> CountRange(const ReportCriterion& c, CriterionError& error);

// The dates a date criterion accepts, as seconds since 1970. Measure 5/6/7:
// Value1/Value2 are days/months/years before `now`; scope 4 "since" takes
// dates at or after the bound, 3 "before" dates before it, 2 the dates
// between the two bounds. Measure 4: the values are calendar dates
// (YYYY-MM-DD, M/D/YYYY or D.M.YYYY) in local time; "since" includes the
// whole day named, "between" both whole days.
std::optional<Range> DateRange(const ReportCriterion& c, std::time_t now, CriterionError& error);

// A Value1 text as a whole number (the levels of Space By Directory, the
// percentages of Duplicate Files); empty reads as `empty`.
std::optional<std::int64_t> WholeNumber(const char* text, std::int64_t empty);

// File name patterns, separated by ";": "*" any run of characters, "?" one
// character, compared without ASCII letter case. Empty matches every name.
class NameFilter {
 public:
  explicit NameFilter(std::string_view patterns);
  bool Matches(std::string_view name) const;
  bool Empty() const { return m_patterns.empty(); }

 private:
  std::vector<std::string> m_patterns;
};

// The accounts of the OwnerFilter ("DOMAIN\user;group;..."): a file passes
// when its owner is one of the users or its group one of the groups. Empty
// passes every file. A name that is neither user nor group matches nothing.
class OwnerFilter {
 public:
  OwnerFilter(std::string_view names, const EngineOptions& options);
  bool Matches(std::uint32_t uid, std::uint32_t gid) const;
  bool Empty() const { return !m_active; }
  const std::vector<std::string>& Unknown() const { return m_unknown; }

 private:
  bool m_active = false;
  std::unordered_set<std::uint32_t> m_users;
  std::unordered_set<std::uint32_t> m_groups;
  std::vector<std::string> m_unknown;
};

// Windows attributes as this system sees a Linux file:
//   read-only  the owner may not write it, or it is immutable
//   hidden     its name starts with "."
//   system     it belongs to a system account (uid below 1000)
//   archive    it is not marked "no dump" (chattr +d): backups take it
//   compressed the file system keeps it compressed
//   temporary  its name ends in ".tmp" or "~"
// (directories: "D" in the attribute text).
enum AttributeBit : unsigned {
  kAttrReadOnly = 1,
  kAttrHidden = 2,
  kAttrSystem = 4,
  kAttrDirectory = 16,
  kAttrArchive = 32,
  kAttrTemporary = 256,
  kAttrCompressed = 2048,
};
unsigned FileAttributes(std::string_view name, const struct statx& st);
// "RHSDACT" letters of the set bits, in that order ("A", "RA", "HDA").
std::string AttributeText(unsigned attributes);

// The three-state tests of a criterion (0 must be clear, 1 must be set, 2 either).
class AttributeTest {
 public:
  explicit AttributeTest(const ReportCriterion& c);
  bool Matches(unsigned attributes) const { return (attributes & m_mask) == m_want; }

 private:
  unsigned m_mask = 0;
  unsigned m_want = 0;
};

// The unit sizes are shown in (Options bits 1 bytes, 4 KB, 2 MB; none set:
// bytes). A non-zero size never shows as 0; others round to nearest.
struct SizeUnit {
  std::int64_t divisor = 1;
  const char* suffix = "";  // " (KB)" / " (MB)", appended to column titles
  std::int64_t Show(std::uint64_t bytes) const;
};
SizeUnit UnitFromOptions(DWORD options);

// Dates as results show them: "2026-12-06 14:03:59" in local time, "" for 0.
// One formatter per thread: it keeps the local time offsets of the days it
// has met (a day whose offset changes is looked up by the hour), so
// formatting a date seldom costs a time zone lookup.
class DateFormatter {
 public:
  void Append(std::string& out, std::int64_t seconds);

 private:
  long Offset(std::int64_t seconds);
  struct Slot {
    std::int64_t day = INT64_MIN;
    long offset = 0;
    bool changes = false;  // the offset changes during this day
  };
  Slot m_cache[2048];
};
std::string DateText(std::int64_t seconds);
// Whole days from `seconds` to `now` (0 for future dates).
std::int64_t DaysBefore(std::int64_t seconds, std::time_t now);

}  // namespace vn::server
