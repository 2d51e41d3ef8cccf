#include "platform/qt/qt_event_pump.h"

#include <QCoreApplication>
#include <QEventLoop>

namespace kvr {

void QtEventPump::WaitForEvents() {
  if (idleHook_) idleHook_();
  QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

void QtEventPump::ProcessPendingEvents() {
  if (idleHook_) idleHook_();
  QCoreApplication::processEvents(QEventLoop::AllEvents);
}

}  // namespace kvr
