// The identity and option decoders with arbitrary reply bytes and class codes, and the option
// payload of an arbitrary panel read back through them: what the operator chose on the panel is
// what the read-back reports.

#include <cstdio>

#include "catalogue/option_panel.h"
#include "fuzz/fuzz_input.h"
#include "link/writer_link.h"
#include "operations/identity.h"
#include "operations/option_bytes.h"
#include "platform/virtual/virtual_platform.h"

namespace {

using kvr::OptionBytes;

std::string Hex2(unsigned value) {
  char text[4];
  std::snprintf(text, sizeof text, "%02X", value & 0xFFU);
  return text;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t from = 0;
  for (std::size_t at; (at = text.find("\r\n", from)) != std::string::npos; from = at + 2)
    lines.push_back(text.substr(from, at - from));
  lines.push_back(text.substr(from));
  return lines;
}

bool Bit(std::uint8_t value, int bit) {
  return (value >> bit & 1) != 0;
}

// The ISP size the bytes give, as the read-back shows it ("2.0 K").
std::string ExpectedIspSize(const OptionBytes& bytes, bool layoutB) {
  char text[16];
  if (layoutB) {
    const int n = bytes[0] >> 4;
    std::snprintf(text, sizeof text, "%.1f K", n == 15 ? 0.0 : (16 - n) / 2.0);
  } else {
    static constexpr double kSizes[4] = {4, 2, 1, 0};  // ISPADR 0..3
    std::snprintf(text, sizeof text, "%.1f K", kSizes[bytes[0] >> 4 & 3]);
  }
  return text;
}

void CheckIdentity(std::int16_t classCode, std::uint8_t low, std::uint8_t high) {
  std::string identity = kvr::IdentityText(low, high);
  KVR_FUZZ_CHECK(identity == Hex2(high) + Hex2(low));
  const std::string original = identity;
  const std::string model = kvr::DecodeIdentity(classCode, identity);
  KVR_FUZZ_CHECK(model.empty() || model.rfind("MCU: ", 0) == 0);
  // Only the chip that reports its code the other way round is renamed, and only when known.
  const bool swapped = !model.empty() && original == "10F4";
  KVR_FUZZ_CHECK(identity == (swapped ? "F410" : original));
}

// The register table: bit-number line, then header and value row per register; each value row
// shows the byte in hex and its bits from 7 to 0 under their names.
void CheckRegisterTable(const OptionBytes& bytes) {
  const std::vector<std::string> lines = Lines(kvr::RegisterTable(bytes));
  KVR_FUZZ_CHECK(lines.size() == 5);
  const std::string& bitNames = lines[0];
  for (int reg = 0; reg < 2; ++reg) {
    const std::string& row = lines[2 + 2 * static_cast<std::size_t>(reg)];
    KVR_FUZZ_CHECK(row.rfind("    " + Hex2(bytes[reg]) + "H   ", 0) == 0);
    for (int bit = 7; bit >= 0; --bit) {
      const std::size_t column = bitNames.find("bit" + std::to_string(bit)) + 2;
      KVR_FUZZ_CHECK(column < row.size() && row[column] == (Bit(bytes[reg], bit) ? '1' : '0'));
    }
  }
}

}  // namespace

