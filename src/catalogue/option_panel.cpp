#include "catalogue/option_panel.h"

namespace kvr {

namespace {

// English option names of the newer families, and the choice captions of their rows 5 to 7.
constexpr const char* kOptionNames[8] = {
    "Lock MCU, read FF",     "Read is scrambled",      "Disable MOVC instructio", "Run in 6T mode",
    "Run ISP when power-on", "The gain of oscillator", "Access expanded RAM",     "Stop WDT with"};
constexpr const char* kNewerChoices[3][2] = {
    {"1/2 gain", "Full gain"}, {"Disable", "Enable"}, {"Power-Down", "Reset"}};

struct Caption {
  const char* english;
  const char* chinese;
};

constexpr Caption kVxeRows[5] = {{"LOCK", "锁芯片(读为FF)"},
                                 {"ENCRYPT", "编程器读加密"},
                                 {"MOVCL", "禁止外部MOVC指令"},
                                 {"EN6T", "双倍速"},
                                 {"HWEN_ISP", "上电复位执行ISP"}};

struct VxaRow {
  const char* caption;
  const char* choices[2];
};

constexpr VxaRow kVxaRows[8] = {
    {"LOCK/锁芯片(读为FF)", {"YES", "NO"}},
    {"SB/编程器读加密", {"YES", "NO"}},
    {"MOVCL/禁止外部MOVC指令", {"YES", "NO"}},
    {"EN6T/双倍速", {"YES", "NO"}},
    {"HWBS/上电复位执行ISP", {"YES", "NO"}},
    {"Oscillator Control/振荡器控制", {"1/2 gain", "Full gain"}},
    {"访问内部扩展RAM-MCU新版C版有效", {"禁止访问", "允许(推荐)"}},
    {"用户启动内看门狗后-MCU C版有效", {"仅停电关狗", "复位关狗"}},
};

const std::vector<std::string> kIspSizesVxe = {"0.0k", "1.0k", "1.5k", "2.0k", "2.5k", "3.0k",
                                               "3.5k", "4.0k", "4.5k", "5.0k", "5.5k", "6.0k",
                                               "6.5k", "7.0k", "7.5k", "8.0k"};
const std::vector<std::string> kIspSizes = {"0.0k", "1.0k", "2.0k", "4.0k"};

void ShowRow(OptionPanelControls& panel, int row, const std::string& english,
             const std::string& chinese, const char* choice0, const char* choice1) {
  const auto i = static_cast<std::size_t>(row);
  panel.Picture2[i].visible = true;
  panel.LabOptionE[i] = {english, true};
  panel.LabOptionC[i] = {chinese, !chinese.empty()};
  panel.Option[i].captions[0] = choice0;
  panel.Option[i].captions[1] = choice1;
}

void SelectDefaults(OptionPanelControls& panel, std::initializer_list<int> choices) {
  std::size_t row = 0;
  for (int choice : choices) panel.Option[row++].selected = choice;
}

// Where a 2 K ISP area starts, for the start address shown with the extra families.
const char* TwoKIspStart(const SelectedDeviceFields& device) {
  return device.IspEnd == 0x3BFF ? "3400" : "F400";
}

}  // namespace

OptionPanelControls::OptionPanelControls() {
  for (Frame& row : Picture2) row.visible = false;
  Combo2.entries = kIspSizes;
  AP_size.entries = {"8K", "16K", "32K", "40K", "48K", "52K", "56K", "60K", "64K"};
  comWDT_Prescalar.entries = {"2", "4", "8", "16", "32", "64", "128", "256"};
  const char* peripherals[kPeripherals] = {"ADC", "PCA", "COM2", "XRAM", "SPI"};
  for (int i = 0; i < kPeripherals; ++i)
    function_enable[static_cast<std::size_t>(i)].caption = peripherals[i];
  AP_size.visible = labAP_size.visible = false;
  comWDT_Prescalar.visible = labWDT_Prescalar.visible = false;
  Picture8.visible = labPicture8.visible = false;
}

void RebuildOptionPanel(OptionPanelControls& panel, const SelectedDeviceFields& device) {
  const std::int16_t classCode = device.DeviceClassCode;
  const bool extra = device.ShowExtraFamilies;
  const bool newer = classCode > 2;

  // Row 8 belongs to two families only; it goes with the other rows, so a later choice of
  // another family does not keep it.
  for (Frame& row : panel.Picture2) {
    row.visible = false;
    row.border = false;
  }
  panel.AP_size.visible = panel.labAP_size.visible = newer;
  panel.comWDT_Prescalar.visible = panel.labWDT_Prescalar.visible = newer;
  panel.Picture8.visible = panel.labPicture8.visible = newer;

  if (classCode == 1) {
    for (int row = 0; row < 5; ++row)
      ShowRow(panel, row, kVxeRows[row].english, kVxeRows[row].chinese, "YES", "NO");
    panel.Text4.text = "F800";
    panel.Combo2.entries = kIspSizesVxe;
    panel.Combo2.index = 3;
    SelectDefaults(panel, {0, 0, 0, 1, 0});
  } else if (classCode == 2) {
    for (int row = 0; row < 8; ++row)
      ShowRow(panel, row, kVxaRows[row].caption, "", kVxaRows[row].choices[0],
              kVxaRows[row].choices[1]);
    panel.Text4.text = extra ? TwoKIspStart(device) : "0";
    panel.Combo2.entries = kIspSizes;
    panel.Combo2.index = 2;
    SelectDefaults(panel, {0, 0, 0, 1, 0, 0, 1, 1});
  } else if (classCode == 11 || classCode == 12 || classCode == 13) {
    for (int row = 0; row < 8; ++row) {
      const bool paired = row >= 5;
      ShowRow(panel, row, kOptionNames[row], "", paired ? kNewerChoices[row - 5][0] : "YES",
              paired ? kNewerChoices[row - 5][1] : "NO");
    }
    panel.Text4.text = extra ? TwoKIspStart(device) : "0";
    panel.Combo2.entries = kIspSizes;
    panel.Combo2.index = extra ? 2 : 0;
    SelectDefaults(panel, {0, 0, 0, 1, extra ? 0 : 1, 1, 1, 1});
    if (classCode != 11) {
      panel.AP_size.visible = panel.labAP_size.visible = false;
      panel.comWDT_Prescalar.visible = panel.labWDT_Prescalar.visible = false;
      panel.Picture8.visible = panel.labPicture8.visible = false;
      ShowRow(panel, 8, "ALE/P4.5 用作 P4.5", "", "YES", "NO");
      panel.Option[8].selected = 1;
    }
  }

  const bool vxe = classCode == 1;
  const char* names[7] = {"LOCK",     vxe ? "ENCRYPT" : "SB",    "MOVCL",
                          "EN6T",     vxe ? "HWEN_ISP" : "HWBS", "Oscillator Control",
                          "ISP Space"};
  for (std::size_t i = 0; i < panel.read_Option.size(); ++i)
    panel.read_Option[i] = {std::string(names[i]) + ": Unknown", true};
  panel.read_Option[5].visible = !vxe;
}

}  // namespace kvr
