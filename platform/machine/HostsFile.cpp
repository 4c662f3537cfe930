#include "platform/machine/HostsFile.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <system_error>

#include "platform/core/AsciiText.h"

namespace vn {
namespace {

// A hosts file of a network is a few hundred lines; refuse to read a huge one.
constexpr std::uintmax_t kMaxHostsFileSize = 4 << 20;

// A computer or domain name: 1-15 printable characters, none of those Windows
// keeps out of NetBIOS names, no dots.
bool IsNetBiosName(std::string_view name) {
  return !name.empty() && name.size() <= 15 && std::all_of(name.begin(), name.end(), [](unsigned char c) {
    return c > 0x20 && c < 0x7f && !std::strchr("\\/:*?\"<>|,;=+[].", c);
  });
}

bool IsHostName(std::string_view name) {
  if (name.empty() || name.size() > 253 || name.front() == '.' || name.back() == '.' ||
      name.find("..") != std::string_view::npos)
    return false;
  return std::all_of(name.begin(), name.end(), [](char c) { return IsAsciiAlnum(c) || c == '-' || c == '.' || c == '_'; });
}

bool ParsePort(std::string_view text, std::uint16_t* port) {
  if (text.empty() || text.size() > 5 ||
      !std::all_of(text.begin(), text.end(), IsAsciiDigit))
    return false;
  const unsigned long value = std::stoul(std::string(text));
  if (value == 0 || value > 65535) return false;
  *port = static_cast<std::uint16_t>(value);
  return true;
}

// One line without its comment; false (with *problem) when malformed, true
// with an empty *entry name for a line that names no machine.
bool ParseLine(std::string_view line, HostEntry* entry, std::string* problem) {
  std::istringstream words{std::string(line)};
  std::string address;
  if (!(words >> address) || address.starts_with('#')) return true;  // blank or comment
  if (!ParseAddressAndPort(address, &entry->address, &entry->port, problem)) {
    // A warning never repeats words of the line: a secret pasted into the
    // wrong file must not travel on into logs.
    if (problem->find('"') != std::string::npos) *problem = "the address is no IPv4 address, [IPv6] address or host name";
    return false;
  }
  std::string name;
  if (!(words >> name) || name.starts_with('#')) {
    *problem = "no machine name after the address";
    return false;
  }
  if (!IsNetBiosName(name)) {
    *problem = "the machine name is not a computer name (1 to 15 characters, no dots)";
    return false;
  }
  entry->name = ToUpperAscii(name);
  bool pdc = false;
  bool bdc = false;
  for (std::string word; words >> word;) {
    if (!word.starts_with('#')) {
      *problem = "a word after the name is no mark (marks start with '#')";
      return false;
    }
    const std::string mark = ToUpperAscii(word);
    if (mark.starts_with("#DOM:")) {
      const std::string domain = mark.substr(5);
      if (!IsNetBiosName(domain)) {
        *problem = "#DOM: names no valid domain";
        return false;
      }
      if (!entry->domain.empty() && entry->domain != domain) {
        *problem = "two domains";
        return false;
      }
      entry->domain = domain;
    } else if (mark == "#PDC") {
      pdc = true;
    } else if (mark == "#BDC") {
      bdc = true;
    } else if (mark == "#PRE") {
      // Preloading is what every entry gets here.
    } else {
      break;  // the rest of the line is a comment
    }
  }
  if (pdc && bdc) {
    *problem = "both #PDC and #BDC";
    return false;
  }
  if ((pdc || bdc) && entry->domain.empty()) {
    *problem = "a domain controller needs #DOM:NAME";
    return false;
  }
  entry->role = pdc   ? MachineRole::PrimaryDomainController
                : bdc ? MachineRole::BackupDomainController
                      : MachineRole::Workstation;
  return true;
}

}  // namespace

bool ParseAddressAndPort(std::string_view text, std::string* address, std::uint16_t* port, std::string* problem) {
  std::string host;
  std::string_view portText;
  if (text.starts_with('[')) {
    const auto close = text.find(']');
    if (close == std::string_view::npos) {
      *problem = "'[' without ']'";
      return false;
    }
    const std::string inside(text.substr(1, close - 1));
    in6_addr v6{};
    if (::inet_pton(AF_INET6, inside.c_str(), &v6) != 1) {
      *problem = "\"" + inside + "\" is not an IPv6 address";
      return false;
    }
    host = "[" + inside + "]";
    const std::string_view rest = text.substr(close + 1);
    if (!rest.empty()) {
      if (rest.front() != ':') {
        *problem = "expected ':port' after ']'";
        return false;
      }
      portText = rest.substr(1);
      if (portText.empty()) portText = "-";
    }
  } else {
    const auto colon = text.find(':');
    if (colon != std::string_view::npos && text.find(':', colon + 1) != std::string_view::npos) {
      *problem = "an IPv6 address must be written in brackets, as [::1]:7139";
      return false;
    }
    host = std::string(text.substr(0, colon));
    if (colon != std::string_view::npos) {
      portText = text.substr(colon + 1);
      if (portText.empty()) portText = "-";
    }
    const bool numeric = !host.empty() && std::all_of(host.begin(), host.end(), [](char c) { return IsAsciiDigit(c) || c == '.'; });
    in_addr v4{};
    if (numeric ? ::inet_pton(AF_INET, host.c_str(), &v4) != 1 : !IsHostName(host)) {
      *problem = "\"" + host + "\" is not an IPv4 address or host name";
      return false;
    }
  }
  std::uint16_t value = kMachineServicePort;
  if (!portText.empty() && !ParsePort(portText, &value)) {
    *problem = "the port must be a number from 1 to 65535";
    return false;
  }
  *address = std::move(host);
  *port = value;
  return true;
}

HostsFile HostsFile::Load(const std::filesystem::path& path, std::vector<std::string>* warnings) {
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) return {};
  const auto size = std::filesystem::file_size(path, ec);
  if (ec || size > kMaxHostsFileSize) {
    if (warnings) warnings->push_back(path.string() + (ec ? ": cannot be read" : ": larger than 4 MiB; not read"));
    return {};
  }
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  std::vector<std::string> lineWarnings;
  HostsFile file = Parse(text.str(), warnings ? &lineWarnings : nullptr);
  for (auto& warning : lineWarnings) warnings->push_back(path.string() + ":" + warning);
  return file;
}

