#pragma once
// The temporary files of writes in progress, and what happens to those that
// a killed process leaves behind.
//
// A file is written beside its target under a name of its own,
// ".vnpart-<16 hex digits>.tmp", and renamed into place when complete
// (LocalMachine's OpenWrite). Directory searches never list such names.
// While it is written, a record in <home>/partial/ names it: one small file
// per write, "<pid>-<16 hex digits>", holding the root directory of the
// share or drive and the temporary file's path below it, a line each. The
// record goes when the write is committed or abandoned. A process that is
// killed leaves its records behind; RemovePartialCopies (the machine service
// calls it at every start) removes the temporary files of every record whose
// process is gone, then the records. A process that cannot write the home
// (a console of a user other than the home's owner) keeps no record: its
// temporary file is still hidden from listings, and removed by the writer
// unless the process is killed.
//
// Threads: any. Failures of the records are not reported: a record is a
// help for cleaning up, never a condition for writing.

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "platform/machine/MachineConfig.h"

namespace vn {

// Whether `name` is the name of a write's temporary file.
bool IsPartialCopyName(std::string_view name);
// A fresh name for a temporary file (unique within the process; callers
// still create it with O_EXCL).
std::string NewPartialCopyName();

// The record of one write in progress; removed when the object goes.
class PartialCopyRecord {
 public:
  PartialCopyRecord() = default;
  // Records that the temporary file `relative` (components below `root`, the
  // last one its name) is being written for the machine whose home is `home`.
  PartialCopyRecord(const std::filesystem::path& home, const std::filesystem::path& root,
                    const std::vector<std::string>& relative);
  ~PartialCopyRecord();
  PartialCopyRecord(PartialCopyRecord&& other) noexcept;
  PartialCopyRecord& operator=(PartialCopyRecord&& other) noexcept;
  PartialCopyRecord(const PartialCopyRecord&) = delete;
  PartialCopyRecord& operator=(const PartialCopyRecord&) = delete;

  bool Kept() const { return !m_path.empty(); }

 private:
  std::filesystem::path m_path;
};

// Removes the temporary files whose writers' processes are gone, by their
// records, and those records. Only names of temporary files are removed, and
// only below the roots the records name, through the same guarded walk as
// every file call. Returns how many temporary files were removed.
std::size_t RemovePartialCopies(const MachineConfig& config);

}  // namespace vn
