#include "console/core/support/Resources.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

#include "platform/core/SortedTable.h"

namespace vn::console {
namespace {

struct StringResource {
  UINT id;
  std::string_view text;
};

// Sorted by id. Texts are exactly as the module shows or stores them.
constexpr StringResource kStrings[] = {
    {IDR_KSMGRTYPE, "\nVornal\nVornal"},
    {IDR_KSRPTTYPE,
     "\nVornal Report\nVNReport\nVornal Report (*.csv)\n*.csv\nVornal Report Type\nVornal Report Type"},
    {IDR_KSSCHETYPE, "\nSchedule\nSchedule"},
    {IDR_GRAPHTYPE, "\nGraph\nGraph"},
    // Status bar prompts of the grid and result window commands ("prompt\ntip").
    {32795, "Enlarge the grid\nZoom In"},
    {32796, "Reduce the grid\nZoom Out"},
    {32797, "Show the grid at its normal size\n100%"},
    {32798, "Change how the grid is displayed\nDisplay Settings"},
    {33314, "Delete the files of the selected rows\nDelete"},
    {33328, "Move the files of the selected rows to another directory\nMove to"},
    {33335, "Graphs the current report.\nGraph"},
    {33337, "Displays the data in pie chart\nPie"},
    {33338, "Displays the data in bar chart\nBar"},
    {57634, "Copy the files of the selected rows to another directory\nCopy to"},
    {64300, "Type of Information;Value;"},
    {64304,
     "File Name;Directory;Size;Allocated;Created;Revised;Accessed;Created Days;Revised Days;"
     "Accessed Days;Attributes;Wasted;Type;Alternate Name;Owner;Volume Label;Device;File System;Machine;"},
    {64305, "Software\\Halvard\\Vornal\\4.0\\User Filter"},
    {64306, "Vornal"},
    {64307, "Software\\Halvard\\Vornal\\4.0\\VNReportSet"},
    {64308, "Not enough memory is available."},
    {64309, "Software\\Halvard\\Vornal\\4.0\\VNReportSet\\%s"},
    {64320, "User Filters"},
    {64383, "Microsoft Windows Network"},
    {64384, "My Computer"},
    {64386, "Preferred Machines"},
    {64387, "VNMgr"},
    {64388, "Domain"},
    {64389, "%s is not a NT workstation or server"},
    {64390, "Preferred Machines"},
    {64391, "Custom Reports"},
    {64394, "Delete report %s.  Are you sure?"},
    {64395, "Information"},
    {64396, "Software\\Halvard\\Vornal\\4.0\\Custom Reports"},
    {64397, "Report Sets"},
    {64398, "Partition Summary"},
    {64399, "Detailed Summary"},
    {64400, "Space By Directory"},
    {64401, "Space By Group"},
    {64402, "Space By Quota"},
    {64403, "Space By Share"},
    {64404, "Space By User"},
    {64405, "All Files"},
    {64406, "Files By Access Date"},
    {64407, "Files By Creation Date"},
    {64408, "Files By Revision Date"},
    {64409, "Duplicate Files"},
    {64410, "Files By Size"},
    {64411, "Wasted Space"},
    {64412, "Insecure Files"},
    {64413, "Files With ACL"},
    {64414, "Files With Undefined ACE's"},
    {64415, "Files By User Access"},
    {64416, "User Access By File"},
    {64417, "Files With Undefined Owners"},
    {64418, "Software\\Halvard\\Vornal\\4.0\\Custom Reports\\%s"},
    {64419, "The report set %s already exists.\nDo you want to replace it?\n"},
    {64420, "Vornal ReportSet Format"},
    {64421, "Report %s exists."},
    {64422, "Vornal Custom Report Format"},
    {64423, "The current selected report set is %s\\%s."},
};

static_assert(vn::IsStrictlyAscending(kStrings, &StringResource::id), "the string table is looked up by binary search");

const StringResource* Find(UINT id) { return vn::FindSorted(kStrings, &StringResource::id, id); }

}  // namespace

std::string_view KSLoadString(UINT id) {
  const StringResource* s = Find(id);
  return s ? s->text : std::string_view{};
}

bool KSHasString(UINT id) { return Find(id) != nullptr; }

int KSLoadString(UINT id, char* buffer, int nBufferMax) {
  if (!buffer || nBufferMax <= 0) return 0;
  const std::string_view text = KSLoadString(id);
  const std::size_t n = std::min<std::size_t>(text.size(), static_cast<std::size_t>(nBufferMax) - 1);
  if (n) std::memcpy(buffer, text.data(), n);
  buffer[n] = '\0';
  return static_cast<int>(n);
}

}  // namespace vn::console
