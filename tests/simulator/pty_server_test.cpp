#include "simulator/pty_server.h"

#include <gtest/gtest.h>

#include "pty_test_io.h"
#include "test_bytes.h"

namespace kvr::sim::test {
namespace {

TEST(PtyServer, AnswersAcrossRepeatedOpensOfTheSlave) {
  PtyServer server;
  std::string error;
  ASSERT_TRUE(server.Open(&error)) << error;
  ASSERT_FALSE(server.DevicePath().empty());
  server.Start();

  for (int session = 0; session < 2; ++session) {
    SCOPED_TRACE(session);
    const int fd = OpenRaw(server.DevicePath());
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(WriteAll(fd, kHandshake));
    EXPECT_EQ(ReadFor(fd, kAck.size()), kAck);
    close(fd);
  }
  // The version reply comes after a change made while serving.
  server.Configure([](WriterConfig& c) { c.versionByte = 0x0A; });
  const int fd = OpenRaw(server.DevicePath());
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(WriteAll(fd, kVersion));
  EXPECT_EQ(ReadFor(fd, 7), Hex("68 00 07 0C 0A 85 16"));
  close(fd);

  server.Stop();
  EXPECT_TRUE(server.Error().empty()) << server.Error();
  const auto frames = server.Frames();
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_EQ(frames[0], kHandshake);
  EXPECT_EQ(frames[1], kHandshake);
}

}  // namespace
}  // namespace kvr::sim::test
