#include "ispdemo/isp_demo_builder.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "ispdemo/isp_demo_template.h"

namespace kvr {

namespace {

// Template offsets the builder patches.
constexpr int kDelayCount = 64;
constexpr int kFeed = 67;
constexpr int kReceive = 70;
constexpr int kTransmit = 79;
constexpr int kTransmitEnd = 92;  // 93, the return, is never patched
constexpr int kParity = 96;
constexpr int kFlashWait = 99;
constexpr int kReloadHigh = 102;
constexpr int kReloadLow = 105;
constexpr int kEraseCount = 108;
constexpr int kModelHigh = 111;
constexpr int kModelLow = 114;
constexpr int kTimingConstant = 117;
constexpr int kCrystalClass = 119;

constexpr std::uint8_t kRet = 0x22;
constexpr std::uint8_t kClrBit = 0xC2;
constexpr std::uint8_t kSetBit = 0xD2;
constexpr std::uint8_t kNop = 0x00;

// The window's language first, then Chinese.
const char* const kPinConflict[2] = {
    "The external watchdog feed and the RS-485 direction control cannot use the same I/O pin.",
    "喂外部看门狗和485收发控制不能用同一个 I/O 口。"};
const char* const kBadWatchdogPin[2] = {"The external watchdog's I/O pin address is not valid.",
                                        "喂外部看门狗 I/O 口地址不正确。"};
const char* const kBadRs485Port[2] = {
    "The RS-485 direction control's I/O port address is not valid.",
    "485收发控制 I/O 口地址不正确。"};
const char* const kBadRs485Bit[2] = {"RS-485 direction control: the I/O pin address is not valid.",
                                     "485收发控制: I/O 口地址不正确。"};
const char* const kNoReload[2] = {
    "The baud rate cannot be made from this crystal: choose another frequency or baud rate.",
    "此内部时钟频率不能产生该波特率，请另选频率或波特率。"};
// The label's design caption: no error to show.
const char* const kNoBaudError = "   %";

// Two hexadecimal digits, upper case, as the template rows and the model numbers hold them.
std::uint8_t HexByte(const char* digits) {
  auto value = [](char c) { return c <= '9' ? c - '0' : c - 'A' + 10; };
  return static_cast<std::uint8_t>(value(digits[0]) * 16 + value(digits[1]));
}

// A value taken as a byte: rounded, and refused (nothing written) when it does not fit.
std::optional<std::uint8_t> AsByte(double value) {
  const double rounded = CInt(value);
  if (!(rounded >= 0 && rounded <= 255)) return std::nullopt;
  return static_cast<std::uint8_t>(rounded);
}

std::optional<std::uint8_t> PortAddress(const std::string& port) {
  static const std::array<std::pair<const char*, std::uint8_t>, 5> kPorts = {
      {{"P0", 0x80}, {"P1", 0x90}, {"P2", 0xA0}, {"P3", 0xB0}, {"P4", 0xE8}}};
  for (const auto& [name, address] : kPorts)
    if (port == name) return address;
  return std::nullopt;
}

// A bit number 0..7. Negative or fractional numbers are refused like those above 7: added to
// the port address they would name a bit of another register or of RAM.
std::optional<int> BitNumber(const std::string& text) {
  const double bit = LeadingNumber(text);
  if (bit > 7 || bit < 0 || bit != std::floor(bit)) return std::nullopt;
  return static_cast<int>(bit);
}

std::optional<std::uint8_t> PinAddress(const std::string& port, const std::string& bit) {
  const auto address = PortAddress(port);
  const auto number = BitNumber(bit);
  if (!address || !number) return std::nullopt;
  return static_cast<std::uint8_t>(*address + *number);
}

int CrystalClass(double mhz) {
  static const std::array<std::pair<double, int>, 8> kClasses = {
      {{4, 1}, {6, 2}, {12, 3}, {18, 4}, {24, 5}, {30, 7}, {36, 8}, {42, 9}}};
  for (const auto& [limit, crystalClass] : kClasses)
    if (mhz <= limit) return crystalClass;
  return 12;
}

std::uint8_t FlashWait(double mhz) {
  const double i = CInt(mhz);
  if (i <= 5) return 0x83;
  if (i <= 10) return 0x82;
  if (i <= 20) return 0x81;
  return 0x80;
}

}  // namespace

double CInt(double value) {
  const double floor = std::floor(value);
  const double fraction = value - floor;
  if (fraction > 0.5) return floor + 1;
  if (fraction < 0.5) return floor;
  return std::fmod(floor, 2.0) == 0 ? floor : floor + 1;
}

double LeadingNumber(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  const std::size_t start = i;
  auto digits = [&] {
    const std::size_t from = i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
    return i - from;
  };
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  std::size_t mantissa = digits();
  if (i < text.size() && text[i] == '.') {
    ++i;
    mantissa += digits();
  }
  if (mantissa == 0) return 0;
  std::size_t end = i;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    if (digits() > 0) end = i;
  }
  std::string number(text.substr(start, end - start));
  if (number[0] == '+') number.erase(0, 1);
  double value = 0;
  const auto [ptr, error] = std::from_chars(number.data(), number.data() + number.size(), value);
  if (error == std::errc::result_out_of_range) return number[0] == '-' ? -HUGE_VAL : HUGE_VAL;
  return error == std::errc() ? value : 0;
}

