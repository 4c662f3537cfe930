#include "platform/machine/MachineConfig.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <system_error>

#include "platform/core/AsciiText.h"
#include "platform/machine/AccountNames.h"
#include "platform/machine/HostsFile.h"
#include "platform/machine/PathMap.h"

namespace vn {
namespace {

namespace fs = std::filesystem;

// machine.ini is a few lines; anything this big is not one.
constexpr std::uintmax_t kMaxConfigSize = 1 << 20;

std::string Trim(std::string_view text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(" \t\r");
  return std::string(text.substr(first, last - first + 1));
}

struct IniEntry {
  int line = 0;
  std::string key;
  std::string value;
};

struct IniSection {
  std::string name;
  std::vector<IniEntry> entries;
};

// INI text: "[Section]" headers, "key = value" lines, blank lines and lines
// starting with ';' or '#' ignored. A section named twice continues where it
// left off. Fails (with "file:line: problem") on anything else.
bool ParseIni(std::string_view text, const std::string& file, std::vector<IniSection>* sections,
              std::string* error) {
  int number = 0;
  std::size_t start = 0;
  IniSection* current = nullptr;
  while (start < text.size()) {
    auto end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view raw = text.substr(start, end - start);
    start = end + 1;
    ++number;
    const auto fail = [&](const std::string& what) {
      *error = file + ":" + std::to_string(number) + ": " + what;
      return false;
    };
    if (std::any_of(raw.begin(), raw.end(),
                    [](unsigned char c) { return (c < 0x20 && c != '\t' && c != '\r') || c == 0x7f; }))
      return fail("control character in the line");
    std::string line = Trim(raw);
    if (number == 1 && line.starts_with("\xEF\xBB\xBF")) line = Trim(std::string_view(line).substr(3));
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    if (line[0] == '[') {
      if (line.back() != ']') return fail("section header without ']'");
      const std::string name = Trim(std::string_view(line).substr(1, line.size() - 2));
      if (name.empty()) return fail("empty section name");
      auto found = std::find_if(sections->begin(), sections->end(),
                                [&](const IniSection& s) { return EqualsIgnoringCase(s.name, name); });
      if (found == sections->end()) {
        sections->push_back({name, {}});
        current = &sections->back();
      } else {
        current = &*found;
      }
      continue;
    }
    const auto equals = line.find('=');
    if (equals == std::string::npos) return fail("expected 'name = value', found \"" + line + "\"");
    if (!current) return fail("setting outside of a section");
    IniEntry entry{number, Trim(std::string_view(line).substr(0, equals)),
                   Trim(std::string_view(line).substr(equals + 1))};
    if (entry.key.empty()) return fail("setting without a name");
    for (const auto& other : current->entries)
      if (EqualsIgnoringCase(other.key, entry.key))
        return fail("\"" + entry.key + "\" is given twice in [" + current->name + "] (first on line " +
                    std::to_string(other.line) + ")");
    current->entries.push_back(std::move(entry));
  }
  return true;
}

// Reads a whole small file. A missing file is empty text (true, *exists false).
bool ReadSmallFile(const fs::path& path, std::string* text, bool* exists, std::string* error) {
  *exists = false;
  std::error_code ec;
  const auto status = fs::status(path, ec);
  if (ec || status.type() == fs::file_type::not_found) return true;
  *exists = true;
  if (status.type() != fs::file_type::regular) {
    *error = path.string() + ": not a regular file";
    return false;
  }
  const auto size = fs::file_size(path, ec);
  if (ec || size > kMaxConfigSize) {
    *error = path.string() + (ec ? ": cannot be read: " + ec.message() : ": larger than 1 MiB");
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = path.string() + ": cannot be opened";
    return false;
  }
  std::ostringstream buffer;
  buffer << in.rdbuf();
  *text = buffer.str();
  return true;
}

// Splits "a, b, c" at commas. A field may be written in double quotes to hold
// commas or outer spaces; at most `maxFields` fields, the last taking the rest
// of the line when `restInLast`.
bool SplitFields(std::string_view value, std::size_t maxFields, bool restInLast, std::vector<std::string>* fields,
                 std::string* problem) {
  fields->clear();
  std::size_t pos = 0;
  while (true) {
    while (pos < value.size() && (value[pos] == ' ' || value[pos] == '\t')) ++pos;
    if (restInLast && fields->size() + 1 == maxFields) {
      std::string rest = Trim(value.substr(pos));
      if (rest.size() >= 2 && rest.front() == '"' && rest.back() == '"') rest = rest.substr(1, rest.size() - 2);
      fields->push_back(std::move(rest));
      return true;
    }
    std::string field;
    if (pos < value.size() && value[pos] == '"') {
      const auto close = value.find('"', pos + 1);
      if (close == std::string_view::npos) {
        *problem = "unterminated quote";
        return false;
      }
      field = std::string(value.substr(pos + 1, close - pos - 1));
      pos = close + 1;
      while (pos < value.size() && (value[pos] == ' ' || value[pos] == '\t')) ++pos;
      if (pos < value.size() && value[pos] != ',') {
        *problem = "text after a quoted field";
        return false;
      }
    } else {
      const auto comma = value.find(',', pos);
      field = Trim(value.substr(pos, comma == std::string_view::npos ? std::string_view::npos : comma - pos));
      pos = comma == std::string_view::npos ? value.size() : comma;
    }
    fields->push_back(std::move(field));
    if (pos >= value.size()) return true;
    ++pos;  // the comma
    if (fields->size() == maxFields) {
      *problem = "more than " + std::to_string(maxFields) + " fields";
      return false;
    }
  }
}

// "/srv/data/" -> "/srv/data": roots are kept without a trailing separator.
fs::path NormalDirectory(const fs::path& path) {
  fs::path normal = path.lexically_normal();
  if (normal.has_relative_path() && normal.filename().empty()) normal = normal.parent_path();
  return normal;
}

// A value written in double quotes, as other INI writers quote them.
std::string Unquote(const std::string& value) {
  if (value.size() >= 2 && value.front() == '"' && value.back() == '"' &&
      value.find('"', 1) == value.size() - 1)
    return value.substr(1, value.size() - 2);
  return value;
}

// Characters no computer, domain or share name may hold.
bool IsNameCharacter(unsigned char c) {
  return c > 0x20 && c != 0x7f && !std::strchr("\\/:*?\"<>|,;=+[]", c);
}

bool ParseRole(std::string_view text, MachineRole* role) {
  if (EqualsIgnoringCase(text, "workstation")) *role = MachineRole::Workstation;
  else if (EqualsIgnoringCase(text, "server")) *role = MachineRole::Server;
  else if (EqualsIgnoringCase(text, "pdc")) *role = MachineRole::PrimaryDomainController;
  else if (EqualsIgnoringCase(text, "bdc")) *role = MachineRole::BackupDomainController;
  else return false;
  return true;
}

bool ParseDriveType(std::string_view text, UINT* type) {
  if (text.empty() || EqualsIgnoringCase(text, "fixed")) *type = DRIVE_FIXED;
  else if (EqualsIgnoringCase(text, "remote")) *type = DRIVE_REMOTE;
  else if (EqualsIgnoringCase(text, "cdrom") || EqualsIgnoringCase(text, "cd-rom")) *type = DRIVE_CDROM;
  else if (EqualsIgnoringCase(text, "removable")) *type = DRIVE_REMOVABLE;
  else if (EqualsIgnoringCase(text, "ram") || EqualsIgnoringCase(text, "ramdisk")) *type = DRIVE_RAMDISK;
  else return false;
  return true;
}

// "yes" / "no" (and "true" / "false", "on" / "off", "1" / "0"), any case.
bool ParseYesNo(std::string_view text, bool* value) {
  for (const char* yes : {"yes", "true", "on", "1"}) {
    if (EqualsIgnoringCase(text, yes)) {
      *value = true;
      return true;
    }
  }
  for (const char* no : {"no", "false", "off", "0"}) {
    if (EqualsIgnoringCase(text, no)) {
      *value = false;
      return true;
    }
  }
  return false;
}

// "D", "D:" -> 'D'.
bool ParseDriveLetter(std::string_view text, char* letter) {
  if (text.size() == 2 && text[1] == ':') text.remove_suffix(1);
  if (text.size() != 1 || !IsAsciiLetter(text[0])) return false;
  *letter = ToUpperAscii(text[0]);
  return true;
}

// How Windows names the file systems it knows; other names are kept.
std::string WindowsFileSystemName(const std::string& type) {
  if (type == "ntfs" || type == "ntfs3") return "NTFS";
  if (type == "vfat") return "FAT32";
  if (type == "msdos") return "FAT";
  if (type == "exfat") return "exFAT";
  if (type == "iso9660") return "CDFS";
  if (type == "udf") return "UDF";
  return type;
}

UINT DriveTypeOfFileSystem(const std::string& type, const std::string& mountPoint) {
  static const std::set<std::string> fixed = {"ext2",  "ext3",    "ext4",    "xfs",     "btrfs", "vfat",
                                              "msdos", "exfat",   "ntfs",    "ntfs3",   "f2fs",  "zfs",
                                              "jfs",   "reiserfs", "nilfs2", "bcachefs", "hfsplus", "fuseblk"};
  static const std::set<std::string> remote = {"nfs",  "nfs4",          "cifs",      "smb3",
                                               "smbfs", "sshfs",        "fuse.sshfs", "ceph",
                                               "glusterfs", "fuse.glusterfs", "afs"};
  if (fixed.contains(type)) return DRIVE_FIXED;
  if (remote.contains(type)) return DRIVE_REMOTE;
  if (type == "iso9660" || type == "udf") return DRIVE_CDROM;
  // A container's root is an overlay (or a tmpfs): it is the machine's disk.
  if (mountPoint == "/" && (type == "overlay" || type == "tmpfs")) return DRIVE_FIXED;
  return DRIVE_UNKNOWN;
}

// mountinfo escapes space, tab, newline and backslash as \ooo.
std::string UnescapeMountPath(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 3 < text.size() &&
        std::all_of(text.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                    text.begin() + static_cast<std::ptrdiff_t>(i) + 4, [](char c) { return c >= '0' && c <= '7'; })) {
      out += static_cast<char>(((text[i + 1] - '0') << 6) | ((text[i + 2] - '0') << 3) | (text[i + 3] - '0'));
      i += 3;
    } else {
      out += text[i];
    }
  }
  return out;
}

