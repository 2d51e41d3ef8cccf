#include <gtest/gtest.h>

#include "catalogue/catalogue.h"
#include "catalogue/option_panel.h"

namespace kvr {
namespace {

SelectedDeviceFields Device(const char* familyKey, const char* name, bool extra = false) {
  const DeviceModel* row = FindModel(familyKey, name);
  SelectedDeviceFields device;
  device.DeviceClassCode = row->family->classCode;
  device.IspEnd = row->ispEnd;
  device.ShowExtraFamilies = extra;
  return device;
}

int VisibleRows(const OptionPanelControls& panel) {
  int rows = 0;
  for (const Frame& row : panel.Picture2) rows += row.visible ? 1 : 0;
  return rows;
}

std::vector<int> Choices(const OptionPanelControls& panel, int rows) {
  std::vector<int> choices;
  for (int i = 0; i < rows; ++i)
    choices.push_back(panel.Option[static_cast<std::size_t>(i)].selected);
  return choices;
}

TEST(OptionPanel, VxeModelShowsFiveRowsAndTheLongIspList) {
  OptionPanelControls panel;
  RebuildOptionPanel(panel, Device("FamilyVXE", "VXE03L"), false);
  EXPECT_EQ(VisibleRows(panel), 5);
  EXPECT_EQ(panel.LabOptionE[0].caption, "LOCK");
  EXPECT_EQ(panel.LabOptionC[0].caption, "锁芯片(读为FF)");
  EXPECT_EQ(panel.LabOptionE[4].caption, "HWEN_ISP");
  EXPECT_EQ(panel.LabOptionC[4].caption, "上电复位执行ISP");
  EXPECT_EQ(panel.Option[3].captions[0], "YES");
  EXPECT_EQ(panel.Option[3].captions[1], "NO");
  ASSERT_EQ(panel.Combo2.entries.size(), 16U);
  EXPECT_EQ(panel.Combo2.Text(), "2.0k");
  EXPECT_EQ(panel.Combo2.entries.back(), "8.0k");
  EXPECT_EQ(panel.Text4.text, "F800");
  EXPECT_EQ(Choices(panel, 5), (std::vector<int>{0, 0, 0, 1, 0}));
  EXPECT_EQ(panel.read_Option[1].caption, "ENCRYPT: 未知");
  EXPECT_EQ(panel.read_Option[4].caption, "HWEN_ISP: 未知");
  EXPECT_EQ(panel.read_Option[6].caption, "ISP 区大小: 未知");
  EXPECT_FALSE(panel.read_Option[5].visible);
  EXPECT_FALSE(panel.AP_size.visible);
}

TEST(OptionPanel, VxaModelShowsEightCombinedRows) {
  OptionPanelControls panel;
  RebuildOptionPanel(panel, Device("FamilyVXA", "VXA02H"), false);
  EXPECT_EQ(VisibleRows(panel), 8);
  EXPECT_EQ(panel.LabOptionE[0].caption, "LOCK/锁芯片(读为FF)");
  EXPECT_EQ(panel.LabOptionE[5].caption, "Oscillator Control/振荡器控制");
  EXPECT_FALSE(panel.LabOptionC[0].visible);
  EXPECT_EQ(panel.Option[5].captions[0], "1/2 gain");
  EXPECT_EQ(panel.Option[6].captions[0], "禁止访问");
  EXPECT_EQ(panel.Option[6].captions[1], "允许(推荐)");
  EXPECT_EQ(panel.Option[7].captions[0], "仅停电关狗");
  EXPECT_EQ(panel.Option[7].captions[1], "复位关狗");
  EXPECT_EQ(panel.Combo2.entries, (std::vector<std::string>{"0.0k", "1.0k", "2.0k", "4.0k"}));
  EXPECT_EQ(panel.Combo2.Text(), "2.0k");
  EXPECT_EQ(panel.Text4.text, "0");
  EXPECT_EQ(Choices(panel, 8), (std::vector<int>{0, 0, 0, 1, 0, 0, 1, 1}));
  EXPECT_EQ(panel.read_Option[1].caption, "SB: 未知");
  EXPECT_EQ(panel.read_Option[5].caption, "振荡器控制: 未知");
  EXPECT_TRUE(panel.read_Option[5].visible);

  // The other language words the rows anew and leaves the operator's choices.
  panel.Option[6].selected = 0;
  CaptionOptionPanel(panel, 2, true);
  EXPECT_EQ(panel.LabOptionE[0].caption, "LOCK/Lock, reads FF");
  EXPECT_EQ(panel.Option[6].captions[0], "Disable");
  EXPECT_EQ(panel.Option[7].captions[1], "Off by reset");
  EXPECT_EQ(Choices(panel, 8), (std::vector<int>{0, 0, 0, 1, 0, 0, 0, 1}));
}

TEST(OptionPanel, TreeModelShowsTheEnglishNamesAndTheNewerControls) {
  OptionPanelControls panel;
  panel.Option[4].selected = 0;
  panel.read_Option[0].caption = "LOCK: YES";
  RebuildOptionPanel(panel, Device("FamilyVXB", "VXA01H"));
  EXPECT_EQ(VisibleRows(panel), 8);
  EXPECT_FALSE(panel.Picture2[8].visible);
  EXPECT_EQ(panel.LabOptionE[0].caption, "Lock MCU, read FF");
  EXPECT_EQ(panel.LabOptionE[2].caption, "Disable MOVC instructio");
  EXPECT_EQ(panel.LabOptionE[7].caption, "Stop WDT with");
  EXPECT_FALSE(panel.LabOptionC[3].visible);
  EXPECT_EQ(panel.Option[5].captions[1], "Full gain");
  EXPECT_EQ(panel.Option[6].captions[0], "Disable");
  EXPECT_EQ(panel.Option[7].captions[0], "Power-Down");
  EXPECT_EQ(panel.Option[4].captions[0], "YES");
  EXPECT_EQ(panel.Combo2.Text(), "0.0k");
  EXPECT_EQ(panel.Text4.text, "0");
  EXPECT_EQ(Choices(panel, 8), (std::vector<int>{0, 0, 0, 1, 1, 1, 1, 1}));
  EXPECT_EQ(panel.read_Option[0].caption, "LOCK: Unknown");
  EXPECT_TRUE(panel.AP_size.visible);
  EXPECT_TRUE(panel.comWDT_Prescalar.visible);
  EXPECT_TRUE(panel.Picture8.visible);
  EXPECT_EQ(panel.function_enable[2].caption, "COM2");
  EXPECT_EQ(panel.AP_size.entries.size(), 9U);
  EXPECT_EQ(panel.comWDT_Prescalar.entries.back(), "256");
}

TEST(OptionPanel, ExtraFamiliesAddRowEightAndMoveTheIspDefaults) {
  OptionPanelControls panel;
  RebuildOptionPanel(panel, Device("FamilyVXC", "VXC02H", true), false);
  EXPECT_EQ(VisibleRows(panel), 9);
  EXPECT_EQ(panel.LabOptionE[8].caption, "ALE/P4.5 用作 P4.5");
  EXPECT_EQ(panel.Option[8].selected, 1);
  EXPECT_EQ(panel.Option[4].selected, 0);
  EXPECT_EQ(panel.Text4.text, "3400");
  EXPECT_EQ(panel.Combo2.Text(), "2.0k");
  EXPECT_FALSE(panel.AP_size.visible);

  RebuildOptionPanel(panel, Device("FamilyVXB", "VXB03H", true));
  EXPECT_EQ(VisibleRows(panel), 8) << "row 8 goes with its family";
  EXPECT_EQ(panel.Text4.text, "F400");
  RebuildOptionPanel(panel, Device("FamilyVXA", "VXA01L", true));
  EXPECT_EQ(panel.Text4.text, "3400");
  RebuildOptionPanel(panel, Device("FamilyVXA", "VXA05L", true));
  EXPECT_EQ(panel.Text4.text, "F400");
}

TEST(OptionPanel, RebuildDiscardsTheOperatorsChoices) {
  OptionPanelControls panel;
  const SelectedDeviceFields vxa = Device("FamilyVXA", "VXA03H");
  RebuildOptionPanel(panel, vxa);
  for (OptionPair& row : panel.Option) row.selected = 1 - row.selected;
  panel.Combo2.index = 3;
  RebuildOptionPanel(panel, vxa);
  EXPECT_EQ(Choices(panel, 8), (std::vector<int>{0, 0, 0, 1, 0, 0, 1, 1}));
  EXPECT_EQ(panel.Combo2.index, 2);
  // Leaving a newer family hides its extra controls again.
  RebuildOptionPanel(panel, Device("FamilyVXB", "VXA02H"));
  RebuildOptionPanel(panel, vxa);
  EXPECT_FALSE(panel.Picture8.visible);
}

}  // namespace
}  // namespace kvr
