#include "simulator/pty_server.h"

#include <gtest/gtest.h>

#include "pty_test_io.h"
#include "test_bytes.h"

namespace kvr::sim {
namespace {

using test::kAck;
using test::kHandshake;

TEST(PtyServer, AnswersAcrossRepeatedOpensOfTheSlave) {
  PtyServer server;
  std::string error;
  ASSERT_TRUE(server.Open(&error)) << error;
  ASSERT_FALSE(server.DevicePath().empty());
  server.Start();

  for (int session = 0; session < 2; ++session) {
    SCOPED_TRACE(session);
    const int fd = test::OpenRaw(server.DevicePath());
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(test::WriteAll(fd, kHandshake));
    EXPECT_EQ(test::ReadFor(fd, kAck.size()), kAck);
    close(fd);
  }
  // The version reply comes after a change made while serving.
  server.Configure([](WriterConfig& c) { c.versionByte = 0x0A; });
  const int fd = test::OpenRaw(server.DevicePath());
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(test::WriteAll(fd, test::Hex("46 B9 6A 00 08 0C 02 00 80 16")));
  EXPECT_EQ(test::ReadFor(fd, 7), test::Hex("68 00 07 0C 0A 85 16"));
  close(fd);

  server.Stop();
  EXPECT_TRUE(server.Error().empty()) << server.Error();
  const auto frames = server.Frames();
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_EQ(frames[0], kHandshake);
  EXPECT_EQ(frames[1], kHandshake);
}

}  // namespace
}  // namespace kvr::sim
