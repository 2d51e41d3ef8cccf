// The image buffer, its regions, file loading and the .bin export.

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <system_error>

#include "app/station.h"
#include "image/hex_field.h"
#include "image/hex_text.h"
#include "ispdemo/isp_demo_builder.h"
#include "platform/durable_file.h"

namespace kvr {

namespace {

constexpr const char* kSettings = "Settings";
constexpr const char* kFilePathKey = "FilePath";
// The last file the export wrote: its dialog starts in that folder.
constexpr const char* kSavePathKey = "SavePath";
constexpr const char* kLoadReportTitle = "Open HEX file";
constexpr std::int32_t kNoLoadStart = 0x10FFFF;
// Pending events run this often while a file is read: the window stays responsive and the
// loop does not pay for it per byte.
constexpr int kItemsPerEventPass = 64;
constexpr std::size_t kBytesPerEventPass = 4096;

// Upper-case hexadecimal, padded with "0" to `width` digits and cut to its last `width`.
std::string HexDigits(std::int64_t value, int width) {
  char text[24];
  std::snprintf(text, sizeof text, "%016llX",
                static_cast<unsigned long long>(value) & 0xFFFFFFFFFFFFFFFFULL);
  return std::string(text + 16 - width);
}

std::string Upper(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return text;
}

// Paths travel through the station as UTF-8 text.
std::string PathText(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

std::filesystem::path PathOf(const std::string& text) {
  return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

// The folder a stored path stands for: the path itself when it is a folder, else the folder
// of the file it names. The file itself is never proposed as the name to save under.
std::string FolderOf(const std::string& stored) {
  std::error_code error;
  const std::filesystem::path path = PathOf(stored);
  return std::filesystem::is_directory(path, error) ? stored : PathText(path.parent_path());
}

struct LoadReport {
  bool overScope = false;
  bool gapData = false;
  bool dataMemory = false;
  bool ispData = false;
};

// A bad record as the checksum box shows it: a line of many kilobytes would make the box wider
// than the screen. The cut does not split a UTF-8 character.
std::string ShownLine(const std::string& line) {
  constexpr std::size_t kShown = 80;
  if (line.size() <= kShown) return line;
  std::size_t cut = kShown;
  while (cut > 0 && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80) --cut;
  return line.substr(0, cut) + "...";
}

// Where address 0 of a file lands: the load driver checks this value and the loaders use it.
std::int32_t BufferStart(const TextBox& text4) {
  return ParseHexField(text4.text, 5);
}

constexpr Wording kStopCheckingQuestion{
    "Go on loading the file without checking the checksums: Yes.\r\n\r\n"
    "Stop loading the file now: No.",
    "不再检测校验和, 继续加载文件请输入 Y\r\n\r\n中止加载文件, 立即返回请输入 N"};
constexpr Wording kPressEnter{"        Press enter continue ", "             按确定继续。"};

}  // namespace

double Station::IspSizeK() const {
  // "2.0k", "1.5k": the number in front of the unit.
  const double value = LeadingNumber(Combo2.Text());
  return value >= 0 && value <= 64 ? value : 0;
}

void Station::ClearBuffer(std::uint8_t fill) {
  for (std::int32_t a = 0; a <= ImageBufferArray::kCodeSpaceEnd; ++a) ImageBuffer.Set(a, fill);
  DemoImageReady = false;
}

void Station::ResetBuffer(std::uint8_t fill) {
  ClearBuffer(fill);
  VScroll1.minimum = 0;
  VScroll1.maximum = 64;
  VScroll1.value = 0;
  ProgramStart = 0;
  ProgramEnd = 0x3FF;
  OnScrollChange();
}

void Station::RegionUpdate() {
  const SelectedDeviceFields& d = SelectedDevice;
  const auto size = static_cast<std::int32_t>(IspSizeK() * 1024);
  std::int32_t apRangeEnd = d.ApEnd;
  std::int32_t ispRangeStart = d.IspStart;
  if (d.DeviceClassCode > 0) {
    ispRangeStart = d.IspEnd - size + 1;
    if (d.ApUpToIsp) apRangeEnd = ispRangeStart - 1;
  }
  txtISP_reange[0].text = HexDigits(d.ApStart, 4);
  txtISP_reange[1].text = HexDigits(apRangeEnd, 4);
  if (ispRangeStart >= d.IspEnd) {
    txtISP_reange[2].text.clear();
    txtISP_reange[3].text.clear();
  } else {
    txtISP_reange[2].text = HexDigits(ispRangeStart, 5);
    txtISP_reange[3].text = HexDigits(d.IspEnd, 5);
  }
}

RegionLimits Station::ReadRegionLimits() const {
  RegionLimits limits;
  limits.ApRangeEnd = ParseHexField(txtISP_reange[1].text, 4);
  if (!txtISP_reange[2].text.empty()) {
    limits.IspRangeStart = ParseHexField(txtISP_reange[2].text, 5);
    limits.IspRangeEnd = ParseHexField(txtISP_reange[3].text, 5);
  } else {
    limits.IspRangeStart = SelectedDevice.IspEnd + 1;
    limits.IspRangeEnd = SelectedDevice.IspEnd;
  }
  return limits;
}

void Station::FitCheck() {
  if (!FileLoaded) return;
  const RegionLimits limits = ReadRegionLimits();
  if (ProgramStart < limits.ApRangeEnd && ProgramEnd < limits.ApRangeEnd) return;
  platform_.dialogs.Information(UseEnglish ? "Please reload file."
                                           : "    Please reload file.\r\n      请重新打开文件");
  CloseFile();
  // The panel says why.
  if (!RunInProgress()) {
    RunVerdict = {};
    const std::string model = ModelName();
    RunVerdict.reason = {
        "The file was closed: it does not fit " + model + " as set; open it again.",
        "文件已关闭: 它不适合当前设置的 " + model + ", 请重新打开。"};
  }
}

void Station::ShowFileChecksum() {
  txtFileCheckSum.text = HexDigits(FileChecksum, 7) + "H       ";
}

void Station::OnLoadFileClick() {
  if (!comLoadFile.enabled) return;
  const std::string previous = LoadedFileName;
  OpenFileDialog();
  // A cancelled dialog keeps the file the station had and loads nothing.
  if (LoadedFileName.empty()) {
    LoadedFileName = previous;
    return;
  }
  LoadFile();
}

void Station::OpenFileDialog() {
  namespace fs = std::filesystem;
  const std::string stored =
      platform_.settings.Read(kApplication, kSettings, kFilePathKey, ApplicationDirectory);
  FileDialogRequest request;
  request.title = "Open .hex or .bin file";
  request.filters = {{"Intel HEX", "*.hex;*.ihx"}, {"Binary", "*.bin"}, {"All files", "*"}};
  std::error_code error;
  const bool isFile = fs::is_regular_file(PathOf(stored), error);
  request.initialDirectory = isFile ? PathText(PathOf(stored).parent_path()) : stored;
  request.initialName = isFile ? stored : "";
  if (!request.initialName.empty() &&
      (request.initialName.back() == '\\' || request.initialName.back() == '/'))
    request.initialName.clear();
  LoadedFileName = platform_.dialogs.OpenFile(request);
  if (LoadedFileName.empty()) return;
  Frame7.caption = "File: " + LoadedFileName;
  platform_.settings.Write(kApplication, kSettings, kFilePathKey, LoadedFileName);
}

void Station::OpenFileAt(const std::string& path) {
  if (!comLoadFile.enabled || RunInProgress() || Trim(path).empty()) return;
  LoadedFileName = path;
  Frame7.caption = "File: " + LoadedFileName;
  platform_.settings.Write(kApplication, kSettings, kFilePathKey, LoadedFileName);
  LoadFile();
}

void Station::LoadAtStart(const std::string& named) {
  std::string path = named;
  if (path.empty()) {
    path = platform_.settings.Read(kApplication, kSettings, kFilePathKey, "");
    std::error_code error;
    // The stored path may name a folder (the dialogs' start) or a file since removed.
    if (path.empty() || !std::filesystem::is_regular_file(PathOf(path), error)) return;
  }
  OpenFileAt(path);
}

void Station::LoadFile() {
  if (LoadedFileName.empty()) return;
  const RegionLimits limits = ReadRegionLimits();
  const std::int32_t start = BufferStart(Text4);
  // A text that names no address has no place in the buffer either.
  if (start < 0 || start > limits.IspRangeEnd) {
    platform_.dialogs.Information(UseEnglish ? "Buffer Start Address Outrun the valid scope. "
                                             : "Buffer Start Address Outrun the valid scope. \r\n"
                                               "       缓冲区起始地址超出有效空间。");
    return;
  }
  const std::string source = LoadedFileName + '\n' + Trim(Text4.text);
  if (!FileLoaded || Check6.checked) {
    BufferMixed = false;
    bufferSource_ = source;
    ClearBuffer(FillByte());
    FileLoaded = false;
    ProgramStart = kNoLoadStart;
    ProgramEnd = 0;
    LoadStart = kNoLoadStart;
    DataEnd = 0;
  } else {
    ProgramStart = std::min(ProgramStart, LoadStart);
    ProgramEnd = std::max(ProgramEnd, DataEnd);
    BufferMixed = BufferMixed || source != bufferSource_;
  }
  SerialActive = false;
  ChooseLoader();
  LoadedFileCrc32 = FileLoaded ? FileCrc32(LoadedFileName) : std::nullopt;
  if (FileLoaded) {
    BufferReadFromChip = false;
    BufferChanged = false;
    RememberRecentFile(LoadedFileName);
  }
  cheAuto_Increase.checked = false;
  ViewRangeUpdate();
  OnAutoIncreaseClick();
}

void Station::ChooseLoader() {
  const auto first = LoadedFileName.find_first_not_of(' ');
  if (first == std::string::npos) return;
  BusyPointer = true;
  // The name alone: a folder such as proj.hexfiles says nothing about the file in it.
  bool hex = Upper(PathText(PathOf(LoadedFileName).filename())).find(".HEX") != std::string::npos;
  if (!hex) {
    // Judged by its first three text items: HEX records all begin with a colon.
    std::ifstream in(PathOf(LoadedFileName), std::ios::binary);
    TextItemReader items(in);
    std::string item;
    int seen = 0;
    bool allRecords = in.is_open();
    while (allRecords && seen < 3 && items.Next(item)) {
      ++seen;
      allRecords = !item.empty() && item.front() == ':';
    }
    hex = allRecords && seen > 0;
  }
  if (hex)
    HexLoader();
  else
    BinaryLoader();
  BusyPointer = false;
}

std::int16_t Station::HexLoader() {
  std::ifstream in(PathOf(LoadedFileName), std::ios::binary);
  if (!in.is_open()) return 0;
  const RegionLimits limits = ReadRegionLimits();
  const std::int64_t offset = std::max(BufferStart(Text4), 0);
  std::int64_t maxAddr = 0;
  std::int64_t base = 0;  // of the last extended address record
  int badRecords = 0;
  LoadReport report;
  FileChecksum = 0;

  TextItemReader items(in);
  std::string line;
  for (int count = 0; items.Next(line); ++count) {
    if (count % kItemsPerEventPass == 0) platform_.pump.ProcessPendingEvents();
    if (line.empty() || line.front() != ':') continue;
    const HexRecordText record(std::string_view(line).substr(1));
    if (!record.CheckIsGood() && badRecords < 3) {
      platform_.dialogs.Information("Checksum is Error.\r\n\r\n" + ShownLine(line), LoadedFileName);
      if (++badRecords == 3 &&
          !platform_.dialogs.Question(kStopCheckingQuestion.Pick(UseEnglish))) {
        ResetBuffer(0x00);
        FileLoaded = false;
        return 1;
      }
    }
    const std::uint8_t type = record.Byte(3);
    if (type == 0x01) break;
    if (type == 0x02 || type == 0x04) {
      // Data above 64 K must land there, where the region rules see it, and not fold onto the
      // code below. Only a record with its two address bytes moves the base.
      if (record.N() == 5) {
        const std::int64_t upper = record.Byte(4) * 256 + record.Byte(5);
        base = type == 0x04 ? upper * 0x10000 : upper * 16;
      }
      continue;
    }
    if (type != 0x00) continue;
    const std::int64_t address = base + record.Byte(1) * 256 + record.Byte(2) + offset;
    for (std::int64_t j = 0; j <= record.N() - 4; ++j) {
      const std::uint8_t value = record.Byte(j + 4);
      FileChecksum += value;
      const std::int64_t a = address + j;
      maxAddr = std::max(maxAddr, a);
      if (a <= limits.IspRangeEnd)
        ImageBuffer.Set(a, value);
      else
        report.overScope = true;
    }
  }

  // Where the loaded data ends, and what lies outside the AP range.
  const SelectedDeviceFields& d = SelectedDevice;
  const std::uint8_t fill = FillByte();
  auto scan = [&](std::int64_t high, std::int64_t low) -> std::int64_t {
    for (std::int64_t a = std::min<std::int64_t>(high, ImageBufferArray::kLastAddress); a >= low;
         --a)
      if (a >= 0 && ImageBuffer.Get(a) != fill) return a;
    return -1;
  };
  auto extend = [&](std::int64_t limit) {
    if (maxAddr <= limit && DataEnd < maxAddr) DataEnd = static_cast<std::int32_t>(maxAddr);
  };
  if (const auto a = scan(limits.ApRangeEnd, offset); a >= 0) {
    DataEnd = static_cast<std::int32_t>(a);
    extend(limits.ApRangeEnd);
  }
  if (d.ApUpToIsp) {
    if (const auto a = scan(d.IspEnd, limits.IspRangeStart); a >= 0) {
      DataEnd = static_cast<std::int32_t>(a);
      report.ispData = true;
      extend(d.IspEnd);
    }
  } else if (d.DeviceClassCode >= 2) {
    if (const auto a = scan(limits.IspRangeStart - 1, limits.ApRangeEnd + 1); a >= 0) {
      DataEnd = static_cast<std::int32_t>(a);
      report.dataMemory = true;
      if (maxAddr < limits.IspRangeStart && DataEnd < maxAddr)
        DataEnd = static_cast<std::int32_t>(maxAddr);
    }
    if (limits.IspRangeEnd - limits.IspRangeStart > 10) {
      if (const auto a = scan(d.IspEnd, limits.IspRangeStart); a >= 0) {
        DataEnd = static_cast<std::int32_t>(a);
        report.ispData = true;
        extend(d.IspEnd);
      }
    }
  } else {
    // Classes 0 and 1 have a gap that must stay empty.
    if (scan(d.IspStart - 1, limits.ApRangeEnd + 1) >= 0) {
      DataEnd = limits.ApRangeEnd;
      report.gapData = true;
    }
    for (std::int64_t a = d.IspStart - 1; a >= limits.ApRangeEnd + 1; --a) ImageBuffer.Set(a, fill);
    if (const auto a = scan(d.IspEnd, d.IspStart); a >= 0) {
      DataEnd = static_cast<std::int32_t>(a);
      report.ispData = true;
      extend(d.IspEnd);
    }
  }
  if (report.overScope) DataEnd = d.IspEnd;
  LoadStart = static_cast<std::int32_t>(std::min<std::int64_t>(offset, INT32_MAX));

  std::string text;
  // Both lines in Chinese; the English one alone in English.
  auto item = [&](const char* english, const char* chinese) {
    if (!text.empty()) text += "\r\n\r\n";
    text += english;
    if (!UseEnglish) text += std::string("\r\n") + chinese;
  };
  if (report.gapData || report.overScope)
    item("    File over the valid scope.", "文件超出有效空间, 超出的部分已丢失。");
  if (report.dataMemory)
    item(" Data Memory contain procedure or datas.", "      Data Memory 空间有数据。");
  if (report.ispData)
    item("ISP or Block1 contain procedure or datas.", "    ISP or Block1 空间有程序或数据。");
  ShowFileChecksum();
  if (!text.empty())
    platform_.dialogs.Information(text + "\r\n\r\n" + kPressEnter.Pick(UseEnglish),
                                  kLoadReportTitle);
  FileLoaded = true;
  return 0;
}

void Station::BinaryLoader() {
  std::ifstream in(PathOf(LoadedFileName), std::ios::binary);
  if (!in.is_open()) return;
  const RegionLimits limits = ReadRegionLimits();
  const std::int64_t offset = std::max(BufferStart(Text4), 0);
  LoadStart = static_cast<std::int32_t>(std::min<std::int64_t>(offset, INT32_MAX));
  std::int64_t address = offset;
  FileChecksum = 0;
  char chunk[kBytesPerEventPass];
  while (in) {
    platform_.pump.ProcessPendingEvents();
    in.read(chunk, sizeof chunk);
    for (std::streamsize i = 0; i < in.gcount(); ++i) {
      const auto value = static_cast<std::uint8_t>(chunk[i]);
      FileChecksum += value;
      ImageBuffer.Set(address++, value);
    }
  }
  const SelectedDeviceFields& d = SelectedDevice;
  std::int64_t dataEnd = address - 1;
  const std::uint8_t fill = FillByte();

  LoadReport report;
  if (d.ApUpToIsp) {
    report.ispData = dataEnd > limits.ApRangeEnd;
  } else if (d.DeviceClassCode >= 2) {
    report.dataMemory = dataEnd > limits.ApRangeEnd;
    report.ispData =
        limits.IspRangeEnd - limits.IspRangeStart > 10 && dataEnd >= limits.IspRangeStart;
  } else {
    report.gapData = dataEnd > limits.ApRangeEnd;
    for (std::int64_t a = d.IspStart - 1; a >= limits.ApRangeEnd + 1; --a) ImageBuffer.Set(a, fill);
    report.ispData = limits.IspRangeEnd - limits.IspRangeStart > 10 && dataEnd >= d.IspStart;
  }
  if (dataEnd > d.IspEnd) {
    report.overScope = true;
    dataEnd = d.IspEnd;
  }
  DataEnd = static_cast<std::int32_t>(std::max<std::int64_t>(dataEnd, INT32_MIN));

  std::string text;
  auto item = [&](const Wording& words) {
    if (!text.empty()) text += "\r\n\r\n";
    text += words.Pick(UseEnglish);
    text += "\r\n";
  };
  if (report.gapData || report.overScope)
    item({"    File over the valid scope.", "文件超出有效空间, 超出的部分已丢失。"});
  if (report.dataMemory)
    item({" Data Memory contain procedure or datas.", "       Data Memory 空间有数据。"});
  if (report.ispData)
    item({"ISP or Block1 contain procedure or datas.", "    ISP 或 Block1 空间有程序或数据。"});
  ShowFileChecksum();
  if (!text.empty())
    platform_.dialogs.Information(text + "\r\n\r\n" + kPressEnter.Pick(UseEnglish),
                                  kLoadReportTitle);
  FileLoaded = true;
}

bool Station::BinExport() {
  if (!comStoreFile.enabled) return false;
  auto message = [&](const std::string& english, const char* chinese) {
    platform_.dialogs.Information(UseEnglish ? english : english + "\r\n" + chinese);
    return false;
  };
  const std::int32_t start = ParseHexField(txt_Start_Address.text, 4);
  if (start < 0) return message("Start_Address Small in 0.", "      起始地址小于 0。");
  if (start > 0xFFFF) return message("Start_Address is too big.", "起始地址太大。");
  const std::int32_t length = ParseHexField(txt_length.text, 5);
  if (length <= 0) return message("File length too small.", "文件长度不能小于 0。");
  const std::int32_t end = start + length - 1;
  if (end > 0xFFFF) return message("File length too big.", "文件长度太大。");

  FileDialogRequest request;
  request.title = "Save .bin file";
  const std::string saved = platform_.settings.Read(kApplication, kSettings, kSavePathKey, "");
  request.initialDirectory =
      FolderOf(saved.empty() ? platform_.settings.Read(kApplication, kSettings, kFilePathKey,
                                                       ApplicationDirectory)
                             : saved);
  request.filters = {{"(*.bin)", "*.bin"}, {"All Files (*.*)", "*.*"}};
  const std::string name = platform_.dialogs.SaveFile(request);
  if (name.empty()) return false;

  const auto& bytes = ImageBuffer.Bytes();
  const std::string_view range(reinterpret_cast<const char*>(bytes.data()) + start,
                               static_cast<std::size_t>(length));
  const FileOutcome written = ReplaceFile(PathOf(name), range);
  switch (written.refusal) {
    case FileRefusal::None:
      platform_.settings.Write(kApplication, kSettings, kSavePathKey, name);
      return true;
    case FileRefusal::Folder:
      return message("A folder cannot be replaced by the file: " + name, "不能用文件替换文件夹。");
    case FileRefusal::NotRegular:
      return message("The file could not be written: " + name + ": " + written.reason,
                     "这不是普通文件，未写入。");
    case FileRefusal::ReadOnly:
      return message("The file could not be written: " + name + ": " + written.reason,
                     "文件为只读，未写入。");
    case FileRefusal::TooLarge:
    case FileRefusal::Failed:
      break;
  }
  return message("The file could not be written: " + name + ": " + written.reason,
                 "文件无法写入。");
}

void Station::WriteExportField(TextBox& field, std::string text) {
  field.text = std::move(text);
  OnExportFieldChange();
}

void Station::OnExportFieldChange() {
  if (txt_Start_Address.text.empty() || txt_length.text.empty())
    comStoreFile.enabled = false;
  else if (!DemoImageReady)
    comStoreFile.enabled = true;
}

}  // namespace kvr
