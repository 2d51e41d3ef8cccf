#include "app/station.h"

#include <algorithm>
#include <charconv>

#include "app/port_messages.h"
#include "link/writer_frame.h"
#include "operations/erase_blank.h"
#include "operations/identity.h"

namespace kvr {

namespace {

constexpr Wording kConnecting{"We are connecting...", "正在与编程器连接 ..."};
constexpr Wording kOpenFailed{"Open COM port is failed!",
                              "打开串口失败!\r\n串口已被其它程序打开或不存在。"};
constexpr Wording kPowerOn{"Power on or connect the line please.", "请接好电缆, 打开电源。"};
constexpr const char* kStopped = "操作被中止!";

constexpr std::int16_t kHandshakeTimeoutMs = 20;
constexpr int kDeferredSaveMs = 100;
constexpr int kCloseTimerMs = 500;
constexpr int kLongestRepeatDelay = 60;
constexpr int kPortCount = 8;

int ParseBaud(const std::string& text) {
  int baud = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), baud);
  return error == std::errc() && end == text.data() + text.size() ? baud : 0;
}

}  // namespace

Station::Station(Platform& platform, bool useEnglish, LineChoice line)
    : UseEnglish(useEnglish),
      link(platform.port, platform.pump, platform.timers, textMsg, UseEnglish,
           SelectedDevice.DeviceClassCode),
      Programmer(OperationContext{link, textMsg, UseEnglish, SelectedDevice}, ImageBuffer,
                 ProgressDisplay{ProgressBar1, labKbyte}),
      platform_(platform),
      operations_{link, textMsg, UseEnglish, SelectedDevice},
      timer3_(platform.timers.CreateTimer()),
      timer4_(platform.timers.CreateTimer()),
      timer5_(platform.timers.CreateTimer()),
      timer10_(platform.timers.CreateTimer()),
      timerBeep_(platform.timers.CreateTimer()) {
  timer3_->SetInterval(kDeferredSaveMs);
  timer3_->SetTickHandler([this] { DeferredSave(); });
  timer4_->SetInterval(kCloseTimerMs);
  timer4_->SetTickHandler([this] {
    timer4_->SetEnabled(false);
    if (onCloseWindow) onCloseWindow();
  });
  timer5_->SetTickHandler([this] { timer5_->SetEnabled(false); });
  timer10_->SetTickHandler([this] { timer10_->SetEnabled(false); });
  timerBeep_->SetTickHandler([this] { timerBeep_->SetEnabled(false); });
  timerBeep_->SetInterval(kBeepSpacingMs);
  // A data block that fails while the window closes lets the close timer run again.
  Programmer.onBlockFailed = [this] {
    if (Closing) timer4_->SetEnabled(true);
  };
  ProgressBar1.visible = false;
  labKbyte.visible = false;
  platform.port.SetLostHandler([this] { OnPortLost(); });

  for (int n = 1; n <= kPortCount; ++n) combCommPort.entries.push_back("COM" + std::to_string(n));
  combCommPort.index = 0;
  Combo1.entries = {"115200"};
  Combo1.index = 0;

  txtFuction[0].highlighted = true;

  combMcuModel.entries = ModelListNames();
  TabStrip2.tabs = {{"Down_ISP_demo", "Down_ISP_demo"},
                    {"auto_increase", "Auto_Increase"},
                    {"TJSL", "TJSL"},
                    {"save_file", "Save_file"},
                    {"more_option", "more_option"}};

  TabStrip1.tabs = {{"MCU_type", "MCU-Option"},
                    {"COMM_port_baud", "COM-Baud"},
                    {"Set_Auto", "Set_Auto"},
                    {"Write_Option", "Write_Option"}};
  for (int seconds = 0; seconds <= kLongestRepeatDelay; ++seconds)
    comDalay_ReDownLoad.entries.push_back(std::to_string(seconds));
  comDalay_ReDownLoad.index = 4;

  // Every control that changes what a run reads belongs here, those added later too.
  lockedControls_ = {&comDownload.enabled,
                     &txtDevice.enabled,
                     &Combo2.enabled,
                     &Text4.enabled,
                     &Check6.enabled,
                     &optFillbyte.enabled,
                     &comLoadFile.enabled,
                     &comReDownload.enabled,
                     &optISP_DEMO_erase_data.enabled,
                     &labISP_DEMO_erase_data.enabled};
  for (std::size_t row = 0; row < 8; ++row) lockedControls_.push_back(&Option[row].enabled);
  lockedControls_.insert(lockedControls_.end(), {&comTJXZ.enabled, &txt_download_max.enabled});
  lockedControls_.insert(
      lockedControls_.end(),
      {&com_write_ISP_demo.enabled, &com_re_write_ISP_demo.enabled,
       &comb_oscillate_frequency.enabled, &Lab_oscillate_frequency.enabled, &comb_ISP_buad.enabled,
       &Lab_ISP_buad.enabled, &Lab_BAUD_ERR.enabled, &opt_ISP_DEMO_parity.enabled,
       &Lab_ISP_DEMO_parity.enabled, &opt_ISP_DEMO_WDT.enabled, &Lab_ISP_DEMO_WDT.enabled,
       &comb_ISP_DEMO_WDT[0].enabled, &comb_ISP_DEMO_WDT[1].enabled, &opt_485_pin.enabled,
       &Lab_485_pin.enabled, &comb_485_pin[0].enabled, &comb_485_pin[1].enabled,
       &opt_485_logic.enabled, &Lab__485_logic.enabled});
  lockedControls_.push_back(&txtLineDatabase.enabled);
  lineChoice_ = std::move(line);

  // Operator mode leaves Program, Stop, Program repeat, the port and the verdict: everything
  // that decides what a chip gets is the job's.
  operatorLocked_ = {&txtDevice.enabled,
                     &combMcuModel.enabled,
                     &Combo2.enabled,
                     &Text4.enabled,
                     &Check6.enabled,
                     &cekReloadFile.enabled,
                     &optFillbyte.enabled,
                     &comLoadFile.enabled,
                     &AP_size.enabled,
                     &comWDT_Prescalar.enabled,
                     &Picture8.enabled,
                     &cheAuto_Increase.enabled,
                     &optAuto_Increase.enabled,
                     &txtReportFile.enabled,
                     &comReportFile.enabled,
                     &optReportFormat.enabled,
                     &comDalay_ReDownLoad.enabled,
                     &txtJobProduct.enabled,
                     &txtJobNote.enabled,
                     &comTJXZ.enabled,
                     &txt_download_max.enabled};
  for (Frame& frame : Frame1) operatorLocked_.push_back(&frame.enabled);
  for (OptionPair& row : Option) operatorLocked_.push_back(&row.enabled);
  for (CheckBox& box : function_enable) operatorLocked_.push_back(&box.enabled);
  for (TextEntry& entry : txtAuto) operatorLocked_.push_back(&entry.enabled);
  for (CommandButton& button : comAuto) operatorLocked_.push_back(&button.enabled);
  for (TextBox& field : texAuto_Increase) operatorLocked_.push_back(&field.enabled);
  for (TextEntry& entry : txtFuction) operatorLocked_.push_back(&entry.enabled);
  // The ISP demo writes an image of its own.
  for (bool* enabled : lockedControls_)
    if (std::find(operatorLocked_.begin(), operatorLocked_.end(), enabled) ==
            operatorLocked_.end() &&
        enabled != &comDownload.enabled && enabled != &comReDownload.enabled)
      operatorLocked_.push_back(enabled);
  FormLoad();
}

