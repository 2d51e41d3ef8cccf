#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kvr::isp {

using Bytes = std::vector<std::uint8_t>;

// The PC side of the ISP demo's protocol (docs/isp_demo_protocol.md).
//   request: A5h, command, length, data, check value (high, low)
//   answer:  5Ah, command, status, length, data, check value (high, low)
// The check value is CRC-16 (polynomial 1021h, start FFFFh, most significant bit first) over
// everything between the first byte and the check value.
inline constexpr std::uint8_t kRequestStart = 0xA5;
inline constexpr std::uint8_t kAnswerStart = 0x5A;
inline constexpr std::size_t kMaxData = 66;
inline constexpr std::size_t kBlockSize = 64;
inline constexpr std::int32_t kSectorSize = 512;

enum class Command : std::uint8_t { Identify = 1, Erase = 2, Program = 3, Read = 4, Run = 5 };

enum class Status : std::uint8_t {
  Ok = 0x00,
  BadCheck = 0x01,
  UnknownCommand = 0x02,
  BadLength = 0x03,
  OutOfRange = 0x04,
  ProgramFailed = 0x05,
  RegisterFailed = 0x06,
  NotBlank = 0x07,
  ParityError = 0x08,
  FrameIncomplete = 0x09,
};

std::uint16_t Crc16(const std::uint8_t* data, std::size_t size, std::uint16_t crc = 0xFFFF);
inline std::uint16_t Crc16(const Bytes& bytes) {
  return Crc16(bytes.data(), bytes.size());
}

// Data longer than kMaxData is not sent: the demo would refuse it.
Bytes EncodeRequest(Command command, const Bytes& data = {});
Bytes EncodeAnswer(std::uint8_t command, std::uint8_t status, const Bytes& data = {});

struct Answer {
  std::uint8_t command = 0;
  std::uint8_t status = 0;
  Bytes data;
};

enum class ParseOutcome { Incomplete, Complete, Corrupt };

// Assembles answers from the bytes as they arrive. Bytes before a start byte are skipped; an
// answer whose check value is wrong or whose length is impossible is reported as corrupt.
class AnswerParser {
 public:
  using Outcome = ParseOutcome;
  // Takes one byte; on Complete, `answer` holds it until the next call.
  Outcome Feed(std::uint8_t byte);
  const Answer& answer() const { return answer_; }
  void Reset() { frame_.clear(); }

 private:
  Bytes frame_;
  Answer answer_;
};

// The same for requests, as the demo reads them (used by the demo's stand-in in tests).
class RequestParser {
 public:
  using Outcome = ParseOutcome;
  Outcome Feed(std::uint8_t byte);
  std::uint8_t command() const { return command_; }
  const Bytes& data() const { return data_; }

 private:
  Bytes frame_;
  std::uint8_t command_ = 0;
  Bytes data_;
};

// "check value wrong" and the other status texts; "status 3Ch" for one the demo does not send.
std::string StatusText(std::uint8_t status);

}  // namespace kvr::isp
