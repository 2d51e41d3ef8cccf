#include "operations/option_bytes.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "ispdemo/isp_demo_builder.h"
#include "link/writer_frame.h"

namespace kvr {

namespace {

constexpr int kReadAttempts = 6;
constexpr int kProgramAttempts = 4;

constexpr Wording kReading{"We are reading MCU Option ...", "正在读 MCU Option ..."};
constexpr Wording kReadOk{"Read MCU Option OK!", "读 MCU Option OK!"};
constexpr Wording kReadFailed{"Read MCU Option failed!", "读 MCU Option 失败!"};
constexpr Wording kProgramming{"We are program MCU option ...", "正在编程 MCU option ..."};
constexpr Wording kProgramOk{"Program MCU option OK!", "编程 MCU option OK!"};
constexpr Wording kProgramFailed{"Program MCU option failed!", "编程 MCU option 失败!"};
constexpr Wording kReportIspSize{"ISP size = ", "ISP 区域大小 = "};
constexpr Wording kReadOutIspSize{"ISP size:  ", "ISP 区域大小: "};
constexpr Wording kLabelIspSize{"ISP size:   ", "ISP 区域大小: "};

// One option bit of layout A: where it lies and what the report and the read-out say of it.
struct LayoutABit {
  int reg;  // 0 = OR0, 1 = OR1
  int bit;
  const char* reportOne;
  const char* reportZero;
  Wording shortOne;
  Wording shortZero;
};

// In report order: LOCK, SB, MOVCL, EN6T, HWBS, OSCDN, AUX_RAM, CL_WDT.
constexpr std::array<LayoutABit, 8> kLayoutA{{
    {0,
     0,
     "Unlock MCU           (LOCK=1)",
     "Lock MCU, read FF    (LOCK=0)",
     {"Unlock MCU       ", "编程器可读 Flash"},
     {"Lock MCU, read FF", "编程器读 Flash = FF"}},
    {0,
     1,
     "Read is transparent    (SB=1)",
     "Read is scrambled      (SB=0)",
     {"Read is transparent", "编程器读 Flash 不加密"},
     {"Read is scrambled", "编程器读 Flash 加密"}},
    {0,
     2,
     "MOVC is enable      (MOVCL=1)",
     "MOVC is disable     (MOVCL=0)",
     {"Enable MOVC instructio", "允许外部MOVC读 Flash"},
     {"Disable MOVC instructio", "禁止外部MOVC读 Flash"}},
    {1,
     0,
     "12T mode             (EN6T=1)",
     "6T mode              (EN6T=0)",
     {"12T mode", "单倍速 12T"},
     {"6T mode", "双倍速 6T"}},
    {1,
     1,
     "Boot from AP         (HWBS=1)",
     "Boot from ISP        (HWBS=0)",
     {"Boot from AP", "上电复位执行用户程序"},
     {"Boot from ISP", "上电复位执行ISP"}},
    {1,
     4,
     "OSC gain is full    (OSCDN=1)",
     "OSC gain is low     (OSCDN=0)",
     {"OSC gain is full", "振荡器增益 Full gain"},
     {"OSC gain is 1/2", "振荡器增益=1/2 gain"}},
    {1,
     6,
     "Enable expand RAM (AUX_RAM=1)",
     "Disable expand RAM(AUX_RAM=0)",
     {"Enable expand RAM", "允许访问扩展 RAM"},
     {"Disable expand RAM", "禁止访问扩展 RAM"}},
    {1,
     7,
     "Stop WDT with reset(CL_WDT=1)",
     "Stop WDT power-down(CL_WDT=0)",
     {"Stop WDT with reset", "复位关看门狗"},
     {"Stop WDT with power off", "停电才关看门狗"}},
}};
constexpr std::size_t kOscdnIndex = 5;
// The Chinese report words the full oscillator gain more briefly than the read-out.
constexpr const char* kReportOscdnFullChinese = "振荡器 Full gain";

// Layout B: the option byte's flags and the mode byte's EN6T, in report order.
struct LayoutBBit {
  int reg;
  int bit;
  const char* name;  // padded to the width of the report
  const char* label;
};
constexpr std::array<LayoutBBit, 5> kLayoutB{{{0, 0, "LOCK     ", "LOCK"},
                                              {0, 1, "ENCRYPT  ", "SB"},
                                              {0, 2, "MOVCL    ", "MOVCL"},
                                              {1, 2, "EN6T     ", "EN6T"},
                                              {0, 3, "HWEN_ISP ", "HWEN_ISP"}}};
constexpr std::size_t kIspLabel = 6;

bool Bit(const OptionBytes& bytes, int reg, int bit) {
  return ((bytes[static_cast<std::size_t>(reg)] >> bit) & 1) != 0;
}

std::string Hex(unsigned value) {
  char text[8];
  std::snprintf(text, sizeof text, "%X", value);
  return text;
}

std::string Hex2(unsigned value) {
  char text[8];
  std::snprintf(text, sizeof text, "%02X", value & 0xFFU);
  return text;
}

// The number at the start of the ISP size list's text ("2.0k", "1.5k").
double IspSizeValue(const ListControl& list) {
  return LeadingNumber(list.Text());
}

const char* Pick(const Wording& wording, bool english) {
  return wording.Pick(english);
}

}  // namespace

OptionPayload OptionBytesFromPanel(const OptionPanelControls& panel, std::int16_t classCode) {
  auto one = [&](std::size_t row) { return panel.Option[row].selected == 1; };
  OptionPayload payload{};
  const double size = IspSizeValue(panel.Combo2);
  if (UsesLayoutB(classCode)) {
    // 15 stands for no ISP area as well as for half a kilobyte.
    const int n = std::clamp(static_cast<int>(16 - 2 * size), 0, 15);
    payload[0] = static_cast<std::uint8_t>((one(0) ? 1 : 0) + (one(1) ? 2 : 0) + (one(2) ? 4 : 0) +
                                           (one(4) ? 8 : 0) + 16 * n);
    payload[1] = one(3) ? 0xFF : 0xFB;
    return payload;
  }
  int k = static_cast<int>(size);
  if (k == 4) k = 3;
  payload[0] = static_cast<std::uint8_t>(
      ((one(0) ? 1 : 0) + (one(1) ? 2 : 0) + (one(2) ? 4 : 0) + 16 * ((255 - k) & 3)) | 0xC0);
  std::uint8_t or1 = 0xFF;
  constexpr std::uint8_t kClearedBy[] = {0xFE, 0xFD, 0xEF, 0xBF, 0x7F};
  for (std::size_t row = 3; row < 8; ++row)
    if (!one(row)) or1 &= kClearedBy[row - 3];
  if ((classCode == 12 || classCode == 13) && !one(8)) or1 &= 0xDF;
  payload[1] = or1;
  return payload;
}

std::string OptionIspSizeText(const OptionBytes& bytes, std::int16_t classCode) {
  if (UsesLayoutB(classCode)) {
    const int n = bytes[0] >> 4;
    if (n == 15) return "0.0 K";
    // Half kilobytes, with a point whatever the locale.
    const int halves = 16 - n;
    return std::to_string(halves / 2) + (halves % 2 != 0 ? ".5 K" : ".0 K");
  }
  static constexpr std::array kSizes{"4.0 K", "2.0 K", "1.0 K", "0.0 K"};
  return kSizes[(bytes[0] >> 4) & 3];
}

std::string RegisterTable(const OptionBytes& bytes) {
  auto row = [](std::uint8_t value) {
    std::string text = "    " + Hex2(value) + "H   ";
    for (int bit = 7; bit >= 0; --bit) {
      text += ((value >> bit) & 1) != 0 ? '1' : '0';
      if (bit > 0) text += "      ";
    }
    return text;
  };
  std::string table;
  table += "        bit7   bit6   bit5   bit4   bit3   bit2   bit1   bit0";
  table += kLineBreak;
  table += "OR0:      -      -  ISPADR1 ISPADR0   -    MOVCL   SB    LOCK";
  table += kLineBreak;
  table += row(bytes[0]);
  table += kLineBreak;
  table += "OR1:   CL_WDT AUX_RAM   -   OSCDN     -      -    HWBS   EN6T";
  table += kLineBreak;
  table += row(bytes[1]);
  return table;
}

void OptionReport(const OperationContext& context, const OptionBytes& bytes, SelectableText& view) {
  MessageLog& log = context.log;
  const bool english = context.useEnglish;
  const std::int16_t classCode = context.device.DeviceClassCode;
  const std::string size = OptionIspSizeText(bytes, classCode);
  auto line = [&](const std::string& text) { log.Append(kLineBreak + text); };

  if (UsesLayoutB(classCode)) {
    log.Append(Pick(kReportIspSize, english) + size);
    for (const LayoutBBit& flag : kLayoutB)
      line(std::string(flag.name) + (Bit(bytes, flag.reg, flag.bit) ? "is No" : "is Yes"));
    line("It's the reference of Option.");
    line("加密后的 Option 仅供参考。");
    return;
  }
  if (!english) {
    log.Append(Pick(kReportIspSize, english) + size);
    for (std::size_t i = 0; i < kLayoutA.size(); ++i) {
      const LayoutABit& flag = kLayoutA[i];
      const bool one = Bit(bytes, flag.reg, flag.bit);
      line(i == kOscdnIndex && one ? kReportOscdnFullChinese
                                   : Pick(one ? flag.shortOne : flag.shortZero, false));
    }
    line("   可能已加密，仅供参考。");
    return;
  }
  line("OR0 = " + Hex(bytes[0]) + "H, OR1 = " + Hex(bytes[1]) + "H" + kLineBreak + kLineBreak);
  log.Append(Pick(kReportIspSize, english) + size);
  std::size_t beforeLast = log.Text().size();
  for (const LayoutABit& flag : kLayoutA) {
    beforeLast = log.Text().size();
    line(Bit(bytes, flag.reg, flag.bit) ? flag.reportOne : flag.reportZero);
  }
  log.SetCaret(beforeLast);
  // The table stands in the buffer view with an empty line above it, as the dump does.
  view.text = std::string(kLineBreak) + kLineBreak + RegisterTable(bytes) + kLineBreak;
  view.selStart = 0;
  view.selLength = 0;
}

void ShowReadOutLabels(OptionPanelControls& panel, const OptionBytes& bytes, std::int16_t classCode,
                       bool english) {
  const std::string size = OptionIspSizeText(bytes, classCode);
  if (UsesLayoutB(classCode)) {
    panel.read_Option[kIspLabel].caption = "ISP Space: " + size;
    // The labels follow the panel's rows: LOCK, SB, MOVCL, EN6T, HWEN_ISP.
    for (std::size_t i = 0; i < kLayoutB.size(); ++i) {
      const LayoutBBit& flag = kLayoutB[i];
      panel.read_Option[i].caption =
          std::string(flag.label) + (Bit(bytes, flag.reg, flag.bit) ? ": No" : ": Yes");
    }
    return;
  }
  panel.read_Option[kIspLabel].caption = Pick(kLabelIspSize, english) + size;
  // Six labels show the first six options; the last two are only logged.
  for (std::size_t i = 0; i < kIspLabel; ++i) {
    const LayoutABit& flag = kLayoutA[i];
    panel.read_Option[i].caption =
        Pick(Bit(bytes, flag.reg, flag.bit) ? flag.shortOne : flag.shortZero, english);
  }
}

void ShowReadOptions(const OperationContext& context, OptionPanelControls& panel,
                     const OptionBytes& bytes) {
  const bool english = context.useEnglish;
  const std::int16_t classCode = context.device.DeviceClassCode;
  ShowReadOutLabels(panel, bytes, classCode, english);
  if (UsesLayoutB(classCode)) return;
  context.log.Append(kLineBreak +
                     (Pick(kReadOutIspSize, english) + OptionIspSizeText(bytes, classCode)));
  for (const LayoutABit& flag : kLayoutA)
    context.log.Append(
        kLineBreak +
        std::string(
            Pick(Bit(bytes, flag.reg, flag.bit) ? flag.shortOne : flag.shortZero, english)));
}

std::int16_t ReadOptions(const OperationContext& context, bool showMessages, OptionBytes& bytes,
                         SelectableText& view) {
  WriterLink& link = context.link;
  if (showMessages) context.log.Append(context.Pick(kReading));
  if (!link.StandardExchange(command::kReadOptions, 0, kReadAttempts)) {
    if (showMessages && !link.StopRequested)
      context.log.Append(kLineBreak + std::string(context.Pick(kReadFailed)));
    return -1;
  }
  link.TakeReply();
  bytes = {link.ReplyBuffer[4], link.ReplyBuffer[5]};
  if (showMessages) {
    context.log.Append(kLineBreak + std::string(context.Pick(kReadOk)) + kLineBreak + kLineBreak);
    OptionReport(context, bytes, view);
  }
  return 0;
}

std::int16_t ProgramOptions(const OperationContext& context, OptionPanelControls& panel,
                            std::optional<OptionBytes>& chipAnswer) {
  WriterLink& link = context.link;
  chipAnswer.reset();
  const std::int16_t classCode = context.device.DeviceClassCode;
  context.log.Append(context.Pick(kProgramming));
  bool anyReply = false;
  for (int attempt = 0; attempt < kProgramAttempts; ++attempt) {
    link.SendBlockFrame(BuildOptionFrame(OptionBytesFromPanel(panel, classCode)), OptionEcho(),
                        link.ReplyTimeoutMs);
    const WriterLink::Outcome outcome = link.WaitForReply();
    if (outcome == WriterLink::Outcome::Stopped) break;
    if (outcome != WriterLink::Outcome::Complete) continue;
    anyReply = true;
    link.TakeReply();
    // The echo is compared with the panel as it stands now.
    const OptionPayload expected = OptionBytesFromPanel(panel, classCode);
    if (link.ReplyBuffer[4] == expected[0] && link.ReplyBuffer[5] == expected[1]) {
      context.log.Append(kLineBreak + std::string(context.Pick(kProgramOk)));
      return 0;
    }
  }
  if (link.StopRequested) return -1;
  context.log.Append(kLineBreak + std::string(context.Pick(kProgramFailed)) + kLineBreak);
  // Only what the chip said in this operation: an older frame would pass for its answer.
  if (anyReply) {
    chipAnswer = OptionBytes{link.ReplyBuffer[4], link.ReplyBuffer[5]};
    ShowReadOptions(context, panel, *chipAnswer);
  }
  return -1;
}

}  // namespace kvr
