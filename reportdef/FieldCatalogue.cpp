#include "reportdef/FieldCatalogue.h"

#include <cstring>

namespace vn::reportdef {
namespace {

// In field number order; the names are what queries are written with, so
// they hold no blanks.
constexpr FieldInfo kFields[kFieldCount] = {
    {"FileName", kTypeName, true, false, true},
    {"Directory", kTypeName, true, false, true},
    {"Extension", kTypeText, true, false, true},
    {"Size", kTypeSize, true, true, true},
    {"Allocated", kTypeSize, true, true, true},
    {"Wasted", kTypeSize, true, true, true},
    {"Created", kTypeDate, true, false, true},
    {"Revised", kTypeDate, true, false, true},
    {"Accessed", kTypeDate, true, false, true},
    {"CreatedDays", kTypeDays, true, true, true},
    {"RevisedDays", kTypeDays, true, true, true},
    {"AccessedDays", kTypeDays, true, true, true},
    {"Attributes", kTypeAttributes, true, false, true},
    {"Owner", kTypeText, true, false, true},
    {"Group", kTypeText, true, false, true},
    {"Type", kTypeText, true, false, true},
    {"Machine", kTypeText, true, false, true},
    {"Object", kTypeName, true, false, true},
    {"Depth", kTypeCount, true, true, true},
    {"Links", kTypeCount, true, true, true},
    {"Files", kTypeCount, false, true, false},
    {"Fill", kTypePercent, true, true, true},
};

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }

bool SameLetters(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (Upper(a[i]) != Upper(b[i])) return false;
  return true;
}

}  // namespace

const FieldInfo* FindField(unsigned field) { return field < kFieldCount ? &kFields[field] : nullptr; }

int FieldByName(std::string_view name) {
  for (unsigned i = 0; i < kFieldCount; ++i)
    if (SameLetters(name, kFields[i].name)) return static_cast<int>(i);
  return -1;
}

bool IsNumberType(std::uint32_t type) {
  return type == kTypeSize || type == kTypeCount || type == kTypeDays || type == kTypePercent;
}

bool IsTextType(std::uint32_t type) { return type == kTypeText || type == kTypeAttributes || type == kTypeName; }

std::int64_t DaysBefore(std::int64_t t, std::int64_t now) { return t >= now ? 0 : (now - t) / 86400; }

FieldValue ValueOf(unsigned field, const FileFacts& f, std::string& scratch) {
  FieldValue v;
  auto text = [&v](std::string_view s) {
    v.isText = true;
    v.text = s;
    return v;
  };
  auto number = [&v](std::int64_t n) {
    v.number = n;
    return v;
  };
  switch (field) {
    case kFileName: return text(f.name);
    case kDirectory: return text(f.directory);
    case kExtension: {
      const std::size_t dot = f.name.rfind('.');
      return text(dot == std::string_view::npos || dot == 0 ? std::string_view() : f.name.substr(dot + 1));
    }
    case kSize: return number(static_cast<std::int64_t>(f.size));
    case kAllocated: return number(static_cast<std::int64_t>(f.allocated));
    case kWasted: return number(f.allocated > f.size ? static_cast<std::int64_t>(f.allocated - f.size) : 0);
    case kCreated: return number(f.created);
    case kRevised: return number(f.revised);
    case kAccessed: return number(f.accessed);
    case kCreatedDays: return number(DaysBefore(f.created, f.now));
    case kRevisedDays: return number(DaysBefore(f.revised, f.now));
    case kAccessedDays: return number(DaysBefore(f.accessed, f.now));
    case kAttributes: return text(f.attributes);
    case kOwner: return text(f.owner);
    case kGroup: return text(f.group);
    case kType: {
      if (f.directoryEntry) return text("File Folder");
      const std::size_t dot = f.name.rfind('.');
      if (dot == std::string_view::npos || dot == 0 || dot + 1 == f.name.size()) return text("File");
      scratch.clear();
      for (char c : f.name.substr(dot + 1)) scratch += Upper(c);
      scratch += " File";
      return text(scratch);
    }
    case kMachine: return text(f.machine);
    case kObject: return text(f.object);
    case kDepth: return number(f.depth);
    case kLinks: return number(f.links);
    case kFiles: return number(1);
    case kFill: return number(f.allocated ? static_cast<std::int64_t>(f.size * 100 / f.allocated) : 100);
    default: return v;
  }
}

}  // namespace vn::reportdef
