#pragma once
// The kinds of object tree items and the record kept with every item. The
// report tree reuses the record with kinds of its own. Values are fixed: they
// are the images' and commands' keys and never change (9 and 10 are unused).

#include <cstdint>
#include <string>

enum KSItemType : std::int32_t {
  KS_MY_COMPUTER = 0,        // "My Computer", the local machine root
  KS_NETWORK = 1,            // "Microsoft Windows Network", the network root
  KS_DOMAIN = 2,
  KS_MACHINE = 3,            // a server or workstation
  KS_FIXED_DRIVE = 4,
  KS_REMOTE_DRIVE = 5,       // a mapped letter
  KS_CDROM_DRIVE = 6,
  KS_SHARE = 7,              // a disk share
  KS_FOLDER = 8,
  KS_PREFERRED_MACHINES = 11,
};

constexpr bool IsDriveItem(KSItemType type) {
  return type == KS_FIXED_DRIVE || type == KS_REMOTE_DRIVE || type == KS_CDROM_DRIVE;
}

// The record attached to a tree item, owned by the tree and freed with it.
struct TreeItemData {
  KSItemType type = KS_FOLDER;
  std::string name;          // the text the item was inserted with
  std::int32_t extra = 0;    // 0 as inserted
};

// Check state of an item = its state image index.
enum : int {
  KS_STATE_NONE = 0,
  KS_STATE_CHECKED = 1,
  KS_STATE_UNCHECKED = 2,
  KS_STATE_PARTIAL = 3,
};