std::string SingleText(float value) {
  if (value == 0) return "0";
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value < 0 ? "-Inf" : "Inf";
  // Seven significant digits and the decimal exponent of the first, written the same in every
  // locale.
  char scientific[32];
  const auto written =
      std::to_chars(scientific, scientific + sizeof scientific - 1,
                    std::fabs(static_cast<double>(value)), std::chars_format::scientific, 6);
  *written.ptr = '\0';
  std::string digits;
  for (const char* c = scientific; *c != 'e'; ++c)
    if (*c != '.') digits += *c;
  const int exponent = std::atoi(std::strchr(scientific, 'e') + 1);
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();

  std::string text = value < 0 ? "-" : "";
  if (exponent >= 7 || exponent < -5) {
    text += digits.substr(0, 1);
    if (digits.size() > 1) text += "." + digits.substr(1);
    char power[16];
    std::snprintf(power, sizeof power, "E%c%02d", exponent < 0 ? '-' : '+', std::abs(exponent));
    return text + power;
  }
  if (exponent < 0) return text + "." + std::string(-exponent - 1, '0') + digits;
  const std::size_t whole = static_cast<std::size_t>(exponent) + 1;
  if (digits.size() <= whole) return text + digits + std::string(whole - digits.size(), '0');
  return text + digits.substr(0, whole) + "." + digits.substr(whole);
}

std::uint32_t BaudErrorBackColour(BaudErrorColour colour) {
  switch (colour) {
    case BaudErrorColour::Red:
      return 0xFF;
    case BaudErrorColour::Yellow:
      return 0xFFFF;
    case BaudErrorColour::Normal:
      break;
  }
  return 0x8000000F;
}

BaudReloadResult BaudReload(std::string_view crystal, std::string_view baud) {
  BaudReloadResult result;
  const float fosc = static_cast<float>(LeadingNumber(crystal) * 1'000'000.0);
  if (!(fosc > 0)) return result;
  const double b = LeadingNumber(baud);
  const double count = std::trunc(static_cast<double>(fosc) / 32.0 / b + 0.5);
  // No baud rate (or one so small that N has no meaning) leaves N at 0. An error that cannot be
  // computed is shown as none, never as the last one.
  if (std::isfinite(count) && std::fabs(count) <= 2147483647.0)
    result.n = static_cast<float>(count);
  const float n = result.n;
  if (n <= 0) {
    result.caption = kNoBaudError;
    result.colour = BaudErrorColour::Red;
    return result;
  }
  const float actual = fosc / 32.0f / n;
  const float error = static_cast<float>((actual - b) / b * 100.0);
  result.caption = " " + SingleText(error).substr(0, 5) + "%";
  if (error <= -3.5f || error >= 3.5f || n <= 2) {
    result.colour =
        (error <= -5 || error >= 5 || n <= 2) ? BaudErrorColour::Red : BaudErrorColour::Yellow;
  }
  if (!result.Usable()) result.colour = BaudErrorColour::Red;
  return result;
}

std::uint16_t PlacedReload(const ImageBufferArray& buffer, std::int32_t base) {
  return static_cast<std::uint16_t>(buffer.Get(std::int64_t{base} + kReloadHigh) << 8 |
                                    buffer.Get(std::int64_t{base} + kReloadLow));
}

