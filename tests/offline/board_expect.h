#pragma once

// What the board must receive, written out here by hand rather than with the station's code.

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "simulator/writer_simulator.h"

namespace kvr::test {

using ByteVector = std::vector<std::uint8_t>;

// A configuration block: the name the model box shows, and from 0x20 the rest.
inline ByteVector BoardConfig(const std::string& name, const ByteVector& rest) {
  ByteVector c(0x65, 0x00);
  std::copy(name.begin(), name.end(), c.begin());
  std::copy(rest.begin(), rest.end(), c.begin() + 0x20);
  return c;
}

// The configuration block 0xEC00..0xEC64 (the rest up to 0xECFF is 0x00) of the tree model
// VXA05H (class 11, identity F108) with a 2 K ISP area F400..FBFF: the ISP area is placed
// separately at E400..EBFF.
inline ByteVector ConfigVxa05hIsp2k() {
  return BoardConfig(
      "VXA05H",
      {
          0xF1, 0x08, 0x01, 0x0B, 0x08, 0x00, 0xEC, 0x00,  // identity, layout, class, ISP, end
          0x00, 0x00, 0x00, 0x01, 0x01, 0x01, 0x01, 0x01, 0xFF,  // option rows 0..8
          0x00, 0x00, 0x00, 0x00,                                // reserved
          0x40, 0x00, 0x00, 0xE3, 0xFF, 0x00, 0x00, 0x00, 0x00, 0xA3, 0xFF, 0x00,  // from address 0
          0x20, 0x00, 0x00, 0x3F, 0xFF, 0x00, 0xA4, 0x00, 0x00, 0xC3, 0xFF, 0x00,  // continuation
          0xE4, 0x00, 0x00, 0xEB, 0xFF, 0x00, 0xF4, 0x00, 0x00, 0xFB, 0xFF, 0x00,  // ISP area
          0x00, 0x00, 0x00, 0x7F, 0xFF, 0x00, 0xF4, 0x00, 0x00, 0xFB, 0xFF, 0x00,  // region display
      });
}

// The model VXA02H from the model list (class 2, identity F002) with a 2 K ISP area 3400..3BFF,
// chosen after VXA05H in the tree, whose name the model box keeps: everything is placed from
// address 0.
inline ByteVector ConfigVxa02hFromList() {
  return BoardConfig(
      "VXA05H",
      {
          0xF0, 0x02, 0x01, 0x02, 0x08, 0x00, 0x7C, 0x00,  // identity, layout, class, ISP, end
          0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x01, 0x01, 0xFF,  // option rows 0..8
          0x00, 0x00, 0x00, 0x00,                                // reserved
          0x40, 0x00, 0x00, 0xEB, 0xFF, 0x00, 0x00, 0x00, 0x00, 0xAB, 0xFF, 0x00,  // from address 0
          0x20, 0x00, 0x00, 0x3F, 0xFF, 0x00, 0xAC, 0x00, 0x00, 0xCB, 0xFF, 0x00,  // continuation
          0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // none apart
          0x00, 0x00, 0x00, 0x1F, 0xFF, 0x00, 0x34, 0x00, 0x00, 0x3B, 0xFF, 0x00,  // region display
      });
}

// The board image 0x0000..0x10000 as the board must hold it: `image` is the station's buffer
// 0x0000..0xFFFF, `isp` the first and last address of a separately placed ISP area (first > last:
// none), `config` the block above and `copies` the copy limit.
inline ByteVector ExpectedBoardImage(const ByteVector& image, std::int32_t ispFirst,
                                     std::int32_t ispLast, const ByteVector& config,
                                     std::int32_t copies) {
  ByteVector board(0x10001, 0x00);
  const std::int32_t apart = ispLast >= ispFirst ? ispLast - ispFirst + 1 : 0;
  const std::int32_t fromZero = 0xAC00 - apart;
  for (std::int32_t i = 0; i < fromZero; ++i) board[0x4000 + i] = image[i];
  for (std::int32_t i = 0; i < 0x2000; ++i) board[0x2000 + i] = image[fromZero + i];
  for (std::int32_t i = 0; i < apart; ++i) board[0xEC00 - apart + i] = image[ispFirst + i];
  std::copy(config.begin(), config.end(), board.begin() + 0xEC00);
  const std::int32_t counts[2] = {copies / 2048, copies % 2048};
  for (int area = 0; area < 2; ++area) {
    const std::int32_t bits = counts[area];
    const std::size_t at = area == 0 ? 0xED00 : 0xEE00;
    for (std::int32_t bit = 0; bit < bits; ++bit)
      board[at + static_cast<std::size_t>(bit / 8)] |= static_cast<std::uint8_t>(1 << (bit % 8));
  }
  for (std::size_t k = 0; k < 512; ++k) {
    const std::uint16_t crc =
        sim::Crc16Modbus(std::span<const std::uint8_t>(image.data() + k * 128, 128));
    board[0xF000 + 2 * k] = static_cast<std::uint8_t>(crc);
    board[0xF001 + 2 * k] = static_cast<std::uint8_t>(crc >> 8);
  }
  return board;
}

// An image with no two neighbouring blocks alike, so a block in the wrong place shows.
inline ByteVector PatternImage() {
  ByteVector image(0x10000);
  for (std::size_t a = 0; a < image.size(); ++a)
    image[a] = static_cast<std::uint8_t>((a * 7 + (a >> 8) * 13 + (a >> 12)) & 0xFF);
  return image;
}

// An offline data frame built by hand: 46 B9 6A <length> <code> <address:4> <count:2> <data>
// <CRC lo, hi> 16.
inline ByteVector DataFrame(std::uint8_t code, std::uint32_t address, const std::uint8_t* data,
                            std::size_t count) {
  const std::size_t length = count + 13;
  ByteVector f = {0x6A,
                  static_cast<std::uint8_t>(length >> 8),
                  static_cast<std::uint8_t>(length),
                  code,
                  static_cast<std::uint8_t>(address >> 24),
                  static_cast<std::uint8_t>(address >> 16),
                  static_cast<std::uint8_t>(address >> 8),
                  static_cast<std::uint8_t>(address),
                  static_cast<std::uint8_t>(count >> 8),
                  static_cast<std::uint8_t>(count)};
  f.insert(f.end(), data, data + count);
  const std::uint16_t crc = sim::Crc16Modbus(f);
  f.insert(f.begin(), {0x46, 0xB9});
  f.push_back(static_cast<std::uint8_t>(crc));
  f.push_back(static_cast<std::uint8_t>(crc >> 8));
  f.push_back(0x16);
  return f;
}

}  // namespace kvr::test

