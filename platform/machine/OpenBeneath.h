#pragma once
// Opening files below a share's or drive's root directory without a gap
// between checking a path and using it: every lookup starts at a descriptor
// of the root and the kernel (or a walk through directory descriptors) refuses
// to leave it, whatever a local user swaps into the tree meanwhile.
//
// Symbolic links inside a share are followed while they stay below its root:
// a relative link whose target, resolved step by step, never goes above the
// root. A link with an absolute target, or one whose ".." leaves the root, is
// EXDEV (the caller answers ERROR_ACCESS_DENIED); more than 40 links on one
// path is ELOOP. A root that is "/" (a drive such as C:) has nothing to leave:
// there absolute links resolve from "/" and ".." stops at "/"
// (LinkScope::WholeTree). Links into the process's own descriptors
// (/proc/self/fd/N and the like) are never followed.
//
// Where the kernel has openat2 (Linux 5.6 on), it does the walk with
// RESOLVE_BENEATH (or RESOLVE_IN_ROOT for "/") and RESOLVE_NO_MAGICLINKS.
// Elsewhere (ENOSYS, detected once per process) the same rules are applied by
// a walk that opens one component at a time with O_NOFOLLOW relative to the
// directory before it, reading each link it meets and continuing from a
// descriptor it holds. Both give the same results and errnos.
//
// Plain functions; safe from any thread. Descriptors returned are the
// caller's, close-on-exec.

#include <sys/types.h>

#include <string>
#include <vector>

#include "platform/core/UniqueFd.h"

namespace vn {

enum class LinkScope {
  Beneath,    // a root below "/": links must stay below it
  WholeTree,  // the root is "/": every link stays inside it
};

// The scope for a root directory: WholeTree when it is "/".
LinkScope ScopeOfRoot(const std::string& rootPath);

// Opens the directory `components` name below `root` (a directory descriptor,
// O_PATH is enough), following links as above, with open(2) `flags` (O_PATH,
// or O_RDONLY for a listing; O_DIRECTORY and O_CLOEXEC are added).
// Components may hold "..", which the link rules govern as well; an empty list
// is the root itself. -1 with errno on failure.
int OpenDirectoryBeneath(int root, const std::vector<std::string>& components, int flags, LinkScope scope);

// Where an object named by `components` lives: the directory that holds it,
// open with O_PATH, and its name there. With `followLast` a link as the last
// component is resolved (by the rules above) until the name is no link; the
// name is then "." when the link led to a directory by "." or "..", and
// *parent that directory. Without it the link itself is located. The object
// need not exist. An empty `components` is refused (EINVAL): the root has no
// name in a directory. 0 or an errno.
[[nodiscard]] int LocateBeneath(int root, std::vector<std::string> components, bool followLast, LinkScope scope,
                                UniqueFd* parent, std::string* name);

// Tests: makes the walk through descriptors serve every call even where the
// kernel has openat2 (true), or goes back to the kernel's walk (false).
void UseDescriptorWalkForTesting(bool on);

}  // namespace vn
