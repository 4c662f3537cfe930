#pragma once
// The rules for account names that both a machine's configuration ([Accounts]
// of machine.ini) and its account calls (accounts/Accounts.h) follow, and the
// built-in accounts every machine has, which neither the configuration nor
// the host's users and groups can take.
//
// Plain functions and constant tables; safe from any thread.

#include <cstdint>
#include <span>
#include <string_view>

#include "platform/core/Win32Types.h"

namespace vn {

// NT account names: 1 to 256 characters, none of " / \ [ ] : ; | = , + * ? < >
// or control characters, not only dots and spaces. Users: at most
// kMaxUserNameLength characters.
inline constexpr std::size_t kMaxUserNameLength = 20;
bool IsValidAccountName(std::string_view name);

// True for the names of the built-in accounts below (any letter case).
bool IsBuiltInAccountName(std::string_view name);

// A BUILTIN alias, S-1-5-32-RID.
struct BuiltInAlias {
  const char* name;
  DWORD rid;
  const char* comment;
};
std::span<const BuiltInAlias> BuiltInAliases();

// A well-known group: S-1-AUTHORITY-RID ("Everyone" is S-1-1-0), in `domain`
// ("" or "NT AUTHORITY").
struct WellKnownGroup {
  const char* name;
  const char* domain;
  std::uint64_t authority;
  DWORD rid;
};
std::span<const WellKnownGroup> WellKnownGroups();

// The other names every machine reserves: its administrator, the domain's
// standard groups and the two built-in domains.
std::span<const char* const> OtherBuiltInNames();

}  // namespace vn
