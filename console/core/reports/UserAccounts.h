#pragma once
// The rules of "Select Users" (dialog 430), the account picker of a user
// filter, without windows.
//
// Sources ("List Names from:"): the machine as "\\NAME", its domain in upper
// case, and every other domain the machine's browse list names
// (NetServerEnum, SV_TYPE_DOMAIN_ENUM) whose controller NetGetAnyDCName finds,
// in upper case. The machine is examined with NetServerGetInfo level 101;
// when it is neither a primary nor a backup domain controller its domain's
// controller is found with NetGetAnyDCName (a workgroup machine has none);
// the domain's name comes from NetUserModalsGet level 2.
//
// Accounts of a source: its global groups (NetQueryDisplayInformation level
// 3, the group "None" left out), with "Show Users" its users (level 1),
// both in batches of up to 16 entries and 384 bytes while ERROR_MORE_DATA
// comes back; for the machine source also its local groups
// (NetLocalGroupEnum level 0, preferred length 1000). A domain source is read
// from that domain's controller. Order: global groups, local groups, users;
// within a kind by name without letter case.
//
// Names: "DOMAIN\name" (format "%s\%s") for users and global groups, the
// bare name for local groups. "Add" appends a name to "Selected Names:" with
// ";" between names, unless the field holds it already (letter case ignored).
//
// OK checks every name with LookupAccountNameA on the machine: a name whose
// domain part is the machine itself is looked up without it; a name that is
// not found while the machine is a domain controller is tried again without
// its domain part and, found that way, stands bare in the field from then on.
// The account must be a user, group, alias or well-known group with a valid
// SID; anything else fails with ERROR_INVALID_SID (1337).
//
// Every call asks the machines afresh and returns the first failing call's
// code. Any thread; the calls may take the time a remote machine needs.

#include <string>
#include <string_view>
#include <vector>

#include "platform/core/Win32Types.h"

namespace vn::console {

enum AccountKind : int { kAccountGlobalGroup = 2, kAccountLocalGroup = 4, kAccountUser = 8 };

struct AccountRow {
  int kind = kAccountUser;
  std::string name;
  bool operator==(const AccountRow&) const = default;
};

struct UserSource {
  std::string text;    // as listed: "\\NAME" or "DOMAIN"
  std::string domain;  // the domain its users and groups are named with
  std::string server;  // the machine asked: "\\NAME", or the domain's controller
  bool isMachine = false;
};

struct UserSources {
  std::string machine;  // "\\NAME", upper case
  bool isController = false;
  std::string controller;  // "\\DC" of the machine's domain; the machine itself on a controller; may be empty
  std::vector<UserSource> sources;
};

// The machine's name as "\\NAME": backslashes stripped, upper case, the
// local computer's name for an empty one.
std::string MachineUncName(std::string_view machine);

[[nodiscard]] LONG ReadUserSources(std::string_view machine, UserSources* sources);

[[nodiscard]] LONG ListAccounts(const UserSource& source, bool showUsers, std::vector<AccountRow>* rows);

void SortAccountRows(std::vector<AccountRow>* rows);
std::string QualifiedAccountName(std::string_view domain, const AccountRow& row);
// False (field unchanged) when the field holds the name already.
bool AppendSelectedName(std::string* field, std::string_view name);

// Checks each name of the field (split at ";", blanks around a name and
// empty pieces dropped). On success the field holds the names joined by ";",
// corrected where the retry found them; on failure it is unchanged and
// *failedName is the first name that failed.
[[nodiscard]] LONG CheckSelectedNames(std::string_view machine, bool isController, std::string* field,
                                      std::string* failedName);

inline constexpr std::string_view kNoUserSelectedText = "No user selected";

}  // namespace vn::console
