#pragma once
// The grid views' zoom steps: in by a tenth while below 300 percent, out by an
// eleventh while above 40, and back to 100. Integer arithmetic, so the steps
// from 100 are 110, 121, 133... and 90, 81, 73...

namespace vn::console {

inline constexpr int kZoomMax = 300;
inline constexpr int kZoomMin = 40;
inline constexpr int kZoomNormal = 100;

constexpr bool CanZoomIn(int percent) { return percent < kZoomMax; }
constexpr bool CanZoomOut(int percent) { return percent > kZoomMin; }
constexpr int ZoomedIn(int percent) { return CanZoomIn(percent) ? percent * 11 / 10 : percent; }
constexpr int ZoomedOut(int percent) { return CanZoomOut(percent) ? percent * 10 / 11 : percent; }

}  // namespace vn::console
