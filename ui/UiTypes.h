#pragma once
// Small types of the window layer that the console's windows pass around:
// message parameters and hint values. Sized as on a 64-bit Windows build, so a
// pointer fits in either.

#include <cstdint>

#include "platform/core/Win32Types.h"

using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
