#pragma once
// The logic of the "Reports" tab without widgets: the kinds of its tree items,
// the machine an item belongs to, what one machine's folders hold (read from
// that machine's registry), the clipboard record of copied report sets and
// custom reports, the paste and delete steps, and the order of a machine's
// children.
//
// Everything here is safe from any thread: the views read a machine's store off
// the window's thread through these calls and get plain results back.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/core/Win32Types.h"

namespace vn::console {

// Kind of a report tree item; the numbers are those the tree stores with each
// item.
enum ReportItemKind : int {
  kReportLocalRoot = 0,       // "My Computer" (64384)
  kReportNetworkRoot = 1,     // the network root (64383)
  kReportDomain = 2,
  kReportMachine = 3,
  kUserFilterFolder = 9,      // "User Filters" (64320)
  kUserFilterItem = 10,
  kReportSetFolder = 12,      // "Report Sets" (64397)
  kReportSetItem = 13,
  kCustomReportFolder = 14,   // "Custom Reports" (64391)
  kCustomReportItem = 15,
};

// Image index of each kind in the tree's image list.
int ReportItemImage(int kind);

// One step of the path from a root to an item: its kind and its text.
struct ReportPathStep {
  int kind = 0;
  std::string text;
};

// The machine of the item at the end of `path` (root first): the text of the
// nearest machine item above or at it, or the local computer's name when the
// path starts at "My Computer"; empty otherwise. An empty result makes every
// operation on the item do nothing.
std::string ReportItemMachine(std::span<const ReportPathStep> path);

// A user filter: its value name and the user names stored as its value.
struct UserFilterRecord {
  std::string name;
  std::string value;
};

// The folders of one machine as the tree shows them after its first expansion.
struct MachineReportFolders {
  LONG userFiltersResult = ERROR_SUCCESS;  // of reading the user filter key
  std::vector<UserFilterRecord> userFilters;  // sorted by name, case-insensitively
  LONG reportSetsResult = ERROR_SUCCESS;
  std::vector<std::string> reportSets;  // sorted, case-insensitively
  LONG customReportsResult = ERROR_SUCCESS;
  std::vector<std::string> customReports;  // enumeration order
};

// The user filters of `machine` (key 64305), value names up to 1025 characters.
[[nodiscard]] LONG ReadUserFilters(std::string_view machine, std::vector<UserFilterRecord>& filters);
// The stored report sets of `machine` (subkeys of key 64307), sorted.
[[nodiscard]] LONG ReadReportSetNames(std::string_view machine, std::vector<std::string>& names);
// The custom reports of `machine` (subkeys of key 64396) in enumeration order.
[[nodiscard]] LONG ReadCustomReportNames(std::string_view machine, std::vector<std::string>& names);
// The reports stored in set `setName` (its subkey names, up to 40 characters).
[[nodiscard]] LONG ReadReportsOfSet(std::string_view machine, std::string_view setName,
                                    std::vector<std::string>& reports);
// Everything above for one machine; a folder whose read fails stays empty and
// keeps the code.
MachineReportFolders ReadMachineReportFolders(std::string_view machine);

// Deletes what a user filter, report set or custom report item stands for;
// other kinds give ERROR_INVALID_FUNCTION. The machine is the item's machine
// (ReportItemMachine); callers skip items whose machine is empty.
[[nodiscard]] LONG DeleteReportItem(int kind, std::string_view machine, std::string_view name);

// One entry of the clipboard record: the source tree item (kept, not used by
// paste) and "machine\name".
struct ReportClipEntry {
  std::uint32_t sourceItem = 0;
  std::string text;
};

// The clipboard record: a 4-byte count, then per entry a 4-byte source item and
// the text with its terminator. Texts with a NUL inside are cut there.
std::vector<char> EncodeReportClip(std::span<const ReportClipEntry> entries);
// Reads a clipboard record; anything malformed (too short, a count the data
// cannot hold, a text without terminator) gives nullopt. Bytes after the last
// entry are allowed: shared memory blocks may be rounded up.
std::optional<std::vector<ReportClipEntry>> DecodeReportClip(std::span<const char> data);

// "machine\name" of a clipboard entry.
std::string ReportClipText(std::string_view machine, std::string_view name);

// Where one clipboard entry comes from: its text split at the first "\".
struct PasteSource {
  std::string machine;
  std::string name;
};
// Nullopt when the text has no "\" or nothing after it.
std::optional<PasteSource> SplitReportClipText(std::string_view text);

// True when copying from (sourceMachine, sourceName) to (destinationMachine,
// destinationName) would copy a stored report onto itself: both machines and
// both names equal, ignoring letter case and leading "\\".
bool IsSameStoredReport(std::string_view sourceMachine, std::string_view sourceName,
                        std::string_view destinationMachine, std::string_view destinationName);

// Case-insensitive comparison (ASCII letters) as the tree sorts its items.
bool ReportTextLess(std::string_view a, std::string_view b);
bool ReportTextEqual(std::string_view a, std::string_view b);

// Order of a machine's children: the "Report Sets" folder first, custom report
// items after every other kind, the rest by text ignoring case. A machine thus
// shows "Report Sets", "Custom Reports", "User Filters".
bool ReportChildLess(const ReportPathStep& a, const ReportPathStep& b);
void SortReportChildren(std::vector<ReportPathStep>& children);

}  // namespace vn::console
