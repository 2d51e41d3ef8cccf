// The device operations behind the function list, run as an operator runs them, against the
// simulated writer and its chip; frames are checked against their layouts, texts exactly.

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>

#include "app/station_fixture.h"

namespace kvr {
namespace {

constexpr const char* kConnected = "We are connecting...\r\nWriter Version : 1.3\r\n\r\n";
constexpr std::uint8_t kClass = 11;  // the start-up model, VXA01H of the tree

enum Function {
  kAuto,
  kErase,
  kReadId,
  kCheckEmpty,
  kProgram,
  kVerify,
  kProgramOption,
  kReadOption,
  kReadEeprom
};

// Frames built here by hand from their layout tables, not by the station's builders.
Bytes ShortFrame(std::uint8_t code, std::uint8_t parameter = 0, std::uint8_t classCode = kClass) {
  Bytes frame{0x46, 0xB9, 0x6A, 0x00, 0x08, code, classCode, parameter};
  frame.push_back(
      static_cast<std::uint8_t>(std::accumulate(frame.begin() + 2, frame.end(), 0U) & 0xFF));
  frame.push_back(0x16);
  return frame;
}

Bytes WithSum(Bytes frame) {
  frame.push_back(static_cast<std::uint8_t>(std::accumulate(frame.begin(), frame.end(), 0U)));
  frame.push_back(0x16);
  return frame;
}

class OperationsTest : public StationTest {
 protected:
  // The save that start-up left pending has run, as it would have long before a run.
  OperationsTest() { station.DeferredSave(); }

