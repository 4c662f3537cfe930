#pragma once
// The mail library, loaded for one use and unloaded after it.
//
// Load() loads the library by its module name — "MAPI32.DLL" (the platform
// finds libMAPI32.so beside its own library), or the name $VORNAL_MAPI_LIBRARY
// gives — and takes its six Simple MAPI entry points. It answers
//   0  all six found,
//   2  the library cannot be loaded,
//   4  an entry point is missing (the library is unloaded again).
// Unload() (also the destructor) unloads it and clears every entry point.
// After a failed Load() every entry point is null.
//
// One object per use, on one thread; the entry points are valid until Unload.

#include <string>

#include "mapi/SimpleMapi.h"
#include "platform/core/Modules.h"

namespace vn::console {

inline constexpr const char* kMapiModuleName = "MAPI32.DLL";

class CMapiLibrary {
 public:
  enum : int { kLoaded = 0, kCannotLoad = 2, kEntryMissing = 4 };

  // An empty name means the default above.
  explicit CMapiLibrary(std::string moduleName = {});
  ~CMapiLibrary();
  CMapiLibrary(const CMapiLibrary&) = delete;
  CMapiLibrary& operator=(const CMapiLibrary&) = delete;

  [[nodiscard]] int Load();
  void Unload();
  bool IsLoaded() const { return m_hModule != nullptr; }
  const std::string& ModuleName() const { return m_moduleName; }

  LPMAPILOGON m_pfnLogon = nullptr;
  LPMAPILOGOFF m_pfnLogoff = nullptr;
  LPMAPISENDMAIL m_pfnSendMail = nullptr;
  LPMAPIRESOLVENAME m_pfnResolveName = nullptr;
  LPMAPIADDRESS m_pfnAddress = nullptr;
  LPMAPIFREEBUFFER m_pfnFreeBuffer = nullptr;

 private:
  void ClearEntryPoints();

  std::string m_moduleName;
  HMODULE m_hModule = nullptr;
};

}  // namespace vn::console
