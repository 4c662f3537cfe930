#include "platform/net/Net.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/core/AsciiText.h"
#include "platform/core/WideString.h"
#include "platform/net/NetBuffer.h"

namespace vn {
namespace {

std::size_t Units(const std::u16string& text) { return text.size() + 1; }

NET_API_STATUS Endpoint(LPCWSTR servername, std::shared_ptr<MachineEndpoint>* endpoint) {
  const LONG error = FindMachine(ToUtf8(servername), endpoint);
  if (error == ERROR_SUCCESS && !*endpoint) return ERROR_BAD_NETPATH;
  return static_cast<NET_API_STATUS>(error);
}

// The part of an enumeration one call returns: from the resume index on, as
// many entries as fit in prefmaxlen (at least one). `sizes` holds each
// entry's size in bytes, record and strings.
struct Window {
  std::size_t first = 0;
  std::size_t count = 0;
  bool more = false;
};

Window Select(const std::vector<std::size_t>& sizes, DWORD prefmaxlen, const LPDWORD resume) {
  Window window;
  window.first = std::min<std::size_t>(resume ? *resume : 0, sizes.size());
  std::size_t used = 0;
  for (std::size_t i = window.first; i < sizes.size(); ++i) {
    if (prefmaxlen != MAX_PREFERRED_LENGTH && window.count > 0 && used + sizes[i] > prefmaxlen) break;
    used += sizes[i];
    ++window.count;
  }
  window.more = window.first + window.count < sizes.size();
  return window;
}

NET_API_STATUS Finish(const Window& window, std::size_t total, LPDWORD entriesread, LPDWORD totalentries,
                      LPDWORD resume) {
  *entriesread = static_cast<DWORD>(window.count);
  *totalentries = static_cast<DWORD>(total - window.first);
  if (resume) *resume = window.more ? static_cast<DWORD>(window.first + window.count) : 0;
  return window.more ? ERROR_MORE_DATA : NERR_Success;
}

struct WideServer {
  std::u16string name;
  std::u16string comment;
  const ServerInfo* info;
};

NET_API_STATUS PackServers(const std::vector<ServerInfo>& servers, DWORD level, LPBYTE* bufptr, DWORD prefmaxlen,
                           LPDWORD entriesread, LPDWORD totalentries, LPDWORD resume) {
  std::vector<WideServer> wide;
  std::vector<std::size_t> sizes;
  for (const auto& server : servers) {
    wide.push_back({ToWide(server.name), ToWide(server.comment), &server});
    sizes.push_back(level == 100 ? sizeof(SERVER_INFO_100) + Units(wide.back().name) * sizeof(WCHAR)
                                 : sizeof(SERVER_INFO_101) +
                                       (Units(wide.back().name) + Units(wide.back().comment)) * sizeof(WCHAR));
  }
  const Window window = Select(sizes, prefmaxlen, resume);
  if (window.count > 0) {
    const std::size_t recordSize = level == 100 ? sizeof(SERVER_INFO_100) : sizeof(SERVER_INFO_101);
    std::size_t units = 0;
    for (std::size_t i = 0; i < window.count; ++i) {
      const auto& w = wide[window.first + i];
      units += Units(w.name) + (level == 100 ? 0 : Units(w.comment));
    }
    NetBuffer buffer(window.count * recordSize, units);
    if (!buffer.ok()) return ERROR_NOT_ENOUGH_MEMORY;
    for (std::size_t i = 0; i < window.count; ++i) {
      const auto& w = wide[window.first + i];
      if (level == 100) {
        auto& record = buffer.Records<SERVER_INFO_100>()[i];
        record.sv100_platform_id = w.info->platformId;
        record.sv100_name = buffer.Put(w.name);
      } else {
        auto& record = buffer.Records<SERVER_INFO_101>()[i];
        record.sv101_platform_id = w.info->platformId;
        record.sv101_name = buffer.Put(w.name);
        record.sv101_version_major = w.info->versionMajor;
        record.sv101_version_minor = w.info->versionMinor;
        record.sv101_type = w.info->type;
        record.sv101_comment = buffer.Put(w.comment);
      }
    }
    *bufptr = buffer.Release();
  }
  return Finish(window, servers.size(), entriesread, totalentries, resume);
}

NET_API_STATUS GetControllerName(LPCWSTR servername, LPCWSTR domainname, LPBYTE* bufptr) {
  if (!bufptr) return ERROR_INVALID_PARAMETER;
  *bufptr = nullptr;
  std::shared_ptr<MachineEndpoint> endpoint;
  if (const NET_API_STATUS error = Endpoint(servername, &endpoint)) return error;
  std::string controller;
  if (const LONG error = endpoint->GetDCName(ToUpperAscii(ToUtf8(domainname)), &controller))
    return static_cast<NET_API_STATUS>(error);
  const std::u16string name = ToWide("\\\\" + ToUpperAscii(controller));
  NetBuffer buffer(0, Units(name));
  if (!buffer.ok()) return ERROR_NOT_ENOUGH_MEMORY;
  buffer.Put(name);
  *bufptr = buffer.Release();
  return NERR_Success;
}

}  // namespace
}  // namespace vn

