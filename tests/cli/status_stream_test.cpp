// The command line's status stream, written by a station that repeats chips on virtual time.

#include "cli/status_stream.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "app/station_fixture.h"

namespace kvr {
namespace {

class StatusStreamTest : public StationTest {
 protected:
  StatusStreamTest()
      : stream([this](const std::string& line) {
          lines.push_back(line);
          return readerThere;
        }) {
    station.DeferredSave();
    vp.pump.SetIdleHook([this] { stream.Update(station); });
    station.onRunFinished = [this] {
      stream.RunFinished(station);
      if (++runs == runsWanted) station.EndRepeat();
    };
  }
  ~StatusStreamTest() override { vp.pump.SetIdleHook({}); }

  // A 2 KB image with a two-digit serial number stamped at 0x7FF, and the sequence.
  void Prepare(std::initializer_list<const char*> steps) {
    for (std::int32_t a = 0; a <= 0x7FF; ++a)
      station.ImageBuffer.Set(a, static_cast<std::uint8_t>(a * 13 + 1));
    station.FileLoaded = true;
    station.ProgramStart = 0;
    station.ProgramEnd = station.DataEnd = 0x7FF;
    station.texAuto_Increase[0].text = "07FF";
    station.texAuto_Increase[1].text = "2";
    station.texAuto_Increase[2].text = "7";
    station.optAuto_Increase.selected = 1;
    station.cheAuto_Increase.checked = true;
    station.OnAutoIncreaseClick();
    station.EditAutoSequence(2);
    for (const char* step : steps) {
      for (int i = 0; i < Station::kFirstSequenceSlot; ++i)
        if (station.txtAuto[static_cast<std::size_t>(i)].text == step) station.OnAutoSlotClick(i);
      station.EditAutoSequence(0);
    }
  }
  // The lines without the progress ones, which are looked at on their own.
  std::vector<std::string> Events() const {
    std::vector<std::string> events;
    for (const std::string& line : lines)
      if (line.rfind("progress\t", 0) != 0) events.push_back(line);
    return events;
  }

  std::vector<std::string> lines;
  bool readerThere = true;
  StatusStream stream;
  int runs = 0;
  int runsWanted = 2;
};

TEST_F(StatusStreamTest, AGoodChipThenAFailedOneLineByLine) {
  Prepare({"Erase MCU", "Program File", "Verify Program"});
  station.comDalay_ReDownLoad.index = 1;
  // The second chip's erase is never answered.
  int erases = 0;
  writer.Config().faultCommand = 0x08;
  writer.SetFrameObserver([&](const sim::Bytes& frame) {
    if (frame.size() == 10 && frame[5] == 0x08) ++erases;
    writer.Config().fault = erases >= 2 ? sim::Fault::Silent : sim::Fault::None;
  });
  stream.Started("COM1 (/dev/ttyUSB0)");
  station.RepeatRun();

  EXPECT_EQ(Events(), (std::vector<std::string>{
                          "start\tCOM1 (/dev/ttyUSB0)\n", "run\t1\n", "step\tErase MCU\n",
                          "step\tProgram File\n", "step\tVerify Program\n",
                          "chip\t1\tOK\t0007\t\t1\n", "countdown\t1\n", "run\t2\n",
                          "step\tErase MCU\n", "chip\t2\tfailed\t\tErase MCU\t1\n"}));
  // Programming's progress: a line per whole per cent at most, rising through the range.
  std::vector<long> done;
  for (const std::string& line : lines) {
    const std::vector<std::string> fields = status::Split(line);
    if (fields[0] != "progress") continue;
    ASSERT_EQ(fields.size(), 3U);
    EXPECT_EQ(fields[2], "2048");
    done.push_back(std::stol(fields[1]));
  }
  ASSERT_GE(done.size(), 2U);
  EXPECT_LE(done.size(), 101U);
  EXPECT_TRUE(std::is_sorted(done.begin(), done.end()));
  EXPECT_GT(done.back(), 1024);
  EXPECT_LE(done.back(), 2048);
}

TEST_F(StatusStreamTest, ALostPortAndARunThatReachesNoWriter) {
  Prepare({"Erase MCU", "Program File"});
  station.comDalay_ReDownLoad.index = 0;
  bool pulled = false;
  vp.pump.SetIdleHook([&] {
    stream.Update(station);
    if (!pulled && station.CurrentOperation == "Erase MCU") {
      pulled = true;
      vp.port.PullOutAfter(0, 1);
    }
  });
  station.RepeatRun();
  const std::vector<std::string> events = Events();
  ASSERT_GE(events.size(), 4U);
  EXPECT_EQ(std::vector<std::string>(events.end() - 4, events.end()),
            (std::vector<std::string>{"chip\t1\tfailed\t\tErase MCU\t0\n", "lost\t1\n", "run\t2\n",
                                      "unreached\t2\n"}));
}

TEST_F(StatusStreamTest, AReaderThatGoesAwayIsToldOnceAndWrittenToNoMore) {
  Prepare({"Erase MCU"});
  station.comDalay_ReDownLoad.index = 5;
  runsWanted = 100;
  int gone = 0;
  stream.OnReaderGone([&] {
    ++gone;
    station.EndRepeat();
    if (station.RunInProgress()) station.OnStopClick();
  });
  // The reader goes while the first chip is being erased.
  vp.pump.SetIdleHook([&] {
    if (station.CurrentOperation == "Erase MCU") readerThere = false;
    stream.Update(station);
  });
  station.RepeatRun();
  EXPECT_EQ(gone, 1);
  EXPECT_EQ(runs, 1);
  EXPECT_EQ(lines.back(), "step\tErase MCU\n");
  EXPECT_TRUE(station.comReDownload.enabled);
}

TEST(StatusLine, FieldsAreSeparatedByTabsAndNeverBreakTheLine) {
  EXPECT_EQ(status::Line("step", {"Program\tFile\r\n"}), "step\tProgram File  \n");
  EXPECT_EQ(status::Split("chip\t3\tOK\t\t\t12\n"),
            (std::vector<std::string>{"chip", "3", "OK", "", "", "12"}));
}

#ifndef _WIN32
TEST(StatusOption, TakenOnlyForAnOpenDescriptor) {
  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  int fd = -1;
  EXPECT_EQ(TakeStatusFd(std::to_string(ends[1]), fd), "");
  EXPECT_EQ(fd, ends[1]);
  // Its read end is no place to write to.
  EXPECT_EQ(
      TakeStatusFd(std::to_string(ends[0]), fd),
      "--status-fd wants an open descriptor from 3 on, not \"" + std::to_string(ends[0]) + "\"");
  ::close(ends[0]);
  ::close(ends[1]);
  for (const std::string& bad :
       std::vector<std::string>{"1", "x", "", "999999", std::to_string(ends[1])})
    EXPECT_NE(TakeStatusFd(bad, fd), "") << bad;
}

#endif

}  // namespace
}  // namespace kvr