std::string ModelNumber(std::string_view model) {
  for (int i = 1; i <= 6; ++i) {
    const std::string stem = "VXA0" + std::to_string(i);
    if (model == stem + "L") return "000" + std::to_string(i);
    if (model == stem + "H") return "400" + std::to_string(i);
  }
  return "FFFF";
}

IspDemoBuildResult BuildIspDemo(const IspDemoParameters& p, ImageBufferArray& buffer) {
  IspDemoBuildResult result;
  const double f = LeadingNumber(p.crystal);
  if (!(f * 1'000'000.0 > 0)) return result;

  const std::int64_t base = static_cast<std::int64_t>(p.ispEnd) - 1023;
  result.base = static_cast<std::int32_t>(base);
  result.placed = true;
  auto put = [&](int offset, std::uint8_t value) { buffer.Set(base + offset, value); };
  auto putByte = [&](int offset, double value) {
    if (const auto byte = AsByte(value)) put(offset, *byte);
  };
  auto refuse = [&](const char* message) {
    result.message = message;
    return result;
  };

  for (int row = 0; row < kIspDemoTemplateRows; ++row) {
    for (int i = 0; i < 16; ++i) put(16 * row + i, HexByte(IspDemoTemplate[row] + 2 * i));
  }
  put(kParity, p.parity ? 0xFF : 0xFE);
  putByte(kDelayCount, f * 2.5431 + 0.5);
  putByte(kEraseCount, p.eraseData || p.apUpToIsp ? (p.userEnd - 1024) / 512.0 : p.apEnd / 512.0);

  // One pin cannot do both jobs; the same pin written two ways counts as well.
  if (p.watchdog && p.rs485) {
    const auto watchdogPin = PinAddress(p.watchdogPort, p.watchdogBit);
    const bool sameTexts = p.watchdogPort == p.rs485Port && p.watchdogBit == p.rs485Bit;
    if (sameTexts || (watchdogPin && watchdogPin == PinAddress(p.rs485Port, p.rs485Bit)))
      return refuse(kPinConflict[p.useEnglish ? 0 : 1]);
  }

  if (!p.watchdog) {
    put(kFeed, kRet);
    put(kFeed + 1, kNop);
    put(kFeed + 2, kNop);
  } else {
    const auto pin = PinAddress(p.watchdogPort, p.watchdogBit);
    if (!pin) return refuse(kBadWatchdogPin[p.useEnglish ? 0 : 1]);
    put(kFeed + 1, *pin);
  }

  if (!p.rs485) {
    put(kReceive, kRet);
    for (int offset = kReceive + 1; offset < kTransmit; ++offset) put(offset, kNop);
    put(kTransmit, kRet);
    for (int offset = kTransmit + 1; offset <= kTransmitEnd; ++offset) put(offset, kNop);
  } else {
    if (!PortAddress(p.rs485Port)) return refuse(kBadRs485Port[p.useEnglish ? 0 : 1]);
    const auto pin = PinAddress(p.rs485Port, p.rs485Bit);
    if (!pin) return refuse(kBadRs485Bit[p.useEnglish ? 0 : 1]);
    for (int offset : {71, 73, 82, 84}) put(offset, *pin);
    const std::uint8_t receive = p.rs485HighTransmit ? kClrBit : kSetBit;
    const std::uint8_t transmit = p.rs485HighTransmit ? kSetBit : kClrBit;
    for (int offset : {70, 72}) put(offset, receive);
    for (int offset : {81, 83}) put(offset, transmit);
  }

  put(kFlashWait, FlashWait(f));

  result.baud = BaudReload(p.crystal, p.baud);
  // A demo that cannot talk at the baud rate asked for is no demo.
  if (!result.baud->Usable()) return refuse(kNoReload[p.useEnglish ? 0 : 1]);
  const std::int64_t reload = 65536 - static_cast<std::int64_t>(result.baud->n);
  putByte(kReloadHigh, static_cast<double>(reload / 256));
  put(kReloadLow, static_cast<std::uint8_t>(reload & 0xFF));

  const std::string number = ModelNumber(p.model);
  if (number == "FFFF") return refuse(p.useEnglish ? "MCU type is erroneous." : "MCU 型号不正确。");
  put(kModelHigh, HexByte(number.c_str()));
  put(kModelLow, HexByte(number.c_str() + 2));

  putByte(kTimingConstant, f / 0.579);
  put(kCrystalClass, static_cast<std::uint8_t>(CrystalClass(f)));
  result.failed = false;
  return result;
}

}  // namespace kvr
