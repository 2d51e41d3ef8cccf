#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "ispdemo/isp_protocol.h"
#include "platform/event_pump.h"
#include "platform/serial_port.h"
#include "platform/timer.h"

namespace kvr::isp {

// The line as the demo was built for it: baud rate, and 9-bit frames with even parity.
struct LineSettings {
  int baud = 38400;
  bool parity = false;
  int extraWaitMs = 0;  // added to every answer's time-out: a slow adapter or a simulated chip
};

// The identify answer.
struct ChipIdentity {
  std::uint16_t model = 0;   // the model number patched into the demo, e.g. 4005h
  std::uint8_t version = 0;  // the demo's version, 10h for 1.0
  int sectors = 0;           // 512-byte sectors that erase clears from address 0
  std::int32_t base = 0;     // where the demo itself lies
  int block = 0;             // most bytes one program or read request carries

  // First address that erase does not reach: programming stays below it.
  std::int32_t EraseEnd() const { return sectors * kSectorSize; }
};

// Requests to a chip running the ISP demo on an open serial port, each waited for with the
// event pump and a one-shot timer. A request that gets no answer, a garbled one, or one the demo
// says arrived damaged is sent again, up to three times.
class IspClient {
 public:
  IspClient(SerialPort& port, EventPump& pump, TimerFactory& timers, LineSettings line);
  ~IspClient();
  IspClient(const IspClient&) = delete;
  IspClient& operator=(const IspClient&) = delete;

  struct Reply {
    bool ok = false;  // an answer came; its status may still be an error
    std::string error;
    Answer answer;
  };
  Reply Exchange(Command command, const Bytes& data, int processingMs);
  // Told of every request sent: its command, its length and what came back (kvr-isp -v).
  std::function<void(std::uint8_t command, std::size_t length, const std::string& result)>
      OnExchange;

  // Each returns false (or nothing) with `error` set: no answer, or the demo's refusal.
  std::optional<ChipIdentity> Identify(std::string& error);
  bool Erase(int sectors, std::string& error);
  bool Program(std::uint16_t address, const Bytes& bytes, std::string& error);
  bool Read(std::uint16_t address, int count, Bytes& bytes, std::string& error);
  bool Run(std::string& error);

  // Milliseconds the line needs for `bytes` bytes.
  int TransferMs(std::size_t bytes) const;

 private:
  enum class State { Idle, Waiting, Answered, Garbled, TimedOut };
  void OnData();
  bool Succeeded(const Reply& reply, const char* what, std::string& error) const;

  SerialPort& port_;
  EventPump& pump_;
  std::unique_ptr<Timer> timer_;
  LineSettings line_;
  AnswerParser parser_;
  State state_ = State::Idle;
  std::uint8_t expected_ = 0;
  Answer answer_;
};

std::string Hex4(std::uint32_t value);

}  // namespace kvr::isp
