#include "console/widgets/entry/KSModule.h"

#include <string_view>

#include "console/core/support/Resources.h"
#include "console/widgets/help/VN4Help.h"

constinit AFX_EXTENSION_MODULE KSDLL = {
    FALSE,
    nullptr,
    static_cast<std::string_view (*)(UINT)>(&vn::console::KSLoadString),
    &vn::console::KSHasString,
    &vn::console::kVN4HelpFile,
};

namespace {

// The module's load notification: runs when the loader maps the module into a
// host (at the host's start, since hosts link the module), before any entry
// point is called. It registers the module as an extension module and does
// nothing else; there is nothing to do when the module is unloaded.
__attribute__((constructor)) void KSModuleLoaded() { AfxInitExtensionModule(KSDLL, "VNConsole"); }

}  // namespace
