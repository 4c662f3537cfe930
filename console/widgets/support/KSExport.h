#pragma once
// The module is built with hidden symbols: only what carries KS_EXPORT (the
// entry points, the exported globals and the window classes the hosts
// instantiate) is visible to the programs that load it.

#define KS_EXPORT __attribute__((visibility("default")))
