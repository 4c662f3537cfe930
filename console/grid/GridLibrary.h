#pragma once
// The grid control library's process-wide start and end: the grid (the
// spreadsheet-like widget under the result view and the schedule list) needs
// its shared setup done once before the first grid is made, and undone at exit.
// InitializeKSDLL and TerminateKSDLL call these.
//
// The grid widget is not part of the module yet, so today there is no shared
// setup to do: the pair only records whether the library is up. The grid's
// shared setup (cell types, styles, its profile section) belongs here when it
// comes. User-interface thread only.

namespace vn::console {

void InitGridLibrary();
void TerminateGridLibrary();
// True between InitGridLibrary and TerminateGridLibrary.
bool IsGridLibraryReady();

}  // namespace vn::console
