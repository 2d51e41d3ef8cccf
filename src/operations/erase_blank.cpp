#include "operations/erase_blank.h"

#include <cstdio>

#include "link/writer_frame.h"

namespace kvr {

namespace {

constexpr int kEraseAttempts = 6;
constexpr int kBlankPasses = 6;
constexpr int kBlankAckAttempts = 8;
// The writer scans the whole flash before it sends the result.
constexpr int kBlankResultTimeoutMs = 6000;
// A first non-blank byte this high is not reported by address.
constexpr int kUnreportedLowAddress = 0xFDFE;

constexpr Wording kErasing{"We are erasing ...", "正在全片擦除成为空片 ..."};
constexpr Wording kEraseOk{"Erase MCU        OK!", "全片擦除          OK!"};
constexpr Wording kEraseFailed{"Erase MCU failed!", "全片擦除失败!"};
constexpr Wording kChecking{"Check MCU empty ...", "正在检查是否空片 ..."};

std::string Hex2(std::uint8_t value) {
  char text[4];
  std::snprintf(text, sizeof text, "%02X", value);
  return text;
}

}  // namespace

std::int16_t EraseChip(const OperationContext& context, bool showMessages) {
  WriterLink& link = context.link;
  if (showMessages) context.log.Append(context.Pick(kErasing) + std::string(kLineBreak));
  if (link.StandardExchange(command::kErase, 0, kEraseAttempts)) {
    if (showMessages) context.log.Append(context.Pick(kEraseOk));
    return 0;
  }
  if (showMessages && !link.StopRequested)
    context.log.Append(kLineBreak + std::string(context.Pick(kEraseFailed)));
  return -1;
}

std::int16_t BlankCheck(const OperationContext& context, bool showMessages) {
  WriterLink& link = context.link;
  MessageLog& log = context.log;
  if (showMessages) log.Append(context.Pick(kChecking));
  for (int pass = 0; pass < kBlankPasses; ++pass) {
    const bool acknowledged = link.StandardExchange(command::kBlankCheck, 0, kBlankAckAttempts);
    if (link.StopRequested) return -1;
    if (!acknowledged) {
      log.Append(kLineBreak + std::string(context.Pick(kCheckEmptyFailed)));
      return -1;
    }
    // The result comes without being asked for. A frame too short to hold it (the acknowledge
    // sent once more) is not the result: the wait goes on.
    link.ExpectFollowingReply(kBlankResultTimeoutMs, BlankCheckResult());
    const WriterLink::Outcome outcome = link.WaitForReply();
    link.RestoreDefaultTimeouts();
    if (outcome == WriterLink::Outcome::Stopped) return -1;
    if (outcome != WriterLink::Outcome::Complete) continue;
    link.TakeReply();
    const auto& reply = link.ReplyBuffer;
    if (reply[4] == 0xFF) return 0;
    if (reply[5] * 256 + reply[6] >= kUnreportedLowAddress) return -2;
    if (showMessages) {
      log.Append(std::string(kLineBreak) + kLineBreak + Hex2(reply[4]) + Hex2(reply[5]) +
                 Hex2(reply[6]) + "H = " + Hex2(reply[7]));
    }
    return -2;
  }
  if (showMessages && !link.StopRequested)
    log.Append(kLineBreak + std::string(context.Pick(kCheckEmptyFailed)));
  return -1;
}

}  // namespace kvr
