#include "offline/board_image.h"

#include <gtest/gtest.h>

#include <memory>

#include "offline/board_expect.h"

namespace kvr {
namespace {

using test::ByteVector;

std::unique_ptr<BoardImageArray> Cleared() {
  auto board = std::make_unique<BoardImageArray>();
  board->fill(0xAA);
  ClearBoardImage(*board);
  return board;
}

// The two one-bit areas, 0xED00..0xEEFF.
ByteVector CopyAreas(std::int32_t limit) {
  auto board = Cleared();
  WriteCopyLimit(*board, limit);
  return ByteVector(board->begin() + 0xED00, board->begin() + 0xEF00);
}

TEST(CopyLimit, OneBitRunsWithTheirExactBytes) {
  ByteVector one(0x200, 0x00);
  one[0x100] = 0x01;
  EXPECT_EQ(CopyAreas(1), one);

  ByteVector unit(0x200, 0x00);
  unit[0x000] = 0x01;
  EXPECT_EQ(CopyAreas(2048), unit);

  // 488 high units fill 61 bytes exactly; the low count 576 fills 72.
  ByteVector most(0x200, 0x00);
  std::fill_n(most.begin(), 61, 0xFF);
  std::fill_n(most.begin() + 0x100, 72, 0xFF);
  EXPECT_EQ(CopyAreas(1'000'000), most);

  // Remainders: 3 high units and 13 low ones.
  ByteVector rest(0x200, 0x00);
  rest[0x000] = 0x07;
  rest[0x100] = 0xFF;
  rest[0x101] = 0x1F;
  EXPECT_EQ(CopyAreas(3 * 2048 + 13), rest);
}

TEST(CopyLimit, OnlyAWholeNumberCounts) {
  EXPECT_EQ(ParseCopyLimit("  250 "), 250);
  EXPECT_EQ(ParseCopyLimit("+7"), 7);
  EXPECT_EQ(ParseCopyLimit("-5"), -5);
  EXPECT_EQ(ParseCopyLimit("1000001"), 1'000'001);
  // A mistyped limit is no limit at all rather than a smaller one.
  EXPECT_EQ(ParseCopyLimit("1O0"), 0);
  EXPECT_EQ(ParseCopyLimit("5.5"), 0);
  EXPECT_EQ(ParseCopyLimit(""), 0);
  EXPECT_EQ(ParseCopyLimit("-"), 0);
  EXPECT_GT(ParseCopyLimit("999999999999999999999999"), 1'000'000);
}

TEST(CheckValues, OneCrcPerBlockLowByteFirst) {
  const ByteVector pattern = test::PatternImage();
  ImageBufferArray image;
  for (std::size_t a = 0; a < pattern.size(); ++a)
    image.Set(static_cast<std::int64_t>(a), pattern[a]);
  image.Set(0x10000, 0x5A);  // above the code space: not covered
  auto board = Cleared();
  int blocks = 0;
  WriteCheckValues(*board, image, [&](int block) { EXPECT_EQ(block, blocks++); });
  EXPECT_EQ(blocks, 512);
  const ByteVector expected = test::ExpectedBoardImage(pattern, 1, 0, ByteVector(), 1);
  EXPECT_TRUE(
      std::equal(board->begin() + 0xF000, board->begin() + 0xF400, expected.begin() + 0xF000));

  // A block of zeros and one of 0xFF, as the CRC-16/MODBUS tables give them.
  ImageBufferArray plain;
  for (int a = 128; a < 256; ++a) plain.Set(a, 0xFF);
  WriteCheckValues(*board, plain);
  EXPECT_EQ((ByteVector(board->begin() + 0xF000, board->begin() + 0xF004)),
            (ByteVector{0xFE, 0xFB, 0xFE, 0x8F}));
}

BoardSettings Vxa05hIsp2k() {
  BoardSettings s;
  s.modelName = "VXA05H";
  s.identityCode = "F108";
  s.classCode = 11;
  s.apStart = 0;
  s.apEnd = 0x7FFF;
  s.ispShown = true;
  s.ispStart = 0xF400;
  s.ispEnd = 0xFBFF;
  s.ispSizeBytes = 2048;
  s.optionChoices = {0, 0, 0, 1, 1, 1, 1, 1, -1};
  return s;
}

ByteVector ConfigBlock(const BoardImageArray& board) {
  return ByteVector(board.begin() + 0xEC00, board.begin() + 0xED00);
}

ByteVector Padded(ByteVector config) {
  config.resize(0x100, 0x00);
  return config;
}

TEST(ConfigBlock, LargerModelPlacesItsIspAreaApart) {
  auto board = Cleared();
  WriteConfigBlock(*board, Vxa05hIsp2k());
  EXPECT_EQ(ConfigBlock(*board), Padded(test::ConfigVxa05hIsp2k()));
  const auto segments = ReadSegments(*board);
  EXPECT_EQ(segments[2], (BoardSegment{0xE400, 0xEBFF, 0xF400, 0xFBFF}));
}

TEST(ConfigBlock, F0ModelKeepsEverythingFromAddressZero) {
  BoardSettings s;
  s.modelName = "VXA05H";
  s.identityCode = "F002";
  s.classCode = 2;
  s.apEnd = 0x1FFF;
  s.ispShown = true;
  s.ispStart = 0x3400;
  s.ispEnd = 0x3BFF;
  s.ispSizeBytes = 2048;
  s.optionChoices = {0, 0, 0, 1, 0, 0, 1, 1, -1};
  auto board = Cleared();
  WriteConfigBlock(*board, s);
  EXPECT_EQ(ConfigBlock(*board), Padded(test::ConfigVxa02hFromList()));
}

TEST(ConfigBlock, NameIdentityAndRegionThatAreNotWhatTheyShouldBe) {
  BoardSettings s = Vxa05hIsp2k();
  s.modelName =
      "VXA\xE4\xB8\xAD"
      "01H-with-a-name-that-runs-on-and-on";
  s.identityCode = "F1G";
  s.apEnd = -1;  // a region box that holds no number
  s.ispShown = false;
  auto board = Cleared();
  WriteConfigBlock(*board, s);
  const std::string name(board->begin() + 0xEC00, board->begin() + 0xEC1F);
  EXPECT_EQ(name, "VXA?01H-with-a-name-that-runs-o");
  EXPECT_EQ((*board)[0xEC1F], 0x00);
  EXPECT_EQ((*board)[0xEC20], 0xF1);
  EXPECT_EQ((*board)[0xEC21], 0x00);
  EXPECT_EQ((ByteVector(board->begin() + 0xEC5C, board->begin() + 0xEC65)),
            (ByteVector{0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0}));
  // Without an ISP range nothing is placed apart.
  EXPECT_EQ((*board)[0xEC4D], 0x00);
  EXPECT_EQ(ReadSegments(*board)[0], (BoardSegment{0x4000, 0xEBFF, 0x0000, 0xABFF}));
}

class Placement : public ::testing::Test {
 protected:
  Placement() {
    for (std::size_t a = 0; a < pattern.size(); ++a)
      image.Set(static_cast<std::int64_t>(a), pattern[a]);
  }
  // The image parts of a placed board: 0x2000..0xEBFF.
  ByteVector Placed(const ByteVector& config) {
    auto board = Cleared();
    std::copy(config.begin(), config.end(), board->begin() + 0xEC00);
    PlaceImage(*board, image);
    return ByteVector(board->begin() + 0x2000, board->begin() + 0xEC00);
  }
  ByteVector Expected(std::int32_t first, std::int32_t last) {
    const ByteVector all = test::ExpectedBoardImage(pattern, first, last, {}, 1);
    return ByteVector(all.begin() + 0x2000, all.begin() + 0xEC00);
  }

