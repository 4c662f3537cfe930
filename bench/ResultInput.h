#pragma once
// The result the result benchmarks share: the shared generator's ten million
// report-shaped rows ("D1", file name, directory, size, allocated, revised)
// behind a header of our own (an "All Files" listing of six columns), made
// once in a data directory and kept there for later runs. Making it takes
// about a minute and needs python3; the rows file the generator writes is
// removed once the result holds them.
//
// Failures come back as false or an empty path, with nothing half-written
// left under the final name (files are written beside it and renamed).

#include <cstdint>
#include <filesystem>

namespace vn::bench {

// Rows of the large result, and its header lines ("A1", two "B1", "H1").
inline constexpr std::uint32_t kLargeResultRows = 10'000'000;
inline constexpr int kResultHeaderLines = 4;

// `dir`/results-10M.csv, made with `generator` (gen_trees.py) unless it is
// already there. Empty when it could not be made.
std::filesystem::path LargeResult(const std::filesystem::path& dir, const std::filesystem::path& generator);

// A result with the header of `source` and its first `rows` rows, at `dest`
// (made unless it is already there). False when `source` has fewer rows or
// `dest` could not be written.
[[nodiscard]] bool ResultHead(const std::filesystem::path& source, const std::filesystem::path& dest,
                              std::uint32_t rows);

}  // namespace vn::bench
