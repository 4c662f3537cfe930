// GetTempFileNameA and vn::WriteWholeFile (declared in Files.h): new files
// written through the machine that holds them, like every other file call.

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "platform/core/CallResult.h"
#include "platform/net/Files.h"

namespace {

constexpr unsigned kNumbers = 0x10000;  // 1..0xFFFF; 0 is never used

std::string TempName(std::string_view directory, std::string_view prefix, unsigned number) {
  std::string name(directory);
  if (!name.empty() && name.back() != '\\' && name.back() != '/') name += '\\';
  char hex[8] = {};
  std::snprintf(hex, sizeof hex, "%X", number);
  return name.append(prefix).append(hex).append(".TMP");
}

// Now as a last write time: 100-nanosecond steps since 1601.
std::uint64_t NowFileTime() {
  constexpr std::uint64_t kEpochDifference = 116444736000000000ULL;
  const auto since1970 = std::chrono::duration_cast<std::chrono::microseconds>(
      std::chrono::system_clock::now().time_since_epoch());
  return kEpochDifference + static_cast<std::uint64_t>(since1970.count()) * 10;
}

// Makes the empty file `name` unless one exists: ERROR_FILE_EXISTS then.
LONG CreateNew(const std::string& name) {
  vn::FileLocation where;
  if (const LONG error = vn::LocateFile(name, false, &where)) return error;
  if (where.path.path.empty()) return ERROR_ACCESS_DENIED;
  std::unique_ptr<vn::FileWriter> writer;
  if (const LONG error = where.endpoint->OpenWrite(where.path, true, &writer)) return error;
  return writer->Commit(NowFileTime());
}

LONG MakeTempFile(LPCSTR directory, LPCSTR prefix, UINT unique, LPSTR out, UINT* used) {
  if (!directory || !out) return ERROR_INVALID_PARAMETER;
  const std::string_view pre = prefix ? prefix : "";
  const auto fits = [&](const std::string& name) { return name.size() < MAX_PATH; };
  if (unique != 0) {
    const unsigned number = unique & 0xFFFF;
    const std::string name = TempName(directory, pre, number ? number : 1);
    if (!fits(name)) return ERROR_BUFFER_OVERFLOW;
    std::memcpy(out, name.c_str(), name.size() + 1);
    *used = number ? number : 1;
    return ERROR_SUCCESS;
  }
  const DWORD attributes = GetFileAttributesA(directory);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const auto error = static_cast<LONG>(GetLastError());
    return error == ERROR_FILE_NOT_FOUND ? ERROR_PATH_NOT_FOUND : error;  // it is the directory that is missing
  }
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return ERROR_DIRECTORY;
  const auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
  const unsigned start = static_cast<unsigned>(ticks) % (kNumbers - 1);
  for (unsigned step = 0; step < kNumbers - 1; ++step) {
    const unsigned number = (start + step) % (kNumbers - 1) + 1;
    const std::string name = TempName(directory, pre, number);
    if (!fits(name)) return ERROR_BUFFER_OVERFLOW;
    const LONG error = CreateNew(name);
    if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) continue;
    if (error) return error;
    std::memcpy(out, name.c_str(), name.size() + 1);
    *used = number;
    return ERROR_SUCCESS;
  }
  return ERROR_FILE_EXISTS;
}

}  // namespace

UINT GetTempFileNameA(LPCSTR lpPathName, LPCSTR lpPrefixString, UINT uUnique, LPSTR lpTempFileName) {
  UINT used = 0;
  if (const LONG error = MakeTempFile(lpPathName, lpPrefixString, uUnique, lpTempFileName, &used)) {
    (void)vn::Fail(error);
    return 0;
  }
  (void)vn::Succeed();
  return used;
}

namespace vn {

BOOL WriteWholeFile(LPCSTR path, std::string_view contents) {
  if (!path) return Fail(ERROR_INVALID_PARAMETER);
  FileLocation where;
  if (const LONG error = LocateFile(path, false, &where)) return Fail(error);
  if (where.path.path.empty()) return Fail(ERROR_ACCESS_DENIED);
  std::unique_ptr<FileWriter> writer;
  if (const LONG error = where.endpoint->OpenWrite(where.path, false, &writer)) return Fail(error);
  if (const LONG error = writer->Write(std::span(reinterpret_cast<const BYTE*>(contents.data()), contents.size())))
    return Fail(error);
  if (const LONG error = writer->Commit(NowFileTime())) return Fail(error);
  return Succeed();
}

}  // namespace vn
