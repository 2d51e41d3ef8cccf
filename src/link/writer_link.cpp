#include "link/writer_link.h"

#include <algorithm>

#include "link/check_values.h"
#include "link/writer_frame.h"

namespace kvr {

namespace {

constexpr Wording kWriterVersion{"Writer Version : ", "烧录器版本号: "};

char HexDigit(unsigned value) {
  return "0123456789ABCDEF"[value & 0xF];
}

}  // namespace

WriterLink::WriterLink(SerialPort& port, EventPump& pump, TimerFactory& timers, MessageLog& log,
                       const bool& useEnglish, const std::int16_t& deviceClassCode)
    : port_(port),
      pump_(pump),
      log_(log),
      useEnglish_(useEnglish),
      deviceClassCode_(deviceClassCode),
      timer1_(timers.CreateTimer()),
      timer2_(timers.CreateTimer()),
      deadline_(timers.CreateTimer()) {
  timer1_->SetTickHandler([this] { OnReplyTimer(); });
  timer2_->SetTickHandler([this] { OnGapTimer(); });
  deadline_->SetTickHandler([this] { OnDeadline(); });
  timer1_->SetInterval(ReplyTimeoutMs);
  timer2_->SetInterval(InterByteTimeoutMs);
  port_.SetDataReceivedHandler([this] { ReceiveHandler(); });
}

void WriterLink::RestoreDefaultTimeouts() {
  ReplyTimeoutMs = kDefaultReplyTimeoutMs;
  InterByteTimeoutMs = kDefaultInterByteTimeoutMs;
}

void WriterLink::ClearReplyFlags() {
  ReplyTimedOut = false;
  ReplyCorrupt = false;
  ReplyComplete = false;
}

void WriterLink::RestartTimers() {
  timer1_->SetEnabled(true);
  timer2_->SetEnabled(true);
  timer1_->SetEnabled(false);
  timer2_->SetEnabled(false);
}

void WriterLink::DropWaitingInput() {
  port_.ClearInput();
  port_.ReadAll();
}

int WriterLink::DeadlineMs(int replyTimeoutMs, const ExpectedReply& expected) const {
  constexpr std::int64_t kBitsPerByte = 10;
  constexpr std::int64_t kBaud = 115200;
  const auto bytes = static_cast<std::int64_t>(
      expected.LongestFrame(UseCrc16 ? 2 : 1, static_cast<std::size_t>(kRxBufferSize)));
  return replyTimeoutMs + static_cast<int>((bytes * kBitsPerByte * 1000 + kBaud - 1) / kBaud);
}

void WriterLink::ArmDeadline(int replyTimeoutMs) {
  deadline_->SetInterval(DeadlineMs(replyTimeoutMs, expected_));
  deadline_->SetEnabled(true);
}

void WriterLink::StopTimers() {
  timer1_->SetEnabled(false);
  timer2_->SetEnabled(false);
  deadline_->SetEnabled(false);
}

void WriterLink::SendCommand(std::uint8_t code, int replyTimeoutMs, std::uint8_t parameter) {
  DropWaitingInput();
  expected_ = ShortCommandReply(code);
  RxCount = 0;
  ClearReplyFlags();
  timer1_->SetInterval(replyTimeoutMs);
  timer1_->SetEnabled(true);
  timer2_->SetInterval(InterByteTimeoutMs);
  timer2_->SetEnabled(false);
  ArmDeadline(replyTimeoutMs);
  const Bytes frame =
      BuildShortFrame(code, static_cast<std::uint8_t>(deviceClassCode_), parameter, UseCrc16);
  sentCommand_ = code;
  sentLength_ = frame.size();
  port_.Write(frame);
}

void WriterLink::SendBlockFrame(const Bytes& frame, const ExpectedReply& expected,
                                int replyTimeoutMs) {
  DropWaitingInput();
  // The code follows the two length bytes, and the preamble where the frame has one.
  const std::size_t codeAt = !frame.empty() && frame[0] == frame::kPreamble0 ? 5 : 3;
  sentCommand_ = frame.size() > codeAt ? frame[codeAt] : 0;
  sentLength_ = frame.size();
  port_.Write(frame);
  // Cleared after the write: no event can run in between, so no reply is lost.
  ExpectReply(replyTimeoutMs, expected);
}

void WriterLink::ExpectReply(int replyTimeoutMs, const ExpectedReply& expected) {
  expected_ = expected;
  RxCount = 0;
  RestartTimers();
  ClearReplyFlags();
  timer1_->SetInterval(replyTimeoutMs);
  timer1_->SetEnabled(true);
  timer2_->SetInterval(InterByteTimeoutMs);
  timer2_->SetEnabled(false);
  ArmDeadline(replyTimeoutMs);
}

WriterLink::Outcome WriterLink::WaitForReply() {
  for (;;) {
    if (ReplyTimedOut) return Finished(Outcome::TimedOut);
    if (ReplyCorrupt) return Finished(Outcome::Corrupt);
    if (ReplyComplete) return Finished(Outcome::Complete);
    if (StopRequested) return Finished(Outcome::Stopped);
    pump_.WaitForEvents();
  }
}

WriterLink::Outcome WriterLink::Finished(Outcome outcome) {
  if (OnExchange) OnExchange(sentCommand_, sentLength_, outcome, RxCount);
  return outcome;
}

std::int16_t WriterLink::TakeReply() {
  ReplyBuffer = RxBuffer;
  return RxCount;
}

bool WriterLink::StandardExchange(std::uint8_t code, std::uint8_t parameter, int attempts) {
  for (int attempt = 0; attempt < attempts; ++attempt) {
    SendCommand(code, ReplyTimeoutMs, parameter);
    const Outcome outcome = WaitForReply();
    if (outcome == Outcome::Complete) return true;
    // Stop has closed the port: further attempts could not succeed.
    if (outcome == Outcome::Stopped) return false;
  }
  return false;
}

void WriterLink::OnReplyTimer() {
  StopTimers();
  ReplyTimedOut = true;
}

void WriterLink::OnGapTimer() {
  StopTimers();
  ReplyCorrupt = true;
}

void WriterLink::OnDeadline() {
  // However the bytes keep coming, the exchange is over: a time-out.
  StopTimers();
  ReplyTimedOut = true;
}

bool WriterLink::Store(const std::uint8_t* bytes, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    if (RxCount >= kRxBufferSize) return false;
    RxBuffer[static_cast<std::size_t>(RxCount)] = bytes[i];
    ++RxCount;
  }
  return true;
}

