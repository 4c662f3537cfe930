#pragma once
// The module's help file, "VN4.hlp": HTML pages shipped in the module's Qt
// resources under qrc:/help/VN4/, and the table of help contexts they answer.
// A help context is 65536 + the command id for a menu command (98867 is
// "&Getting Started", 33331). Constant data.

#include "ui/HelpFileInfo.h"

namespace vn::console {

extern const HelpFileInfo kVN4HelpFile;

}  // namespace vn::console
