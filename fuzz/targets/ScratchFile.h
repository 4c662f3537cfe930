#pragma once
// A file of the fuzz process's own, rewritten with each input, for the
// parsers that read from disk. It lives in a temporary directory made once
// per process and removed when the process ends.

#include <cstddef>
#include <cstdint>
#include <filesystem>

namespace vn::fuzz {

// The directory, made on first use.
const std::filesystem::path& ScratchDirectory();
// Writes the bytes to `name` inside it, replacing what was there; its path.
std::filesystem::path WriteScratch(const char* name, const std::uint8_t* data, std::size_t size);

}  // namespace vn::fuzz
