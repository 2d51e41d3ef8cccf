#include "link/writer_frame.h"

#include "link/check_values.h"

namespace kvr {

void FinishFrame(Bytes& bytes, std::size_t skip, bool useCrc16) {
  // The length counts the direction byte through the end byte.
  const std::size_t length = bytes.size() - skip + (useCrc16 ? 2 : 1) + 1;
  bytes[skip + 1] = static_cast<std::uint8_t>(length >> 8);
  bytes[skip + 2] = static_cast<std::uint8_t>(length & 0xFF);
  const std::size_t covered = bytes.size() - skip;
  if (useCrc16) {
    const Crc16 crc = ComputeCrc16(bytes.data(), skip, covered);
    bytes.push_back(crc.lo);
    bytes.push_back(crc.hi);
  } else {
    bytes.push_back(Sum8(bytes.data() + skip, covered));
  }
  bytes.push_back(frame::kEnd);
}

Bytes BuildShortFrame(std::uint8_t code, std::uint8_t classCode, std::uint8_t parameter,
                      bool useCrc16) {
  Bytes bytes{frame::kPreamble0, frame::kPreamble1, frame::kToWriter, 0, 0, code,
              classCode,         parameter};
  FinishFrame(bytes, 2, useCrc16);
  return bytes;
}

namespace {

void PushBigEndian(Bytes& bytes, std::uint32_t value, int width) {
  for (int shift = 8 * (width - 1); shift >= 0; shift -= 8)
    bytes.push_back(static_cast<std::uint8_t>(value >> shift));
}

// 6A, room for the length, the command code.
Bytes StartBlockFrame(std::uint8_t code) {
  return {frame::kToWriter, 0, 0, code};
}

}  // namespace

Bytes BuildReadFrame(std::uint32_t address, std::uint16_t count) {
  Bytes bytes = StartBlockFrame(command::kRead);
  PushBigEndian(bytes, address, 4);
  PushBigEndian(bytes, count, 2);
  FinishFrame(bytes, 0, false);
  return bytes;
}

Bytes BuildWriteFrame(std::uint8_t code, std::uint32_t address, const std::uint8_t* data,
                      std::uint16_t count) {
  Bytes bytes = StartBlockFrame(code);
  PushBigEndian(bytes, 0, 2);
  PushBigEndian(bytes, address & 0xFFFFU, 2);
  PushBigEndian(bytes, count, 2);
  bytes.insert(bytes.end(), data, data + count);
  FinishFrame(bytes, 0, false);
  return bytes;
}

Bytes BuildPageSumsFrame(std::uint32_t start, std::uint32_t end) {
  Bytes bytes = StartBlockFrame(command::kPageSums);
  PushBigEndian(bytes, start, 4);
  PushBigEndian(bytes, end, 4);
  FinishFrame(bytes, 0, false);
  return bytes;
}

Bytes BuildOptionFrame(const std::array<std::uint8_t, 16>& options) {
  Bytes bytes = StartBlockFrame(command::kWriteOptions);
  bytes.insert(bytes.end(), options.begin(), options.end());
  FinishFrame(bytes, 0, false);
  return bytes;
}

}  // namespace kvr
