#include "ispdemo/isp_protocol.h"

#include <cstdio>

namespace kvr::isp {

std::uint16_t Crc16(const std::uint8_t* data, std::size_t size, std::uint16_t crc) {
  for (std::size_t i = 0; i < size; ++i) {
    crc ^= static_cast<std::uint16_t>(data[i] << 8);
    for (int bit = 0; bit < 8; ++bit)
      crc = (crc & 0x8000) ? static_cast<std::uint16_t>((crc << 1) ^ 0x1021)
                           : static_cast<std::uint16_t>(crc << 1);
  }
  return crc;
}

namespace {

Bytes Seal(std::uint8_t start, Bytes body) {
  const std::uint16_t crc = Crc16(body);
  body.insert(body.begin(), start);
  body.push_back(static_cast<std::uint8_t>(crc >> 8));
  body.push_back(static_cast<std::uint8_t>(crc & 0xFF));
  return body;
}

// Takes one byte of a frame: `start`, `header` bytes of which the last is the data's length, the
// data and the check value. On Complete `frame` holds the whole frame, for the caller to take
// apart and clear.
ParseOutcome Collect(Bytes& frame, std::uint8_t byte, std::uint8_t start, std::size_t header) {
  if (frame.empty() && byte != start) return ParseOutcome::Incomplete;
  frame.push_back(byte);
  if (frame.size() == header + 1 && frame[header] > kMaxData) {
    frame.clear();
    return ParseOutcome::Corrupt;
  }
  if (frame.size() < header + 3 || frame.size() < header + 3 + frame[header])
    return ParseOutcome::Incomplete;
  const std::size_t length = frame[header];
  const std::uint16_t crc = Crc16(frame.data() + 1, header + length);
  if (frame[header + 1 + length] == (crc >> 8) && frame[header + 2 + length] == (crc & 0xFF))
    return ParseOutcome::Complete;
  frame.clear();
  return ParseOutcome::Corrupt;
}

}  // namespace

Bytes EncodeRequest(Command command, const Bytes& data) {
  if (data.size() > kMaxData) return {};
  Bytes body{static_cast<std::uint8_t>(command), static_cast<std::uint8_t>(data.size())};
  body.insert(body.end(), data.begin(), data.end());
  return Seal(kRequestStart, std::move(body));
}

Bytes EncodeAnswer(std::uint8_t command, std::uint8_t status, const Bytes& data) {
  if (data.size() > kMaxData) return {};
  Bytes body{command, status, static_cast<std::uint8_t>(data.size())};
  body.insert(body.end(), data.begin(), data.end());
  return Seal(kAnswerStart, std::move(body));
}

AnswerParser::Outcome AnswerParser::Feed(std::uint8_t byte) {
  const Outcome outcome = Collect(frame_, byte, kAnswerStart, 3);
  if (outcome == Outcome::Complete) {
    answer_.command = frame_[1];
    answer_.status = frame_[2];
    answer_.data.assign(frame_.begin() + 4, frame_.end() - 2);
    frame_.clear();
  }
  return outcome;
}

RequestParser::Outcome RequestParser::Feed(std::uint8_t byte) {
  const Outcome outcome = Collect(frame_, byte, kRequestStart, 2);
  if (outcome == Outcome::Complete) {
    command_ = frame_[1];
    data_.assign(frame_.begin() + 3, frame_.end() - 2);
    frame_.clear();
  }
  return outcome;
}

std::string StatusText(std::uint8_t status) {
  switch (static_cast<Status>(status)) {
    case Status::Ok:
      return "done";
    case Status::BadCheck:
      return "check value wrong";
    case Status::UnknownCommand:
      return "unknown command";
    case Status::BadLength:
      return "length wrong for the command";
    case Status::OutOfRange:
      return "address out of range";
    case Status::ProgramFailed:
      return "programmed byte reads back different";
    case Status::RegisterFailed:
      return "flash-control register did not take its value";
    case Status::NotBlank:
      return "sector not blank after erase";
    case Status::ParityError:
      return "parity error";
    case Status::FrameIncomplete:
      return "frame incomplete";
  }
  char text[16];
  std::snprintf(text, sizeof text, "status %02Xh", status);
  return text;
}

}  // namespace kvr::isp
