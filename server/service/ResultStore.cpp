#include "server/service/ResultStore.h"

#include <cstdio>
#include <fstream>
#include <random>
#include <system_error>

#include "platform/machine/PathMap.h"

namespace vn::vnsrv {
namespace {

namespace fs = std::filesystem;

// Our own names: "R" + 8 hex digits + "-" + 8 hex digits + suffix.
bool IsResultName(const std::string& name, const char* suffix) {
  const std::string tail = suffix;
  if (name.size() != 18 + tail.size() || name[0] != 'R' || name[9] != '-' || !name.ends_with(tail)) return false;
  for (std::size_t i = 1; i < 18; ++i) {
    const char c = name[i];
    if (i != 9 && !((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
  }
  return true;
}

// A companion of a result: the 18 characters of a result's stem, then a dot
// and anything but the result's own suffixes.
bool IsCompanionName(const std::string& name) {
  if (name.size() <= 19 || name[18] != '.' || IsResultName(name, ".csv") || IsResultName(name, ".part")) return false;
  return IsResultName(name.substr(0, 18) + ".csv", ".csv");
}

}  // namespace

ResultStore::ResultStore(fs::path directory, std::chrono::hours keep, std::size_t maxResults)
    : m_directory(std::move(directory)), m_keep(keep), m_maxResults(maxResults) {}

std::string ResultStore::FileStem(const ResultId& id) {
  char name[32];
  std::snprintf(name, sizeof name, "R%08X-%08X", id.number, id.tag);
  return name;
}

fs::path ResultStore::FinalPath(const ResultId& id) const { return m_directory / (FileStem(id) + ".csv"); }
fs::path ResultStore::PartialPath(const ResultId& id) const { return m_directory / (FileStem(id) + ".part"); }

LONG ResultStore::Open() {
  std::error_code error;
  fs::create_directories(m_directory, error);
  if (error || !fs::is_directory(m_directory, error)) return error ? Win32FromErrno(error.value(), true) : ERROR_DIRECTORY;
  Sweep();
  return ERROR_SUCCESS;
}

LONG ResultStore::Reserve(ResultId* id, fs::path* partial) {
  std::lock_guard lock(m_mutex);
  std::error_code error;
  std::size_t count = 0;
  for (fs::directory_iterator it(m_directory, error), end; !error && it != end; it.increment(error)) {
    const std::string name = it->path().filename().string();
    if (IsResultName(name, ".csv") || IsResultName(name, ".part")) ++count;
  }
  if (count >= m_maxResults) return ERROR_DISK_FULL;
  static thread_local std::mt19937 random{std::random_device{}()};
  for (;;) {
    id->number = static_cast<std::uint32_t>(++m_counter) ^ static_cast<std::uint32_t>(random());
    id->tag = static_cast<std::uint32_t>(random());
    if (id->number == 0 && id->tag == 0) continue;
    if (fs::exists(FinalPath(*id), error) || fs::exists(PartialPath(*id), error)) continue;
    if (m_reserved.contains({id->number, id->tag})) continue;
    m_reserved.insert({id->number, id->tag});
    *partial = PartialPath(*id);
    return ERROR_SUCCESS;
  }
}

LONG ResultStore::Publish(const ResultId& id) {
  std::lock_guard lock(m_mutex);
  m_reserved.erase({id.number, id.tag});
  std::error_code error;
  fs::rename(PartialPath(id), FinalPath(id), error);
  return error ? Win32FromErrno(error.value()) : ERROR_SUCCESS;
}

void ResultStore::Abandon(const ResultId& id) {
  std::lock_guard lock(m_mutex);
  m_reserved.erase({id.number, id.tag});
  std::error_code error;
  fs::remove(PartialPath(id), error);
}

LONG ResultStore::Read(const ResultId& id, std::uint64_t offset, std::uint32_t max, std::vector<char>* data,
                       bool* end) {
  data->clear();
  *end = false;
  std::ifstream in(FinalPath(id), std::ios::binary);
  if (!in) return ERROR_FILE_NOT_FOUND;
  in.seekg(0, std::ios::end);
  const auto size = static_cast<std::uint64_t>(in.tellg());
  if (offset >= size) {
    *end = true;
    return ERROR_SUCCESS;
  }
  const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(max, size - offset));
  data->resize(count);
  in.seekg(static_cast<std::streamoff>(offset));
  in.read(data->data(), static_cast<std::streamsize>(count));
  if (static_cast<std::size_t>(in.gcount()) != count) {
    data->clear();
    return ERROR_READ_FAULT;
  }
  *end = offset + count >= size;
  return ERROR_SUCCESS;
}

LONG ResultStore::OpenResult(const ResultId& id, std::ifstream* in, std::uint64_t* size) {
  in->open(FinalPath(id), std::ios::binary);
  if (!*in) return ERROR_FILE_NOT_FOUND;
  in->seekg(0, std::ios::end);
  *size = static_cast<std::uint64_t>(in->tellg());
  return *in ? ERROR_SUCCESS : ERROR_READ_FAULT;
}

LONG ResultStore::Remove(const ResultId& id) {
  std::error_code error;
  if (!fs::remove(FinalPath(id), error)) return error ? Win32FromErrno(error.value()) : ERROR_FILE_NOT_FOUND;
  const std::string stem = FileStem(id);
  std::vector<fs::path> companions;
  std::error_code listError;
  for (fs::directory_iterator it(m_directory, listError), end; !listError && it != end; it.increment(listError)) {
    const std::string name = it->path().filename().string();
    if (IsCompanionName(name) && name.starts_with(stem)) companions.push_back(it->path());
  }
  for (const auto& path : companions) fs::remove(path, listError);
  return ERROR_SUCCESS;
}

bool ResultStore::Reserved(const std::string& fileName) const {
  for (const auto& [number, tag] : m_reserved) {
    if (fileName.starts_with(FileStem({number, tag}))) return true;
  }
  return false;
}

void ResultStore::Sweep() {
  std::lock_guard lock(m_mutex);
  std::error_code error;
  const auto now = fs::file_time_type::clock::now();
  std::vector<fs::path> doomed;
  for (fs::directory_iterator it(m_directory, error), end; !error && it != end; it.increment(error)) {
    const std::string name = it->path().filename().string();
    std::error_code statError;
    if (IsResultName(name, ".part")) {
      if (!Reserved(name)) doomed.push_back(it->path());
    } else if (IsResultName(name, ".csv")) {
      const auto written = it->last_write_time(statError);
      if (!statError && now - written > m_keep) doomed.push_back(it->path());
    } else if (IsCompanionName(name)) {
      const fs::path result = m_directory / (name.substr(0, 18) + ".csv");
      const auto written = it->last_write_time(statError);
      if (!Reserved(name) && ((!statError && now - written > m_keep) || !fs::exists(result, statError)))
        doomed.push_back(it->path());
    }
  }
  for (const auto& path : doomed) fs::remove(path, error);
}

}  // namespace vn::vnsrv
