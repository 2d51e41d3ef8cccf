#include "operations/identity.h"

#include <span>
#include <string_view>

#include "link/writer_frame.h"

namespace kvr {

namespace {

constexpr int kIdentityAttempts = 6;

constexpr Wording kReadFailed{"Read MCU ID is failed!", "读 MCU ID 失败!"};
constexpr Wording kUnauthentic{"MCU is encrypt or unauthentic.", "已加密或有疑问的 MCU 型号 "};

struct Decoded {
  const char* identity;
  const char* model;
};

constexpr Decoded kClass12[] = {
    {"F101", "MCU: VXC01H/VXC01L"}, {"F118", "MCU: VXC02H/VXC02L"}, {"F11C", "MCU: VXC03H/VXC03L"},
    {"F102", "MCU: VXC04H/VXC04L"}, {"F128", "MCU: VXC05H/VXC05L"}, {"F130", "MCU: VXC06H/VXC06L"},
};

constexpr Decoded kClass13[] = {
    {"F101", "MCU: VXD01H/VXD01L"}, {"F102", "MCU: VXD02H/VXD02L"}, {"F104", "MCU: VXD03H/VXD03L"},
    {"F108", "MCU: VXD04H/VXD04L"}, {"F10A", "MCU: VXD05H/VXD05L"}, {"F10C", "MCU: VXD06H/VXD06L"},
    {"F10D", "MCU: VXD07H/VXD07L"}, {"F10E", "MCU: VXD08H/VXD08L"}, {"F110", "MCU: VXD09H/VXD09L"},
};

constexpr Decoded kOtherClasses[] = {
    {"F001", "MCU: VXA01H/L"},
    {"F002", "MCU: VXA02H/L"},
    {"F004", "MCU: VXA03H/L"},
    {"F101", "MCU: VXA01H/L or VXB01"},
    {"F102", "MCU: VXA02H/L or VXB02"},
    {"F104", "MCU: VXA04H/L"},
    {"F108", "MCU: VXA05H/L"},
    {"F110", "MCU: VXA06H/L"},
    {"F111", "MCU: VXG01H/L"},
    {"F121", "MCU: VXG02H/L"},
    {"F141", "MCU: VXG03H/L"},
    {"F181", "MCU: VXG04H/L"},
    {"F1A1", "MCU: VXG05H/L"},
    {"F1C1", "MCU: VXG06H/L"},
    {"F1D1", "MCU: VXG07H/L"},
    {"F1E1", "MCU: VXG08H/L"},
    {"0055", "MCU: VXE0xL"},
    {"F202", "MCU: VXJ0xH"},
    {"F304", "MCU: VXK0xH"},
    {"10F4", "MCU: VXM01L"},
    {"E150", "MCU: VXN0xH"},
    {"E133", "MCU: VXN0xL"},
};

// This chip reports its code with the bytes the other way round.
constexpr std::string_view kSwappedIdentity = "10F4";
constexpr const char* kSwappedIdentityReads = "F410";

std::span<const Decoded> TableFor(std::int16_t classCode) {
  if (classCode == 12) return kClass12;
  if (classCode == 13) return kClass13;
  return kOtherClasses;
}

void AppendHex(std::string& text, std::uint8_t byte) {
  text += "0123456789ABCDEF"[byte >> 4];
  text += "0123456789ABCDEF"[byte & 0xF];
}

}  // namespace

std::string IdentityText(std::uint8_t low, std::uint8_t high) {
  std::string text;
  AppendHex(text, high);
  AppendHex(text, low);
  return text;
}

std::string DecodeIdentity(std::int16_t classCode, std::string& identityText) {
  for (const Decoded& row : TableFor(classCode)) {
    if (identityText != row.identity) continue;
    if (identityText == kSwappedIdentity) identityText = kSwappedIdentityReads;
    return row.model;
  }
  return {};
}

std::int16_t ReadIdentity(OperationContext& context, bool showMessages) {
  WriterLink& link = context.link;
  MessageLog& log = context.log;
  if (!link.StandardExchange(command::kIdentity, 0, kIdentityAttempts)) {
    if (showMessages && !link.StopRequested)
      log.Append(std::string(kLineBreak) + context.Pick(kReadFailed) + kLineBreak);
    return -1;
  }
  link.TakeReply();
  std::string identity = IdentityText(link.ReplyBuffer[4], link.ReplyBuffer[5]);
  const std::string model = DecodeIdentity(context.device.DeviceClassCode, identity);
  if (identity == context.device.IdentityCode) {
    if (showMessages) log.Append(model + kLineBreak);
    return 0;
  }
  if (showMessages) {
    if (!model.empty()) log.Append(model + kLineBreak);
    log.Append(std::string(context.Pick(kUnauthentic)) + kLineBreak);
  }
  return -2;
}

}  // namespace kvr
