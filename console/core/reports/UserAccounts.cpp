#include "console/core/reports/UserAccounts.h"

#include <algorithm>

#include "platform/accounts/Accounts.h"
#include "platform/core/AsciiText.h"
#include "platform/core/LastError.h"
#include "platform/core/WideString.h"
#include "platform/machine/Machine.h"
#include "platform/net/Net.h"

namespace vn::console {
namespace {

constexpr DWORD kBatchEntries = 16;
constexpr DWORD kBatchBytes = 384;
constexpr DWORD kLocalGroupBytes = 1000;

// A Net buffer, freed however the scope ends.
class CNetBuffer {
 public:
  CNetBuffer() = default;
  ~CNetBuffer() { (void)NetApiBufferFree(m_p); }  // our own buffer; nothing to do should freeing fail
  CNetBuffer(const CNetBuffer&) = delete;
  CNetBuffer& operator=(const CNetBuffer&) = delete;
  LPBYTE* Out() { return &m_p; }
  void** OutVoid() { return reinterpret_cast<void**>(&m_p); }
  template <typename T>
  const T* As() const {
    return reinterpret_cast<const T*>(m_p);
  }

 private:
  LPBYTE m_p = nullptr;
};

int KindRank(int kind) { return kind == kAccountGlobalGroup ? 0 : kind == kAccountLocalGroup ? 1 : 2; }

// Pieces of a name: domain part (empty when none) and account part.
void SplitAccountName(std::string_view name, std::string* domain, std::string* account) {
  const std::size_t slash = name.find('\\');
  if (slash == std::string_view::npos) {
    domain->clear();
    *account = std::string(name);
  } else {
    *domain = std::string(name.substr(0, slash));
    *account = std::string(name.substr(slash + 1));
  }
}

// 0 when the name is an account of an acceptable kind; else the code.
LONG LookUp(const std::string& machine, const std::string& name) {
  BYTE sid[256];
  char domain[256];
  DWORD sidSize = sizeof sid, domainSize = sizeof domain;
  SID_NAME_USE use = SidTypeUnknown;
  if (!LookupAccountNameA(machine.c_str(), name.c_str(), sid, &sidSize, domain, &domainSize, &use)) {
    const DWORD code = GetLastError();
    return code == 0 ? ERROR_NONE_MAPPED : static_cast<LONG>(code);
  }
  const bool kindOk = use == SidTypeUser || use == SidTypeGroup || use == SidTypeAlias || use == SidTypeWellKnownGroup;
  return kindOk && IsValidSid(sid) ? ERROR_SUCCESS : ERROR_INVALID_SID;
}

}  // namespace

std::string MachineUncName(std::string_view machine) {
  while (!machine.empty() && machine.front() == '\\') machine.remove_prefix(1);
  std::string name(machine);
  if (name.empty()) {
    char buffer[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = sizeof buffer;
    if (GetComputerNameA(buffer, &size)) name.assign(buffer, size);
  }
  return "\\\\" + vn::ToUpperAscii(name);
}

LONG ReadUserSources(std::string_view machine, UserSources* out) {
  UserSources result;
  result.machine = MachineUncName(machine);
  const std::u16string server = vn::ToWide(result.machine);
  {
    CNetBuffer info;
    if (const NET_API_STATUS status = NetServerGetInfo(server.c_str(), 101, info.Out()); status != ERROR_SUCCESS)
      return static_cast<LONG>(status);
    result.isController = (info.As<SERVER_INFO_101>()->sv101_type & (SV_TYPE_DOMAIN_CTRL | SV_TYPE_DOMAIN_BAKCTRL)) != 0;
  }
  if (result.isController) {
    result.controller = result.machine;
  } else {
    CNetBuffer dc;
    if (NetGetAnyDCName(server.c_str(), nullptr, dc.Out()) == ERROR_SUCCESS)
      result.controller = vn::ToUtf8(dc.As<WCHAR>());
  }
  std::string domain;
  {
    CNetBuffer modals;
    if (const NET_API_STATUS status = NetUserModalsGet(server.c_str(), 2, modals.Out()); status != ERROR_SUCCESS)
      return static_cast<LONG>(status);
    domain = vn::ToUpperAscii(vn::ToUtf8(modals.As<USER_MODALS_INFO_2>()->usrmod2_domain_name));
  }
  result.sources.push_back({result.machine, domain, result.machine, true});
  result.sources.push_back({domain, domain, result.controller.empty() ? result.machine : result.controller, false});

  CNetBuffer list;
  DWORD read = 0, total = 0;
  if (NetServerEnum(server.c_str(), 100, list.Out(), MAX_PREFERRED_LENGTH, &read, &total, SV_TYPE_DOMAIN_ENUM, nullptr,
                    nullptr) == ERROR_SUCCESS) {
    for (DWORD i = 0; i < read; ++i) {
      const std::string other = vn::ToUpperAscii(vn::ToUtf8(list.As<SERVER_INFO_100>()[i].sv100_name));
      if (other.empty() || other == domain) continue;
      CNetBuffer dc;
      const std::u16string wide = vn::ToWide(other);
      if (NetGetAnyDCName(server.c_str(), wide.c_str(), dc.Out()) != ERROR_SUCCESS) continue;
      result.sources.push_back({other, other, vn::ToUtf8(dc.As<WCHAR>()), false});
    }
  }
  *out = std::move(result);
  return ERROR_SUCCESS;
}

LONG ListAccounts(const UserSource& source, bool showUsers, std::vector<AccountRow>* rows) {
  std::vector<AccountRow> found;
  const std::u16string server = vn::ToWide(source.server);
  for (const DWORD level : {DWORD{3}, DWORD{1}}) {
    if (level == 1 && !showUsers) continue;
    for (DWORD index = 0;;) {
      CNetBuffer buffer;
      DWORD count = 0;
      const NET_API_STATUS status =
          NetQueryDisplayInformation(server.c_str(), level, index, kBatchEntries, kBatchBytes, &count, buffer.OutVoid());
      if (status != ERROR_SUCCESS && status != static_cast<NET_API_STATUS>(ERROR_MORE_DATA))
        return static_cast<LONG>(status);
      for (DWORD i = 0; i < count; ++i) {
        if (level == 3) {
          const NET_DISPLAY_GROUP& group = buffer.As<NET_DISPLAY_GROUP>()[i];
          index = group.grpi3_next_index;
          std::string name = vn::ToUtf8(group.grpi3_name);
          if (!vn::EqualsIgnoringCase(name, "None")) found.push_back({kAccountGlobalGroup, std::move(name)});
        } else {
          const NET_DISPLAY_USER& user = buffer.As<NET_DISPLAY_USER>()[i];
          index = user.usri1_next_index;
          found.push_back({kAccountUser, vn::ToUtf8(user.usri1_name)});
        }
      }
      if (status != static_cast<NET_API_STATUS>(ERROR_MORE_DATA) || count == 0) break;
    }
  }
  if (source.isMachine) {
    DWORD_PTR resume = 0;
    for (;;) {
      CNetBuffer buffer;
      DWORD read = 0, total = 0;
      const NET_API_STATUS status =
          NetLocalGroupEnum(server.c_str(), 0, buffer.Out(), kLocalGroupBytes, &read, &total, &resume);
      if (status != ERROR_SUCCESS && status != static_cast<NET_API_STATUS>(ERROR_MORE_DATA))
        return static_cast<LONG>(status);
      for (DWORD i = 0; i < read; ++i)
        found.push_back({kAccountLocalGroup, vn::ToUtf8(buffer.As<LOCALGROUP_INFO_0>()[i].lgrpi0_name)});
      if (status != static_cast<NET_API_STATUS>(ERROR_MORE_DATA) || read == 0) break;
    }
  }
  SortAccountRows(&found);
  *rows = std::move(found);
  return ERROR_SUCCESS;
}

void SortAccountRows(std::vector<AccountRow>* rows) {
  std::stable_sort(rows->begin(), rows->end(), [](const AccountRow& a, const AccountRow& b) {
    if (KindRank(a.kind) != KindRank(b.kind)) return KindRank(a.kind) < KindRank(b.kind);
    return vn::LessIgnoringCase(a.name, b.name);
  });
}

std::string QualifiedAccountName(std::string_view domain, const AccountRow& row) {
  if (row.kind == kAccountLocalGroup) return row.name;
  return std::string(domain) + "\\" + row.name;
}

bool AppendSelectedName(std::string* field, std::string_view name) {
  std::size_t start = 0;
  while (start <= field->size()) {
    std::size_t end = field->find(';', start);
    if (end == std::string::npos) end = field->size();
    if (vn::EqualsIgnoringCase(std::string_view(*field).substr(start, end - start), name)) return false;
    start = end + 1;
  }
  if (!field->empty() && field->back() != ';') field->push_back(';');
  field->append(name);
  return true;
}

LONG CheckSelectedNames(std::string_view machine, bool isController, std::string* field, std::string* failedName) {
  const std::string server = MachineUncName(machine);
  const std::string bareMachine = server.substr(2);
  std::vector<std::string> names;
  std::size_t start = 0;
  while (start <= field->size()) {
    std::size_t end = field->find(';', start);
    if (end == std::string::npos) end = field->size();
    std::string_view piece = std::string_view(*field).substr(start, end - start);
    while (!piece.empty() && (piece.front() == ' ' || piece.front() == '\t')) piece.remove_prefix(1);
    while (!piece.empty() && (piece.back() == ' ' || piece.back() == '\t')) piece.remove_suffix(1);
    if (!piece.empty()) names.emplace_back(piece);
    start = end + 1;
  }
  for (std::string& name : names) {
    std::string domain, account;
    SplitAccountName(name, &domain, &account);
    const std::string asked = vn::EqualsIgnoringCase(domain, bareMachine) ? account : name;
    LONG code = LookUp(server, asked);
    if (code != ERROR_SUCCESS && code != ERROR_INVALID_SID && isController && !domain.empty()) {
      if (LookUp(server, account) == ERROR_SUCCESS) {
        name = account;
        code = ERROR_SUCCESS;
      }
    }
    if (code != ERROR_SUCCESS) {
      if (failedName) *failedName = name;
      return code;
    }
  }
  std::string corrected;
  for (const std::string& name : names) {
    if (!corrected.empty()) corrected.push_back(';');
    corrected += name;
  }
  *field = std::move(corrected);
  return ERROR_SUCCESS;
}

}  // namespace vn::console
