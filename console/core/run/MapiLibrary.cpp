#include "console/core/run/MapiLibrary.h"

#include <cstdlib>

namespace vn::console {
namespace {

template <typename Pointer>
bool Take(HMODULE module, const char* name, Pointer* target) {
  *target = reinterpret_cast<Pointer>(GetProcAddress(module, name));
  return *target != nullptr;
}

}  // namespace

CMapiLibrary::CMapiLibrary(std::string moduleName) : m_moduleName(std::move(moduleName)) {
  if (m_moduleName.empty()) {
    const char* configured = std::getenv("VORNAL_MAPI_LIBRARY");
    m_moduleName = configured != nullptr && *configured != '\0' ? configured : kMapiModuleName;
  }
}

CMapiLibrary::~CMapiLibrary() { Unload(); }

int CMapiLibrary::Load() {
  Unload();
  m_hModule = LoadLibraryA(m_moduleName.c_str());
  if (m_hModule == nullptr) return kCannotLoad;
  const bool all = Take(m_hModule, "MAPILogon", &m_pfnLogon) & Take(m_hModule, "MAPILogoff", &m_pfnLogoff) &
                   Take(m_hModule, "MAPISendMail", &m_pfnSendMail) &
                   Take(m_hModule, "MAPIResolveName", &m_pfnResolveName) &
                   Take(m_hModule, "MAPIAddress", &m_pfnAddress) & Take(m_hModule, "MAPIFreeBuffer", &m_pfnFreeBuffer);
  if (!all) {
    Unload();
    return kEntryMissing;
  }
  return kLoaded;
}

void CMapiLibrary::Unload() {
  ClearEntryPoints();
  if (m_hModule != nullptr) {
    (void)FreeLibrary(m_hModule);  // a module we loaded; its failure leaves nothing to undo
    m_hModule = nullptr;
  }
}

void CMapiLibrary::ClearEntryPoints() {
  m_pfnLogon = nullptr;
  m_pfnLogoff = nullptr;
  m_pfnSendMail = nullptr;
  m_pfnResolveName = nullptr;
  m_pfnAddress = nullptr;
  m_pfnFreeBuffer = nullptr;
}

}  // namespace vn::console
