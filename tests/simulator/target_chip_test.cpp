#include "simulator/target_chip.h"

#include <gtest/gtest.h>

namespace kvr::sim {
namespace {

TEST(TargetChip, ProgrammingOnlyClearsBitsAndEraseRestoresEverything) {
  TargetChip chip;
  EXPECT_EQ(chip.FlashSize(), 0x12401u);
  EXPECT_EQ(chip.Flash(), Bytes(0x12401, 0xFF));

  const Bytes first = {0xF0, 0x0F, 0x3C, 0xFF};
  const Bytes second = {0x3C, 0xFF, 0x0F, 0x00};
  ASSERT_TRUE(chip.Program(0x12400 - 3, first));
  ASSERT_TRUE(chip.Program(0x12400 - 3, second));
  EXPECT_EQ(Bytes(chip.Flash().end() - 4, chip.Flash().end()), (Bytes{0x30, 0x0F, 0x0C, 0x00}));
  EXPECT_FALSE(chip.Program(0x12400 - 2, first));  // one byte beyond the end
  EXPECT_FALSE(chip.Program(0xFFFFFFFFu, {first.data(), 2}));

  // Loading is not programming: it sets bits as well.
  ASSERT_TRUE(chip.Load(0x12400 - 3, Bytes(4, 0xA5)));
  EXPECT_EQ(chip.Flash().back(), 0xA5);
  chip.SetOptions(0xFE, 0xFB);
  chip.Erase();
  EXPECT_EQ(chip.Flash(), Bytes(0x12401, 0xFF));
  EXPECT_EQ(chip.Or0(), 0xFF);
  EXPECT_EQ(chip.Or1(), 0xFF);
}

TEST(TargetChip, ResizingKeepsWhatFitsAndErasesTheRest) {
  TargetChip chip(0x100);
  ASSERT_TRUE(chip.Load(0xFE, Bytes{0x01, 0x02}));
  EXPECT_FALSE(chip.Load(0xFF, Bytes{0x01, 0x02}));
  chip.SetFlashSize(0xFF);
  chip.SetFlashSize(0x102);
  EXPECT_EQ(Bytes(chip.Flash().begin() + 0xFD, chip.Flash().end()),
            (Bytes{0xFF, 0x01, 0xFF, 0xFF, 0xFF}));
  chip.SetFlashSize(0);
  EXPECT_EQ(chip.FlashSize(), 1u);
}

TEST(TargetChip, SegmentSumsFollowTheTwoHundredFiftySixBytePages) {
  TargetChip chip;
  Bytes image(0x300);
  for (std::size_t a = 0; a < image.size(); ++a) image[a] = static_cast<std::uint8_t>(a);
  ASSERT_TRUE(chip.Load(0, image));

  EXPECT_EQ(chip.SegmentSums(0x0000, 0x00FF), (std::vector<std::uint16_t>{0x7F80}));
  // 0xF0..0xFF, then 0x100..0x110.
  EXPECT_EQ(chip.SegmentSums(0x00F0, 0x0110), (std::vector<std::uint16_t>{0x0F78, 0x0088}));
  EXPECT_EQ(chip.SegmentSums(0x0010, 0x0010), (std::vector<std::uint16_t>{0x10}));
  // A first segment, a whole page and a last segment; a full erased page is 0xFF00.
  EXPECT_EQ(chip.SegmentSums(0x02FF, 0x0400), (std::vector<std::uint16_t>{0xFF, 0xFF00, 0xFF}));
  EXPECT_EQ(TargetChip::SegmentCount(0x02FF, 0x0400), 3u);

  EXPECT_FALSE(chip.SegmentSums(0x0200, 0x01FF));
  EXPECT_FALSE(chip.SegmentSums(0x12300, 0x12401));
  EXPECT_FALSE(chip.SegmentSums(0, 0xFFFFFFFFu));
}

TEST(TargetChip, LockMakesTheProgrammerReadErasedBytes) {
  TargetChip chip;
  ASSERT_TRUE(chip.Load(0x100, Bytes{0x02, 0x00}));
  EXPECT_EQ(chip.Read(0xFF, 3), (Bytes{0xFF, 0x02, 0x00}));
  ASSERT_TRUE(chip.FindNonBlank());
  EXPECT_EQ(chip.FindNonBlank()->address, 0x100u);
  EXPECT_EQ(chip.FindNonBlank()->value, 0x02);

  chip.SetOptions(0xFE, 0xFF);  // LOCK = 0
  EXPECT_TRUE(chip.Locked());
  EXPECT_EQ(chip.Read(0xFF, 3), Bytes(3, 0xFF));
  EXPECT_EQ(chip.SegmentSums(0x100, 0x101), (std::vector<std::uint16_t>{0x1FE}));
  EXPECT_FALSE(chip.FindNonBlank());
  EXPECT_EQ(chip.Flash()[0x100], 0x02);  // still there
  EXPECT_FALSE(chip.Read(0x12400, 2));

  chip.SetOptions(0x01, 0x00);  // only LOCK counts
  EXPECT_EQ(chip.Read(0x100, 1), Bytes{0x02});
}

}  // namespace
}  // namespace kvr::sim
