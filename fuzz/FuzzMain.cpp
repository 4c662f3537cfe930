// The libFuzzer entry of one target; VN_FUZZ_TARGET names its function.
#include "fuzz/FuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return vn::fuzz::VN_FUZZ_TARGET(data, size);
}
