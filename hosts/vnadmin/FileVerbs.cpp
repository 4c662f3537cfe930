// dir, copy and del: files on this machine ("C:\Dir") and on any other
// ("\\MACHINE\Share\Dir"), through the platform's file calls.
#include "hosts/vnadmin/AdminVerbs.h"

#include <chrono>
#include <cstdio>
#include <ostream>

#include "hosts/vnadmin/AdminOutput.h"
#include "platform/core/LastError.h"
#include "platform/net/Files.h"

namespace vn::admin {
namespace {

bool HasWildcard(std::string_view path) {
  const std::size_t last = path.find_last_of("\\/");
  const std::string_view name = last == std::string_view::npos ? path : path.substr(last + 1);
  return name.find_first_of("*?") != std::string_view::npos;
}

bool EndsWithSeparator(std::string_view path) { return path.ends_with('\\') || path.ends_with('/'); }

// The directory part of a path, separator included ("" when it has none).
std::string DirectoryOf(std::string_view path) {
  const std::size_t last = path.find_last_of("\\/");
  return last == std::string_view::npos ? std::string() : std::string(path.substr(0, last + 1));
}

std::string NameOf(std::string_view path) {
  while (EndsWithSeparator(path)) path.remove_suffix(1);
  const std::size_t last = path.find_last_of("\\/");
  return std::string(last == std::string_view::npos ? path : path.substr(last + 1));
}

// A FILETIME (100 ns since 1601) as "YYYY-MM-DD HH:MM:SS", in UTC.
std::string FormatTime(const FILETIME& time) {
  using namespace std::chrono;
  constexpr std::int64_t kTicksTo1970 = 116444736000000000;
  const std::int64_t ticks =
      static_cast<std::int64_t>((static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
  const sys_seconds when{seconds{(ticks - kTicksTo1970) / 10'000'000}};
  const sys_days day = floor<days>(when);
  const year_month_day date{day};
  const hh_mm_ss clock{when - day};
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02u-%02u %02d:%02d:%02d", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<int>(clock.hours().count()), static_cast<int>(clock.minutes().count()),
                static_cast<int>(clock.seconds().count()));
  return text;
}

std::uint64_t SizeOf(const WIN32_FIND_DATAA& entry) {
  return (static_cast<std::uint64_t>(entry.nFileSizeHigh) << 32) | entry.nFileSizeLow;
}

// The entries a search pattern matches, "." and ".." left out. False (with
// the code in GetLastError) when the search fails; no match is an empty list.
bool Search(const std::string& pattern, std::vector<WIN32_FIND_DATAA>* entries) {
  WIN32_FIND_DATAA entry{};
  const HANDLE search = FindFirstFileA(pattern.c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return GetLastError() == static_cast<DWORD>(ERROR_FILE_NOT_FOUND);
  do {
    const std::string_view name = entry.cFileName;
    if (name != "." && name != "..") entries->push_back(entry);
  } while (FindNextFileA(search, &entry));
  const DWORD error = GetLastError();
  FindClose(search);
  SetLastError(error);
  return error == static_cast<DWORD>(ERROR_NO_MORE_FILES);
}

}  // namespace

int DirVerb(const Arguments& args, std::ostream& out, std::ostream& err) {
  if (args.size() != 1) return BadUsage(err, "dir", args.empty() ? "no path given" : "too many arguments");
  const std::string& path = args[0];
  std::string pattern = path;
  if (!HasWildcard(path)) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return Fail(err, path, GetLastError());
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) pattern = path + (EndsWithSeparator(path) ? "*" : "\\*");
  }
  std::vector<WIN32_FIND_DATAA> entries;
  if (!Search(pattern, &entries)) return Fail(err, path, GetLastError());
  // A pattern that matches nothing is a failure, as a file that is not there
  // is; an empty directory is an empty list.
  if (entries.empty() && pattern == path) return Fail(err, path, ERROR_FILE_NOT_FOUND);

  Table table({"Modified (UTC)", "Size", "Name"});
  for (const auto& entry : entries) {
    const bool directory = entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
    table.Add({FormatTime(entry.ftLastWriteTime), directory ? "<DIR>" : std::to_string(SizeOf(entry)),
               entry.cFileName});
  }
  table.Print(out);
  return kExitSuccess;
}

int CopyVerb(const Arguments& args, std::ostream& out, std::ostream& err) {
  bool replace = false;
  std::vector<std::string> paths;
  // Everything but /y is a path: "//SRV1/Data/x" is one too.
  for (const auto& arg : args) {
    if (arg == "/y" || arg == "/Y")
      replace = true;
    else
      paths.push_back(arg);
  }
  if (paths.size() != 2) return BadUsage(err, "copy", "give one SOURCE and one DESTINATION");
  const std::string& source = paths[0];
  std::string target = paths[1];
  if (HasWildcard(source)) return BadUsage(err, "copy", "copy takes one file, not a pattern");
  // Into a directory: under the source's name.
  const DWORD attributes = GetFileAttributesA(target.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
    target += (EndsWithSeparator(target) ? "" : "\\") + NameOf(source);
  if (!CopyFileA(source.c_str(), target.c_str(), replace ? FALSE : TRUE)) {
    const DWORD error = GetLastError();
    return Fail(err, "copy " + source + " to " + target, error);
  }
  out << "Copied " << source << " to " << target << "\n";
  return kExitSuccess;
}

int DelVerb(const Arguments& args, std::ostream& out, std::ostream& err) {
  if (args.size() != 1) return BadUsage(err, "del", args.empty() ? "no path given" : "too many arguments");
  const std::string& path = args[0];
  if (!HasWildcard(path)) {
    if (!DeleteFileA(path.c_str())) return Fail(err, path, GetLastError());
    out << "Deleted " << path << "\n";
    return kExitSuccess;
  }
  std::vector<WIN32_FIND_DATAA> entries;
  if (!Search(path, &entries)) return Fail(err, path, GetLastError());
  const std::string directory = DirectoryOf(path);
  int status = kExitSuccess;
  bool deletedAny = false;
  for (const auto& entry : entries) {
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    const std::string file = directory + entry.cFileName;
    if (DeleteFileA(file.c_str())) {
      out << "Deleted " << file << "\n";
      deletedAny = true;
    } else {
      status = Fail(err, file, GetLastError());   // reported, and the others still go
    }
  }
  if (!deletedAny && status == kExitSuccess) return Fail(err, path, ERROR_FILE_NOT_FOUND);
  return status;
}

}  // namespace vn::admin
