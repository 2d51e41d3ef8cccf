#include "simulator/frame_scanner.h"

#include <algorithm>

namespace kvr::sim {

std::size_t ScanFrames(const std::vector<std::uint8_t>& bytes, std::size_t minLength,
                       std::size_t maxLength,
                       const std::function<bool(const FramePlace&)>& onFrame) {
  constexpr std::uint8_t kPreamble0 = 0x46;
  constexpr std::uint8_t kPreamble1 = 0xB9;
  constexpr std::uint8_t kStart = 0x6A;
  constexpr std::uint8_t kEnd = 0x16;
  const std::size_t n = bytes.size();
  std::size_t done = 0;  // everything before it is consumed
  while (true) {
    const auto it =
        std::find(bytes.begin() + static_cast<std::ptrdiff_t>(done), bytes.end(), kStart);
    if (it == bytes.end()) {
      // The last two bytes may be a preamble whose 0x6A is still to come.
      return std::max(done, n >= 2 ? n - 2 : 0);
    }
    const auto p = static_cast<std::size_t>(it - bytes.begin());
    const bool preamble = p >= done + 2 && bytes[p - 2] == kPreamble0 && bytes[p - 1] == kPreamble1;
    const std::size_t head = preamble ? p - 2 : p;
    if (n - p < 3) return head;
    const std::size_t length = static_cast<std::size_t>(bytes[p + 1] << 8 | bytes[p + 2]);
    if (length < minLength || length > maxLength) {
      done = p + 1;
      continue;
    }
    if (n - p < length) return head;
    if (bytes[p + length - 1] != kEnd) {
      done = p + 1;
      continue;
    }
    done = onFrame({head, p, length}) ? p + length : p + 1;
  }
}

}  // namespace kvr::sim
