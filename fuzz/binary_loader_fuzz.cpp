// The binary loader through the load driver, with an arbitrary file whose name does not say HEX
// (its first text items still send it to the HEX loader when they all begin with a colon).

#include "fuzz/load_file_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return kvr::fuzz::LoadFileScenario(data, size, kvr::fuzz::LoaderTarget::Binary);
}