void Station::LockSettings() {
  for (bool* enabled : lockedControls_) *enabled = false;
}

void Station::UnlockSettings() {
  for (bool* enabled : lockedControls_) *enabled = true;
  optISP_DEMO_erase_data.enabled = labISP_DEMO_erase_data.enabled = !SelectedDevice.ApUpToIsp;
  // A pin list stays disabled while its option says no pin.
  EnableIspDemoPins();
  ApplyOperatorLock();
}

void Station::OnProgramClick() {
  // Stop gives the buttons back at once, while the stopped run may still be finishing its
  // last wait; a second run must not start inside it.
  if (RunInProgress()) return;
  LockSettings();
  SingleRun = true;
  IspDemoMode = false;
  OperationDriver();
  UnlockSettings();
}

void Station::OnFunctionClick(int index) {
  if (index < 0 || index >= kFunctions) return;
  for (int i = 0; i < kFunctions; ++i)
    txtFuction[static_cast<std::size_t>(i)].highlighted = i == index;
}

void Station::OnFunctionDoubleClick(int index) {
  OnFunctionClick(index);
  if (!comDownload.enabled || RunInProgress()) return;
  SingleRun = true;
  OperationDriver();
}

std::string Station::SelectedFunction() const {
  for (const TextEntry& entry : txtFuction)
    if (entry.highlighted) return Trim(entry.text);
  return {};
}

