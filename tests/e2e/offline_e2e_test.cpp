// kvr-cli's offline download over a pseudo-terminal against kvr-writer-sim --board.

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include "e2e/processes.h"
#include "offline/board_expect.h"

namespace kvr::test {
namespace {

// kvr-writer-sim serving the board; the image it receives lands in image.bin.
class BoardProcess {
 public:
  explicit BoardProcess(const QStringList& options)
      : sim_(QStringList(options) << "--board"
                                  << "--board-erase-ms"
                                  << "50"
                                  << "--board-image" << ImageFile()) {}

  const QString& DevicePath() const { return sim_.DevicePath(); }
  std::string Image() const { return ReadFile(ImageFile()); }
  bool HasImage() const { return QFile::exists(ImageFile()); }

 private:
  QString ImageFile() const { return dir_.filePath("image.bin"); }

  QTemporaryDir dir_;
  SimProcess sim_;
};

// 16 bytes at 0x0000, and 16 in the ISP area at 0xEC00.
QString WriteHex(const QTemporaryDir& dir, bool withIsp) {
  const QString path = dir.filePath("prog.hex");
  WriteFile(path, std::string(":10000000000102030405060708090A0B0C0D0E0F78\r\n") +
                      (withIsp ? ":10EC0000F0F1F2F3F4F5F6F7F8F9FAFBFCFDFEFF8C\r\n" : "") +
                      ":00000001FF\r\n");
  return path;
}

// The start-up model VXA01H of the tree with the stored ISP size 4 K (EC00..FBFF).
ByteVector ConfigVxa01hIsp4k() {
  return BoardConfig(
      "VXA01H",
      {
          0xF1, 0x01, 0x01, 0x0B, 0x10, 0x00, 0xEC, 0x00,  // identity, layout, class, ISP, end
          0x00, 0x00, 0x00, 0x01, 0x01, 0x01, 0x01, 0x01, 0xFF,                    // option rows
          0x00, 0x00, 0x00, 0x00,                                                  // reserved
          0x40, 0x00, 0x00, 0xDB, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x9B, 0xFF, 0x00,  // from address 0
          0x20, 0x00, 0x00, 0x3F, 0xFF, 0x00, 0x9C, 0x00, 0x00, 0xBB, 0xFF, 0x00,  // continuation
          0xDC, 0x00, 0x00, 0xEB, 0xFF, 0x00, 0xEC, 0x00, 0x00, 0xFB, 0xFF, 0x00,  // ISP area
          0x00, 0x00, 0x00, 0x0F, 0xFF, 0x00, 0xEC, 0x00, 0x00, 0xFB, 0xFF, 0x00,  // region display
      });
}

TEST(OfflineEndToEnd, CommandLineDownloadsToTheSimulatedBoard) {
  QTemporaryDir dir;
  BoardProcess board({});
  ASSERT_FALSE(board.DevicePath().isEmpty());
  const CliRun run =
      RunCliOnFreshSettings({"--port", board.DevicePath(), "--load", WriteHex(dir, true),
                             "--offline-download", "--copies", "2049"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  // The loader's report of the ISP data, and the board's capacity warning: the image ends at
  // 0xEC0F, beyond the 51 K the board reports (the box comes before the log lines above it are
  // printed).
  EXPECT_EQ(run.out,
            "[box: Open HEX file] ISP or Block1 contain procedure or datas.\n\n"
            "        Press enter continue \n"
            "\n正在连接...\n请给脱机烧录板上电。"
            "[box] This offline board holds at most 51K of program and data (ISP code "
            "included); the rest is not downloaded.\n\nPress OK to go on.\n"
            "\nWriter Version : 2.1\n\n\n连接成功。\n\n"
            "正在处理数据，请稍候...\n正在擦除全片内容...\n正在下载 ...\n"
            "Download OK. / 下载成功。\n");

  ByteVector image(0x10000, 0x00);
  for (int i = 0; i < 16; ++i) {
    image[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
    image[static_cast<std::size_t>(0xEC00 + i)] = static_cast<std::uint8_t>(0xF0 + i);
  }
  const ByteVector expected = ExpectedBoardImage(image, 0xEC00, 0xFBFF, ConfigVxa01hIsp4k(), 2049);
  const std::string received = board.Image();
  ASSERT_EQ(received.size(), 0x10001U);
  EXPECT_EQ(ByteVector(received.begin() + 0x2000, received.begin() + 0xF400),
            ByteVector(expected.begin() + 0x2000, expected.begin() + 0xF400));
}

TEST(OfflineEndToEnd, CommandLineReportsABoardThatDoesNotAnswer) {
  QTemporaryDir dir;
  BoardProcess board({"--silent"});
  const CliRun run =
      RunCliOnFreshSettings({"--port", board.DevicePath(), "--load", WriteHex(dir, false),
                             "--offline-download", "--copies", "1"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.out, "\n正在连接...\n请给脱机烧录板上电。\n连接失败。\n");
  EXPECT_EQ(run.err,
            "kvr-cli: the download to the offline board did not end with \"Download OK.\"\n");
  EXPECT_FALSE(board.HasImage());
}

TEST(OfflineEndToEnd, CommandLineOptionsOfTheBoard) {
  QTemporaryDir dir;
  const CliRun refused =
      RunCliOnFreshSettings({"--port", "/dev/kvr-no-such-port", "--load", WriteHex(dir, false),
                             "--offline-download", "--copies", "1000001"});
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_EQ(refused.out, "[box] The copy limit of the offline board must be 1000000 or less.\n");

  EXPECT_EQ(RunCliOnFreshSettings({"--offline-download"}).exitCode, 2);
  EXPECT_EQ(RunCliOnFreshSettings({"--copies", "5"}).exitCode, 2);

  // The title on a line of its own: the LED numbers keep their columns.
  const CliRun legend = RunCliOnFreshSettings({"--offline-legend", "--language", "zh"});
  EXPECT_EQ(legend.exitCode, 0) << legend.err;
  EXPECT_EQ(
      legend.out.rfind("[box: 脱机烧录过程中的显示]\n                             7 6 5 4", 0), 0U)
      << legend.out;
  EXPECT_NE(
      legend.out.find("\n因受干扰等原因发生运行错误           @         P0.3 LED 长亮不闪烁\n"),
      std::string::npos);
}

}  // namespace
}  // namespace kvr::test
