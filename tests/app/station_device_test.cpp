#include <gtest/gtest.h>

#include "app/station_fixture.h"

namespace kvr {
namespace {

void ChooseFromList(Station& station, const std::string& name) {
  const auto& entries = station.combMcuModel.entries;
  const auto it = std::find(entries.begin(), entries.end(), name);
  ASSERT_NE(it, entries.end()) << name;
  station.combMcuModel.index = static_cast<int>(it - entries.begin());
  station.OnModelListClick();
}

const std::string& TabCaption(Station& station, const char* key) {
  return station.TabStrip2.Find(key)->caption;
}

TEST_F(StationTest, StartsOnTheFallBackModelOfTheTree) {
  const SelectedDeviceFields& d = station.SelectedDevice;
  EXPECT_EQ(station.txtDevice.text, "VXA01H");
  EXPECT_EQ(d.DeviceClassCode, 11);
  EXPECT_EQ(d.IdentityCode, "F101");
  EXPECT_EQ(d.ApStart, 0);
  EXPECT_EQ(d.ApEnd, 0x0FFF);
  EXPECT_EQ(d.IspStart, 0xEC00);
  EXPECT_EQ(d.IspEnd, 0xFBFF);
  EXPECT_EQ(d.UserEnd, 0xFBFF);
  EXPECT_EQ(d.BlockSize, 512);
  EXPECT_FALSE(d.ApUpToIsp);
  EXPECT_FALSE(station.treeDevice.visible);
  EXPECT_TRUE(station.Timer3().Enabled());
}

TEST_F(StationTest, UnknownStoredModelFallsBack) {
  station.OnTreeNodeClick("VXB05H");
  station.RestoreModel("VXZ99H");
  EXPECT_EQ(station.txtDevice.text, "VXA01H");
  EXPECT_EQ(station.SelectedDevice.IdentityCode, "F101");
  station.RestoreModel("VXB05L");
  EXPECT_EQ(station.SelectedDevice.ApEnd, 0xCFFF);
  // A family key is no model: it falls back as well.
  station.RestoreModel("FamilyVXB");
  EXPECT_EQ(station.txtDevice.text, "VXA01H");
}

TEST_F(StationTest, TreeAndListGiveTheirOwnVxa06) {
  station.OnTreeNodeClick("VXA06H");
  EXPECT_EQ(station.SelectedDevice.ApEnd, 0xF3FF);
  EXPECT_TRUE(station.SelectedDevice.ApUpToIsp);
  EXPECT_EQ(station.SelectedDevice.DeviceClassCode, 11);

  ChooseFromList(station, "VXA06H");
  EXPECT_EQ(station.SelectedDevice.ApEnd, 0xEBFF);
  EXPECT_EQ(station.SelectedDevice.IspStart, 0xEC00);
  EXPECT_EQ(station.SelectedDevice.DeviceClassCode, 2);
  EXPECT_TRUE(station.SelectedDevice.ApUpToIsp);
  EXPECT_EQ(station.SelectedDevice.IdentityCode, "F110");
  EXPECT_EQ(station.SelectedDevice.BlockSize, 512);
  EXPECT_EQ(station.txtDevice.text, "VXA06H") << "the list leaves the box alone";

  station.OnTreeNodeClick("VXA06H");
  station.OnTreeNodeClick("VXA01H");
  EXPECT_FALSE(station.SelectedDevice.ApUpToIsp);
}

TEST_F(StationTest, FamilyNodeChangesNothing) {
  station.OnTreeNodeClick("VXB04H");
  const SelectedDeviceFields before = station.SelectedDevice;
  station.OnDeviceTextClick();
  station.OnTreeNodeClick("FamilyVXB");
  EXPECT_EQ(station.SelectedDevice.IdentityCode, before.IdentityCode);
  EXPECT_EQ(station.txtDevice.text, "VXB04H");
  EXPECT_TRUE(station.treeDevice.visible) << "the tree stays open on a family node";
  station.OnTreeNodeClick("VXB06L");
  EXPECT_FALSE(station.treeDevice.visible);
  EXPECT_EQ(station.txtDevice.text, "VXB06L");
}

TEST_F(StationTest, NameTheCatalogueDoesNotHoldKeepsTheEarlierModel) {
  station.OnTreeNodeClick("VXA06H");
  station.combMcuModel.entries.push_back("QQ123");  // one of the list's other families
  ChooseFromList(station, "QQ123");
  const SelectedDeviceFields& d = station.SelectedDevice;
  EXPECT_EQ(d.BlockSize, 128);
  EXPECT_FALSE(d.ApUpToIsp);
  EXPECT_EQ(d.DeviceClassCode, 11);
  EXPECT_EQ(d.IdentityCode, "F110");
  EXPECT_EQ(d.ApEnd, 0xF3FF);
  // The list rule offers "more_option" for any class of 3 and more.
  station.UseEnglish = false;
  ChooseFromList(station, "QQ123");
  EXPECT_EQ(TabCaption(station, "more_option"), "更多烧录选项");
}

TEST_F(StationTest, OptionalTabsFollowTheModelAndTheLanguage) {
  EXPECT_EQ(TabCaption(station, "Down_ISP_demo"), "_no_");
  EXPECT_EQ(TabCaption(station, "TJSL"), "_no_");
  EXPECT_EQ(TabCaption(station, "more_option"), "_no_");

  ChooseFromList(station, "VXA03L");
  EXPECT_EQ(TabCaption(station, "Down_ISP_demo"), "ISP demo");
  EXPECT_FALSE(station.optISP_DEMO_erase_data.enabled) << "VXA03 has no data area";
  EXPECT_EQ(TabCaption(station, "TJSL"), "_no_") << "English: no offline board tab";
  ChooseFromList(station, "VXA02L");
  EXPECT_TRUE(station.optISP_DEMO_erase_data.enabled);

  // The other language applies at once, without another choice of the model.
  station.SetLanguage(false);
  EXPECT_EQ(TabCaption(station, "Down_ISP_demo"), "烧录 ISP DEMO");
  EXPECT_EQ(TabCaption(station, "TJSL"), "脱机烧录");
  ChooseFromList(station, "VXE01L");
  EXPECT_EQ(TabCaption(station, "Down_ISP_demo"), "_no_");
  EXPECT_EQ(TabCaption(station, "TJSL"), "脱机烧录");
  EXPECT_EQ(TabCaption(station, "more_option"), "_no_");

  station.SetShowExtraFamilies(true);
  station.OnTreeNodeClick("VXD03H");
  EXPECT_EQ(TabCaption(station, "more_option"), "更多烧录选项");
  station.OnTreeNodeClick("VXA02H");
  EXPECT_EQ(TabCaption(station, "more_option"), "_no_");
}

TEST_F(StationTest, WithdrawnTabIsNotLeftSelected) {
  ChooseFromList(station, "VXA01H");
  station.TabStrip2.selected = 0;  // the ISP demo tab
  station.OnTreeNodeClick("VXA02H");
  EXPECT_EQ(station.TabStrip2.selected, 1);
  EXPECT_EQ(station.TabStrip2.tabs[1].key, "auto_increase");
}

TEST_F(StationTest, ExtraFamiliesReachTheVxcAndVxdRows) {
  EXPECT_EQ(station.treeDevice.nodes.size(), 19U);
  station.OnTreeNodeClick("VXC01H");
  EXPECT_EQ(station.txtDevice.text, "VXA01H") << "not in the tree without the extra families";
  station.SetShowExtraFamilies(true);
  EXPECT_EQ(station.treeDevice.nodes.size(), 51U);
  station.OnTreeNodeClick("VXC01H");
  EXPECT_EQ(station.SelectedDevice.DeviceClassCode, 12);
  EXPECT_EQ(station.SelectedDevice.IspStart, 0x3400);
  EXPECT_EQ(station.Text4.text, "3400");
  EXPECT_TRUE(station.Picture2[8].visible);
}

TEST_F(StationTest, SelectionRebuildsThePanelAndEnablesTheFrames) {
  station.Frame1[0].enabled = station.Frame1[1].enabled = false;
  station.cheAuto_Increase.enabled = false;
  station.Timer3().SetEnabled(false);
  ChooseFromList(station, "VXE02L");
  EXPECT_EQ(station.Text4.text, "F800");
  EXPECT_EQ(station.Combo2.entries.size(), 16U);
  EXPECT_TRUE(station.Frame1[0].enabled);
  EXPECT_TRUE(station.Frame1[1].enabled);
  EXPECT_TRUE(station.cheAuto_Increase.enabled);
  EXPECT_TRUE(station.Timer3().Enabled());
}

TEST_F(StationTest, ProgramRunLocksTheModelAndPanelControls) {
  ChooseFromList(station, "VXA02L");  // has a data area: the erase-data choice is offered
  station.OnTreeNodeClick("VXA01H");
  ASSERT_TRUE(station.optISP_DEMO_erase_data.enabled);
  At(1, [&] {
    EXPECT_FALSE(station.optISP_DEMO_erase_data.enabled);
    EXPECT_FALSE(station.labISP_DEMO_erase_data.enabled);
    EXPECT_FALSE(station.txtDevice.enabled);
    EXPECT_FALSE(station.Combo2.enabled);
    EXPECT_FALSE(station.Text4.enabled);
    EXPECT_FALSE(station.Option[7].enabled);
    EXPECT_TRUE(station.Option[8].enabled);
    station.OnDeviceTextClick();
    EXPECT_FALSE(station.treeDevice.visible);
    // Neither way of choosing changes the model under a run.
    station.OnTreeNodeClick("VXB03H");
    ChooseFromList(station, "VXE01L");
    EXPECT_EQ(station.SelectedDevice.IdentityCode, "F101");
  });
  station.OnProgramClick();
  EXPECT_TRUE(station.txtDevice.enabled);
  EXPECT_TRUE(station.Combo2.enabled);
  EXPECT_TRUE(station.Option[0].enabled);
  EXPECT_TRUE(station.optISP_DEMO_erase_data.enabled);
  EXPECT_TRUE(station.labISP_DEMO_erase_data.enabled);
}

TEST_F(StationTest, ReadMcuIdReadsTwiceAndReportsTheSecond) {
  ChooseFromList(station, "VXA02H");
  writer.Config().chipIdentity = 0xF002;
  station.OnFunctionClick(2);
  station.OnProgramClick();
  EXPECT_EQ(station.textMsg.Text(),
            "We are connecting...\r\nWriter Version : 1.3\r\n\r\nMCU: VXA02H/L\r\n");
  EXPECT_EQ(station.LastRun.result, 0);
  int identityReads = 0;
  for (const Bytes& frame : vp.port.Written()) {
    EXPECT_EQ(frame[6], 2) << "the chosen class code on every frame";
    identityReads += frame[5] == 0x0A ? 1 : 0;
  }
  EXPECT_EQ(identityReads, 2);
}

TEST_F(StationTest, ReadMcuIdOfAnotherChip) {
  writer.Config().chipIdentity = 0xF110;
  station.OnFunctionClick(2);
  station.OnProgramClick();
  EXPECT_EQ(station.textMsg.Text(),
            "We are connecting...\r\nWriter Version : 1.3\r\n\r\nMCU: VXA06H/L\r\n"
            "MCU is encrypt or unauthentic.\r\n");
  EXPECT_EQ(station.LastRun.result, -2);
}

TEST_F(StationTest, ReadMcuIdWithoutChip) {
  writer.Config().chipIdentity.reset();
  station.OnFunctionClick(2);
  station.OnProgramClick();
  EXPECT_EQ(station.textMsg.Text(),
            "We are connecting...\r\nWriter Version : 1.3\r\n\r\n\r\nRead MCU ID is failed!\r\n");
  EXPECT_EQ(station.LastRun.result, -1);
}

}  // namespace
}  // namespace kvr
