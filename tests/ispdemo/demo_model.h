#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "ispdemo/isp_protocol.h"
#include "platform/virtual/virtual_platform.h"

namespace kvr::isp::test {

// A stand-in for a chip running the ISP demo, answering as the demo does, with faults on
// request. The demo itself is exercised in the 8051 simulator; this one makes the PC side's
// failure paths easy to reach.
class DemoModel {
 public:
  std::vector<std::uint8_t> flash = std::vector<std::uint8_t>(0x10000, 0x00);
  std::uint16_t model = 0x4005;
  int sectors = 124;
  std::uint8_t baseHigh = 0xF8;

  int dropAnswers = 0;      // the next requests get no answer
  int garbleAnswers = 0;    // the next answers carry a wrong check value
  int damagedRequests = 0;  // the next requests are answered "check value wrong"
  std::optional<std::pair<Command, Status>> refuse;  // answers that command with that status
  std::vector<std::pair<std::uint8_t, Bytes>> requests;

  // Connects the model to a virtual port: answers come after `delayUs`.
  void Attach(VirtualSerialPort& port, VirtualClock::Micros delayUs = 2000) {
    port.onWrite = [this, &port, delayUs](const Bytes& bytes) {
      for (std::uint8_t byte : bytes) {
        if (parser_.Feed(byte) != RequestParser::Outcome::Complete) continue;
        Bytes answer = Answer(parser_.command(), parser_.data());
        if (!answer.empty()) port.DeliverAfter(delayUs, std::move(answer));
      }
    };
  }

 private:
  Bytes Answer(std::uint8_t command, const Bytes& data) {
    requests.emplace_back(command, data);
    if (dropAnswers > 0) {
      --dropAnswers;
      return {};
    }
    std::uint8_t status = 0;
    Bytes out;
    if (damagedRequests > 0) {
      --damagedRequests;
      status = static_cast<std::uint8_t>(Status::BadCheck);
    } else if (refuse && static_cast<std::uint8_t>(refuse->first) == command) {
      status = static_cast<std::uint8_t>(refuse->second);
      if (data.size() >= 2) out = {data[0], data[1]};
    } else {
      Execute(command, data, status, out);
    }
    Bytes frame = EncodeAnswer(command, status, out);
    if (garbleAnswers > 0) {
      --garbleAnswers;
      frame.back() ^= 0x01;
    }
    return frame;
  }

  void Execute(std::uint8_t command, const Bytes& data, std::uint8_t& status, Bytes& out) {
    const int address = data.size() >= 2 ? data[0] << 8 | data[1] : 0;
    switch (static_cast<Command>(command)) {
      case Command::Identify:
        out = {static_cast<std::uint8_t>(model >> 8),
               static_cast<std::uint8_t>(model),
               0x10,
               static_cast<std::uint8_t>(sectors),
               baseHigh,
               64};
        return;
      case Command::Erase:
        for (int a = 0; a < sectors * kSectorSize; ++a) flash[a] = 0xFF;
        out = {static_cast<std::uint8_t>(sectors)};
        return;
      case Command::Program:
        // Flash bits only clear: what was not erased reads back different.
        for (std::size_t i = 2; i < data.size(); ++i) {
          const int at = address + static_cast<int>(i) - 2;
          flash[at] &= data[i];
          if (flash[at] != data[i]) {
            status = static_cast<std::uint8_t>(Status::ProgramFailed);
            out = {static_cast<std::uint8_t>(at >> 8), static_cast<std::uint8_t>(at)};
            return;
          }
        }
        return;
      case Command::Read:
        out = {data[0], data[1]};
        out.insert(out.end(), flash.begin() + address, flash.begin() + address + data[2]);
        return;
      case Command::Run:
        return;
    }
    status = static_cast<std::uint8_t>(Status::UnknownCommand);
  }

  RequestParser parser_;
};

}  // namespace kvr::isp::test
