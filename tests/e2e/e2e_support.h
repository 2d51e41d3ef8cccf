#pragma once

// A station on the Qt platform, for the end-to-end tests that drive it against kvr-writer-sim in
// its own process.

#include <QString>

#include "app/station.h"
#include "e2e/processes.h"
#include "platform/qt/qt_event_pump.h"
#include "platform/qt/qt_serial_port.h"
#include "platform/qt/qt_timer.h"
#include "platform/virtual/virtual_platform.h"

namespace kvr {

class CountingBeeper : public Beeper {
 public:
  void Beep() override { ++count; }
  int count = 0;
};

// A station on the Qt platform whose COM1 points at `target`.
struct QtStation {
  explicit QtStation(const QString& target) { ports.SetTarget(1, target.toStdString()); }
  PortMap ports;
  QtSerialPort port{ports};
  QtEventPump pump;
  QtTimerFactory timers;
  ScriptedDialogs dialogs;
  MemorySettingsStore settings;
  CountingBeeper beeper;
  Platform platform{port, pump, timers, dialogs, settings, beeper};
  Station station{platform};
};

}  // namespace kvr
