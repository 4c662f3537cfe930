#include "console/core/results/ResultFileOps.h"

#include <cstring>

#include "platform/core/LastError.h"
#include "platform/net/Files.h"

namespace vn::console {
namespace {

// Everything in `directory`, depth first; 0 or the first failure's code.
DWORD EmptyDirectory(const std::string& directory) {
  WIN32_FIND_DATAA data{};
  HANDLE find = FindFirstFileA((directory + "\\*.*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND ? 0 : error;  // nothing in it
  }
  DWORD result = 0;
  do {
    if (!std::strcmp(data.cFileName, ".") || !std::strcmp(data.cFileName, "..")) continue;
    result = DeleteFileOrTree(directory + "\\" + data.cFileName);
    if (result) break;
  } while (FindNextFileA(find, &data));
  if (!result) {
    const DWORD error = GetLastError();
    if (error != ERROR_NO_MORE_FILES) result = error;
  }
  FindClose(find);
  return result;
}

}  // namespace

DWORD DeleteFileOrTree(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return GetLastError();
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return DeleteFileA(path.c_str()) ? 0 : GetLastError();
  // A link that leads to a directory is described as one; deleting it as a
  // file removes only the link. A real directory refuses that.
  if (DeleteFileA(path.c_str())) return 0;
  if (const DWORD error = EmptyDirectory(path)) return error;
  return RemoveDirectoryA(path.c_str()) ? 0 : GetLastError();
}

CopyOutcome CopyFilesTo(const std::vector<FileToCopy>& files, const std::string& destination, bool move) {
  std::string directory = destination;
  if (directory.empty() || directory.back() != '\\') directory += '\\';
  CopyOutcome outcome;
  for (const FileToCopy& file : files) {
    const std::string target = directory + file.fileName;
    if (!CopyFileA(file.source.c_str(), target.c_str(), TRUE) || (move && !DeleteFileA(file.source.c_str()))) {
      outcome.error = GetLastError();
      outcome.failedSource = file.source;
      return outcome;
    }
    ++outcome.done;
  }
  return outcome;
}

}  // namespace vn::console