std::string HostName() {
  char host[256] = {};
  if (::gethostname(host, sizeof host - 1) != 0) return "LOCALHOST";
  return host;
}

void AddSpecialShares(MachineConfig* config) {
  for (const auto& drive : config->drives)
    if (drive.type == DRIVE_FIXED)
      config->shares.push_back({std::string(1, drive.letter) + "$", drive.root, STYPE_SPECIAL | STYPE_DISKTREE,
                                "Default share"});
  const auto system = std::find_if(config->drives.begin(), config->drives.end(),
                                   [&](const DriveMapping& d) { return d.letter == config->systemDrive; });
  config->shares.push_back({"ADMIN$", system->root / "WINNT", STYPE_SPECIAL | STYPE_DISKTREE, "Remote Admin"});
  config->shares.push_back({"IPC$", {}, STYPE_SPECIAL | STYPE_IPC, "Remote IPC"});
}

bool IsReservedShareName(const std::string& name) {
  return EqualsIgnoringCase(name, "IPC$") || EqualsIgnoringCase(name, "ADMIN$") || EqualsIgnoringCase(name, "PRINT$") ||
         (name.size() == 2 && name[1] == '$' && IsAsciiLetter(name[0]));
}

class Loader {
 public:
  Loader(const fs::path& home, MachineConfig* config, std::string* error)
      : m_home(home), m_file((home / "machine.ini").string()), m_config(config), m_error(error) {}

