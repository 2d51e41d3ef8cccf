// The writer's injected faults: counted ones, random ones, and the record of what was injected.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "simulator/writer_simulator.h"
#include "test_bytes.h"

namespace kvr::sim::test {
namespace {

// The record holds exactly these counts, everything else zero.
void ExpectRecord(const WriterSimulator& sim, std::initializer_list<std::pair<Fault, int>> want) {
  FaultRecord expected;
  for (const auto& [fault, n] : want) expected.counts[static_cast<std::size_t>(fault)] = n;
  for (std::size_t k = 0; k < kFaultKinds; ++k) {
    EXPECT_EQ(sim.InjectedFaults().counts[k], expected.counts[k])
        << FaultName(static_cast<Fault>(k));
  }
}

TEST(CountedFaults, DropAndCorruptCountEveryReplyIncludingBlankResults) {
  WriterSimulator sim({.dropNth = 2, .corruptNth = 4});
  EXPECT_EQ(Joined(sim.Receive(kHandshake, 0)), kAck);
  EXPECT_TRUE(sim.Receive(kVersion, 0).empty());
  // Replies 3 and 4: the acknowledge, then the result with a wrong check value.
  EXPECT_EQ(Joined(sim.Receive(kBlankCheck, 0)), Cat(kAck, Hex("68 00 0A 09 FF FF FF FF 78 16")));
  EXPECT_EQ(Joined(sim.Receive(kVersion, 0)), kVersionReply);
  ExpectRecord(sim, {{Fault::Silent, 1}, {Fault::BadCheck, 1}});
}

TEST(CountedFaults, ALostWriteIsAcknowledgedLikeAnyOther) {
  WriterSimulator sim({.loseWriteNth = 2});
  const Bytes chunks[] = {Pattern(128, 1), Pattern(128, 2), Pattern(128, 3)};
  for (std::uint32_t i = 0; i < 3; ++i) {
    EXPECT_EQ(Joined(sim.Receive(Block(i == 0 ? 0x04 : 0x03, i * 128, chunks[i]), 0)),
              ReplyFrame(0x80, {0x00, static_cast<std::uint8_t>(i), TestSum(chunks[i])}));
  }
  Bytes expected(0x12401, 0xFF);
  std::ranges::copy(chunks[0], expected.begin());
  std::ranges::copy(chunks[2], expected.begin() + 256);
  EXPECT_EQ(sim.Flash(), expected);
  ExpectRecord(sim, {{Fault::WriteLost, 1}});
}

TEST(CountedFaults, AFlippedReadBitComesWithAGoodCheckValue) {
  WriterSimulator sim({.flipReadNth = 2});
  ASSERT_TRUE(sim.Chip().Load(0x1230, Hex("55 66")));
  const Bytes read = Block(0x00, 0x1230, {}, 2);
  const Bytes good = Hex("68 00 0E 00 00 00 12 30 00 02 55 66 75 16");
  EXPECT_EQ(Joined(sim.Receive(read, 0)), good);
  EXPECT_EQ(Joined(sim.Receive(read, 0)), Hex("68 00 0E 00 00 00 12 30 00 02 54 66 74 16"));
  EXPECT_EQ(Joined(sim.Receive(read, 0)), good);
  EXPECT_EQ(sim.Flash()[0x1230], 0x55);
  ExpectRecord(sim, {{Fault::BitFlipped, 1}});
}

TEST(CountedFaults, NoBlankResultLeavesOnlyTheAcknowledge) {
  WriterSimulator sim({.blankResult = false});
  EXPECT_EQ(Joined(sim.Receive(kBlankCheck, 0)), kAck);
  EXPECT_EQ(Joined(sim.Receive(kBlankCheck, 0)), kAck);
  ExpectRecord(sim, {{Fault::NoBlankResult, 2}});
  sim.Config().blankResult = true;
  const auto sent = sim.Receive(kBlankCheck, 0);
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[1].bytes, kBlankResult);
}

TEST(CountedFaults, ADeadLineNeitherAnswersNorActs) {
  WriterSimulator sim({.deadAfter = 2});
  EXPECT_EQ(Joined(sim.Receive(Cat(kHandshake, Hex("46 B9 6A 00 08 80 02 F0 E5 16")), 0)), kAck);
  EXPECT_EQ(Joined(sim.Receive(kVersion, 0)), kVersionReply);  // a bad frame does not count
  ASSERT_TRUE(sim.Chip().Load(0, Hex("00")));
  EXPECT_TRUE(sim.Receive(kErase, 0).empty());
  EXPECT_TRUE(sim.Receive(Block(0x04, 0x0100, Hex("00")), 0).empty());
  EXPECT_EQ(sim.Flash()[0], 0x00);
  EXPECT_EQ(sim.Flash()[0x100], 0xFF);
  EXPECT_EQ(sim.ReceivedFrames().size(), 5u);  // still recorded for the test to see
}

TEST(CountedFaults, TheOlderFaultSettingsAreRecordedToo) {
  WriterSimulator sim({.fault = Fault::Garbage, .faultCount = 2});
  for (int i = 0; i < 3; ++i) sim.Receive(kHandshake, 0);
  sim.Config().fault = Fault::Silent;
  sim.Config().faultCount = -1;
  sim.Receive(kHandshake, 0);
  ExpectRecord(sim, {{Fault::Garbage, 2}, {Fault::Silent, 1}});
  EXPECT_EQ(sim.InjectedFaults().Total(), 3u);
}

TEST(CountedFaults, LateTwiceAndForAnotherAddress) {
  WriterSimulator sim({.latencyUs = 200, .lateNth = 1, .duplicateNth = 2, .wrongAddressNth = 2});
  auto sent = sim.Receive(kHandshake, 0);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].delayUs, 200 + 800000);  // past the station's 700 ms time-out
  // Sent twice, the second copy 2 ms after the first has left.
  sent = sim.Receive(kVersion, 1'000'000);
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0].bytes, kVersionReply);
  EXPECT_EQ(sent[1].bytes, kVersionReply);
  EXPECT_EQ(sent[1].delayUs - sent[0].delayUs, 2000);

  // The second read answers with the bytes of the neighbouring 128, and names their address.
  ASSERT_TRUE(sim.Chip().Load(0x1230, Hex("55 66")));
  ASSERT_TRUE(sim.Chip().Load(0x12B0, Hex("77 88")));
  const Bytes read = Block(0x00, 0x1230, {}, 2);
  const Bytes own = Hex("68 00 0E 00 00 00 12 30 00 02 55 66 75 16");
  EXPECT_EQ(Joined(sim.Receive(read, 2'000'000)), own);
  EXPECT_EQ(Joined(sim.Receive(read, 3'000'000)), Hex("68 00 0E 00 00 00 12 B0 00 02 77 88 39 16"));
  EXPECT_EQ(Joined(sim.Receive(read, 4'000'000)), own);
  ExpectRecord(sim, {{Fault::Late, 1}, {Fault::Duplicate, 1}, {Fault::WrongAddress, 1}});
}

