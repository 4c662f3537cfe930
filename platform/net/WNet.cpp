#include "platform/net/WNet.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <string_view>
#include <utility>

#include "platform/core/AsciiText.h"
#include "platform/core/HandleTable.h"
#include "platform/endpoints/MachineDirectory.h"
#include "platform/endpoints/MachineEndpoint.h"

namespace vn {
namespace {

// One NETRESOURCEA as the enumeration hands it out.
struct Resource {
  DWORD scope = RESOURCE_GLOBALNET;
  DWORD type = RESOURCETYPE_ANY;
  DWORD displayType = RESOURCEDISPLAYTYPE_GENERIC;
  DWORD usage = RESOURCEUSAGE_CONTAINER;
  std::optional<std::string> localName;
  std::string remoteName;
  std::optional<std::string> comment;
  std::string provider = kWindowsNetworkName;

  std::size_t Size() const {
    std::size_t size = sizeof(NETRESOURCEA) + remoteName.size() + 1 + provider.size() + 1;
    if (localName) size += localName->size() + 1;
    if (comment) size += comment->size() + 1;
    return size;
  }
};

struct Enumeration {
  std::vector<Resource> resources;
  std::size_t next = 0;
};

HandleTable<Enumeration>& Enumerations() {
  static HandleTable<Enumeration> table;
  return table;
}

struct ConnectionTable {
  std::mutex mutex;
  std::vector<DriveConnection> connections;
};

ConnectionTable& Connections() {
  static ConnectionTable table;
  return table;
}

// "\\SERVER\Share" (slashes taken as backslashes, one trailing separator
// allowed) -> server and share.
bool ParseShareName(std::string_view name, std::string* server, std::string* share) {
  std::string text(name);
  std::replace(text.begin(), text.end(), '/', '\\');
  if (!text.starts_with("\\\\")) return false;
  text.erase(0, 2);
  if (text.ends_with('\\')) text.pop_back();
  const auto slash = text.find('\\');
  if (slash == std::string::npos || slash == 0 || slash + 1 == text.size()) return false;
  *server = text.substr(0, slash);
  *share = text.substr(slash + 1);
  return share->find('\\') == std::string::npos;
}

// "E:" (any case) -> 'E'.
bool ParseDeviceName(std::string_view name, char* letter) {
  if (name.size() != 2 || name[1] != ':' || !IsAsciiLetter(name[0])) return false;
  *letter = ToUpperAscii(name[0]);
  return true;
}

LONG ListDomains(std::vector<Resource>* out) {
  const auto local = LocalMachineEndpoint();
  if (!local) return ERROR_BAD_NETPATH;
  std::vector<ServerInfo> domains;
  if (const LONG error = local->EnumServers(SV_TYPE_DOMAIN_ENUM, {}, &domains)) return error;
  for (const auto& domain : domains) {
    Resource resource;
    resource.displayType = RESOURCEDISPLAYTYPE_DOMAIN;
    resource.remoteName = ToUpperAscii(domain.name);
    out->push_back(std::move(resource));
  }
  return ERROR_SUCCESS;
}

LONG ListServers(const std::string& domain, std::vector<Resource>* out) {
  const auto local = LocalMachineEndpoint();
  if (!local) return ERROR_BAD_NETPATH;
  std::vector<ServerInfo> servers;
  if (const LONG error = local->EnumServers(SV_TYPE_ALL & ~SV_TYPE_DOMAIN_ENUM, ToUpperAscii(domain), &servers))
    return error;
  for (const auto& server : servers) {
    Resource resource;
    resource.displayType = RESOURCEDISPLAYTYPE_SERVER;
    resource.remoteName = "\\\\" + ToUpperAscii(server.name);
    resource.comment = server.comment;
    out->push_back(std::move(resource));
  }
  return ERROR_SUCCESS;
}

LONG ListShares(std::string_view serverName, std::vector<Resource>* out) {
  std::string server(serverName);
  std::replace(server.begin(), server.end(), '/', '\\');
  while (server.starts_with('\\')) server.erase(0, 1);
  if (server.ends_with('\\')) server.pop_back();
  std::shared_ptr<MachineEndpoint> endpoint;
  if (const LONG error = FindMachine(server, &endpoint)) return error;
  if (!endpoint) return ERROR_BAD_NETPATH;
  std::vector<ShareInfo> shares;
  if (const LONG error = endpoint->EnumShares(&shares)) return error;
  for (const auto& share : shares) {
    const DWORD kind = share.type & ~STYPE_SPECIAL;
    if (share.name.ends_with('$') || (kind != STYPE_DISKTREE && kind != STYPE_PRINTQ)) continue;
    Resource resource;
    resource.type = kind == STYPE_DISKTREE ? RESOURCETYPE_DISK : RESOURCETYPE_PRINT;
    resource.displayType = RESOURCEDISPLAYTYPE_SHARE;
    resource.usage = RESOURCEUSAGE_CONNECTABLE;
    resource.remoteName = "\\\\" + ToUpperAscii(server) + "\\" + share.name;
    resource.comment = share.remark;
    out->push_back(std::move(resource));
  }
  return ERROR_SUCCESS;
}

// The children of `parent` in the browse tree.
LONG ListChildren(const NETRESOURCEA* parent, std::vector<Resource>* out) {
  if (!parent) {
    Resource network;
    network.displayType = RESOURCEDISPLAYTYPE_NETWORK;
    network.remoteName = kWindowsNetworkName;
    out->push_back(std::move(network));
    return ERROR_SUCCESS;
  }
  const std::string_view remote = parent->lpRemoteName ? std::string_view(parent->lpRemoteName) : std::string_view();
  DWORD level = parent->dwDisplayType;
  if (level != RESOURCEDISPLAYTYPE_NETWORK && level != RESOURCEDISPLAYTYPE_DOMAIN &&
      level != RESOURCEDISPLAYTYPE_SERVER && level != RESOURCEDISPLAYTYPE_SHARE) {
    std::string server;
    std::string share;
    if (remote.empty() || EqualsIgnoringCase(remote, kWindowsNetworkName))
      level = RESOURCEDISPLAYTYPE_NETWORK;
    else if (ParseShareName(remote, &server, &share))
      level = RESOURCEDISPLAYTYPE_SHARE;
    else if (remote.starts_with("\\\\") || remote.starts_with("//"))
      level = RESOURCEDISPLAYTYPE_SERVER;
    else
      level = RESOURCEDISPLAYTYPE_DOMAIN;
  }
  switch (level) {
    case RESOURCEDISPLAYTYPE_NETWORK:
      return ListDomains(out);
    case RESOURCEDISPLAYTYPE_DOMAIN:
      if (remote.empty()) return ERROR_INVALID_PARAMETER;
      return ListServers(std::string(remote), out);
    case RESOURCEDISPLAYTYPE_SERVER:
      if (remote.empty()) return ERROR_INVALID_PARAMETER;
      return ListShares(remote, out);
    default:
      return ERROR_NOT_CONTAINER;
  }
}

bool Wanted(const Resource& resource, DWORD type, DWORD usage) {
  if (usage != 0 && (resource.usage & usage) == 0) return false;
  // Containers hold resources of every type; only leaves are filtered by type.
  return type == RESOURCETYPE_ANY || resource.usage == RESOURCEUSAGE_CONTAINER || resource.type == type;
}

std::string RemoteName(const DriveConnection& connection) {
  return "\\\\" + connection.server + "\\" + connection.share;
}

std::vector<Resource> ConnectedResources() {
  std::vector<Resource> out;
  for (const auto& connection : DriveConnections()) {
    Resource resource;
    resource.scope = RESOURCE_CONNECTED;
    resource.type = RESOURCETYPE_DISK;
    resource.displayType = RESOURCEDISPLAYTYPE_SHARE;
    resource.usage = RESOURCEUSAGE_CONNECTABLE;
    if (connection.letter) resource.localName = std::string(1, connection.letter) + ":";
    resource.remoteName = RemoteName(connection);
    out.push_back(std::move(resource));
  }
  return out;
}

char* PutString(const std::string& text, BYTE* buffer, std::size_t* at) {
  char* out = reinterpret_cast<char*>(buffer + *at);
  std::memcpy(out, text.c_str(), text.size() + 1);
  *at += text.size() + 1;
  return out;
}

}  // namespace

std::optional<DriveConnection> FindDriveConnection(char letter) {
  const char upper = ToUpperAscii(letter);
  if (!upper) return std::nullopt;
  ConnectionTable& table = Connections();
  std::lock_guard lock(table.mutex);
  for (const auto& connection : table.connections)
    if (connection.letter == upper) return connection;
  return std::nullopt;
}

std::vector<DriveConnection> DriveConnections() {
  ConnectionTable& table = Connections();
  std::vector<DriveConnection> connections;
  {
    std::lock_guard lock(table.mutex);
    connections = table.connections;
  }
  std::stable_sort(connections.begin(), connections.end(), [](const DriveConnection& a, const DriveConnection& b) {
    if (!a.letter || !b.letter) return a.letter && !b.letter;
    return a.letter < b.letter;
  });
  return connections;
}

}  // namespace vn

