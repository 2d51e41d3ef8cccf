#include <gtest/gtest.h>

#include "link/link_fixture.h"
#include "link/writer_frame.h"

namespace kvr {
namespace {

const Bytes kHandshakeClass2{0x46, 0xB9, 0x6A, 0x00, 0x08, 0x80, 0x02, 0xF0, 0xE4, 0x16};
const Bytes kVersionClass2{0x46, 0xB9, 0x6A, 0x00, 0x08, 0x0C, 0x02, 0x00, 0x80, 0x16};

class ConnectionTest : public LinkTest {
 protected:
  void SetUp() override { WireSimulator(); }
  int Count(const Bytes& frame) const {
    int n = 0;
    for (const Bytes& written : vp.port.Written()) n += written == frame ? 1 : 0;
    return n;
  }
};

TEST_F(ConnectionTest, FourHandshakesThenTheVersion) {
  EXPECT_EQ(link.ConnectWriter(20, kHandshakeWriter), 0);
  ASSERT_EQ(vp.port.Written().size(), 5U);
  for (int i = 0; i < 4; ++i)
    EXPECT_EQ(vp.port.Written()[static_cast<std::size_t>(i)], kHandshakeClass2);
  EXPECT_EQ(vp.port.Written()[4], kVersionClass2);
  EXPECT_EQ(link.WriterVersion, "13");
  EXPECT_EQ(log.Text(), "Writer Version : 1.3\r\n\r\n");
  EXPECT_EQ(log.Caret(), log.Text().size());
}

TEST_F(ConnectionTest, VersionDigitsKeepTheirLeadingZero) {
  for (const auto& [byte, shown] : {std::pair{0x0A, "0.A"}, {0x05, "0.5"}, {0xF3, "F.3"}}) {
    writer.Config().versionByte = static_cast<std::uint8_t>(byte);
    log.Replace({});
    EXPECT_EQ(link.ConnectWriter(20, kHandshakeWriter), 0);
    EXPECT_EQ(log.Text(), std::string("Writer Version : ") + shown + "\r\n\r\n");
  }
}

TEST_F(ConnectionTest, ChineseVersionLine) {
  english = false;
  EXPECT_EQ(link.ConnectWriter(20, kHandshakeWriter), 0);
  EXPECT_EQ(log.Text(), "烧录器版本号: 1.3\r\n\r\n");
}

TEST_F(ConnectionTest, WriterAnsweringEveryTenthHandshakeConnects) {
  writer.Config().handshakeEvery = 10;
  EXPECT_EQ(link.ConnectWriter(20, kHandshakeWriter), 0);
  EXPECT_EQ(Count(kHandshakeClass2), 40);
  EXPECT_EQ(link.WriterVersion, "13");
}

TEST_F(ConnectionTest, SilentWriterFailsAfterOnePassOf201Attempts) {
  writer.Config().fault = sim::Fault::Silent;
  EXPECT_EQ(link.ConnectWriter(20, kHandshakeWriter), -1);
  EXPECT_EQ(Count(kHandshakeClass2), 201);
  EXPECT_EQ(vp.port.Written().size(), 201U);
  EXPECT_NEAR(vp.clock.NowMs(), 201 * 20.0, 1.0);
  EXPECT_EQ(log.Text(), "");
}

TEST_F(ConnectionTest, UnansweredVersionIsSilentAndStillConnected) {
  writer.Config().fault = sim::Fault::Silent;
  writer.Config().faultCommand = 0x0C;
  const double start = vp.clock.NowMs();
  EXPECT_EQ(link.ConnectWriter(20, kHandshakeWriter), 0);
  EXPECT_EQ(Count(kVersionClass2), 4);
  EXPECT_EQ(link.WriterVersion, "0");
  EXPECT_EQ(log.Text(), "");
  // Four waits of 300 ms, after handshakes answered within a millisecond.
  EXPECT_NEAR(vp.clock.NowMs() - start, 4 * 300.0, 1.0);
}

TEST_F(ConnectionTest, CorruptVersionRepliesAreRetried) {
  writer.Config().fault = sim::Fault::BadCheck;
  writer.Config().faultCommand = 0x0C;
  writer.Config().faultCount = 2;
  EXPECT_EQ(link.ConnectWriter(20, kHandshakeWriter), 0);
  EXPECT_EQ(Count(kVersionClass2), 3);
  EXPECT_EQ(link.WriterVersion, "13");
}

TEST_F(ConnectionTest, ReplyThatIsNoVersionGivesNoVersion) {
  // Every version request answered by a plain acknowledge: there is no version byte to show.
  vp.port.onWrite = [this](const Bytes&) { Deliver(0.5, kAck); };
  EXPECT_EQ(link.ConnectWriter(20, kHandshakeWriter), 0);
  EXPECT_EQ(link.WriterVersion, "0");
  EXPECT_EQ(log.Text(), "");
}

TEST_F(ConnectionTest, WriterSlowerThanTheHandshakeTimeoutConnects) {
  // A writer slower than the 20 ms handshake time-out still connects: its late reply lands
  // inside the next attempt, and the content of a handshake reply is not examined.
  writer.Config().latencyUs = 25'000;
  EXPECT_EQ(link.ConnectWriter(20, kHandshakeWriter), 0);
  EXPECT_EQ(link.WriterVersion, "13");
}

TEST_F(ConnectionTest, StopDuringTheHandshakeEndsItWithoutFurtherFrames) {
  writer.Config().fault = sim::Fault::Silent;
  vp.clock.ScheduleAfter(95'000, [this] {
    link.StopRequested = true;
    vp.port.Close();
  });
  EXPECT_EQ(link.ConnectWriter(20, kHandshakeWriter), -1);
  EXPECT_EQ(vp.port.Written().size(), 5U);
  EXPECT_DOUBLE_EQ(vp.clock.NowMs(), 95.0);
  EXPECT_FALSE(vp.port.IsOpen());
}

TEST_F(LinkTest, FlushInputOnAClosedPortOpensAndClosesIt) {
  vp.port.Close();
  const int opens = vp.port.OpenCount();
  link.ReplyComplete = true;
  link.FlushInput();
  EXPECT_FALSE(vp.port.IsOpen());
  EXPECT_EQ(vp.port.OpenCount(), opens + 1);
  EXPECT_FALSE(link.ReplyComplete);
}

TEST_F(LinkTest, OpenPortClosesFirstAndFailsOnAMissingPort) {
  EXPECT_TRUE(link.OpenPort(3, 115200));
  EXPECT_EQ(vp.port.SelectedPort(), 3);
  EXPECT_EQ(vp.port.Baud(), 115200);
  vp.port.SetUnavailable(4);
  EXPECT_FALSE(link.OpenPort(4, 115200));
  EXPECT_FALSE(vp.port.IsOpen());
  EXPECT_FALSE(link.OpenPort(0, 115200));
  EXPECT_FALSE(link.OpenPort(1, 0));
  EXPECT_FALSE(link.ClosePort());
}

TEST_F(ConnectionTest, StandardExchangeRetriesUpToItsCount) {
  writer.Config().fault = sim::Fault::Silent;
  EXPECT_FALSE(link.StandardExchange(0x0C, 0, 3));
  EXPECT_EQ(vp.port.Written().size(), 3U);
  EXPECT_DOUBLE_EQ(vp.clock.NowMs(), 3 * 700.0);
  writer.Config().fault = sim::Fault::None;
  EXPECT_TRUE(link.StandardExchange(0x0C, 0, 3));
  EXPECT_EQ(vp.port.Written().size(), 4U);
  EXPECT_EQ(link.TakeReply(), 7);
  EXPECT_EQ(link.ReplyBuffer[4], 0x13);

  // A stop ends it: no further attempt goes out.
  writer.Config().fault = sim::Fault::Silent;
  vp.clock.ScheduleAfter(100'000, [this] { link.StopRequested = true; });
  EXPECT_FALSE(link.StandardExchange(0x0C, 0, 3));
  EXPECT_EQ(vp.port.Written().size(), 5U);
}

}  // namespace
}  // namespace kvr