void WriterLink::DiscardFrame() {
  timer1_->SetEnabled(true);
  timer2_->SetEnabled(false);
  RxBuffer[0] = 0;
  RxCount = 0;
}

WriterLink::FrameVerdict WriterLink::CheckCompleteFrame() {
  const auto length = static_cast<std::size_t>(ExpectedLength);
  // Shorter than its start byte, length and end byte, or not closed by the end byte: no frame.
  if (length < 4 || RxBuffer[length - 1] != frame::kEnd) {
    DiscardFrame();
    return FrameVerdict::Discarded;
  }
  const std::size_t checkLength = UseCrc16 ? 2 : 1;
  const bool good = UseCrc16 ? ComputeCrc16(RxBuffer.data(), 0, length - 3) ==
                                   Crc16{RxBuffer[length - 3], RxBuffer[length - 2]}
                             : Sum8(RxBuffer.data(), length - 2) == RxBuffer[length - 2];
  if (good && !expected_.Matches(RxBuffer.data(), length, checkLength)) {
    // Sound, but the answer to another request: this one's may still come.
    DiscardFrame();
    return FrameVerdict::OtherRequest;
  }
  StopTimers();
  if (good)
    ReplyComplete = true;
  else
    ReplyCorrupt = true;
  return FrameVerdict::Decided;
}

bool WriterLink::TakeChunk(const std::uint8_t* bytes, std::size_t count) {
  RestartTimers();
  Bytes rest;
  for (;;) {
    // Nothing before a start byte belongs to a frame.
    const std::uint8_t* from =
        RxCount > 0 ? bytes : std::find(bytes, bytes + count, frame::kFromWriter);
    if (!Store(from, static_cast<std::size_t>(bytes + count - from))) {
      DiscardFrame();
      return true;
    }
    if (RxCount < 3) return false;
    ExpectedLength = RxBuffer[1] * 256 + RxBuffer[2];
    if (RxCount < ExpectedLength) return false;
    // What followed the frame in this chunk, before the frame is discarded.
    Bytes after(RxBuffer.begin() + ExpectedLength, RxBuffer.begin() + RxCount);
    if (CheckCompleteFrame() != FrameVerdict::OtherRequest || after.empty()) return true;
    // The bytes behind a skipped frame may begin this request's own reply.
    rest.swap(after);
    bytes = rest.data();
    count = rest.size();
  }
}

void WriterLink::ArmGapTimer() {
  timer2_->SetInterval(InterByteTimeoutMs);
  timer2_->SetEnabled(true);
}

