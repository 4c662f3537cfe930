#include "platform/accounts/Accounts.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "platform/core/AsciiText.h"
#include "platform/core/LastError.h"
#include "platform/core/WideString.h"
#include "platform/endpoints/MachineDirectory.h"
#include "platform/machine/AccountTable.h"
#include "platform/machine/Machine.h"
#include "platform/net/Net.h"
#include "platform/net/NetBuffer.h"

namespace vn {
namespace {

constexpr DWORD kMaxDisplayEntries = 100;

// The account table of the machine `server` names (see the header for
// names): this machine's own, or the one another machine's service hands over.
NET_API_STATUS LoadAccounts(const std::string& server, AccountTable* table) {
  std::shared_ptr<MachineEndpoint> endpoint;
  if (server.empty() || server == "\\\\") {
    endpoint = LocalMachineEndpoint();
  } else if (const LONG error = FindMachine(server, &endpoint)) {
    return static_cast<NET_API_STATUS>(error);
  }
  if (!endpoint) return ERROR_BAD_NETPATH;
  return static_cast<NET_API_STATUS>(endpoint->GetAccounts(table));
}

std::size_t Units(const std::u16string& text) { return text.size() + 1; }

struct WideAccount {
  std::u16string name;
  std::u16string comment;
  std::u16string fullName;
};

WideAccount Widen(const Account& account) {
  return {ToWide(account.name), ToWide(account.comment), ToWide(account.fullName)};
}

// The account `name` ("NAME" or "DOMAIN\NAME") names, or null.
const Account* FindAccount(const AccountTable& table, std::string_view name) {
  const auto slash = name.find('\\');
  const bool qualified = slash != std::string_view::npos;
  const std::string_view domain = qualified ? name.substr(0, slash) : std::string_view();
  const std::string_view bare = qualified ? name.substr(slash + 1) : name;
  if (bare.empty()) return nullptr;
  for (const auto* list : {&table.wellKnown, &table.localGroups, &table.users, &table.groups}) {
    for (const auto& account : *list)
      if (EqualsIgnoringCase(account.name, bare) && (!qualified || EqualsIgnoringCase(account.domain, domain)))
        return &account;
  }
  if (!qualified)
    for (const auto& entry : table.domains)
      if (EqualsIgnoringCase(entry.name, bare)) return &entry;
  return nullptr;
}

}  // namespace

}  // namespace vn

NET_API_STATUS NetQueryDisplayInformation(LPCWSTR ServerName, DWORD Level, DWORD Index, DWORD EntriesRequested,
                                          DWORD PreferredMaximumLength, LPDWORD ReturnedEntryCount,
                                          PVOID* SortedBuffer) {
  if (!ReturnedEntryCount || !SortedBuffer) return ERROR_INVALID_PARAMETER;
  *ReturnedEntryCount = 0;
  *SortedBuffer = nullptr;
  if (Level != 1 && Level != 3) return ERROR_INVALID_LEVEL;
  vn::AccountTable table;
  if (const NET_API_STATUS error = vn::LoadAccounts(vn::ToUtf8(ServerName), &table)) return error;
  const auto& list = Level == 1 ? table.users : table.groups;
  if (Index >= list.size()) return NERR_Success;

  const std::size_t recordSize = Level == 1 ? sizeof(NET_DISPLAY_USER) : sizeof(NET_DISPLAY_GROUP);
  const std::size_t limit = std::clamp<DWORD>(EntriesRequested, 1, vn::kMaxDisplayEntries);
  std::vector<vn::WideAccount> batch;
  std::size_t used = 0;
  std::size_t units = 0;
  for (std::size_t i = Index; i < list.size() && batch.size() < limit; ++i) {
    vn::WideAccount wide = vn::Widen(list[i]);
    const std::size_t entryUnits =
        vn::Units(wide.name) + vn::Units(wide.comment) + (Level == 1 ? vn::Units(wide.fullName) : 0);
    const std::size_t size = recordSize + entryUnits * sizeof(WCHAR);
    if (!batch.empty() && used + size > PreferredMaximumLength) break;
    used += size;
    units += entryUnits;
    batch.push_back(std::move(wide));
  }
  vn::NetBuffer buffer(batch.size() * recordSize, units);
  if (!buffer.ok()) return ERROR_NOT_ENOUGH_MEMORY;
  for (std::size_t i = 0; i < batch.size(); ++i) {
    const auto& account = list[Index + i];
    const auto next = static_cast<DWORD>(Index + i + 1);
    if (Level == 1) {
      auto& record = buffer.Records<NET_DISPLAY_USER>()[i];
      record.usri1_name = buffer.Put(batch[i].name);
      record.usri1_comment = buffer.Put(batch[i].comment);
      record.usri1_flags = account.flags;
      record.usri1_full_name = buffer.Put(batch[i].fullName);
      record.usri1_user_id = account.rid;
      record.usri1_next_index = next;
    } else {
      auto& record = buffer.Records<NET_DISPLAY_GROUP>()[i];
      record.grpi3_name = buffer.Put(batch[i].name);
      record.grpi3_comment = buffer.Put(batch[i].comment);
      record.grpi3_group_id = account.rid;
      record.grpi3_attributes = SE_GROUP_MANDATORY | SE_GROUP_ENABLED_BY_DEFAULT | SE_GROUP_ENABLED;
      record.grpi3_next_index = next;
    }
  }
  *ReturnedEntryCount = static_cast<DWORD>(batch.size());
  *SortedBuffer = buffer.Release();
  return Index + batch.size() < list.size() ? ERROR_MORE_DATA : NERR_Success;
}

