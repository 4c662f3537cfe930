// The access reports over POSIX permissions and access control lists:
// Files With ACL, Files With Undefined ACE's, Files By User Access and User
// Access By File. A file's entries are its owner, its group and everyone
// else from its mode, plus the named users and groups of its access list;
// the access shown for named entries and the group is what the list's mask
// leaves them. Files By User Access also names the users who reach a file
// through one of their groups, with what the file system grants them: the
// owner gets the owner's entry, a named user that entry, any other user the
// entries of all the file's groups they belong to together.

#include <acl/libacl.h>
#include <sys/acl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/xattr.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <map>
#include <mutex>

#include "server/engine/Reports.h"

namespace vn::server {
namespace {

enum class Kind { Owner, User, Group, NamedGroup, Everyone };

struct AclEntry {
  Kind kind;
  std::uint32_t id;
  unsigned perms;  // 4 read, 2 write, 1 execute
};

std::string PermText(unsigned p) {
  std::string s;
  if (p & 4) s += "Read";
  if (p & 2) s += std::string(s.empty() ? "" : ", ") + "Write";
  if (p & 1) s += std::string(s.empty() ? "" : ", ") + "Execute";
  return s.empty() ? std::string("None") : s;
}

// The entries of one file; `extended` tells whether it has an access list
// beyond its mode (or, for a directory, a default list).
struct FileAcl {
  bool extended = false;
  std::vector<AclEntry> entries;
};

void ReadAcl(const ScanEntry& e, FileAcl& out) {
  out.entries.clear();
  out.extended = false;
  const struct statx& st = *e.st;
  char path[64 + 256];
  std::snprintf(path, sizeof path, "/proc/self/fd/%d/%.*s", e.dirFd, static_cast<int>(e.name.size()), e.name.data());
  const bool access = ::lgetxattr(path, "system.posix_acl_access", nullptr, 0) > 0;
  const bool defaults = S_ISDIR(st.stx_mode) && ::lgetxattr(path, "system.posix_acl_default", nullptr, 0) > 0;
  out.extended = access || defaults;
  unsigned mask = 7;
  // With an access list, the mode's group bits are the mask; the owning
  // group's own entry is in the list.
  unsigned groupPerms = (st.stx_mode >> 3) & 7u;
  if (access) {
    if (acl_t acl = acl_get_file(path, ACL_TYPE_ACCESS)) {
      acl_entry_t entry;
      for (int r = acl_get_entry(acl, ACL_FIRST_ENTRY, &entry); r == 1; r = acl_get_entry(acl, ACL_NEXT_ENTRY, &entry)) {
        acl_tag_t tag;
        acl_permset_t set;
        if (acl_get_tag_type(entry, &tag) != 0 || acl_get_permset(entry, &set) != 0) continue;
        const unsigned perms = (acl_get_perm(set, ACL_READ) > 0 ? 4u : 0u) | (acl_get_perm(set, ACL_WRITE) > 0 ? 2u : 0u) |
                               (acl_get_perm(set, ACL_EXECUTE) > 0 ? 1u : 0u);
        if (tag == ACL_MASK) {
          mask = perms;
        } else if (tag == ACL_GROUP_OBJ) {
          groupPerms = perms;
        } else if (tag == ACL_USER || tag == ACL_GROUP) {
          auto* q = static_cast<id_t*>(acl_get_qualifier(entry));
          if (q) {
            out.entries.push_back({tag == ACL_USER ? Kind::User : Kind::NamedGroup, *q, perms});
            acl_free(q);
          }
        }
      }
      acl_free(acl);
    }
  }
  out.entries.insert(out.entries.begin(), {Kind::Owner, st.stx_uid, (st.stx_mode >> 6) & 7u});
  out.entries.insert(out.entries.begin() + 1, {Kind::Group, st.stx_gid, groupPerms});
  for (AclEntry& a : out.entries)
    if (a.kind == Kind::User || a.kind == Kind::NamedGroup || a.kind == Kind::Group) a.perms &= mask;
  out.entries.push_back({Kind::Everyone, 0, st.stx_mode & 7u});
}

// One row of Files By User Access.
struct UserAccess {
  std::uint32_t uid;
  unsigned perms;
  Kind kind;  // Owner or User for the file's own entries, Group for the rest
};

// The users that may reach a file and how, as the file system decides: the
// owner by the owner's entry, each named user by its entry, and every other
// user with an account by the entries of the file's groups they belong to
// (listed only when those allow something).
void UsersWithAccess(const FileAcl& acl, AccountNames& accounts, std::vector<UserAccess>& out) {
  out.clear();
  for (const AclEntry& a : acl.entries)
    if (a.kind == Kind::Owner || a.kind == Kind::User) out.push_back({a.id, a.perms, a.kind});
  const std::size_t own = out.size();
  const auto hasEntry = [&](std::uint32_t uid) {
    return std::any_of(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(own),
                       [uid](const UserAccess& u) { return u.uid == uid; });
  };
  std::map<std::uint32_t, unsigned> viaGroups;
  for (const AclEntry& a : acl.entries) {
    if (a.kind != Kind::Group && a.kind != Kind::NamedGroup) continue;
    for (const std::uint32_t uid : accounts.Members(a.id))
      if (!hasEntry(uid)) viaGroups[uid] |= a.perms;
  }
  for (const auto& [uid, perms] : viaGroups)
    if (perms != 0 && accounts.UserKnown(uid)) out.push_back({uid, perms, Kind::Group});
}

class AccessReport : public ListingReport {
 public:
  AccessReport(RunContext& run, DWORD code) : ListingReport(run), m_code(code) {}
  DWORD Prepare(unsigned workers, std::string& message) override {
    m_acl.resize(workers);
    m_users.resize(workers);
    return ListingReport::Prepare(workers, message);
  }

