#include "link/expected_reply.h"

#include <algorithm>

#include "link/writer_frame.h"

namespace kvr {

namespace {

constexpr std::uint8_t kAcknowledgeLength = 6;
constexpr std::size_t kOptionBytes = 2;
constexpr std::size_t kIdentityBytes = 2;
constexpr std::size_t kReadHeader = 6;  // two high address bytes, address, count
constexpr std::size_t kBlankResultBytes = 4;

ExpectedReply Coded(int accepted, int echo, std::size_t payload = 0, bool exact = false) {
  ExpectedReply reply;
  reply.codes = {accepted, echo};
  reply.payload = payload;
  reply.exactPayload = exact;
  return reply;
}

void Require(ExpectedReply& reply, std::size_t at, std::uint8_t value) {
  reply.bytes[reply.byteCount++] = {at, value};
}

}  // namespace

bool ExpectedReply::Matches(const std::uint8_t* frame, std::size_t length,
                            std::size_t checkLength) const {
  if (shortAcknowledge && length == kAcknowledgeLength && frame[3] == frame::kAccepted) return true;
  if (codes[0] != kAnyCode && frame[3] != codes[0] && frame[3] != codes[1]) return false;
  // Every byte taken from the reply lies in this frame, before its check value.
  if (length < kFrameBytes + checkLength) return false;
  const std::size_t held = length - kFrameBytes - checkLength;
  if (held < payload || (exactPayload && held != payload)) return false;
  for (std::size_t i = 0; i < byteCount; ++i)
    if (frame[bytes[i].at] != bytes[i].value) return false;
  return true;
}

std::size_t ExpectedReply::LongestFrame(std::size_t checkLength, std::size_t bufferSize) const {
  if (!exactPayload) return bufferSize;
  return std::min(kFrameBytes + checkLength + payload, bufferSize);
}

ExpectedReply AnyReply() {
  return {};
}

ExpectedReply ShortCommandReply(std::uint8_t code) {
  switch (code) {
    case command::kVersion:
      // Only a reply that echoes the version command carries a version byte.
      return Coded(command::kVersion, command::kVersion, 1);
    case command::kIdentity:
      return Coded(frame::kAccepted, command::kIdentity, kIdentityBytes, true);
    case command::kReadOptions:
      return Coded(frame::kAccepted, command::kReadOptions, kOptionBytes, true);
    case command::kErase:
      return Coded(frame::kAccepted, command::kErase);
    case command::kBlankCheck:
      // The acknowledge; the result follows as a frame of its own.
      return Coded(frame::kAccepted, frame::kAccepted);
    case command::kBoardQuery:
      return Coded(frame::kAccepted, command::kBoardQuery, 2, true);
    case command::kBoardErase:
      return Coded(frame::kAccepted, command::kBoardErase);
    default:
      // The handshake, whose content is not examined; stop; the end of a board download, whose
      // code the download itself judges.
      return AnyReply();
  }
}

ExpectedReply ReadReply(std::uint32_t address, std::uint16_t count) {
  ExpectedReply reply = Coded(frame::kAccepted, command::kRead, kReadHeader + count, true);
  Require(reply, 6, static_cast<std::uint8_t>(address >> 8));
  Require(reply, 7, static_cast<std::uint8_t>(address));
  Require(reply, 8, static_cast<std::uint8_t>(count >> 8));
  Require(reply, 9, static_cast<std::uint8_t>(count));
  return reply;
}

ExpectedReply WriteAcknowledge(std::uint16_t page, std::uint8_t dataSum) {
  ExpectedReply reply = Coded(frame::kAccepted, frame::kAccepted, 3, true);
  reply.shortAcknowledge = true;
  Require(reply, 4, static_cast<std::uint8_t>(page >> 8));
  Require(reply, 5, static_cast<std::uint8_t>(page));
  Require(reply, 6, dataSum);
  return reply;
}

ExpectedReply PageSumsReply(std::size_t segments) {
  return Coded(frame::kAccepted, command::kPageSums, 2 * segments, true);
}

ExpectedReply OptionEcho() {
  return Coded(frame::kAccepted, command::kWriteOptions, kOptionBytes, true);
}

ExpectedReply BlankCheckResult() {
  return Coded(ExpectedReply::kAnyCode, ExpectedReply::kAnyCode, kBlankResultBytes);
}

}  // namespace kvr
