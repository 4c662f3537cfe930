#pragma once
// The twenty standard reports and the detail column list.
//
// Every standard report has three identities that must never be mixed up:
//  - its catalogue index, 0 to 19: the position in every ReportSet and in the
//    report set editor's check list;
//  - its display name, string 64398 + index: also the name of its subkey
//    inside a stored report set;
//  - its server code: what the reporting server receives in ReportOptions::Report
//    and what is stored as the "Report" value. It is not the index.
//
// All functions are pure lookups over the module's string table, safe from any
// thread. Returned views point into the string table and live as long as the
// program.

#include <string_view>
#include <vector>

#include "platform/core/Win32Types.h"
#include "servercomm/KSServerCommunication.h"

namespace vn::console {

inline constexpr int kReportCount = 20;

// Reports from this index on list files and have the "Detail" page (attribute
// tests and the detail column mask); the ones before it report space totals.
inline constexpr int kFirstDetailReport = 7;

// The catalogue index whose display name equals `name` without regard to
// letter case; -1 when none does. Blanks count: "Partition  Summary" is no name.
int ReportIndexFromName(std::string_view name);

// The display name of catalogue index `index`; empty outside 0..19.
std::string_view ReportNameFromIndex(int index);

// The server code (kReport...) of catalogue index `index`; 0 (a code no report has)
// outside 0..19.
DWORD ServerCodeFromIndex(int index);

// True for the indexes whose reports list files (kFirstDetailReport..19).
bool ReportHasDetailPage(int index);

// The detail columns in bit order: bit kField... of ReportOptions::Fields shows
// the column of that name.
std::vector<std::string_view> DetailColumns();

// The detail columns that the column mask `fields` shows, in column order.
std::vector<std::string_view> ShownDetailColumns(DWORD fields);

}  // namespace vn::console
