// The verdict of a run as the operator reads it: PASS, FAIL with one plain line saying why, or
// STOPPED, and a line per chip in the history.

#include <cstdio>

#include "app/captions.h"
#include "app/port_messages.h"
#include "app/station.h"
#include "operations/identity.h"

namespace kvr {

namespace {

using Reason = Station::Reason;

constexpr const char* kAutoProgram = "Auto Program";
constexpr const char* kModelPrefix = "MCU: ";

std::string Hex(std::int64_t value, int digits) {
  char text[24];
  std::snprintf(text, sizeof text, "%0*llX", digits, static_cast<unsigned long long>(value));
  return text;
}

// The last line of what a step or an operation wrote, without its line break.
std::string LastLine(std::string text) {
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' '))
    text.pop_back();
  const std::size_t start = text.find_last_of("\r\n");
  return Trim(start == std::string::npos ? text : text.substr(start + 1));
}

// Local time of day.
std::string TimeOfDay(WallClock& clock) {
  const std::int64_t micros = clock.EpochMicros();
  const std::int64_t seconds = micros / 1'000'000 + clock.UtcOffsetMinutes(micros) * 60LL;
  const std::int64_t ofDay = ((seconds % 86400) + 86400) % 86400;
  char text[16];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d", static_cast<int>(ofDay / 3600),
                static_cast<int>(ofDay / 60 % 60), static_cast<int>(ofDay % 60));
  return text;
}

}  // namespace

std::string Station::PortText() const {
  const int number = combCommPort.index + 1;
  return describePort ? describePort(number) : "COM" + std::to_string(number);
}

std::string Station::ReplyIdentity() {
  std::string identity = IdentityText(link.ReplyBuffer[4], link.ReplyBuffer[5]);
  // The decode reads a code given the other way round as the chip means it.
  DecodeIdentity(SelectedDevice.DeviceClassCode, identity);
  return identity;
}

Reason Station::PortOpenReason() const {
  const OpenFailure& failure = platform_.port.LastOpenFailure();
  // The cause names the device; without one, the entry says where it points.
  const std::string english = OpenFailureLine(failure, true);
  const std::string chinese = OpenFailureLine(failure, false);
  const std::string entry = "COM" + std::to_string(combCommPort.index + 1);
  if (english.empty())
    return {PortText() + " could not be opened: it is missing or held by another program.",
            "无法打开 " + PortText() + ": 串口不存在或已被其它程序打开。"};
  return {entry + " could not be opened. " + english, "无法打开 " + entry + "。" + chinese};
}

Reason Station::FailureReason(const std::string& step, std::int16_t result,
                              const std::string& messages) const {
  if (step.empty())
    return {"The automatic sequence is empty: add steps on the Set_Auto tab.",
            "自动序列为空: 请在“设置自动”页添加步骤。"};
  if (step == "Read MCU ID" && result == -2) {
    std::string identity = LastRun.identity;
    std::string model = DecodeIdentity(SelectedDevice.DeviceClassCode, identity);
    if (model.rfind(kModelPrefix, 0) == 0) model.erase(0, std::string(kModelPrefix).size());
    const std::string selected = ModelName() + " (" + SelectedDevice.IdentityCode + ")";
    return {"Wrong chip: it reads as " + identity + " (" +
                (model.empty() ? "no known model" : model) + "), but " + selected + " is selected.",
            "芯片不符: 读出 ID " + identity + " (" + (model.empty() ? "未知型号" : model) +
                "), 但选择的是 " + selected + "。"};
  }
  if (step == "Read MCU ID")
    return {"The chip's identity could not be read: is a chip in the socket?",
            "无法读取芯片 ID: 插座上有芯片吗?"};
  if (step == "Verify Program") {
    const auto& difference = Programmer.LastDifference;
    if (difference && difference->buffer && difference->chip)
      return {"Verification failed: at " + Hex(difference->first, 6) + " the chip holds " +
                  Hex(*difference->chip, 2) + ", the buffer " + Hex(*difference->buffer, 2) + ".",
              "校验失败: 地址 " + Hex(difference->first, 6) + " 芯片为 " +
                  Hex(*difference->chip, 2) + ", 缓冲区为 " + Hex(*difference->buffer, 2) + "。"};
    if (difference)
      return {"Verification failed: the chip differs from the buffer in " +
                  Hex(difference->first, 6) + "-" + Hex(difference->last, 6) + ".",
              "校验失败: 芯片与缓冲区在 " + Hex(difference->first, 6) + "-" +
                  Hex(difference->last, 6) + " 之间不同。"};
    return {"Verification failed: no usable answer from the writer.",
            "校验失败: 编程器没有可用的应答。"};
  }
  if (step == kLineDatabaseStep)
    return {kLineRecordNotWritten.english + LastLineError,
            kLineRecordNotWritten.chinese + LastLineError};
  if (step == "Program File" && !FileLoaded && !IspDemoMode)
    return {"No file is loaded: open a file first.", "没有打开文件: 请先打开文件。"};
  // Otherwise the step's own last message says it.
  const std::string line = LastLine(messages);
  if (!line.empty()) return {step + ": " + line, OperationCaption(step, false) + ": " + line};
  return {step + " failed.", OperationCaption(step, false) + " 失败。"};
}

void Station::BeginVerdict() {
  RunVerdict = {};
  RunVerdict.state = VerdictState::Running;
  RunVerdict.step = SelectedFunction();
  CurrentOperation = RunVerdict.step;
}

void Station::FinishVerdict() {
  // The function chosen, also when the run never reached it.
  const std::string function = LastRun.function.empty() ? RunVerdict.step : LastRun.function;
  Verdict verdict;
  verdict.serial = LastRun.serial;
  verdict.identity = LastRun.identity;
  const bool stopped = link.StopRequested && !LastRun.portLost;
  if (LastRun.portLost) {
    const std::string port = PortText();
    LastRun.reason = {port + " was lost during the run: the adapter was disconnected.",
                      "运行中 " + port + " 丢失: 串口适配器已断开。"};
  } else if (LastRun.connected && LastRun.result == 0) {
    LastRun.reason = {};
  } else if (LastRun.connected && !stopped) {
    const bool automatic = LastRun.function == kAutoProgram;
    LastRun.reason = FailureReason(automatic ? LastRun.failedStep : LastRun.function,
                                   automatic ? autoRun_.failedResult : LastRun.result.value_or(-1),
                                   automatic ? autoRun_.failedMessages : textMsg.Text());
  }
  verdict.reason = LastRun.reason;
  verdict.step = LastRun.connected && function == kAutoProgram ? LastRun.failedStep : function;
  if (stopped) {
    verdict.state = VerdictState::Stopped;
    verdict.reason = LastRun.reason = {"Stopped by the operator.", "操作员停止了运行。"};
    if (verdict.step.empty()) verdict.step = CurrentOperation;
  } else if (LastRun.connected && LastRun.result == 0) {
    verdict.state = VerdictState::Pass;
    verdict.step.clear();
  } else {
    verdict.state = VerdictState::Fail;
  }
  RunVerdict = verdict;

  HistoryEntry entry;
  entry.time = TimeOfDay(Clock());
  entry.result = verdict.state;
  entry.function = function;
  entry.serial = verdict.serial;
  entry.failedStep = verdict.state == VerdictState::Pass ? "" : verdict.step;
  entry.reason = verdict.reason;
  History.push_back(std::move(entry));
  while (History.size() > kHistoryLimit) History.pop_front();
  ++RunsFinished;
}

}  // namespace kvr
