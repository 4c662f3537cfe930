#pragma once
// The "Growth Since" report: per machine and directory, how the files and
// bytes changed between an earlier scan of Space By Directory and a later
// one, written as a result file (docs/reports.md) so that the result window,
// its exports and its file operations open it like any result:
//
//   "A1",6,10
//   "B1","Growth Since"
//   "B1","Since: scan 3 of 2026-12-01 08:00:00"
//   "B1","Until: scan 7 of 2026-12-08 08:00:00"
//   "B1","Computers: SRV1; SRV2"
//   "H1","Computer","Directory","Level","Files Then","Files Now","Files Change",
//        "Size Then","Size Now","Size Change"
//   "D1","SRV1","\\SRV1\Data\tree",0,10,12,2,1000,1500,500
//   "TF","Files Change",2,"Size Change",500
//
// A directory only one scan has counts 0 in the other. Rows are in machine
// and path order; the totals add up each machine's objects (its rows of the
// lowest level). docs/history.md tells more.
//
// The file is written beside `path` and renamed into place, so a failure
// leaves nothing behind. Any thread.

#include <filesystem>
#include <string>
#include <vector>

#include "console/core/history/HistoryStore.h"

namespace vn::console {

inline constexpr const char* kGrowthTitle = "Growth Since";

struct GrowthRequest {
  long long since = 0;   // the earlier scan
  long long until = 0;   // the later scan; 0: the latest Space By Directory scan
  std::string machine;   // only this machine (upper case); empty: all
};

// Finds the latest Space By Directory scan, or the latest one started before
// `time` ("YYYY-MM-DD HH:MM:SS", a prefix such as a date will do) when it is
// not empty. 0 when there is none.
[[nodiscard]] SqlError FindDirectoryScan(CHistoryStore& store, const std::string& before, long long* id);

// The Space By Directory scans, newest first: what a growth can be since.
[[nodiscard]] SqlError ListDirectoryScans(CHistoryStore& store, std::vector<HistoryScan>* scans);

[[nodiscard]] SqlError WriteGrowthReport(CHistoryStore& store, const GrowthRequest& request,
                                         const std::filesystem::path& path);

}  // namespace vn::console
