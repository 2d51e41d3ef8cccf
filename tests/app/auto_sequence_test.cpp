// The automatic sequence, its editing, the good count, repeat and the production report, run as
// an operator runs them against the simulated writer on virtual time.

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "app/station_fixture.h"
#include "support/intel_hex.h"
#include "support/test_files.h"

namespace kvr {
namespace {

namespace fs = std::filesystem;

constexpr const char* kConnected = "We are connecting...\r\nWriter Version : 1.3\r\n\r\n";

// A step's summary line: its name, `width` blanks, " OK!".
std::string Line(const std::string& name, int width) {
  return name + std::string(static_cast<std::size_t>(width), ' ') + " OK!\r\n";
}

class AutoSequenceTest : public StationTest {
 protected:
  AutoSequenceTest() {
    station.DeferredSave();
    dir_ = fs::temp_directory_path() /
           ("kvr-auto-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    test::RemoveFolder(dir_);
    fs::create_directories(dir_);
  }
  ~AutoSequenceTest() override { test::RemoveFolder(dir_); }

  // Appends the steps as the operator does: highlight a step offered, press "Append -->".
  void Sequence(std::initializer_list<const char*> steps) {
    station.EditAutoSequence(2);
    for (const char* step : steps) {
      for (int i = 0; i < Station::kFirstSequenceSlot; ++i)
        if (station.txtAuto[static_cast<std::size_t>(i)].text == step) station.OnAutoSlotClick(i);
      station.EditAutoSequence(0);
    }
  }
  // A loaded 2 KB image, with the serial-number stamp at 0x7FF when `serial` is given.
  void LoadImage(const char* serial = nullptr) {
    for (std::int32_t a = 0; a <= 0x7FF; ++a)
      station.ImageBuffer.Set(a, static_cast<std::uint8_t>(a * 13 + 1));
    station.FileLoaded = true;
    station.ProgramStart = 0;
    station.ProgramEnd = station.DataEnd = 0x7FF;
    if (serial != nullptr) {
      station.texAuto_Increase[0].text = "07FF";
      station.texAuto_Increase[1].text = "2";
      station.texAuto_Increase[2].text = serial;
      station.optAuto_Increase.selected = 1;
      station.cheAuto_Increase.checked = true;
      station.OnAutoIncreaseClick();
    }
  }
  std::string Setting(const std::string& key) {
    return vp.settings.Read(Station::kApplication, "Settings", key, "<none>");
  }
  std::vector<std::string> ReportLines() const {
    std::ifstream in(dir_ / "report.csv");
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  std::string Log() const { return station.textMsg.Text(); }
  static std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> fields;
    std::stringstream record(line);
    for (std::string field; std::getline(record, field, ',');) fields.push_back(field);
    return fields;
  }
  // The CRC-32 of the chip's flash over first..last, as a record spells it.
  std::string ChipCrc(std::int32_t first, std::int32_t last) const {
    const auto& flash = writer.Flash();
    char text[12];
    std::snprintf(text, sizeof text, "%08X",
                  Crc32(flash.data() + first, static_cast<std::size_t>(last - first + 1)));
    return text;
  }
  // Loads the 2 KB image from a HEX file, as the Open file command does.
  std::string LoadFile() {
    std::string image(0x800, '\0');
    for (std::size_t a = 0; a < image.size(); ++a) image[a] = static_cast<char>(a * 13 + 1);
    const fs::path file = dir_ / "fw.hex";
    std::ofstream(file, std::ios::binary) << test::IntelHex(image);
    vp.dialogs.ExpectOpenFile(file.string());
    station.OnLoadFileClick();
    return file.string();
  }
  void Number(const char* next, const char* bytes = "2") {
    station.texAuto_Increase = {TextBox{"07FF"}, TextBox{bytes}, TextBox{next}, TextBox{"1"}};
    station.optAuto_Increase.selected = 1;
    station.OnSerialFieldChange();
    station.cheAuto_Increase.checked = true;
    station.OnAutoIncreaseClick();
  }

  fs::path dir_;
};

TEST_F(AutoSequenceTest, FourStepsInEnglishLeaveOneAlignedLineEach) {
  LoadImage();
  Sequence({"Erase MCU", "Check MCU Empty", "Program File", "Verify Program"});
  station.OnProgramClick();
  EXPECT_EQ(Log(), std::string(kConnected) + Line("Erase MCU", 15) + Line("Check MCU Empty", 13) +
                       Line("Program File", 9) + Line("Verify Program", 12) +
                       "\r\nAuto              OK!");
  EXPECT_EQ(station.textMsg.Caret(), Log().size());
  EXPECT_EQ(station.txtWrite_OK_Count.text, "1");
  EXPECT_EQ(Setting("Write_OK_Count"), "1");
  EXPECT_EQ(vp.beeper.Count(), 1);  // sounds are on
  EXPECT_EQ(station.LastRun.result, 0);
  // The writer's version 1.3 verifies this class by page sums.
  bool sums = false;
  for (const Bytes& frame : writer.ReceivedFrames()) sums = sums || frame[3] == 0x0D;
  EXPECT_TRUE(sums);
  for (std::int32_t a = 0; a <= 0x7FF; ++a)
    ASSERT_EQ(writer.Flash()[static_cast<std::size_t>(a)], station.ImageBuffer.Get(a)) << a;
}

TEST_F(AutoSequenceTest, FourStepsInChinese) {
  station.UseEnglish = false;
  station.OnBeepClick(false);
  LoadImage();
  Sequence({"Erase MCU", "Check MCU Empty", "Program File", "Verify Program"});
  station.OnProgramClick();
  EXPECT_EQ(Log(), std::string("正在与编程器连接 ...\r\n烧录器版本号: 1.3\r\n\r\n") +
                       Line("Erase MCU", 15) + Line("Check MCU Empty", 14) +
                       Line("Program File", 15) + Line("Verify Program", 11) +
                       "\r\n运行自动功能            OK!");
  EXPECT_EQ(vp.beeper.Count(), 0);
}

// The chip was programmed with its number before it failed: the number is spent, and its
// record says so.
TEST_F(AutoSequenceTest, AFailingStepEndsTheRunAndAProgrammedChipHasSpentItsNumber) {
  writer.Config().versionByte = 0x12;  // verification by read-back
  writer.Config().flipReadNth = 1;
  LoadImage("41");
  station.txtReportFile.text = (dir_ / "report.csv").string();
  Sequence({"Erase MCU", "Program File", "Verify Program", "Program Option"});
  station.OnProgramClick();
  EXPECT_EQ(Log(), std::string("We are connecting...\r\nWriter Version : 1.2\r\n\r\n") +
                       Line("Erase MCU", 15) + Line("Program File", 13) +
                       "\r\nVerify Program         failed!\r\n\r\nAuto             failed!");
  EXPECT_EQ(vp.beeper.Count(), 3);
  EXPECT_EQ(station.txtWrite_OK_Count.text, "0");
  EXPECT_EQ(Setting("Write_OK_Count"), "0");
  EXPECT_EQ(writer.Flash()[0x7FF], 0x41);
  EXPECT_EQ(station.texAuto_Increase[2].text, "0042");
  EXPECT_EQ(vp.settings.Read(Station::kApplication, "Auto_Increase", "next_value", ""), "0042");
  EXPECT_EQ(station.ImageBuffer.Get(0x7FF), 0x42) << "the view shows the next chip's number";
  for (const Bytes& frame : writer.ReceivedFrames()) EXPECT_NE(frame[3], 0x05);
  const std::vector<std::string> lines = ReportLines();
  ASSERT_EQ(lines.size(), 2U);
  EXPECT_NE(lines[1].find(",0041,," + ChipCrc(0, 0x7FF) + ",failed,Verify Program,"),
            std::string::npos)
      << lines[1];
}

// A record names what went into the chip: the file, or the chip's own bytes after "Read
// EEPROM", with the CRC-32 of the bytes as they were sent (its number included); nothing when
// nothing was programmed.
TEST_F(AutoSequenceTest, RecordsNameTheImageAndCrcOfWhatWasProgrammed) {
  const std::string file = LoadFile();
  Number("41");
  station.txtReportFile.text = (dir_ / "report.csv").string();
  Sequence({"Erase MCU", "Program File", "Verify Program"});
  station.OnProgramClick();
  Sequence({"Read MCU ID", "Erase MCU"});
  station.OnProgramClick();

  // The chip read back: what the buffer holds now is no longer the file.
  station.OnFunctionClick(8);
  const std::uint8_t mark[] = {0x5A, 0xA5};
  for (std::uint32_t a = 0x800; a <= 0xFFFF; a += 0x100) writer.Chip().Load(a, mark);
  station.cheAuto_Increase.checked = false;
  station.OnAutoIncreaseClick();
  station.OnProgramClick();
  EXPECT_EQ(station.Frame7.caption, "File: read from the chip");
  std::int64_t sum = 0;
  for (std::int32_t a = 0; a <= 0xFFFF; ++a) sum += station.ImageBuffer.Get(a);
  EXPECT_EQ(station.FileChecksum, sum);
  char shown[16];
  std::snprintf(shown, sizeof shown, "%07llXH", static_cast<unsigned long long>(sum));
  EXPECT_EQ(station.txtFileCheckSum.text.substr(0, 8), shown);
  station.OnFunctionClick(0);
  Sequence({"Erase MCU", "Program File"});
  station.OnProgramClick();

  const std::vector<std::string> lines = ReportLines();
  ASSERT_EQ(lines.size(), 4U);
  const auto programmed = Fields(lines[1]);
  EXPECT_EQ(programmed[6], fs::absolute(file).string());
  EXPECT_EQ(programmed[5], "0041");
  const auto erased = Fields(lines[2]);
  EXPECT_EQ(erased[6], "") << lines[2];
  EXPECT_EQ(erased[7], "") << lines[2];
  const auto copied = Fields(lines[3]);
  EXPECT_EQ(copied[6], "(read from the chip)");
  EXPECT_EQ(copied[7], ChipCrc(0, 0xFFFF));
  EXPECT_EQ(copied[5], "") << "no number stamped";
  // The first record's CRC is that of the file's bytes with the chip's number in them.
  std::vector<std::uint8_t> sent(0x800);
  for (std::size_t a = 0; a < sent.size(); ++a) sent[a] = static_cast<std::uint8_t>(a * 13 + 1);
  sent[0x7FE] = 0x00;
  sent[0x7FF] = 0x41;
  char crc[12];
  std::snprintf(crc, sizeof crc, "%08X", Crc32(sent.data(), sent.size()));
  EXPECT_EQ(programmed[7], crc);
}

// With "Enable Auto_Increase" ticked a chip gets a number or nothing at all.
TEST_F(AutoSequenceTest, TickedNumberingThatIsRefusedProgramsNothing) {
  LoadImage("41");
  station.txtReportFile.text = (dir_ / "report.csv").string();
  station.texAuto_Increase[1].text = "0";  // validation refuses it
  station.OnSerialFieldChange();
  Sequence({"Erase MCU", "Program File", "Verify Program"});
  vp.dialogs.ExpectInformation();
  station.OnProgramClick();
  EXPECT_EQ(vp.dialogs.ShownDialogs().back().text,
            "The Auto_Increase low address too small or the bytes too big");
  EXPECT_EQ(Log(), std::string(kConnected) + Line("Erase MCU", 15) +
                       "\r\nProgram File             failed!\r\n\r\nAuto             failed!");
  for (const Bytes& frame : writer.ReceivedFrames())
    EXPECT_TRUE(frame[3] != 0x03 && frame[3] != 0x04) << "a block was written";
  EXPECT_EQ(station.txtWrite_OK_Count.text, "0");
  const auto record = Fields(ReportLines().at(1));
  EXPECT_EQ(record[5], "");
  EXPECT_EQ(record[6] + record[7], "") << "nothing was programmed";

  // The function list's "Program File" says why in the log.
  station.OnFunctionClick(4);
  vp.dialogs.ExpectInformation();
  station.OnProgramClick();
  EXPECT_EQ(station.LastRun.result, -1);
  EXPECT_NE(Log().find("\r\nEnable Auto_Increase is ticked but its settings are not valid: "
                       "nothing was programmed."),
            std::string::npos)
      << Log();
}

// "Reopen file every time" reads the file afresh and stamps the chip's number into it.
TEST_F(AutoSequenceTest, ReopeningTheFileKeepsTheNumbering) {
  LoadFile();
  Number("41");
  station.OnReloadFileClick(true);
  Sequence({"Erase MCU", "Program File", "Verify Program"});
  station.OnProgramClick();
  EXPECT_EQ(station.LastRun.result, 0) << Log();
  EXPECT_TRUE(station.cheAuto_Increase.checked);
  EXPECT_EQ(writer.Flash()[0x7FF], 0x41);
  station.OnProgramClick();
  EXPECT_EQ(writer.Flash()[0x7FF], 0x42);
  EXPECT_EQ(station.texAuto_Increase[2].text, "0043");
}

// A chip the operator stopped is recorded as stopped.
TEST_F(AutoSequenceTest, StoppedChipIsRecordedAsStopped) {
  LoadImage();
  writer.Config().eraseUs = 300'000;
  station.txtReportFile.text = (dir_ / "report.csv").string();
  Sequence({"Erase MCU", "Program File"});
  At(100, [&] { station.OnStopClick(); });
  station.OnProgramClick();
  const auto record = Fields(ReportLines().at(1));
  EXPECT_EQ(record[8], "stopped");
  EXPECT_EQ(record[9], "Erase MCU");
}

// A good count that cannot be stored is said, as a report that cannot be written is.
TEST_F(AutoSequenceTest, ACountThatCannotBeStoredIsAWarning) {
  Sequence({"Erase MCU"});
  vp.settings.refuseChanges = true;
  station.OnProgramClick();
  EXPECT_EQ(station.LastRun.result, 0);
  EXPECT_EQ(station.txtWrite_OK_Count.text, "1");
  EXPECT_EQ(station.LastCountError, "No space left on device");
  EXPECT_EQ(Log(), std::string(kConnected) + Line("Erase MCU", 15) +
                       "\r\nAuto              OK!"
                       "\r\nThe good count could not be stored in the settings file: No space "
                       "left on device");
}

// Two stations on one line share the store: the count and the numbers of both come from it.
TEST_F(AutoSequenceTest, TwoStationsOnOneStoreNeverShareANumberOrLoseACount) {
  VirtualPlatform second;
  Platform secondPlatform{second.port, second.pump,   second.timers,    second.dialogs,
                          vp.settings, second.beeper, &second.wallClock};
  sim::WriterSimulator secondWriter;
  ConnectSimulatedWriter(second.port, second.clock, secondWriter);
  LoadImage("1");
  Sequence({"Erase MCU", "Program File", "Verify Program"});
  Station other(secondPlatform);
  other.DeferredSave();
  for (std::int32_t a = 0; a <= 0x7FF; ++a) other.ImageBuffer.Set(a, station.ImageBuffer.Get(a));
  other.FileLoaded = true;
  other.ProgramStart = 0;
  other.ProgramEnd = other.DataEnd = 0x7FF;
  other.cheAuto_Increase.checked = true;
  other.OnAutoIncreaseClick();
  other.OnBeepClick(false);

  std::vector<int> stamped;
  for (int chip = 0; chip < 6; ++chip) {
    Station& line = chip % 3 == 1 ? other : station;
    sim::WriterSimulator& socket = chip % 3 == 1 ? secondWriter : writer;
    line.OnProgramClick();
    ASSERT_EQ(line.LastRun.result, 0) << chip;
    stamped.push_back(socket.Flash()[0x7FE] * 100 + (socket.Flash()[0x7FF] >> 4) * 10 +
                      (socket.Flash()[0x7FF] & 0xF));
    EXPECT_EQ(line.txtWrite_OK_Count.text, std::to_string(chip + 1));
    // A deferred save of the other station keeps the count and the number it did not move.
    (chip % 3 == 1 ? station : other).DeferredSave();
    EXPECT_EQ(Setting("Write_OK_Count"), std::to_string(chip + 1));
  }
  EXPECT_EQ(stamped, (std::vector<int>{1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(vp.settings.Read(Station::kApplication, "Auto_Increase", "next_value", ""), "0007");
  EXPECT_EQ(station.texAuto_Increase[2].text, "0007");
}

TEST_F(AutoSequenceTest, OldNamesAreRewrittenAndUnknownNamesFail) {
  Sequence({"Erase MCU"});
  station.txtAuto[9].text = "Read MCU Option";
  station.OnProgramClick();
  EXPECT_EQ(station.txtAuto[9].text, "Read Option");
  EXPECT_EQ(Log(), std::string(kConnected) + Line("Erase MCU", 15) + Line("Read Option", 13) +
                       "\r\nAuto              OK!");

  station.txtAuto[10].text = "Polish MCU";
  station.OnProgramClick();
  EXPECT_EQ(Log(), std::string(kConnected) + Line("Erase MCU", 15) + Line("Read Option", 13) +
                       "\r\nPolish MCU         failed!\r\n\r\nAuto             failed!");
  EXPECT_EQ(station.txtWrite_OK_Count.text, "1");
}

TEST_F(AutoSequenceTest, ReadIdentityWaitsBeforeItsTwoReads) {
  Sequence({"Read MCU ID"});
  station.OnProgramClick();
  EXPECT_EQ(Log(), std::string(kConnected) + Line("Read MCU ID", 15) + "\r\nAuto              OK!");
  int reads = 0;
  for (const Bytes& frame : writer.ReceivedFrames()) reads += frame[5] == 0x0A ? 1 : 0;
  EXPECT_EQ(reads, 2);
  EXPECT_GE(vp.clock.NowMs(), 800.0);
}

TEST_F(AutoSequenceTest, ClassOneIsVerifiedByReadBack) {
  const auto& names = station.combMcuModel.entries;
  station.combMcuModel.index =
      static_cast<int>(std::find(names.begin(), names.end(), "VXE02L") - names.begin());
  station.OnModelListClick();
  station.DeferredSave();
  LoadImage();
  writer.Config().loseWriteNth = 3;  // the chip misses a chunk it acknowledged
  Sequence({"Erase MCU", "Program File", "Verify Program"});
  station.OnProgramClick();
  EXPECT_NE(Log().find("Verify Program         failed!"), std::string::npos) << Log();
  EXPECT_EQ(station.txtWrite_OK_Count.text, "0");
}

TEST_F(AutoSequenceTest, SerialNumberMovesOnOnceForAGoodChip) {
  LoadImage("41");
  Sequence({"Erase MCU", "Program File", "Verify Program"});
  station.OnProgramClick();
  EXPECT_EQ(station.LastRun.result, 0);
  EXPECT_EQ(writer.Flash()[0x7FE], 0x00);
  EXPECT_EQ(writer.Flash()[0x7FF], 0x41);
  EXPECT_EQ(station.texAuto_Increase[2].text, "0042");
  EXPECT_EQ(station.ImageBuffer.Get(0x7FF), 0x42);

  // With the option step too it still moves on only once.
  Sequence({"Erase MCU", "Program File", "Verify Program", "Program Option"});
  station.OnProgramClick();
  EXPECT_EQ(writer.Flash()[0x7FF], 0x42);
  EXPECT_EQ(station.texAuto_Increase[2].text, "0043");
  EXPECT_EQ(vp.settings.Read(Station::kApplication, "Auto_Increase", "next_value", ""), "0043");
}

// The default options lock the chip; the lock takes effect when the writer next powers it.
TEST_F(AutoSequenceTest, ALockedChipIsCheckedBeforeItsLockTakesEffect) {
  writer.Config().versionByte = 0x12;  // read-back, so the lock shows
  LoadImage();
  Sequence({"Erase MCU", "Program File", "Program Option", "Verify Program"});
  station.OnProgramClick();
  EXPECT_EQ(station.LastRun.result, 0) << Log();
  EXPECT_TRUE(writer.Chip().LockProgrammed());

  station.OnFunctionClick(5);  // "Verify Program" on its own, in a new session
  station.OnProgramClick();
  EXPECT_EQ(station.LastRun.result, -1);
  EXPECT_NE(Log().find("EEPROM:  FF"), std::string::npos) << Log();
}

TEST_F(AutoSequenceTest, EditingTheSequenceMovesUpAndIsSaved) {
  Sequence({"Erase MCU", "Check MCU Empty", "Program File"});
  EXPECT_EQ(Setting("Auto_VXA_10"), "Program File");
  station.OnAutoSlotClick(9);
  station.EditAutoSequence(1);
  EXPECT_EQ(station.txtAuto[8].text, "Erase MCU");
  EXPECT_EQ(station.txtAuto[9].text, "Program File");
  EXPECT_EQ(station.txtAuto[10].text, "");
  EXPECT_FALSE(station.txtAuto[9].highlighted);
  EXPECT_EQ(Setting("Auto_VXA_9"), "Program File");
  EXPECT_EQ(Setting("Auto_VXA_10"), "");

  // All eight slots used: a further append does nothing.
  for (int i = 0; i < 8; ++i) {
    station.OnAutoSlotClick(0);
    station.EditAutoSequence(0);
  }
  EXPECT_EQ(station.txtAuto[15].text, "Erase MCU");
  station.OnAutoSlotClick(1);
  station.EditAutoSequence(0);
  for (int slot = 10; slot < 16; ++slot) EXPECT_EQ(station.txtAuto[slot].text, "Erase MCU");

  station.EditAutoSequence(2);
  for (int slot = 8; slot < 16; ++slot) {
    EXPECT_EQ(station.txtAuto[slot].text, "");
    EXPECT_EQ(Setting("Auto_VXA_" + std::to_string(slot)), "");
  }
}

TEST_F(AutoSequenceTest, CountAndSequenceSurviveARestart) {
  Sequence({"Erase MCU", "Read Option"});
  station.OnProgramClick();
  station.OnProgramClick();
  Station restarted(vp.platform);
  EXPECT_EQ(restarted.txtWrite_OK_Count.text, "2");
  EXPECT_EQ(restarted.txtAuto[8].text, "Erase MCU");
  EXPECT_EQ(restarted.txtAuto[9].text, "Read Option");
}

TEST_F(AutoSequenceTest, ClearingTheCount) {
  station.ClearOkCount();  // a count of 0 asks nothing
  EXPECT_EQ(Setting("Write_OK_Count"), "0");
  EXPECT_TRUE(vp.dialogs.ShownDialogs().empty());

  station.txtWrite_OK_Count.text = "5";
  vp.dialogs.ExpectQuestion(false);
  station.ClearOkCount();
  EXPECT_EQ(vp.dialogs.ShownDialogs().back().text, " You want to clear the Auto Count(Y/N)? ");
  EXPECT_EQ(station.txtWrite_OK_Count.text, "5");
  EXPECT_EQ(Setting("Write_OK_Count"), "5");

  station.UseEnglish = false;
  vp.dialogs.ExpectQuestion(true);
  station.ClearOkCount();
  EXPECT_EQ(vp.dialogs.ShownDialogs().back().text,
            " You want to clear the Auto Count(Y/N)? \r\n    您要把烧录成功计数清0吗(Y/N)? ");
  EXPECT_EQ(Setting("Write_OK_Count"), "0");
}

TEST_F(AutoSequenceTest, RepeatOfFiveChipsWhereTheThirdFails) {
  LoadImage("1");
  Sequence({"Erase MCU", "Program File", "Verify Program"});
  station.txtReportFile.text = (dir_ / "report.csv").string();
  station.comDalay_ReDownLoad.index = 1;
  // The third chip's erase is never answered.
  int erases = 0;
  writer.Config().faultCommand = 0x08;
  writer.SetFrameObserver([&](const Bytes& frame) {
    if (frame.size() == 10 && frame[5] == 0x08) ++erases;
    writer.Config().fault = erases >= 3 && erases <= 8 ? sim::Fault::Silent : sim::Fault::None;
  });
  int runs = 0;
  std::vector<double> starts;
  std::vector<std::string> serials;
  station.onRunFinished = [&] {
    serials.push_back(std::to_string(writer.Flash()[0x7FF]));
    if (++runs == 5) station.EndRepeat();
  };
  vp.pump.SetIdleHook([&] {
    if (starts.size() < static_cast<std::size_t>(runs + 1) && station.comStop_Download.enabled &&
        station.textMsg.Text().rfind("We are connecting...", 0) == 0 &&
        station.textMsg.Text().size() < 30)
      starts.push_back(vp.clock.NowMs());
  });
  station.RepeatRun();
  vp.pump.SetIdleHook({});

  EXPECT_EQ(runs, 5);
  EXPECT_EQ(station.txtWrite_OK_Count.text, "4");
  EXPECT_EQ(station.texAuto_Increase[2].text, "0005");
  const std::vector<std::string> lines = ReportLines();
  ASSERT_EQ(lines.size(), 6U);  // the header and five records
  EXPECT_EQ(lines[0],
            "time,host,port,model,identity,serial,image,image_crc32,result,failed_step,steps,"
            "total_ms,good_count,job_product,job_crc32");
  // Field 6 is the number stamped into the chip; every good chip has its own.
  std::set<std::string> goodSerials;
  for (std::size_t i = 1; i <= 5; ++i) {
    std::vector<std::string> fields;
    // A comma after the last field, so that an empty last field is read too.
    std::stringstream record(lines[i] + ",");
    for (std::string field; std::getline(record, field, ',');) fields.push_back(field);
    ASSERT_EQ(fields.size(), 15U) << lines[i];
    if (i == 3) {
      EXPECT_EQ(fields[8], "failed");
      EXPECT_EQ(fields[9], "Erase MCU");
      EXPECT_EQ(fields[5], "");  // it never got as far as its number
    } else {
      EXPECT_EQ(fields[8], "OK");
      goodSerials.insert(fields[5]);
    }
  }
  EXPECT_EQ(goodSerials, (std::set<std::string>{"0001", "0002", "0003", "0004"}));
  // The third chip was erased but never programmed.
  EXPECT_EQ(serials, (std::vector<std::string>{"1", "2", "255", "3", "4"}));
  EXPECT_NE(lines[1].find("2026-01-05T09:00:00+01:00,,COM1,VXA01H,,0001,"), std::string::npos)
      << lines[1];
  EXPECT_EQ(Fields(lines[5])[12], "4");
  EXPECT_TRUE(station.comReDownload.enabled);
  EXPECT_TRUE(station.comDownload.enabled);
  EXPECT_FALSE(station.comStop_Download.enabled);
}

TEST_F(AutoSequenceTest, PauseAfterAFailedAutoProgramRunIsTwoSeconds) {
  Sequence({"Erase MCU"});
  station.comDalay_ReDownLoad.index = 5;
  writer.Config().fault = sim::Fault::Silent;
  writer.Config().faultCommand = 0x08;
  std::vector<double> ends;
  std::vector<std::string> logs;
  station.onRunFinished = [&] {
    ends.push_back(vp.clock.NowMs());
    if (ends.size() == 2) station.EndRepeat();
  };
  double secondStart = 0;
  station.link.Timer1();  // the reply timer runs from the first handshake of each run
  vp.pump.SetIdleHook([&] {
    if (ends.size() == 1 && secondStart == 0 && station.comStop_Download.enabled &&
        station.textMsg.Text() == "We are connecting...\r\n")
      secondStart = vp.clock.NowMs();
  });
  station.RepeatRun();
  vp.pump.SetIdleHook({});
  ASSERT_EQ(ends.size(), 2U);
  EXPECT_NEAR(secondStart - ends[0], 2000.0, 1.0);
}

TEST_F(AutoSequenceTest, CountdownLinesAndStopDuringTheCountdown) {
  Sequence({"Erase MCU"});
  station.comDalay_ReDownLoad.index = 3;
  int runs = 0;
  std::vector<std::size_t> carets;
  station.onRunFinished = [&] { ++runs; };
  // Stop when the countdown has shown 3 and 2.
  vp.pump.SetIdleHook([&] {
    if (station.textMsg.Text().find("We are going to next ... 2") != std::string::npos &&
        station.comStop_Download.enabled) {
      carets.push_back(station.textMsg.Caret());
      station.OnStopClick();
    }
  });
  station.RepeatRun();
  vp.pump.SetIdleHook({});
  EXPECT_EQ(runs, 1);
  EXPECT_EQ(Log(), std::string(kConnected) + Line("Erase MCU", 15) +
                       "\r\nAuto              OK!"
                       "\r\nWe are going to next ... 3\r\nWe are going to next ... 2"
                       "\r\n操作被中止!");
  ASSERT_FALSE(carets.empty());
  EXPECT_EQ(carets[0], Log().find("We are going to next ... 2"));
  EXPECT_TRUE(station.comReDownload.enabled);
  EXPECT_FALSE(station.comStop_Download.enabled);
}

TEST_F(AutoSequenceTest, StopDuringARunWithNoPauseEndsTheRepeat) {
  Sequence({"Erase MCU"});
  station.comDalay_ReDownLoad.index = 0;
  writer.Config().eraseUs = 300'000;
  int runs = 0;
  station.onRunFinished = [&] { ++runs; };
  At(2000, [&] { station.OnStopClick(); });
  station.RepeatRun();
  EXPECT_GE(runs, 1);
  EXPECT_LE(vp.clock.NowMs(), 3000.0);
  EXPECT_TRUE(station.comReDownload.enabled);
}

// Neither a folder, a FIFO nor a read-only file takes a record, and none holds up the line (a
// FIFO nobody reads would block the count's locked update).
TEST_F(AutoSequenceTest, AReportThatCannotBeWrittenIsAWarningNotAStop) {
  Sequence({"Erase MCU"});
  const test::SpecialFile special = test::MakeSpecialFile(dir_, ".csv");
  ASSERT_FALSE(special.path.empty());
  const fs::path readOnly = dir_ / "done.csv";
  std::ofstream(readOnly) << "kept\n";
  fs::permissions(readOnly, fs::perms::owner_read | fs::perms::group_read);
  const std::pair<fs::path, const char*> cases[] = {
      {dir_, "it is a folder"}, {special.path, special.why.c_str()}, {readOnly, "it is read-only"}};
  int good = 0;
  for (const auto& [path, why] : cases) {
    station.txtReportFile.text = path.string();
    station.OnProgramClick();
    EXPECT_EQ(station.LastRun.result, 0);
    EXPECT_EQ(station.txtWrite_OK_Count.text, std::to_string(++good));
    EXPECT_EQ(Log(), std::string(kConnected) + Line("Erase MCU", 15) +
                         "\r\nAuto              OK!"
                         "\r\nThe production report could not be written: " +
                         path.string() + ": " + why);
    EXPECT_EQ(station.LastReportError, path.string() + ": " + why);
  }
  EXPECT_FALSE(fs::is_regular_file(special.path));
  std::ifstream in(readOnly);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "kept\n");
}

TEST_F(AutoSequenceTest, JsonLinesReportAndItsSetting) {
  Sequence({"Erase MCU"});
  station.txtReportFile.text = (dir_ / "report.jsonl").string();
  station.OnReportFormatClick(1);
  station.DeferredSave();
  EXPECT_EQ(Setting("Production_Report_Format"), "jsonl");
  EXPECT_EQ(Setting("Production_Report"), (dir_ / "report.jsonl").string());
  station.OnProgramClick();
  std::ifstream in(dir_ / "report.jsonl");
  std::string line;
  std::getline(in, line);
  EXPECT_EQ(line.rfind("{\"time\":\"2026-01-05T09:00:00+01:00\",\"host\":\"\",\"port\":\"COM1\","
                       "\"model\":\"VXA01H\",\"identity\":\"\",\"serial\":\"\",\"image\":\"\","
                       "\"image_crc32\":\"\",\"result\":\"OK\",\"failed_step\":\"\",\"steps\":"
                       "[{\"name\":\"Erase MCU\",\"ms\":",
                       0),
            0U)
      << line;
}

// ---- A line of several PCs: the numbering, the count and the records in the line database ----

class LineDatabaseStationTest : public AutoSequenceTest {
 protected:
  LineDatabaseStationTest() {
    station.txtLineDatabase.text = "sqlite:/srv/line.db";
    station.OnLineDatabaseChange();
    LoadImage();
    Sequence({"Erase MCU", "Program File", "Verify Program"});
    Number("41");
  }
  MemoryLineDatabase& Db() { return vp.lineDatabases.database; }
};

// A database that cannot be reached fails "Program File" before a byte is written; the line goes
// on with the next chip when it is back, and the number it hands out then is the first one.
TEST_F(LineDatabaseStationTest, AnUnreachableDatabaseFailsProgramFileBeforeAnythingIsWritten) {
  station.txtReportFile.text = (dir_ / "report.csv").string();
  Db().down = true;
  station.OnProgramClick();
  EXPECT_EQ(station.LastRun.reason.english,
            "Program File: The serial number could not be reserved in the line database: could "
            "not connect to "
            "server: Connection refused");
  EXPECT_EQ(station.LastRun.failedStep, "Program File");
  EXPECT_NE(station.LastRun.result, 0);
  for (const std::uint8_t byte : writer.Flash()) ASSERT_EQ(byte, 0xFF) << "nothing was written";
  EXPECT_TRUE(Db().spent.empty());
  EXPECT_NE(station.labLineDatabase.caption.find("Connection refused"), std::string::npos);

  Db().down = false;
  station.OnProgramClick();
  ASSERT_EQ(station.LastRun.result, 0) << Log();
  EXPECT_EQ(writer.Flash()[0x7FF], 0x41);
  ASSERT_EQ(Db().records.size(), 1u);
  EXPECT_EQ(Db().records[0].record.serial, "0041");
  EXPECT_EQ(Db().records[0].record.result, "OK");
  EXPECT_EQ(Db().lines["default"].goodCount, 1);
  EXPECT_EQ(Db().lines["default"].pool->next, "0042");
  EXPECT_EQ(station.labLineDatabase.caption, "Line default: 1 good, next number 0042");
  // The report is still written beside the line, with the line's count.
  const std::vector<std::string> lines = ReportLines();
  ASSERT_EQ(lines.size(), 3U);
  EXPECT_NE(lines[1].find(",,failed,Program File,"), std::string::npos) << lines[1];
  EXPECT_NE(lines[2].find(",0041,"), std::string::npos) << lines[2];
  EXPECT_EQ(Fields(lines[2])[12], "1");  // good_count
  // This PC's settings keep neither the number nor the count.
  EXPECT_EQ(Setting("Write_OK_Count"), "0");
  EXPECT_EQ(vp.settings.Read(Station::kApplication, "Auto_Increase", "next_value", ""), "");
}

// A good chip is good only with its record and its count in the line; a failed chip's record
// keeps the number it spent and leaves the count as it is.
TEST_F(LineDatabaseStationTest, AChipIsGoodOnlyWithItsRecordAndAFailedOneKeepsItsNumber) {
  Db().refuseRecords = true;
  station.OnProgramClick();
  EXPECT_NE(station.LastRun.result, 0);
  EXPECT_EQ(station.LastRun.failedStep, "Line database");
  EXPECT_NE(Log().find("\r\nThe chip's record could not be written to the line database: could "
                       "not extend file: No space left on device\r\n\r\nAuto             failed!"),
            std::string::npos)
      << Log();
  EXPECT_EQ(station.txtWrite_OK_Count.text, "0");
  EXPECT_EQ(Db().lines["default"].goodCount, 0);
  EXPECT_EQ(Db().spent.size(), 1u) << "the number went into a chip: it stays spent";

  Db().refuseRecords = false;
  writer.Config().versionByte = 0x12;  // verification by read-back
  writer.Config().flipReadNth = 1;
  station.OnProgramClick();
  EXPECT_EQ(station.LastRun.failedStep, "Verify Program");
  ASSERT_EQ(Db().records.size(), 1u);
  EXPECT_EQ(Db().records[0].record.serial, "0042");
  EXPECT_EQ(Db().records[0].record.result, "failed");
  EXPECT_EQ(Db().records[0].record.goodCount, 0);
  EXPECT_EQ(Db().lines["default"].pool->next, "0043");
}

// Three PCs, each with its own settings and writer, on one line: no number twice, and each
// shows the whole line's count and next number after its chip.
TEST_F(LineDatabaseStationTest, StationsOfSeveralPcsShareTheNumbersAndTheCount) {
  struct Pc {
    explicit Pc(MemoryLineDatabases& line)
        : platform{vp.port,     vp.pump,   vp.timers,     vp.dialogs,
                   vp.settings, vp.beeper, &vp.wallClock, &line} {
      ConnectSimulatedWriter(vp.port, vp.clock, writer);
    }
    VirtualPlatform vp;
    Platform platform;
    sim::WriterSimulator writer;
    Station station{platform};
  };
  std::vector<std::unique_ptr<Pc>> pcs;
  std::vector<Station*> stations{&station};
  std::vector<sim::WriterSimulator*> sockets{&writer};
  for (int i = 0; i < 2; ++i) {
    Pc& pc = *pcs.emplace_back(std::make_unique<Pc>(vp.lineDatabases));
    Station& other = pc.station;
    other.OnBeepClick(false);
    other.txtLineDatabase.text = "postgresql://kvr@db:5432/line";
    other.OnLineDatabaseChange();
    EXPECT_EQ(other.texAuto_Increase[2].text, "0041") << "the line's numbering, not this PC's";
    for (std::int32_t a = 0; a <= 0x7FF; ++a) other.ImageBuffer.Set(a, station.ImageBuffer.Get(a));
    other.FileLoaded = true;
    other.ProgramStart = 0;
    other.ProgramEnd = other.DataEnd = 0x7FF;
    for (std::size_t slot = 0; slot < station.txtAuto.size(); ++slot)
      other.txtAuto[slot].text = station.txtAuto[slot].text;
    other.cheAuto_Increase.checked = true;
    other.OnAutoIncreaseClick();
    stations.push_back(&other);
    sockets.push_back(&pc.writer);
  }
  std::set<int> stamped;
  for (int chip = 0; chip < 7; ++chip) {
    Station& line = *stations[static_cast<std::size_t>(chip * 2 % 3)];
    line.OnProgramClick();
    ASSERT_EQ(line.LastRun.result, 0) << chip << line.textMsg.Text();
    const auto& flash = sockets[static_cast<std::size_t>(chip * 2 % 3)]->Flash();
    EXPECT_TRUE(stamped.insert(flash[0x7FE] * 256 + flash[0x7FF]).second) << chip;
    EXPECT_EQ(line.txtWrite_OK_Count.text, std::to_string(chip + 1));
    EXPECT_EQ(line.texAuto_Increase[2].text, std::to_string(42 + chip).insert(0, 2, '0'));
  }
  EXPECT_EQ(Db().records.size(), 7u);
  EXPECT_EQ(Db().lines["default"].goodCount, 7);
  for (const auto& pc : pcs)
    EXPECT_EQ(pc->vp.settings.Read(Station::kApplication, "Settings", "Write_OK_Count", "<none>"),
              "<none>");
}

// The field is stored in the settings, never with a password; one given at the start is this
// session's only.
TEST_F(AutoSequenceTest, TheLineDatabaseFieldIsStoredWithoutAPasswordAndAStartChoiceIsNot) {
  station.txtLineDatabase.text = "postgresql://kvr:secret@db/line";
  vp.dialogs.ExpectInformation();
  station.OnLineDatabaseChange();
  EXPECT_EQ(vp.dialogs.ShownDialogs().back().text,
            "The line database cannot be used: the URL holds a password: give it in PGPASSWORD "
            "or ~/.pgpass instead, so that it is never stored or shown");
  EXPECT_EQ(station.txtLineDatabase.text, "");
  // Saved while still being typed, it is not stored either.
  station.txtLineDatabase.text = "postgresql://kvr:secret@db/line";
  station.DeferredSave();
  EXPECT_EQ(Setting("Line_Database"), "");
  station.txtLineDatabase.text = "postgresql://kvr@db/line";
  station.OnLineDatabaseChange();
  station.DeferredSave();
  EXPECT_EQ(Setting("Line_Database"), "postgresql://kvr@db/line");

  Station session(vp.platform, true, {"sqlite:/tmp/rehearsal.db", "bench"});
  EXPECT_EQ(session.txtLineDatabase.text, "sqlite:/tmp/rehearsal.db");
  EXPECT_EQ(session.LineName(), "bench");
  session.DeferredSave();
  EXPECT_EQ(Setting("Line_Database"), "postgresql://kvr@db/line");
}

}  // namespace
}  // namespace kvr
