#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#ifndef _WIN32
#include <sys/resource.h>

#include <csignal>
#endif

#include "app/station_fixture.h"
#include "support/test_files.h"

namespace kvr {
namespace {

namespace fs = std::filesystem;

// A station with a scratch folder for the files a test loads and writes.
class LoaderTest : public StationTest {
 protected:
  LoaderTest() {
    dir_ = fs::temp_directory_path() /
           ("kvr-loader-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
            "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    test::RemoveFolder(dir_);
    fs::create_directories(dir_);
    station.RegionUpdate();
  }
  ~LoaderTest() override { test::RemoveFolder(dir_); }

  std::string Write(const std::string& name, const std::string& content) {
    const fs::path path = dir_ / name;
    std::ofstream(path, std::ios::binary) << content;
    return path.string();
  }
  void Load(const std::string& path) {
    station.LoadedFileName = path;
    station.LoadFile();
  }
  void ChooseFromList(const std::string& name) {
    const auto& entries = station.combMcuModel.entries;
    station.combMcuModel.index =
        static_cast<int>(std::find(entries.begin(), entries.end(), name) - entries.begin());
    station.OnModelListClick();
    station.RegionUpdate();
  }
  std::string LastBox() const {
    const auto& shown = vp.dialogs.ShownDialogs();
    return shown.empty() ? std::string() : shown.back().text;
  }

  fs::path dir_;
};

// One data record with a correct check byte.
std::string Record(std::uint16_t address, std::initializer_list<std::uint8_t> data,
                   std::uint8_t type = 0) {
  std::string line = ":";
  unsigned sum = 0;
  auto add = [&](unsigned byte) {
    char digits[3];
    std::snprintf(digits, sizeof digits, "%02X", byte & 0xFF);
    line += digits;
    sum += byte;
  };
  add(static_cast<unsigned>(data.size()));
  add(address >> 8);
  add(address & 0xFF);
  add(type);
  for (auto b : data) add(b);
  add((256 - (sum & 0xFF)) & 0xFF);
  return line + "\r\n";
}

const std::string kEnd = ":00000001FF\r\n";

TEST_F(LoaderTest, RegionDisplayPerClassAndIspSize) {
  // The start-up model: VXA01H of the tree, class 11, the stored ISP size index 3 (4.0k).
  EXPECT_EQ(station.txtISP_reange[0].text, "0000");
  EXPECT_EQ(station.txtISP_reange[1].text, "0FFF");
  EXPECT_EQ(station.txtISP_reange[2].text, "0EC00");
  EXPECT_EQ(station.txtISP_reange[3].text, "0FBFF");
  station.Combo2.index = 0;  // 0.0k: no ISP range
  station.RegionUpdate();
  EXPECT_EQ(station.txtISP_reange[2].text, "");
  EXPECT_EQ(station.txtISP_reange[3].text, "");
  const RegionLimits none = station.ReadRegionLimits();
  EXPECT_EQ(none.IspRangeStart, 0xFC00);
  EXPECT_EQ(none.IspRangeEnd, 0xFBFF);

  ChooseFromList("VXA03H");  // class 2, ISP 2C00-3BFF, AP up to ISP
  station.Combo2.index = 3;  // 4.0k
  station.RegionUpdate();
  EXPECT_EQ(station.txtISP_reange[1].text, "2BFF");
  EXPECT_EQ(station.txtISP_reange[2].text, "02C00");
  EXPECT_EQ(station.txtISP_reange[3].text, "03BFF");
  station.Combo2.index = 1;  // 1.0k: the AP range grows up to the smaller ISP range
  station.RegionUpdate();
  EXPECT_EQ(station.txtISP_reange[1].text, "37FF");
  EXPECT_EQ(station.ReadRegionLimits().IspRangeStart, 0x3800);

  // No model: the ISP area is shown as it is.
  station.SelectedDevice.DeviceClassCode = 0;
  station.SelectedDevice.IspStart = 0x10000;
  station.SelectedDevice.IspEnd = 0x11FFF;
  station.RegionUpdate();
  EXPECT_EQ(station.txtISP_reange[2].text, "10000");
  EXPECT_EQ(station.txtISP_reange[3].text, "11FFF");
}

TEST_F(LoaderTest, ClearKeepsTheAreaAboveTheCodeSpace) {
  station.ImageBuffer.Set(0x10000, 0x5A);
  station.ImageBuffer.Set(0x12400, 0x5B);
  station.ImageBuffer.Set(0xFFFF, 0x01);
  station.DemoImageReady = true;
  station.ClearBuffer(0xFF);
  EXPECT_EQ(station.ImageBuffer.Get(0xFFFF), 0xFF);
  EXPECT_EQ(station.ImageBuffer.Get(0x10000), 0x5A);
  EXPECT_EQ(station.ImageBuffer.Get(0x12400), 0x5B);
  EXPECT_FALSE(station.DemoImageReady);
  station.ImageBuffer.Set(0x12401, 0x77);  // beyond the buffer: dropped
  EXPECT_EQ(station.ImageBuffer.Get(0x12401), 0);
}

TEST_F(LoaderTest, HexRecordsLandAtTheirAddressPlusTheBufferStart) {
  const std::string path = Write(
      "prog.hex.bak", Record(0x0000, {0x02, 0x00, 0x30}) + Record(0x0000, {0x00, 0x00}, 0x04) +
                          Record(0x0000, {0x00, 0x00}, 0x02) + "; comment\r\n\r\n" +
                          Record(0x0010, {0xAA, 0xBB}) + kEnd + Record(0x0020, {0xCC}));
  Load(path);
  EXPECT_TRUE(station.FileLoaded);
  EXPECT_EQ(station.ImageBuffer.Get(0x0000), 0x02);
  EXPECT_EQ(station.ImageBuffer.Get(0x0002), 0x30);
  EXPECT_EQ(station.ImageBuffer.Get(0x0011), 0xBB);
  EXPECT_EQ(station.ImageBuffer.Get(0x0020), 0x00) << "nothing is read after the end record";
  EXPECT_EQ(station.DataEnd, 0x11);
  EXPECT_EQ(station.LoadStart, 0);
  EXPECT_EQ(station.FileChecksum, 0x02 + 0x30 + 0xAA + 0xBB);
  EXPECT_EQ(station.txtFileCheckSum.text, "0000197H       ");
  EXPECT_TRUE(vp.dialogs.ShownDialogs().empty());
}

TEST_F(LoaderTest, RecordsAsEditorsAndToolchainsWriteThem) {
  // A byte-order mark, lower-case digits, a trailing blank, a tab, a bare LF and CR LF: the
  // check byte is never taken for data and the first record is not lost.
  Load(Write("edited.hex",
             "\xEF\xBB\xBF:0100000002FD\r\n"
             ":04001000AAAAAAAA44 \r\n"
             ":02002000beef31\t\n"
             ":020000040000FA \t \r\n" +
                 kEnd));
  EXPECT_TRUE(vp.dialogs.ShownDialogs().empty()) << LastBox();
  EXPECT_EQ(station.ImageBuffer.Get(0x00), 0x02);
  EXPECT_EQ(station.ImageBuffer.Get(0x13), 0xAA);
  EXPECT_EQ(station.ImageBuffer.Get(0x14), 0x00) << "the check byte is no data";
  EXPECT_EQ(station.ImageBuffer.Get(0x20), 0xBE);
  EXPECT_EQ(station.ImageBuffer.Get(0x21), 0xEF);
  EXPECT_EQ(station.ImageBuffer.Get(0x22), 0x00);
  EXPECT_EQ(station.DataEnd, 0x21);
  EXPECT_EQ(station.FileChecksum, 0x02 + 4 * 0xAA + 0xBE + 0xEF);

  // Judged by its items, a marked HEX file under another name is still HEX.
  station.Check6.checked = true;
  Load(Write("marked.txt", "\xEF\xBB\xBF:0100000011EE\r\n" + kEnd));
  EXPECT_EQ(station.ImageBuffer.Get(0x00), 0x11);
  EXPECT_EQ(station.DataEnd, 0);
}

TEST_F(LoaderTest, FileNamedOtherwiseIsJudgedByItsFirstItems) {
  const std::string hexText = Record(0x0000, {0x11}) + Record(0x0001, {0x22}) + kEnd;
  Load(Write("image.dat", hexText));
  EXPECT_EQ(station.ImageBuffer.Get(0x0001), 0x22);
  EXPECT_EQ(station.DataEnd, 1);

  station.Check6.checked = true;
  Load(Write("image2.dat", "\x11\x22:rest"));
  EXPECT_EQ(station.ImageBuffer.Get(0x0000), 0x11) << "loaded as binary";
  EXPECT_EQ(station.ImageBuffer.Get(0x0002), ':');
  EXPECT_EQ(station.DataEnd, 6);
}

TEST_F(LoaderTest, StartAddressMovesRecordsAndWhatFallsBeyondIsReported) {
  station.Text4.text = "1000";
  vp.dialogs.ExpectInformation();
  Load(Write("high.hex", Record(0xF800, {0x01, 0x02}) + Record(0x0000, {0x03}) + kEnd));
  EXPECT_EQ(station.ImageBuffer.Get(0x1000), 0x03);
  EXPECT_EQ(station.ImageBuffer.Get(0x10800), 0x00) << "beyond the ISP range: dropped";
  // 0x1000 lies in the data memory of the tree model.
  EXPECT_EQ(LastBox(),
            "    File over the valid scope.\r\n\r\n"
            " Data Memory contain procedure or datas.\r\n\r\n"
            "        Press enter continue ");
  EXPECT_EQ(vp.dialogs.ShownDialogs().back().title, "Open HEX file");
  EXPECT_EQ(station.DataEnd, 0xFBFF);
  EXPECT_EQ(station.FileChecksum, 0x01 + 0x02 + 0x03) << "dropped bytes count too";

  // A model whose ISP range reaches above 64 K keeps them.
  station.SelectedDevice.DeviceClassCode = 0;
  station.SelectedDevice.IspStart = 0x10000;
  station.SelectedDevice.IspEnd = 0x11FFF;
  station.RegionUpdate();
  station.Check6.checked = true;
  vp.dialogs.ExpectInformation();
  Load(Write("high2.hex", Record(0xF800, {0x01, 0x02}) + kEnd));
  EXPECT_EQ(station.ImageBuffer.Get(0x10800), 0x01);
  EXPECT_EQ(station.ImageBuffer.Get(0x10801), 0x02);
  EXPECT_EQ(LastBox(),
            "ISP or Block1 contain procedure or datas."
            "\r\n\r\n        Press enter continue ");
}

TEST_F(LoaderTest, ExtendedAddressRecordsPlaceDataAtItsFullAddress) {
  // A model whose ISP area lies above 64 K.
  station.SelectedDevice.DeviceClassCode = 0;
  station.SelectedDevice.IspStart = 0x10000;
  station.SelectedDevice.IspEnd = 0x11FFF;
  station.RegionUpdate();
  const std::string block1 = Record(0x0000, {0x02, 0x00, 0x30}) +
                             Record(0x0000, {0x00, 0x01}, 0x04) + Record(0x0000, {0xA5, 0x5A}) +
                             Record(0x0000, {0x10, 0x00}, 0x02) + Record(0x0010, {0x77}) +
                             Record(0x0000, {0x00, 0x00}, 0x04) + Record(0x0100, {0x01});
  vp.dialogs.ExpectInformation();
  Load(Write("block1.hex", block1 + kEnd));
  EXPECT_EQ(station.ImageBuffer.Get(0x0000), 0x02) << "the reset vector stays";
  EXPECT_EQ(station.ImageBuffer.Get(0x0001), 0x00);
  EXPECT_EQ(station.ImageBuffer.Get(0x10000), 0xA5);
  EXPECT_EQ(station.ImageBuffer.Get(0x10001), 0x5A);
  EXPECT_EQ(station.ImageBuffer.Get(0x10010), 0x77) << "segment 1000 times 16";
  EXPECT_EQ(station.ImageBuffer.Get(0x0100), 0x01) << "upper part 0000 again";
  EXPECT_EQ(station.DataEnd, 0x10010);
  EXPECT_EQ(LastBox(),
            "ISP or Block1 contain procedure or datas."
            "\r\n\r\n        Press enter continue ");

  // Above the ISP range and beyond the buffer: dropped and reported; a malformed extended
  // record moves nothing.
  station.Check6.checked = true;
  vp.dialogs.ExpectInformation();
  Load(Write("beyond.hex", Record(0x0000, {0x00, 0x01}, 0x04) + Record(0x2400, {0xB1, 0xB2}) +
                               Record(0x0000, {0x02}, 0x04) + Record(0x0010, {0xC3}) + kEnd));
  EXPECT_EQ(station.ImageBuffer.Get(0x12400), 0x00);
  EXPECT_EQ(station.ImageBuffer.Get(0x0010), 0x00);
  EXPECT_EQ(station.ImageBuffer.Get(0x10010), 0xC3);
  EXPECT_EQ(LastBox(),
            "    File over the valid scope.\r\n\r\n"
            "ISP or Block1 contain procedure or datas."
            "\r\n\r\n        Press enter continue ");
  EXPECT_EQ(station.DataEnd, 0x11FFF);
  EXPECT_EQ(station.FileChecksum, 0xB1 + 0xB2 + 0xC3);
}

TEST_F(LoaderTest, OnlyTheFileNameDecidesForHex) {
  fs::create_directories(dir_ / "proj.hexfiles");
  Load(Write("proj.hexfiles/fw.bin", "\x12\x34\x56"));
  EXPECT_EQ(station.ImageBuffer.Get(0x0002), 0x56) << "loaded as binary";
  EXPECT_EQ(station.DataEnd, 2);
}

TEST_F(LoaderTest, LoadersUseTheBufferStartTheCheckAccepted) {
  // The check keeps the last five digits: 100000 is address 0, for both loaders.
  station.Text4.text = "100000";
  Load(Write("a.hex", Record(0x0000, {0x01, 0x02}) + kEnd));
  EXPECT_EQ(station.ImageBuffer.Get(0x0001), 0x02);
  EXPECT_EQ(station.LoadStart, 0);
  EXPECT_EQ(station.DataEnd, 1);
  station.Check6.checked = true;
  station.Text4.text = " 100010 ";
  Load(Write("a.bin", "\x03"));
  EXPECT_EQ(station.ImageBuffer.Get(0x0010), 0x03);
  EXPECT_EQ(station.LoadStart, 0x10);

  // No address at all: refused as one outside the valid scope, nothing loaded.
  station.Text4.text = "12G4";
  vp.dialogs.ExpectInformation();
  Load(Write("b.hex", Record(0x0000, {0x05}) + kEnd));
  EXPECT_EQ(LastBox(), "Buffer Start Address Outrun the valid scope. ");
  EXPECT_EQ(station.ImageBuffer.Get(0x0012), 0x00);
  EXPECT_EQ(station.ImageBuffer.Get(0x0010), 0x03);
}

TEST_F(LoaderTest, StartAddressBeyondTheIspRangeLoadsNothing) {
  station.Text4.text = "FC00";
  vp.dialogs.ExpectInformation();
  Load(Write("a.hex", Record(0x0000, {0x01}) + kEnd));
  EXPECT_EQ(LastBox(), "Buffer Start Address Outrun the valid scope. ");
  EXPECT_FALSE(station.FileLoaded);
  EXPECT_EQ(station.ImageBuffer.Get(0), 0);
}

TEST_F(LoaderTest, ThirdBadRecordAsksAndNoAbortsWithAnEmptyBuffer) {
  station.optFillbyte.selected = 0;  // FF
  std::string text;
  for (int i = 0; i < 4; ++i) text += ":01000" + std::to_string(i) + "005500\r\n";
  const std::string path = Write("bad.hex", text);
  for (int i = 0; i < 3; ++i) vp.dialogs.ExpectInformation();
  vp.dialogs.ExpectQuestion(false);
  station.LoadedFileName = path;
  EXPECT_EQ(station.HexLoader(), 1);
  const auto& shown = vp.dialogs.ShownDialogs();
  ASSERT_EQ(shown.size(), 4U);
  EXPECT_EQ(shown[0].text, "Checksum is Error.\r\n\r\n:01000000550\x30");
  EXPECT_EQ(shown[0].title, path);
  EXPECT_EQ(shown[3].text,
            "Go on loading the file without checking the checksums: Yes.\r\n\r\n"
            "Stop loading the file now: No.");
  EXPECT_EQ(shown[3].title, "");
  EXPECT_FALSE(station.FileLoaded);
  for (std::int32_t a = 0; a <= 0xFFFF; a += 0x111) ASSERT_EQ(station.ImageBuffer.Get(a), 0);

  // Yes goes on, uses the bad records and reports no more of them; the buffer reset to 00
  // against the fill byte FF then reads as data memory.
  for (int i = 0; i < 3; ++i) vp.dialogs.ExpectInformation();
  vp.dialogs.ExpectQuestion(true);
  vp.dialogs.ExpectInformation();
  EXPECT_EQ(station.HexLoader(), 0);
  EXPECT_EQ(station.ImageBuffer.Get(3), 0x55);
  EXPECT_TRUE(station.FileLoaded);
}

TEST_F(LoaderTest, ChecksumBoxShowsTheStartOfALongLine) {
  const std::string longLine = ":FF000000" + std::string(5000, 'A');
  const std::string exact = ":" + std::string(79, '1');
  // A cut never splits a character: the box's text stays valid UTF-8.
  const std::string wide = ":" + std::string(78, '2') + "\xE6\x95\xB0" + "3";
  vp.dialogs.ExpectInformation();
  vp.dialogs.ExpectInformation();
  vp.dialogs.ExpectInformation();
  vp.dialogs.ExpectQuestion(true);
  Load(Write("long.hex", longLine + "\r\n" + exact + "\r\n" + wide + "\r\n" + kEnd));
  const auto& shown = vp.dialogs.ShownDialogs();
  ASSERT_GE(shown.size(), 3U);
  EXPECT_EQ(shown[0].text, "Checksum is Error.\r\n\r\n" + longLine.substr(0, 80) + "...");
  EXPECT_EQ(shown[1].text, "Checksum is Error.\r\n\r\n" + exact);
  EXPECT_EQ(shown[2].text, "Checksum is Error.\r\n\r\n" + wide.substr(0, 79) + "...");
}

TEST_F(LoaderTest, TrailingFillBytesStillCountAsData) {
  station.optFillbyte.selected = 0;
  Load(Write("ff.hex", Record(0x0100, {0x12, 0xFF, 0xFF}) + kEnd));
  EXPECT_EQ(station.DataEnd, 0x102);
}

TEST_F(LoaderTest, DataMemoryAndIspAreaOfANewerModelAreReported) {
  ChooseFromList("VXA02H");  // class 2: AP 0-1FFF, data 2000-33FF, ISP 3400-3BFF at 2.0k
  vp.dialogs.ExpectInformation();
  Load(Write("d.hex", Record(0x2000, {0x01}) + Record(0x3400, {0x02}) + kEnd));
  EXPECT_EQ(LastBox(),
            " Data Memory contain procedure or datas.\r\n\r\n"
            "ISP or Block1 contain procedure or datas."
            "\r\n\r\n        Press enter continue ");
  EXPECT_EQ(station.DataEnd, 0x3400);
  // In Chinese each line has its Chinese line under it.
  station.UseEnglish = false;
  vp.dialogs.ExpectInformation();
  Load(Write("d.hex", Record(0x2000, {0x01}) + Record(0x3400, {0x02}) + kEnd));
  EXPECT_EQ(LastBox(),
            " Data Memory contain procedure or datas.\r\n      Data Memory 空间有数据。\r\n\r\n"
            "ISP or Block1 contain procedure or datas.\r\n    ISP or Block1 空间有程序或数据。"
            "\r\n\r\n             按确定继续。");
}

TEST_F(LoaderTest, GapOfAnOlderModelIsEmptiedAndReported) {
  ChooseFromList("VXE01L");  // class 1: AP 0-1FFF, gap 2000-DFFF, ISP E000-FFFF
  EXPECT_EQ(station.Text4.text, "F800");
  station.Text4.text = "0";
  station.optFillbyte.selected = 1;
  vp.dialogs.ExpectInformation();
  Load(Write("g.hex", Record(0x3000, {0x42}) + kEnd));
  EXPECT_EQ(station.ImageBuffer.Get(0x3000), 0x00);
  EXPECT_EQ(station.DataEnd, 0x1FFF);
  EXPECT_EQ(LastBox().substr(0, 30), "    File over the valid scope.");
}

TEST_F(LoaderTest, SeventyKilobyteBinaryFile) {
  ChooseFromList("VXE03L");  // ISP end FFFF
  station.Text4.text = "0";
  station.optFillbyte.selected = 0;
  std::string bytes(70 * 1024, '\x5A');
  vp.dialogs.ExpectInformation();
  Load(Write("big.bin", bytes));
  EXPECT_EQ(station.ImageBuffer.Get(0x117FF), 0x5A);
  EXPECT_EQ(station.ImageBuffer.Get(0x11800), 0x00);
  EXPECT_EQ(station.ImageBuffer.Get(0x8000), 0xFF) << "the gap holds the fill byte";
  EXPECT_EQ(station.DataEnd, 0xFFFF);
  EXPECT_EQ(station.FileChecksum, 70 * 1024 * 0x5A);
  EXPECT_EQ(LastBox(),
            "    File over the valid scope.\r\n\r\n\r\nISP or Block1 contain procedure or datas."
            "\r\n\r\n\r\n        Press enter continue ");

  // Longer than the buffer: the bytes beyond its end are lost, nothing else.
  station.Check6.checked = true;
  vp.dialogs.ExpectInformation();
  Load(Write("huge.bin", std::string(0x13000, '\x01')));
  EXPECT_EQ(station.ImageBuffer.Get(0x12400), 0x01);
}

TEST_F(LoaderTest, ExportWritesTheRangeAndRefusesBadOnes) {
  for (std::int32_t a = 0; a <= 0xFFFF; ++a)
    station.ImageBuffer.Set(a, static_cast<std::uint8_t>(a));
  const std::string target = (dir_ / "out.bin").string();
  station.txt_Start_Address.text = "0";
  station.txt_length.text = "10000";
  station.OnExportFieldChange();
  vp.dialogs.ExpectSaveFile(target);
  station.BinExport();
  EXPECT_EQ(fs::file_size(target), 65536U);

  station.txt_length.text = "10001";
  vp.dialogs.ExpectInformation();
  station.BinExport();
  EXPECT_EQ(LastBox(), "File length too big.");

  station.txt_Start_Address.text = "FFFF";
  station.txt_length.text = "1";
  vp.dialogs.ExpectSaveFile(target);
  station.BinExport();
  std::ifstream in(target, std::ios::binary);
  EXPECT_EQ(in.get(), 0xFF);
  EXPECT_EQ(in.get(), EOF);

  station.UseEnglish = false;
  station.txt_Start_Address.text = "1G";
  vp.dialogs.ExpectInformation();
  station.BinExport();
  EXPECT_EQ(LastBox(), "Start_Address Small in 0.\r\n      起始地址小于 0。");
  station.txt_Start_Address.text = "0";
  station.txt_length.text = "0";
  vp.dialogs.ExpectInformation();
  station.BinExport();
  EXPECT_EQ(LastBox(), "File length too small.\r\n文件长度不能小于 0。");
}

std::string Contents(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), {});
}

// Names reach the station as UTF-8 text from its dialogs; on Windows the file system's names are
// UTF-16, and a narrow name would go through the ANSI code page, which holds none of these.
TEST_F(LoaderTest, FilesNamedInChineseLoadAndExport) {
  const auto utf8 = [](const fs::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
  };
  const fs::path folder = dir_ / u8"产品 Ä";
  fs::create_directories(folder);
  std::ofstream(folder / u8"固件.hex", std::ios::binary) << Record(0x0100, {0x5A, 0xA5}) + kEnd;
  Load(utf8(folder / u8"固件.hex"));
  EXPECT_TRUE(station.FileLoaded);
  EXPECT_EQ(station.ImageBuffer.Get(0x0101), 0xA5);

  station.txt_Start_Address.text = "100";
  station.txt_length.text = "2";
  station.OnExportFieldChange();
  vp.dialogs.ExpectSaveFile(utf8(folder / u8"导出.bin"));
  EXPECT_TRUE(station.BinExport());
  EXPECT_EQ(Contents(folder / u8"导出.bin"), "\x5A\xA5");
}

// Scripted dialogs that also keep what the save dialog was asked to show.
class RecordingDialogs : public ScriptedDialogs {
 public:
  std::string SaveFile(const FileDialogRequest& request) override {
    lastSave = request;
    return ScriptedDialogs::SaveFile(request);
  }
  FileDialogRequest lastSave;
};

TEST_F(LoaderTest, ExportDialogStartsInTheFolderOfTheLastFileWithoutAName) {
  RecordingDialogs dialogs;
  Platform platform{vp.port, vp.pump, vp.timers, dialogs, vp.settings, vp.beeper};
  Station exporter(platform);
  exporter.txt_length.text = "10";
  exporter.OnExportFieldChange();
  const std::string source = Write("source.hex", Record(0x0000, {0x01}) + kEnd);
  vp.settings.Write(Station::kApplication, "Settings", "FilePath", source);
  dialogs.ExpectSaveFile("");
  exporter.BinExport();
  EXPECT_EQ(fs::path(dialogs.lastSave.initialDirectory), dir_);
  EXPECT_EQ(dialogs.lastSave.initialName, "");
  EXPECT_EQ(dialogs.lastSave.title, "Save .bin file");

  vp.settings.Write(Station::kApplication, "Settings", "FilePath", dir_.string());
  dialogs.ExpectSaveFile("");
  exporter.BinExport();
  EXPECT_EQ(fs::path(dialogs.lastSave.initialDirectory), dir_);
  EXPECT_EQ(Contents(source), Record(0x0000, {0x01}) + kEnd);
}

// The export writes the file a name stands for, and nothing that is no file it may replace.
TEST_F(LoaderTest, ExportWritesThroughLinksAndRefusesWhatItMayNotReplace) {
  const fs::path folder = dir_ / "EMPTYDIR";
  fs::create_directories(folder);
  const test::SpecialFile special = test::MakeSpecialFile(dir_, ".bin");
  ASSERT_FALSE(special.path.empty());
  const std::string readOnly = Write("shipped.bin", "released");
  fs::permissions(readOnly, fs::perms::owner_read);
  station.txt_Start_Address.text = "0";
  station.txt_length.text = "10";
  station.OnExportFieldChange();
  const std::pair<std::string, std::string> refused[] = {
      {folder.string(), "A folder cannot be replaced by the file: " + folder.string()},
      {special.path.string(),
       "The file could not be written: " + special.path.string() + ": " + special.why},
      {readOnly, "The file could not be written: " + readOnly + ": it is read-only"}};
  for (const auto& [name, box] : refused) {
    vp.dialogs.ExpectSaveFile(name);
    vp.dialogs.ExpectInformation();
    EXPECT_FALSE(station.BinExport());
    EXPECT_EQ(LastBox(), box);
  }
  EXPECT_TRUE(fs::is_directory(folder));
  EXPECT_FALSE(fs::is_regular_file(special.path));
  EXPECT_EQ(Contents(readOnly), "released");

  station.UseEnglish = false;
  vp.dialogs.ExpectSaveFile(folder.string());
  vp.dialogs.ExpectInformation();
  station.BinExport();
  EXPECT_EQ(LastBox(), "A folder cannot be replaced by the file: " + folder.string() +
                           "\r\n不能用文件替换文件夹。");

#ifndef _WIN32
  const std::string target = Write("target.bin", "old");
  fs::create_symlink("target.bin", dir_ / "latest.bin");
  vp.dialogs.ExpectSaveFile((dir_ / "latest.bin").string());
  EXPECT_TRUE(station.BinExport());
  EXPECT_EQ(Contents(target).size(), 0x10U);
  EXPECT_TRUE(fs::is_symlink(dir_ / "latest.bin"));
#endif
}

TEST_F(LoaderTest, ExportReplacesTheOldFileOnlyWhenTheNewOneIsWhole) {
  station.ImageBuffer.Set(0, 0x42);
  const std::string target = Write("keep.bin", "old contents");
  // Something of the operator's own under the name a partial file would take stays as it is.
  fs::create_directories(target + ".part");
  station.txt_Start_Address.text = "0";
  station.txt_length.text = "1";
  station.OnExportFieldChange();
  vp.dialogs.ExpectSaveFile(target);
  EXPECT_TRUE(station.BinExport());
  EXPECT_EQ(Contents(target), "\x42");
  EXPECT_TRUE(fs::is_directory(target + ".part"));
  fs::remove(target + ".part");

#ifndef _WIN32
  // The disk fills up in the middle of the new file.
  Write("keep.bin", "old contents");
  station.txt_length.text = "10000";
  rlimit limit{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &limit), 0);
  const rlimit small{1000, limit.rlim_max};
  const auto previous = std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  vp.dialogs.ExpectSaveFile(target);
  vp.dialogs.ExpectInformation();
  const bool written = station.BinExport();
  setrlimit(RLIMIT_FSIZE, &limit);
  std::signal(SIGXFSZ, previous);
  EXPECT_FALSE(written);
  EXPECT_EQ(LastBox(), "The file could not be written: " + target + ": File too large");
  EXPECT_EQ(Contents(target), "old contents");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1)
      << "no partial file is left behind";
