#pragma once

#include <cstdint>
#include <sstream>
#include <string_view>
#include <vector>

#include "simulator/writer_simulator.h"

namespace kvr::sim::test {

// "46 B9 6A" -> {0x46, 0xB9, 0x6A}
inline std::vector<std::uint8_t> Hex(std::string_view text) {
  std::vector<std::uint8_t> bytes;
  std::istringstream in{std::string(text)};
  unsigned value = 0;
  while (in >> std::hex >> value) bytes.push_back(static_cast<std::uint8_t>(value));
  return bytes;
}

// Every byte the writer sent, in order.
inline Bytes Joined(const std::vector<Transmission>& sent) {
  Bytes all;
  for (const auto& t : sent) all.insert(all.end(), t.bytes.begin(), t.bytes.end());
  return all;
}

inline Bytes Cat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

inline std::uint8_t TestSum(const Bytes& bytes) {
  unsigned sum = 0;
  for (const auto b : bytes) sum += b;
  return static_cast<std::uint8_t>(sum);
}

// A read or write frame, built and summed here, not by the simulator. count < 0: the data's size.
inline Bytes Block(std::uint8_t command, std::uint32_t address, const Bytes& data, int count = -1) {
  const std::size_t n = count < 0 ? data.size() : static_cast<std::size_t>(count);
  const std::size_t length = 12 + data.size();
  Bytes f = {0x6A, static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length),
             command};
  for (int shift = 24; shift >= 0; shift -= 8)
    f.push_back(static_cast<std::uint8_t>(address >> shift));
  f.push_back(static_cast<std::uint8_t>(n >> 8));
  f.push_back(static_cast<std::uint8_t>(n));
  f = Cat(f, data);
  return Cat(f, {TestSum(f), 0x16});
}

// A reply frame in sum mode, for replies too long to write out.
inline Bytes ReplyFrame(std::uint8_t code, const Bytes& payload) {
  const std::size_t length = payload.size() + 6;
  Bytes f =
      Cat({0x68, static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length), code},
          payload);
  return Cat(f, {TestSum(f), 0x16});
}

inline Bytes Pattern(std::size_t n, std::uint8_t seed) {
  Bytes b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(seed + i * 7);
  return b;
}

// Frames of the station and replies of the writer, written out by hand.
inline const Bytes kHandshake = Hex("46 B9 6A 00 08 80 02 F0 E4 16");
inline const Bytes kAck = Hex("68 00 06 80 EE 16");
inline const Bytes kVersion = Hex("46 B9 6A 00 08 0C 02 00 80 16");
inline const Bytes kVersionReply = Hex("68 00 07 0C 13 8E 16");
inline const Bytes kErase = Hex("46 B9 6A 00 08 08 02 00 7C 16");
inline const Bytes kBlankCheck = Hex("46 B9 6A 00 08 09 02 00 7D 16");
inline const Bytes kBlankResult = Hex("68 00 0A 09 FF FF FF FF 77 16");

}  // namespace kvr::sim::test