TEST(CountedFaults, TheBlankCheckAcknowledgeTwiceThenItsResult) {
  WriterSimulator sim({.blankAckTwice = true});
  EXPECT_EQ(Joined(sim.Receive(kBlankCheck, 0)), Cat(Cat(kAck, kAck), kBlankResult));
}

TEST(CountedFaults, OneRequestBehind) {
  WriterSimulator sim({.behindAfter = 1});
  EXPECT_EQ(Joined(sim.Receive(kHandshake, 0)), kAck);
  // From the second reply on each request gets the reply the one before it earned.
  EXPECT_TRUE(sim.Receive(kVersion, 0).empty());
  EXPECT_EQ(Joined(sim.Receive(kHandshake, 0)), kVersionReply);
  EXPECT_EQ(Joined(sim.Receive(kVersion, 0)), kAck);
}

TEST(CountedFaults, AStreamingWriterSendsTextWithoutEndAndNoFrame) {
  WriterSimulator sim({.streamAfter = 1});
  EXPECT_EQ(Joined(sim.Receive(kHandshake, 0)), kAck);
  EXPECT_FALSE(sim.Streaming());
  const auto sent = sim.Receive(kVersion, 1'000'000);
  EXPECT_TRUE(sim.Streaming());
  // A chunk every 8 ms for the ten seconds ahead, none holding the start of a reply.
  ASSERT_EQ(sent.size(), 1251u);
  EXPECT_EQ(sent[1].delayUs - sent[0].delayUs, 8000);
  EXPECT_EQ(std::string(sent[0].bytes.begin(), sent[0].bytes.end()), "WRITER BUSY 000000\r\n");
  for (const auto& t : sent) EXPECT_EQ(std::ranges::count(t.bytes, 0x68), 0);
  // Nothing more is carried out or answered; the stream goes on without being asked.
  ASSERT_TRUE(sim.Chip().Load(0, Hex("00")));
  EXPECT_EQ(sim.Receive(kErase, 1'000'000).size(), 0u);
  EXPECT_EQ(sim.Flash()[0], 0x00);
  EXPECT_TRUE(sim.Unprompted(2'000'000).empty());
  const auto later = sim.Unprompted(7'000'000);
  ASSERT_FALSE(later.empty());
  EXPECT_EQ(later[0].delayUs, 11'008'000 - 7'000'000);
}