HostsFile HostsFile::Parse(std::string_view text, std::vector<std::string>* warnings) {
  HostsFile file;
  std::set<std::string> names;
  int number = 0;
  std::size_t start = 0;
  while (start < text.size()) {
    auto end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string line(text.substr(start, end - start));
    start = end + 1;
    ++number;
    // Tabs and carriage returns separate like spaces; other control bytes make no sense.
    for (char& c : line)
      if (c == '\t' || c == '\r') c = ' ';
    HostEntry entry;
    std::string problem;
    if (std::any_of(line.begin(), line.end(), [](unsigned char c) { return c < 0x20 || c == 0x7f; }))
      problem = "control character in the line";
    else if (ParseLine(line, &entry, &problem) && entry.name.empty())
      continue;
    if (problem.empty() && names.contains(entry.name)) problem = entry.name + " is already named on an earlier line";
    if (!problem.empty()) {
      if (warnings) warnings->push_back(std::to_string(number) + ": " + problem + "; line ignored");
      continue;
    }
    names.insert(entry.name);
    file.m_entries.push_back(std::move(entry));
  }
  return file;
}

std::optional<HostEntry> HostsFile::Find(std::string_view name) const {
  if (name.starts_with("\\\\")) name.remove_prefix(2);
  for (const auto& entry : m_entries)
    if (EqualsIgnoringCase(entry.name, name)) return entry;
  return std::nullopt;
}

std::vector<std::string> HostsFile::Domains() const {
  std::vector<std::string> domains;
  for (const auto& entry : m_entries)
    if (!entry.domain.empty() && std::find(domains.begin(), domains.end(), entry.domain) == domains.end())
      domains.push_back(entry.domain);
  return domains;
}

}  // namespace vn
