#include <gtest/gtest.h>

#include <algorithm>

#include "app/station.h"
#include "offline/board_expect.h"
#include "platform/virtual/virtual_platform.h"
#include "simulator/offline_board.h"
#include "simulator/writer_simulator.h"

namespace kvr {
namespace {

using test::ByteVector;

constexpr const char* kConnected =
    "\r\n正在连接...\r\n请给脱机烧录板上电。\r\nWriter Version : 2.1\r\n\r\n\r\n连接成功。\r\n";
constexpr const char* kDownloading =
    "\r\n正在处理数据，请稍候...\r\n正在擦除全片内容...\r\n正在下载 ...";
constexpr const char* kStart = "\r\n正在连接...\r\n请给脱机烧录板上电。";

// A station on the virtual platform; its line goes to the simulated offline board, or to the
// simulated writer for the runs after a download.
class OfflineTest : public ::testing::Test {
 protected:
  OfflineTest() : station(vp.platform) {
    vp.port.onWrite = [this](const Bytes& bytes) {
      auto replies = boardOnLine ? board.Receive(bytes, vp.clock.Now())
                                 : writer.Receive(bytes, vp.clock.Now());
      for (auto& t : replies) vp.port.DeliverAfter(t.delayUs, std::move(t.bytes));
    };
    // The save the start-up left pending runs before anything is loaded.
    station.DeferredSave();
    ChooseTreeModel("VXA05H", 2);
    station.txt_download_max.text = "5000";
  }

  void At(double ms, std::function<void()> action) {
    vp.clock.ScheduleAfter(static_cast<VirtualClock::Micros>(ms * 1000), std::move(action));
  }

  void ChooseTreeModel(const std::string& name, int ispIndex) {
    station.OnDeviceTextClick();
    station.OnTreeNodeClick(name);
    station.Combo2.index = ispIndex;
    station.OnIspSizeChange();
    station.DeferredSave();
  }

  void LoadPattern(std::int32_t programEnd = 0x7FFE) {
    for (std::size_t a = 0; a < pattern.size(); ++a)
      station.ImageBuffer.Set(static_cast<std::int64_t>(a), pattern[a]);
    station.FileLoaded = true;
    station.ProgramEnd = programEnd;
  }

  std::vector<ByteVector> Written() const {
    std::vector<ByteVector> frames;
    for (const Bytes& b : vp.port.Written()) frames.emplace_back(b.begin(), b.end());
    return frames;
  }

  ByteVector Received(std::int32_t first, std::int32_t end) const {
    return ByteVector(board.Image().begin() + first, board.Image().begin() + end);
  }

  void ExpectReleased() {
    EXPECT_FALSE(station.link.UseCrc16);
    EXPECT_FALSE(vp.port.IsOpen());
    EXPECT_TRUE(station.comDownload.enabled);
    EXPECT_FALSE(station.comStop_Download.enabled);
    EXPECT_TRUE(station.comTJXZ.enabled);
    EXPECT_TRUE(station.txt_download_max.enabled);
    EXPECT_TRUE(station.Combo2.enabled);
    EXPECT_FALSE(station.RunInProgress());
  }

