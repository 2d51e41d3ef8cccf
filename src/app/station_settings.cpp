// Start-up, the persisted settings, the deferred save and closing.

#include <charconv>

#include "app/station.h"

#include <algorithm>

#include "app/captions.h"

namespace kvr {

namespace {

constexpr const char* kSettings = "Settings";
constexpr const char* kAutoKeyPrefix = "Auto_VXA_";
// The production report's file and format.
constexpr const char* kReportKey = "Production_Report";
constexpr const char* kReportFormatKey = "Production_Report_Format";
// The line database's URL (never with a password in it).
constexpr const char* kLineDatabaseKey = "Line_Database";
constexpr const char* kCsv = "csv";
constexpr const char* kJsonLines = "jsonl";
// The window's language ("en" or "zh"), its own state and the files opened last.
constexpr const char* kLanguageKey = "Language";
constexpr const char* kWindowSection = "Window";
constexpr const char* kRecentSection = "Recent_Files";

// The settings file cannot be used: said once at start-up.
constexpr Wording kSettingsUnusable{
    "The settings file cannot be used: {}. The station starts with its defaults and stores "
    "nothing.",
    "设置文件无法使用：{}。本站以默认设置启动，不保存任何设置。"};

constexpr Wording kSettingsNotStored{"The settings could not be stored: ", "设置无法保存："};

// The steps the automatic sequence can hold, in the order of the available list.
constexpr std::array<const char*, 7> kStepNames = {
    "Erase MCU",      "Read MCU ID",    "Check MCU Empty", "Program File",
    "Verify Program", "Program Option", "Read Option"};

// A stored list index, or nothing when the text is no index of this list: the control then
// keeps what it has.
std::optional<int> StoredIndex(const std::string& text, const ListControl& list) {
  const std::string trimmed = Trim(text);
  int index = -1;
  const auto [end, error] = std::from_chars(trimmed.data(), trimmed.data() + trimmed.size(), index);
  if (error != std::errc() || end != trimmed.data() + trimmed.size() || trimmed.empty())
    return std::nullopt;
  if (index < 0 || index >= static_cast<int>(list.entries.size())) return std::nullopt;
  return index;
}

void LoadIndex(ListControl& list, const std::string& text) {
  if (const auto index = StoredIndex(text, list)) list.index = *index;
}

const char* TrueFalse(bool value) {
  return value ? "True" : "False";
}

}  // namespace

std::string Station::ReadSetting(const char* key, const std::string& defaultValue) {
  return platform_.settings.Read(kApplication, kSettings, key, defaultValue);
}

void Station::WriteSetting(const char* key, const std::string& value) {
  platform_.settings.Write(kApplication, kSettings, key, value);
}

std::optional<std::string> Station::UpdateSetting(const char* key,
                                                  const SettingsStore::Change& change) {
  return platform_.settings.Update(kApplication, kSettings, key, change);
}

void Station::FormLoad() {
  ApplyCaptions();
  SelectedDevice.ShowExtraFamilies = false;
  link.UseCrc16 = false;
  BuildDeviceTree();
  LoadSettings();
  LoadRecentFiles();
  // The region display follows the restored model at once: a file opened before the first
  // deferred save must meet the model's limits.
  RegionUpdate();
  OnTabStrip1Click();
  LoadAutoSequence();
  link.RestoreDefaultTimeouts();
  SerialActive = false;
  LoadSerialSettings();
  LoadLine();
  OnAutoIncreaseClick();
  comStoreFile.enabled = false;
  ResetBuffer(0x00);
  for (std::size_t i = 0; i < 7; ++i) txtFuction[i + 1].text = txtAuto[i].text;
  txtFuction[0].text = "Auto Program";
  txtFuction[8].text = "Read EEPROM";
  SaveAutoSequence();
  EditPermission = false;
  FitCheckDue = true;
  EnableIspDemoPins();
  OnTabStrip2Click();
  if (const std::string problem = platform_.settings.Problem(kApplication); !problem.empty()) {
    std::string text = kSettingsUnusable.Pick(UseEnglish);
    text.replace(text.find("{}"), 2, problem);
    platform_.dialogs.Information(text);
    storeProblemSaid_ = true;
  }
}

void Station::SayStoreProblemOnce() {
  if (storeProblemSaid_) return;
  const std::string error = platform_.settings.LastError();
  if (error.empty()) return;
  // Once: every later save would only say it again.
  storeProblemSaid_ = true;
  platform_.dialogs.Information(kSettingsNotStored.Pick(UseEnglish) + error);
}

void Station::ApplyCaptions() {
  const bool english = UseEnglish;
  auto pick = [english](const char* inEnglish, const char* inChinese) {
    return english ? inEnglish : inChinese;
  };
  Captions = WindowCaptions(english);
  comLoadFile.caption = pick("Open file", "打开文件");
  framStep.caption = pick("Program", "Program / 编程");
  comDownload.caption = pick("Program", "编程");
  comReDownload.caption = pick("Program repeat", "重复编程");
  comStop_Download.caption = pick("Stop", "停止");
  Check6.caption = pick("Clear the file buffer when open the file", "打开文件时清空缓冲区");
  cekReloadFile.caption = pick("Reopen file every time", "每次编程时重新打开文件");
  comAuto[0].caption = pick("Append -->", "添加 -->");
  comAuto[1].caption = pick("<-- Delete", "<-- 删除");
  comAuto[2].caption = pick("Delete All", "全部删除");
  for (std::size_t i = 0; i < kStepNames.size(); ++i) txtAuto[i].text = kStepNames[i];
  cheAuto_Increase.caption = pick("Enable Auto_Increase", "允许自动增量");
  optAuto_Increase.captions = {pick("HEX", "十六进制"), pick("DEC", "十进制"),
                               pick("ASCII", "ASCII码")};
  optBeepYes.caption = pick("Yes", "是");
  optBeepNo.caption = pick("No", "否");
  comClearOkCount.caption = pick("Clear", "清零");
  comStoreFile.caption = pick("Store File", "Store File/存文件");
  comTJXZ.caption = pick("Download to the offline board", "下载到脱机烧录板");
  comTJSL_disp.caption = pick("LED legend", "LED 显示说明");
  ApplyIspDemoCaptions();
  const auto tabs = std::to_array<std::pair<const char*, Wording>>(
      {{"MCU_type", {"MCU-Option", "MCU 选项"}},
       {"COMM_port_baud", {"COM-Baud", "串口-波特率"}},
       {"Set_Auto", {"Set_Auto", "设置自动"}},
       {"Write_Option", {"Write_Option", "写选项"}},
       {"auto_increase", {"Auto_Increase", "自动增量"}},
       {"save_file", {"Save_file", "存文件"}}});
  for (const auto& [key, caption] : tabs)
    for (TabStrip* strip : {&TabStrip1, &TabStrip2})
      if (Tab* tab = strip->Find(key)) tab->caption = caption.Pick(english);
}

void Station::SetLanguage(bool english) {
  if (RunInProgress()) return;
  UseEnglish = english;
  ApplyCaptions();
  CaptionOptionPanel(*this, SelectedDevice.DeviceClassCode, english);
  // Labels still waiting for a read are worded again; labels showing a read are so when the
  // station knows what they show.
  const std::string& first = read_Option[0].caption;
  if (readOut_)
    ShowReadOutLabels(*this, *readOut_, SelectedDevice.DeviceClassCode, english);
  else if (first.ends_with(": Unknown") || first.ends_with(": 未知"))
    ResetReadBack(*this, SelectedDevice.DeviceClassCode, english);
  UpdateOptionalTabs(lastSelectionByTree_);
  ShowProgramFrameCaption();
  WriteSetting(kLanguageKey, english ? "en" : "zh");
}

bool StoredLanguageIsEnglish(SettingsStore& settings) {
  return settings.Read(Station::kApplication, kSettings, kLanguageKey, "en") != "zh";
}

std::string Station::ReadWindowSetting(const std::string& key) {
  return platform_.settings.Read(kApplication, kWindowSection, key, "");
}

void Station::WriteWindowSetting(const std::string& key, const std::string& value) {
  platform_.settings.Write(kApplication, kWindowSection, key, value);
}

void Station::StorePortTarget(int number, const std::string& path) {
  platform_.settings.Write(kApplication, "Ports", "COM" + std::to_string(number), path);
}

void Station::UsePortForThisSession(int index) {
  if (index < 0 || index >= static_cast<int>(combCommPort.entries.size())) return;
  combCommPort.index = index;
  sessionPort_ = index;
  ShowProgramFrameCaption();
}

void Station::ShowProgramFrameCaption() {
  const std::string port =
      "( COM" + std::to_string(combCommPort.index + 1) + ", " + Combo1.Text() + " )";
  framStep.caption = UseEnglish ? "Program " + port : "Program / 编程 " + port;
}

void Station::LoadRecentFiles() {
  RecentFiles.clear();
  for (std::size_t i = 1; i <= kRecentFiles; ++i) {
    const std::string path =
        platform_.settings.Read(kApplication, kRecentSection, "File" + std::to_string(i), "");
    if (!path.empty()) RecentFiles.push_back(path);
  }
}

void Station::RememberRecentFile(const std::string& path) {
  std::erase(RecentFiles, path);
  RecentFiles.insert(RecentFiles.begin(), path);
  if (RecentFiles.size() > kRecentFiles) RecentFiles.resize(kRecentFiles);
  for (std::size_t i = 0; i < kRecentFiles; ++i)
    platform_.settings.Write(kApplication, kRecentSection, "File" + std::to_string(i + 1),
                             i < RecentFiles.size() ? RecentFiles[i] : "");
}

void Station::LoadSettings() {
  RestoreModel(ReadSetting("DeviceProducts", kFallbackModel));
  LoadIndex(Combo2, ReadSetting("ISP_Space", "3"));
  OnIspSizeChange();
  // "FilePath" is read by the file dialogs when they open.
  optFillbyte.selected = Trim(ReadSetting("fillbyte", "00")) == "00" ? 1 : 0;
  storedPort_ = ReadSetting("COM_port", "0");
  LoadIndex(combCommPort, storedPort_);
  LoadIndex(Combo1, ReadSetting("Baud", "0"));
  const bool beep = ReadSetting("BeepYesNo", "True") == "True";
  optBeepYes.checked = beep;
  optBeepNo.checked = !beep;
  LoadIndex(comDalay_ReDownLoad, ReadSetting("Dalay_ReDownLoad", "4"));
  LoadIspDemoSettings();
  txtWrite_OK_Count.text = storedOkCount_ = ReadSetting("Write_OK_Count", "0");
  LoadIndex(comWDT_Prescalar, ReadSetting("WDT_Prescalar", "6"));
  txtReportFile.text = ReadSetting(kReportKey, "");
  optReportFormat.selected = ReadSetting(kReportFormatKey, kCsv) == kJsonLines ? 1 : 0;
  storedLineDatabase_ = ReadSetting(kLineDatabaseKey, "");
  txtLineDatabase.text = lineChoice_.database.value_or(storedLineDatabase_);
}

void Station::SaveSettings() {
  if (treeDevice.selectedKey.empty() || treeDevice.selectedKey.rfind(kFamilyKeyPrefix, 0) == 0)
    treeDevice.selectedKey = kFallbackModel;
  WriteSetting("DeviceProducts", treeDevice.selectedKey);
  if (Combo2.index < 0) Combo2.index = 3;
  if (combCommPort.index < 0) combCommPort.index = 0;
  if (Combo1.index < 0) Combo1.index = 0;

  // A port chosen for this session only leaves the operator's choice stored.
  if (!sessionPort_ || *sessionPort_ != combCommPort.index)
    storedPort_ = std::to_string(combCommPort.index);
  WriteSetting("COM_port", storedPort_);
  ShowProgramFrameCaption();

  WriteSetting("fillbyte", optFillbyte.selected == 0 ? "FF" : "00");
  WriteSetting("Baud", std::to_string(Combo1.index));
  WriteSetting("BeepYesNo", TrueFalse(optBeepYes.checked));
  WriteSetting("Dalay_ReDownLoad", std::to_string(comDalay_ReDownLoad.index));
  SaveIspDemoSettings();
  SaveOkCount(txtWrite_OK_Count.text);
  WriteSetting("WDT_Prescalar", std::to_string(comWDT_Prescalar.index));
  WriteSetting(kReportKey, Trim(txtReportFile.text));
  WriteSetting(kReportFormatKey, optReportFormat.selected == 1 ? kJsonLines : kCsv);
  // A line database given at the start is this session's: the stored one stays. Nor is a URL
  // with a password stored, even one still being typed.
  if (const std::string url = Trim(txtLineDatabase.text);
      !lineChoice_.database && !LineUrlHoldsPassword(url))
    storedLineDatabase_ = url;
  WriteSetting(kLineDatabaseKey, storedLineDatabase_);
  RegionUpdate();
}

void Station::LoadIspDemoSettings() {
  ListControl crystal{comb_oscillate_frequency.entries, comb_oscillate_frequency.index};
  LoadIndex(crystal, ReadSetting("ISP_DEMO_oscillate_frequency", "3"));
  if (crystal.index >= 0) {
    comb_oscillate_frequency.index = crystal.index;
    comb_oscillate_frequency.text = crystal.Text();
  }
  LoadIndex(comb_ISP_buad, ReadSetting("ISP_DEMO_ISP_buad", "6"));
  auto loadPair = [this](OptionPair& pair, const char* key) {
    pair.selected = ReadSetting(key, "True") == "True" ? 0 : 1;
  };
  loadPair(opt_ISP_DEMO_parity, "ISP_DEMO_parity");
  loadPair(optISP_DEMO_erase_data, "ISP_DEMO_erase_data");
  loadPair(opt_ISP_DEMO_WDT, "ISP_DEMO_WDT");
  LoadIndex(comb_ISP_DEMO_WDT[0], ReadSetting("ISP_DEMO_WDT_port", "1"));
  LoadIndex(comb_ISP_DEMO_WDT[1], ReadSetting("ISP_DEMO_WDT_port_bit", "0"));
  loadPair(opt_485_pin, "ISP_DEMO_have_485_pin");
  LoadIndex(comb_485_pin[0], ReadSetting("ISP_DEMO_485_port", "1"));
  LoadIndex(comb_485_pin[1], ReadSetting("ISP_DEMO_485_port_bit", "1"));
  // Choosing the two entries shows their baud-rate error, as a click on them would.
  BaudReload();
}

void Station::SaveIspDemoSettings() {
  WriteSetting("ISP_DEMO_oscillate_frequency", std::to_string(comb_oscillate_frequency.index));
  WriteSetting("ISP_DEMO_ISP_buad", std::to_string(comb_ISP_buad.index));
  WriteSetting("ISP_DEMO_parity", TrueFalse(opt_ISP_DEMO_parity.selected == 0));
  WriteSetting("ISP_DEMO_erase_data", TrueFalse(optISP_DEMO_erase_data.selected == 0));
  WriteSetting("ISP_DEMO_WDT", TrueFalse(opt_ISP_DEMO_WDT.selected == 0));
  WriteSetting("ISP_DEMO_WDT_port", std::to_string(comb_ISP_DEMO_WDT[0].index));
  WriteSetting("ISP_DEMO_WDT_port_bit", std::to_string(comb_ISP_DEMO_WDT[1].index));
  WriteSetting("ISP_DEMO_have_485_pin", TrueFalse(opt_485_pin.selected == 0));
  WriteSetting("ISP_DEMO_485_port", std::to_string(comb_485_pin[0].index));
  WriteSetting("ISP_DEMO_485_port_bit", std::to_string(comb_485_pin[1].index));
}

void Station::LoadAutoSequence() {
  for (int slot = kFirstSequenceSlot; slot < kAutoSlots; ++slot) {
    const std::string key = kAutoKeyPrefix + std::to_string(slot);
    // Sequences stored under the older names run as they always did. A name no step has is
    // kept and shown: the run fails at it and says so, rather than counting chips good that
    // missed the steps after it.
    txtAuto[static_cast<std::size_t>(slot)].text = CurrentStepName(ReadSetting(key.c_str(), ""));
  }
}

void Station::SaveAutoSequence() {
  for (int slot = kFirstSequenceSlot; slot < kAutoSlots; ++slot) {
    const std::string key = kAutoKeyPrefix + std::to_string(slot);
    WriteSetting(key.c_str(), Trim(txtAuto[static_cast<std::size_t>(slot)].text));
  }
}

void Station::OnTabStrip1Click() {
  if (TabStrip1.selected < 0 || TabStrip1.selected >= static_cast<int>(TabStrip1.tabs.size()))
    TabStrip1.selected = 0;
}

void Station::OnPortChange(int index) {
  if (!combCommPort.enabled || index < 0 || index >= static_cast<int>(combCommPort.entries.size()))
    return;
  combCommPort.index = index;
  sessionPort_.reset();
  FitCheckDue = false;
  timer3_->SetEnabled(true);
}

void Station::OnBaudClick(int index) {
  if (!Combo1.enabled || index < 0 || index >= static_cast<int>(Combo1.entries.size())) return;
  Combo1.index = index;
  FitCheckDue = false;
  timer3_->SetEnabled(true);
}

void Station::OnBeepClick(bool yes) {
  optBeepYes.checked = yes;
  optBeepNo.checked = !yes;
  FitCheckDue = false;
  timer3_->SetEnabled(true);
}

void Station::OnRepeatDelayChange(int index) {
  if (index < 0 || index >= static_cast<int>(comDalay_ReDownLoad.entries.size()) ||
      !comDalay_ReDownLoad.enabled)
    return;
  comDalay_ReDownLoad.index = index;
  FitCheckDue = false;
  timer3_->SetEnabled(true);
}

void Station::OnWdtPrescalarChange(int index) {
  if (index < 0 || index >= static_cast<int>(comWDT_Prescalar.entries.size())) return;
  comWDT_Prescalar.index = index;
  timer3_->SetEnabled(true);
}

void Station::OnReloadFileClick(bool checked) {
  cekReloadFile.checked = checked;
  FitCheckDue = false;
}

void Station::QueryUnload() {
  Closing = true;
  if (RunInProgress() && !link.StopRequested) StopRun();
  FitCheckDue = false;
  timer3_->SetInterval(link.Timer1().Interval() + 200);
  timer3_->SetEnabled(true);
  while (timer3_->Enabled()) platform_.pump.WaitForEvents();
}

void Station::Unload() {
  for (int i = 0; i < 2; ++i)
    if (platform_.port.IsOpen()) platform_.port.Close();
}

}  // namespace kvr
