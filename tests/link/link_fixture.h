#pragma once

#include <gtest/gtest.h>

#include "link/message_log.h"
#include "link/writer_link.h"
#include "platform/virtual/simulated_line.h"
#include "platform/virtual/virtual_platform.h"

namespace kvr {

// A link on the virtual platform with its port open, for tests that drive the link directly.
class LinkTest : public ::testing::Test {
 protected:
  LinkTest() : link(vp.port, vp.pump, vp.timers, log, english, classCode) {
    vp.port.SelectPort(1);
    vp.port.Open();
  }

  // Bytes from the writer, `ms` after now.
  void Deliver(double ms, Bytes bytes) {
    vp.port.DeliverAfter(static_cast<VirtualClock::Micros>(ms * 1000), std::move(bytes));
  }
  void WireSimulator() { ConnectSimulatedWriter(vp.port, vp.clock, writer); }

  VirtualPlatform vp;
  MessageLog log;
  bool english = true;
  std::int16_t classCode = 2;
  WriterLink link;
  sim::WriterSimulator writer;
};

inline const Bytes kAck{0x68, 0x00, 0x06, 0x80, 0xEE, 0x16};

// A reply frame by hand: the start byte, the code and payload given, the length field, the check
// value of its mode and the end byte filled in.
inline Bytes ReplyFrame(std::uint8_t code, const Bytes& payload, bool crc = false) {
  Bytes frame{0x68, 0x00, 0x00, code};
  frame.insert(frame.end(), payload.begin(), payload.end());
  const std::size_t length = frame.size() + (crc ? 2 : 1) + 1;
  frame[1] = static_cast<std::uint8_t>(length >> 8);
  frame[2] = static_cast<std::uint8_t>(length);
  if (crc) {
    const std::uint16_t check = sim::Crc16Modbus(frame);
    frame.insert(frame.end(),
                 {static_cast<std::uint8_t>(check), static_cast<std::uint8_t>(check >> 8)});
  } else {
    frame.push_back(sim::Sum8(frame));
  }
  frame.push_back(0x16);
  return frame;
}

}  // namespace kvr
