#pragma once
// The machine this process runs on: its home directory and its computer name.
//
// A Vornal machine keeps all its data (registry, configuration, profile, pipes,
// later its jobs and drives) in one directory, its home. The home is, in order:
// the folder given to SetMachineHome, $VORNAL_HOME, /var/lib/vornal for root,
// and $XDG_DATA_HOME/Vornal (~/.local/share/Vornal) for everyone else. The
// console, the tests and the machine service all find the local machine this way.
//
// The computer name comes from "Name" in the [Machine] section of machine.ini in
// the home, else from the host name; it is upper case and at most 15 characters.

#include <filesystem>
#include <optional>
#include <string>

#include "platform/core/LastError.h"
#include "platform/core/Win32Types.h"

namespace vn {

// The home of the local machine; created (with its parents) on first use.
std::filesystem::path MachineHome();

// Creates the home when it is missing and checks that this process can keep
// its data there: ERROR_SUCCESS, or ERROR_PATH_NOT_FOUND (it cannot be
// created, or is not a directory) / ERROR_ACCESS_DENIED (not writable), with
// *detail saying why. Hosts call it once at start so that a home they cannot
// use stops them with a message instead of failing call by call later.
[[nodiscard]] LONG CheckMachineHome(std::string* detail);

// Makes `home` the local machine of this process from now on (hosts given a
// --home option, tests with their own temporary machine); nullopt goes back
// to $VORNAL_HOME and the default. Handles opened on the previous machine's
// hive keep working on it until they are closed.
void SetMachineHome(std::optional<std::filesystem::path> home);

// The home given to SetMachineHome, if any. Nothing is created.
std::optional<std::filesystem::path> ExplicitMachineHome();

// The local computer name, as GetComputerNameA returns it.
std::string LocalComputerName();

// True when `name` names this machine: with or without two leading
// backslashes, in any letter case.
bool IsLocalMachineName(std::string_view name);

}  // namespace vn

// Copies the computer name into lpBuffer (*nSize characters, terminator
// included). On success *nSize is the length without the terminator; when the
// buffer is too small it fails with ERROR_BUFFER_OVERFLOW (GetLastError) and
// *nSize is the size needed.
[[nodiscard]] BOOL GetComputerNameA(LPSTR lpBuffer, LPDWORD nSize);
