#pragma once
// Everything the account calls of one machine answer from (accounts/Accounts.h): the
// machine's domain and name with their SIDs and every account, in the order
// the calls list them. A machine builds its own table from its configuration
// and its host's user and group database; another machine's table comes whole
// from that machine's service (MachineEndpoint::GetAccounts).

#include <string>
#include <vector>

#include "platform/core/Win32Types.h"
#include "platform/machine/MachineConfig.h"

namespace vn {

using Sid = std::vector<BYTE>;

struct Account {
  std::string name;
  std::string domain;  // as ReferencedDomainName gives it
  SID_NAME_USE use = SidTypeUser;
  Sid sid;
  DWORD rid = 0;
  std::string fullName;
  std::string comment;
  DWORD flags = 0;     // UF_* bits of a user
};

struct AccountTable {
  std::string domain;
  std::string machine;
  Sid domainSid;
  Sid machineSid;
  std::vector<Account> users;        // by name
  std::vector<Account> groups;       // global groups, by name
  std::vector<Account> localGroups;  // BUILTIN aliases, then the machine's, each by name
  std::vector<Account> wellKnown;
  std::vector<Account> domains;      // SidTypeDomain entries
};

// The table of the machine `config` describes, from the host source in use
// (Accounts.h). ERROR_GEN_FAILURE when the host database cannot be read.
LONG ReadMachineAccounts(const MachineConfig& config, AccountTable* table);

// A SID record is well formed and exactly `sid.size()` bytes long.
bool IsWellFormedSid(const Sid& sid);

}  // namespace vn