DWORD WNetOpenEnumA(DWORD dwScope, DWORD dwType, DWORD dwUsage, LPNETRESOURCEA lpNetResource, LPHANDLE lphEnum) {
  if (!lphEnum) return ERROR_INVALID_PARAMETER;
  if (dwType != RESOURCETYPE_ANY && dwType != RESOURCETYPE_DISK && dwType != RESOURCETYPE_PRINT)
    return ERROR_INVALID_PARAMETER;
  std::vector<vn::Resource> all;
  switch (dwScope) {
    case RESOURCE_GLOBALNET:
      if (const LONG error = vn::ListChildren(lpNetResource, &all)) return static_cast<DWORD>(error);
      break;
    case RESOURCE_CONNECTED:
      all = vn::ConnectedResources();
      break;
    case RESOURCE_REMEMBERED:
      break;
    default:
      return ERROR_INVALID_PARAMETER;
  }
  vn::Enumeration enumeration;
  for (auto& resource : all)
    if (vn::Wanted(resource, dwType, dwScope == RESOURCE_GLOBALNET ? dwUsage : 0))
      enumeration.resources.push_back(std::move(resource));
  *lphEnum = vn::Enumerations().Add(std::move(enumeration));
  return ERROR_SUCCESS;
}

DWORD WNetEnumResourceA(HANDLE hEnum, LPDWORD lpcCount, LPVOID lpBuffer, LPDWORD lpBufferSize) {
  if (!lpcCount || !lpBuffer || !lpBufferSize || *lpcCount == 0) return ERROR_INVALID_PARAMETER;
  DWORD result = ERROR_SUCCESS;
  const bool known = vn::Enumerations().With(hEnum, [&](vn::Enumeration& enumeration) {
    const auto& resources = enumeration.resources;
    if (enumeration.next >= resources.size()) {
      result = ERROR_NO_MORE_ITEMS;
      return;
    }
    std::size_t count = 0;
    std::size_t used = 0;
    while (enumeration.next + count < resources.size() && count < *lpcCount) {
      const std::size_t size = resources[enumeration.next + count].Size();
      if (used + size > *lpBufferSize) break;
      used += size;
      ++count;
    }
    if (count == 0) {
      *lpBufferSize = static_cast<DWORD>(resources[enumeration.next].Size());
      result = ERROR_MORE_DATA;
      return;
    }
    auto* buffer = static_cast<BYTE*>(lpBuffer);
    std::size_t at = count * sizeof(NETRESOURCEA);
    for (std::size_t i = 0; i < count; ++i) {
      const vn::Resource& resource = resources[enumeration.next + i];
      NETRESOURCEA record{};
      record.dwScope = resource.scope;
      record.dwType = resource.type;
      record.dwDisplayType = resource.displayType;
      record.dwUsage = resource.usage;
      record.lpLocalName = resource.localName ? vn::PutString(*resource.localName, buffer, &at) : nullptr;
      record.lpRemoteName = vn::PutString(resource.remoteName, buffer, &at);
      record.lpComment = resource.comment ? vn::PutString(*resource.comment, buffer, &at) : nullptr;
      record.lpProvider = vn::PutString(resource.provider, buffer, &at);
      std::memcpy(buffer + i * sizeof(NETRESOURCEA), &record, sizeof record);
    }
    enumeration.next += count;
    *lpcCount = static_cast<DWORD>(count);
  });
  return known ? result : static_cast<DWORD>(ERROR_INVALID_HANDLE);
}