// Input: class code (2 bytes), identity low and high, option bytes 0 and 1, flags, the panel's
// nine choices (2 bytes), the ISP size entry.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kvr::fuzz::Input in(data, size);
  const auto classCode = static_cast<std::int16_t>(in.Word());
  const std::uint8_t identityLow = in.Byte();
  const std::uint8_t identityHigh = in.Byte();
  const OptionBytes bytes{in.Byte(), in.Byte()};
  const std::uint8_t flags = in.Byte();
  const std::uint16_t choices = in.Word();
  const std::uint8_t ispEntry = in.Byte();
  const bool english = (flags & 1) == 0;
  const bool layoutB = kvr::UsesLayoutB(classCode);

  CheckIdentity(classCode, identityLow, identityHigh);
  CheckRegisterTable(bytes);
  KVR_FUZZ_CHECK(kvr::OptionIspSizeText(bytes, classCode) == ExpectedIspSize(bytes, layoutB));

  kvr::VirtualPlatform vp;
  kvr::MessageLog log;
  kvr::SelectedDeviceFields device;
  device.DeviceClassCode = classCode;
  device.ShowExtraFamilies = (flags & 2) != 0;
  device.IspEnd = (flags & 4) != 0 ? 0x3BFF : 0xFBFF;
  kvr::WriterLink link(vp.port, vp.pump, vp.timers, log, english, device.DeviceClassCode);
  const kvr::OperationContext context{link, log, english, device};

  kvr::SelectableText view;
  kvr::OptionReport(context, bytes, view);
  KVR_FUZZ_CHECK(log.Caret() <= log.Text().size());
  const std::string ispSize = ExpectedIspSize(bytes, layoutB);
  KVR_FUZZ_CHECK(log.Text().find(ispSize) != std::string::npos);
  if (!layoutB && english) {
    char first[40];
    std::snprintf(first, sizeof first, "\r\nOR0 = %XH, OR1 = %XH\r\n\r\n", bytes[0], bytes[1]);
    KVR_FUZZ_CHECK(log.Text().rfind(first, 0) == 0);
    KVR_FUZZ_CHECK(view.text == "\r\n\r\n" + kvr::RegisterTable(bytes) + "\r\n");
  }

  kvr::OptionPanelControls panel;
  kvr::RebuildOptionPanel(panel, device);
  kvr::ShowReadOptions(context, panel, bytes);
  KVR_FUZZ_CHECK(panel.read_Option[6].caption.ends_with(ispSize));

  // The panel's choices programmed and read back.
  for (std::size_t row = 0; row < panel.Option.size(); ++row)
    panel.Option[row].selected = choices >> row & 1;
  KVR_FUZZ_CHECK(!panel.Combo2.entries.empty());
  panel.Combo2.index = ispEntry % static_cast<int>(panel.Combo2.entries.size());
  const kvr::OptionPayload payload = kvr::OptionBytesFromPanel(panel, classCode);
  const OptionBytes programmed{payload[0], payload[1]};
  std::string chosen = panel.Combo2.Text();  // "2.0k"
  chosen.back() = ' ';
  KVR_FUZZ_CHECK(kvr::OptionIspSizeText(programmed, classCode) == chosen + "K");
  for (std::size_t i = 2; i < payload.size(); ++i) KVR_FUZZ_CHECK(payload[i] == 0);
  auto one = [&](std::size_t row) { return panel.Option[row].selected == 1; };
  if (layoutB) {
    // LOCK, ENCRYPT, MOVCL, EN6T (the mode byte), HWEN_ISP.
    KVR_FUZZ_CHECK(Bit(payload[0], 0) == one(0) && Bit(payload[0], 1) == one(1) &&
                   Bit(payload[0], 2) == one(2) && Bit(payload[0], 3) == one(4));
    KVR_FUZZ_CHECK(payload[1] == (one(3) ? 0xFF : 0xFB));
  } else {
    // OR0: LOCK, SB, MOVCL, bits 7 and 6 set. OR1: EN6T, HWBS, OSCDN, AUX_RAM, CL_WDT; bits 2 and
    // 3 set; bit 5 the ninth row for classes 12 and 13, else set.
    KVR_FUZZ_CHECK(Bit(payload[0], 0) == one(0) && Bit(payload[0], 1) == one(1) &&
                   Bit(payload[0], 2) == one(2) && (payload[0] & 0xC0) == 0xC0);
    const bool ninth = classCode == 12 || classCode == 13 ? one(8) : true;
    KVR_FUZZ_CHECK(Bit(payload[1], 0) == one(3) && Bit(payload[1], 1) == one(4) &&
                   Bit(payload[1], 4) == one(5) && Bit(payload[1], 6) == one(6) &&
                   Bit(payload[1], 7) == one(7) && Bit(payload[1], 5) == ninth &&
                   (payload[1] & 0x0C) == 0x0C);
  }
  return 0;
}
