#pragma once
// User filters: a named list of accounts of one machine's domain that a
// report's owner filter lets through. Each is one REG_SZ value of the key
// "Software\Halvard\Vornal\4.0\User Filter" (string 64305) in
// HKEY_LOCAL_MACHINE of the filter's machine: the value name is the filter's
// name, the data the account names joined by ";" with none after the last,
// at most 1024 characters (read with a 1025-byte buffer). Account names are
// "DOMAIN\name" for users and global groups, the bare name for local groups.
//
// - Splitting a stored value: a ";" is appended when missing and the text
//   split at each ";"; empty pieces (a hand-written trailing ";", or ";;")
//   give no entry.
// - Adding names keeps the list free of duplicates, compared exactly (the
//   accounts' names are the machine's, so two spellings are two entries).
// - A list whose joined text is longer than 1024 characters is refused, not
//   cut: StoreUserFilter answers ERROR_BUFFER_OVERFLOW and writes nothing,
//   since a cut filter would silently let fewer accounts through than the
//   user chose. The dialog says kUserFilterTooLongText.
//
// Registry calls go through ConnectMachineRegistry: an empty machine name or
// this computer's is the local registry, another reaches that machine. They
// return the registry's code (0 = success). Any thread.

#include <string>
#include <string_view>
#include <vector>

#include "platform/core/Win32Types.h"

namespace vn::console {

inline constexpr std::size_t kUserFilterMax = 1024;

std::vector<std::string> SplitUserFilter(std::string_view value);
std::string JoinUserFilter(const std::vector<std::string>& names);
// Appends every name of `added` the list does not hold yet; the number added.
int AddUserFilterNames(std::vector<std::string>* names, const std::vector<std::string>& added);

// The stored value of a filter. ERROR_FILE_NOT_FOUND when the key or value is missing.
[[nodiscard]] LONG ReadUserFilter(std::string_view machine, std::string_view name, std::string* value);

// Creates (or opens) the key and writes the value. A new filter whose name is
// already a value of the key is refused with ERROR_ALREADY_EXISTS (shown as
// kUserFilterExistsFormat); an existing one is overwritten. ERROR_BUFFER_OVERFLOW
// when the joined list is longer than 1024 characters, ERROR_INVALID_PARAMETER
// for an empty name or list. Nothing is written on any failure.
[[nodiscard]] LONG StoreUserFilter(std::string_view machine, std::string_view name,
                                   const std::vector<std::string>& names, bool newFilter);

// "%s" = the filter's name.
inline constexpr std::string_view kUserFilterExistsFormat = "User Filter %s exists.  Please change the name";
inline constexpr std::string_view kUserFilterTooLongText =
    "The user filter holds more than 1024 characters of account names.  Please remove some of them.";

}  // namespace vn::console
