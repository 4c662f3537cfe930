#include "console/widgets/help/VN4Help.h"

#include "console/core/support/Resources.h"

namespace vn::console {
namespace {

constexpr HelpTopic kVN4Topics[] = {
    {kHelpCommandBase + ID_HELP_GETTING_STARTED, "GettingStarted.html"},
};

}  // namespace

constinit const HelpFileInfo kVN4HelpFile = {"VN4.hlp", "qrc:/help/VN4/", "Contents.html", kVN4Topics};

}  // namespace vn::console
