#pragma once

#include <functional>
#include <memory>

namespace kvr {

// A millisecond timer that ticks every interval while enabled. The station uses every timer as a
// one-shot: each tick handler disables its own timer.
class Timer {
 public:
  virtual ~Timer() = default;

  // Changing the interval of a running timer starts it afresh.
  virtual void SetInterval(int milliseconds) = 0;
  virtual int Interval() const = 0;
  // Enabling starts the interval afresh, also when the timer was already running.
  virtual void SetEnabled(bool enabled) = 0;
  virtual bool Enabled() const = 0;
  virtual void SetTickHandler(std::function<void()> handler) = 0;
};

class TimerFactory {
 public:
  virtual ~TimerFactory() = default;
  virtual std::unique_ptr<Timer> CreateTimer() = 0;
};

}  // namespace kvr
