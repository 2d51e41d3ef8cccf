#pragma once

namespace kvr {

// Every wait of the station is `while (!decided) pump.WaitForEvents();`.
class EventPump {
 public:
  virtual ~EventPump() = default;
  // Blocks until at least one event (port data, timer tick, operator action) was handled.
  virtual void WaitForEvents() = 0;
  // Handles whatever is pending and returns at once.
  virtual void ProcessPendingEvents() = 0;
};

}  // namespace kvr
