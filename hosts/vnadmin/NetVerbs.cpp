// view and shares: what the LAN Manager calls tell of the network.
#include "hosts/vnadmin/AdminVerbs.h"

#include <memory>
#include <ostream>

#include "hosts/vnadmin/AdminOutput.h"
#include "platform/core/AsciiText.h"
#include "platform/core/WideString.h"
#include "platform/endpoints/MachineDirectory.h"
#include "platform/machine/MachineConfig.h"
#include "platform/net/Net.h"

namespace vn::admin {
namespace {

// Frees a Net* buffer when it goes.
struct NetBufferDeleter {
  void operator()(BYTE* buffer) const { NetApiBufferFree(buffer); }
};
using NetBufferPtr = std::unique_ptr<BYTE, NetBufferDeleter>;

std::string RoleOf(DWORD type) {
  if (type & SV_TYPE_DOMAIN_CTRL) return "Primary DC";
  if (type & SV_TYPE_DOMAIN_BAKCTRL) return "Backup DC";
  if (type & SV_TYPE_SERVER_NT) return "Server";
  return "Workstation";
}

std::string ShareTypeOf(DWORD type) {
  std::string kind;
  switch (type & ~STYPE_SPECIAL) {
    case STYPE_DISKTREE: kind = "Disk"; break;
    case STYPE_PRINTQ: kind = "Print"; break;
    case STYPE_DEVICE: kind = "Device"; break;
    case STYPE_IPC: kind = "IPC"; break;
    default: kind = "Other"; break;
  }
  return (type & STYPE_SPECIAL) ? kind + " (special)" : kind;
}

}  // namespace

int ViewVerb(const Arguments& args, std::ostream& out, std::ostream& err) {
  if (args.size() > 1) return BadUsage(err, "view", "too many arguments");
  const bool domains = args.size() == 1 && EqualsIgnoringCase(args[0], "/domain");
  if (args.size() == 1 && !domains && args[0].starts_with("/"))
    return BadUsage(err, "view", "unknown option " + args[0]);
  std::string domain = args.empty() || domains ? std::string() : ToUpperAscii(args[0]);
  if (!domains && domain.empty()) domain = LocalMachineConfig()->domain;
  const std::u16string wideDomain = ToWide(domain);

  Table table(domains ? std::vector<std::string>{"Domain"}
                      : std::vector<std::string>{"Machine", "Role", "Version", "Comment"});
  DWORD resume = 0;
  NET_API_STATUS status = 0;
  do {
    LPBYTE raw = nullptr;
    DWORD read = 0, total = 0;
    status = NetServerEnum(nullptr, 101, &raw, MAX_PREFERRED_LENGTH, &read, &total,
                           domains ? SV_TYPE_DOMAIN_ENUM : SV_TYPE_ALL, domains ? nullptr : wideDomain.c_str(),
                           &resume);
    const NetBufferPtr buffer(raw);
    if (status != NERR_Success && status != static_cast<NET_API_STATUS>(ERROR_MORE_DATA))
      return Fail(err, domains ? "the domains" : "the machines of " + domain, status);
    const auto* servers = reinterpret_cast<const SERVER_INFO_101*>(raw);
    for (DWORD i = 0; i < read; ++i) {
      const SERVER_INFO_101& server = servers[i];
      if (domains) {
        table.Add({ToUtf8(server.sv101_name)});
      } else {
        table.Add({"\\\\" + ToUtf8(server.sv101_name), RoleOf(server.sv101_type),
                   std::to_string(server.sv101_version_major) + "." + std::to_string(server.sv101_version_minor),
                   ToUtf8(server.sv101_comment)});
      }
    }
  } while (status == static_cast<NET_API_STATUS>(ERROR_MORE_DATA) && resume != 0);
  table.Print(out);
  return kExitSuccess;
}

int SharesVerb(const Arguments& args, std::ostream& out, std::ostream& err) {
  if (args.size() > 1) return BadUsage(err, "shares", "too many arguments");
  if (args.size() == 1 && !IsMachineArgument(args[0]))
    return BadUsage(err, "shares", "a machine is written \\\\NAME, not " + args[0]);
  const std::string machine = args.empty() ? std::string() : args[0];
  const std::u16string wideMachine = ToWide(machine);

  Table table({"Share", "Type", "Remark"});
  DWORD resume = 0;
  NET_API_STATUS status = 0;
  do {
    LPBYTE raw = nullptr;
    DWORD read = 0, total = 0;
    status = NetShareEnum(machine.empty() ? nullptr : wideMachine.c_str(), 1, &raw, MAX_PREFERRED_LENGTH, &read,
                          &total, &resume);
    const NetBufferPtr buffer(raw);
    if (status != NERR_Success && status != static_cast<NET_API_STATUS>(ERROR_MORE_DATA))
      return Fail(err, machine.empty() ? "this machine" : machine, status);
    const auto* shares = reinterpret_cast<const SHARE_INFO_1*>(raw);
    for (DWORD i = 0; i < read; ++i)
      table.Add({ToUtf8(shares[i].shi1_netname), ShareTypeOf(shares[i].shi1_type), ToUtf8(shares[i].shi1_remark)});
  } while (status == static_cast<NET_API_STATUS>(ERROR_MORE_DATA) && resume != 0);
  table.Print(out);
  return kExitSuccess;
}

}  // namespace vn::admin
