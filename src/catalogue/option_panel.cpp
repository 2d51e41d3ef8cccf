#include "catalogue/option_panel.h"

namespace kvr {

namespace {

struct Caption {
  const char* english;
  const char* chinese;
  const char* Pick(bool useEnglish) const { return useEnglish ? english : chinese; }
};

// The newer families' option names (English; the Chinese ones are this station's), and the
// choice captions of their rows 5 to 7.
constexpr Caption kOptionNames[8] = {
    {"Lock MCU, read FF", "锁芯片(读为FF)"},         {"Read is scrambled", "编程器读加密"},
    {"Disable MOVC instructio", "禁止外部MOVC指令"}, {"Run in 6T mode", "双倍速(6T)"},
    {"Run ISP when power-on", "上电复位执行ISP"},    {"The gain of oscillator", "振荡器增益"},
    {"Access expanded RAM", "访问扩展RAM"},          {"Stop WDT with", "看门狗关闭于"}};
constexpr Caption kNewerChoices[3][2] = {{{"1/2 gain", "1/2 增益"}, {"Full gain", "全增益"}},
                                         {{"Disable", "禁止"}, {"Enable", "允许"}},
                                         {{"Power-Down", "掉电"}, {"Reset", "复位"}}};
constexpr Caption kRowEight{"ALE/P4.5 used as P4.5", "ALE/P4.5 用作 P4.5"};

// The English keyword and the description (Chinese, or this station's English wording).
struct VxeRow {
  const char* keyword;
  Caption description;
};
constexpr VxeRow kVxeRows[5] = {{"LOCK", {"Lock, reads FF", "锁芯片(读为FF)"}},
                                {"ENCRYPT", {"Scrambled read-out", "编程器读加密"}},
                                {"MOVCL", {"No external MOVC", "禁止外部MOVC指令"}},
                                {"EN6T", {"Double speed", "双倍速"}},
                                {"HWEN_ISP", {"Run ISP at power-on", "上电复位执行ISP"}}};

struct VxaRow {
  Caption caption;
  Caption choices[2];
};

constexpr Caption kYes{"YES", "YES"};
constexpr Caption kNo{"NO", "NO"};

constexpr VxaRow kVxaRows[8] = {
    {{"LOCK/Lock, reads FF", "LOCK/锁芯片(读为FF)"}, {kYes, kNo}},
    {{"SB/Scrambled read-out", "SB/编程器读加密"}, {kYes, kNo}},
    {{"MOVCL/No external MOVC", "MOVCL/禁止外部MOVC指令"}, {kYes, kNo}},
    {{"EN6T/Double speed", "EN6T/双倍速"}, {kYes, kNo}},
    {{"HWBS/Run ISP at power-on", "HWBS/上电复位执行ISP"}, {kYes, kNo}},
    {{"Oscillator Control", "Oscillator Control/振荡器控制"},
     {{"1/2 gain", "1/2 gain"}, {"Full gain", "Full gain"}}},
    {{"Expanded RAM (rev. C)", "访问内部扩展RAM-MCU新版C版有效"},
     {{"Disable", "禁止访问"}, {"Enable (advised)", "允许(推荐)"}}},
    {{"Started watchdog (rev. C)", "用户启动内看门狗后-MCU C版有效"},
     {{"Off by power-off", "仅停电关狗"}, {"Off by reset", "复位关狗"}}},
};

// The read-back labels before a read: the register names stay, the rest is worded.
constexpr Caption kUnknown{": Unknown", ": 未知"};
constexpr Caption kOscillatorControl{"Oscillator Control", "振荡器控制"};
constexpr Caption kIspSpace{"ISP Space", "ISP 区大小"};
constexpr Caption kApSizeLabel{"AP size:", "AP区大小:"};
constexpr Caption kPrescalerLabel{"Watchdog prescaler", "看门狗预分频数"};
constexpr Caption kPeripheralsLabel{"Peripherals:", "配置外设:"};

const std::vector<std::string> kIspSizesVxe = {"0.0k", "1.0k", "1.5k", "2.0k", "2.5k", "3.0k",
                                               "3.5k", "4.0k", "4.5k", "5.0k", "5.5k", "6.0k",
                                               "6.5k", "7.0k", "7.5k", "8.0k"};
const std::vector<std::string> kIspSizes = {"0.0k", "1.0k", "2.0k", "4.0k"};

void CaptionRow(OptionPanelControls& panel, int row, const std::string& keyword,
                const std::string& description, const char* choice0, const char* choice1) {
  const auto i = static_cast<std::size_t>(row);
  panel.LabOptionE[i] = {keyword, true};
  panel.LabOptionC[i] = {description, !description.empty()};
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

void CaptionOptionPanel(OptionPanelControls& panel, std::int16_t classCode, bool english) {
  if (classCode == 1) {
    for (int row = 0; row < 5; ++row)
      CaptionRow(panel, row, kVxeRows[row].keyword, kVxeRows[row].description.Pick(english), "YES",
                 "NO");
  } else if (classCode == 2) {
    for (int row = 0; row < 8; ++row)
      CaptionRow(panel, row, kVxaRows[row].caption.Pick(english), "",
                 kVxaRows[row].choices[0].Pick(english), kVxaRows[row].choices[1].Pick(english));
  } else if (classCode == 11 || classCode == 12 || classCode == 13) {
    for (int row = 0; row < 8; ++row) {
      const bool paired = row >= 5;
      CaptionRow(panel, row, kOptionNames[row].Pick(english), "",
                 paired ? kNewerChoices[row - 5][0].Pick(english) : "YES",
                 paired ? kNewerChoices[row - 5][1].Pick(english) : "NO");
    }
    if (classCode != 11) CaptionRow(panel, 8, kRowEight.Pick(english), "", "YES", "NO");
  }
  panel.labAP_size.caption = kApSizeLabel.Pick(english);
  panel.labWDT_Prescalar.caption = kPrescalerLabel.Pick(english);
  panel.labPicture8.caption = kPeripheralsLabel.Pick(english);
}

void ResetReadBack(OptionPanelControls& panel, std::int16_t classCode, bool english) {
  const bool vxe = classCode == 1;
  const char* names[7] = {"LOCK",
                          vxe ? "ENCRYPT" : "SB",
                          "MOVCL",
                          "EN6T",
                          vxe ? "HWEN_ISP" : "HWBS",
                          kOscillatorControl.Pick(english),
                          kIspSpace.Pick(english)};
  for (std::size_t i = 0; i < panel.read_Option.size(); ++i)
    panel.read_Option[i] = {std::string(names[i]) + kUnknown.Pick(english), true};
  panel.read_Option[5].visible = !vxe;
}

void RebuildOptionPanel(OptionPanelControls& panel, const SelectedDeviceFields& device,
                        bool english) {
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
  auto showRows = [&panel](std::size_t count) {
    for (std::size_t row = 0; row < count; ++row) panel.Picture2[row].visible = true;
  };

  if (classCode == 1) {
    showRows(5);
    panel.Text4.text = "F800";
    panel.Combo2.entries = kIspSizesVxe;
    panel.Combo2.index = 3;
    SelectDefaults(panel, {0, 0, 0, 1, 0});
  } else if (classCode == 2) {
    showRows(8);
    panel.Text4.text = extra ? TwoKIspStart(device) : "0";
    panel.Combo2.entries = kIspSizes;
    panel.Combo2.index = 2;
    SelectDefaults(panel, {0, 0, 0, 1, 0, 0, 1, 1});
  } else if (classCode == 11 || classCode == 12 || classCode == 13) {
    showRows(8);
    panel.Text4.text = extra ? TwoKIspStart(device) : "0";
    panel.Combo2.entries = kIspSizes;
    panel.Combo2.index = extra ? 2 : 0;
    SelectDefaults(panel, {0, 0, 0, 1, extra ? 0 : 1, 1, 1, 1});
    if (classCode != 11) {
      panel.AP_size.visible = panel.labAP_size.visible = false;
      panel.comWDT_Prescalar.visible = panel.labWDT_Prescalar.visible = false;
      panel.Picture8.visible = panel.labPicture8.visible = false;
      showRows(9);
      panel.Option[8].selected = 1;
    }
  }
  CaptionOptionPanel(panel, classCode, english);
  ResetReadBack(panel, classCode, english);
}

}  // namespace kvr