namespace kvr::test {

// A short command frame in CRC mode, built by hand.
inline ByteVector ShortCrcFrame(std::uint8_t code, std::uint8_t classCode, std::uint8_t parameter) {
  ByteVector f = {0x6A, 0x00, 0x09, code, classCode, parameter};
  const std::uint16_t crc = sim::Crc16Modbus(f);
  f.insert(f.begin(), {0x46, 0xB9});
  f.push_back(static_cast<std::uint8_t>(crc));
  f.push_back(static_cast<std::uint8_t>(crc >> 8));
  f.push_back(0x16);
  return f;
}

// Every frame of a whole download, in order, for a board image that is right.
inline std::vector<ByteVector> DownloadFrames(const ByteVector& board, std::uint8_t classCode) {
  std::vector<ByteVector> frames(4, ShortCrcFrame(0x80, classCode, 0xF1));
  frames.push_back(ShortCrcFrame(0x0E, classCode, 0x00));
  frames.push_back(ShortCrcFrame(0x0C, classCode, 0x00));
  frames.push_back(ShortCrcFrame(0x84, classCode, 0x00));
  auto range = [&](std::uint32_t first, std::uint32_t last) {
    for (std::uint32_t a = first; a < last; a += 512)
      frames.push_back(DataFrame(a == first ? 0x30 : 0x00, a, board.data() + a, 512));
  };
  range(0x4000, 0xF400);
  frames.push_back(ShortCrcFrame(0x86, classCode, 0x00));
  frames.push_back(ShortCrcFrame(0x80, classCode, 0xF1));
  range(0x2000, 0x4000);
  return frames;
}

}  // namespace kvr::test