  bool Fail(int line, const std::string& what) {
    *m_error = m_file + ":" + std::to_string(line) + ": " + what;
    return false;
  }

  bool Machine(const IniSection& section) {
    for (const auto& e : section.entries) {
      const std::string value = Unquote(e.value);
      if (EqualsIgnoringCase(e.key, "Name")) {
        const std::string name = NormaliseComputerName(value);
        if (name.empty() || !std::all_of(name.begin(), name.end(), [](unsigned char c) { return IsNameCharacter(c); }))
          return Fail(e.line, "Name \"" + value + "\" is not a computer name");
        m_config->name = name;
      } else if (EqualsIgnoringCase(e.key, "Domain")) {
        const std::string domain = ToUpperAscii(value);
        if (domain.empty() || domain.size() > MAX_COMPUTERNAME_LENGTH ||
            !std::all_of(domain.begin(), domain.end(), [](unsigned char c) { return IsNameCharacter(c) && c != '.'; }))
          return Fail(e.line, "Domain \"" + value + "\" is not a domain name (1 to 15 characters, no dots)");
        m_config->domain = domain;
      } else if (EqualsIgnoringCase(e.key, "Role")) {
        if (!ParseRole(value, &m_config->role))
          return Fail(e.line, "Role \"" + value + "\" is not one of workstation, server, pdc, bdc");
      } else if (EqualsIgnoringCase(e.key, "Comment")) {
        m_config->comment = value;
      } else if (EqualsIgnoringCase(e.key, "Listen")) {
        std::string problem;
        if (!ParseAddressAndPort(value, &m_config->listenAddress, &m_config->port, &problem))
          return Fail(e.line, "Listen \"" + value + "\": " + problem);
      } else if (EqualsIgnoringCase(e.key, "HostsFile")) {
        if (value.empty()) return Fail(e.line, "HostsFile is empty");
        const fs::path path(value);
        m_config->hostsFile = path.is_absolute() ? path : m_home / path;
      } else if (EqualsIgnoringCase(e.key, "HostResolver")) {
        if (!ParseYesNo(value, &m_config->hostResolver))
          return Fail(e.line, "HostResolver \"" + value + "\" is not yes or no");
      } else if (EqualsIgnoringCase(e.key, "SystemDrive")) {
        if (!ParseDriveLetter(value, &m_config->systemDrive) || m_config->systemDrive == 'C')
          return Fail(e.line, "SystemDrive \"" + value + "\" is not a drive letter other than C");
      } else {
        return Fail(e.line, "unknown setting \"" + e.key + "\" in [Machine]");
      }
    }
    return true;
  }

