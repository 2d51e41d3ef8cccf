#include "simulator/offline_board.h"
#include "simulator/offline_board_server.h"

#include <gtest/gtest.h>

#include "offline/board_expect.h"
#include "test_bytes.h"

namespace kvr::sim::test {
namespace {

// The station's frames to the board, built by hand for the class 0x0B.
Bytes Short(std::uint8_t code, std::uint8_t parameter = 0) {
  return kvr::test::ShortCrcFrame(code, 0x0B, parameter);
}

Bytes Data(std::uint8_t code, std::uint32_t address, const Bytes& data) {
  return kvr::test::DataFrame(code, address, data.data(), data.size());
}

const Bytes kAccepted = Hex("68 00 07 80 1F D4 16");
const Bytes kMismatch = Hex("68 00 07 81 DE 14 16");

TEST(OfflineBoard, AnswersCrcFramesOnlyAndTheBoardsHandshake) {
  OfflineBoard board;
  EXPECT_TRUE(board.Receive(kHandshake, 0).empty());  // sum mode: not for the board
  EXPECT_TRUE(board.Receive(Short(0x80, 0xF0), 10).empty());
  EXPECT_EQ(Joined(board.Receive(Short(0x80, 0xF1), 20)), kAccepted);
  EXPECT_EQ(Joined(board.Receive(Short(0x0C), 30)), Hex("68 00 08 0C 21 01 13 16"));

  board.Config().capacityK = 0x33;
  board.Config().optionByte = 0x01;
  const auto query = board.Receive(Short(0x0E), 40);
  ASSERT_EQ(query.size(), 1U);
  EXPECT_EQ(query[0].bytes, Hex("68 00 09 0E 01 33 2B 29 16"));
  EXPECT_EQ(query[0].delayUs, 200);

  Bytes corrupted = Short(0x0C);
  corrupted[9] ^= 1;
  EXPECT_TRUE(board.Receive(corrupted, 50).empty());
}

TEST(OfflineBoard, EraseTakesItsTimeAndDataFramesLandAtTheirAddresses) {
  OfflineBoard board;
  board.Config().eraseTimeUs = 1'500'000;
  const auto erase = board.Receive(Short(0x84), 0);
  ASSERT_EQ(erase.size(), 1U);
  EXPECT_EQ(erase[0].delayUs, 1'500'000);

  const Bytes data = {1, 2, 3, 4};
  // A frame that comes in pieces is put together.
  const Bytes frame = Data(0x30, 0x4100, data);
  EXPECT_TRUE(board.Receive(Bytes(frame.begin(), frame.begin() + 5), 10).empty());
  EXPECT_EQ(Joined(board.Receive(Bytes(frame.begin() + 5, frame.end()), 20)), kAccepted);
  EXPECT_EQ(Bytes(board.Image().begin() + 0x4100, board.Image().begin() + 0x4104), data);
  EXPECT_EQ(board.Image()[0x40FF], 0xFF);
  EXPECT_EQ(board.ReceivedFrames().back(), frame);
  // Past the end of the board image: not stored, no answer.
  EXPECT_TRUE(board.Receive(Data(0x00, 0xFFFE, data), 30).empty());
}

TEST(OfflineBoard, Faults) {
  OfflineBoard board;
  board.Config().dropDataFrame = 2;
  board.Receive(Short(0x84), 0);
  EXPECT_EQ(Joined(board.Receive(Data(0x30, 0x4000, {7}), 10)), kAccepted);
  EXPECT_TRUE(board.Receive(Data(0x00, 0x4001, {8}), 20).empty());
  EXPECT_EQ(board.Image()[0x4001], 0xFF);

  board.Config().badCheckCommand = 0x0C;
  EXPECT_EQ(Joined(board.Receive(Short(0x0C), 30)), Hex("68 00 08 0C 21 02 13 16"));

  board.Config().silent = true;
  EXPECT_TRUE(board.Receive(Short(0x80, 0xF1), 40).empty());
}

// A minimal download: the image from address 0 alone, 0x4000 holding image block 0 and the
// continuation image blocks 0x158.. (0xAC00 / 128) at 0x2000.
class BoardCheck : public ::testing::Test {
 protected:
  BoardCheck() {
    board_.Receive(Short(0x84), 0);
    image_ = Bytes(0x10001, 0x00);
    image_[0x4000] = 0x11;  // chip block 0
    image_[0x2000] = 0x22;  // chip block 0x158
    // Segments: board 4000..EBFF = chip 0..ABFF, board 2000..3FFF = chip AC00..CBFF.
    const Bytes segments =
        Hex("40 00 00 EB FF 00 00 00 00 AB FF 00 "
            "20 00 00 3F FF 00 AC 00 00 CB FF 00");
    std::copy(segments.begin(), segments.end(), image_.begin() + 0xEC35);
    for (std::size_t k = 0; k < 512; ++k) SetCheck(k, ChipBlock(k));
  }

