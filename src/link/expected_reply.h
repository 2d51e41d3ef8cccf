#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace kvr {

// What reply a request accepts: the one place that says, per request, which reply code, length,
// address and count make a frame the answer to it. A frame with a good check value that does not
// match is the answer to some other request (late, sent twice, one request behind): the link drops
// it and listens on for the right one until the exchange's deadline.
struct ExpectedReply {
  static constexpr int kAnyCode = -1;
  // Frame bytes besides the payload: 68, the length, the code, the end byte (the check value
  // comes on top).
  static constexpr std::size_t kFrameBytes = 5;

  // Byte 3 of the reply: anything, or one of these (the accepted code 0x80, the request's echo).
  std::array<int, 2> codes{kAnyCode, kAnyCode};
  // Payload bytes, from byte 4 up to the check value: at least this many, or exactly.
  std::size_t payload = 0;
  bool exactPayload = false;
  // The writer's six-byte acknowledge 68 00 06 80 is accepted too.
  bool shortAcknowledge = false;
  // Bytes the reply must hold at their places: an echoed address, count or page.
  struct Byte {
    std::size_t at;
    std::uint8_t value;
  };
  std::array<Byte, 4> bytes{};
  std::size_t byteCount = 0;

  // Whether a frame of `length` bytes with a good check value of `checkLength` bytes answers.
  bool Matches(const std::uint8_t* frame, std::size_t length, std::size_t checkLength) const;
  // The longest frame that can answer, at most `bufferSize`: what the deadline allows for.
  std::size_t LongestFrame(std::size_t checkLength, std::size_t bufferSize) const;
};

// Any frame: the handshake, whose reply is not examined, and what is not looked at.
ExpectedReply AnyReply();
// The reply to a short command frame, by its code.
ExpectedReply ShortCommandReply(std::uint8_t code);
// A read (0x00): the address's low 16 bits at bytes 6..7, the count at 8..9, then that many
// data bytes.
ExpectedReply ReadReply(std::uint32_t address, std::uint16_t count);
// A data chunk written (0x03, 0x04): the six-byte acknowledge, or the page echo 80 <page:2>
// <sum of the chunk's data>.
ExpectedReply WriteAcknowledge(std::uint16_t page, std::uint8_t dataSum);
// Page sums (0x0D): one 16-bit sum per segment of the range asked, no more, no less.
ExpectedReply PageSumsReply(std::size_t segments);
// Program options (0x05): the two option registers as they now stand.
ExpectedReply OptionEcho();
// The blank check's second frame: long enough to hold bytes 4 to 7. Its code is not examined:
// writers do not agree on it.
ExpectedReply BlankCheckResult();

}  // namespace kvr
