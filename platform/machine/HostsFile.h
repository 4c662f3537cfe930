#pragma once
// The name table every machine resolves other machines with: an LMHOSTS-style
// text file, one machine a line:
//
//   127.0.0.1:7201  SERVER1   #DOM:SALES  #PDC
//   127.0.0.1:7202  WKS1      #DOM:SALES
//   10.0.0.5        FILES     #DOM:LAB    #BDC
//
// address[:port] (port defaults to the well-known one), the name, then marks:
// #DOM:NAME for the machine's domain, #PDC / #BDC for a domain controller
// (which needs #DOM), #PRE accepted and ignored. Any other word starting with
// "#" begins a comment; blank lines are ignored. Names (1-15 characters, no
// dots) compare without case; the first line naming a machine wins. The
// browse list of the network is made of the machines this file knows, grouped
// by domain (docs/machine-configuration.md).

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/machine/MachineConfig.h"

namespace vn {

struct HostEntry {
  std::string name;          // upper case
  std::string address;       // as written (IPv4, [IPv6] or host name)
  std::uint16_t port = kMachineServicePort;
  std::string domain;        // upper case; empty when the line names none
  MachineRole role = MachineRole::Workstation;  // PDC/BDC from the marks, else Workstation
};

// Parses "address[:port]" as the hosts file and the Listen setting of
// machine.ini write it: an IPv4 address, an IPv6 address in brackets
// ("[::1]:7139"), or a host name; the port is 1-65535 and defaults to the
// well-known one. *address keeps the brackets of an IPv6 address. On failure
// *problem says what is wrong and the outputs are unchanged.
[[nodiscard]] bool ParseAddressAndPort(std::string_view text, std::string* address, std::uint16_t* port,
                                       std::string* problem);

class HostsFile {
 public:
  // Reads `path`; a missing file is an empty table. Malformed lines are
  // skipped and reported in *warnings when given, as "FILE:LINE: problem;
  // line ignored" (Parse: "LINE: ..."). A warning names the problem, never
  // the words of the line (a secret pasted into the wrong file must not
  // travel on into logs); only a duplicate's machine name is repeated. The
  // caller decides where warnings go (vnmachined prints them).
  static HostsFile Load(const std::filesystem::path& path, std::vector<std::string>* warnings = nullptr);
  static HostsFile Parse(std::string_view text, std::vector<std::string>* warnings = nullptr);

  // `name` with or without two leading backslashes, in any case.
  std::optional<HostEntry> Find(std::string_view name) const;
  const std::vector<HostEntry>& Entries() const { return m_entries; }
  // Domains in the order first named, upper case.
  std::vector<std::string> Domains() const;

 private:
  std::vector<HostEntry> m_entries;
};

}  // namespace vn
