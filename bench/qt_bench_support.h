#pragma once

// What the benchmarks on the Qt platform share: kvr-writer-sim in its own process on a
// pseudo-terminal, and the Qt platform of a station whose COM1 points there.

#include <QString>

#include <cstdint>
#include <functional>
#include <utility>

#include "e2e/processes.h"
#include "platform/qt/qt_event_pump.h"
#include "platform/qt/qt_serial_port.h"
#include "platform/qt/qt_timer.h"
#include "platform/virtual/virtual_platform.h"

namespace bench {

using WriterProcess = kvr::test::SimProcess;

// The station's port, counting the bytes each way.
class CountingPort : public kvr::SerialPort {
 public:
  explicit CountingPort(kvr::SerialPort& port) : port_(port) {}
  bool SelectPort(int number) override { return port_.SelectPort(number); }
  bool SetParameters(int baud) override { return port_.SetParameters(baud); }
  bool Open() override { return port_.Open(); }
  void Close() override { port_.Close(); }
  bool IsOpen() const override { return port_.IsOpen(); }
  bool ClearInput() override { return port_.ClearInput(); }
  bool ClearOutput() override { return port_.ClearOutput(); }
  std::size_t BytesWaiting() const override { return port_.BytesWaiting(); }
  kvr::Bytes ReadAll() override {
    kvr::Bytes bytes = port_.ReadAll();
    received += bytes.size();
    return bytes;
  }
  bool Write(const kvr::Bytes& bytes) override {
    sent += bytes.size();
    return port_.Write(bytes);
  }
  void SetDataReceivedHandler(std::function<void()> handler) override {
    port_.SetDataReceivedHandler(std::move(handler));
  }

  std::uint64_t sent = 0;
  std::uint64_t received = 0;

 private:
  kvr::SerialPort& port_;
};

class SilentBeeper : public kvr::Beeper {
 public:
  void Beep() override {}
};

struct QtPlatform {
  QtPlatform() = default;
  explicit QtPlatform(const QString& target) { ports.SetTarget(1, target.toStdString()); }
  kvr::PortMap ports;
  kvr::QtSerialPort qtPort{ports};
  CountingPort port{qtPort};
  kvr::QtEventPump pump;
  kvr::QtTimerFactory timers;
  kvr::ScriptedDialogs dialogs;
  kvr::MemorySettingsStore settings;
  SilentBeeper beeper;
  kvr::Platform platform{port, pump, timers, dialogs, settings, beeper};
};

}  // namespace bench
