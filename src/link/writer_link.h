#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "link/expected_reply.h"
#include "link/message_log.h"
#include "platform/event_pump.h"
#include "platform/serial_port.h"
#include "platform/timer.h"

namespace kvr {

// The station's side of the serial line: frames out, replies in, the reply and gap timers, and
// the connection with the writer. Everything runs on the caller's thread; the receive handler and
// the timer ticks run inside the event pump while a wait loop waits, and talk to it through the
// flags only.
class WriterLink {
 public:
  static constexpr int kRxBufferSize = 531;
  static constexpr int kDefaultReplyTimeoutMs = 700;
  static constexpr int kDefaultInterByteTimeoutMs = 20;
  static constexpr int kHandshakePasses = 4;
  static constexpr int kHandshakeAttempts = 201;
  static constexpr int kVersionAttempts = 4;
  static constexpr int kVersionTimeoutMs = 300;

  using FrameBuffer = std::array<std::uint8_t, kRxBufferSize>;

  // How a wait for a reply ended, judged in this order.
  enum class Outcome { TimedOut, Corrupt, Complete, Stopped };

  WriterLink(SerialPort& port, EventPump& pump, TimerFactory& timers, MessageLog& log,
             const bool& useEnglish, const std::int16_t& deviceClassCode);
  WriterLink(const WriterLink&) = delete;
  WriterLink& operator=(const WriterLink&) = delete;

  // Receive state.
  FrameBuffer RxBuffer{};
  std::int16_t RxCount = 0;
  std::int32_t ExpectedLength = 0;
  bool ReplyTimedOut = false;
  bool ReplyCorrupt = false;
  bool ReplyComplete = false;
  // Copy of the last reply taken.
  FrameBuffer ReplyBuffer{};

  std::int16_t ReplyTimeoutMs = kDefaultReplyTimeoutMs;
  std::int16_t InterByteTimeoutMs = kDefaultInterByteTimeoutMs;
  bool UseCrc16 = false;
  bool StopRequested = false;
  // Two upper-case hex digits of the writer's firmware version; "0" until read in a connection.
  std::string WriterVersion = "0";

  // Told of every finished exchange: the command sent, the length of its frame, how the wait
  // for the reply ended and the reply's length (the command line's --verbose).
  std::function<void(std::uint8_t command, std::size_t length, Outcome outcome, int replyLength)>
      OnExchange;

  Timer& Timer1() { return *timer1_; }
  Timer& Timer2() { return *timer2_; }
  // The exchange's deadline: armed with the request, never restarted by bytes received.
  Timer& DeadlineTimer() { return *deadline_; }
  SerialPort& Port() { return port_; }

  void RestoreDefaultTimeouts();

  // Every request drops what is waiting on the line first: a reply to an earlier request that
  // came after its time-out must not pass for this one's.
  //
  // Short command frame with the selected model's class code; arms the reply timer and the
  // deadline. The reply it takes is that of ShortCommandReply(code).
  void SendCommand(std::uint8_t code, int replyTimeoutMs, std::uint8_t parameter);
  // Writes a block frame, then clears the flags and arms the timers; `expected` is its reply.
  void SendBlockFrame(const Bytes& frame, const ExpectedReply& expected, int replyTimeoutMs);
  // Gets ready for a reply without sending anything: clears the received count and the flags,
  // restarts both timers and arms the reply timer and the deadline.
  void ExpectReply(int replyTimeoutMs, const ExpectedReply& expected);
  // As ExpectReply, for a second frame the writer sends on its own after the one just taken:
  // bytes already received behind that frame count as the start of the next.
  void ExpectFollowingReply(int replyTimeoutMs, const ExpectedReply& expected);
  // How long an exchange may take in all: its reply time-out and the time its longest reply
  // takes on a 115200 8N1 line (10 bits a byte), rounded up to the millisecond.
  int DeadlineMs(int replyTimeoutMs, const ExpectedReply& expected) const;
  // Waits, processing events, until a flag or StopRequested decides.
  Outcome WaitForReply();
  // Copies the receive buffer into ReplyBuffer; returns RxCount.
  std::int16_t TakeReply();
  // Up to `attempts` sends of a short command with ReplyTimeoutMs; true when a reply arrived.
  bool StandardExchange(std::uint8_t code, std::uint8_t parameter, int attempts);

  void ReceiveHandler();

  bool OpenPort(int portNumber, int baud);
  void ConfigurePort();
  // 0 connected, -1 the writer did not answer (or the run was stopped).
  std::int16_t ConnectWriter(std::int16_t replyTimeoutMs, std::uint8_t handshakeParameter);
  // The four handshake passes of ConnectWriter alone; 0 or -1 as it.
  std::int16_t Handshake(std::int16_t replyTimeoutMs, std::uint8_t handshakeParameter);
  // The version read that follows the handshake; true when a version reply came. The version
  // line follows `before` in the log.
  bool ReadWriterVersion(const char* before = "");
  void FlushInput();
  // Returns whether the port is still open afterwards.
  bool ClosePort();

 private:
  void ClearReplyFlags();
  void RestartTimers();
  void DropWaitingInput();
  void ArmDeadline(int replyTimeoutMs);
  // The exchange is decided: no timer may add a second outcome.
  void StopTimers();
  void OnReplyTimer();
  void OnGapTimer();
  void OnDeadline();
  // Returns false when the frame would run past the end of the buffer.
  bool Store(const std::uint8_t* bytes, std::size_t count);
  enum class FrameVerdict { Decided, Discarded, OtherRequest };
  FrameVerdict CheckCompleteFrame();
  // One received chunk into the frame; true when nothing is left in progress (the exchange was
  // decided, or the frame was discarded or skipped with nothing behind it).
  bool TakeChunk(const std::uint8_t* bytes, std::size_t count);
  void ArmGapTimer();
  void DiscardFrame();
  Outcome Finished(Outcome outcome);

  SerialPort& port_;
  EventPump& pump_;
  MessageLog& log_;
  const bool& useEnglish_;
  const std::int16_t& deviceClassCode_;
  std::unique_ptr<Timer> timer1_;
  std::unique_ptr<Timer> timer2_;
  std::unique_ptr<Timer> deadline_;
  ExpectedReply expected_;
  std::uint8_t sentCommand_ = 0;
  std::size_t sentLength_ = 0;
};

}  // namespace kvr