  ByteVector pattern = test::PatternImage();
  ImageBufferArray image;
};

TEST_F(Placement, IspAreaApartByThePlacementWords) {
  EXPECT_EQ(Placed(test::ConfigVxa05hIsp2k()), Expected(0xF400, 0xFBFF));
}

TEST_F(Placement, FromAddressZeroForF0ModelsAndWithoutDestination) {
  EXPECT_EQ(Placed(test::ConfigVxa02hFromList()), Expected(1, 0));
  // The identity byte 0xF0 alone decides, whatever the words say.
  ByteVector config = test::ConfigVxa05hIsp2k();
  config[0x20] = 0xF0;
  EXPECT_EQ(Placed(config), Expected(1, 0));
}

TEST_F(Placement, WordsThatWouldRunOverTheConfigurationAreNotFollowed) {
  ByteVector config = test::ConfigVxa05hIsp2k();
  config[0x4D] = 0xE8;  // destination E800 with a 2 K block would end at EFFF
  auto board = Cleared();
  std::copy(config.begin(), config.end(), board->begin() + 0xEC00);
  PlaceImage(*board, image);
  EXPECT_EQ(ByteVector(board->begin() + 0x2000, board->begin() + 0xEC00), Expected(1, 0));
  EXPECT_EQ(ByteVector(board->begin() + 0xEC00, board->begin() + 0xEC65), config);
}

TEST(DataFrame, PreambleCrcModeAndLengthOfCountPlusThirteen) {
  const std::uint8_t two[] = {0xAA, 0x55};
  EXPECT_EQ(BuildOfflineDataFrame(0x30, 0x2000, two, 2),
            (Bytes{0x46, 0xB9, 0x6A, 0x00, 0x0F, 0x30, 0x00, 0x00, 0x20, 0x00, 0x00, 0x02, 0xAA,
                   0x55, 0x80, 0x94, 0x16}));
  const ByteVector data = test::PatternImage();
  const Bytes full = BuildOfflineDataFrame(0x00, 0xF200, data.data(), 512);
  EXPECT_EQ(full.size(), 527U);
  EXPECT_EQ(full[3], 0x02);
  EXPECT_EQ(full[4], 0x0D);
  EXPECT_EQ(full, test::DataFrame(0x00, 0xF200, data.data(), 512));
}

}  // namespace
}  // namespace kvr
