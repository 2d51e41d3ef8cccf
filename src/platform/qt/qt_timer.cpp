#include "platform/qt/qt_timer.h"

namespace kvr {

QtTimer::QtTimer() {
  timer_.setTimerType(Qt::PreciseTimer);
  QObject::connect(&timer_, &QTimer::timeout, [this] {
    if (handler_) handler_();
  });
}

void QtTimer::SetInterval(int milliseconds) {
  // A timer with no interval never ticks.
  if (milliseconds <= 0) {
    timer_.stop();
    timer_.setInterval(0);
    return;
  }
  timer_.setInterval(milliseconds);  // restarts a running timer
}

void QtTimer::SetEnabled(bool enabled) {
  if (enabled && timer_.interval() > 0)
    timer_.start();
  else
    timer_.stop();
}

}  // namespace kvr