void WriterLink::ReceiveHandler() {
  // A decided exchange stays decided until the next send clears the flags: its frame is left for
  // TakeReply, and later bytes must not overflow it away or set a second flag. After a complete
  // frame they are kept as far as they fit: they may be the writer's next, unasked frame.
  if (ReplyComplete || ReplyCorrupt || ReplyTimedOut) {
    const Bytes late = port_.ReadAll();
    if (ReplyComplete) Store(late.data(), late.size());
    return;
  }
  for (;;) {
    const Bytes chunk = port_.ReadAll();
    // The event of bytes that a request dropped before it went out: nothing arrived, and the
    // timers run on as they were.
    if (chunk.empty() && port_.BytesWaiting() == 0) return;
    if (!chunk.empty() && TakeChunk(chunk.data(), chunk.size())) return;
    if (port_.BytesWaiting() == 0) {
      ArmGapTimer();
      return;
    }
  }
}

void WriterLink::ExpectFollowingReply(int replyTimeoutMs, const ExpectedReply& expected) {
  // A writer that answers twice in quick succession can have both frames read in one piece:
  // what followed the first frame is then the start of the second. After any other outcome
  // nothing is taken.
  Bytes surplus;
  if (ReplyComplete) {
    const auto from = RxBuffer.begin() + ExpectedLength;
    const auto start = std::find(from, RxBuffer.begin() + RxCount, frame::kFromWriter);
    surplus.assign(start, RxBuffer.begin() + RxCount);
  }
  ExpectReply(replyTimeoutMs, expected);
  if (surplus.empty()) return;
  if (!TakeChunk(surplus.data(), surplus.size())) {
    // Part of the frame is here; the rest must follow as any frame's rest does.
    ArmGapTimer();
  }
}

bool WriterLink::OpenPort(int portNumber, int baud) {
  port_.Close();
  return port_.SelectPort(portNumber) && port_.SetParameters(baud) && port_.Open() &&
         port_.ClearInput() && port_.ClearOutput();
}

void WriterLink::ConfigurePort() {
  // Binary input, every byte raises the data-received event: that is how the port works here.
  port_.ClearInput();
  port_.ClearOutput();
}

std::int16_t WriterLink::ConnectWriter(std::int16_t replyTimeoutMs,
                                       std::uint8_t handshakeParameter) {
  if (Handshake(replyTimeoutMs, handshakeParameter) < 0) return -1;
  ReadWriterVersion();
  return 0;
}

std::int16_t WriterLink::Handshake(std::int16_t replyTimeoutMs, std::uint8_t handshakeParameter) {
  for (int pass = 0; pass < kHandshakePasses; ++pass) {
    bool answered = false;
    for (int attempt = 0; attempt < kHandshakeAttempts && !answered; ++attempt) {
      FlushInput();
      SendCommand(command::kHandshake, replyTimeoutMs, handshakeParameter);
      const Outcome outcome = WaitForReply();
      answered = outcome == Outcome::Complete;
      // After Stop the port is closed and no attempt can succeed; the result is the same as
      // running the remaining attempts, without reopening the port for each of them.
      if (outcome == Outcome::Stopped) return -1;
    }
    if (!answered) return -1;
  }
  return 0;
}

bool WriterLink::ReadWriterVersion(const char* before) {
  WriterVersion.assign(1, '0');  // no version read yet in this connection
  bool answered = false;
  for (int attempt = 0; attempt < kVersionAttempts; ++attempt) {
    FlushInput();
    SendCommand(command::kVersion, kVersionTimeoutMs, 0);
    const Outcome outcome = WaitForReply();
    answered = outcome == Outcome::Complete;
    if (answered || outcome == Outcome::Stopped) break;
  }
  if (!answered) return false;
  TakeReply();
  WriterVersion = {HexDigit(ReplyBuffer[4] >> 4), HexDigit(ReplyBuffer[4])};
  std::string line = before;
  line += kWriterVersion.Pick(useEnglish_);
  line += WriterVersion[0];
  line += '.';
  line += WriterVersion[1];
  line += kLineBreak;
  line += kLineBreak;
  log_.Append(line);
  log_.MoveCaretToEnd();
  return true;
}

void WriterLink::FlushInput() {
  port_.ClearInput();
  if (port_.IsOpen()) {
    port_.ReadAll();
  } else if (port_.Open()) {
    port_.ReadAll();
    port_.Close();
  }
  ReplyComplete = false;
}

bool WriterLink::ClosePort() {
  port_.Close();
  return port_.IsOpen();
}

}  // namespace kvr
