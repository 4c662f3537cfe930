#pragma once
// The facts the machine information pane shows for an object tree item, as
// (label, value) rows: processor and memory of this machine, the controller of
// a domain, a machine's name, a drive's type and space, a folder's or share's
// own directory and file counts and size. Reading a drive, folder or share may
// reach another machine; safe from any thread. Nothing here changes anything.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "console/core/objects/KSItemType.h"

namespace vn::console {

struct InfoRow {
  std::string label;
  std::string value;
};

// A byte count as "1,536.0KB": one decimal, groups of three digits, the
// largest of B, KB, MB, GB under which the number stays at most 1024; "0B" for 0.
std::string FormatSize(std::uint64_t bytes);

// The rows for an item of `type` whose text is `text` and object path `path`.
std::vector<InfoRow> MachineInfoRows(KSItemType type, std::string_view text, std::string_view path);
// Drive rows for a root such as "C:\"; directory rows for a folder or share.
std::vector<InfoRow> DriveRows(std::string_view root);
std::vector<InfoRow> DirectoryRows(std::string_view path);

}  // namespace vn::console