  VirtualPlatform vp;
  sim::OfflineBoard board;
  sim::WriterSimulator writer;
  bool boardOnLine = true;
  Station station;
  ByteVector pattern = test::PatternImage();
};

TEST_F(OfflineTest, WholeDownloadWithTheIspAreaPlacedApart) {
  LoadPattern();
  bool sawLocked = false;
  At(1010, [&] {
    EXPECT_FALSE(station.comTJXZ.enabled);
    EXPECT_FALSE(station.txt_download_max.enabled);
    EXPECT_FALSE(station.comDownload.enabled);
    EXPECT_TRUE(station.comStop_Download.enabled);
    EXPECT_TRUE(station.link.UseCrc16);
    sawLocked = true;
  });
  station.OnOfflineDownloadClick();
  EXPECT_TRUE(sawLocked);

  EXPECT_EQ(station.textMsg.Text(),
            std::string(kConnected) + kDownloading + "\r\nDownload OK. / 下载成功。");
  EXPECT_EQ(station.LastOfflineDownload, 0);
  EXPECT_EQ(station.BoardCapacity, 51 * 1024);
  EXPECT_FALSE(station.BoardOption);
  EXPECT_EQ(station.ProgressBar1.value, station.ProgressBar1.maximum);
  ExpectReleased();

  const ByteVector expected =
      test::ExpectedBoardImage(pattern, 0xF400, 0xFBFF, test::ConfigVxa05hIsp2k(), 5000);
  EXPECT_EQ(Received(0x2000, 0xF400),
            ByteVector(expected.begin() + 0x2000, expected.begin() + 0xF400));
  EXPECT_EQ(Written(), test::DownloadFrames(expected, 0x0B));
  EXPECT_EQ(Written().front(),
            (ByteVector{0x46, 0xB9, 0x6A, 0x00, 0x09, 0x80, 0x0B, 0xF1, 0xCD, 0xD1, 0x16}));
  EXPECT_EQ(board.CompletedDownloads(), 1);
  EXPECT_TRUE(board.BlocksVerified());
}

TEST_F(OfflineTest, WholeDownloadOfAnF0ModelFromAddressZero) {
  const auto& names = station.combMcuModel.entries;
  station.combMcuModel.index =
      static_cast<int>(std::find(names.begin(), names.end(), "VXA02H") - names.begin());
  station.OnModelListClick();
  station.DeferredSave();
  LoadPattern(0x1FFE);
  station.txt_download_max.text = " 1000000 ";
  board.Config().optionByte = 1;
  station.OnOfflineDownloadClick();

  EXPECT_EQ(station.LastOfflineDownload, 0) << station.textMsg.Text();
  EXPECT_TRUE(station.BoardOption);
  const ByteVector expected =
      test::ExpectedBoardImage(pattern, 1, 0, test::ConfigVxa02hFromList(), 1'000'000);
  EXPECT_EQ(Received(0x2000, 0xF400),
            ByteVector(expected.begin() + 0x2000, expected.begin() + 0xF400));
  EXPECT_EQ(Written(), test::DownloadFrames(expected, 0x02));
  EXPECT_TRUE(board.BlocksVerified());
}

TEST_F(OfflineTest, CopyLimitsOutsideTheRangeAreRefusedBeforeThePortIsTouched) {
  station.UseEnglish = false;  // the board's own wording
  LoadPattern();
  const std::pair<const char*, const char*> cases[] = {
      {"0", "脱机下载板下载数量上限应大于 0。"},
      {"", "脱机下载板下载数量上限应大于 0。"},
      {"1000001", "脱机下载板下载数量上限应小于、等于 1000000。"},
  };
  for (const auto& [limit, box] : cases) {
    station.textMsg.Replace("from before");
    station.txt_download_max.text = limit;
    vp.dialogs.ExpectInformation();
    station.OnOfflineDownloadClick();
    EXPECT_EQ(vp.dialogs.ShownDialogs().back().text, box);
    EXPECT_EQ(station.textMsg.Text(), "");
    EXPECT_EQ(station.LastOfflineDownload, -1);
    ExpectReleased();
  }
  EXPECT_EQ(vp.port.OpenCount(), 0);
  EXPECT_TRUE(vp.port.Written().empty());
}

TEST_F(OfflineTest, NoFileNoDownload) {
  vp.dialogs.ExpectInformation();
  station.OnOfflineDownloadClick();
  station.UseEnglish = false;
  vp.dialogs.ExpectInformation();
  station.OnOfflineDownloadClick();
  ASSERT_EQ(vp.dialogs.ShownDialogs().size(), 2U);
  EXPECT_EQ(vp.dialogs.ShownDialogs()[0].text, "Please open the file.");
  EXPECT_EQ(vp.dialogs.ShownDialogs()[1].text, "    请打开文件。    ");
  EXPECT_EQ(vp.port.OpenCount(), 0);
  ExpectReleased();
}

TEST_F(OfflineTest, FailedConnectionLeavesTheLinkReadyForTheWriter) {
  LoadPattern();
  board.Config().silent = true;
  station.OnOfflineDownloadClick();
  EXPECT_EQ(station.textMsg.Text(), std::string(kStart) + "\r\n连接失败。");
  EXPECT_EQ(vp.beeper.Count(), 0);
  ExpectReleased();

  boardOnLine = false;
  vp.port.ClearWritten();
  station.OnProgramClick();
  EXPECT_TRUE(station.LastRun.connected);
  ASSERT_FALSE(vp.port.Written().empty());
  EXPECT_EQ(vp.port.Written().front(),
            (Bytes{0x46, 0xB9, 0x6A, 0x00, 0x08, 0x80, 0x0B, 0xF0, 0xED, 0x16}));
}

TEST_F(OfflineTest, PortThatCannotBeOpened) {
  LoadPattern();
  vp.port.SetUnavailable(1);
  station.OnOfflineDownloadClick();
  EXPECT_EQ(station.textMsg.Text(),
            std::string(kStart) + "\r\n打开串口失败!\r\n串口已被其它程序打开或不存在。");
  ExpectReleased();
}

TEST_F(OfflineTest, PortTroubleSaysWhy) {
  LoadPattern();
  OpenFailure missing;
  missing.cause = OpenFailure::Cause::Missing;
  missing.device = "/dev/ttyUSB0";
  vp.port.SetOpenFailure(1, missing);
  station.OnOfflineDownloadClick();
  EXPECT_EQ(station.textMsg.Text(),
            std::string(kStart) +
                "\r\n打开串口失败!\r\n串口已被其它程序打开或不存在。\r\nThere is no port "
                "/dev/ttyUSB0: is the adapter plugged in?");

  // Pulled out while the board erases.
  vp.port.PlugIn(1);
  vp.port.PullOutAfter(1'000'000, 1);
  station.OnOfflineDownloadClick();
  EXPECT_EQ(station.textMsg.Text(),
            std::string(kConnected) +
                "\r\n正在处理数据，请稍候...\r\n正在擦除全片内容...\r\n操作被停止.\r\nCOM port "
                "lost: the adapter was disconnected!");
  EXPECT_EQ(station.LastOfflineDownload, -1);
  ExpectReleased();
}

TEST_F(OfflineTest, FailingBoardCommands) {
  LoadPattern();
  struct Case {
    int badCheck;
    std::string log;
    int beeps;
  };
  const Case cases[] = {
      {0x0E, std::string(kStart) + "\r\n连接失败。", 1},
      {0x0C, std::string(kStart) + "\r\n连接失败。", 1},
      {0x84,
       std::string(kConnected) + "\r\n正在处理数据，请稍候...\r\n正在擦除全片内容...\r\n擦除失败",
       0},
      {0x86, std::string(kConnected) + kDownloading + "\r\n下载失败。", 0},
  };
  for (const Case& c : cases) {
    board.Config().badCheckCommand = c.badCheck;
    const int beeps = vp.beeper.Count();
    station.OnOfflineDownloadClick();
    EXPECT_EQ(station.textMsg.Text(), c.log) << std::hex << c.badCheck;
    EXPECT_EQ(vp.beeper.Count() - beeps, c.beeps);
    EXPECT_EQ(station.LastOfflineDownload, -1);
    ExpectReleased();
  }
}

TEST_F(OfflineTest, LostFramesAndBlocksThatFailTheirCheckValues) {
  LoadPattern();
  const std::string failed = std::string(kConnected) + kDownloading + "\r\n下载失败。";
  board.Config().dropDataFrame = 3;
  station.OnOfflineDownloadClick();
  EXPECT_EQ(station.textMsg.Text(), failed);
  // Nothing after the lost frame: the download ended at its time-out.
  EXPECT_EQ(vp.port.Written().size(), 7U + 3U);

  // A bad cell in the main part shows when its end is reported, one in the continuation at once.
  board.Config().dropDataFrame = 0;
  for (const std::uint16_t cell : {0x5000, 0x2345}) {
    board.Config().weakCell = cell;
    vp.port.ClearWritten();
    station.OnOfflineDownloadClick();
    EXPECT_EQ(station.textMsg.Text(), failed) << std::hex << cell;
    EXPECT_FALSE(board.BlocksVerified());
    ExpectReleased();
  }
}

TEST_F(OfflineTest, CapacityWarningWhenTheImageReachesWhatTheBoardHolds) {
  station.UseEnglish = false;
  board.Config().capacityK = 16;
  LoadPattern(0x3FFF);
  station.OnOfflineDownloadClick();  // no box: an unexpected one would fail the test
  EXPECT_EQ(station.LastOfflineDownload, 0);

  LoadPattern(0x4000);
  vp.dialogs.ExpectInformation();
  station.OnOfflineDownloadClick();
  ASSERT_EQ(vp.dialogs.ShownDialogs().size(), 1U);
  EXPECT_EQ(vp.dialogs.ShownDialogs()[0].text,
            "此脱机烧录器最多下载16K 程序和数据(含ISP程序), 超出部分将不下载。\r\n\r\n"
            "                           按确定继续");
  EXPECT_EQ(vp.dialogs.ShownDialogs()[0].title, "");
  EXPECT_EQ(station.LastOfflineDownload, 0);
}

TEST_F(OfflineTest, StopDuringTheDownload) {
  LoadPattern();
  board.Config().latencyUs = 5000;
  At(1200, [&] {
    station.OnStopClick();
    EXPECT_TRUE(station.comDownload.enabled);
  });
  station.OnOfflineDownloadClick();
  EXPECT_EQ(station.textMsg.Text(),
            std::string(kConnected) + kDownloading + "\r\n操作被中止!\r\n操作被停止.");
  EXPECT_EQ(station.LastOfflineDownload, -1);
  // The stop command goes out in the board's mode.
  EXPECT_EQ(vp.port.Written().back(),
            (Bytes{0x46, 0xB9, 0x6A, 0x00, 0x09, 0x82, 0x0B, 0x00, 0xAD, 0x95, 0x16}));
  EXPECT_EQ(board.CompletedDownloads(), 0);
  ExpectReleased();
}

TEST_F(OfflineTest, LegendBox) {
  station.UseEnglish = false;
  vp.dialogs.ExpectInformation();
  station.OnOfflineLegendClick();
  ASSERT_EQ(vp.dialogs.ShownDialogs().size(), 1U);
  const auto& box = vp.dialogs.ShownDialogs()[0];
  EXPECT_EQ(box.title, "脱机烧录过程中的显示");
  EXPECT_EQ(box.text,
            "                             7 6 5 4 3 2 1 0\r\n"
            "正在自检                     @   @   @   @     长亮不闪烁\r\n"
            "烧录中                       8个灯长亮, 亮度稍暗，有不明显的闪烁\r\n"
            "--------------------------------------------------------------------------\r\n"
            "禁止脱机烧录:                @ @ @ @ @ @ @ @   8个灯长亮,拷贝限量已减为 0\r\n"
            "                                               或还未下载应用程序\r\n"
            "--------------------------------------------------------------------------\r\n"
            "自检错                       @                 P0.7 LED 长亮不闪烁\r\n"
            "单片机型号不符                 @               P0.6 LED 长亮不闪烁\r\n"
            "检查空片错                       @             P0.5 LED 长亮不闪烁\r\n"
            "AP, ISP 校验错                     @           P0.4 LED 长亮不闪烁\r\n"
            "因受干扰等原因发生运行错误           @         P0.3 LED 长亮不闪烁");
}

}  // namespace
}  // namespace kvr