void Station::OperationDriver() {
  ++runDepth_;
  ++RunsStarted;
  LastRun = {};
  portLost_ = false;
  BeginVerdict();
  const bool english = UseEnglish;
  textMsg.Replace(std::string(kConnecting.Pick(english)) + kLineBreak);
  link.StopRequested = false;
  comStop_Download.enabled = true;
  comDownload.enabled = false;

  if (!link.OpenPort(combCommPort.index + 1, ParseBaud(Combo1.Text()))) {
    const std::string cause = OpenFailureCause();
    LastRun.reason = PortOpenReason();
    BeepThrice();
    textMsg.Append(std::string(kLineBreak) + kLineBreak + kOpenFailed.Pick(english) + cause);
    textMsg.MoveCaretToEnd();
  } else {
    link.ConfigurePort();
    link.RxCount = 0;
    link.ReplyComplete = false;
    if (link.ConnectWriter(kHandshakeTimeoutMs, kHandshakeWriter) < 0) {
      const std::string port = PortText();
      LastRun.reason = {
          "The writer did not answer on " + port + ": check the cable and the writer's power.",
          "编程器在 " + port + " 上没有应答: 请检查电缆和编程器电源。"};
      BeepThrice();
      textMsg.Append(std::string(kLineBreak) + kPowerOn.Pick(english));
    } else {
      LastRun.connected = true;
      LastRun.function = SelectedFunction();
      labKbyte.caption.clear();
      ProgressBar1.value = ProgressBar1.minimum;
      LastRun.result = RunOperation(LastRun.function);
    }
  }
  if (portLost_) {
    // The operation ended quietly, as after Stop: this line says why.
    if (LastRun.connected) BeepThrice();
    LastRun.portLost = true;
    ReportPortLost();
  }

  link.ClosePort();
  link.RestoreDefaultTimeouts();
  comDownload.enabled = true;
  comStop_Download.enabled = false;
  FinishVerdict();
  --runDepth_;
  if (onRunFinished) onRunFinished();
}

std::optional<std::int16_t> Station::RunOperation(const std::string& name) {
  CurrentOperation = name;
  if (name == "Read MCU ID") {
    ReadIdentity(operations_, false);
    const std::int16_t result = ReadIdentity(operations_, true);
    if (result != -1) LastRun.identity = ReplyIdentity();
    return result;
  }
  if (name == "Erase MCU") return EraseChip(operations_, true);
  if (name == "Check MCU Empty") return CheckEmptyOperation();
  if (name == "Program File" || name == "Verify Program") {
    const std::int16_t result = name == "Program File"
                                    ? ProgramFile(true)
                                    : Programmer.VerifyReadBack(CurrentRange(), true);
    platform_.beeper.Beep();
    return result;
  }
  if (name == "Program Option") return ProgramOptions();
  if (name == "Read Option") return ReadOptions(true);
  if (name == "Read EEPROM") return ReadEeprom();
  if (name == "Auto Program") return RunAutoSequence();
  return std::nullopt;
}

void Station::StopRun() {
  textMsg.Append(std::string(kLineBreak) + kStopped);
  textMsg.MoveCaretToLastLineStart();
  UnlockSettings();
  comDownload.enabled = true;
  comStop_Download.enabled = false;
  link.StopRequested = true;
  // Sent without waiting: the run in progress ends at its next wait.
  link.SendCommand(command::kStop, link.ReplyTimeoutMs, 0);
  platform_.port.ClearInput();
  platform_.port.ClearOutput();
  link.ClosePort();
  RepeatStop = true;
}

std::string Station::OpenFailureCause() const {
  const std::string line = OpenFailureLine(platform_.port.LastOpenFailure(), UseEnglish);
  return line.empty() ? line : kLineBreak + line;
}

void Station::OnPortLost() {
  // Between runs the port is closed and there is nothing to lose.
  if (runDepth_ == 0) return;
  portLost_ = true;
  // The run ends at its next wait, as after Stop; there is no writer left to send the stop to.
  link.StopRequested = true;
}

void Station::ReportPortLost() {
  textMsg.Append(kLineBreak + std::string(kPortLost.Pick(UseEnglish)));
  textMsg.MoveCaretToEnd();
}

void Station::DeferredSave() {
  timer3_->SetEnabled(false);
  SaveSettings();
  SayStoreProblemOnce();
  if (FitCheckDue) FitCheck();
  FitCheckDue = true;
}

void Station::OnIspSizeChange() {
  if (!Combo2.enabled) return;
  timer3_->SetEnabled(true);
}

void Station::OnFillByteClick(int index) {
  if (index < 0 || index > 1 || !optFillbyte.enabled) return;
  optFillbyte.selected = index;
  timer3_->SetEnabled(true);
}

void Station::WaitMs(int milliseconds) {
  timer10_->SetInterval(milliseconds);
  timer10_->SetEnabled(true);
  while (timer10_->Enabled()) platform_.pump.WaitForEvents();
}

void Station::BeepThrice() {
  for (int i = 0; i < 3; ++i) {
    platform_.beeper.Beep();
    timerBeep_->SetEnabled(true);
    while (timerBeep_->Enabled()) platform_.pump.WaitForEvents();
  }
}

}  // namespace kvr