 protected:
  bool ListsDirectories() const override { return true; }

  bool Accept(const ScanEntry& e, unsigned worker) override {
    FileAcl& acl = m_acl[worker];
    ReadAcl(e, acl);
    if (m_code == kReportFilesByUserAccess) UsersWithAccess(acl, m_run.accounts, m_users[worker]);
    switch (m_code) {
      case kReportFilesWithAcl: return acl.extended;
      case kReportFilesWithUndefinedAces:
        return std::any_of(acl.entries.begin(), acl.entries.end(), [&](const AclEntry& a) { return Undefined(a); });
      default: return true;
    }
  }

  std::size_t RowsFor(const ScanEntry&, unsigned worker) const override {
    const FileAcl& acl = m_acl[worker];
    switch (m_code) {
      case kReportFilesWithAcl:
      case kReportFilesWithUndefinedAces: return 1;
      case kReportFilesByUserAccess: return m_users[worker].size();
      default: return acl.entries.size();
    }
  }

  void ExtraTitles(std::vector<std::string>& titles) const override {
    switch (m_code) {
      case kReportFilesWithAcl: titles.emplace_back("Access List"); break;
      case kReportFilesWithUndefinedAces: titles.emplace_back("Undefined Entries"); break;
      case kReportFilesByUserAccess: titles.insert(titles.end(), {"User", "Access"}); break;
      default: titles.insert(titles.end(), {"Account", "Entry", "Access"}); break;
    }
  }

  void ExtraFields(std::string& out, const ScanEntry&, unsigned worker, std::size_t row) const override {
    const FileAcl& acl = m_acl[worker];
    if (m_code == kReportFilesWithAcl || m_code == kReportFilesWithUndefinedAces) {
      std::string text;
      for (const AclEntry& a : acl.entries) {
        if (m_code == kReportFilesWithUndefinedAces && !Undefined(a)) continue;
        if (!text.empty()) text += "; ";
        text += (a.kind == Kind::Everyone ? std::string("Everyone") : EntryWord(a) + " " + Account(a)) + ": " +
                PermText(a.perms);
      }
      Text(out, text);
      return;
    }
    if (m_code == kReportFilesByUserAccess) {
      const std::vector<UserAccess>& users = m_users[worker];
      if (row >= users.size()) {
        Text(out, ""), Text(out, "");
        return;
      }
      Text(out, Account({users[row].kind == Kind::Owner ? Kind::Owner : Kind::User, users[row].uid, 0}));
      Text(out, PermText(users[row].perms));
      return;
    }
    const std::vector<std::size_t> rows = Indexes(acl);
    if (row >= rows.size()) {
      Text(out, ""), Text(out, "");
      if (m_code == kReportUserAccessByFile) Text(out, "");
      return;
    }
    const AclEntry& a = acl.entries[rows[row]];
    Text(out, Account(a));
    if (m_code == kReportUserAccessByFile) Text(out, EntryWord(a));
    Text(out, PermText(a.perms));
  }

