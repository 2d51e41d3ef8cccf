#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>

#include "link/check_values.h"
#include "link/expected_reply.h"
#include "link/link_fixture.h"
#include "link/writer_frame.h"

namespace kvr {
namespace {

TEST(CheckValues, Crc16OfTheNineDigitsIs4B37SentLowByteFirst) {
  const std::string digits = "123456789";
  const Crc16 crc =
      ComputeCrc16(reinterpret_cast<const std::uint8_t*>(digits.data()), 0, digits.size());
  EXPECT_EQ(crc.lo, 0x37);
  EXPECT_EQ(crc.hi, 0x4B);
}

TEST(CheckValues, CrcTablesBeginAsTheReflectedPolynomialA001Table) {
  EXPECT_EQ(GetCRCLo(0), 0x00);
  EXPECT_EQ(GetCRCLo(1), 0xC1);
  EXPECT_EQ(GetCRCLo(2), 0x81);
  EXPECT_EQ(GetCRCLo(3), 0x40);
  EXPECT_EQ(GetCRCHi(0), 0x00);
  EXPECT_EQ(GetCRCHi(1), 0xC0);
  EXPECT_EQ(GetCRCHi(2), 0xC1);
  EXPECT_EQ(GetCRCHi(3), 0x01);
  EXPECT_EQ(GetCRCLo(255), 0x40);
  EXPECT_EQ(GetCRCHi(255), 0x40);
}

TEST(CheckValues, CrcHonoursStartAndLength) {
  const std::uint8_t bytes[] = {0xEE, 0x6A, 0x00, 0x09, 0x0A, 0x02, 0x00, 0xEE};
  EXPECT_EQ(ComputeCrc16(bytes, 1, 6), (Crc16{0x2B, 0xEF}));
  EXPECT_EQ(ComputeCrc16(bytes, 0, 0), (Crc16{0xFF, 0xFF}));
}

TEST(CheckValues, SumWrapsModulo256) {
  const std::uint8_t bytes[] = {0x68, 0x00, 0x06, 0x80};
  EXPECT_EQ(Sum8(bytes, 4), 0xEE);
  const std::uint8_t wrap[] = {0xFF, 0xFF, 0x03};
  EXPECT_EQ(Sum8(wrap, 3), 0x01);
}

TEST(WriterFrames, ShortFramesInSumAndCrcMode) {
  EXPECT_EQ(BuildShortFrame(0x0A, 2, 0, false),
            (Bytes{0x46, 0xB9, 0x6A, 0x00, 0x08, 0x0A, 0x02, 0x00, 0x7E, 0x16}));
  EXPECT_EQ(BuildShortFrame(0x0A, 2, 0, true),
            (Bytes{0x46, 0xB9, 0x6A, 0x00, 0x09, 0x0A, 0x02, 0x00, 0x2B, 0xEF, 0x16}));
  EXPECT_EQ(BuildShortFrame(0x80, 2, 0xF0, false),
            (Bytes{0x46, 0xB9, 0x6A, 0x00, 0x08, 0x80, 0x02, 0xF0, 0xE4, 0x16}));
  // The class code travels as its low byte.
  EXPECT_EQ(BuildShortFrame(0x82, 13, 0, false),
            (Bytes{0x46, 0xB9, 0x6A, 0x00, 0x08, 0x82, 0x0D, 0x00, 0x01, 0x16}));
}

TEST(WriterFrames, WriteFrameCarriesOnlyTheLow16AddressBits) {
  const std::uint8_t data[] = {0x01, 0x02, 0x03};
  // 6A, length n + 12, command, 00 00, address low 16 bits, n, data, sum, 16.
  EXPECT_EQ(BuildWriteFrame(0x04, 0x1234, data, 3),
            (Bytes{0x6A, 0x00, 0x0F, 0x04, 0x00, 0x00, 0x12, 0x34, 0x00, 0x03, 0x01, 0x02, 0x03,
                   0xCC, 0x16}));
  // Above 64 KB the two high address bytes stay 00 00.
  EXPECT_EQ(BuildWriteFrame(0x03, 0x10080, data, 3),
            (Bytes{0x6A, 0x00, 0x0F, 0x03, 0x00, 0x00, 0x00, 0x80, 0x00, 0x03, 0x01, 0x02, 0x03,
                   0x05, 0x16}));

  std::uint8_t block[128];
  for (int i = 0; i < 128; ++i) block[i] = static_cast<std::uint8_t>(i);
  const Bytes big = BuildWriteFrame(0x03, 0xFF80, block, 128);
  ASSERT_EQ(big.size(), 140U);
  EXPECT_EQ(big[1] * 256 + big[2], 140);
  EXPECT_EQ(big[8] * 256 + big[9], 128);
  EXPECT_TRUE(std::equal(block, block + 128, big.begin() + 10));
  EXPECT_EQ(big[138], Sum8(big.data(), 138));
  EXPECT_EQ(big[139], 0x16);
}

TEST(WriterFrames, ReadPageSumAndOptionFrames) {
  // Read: the whole 32-bit address.
  EXPECT_EQ(BuildReadFrame(0x00012345, 0x0200),
            (Bytes{0x6A, 0x00, 0x0C, 0x00, 0x00, 0x01, 0x23, 0x45, 0x02, 0x00, 0xE1, 0x16}));
  EXPECT_EQ(BuildReadFrame(0x1200, 128),
            (Bytes{0x6A, 0x00, 0x0C, 0x00, 0x00, 0x00, 0x12, 0x00, 0x00, 0x80, 0x08, 0x16}));
  // Page sums: start and end address, 14 bytes.
  EXPECT_EQ(BuildPageSumsFrame(0x00F0, 0x10110), (Bytes{0x6A, 0x00, 0x0E, 0x0D, 0x00, 0x00, 0x00,
                                                        0xF0, 0x00, 0x01, 0x01, 0x10, 0x87, 0x16}));
  // Options: 16 bytes, no address, 22 in all.
  std::array<std::uint8_t, 16> options{};
  options[0] = 0xC7;
  options[1] = 0xFF;
  const Bytes frame = BuildOptionFrame(options);
  ASSERT_EQ(frame.size(), 22U);
  EXPECT_EQ((Bytes(frame.begin(), frame.begin() + 6)), (Bytes{0x6A, 0x00, 0x16, 0x05, 0xC7, 0xFF}));
  EXPECT_TRUE(std::all_of(frame.begin() + 6, frame.begin() + 20, [](auto b) { return b == 0; }));
  EXPECT_EQ(frame[20], (0x6A + 0x16 + 0x05 + 0xC7 + 0xFF) % 256);
  EXPECT_EQ(frame[21], 0x16);
}

// Which frame answers which request: the one table every reply is matched by.
TEST(ExpectedReplies, EachRequestTakesOnlyItsOwnReply) {
  const Bytes data{1, 2, 3, 4};
  struct Case {
    const char* what;
    ExpectedReply expected;
    Bytes frame;
    bool matches;
    bool crc = false;
  };
  const ExpectedReply read = ReadReply(0x11280, 4);
  Bytes long260{0x00, 0x00, 0x12, 0x80, 0x01, 0x04};
  long260.resize(6 + 260, 0x33);
  const ExpectedReply write = WriteAcknowledge(0x0102, 0x5A);
  const Case cases[] = {
      {"read", read, ReplyFrame(0x00, {0x00, 0x01, 0x12, 0x80, 0x00, 0x04, 1, 2, 3, 4}), true},
      {"read, accepted code", read, ReplyFrame(0x80, {0, 0, 0x12, 0x80, 0x00, 0x04, 1, 2, 3, 4}),
       true},
      {"read, other code", read, ReplyFrame(0x01, {0, 0, 0x12, 0x80, 0x00, 0x04, 1, 2, 3, 4}),
       false},
      {"read, other low address", read, ReplyFrame(0x00, {0, 0, 0x12, 0x00, 0, 4, 1, 2, 3, 4}),
       false},
      {"read, other high address", read, ReplyFrame(0x00, {0, 0, 0x13, 0x80, 0, 4, 1, 2, 3, 4}),
       false},
      {"read, other count high", read, ReplyFrame(0x00, {0, 0, 0x12, 0x80, 1, 4, 1, 2, 3, 4}),
       false},
      {"read, other count", read, ReplyFrame(0x00, {0, 0, 0x12, 0x80, 0, 3, 1, 2, 3}), false},
      {"read, a byte short", read, ReplyFrame(0x00, {0, 0, 0x12, 0x80, 0, 4, 1, 2, 3}), false},
      {"read, a byte over", read, ReplyFrame(0x00, {0, 0, 0x12, 0x80, 0, 4, 1, 2, 3, 4, 5}), false},
      {"read of 260", ReadReply(0x1280, 0x104), ReplyFrame(0x00, long260), true},
      {"write, acknowledge", write, ReplyFrame(0x80, {}), true},
      {"write, refused", write, ReplyFrame(0x81, {}), false},
      {"write, page echo", write, ReplyFrame(0x80, {0x01, 0x02, 0x5A}), true},
      {"write, other page", write, ReplyFrame(0x80, {0x01, 0x03, 0x5A}), false},
      {"write, other page high", write, ReplyFrame(0x80, {0x00, 0x02, 0x5A}), false},
      {"write, other sum", write, ReplyFrame(0x80, {0x01, 0x02, 0x5B}), false},
      {"write, echo coded 03", write, ReplyFrame(0x03, {0x01, 0x02, 0x5A}), false},
      {"write, echo and more", write, ReplyFrame(0x80, {0x01, 0x02, 0x5A, 0x00}), false},
      {"write, echo cut short", write, ReplyFrame(0x80, {0x01, 0x02}), false},
      {"sums", PageSumsReply(2), ReplyFrame(0x0D, data), true},
      {"sums, accepted code", PageSumsReply(2), ReplyFrame(0x80, data), true},
      {"sums, other code", PageSumsReply(2), ReplyFrame(0x00, data), false},
      {"sums, one short", PageSumsReply(2), ReplyFrame(0x0D, {1, 2}), false},
      {"sums, one over", PageSumsReply(2), ReplyFrame(0x0D, {1, 2, 3, 4, 5, 6}), false},
      {"identity", ShortCommandReply(0x0A), ReplyFrame(0x0A, {0x01, 0xF1}), true},
      {"identity, accepted code", ShortCommandReply(0x0A), ReplyFrame(0x80, {0x01, 0xF1}), true},
      {"identity, options' code", ShortCommandReply(0x0A), ReplyFrame(0x01, {0x01, 0xF1}), false},
      {"identity, a byte short", ShortCommandReply(0x0A), ReplyFrame(0x0A, {0x01}), false},
      {"identity, a byte over", ShortCommandReply(0x0A), ReplyFrame(0x0A, {0x01, 0xF1, 0}), false},
      {"options", ShortCommandReply(0x01), ReplyFrame(0x01, {0xFF, 0xFB}), true},
      {"options, identity's code", ShortCommandReply(0x01), ReplyFrame(0x0A, {0xFF, 0xFB}), false},
      {"options, acknowledge", ShortCommandReply(0x01), ReplyFrame(0x80, {}), false},
      {"option echo", OptionEcho(), ReplyFrame(0x80, {0xC7, 0xFF}), true},
      {"option echo, coded 05", OptionEcho(), ReplyFrame(0x05, {0xC7, 0xFF}), true},
      {"option echo, coded 01", OptionEcho(), ReplyFrame(0x01, {0xC7, 0xFF}), false},
      {"option echo, acknowledge", OptionEcho(), ReplyFrame(0x80, {}), false},
      {"version", ShortCommandReply(0x0C), ReplyFrame(0x0C, {0x13}), true},
      {"version, accepted code", ShortCommandReply(0x0C), ReplyFrame(0x80, {0x13}), false},
      {"version, no byte", ShortCommandReply(0x0C), ReplyFrame(0x0C, {}), false},
      {"erase", ShortCommandReply(0x08), ReplyFrame(0x80, {}), true},
      {"erase, echo", ShortCommandReply(0x08), ReplyFrame(0x08, {}), true},
      {"erase, identity", ShortCommandReply(0x08), ReplyFrame(0x0A, {0x01, 0xF1}), false},
      {"blank acknowledge", ShortCommandReply(0x09), ReplyFrame(0x80, {}), true},
      {"blank acknowledge, result", ShortCommandReply(0x09), ReplyFrame(0x09, data), false},
      {"blank result", BlankCheckResult(), ReplyFrame(0x09, data), true},
      {"blank result, any code", BlankCheckResult(), ReplyFrame(0x80, data), true},
      {"blank result, acknowledge", BlankCheckResult(), ReplyFrame(0x80, {}), false},
      {"blank result, cut short", BlankCheckResult(), ReplyFrame(0x09, {1, 2, 3}), false},
      {"blank result, no code", BlankCheckResult(), Bytes{0x68, 0x00, 0x05, 0x6D, 0x16}, false},
      {"handshake", ShortCommandReply(0x80), ReplyFrame(0x0A, {0x01, 0xF1}), true},
      {"board query", ShortCommandReply(0x0E), ReplyFrame(0x0E, {0x00, 0x33}, true), true, true},
      {"board query, a byte short", ShortCommandReply(0x0E), ReplyFrame(0x0E, {0x00}, true), false,
       true},
      {"board erase", ShortCommandReply(0x84), ReplyFrame(0x80, {}, true), true, true},
      {"board erase, refused", ShortCommandReply(0x84), ReplyFrame(0x81, {}, true), false, true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.expected.Matches(c.frame.data(), c.frame.size(), c.crc ? 2 : 1), c.matches)
        << c.what;
  }
}

}  // namespace
}  // namespace kvr
