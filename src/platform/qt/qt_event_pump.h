#pragma once

#include <functional>

#include "platform/event_pump.h"

namespace kvr {

class QtEventPump : public EventPump {
 public:
  void WaitForEvents() override;
  void ProcessPendingEvents() override;
  // Called before every wait: the window draws the station's state here.
  void SetIdleHook(std::function<void()> hook) { idleHook_ = std::move(hook); }

 private:
  std::function<void()> idleHook_;
};

}  // namespace kvr