  // [Limits]: what the machine service holds open for its callers.
  bool Limits(const IniSection& section) {
    struct Setting {
      const char* key;
      unsigned* value;
      unsigned max;
    };
    ServiceLimits& limits = m_config->limits;
    const Setting settings[] = {
        {"StreamsPerClient", &limits.streamsPerClient, 100000},
        {"StreamsTotal", &limits.streamsTotal, 100000},
        {"PipesPerClient", &limits.pipesPerClient, 100000},
        {"PipesTotal", &limits.pipesTotal, 100000},
        {"StreamIdleTimeout", &limits.streamIdleSeconds, 86400},
        {"PipeIdleTimeout", &limits.pipeIdleSeconds, 86400},
    };
    for (const auto& e : section.entries) {
      const Setting* setting = nullptr;
      for (const Setting& candidate : settings)
        if (EqualsIgnoringCase(e.key, candidate.key)) setting = &candidate;
      if (!setting) return Fail(e.line, "unknown setting \"" + e.key + "\" in [Limits]");
      const std::string value = Unquote(e.value);
      unsigned long number = 0;
      const bool digits = !value.empty() && value.size() <= 9 &&
                          std::all_of(value.begin(), value.end(), [](unsigned char c) { return c >= '0' && c <= '9'; });
      if (digits) number = std::stoul(value);
      if (!digits || number < 1 || number > setting->max)
        return Fail(e.line, std::string(setting->key) + " \"" + value + "\" is not a number from 1 to " +
                                std::to_string(setting->max));
      *setting->value = static_cast<unsigned>(number);
    }
    return true;
  }

