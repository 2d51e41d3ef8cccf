#include <gtest/gtest.h>

#include "link/link_fixture.h"

namespace kvr {
namespace {

using Outcome = WriterLink::Outcome;

class ReceiveTest : public LinkTest {
 protected:
  void SetUp() override { link.SendCommand(0x0A, 700, 0); }
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

TEST_F(ReceiveTest, ReplySplitWithinTheGapIsJoined) {
  Deliver(2, {0x68, 0x00});
  Deliver(2 + 19, {0x06, 0x80, 0xEE, 0x16});
  EXPECT_EQ(link.WaitForReply(), Outcome::Complete);
  EXPECT_DOUBLE_EQ(vp.clock.NowMs(), 21.0);
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

TEST_F(ReceiveTest, BadEndByteDiscardsTheFrameAndListensOn) {
  Deliver(2, {0x68, 0x00, 0x06, 0x80, 0xEE, 0x17});
  Deliver(10, kAck);
  EXPECT_EQ(link.WaitForReply(), Outcome::Complete);
  EXPECT_DOUBLE_EQ(vp.clock.NowMs(), 10.0);
  EXPECT_EQ(link.RxCount, 6);
}

TEST_F(ReceiveTest, BadEndByteRestartsTheReplyTimer) {
  Deliver(100, {0x68, 0x00, 0x06, 0x80, 0xEE, 0x17});
  EXPECT_EQ(link.WaitForReply(), Outcome::TimedOut);
  EXPECT_DOUBLE_EQ(vp.clock.NowMs(), 800.0);
  EXPECT_EQ(link.RxCount, 0);
  EXPECT_EQ(link.RxBuffer[0], 0);
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

TEST_F(ReceiveTest, LargestFrameFitsExactly) {
  Bytes frame{0x68, 0x02, 0x13, 0x00};
  frame.resize(529, 0x5A);
  unsigned sum = 0;
  for (auto b : frame) sum += b;
  frame.push_back(static_cast<std::uint8_t>(sum));
  frame.push_back(0x16);
  ASSERT_EQ(frame.size(), 531U);
  Deliver(5, frame);
  EXPECT_EQ(link.WaitForReply(), Outcome::Complete);
  EXPECT_EQ(link.TakeReply(), 531);
  EXPECT_EQ(link.ReplyBuffer[530], 0x16);
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
  link.SendCommand(0x0A, 700, 0);
  Deliver(1, kAck);
  Deliver(2, {0x68, 0x00, 0x06, 0x81, 0xEF, 0x16});
  vp.clock.RunNext();
  ASSERT_TRUE(link.ReplyComplete);
  vp.clock.RunNext();
  EXPECT_EQ(link.TakeReply(), 12);
  EXPECT_EQ(link.ReplyBuffer[3], 0x80);
  link.ExpectFollowingReply(6000);
  EXPECT_EQ(link.WaitForReply(), Outcome::Complete);
  EXPECT_EQ(link.TakeReply(), 6);
  EXPECT_EQ(link.ReplyBuffer[3], 0x81);

  // A late reply after a time-out does not add a second outcome either.
  link.SendCommand(0x0A, 50, 0);
  EXPECT_EQ(link.WaitForReply(), Outcome::TimedOut);
  Deliver(1, kAck);
  vp.clock.RunNext();
  EXPECT_FALSE(link.ReplyComplete);
  EXPECT_EQ(vp.port.BytesWaiting(), 0U) << "the late bytes are read and dropped";
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
  link.SendCommand(0x0E, 300, 0);
  Deliver(1, {0x68, 0x00, 0x07, 0x80, 0x1F, 0xD4, 0x16});
  EXPECT_EQ(link.WaitForReply(), Outcome::Complete) << "CRC of 68 00 07 80 is D41F";
  link.SendCommand(0x0E, 300, 0);
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

TEST_F(LinkTest, BlockFrameExchangeClearsAfterTheWrite) {
  // A reply arriving in the very same instant as the write still counts for this exchange.
  vp.port.onWrite = [this](const Bytes&) { Deliver(0, kAck); };
  link.ReplyCorrupt = true;
  link.RxCount = 9;
  link.SendBlockFrame({0x6A, 0x00, 0x06, 0x01, 0x71, 0x16}, 4000);
  EXPECT_EQ(link.RxCount, 0);
  EXPECT_EQ(link.Timer1().Interval(), 4000);
  EXPECT_EQ(link.WaitForReply(), Outcome::Complete);
}

}  // namespace
}  // namespace kvr
