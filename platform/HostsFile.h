#pragma once
// The name table every machine resolves other machines with: an LMHOSTS-style
// text file, one machine a line:
//
//   127.0.0.1:7201  SERVER1   #DOM:SALES  #PDC
//   127.0.0.1:7202  WKS1      #DOM:SALES
//   10.0.0.5        FILES     #DOM:LAB    #BDC
//
// address[:port] (port defaults to the well-known one), the name, then marks:
// #DOM:NAME for the machine's domain, #PDC / #BDC for a domain controller.
// Text after a lone "#" is a comment; blank lines are ignored. Names compare
// without case. The browse list of the network is made of the machines this
// file knows, grouped by domain.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/MachineConfig.h"

namespace vn {

struct HostEntry {
  std::string name;          // upper case
  std::string address;       // as written (IPv4, [IPv6] or host name)
  std::uint16_t port = kMachineServicePort;
  std::string domain;        // upper case; empty when the line names none
  MachineRole role = MachineRole::Workstation;  // PDC/BDC from the marks, else Workstation
};

class HostsFile {
 public:
  // Reads `path`; a missing file is an empty table. Malformed lines are
  // skipped and reported in *warnings when given.
  static HostsFile Load(const std::filesystem::path& path, std::vector<std::string>* warnings = nullptr);
  static HostsFile Parse(std::string_view text, std::vector<std::string>* warnings = nullptr);

  std::optional<HostEntry> Find(std::string_view name) const;
  const std::vector<HostEntry>& Entries() const { return m_entries; }
  // Domains in the order first named, upper case.
  std::vector<std::string> Domains() const;

 private:
  std::vector<HostEntry> m_entries;
};

}  // namespace vn
