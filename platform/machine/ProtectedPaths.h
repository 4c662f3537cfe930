#pragma once
// The places on this host that no caller from the network reaches through a
// share, however the share is rooted: C$ is "/" on a machine with default
// drives, and the machine service usually runs as root.
//
// - The machine's home: its configuration, identities (keys), registry,
//   logs, pid files, pipes and jobs. Only the drives whose directories lie
//   inside the home (the system drive with the Windows directory, a test
//   machine's drives) stay reachable, below their roots, with the shares on
//   them.
// - The default machine home of the host (/var/lib/vornal) and, for every
//   user of the host, their own machine home (~/.local/share/Vornal) and
//   their keys (~/.ssh, ~/.gnupg).
// - The system's credentials: /etc/shadow, /etc/gshadow (and their backups
//   ending in "-"), /etc/sudoers and /etc/sudoers.d, /etc/ssh (host keys),
//   /etc/ssl/private.
// - The kernel's and the running system's own trees: /proc, /sys, /dev, /run,
//   and any file system of their kinds (procfs, sysfs, devpts, securityfs,
//   debugfs, tracefs, cgroup, bpf, efivarfs, pstore, configfs, mqueue,
//   binfmt_misc) wherever it is mounted.
//
// A drive or share the configuration roots inside one of the other places
// (a share of a directory under /run, say) is the administrator's choice
// and stays reachable below its root.
//
// Places are known by device and inode, taken when the object is made, so a
// bind mount or a link that leads to one is recognised as well; a directory
// is inside a place when the place is among its ancestors on disk (found by
// opening ".." upwards from a descriptor, never by name). A place created
// after the object was made is not known until the next one is made (the
// machine service makes one at its start).
//
// Immutable once made; safe from any thread. ForNetwork reads the host's
// account database (getpwent): make one from one thread at a time.

#include <sys/stat.h>

#include <filesystem>
#include <set>
#include <utility>
#include <vector>

#include "platform/machine/MachineConfig.h"

namespace vn {

class ProtectedPaths {
 public:
  // Protects nothing: the local machine's own callers, who have the host's
  // files anyway.
  ProtectedPaths() = default;
  // What the network must not reach on the machine `config` describes.
  static ProtectedPaths ForNetwork(const MachineConfig& config);

  bool Empty() const { return m_places.empty(); }
  // Whether the directory open as `dir` is a protected place or lies inside one.
  bool HidesDirectory(int dir) const;
  // Whether the object open as `fd` (or described by `st`) is itself a
  // protected place or on a protected kind of file system. Its directory is
  // checked with HidesDirectory.
  bool HidesObject(int fd) const;
  bool IsPlace(const struct stat& st) const;
  bool IsPlace(dev_t device, ino_t inode) const { return m_places.contains({device, inode}); }

 private:
  using Id = std::pair<dev_t, ino_t>;
  // Protects `path` (when it exists) and appends its real path to *added.
  void Add(const std::filesystem::path& path, std::vector<std::filesystem::path>* added);
  // Keeps `root` reachable when it lies inside one of `around`.
  void Open(const std::filesystem::path& root, const std::vector<std::filesystem::path>& around);

  std::set<Id> m_places;
  std::set<Id> m_openings;   // configured roots inside protected places
};

}  // namespace vn
