#pragma once
// Libraries loaded at run time by name (LoadLibraryA, GetProcAddress,
// FreeLibrary), for components the console finds only when it uses them.
//
// Names: a name holding "/" is a file path, loaded as it is. Otherwise a
// Windows module name "NAME.DLL" (any letter case) stands for the shared
// library "libNAME.so", and a name without ".DLL" for itself; it is looked
// for in the directory of the platform library (where the product installs
// its libraries, and the build its outputs), then where the dynamic loader
// looks. Symbols are resolved at load (RTLD_NOW): a library whose own
// dependencies are missing does not load.
//
// Failures (GetLastError): ERROR_MOD_NOT_FOUND (126) when no library of that
// name can be loaded, ERROR_PROC_NOT_FOUND (127) for an entry point the
// library lacks, ERROR_INVALID_HANDLE for a module not loaded here.
// Every LoadLibraryA that succeeds takes one reference, given back by
// FreeLibrary; the library is unloaded with its last one. Safe from any thread.

#include "platform/core/Win32Types.h"

struct HINSTANCE__;
using HMODULE = HINSTANCE__*;
using FARPROC = void (*)();

inline constexpr LONG ERROR_MOD_NOT_FOUND = 126;
inline constexpr LONG ERROR_PROC_NOT_FOUND = 127;

[[nodiscard]] HMODULE LoadLibraryA(LPCSTR lpLibFileName);
[[nodiscard]] FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName);
BOOL FreeLibrary(HMODULE hLibModule);
