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

Bytes BuildBlockFrame(std::uint8_t code, std::uint32_t address, std::uint16_t count,
                      const std::uint8_t* data, std::size_t dataLength) {
  Bytes bytes;
  bytes.reserve(4 + 4 + 2 + dataLength + 2);
  bytes.push_back(frame::kToWriter);
  bytes.push_back(0);  // length, filled in at the end
  bytes.push_back(0);
  bytes.push_back(code);
  for (int shift = 24; shift >= 0; shift -= 8)
    bytes.push_back(static_cast<std::uint8_t>(address >> shift));
  bytes.push_back(static_cast<std::uint8_t>(count >> 8));
  bytes.push_back(static_cast<std::uint8_t>(count & 0xFF));
  if (data != nullptr) bytes.insert(bytes.end(), data, data + dataLength);
  FinishFrame(bytes, 0, false);
  return bytes;
}

}  // namespace kvr