DWORD WNetCloseEnum(HANDLE hEnum) {
  return vn::Enumerations().Remove(hEnum) ? ERROR_SUCCESS : static_cast<DWORD>(ERROR_INVALID_HANDLE);
}

DWORD WNetUseConnectionA(void* /*hwndOwner*/, LPNETRESOURCEA lpNetResource, LPCSTR /*lpPassword*/,
                         LPCSTR /*lpUserID*/, DWORD dwFlags, LPSTR lpAccessName, LPDWORD lpBufferSize,
                         LPDWORD lpResult) {
  if (!lpNetResource || !lpNetResource->lpRemoteName || (lpAccessName && !lpBufferSize))
    return ERROR_INVALID_PARAMETER;
  if (lpNetResource->dwType != RESOURCETYPE_DISK && lpNetResource->dwType != RESOURCETYPE_ANY)
    return ERROR_BAD_DEV_TYPE;
  vn::DriveConnection connection;
  if (!vn::ParseShareName(lpNetResource->lpRemoteName, &connection.server, &connection.share))
    return ERROR_BAD_NET_NAME;
  connection.server = vn::ToUpperAscii(connection.server);
  char wanted = 0;
  if (lpNetResource->lpLocalName && *lpNetResource->lpLocalName &&
      !vn::ParseDeviceName(lpNetResource->lpLocalName, &wanted))
    return ERROR_BAD_DEVICE;

  std::shared_ptr<vn::MachineEndpoint> endpoint;
  if (const LONG error = vn::FindMachine(connection.server, &endpoint)) return static_cast<DWORD>(error);
  if (!endpoint) return ERROR_BAD_NETPATH;
  std::vector<vn::ShareInfo> shares;
  if (const LONG error = endpoint->EnumShares(&shares)) return static_cast<DWORD>(error);
  const auto share = std::find_if(shares.begin(), shares.end(), [&](const vn::ShareInfo& s) {
    return vn::EqualsIgnoringCase(s.name, connection.share) && (s.type & ~STYPE_SPECIAL) == STYPE_DISKTREE;
  });
  if (share == shares.end()) return ERROR_BAD_NET_NAME;
  connection.share = share->name;

  std::vector<vn::DriveInfo> drives;
  // A letter is only given out when this machine's own drives are known: it
  // must never hide one of them.
  if (const auto local = vn::LocalMachineEndpoint()) {
    if (const LONG error = local->GetDrives(&drives)) return static_cast<DWORD>(error);
  }

  vn::ConnectionTable& table = vn::Connections();
  std::lock_guard lock(table.mutex);
  const auto taken = [&](char letter) {
    return std::any_of(drives.begin(), drives.end(), [&](const vn::DriveInfo& d) { return d.letter == letter; }) ||
           std::any_of(table.connections.begin(), table.connections.end(),
                       [&](const vn::DriveConnection& c) { return c.letter == letter; });
  };
  if (wanted) {
    if (taken(wanted)) return ERROR_ALREADY_ASSIGNED;
    connection.letter = wanted;
  } else if (dwFlags & CONNECT_REDIRECT) {
    for (char letter = 'D'; letter <= 'Z' && !connection.letter; ++letter)
      if (!taken(letter)) connection.letter = letter;
    if (!connection.letter) return ERROR_NO_MORE_DEVICES;
  }
  const std::string access =
      connection.letter ? std::string(1, connection.letter) + ":" : vn::RemoteName(connection);
  if (lpAccessName) {
    if (*lpBufferSize < access.size() + 1) {
      *lpBufferSize = static_cast<DWORD>(access.size() + 1);
      return ERROR_MORE_DATA;
    }
    std::memcpy(lpAccessName, access.c_str(), access.size() + 1);
  }
  const bool known = !connection.letter &&
                     std::any_of(table.connections.begin(), table.connections.end(), [&](const vn::DriveConnection& c) {
                       return !c.letter && vn::EqualsIgnoringCase(c.server, connection.server) &&
                              vn::EqualsIgnoringCase(c.share, connection.share);
                     });
  if (!known) table.connections.push_back(connection);
  if (lpResult) *lpResult = connection.letter ? CONNECT_LOCALDRIVE : 0;
  return ERROR_SUCCESS;
}

DWORD WNetCancelConnectionA(LPCSTR lpName, BOOL /*fForce*/) {
  if (!lpName) return ERROR_INVALID_PARAMETER;
  char letter = 0;
  std::string server;
  std::string share;
  const bool device = vn::ParseDeviceName(lpName, &letter);
  if (!device && !vn::ParseShareName(lpName, &server, &share)) return ERROR_NOT_CONNECTED;
  vn::ConnectionTable& table = vn::Connections();
  std::lock_guard lock(table.mutex);
  const auto removed = std::erase_if(table.connections, [&](const vn::DriveConnection& c) {
    if (device) return c.letter == letter;
    return !c.letter && vn::EqualsIgnoringCase(c.server, server) && vn::EqualsIgnoringCase(c.share, share);
  });
  return removed ? ERROR_SUCCESS : static_cast<DWORD>(ERROR_NOT_CONNECTED);
}
