#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "app/station_fixture.h"

namespace kvr {
namespace {

constexpr const char* kApp = "KVR Programmer for VXAxx";

class SettingsTest : public StationTest {
 protected:
  // Lets the deferred save run.
  void Settle() { station.WaitMs(300); }
  std::string Stored(const std::string& key) {
    return vp.settings.Read(kApp, "Settings", key, "<absent>");
  }
  void Store(const std::string& key, const std::string& value) {
    vp.settings.Write(kApp, "Settings", key, value);
  }
};

TEST_F(SettingsTest, FreshStartSelectsTheDefaultsAndSavesThemOnce) {
  EXPECT_EQ(station.txtDevice.text, "VXA01H");
  EXPECT_EQ(station.Combo2.index, 3);
  EXPECT_EQ(station.combCommPort.index, 0);
  EXPECT_EQ(station.Combo1.index, 0);
  EXPECT_EQ(station.optFillbyte.selected, 1);
  EXPECT_TRUE(station.optBeepYes.checked);
  EXPECT_FALSE(station.optBeepNo.checked);
  EXPECT_EQ(station.comDalay_ReDownLoad.index, 4);
  EXPECT_EQ(station.comDalay_ReDownLoad.Text(), "4");
  EXPECT_EQ(station.txtWrite_OK_Count.text, "0");
  EXPECT_TRUE(station.comStoreFile.enabled) << "the view wrote the export length";
  EXPECT_EQ(station.txtAuto[0].text, "Erase MCU");
  EXPECT_EQ(station.txtAuto[6].text, "Read Option");
  EXPECT_EQ(station.txtFuction[1].text, "Erase MCU");
  EXPECT_EQ(station.txtFuction[8].text, "Read EEPROM");
  EXPECT_EQ(Stored("Auto_VXA_8"), "") << "the sequence is saved at start-up";

  Settle();
  EXPECT_EQ(Stored("DeviceProducts"), "VXA01H");
  EXPECT_EQ(Stored("fillbyte"), "00");
  EXPECT_EQ(Stored("COM_port"), "0");
  EXPECT_EQ(Stored("Baud"), "0");
  EXPECT_EQ(Stored("BeepYesNo"), "True");
  EXPECT_EQ(Stored("Dalay_ReDownLoad"), "4");
  EXPECT_EQ(Stored("Write_OK_Count"), "0");
  EXPECT_EQ(Stored("WDT_Prescalar"), "6");
  EXPECT_EQ(Stored("ISP_Space"), "<absent>") << "never written";
  EXPECT_EQ(station.framStep.caption, "Program ( COM1, 115200 )");
  EXPECT_EQ(station.txtISP_reange[2].text, "0EC00");
}

TEST_F(SettingsTest, FamilyNodeClickKeepsTheModelInUseForTheNextStart) {
  station.OnTreeNodeClick("VXB04H");
  station.OnTreeNodeClick("FamilyVXB");
  station.Timer3().SetEnabled(true);
  Settle();
  EXPECT_EQ(Stored("DeviceProducts"), "VXB04H");
  EXPECT_EQ(station.SelectedDevice.IdentityCode, "F10C");
  station.QueryUnload();
  EXPECT_EQ(Station(vp.platform).txtDevice.text, "VXB04H");

  // No model remembered at all: the fall-back model is stored.
  station.treeDevice.selectedKey = "FamilyVXB";
  station.SaveSettings();
  EXPECT_EQ(Stored("DeviceProducts"), "VXA01H");
}

TEST_F(SettingsTest, PortChangeSavesWithoutTheFitCheckAndModelChangeWithIt) {
  Settle();
  station.OnTreeNodeClick("VXA02H");  // AP up to 1FFF
  Settle();
  const std::filesystem::path file = std::filesystem::temp_directory_path() / "kvr-fit.bin";
  std::ofstream(file, std::ios::binary) << std::string(0x1501, '\x11');
  station.LoadedFileName = file.string();
  station.LoadFile();
  ASSERT_TRUE(station.FileLoaded);
  EXPECT_EQ(station.ProgramEnd, 0x1500);

  station.OnPortChange(2);
  Settle();
  EXPECT_EQ(Stored("COM_port"), "2");
  EXPECT_EQ(station.framStep.caption, "Program ( COM3, 115200 )");
  EXPECT_TRUE(station.FileLoaded);

  station.OnTreeNodeClick("VXA01H");  // AP up to 0FFF: the image no longer fits
  vp.dialogs.ExpectInformation();
  Settle();
  EXPECT_EQ(vp.dialogs.ShownDialogs().back().text, "Please reload file.");
  EXPECT_FALSE(station.FileLoaded);
  EXPECT_EQ(Stored("DeviceProducts"), "VXA01H");
  std::filesystem::remove(file);
}

// A stored sequence keeps every step: older names take the current ones, a name no step has
// stays to fail the run where it stands, and the steps after it are not lost.
TEST_F(SettingsTest, StoredSequenceKeepsEveryStep) {
  Settle();
  Store("Auto_VXA_8", "Erase MCU");
  Store("Auto_VXA_9", "Read MCU Option");
  Store("Auto_VXA_10", "Format Disk");
  Store("Auto_VXA_11", "Program MCU option");
  Store("Auto_VXA_15", "Verify Program");
  Station restarted(vp.platform);
  const std::vector<std::string> expected = {
      "Erase MCU", "Read Option", "Format Disk", "Program Option", "", "", "", "Verify Program"};
  for (std::size_t slot = 8; slot < 16; ++slot)
    EXPECT_EQ(restarted.txtAuto[slot].text, expected[slot - 8]) << slot;
  EXPECT_EQ(Stored("Auto_VXA_9"), "Read Option") << "saved back at start-up";
  EXPECT_EQ(Stored("Auto_VXA_10"), "Format Disk");
}

// A settings file that cannot be used is said once; the station starts on its defaults.
TEST_F(SettingsTest, UnusableSettingsFileIsSaidAtStartUp) {
  vp.settings.problem = "/home/op/line.ini: it is a folder";
  vp.dialogs.ExpectInformation();
  Station restarted(vp.platform);
  ASSERT_EQ(vp.dialogs.ShownDialogs().size(), 1U);
  EXPECT_EQ(vp.dialogs.ShownDialogs().back().text,
            "The settings file cannot be used: /home/op/line.ini: it is a folder. The station "
            "starts with its defaults and stores nothing.");
  vp.dialogs.ExpectInformation();
  Station chinese(vp.platform, false);
  EXPECT_EQ(
      vp.dialogs.ShownDialogs().back().text,
      "设置文件无法使用：/home/op/line.ini: it is a folder。本站以默认设置启动，不保存任何设置。");
}

TEST_F(SettingsTest, EverySettingSurvivesARestart) {
  Settle();
  station.OnTreeNodeClick("VXB05L");
  station.OnFillByteClick(0);
  station.OnPortChange(5);
  station.OnBeepClick(false);
  station.OnRepeatDelayChange(9);
  station.txtWrite_OK_Count.text = "1234";
  station.comWDT_Prescalar.index = 2;
  station.txtAuto[8].text = " Program File ";
  station.SaveAutoSequence();
  Settle();

  Station restarted(vp.platform);
  EXPECT_EQ(restarted.txtDevice.text, "VXB05L");
  EXPECT_EQ(restarted.optFillbyte.selected, 0);
  EXPECT_EQ(restarted.combCommPort.index, 5);
  EXPECT_FALSE(restarted.optBeepYes.checked);
  EXPECT_TRUE(restarted.optBeepNo.checked);
  EXPECT_EQ(restarted.comDalay_ReDownLoad.index, 9);
  EXPECT_EQ(restarted.txtWrite_OK_Count.text, "1234");
  EXPECT_EQ(restarted.comWDT_Prescalar.index, 2);
  EXPECT_EQ(restarted.txtAuto[8].text, "Program File");
  EXPECT_EQ(restarted.Combo2.index, 3) << "the ISP size always starts from the stored index";
}

TEST_F(SettingsTest, StoredValuesThatFitNoControlLeaveTheDefaults) {
  Settle();
  Store("DeviceProducts", "FamilyVXB");
  Store("ISP_Space", "17");
  Store("COM_port", "99");
  Store("Baud", "-1");
  Store("Dalay_ReDownLoad", "four");
  Store("WDT_Prescalar", "99999999999999999999");
  Store("BeepYesNo", "maybe");
  Store("fillbyte", "");
  Station restarted(vp.platform);
  EXPECT_EQ(restarted.txtDevice.text, "VXA01H");
  EXPECT_EQ(restarted.Combo2.index, 0) << "the model's own default";
  EXPECT_EQ(restarted.combCommPort.index, 0);
  EXPECT_EQ(restarted.Combo1.index, 0);
  EXPECT_EQ(restarted.comDalay_ReDownLoad.index, 4);
  EXPECT_EQ(restarted.comWDT_Prescalar.index, -1);
  EXPECT_FALSE(restarted.optBeepYes.checked);
  EXPECT_EQ(restarted.optFillbyte.selected, 0);
  restarted.OnProgramClick();
  EXPECT_EQ(vp.port.SelectedPort(), 1);
}

TEST_F(SettingsTest, ClosingSavesBeforeTheWindowGoes) {
  Settle();
  station.txtWrite_OK_Count.text = "77";
  station.QueryUnload();
  EXPECT_EQ(Stored("Write_OK_Count"), "77");
  EXPECT_TRUE(station.Closing);
  station.Unload();
  EXPECT_FALSE(vp.port.IsOpen());
}

TEST_F(SettingsTest, ClosingDuringARunStopsItFirst) {
  writer.Config().fault = sim::Fault::Silent;
  At(30, [&] {
    station.txtWrite_OK_Count.text = "5";
    station.QueryUnload();
    EXPECT_EQ(Stored("Write_OK_Count"), "5");
    EXPECT_FALSE(vp.port.IsOpen());
  });
  station.OnProgramClick();
  EXPECT_NE(station.textMsg.Text().find("操作被中止!"), std::string::npos);
}

TEST_F(SettingsTest, OtherLanguageShowsTheChineseWording) {
  Settle();
  Station chinese(vp.platform, false);
  EXPECT_EQ(chinese.TabStrip2.Find("TJSL")->caption, "脱机烧录");
  chinese.OnProgramClick();
  EXPECT_EQ(chinese.textMsg.Text().rfind("正在与编程器连接 ...\r\n", 0), 0U);
  chinese.WaitMs(300);
  EXPECT_EQ(chinese.framStep.caption, "Program / 编程 ( COM1, 115200 )");
}

}  // namespace
}  // namespace kvr
