#pragma once

#include <QTimer>

#include "platform/timer.h"

namespace kvr {

class QtTimer : public Timer {
 public:
  QtTimer();
  void SetInterval(int milliseconds) override;
  int Interval() const override { return timer_.interval(); }
  void SetEnabled(bool enabled) override;
  bool Enabled() const override { return timer_.isActive(); }
  void SetTickHandler(std::function<void()> handler) override { handler_ = std::move(handler); }

 private:
  QTimer timer_;
  std::function<void()> handler_;
};

class QtTimerFactory : public TimerFactory {
 public:
  std::unique_ptr<Timer> CreateTimer() override { return std::make_unique<QtTimer>(); }
};

}  // namespace kvr
