// The access reports over POSIX permissions and access control lists:
// Files With ACL, Files With Undefined ACE's, Files By User Access and User
// Access By File. A file's entries are its owner, its group and everyone
// else from its mode, plus the named users and groups of its access list;
// the access shown for named entries and the group is what the list's mask
// leaves them.

#include <acl/libacl.h>
#include <sys/acl.h>
#include <sys/xattr.h>

#include <cerrno>
#include <cstdio>

#include "server/Reports.h"

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
  out.entries.insert(out.entries.begin() + 1, {Kind::Group, st.stx_gid, ((st.stx_mode >> 3) & 7u)});
  for (AclEntry& a : out.entries)
    if (a.kind == Kind::User || a.kind == Kind::NamedGroup) a.perms &= mask;
  // With an access list, the mode's group bits are the mask; the owning
  // group's own entry is then limited by it as well.
  out.entries.push_back({Kind::Everyone, 0, st.stx_mode & 7u});
}

class AccessReport : public ListingReport {
 public:
  AccessReport(RunContext& run, DWORD code) : ListingReport(run), m_code(code) {}
  DWORD Prepare(unsigned workers, std::string& message) override {
    m_acl.resize(workers);
    return ListingReport::Prepare(workers, message);
  }

 protected:
  bool ListsDirectories() const override { return true; }

  bool Accept(const ScanEntry& e, unsigned worker) override {
    FileAcl& acl = m_acl[worker];
    ReadAcl(e, acl);
    switch (m_code) {
      case 18: return acl.extended;
      case 21:
        return std::any_of(acl.entries.begin(), acl.entries.end(), [&](const AclEntry& a) { return Undefined(a); });
      default: return true;
    }
  }

  std::size_t RowsFor(const ScanEntry&, unsigned worker) const override {
    const FileAcl& acl = m_acl[worker];
    switch (m_code) {
      case 18:
      case 21: return 1;
      case 19: return Indexes(acl, true).size();
      default: return acl.entries.size();
    }
  }

  void ExtraTitles(std::vector<std::string>& titles) const override {
    switch (m_code) {
      case 18: titles.emplace_back("Access List"); break;
      case 21: titles.emplace_back("Undefined Entries"); break;
      case 19: titles.insert(titles.end(), {"User", "Access"}); break;
      default: titles.insert(titles.end(), {"Account", "Entry", "Access"}); break;
    }
  }

  void ExtraFields(std::string& out, const ScanEntry&, unsigned worker, std::size_t row) const override {
    const FileAcl& acl = m_acl[worker];
    if (m_code == 18 || m_code == 21) {
      std::string text;
      for (const AclEntry& a : acl.entries) {
        if (m_code == 21 && !Undefined(a)) continue;
        if (!text.empty()) text += "; ";
        text += (a.kind == Kind::Everyone ? std::string("Everyone") : EntryWord(a) + " " + Account(a)) + ": " +
                PermText(a.perms);
      }
      Text(out, text);
      return;
    }
    const std::vector<std::size_t> rows = Indexes(acl, m_code == 19);
    if (row >= rows.size()) {
      Text(out, ""), Text(out, "");
      if (m_code == 20) Text(out, "");
      return;
    }
    const AclEntry& a = acl.entries[rows[row]];
    Text(out, Account(a));
    if (m_code == 20) Text(out, EntryWord(a));
    Text(out, PermText(a.perms));
  }

 private:
  // Rows of a file: every entry, or (users only) its owner and named users.
  static std::vector<std::size_t> Indexes(const FileAcl& acl, bool usersOnly) {
    std::vector<std::size_t> out;
    for (std::size_t i = 0; i < acl.entries.size(); ++i)
      if (!usersOnly || acl.entries[i].kind == Kind::Owner || acl.entries[i].kind == Kind::User) out.push_back(i);
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
};

}  // namespace

std::unique_ptr<Report> MakeAccessReport(DWORD code, RunContext& run) {
  if (code == 18 || code == 19 || code == 20 || code == 21) return std::make_unique<AccessReport>(run, code);
  return nullptr;
}

}  // namespace vn::server
