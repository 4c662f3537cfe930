#pragma once
// The reporting server's result files: one folder (by default
// <machine home>/vnsrv/results), one file per result, named only from the two
// numbers that identify it ("R" + number + "-" + tag in hexadecimal), so no
// name or path a client sends ever reaches the file system.
//
// A run writes "<name>.part" and Publish renames it to "<name>.csv" once it is
// complete: a server killed in the middle of a run leaves only a ".part"
// file, which no read ever opens and which the next server removes at start
// (Sweep). Results nobody fetched are removed once older than the keep time.
// The number of results kept is bounded (Reserve refuses more).
//
// A result may have companion files beside it, named "<name>" + another
// extension (the converted outputs of ResultDelivery, and the converter's
// temporary files while it writes them): Remove removes them with their
// result, and Sweep removes those older than the keep time and those whose
// result is gone.
//
// Threads: every call from any thread (one lock around the bookkeeping; file
// reads and writes run outside it).

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <utility>
#include <vector>

#include "platform/core/Win32Types.h"

namespace vn::vnsrv {

struct ResultId {
  std::uint32_t number = 0;
  std::uint32_t tag = 0;
};

class ResultStore {
 public:
  ResultStore(std::filesystem::path directory, std::chrono::hours keep, std::size_t maxResults);

  // Creates the folder when missing and sweeps it (partial files and expired
  // results). ERROR_SUCCESS or the code of the failure.
  [[nodiscard]] LONG Open();

  // A fresh identity for a run and the path it is to write (the ".part"
  // file, not created here). ERROR_DISK_FULL when the store already holds its
  // maximum of results. The identity stays reserved until Publish or Abandon.
  [[nodiscard]] LONG Reserve(ResultId* id, std::filesystem::path* partial);
  // Renames the finished partial file into place.
  [[nodiscard]] LONG Publish(const ResultId& id);
  // Removes the partial file of a run that did not finish (when present).
  void Abandon(const ResultId& id);

  // Up to `max` bytes of result `id` from `offset`; *end when the data reach
  // the end of the file. ERROR_FILE_NOT_FOUND for an unknown result.
  [[nodiscard]] LONG Read(const ResultId& id, std::uint64_t offset, std::uint32_t max, std::vector<char>* data,
                          bool* end);
  // Opens result `id` for a run of reads (*size: its length), so that a read
  // window costs one open. ERROR_FILE_NOT_FOUND for an unknown result.
  [[nodiscard]] LONG OpenResult(const ResultId& id, std::ifstream* in, std::uint64_t* size);
  [[nodiscard]] LONG Remove(const ResultId& id);

  // The published result file of `id` (it may not exist).
  std::filesystem::path ResultPath(const ResultId& id) const { return FinalPath(id); }

  // Removes partial files of runs that are not in progress (a killed
  // server's), and results older than the keep time.
  void Sweep();

  const std::filesystem::path& Directory() const { return m_directory; }
  std::chrono::hours Keep() const { return m_keep; }

  static std::string FileStem(const ResultId& id);

 private:
  std::filesystem::path FinalPath(const ResultId& id) const;
  std::filesystem::path PartialPath(const ResultId& id) const;
  bool Reserved(const std::string& fileName) const;  // m_mutex held

  std::filesystem::path m_directory;
  std::chrono::hours m_keep;
  std::size_t m_maxResults;
  std::mutex m_mutex;
  std::uint64_t m_counter = 0;
  std::set<std::pair<std::uint32_t, std::uint32_t>> m_reserved;  // runs in progress
};

}  // namespace vn::vnsrv
