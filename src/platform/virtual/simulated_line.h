#pragma once

#include "platform/virtual/virtual_platform.h"
#include "simulator/writer_simulator.h"

namespace kvr {

// Wires a virtual serial port to a simulated writer: every write reaches the simulator at the
// current virtual time, and its answers come back after the delays it asks for.
inline void ConnectSimulatedWriter(VirtualSerialPort& port, VirtualClock& clock,
                                   sim::WriterSimulator& writer) {
  port.onWrite = [&port, &clock, &writer](const Bytes& bytes) {
    for (auto& transmission : writer.Receive(bytes.data(), bytes.size(), clock.Now()))
      port.DeliverAfter(transmission.delayUs, std::move(transmission.bytes));
  };
}

}  // namespace kvr
