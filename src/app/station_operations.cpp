// The device operations behind the function list: program, the empty check, the options and
// the data EEPROM read, with what they do to the window around them.

#include <filesystem>

#include "app/station.h"
#include "operations/erase_blank.h"

namespace kvr {

namespace {

constexpr Wording kOpenFileFirst{"Please open file.", "    Please open file./请打开文件。   "};
constexpr Wording kFileMissing{"Can not find the file.", "Can not find the file./找不到文件"};
constexpr Wording kProgramming{"Programming ...", "正在编程 ..."};
constexpr Wording kProgramOk{"Program OK!", "编程 OK!"};
constexpr Wording kProgramFailed{"Program failed!", "编程失败!"};
constexpr Wording kReadIsFF{"Read is FFH all.", "读出全部为FFH，空片或未放MCU"};
constexpr Wording kNotEmpty{"MCU is not empty.", "MCU 不是空片, 未被全擦除"};
constexpr Wording kEmpty{"MCU is empty，read is FFH all.", "MCU 是空片，全片内容为 FFH"};
constexpr Wording kEepromOk{"Read EEPROM OK!", "读 EEPROM OK!"};
constexpr Wording kEepromFailed{"Read EEPROM failed!", "读 EEPROM 失败!"};
constexpr Wording kSerialInvalid{
    "Enable Auto_Increase is ticked but its settings are not valid: nothing was programmed.",
    "已勾选自动增量，但其设置无效：未进行编程。"};
constexpr Wording kReadFromChip{"File: read from the chip", "File: 从芯片读出"};

constexpr std::int32_t kEepromEnd = 0xFFFF;
constexpr std::int32_t kEepromRead = 128;
constexpr int kEepromAttempts = 6;
constexpr int kEepromRedrawPosition = 20;

}  // namespace

void Station::CopyViewToOverlay() {
  txtBuffer2.text = txtBuffer.text;
  txtBuffer2.selStart = txtBuffer.selStart;
  txtBuffer2.selLength = txtBuffer.selLength;
}

std::int16_t Station::ProgramFile(bool showMessages) {
  if (!FileLoaded) {
    if (IspDemoMode) return 0;
    platform_.dialogs.Information(kOpenFileFirst.Pick(UseEnglish));
    return -1;
  }
  if (cekReloadFile.checked && SingleRun) {
    const std::string path =
        platform_.settings.Read(kApplication, "Settings", "FilePath", ApplicationDirectory);
    std::error_code error;
    if (!std::filesystem::is_regular_file(std::filesystem::u8path(path), error)) {
      platform_.dialogs.Information(kFileMissing.Pick(UseEnglish));
    } else {
      // The fresh image gets its number as the one it replaces would have.
      const bool numbered = cheAuto_Increase.checked;
      LoadedFileName = path;
      Frame7.caption = "File: " + path;
      LoadFile();
      // An aborted load leaves no image: there is nothing to program.
      if (!FileLoaded) return -1;
      // The job's image is the one its checksum names, also when it is read afresh.
      if (Job && path == Job->job.image && LoadedFileCrc32 != Job->job.imageCrc32) {
        platform_.dialogs.Information(ImageChangedText(Job->job, LoadedFileCrc32.value_or(0)));
        return -1;
      }
      if (numbered) {
        cheAuto_Increase.checked = true;
        OnAutoIncreaseClick();
      }
    }
  }
  if (!SerialActive) OnAutoIncreaseClick();
  if (cheAuto_Increase.checked && !SerialActive) {
    // Ticked is a promise of a number: a chip without one is no good chip.
    textMsg.Append(kLineBreak + std::string(kSerialInvalid.Pick(UseEnglish)));
    textMsg.MoveCaretToEnd();
    return -1;
  }
  // The chip's number is reserved right before the first block goes out: a chip that fails
  // before this spends none, and one that fails after it keeps it to itself.
  if (SerialActive && !ReserveSerial()) return -1;
  if (showMessages) textMsg.Append(kProgramming.Pick(UseEnglish));
  ProgressBar1.visible = true;
  labKbyte.visible = true;
  NoteProgrammed(CurrentRange());
  const std::int16_t result = Programmer.WriteProgramRange(CurrentRange());
  if (result == 0) {
    if (showMessages) textMsg.Append(kLineBreak + std::string(kProgramOk.Pick(UseEnglish)));
  } else if (showMessages && !link.StopRequested) {
    textMsg.Append(kLineBreak + std::string(kProgramFailed.Pick(UseEnglish)));
  }
  ProgressBar1.visible = false;
  labKbyte.visible = false;
  return result < 0 ? -1 : 0;
}

std::int16_t Station::OptionBytesDefault(bool refreshReadOut) {
  OptionBytes bytes{};
  // Options that could not be read are no evidence of an empty chip.
  if (kvr::ReadOptions(operations_, false, bytes, txtBuffer) != 0) return -1;
  if (bytes[0] == 0xFF && (bytes[1] & 0x04) != 0) return 0;
  textMsg.AppendLineBreak();
  OptionReport(operations_, bytes, txtBuffer);
  CopyViewToOverlay();
  if (refreshReadOut) {
    ShowReadOptions(operations_, *this, bytes);
    readOut_ = bytes;
  }
  return -2;
}

std::int16_t Station::CheckEmpty(bool refreshReadOut) {
  const std::int16_t blank = BlankCheck(operations_, true);
  if (link.StopRequested) return -1;
  const std::int16_t options = OptionBytesDefault(refreshReadOut);
  if (link.StopRequested) return -1;
  // The blank check reports its own failure.
  if (options == -1 && blank != -1)
    textMsg.Append(kLineBreak + std::string(kCheckEmptyFailed.Pick(UseEnglish)));
  if (blank == -1 || options == -1) return -1;
  return blank == 0 && options == 0 ? 0 : -2;
}

std::int16_t Station::CheckEmptyOperation() {
  const std::int16_t result = CheckEmpty(false);
  // A stopped check has no verdict.
  if (link.StopRequested) return -1;
  if (result == 0) {
    textMsg.Append(kLineBreak + std::string(kReadIsFF.Pick(UseEnglish)));
    BeepThrice();
    return 0;
  }
  textMsg.Append(kLineBreak + std::string(kNotEmpty.Pick(UseEnglish)));
  return result;
}

std::int16_t Station::CheckEmptyStep() {
  const std::int16_t result = CheckEmpty(true);
  if (!link.StopRequested) {
    const std::size_t before = textMsg.Text().size();
    textMsg.Append(kLineBreak + std::string((result == 0 ? kEmpty : kNotEmpty).Pick(UseEnglish)));
    textMsg.SetCaret(before);
  }
  link.RestoreDefaultTimeouts();
  return result == 0 ? 0 : -1;
}

std::int16_t Station::ReadOptions(bool showMessages) {
  OptionBytes bytes{};
  const std::int16_t result = kvr::ReadOptions(operations_, showMessages, bytes, txtBuffer);
  if (result != 0) return result;
  if (showMessages) CopyViewToOverlay();
  // The read-back labels show what was read; the log says it already.
  ShowReadOutLabels(*this, bytes, SelectedDevice.DeviceClassCode, UseEnglish);
  readOut_ = bytes;
  return result;
}

std::int16_t Station::ProgramOptions() {
  // The serial number moved on when programming reserved it: the options have no part in it.
  // A failure shows the chip's last answer on the read-back labels, kept for a change of
  // language like a read.
  return kvr::ProgramOptions(operations_, *this, readOut_);
}

std::int16_t Station::ReadEeprom() {
  DataEnd = kEepromEnd;
  ClearBuffer(0xFF);
  // From here on the buffer holds the chip's bytes, not the file's: the caption, the checksum
  // and a later run's record say so.
  BufferReadFromChip = true;
  Frame7.caption = kReadFromChip.Pick(UseEnglish);
  ProgressDisplay progress{ProgressBar1, labKbyte};
  progress.Show(0, DataEnd);
  ProgressBar1.value = 0;
  VScroll1.maximum = std::max(DataEnd / 16 - 3, VScroll1.minimum);

  std::int16_t result = 0;
  int reads = 0;
  for (std::int32_t address = 0; address <= DataEnd - (kEepromRead - 1); address += kEepromRead) {
    bool read = false;
    for (int attempt = 0; attempt < kEepromAttempts && !read && !link.StopRequested; ++attempt)
      read = Programmer.ReadRange(address, kEepromRead, true);
    if (!read) {
      if (!link.StopRequested)
        textMsg.Append(kLineBreak + std::string(kEepromFailed.Pick(UseEnglish)));
      result = -1;
      break;
    }
    ++reads;
    labKbyte.caption = SizeText(reads, 8);
    progress.Set(address);
  }
  progress.Hide();
  if (result == 0) {
    ProgramStart = 0;
    ProgramEnd = DataEnd;
    textMsg.Append(kLineBreak + std::string(kEepromOk.Pick(UseEnglish)));
  } else {
    // Part of a chip and part of the fill is no image to program.
    FileLoaded = false;
  }
  FileChecksum = 0;
  for (std::int32_t a = 0; a <= kEepromEnd; ++a) FileChecksum += ImageBuffer.Get(a);
  ShowFileChecksum();
  VScroll1.value = std::min(kEepromRedrawPosition, VScroll1.maximum);
  OnScrollChange();
  VScroll1.value = 0;
  OnScrollChange();
  return result;
}

}  // namespace kvr
