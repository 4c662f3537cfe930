#pragma once
// The fields a custom report is made of: numbers 0 to kFieldSlots - 1, of
// which the first kFieldCount are in use. Each has a name (what queries,
// the designer and result column titles show), a type code and three flags:
// usable as a detail column, as a summary total, in a query.
//
// Type codes say how a field compares and totals:
//   1 size in bytes, 4 count: numbers, summed by default;
//   7 days, 8 percent: numbers, averaged by default;
//   2 text, 6 attribute letters, 9 name or path: texts, stored by default;
//   3 date: compared by calendar day in the machine's local time, stored.

#include <cstdint>
#include <string>
#include <string_view>

namespace vn::reportdef {

inline constexpr unsigned kFieldSlots = 60;

enum FieldType : std::uint32_t {
  kTypeSize = 1,
  kTypeText = 2,
  kTypeDate = 3,
  kTypeCount = 4,
  kTypeAttributes = 6,
  kTypeDays = 7,
  kTypePercent = 8,
  kTypeName = 9,
};

enum Field : unsigned {
  kFileName = 0,
  kDirectory,
  kExtension,
  kSize,
  kAllocated,
  kWasted,
  kCreated,
  kRevised,
  kAccessed,
  kCreatedDays,
  kRevisedDays,
  kAccessedDays,
  kAttributes,
  kOwner,
  kGroup,
  kType,
  kMachine,
  kObject,
  kDepth,
  kLinks,
  kFiles,
  kFill,
  kFieldCount
};

struct FieldInfo {
  const char* name;
  std::uint32_t type;
  bool detail;
  bool summary;
  bool query;
};

// The field, or null for a number that is no field.
const FieldInfo* FindField(unsigned field);
// The field of that name (ASCII letters in any case), or -1.
int FieldByName(std::string_view name);

bool IsNumberType(std::uint32_t type);
bool IsTextType(std::uint32_t type);

// What the report's evaluation knows of one file. Texts are views valid for
// the call that is handed them; `owner`, `group` and `attributes` are filled
// only when the definition uses those fields (ReportDefinition::UsedFields).
struct FileFacts {
  std::string_view name;
  std::string_view directory;
  std::string_view owner;
  std::string_view group;
  std::string_view machine;
  std::string_view object;
  std::string_view attributes;
  std::uint64_t size = 0;
  std::uint64_t allocated = 0;
  std::int64_t created = 0;  // seconds since 1970
  std::int64_t revised = 0;
  std::int64_t accessed = 0;
  std::int64_t now = 0;
  std::uint32_t depth = 0;
  std::uint32_t links = 1;
  bool directoryEntry = false;
};

// A field's value for one file: a number, or a text in `text` (which may
// point into `scratch`).
struct FieldValue {
  bool isText = false;
  std::int64_t number = 0;
  std::string_view text;
};
FieldValue ValueOf(unsigned field, const FileFacts& facts, std::string& scratch);

// Whole days from `t` to `now` (0 for a time after now).
std::int64_t DaysBefore(std::int64_t t, std::int64_t now);

}  // namespace vn::reportdef
