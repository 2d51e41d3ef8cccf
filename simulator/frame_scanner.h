#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace kvr::sim {

// Where a frame stands in a received byte stream: from `head` (its preamble 46 B9, when it has
// one) or `start` (its 0x6A) to start + length.
struct FramePlace {
  std::size_t head;
  std::size_t start;
  std::size_t length;
};

// Finds the frames of the station's byte stream: 0x6A, a big-endian length from minLength to
// maxLength, ..., the end byte 0x16, with an optional 46 B9 preamble before the 0x6A. Garbage
// between frames is skipped. `onFrame` is called for each frame with a good end byte and
// returns whether the frame was taken whole (false: the scan looks for a frame from the byte
// after its 0x6A). Returns how many bytes from the front are done with; the rest may be the
// beginning of a frame still arriving.
std::size_t ScanFrames(const std::vector<std::uint8_t>& bytes, std::size_t minLength,
                       std::size_t maxLength,
                       const std::function<bool(const FramePlace&)>& onFrame);

}  // namespace kvr::sim
