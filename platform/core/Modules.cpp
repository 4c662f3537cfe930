#include "platform/core/Modules.h"

#include <dlfcn.h>

#include <filesystem>
#include <string>

#include "platform/core/AsciiText.h"
#include "platform/core/LastError.h"

namespace {

// The file name a module name stands for.
std::string SharedLibraryName(const std::string& name) {
  constexpr std::string_view kDll = ".DLL";
  if (name.size() > kDll.size() &&
      vn::EqualsIgnoringCase(std::string_view(name).substr(name.size() - kDll.size()), kDll))
    return "lib" + name.substr(0, name.size() - kDll.size()) + ".so";
  return name;
}

// The directory this library was loaded from, empty when unknown.
std::filesystem::path OwnDirectory() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<const void*>(&SharedLibraryName), &info) == 0 || info.dli_fname == nullptr) return {};
  return std::filesystem::path(info.dli_fname).parent_path();
}

}  // namespace

HMODULE LoadLibraryA(LPCSTR lpLibFileName) {
  if (lpLibFileName == nullptr || *lpLibFileName == '\0') {
    SetLastError(static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    return nullptr;
  }
  const std::string name(lpLibFileName);
  void* handle = nullptr;
  if (name.find('/') != std::string::npos) {
    handle = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
  } else {
    const std::string file = SharedLibraryName(name);
    if (const std::filesystem::path dir = OwnDirectory(); !dir.empty()) {
      std::error_code ec;
      if (const std::filesystem::path beside = dir / file; std::filesystem::exists(beside, ec))
        handle = dlopen(beside.c_str(), RTLD_NOW | RTLD_LOCAL);
    }
    if (handle == nullptr) handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  }
  if (handle == nullptr) {
    SetLastError(static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    return nullptr;
  }
  return static_cast<HMODULE>(handle);
}

FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
  if (hModule == nullptr || lpProcName == nullptr) {
    SetLastError(static_cast<DWORD>(ERROR_INVALID_HANDLE));
    return nullptr;
  }
  dlerror();
  void* symbol = dlsym(static_cast<void*>(hModule), lpProcName);
  if (symbol == nullptr) {
    SetLastError(static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
    return nullptr;
  }
  return reinterpret_cast<FARPROC>(symbol);
}

BOOL FreeLibrary(HMODULE hLibModule) {
  if (hLibModule == nullptr || dlclose(static_cast<void*>(hLibModule)) != 0) {
    SetLastError(static_cast<DWORD>(ERROR_INVALID_HANDLE));
    return 0;
  }
  return 1;
}
