#pragma once
// What the report wizard chooses, and the rules of its pages without their
// widgets: the objects page's selection (collected from its own object tree
// as the manager's tree does), the report set page's listing of a machine's
// stored sets, and the summary the finish page shows. Plain data and free
// functions; the listing reaches the machine's registry, so it may wait on
// another machine (call it from the user-interface thread under a wait
// cursor, as the page does).

#include <string>
#include <string_view>
#include <vector>

#include "console/core/objects/SelectedObjects.h"
#include "platform/core/Win32Types.h"

namespace vn::console {

class CObjectTree;

// The profile value of the module's own "&Report Wizard" command: whether the
// wizard shows at start (the host keeps its own flag, "VNMgr" /
// "VNWIZARD_POPUP").
inline constexpr char kShowWizardSection[] = "VNShowWizard";
inline constexpr char kShowAtStartupEntry[] = "ShowAtStartup";

struct CReportWizardChoice {
  CSelectedObjects objects;   // what the run reports on
  std::string location;       // the machine that stores the report set
  std::string reportSet;      // its name; empty while none is chosen
  BOOL bShowAtStartup = TRUE;  // "&Always Display Wizard at Startup"
};

// Empties `objects` and collects every checked object of `tree` into it, local
// paths and network paths per machine. True when at least one object is
// chosen, which is when the objects page lets the user go on.
bool CollectWizardObjects(const CObjectTree& tree, CSelectedObjects& objects);

// The report sets stored on `machine`, sorted. A machine that stores none
// gives an empty list and ERROR_SUCCESS; a registry that cannot be opened its
// system error code (and an empty list).
[[nodiscard]] LONG ListWizardReportSets(std::string_view machine, std::vector<std::string>& names);

// The width of the report set list's one column once `nameWidth` (pixels) is
// listed: unchanged while the name fits, else the name's width plus 25.
int WizardColumnWidth(int columnWidth, int nameWidth);

// The finish page's object summary: the local paths first, then each
// machine's paths, every one followed by a carriage return and line feed.
std::string WizardObjectsText(const CSelectedObjects& objects);
// The finish page's report set: "location\name", or the name alone when the
// location is empty.
std::string WizardReportSetText(const CReportWizardChoice& choice);

}  // namespace vn::console