NET_API_STATUS NetLocalGroupEnum(LPCWSTR servername, DWORD level, LPBYTE* bufptr, DWORD prefmaxlen,
                                 LPDWORD entriesread, LPDWORD totalentries, PDWORD_PTR resumehandle) {
  if (!bufptr || !entriesread || !totalentries) return ERROR_INVALID_PARAMETER;
  *bufptr = nullptr;
  *entriesread = 0;
  *totalentries = 0;
  if (level != 0 && level != 1) return ERROR_INVALID_LEVEL;
  vn::AccountTable table;
  if (const NET_API_STATUS error = vn::LoadAccounts(vn::ToUtf8(servername), &table)) return error;
  const auto& list = table.localGroups;
  const std::size_t first = std::min<std::size_t>(resumehandle ? *resumehandle : 0, list.size());
  const std::size_t recordSize = level == 0 ? sizeof(LOCALGROUP_INFO_0) : sizeof(LOCALGROUP_INFO_1);
  std::vector<vn::WideAccount> batch;
  std::size_t used = 0;
  std::size_t units = 0;
  for (std::size_t i = first; i < list.size(); ++i) {
    vn::WideAccount wide = vn::Widen(list[i]);
    const std::size_t entryUnits = vn::Units(wide.name) + (level == 1 ? vn::Units(wide.comment) : 0);
    const std::size_t size = recordSize + entryUnits * sizeof(WCHAR);
    if (prefmaxlen != MAX_PREFERRED_LENGTH && !batch.empty() && used + size > prefmaxlen) break;
    used += size;
    units += entryUnits;
    batch.push_back(std::move(wide));
  }
  const bool more = first + batch.size() < list.size();
  if (!batch.empty()) {
    vn::NetBuffer buffer(batch.size() * recordSize, units);
    if (!buffer.ok()) return ERROR_NOT_ENOUGH_MEMORY;
    for (std::size_t i = 0; i < batch.size(); ++i) {
      if (level == 0) {
        buffer.Records<LOCALGROUP_INFO_0>()[i].lgrpi0_name = buffer.Put(batch[i].name);
      } else {
        auto& record = buffer.Records<LOCALGROUP_INFO_1>()[i];
        record.lgrpi1_name = buffer.Put(batch[i].name);
        record.lgrpi1_comment = buffer.Put(batch[i].comment);
      }
    }
    *bufptr = buffer.Release();
  }
  *entriesread = static_cast<DWORD>(batch.size());
  *totalentries = static_cast<DWORD>(list.size() - first);
  if (resumehandle) *resumehandle = more ? first + batch.size() : 0;
  return more ? ERROR_MORE_DATA : NERR_Success;
}

NET_API_STATUS NetUserModalsGet(LPCWSTR servername, DWORD level, LPBYTE* bufptr) {
  if (!bufptr) return ERROR_INVALID_PARAMETER;
  *bufptr = nullptr;
  if (level != 2) return ERROR_INVALID_LEVEL;
  vn::AccountTable table;
  if (const NET_API_STATUS error = vn::LoadAccounts(vn::ToUtf8(servername), &table)) return error;
  const std::u16string name = vn::ToWide(table.domain);
  vn::NetBuffer buffer(sizeof(USER_MODALS_INFO_2), vn::Units(name), table.domainSid.size());
  if (!buffer.ok()) return ERROR_NOT_ENOUGH_MEMORY;
  auto& record = *buffer.Records<USER_MODALS_INFO_2>();
  record.usrmod2_domain_id = buffer.PutSid(table.domainSid);
  record.usrmod2_domain_name = buffer.Put(name);
  *bufptr = buffer.Release();
  return NERR_Success;
}

BOOL LookupAccountNameA(LPCSTR lpSystemName, LPCSTR lpAccountName, PSID Sid, LPDWORD cbSid,
                        LPSTR ReferencedDomainName, LPDWORD cchReferencedDomainName, PSID_NAME_USE peUse) {
  const auto fail = [](DWORD error) {
    SetLastError(error);
    return FALSE;
  };
  if (!lpAccountName || !cbSid || !cchReferencedDomainName || !peUse) return fail(ERROR_INVALID_PARAMETER);
  vn::AccountTable table;
  if (const NET_API_STATUS error = vn::LoadAccounts(lpSystemName ? lpSystemName : "", &table)) return fail(error);
  const vn::Account* account = vn::FindAccount(table, lpAccountName);
  if (!account) return fail(ERROR_NONE_MAPPED);
  const auto sidSize = static_cast<DWORD>(account->sid.size());
  const auto domainSize = static_cast<DWORD>(account->domain.size() + 1);
  if (!Sid || *cbSid < sidSize || !ReferencedDomainName || *cchReferencedDomainName < domainSize) {
    *cbSid = sidSize;
    *cchReferencedDomainName = domainSize;
    return fail(ERROR_INSUFFICIENT_BUFFER);
  }
  std::memcpy(Sid, account->sid.data(), sidSize);
  std::memcpy(ReferencedDomainName, account->domain.c_str(), domainSize);
  *cbSid = sidSize;
  *cchReferencedDomainName = domainSize - 1;
  *peUse = account->use;
  return TRUE;
}

BOOL IsValidSid(PSID pSid) {
  if (!pSid) return FALSE;
  const auto* bytes = static_cast<const BYTE*>(pSid);
  return bytes[0] == SID_REVISION && bytes[1] <= SID_MAX_SUB_AUTHORITIES ? TRUE : FALSE;
}

DWORD GetLengthSid(PSID pSid) {
  if (!IsValidSid(pSid)) return 0;
  return 8 + 4 * static_cast<DWORD>(static_cast<const BYTE*>(pSid)[1]);
}
