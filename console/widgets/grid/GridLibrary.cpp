#include "console/widgets/grid/GridLibrary.h"

namespace vn::console {
namespace {

bool g_ready = false;

}  // namespace

void InitGridLibrary() { g_ready = true; }

void TerminateGridLibrary() { g_ready = false; }

bool IsGridLibraryReady() { return g_ready; }

}  // namespace vn::console