#endif
}

TEST_F(LoaderTest, StoreCommandFollowsTheLengthTheViewWrites) {
  // Start-up drew the view, which wrote the length.
  EXPECT_EQ(station.txt_length.text, "400");
  EXPECT_TRUE(station.comStoreFile.enabled);
  station.comStoreFile.enabled = false;
  Load(Write("a.hex", Record(0x0800, {0x01}) + kEnd));
  EXPECT_EQ(station.txt_length.text, "801");
  EXPECT_TRUE(station.comStoreFile.enabled);

  station.txt_Start_Address.text = "";
  station.OnScrollChange();
  EXPECT_FALSE(station.comStoreFile.enabled);
  station.txt_Start_Address.text = "0";
  station.DemoImageReady = true;
  station.OnScrollChange();
  EXPECT_FALSE(station.comStoreFile.enabled) << "left alone while the demo image is ready";
}

TEST_F(LoaderTest, StoreCommandFollowsItsFields) {
  station.txt_Start_Address.text = "0";
  station.txt_length.text = "";
  station.OnExportFieldChange();
  EXPECT_FALSE(station.comStoreFile.enabled);
  station.txt_length.text = "4";
  station.OnExportFieldChange();
  EXPECT_TRUE(station.comStoreFile.enabled);
  station.comStoreFile.enabled = false;
  station.DemoImageReady = true;
  station.OnExportFieldChange();
  EXPECT_FALSE(station.comStoreFile.enabled) << "left alone while the demo image is ready";
}

