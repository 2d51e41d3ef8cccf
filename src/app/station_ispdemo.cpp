// The ISP demo tab: its parameters, the build into the image buffer, and writing the demo once or
// chip after chip.

#include "app/station.h"
#include "image/serial_number.h"
#include "ispdemo/isp_demo_builder.h"

namespace kvr {

namespace {

constexpr Wording kTooLarge{
    "The file is too large: the ISP demo takes its last part, which is lost.\r\n\r\n"
    "Press OK to go on.",
    "文件太大，占用了 ISP DEMO 空间。超出部分将丢失。\r\n               按确定继续。"};
constexpr Wording kBadCrystal{"The clock frequency is not a valid number.", "内部时钟频率不正确。"};
constexpr Wording kPowerOnResetQuestion{"Shall the chip run the ISP demo after a power-on reset?",
                                        "您需要上电复位运行 ISP DEMO 下载程序吗?"};
constexpr const char* kNextChip = "准备重复运行... ";

constexpr std::int32_t kDemoSize = 1024;
constexpr int kIspSizeOneK = 1;      // "1.0k" in the ISP size list
constexpr int kPowerOnResetRow = 4;  // Option4: choice 0 boots the ISP code

bool ValidIndex(const ListControl& list, int index) {
  return index >= 0 && index < static_cast<int>(list.entries.size());
}

// A label left as it was when no error could be computed.
void ShowBaudError(Station::ColourLabel& label, const BaudReloadResult& result) {
  if (!result.caption) return;
  label.caption = *result.caption;
  label.backColour = BaudErrorBackColour(result.colour);
  label.foreColour = kBaudErrorTextColour;
}

}  // namespace

void Station::ApplyIspDemoCaptions() {
  const bool english = UseEnglish;
  auto pick = [english](const char* inEnglish, const char* inChinese) {
    return english ? inEnglish : inChinese;
  };
  Lab_oscillate_frequency.caption = pick("Clock frequency (MHz)", "内部时钟频率(MHz)");
  Lab_ISP_buad.caption = pick("Baud rate to the PC, error", "ISP与PC通讯波特率及误差");
  Lab_ISP_DEMO_parity.caption = pick("Parity", "奇偶校验");
  labISP_DEMO_erase_data.caption =
      pick("Erase the data flash with the AP area", "擦除AP区时擦除 data flash区");
  Lab_ISP_DEMO_WDT.caption = pick("External watchdog:", "外部看门狗:");
  Lab_485_pin.caption = pick("RS-485 direction:", "485收发控制:");
  Lab__485_logic.caption = pick("Pin level:", "I/O控制逻辑:");
  opt_ISP_DEMO_WDT.captions[0] = pick("None", "无");
  opt_ISP_DEMO_WDT.captions[1] = pick("Fed by one I/O pin", "用1个I/O口喂狗");
  opt_485_pin.captions[0] = pick("No RS-485", "无485");
  opt_485_pin.captions[1] = pick("Driven by one I/O pin", "用1个I/O口控制");
  opt_485_logic.captions[0] = pick("High transmits, low receives", "高电平发送,低接收");
  opt_485_logic.captions[1] = pick("High receives, low transmits", "高接收,低发送");
  com_write_ISP_demo.caption = pick("Write ISP demo", "烧录ISP DEMO");
  com_re_write_ISP_demo.caption = pick("Write ISP demo repeatedly", "重复烧录ISP DEMO");
  com_ISP_demo_stop.caption = pick("Stop writing", "停止烧录");
}

void Station::IspDemoSettingChanged() {
  // None of these moves a loaded image out of its range: no fit check.
  FitCheckDue = false;
  timer3_->SetEnabled(true);
}

void Station::OnCrystalChange(const std::string& text) {
  EditableList& list = comb_oscillate_frequency;
  if (!list.enabled) return;
  list.text = text;
  list.index = -1;
  for (std::size_t i = 0; i < list.entries.size(); ++i)
    if (list.entries[i] == list.text) list.index = static_cast<int>(i);
  BaudReload();
  IspDemoSettingChanged();
}

void Station::OnIspBaudChange(int index) {
  if (!comb_ISP_buad.enabled || !ValidIndex(comb_ISP_buad, index)) return;
  comb_ISP_buad.index = index;
  BaudReload();
  IspDemoSettingChanged();
}

void Station::OnIspDemoParityClick(int index) {
  if (!opt_ISP_DEMO_parity.enabled || index < 0 || index > 1) return;
  opt_ISP_DEMO_parity.selected = index;
  IspDemoSettingChanged();
}

void Station::OnIspDemoEraseDataClick(int index) {
  if (!optISP_DEMO_erase_data.enabled || index < 0 || index > 1) return;
  optISP_DEMO_erase_data.selected = index;
  IspDemoSettingChanged();
}

void Station::OnIspDemoWdtClick(int index) {
  if (!opt_ISP_DEMO_WDT.enabled || index < 0 || index > 1) return;
  opt_ISP_DEMO_WDT.selected = index;
  EnableIspDemoPins();
  IspDemoSettingChanged();
}

void Station::OnIspDemoWdtPinChange(int element, int index) {
  if (element < 0 || element > 1) return;
  ListControl& list = comb_ISP_DEMO_WDT[static_cast<std::size_t>(element)];
  if (!list.enabled || !ValidIndex(list, index)) return;
  list.index = index;
  IspDemoSettingChanged();
}

void Station::On485PinClick(int index) {
  if (!opt_485_pin.enabled || index < 0 || index > 1) return;
  opt_485_pin.selected = index;
  EnableIspDemoPins();
  IspDemoSettingChanged();
}

void Station::On485PinChange(int element, int index) {
  if (element < 0 || element > 1) return;
  ListControl& list = comb_485_pin[static_cast<std::size_t>(element)];
  if (!list.enabled || !ValidIndex(list, index)) return;
  list.index = index;
  IspDemoSettingChanged();
}

void Station::On485LogicClick(int index) {
  if (!opt_485_logic.enabled || index < 0 || index > 1) return;
  opt_485_logic.selected = index;
}

void Station::EnableIspDemoPins() {
  const bool watchdog = opt_ISP_DEMO_WDT.selected != 0;
  for (ListControl& list : comb_ISP_DEMO_WDT) list.enabled = watchdog;
  const bool rs485 = opt_485_pin.selected != 0;
  for (ListControl& list : comb_485_pin) list.enabled = rs485;
  Lab__485_logic.enabled = opt_485_logic.enabled = rs485;
  ApplyOperatorLock();
}

float Station::BaudReload() {
  const BaudReloadResult result =
      kvr::BaudReload(comb_oscillate_frequency.text, comb_ISP_buad.Text());
  ShowBaudError(Lab_BAUD_ERR, result);
  return result.n;
}

bool Station::BuildIspDemo() {
  IspDemoParameters parameters;
  parameters.crystal = comb_oscillate_frequency.text;
  parameters.baud = comb_ISP_buad.Text();
  parameters.parity = opt_ISP_DEMO_parity.selected == 0;
  parameters.eraseData = optISP_DEMO_erase_data.selected == 0;
  parameters.watchdog = opt_ISP_DEMO_WDT.selected != 0;
  parameters.watchdogPort = comb_ISP_DEMO_WDT[0].Text();
  parameters.watchdogBit = comb_ISP_DEMO_WDT[1].Text();
  parameters.rs485 = opt_485_pin.selected != 0;
  parameters.rs485Port = comb_485_pin[0].Text();
  parameters.rs485Bit = comb_485_pin[1].Text();
  parameters.rs485HighTransmit = opt_485_logic.selected == 0;
  parameters.model = txtDevice.text;
  parameters.ispEnd = SelectedDevice.IspEnd;
  parameters.userEnd = SelectedDevice.UserEnd;
  parameters.apEnd = SelectedDevice.ApEnd;
  parameters.apUpToIsp = SelectedDevice.ApUpToIsp;
  parameters.useEnglish = UseEnglish;

  const IspDemoBuildResult result = kvr::BuildIspDemo(parameters, ImageBuffer);
  if (result.placed) {
    DemoImageReady = true;
    BufferChanged = true;
    comStoreFile.enabled = false;
  }
  if (result.baud) ShowBaudError(Lab_BAUD_ERR, *result.baud);
  if (!result.message.empty()) platform_.dialogs.Information(result.message);
  return result.failed;
}

bool Station::WriteIspDemoOnce() {
  IspDemoRefused = false;
  if (Combo2.entries.size() > kIspSizeOneK) {
    Combo2.index = kIspSizeOneK;
    timer3_->SetEnabled(true);
  }
  // The save and its fit check run now: run later, in the middle of the write, a fit check
  // that drops the loaded file would clear the buffer and the demo with it.
  DeferredSave();

  if (DataEnd > SelectedDevice.IspEnd - kDemoSize)
    platform_.dialogs.Information(kTooLarge.Pick(UseEnglish));

  // A refused build leaves a half-patched demo in the buffer: nothing of it goes to the chip.
  // The builder passes over a crystal that is no positive number in silence; the operator
  // must still learn why nothing was written.
  const bool noCrystal = !(LeadingNumber(comb_oscillate_frequency.text) > 0);
  if (BuildIspDemo()) {
    if (noCrystal) platform_.dialogs.Information(kBadCrystal.Pick(UseEnglish));
    IspDemoRefused = true;
    return false;
  }
  OnFunctionClick(0);
  IspDemoMode = true;
  OperationDriver();
  return true;
}

void Station::OnWriteIspDemoClick() {
  if (!com_write_ISP_demo.enabled || RunInProgress()) return;
  WriteIspDemoOnce();
}

void Station::OnIspDemoStopClick() {
  // The Stop command, whenever Stop itself is offered.
  if (com_ISP_demo_stop.enabled && comStop_Download.enabled) StopRun();
}

void Station::OnRewriteIspDemoClick() {
  if (!com_re_write_ISP_demo.enabled || RunInProgress()) return;
  IspDemoMode = true;
  LockSettings();
  RepeatStop = false;
  repeating_ = true;
  OptionPair& powerOnReset = Option[kPowerOnResetRow];
  if (powerOnReset.selected != 0 &&
      platform_.dialogs.Question(kPowerOnResetQuestion.Pick(UseEnglish)))
    powerOnReset.selected = 0;

  if (WriteIspDemoOnce()) {
    // A Stop during a run ends the repeat too, also when there is no pause to notice it in.
    while (!RepeatStop) {
      const std::string function = SelectedFunction();
      SingleRun = false;
      OperationDriver();
      // No other run may start between two chips.
      comDownload.enabled = false;
      comStop_Download.enabled = true;
      if (RepeatStop) break;
      const std::string kept = textMsg.Text();
      for (int n = PauseBeforeNextChip(function); n >= 1 && !RepeatStop; --n) {
        textMsg.Replace(kept + kLineBreak + kNextChip + std::to_string(n));
        textMsg.MoveCaretToEnd();
        CountdownSecond();
      }
      if (RepeatStop) break;
      textMsg.Replace("");
    }
  }
  repeating_ = false;
  UnlockSettings();
  comDownload.enabled = true;
  comReDownload.enabled = true;
  comStop_Download.enabled = false;
}

std::int16_t Station::ProgramIspDemoStep() {
  // The chip leaves locked, with LOCK, SB and MOVCL at 0.
  for (std::size_t row = 0; row < 3; ++row) Option[row].selected = 0;
  const std::int16_t options = ProgramOptions();
  if (options < 0) return options;
  const std::int32_t end = SelectedDevice.IspEnd;
  ProgressBar1.visible = labKbyte.visible = true;
  const ProgramRange demo{end - (kDemoSize - 1), end, end};
  NoteProgrammed(demo, "ISP demo");
  const std::int16_t written = Programmer.WriteProgramRange(demo);
  ProgressBar1.visible = labKbyte.visible = false;
  if (written < 0) return -1;
  return ProgramFileStep();
}

}  // namespace kvr
