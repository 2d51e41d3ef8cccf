// What the operator reads after a run: the verdict, the one plain line that says why a run
// failed, and the chips since the start; and the window's other companions of a run: the
// read-back labels, the checksum, the file of the start, the port of the session, the language.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>

#include "app/captions.h"
#include "app/station_fixture.h"

namespace kvr {
namespace {

namespace fs = std::filesystem;
using State = Station::VerdictState;

class VerdictTest : public StationTest {
 protected:
  VerdictTest() { station.DeferredSave(); }

  void Sequence(std::initializer_list<const char*> steps) {
    station.EditAutoSequence(2);
    for (const char* step : steps) {
      for (int i = 0; i < Station::kFirstSequenceSlot; ++i)
        if (station.txtAuto[static_cast<std::size_t>(i)].text == step) station.OnAutoSlotClick(i);
      station.EditAutoSequence(0);
    }
  }
  void LoadImage() {
    for (std::int32_t a = 0; a <= 0x7FF; ++a)
      station.ImageBuffer.Set(a, static_cast<std::uint8_t>(a * 13 + 1));
    station.FileLoaded = true;
    station.ProgramStart = 0;
    station.ProgramEnd = station.DataEnd = 0x7FF;
  }
  // Runs the function-list entry as the Program button does.
  void Run(int entry) {
    station.OnFunctionClick(entry);
    station.OnProgramClick();
  }
  std::string TempPath(const std::string& name) {
    return (fs::temp_directory_path() /
            ("kvr-verdict-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
             "-" + name))
        .string();
  }
};

TEST_F(VerdictTest, EveryFailedRunSaysWhyInOnePlainLine) {
  struct Case {
    const char* what;
    std::function<void()> arrange;
    int entry;  // of the function list
    const char* step;
    const char* reason;
  };
  const Case cases[] = {
      {"a fresh install's empty sequence", [] {}, 0, "",
       "The automatic sequence is empty: add steps on the Set_Auto tab."},
      {"another chip in the socket",
       [&] {
         writer.Config().chipIdentity = 0xF104;
         Sequence({"Read MCU ID", "Erase MCU"});
       },
       0, "Read MCU ID", "Wrong chip: it reads as F104 (VXA04H/L), but VXA01H (F101) is selected."},
      {"a chunk the writer acknowledged but never stored, found by the page sums",
       [&] {
         LoadImage();
         writer.Config().loseWriteNth = 3;
         Sequence({"Program File", "Verify Program"});
       },
       0, "Verify Program",
       "Verification failed: the chip differs from the buffer in 000100-0001FF."},
      {"the read-back of that chip, the lost chunk still erased", [&] { LoadImage(); }, 5,
       "Verify Program", "Verification failed: at 000100 the chip holds FF, the buffer 01."},
      {"no file to program",
       [&] {
         station.FileLoaded = false;
         vp.dialogs.ExpectInformation();
         Sequence({"Program File"});
       },
       0, "Program File", "No file is loaded: open a file first."},
      {"a port that is not there",
       [&] {
         OpenFailure failure;
         failure.cause = OpenFailure::Cause::Missing;
         failure.device = "/dev/ttyUSB0";
         vp.port.SetOpenFailure(1, failure);
       },
       2, "Read MCU ID",
       "COM1 could not be opened. There is no port /dev/ttyUSB0: is the adapter plugged in?"},
      {"a writer that does not answer", [&] { writer.Config().fault = sim::Fault::Silent; }, 2,
       "Read MCU ID", "The writer did not answer on COM1: check the cable and the writer's power."},
      {"an adapter pulled out", [&] { vp.port.PullOutAfter(1'000, 1); }, 2, "Read MCU ID",
       "COM1 was lost during the run: the adapter was disconnected."},
  };
  std::size_t runs = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    c.arrange();
    Run(c.entry);
    ++runs;
    EXPECT_EQ(station.RunVerdict.state, State::Fail);
    EXPECT_EQ(station.RunVerdict.step, c.step);
    EXPECT_EQ(station.RunVerdict.reason.english, c.reason);
    EXPECT_EQ(station.LastRun.reason.english, c.reason) << "what the command line prints";
    EXPECT_FALSE(station.RunVerdict.reason.chinese.empty());
    ASSERT_EQ(station.History.size(), runs);
    EXPECT_EQ(station.History.back().result, State::Fail);
    EXPECT_EQ(station.History.back().failedStep, c.step);
    // The log keeps its own lines; the reason is not among them.
    EXPECT_FALSE(station.textMsg.Contains(c.reason));
    writer.Config() = {};
    vp.port.PlugIn(1);
  }
}

TEST_F(VerdictTest, PassStoppedAndTheChipsSinceTheStart) {
  LoadImage();
  Sequence({"Read MCU ID", "Erase MCU", "Program File", "Verify Program"});
  EXPECT_EQ(station.RunVerdict.state, State::Ready);
  State during = State::Ready;
  At(400, [&] { during = station.RunVerdict.state; });
  Run(0);
  EXPECT_EQ(during, State::Running);
  EXPECT_EQ(station.RunVerdict.state, State::Pass);
  EXPECT_TRUE(station.RunVerdict.reason.empty());
  EXPECT_EQ(station.RunVerdict.identity, "F101");

  At(30, [&] { station.OnStopClick(); });
  Run(0);
  EXPECT_EQ(station.RunVerdict.state, State::Stopped);
  EXPECT_EQ(station.RunVerdict.step, "Read MCU ID");
  EXPECT_EQ(station.RunVerdict.reason.english, "Stopped by the operator.");

  ASSERT_EQ(station.History.size(), 2U);
  EXPECT_EQ(station.History[0].result, State::Pass);
  EXPECT_EQ(station.History[0].failedStep, "");
  EXPECT_EQ(station.History[1].result, State::Stopped);
  EXPECT_TRUE(
      std::regex_match(station.History[0].time, std::regex("[0-2][0-9]:[0-5][0-9]:[0-5][0-9]")))
      << station.History[0].time;
  EXPECT_EQ(station.RunsFinished, 2U);
}

TEST_F(VerdictTest, ReadOptionShowsWhatWasReadInEitherLanguage) {
  writer.Chip().SetOptions(0xEE, 0x6F);
  Run(7);
  ASSERT_EQ(station.LastRun.result, 0);
  EXPECT_EQ(station.read_Option[0].caption, "Lock MCU, read FF");
  EXPECT_EQ(station.read_Option[6].caption, "ISP size:   1.0 K");
  const std::string log = station.textMsg.Text();

  station.SetLanguage(false);
  EXPECT_EQ(station.read_Option[0].caption, "编程器读 Flash = FF");
  EXPECT_EQ(station.textMsg.Text(), log) << "the log keeps what it said";
  // A new model has not been read.
  station.OnTreeNodeClick("VXA02H");
  EXPECT_EQ(station.read_Option[0].caption, "LOCK: 未知");
}

TEST_F(VerdictTest, LanguageSwitchesAtOnceAndIsStored) {
  station.Option[3].selected = 0;
  station.SetLanguage(false);
  EXPECT_EQ(station.comDownload.caption, "编程");
  EXPECT_EQ(station.Captions["framMsg"], "信息");
  EXPECT_EQ(station.LabOptionE[0].caption, "锁芯片(读为FF)");
  EXPECT_EQ(station.Option[3].selected, 0) << "the operator's choice stays";
  EXPECT_EQ(station.framStep.caption, "Program / 编程 ( COM1, 115200 )");
  EXPECT_FALSE(StoredLanguageIsEnglish(vp.settings));
  // Not in the middle of a run: its log would speak two languages.
  At(1, [&] { station.SetLanguage(true); });
  Run(2);
  EXPECT_FALSE(station.UseEnglish);
  station.SetLanguage(true);
  EXPECT_TRUE(StoredLanguageIsEnglish(vp.settings));
  EXPECT_EQ(station.comDownload.caption, "Program");
}

TEST_F(VerdictTest, ChecksumFollowsTheBufferAndADroppedFileSaysSo) {
  const std::string path = TempPath("small.hex");
  std::ofstream(path, std::ios::binary) << ":0400000012345678E8\r\n:00000001FF\r\n";
  station.OpenFileAt(path);
  ASSERT_TRUE(station.FileLoaded);
  EXPECT_EQ(Trim(station.txtFileCheckSum.text), "0000114H");
  EXPECT_EQ(station.RecentFiles.front(), path);
  // One digit typed over the first byte: 0x12 becomes 0x92.
  vp.dialogs.ExpectQuestion(true);
  station.OnBufferMouseDown(station.txtBuffer2.text.find(" 000000   ") + 10);
  station.OnBufferKeyPress('9');
  EXPECT_EQ(station.ImageBuffer.Get(0), 0x92);
  EXPECT_EQ(Trim(station.txtFileCheckSum.text), "0000194H");
  EXPECT_TRUE(station.BufferChanged);

  // A model whose range the file does not fit drops it: the checksum goes with it.
  station.ProgramEnd = station.DataEnd = 0x2000;
  vp.dialogs.ExpectInformation();
  station.OnTreeNodeClick("VXA01H");
  station.DeferredSave();
  EXPECT_FALSE(station.FileLoaded);
  EXPECT_EQ(station.txtFileCheckSum.text, "");
  EXPECT_EQ(station.RunVerdict.reason.english,
            "The file was closed: it does not fit VXA01H as set; open it again.");
  fs::remove(path);
}

TEST_F(VerdictTest, FileOfTheStartAndThePortOfTheSession) {
  const std::string stored = TempPath("stored.hex");
  const std::string named = TempPath("named.hex");
  std::ofstream(stored, std::ios::binary) << ":0400000012345678E8\r\n:00000001FF\r\n";
  std::ofstream(named, std::ios::binary) << ":0100000001FE\r\n:00000001FF\r\n";
  vp.settings.Write(Station::kApplication, "Settings", "FilePath", stored);
  Station restarted(vp.platform);
  restarted.LoadAtStart("");
  EXPECT_TRUE(restarted.FileLoaded);
  EXPECT_EQ(restarted.LoadedFileName, stored);
  EXPECT_EQ(Trim(restarted.txtFileCheckSum.text), "0000114H");
  restarted.LoadAtStart(named);
  EXPECT_EQ(restarted.LoadedFileName, named);
  // A stored file that is gone, or a stored folder, loads nothing.
  Station again(vp.platform);
  fs::remove(named);
  again.LoadAtStart("");
  EXPECT_FALSE(again.FileLoaded);
  fs::remove(stored);

  // The simulated writer's COM1 serves this session; the stored port stays the operator's.
  station.OnPortChange(1);
  station.DeferredSave();
  station.UsePortForThisSession(0);
  EXPECT_EQ(station.framStep.caption, "Program ( COM1, 115200 )");
  station.DeferredSave();
  EXPECT_EQ(vp.settings.Read(Station::kApplication, "Settings", "COM_port", ""), "1");
  station.OnPortChange(2);
  station.DeferredSave();
  EXPECT_EQ(vp.settings.Read(Station::kApplication, "Settings", "COM_port", ""), "2");
}

TEST(OfflineLegend, MarksStandUnderTheirLedNumbersInBothLanguages) {
  for (const bool english : {true, false}) {
    const LedLegend& legend = OfflineLegend(english);
    const std::string numbers = legend.lines.front();
    for (const char* line : legend.lines) {
      const std::string text = line;
      std::size_t at = 0;
      while ((at = text.find('@', at)) != std::string::npos) {
        const std::size_t column = TextColumns(text.substr(0, at));
        ASSERT_LT(column, numbers.size()) << line;
        EXPECT_TRUE(numbers[column] >= '0' && numbers[column] <= '7') << line;
        ++at;
      }
    }
  }
}

}  // namespace
}  // namespace kvr
