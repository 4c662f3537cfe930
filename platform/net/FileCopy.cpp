// CopyFileA (declared in Files.h): a file streamed from one endpoint's reader
// into another's writer, whichever machines they are.

#include "platform/net/Files.h"

#include <memory>
#include <vector>

#include "platform/core/CallResult.h"

namespace {

// Big enough that a remote copy is not dominated by round trips, small enough
// that several copies at once stay light.
constexpr std::size_t kChunk = 256 * 1024;

LONG Copy(LPCSTR source, LPCSTR target, bool failIfExists) {
  if (!source || !target) return ERROR_INVALID_PARAMETER;
  vn::FileLocation from;
  vn::FileLocation to;
  if (const LONG error = vn::LocateFile(source, false, &from)) return error;
  if (const LONG error = vn::LocateFile(target, false, &to)) return error;
  if (from.path.path.empty() || to.path.path.empty()) return ERROR_ACCESS_DENIED;

  vn::FileEntry info;
  if (const LONG error = from.endpoint->GetFileInfo(from.path, &info)) return error;
  if (info.attributes & FILE_ATTRIBUTE_DIRECTORY) return ERROR_ACCESS_DENIED;
  std::unique_ptr<vn::FileReader> reader;
  if (const LONG error = from.endpoint->OpenRead(from.path, &reader)) return error;
  std::unique_ptr<vn::FileWriter> writer;
  if (const LONG error = to.endpoint->OpenWrite(to.path, failIfExists, &writer)) return error;

  std::vector<BYTE> buffer(kChunk);
  for (;;) {
    std::size_t read = 0;
    if (const LONG error = reader->Read(buffer, &read)) return error;
    if (read == 0) break;
    if (const LONG error = writer->Write(std::span<const BYTE>(buffer.data(), read))) return error;
  }
  return writer->Commit(info.lastWriteTime);
}

}  // namespace

BOOL CopyFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, BOOL bFailIfExists) {
  const LONG error = Copy(lpExistingFileName, lpNewFileName, bFailIfExists != FALSE);
  return error == ERROR_SUCCESS ? vn::Succeed() : vn::Fail(error);
}
