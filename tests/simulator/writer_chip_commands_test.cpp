// The commands that act on the target chip, against frames and replies written out by hand.

#include <gtest/gtest.h>

#include <functional>

#include "simulator/writer_simulator.h"
#include "test_bytes.h"

namespace kvr::sim::test {
namespace {

const Bytes kReadOptions = Hex("46 B9 6A 00 08 01 02 00 75 16");
const Bytes kProgramFdFb = Hex("6A 00 16 05 FD FB 00 00 00 00 00 00 00 00 00 00 00 00 00 00 7D 16");

// Addresses 0x000..0x2FF hold their own low byte.
void LoadCounting(WriterSimulator& sim) {
  Bytes image(0x300);
  for (std::size_t a = 0; a < image.size(); ++a) image[a] = static_cast<std::uint8_t>(a);
  ASSERT_TRUE(sim.Chip().Load(0, image));
}

// 6A, length, 0D, start and end address (big-endian), sum, 16.
Bytes SumsFrame(std::uint32_t start, std::uint32_t end) {
  Bytes f = {0x6A, 0x00, 0x0E, 0x0D};
  for (const std::uint32_t v : {start, end})
    for (int shift = 24; shift >= 0; shift -= 8) f.push_back(static_cast<std::uint8_t>(v >> shift));
  f.push_back(TestSum(f));
  f.push_back(0x16);
  return f;
}

TEST(ChipCommands, EachCommandIsAnsweredByteForByteAfterItsWork) {
  struct Case {
    const char* name;
    std::function<void(WriterSimulator&)> setup;
    Bytes frame;
    std::vector<Transmission> sent;  // delays: latency 200 us plus the command's own work
    std::function<void(const WriterSimulator&)> after = nullptr;
  };
  const Case cases[] = {
      {"erase",
       [](WriterSimulator& s) {
         LoadCounting(s);
         s.Chip().SetOptions(0xFE, 0xFB);
       },
       kErase,
       {{40200, kAck}},
       [](const WriterSimulator& s) {
         EXPECT_EQ(s.Flash(), Bytes(0x12401, 0xFF));
         EXPECT_EQ(s.Chip().Or0(), 0xFF);
         EXPECT_EQ(s.Chip().Or1(), 0xFF);
       }},
      {"read options",
       [](WriterSimulator& s) { s.Chip().SetOptions(0xFD, 0xFB); },
       kReadOptions,
       {{200, Hex("68 00 08 01 FD FB 69 16")}}},
      {"program options (rewritten, not ANDed)",
       [](WriterSimulator& s) { s.Chip().SetOptions(0x00, 0x04); },
       kProgramFdFb,
       {{1200, Hex("68 00 08 80 FD FB E8 16")}},
       [](const WriterSimulator& s) {
         EXPECT_EQ(s.Chip().Or0(), 0xFD);
         EXPECT_EQ(s.Chip().Or1(), 0xFB);
       }},
      {"blank check, blank chip",
       [](WriterSimulator&) {},
       kBlankCheck,
       {{200, kAck}, {30200, kBlankResult}}},
      {"blank check, 02 at 0100",
       [](WriterSimulator& s) { ASSERT_TRUE(s.Chip().Load(0x100, Bytes{0x02})); },
       kBlankCheck,
       {{200, kAck}, {30200, Hex("68 00 0A 09 00 01 00 02 7E 16")}}},
      {"blank check ignores the option registers",
       [](WriterSimulator& s) { s.Chip().SetOptions(0xFF, 0xFB); },
       kBlankCheck,
       {{200, kAck}, {30200, kBlankResult}}},
      {"page sums, one segment",
       LoadCounting,
       Hex("6A 00 0E 0D 00 00 00 00 00 00 00 FF 84 16"),
       {{200, Hex("68 00 08 0D 7F 80 7C 16")}}},
      {"page sums, two segments",
       LoadCounting,
       Hex("6A 00 0E 0D 00 00 00 F0 00 00 01 10 86 16"),
       {{200, Hex("68 00 0A 0D 0F 78 00 88 8E 16")}}},
      {"read",
       LoadCounting,
       Hex("6A 00 0C 00 00 00 01 00 00 04 7B 16"),
       {{200, Hex("68 00 10 00 00 00 01 00 00 04 00 01 02 03 83 16")}}},
      {"first chunk, page echo",
       [](WriterSimulator&) {},
       Hex("6A 00 10 04 00 00 01 80 00 04 11 22 33 44 AD 16"),
       {{1200, Hex("68 00 09 80 00 03 AA 9E 16")}},
       [](const WriterSimulator& s) {
         EXPECT_EQ(Bytes(s.Flash().begin() + 0x17F, s.Flash().begin() + 0x185),
                   Hex("FF 11 22 33 44 FF"));
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WriterSimulator sim;
    c.setup(sim);
    const auto sent = sim.Receive(c.frame, 5000);
    ASSERT_EQ(sent.size(), c.sent.size());
    for (std::size_t i = 0; i < sent.size(); ++i) {
      EXPECT_EQ(sent[i].delayUs, c.sent[i].delayUs);
      EXPECT_EQ(ToHexLine(sent[i].bytes), ToHexLine(c.sent[i].bytes));
    }
    if (c.after) c.after(sim);
    EXPECT_EQ(sim.InjectedFaults().Total(), 0u);
  }
}

TEST(ChipCommands, ChunkWritesAndTheirAcknowledges) {
  WriterSimulator sim;
  // The second write ANDs into the first.
  EXPECT_EQ(Joined(sim.Receive(Block(0x04, 0x0180, Hex("F0 0F 3C FF")), 0)),
            Hex("68 00 09 80 00 03 3A 2E 16"));
  EXPECT_EQ(Joined(sim.Receive(Hex("6A 00 10 03 00 00 01 80 00 04 3C FF 0F 00 4C 16"), 0)),
            Hex("68 00 09 80 00 03 4A 3E 16"));
  EXPECT_EQ(Bytes(sim.Flash().begin() + 0x180, sim.Flash().begin() + 0x184), Hex("30 0F 0C 00"));

  // A full chunk: page 1, the sum of its data. The page is that of the address as sent.
  const Bytes chunk = Pattern(128, 9);
  EXPECT_EQ(Joined(sim.Receive(Block(0x03, 0x0080, chunk), 0)),
            ReplyFrame(0x80, {0x00, 0x01, TestSum(chunk)}));
  EXPECT_EQ(Joined(sim.Receive(Block(0x03, 0x00012380, chunk), 0)),
            ReplyFrame(0x80, {0x02, 0x47, TestSum(chunk)}));

  sim.Config().writeAck = WriteAck::Short;
  EXPECT_EQ(Joined(sim.Receive(Block(0x04, 0x0000, chunk), 0)), kAck);

  const Bytes before = sim.Flash();
  const Bytes refused[] = {
      Block(0x03, 0x12400 - 15, Pattern(17, 4)),   // beyond the flash
      Block(0x04, 0xFFFFFFF0u, Pattern(32, 4)),    // wraps 2^32
      Block(0x04, 0x100, Pattern(64, 4), 128),     // count > data
      Block(0x04, 0x100, Pattern(64, 4), 32),      // count < data
      Hex("6A 00 0C 04 00 00 01 00 00 04 7F 16"),  // count 4, no data
  };
  for (const Bytes& frame : refused) {
    SCOPED_TRACE(ToHexLine(frame));
    EXPECT_TRUE(sim.Receive(frame, 0).empty());
  }
  EXPECT_EQ(sim.Flash(), before);
  EXPECT_EQ(Joined(sim.Receive(Block(0x03, 0x12400 - 15, Pattern(16, 4)), 0)), kAck);

  sim.Chip().SetFlashSize(0x4000);
  EXPECT_TRUE(sim.Receive(Block(0x03, 0x3F80, Pattern(129, 4)), 0).empty());
  EXPECT_EQ(Joined(sim.Receive(Block(0x03, 0x3F80, Pattern(128, 4)), 0)), kAck);
}

TEST(ChipCommands, ReadsThatWouldOverrunTheStationOrTheFlashAreNotAnswered) {
  WriterSimulator sim;
  LoadCounting(sim);
  // 519 bytes make a 531-byte reply, the most the station's buffer holds.
  const Bytes longest = Joined(sim.Receive(Block(0x00, 0x0000, {}, 519), 0));
  ASSERT_EQ(longest.size(), 531u);
  EXPECT_EQ(Bytes(longest.begin(), longest.begin() + 13),
            Hex("68 02 13 00 00 00 00 00 02 07 00 01 02"));
  EXPECT_TRUE(sim.Receive(Block(0x00, 0x0000, {}, 520), 0).empty());

  // The data area is the same flash; the reply carries the address as asked.
  ASSERT_TRUE(sim.Chip().Load(0xFF80, Pattern(128, 3)));
  EXPECT_EQ(Joined(sim.Receive(Block(0x00, 0xFF80, {}, 128), 0)),
            ReplyFrame(0x00, Cat(Hex("00 00 FF 80 00 80"), Pattern(128, 3))));
  EXPECT_EQ(Joined(sim.Receive(Block(0x00, 0x12400, {}, 1), 0)),
            Hex("68 00 0D 00 00 01 24 00 00 01 FF 9A 16"));
  EXPECT_TRUE(sim.Receive(Block(0x00, 0x12400, {}, 2), 0).empty());
  EXPECT_TRUE(sim.Receive(Block(0x00, 0xFFFFFFFFu, {}, 2), 0).empty());
  EXPECT_EQ(Joined(sim.Receive(Block(0x00, 0x0010, {}, 0), 0)),
            Hex("68 00 0C 00 00 00 00 10 00 00 84 16"));
}

TEST(ChipCommands, PageSumRangesWhoseReplyWouldNotFitAreNotAnswered) {
  WriterSimulator sim;
  // 262 segments: 4 + 524 + 2 = 530 bytes.
  const Bytes most = Joined(sim.Receive(SumsFrame(0x0000, 262 * 256 - 1), 0));
  ASSERT_EQ(most.size(), 530u);
  EXPECT_EQ(Bytes(most.begin(), most.begin() + 6), Hex("68 02 12 0D FF 00"));
  EXPECT_TRUE(sim.Receive(SumsFrame(0x0000, 262 * 256), 0).empty());
  EXPECT_TRUE(sim.Receive(SumsFrame(0x0200, 0x01FF), 0).empty());    // end before start
  EXPECT_TRUE(sim.Receive(SumsFrame(0x12300, 0x12401), 0).empty());  // beyond the flash
  EXPECT_TRUE(sim.Receive(SumsFrame(0x0000, 0xFFFFFFFFu), 0).empty());
  EXPECT_EQ(Joined(sim.Receive(SumsFrame(0x12400, 0x12400), 0)), Hex("68 00 08 0D 00 FF 7C 16"));
}

TEST(ChipCommands, ALockedChipReadsErasedUntilItsOptionsUnlockIt) {
  WriterSimulator sim;
  LoadCounting(sim);
  const Bytes lock = Hex("6A 00 16 05 FE FF 00 00 00 00 00 00 00 00 00 00 00 00 00 00 82 16");
  const Bytes handshake = Hex("46 B9 6A 00 08 80 0B F0 ED 16");
  EXPECT_EQ(Joined(sim.Receive(lock, 0)), Hex("68 00 08 80 FE FF ED 16"));
  // The options take effect when the chip is next powered, at the next session's handshake.
  EXPECT_EQ(Joined(sim.Receive(Hex("6A 00 0C 00 00 00 01 00 00 04 7B 16"), 0)),
            Hex("68 00 10 00 00 00 01 00 00 04 00 01 02 03 83 16"));
  EXPECT_FALSE(sim.Receive(handshake, 0).empty());

  EXPECT_EQ(Joined(sim.Receive(Hex("6A 00 0C 00 00 00 01 00 00 04 7B 16"), 0)),
            Hex("68 00 10 00 00 00 01 00 00 04 FF FF FF FF 79 16"));
  EXPECT_EQ(Joined(sim.Receive(SumsFrame(0x0000, 0x00FF), 0)), Hex("68 00 08 0D FF 00 7C 16"));
  // What a programmer sees is blank; the option test tells the station otherwise.
  EXPECT_EQ(Joined(sim.Receive(kBlankCheck, 0)), Cat(kAck, kBlankResult));
  EXPECT_EQ(Joined(sim.Receive(kReadOptions, 0)), Hex("68 00 08 01 FE FF 6E 16"));

  EXPECT_EQ(Joined(sim.Receive(kProgramFdFb, 0)), Hex("68 00 08 80 FD FB E8 16"));
  EXPECT_FALSE(sim.Receive(handshake, 0).empty());
  EXPECT_EQ(Joined(sim.Receive(Hex("6A 00 0C 00 00 00 01 00 00 04 7B 16"), 0)),
            Hex("68 00 10 00 00 00 01 00 00 04 00 01 02 03 83 16"));
}

TEST(ChipCommands, TheWriterWorksOneCommandAfterTheOther) {
  WriterSimulator sim;
  ASSERT_EQ(sim.Receive(kErase, 0).size(), 1u);
  // Arrives during the erase: waits for it to end, then takes its own latency.
  const auto version = sim.Receive(kVersion, 1000);
  ASSERT_EQ(version.size(), 1u);
  EXPECT_EQ(version[0].delayUs, 40000 + 200 - 1000);

  const auto blank = sim.Receive(kBlankCheck, 100000);
  ASSERT_EQ(blank.size(), 2u);
  const auto options = sim.Receive(kReadOptions, 100000);
  ASSERT_EQ(options.size(), 1u);
  EXPECT_EQ(options[0].delayUs, 30000 + 200);
  // Without work, latency does not pile up: a slow writer still answers each frame in time.
  WriterSimulator slow({.latencyUs = 25000});
  EXPECT_EQ(slow.Receive(kVersion, 0)[0].delayUs, 25000);
  EXPECT_EQ(slow.Receive(kVersion, 20000)[0].delayUs, 25000);

  // With wire time: 12 bytes in, the writer's 1 ms, 140 bytes out at 10 bits a byte.
  WriterSimulator wire({.wireTime = true});
  const auto read = wire.Receive(Block(0x00, 0, {}, 128), 0);
  ASSERT_EQ(read.size(), 1u);
  EXPECT_NEAR(read[0].delayUs, 1042 + 200 + 12153, 3);
  const auto write = wire.Receive(Block(0x04, 0, Pattern(128, 0)), 20000);
  ASSERT_EQ(write.size(), 1u);
  EXPECT_NEAR(write[0].delayUs, 12153 + 200 + 1000 + 782, 3);
}

}  // namespace
}  // namespace kvr::sim::test