// Every command that can be faulted in its own way, over and over.
Bytes SoakScript() {
  Bytes script = Cat(Cat(kHandshake, kVersion), Cat(kErase, kBlankCheck));
  for (std::uint32_t page = 0; page < 8; ++page) {
    script = Cat(script, Block(page == 0 ? 0x04 : 0x03, page * 128, Pattern(128, page)));
    script = Cat(script, Block(0x00, page * 128, {}, 128));
  }
  return Cat(script, Hex("6A 00 0E 0D 00 00 00 00 00 00 03 FF 87 16"));
}

struct SoakRun {
  std::vector<Transmission> sent;
  FaultRecord record;
  Bytes flash;
};

SoakRun Soak(std::uint64_t seed, double rate) {
  WriterSimulator sim({.randomFaultRate = rate, .seed = seed});
  SoakRun run;
  const Bytes script = SoakScript();
  for (int round = 0; round < 200; ++round) {
    for (auto& t : sim.Receive(script, round * 1'000'000)) run.sent.push_back(std::move(t));
  }
  run.record = sim.InjectedFaults();
  run.flash = sim.Flash();
  return run;
}

bool Same(const SoakRun& a, const SoakRun& b) {
  if (a.sent.size() != b.sent.size() || a.record.counts != b.record.counts) return false;
  for (std::size_t i = 0; i < a.sent.size(); ++i) {
    if (a.sent[i].delayUs != b.sent[i].delayUs || a.sent[i].bytes != b.sent[i].bytes) return false;
  }
  return a.flash == b.flash;
}

TEST(RandomFaults, TheSameSeedGivesTheSameRunAndEveryKindOccurs) {
  const SoakRun first = Soak(7, 0.3);
  EXPECT_TRUE(Same(first, Soak(7, 0.3)));
  EXPECT_FALSE(Same(first, Soak(8, 0.3)));
  for (std::size_t k = 1; k < kFaultKinds; ++k) {
    EXPECT_GT(first.record.counts[k], 0u) << FaultName(static_cast<Fault>(k));
  }
  // 200 rounds of 22 replies (the blank check has two) at 30 %: about 1320.
  EXPECT_NEAR(static_cast<double>(first.record.Total()), 1320, 150);
  EXPECT_EQ(Soak(7, 0).record.Total(), 0u);
}

TEST(RandomFaults, EachReplyGetsOneFaultAtMost) {
  WriterSimulator sim({.randomFaultRate = 1.0, .seed = 3});
  std::uint64_t replies = 0;
  for (int i = 0; i < 500; ++i) {
    sim.Receive(kVersion, i * 1'000'000);
    sim.Receive(Block(0x00, 0, {}, 16), i * 1'000'000 + 500'000);
    replies += 2;
  }
  EXPECT_EQ(sim.InjectedFaults().Total(), replies);
  // Neither write nor blank-check faults can hit a version or a read reply.
  EXPECT_EQ(sim.InjectedFaults()[Fault::WriteLost], 0u);
  EXPECT_EQ(sim.InjectedFaults()[Fault::NoBlankResult], 0u);
  EXPECT_GT(sim.InjectedFaults()[Fault::BitFlipped], 0u);
}

}  // namespace
}  // namespace kvr::sim::test
