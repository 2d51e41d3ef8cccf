#include <gtest/gtest.h>

#include "link/link_fixture.h"
#include "link/writer_frame.h"

namespace kvr {
namespace {

using Outcome = WriterLink::Outcome;

// The handshake's reply is not examined: these tests are about how a frame is put together.
class ReceiveTest : public LinkTest {
 protected:
  void SetUp() override { link.SendCommand(0x80, 700, 0xF0); }
};

TEST_F(ReceiveTest, GoodReplyCompletesAndIsTakenWithItsCount) {
  Deliver(2, kAck);
  EXPECT_EQ(link.WaitForReply(), Outcome::Complete);
  EXPECT_DOUBLE_EQ(vp.clock.NowMs(), 2.0);
  EXPECT_EQ(link.TakeReply(), 6);
  EXPECT_EQ(link.ReplyBuffer[0], 0x68);
  EXPECT_EQ(link.ReplyBuffer[3], 0x80);
  EXPECT_FALSE(link.Timer1().Enabled());
  EXPECT_FALSE(link.Timer2().Enabled());
}

TEST_F(ReceiveTest, BadSumIsCorruptAtOnce) {
  Deliver(2, {0x68, 0x00, 0x06, 0x80, 0xEF, 0x16});
  EXPECT_EQ(link.WaitForReply(), Outcome::Corrupt);
  EXPECT_DOUBLE_EQ(vp.clock.NowMs(), 2.0);
  // The frame stays for inspection.
  EXPECT_EQ(link.RxCount, 6);
}

TEST_F(ReceiveTest, GarbageBeforeTheStartByteIsDropped) {
  Deliver(2, {0x00, 0x16, 0x55, 0x68, 0x00, 0x06, 0x80, 0xEE, 0x16});
  EXPECT_EQ(link.WaitForReply(), Outcome::Complete);
  EXPECT_EQ(link.RxCount, 6);
  EXPECT_EQ(link.RxBuffer[4], 0xEE);
}

TEST_F(LinkTest, BytesBeforeTheFirstRequestAreDroppedByIt) {
  // A writer powering up as the port opens may send before anything was asked.
  Deliver(1, {0x16, 0x68, 0x00, 0x06, 0x55});
  vp.clock.RunNext();
  link.SendCommand(0x80, 700, 0xF0);
  Deliver(2, kAck);
  EXPECT_EQ(link.WaitForReply(), Outcome::Complete);
  EXPECT_EQ(link.TakeReply(), 6);
  EXPECT_EQ(link.ReplyBuffer[4], 0xEE);
}

TEST_F(ReceiveTest, ReplySplitWithinTheGapIsJoined) {
  Deliver(2, {0x68, 0x00});
  Deliver(2 + 19, {0x06, 0x80, 0xEE, 0x16});
  EXPECT_EQ(link.WaitForReply(), Outcome::Complete);
  EXPECT_DOUBLE_EQ(vp.clock.NowMs(), 21.0);

  // Split after its start byte, and after a frame too short to be one: its length is not taken
  // for the next frame's while that has less than its three first bytes.
  const std::vector<Bytes> pieces[] = {
      {{0x68}, {0x00, 0x06, 0x80, 0xEE, 0x16}},
      {{0x68, 0x00, 0x03}, {0x68, 0x00, 0x06}, {0x80, 0xEE, 0x16}},
      {{0x68, 0x00, 0x02}, {0x68, 0x00}, {0x06, 0x80, 0xEE, 0x16}}};
  for (const auto& chunks : pieces) {
    link.SendCommand(0x80, 700, 0xF0);
    const double start = vp.clock.NowMs();
    for (std::size_t i = 0; i < chunks.size(); ++i) Deliver(2.0 + 5.0 * i, chunks[i]);
    EXPECT_EQ(link.WaitForReply(), Outcome::Complete) << chunks.size();
    EXPECT_DOUBLE_EQ(vp.clock.NowMs() - start, 2.0 + 5.0 * (chunks.size() - 1));
  }
}

TEST_F(ReceiveTest, APortThatHandsOutPartOfWhatWaitsIsReadToTheEnd) {
  vp.port.readLimit = 4;
  Deliver(2, kAck);
  EXPECT_EQ(link.WaitForReply(), Outcome::Complete);
  EXPECT_DOUBLE_EQ(vp.clock.NowMs(), 2.0);
}

TEST_F(ReceiveTest, ReplySplitByALongerGapIsCorruptWhenTheGapRunsOut) {
  Deliver(2, {0x68, 0x00, 0x06});
  Deliver(2 + 25, {0x80, 0xEE, 0x16});
  EXPECT_EQ(link.WaitForReply(), Outcome::Corrupt);
  EXPECT_DOUBLE_EQ(vp.clock.NowMs(), 22.0);
}

TEST_F(ReceiveTest, GapFollowsInterByteTimeout) {
  link.InterByteTimeoutMs = 50;
  Deliver(2, {0x68, 0x00, 0x06});
  Deliver(2 + 40, {0x80, 0xEE, 0x16});
  EXPECT_EQ(link.WaitForReply(), Outcome::Complete);
}

TEST_F(ReceiveTest, ChunkWithoutStartByteIsCorruptAfterTheGap) {
  Deliver(3, {0x01, 0x02, 0x16});
  EXPECT_EQ(link.WaitForReply(), Outcome::Corrupt);
  EXPECT_DOUBLE_EQ(vp.clock.NowMs(), 23.0);
  EXPECT_EQ(link.RxCount, 0);
}

TEST_F(ReceiveTest, ALengthTooShortForAFrameIsDroppedAndTheLinkListensOn) {
  Deliver(2, {0x68, 0x00, 0x00});
  Deliver(10, kAck);
  EXPECT_EQ(link.WaitForReply(), Outcome::Complete);
  EXPECT_DOUBLE_EQ(vp.clock.NowMs(), 10.0);

  // The shortest frame there can be, start, length and end, fails its check at once.
  for (const bool crc : {false, true}) {
    link.UseCrc16 = crc;
    link.SendCommand(0x80, 700, 0xF0);
    Deliver(2, {0x68, 0x00, 0x04, 0x16});
    EXPECT_EQ(link.WaitForReply(), Outcome::Corrupt) << crc;
  }
}

TEST_F(ReceiveTest, BadEndByteDiscardsTheFrameAndListensOn) {
  Deliver(2, {0x68, 0x00, 0x06, 0x80, 0xEE, 0x17});
  Deliver(10, kAck);
  EXPECT_EQ(link.WaitForReply(), Outcome::Complete);
  EXPECT_DOUBLE_EQ(vp.clock.NowMs(), 10.0);
  EXPECT_EQ(link.RxCount, 6);
}

TEST_F(ReceiveTest, BadEndByteRestartsTheReplyTimerWithinTheDeadline) {
  Deliver(30, {0x68, 0x00, 0x06, 0x80, 0xEE, 0x17});
  EXPECT_EQ(link.WaitForReply(), Outcome::TimedOut);
  EXPECT_DOUBLE_EQ(vp.clock.NowMs(), 730.0);
  EXPECT_EQ(link.RxCount, 0);
  EXPECT_EQ(link.RxBuffer[0], 0);

  // The restarted timer does not carry the exchange past its deadline: the time-out and the
  // 47 ms a 531-byte reply takes on the line.
  link.SendCommand(0x80, 700, 0xF0);
  Deliver(100, {0x68, 0x00, 0x06, 0x80, 0xEE, 0x17});
  EXPECT_EQ(link.WaitForReply(), Outcome::TimedOut);
  EXPECT_DOUBLE_EQ(vp.clock.NowMs(), 730.0 + 747.0);
}

TEST_F(ReceiveTest, LengthAboveTheBufferNeverCompletes) {
  Bytes frame{0x68, 0x02, 0x58, 0x80};
  frame.resize(600, 0x16);
  Deliver(5, frame);
  EXPECT_EQ(link.WaitForReply(), Outcome::TimedOut);
  EXPECT_DOUBLE_EQ(vp.clock.NowMs(), 705.0);
  EXPECT_EQ(link.RxCount, 0);
}

TEST_F(ReceiveTest, OverflowAcrossChunksStopsAtTheBufferEnd) {
  // 531 bytes fit; the frame claims more and the next chunk runs past the end.
  Bytes head{0x68, 0x03, 0x00};
  head.resize(531, 0xAA);
  Deliver(5, head);
  Deliver(10, {0x01, 0x02});
  Deliver(15, kAck);
  EXPECT_EQ(link.WaitForReply(), Outcome::Complete);
  EXPECT_DOUBLE_EQ(vp.clock.NowMs(), 15.0);
}

// A sound frame of `size` bytes: six of them are the frame's own, the rest 5A.
Bytes FrameOfSize(std::size_t size) {
  return ReplyFrame(0x00, Bytes(size - 6, 0x5A));
}

TEST_F(ReceiveTest, LargestFrameFitsExactly) {
  Deliver(5, FrameOfSize(531));
  EXPECT_EQ(link.WaitForReply(), Outcome::Complete);
  EXPECT_EQ(link.TakeReply(), 531);
  EXPECT_EQ(link.ReplyBuffer[530], 0x16);
}

TEST_F(ReceiveTest, AFrameOneByteLongerThanTheBufferIsDroppedAndTheLinkListensOn) {
  Deliver(5, FrameOfSize(532));
  Deliver(10, kAck);
  EXPECT_EQ(link.WaitForReply(), Outcome::Complete);
  EXPECT_DOUBLE_EQ(vp.clock.NowMs(), 10.0);
  EXPECT_EQ(link.TakeReply(), 6);
}

TEST_F(ReceiveTest, BytesBeyondTheLengthAreIgnored) {
  Bytes bytes = kAck;
  bytes.insert(bytes.end(), {0x68, 0x00});
  Deliver(2, bytes);
  EXPECT_EQ(link.WaitForReply(), Outcome::Complete);
  EXPECT_EQ(link.RxCount, 8);
  EXPECT_EQ(link.ExpectedLength, 6);
}

TEST_F(ReceiveTest, DecidedExchangeKeepsItsFrameWhateverFollowsBeforeTheNextSend) {
  // A complete reply, then more than the buffer holds, handled before the reply is taken.
  Deliver(2, kAck);
  Deliver(3, Bytes(300, 0x55));
  Deliver(4, Bytes(300, 0x68));
  vp.clock.RunNext();
  ASSERT_TRUE(link.ReplyComplete);
  vp.clock.RunNext();
  vp.clock.RunNext();
  EXPECT_FALSE(vp.clock.HasPending()) << "no time-out armed";
  EXPECT_TRUE(link.ReplyComplete);
  EXPECT_FALSE(link.ReplyTimedOut || link.ReplyCorrupt);
  EXPECT_EQ(link.TakeReply(), WriterLink::kRxBufferSize) << "what followed, as far as it fits";
  EXPECT_EQ(link.ExpectedLength, 6);
  EXPECT_EQ(link.ReplyBuffer[0], 0x68);
  EXPECT_EQ(link.ReplyBuffer[3], 0x80);
  EXPECT_EQ(link.ReplyBuffer[5], 0x16);
  EXPECT_EQ(link.ReplyBuffer[6], 0x55);

  // A writer's next, unasked frame that arrives in its own event before the station waits for
  // it is kept behind the first one and taken up by the wait that follows.
  link.SendCommand(0x80, 700, 0xF0);
  Deliver(1, kAck);
  Deliver(2, {0x68, 0x00, 0x06, 0x81, 0xEF, 0x16});
  vp.clock.RunNext();
  ASSERT_TRUE(link.ReplyComplete);
  vp.clock.RunNext();
  EXPECT_EQ(link.TakeReply(), 12);
  EXPECT_EQ(link.ReplyBuffer[3], 0x80);
  link.ExpectFollowingReply(6000, AnyReply());
  EXPECT_EQ(link.WaitForReply(), Outcome::Complete);
  EXPECT_EQ(link.TakeReply(), 6);
  EXPECT_EQ(link.ReplyBuffer[3], 0x81);

  // A late reply after a time-out does not add a second outcome either.
  link.SendCommand(0x80, 50, 0xF0);
  EXPECT_EQ(link.WaitForReply(), Outcome::TimedOut);
  Deliver(1, kAck);
  vp.clock.RunNext();
  EXPECT_FALSE(link.ReplyComplete);
  EXPECT_EQ(vp.port.BytesWaiting(), 0U) << "the late bytes are read and dropped";
  EXPECT_EQ(link.RxCount, 0) << "and not kept";

  // Nor does a reply that follows a failed one take anything from it: not the frame that came
  // in the same piece behind a frame whose sum is wrong.
  link.SendCommand(0x80, 700, 0xF0);
  Bytes both{0x68, 0x00, 0x06, 0x80, 0xEF, 0x16};
  both.insert(both.end(), kAck.begin(), kAck.end());
  Deliver(1, both);
  EXPECT_EQ(link.WaitForReply(), Outcome::Corrupt);
  link.ExpectFollowingReply(700, AnyReply());
  EXPECT_EQ(link.WaitForReply(), Outcome::TimedOut);
}

// The reply to a read of `count` bytes from `address`: the address as asked, the count, the data.
Bytes ReadReplyFrame(std::uint32_t address, std::uint16_t count, std::uint8_t fill) {
  Bytes payload{static_cast<std::uint8_t>(address >> 24), static_cast<std::uint8_t>(address >> 16),
                static_cast<std::uint8_t>(address >> 8),  static_cast<std::uint8_t>(address),
                static_cast<std::uint8_t>(count >> 8),    static_cast<std::uint8_t>(count)};
  payload.resize(payload.size() + count, fill);
  return ReplyFrame(0x00, payload);
}

class ExchangeTest : public LinkTest {
 protected:
  void Read(std::uint32_t address) {
    link.SendBlockFrame(BuildReadFrame(address, 128), ReadReply(address, 128), 700);
  }
};

// However the bytes keep coming, an exchange ends at its time-out plus the wire time of its
// longest reply: 700 ms and 13 ms for a 140-byte read reply.
TEST_F(ExchangeTest, EndlessBytesEndTheExchangeAtItsDeadline) {
  EXPECT_EQ(link.DeadlineMs(700, ReadReply(0, 128)), 713);
  EXPECT_EQ(link.DeadlineMs(6000, BlankCheckResult()), 6047);  // the 531-byte receive buffer
  // 288 bytes take 25 ms exactly at 115200 baud, a byte more starts the 26th millisecond; 265
  // bytes take 23.0035 ms. A read reply is 12 bytes and its count, a byte more with a CRC-16.
  const struct {
    bool crc16;
    std::uint16_t count;
    int deadline;
  } edges[] = {
      {false, 276, 725}, {false, 277, 726}, {true, 275, 725}, {true, 276, 726}, {false, 253, 724}};
  for (const auto& e : edges) {
    link.UseCrc16 = e.crc16;
    EXPECT_EQ(link.DeadlineMs(700, ReadReply(0, e.count)), e.deadline) << e.count;
  }
  link.UseCrc16 = false;
  const Bytes bogusRead = ReadReplyFrame(0x4080, 128, 0x00);
  const Bytes streams[] = {
      Bytes(16, 0x55),                       // no start byte: the gap timer is re-armed each time
      {0x68, 0x00, 0x06, 0x80, 0xEE, 0x17},  // bad end bytes: the reply timer restarts each time
      bogusRead,                             // sound frames that answer another request
  };
  for (const Bytes& stream : streams) {
    const double start = vp.clock.NowMs();
    Read(0x4000);
    for (double ms = 1; ms < 2000; ms += 10) Deliver(ms, stream);
    EXPECT_EQ(link.WaitForReply(), Outcome::TimedOut) << stream.size();
    EXPECT_DOUBLE_EQ(vp.clock.NowMs() - start, 713.0) << stream.size();
    while (vp.clock.HasPending()) vp.clock.RunNext();
  }
}

TEST_F(ExchangeTest, AReplyToAnotherRequestIsSkippedForThisOnesOwn) {
  // The late reply to the read before, then this one's, in one piece.
  Bytes both = ReadReplyFrame(0x0F80, 128, 0x11);
  const Bytes own = ReadReplyFrame(0x1000, 128, 0x22);
  both.insert(both.end(), own.begin(), own.end());
  Read(0x1000);
  Deliver(5, both);
  EXPECT_EQ(link.WaitForReply(), Outcome::Complete);
  link.TakeReply();
  EXPECT_EQ(link.ReplyBuffer[6], 0x10);
  EXPECT_EQ(link.ReplyBuffer[10], 0x22);

  // In pieces of their own; the right reply's start behind the skipped frame.
  const double second = vp.clock.NowMs();
  Read(0x1080);
  Bytes late = ReadReplyFrame(0x1000, 128, 0x22);
  const Bytes next = ReadReplyFrame(0x1080, 128, 0x33);
  late.insert(late.end(), next.begin(), next.begin() + 20);
  Deliver(5, late);
  Deliver(15, Bytes(next.begin() + 20, next.end()));
  EXPECT_EQ(link.WaitForReply(), Outcome::Complete);
  EXPECT_DOUBLE_EQ(vp.clock.NowMs() - second, 15.0);
  link.TakeReply();
  EXPECT_EQ(link.ReplyBuffer[7], 0x80);
  EXPECT_EQ(link.ReplyBuffer[10], 0x33);

  // Only another request's reply: no usable reply, a time-out, the reply timer running anew
  // from the skipped frame.
  const double start = vp.clock.NowMs();
  Read(0x1100);
  Deliver(5, ReadReplyFrame(0x1080, 128, 0x33));
  EXPECT_EQ(link.WaitForReply(), Outcome::TimedOut);
  EXPECT_DOUBLE_EQ(vp.clock.NowMs() - start, 705.0);
}

TEST_F(ExchangeTest, WhatWaitsOnTheLineIsDroppedBeforeEveryRequest) {
  // A reply that arrived after its exchange ended and has not been read yet.
  vp.port.SetDataReceivedHandler(nullptr);
  Deliver(0, ReadReplyFrame(0x2000, 128, 0x44));
  vp.clock.RunNext();
  ASSERT_GT(vp.port.BytesWaiting(), 0U);
  vp.port.SetDataReceivedHandler([this] { link.ReceiveHandler(); });
  Read(0x2000);
  EXPECT_EQ(vp.port.BytesWaiting(), 0U);
  // Its event still comes: with nothing to read, it changes nothing.
  link.ReceiveHandler();
  EXPECT_FALSE(link.Timer2().Enabled());
  EXPECT_EQ(link.WaitForReply(), Outcome::TimedOut);
  EXPECT_DOUBLE_EQ(vp.clock.NowMs(), 700.0);
}

TEST_F(ReceiveTest, NoReplyTimesOutAfterTheReplyTimeout) {
  EXPECT_EQ(link.WaitForReply(), Outcome::TimedOut);
  EXPECT_DOUBLE_EQ(vp.clock.NowMs(), 700.0);
}

TEST_F(ReceiveTest, StopEndsTheWait) {
  vp.clock.ScheduleAfter(50'000, [this] { link.StopRequested = true; });
  EXPECT_EQ(link.WaitForReply(), Outcome::Stopped);
  EXPECT_DOUBLE_EQ(vp.clock.NowMs(), 50.0);
}

TEST_F(ReceiveTest, TimedOutIsReadBeforeComplete) {
  // A reply that lands after the time-out does not turn a failed wait into a success.
  vp.clock.ScheduleAfter(10'000, [this] {
    link.ReplyComplete = true;
    link.ReplyTimedOut = true;
  });
  EXPECT_EQ(link.WaitForReply(), Outcome::TimedOut);
}

TEST_F(LinkTest, CrcModeRepliesAreCheckedWithTheCrc) {
  link.UseCrc16 = true;
  link.SendCommand(0x80, 300, 0xF1);
  Deliver(1, {0x68, 0x00, 0x07, 0x80, 0x1F, 0xD4, 0x16});
  EXPECT_EQ(link.WaitForReply(), Outcome::Complete) << "CRC of 68 00 07 80 is D41F";
  link.SendCommand(0x80, 300, 0xF1);
  Deliver(1, {0x68, 0x00, 0x07, 0x80, 0xD4, 0x1F, 0x16});
  EXPECT_EQ(link.WaitForReply(), Outcome::Corrupt);
}

TEST_F(LinkTest, SendCommandArmsTheTimersAndWritesOneFrame) {
  link.InterByteTimeoutMs = 33;
  link.SendCommand(0x0A, 123, 0);
  EXPECT_TRUE(link.Timer1().Enabled());
  EXPECT_EQ(link.Timer1().Interval(), 123);
  EXPECT_FALSE(link.Timer2().Enabled());
  EXPECT_EQ(link.Timer2().Interval(), 33);
  ASSERT_EQ(vp.port.Written().size(), 1U);
  EXPECT_EQ(vp.port.Written()[0],
            (Bytes{0x46, 0xB9, 0x6A, 0x00, 0x08, 0x0A, 0x02, 0x00, 0x7E, 0x16}));
}

TEST_F(LinkTest, EachExchangeReportsTheCommandItSent) {
  std::vector<std::pair<std::uint8_t, std::size_t>> reports;
  link.OnExchange = [&](std::uint8_t code, std::size_t length, Outcome, int) {
    reports.emplace_back(code, length);
  };
  // The code follows the preamble where a frame has one, else the length; a frame too short to
  // hold one reports none.
  const Bytes frames[] = {{0x46, 0xB9, 0x6A, 0x00, 0x08, 0x0C, 0x02, 0x00, 0x80, 0x16},
                          {0x6A, 0x00, 0x06, 0x01, 0x71, 0x16},
                          {0x6A, 0x00, 0x03}};
  for (const Bytes& frame : frames) {
    link.SendBlockFrame(frame, AnyReply(), 10);
    link.WaitForReply();
  }
  link.SendCommand(0x0A, 10, 0);
  link.WaitForReply();
  EXPECT_EQ(reports, (std::vector<std::pair<std::uint8_t, std::size_t>>{
                         {0x0C, 10}, {0x01, 6}, {0x00, 3}, {0x0A, 10}}));
}

TEST_F(LinkTest, BlockFrameExchangeClearsAfterTheWrite) {
  // A reply arriving in the very same instant as the write still counts for this exchange.
  vp.port.onWrite = [this](const Bytes&) { Deliver(0, kAck); };
  link.ReplyCorrupt = true;
  link.RxCount = 9;
  link.SendBlockFrame({0x6A, 0x00, 0x06, 0x01, 0x71, 0x16}, AnyReply(), 4000);
  EXPECT_EQ(link.RxCount, 0);
  EXPECT_EQ(link.Timer1().Interval(), 4000);
  EXPECT_EQ(link.WaitForReply(), Outcome::Complete);
}

}  // namespace
}  // namespace kvr