TEST_F(LoaderTest, FitCheckDropsAnImageThatReachesTheApRangeEnd) {
  Load(Write("fit.hex", Record(0x0FFE, {0x01, 0x02}) + kEnd));  // up to 0x0FFF = AP range end
  ASSERT_TRUE(station.FileLoaded);
  EXPECT_EQ(station.ProgramEnd, 0x0FFF);
  vp.dialogs.ExpectInformation();
  station.FitCheck();
  EXPECT_EQ(LastBox(), "Please reload file.");
  EXPECT_FALSE(station.FileLoaded);
  EXPECT_EQ(station.Frame7.caption, "File:");
  EXPECT_EQ(station.ProgramEnd, 0x3FF);
  EXPECT_EQ(station.ImageBuffer.Get(0x0FFF), 0x00) << "reset with the fill byte 00";
}

TEST_F(LoaderTest, RandomAndTruncatedHexTextStaysInsideTheBuffer) {
  std::mt19937 random(20261208);
  const std::string alphabet = "0123456789ABCDEFabcdefg:\r\n, ";
  const std::string good = Record(0xFFF0, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}) +
                           Record(0x1234, {0x55}) + kEnd;
  station.Text4.text = "F000";
  for (int round = 0; round < 200; ++round) {
    std::string text;
    if (round % 2 == 0) {
      text = good.substr(0, random() % good.size());
    } else {
      for (std::size_t n = random() % 300; n > 0; --n) text += alphabet[random() % alphabet.size()];
    }
    const std::string path = Write("fuzz.hex", text);
    station.LoadedFileName = path;
    // Boxes may come; answer them all.
    for (int i = 0; i < 8; ++i) vp.dialogs.ExpectInformation();
    try {
      station.HexLoader();
    } catch (const UnexpectedDialog&) {
      // A question after three bad records: not scripted here, the loader stops at it.
    }
    vp.dialogs = ScriptedDialogs();
  }
  SUCCEED();
}

}  // namespace
}  // namespace kvr
