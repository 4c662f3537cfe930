#pragma once
// Everything the account calls of one machine answer from (accounts/Accounts.h):
// the machine's domain and name with their SIDs and every account, in the
// order the calls list them. A machine builds its own table from its
// configuration and its host's user and group database (ReadMachineAccounts,
// by the rules Accounts.h describes); another machine's table comes whole
// from that machine's service (MachineEndpoint::GetAccounts).
//
// Threads: any; the account source may be replaced while tables are read.

#include <cstdint>
#include <memory>
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

// Host accounts as the account source reports them, before any choice.
struct HostUser {
  std::string name;
  std::uint32_t uid = 0;
  std::string fullName;        // the first field of the GECOS field
  bool loginDisabled = false;  // shell nologin or false: shown with UF_ACCOUNTDISABLE
};
struct HostGroup {
  std::string name;
  std::uint32_t gid = 0;
};

// Where the host's users and groups come from. Read may be called from any
// thread; false when the database cannot be read (the account calls then fail
// with ERROR_GEN_FAILURE).
class AccountSource {
 public:
  virtual ~AccountSource() = default;
  [[nodiscard]] virtual bool Read(std::vector<HostUser>* users, std::vector<HostGroup>* groups) const = 0;
};

// The C library's database (getpwent_r / getgrent_r: /etc/passwd, /etc/group
// or whatever the name service switch names).
std::shared_ptr<const AccountSource> SystemAccountSource();

// Replaces the host source for this process (tests); null brings back the
// system's.
void SetAccountSource(std::shared_ptr<const AccountSource> source);

// The table of the machine `config` describes, from the host source in use.
// ERROR_GEN_FAILURE when the host database cannot be read.
[[nodiscard]] LONG ReadMachineAccounts(const MachineConfig& config, AccountTable* table);

// A SID record is well formed and exactly `sid.size()` bytes long.
bool IsWellFormedSid(const Sid& sid);

}  // namespace vn
