#pragma once
// Where the scan history is kept and how much of it, read from the host
// application's profile (section "VNReport"), so that the console, VN and
// the scheduled runs of one machine record into the same history:
//
//   History          1 records every run's summary reports (default), 0 none
//   HistoryDatabase  a SQLite file's path or a PostgreSQL connection string;
//                    empty: history.db beside the profile
//   HistoryDepth     directory levels below each object kept (default 3;
//                    0 keeps every level)
//
// RecordHistoryScan records one scan where the settings say. It never fails
// a run: a database that is locked, full, damaged or out of reach gives a
// message (kHistoryNotRecorded and the database's text) and nothing else.
// Any thread (each call opens its own connection).

#include <string>

#include "console/core/history/HistoryStore.h"

namespace vn::console {

inline constexpr const char* kHistorySection = "VNReport";
inline constexpr const char* kHistoryEntry = "History";
inline constexpr const char* kHistoryDatabaseEntry = "HistoryDatabase";
inline constexpr const char* kHistoryDepthEntry = "HistoryDepth";
inline constexpr int kDefaultHistoryDepth = 3;
// The start of the message, followed by the database's own text.
inline constexpr const char* kHistoryNotRecorded = "The scan history was not recorded: ";

struct HistorySettings {
  bool record = true;
  std::string location;
  int depth = kDefaultHistoryDepth;
};

HistorySettings ReadHistorySettings();
// history.db in the profile's folder.
std::string DefaultHistoryLocation();

// Stamps the scan with the time and the program, and records it. Empty, or
// the message for the user.
std::string RecordHistoryScan(const HistorySettings& settings, HistoryScan& scan);

}  // namespace vn::console
