#pragma once
// The grid control library's process-wide start and end: the grid (the
// spreadsheet-like widget under the result view and the schedule list) needs
// its shared setup done once before the first grid is made, and undone at exit.
// InitializeKSDLL and TerminateKSDLL call these.
//
// The grid (CGridCtrl and the views over it) keeps every setting, style and
// printer per grid, so the pair has no shared state to build: it records
// whether the library is up. Shared setup the grid comes to need (cell types,
// a profile section of its own) belongs here. User-interface thread only.

namespace vn::console {

void InitGridLibrary();
void TerminateGridLibrary();
// True between InitGridLibrary and TerminateGridLibrary.
bool IsGridLibraryReady();

}  // namespace vn::console