  bool Drives(const IniSection& section) {
    for (const auto& e : section.entries) {
      DriveMapping drive;
      if (!ParseDriveLetter(e.key, &drive.letter)) return Fail(e.line, "\"" + e.key + "\" is not a drive letter");
      if (drive.letter == m_config->systemDrive)
        return Fail(e.line, std::string(1, drive.letter) + ": is the system drive; it cannot be mapped");
      std::vector<std::string> fields;
      std::string problem;
      if (!SplitFields(e.value, 4, false, &fields, &problem)) return Fail(e.line, "drive " + e.key + ": " + problem);
      if (fields[0].empty() || !fs::path(fields[0]).is_absolute())
        return Fail(e.line, "drive " + e.key + ": the directory \"" + fields[0] + "\" is not an absolute path");
      drive.root = NormalDirectory(fields[0]);
      if (fields.size() > 1 && !ParseDriveType(fields[1], &drive.type))
        return Fail(e.line, "drive " + e.key + ": type \"" + fields[1] +
                                "\" is not one of fixed, remote, cdrom, removable, ram");
      if (fields.size() > 2) drive.fileSystem = fields[2];
      if (fields.size() > 3) drive.label = fields[3];
      for (const auto& other : m_config->drives)
        if (other.letter == drive.letter)
          return Fail(e.line, std::string(1, drive.letter) + ": is given twice");
      m_config->drives.push_back(std::move(drive));
    }
    return true;
  }

  bool Shares(const IniSection& section) {
    for (const auto& e : section.entries) {
      ShareDefinition share;
      share.name = e.key;
      if (share.name.size() > 80 ||
          !std::all_of(share.name.begin(), share.name.end(), [](unsigned char c) { return IsNameCharacter(c); }))
        return Fail(e.line, "\"" + e.key + "\" is not a share name");
      if (IsReservedShareName(share.name))
        return Fail(e.line, "\"" + e.key + "\" is an administrative share name; it cannot be configured");
      for (const auto& other : m_config->shares)
        if (EqualsIgnoringCase(other.name, share.name)) return Fail(e.line, "share \"" + e.key + "\" is given twice");
      std::vector<std::string> fields;
      std::string problem;
      if (!SplitFields(e.value, 2, true, &fields, &problem)) return Fail(e.line, "share " + e.key + ": " + problem);
      if (fields.size() > 1) share.remark = fields[1];
      const std::string& where = fields[0];
      if (where.size() >= 2 && where[1] == ':') {
        char letter = 0;
        const auto drive = ParseDriveLetter(where.substr(0, 2), &letter)
                               ? std::find_if(m_config->drives.begin(), m_config->drives.end(),
                                              [&](const DriveMapping& d) { return d.letter == letter; })
                               : m_config->drives.end();
        if (drive == m_config->drives.end())
          return Fail(e.line, "share " + e.key + ": \"" + where + "\" names no drive of this machine");
        share.root = drive->root;
        for (const auto& part : SplitWindowsPath(where.substr(2))) {
          if (part == "..") return Fail(e.line, "share " + e.key + ": \"..\" in \"" + where + "\"");
          if (part != ".") share.root /= part;
        }
      } else if (!where.empty() && fs::path(where).is_absolute()) {
        share.root = NormalDirectory(where);
      } else {
        return Fail(e.line, "share " + e.key + ": \"" + where +
                                "\" is neither an absolute directory nor a Windows path such as D:\\Data");
      }
      m_config->shares.push_back(std::move(share));
    }
    return true;
  }