NET_API_STATUS NetServerGetInfo(LPCWSTR servername, DWORD level, LPBYTE* bufptr) {
  if (!bufptr) return ERROR_INVALID_PARAMETER;
  *bufptr = nullptr;
  if (level != 100 && level != 101) return ERROR_INVALID_LEVEL;
  std::shared_ptr<vn::MachineEndpoint> endpoint;
  if (const NET_API_STATUS error = vn::Endpoint(servername, &endpoint)) return error;
  std::vector<vn::ServerInfo> info(1);
  if (const LONG error = endpoint->GetServerInfo(&info[0])) return static_cast<NET_API_STATUS>(error);
  DWORD read = 0;
  DWORD total = 0;
  return vn::PackServers(info, level, bufptr, MAX_PREFERRED_LENGTH, &read, &total, nullptr);
}

NET_API_STATUS NetServerEnum(LPCWSTR servername, DWORD level, LPBYTE* bufptr, DWORD prefmaxlen, LPDWORD entriesread,
                             LPDWORD totalentries, DWORD servertype, LPCWSTR domain, LPDWORD resume_handle) {
  if (!bufptr || !entriesread || !totalentries) return ERROR_INVALID_PARAMETER;
  *bufptr = nullptr;
  *entriesread = 0;
  *totalentries = 0;
  if (level != 100 && level != 101) return ERROR_INVALID_LEVEL;
  std::shared_ptr<vn::MachineEndpoint> endpoint;
  if (const NET_API_STATUS error = vn::Endpoint(servername, &endpoint)) return error;
  // SV_TYPE_ALL means every machine; only SV_TYPE_DOMAIN_ENUM on its own asks
  // for the domains.
  const DWORD mask = servertype == SV_TYPE_ALL ? SV_TYPE_ALL & ~SV_TYPE_DOMAIN_ENUM : servertype;
  std::vector<vn::ServerInfo> servers;
  if (const LONG error = endpoint->EnumServers(mask, vn::ToUpperAscii(vn::ToUtf8(domain)), &servers))
    return static_cast<NET_API_STATUS>(error);
  return vn::PackServers(servers, level, bufptr, prefmaxlen, entriesread, totalentries, resume_handle);
}

NET_API_STATUS NetShareEnum(LPCWSTR servername, DWORD level, LPBYTE* bufptr, DWORD prefmaxlen, LPDWORD entriesread,
                            LPDWORD totalentries, LPDWORD resume_handle) {
  if (!bufptr || !entriesread || !totalentries) return ERROR_INVALID_PARAMETER;
  *bufptr = nullptr;
  *entriesread = 0;
  *totalentries = 0;
  if (level != 0 && level != 1) return ERROR_INVALID_LEVEL;
  std::shared_ptr<vn::MachineEndpoint> endpoint;
  if (const NET_API_STATUS error = vn::Endpoint(servername, &endpoint)) return error;
  std::vector<vn::ShareInfo> shares;
  if (const LONG error = endpoint->EnumShares(&shares)) return static_cast<NET_API_STATUS>(error);

  std::vector<std::u16string> names;
  std::vector<std::u16string> remarks;
  std::vector<std::size_t> sizes;
  for (const auto& share : shares) {
    names.push_back(vn::ToWide(share.name));
    remarks.push_back(vn::ToWide(share.remark));
    sizes.push_back(level == 0 ? sizeof(SHARE_INFO_0) + vn::Units(names.back()) * sizeof(WCHAR)
                               : sizeof(SHARE_INFO_1) +
                                     (vn::Units(names.back()) + vn::Units(remarks.back())) * sizeof(WCHAR));
  }
  const vn::Window window = vn::Select(sizes, prefmaxlen, resume_handle);
  if (window.count > 0) {
    std::size_t units = 0;
    for (std::size_t i = window.first; i < window.first + window.count; ++i)
      units += vn::Units(names[i]) + (level == 0 ? 0 : vn::Units(remarks[i]));
    vn::NetBuffer buffer(window.count * (level == 0 ? sizeof(SHARE_INFO_0) : sizeof(SHARE_INFO_1)), units);
    if (!buffer.ok()) return ERROR_NOT_ENOUGH_MEMORY;
    for (std::size_t i = 0; i < window.count; ++i) {
      const std::size_t at = window.first + i;
      if (level == 0) {
        buffer.Records<SHARE_INFO_0>()[i].shi0_netname = buffer.Put(names[at]);
      } else {
        auto& record = buffer.Records<SHARE_INFO_1>()[i];
        record.shi1_netname = buffer.Put(names[at]);
        record.shi1_type = shares[at].type;
        record.shi1_remark = buffer.Put(remarks[at]);
      }
    }
    *bufptr = buffer.Release();
  }
  return vn::Finish(window, shares.size(), entriesread, totalentries, resume_handle);
}

NET_API_STATUS NetGetDCName(LPCWSTR servername, LPCWSTR domainname, LPBYTE* bufptr) {
  return vn::GetControllerName(servername, domainname, bufptr);
}

NET_API_STATUS NetGetAnyDCName(LPCWSTR servername, LPCWSTR domainname, LPBYTE* bufptr) {
  return vn::GetControllerName(servername, domainname, bufptr);
}

NET_API_STATUS NetApiBufferFree(LPVOID Buffer) {
  std::free(Buffer);
  return NERR_Success;
}
