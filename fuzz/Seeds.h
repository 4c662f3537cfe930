#pragma once
// Inputs a target starts from that are made, not kept in the repository: the
// binary ones (a report record, pipe messages), which are easier to read as
// code than as bytes, and an identity bundle, whose private key has no place
// in the source tree. `make fuzz` adds them to each target's working corpus;
// the regression tests run them as well.

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vn::fuzz {

// Named inputs for the target `target` (empty for a target without any).
std::vector<std::pair<std::string, std::string>> GeneratedSeeds(std::string_view target);

}  // namespace vn::fuzz