  // NAME = user [, full name [, comment]] | group [, comment] | localgroup [, comment]
  bool Accounts(const IniSection& section) {
    for (const auto& e : section.entries) {
      AccountDefinition account;
      account.name = e.key;
      if (!IsValidAccountName(account.name)) return Fail(e.line, "\"" + e.key + "\" is not an account name");
      if (IsBuiltInAccountName(account.name))
        return Fail(e.line, "\"" + e.key + "\" is the name of a built-in account");
      const auto comma = e.value.find(',');
      const std::string kind = Trim(std::string_view(e.value).substr(0, comma));
      const std::string rest = comma == std::string::npos ? std::string() : e.value.substr(comma + 1);
      if (EqualsIgnoringCase(kind, "user")) {
        account.kind = AccountKind::User;
        if (account.name.size() > kMaxUserNameLength)
          return Fail(e.line, "user \"" + e.key + "\": longer than 20 characters");
        std::vector<std::string> fields;
        std::string problem;
        if (!rest.empty() && !SplitFields(rest, 2, true, &fields, &problem))
          return Fail(e.line, "user " + e.key + ": " + problem);
        if (!fields.empty()) account.fullName = fields[0];
        if (fields.size() > 1) account.comment = fields[1];
      } else if (EqualsIgnoringCase(kind, "group") || EqualsIgnoringCase(kind, "localgroup")) {
        account.kind = EqualsIgnoringCase(kind, "group") ? AccountKind::Group : AccountKind::LocalGroup;
        account.comment = Unquote(Trim(rest));
      } else {
        return Fail(e.line, "account " + e.key + ": kind \"" + kind + "\" is not one of user, group, localgroup");
      }
      m_config->accounts.push_back(std::move(account));
    }
    return true;
  }

  bool Load() {
    m_config->home = m_home;
    m_config->hostsFile = m_home / "hosts";
    std::string text;
    bool exists = false;
    if (!ReadSmallFile(m_home / "machine.ini", &text, &exists, m_error)) return false;
    std::vector<IniSection> sections;
    if (!ParseIni(text, m_file, &sections, m_error)) return false;
    const IniSection* drives = nullptr;
    const IniSection* shares = nullptr;
    const IniSection* accounts = nullptr;
    for (const auto& section : sections) {
      if (EqualsIgnoringCase(section.name, "Machine")) {
        if (!Machine(section)) return false;
      } else if (EqualsIgnoringCase(section.name, "Drives")) {
        drives = &section;
      } else if (EqualsIgnoringCase(section.name, "Shares")) {
        shares = &section;
      } else if (EqualsIgnoringCase(section.name, "Accounts")) {
        accounts = &section;
      } else if (EqualsIgnoringCase(section.name, "Limits")) {
        if (!Limits(section)) return false;
      }
      // Other sections belong to other parts of the system.
    }
    if (m_config->name.empty()) m_config->name = NormaliseComputerName(HostName());
    if (drives) {
      if (!Drives(*drives)) return false;
    } else {
      m_config->drives = DefaultDrives(std::nullopt, m_config->systemDrive);
    }
    if (std::none_of(m_config->drives.begin(), m_config->drives.end(),
                     [](const DriveMapping& d) { return d.letter == 'C'; }))
      m_config->drives.push_back({'C', "/", DRIVE_FIXED, {}, {}});
    std::erase_if(m_config->drives, [&](const DriveMapping& d) { return d.letter == m_config->systemDrive; });
    m_config->drives.push_back({m_config->systemDrive, m_home / "system", DRIVE_FIXED, {}, {}});
    std::sort(m_config->drives.begin(), m_config->drives.end(),
              [](const DriveMapping& a, const DriveMapping& b) { return a.letter < b.letter; });
    m_config->windowsDirectory = std::string(1, m_config->systemDrive) + ":\\WINNT";
    if (shares && !Shares(*shares)) return false;
    AddSpecialShares(m_config);
    return !accounts || Accounts(*accounts);
  }

