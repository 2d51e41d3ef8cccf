#pragma once

#include <array>
#include <cstdint>

#include "platform/serial_port.h"

namespace kvr {

// Bytes of the frames the station sends.
namespace frame {
constexpr std::uint8_t kPreamble0 = 0x46;
constexpr std::uint8_t kPreamble1 = 0xB9;
constexpr std::uint8_t kToWriter = 0x6A;
constexpr std::uint8_t kFromWriter = 0x68;
constexpr std::uint8_t kEnd = 0x16;
constexpr std::uint8_t kAccepted = 0x80;
}  // namespace frame

// Command codes.
namespace command {
constexpr std::uint8_t kRead = 0x00;
constexpr std::uint8_t kReadOptions = 0x01;
constexpr std::uint8_t kWriteNext = 0x03;
constexpr std::uint8_t kWriteFirst = 0x04;
constexpr std::uint8_t kWriteOptions = 0x05;
constexpr std::uint8_t kErase = 0x08;
constexpr std::uint8_t kBlankCheck = 0x09;
constexpr std::uint8_t kIdentity = 0x0A;
constexpr std::uint8_t kVersion = 0x0C;
constexpr std::uint8_t kPageSums = 0x0D;
constexpr std::uint8_t kBoardQuery = 0x0E;
constexpr std::uint8_t kHandshake = 0x80;
constexpr std::uint8_t kStop = 0x82;
constexpr std::uint8_t kBoardErase = 0x84;
constexpr std::uint8_t kBoardMainSent = 0x86;
}  // namespace command

// Handshake parameters.
constexpr std::uint8_t kHandshakeWriter = 0xF0;
constexpr std::uint8_t kHandshakeOfflineBoard = 0xF1;

// Short command frame: 46 B9 6A <length> <code> <class> <parameter> <check> 16; 10 bytes in sum
// mode, 11 in CRC mode.
Bytes BuildShortFrame(std::uint8_t code, std::uint8_t classCode, std::uint8_t parameter,
                      bool useCrc16);

// Appends the end of a frame to bytes that hold everything from the direction byte on (after
// `skip` preamble bytes): fills the length field, then the check value and the end byte.
void FinishFrame(Bytes& bytes, std::size_t skip, bool useCrc16);

// Block frames of the writer link: no preamble, always the 8-bit sum.
//
// Read (0x00): 6A 00 0C 00 <address:4> <count:2> <sum> 16.
Bytes BuildReadFrame(std::uint32_t address, std::uint16_t count);
// Write (0x04 first chunk of a range, 0x03 the others): 6A <n+12:2> <code> 00 00
// <address low 16 bits:2> <n:2> <data:n> <sum> 16. The two high address bytes are always 00 00.
Bytes BuildWriteFrame(std::uint8_t code, std::uint32_t address, const std::uint8_t* data,
                      std::uint16_t count);
// Page sums (0x0D): 6A 00 0E 0D <start:4> <end:4> <sum> 16.
Bytes BuildPageSumsFrame(std::uint32_t start, std::uint32_t end);
// Program options (0x05): 6A 00 16 05 <16 option bytes> <sum> 16.
Bytes BuildOptionFrame(const std::array<std::uint8_t, 16>& options);

}  // namespace kvr