  // Frames after the connection (four handshakes and the version read).
  std::vector<Bytes> OperationFrames() const {
    const auto& all = writer.ReceivedFrames();
    return all.size() > 5 ? std::vector<Bytes>(all.begin() + 5, all.end()) : std::vector<Bytes>{};
  }
  std::vector<Bytes> FramesWithCode(std::uint8_t code) const {
    std::vector<Bytes> frames;
    for (const Bytes& frame : OperationFrames()) {
      const std::size_t at = frame[0] == 0x46 ? 5 : 3;
      if (frame.size() > at && frame[at] == code) frames.push_back(frame);
    }
    return frames;
  }
  // A loaded image over start..end: byte a holds (a * 7 + 3).
  void LoadImage(std::int32_t start, std::int32_t end, std::int32_t dataEnd = -1) {
    for (std::int32_t a = 0; a <= 0xFFFF; ++a)
      station.ImageBuffer.Set(a, static_cast<std::uint8_t>(a * 7 + 3));
    station.FileLoaded = true;
    station.ProgramStart = start;
    station.ProgramEnd = end;
    station.DataEnd = dataEnd < 0 ? end : dataEnd;
  }
  void Run(Function function) {
    station.OnFunctionClick(function);
    station.OnProgramClick();
  }
  bool FlashMatches(std::int32_t first, std::int32_t last) const {
    for (std::int32_t a = first; a <= last; ++a)
      if (writer.Flash()[static_cast<std::size_t>(a)] != station.ImageBuffer.Get(a)) return false;
    return true;
  }
  std::string Log() const { return station.textMsg.Text(); }
};

TEST_F(OperationsTest, EraseAndItsFailures) {
  writer.Chip().Load(0x10, std::vector<std::uint8_t>{0x00});
  Run(kErase);
  EXPECT_EQ(Log(), std::string(kConnected) + "We are erasing ...\r\nErase MCU        OK!");
  EXPECT_EQ(OperationFrames(), std::vector<Bytes>{ShortFrame(0x08)});
  EXPECT_EQ(writer.Flash()[0x10], 0xFF);
  EXPECT_EQ(station.LastRun.result, 0);

  writer.ClearReceivedFrames();
  writer.Config().fault = sim::Fault::Silent;
  writer.Config().faultCommand = 0x08;
  Run(kErase);
  EXPECT_EQ(Log(), std::string(kConnected) + "We are erasing ...\r\n\r\nErase MCU failed!");
  EXPECT_EQ(FramesWithCode(0x08).size(), 6U);
  EXPECT_EQ(station.LastRun.result, -1);

  // Stopped while the writer is silent: the stop message, no failure message.
  At(1000, [&] { station.OnStopClick(); });
  Run(kErase);
  EXPECT_EQ(Log(), std::string(kConnected) + "We are erasing ...\r\n\r\n操作被中止!");
}

TEST_F(OperationsTest, CheckEmptyOnABlankChip) {
  Run(kCheckEmpty);
  EXPECT_EQ(Log(), std::string(kConnected) + "Check MCU empty ...\r\nRead is FFH all.");
  EXPECT_EQ(OperationFrames(), (std::vector<Bytes>{ShortFrame(0x09), ShortFrame(0x01)}));
  EXPECT_EQ(vp.beeper.Count(), 3);
  EXPECT_EQ(station.LastRun.result, 0);
  EXPECT_FALSE(vp.port.IsOpen());
  EXPECT_TRUE(station.comDownload.enabled);
}

TEST_F(OperationsTest, CheckEmptyReportsTheFirstByteFound) {
  // Below 0xFDFE the first byte found is reported by its address; from there up it is not.
  const struct {
    std::int32_t address;
    std::uint8_t value;
    const char* report;
  } cases[] = {
      {0x0100, 0x02, "\r\n\r\n000100H = 02"},
      {0x00FF, 0x33, "\r\n\r\n0000FFH = 33"},
      {0xFDFD, 0x44, "\r\n\r\n00FDFDH = 44"},
      {0xFDFE, 0x5A, ""},
      {0xFF00, 0x11, ""},
  };
  for (const auto& c : cases) {
    writer.Chip().Erase();
    writer.Chip().Load(c.address, std::vector<std::uint8_t>{c.value});
    Run(kCheckEmpty);
    EXPECT_EQ(Log(),
              std::string(kConnected) + "Check MCU empty ..." + c.report + "\r\nMCU is not empty.")
        << c.address;
    EXPECT_EQ(station.LastRun.result, -2) << c.address;
  }
}

// Eight tries of the blank-check command; a stop during any of its waits has the last word.
TEST_F(OperationsTest, BlankCheckUnansweredOrStopped) {
  writer.Config().fault = sim::Fault::Silent;
  writer.Config().faultCommand = 0x09;
  Run(kCheckEmpty);
  EXPECT_EQ(Log(), std::string(kConnected) +
                       "Check MCU empty ...\r\nCheck MCU empty failed.\r\nMCU is not empty.");
  EXPECT_EQ(FramesWithCode(0x09).size(), 8U);
  EXPECT_EQ(station.LastRun.result, -1);

  At(1000, [&] { station.OnStopClick(); });
  Run(kCheckEmpty);
  EXPECT_EQ(Log(), std::string(kConnected) + "Check MCU empty ...\r\n操作被中止!");
  EXPECT_EQ(station.LastRun.result, -1);

  // Stopped while the result is awaited: no further pass.
  writer.Config() = {};
  writer.Config().blankResult = false;
  writer.ClearReceivedFrames();
  int afterStop = 0;
  station.link.OnExchange = [&](std::uint8_t, std::size_t, WriterLink::Outcome, int) {
    if (station.link.StopRequested) ++afterStop;
  };
  At(3000, [&] { station.OnStopClick(); });
  Run(kCheckEmpty);
  EXPECT_EQ(Log(), std::string(kConnected) + "Check MCU empty ...\r\n操作被中止!");
  EXPECT_EQ(FramesWithCode(0x09).size(), 1U);
  EXPECT_EQ(afterStop, 1);  // the wait the stop ended
  EXPECT_EQ(station.LastRun.result, -1);

  // A stop handled together with the last pass's time-out (events that come in one batch).
  int timeouts = 0;
  station.link.OnExchange = [&](std::uint8_t code, std::size_t, WriterLink::Outcome outcome, int) {
    if (code == 0x09 && outcome == WriterLink::Outcome::TimedOut && ++timeouts == 6)
      station.OnStopClick();
  };
  Run(kCheckEmpty);
  EXPECT_EQ(timeouts, 6);
  EXPECT_EQ(Log(), std::string(kConnected) + "Check MCU empty ...\r\n操作被中止!");
}

TEST_F(OperationsTest, CheckEmptyWithOptionsThatAreNotErased) {
  writer.Chip().SetOptions(0xFF, 0xFB);
  Run(kCheckEmpty);
  EXPECT_EQ(Log(), std::string(kConnected) +
                       "Check MCU empty ...\r\n\r\nOR0 = FFH, OR1 = FBH\r\n\r\nISP size = 0.0 K"
                       "\r\nUnlock MCU           (LOCK=1)\r\nRead is transparent    (SB=1)"
                       "\r\nMOVC is enable      (MOVCL=1)\r\n12T mode             (EN6T=1)"
                       "\r\nBoot from AP         (HWBS=1)\r\nOSC gain is full    (OSCDN=1)"
                       "\r\nEnable expand RAM (AUX_RAM=1)\r\nStop WDT with reset(CL_WDT=1)"
                       "\r\nMCU is not empty.");
  EXPECT_NE(station.txtBuffer.text.find("    FBH   1      1      1      1      1      0      1"),
            std::string::npos);
  EXPECT_EQ(station.txtBuffer2.text, station.txtBuffer.text);
  EXPECT_EQ(vp.beeper.Count(), 0);
}

// A writer that answers at once can have its acknowledge and its result read in one piece.
TEST_F(OperationsTest, BlankCheckResultReadTogetherWithItsAcknowledge) {
  vp.port.onWrite = [this](const Bytes& bytes) {
    if (bytes.size() == 10 && bytes[5] == 0x09) {
      Bytes both = WithSum({0x68, 0x00, 0x06, 0x80});
      const Bytes result = WithSum({0x68, 0x00, 0x0A, 0x09, 0x00, 0x01, 0x00, 0x02});
      both.insert(both.end(), result.begin(), result.end());
      vp.port.DeliverAfter(1000, both);
      return;
    }
    for (auto& t : writer.Receive(bytes, vp.clock.Now()))
      vp.port.DeliverAfter(t.delayUs, std::move(t.bytes));
  };
  Run(kCheckEmpty);
  EXPECT_EQ(Log(), std::string(kConnected) +
                       "Check MCU empty ...\r\n\r\n000100H = 02\r\nMCU is not empty.");
  EXPECT_LT(vp.clock.NowMs(), 1000.0);  // no six-second wait for a result already there
}

TEST_F(OperationsTest, BlankCheckWithoutItsResultFrame) {
  writer.Config().blankResult = false;
  Run(kCheckEmpty);
  EXPECT_EQ(Log(), std::string(kConnected) +
                       "Check MCU empty ...\r\nCheck MCU empty failed.\r\nMCU is not empty.");
  // Six passes, each acknowledged at once and then waiting six seconds for the result.
  EXPECT_EQ(FramesWithCode(0x09).size(), 6U);
  EXPECT_GE(vp.clock.NowMs(), 36000.0);
  EXPECT_EQ(station.link.ReplyTimeoutMs, 700);
  EXPECT_EQ(station.LastRun.result, -1);
}

// Program File writes whole blocks from the block boundary below the range start.
TEST_F(OperationsTest, ProgramStartsAtItsBlockBoundaryInChunksOf128) {
  LoadImage(0x100, 0x2FF);
  Run(kProgram);
  EXPECT_EQ(Log(), std::string(kConnected) + "Programming ...\r\nProgram OK!");
  const std::vector<Bytes> frames = OperationFrames();
  ASSERT_EQ(frames.size(), 6U);
  // 6A, length n + 12, command, 00 00, address, n, data, sum, 16.
  Bytes first{0x6A, 0x00, 140, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x80};
  for (int a = 0; a < 128; ++a) first.push_back(static_cast<std::uint8_t>(a * 7 + 3));
  EXPECT_EQ(frames[0], WithSum(first));
  const std::pair<std::uint8_t, int> expected[] = {{0x04, 0x000}, {0x03, 0x080}, {0x03, 0x100},
                                                   {0x03, 0x180}, {0x03, 0x200}, {0x03, 0x280}};
  for (std::size_t i = 0; i < frames.size(); ++i) {
    EXPECT_EQ(frames[i][3], expected[i].first) << i;
    EXPECT_EQ(frames[i][6] * 256 + frames[i][7], expected[i].second) << i;
  }
  EXPECT_TRUE(FlashMatches(0, 0x2FF));
  EXPECT_EQ(station.labKbyte.caption, ".750K");
  EXPECT_FALSE(station.ProgressBar1.visible);
  EXPECT_EQ(station.ProgressBar1.minimum, 0);
  EXPECT_EQ(station.ProgressBar1.maximum, 0x2FF);
  // The driver's single beep after programming.
  EXPECT_EQ(vp.beeper.Count(), 1);
}

// A range that ends inside a chunk of its last block: that chunk carries only the bytes up to
// the end, down to a single one, and nothing beyond it is written.
TEST_F(OperationsTest, LastChunkEndsWithTheRange) {
  const struct {
    std::int32_t start, end;
    const char* size;
  } cases[] = {{0x2A0, 0x4A4, ".661K"}, {0x200, 0x480, ".626K"}};
  for (const auto& c : cases) {
    writer.Chip().Erase();
    writer.ClearReceivedFrames();
    LoadImage(c.start, c.end);
    Run(kProgram);
    EXPECT_EQ(Log(), std::string(kConnected) + "Programming ...\r\nProgram OK!") << c.end;
    const auto count = static_cast<std::uint8_t>(c.end - 0x480 + 1);
    Bytes last{0x6A, 0x00, static_cast<std::uint8_t>(count + 12), 0x03, 0x00, 0x00, 0x04, 0x80,
               0x00, count};
    for (std::int32_t a = 0x480; a <= c.end; ++a) last.push_back(station.ImageBuffer.Get(a));
    ASSERT_EQ(OperationFrames().size(), 6U) << c.end;
    EXPECT_EQ(OperationFrames().back(), WithSum(last)) << c.end;
    EXPECT_TRUE(FlashMatches(0x200, c.end)) << c.end;
    EXPECT_EQ(writer.Flash()[static_cast<std::size_t>(c.end) + 1], 0xFF) << c.end;
    EXPECT_EQ(station.labKbyte.caption, c.size) << c.end;
  }
}

TEST_F(OperationsTest, RangeEndingInsideItsFirstBlockSendsTheWholeBlock) {
  LoadImage(0x000, 0x100);
  writer.Config().writeAck = sim::WriteAck::Short;  // the six-byte acknowledge
  Run(kProgram);
  EXPECT_EQ(Log(), std::string(kConnected) + "Programming ...\r\nProgram OK!");
  EXPECT_EQ(OperationFrames().size(), 4U);
  EXPECT_TRUE(FlashMatches(0, 0x1FF));
  EXPECT_EQ(station.labKbyte.caption, ".251K");

  LoadImage(0x000, 0x1FF);
  Run(kProgram);
  EXPECT_EQ(station.labKbyte.caption, ".500K");
}

// Class 1 sends a full block's first chunk without the first flag until a retry; the other
// families set it from the first attempt.
TEST_F(OperationsTest, FirstFlagOfAFullBlockByClass) {
  station.SetShowExtraFamilies(true);
  const struct {
    const char* model;
    bool fromList;
    std::uint8_t firstCode;
  } cases[] = {{"VXE01L", true, 0x03},
               {"VXA01H", false, 0x04},
               {"VXB01H", false, 0x04},
               {"VXC01H", false, 0x04},
               {"VXD08H", false, 0x04}};
  for (const auto& c : cases) {
    if (c.fromList) {
      const auto& names = station.combMcuModel.entries;
      station.combMcuModel.index =
          static_cast<int>(std::find(names.begin(), names.end(), c.model) - names.begin());
      station.OnModelListClick();
    } else {
      station.OnTreeNodeClick(c.model);
    }
    LoadImage(0, 0x3FF);
    sim::WriterSimulator fresh({.dropNth = 6});  // the first write goes unanswered
    ConnectSimulatedWriter(vp.port, vp.clock, fresh);
    Run(kProgram);
    EXPECT_EQ(Log(), std::string(kConnected) + "Programming ...\r\nProgram OK!") << c.model;
    const std::vector<Bytes>& frames = fresh.ReceivedFrames();
    ASSERT_GE(frames.size(), 7U) << c.model;
    EXPECT_EQ(frames[5][3], c.firstCode) << c.model;  // attempt 0 of a full block
    EXPECT_EQ(frames[6][3], 0x04) << c.model;         // its retry
    EXPECT_EQ(frames[6][7], 0x00) << c.model;         // from the block's start again
    EXPECT_TRUE(std::equal(fresh.Flash().begin(), fresh.Flash().begin() + 0x400,
                           station.ImageBuffer.Bytes().begin()))
        << c.model;
  }
}

TEST_F(OperationsTest, ProgramFailsAfterSixAttemptsOfAFullBlock) {
  LoadImage(0, 0x3FF);
  writer.Config().fault = sim::Fault::BadCheck;
  writer.Config().faultCommand = 0x03;
  Run(kProgram);
  EXPECT_EQ(Log(), std::string(kConnected) + "Programming ...\r\nProgram failed!");
  // Each attempt gets as far as the second chunk of the block.
  EXPECT_EQ(FramesWithCode(0x04).size(), 6U);
  EXPECT_EQ(FramesWithCode(0x03).size(), 6U);
  EXPECT_EQ(station.LastRun.result, -1);
}

// Closing the window while a block waits: the run stops, and the window goes once it has.
TEST_F(OperationsTest, ClosingDuringProgrammingClosesTheWindowAfterTheRun) {
  LoadImage(0, 0x1FF);
  writer.Config().fault = sim::Fault::Silent;
  writer.Config().faultCommand = 0x04;
  int closed = 0;
  station.onCloseWindow = [&] { ++closed; };
  At(300, [&] { station.QueryUnload(); });
  Run(kProgram);
  EXPECT_EQ(station.LastRun.result, -1);
  while (vp.clock.HasPending()) vp.clock.RunNext();
  EXPECT_EQ(closed, 1);
}

// The last block gets three attempts, the first without the first flag; the bar and the size
// stay where the full blocks brought them.
TEST_F(OperationsTest, ProgramFailsAfterThreeAttemptsOfTheLastBlock) {
  LoadImage(0x200, 0x7FF);
  writer.Config().deadAfter = 5 + 8;  // the writer dies after two blocks of four chunks
  Run(kProgram);
  EXPECT_EQ(Log(), std::string(kConnected) + "Programming ...\r\nProgram failed!");
  std::vector<std::pair<std::uint8_t, int>> writes;
  for (const Bytes& frame : OperationFrames())
    writes.emplace_back(frame[3], frame[6] * 256 + frame[7]);
  EXPECT_EQ(writes, (std::vector<std::pair<std::uint8_t, int>>{{0x04, 0x200},
                                                               {0x03, 0x280},
                                                               {0x03, 0x300},
                                                               {0x03, 0x380},
                                                               {0x04, 0x400},
                                                               {0x03, 0x480},
                                                               {0x03, 0x500},
                                                               {0x03, 0x580},
                                                               {0x03, 0x600},
                                                               {0x04, 0x600},
                                                               {0x04, 0x600}}));
  EXPECT_EQ(station.ProgressBar1.value, 0x600);
  EXPECT_EQ(station.labKbyte.caption, "1.000K");
  EXPECT_EQ(station.LastRun.result, -1);

  // Stopped during a full block or the last one: no further attempt, the stop message has the
  // last word.
  const struct {
    std::uint64_t deadAfter;
    std::uint8_t code, addressHigh;
  } stops[] = {{5, 0x04, 0x02}, {5 + 8, 0x03, 0x06}};
  for (const auto& c : stops) {
    sim::WriterSimulator fresh({.deadAfter = c.deadAfter});
    ConnectSimulatedWriter(vp.port, vp.clock, fresh);
    fresh.SetFrameObserver([&](const Bytes& frame) {
      if (frame.size() > 7 && frame[3] == c.code && frame[6] == c.addressHigh)
        At(100, [&] { station.OnStopClick(); });
    });
    int afterStop = 0;
    station.link.OnExchange = [&](std::uint8_t, std::size_t, WriterLink::Outcome, int) {
      if (station.link.StopRequested) ++afterStop;
    };
    Run(kProgram);
    EXPECT_EQ(Log(), std::string(kConnected) + "Programming ...\r\n操作被中止!") << c.deadAfter;
    EXPECT_EQ(afterStop, 1) << c.deadAfter;  // the exchange the stop ended
    EXPECT_EQ(station.LastRun.result, -1) << c.deadAfter;
  }

  // A range that starts below the buffer is refused before anything is sent.
  station.link.StopRequested = false;
  int exchanges = 0;
  station.link.OnExchange = [&](std::uint8_t, std::size_t, WriterLink::Outcome, int) {
    ++exchanges;
  };
  const double before = vp.clock.NowMs();
  EXPECT_EQ(station.Programmer.WriteProgramRange({-1, 0x1FF, 0x1FF}), -1);
  EXPECT_EQ(vp.clock.NowMs(), before);
  EXPECT_EQ(exchanges, 0);
}

// Six reads of a chunk, six times over, before read-back gives up on it.
TEST_F(OperationsTest, ReadBackGivesUpAfterThirtySixReads) {
  LoadImage(0, 0xFF);
  writer.Config().fault = sim::Fault::Silent;
  writer.Config().faultCommand = 0x00;
  Run(kVerify);
  EXPECT_EQ(Log(), std::string(kConnected) + "We are checking ...\r\nCommunication is failed.");
  EXPECT_EQ(FramesWithCode(0x00).size(), 36U);
  EXPECT_EQ(station.LastRun.result, -1);
}

TEST_F(OperationsTest, ReadBackReportsTheFirstDifference) {
  LoadImage(0, 0x17FF);
  station.ImageBuffer.Set(0x1234, 0x55);
  writer.Chip().Load(0, std::vector<std::uint8_t>(station.ImageBuffer.Bytes().begin(),
                                                  station.ImageBuffer.Bytes().begin() + 0x1800));
  writer.Chip().Load(0x1234, std::vector<std::uint8_t>{0xAA});
  Run(kVerify);
  EXPECT_EQ(Log(), std::string(kConnected) +
                       "We are checking ...\r\nAddress: 001234\r\nBuffer:  55\r\nEEPROM:  AA"
                       "\r\n\r\nFine the first disaffinity.");
  const std::vector<Bytes> reads = FramesWithCode(0x00);
  ASSERT_EQ(reads.size(), 0x1234 / 128 + 1U);
  EXPECT_EQ(reads[0], WithSum({0x6A, 0x00, 0x0C, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x80}));
  EXPECT_EQ(reads.back(), WithSum({0x6A, 0x00, 0x0C, 0x00, 0x00, 0x00, 0x12, 0x00, 0x00, 0x80}));
  EXPECT_EQ(station.LastRun.result, -1);
  EXPECT_EQ(vp.beeper.Count(), 1);

  // The range's last byte alone in its chunk is read back too.
  LoadImage(0, 0x180);
  writer.Chip().Load(0, std::vector<std::uint8_t>(station.ImageBuffer.Bytes().begin(),
                                                  station.ImageBuffer.Bytes().begin() + 0x180));
  writer.Chip().Load(0x180, std::vector<std::uint8_t>{0x00});
  Run(kVerify);
  EXPECT_EQ(Log(), std::string(kConnected) +
                       "We are checking ...\r\nAddress: 000180\r\nBuffer:  83\r\nEEPROM:  00"
                       "\r\n\r\nFine the first disaffinity.");
}

TEST_F(OperationsTest, ReadBackBeyondTheLoadedDataEndsAtTheRange) {
  LoadImage(0, 0x3FF, 0x100);
  writer.Chip().Load(0, std::vector<std::uint8_t>(station.ImageBuffer.Bytes().begin(),
                                                  station.ImageBuffer.Bytes().begin() + 0x400));
  Run(kVerify);
  EXPECT_EQ(Log(), std::string(kConnected) + "We are checking ...\r\nChecking OK!");
  std::vector<int> chunks;
  for (const Bytes& read : FramesWithCode(0x00)) chunks.push_back(read[6] * 256 + read[7]);
  EXPECT_EQ(chunks,
            (std::vector<int>{0x000, 0x080, 0x100, 0x101, 0x180, 0x200, 0x280, 0x300, 0x380}));
  EXPECT_EQ(FramesWithCode(0x00)[2][9], 1);  // the chunk that ends with the data
  EXPECT_EQ(station.labKbyte.caption, ".999K");
}

// Verification by page sums, as the automatic step runs it for this class and writer version.
TEST_F(OperationsTest, PageSumsInOneAndTwoSegments) {
  station.EditAutoSequence(2);
  station.OnAutoSlotClick(4);  // "Verify Program"
  station.EditAutoSequence(0);
  LoadImage(0x0000, 0x00FF);
  writer.Chip().Load(0, std::vector<std::uint8_t>(station.ImageBuffer.Bytes().begin(),
                                                  station.ImageBuffer.Bytes().begin() + 0x200));
  Run(kAuto);
  EXPECT_EQ(station.LastRun.result, 0) << Log();
  EXPECT_EQ(OperationFrames(), std::vector<Bytes>{WithSum({0x6A, 0x00, 0x0E, 0x0D, 0x00, 0x00, 0x00,
                                                           0x00, 0x00, 0x00, 0x00, 0xFF})});

  writer.ClearReceivedFrames();
  station.ProgramStart = 0xF0;
  station.ProgramEnd = station.DataEnd = 0x110;
  Run(kAuto);
  EXPECT_EQ(station.LastRun.result, 0) << Log();
  EXPECT_EQ(OperationFrames(), std::vector<Bytes>{WithSum({0x6A, 0x00, 0x0E, 0x0D, 0x00, 0x00, 0x00,
                                                           0xF0, 0x00, 0x00, 0x01, 0x10})});

  // A chip that differs in the second segment fails six calls, then the step.
  writer.ClearReceivedFrames();
  writer.Chip().Load(0x105, std::vector<std::uint8_t>{0x00});
  station.ImageBuffer.Set(0x105, 0x01);
  Run(kAuto);
  EXPECT_EQ(FramesWithCode(0x0D).size(), 6U);
  EXPECT_EQ(station.LastRun.result, -1);

  // So does one whose last segment is a single byte.
  writer.ClearReceivedFrames();
  station.ProgramStart = 0xF0;
  station.ProgramEnd = station.DataEnd = 0x100;
  writer.Chip().Load(0x100, std::vector<std::uint8_t>{0x00});
  Run(kAuto);
  EXPECT_EQ(FramesWithCode(0x0D).size(), 6U);
  EXPECT_EQ(station.LastRun.result, -1);

  // A range of one byte is one segment.
  writer.ClearReceivedFrames();
  station.ProgramStart = station.ProgramEnd = station.DataEnd = 0x10;
  Run(kAuto);
  EXPECT_EQ(station.LastRun.result, 0) << Log();
  EXPECT_EQ(OperationFrames(), std::vector<Bytes>{WithSum({0x6A, 0x00, 0x0E, 0x0D, 0x00, 0x00, 0x00,
                                                           0x10, 0x00, 0x00, 0x00, 0x10})});

  // Stopped while the writer sums: no verdict after the stop message.
  writer.Config().fault = sim::Fault::Silent;
  writer.Config().faultCommand = 0x0D;
  At(1000, [&] { station.OnStopClick(); });
  Run(kAuto);
  EXPECT_EQ(station.LastRun.result, -1);
  EXPECT_EQ(Log(), std::string(kConnected) + "\r\nWe are checking ...\r\n操作被中止!");

  // A range that ends before it starts is no evidence: a failure, and nothing asked.
  writer.Config() = {};
  writer.ClearReceivedFrames();
  station.ProgramStart = 0x20;
  station.ProgramEnd = station.DataEnd = 0x1F;
  Run(kAuto);
  EXPECT_EQ(station.LastRun.result, -1);
  EXPECT_TRUE(FramesWithCode(0x0D).empty());
}

TEST_F(OperationsTest, StoppedVerificationIsAFailure) {
  LoadImage(0, 0x7FFF);
  writer.Config().fault = sim::Fault::Silent;
  writer.Config().faultCommand = 0x00;
  At(900, [&] { station.OnStopClick(); });
  Run(kVerify);
  EXPECT_EQ(station.LastRun.result, -1);
  EXPECT_EQ(Log(), std::string(kConnected) + "We are checking ...\r\n操作被中止!");
}

TEST_F(OperationsTest, ReadOptionsReportsThem) {
  writer.Chip().SetOptions(0xFD, 0xFF);
  Run(kReadOption);
  EXPECT_EQ(Log(), std::string(kConnected) +
                       "We are reading MCU Option ...\r\nRead MCU Option OK!\r\n\r\n"
                       "\r\nOR0 = FDH, OR1 = FFH\r\n\r\nISP size = 0.0 K"
                       "\r\nUnlock MCU           (LOCK=1)\r\nRead is scrambled      (SB=0)"
                       "\r\nMOVC is enable      (MOVCL=1)\r\n12T mode             (EN6T=1)"
                       "\r\nBoot from AP         (HWBS=1)\r\nOSC gain is full    (OSCDN=1)"
                       "\r\nEnable expand RAM (AUX_RAM=1)\r\nStop WDT with reset(CL_WDT=1)");
  EXPECT_EQ(OperationFrames(), std::vector<Bytes>{ShortFrame(0x01)});
  EXPECT_EQ(station.LastRun.result, 0);

  // Six reads before it gives up.
  writer.ClearReceivedFrames();
  writer.Config().fault = sim::Fault::Silent;
  writer.Config().faultCommand = 0x01;
  Run(kReadOption);
  EXPECT_EQ(Log(),
            std::string(kConnected) + "We are reading MCU Option ...\r\nRead MCU Option failed!");
  EXPECT_EQ(OperationFrames(), std::vector<Bytes>(6, ShortFrame(0x01)));
  EXPECT_EQ(station.LastRun.result, -1);
}

// The serial number is spent when programming reserves it, not when the options are written.
TEST_F(OperationsTest, ProgramOptionsFromThePanelLeavesTheSerialNumber) {
  station.texAuto_Increase[0].text = "0FFF";
  station.texAuto_Increase[1].text = "2";
  station.texAuto_Increase[2].text = "41";
  station.optAuto_Increase.selected = 1;
  station.cheAuto_Increase.checked = true;
  station.OnAutoIncreaseClick();
  Run(kProgramOption);
  EXPECT_EQ(Log(),
            std::string(kConnected) + "We are program MCU option ...\r\nProgram MCU option OK!");
  // The panel's defaults for this model: LOCK, SB and MOVCL "YES", the rest 1; the ISP size is
  // the stored choice (index 3, 4 K when nothing is stored).
  Bytes frame{0x6A, 0x00, 0x16, 0x05, 0xC0, 0xFF};
  frame.resize(20, 0x00);
  EXPECT_EQ(OperationFrames(), std::vector<Bytes>{WithSum(frame)});
  EXPECT_EQ(writer.Chip().Or0(), 0xC0);
  EXPECT_EQ(station.texAuto_Increase[2].text, "0041");
  EXPECT_EQ(station.ImageBuffer.Get(0xFFF), 0x41);
  EXPECT_EQ(vp.settings.Read(Station::kApplication, "Auto_Increase", "next_value", ""), "0041");
}

TEST_F(OperationsTest, ProgramOptionsShowsWhatTheChipLastSaidOnlyWhenItSaidSomething) {
  // This writer echoes other bytes than it was sent.
  vp.port.onWrite = [this](const Bytes& bytes) {
    if (bytes[0] == 0x6A && bytes[3] == 0x05) {
      vp.port.DeliverAfter(1000, WithSum({0x68, 0x00, 0x08, 0x80, 0xFE, 0xEF}));
      return;
    }
    for (auto& t : writer.Receive(bytes, vp.clock.Now()))
      vp.port.DeliverAfter(t.delayUs, std::move(t.bytes));
  };
  Run(kProgramOption);
  EXPECT_EQ(FramesWithCode(0x05).size(), 0U);  // they never reached the simulated writer
  EXPECT_EQ(Log(), std::string(kConnected) +
                       "We are program MCU option ...\r\nProgram MCU option failed!\r\n"
                       "\r\nISP size:  0.0 K\r\nLock MCU, read FF\r\nRead is transparent"
                       "\r\nEnable MOVC instructio\r\n12T mode\r\nBoot from AP\r\nOSC gain is 1/2"
                       "\r\nEnable expand RAM\r\nStop WDT with reset");
  EXPECT_EQ(station.read_Option[0].caption, "Lock MCU, read FF");
  EXPECT_EQ(station.read_Option[6].caption, "ISP size:   0.0 K");
  // They show the chip's answer in the language the operator switches to.
  station.SetLanguage(false);
  EXPECT_EQ(station.read_Option[0].caption, "编程器读 Flash = FF");
  station.SetLanguage(true);

  // No answer at all: the labels keep what they showed.
  ConnectSimulatedWriter(vp.port, vp.clock, writer);
  writer.Config().fault = sim::Fault::Silent;
  writer.Config().faultCommand = 0x05;
  station.OnModelListClick();  // a model choice resets the labels
  Run(kProgramOption);
  EXPECT_EQ(Log(), std::string(kConnected) +
                       "We are program MCU option ...\r\nProgram MCU option failed!\r\n");
  EXPECT_EQ(station.read_Option[0].caption, "LOCK: Unknown");
}

TEST_F(OperationsTest, ProgramOptionsTakesOnlyAWholeEchoAndStopsAtAStop) {
  // An echo with either of its two bytes wrong is no echo: four attempts, then the failure.
  for (const std::size_t wrong : {4U, 5U}) {
    int attempts = 0;
    vp.port.onWrite = [&](const Bytes& bytes) {
      if (bytes[0] == 0x6A && bytes[3] == 0x05) {
        ++attempts;
        Bytes echo{0x68, 0x00, 0x08, 0x80, bytes[4], bytes[5]};
        echo[wrong] ^= 0x01;
        vp.port.DeliverAfter(1000, WithSum(echo));
        return;
      }
      for (auto& t : writer.Receive(bytes, vp.clock.Now()))
        vp.port.DeliverAfter(t.delayUs, std::move(t.bytes));
    };
    Run(kProgramOption);
    EXPECT_EQ(attempts, 4) << wrong;
    EXPECT_EQ(station.LastRun.result, -1) << wrong;
  }

  // Stopped while the writer is silent: the exchange the stop ended is the last one.
  ConnectSimulatedWriter(vp.port, vp.clock, writer);
  writer.Config().fault = sim::Fault::Silent;
  writer.Config().faultCommand = 0x05;
  int afterStop = 0;
  station.link.OnExchange = [&](std::uint8_t, std::size_t, WriterLink::Outcome, int) {
    if (station.link.StopRequested) ++afterStop;
  };
  At(100, [&] { station.OnStopClick(); });
  Run(kProgramOption);
  EXPECT_EQ(afterStop, 1);
  EXPECT_EQ(station.LastRun.result, -1);
  EXPECT_EQ(Log().find("failed"), std::string::npos) << "no failure after the stop message";
}

TEST_F(OperationsTest, ReadEepromFillsTheBufferFromTheChip) {
  std::vector<std::uint8_t> image(0x10000);
  for (std::size_t a = 0; a < image.size(); ++a) image[a] = static_cast<std::uint8_t>(a ^ (a >> 8));
  writer.Chip().Load(0, image);
  Run(kReadEeprom);
  EXPECT_EQ(Log(), std::string(kConnected) + "\r\nRead EEPROM OK!");
  EXPECT_EQ(FramesWithCode(0x00).size(), 512U);
  EXPECT_TRUE(std::equal(image.begin(), image.end(), station.ImageBuffer.Bytes().begin()));
  EXPECT_EQ(station.labKbyte.caption, "64.000K");
  EXPECT_EQ(station.ProgramStart, 0);
  EXPECT_EQ(station.ProgramEnd, 0xFFFF);
  EXPECT_EQ(station.VScroll1.value, 0);
  EXPECT_EQ(station.LastRun.result, 0);
}

TEST_F(OperationsTest, ReadEepromFailureAt0x4000KeepsWhatWasRead) {
  writer.Chip().Load(0, std::vector<std::uint8_t>(0x8000, 0x3C));
  writer.Config().deadAfter = 5 + 128;  // the connection, then 16 KB of reads
  Run(kReadEeprom);
  EXPECT_EQ(Log(), std::string(kConnected) + "\r\nRead EEPROM failed!");
  EXPECT_EQ(station.ImageBuffer.Get(0x3FFF), 0x3C);
  EXPECT_EQ(station.ImageBuffer.Get(0x4000), 0xFF);
  EXPECT_EQ(station.ImageBuffer.Get(0xFFFF), 0xFF);
  EXPECT_EQ(station.ProgramEnd, 0x3FF);  // the range is not changed
  EXPECT_EQ(station.DataEnd, 0xFFFF);
  EXPECT_FALSE(station.ProgressBar1.visible);
}

// Writers that answer late, twice or for another address: every verdict rests on the reply to
// its own request. The chip's last 128 bytes are blank; the replies counted are the four
// handshakes, the version and the reads of 0x000, 0x080, ... (the read of 0x300 is the 12th).
TEST_F(OperationsTest, ReadBackTakesOnlyTheReplyToItsOwnRead) {
  const std::string difference =
      "We are checking ...\r\nAddress: 000380\r\nBuffer:  83\r\nEEPROM:  FF"
      "\r\n\r\nFine the first disaffinity.";
  struct Case {
    const char* what;
    void (*setUp)(sim::WriterConfig&);
  };
  const Case cases[] = {
      {"late", [](sim::WriterConfig& c) { c.lateNth = 12; }},
      {"sent twice",
       [](sim::WriterConfig& c) {
         c.duplicateNth = 12;
         c.duplicateGapUs = 100;  // the copy lands in the next read's exchange
       }},
      {"for another address", [](sim::WriterConfig& c) { c.wrongAddressNth = 7; }},
  };
  LoadImage(0, 0x3FF);
  for (const Case& c : cases) {
    writer.Config() = {};
    c.setUp(writer.Config());
    writer.Chip().Erase();
    writer.Chip().Load(0, std::vector<std::uint8_t>(station.ImageBuffer.Bytes().begin(),
                                                    station.ImageBuffer.Bytes().begin() + 0x380));
    Run(kVerify);
    EXPECT_EQ(Log(), std::string(kConnected) + difference) << c.what;
    EXPECT_EQ(station.LastRun.result, -1) << c.what;
    while (vp.clock.HasPending()) vp.clock.RunNext();
  }
}

// The first byte that differs inside a chunk is named, in the log and for the verdict.
TEST_F(OperationsTest, ReadBackNamesTheFirstDifferingByteInsideAChunk) {
  LoadImage(0, 0x1FF);
  std::vector<std::uint8_t> chip(station.ImageBuffer.Bytes().begin(),
                                 station.ImageBuffer.Bytes().begin() + 0x200);
  chip[0x101] = 0x05;  // the buffer holds 0A there
  chip[0x102] = 0x00;
  writer.Chip().Load(0, chip);
  Run(kVerify);
  EXPECT_EQ(Log(), std::string(kConnected) +
                       "We are checking ...\r\nAddress: 000101\r\nBuffer:  0A\r\nEEPROM:  05"
                       "\r\n\r\nFine the first disaffinity.");
  const auto& difference = station.Programmer.LastDifference;
  ASSERT_TRUE(difference.has_value());
  EXPECT_EQ(difference->first, 0x101);
  EXPECT_EQ(difference->last, 0x101);
  EXPECT_EQ(difference->buffer, 0x0A);
  EXPECT_EQ(difference->chip, 0x05);
}

TEST_F(OperationsTest, ReadEepromStoresOnlyWhatWasReadFromTheAddressAsked) {
  std::vector<std::uint8_t> image(0x10000);
  for (std::size_t a = 0; a < image.size(); ++a) image[a] = static_cast<std::uint8_t>(a * 13 + 1);
  writer.Chip().Load(0, image);
  writer.Config().wrongAddressNth = 3;  // the read of 0x0100 answers with 0x0180's bytes
  writer.Config().lateNth = 5 + 40;     // the read of 0x1300 is late
  Run(kReadEeprom);
  EXPECT_EQ(Log(), std::string(kConnected) + "\r\nRead EEPROM OK!");
  EXPECT_TRUE(std::equal(image.begin(), image.end(), station.ImageBuffer.Bytes().begin()));
  EXPECT_EQ(writer.InjectedFaults()[sim::Fault::WrongAddress], 1U);
  EXPECT_EQ(writer.InjectedFaults()[sim::Fault::Late], 1U);

  // A writer that always answers for the neighbouring address: no reply is usable.
  writer.Config() = {};
  writer.Config().fault = sim::Fault::WrongAddress;
  writer.ClearReceivedFrames();
  Run(kReadEeprom);
  EXPECT_EQ(Log(), std::string(kConnected) + "\r\nRead EEPROM failed!");
  EXPECT_EQ(FramesWithCode(0x00).size(), 6U);
}

// Text without end on the line, from the first handshake or after the connection: every wait
// ends at its deadline and the run with its usual failure.
TEST_F(OperationsTest, AWriterThatStreamsTextEndsTheRunOnItsOwn) {
  writer.Config().streamAfter = 0;
  Run(kErase);
  EXPECT_EQ(Log(), "We are connecting...\r\n\r\nPower on or connect the line please.");
  // 201 handshakes, each 20 ms and the 47 ms of the longest reply; then the three beeps.
  EXPECT_DOUBLE_EQ(vp.clock.NowMs(), 201 * 67.0 + 3 * 150);

  const double start = vp.clock.NowMs();
  sim::WriterSimulator fresh({.streamAfter = 5});
  ConnectSimulatedWriter(vp.port, vp.clock, fresh);
  Run(kErase);
  EXPECT_EQ(Log(), std::string(kConnected) + "We are erasing ...\r\n\r\nErase MCU failed!");
  EXPECT_LT(vp.clock.NowMs() - start, 6 * 747.0 + 100);
  EXPECT_EQ(station.LastRun.result, -1);
}

TEST_F(OperationsTest, EmptyOnlyWithEvidence) {
  // The acknowledge sent twice: the second is no result, the result follows it.
  writer.Config().blankAckTwice = true;
  Run(kCheckEmpty);
  EXPECT_EQ(Log(), std::string(kConnected) + "Check MCU empty ...\r\nRead is FFH all.");
  EXPECT_EQ(station.LastRun.result, 0);

  // Options that cannot be read are not the options of an empty chip.
  writer.Config() = {};
  writer.Config().fault = sim::Fault::Silent;
  writer.Config().faultCommand = 0x01;
  Run(kCheckEmpty);
  EXPECT_EQ(Log(), std::string(kConnected) +
                       "Check MCU empty ...\r\nCheck MCU empty failed.\r\nMCU is not empty.");
  EXPECT_EQ(station.LastRun.result, -1);
  EXPECT_EQ(vp.beeper.Count(), 3);  // the failure's beeps, not those of an empty chip

  // The same in the automatic step.
  station.EditAutoSequence(2);
  station.OnAutoSlotClick(2);  // "Check MCU Empty"
  station.EditAutoSequence(0);
  Run(kAuto);
  EXPECT_EQ(station.LastRun.result, -1);
  EXPECT_EQ(station.LastRun.failedStep, "Check MCU Empty");

  // Stopped while the options are read: the stop message is the last word.
  At(1000, [&] { station.OnStopClick(); });
  Run(kAuto);
  EXPECT_EQ(Log(), std::string(kConnected) + "\r\nCheck MCU empty ...\r\n操作被中止!");
}

}  // namespace
}  // namespace kvr
