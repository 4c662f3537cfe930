#include "platform/machine/AccountTable.h"

#include <grp.h>
#include <pwd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <set>
#include <string_view>
#include <utility>

#include "platform/core/AsciiText.h"
#include "platform/machine/AccountNames.h"

namespace vn {
namespace {

// Host ids of people (Debian's UID_MIN..UID_MAX); root counts as well.
constexpr std::uint32_t kFirstPersonId = 1000;
constexpr std::uint32_t kLastPersonId = 59999;
constexpr DWORD kHostRidBase = 1000;
constexpr DWORD kConfiguredRidBase = 0x40000000;

constexpr DWORD kRidAdministrator = 500;
constexpr DWORD kRidDomainAdmins = 512;
constexpr DWORD kRidDomainUsers = 513;
constexpr DWORD kRidDomainGuests = 514;

Sid MakeSid(std::uint64_t authority, const std::vector<DWORD>& subAuthorities) {
  Sid sid(8 + 4 * subAuthorities.size());
  sid[0] = SID_REVISION;
  sid[1] = static_cast<BYTE>(subAuthorities.size());
  for (int i = 0; i < 6; ++i) sid[2 + static_cast<std::size_t>(i)] = static_cast<BYTE>(authority >> (8 * (5 - i)));
  for (std::size_t i = 0; i < subAuthorities.size(); ++i)
    std::memcpy(sid.data() + 8 + 4 * i, &subAuthorities[i], 4);
  return sid;
}

Sid WithRid(Sid sid, DWORD rid) {
  sid[1] = static_cast<BYTE>(sid[1] + 1);
  const auto* bytes = reinterpret_cast<const BYTE*>(&rid);
  sid.insert(sid.end(), bytes, bytes + 4);
  return sid;
}

std::uint64_t Fnv1a(std::string_view text) {
  std::uint64_t hash = 0xcbf29ce484222325ull;
  for (const unsigned char c : text) {
    hash ^= c;
    hash *= 0x100000001b3ull;
  }
  return hash;
}

// S-1-5-21-a-b-c for a domain or a machine, stable for its name.
Sid NamedDomainSid(std::string_view kind, std::string_view name) {
  const std::string upper = ToUpperAscii(name);
  const std::uint64_t first = Fnv1a(std::string(kind) + ":" + upper);
  const std::uint64_t second = Fnv1a(upper + ":" + std::string(kind));
  return MakeSid(5, {21, static_cast<DWORD>(first), static_cast<DWORD>(first >> 32), static_cast<DWORD>(second)});
}

bool NameLess(const Account& a, const Account& b) {
  if (LessIgnoringCase(a.name, b.name)) return true;
  if (LessIgnoringCase(b.name, a.name)) return false;
  return a.name < b.name;
}

void BuildTable(const MachineConfig& config, const std::vector<HostUser>& hostUsers,
                const std::vector<HostGroup>& hostGroups, AccountTable* table) {
  table->domain = config.domain;
  table->machine = config.name;
  table->domainSid = NamedDomainSid("domain", config.domain);
  table->machineSid = NamedDomainSid("machine", config.name);
  std::set<std::string> taken;
  const auto take = [&](const std::string& name) { return taken.insert(ToUpperAscii(name)).second; };
  const auto domainAccount = [&](const std::string& name, SID_NAME_USE use, DWORD rid, std::string comment) {
    Account account{name, table->domain, use, WithRid(table->domainSid, rid), rid, {}, std::move(comment), 0};
    if (use == SidTypeUser) account.flags = UF_SCRIPT | UF_NORMAL_ACCOUNT | UF_DONT_EXPIRE_PASSWD;
    return account;
  };

  for (const auto& w : WellKnownGroups()) {
    take(w.name);
    const std::vector<DWORD> subs = w.authority == 5 ? std::vector<DWORD>{w.rid} : std::vector<DWORD>{0};
    table->wellKnown.push_back({w.name, w.domain, SidTypeWellKnownGroup, MakeSid(w.authority, subs), w.rid, {}, {}, 0});
  }
  const Sid builtin = MakeSid(5, {32});
  for (const auto& a : BuiltInAliases()) {
    take(a.name);
    table->localGroups.push_back({a.name, "BUILTIN", SidTypeAlias, WithRid(builtin, a.rid), a.rid, {}, a.comment, 0});
  }
  for (const char* name : OtherBuiltInNames()) take(name);
  table->domains = {
      {"BUILTIN", "BUILTIN", SidTypeDomain, builtin, 0, {}, {}, 0},
      {"NT AUTHORITY", "NT AUTHORITY", SidTypeDomain, MakeSid(5, {}), 0, {}, {}, 0},
      {table->domain, table->domain, SidTypeDomain, table->domainSid, 0, {}, {}, 0},
      {table->machine, table->machine, SidTypeDomain, table->machineSid, 0, {}, {}, 0},
  };

  table->users.push_back(
      domainAccount("Administrator", SidTypeUser, kRidAdministrator, "Built-in account for administering the computer/domain"));
  if (config.role == MachineRole::PrimaryDomainController || config.role == MachineRole::BackupDomainController) {
    table->groups.push_back(
        domainAccount("Domain Admins", SidTypeGroup, kRidDomainAdmins, "Designated administrators of the domain"));
    table->groups.push_back(domainAccount("Domain Users", SidTypeGroup, kRidDomainUsers, "All domain users"));
    table->groups.push_back(domainAccount("Domain Guests", SidTypeGroup, kRidDomainGuests, "All domain guests"));
  } else {
    table->groups.push_back(domainAccount("None", SidTypeGroup, kRidDomainUsers, "Ordinary users"));
  }

  // Configured accounts come before the host's, which they hide.
  std::set<DWORD> configuredRids;
  std::vector<Account> machineGroups;
  for (const auto& definition : config.accounts) {
    if (!take(definition.name)) continue;
    DWORD rid = kConfiguredRidBase | static_cast<DWORD>(Fnv1a(ToUpperAscii(definition.name)) & 0x3FFFFFFF);
    while (!configuredRids.insert(rid).second) rid = kConfiguredRidBase | ((rid + 1) & 0x3FFFFFFF);
    switch (definition.kind) {
      case AccountKind::User: {
        Account user = domainAccount(definition.name, SidTypeUser, rid, definition.comment);
        user.fullName = definition.fullName;
        table->users.push_back(std::move(user));
        break;
      }
      case AccountKind::Group:
        table->groups.push_back(domainAccount(definition.name, SidTypeGroup, rid, definition.comment));
        break;
      case AccountKind::LocalGroup:
        machineGroups.push_back({definition.name, table->machine, SidTypeAlias, WithRid(table->machineSid, rid), rid,
                                 {}, definition.comment, 0});
        break;
    }
  }

  const auto isPerson = [](std::uint32_t id) { return id >= kFirstPersonId && id <= kLastPersonId; };
  std::set<std::string> personNames;
  for (const auto& user : hostUsers) {
    if (!isPerson(user.uid) || !IsValidAccountName(user.name) || user.name.size() > kMaxUserNameLength) continue;
    personNames.insert(ToUpperAscii(user.name));
    if (!take(user.name)) continue;
    Account account = domainAccount(user.name, SidTypeUser, user.uid + kHostRidBase, {});
    account.fullName = user.fullName;
    if (user.loginDisabled) account.flags |= UF_ACCOUNTDISABLE;
    table->users.push_back(std::move(account));
  }
  for (const auto& group : hostGroups) {
    if (!isPerson(group.gid) || !IsValidAccountName(group.name)) continue;
    if (personNames.contains(ToUpperAscii(group.name)) || !take(group.name)) continue;
    table->groups.push_back(domainAccount(group.name, SidTypeGroup, group.gid + kHostRidBase, {}));
  }

  std::sort(table->users.begin(), table->users.end(), NameLess);
  std::sort(table->groups.begin(), table->groups.end(), NameLess);
  std::sort(machineGroups.begin(), machineGroups.end(), NameLess);
  table->localGroups.insert(table->localGroups.end(), machineGroups.begin(), machineGroups.end());
}

class SystemSource : public AccountSource {
 public:
  bool Read(std::vector<HostUser>* users, std::vector<HostGroup>* groups) const override {
    // The C library's enumeration position is process-wide.
    static std::mutex mutex;
    std::lock_guard lock(mutex);
    users->clear();
    groups->clear();
    std::vector<char> buffer(16384);
    ::setpwent();
    while (true) {
      passwd entry{};
      passwd* result = nullptr;
      const int error = ::getpwent_r(&entry, buffer.data(), buffer.size(), &result);
      if (error == ERANGE && buffer.size() < (1u << 20)) {
        buffer.resize(buffer.size() * 2);
        continue;
      }
      if (error != 0 || !result) break;
      const std::string gecos = entry.pw_gecos ? entry.pw_gecos : "";
      const std::string shell = entry.pw_shell ? entry.pw_shell : "";
      users->push_back({entry.pw_name, entry.pw_uid, gecos.substr(0, gecos.find(',')),
                        shell.ends_with("nologin") || shell.ends_with("/false")});
    }
    ::endpwent();
    ::setgrent();
    while (true) {
      group entry{};
      group* result = nullptr;
      const int error = ::getgrent_r(&entry, buffer.data(), buffer.size(), &result);
      if (error == ERANGE && buffer.size() < (1u << 20)) {
        buffer.resize(buffer.size() * 2);
        continue;
      }
      if (error != 0 || !result) break;
      groups->push_back({entry.gr_name, entry.gr_gid});
    }
    ::endgrent();
    return true;
  }
};

std::mutex& SourceMutex() {
  static std::mutex mutex;
  return mutex;
}

std::shared_ptr<const AccountSource>& InstalledSource() {
  static std::shared_ptr<const AccountSource> source;
  return source;
}

std::shared_ptr<const AccountSource> CurrentSource() {
  std::lock_guard lock(SourceMutex());
  return InstalledSource() ? InstalledSource() : SystemAccountSource();
}

}  // namespace

std::shared_ptr<const AccountSource> SystemAccountSource() {
  static const auto source = std::make_shared<SystemSource>();
  return source;
}

void SetAccountSource(std::shared_ptr<const AccountSource> source) {
  std::lock_guard lock(SourceMutex());
  InstalledSource() = std::move(source);
}

LONG ReadMachineAccounts(const MachineConfig& config, AccountTable* table) {
  std::vector<HostUser> users;
  std::vector<HostGroup> groups;
  if (!CurrentSource()->Read(&users, &groups)) return ERROR_GEN_FAILURE;
  *table = AccountTable();
  BuildTable(config, users, groups, table);
  return ERROR_SUCCESS;
}

bool IsWellFormedSid(const Sid& sid) {
  return sid.size() >= 8 && sid[0] == SID_REVISION && sid[1] <= SID_MAX_SUB_AUTHORITIES &&
         sid.size() == 8 + 4 * static_cast<std::size_t>(sid[1]);
}

}  // namespace vn