 private:
  // Rows of a file in User Access By File: every entry.
  static std::vector<std::size_t> Indexes(const FileAcl& acl) {
    std::vector<std::size_t> out(acl.entries.size());
    for (std::size_t i = 0; i < out.size(); ++i) out[i] = i;
    return out;
  }
  static std::string EntryWord(const AclEntry& a) {
    switch (a.kind) {
      case Kind::Owner: return "Owner";
      case Kind::User: return "User";
      case Kind::Group: return "Group";
      case Kind::NamedGroup: return "Group";
      default: return "Everyone";
    }
  }
  bool Undefined(const AclEntry& a) const {
    if (a.kind == Kind::User) return !m_run.accounts.UserKnown(a.id);
    if (a.kind == Kind::NamedGroup) return !m_run.accounts.GroupKnown(a.id);
    return false;
  }
  std::string Account(const AclEntry& a) const {
    std::string_view name;
    if (a.kind == Kind::Owner || a.kind == Kind::User) name = m_run.accounts.User(a.id);
    else if (a.kind == Kind::Group || a.kind == Kind::NamedGroup) name = m_run.accounts.Group(a.id);
    else return "Everyone";
    return AccountNames::Known(name) ? std::string(name) : "undefined (" + std::to_string(a.id) + ")";
  }

  DWORD m_code;
  std::vector<FileAcl> m_acl;
  std::vector<std::vector<UserAccess>> m_users;  // per worker, Files By User Access
};

// getgrgid_r / getpwnam_r / getpwent_r into a buffer that grows until the
// entry fits.
template <typename Call>
bool WithEntryBuffer(Call call) {
  std::vector<char> buffer(16 * 1024);
  for (;;) {
    const int error = call(buffer);
    if (error != ERANGE) return error == 0;
    if (buffer.size() >= (4u << 20)) return false;
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace

std::vector<std::uint32_t> HostGroupMembers(std::uint32_t gid) {
  std::vector<std::uint32_t> members;
  std::vector<std::string> names;
  WithEntryBuffer([&](std::vector<char>& buffer) {
    struct group entry {};
    struct group* found = nullptr;
    const int error = ::getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &found);
    if (error == 0 && found)
      for (char** member = found->gr_mem; member && *member; ++member) names.emplace_back(*member);
    return error;
  });
  for (const std::string& name : names) {
    WithEntryBuffer([&](std::vector<char>& buffer) {
      struct passwd entry {};
      struct passwd* found = nullptr;
      const int error = ::getpwnam_r(name.c_str(), &entry, buffer.data(), buffer.size(), &found);
      if (error == 0 && found) members.push_back(found->pw_uid);
      return error;
    });
  }
  {
    // The users whose primary group it is: a walk of the user database, whose
    // cursor the C library keeps once per process, so walks take turns.
    static std::mutex walk;
    std::lock_guard lock(walk);
    ::setpwent();
    std::vector<char> buffer(64 * 1024);
    struct passwd entry {};
    struct passwd* found = nullptr;
    while (::getpwent_r(&entry, buffer.data(), buffer.size(), &found) == 0 && found)
      if (found->pw_gid == gid) members.push_back(found->pw_uid);
    ::endpwent();
  }
  std::sort(members.begin(), members.end());
  members.erase(std::unique(members.begin(), members.end()), members.end());
  return members;
}

std::unique_ptr<Report> MakeAccessReport(DWORD code, RunContext& run) {
  if (code == kReportFilesWithAcl || code == kReportFilesByUserAccess || code == kReportUserAccessByFile ||
      code == kReportFilesWithUndefinedAces)
    return std::make_unique<AccessReport>(run, code);
  return nullptr;
}

}  // namespace vn::server
