#include "simulator/writer_simulator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "test_bytes.h"

namespace kvr::sim::test {
namespace {

TEST(Replies, EachCommandIsAnsweredExactlyInItsOwnMode) {
  struct Case {
    Bytes frame;
    Bytes reply;  // empty: no reply
    std::uint8_t version = 0x13;
  };
  const Case cases[] = {
      {kHandshake, kAck},
      {kVersion, kVersionReply},
      {kVersion, Hex("68 00 07 0C 0A 85 16"), 0x0A},
      {Hex("46 B9 6A 00 08 82 02 00 F6 16"), kAck},  // stop
      {Hex("46 B9 6A 00 09 80 02 F0 0A 41 16"), Hex("68 00 07 80 1F D4 16")},
      {Hex("46 B9 6A 00 09 0C 02 00 CB EE 16"), Hex("68 00 08 0C 13 80 C6 16")},
      {Hex("46 B9 6A 00 08 0A 02 00 7E 16"), Hex("68 00 08 0A 01 F1 6C 16")},  // identity
      {Hex("46 B9 6A 00 09 0A 02 00 2B EF 16"), Hex("68 00 09 0A 01 F1 EB 79 16")},
      {Hex("46 B9 6A 00 08 0B 02 00 7F 16"), {}},     // unknown command
      {Hex("46 B9 6A 00 08 80 02 00 F4 16"), {}},     // handshake without 0xF0
      {Hex("46 B9 6A 00 08 04 02 00 78 16"), {}},     // write as a short frame
      {Hex("46 B9 6A 00 09 0B 02 00 7A 2F 16"), {}},  // unknown, CRC mode
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(ToHexLine(c.frame));
    WriterSimulator sim({.versionByte = c.version});
    const auto sent = sim.Receive(c.frame, 1000);
    ASSERT_EQ(sent.size(), c.reply.empty() ? 0u : 1u);
    for (const auto& t : sent) EXPECT_EQ(t.delayUs, 200);
    EXPECT_EQ(Joined(sent), c.reply);
    EXPECT_EQ(sim.ReceivedFrames(), std::vector<Bytes>{c.frame});
  }
}

TEST(Replies, IdentityIsTheChipsAndAMissingChipIsSilent) {
  WriterSimulator sim({.chipIdentity = 0x10F4});
  EXPECT_EQ(Joined(sim.Receive(Hex("46 B9 6A 00 08 0A 0B 00 87 16"), 0)),
            Hex("68 00 08 0A F4 10 7E 16"));
  sim.Config().chipIdentity.reset();
  EXPECT_TRUE(sim.Receive(Hex("46 B9 6A 00 08 0A 0B 00 87 16"), 0).empty());
}

TEST(StreamParsing, SingleBytesAndGluedFramesGiveTheSameReplies) {
  const Bytes stream = Cat(Cat(kHandshake, kVersion), kHandshake);
  WriterSimulator glued;
  EXPECT_EQ(Joined(glued.Receive(stream, 0)), Cat(Cat(kAck, kVersionReply), kAck));

  WriterSimulator single;
  std::vector<std::size_t> repliedAt;
  for (std::size_t i = 0; i < stream.size(); ++i) {
    if (!single.Receive(&stream[i], 1, static_cast<std::int64_t>(i)).empty())
      repliedAt.push_back(i);
  }
  EXPECT_EQ(repliedAt, (std::vector<std::size_t>{9, 19, 29}));  // each on its end byte
  EXPECT_EQ(single.ReceivedFrames(), glued.ReceivedFrames());
  EXPECT_EQ(glued.ReceivedFrames(), (std::vector<Bytes>{kHandshake, kVersion, kHandshake}));
}

TEST(StreamParsing, JunkAndBadFramesGetNoReplyAndHideNoGoodFrame) {
  WriterSimulator sim;
  const Bytes bare = Hex("6A 00 08 0C 02 00 80 16");  // no preamble
  const Bytes absurd = Hex("00 16 6A 00 03 6A 0F FF B9 46");
  EXPECT_EQ(Joined(sim.Receive(Cat(Cat(absurd, kHandshake), bare), 0)), Cat(kAck, kVersionReply));

  const Bytes badCheck = Hex("46 B9 6A 00 08 80 02 F0 E5 16");
  EXPECT_TRUE(sim.Receive(badCheck, 0).empty());
  EXPECT_TRUE(sim.Receive(Hex("46 B9 6A 00 08 80 02 F0 E4 17"), 0).empty());  // not recorded
  EXPECT_EQ(sim.ReceivedFrames(), (std::vector<Bytes>{kHandshake, bare, badCheck}));

  // A bogus length holds later frames back only until its end byte proves it wrong.
  EXPECT_TRUE(sim.Receive(Cat(Hex("6A 00 12"), kHandshake), 0).empty());
  EXPECT_EQ(Joined(sim.Receive(kVersion, 0)), Cat(kAck, kVersionReply));

  // A frame failing its check value may hold a good one.
  Bytes outer = Block(0x04, 0, kHandshake);
  outer[outer.size() - 2] ^= 1;
  EXPECT_EQ(Joined(sim.Receive(outer, 0)), kAck);
  EXPECT_EQ(sim.Flash()[0], 0xFF);
  EXPECT_EQ(sim.ReceivedFrames().back(), kHandshake);
}

TEST(StreamParsing, SilenceDropsAnIncompleteFrame) {
  WriterSimulator sim;
  EXPECT_TRUE(sim.Receive(Hex("6A 02 00"), 0).empty());  // announces 512 bytes
  EXPECT_TRUE(sim.Receive(kHandshake, 100000).empty());  // not yet longer than the gap
  EXPECT_EQ(Joined(sim.Receive(kHandshake, 200001)), kAck);
  EXPECT_EQ(sim.ReceivedFrames(), std::vector<Bytes>{kHandshake});

  // A slow frame within the gap still counts.
  EXPECT_TRUE(sim.Receive(Bytes(kHandshake.begin(), kHandshake.begin() + 5), 300000).empty());
  EXPECT_EQ(Joined(sim.Receive(Bytes(kHandshake.begin() + 5, kHandshake.end()), 390000)), kAck);
}

TEST(Faults, EachKindShapesTheReply) {
  struct Case {
    Fault fault;
    std::vector<Transmission> sent;
  };
  const Case cases[] = {
      {Fault::Silent, {}},
      {Fault::BadCheck, {{200, Hex("68 00 06 80 EF 16")}}},
      {Fault::BadEnd, {{200, Hex("68 00 06 80 EE 17")}}},
      {Fault::Garbage, {{200, Hex("00 55 16 AA 68 00 06 80 EE 16")}}},
      {Fault::Split, {{200, Hex("68 00 06")}, {50200, Hex("80 EE 16")}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.fault));
    WriterSimulator sim({.fault = c.fault});
    const auto sent = sim.Receive(kHandshake, 5);
    ASSERT_EQ(sent.size(), c.sent.size());
    for (std::size_t i = 0; i < sent.size(); ++i) {
      EXPECT_EQ(sent[i].delayUs, c.sent[i].delayUs);
      EXPECT_EQ(sent[i].bytes, c.sent[i].bytes);
    }
  }
  for (const Bytes& frame : {kHandshake, Hex("46 B9 6A 00 09 80 02 F0 0A 41 16")}) {
    WriterSimulator sim({.fault = Fault::LongLength});
    const Bytes reply = Joined(sim.Receive(frame, 0));
    ASSERT_EQ(reply.size(), 600u);  // as its length field says, beyond 531
    EXPECT_EQ(Bytes(reply.begin(), reply.begin() + 4), Hex("68 02 58 80"));
    EXPECT_EQ(reply.back(), 0x16);
  }
}

TEST(Faults, CommandAndCountSelectTheFaultedReplies) {
  WriterSimulator sim({.fault = Fault::BadCheck, .faultCommand = 0x0C, .faultCount = 2});
  const Bytes badVersion = Hex("68 00 07 0C 13 8F 16");
  const std::pair<Bytes, Bytes> steps[] = {{kHandshake, kAck},
                                           {kVersion, badVersion},
                                           {kHandshake, kAck},
                                           {kVersion, badVersion},
                                           {kVersion, kVersionReply}};
  for (const auto& [frame, reply] : steps) EXPECT_EQ(Joined(sim.Receive(frame, 0)), reply);
  // New fault settings start their own count; a CRC reply gets a wrong CRC.
  sim.Config().faultCount = 1;
  EXPECT_EQ(Joined(sim.Receive(Hex("46 B9 6A 00 09 0C 02 00 CB EE 16"), 0)),
            Hex("68 00 08 0C 13 81 C6 16"));
  EXPECT_EQ(Joined(sim.Receive(kVersion, 0)), kVersionReply);
}

TEST(Handshakes, OnlyEveryTenthIsAnswered) {
  WriterSimulator sim({.handshakeEvery = 10});
  std::vector<int> answered;
  for (int n = 1; n <= 25; ++n) {
    if (!sim.Receive(kHandshake, n).empty()) answered.push_back(n);
    EXPECT_EQ(Joined(sim.Receive(kVersion, n)), kVersionReply);  // not counted
  }
  EXPECT_EQ(answered, (std::vector<int>{10, 20}));
}

TEST(Timing, RepliesWaitForTheLineAndNeverOvertakeEachOther) {
  // 10 bits a byte at 115200: frame 868.1 us, reply 520.8 us, plus 200 us latency.
  WriterSimulator wire({.wireTime = true});
  const auto sent = wire.Receive(kHandshake, 7000);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_NEAR(sent[0].delayUs, 1589, 3);

  // Glued frames with 26-byte replies: the second reply waits for the first to be sent.
  WriterSimulator queued({.latencyUs = 0, .wireTime = true, .fault = Fault::Garbage});
  queued.Config().garbage = Bytes(20, 0x00);
  const auto replies = queued.Receive(Cat(kHandshake, kHandshake), 0);
  ASSERT_EQ(replies.size(), 2u);
  EXPECT_NEAR(replies[0].delayUs, 868 + 2257, 3);
  EXPECT_NEAR(replies[1].delayUs - replies[0].delayUs, 2257, 3);

  // Without wire time too, a split reply's tail goes out before the next reply.
  WriterSimulator split({.fault = Fault::Split});
  const auto parts = split.Receive(Cat(kHandshake, kHandshake), 0);
  ASSERT_EQ(parts.size(), 4u);
  for (std::size_t i = 1; i < parts.size(); ++i) EXPECT_GE(parts[i].delayUs, parts[i - 1].delayUs);
  EXPECT_EQ(Joined(parts), Cat(kAck, kAck));
}

TEST(Fuzz, RandomStreamsKeepStateBoundedAndGoodFramesAfterSilenceAnswered) {
  WriterSimulator sim({.maxRecordedFrames = 100});
  std::uint64_t observed = 0;
  sim.SetFrameObserver([&](const Bytes& f) {
    ++observed;
    EXPECT_LE(f.size(), WriterSimulator::kMaxFrameLength + 2);
  });
  std::mt19937 rng(20240);
  const std::uint8_t likely[] = {0x6A, 0x16, 0x46, 0xB9, 0x00, 0x02, 0x08, 0x0C, 0x80};
  std::int64_t now = 0;
  for (int round = 0; round < 3000; ++round) {
    Bytes chunk(round == 1500 ? 200000 : rng() % 300);
    for (auto& b : chunk) b = rng() % 2 ? likely[rng() % 9] : static_cast<std::uint8_t>(rng());
    now += rng() % 5000;
    for (const auto& t : sim.Receive(chunk, now)) ASSERT_GE(t.delayUs, 0);
    ASSERT_LE(sim.PendingBytes(), WriterSimulator::kMaxFrameLength + 1);
    if (round % 50 == 0) {
      now += 100001;
      ASSERT_EQ(Joined(sim.Receive(kHandshake, now)), kAck) << "round " << round;
    }
  }
  EXPECT_EQ(sim.ReceivedFrames().size(), 100u);
  EXPECT_EQ(observed, 100 + sim.UnrecordedFrames());
}

}  // namespace
}  // namespace kvr::sim::test
