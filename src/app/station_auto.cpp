// The automatic sequence, its editing, the good-device count, the repeat mode and the
// production report.

#include <algorithm>
#include <array>
#include <filesystem>

#include "app/station.h"
#include "image/serial_number.h"
#include "operations/erase_blank.h"
#include "operations/identity.h"

namespace kvr {

namespace {

// Blanks after a step's name in its summary line, by sequence slot 8 to 15.
constexpr std::array<int, 8> kWidthsEnglish = {15, 13, 9, 12, 10, 10, 13, 12};
constexpr std::array<int, 8> kWidthsChinese = {15, 14, 15, 11, 11, 12, 14, 12};
constexpr int kAutoPad = 17;

constexpr Wording kFailed{"failed!", "失败!"};
constexpr Wording kAuto{"Auto", "运行自动功能"};
constexpr Wording kClearQuestion{
    " You want to clear the Auto Count(Y/N)? ",
    " You want to clear the Auto Count(Y/N)? \r\n    您要把烧录成功计数清0吗(Y/N)? "};
constexpr Wording kNextRun{"We are going to next ... ", "将自动重复运行 ... "};
constexpr Wording kFailureWord{"failed", "失败"};
constexpr Wording kReportFailed{"The production report could not be written: ",
                                "生产报告无法写入: "};
constexpr Wording kCountNotStored{"The good count could not be stored in the settings file: ",
                                  "合格计数无法保存到设置文件: "};
// What a record names as its image when the buffer holds what "Read EEPROM" read.
constexpr const char* kReadFromChip = "(read from the chip)";

constexpr int kIdentityWaitMs = 800;
constexpr int kPauseAfterFailure = 2;
constexpr int kCountdownStepMs = 1000;
constexpr const char* kAutoProgram = "Auto Program";

// Older names of two steps, still found in stored sequences.
constexpr std::pair<const char*, const char*> kRenamed[] = {
    {"Program MCU option", "Program Option"}, {"Read MCU Option", "Read Option"}};

// Pads to `width` characters; a character of several UTF-8 bytes counts once.
std::string PadTo(const std::string& text, std::size_t width) {
  std::size_t characters = 0;
  for (const char c : text)
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++characters;
  return characters >= width ? text : text + std::string(width - characters, ' ');
}

// The leading decimal digits of the writer version as a number: "13" is 13, "0A" is 0.
int VersionNumber(const std::string& version) {
  int value = 0;
  for (const char c : version) {
    if (c < '0' || c > '9') break;
    value = value * 10 + (c - '0');
  }
  return value;
}

bool PageSumClass(std::int16_t classCode) {
  return classCode == 2 || classCode == 11 || classCode == 12 || classCode == 13;
}

}  // namespace

std::string CurrentStepName(std::string name) {
  for (const auto& [old, now] : kRenamed)
    if (Trim(name) == old) return now;
  return name;
}

void Station::OnAutoSlotClick(int slot) {
  if (slot < 0 || slot >= kAutoSlots) return;
  if (!txtAuto[static_cast<std::size_t>(slot)].enabled) return;
  // One highlight in each half: the steps offered, and the sequence.
  const int first = slot < kFirstSequenceSlot ? 0 : kFirstSequenceSlot;
  const int end = first == 0 ? kFirstSequenceSlot : kAutoSlots;
  for (int i = first; i < end; ++i) txtAuto[static_cast<std::size_t>(i)].highlighted = i == slot;
}

void Station::EditAutoSequence(int button) {
  if (button < 0 || button >= static_cast<int>(comAuto.size()) ||
      !comAuto[static_cast<std::size_t>(button)].enabled)
    return;
  auto slotText = [this](int i) -> std::string& {
    return txtAuto[static_cast<std::size_t>(i)].text;
  };
  auto highlighted = [this](int from, int to) {
    for (int i = from; i < to; ++i)
      if (txtAuto[static_cast<std::size_t>(i)].highlighted) return i;
    return -1;
  };
  if (button == 0) {
    const int step = highlighted(0, kFirstSequenceSlot);
    if (step < 0 || Trim(slotText(step)).empty()) return;
    for (int slot = kFirstSequenceSlot; slot < kAutoSlots; ++slot) {
      if (!Trim(slotText(slot)).empty()) continue;
      slotText(slot) = slotText(step);
      break;
    }
  } else if (button == 1) {
    const int removed = highlighted(kFirstSequenceSlot, kAutoSlots);
    if (removed < 0) return;
    txtAuto[static_cast<std::size_t>(removed)].highlighted = false;
    for (int slot = removed; slot + 1 < kAutoSlots; ++slot) slotText(slot) = slotText(slot + 1);
    slotText(kAutoSlots - 1).clear();
  } else if (button == 2) {
    for (int slot = kFirstSequenceSlot; slot < kAutoSlots; ++slot) {
      slotText(slot).clear();
      txtAuto[static_cast<std::size_t>(slot)].highlighted = false;
    }
  } else {
    return;
  }
  SaveAutoSequence();
}

void Station::ClearOkCount() {
  if (ReadNumber(txtWrite_OK_Count.text) > 0 &&
      platform_.dialogs.Question(kClearQuestion.Pick(UseEnglish)))
    txtWrite_OK_Count.text = "0";
  SaveOkCount(Trim(txtWrite_OK_Count.text));
}

void Station::SaveOkCount(const std::string& count) {
  // Other stations on the store count their chips into it too: what they counted since this
  // station read it stands, unless the count was changed here (cleared) meanwhile.
  const bool changedHere = Trim(count) != Trim(storedOkCount_);
  if (LineInUse()) {
    if (changedHere) SaveCountToLine(count);
    return;
  }
  const std::optional<std::string> stored = UpdateSetting(
      "Write_OK_Count",
      [&](const std::string& current) { return changedHere || current.empty() ? count : current; });
  if (!stored) return;
  storedOkCount_ = *stored;
  if (Trim(*stored) != Trim(count)) txtWrite_OK_Count.text = *stored;
}

void Station::CountGoodChip(ProductionRecord& record) {
  if (LineInUse()) {
    // Counted with its record in the line database before the run said OK.
    ShowStoredCount();
    record.goodCount = Trim(txtWrite_OK_Count.text);
    WriteReport(record);
    return;
  }
  // The report's turn comes before the count's: nothing that may wait for another process runs
  // while the settings are locked, and every station takes the two in this order.
  const std::unique_ptr<ReportFile> report = OpenReport(record);
  std::optional<std::string> reportError;
  bool reported = false;
  const std::optional<std::string> stored =
      UpdateSetting("Write_OK_Count", [&](const std::string& current) {
        record.goodCount =
            std::to_string(ReadNumber(current.empty() ? txtWrite_OK_Count.text : current) + 1);
        // The record reaches the disk before the count does: a station cut off in between
        // leaves a good chip in the report that the count misses, never a count beyond the
        // good chips, and with several stations the record carries the count exactly.
        if (report) reportError = report->Append(record);
        reported = true;
        return record.goodCount;
      });
  LastCountError.clear();
  if (stored) {
    txtWrite_OK_Count.text = storedOkCount_ = *stored;
  } else {
    txtWrite_OK_Count.text = std::to_string(ReadNumber(txtWrite_OK_Count.text) + 1);
    const std::string why = platform_.settings.LastError();
    LastCountError = why.empty() ? "the settings store takes no changes" : why;
    textMsg.Append(kLineBreak + (kCountNotStored.Pick(UseEnglish) + LastCountError));
    textMsg.MoveCaretToEnd();
  }
  if (!reported) {
    record.goodCount = Trim(txtWrite_OK_Count.text);
    if (report) reportError = report->Append(record);
  }
  NoteReportError(reportError);
}

void Station::ShowStoredCount() {
  if (LineInUse()) {
    if (lineAfterRun_)
      txtWrite_OK_Count.text = storedOkCount_ = std::to_string(lineAfterRun_->goodCount);
    return;
  }
  txtWrite_OK_Count.text = storedOkCount_ = ReadSetting("Write_OK_Count", storedOkCount_);
}

std::int16_t Station::ProgramFileStep() {
  return ProgramFile(true);
}

std::int16_t Station::VerifyProgramStep() {
  const std::int16_t classCode = SelectedDevice.DeviceClassCode;
  ProgramRange range = CurrentRange();
  // The demo alone: its kilobyte at the top of the ISP area.
  if (!FileLoaded && IspDemoMode)
    range = {SelectedDevice.IspEnd - 1023, SelectedDevice.IspEnd, SelectedDevice.IspEnd};
  if (PageSumClass(classCode) && VersionNumber(link.WriterVersion) >= 13)
    return Programmer.VerifyBySums(range.start, range.end, true);
  // Every other chip is read back: a chip that was never checked must not count as good.
  return Programmer.VerifyReadBack(range, true);
}

std::int16_t Station::RunAutoStep(const std::string& name) {
  CurrentOperation = name;
  std::int16_t result = -1;
  if (name == "Read MCU ID") {
    WaitMs(kIdentityWaitMs);
    ReadIdentity(operations_, false);
    result = ReadIdentity(operations_, true);
    if (result != -1) {
      autoRun_.identity = ReplyIdentity();
    }
  } else if (name == "Erase MCU") {
    result = EraseChip(operations_, true);
  } else if (name == "Check MCU Empty") {
    result = CheckEmptyStep();
  } else if (name == "Program File") {
    result = IspDemoMode ? ProgramIspDemoStep() : ProgramFileStep();
  } else if (name == "Verify Program") {
    result = VerifyProgramStep();
  } else if (name == "Program Option") {
    result = IspDemoMode ? 0 : ProgramOptions();
  } else if (name == "Read Option") {
    result = ReadOptions(false);
  }
  link.RestoreDefaultTimeouts();
  return result;
}

std::int16_t Station::RunAutoSequence() {
  WallClock& clock = Clock();
  autoRun_ = {};
  autoRun_.active = true;
  lineAfterRun_.reset();
  LastLineError.clear();
  ProductionRecord record;
  record.epochMicros = clock.EpochMicros();
  record.utcOffsetMinutes = clock.UtcOffsetMinutes(record.epochMicros);
  const std::int64_t started = clock.MonotonicMicros();
  const bool english = UseEnglish;
  const auto& widths = english ? kWidthsEnglish : kWidthsChinese;

  // The sequence as it stands now: an edit during the run does not change this chip's steps.
  std::vector<std::pair<int, std::string>> steps;
  for (int slot = kFirstSequenceSlot; slot < kAutoSlots; ++slot) {
    std::string& text = txtAuto[static_cast<std::size_t>(slot)].text;
    if (Trim(text).empty()) continue;
    text = CurrentStepName(text);
    steps.emplace_back(slot, Trim(text));
  }

  std::int16_t result = 0;
  for (const auto& [slot, name] : steps) {
    const std::string remembered = textMsg.Text();
    textMsg.AppendLineBreak();
    const std::int64_t stepStarted = clock.MonotonicMicros();
    const std::int16_t stepResult = RunAutoStep(name);
    const bool good = stepResult == 0;
    record.steps.push_back({name, clock.MonotonicMicros() - stepStarted, good});
    const auto width = static_cast<std::size_t>(widths[static_cast<std::size_t>(slot - 8)]);
    if (good) {
      textMsg.Replace(remembered + name + std::string(width, ' ') + " OK!" + kLineBreak);
      textMsg.MoveCaretToEnd();
      continue;
    }
    result = -1;
    record.failedStep = LastRun.failedStep = name;
    autoRun_.failedResult = stepResult;
    // A stopped run keeps what the operator saw, the stop message last.
    if (link.StopRequested) break;
    autoRun_.failedMessages =
        textMsg.Text().substr(std::min(remembered.size(), textMsg.Text().size()));
    BeepThrice();
    textMsg.Replace(remembered);
    textMsg.Append(kLineBreak + name + std::string(std::min<std::size_t>(width, 20), ' ') +
                   kFailed.Pick(english) + kLineBreak + kLineBreak +
                   PadTo(kAuto.Pick(english), kAutoPad) + kFailed.Pick(english));
    textMsg.MoveCaretToEnd();
    break;
  }
  // The record as the run ends; a good chip's is taken when the run is done, before it says OK.
  bool finished = false;
  auto finish = [&](bool good) -> ProductionRecord& {
    if (!finished) {
      finished = true;
      record.totalMicros = clock.MonotonicMicros() - started;
      // A number reserved for a chip that then failed is spent: its record keeps it.
      record.serial = autoRun_.serial;
      record.identity = autoRun_.identity;
      record.image = autoRun_.image;
      record.imageCrc32 = autoRun_.imageCrc32;
      CompleteRecord(record);
    }
    record.good = good;
    // A port that went away stops the run as Stop does, but nobody asked for it.
    record.stopped = !good && link.StopRequested && !portLost_;
    return record;
  };
  if (steps.empty()) {
    // Nothing was done to the chip: it is not a good one.
    result = -1;
    BeepThrice();
    textMsg.Append(kLineBreak + PadTo(kAuto.Pick(english), kAutoPad) + kFailed.Pick(english));
    textMsg.MoveCaretToEnd();
  } else if (result == 0 && LineInUse() && !RecordInLine(finish(true))) {
    // The line has neither its record nor its count: a chip it cannot account for is no good
    // chip, whatever its steps said.
    result = -1;
    record.failedStep = LastRun.failedStep = kLineDatabaseStep;
    autoRun_.failedResult = -1;
    BeepThrice();
    textMsg.Append(kLineBreak + (kLineRecordNotWritten.Pick(english) + LastLineError) + kLineBreak +
                   kLineBreak + PadTo(kAuto.Pick(english), kAutoPad) + kFailed.Pick(english));
    textMsg.MoveCaretToEnd();
  } else if (result == 0) {
    if (optBeepYes.checked) platform_.beeper.Beep();
    textMsg.Append(kLineBreak + PadTo(kAuto.Pick(english), kAutoPad) + " OK!");
    textMsg.MoveCaretToEnd();
  }
  autoRun_.active = false;
  LastRun.serial = autoRun_.serial;
  LastRun.identity = autoRun_.identity;

  finish(result == 0);
  if (record.good) {
    CountGoodChip(record);
  } else {
    if (LineInUse() && record.failedStep != kLineDatabaseStep && !RecordInLine(record)) {
      textMsg.Append(kLineBreak + (kLineRecordNotWritten.Pick(english) + LastLineError));
      textMsg.MoveCaretToEnd();
    }
    ShowStoredCount();
    record.goodCount = Trim(txtWrite_OK_Count.text);
    WriteReport(record);
  }
  ShowStoredNextNumber();
  return result;
}

void Station::CompleteRecord(ProductionRecord& record) const {
  record.host = HostName;
  record.port = PortText();
  record.model = ModelName();
  // The job names the setup only while the controls still hold it.
  if (JobInForce()) {
    record.jobProduct = Job->job.product;
    record.jobCrc32 = Job->fileCrc32;
  }
}

std::unique_ptr<ReportFile> Station::OpenReport(ProductionRecord& record) {
  LastReportError.clear();
  const std::string path = Trim(txtReportFile.text);
  if (path.empty()) return nullptr;
  CompleteRecord(record);
  const ReportFormat format =
      optReportFormat.selected == 1 ? ReportFormat::JsonLines : ReportFormat::Csv;
  return std::make_unique<ReportFile>(path, format);
}

void Station::WriteReport(ProductionRecord& record) {
  if (const std::unique_ptr<ReportFile> report = OpenReport(record))
    NoteReportError(report->Append(record));
}

void Station::NoteReportError(const std::optional<std::string>& error) {
  if (!error) return;
  LastReportError = Trim(txtReportFile.text) + ": " + *error;
  textMsg.Append(kLineBreak + (kReportFailed.Pick(UseEnglish) + LastReportError));
  textMsg.MoveCaretToEnd();
}

void Station::NoteProgrammed(const ProgramRange& range, const std::string& what) {
  if (!autoRun_.active || range.start < 0 || range.end < range.start) return;
  std::string name = what;
  if (name.empty() && BufferReadFromChip) {
    name = kReadFromChip;
  } else if (name.empty() && !LoadedFileName.empty()) {
    std::error_code error;
    const std::filesystem::path file = std::filesystem::u8path(LoadedFileName);
    const std::filesystem::path absolute = std::filesystem::absolute(file, error);
    const std::u8string text = (error ? file : absolute).u8string();
    name.assign(text.begin(), text.end());
  }
  // Several writes of one run (the ISP demo and then the file) make one record: both names, and
  // the CRC carried on over the bytes of each.
  autoRun_.image += (autoRun_.image.empty() ? "" : " + ") + name;
  std::uint32_t crc = autoRun_.imageCrc32.value_or(0);
  for (std::int32_t a = range.start; a <= range.end; ++a) {
    const std::uint8_t byte = ImageBuffer.Get(a);
    crc = Crc32(&byte, 1, crc);
  }
  autoRun_.imageCrc32 = crc;
}

void Station::OnReportFileClick() {
  if (!comReportFile.enabled) return;
  namespace fs = std::filesystem;
  FileDialogRequest request;
  request.title = "Production report";
  request.filters = {{"(*.csv)", "*.csv"}, {"(*.jsonl)", "*.jsonl"}, {"All Files (*.*)", "*.*"}};
  const std::string current = Trim(txtReportFile.text);
  // Records are added to the file: proposing the one in use is right here.
  if (current.empty()) {
    request.initialDirectory = ApplicationDirectory;
  } else {
    const std::u8string folder = fs::u8path(current).parent_path().u8string();
    request.initialDirectory.assign(folder.begin(), folder.end());
  }
  request.initialName = current;
  request.confirmOverwrite = false;
  const std::string chosen = platform_.dialogs.SaveFile(request);
  if (chosen.empty()) return;
  txtReportFile.text = chosen;
  OnReportFileChange();
}

void Station::OnReportFileChange() {
  FitCheckDue = false;
  timer3_->SetEnabled(true);
}

void Station::OnReportFormatClick(int index) {
  if (index < 0 || index > 1 || !optReportFormat.enabled) return;
  optReportFormat.selected = index;
  FitCheckDue = false;
  timer3_->SetEnabled(true);
}

std::string Station::ModelName() const {
  return modelFromList_ ? combMcuModel.Text() : txtDevice.text;
}

int Station::PauseBeforeNextChip(const std::string& function) const {
  if (function == kAutoProgram && textMsg.Contains(kFailureWord.Pick(UseEnglish)))
    return kPauseAfterFailure;
  return static_cast<int>(ReadNumber(comDalay_ReDownLoad.Text()));
}

void Station::CountdownSecond() {
  timer5_->SetInterval(kCountdownStepMs);
  timer5_->SetEnabled(true);
  while (timer5_->Enabled() && !RepeatStop) platform_.pump.WaitForEvents();
  timer5_->SetEnabled(false);
}

void Station::RepeatRun() {
  if (!comReDownload.enabled || RunInProgress()) return;
  comReDownload.enabled = false;
  RepeatStop = false;
  IspDemoMode = false;
  LockSettings();
  repeating_ = true;
  for (;;) {
    const std::string function = SelectedFunction();
    SingleRun = false;
    OperationDriver();
    // No other run may start between two chips.
    comDownload.enabled = false;
    comStop_Download.enabled = true;
    // Stopped while the run was going: with no pause there is no countdown to notice it.
    if (RepeatStop) break;
    for (int n = PauseBeforeNextChip(function); n >= 1 && !RepeatStop; --n) {
      textMsg.Append(kLineBreak + (kNextRun.Pick(UseEnglish) + std::to_string(n)));
      textMsg.MoveCaretToLastLineStart();
      CountdownSecond();
    }
    if (RepeatStop) break;
  }
  repeating_ = false;
  UnlockSettings();
  comDownload.enabled = true;
  comReDownload.enabled = true;
  comStop_Download.enabled = false;
}

}  // namespace kvr