 private:
  fs::path m_home;
  std::string m_file;
  MachineConfig* m_config;
  std::string* m_error;
};

}  // namespace

std::string NormaliseComputerName(std::string_view name) {
  std::string result(name.substr(0, name.find('.')));
  result = Trim(result);
  if (result.size() > MAX_COMPUTERNAME_LENGTH) result.resize(MAX_COMPUTERNAME_LENGTH);
  return ToUpperAscii(std::move(result));
}

std::string ConfiguredComputerName(const fs::path& home) {
  std::string text;
  std::string error;
  bool exists = false;
  std::vector<IniSection> sections;
  if (ReadSmallFile(home / "machine.ini", &text, &exists, &error) && exists &&
      ParseIni(text, "machine.ini", &sections, &error)) {
    for (const auto& section : sections)
      if (EqualsIgnoringCase(section.name, "Machine"))
        for (const auto& e : section.entries)
          if (EqualsIgnoringCase(e.key, "Name")) {
            std::string name = NormaliseComputerName(Unquote(e.value));
            if (!name.empty()) return name;
          }
  }
  return NormaliseComputerName(HostName());
}

bool LoadMachineConfig(const fs::path& home, MachineConfig* config, std::string* error) {
  MachineConfig loaded;
  std::string problem;
  if (!Loader(home, &loaded, &problem).Load()) {
    if (error) *error = problem;
    return false;
  }
  *config = std::move(loaded);
  return true;
}

std::vector<DriveMapping> DefaultDrives(const std::optional<fs::path>& mountinfo, char systemDrive) {
  std::vector<DriveMapping> drives{{'C', "/", DRIVE_FIXED, {}, {}}};
  std::ifstream in(mountinfo ? *mountinfo : fs::path("/proc/self/mountinfo"));
  std::string line;
  char next = 'D';
  while (std::getline(in, line)) {
    // id parent major:minor root mount-point options [optional...] - type source super-options
    std::istringstream fields(line);
    std::vector<std::string> words;
    for (std::string word; fields >> word;) words.push_back(word);
    const auto dash = std::find(words.begin(), words.end(), "-");
    if (words.size() < 5 || dash == words.end() || dash + 1 == words.end() || dash - words.begin() < 6) continue;
    const std::string mountPoint = UnescapeMountPath(words[4]);
    const std::string type = *(dash + 1);
    if (mountPoint == "/") {
      drives[0].fileSystem = WindowsFileSystemName(type);
      continue;
    }
    const UINT driveType = DriveTypeOfFileSystem(type, mountPoint);
    if (driveType == DRIVE_UNKNOWN || !mountPoint.starts_with('/')) continue;
    // Containers bind-mount single files (/etc/hosts...); only directories are
    // drives. Only local mounts are looked at: a dead network server would hang.
    std::error_code ec;
    if (driveType == DRIVE_FIXED && fs::exists(mountPoint, ec) && !fs::is_directory(mountPoint, ec)) continue;
    // A later mount on the same point hides the earlier one.
    const auto same = std::find_if(drives.begin(), drives.end(),
                                   [&](const DriveMapping& d) { return d.root == fs::path(mountPoint); });
    if (same != drives.end()) {
      same->type = driveType;
      same->fileSystem = WindowsFileSystemName(type);
      continue;
    }
    if (next == systemDrive) ++next;
    if (next > 'Z') continue;
    drives.push_back({next, mountPoint, driveType, WindowsFileSystemName(type), {}});
    ++next;
  }
  return drives;
}

}  // namespace vn