  // The chip block as the board should hold it.
  Bytes ChipBlock(std::size_t k) const {
    std::size_t at = 0;
    if (k < 0x158)
      at = 0x4000 + k * 128;
    else if (k < 0x198)
      at = 0x2000 + (k - 0x158) * 128;
    else
      return Bytes(128, 0x00);
    return Bytes(image_.begin() + static_cast<std::ptrdiff_t>(at),
                 image_.begin() + static_cast<std::ptrdiff_t>(at + 128));
  }
  void SetCheck(std::size_t k, const Bytes& block) {
    const std::uint16_t crc = Crc16Modbus(block);
    image_[0xF000 + 2 * k] = static_cast<std::uint8_t>(crc);
    image_[0xF001 + 2 * k] = static_cast<std::uint8_t>(crc >> 8);
  }
  Bytes Send(std::uint32_t first, std::uint32_t end) {
    Bytes replies;
    for (std::uint32_t a = first; a < end; a += 512) {
      const Bytes chunk(image_.begin() + a, image_.begin() + a + 512);
      const Bytes reply = Joined(board_.Receive(Data(a == first ? 0x30 : 0x00, a, chunk), ++now_));
      replies.insert(replies.end(), reply.begin(), reply.end());
    }
    return replies;
  }
  Bytes Repeated(const Bytes& reply, std::size_t times) {
    Bytes all;
    for (std::size_t i = 0; i < times; ++i) all.insert(all.end(), reply.begin(), reply.end());
    return all;
  }

  OfflineBoard board_;
  Bytes image_;
  std::int64_t now_ = 10;
};

TEST_F(BoardCheck, ARightImageIsKeptAndReported) {
  Bytes kept;
  bool verified = false;
  board_.SetDownloadObserver([&](const Bytes& image, bool good) {
    kept = image;
    verified = good;
  });
  EXPECT_EQ(Send(0x4000, 0xF400), Repeated(kAccepted, 90));
  EXPECT_EQ(Joined(board_.Receive(Short(0x86), ++now_)), kAccepted);
  EXPECT_EQ(Joined(board_.Receive(Short(0x80, 0xF1), ++now_)), kAccepted);
  EXPECT_EQ(board_.CompletedDownloads(), 0);
  EXPECT_EQ(Send(0x2000, 0x4000), Repeated(kAccepted, 16));
  EXPECT_EQ(board_.CompletedDownloads(), 1);
  EXPECT_TRUE(verified);
  EXPECT_EQ(Bytes(kept.begin() + 0x2000, kept.begin() + 0xF400),
            Bytes(image_.begin() + 0x2000, image_.begin() + 0xF400));
}

TEST_F(BoardCheck, BlocksThatDoNotMatchTheirCheckValues) {
  SetCheck(0, Bytes(128, 0x00));      // block 0 holds 0x11 at its start
  SetCheck(0x158, Bytes(128, 0x00));  // so does the first block of the continuation
  Send(0x4000, 0xF400);
  EXPECT_EQ(Joined(board_.Receive(Short(0x86), ++now_)), kMismatch);
  const Bytes continuation = Send(0x2000, 0x4000);
  EXPECT_EQ(Bytes(continuation.begin(), continuation.begin() + 7), kMismatch);
  EXPECT_EQ(Bytes(continuation.begin() + 7, continuation.end()), Repeated(kAccepted, 15));
  EXPECT_FALSE(board_.BlocksVerified());
}

TEST(BoardOptions, EachImpliesTheBoardAndBadValuesAreSaid) {
  BoardServeOptions options;
  EXPECT_EQ(SetBoardOption("--board-capacity", "64", options), "");
  EXPECT_TRUE(options.enabled);
  EXPECT_EQ(options.config.capacityK, 64);
  EXPECT_EQ(SetBoardOption("--board-bad-check", "86", options), "");
  EXPECT_EQ(options.config.badCheckCommand, 0x86);
  EXPECT_EQ(SetBoardOption("--board-weak-cell", "4100", options), "");
  EXPECT_EQ(options.config.weakCell, 0x4100);

  BoardServeOptions refused;
  EXPECT_EQ(SetBoardOption("--board-capacity", "256", refused),
            "--board-capacity: expects a number from 0 to 255");
  EXPECT_FALSE(refused.enabled);
}

}  // namespace
}  // namespace kvr::sim::test
