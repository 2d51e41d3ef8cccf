#include <algorithm>
#include <array>
#include <limits>

#include "app/station.h"
#include "image/buffer_view.h"
#include "image/hex_field.h"
#include "image/serial_number.h"

namespace kvr {

namespace {

constexpr Wording kAddressTooBig{"The Auto_Increase low address too big", "自动增量低位地址太大"};
constexpr Wording kAddressTooSmall{"The Auto_Increase low address too small or the bytes too big",
                                   "自动增量低位地址太小或字节数太长"};
constexpr Wording kNotDecimal{" 'Next Number' should be Decimal", " '下一个值' 应输入10进制数"};
constexpr Wording kTooManyBinaryBytes{"The Bytes must less than 5 when select hexadecimal",
                                      "选择 16进制时，字节数必须小于或等于 4。"};
constexpr Wording kBinaryTooBig{"The Next Number must less than 2147483649 when select hexadecimal",
                                "选择 16进制时，“下一值”必须小于 2147483648。"};
constexpr Wording kStepTooSmall{"The Step must be a whole number of 1 or more, not ",
                                "步长必须是大于或等于 1 的整数，而不是 "};

std::string StepRefused(bool english, const std::string& step) {
  return kStepTooSmall.Pick(english) + Trim(step);
}
constexpr Wording kNotReserved{
    "The serial number could not be reserved in the settings file: nothing was programmed.",
    "无法在设置文件中保留序列号：未进行编程。"};

constexpr Wording kNotReservedInLine{
    "The serial number could not be reserved in the line database: ",
    "无法在生产线数据库中保留序列号: "};
constexpr Wording kPoolNotStored{
    "The serial-number settings could not be stored in the line database: ",
    "序列号设置无法保存到生产线数据库: "};
constexpr const char* kModeNames[] = {"HEX", "DEC", "ASCII"};

constexpr Wording kNotStamped{"The serial number cannot be stamped: nothing was programmed.",
                              "序列号无法写入：未进行编程。"};

constexpr const char* kSection = "Auto_Increase";
struct SettingKey {
  const char* key;
  const char* defaultValue;
};
constexpr std::array<SettingKey, 4> kFieldKeys{{
    {"address", "FFFF"},
    {"Length", "8"},
    {"next_value", "0000"},
    {"Increase", "1"},
}};
constexpr SettingKey kModeKey{"numeral_system", "1"};
constexpr std::size_t kAddressField = 0;
constexpr std::size_t kBytesField = 1;
constexpr std::size_t kNextField = 2;
constexpr std::size_t kStepField = 3;

SerialMode ModeOf(std::int64_t index) {
  return index >= 0 && index <= 2 ? static_cast<SerialMode>(index) : SerialMode::Binary;
}

// Models of these classes may carry the number up to the end of their user area.
bool UserAreaClass(std::int16_t classCode) {
  return classCode == 2 || classCode == 11 || classCode == 12 || classCode == 13;
}

// "0042" and "42" are one number: a field that was only brought to its digit count is no edit.
bool SameNumber(const std::string& a, const std::string& b) {
  auto significant = [](const std::string& text) {
    const std::string trimmed = Trim(text);
    return trimmed.substr(std::min(trimmed.find_first_not_of('0'), trimmed.size()));
  };
  return significant(a) == significant(b);
}

// Two numberings stamp the same bytes in the same place and step alike.
bool SameNumbering(const SerialPool& a, const SerialPool& b) {
  return ParseHexField(a.address, 5) == ParseHexField(b.address, 5) &&
         ReadNumber(a.bytes) == ReadNumber(b.bytes) && ReadStep(a.step) == ReadStep(b.step) &&
         ModeOf(a.mode) == ModeOf(b.mode);
}

// Why a station whose numbering differs from its line's takes no number.
std::string OtherNumbering(bool english, const SerialPool& line) {
  const std::string numbering = "address " + Trim(line.address) + ", " + Trim(line.bytes) +
                                " bytes, " + kModeNames[static_cast<int>(ModeOf(line.mode))] +
                                ", step " + Trim(line.step);
  return english
             ? "the line numbers its chips otherwise (" + numbering +
                   "): untick and tick Enable Auto_Increase to take its numbering"
             : "生产线的编号设置不同 (" + numbering + "): 请取消并重新勾选 允许自动增量 以采用它";
}

// Least significant byte at the address, the others below it.
void PlaceStamp(ImageBufferArray& buffer, std::int32_t address, const SerialEncoding& encoding) {
  std::int64_t at = address;
  for (const std::uint8_t value : encoding.bytes) buffer.Set(at--, value);
}

}  // namespace

int Station::SerialDigits() const {
  return SerialDigitCount(ModeOf(optAuto_Increase.selected), SerialBytes);
}

bool Station::ValidateSerial() {
  // A byte count beyond 16 bits is held at the limit; the address check below refuses it.
  SerialBytes = static_cast<std::int16_t>(std::clamp<std::int64_t>(
      ReadNumber(texAuto_Increase[kBytesField].text), std::numeric_limits<std::int16_t>::min(),
      std::numeric_limits<std::int16_t>::max()));
  // Without a byte count there are no digits to keep; the number stays as typed.
  if (SerialBytes > 0) {
    std::string next = FitDigits(texAuto_Increase[kNextField].text, SerialDigits());
    if (next != texAuto_Increase[kNextField].text) {
      texAuto_Increase[kNextField].text = std::move(next);
      OnSerialFieldChange();
    }
  }
  SerialAddress = ParseHexField(texAuto_Increase[kAddressField].text, 5);

  const SelectedDeviceFields& device = SelectedDevice;
  const std::int32_t highest =
      UserAreaClass(device.DeviceClassCode) ? device.UserEnd : device.ApEnd;
  if (SerialAddress > highest) {
    platform_.dialogs.Information(kAddressTooBig.Pick(UseEnglish));
    return true;
  }
  if (SerialBytes < 1 || SerialAddress + 1 - SerialBytes < 0) {
    platform_.dialogs.Information(kAddressTooSmall.Pick(UseEnglish));
    return true;
  }
  // A step of 0 would give every chip the same number, a negative one numbers handed out before.
  if (!ReadStep(texAuto_Increase[kStepField].text)) {
    platform_.dialogs.Information(StepRefused(UseEnglish, texAuto_Increase[kStepField].text));
    return true;
  }
  SerialActive = true;
  return false;
}

bool Station::ShowStampError(const SerialEncoding& encoding) {
  switch (encoding.error) {
    case StampError::None:
      return false;
    case StampError::NotDecimal:
      platform_.dialogs.Information(kNotDecimal.Pick(UseEnglish));
      break;
    case StampError::TooManyBinaryBytes:
      platform_.dialogs.Information(kTooManyBinaryBytes.Pick(UseEnglish));
      break;
    case StampError::BinaryTooBig:
      platform_.dialogs.Information(kBinaryTooBig.Pick(UseEnglish));
      break;
    case StampError::DoesNotFit: {
      const std::string bytes = std::to_string(SerialBytes);
      platform_.dialogs.Information(UseEnglish ? "The Next Number " + encoding.number +
                                                     " does not fit in " + bytes +
                                                     " Bytes: the largest is " + encoding.largest
                                               : "“下一值” " + encoding.number + " 超出 " + bytes +
                                                     " 个字节，最大为 " + encoding.largest + "。");
      break;
    }
  }
  return true;
}

bool Station::SerialStampRefused() const {
  return EncodeSerial(texAuto_Increase[kNextField].text, ModeOf(optAuto_Increase.selected),
                      SerialBytes)
             .error != StampError::None;
}

void Station::StampSerial() {
  const SerialEncoding encoding = EncodeSerial(texAuto_Increase[kNextField].text,
                                               ModeOf(optAuto_Increase.selected), SerialBytes);
  if (!ShowStampError(encoding)) PlaceStamp(ImageBuffer, SerialAddress, encoding);
}

bool Station::ReserveSerial() {
  const SerialMode mode = ModeOf(optAuto_Increase.selected);
  const int digits = SerialDigits();
  // Validation has checked the step; without one the number would be handed out again.
  const std::optional<std::int64_t> step = ReadStep(texAuto_Increase[kStepField].text);
  auto refuse = [this](const std::string& why) {
    textMsg.Append(kLineBreak + why);
    textMsg.MoveCaretToEnd();
    return false;
  };
  if (!step) {
    platform_.dialogs.Information(StepRefused(UseEnglish, texAuto_Increase[kStepField].text));
    return refuse(kNotStamped.Pick(UseEnglish));
  }
  std::string number;
  SerialEncoding encoding;
  // The number a stored next number gives this chip, and the next number to store after it.
  auto handOut = [&](const std::string& next) {
    number = FitDigits(next, digits);
    encoding = EncodeSerial(number, mode, SerialBytes);
    // A number that cannot be stamped is not handed out. The one after it is stored as it is,
    // never cut to the digits: a number that grew too big is refused when its turn comes,
    // instead of coming round again.
    if (encoding.error != StampError::None) return number;
    return FitDigits(AddToNumber(number, *step), digits);
  };
  std::optional<std::string> next;
  if (LineInUse()) {
    // One transaction on the line's row: no station of any PC comes between.
    const SerialPool mine = FieldsPool();
    std::optional<SerialPool> other;
    LineDatabase* line = Line();
    const std::optional<SerialPool> stored =
        line == nullptr
            ? std::nullopt
            : line->ChangePool(LineName(), LineWho(),
                               [&](const std::optional<SerialPool>& current, std::string& spent) {
                                 if (current && !SameNumbering(*current, mine)) {
                                   lineNumberingDiffers_ = true;
                                   other = current;
                                   return *current;
                                 }
                                 SerialPool pool = current.value_or(mine);
                                 pool.next = handOut(pool.next);
                                 if (encoding.error == StampError::None) spent = number;
                                 return pool;
                               });
    if (!stored || other) {
      const std::string why = line == nullptr ? lineProblem_
                              : other         ? OtherNumbering(UseEnglish, *other)
                                              : line->LastError();
      ShowLineProblem(why);
      return refuse(kNotReservedInLine.Pick(UseEnglish) + why);
    }
    next = stored->next;
  } else {
    next = platform_.settings.Update(
        kApplication, kSection, kFieldKeys[kNextField].key, [&](const std::string& stored) {
          // The number shown stands in for one never stored.
          return handOut(stored.empty() ? texAuto_Increase[kNextField].text : stored);
        });
    if (!next) return refuse(kNotReserved.Pick(UseEnglish));
  }
  ShowNextNumber(*next);
  if (ShowStampError(encoding)) return refuse(kNotStamped.Pick(UseEnglish));
  PlaceStamp(ImageBuffer, SerialAddress, encoding);
  autoRun_.serial = number;
  return true;
}

void Station::ShowNextNumber(const std::string& stored) {
  storedNext_ = stored;
  // Written by the station, not typed: the stamp stays valid.
  texAuto_Increase[kNextField].text = SerialBytes > 0 ? FitDigits(stored, SerialDigits()) : stored;
}

void Station::ShowStoredNextNumber() {
  if (!SerialActive || !cheAuto_Increase.checked) return;
  const std::string shown = texAuto_Increase[kNextField].text;
  if (!LineInUse())
    ShowNextNumber(
        platform_.settings.Read(kApplication, kSection, kFieldKeys[kNextField].key, storedNext_));
  else if (lineAfterRun_ && lineAfterRun_->pool)
    ShowNextNumber(lineAfterRun_->pool->next);
  // The view shows the number the next chip gets, where it will stand.
  if (autoRun_.serial.empty() && texAuto_Increase[kNextField].text == shown) return;
  StampSerial();
  OnScrollChange();
}

void Station::ScrollToSerial() {
  // The number's line fourth from the top, counted in whole lines as the scroll bar counts.
  const std::int64_t line = static_cast<std::int64_t>(SerialAddress) / view_layout::kLineBytes -
                            ProgramStart / view_layout::kLineBytes - 3;
  VScroll1.value =
      static_cast<int>(std::clamp<std::int64_t>(line, VScroll1.minimum, VScroll1.maximum));
  OnScrollChange();
}

void Station::LoadSerialSettings() {
  for (std::size_t i = 0; i < kFieldKeys.size(); ++i)
    texAuto_Increase[i].text = platform_.settings.Read(kApplication, kSection, kFieldKeys[i].key,
                                                       kFieldKeys[i].defaultValue);
  storedNext_ = texAuto_Increase[kNextField].text;
  const std::int64_t mode = ReadNumber(
      platform_.settings.Read(kApplication, kSection, kModeKey.key, kModeKey.defaultValue));
  optAuto_Increase.selected = static_cast<int>(ModeOf(mode));
  SerialActive = false;
}

SerialPool Station::FieldsPool() const {
  return {texAuto_Increase[kAddressField].text, texAuto_Increase[kBytesField].text,
          texAuto_Increase[kNextField].text, texAuto_Increase[kStepField].text,
          static_cast<int>(ModeOf(optAuto_Increase.selected))};
}

void Station::TakePool(const SerialPool& pool) {
  texAuto_Increase[kAddressField].text = pool.address;
  texAuto_Increase[kBytesField].text = pool.bytes;
  texAuto_Increase[kNextField].text = storedNext_ = pool.next;
  texAuto_Increase[kStepField].text = pool.step;
  optAuto_Increase.selected = static_cast<int>(ModeOf(pool.mode));
  OnSerialFieldChange();
}

void Station::SavePoolToLine() {
  const SerialPool mine = FieldsPool();
  const bool typed = !SameNumber(mine.next, storedNext_);
  LineDatabase* line = Line();
  const std::optional<SerialPool> stored =
      line == nullptr
          ? std::nullopt
          : line->ChangePool(LineName(), LineWho(),
                             [&](const std::optional<SerialPool>& current, std::string&) {
                               SerialPool pool = mine;
                               if (current && !typed) pool.next = current->next;
                               return pool;
                             });
  if (!stored) {
    const std::string why = line == nullptr ? lineProblem_ : line->LastError();
    ShowLineProblem(why);
    textMsg.Append(kLineBreak + (kPoolNotStored.Pick(UseEnglish) + why));
    textMsg.MoveCaretToEnd();
    return;
  }
  ShowNextNumber(stored->next);
}

void Station::SaveSerialSettings() {
  if (LineInUse()) {
    SavePoolToLine();
    return;
  }
  for (std::size_t i = 0; i < kFieldKeys.size(); ++i)
    if (i != kNextField)
      platform_.settings.Write(kApplication, kSection, kFieldKeys[i].key, texAuto_Increase[i].text);
  // The stored next number is shared by every station on the store and moves on as they
  // reserve numbers: it is replaced only by a number typed here, never by one read earlier.
  const std::string shown = texAuto_Increase[kNextField].text;
  const bool typed = !SameNumber(shown, storedNext_);
  const std::optional<std::string> stored = platform_.settings.Update(
      kApplication, kSection, kFieldKeys[kNextField].key,
      [&](const std::string& current) { return typed || current.empty() ? shown : current; });
  if (stored) ShowNextNumber(*stored);
  const int mode = static_cast<int>(ModeOf(optAuto_Increase.selected));
  platform_.settings.Write(kApplication, kSection, kModeKey.key, std::to_string(mode));
}

void Station::OnAutoIncreaseClick() {
  const bool checked = cheAuto_Increase.checked;
  // Unticked after the line refused a number for numbering otherwise: the fields take the
  // line's.
  if (!checked && lineNumberingDiffers_) {
    lineNumberingDiffers_ = false;
    LoadLine();
  }
  EnableSerialFields();
  SerialActive = false;
  if (checked && !ValidateSerial()) {
    SaveSerialSettings();
    if (SerialActive) {
      StampSerial();
      ViewRangeUpdate();
      ScrollToSerial();
    }
  }
  txtBuffer2.text = txtBuffer.text;
  txtBuffer2.selStart = txtBuffer.selStart;
  txtBuffer2.selLength = txtBuffer.selLength;
}

void Station::OnSerialFieldChange() {
  SerialActive = false;
}

}  // namespace kvr
