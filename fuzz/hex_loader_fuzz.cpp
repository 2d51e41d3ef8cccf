// The Intel HEX loader through the load driver, with an arbitrary file named *.hex.

#include "fuzz/load_file_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return kvr::fuzz::LoadFileScenario(data, size, kvr::fuzz::LoaderTarget::Hex);
}
