#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

// The entry point every target defines; libFuzzer or the corpus runner calls it.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace kvr::fuzz {

// Ends the run as a crash, so that libFuzzer keeps the input and the corpus runner fails.
[[noreturn]] inline void Fail(const char* condition, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: invariant broken: %s\n", file, line, condition);
  std::abort();
}

// For the harness's own long loops over buffers: not traced for coverage, so that the fuzzer's
// time goes to the code under test.
#if defined(__clang__)
#define KVR_FUZZ_UNTRACED __attribute__((no_sanitize("coverage")))
#else
#define KVR_FUZZ_UNTRACED
#endif

#define KVR_FUZZ_CHECK(condition) \
  ((condition) ? (void)0 : ::kvr::fuzz::Fail(#condition, __FILE__, __LINE__))

// A fuzzer's input read from the front. An input that runs out reads as zeros, so every input is
// a whole scenario and the fuzzer never wastes a run on a parse error.
class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : bytes_(data, size) {}

  bool Empty() const { return at_ >= bytes_.size(); }

  std::uint8_t Byte() { return Empty() ? 0 : bytes_[at_++]; }

  std::uint16_t Word() {
    const std::uint16_t high = Byte();
    return static_cast<std::uint16_t>(high << 8 | Byte());
  }

  // Up to `count` bytes.
  std::span<const std::uint8_t> Take(std::size_t count) {
    const std::size_t n = std::min(count, bytes_.size() - std::min(at_, bytes_.size()));
    const auto taken = bytes_.subspan(std::min(at_, bytes_.size()), n);
    at_ += n;
    return taken;
  }

  std::vector<std::uint8_t> TakeBytes(std::size_t count) {
    const auto taken = Take(count);
    return {taken.begin(), taken.end()};
  }

  // A text of up to 255 bytes: its length, then its bytes.
  std::string Text() {
    const auto taken = Take(Byte());
    return {taken.begin(), taken.end()};
  }

  std::span<const std::uint8_t> Rest() { return Take(bytes_.size()); }

 private:
  std::span<const std::uint8_t> bytes_;
  std::size_t at_ = 0;
};

}  // namespace kvr::fuzz
