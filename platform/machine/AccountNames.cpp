#include "platform/machine/AccountNames.h"

#include <algorithm>
#include <cstring>

#include "platform/core/AsciiText.h"

namespace vn {
namespace {

constexpr BuiltInAlias kBuiltInAliases[] = {
    {"Administrators", 544, "Members can fully administer the computer/domain"},
    {"Backup Operators", 551, "Members can bypass file security to back up files"},
    {"Guests", 546, "Users granted guest access to the computer/domain"},
    {"Power Users", 547, "Members can share directories and printers"},
    {"Replicator", 552, "Supports file replication in a domain"},
    {"Users", 545, "Ordinary users"},
};

constexpr WellKnownGroup kWellKnownGroups[] = {
    {"Everyone", "", 1, 0},
    {"CREATOR OWNER", "", 3, 0},
    {"NETWORK", "NT AUTHORITY", 5, 2},
    {"INTERACTIVE", "NT AUTHORITY", 5, 4},
    {"Authenticated Users", "NT AUTHORITY", 5, 11},
    {"SYSTEM", "NT AUTHORITY", 5, 18},
};

constexpr const char* kOtherBuiltInNames[] = {"Administrator", "None",    "Domain Admins", "Domain Users",
                                              "Domain Guests", "BUILTIN", "NT AUTHORITY"};

}  // namespace

bool IsValidAccountName(std::string_view name) {
  if (name.empty() || name.size() > 256) return false;
  if (name.find_first_not_of(". ") == std::string_view::npos) return false;
  return std::none_of(name.begin(), name.end(), [](unsigned char c) {
    return c < 0x20 || c == 0x7f || std::strchr("\"/\\[]:;|=,+*?<>", c) != nullptr;
  });
}

bool IsBuiltInAccountName(std::string_view name) {
  for (const auto& w : kWellKnownGroups)
    if (EqualsIgnoringCase(w.name, name)) return true;
  for (const auto& a : kBuiltInAliases)
    if (EqualsIgnoringCase(a.name, name)) return true;
  for (const char* other : kOtherBuiltInNames)
    if (EqualsIgnoringCase(other, name)) return true;
  return false;
}

std::span<const BuiltInAlias> BuiltInAliases() { return kBuiltInAliases; }
std::span<const WellKnownGroup> WellKnownGroups() { return kWellKnownGroups; }
std::span<const char* const> OtherBuiltInNames() { return kOtherBuiltInNames; }

}  // namespace vn
