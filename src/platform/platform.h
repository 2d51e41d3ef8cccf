#pragma once

#include "platform/beeper.h"
#include "platform/dialogs.h"
#include "platform/event_pump.h"
#include "platform/line_database.h"
#include "platform/serial_port.h"
#include "platform/settings_store.h"
#include "platform/timer.h"
#include "platform/wall_clock.h"

namespace kvr {

// Everything the station needs from the outside world. The front end owns the objects.
struct Platform {
  SerialPort& port;
  EventPump& pump;
  TimerFactory& timers;
  Dialogs& dialogs;
  SettingsStore& settings;
  Beeper& beeper;
  // The machine's clocks unless a front end (or a test) gives others.
  WallClock* clock = nullptr;
  // The engines a line database can be kept in; none in a build without them.
  LineDatabases* lineDatabases = nullptr;
};

}  // namespace kvr
